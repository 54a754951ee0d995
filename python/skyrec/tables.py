"""Finding BUFR tables without configuration, and loading each version once.

Everything in the package that needs tables gets them from `find_tables`:

    source = find_tables()                          # found by themselves
    source = find_tables(definitions="/path/to/definitions")
    source = find_tables(table_dir=".../bufr/tables/0/wmo/39")
    source = find_tables(wmo_csv="/path/to/BUFR4")   # BUFRCREX_TableB_en_*.csv, BUFR_TableD_en_*.csv
    tables = source.for_message(message)            # a _skyrec.TableSet
"""

from __future__ import annotations

import importlib.util
import os
import sys
import threading
from pathlib import Path

import _skyrec

from . import _native
from .errors import DecodeError, decode_error

ENVIRONMENT_VARIABLE = "ECCODES_DEFINITION_PATH"
SYSTEM_ROOTS = ("/usr/share/eccodes/definitions", "/usr/local/share/eccodes/definitions")
# Python packages whose wheels have carried an ecCodes definitions tree, and
# where in them it lies. Current eccodes wheels keep theirs in memory only.
PACKAGE_NAMES = ("eccodeslib", "eccodes", "ecmwflibs", "gribapi")
PACKAGE_SUBPATHS = (("share", "eccodes", "definitions"), ("definitions",))


# (master table, master version, local version, centre, sub-centre)
TableKey = tuple[int, int, int, int, int]


class TablesNotFound(LookupError):
    """No BUFR tables were given and none could be found."""


def is_definitions_root(path: str | os.PathLike[str]) -> bool:
    return (Path(path) / "bufr" / "tables").is_dir()


def _package_locations(name: str) -> list[Path]:
    # An imported module answers from its own spec; otherwise the finders
    # look without importing (and so without loading any library).
    try:
        spec = importlib.util.find_spec(name)
    except (ImportError, ValueError):
        return []
    return [Path(p) for p in (spec.submodule_search_locations or [])] if spec else []


def package_roots() -> list[Path]:
    """Where installed ecCodes Python packages could hold a definitions tree."""
    return [location.joinpath(*sub) for name in PACKAGE_NAMES for location in _package_locations(name)
            for sub in PACKAGE_SUBPATHS]


def environment_roots() -> list[Path]:
    value = os.environ.get(ENVIRONMENT_VARIABLE, "")
    return [Path(part) for part in value.split(os.pathsep) if part]


def not_found_text() -> str:
    install = "apt-get install libeccodes-data" if sys.platform.startswith("linux") else "install ecCodes"
    return ("no BUFR tables found: pass tables, table_dir, definitions or wmo_csv (skyrec: --tables, "
            f"--definitions or --wmo-csv), set {ENVIRONMENT_VARIABLE} to an ecCodes definitions directory, or install "
            f"ecCodes' definitions ({install})")


def find_definitions_root() -> str:
    """The first ecCodes definitions tree found: the installed ecCodes
    package's, then $ECCODES_DEFINITION_PATH, then the system's."""
    for candidate in package_roots() + environment_roots() + [Path(p) for p in SYSTEM_ROOTS]:
        if is_definitions_root(candidate):
            return str(candidate)
    raise TablesNotFound(not_found_text())


def message_key(message: _skyrec.BufrMessage) -> TableKey:
    """What picks a message's tables out of a definitions tree."""
    return (message.master_table_number, message.master_tables_version_number,
            message.local_tables_version_number, message.originating_centre, message.originating_subcentre)


def key_text(key: TableKey) -> str:
    master, version, local, centre, subcentre = key
    return f"of master table {master} version {version}, local version {local}, centre {centre}/{subcentre}"


class TableSource:
    """The tables of each message: one fixed TableSet, or those a definitions
    root names, loaded once per distinct message_key (failures included) and
    kept for the life of the source."""

    def __init__(self, *, fixed: _skyrec.TableSet | None = None, root: str | None = None, origin: str = ""):
        if (fixed is None) == (root is None):
            raise ValueError("a table source has either fixed tables or a definitions root")
        self._fixed = fixed
        self.root = root
        self.origin = origin or (f"definitions root {root}" if root else "given tables")
        self._loaded: dict[TableKey, _skyrec.TableSet | DecodeError] = {}
        self._loading = threading.Lock()  # threads share a source: each version is still loaded once

    def for_message(self, message: _skyrec.BufrMessage) -> _skyrec.TableSet:
        """The TableSet for `message`; DecodeError when its tables cannot be
        loaded (raised again, not retried, for the same key)."""
        if self._fixed is not None:
            return self._fixed
        assert self.root is not None
        key = message_key(message)
        found = self._loaded.get(key)
        if found is None:
            with self._loading:
                found = self._loaded.get(key)
                if found is None:
                    try:
                        found = _native.definitions_tables(self.root, message)
                    except DecodeError as e:
                        found = decode_error(f"{e.reason} (tables {key_text(key)} under {self.root})", e.where)
                    self._loaded[key] = found
        if isinstance(found, DecodeError):
            raise found.with_traceback(None)  # the same error again, without piling up tracebacks
        return found

    @property
    def fixed(self) -> _skyrec.TableSet | None:
        """The one TableSet that serves every message, if this source has one."""
        return self._fixed

    @property
    def loads(self) -> int:
        """How many table versions have been loaded (or tried) so far."""
        return len(self._loaded)

    def __repr__(self) -> str:
        return f"TableSource({self.origin})"


def find_tables(tables: _skyrec.TableSet | TableSource | None = None, *,
                table_dir: str | os.PathLike[str] | None = None,
                definitions: str | os.PathLike[str] | None = None,
                wmo_csv: str | os.PathLike[str] | None = None) -> TableSource:
    """Where the tables come from. At most one source may be given; a given
    one wins: a loaded TableSet or TableSource, an ecCodes table directory,
    a definitions root or a directory of WMO BUFR4 CSV tables. Without one,
    the definitions root found by find_definitions_root() serves.

    Raises TablesNotFound when nothing is given or found, and ValueError or
    OSError when a given table directory cannot be loaded."""
    given = [name for name, value in
             (("tables", tables), ("table_dir", table_dir), ("definitions", definitions), ("wmo_csv", wmo_csv))
             if value is not None]
    if len(given) > 1:
        raise TypeError(f"give at most one table source, not {' and '.join(given)}")
    if isinstance(tables, TableSource):
        return tables
    if isinstance(tables, _skyrec.TableSet):
        return TableSource(fixed=tables)
    if tables is not None:
        raise TypeError(f"tables must be a TableSet or TableSource, not {type(tables).__name__}")
    if table_dir is not None:
        path = os.fspath(table_dir)
        return TableSource(fixed=_skyrec.TableSet.from_eccodes(path), origin=f"table directory {path}")
    if wmo_csv is not None:
        path = os.fspath(wmo_csv)
        return TableSource(fixed=_skyrec.TableSet.from_bufr4_45(path), origin=f"WMO CSV tables {path}")
    if definitions is not None:
        root = os.fspath(definitions)
        if not is_definitions_root(root):
            raise TablesNotFound(f"{root} is not an ecCodes definitions root (it has no bufr/tables)")
        return TableSource(root=root)
    return TableSource(root=find_definitions_root())
