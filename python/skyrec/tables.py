"""Finding BUFR tables without configuration, and loading each version once.

Everything in the package that needs tables gets them from `find_tables`:

    source = find_tables()                          # found by themselves
    source = find_tables(definitions="/path/to/definitions")
    source = find_tables(table_dir=".../bufr/tables/0/wmo/39")
    source = find_tables(wmo_csv="/path/to/BUFR4")   # WMO's BUFRCREX_TableB/CodeFlag, BUFR_TableD CSV files
    tables = source.for_message(message)            # a _skyrec.TableSet

Without a given source: $ECCODES_DEFINITION_PATH, then the first ecCodes
definitions tree on disk, then the tables bundled with the package.
"""

from __future__ import annotations

import importlib.util
import os
import sys
import threading
import time
from collections.abc import Callable, Iterable
from pathlib import Path
from typing import Any

import _skyrec

from . import _native, bundle
from .errors import MISSING_ENTRY, NO_MEMORY, DecodeError, MessageError, decode_error, message_error
from .header import TableKey as TableKey
from .header import message_key as message_key
from .paths import checked_path

ENVIRONMENT_VARIABLE = "ECCODES_DEFINITION_PATH"
# After an installed ecCodes Python package's tree and sys.prefix's (conda's), in this order.
SYSTEM_ROOTS = ("/usr/local/share/eccodes/definitions", "/opt/homebrew/share/eccodes/definitions",
                "/usr/share/eccodes/definitions")
WMO_CSV_VERSION = 45
# Python packages whose wheels have carried an ecCodes definitions tree, and
# where in them it lies. Current eccodes wheels keep theirs in memory only.
PACKAGE_NAMES = ("eccodeslib", "eccodes", "ecmwflibs", "gribapi")
PACKAGE_SUBPATHS = (("share", "eccodes", "definitions"), ("definitions",))


# A file-system path, as the os module takes one.
PathArg = str | bytes | os.PathLike[str] | os.PathLike[bytes]


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


def prefix_roots() -> list[Path]:
    return [Path(sys.prefix, "share", "eccodes", "definitions")]


def environment_roots() -> list[Path]:
    value = os.environ.get(ENVIRONMENT_VARIABLE, "")
    return [Path(part) for part in value.split(os.pathsep) if part]


def environment_search() -> list[str]:
    """The definitions roots that $ECCODES_DEFINITION_PATH lists, in order:
    each table file is taken from the first that has it, as ecCodes reads
    the variable (an overlay of local tables before a full tree). A part
    that is missing or cannot be read is an error, not passed over."""
    roots = []
    for part in environment_roots():
        try:
            os.listdir(part)
        except OSError as e:
            raise TablesNotFound(f"{ENVIRONMENT_VARIABLE} names {shown_path(str(part))}, which cannot be read: "
                                 f"{e.strerror}") from None
        if is_definitions_root(part):
            roots.append(str(part))
    return roots


def not_found_text() -> str:
    install = "apt-get install libeccodes-data" if sys.platform.startswith("linux") else "install ecCodes"
    return ("no BUFR tables found: pass tables, table_dir, definitions or wmo_csv (skyrec: --tables, "
            f"--definitions or --wmo-csv), set {ENVIRONMENT_VARIABLE} to an ecCodes definitions directory, or install "
            f"ecCodes' definitions ({install})")


def find_definitions_root() -> str:
    """The first ecCodes definitions tree found: $ECCODES_DEFINITION_PATH's,
    an installed ecCodes package's, sys.prefix's, then the system's."""
    for candidate in [*map(Path, environment_search()), *package_roots(), *prefix_roots(), *map(Path, SYSTEM_ROOTS)]:
        if is_definitions_root(candidate):
            return str(candidate)
    if bundle.available():
        raise TablesNotFound(f"no ecCodes definitions tree found (set {ENVIRONMENT_VARIABLE} or install ecCodes' "
                             "definitions for one); the tables bundled with skyrec serve find_tables() and every "
                             "reader without it")
    raise TablesNotFound(not_found_text())


def _local_path(key: TableKey) -> str:
    """Where under bufr/tables a definitions tree keeps the local tables that `key` names."""
    table, rest = bundle.local_key(*key).removeprefix("local/").split("/", 1)
    return f"{table}/local/{rest}"


# A failed table load, or one during which its files changed, is tried
# again on the first use this many seconds later: a table directory caught
# mid-rewrite, or missing for a while, does not stay wrong for the life of
# the process (a long-running worker recovers).
RETRY_SECONDS = 10.0


def _table_files_state(root: str, message: _skyrec.BufrMessage) -> tuple[tuple[str, int, int], ...]:
    """Size and change time of the files a load for `message` reads (the
    code tables by their directory), to see whether they moved under it."""
    _, master, local = _native.table_directories(root, message)
    state = []
    for directory in (master, local):
        if directory is None:
            continue
        for name in ("element.table", "sequence.def", "codetables"):
            path = os.path.join(directory, name)
            try:
                st = os.stat(path)
                state.append((path, st.st_size, st.st_mtime_ns))
            except OSError:
                state.append((path, -1, -1))
    return tuple(state)


def key_text(key: TableKey) -> str:
    master, version, local, centre, subcentre = key
    return f"of master table {master} version {version}, local version {local}, centre {centre}/{subcentre}"


class TableSource:
    """The tables of each message: one fixed TableSet, or those a definitions
    root (or the bundled tables, with bundled=True) names, loaded once per
    distinct message_key and kept for the life of the source; a failure, or a
    load that saw its files change, is kept only RETRY_SECONDS, then tried
    again. `wmo_version` is the master version of fixed WMO CSV tables."""

    def __init__(self, *, fixed: _skyrec.TableSet | None = None, root: str | None = None, bundled: bool = False,
                 origin: str = "", wmo_version: int | None = None, overlaid: tuple[str, ...] = ()):
        if (fixed is not None) + (root is not None) + bundled != 1:
            raise ValueError("a table source has either fixed tables, a definitions root or the bundled tables")
        self._fixed = fixed
        self.root = root
        # Roots searched file by file in this order (root among them), as ecCodes' definition path.
        self.roots = overlaid or ((root,) if root is not None else ())
        self.bundled = bundled
        self.wmo_version = wmo_version
        self.origin = origin or (f"definitions roots {shown_path(os.pathsep.join(self.roots))}" if len(self.roots) > 1
                                 else f"definitions root {shown_path(root)}" if root else
                                 f"tables bundled with skyrec ({bundle.PATH})" if bundled else "given tables")
        # Loads by key and whether they hold the code tables (meanings).
        self._loaded: dict[tuple[TableKey, bool], _skyrec.TableSet | DecodeError] = {}
        # Good loads by the directories (or bundle layers) they read: keys that read the same share one.
        self._shared: dict[tuple[Any, bool], _skyrec.TableSet] = {}
        self._retry_at: dict[tuple[TableKey, bool], float] = {}  # loads that are not kept for good
        self._loading = threading.Lock()  # threads share a source: each version is still loaded once

    def for_message(self, message: _skyrec.BufrMessage, meanings: bool = True) -> _skyrec.TableSet:
        """The TableSet for `message`; DecodeError when its tables cannot be
        loaded (raised again for the same key until RETRY_SECONDS have
        passed). Without `meanings` the set may lack the code tables: a
        reader that keeps numbers only is spared reading them."""
        if self._fixed is not None:
            return self._fixed
        key = message_key(message)
        if not meanings:  # a whole set loaded already serves
            whole = self._loaded.get((key, True))
            if whole is not None and not isinstance(whole, DecodeError) and (key, True) not in self._retry_at:
                return whole
        slot = (key, meanings)
        found = self._loaded.get(slot)
        if found is None or slot in self._retry_at:
            with self._loading:
                found = self._loaded.get(slot)
                retry_at = self._retry_at.get(slot)
                if found is None or (retry_at is not None and time.monotonic() >= retry_at):
                    found = self._load(slot, message)
        if isinstance(found, DecodeError):
            raise found.with_traceback(None)  # the same error again, without piling up tracebacks
        return found

    def numbers_for_message(self, message: _skyrec.BufrMessage) -> _skyrec.TableSet:
        """for_message without meanings, as a one-argument callable takes it."""
        return self.for_message(message, meanings=False)

    def _load(self, slot: tuple[TableKey, bool], message: _skyrec.BufrMessage) -> _skyrec.TableSet | DecodeError:
        key, meanings = slot
        found: _skyrec.TableSet | DecodeError | None
        before = self._files_state(message)
        read = (self._read_from(message), meanings)
        found = self._shared.get(read)
        if found is None:
            try:
                found = self._load_tables(message, meanings)
            except DecodeError as e:
                where = shown_path(self.root) if self.root is not None else bundle.PATH
                found = decode_error(f"{e.reason} (tables {key_text(key)} under {where})", e.where, e.kind,
                                     e.subset, e.descriptor_path)
        self._loaded[slot] = found
        if isinstance(found, DecodeError) or self._files_state(message) != before:
            self._retry_at[slot] = time.monotonic() + RETRY_SECONDS
        else:
            self._retry_at.pop(slot, None)
            self._shared[read] = found
        return found

    def _read_from(self, message: _skyrec.BufrMessage) -> tuple[Any, ...]:
        """What a load for `message` reads: the master directory each root
        leads to and the local one where it is, or the bundle's layers.
        Most keys differ by centre alone and read the same master tables."""
        if self.root is None:
            layer = bundle.local_key_of(message)
            return (bundle.master_key(message),
                    layer if message.local_tables_version_number != 0 and bundle.has(layer) else None)
        read = []
        for root in self.roots:
            _, master, local = _native.table_directories(root, message)
            read.append((master, local if local is not None and os.path.lexists(local) else None))
        return tuple(read)

    def _files_state(self, message: _skyrec.BufrMessage) -> tuple[tuple[str, int, int], ...]:
        return tuple(state for root in self.roots for state in _table_files_state(root, message))

    def _load_tables(self, message: _skyrec.BufrMessage, meanings: bool) -> _skyrec.TableSet:
        if self.root is not None:
            # Its errors name the file.
            return _native.definitions_tables(self.root if len(self.roots) == 1 else list(self.roots), message,
                                              meanings)
        try:
            return bundle.for_message(message, meanings)
        except (ValueError, OSError) as e:  # the bundled texts, parsed as table files are
            raise decode_error(str(e), kind=getattr(e, "kind", None)) from None

    def has_local_tables(self, key: TableKey) -> bool:
        """Whether this source holds the local tables that the message_key `key` names."""
        if self.root is not None:
            return any(os.path.isdir(os.path.join(root, "bufr", "tables", _local_path(key))) for root in self.roots)
        return self.bundled and bundle.has(bundle.local_key(*key))

    def explain(self, key: TableKey, error: str, kind: str | None = None) -> str:
        """`error`, a failure of `kind` to decode a message of message_key
        `key` with these tables, with what is likely missing when a
        descriptor was not found (or may have been, without a kind)."""
        table, master, local, centre, subcentre = key
        if kind is not None and kind not in MISSING_ENTRY:
            return error
        if self.wmo_version is not None and master != self.wmo_version:
            return f"{error} (the message names master tables version {master}, the WMO CSV tables are version " \
                   f"{self.wmo_version})"
        missing = self.missing_tables(key)
        return error if missing is None else f"{error} ({missing})"

    def message_error(self, key: TableKey | None, reason: str, index: int, offset: int, where: str = "",
                      kind: str | None = None, file: str | None = None,
                      explained: dict[tuple[Any, ...], str] | None = None, subset: int | None = None,
                      descriptor_path: Iterable[str] = ()) -> MessageError:
        """The MessageError of message `index` of a reading with these tables
        (`key` its message_key, None when not known): explained, naming this
        source. `explained` keeps the texts of one reading: its failures
        mostly repeat, and explaining one looks at the file system."""
        kind = kind or "text"
        text = reason
        if key is not None:
            memo = explained if explained is not None else {}
            if (key, reason, kind) not in memo:
                memo[key, reason, kind] = self.explain(key, reason, kind)
            text = memo[key, reason, kind]
        return message_error(text, index, offset, where, kind, self.origin, file, subset, descriptor_path)

    def decode_failure(self, message: _skyrec.BufrMessage, error: DecodeError | MemoryError, index: int, offset: int,
                       file: str | None = None) -> MessageError:
        """message_error of `message`, whose decoding raised `error`: out of
        memory is this message's failure (the ones after it may be smaller)."""
        if isinstance(error, MemoryError):
            return self.message_error(message_key(message), NO_MEMORY, index, offset, kind="no_memory", file=file)
        return self.message_error(message_key(message), error.reason, index, offset, error.where, error.kind, file,
                                  subset=error.subset, descriptor_path=error.descriptor_path)

    def missing_tables(self, key: TableKey) -> str | None:
        """What to say of the local tables that message_key `key` names when
        this source lacks them; None when it has them or none are named."""
        table, master, local, centre, subcentre = key
        if local == 0 or self._fixed is not None or self.has_local_tables(key):
            return None
        return (f"its local tables version {local} of centre {centre}, sub-centre {subcentre} are in no "
                f"table source searched: pass definitions= (skyrec: --definitions) an ecCodes definitions tree "
                f"that has bufr/tables/{_local_path(key)}, or set {ENVIRONMENT_VARIABLE} "
                "to one")

    @property
    def fixed(self) -> _skyrec.TableSet | None:
        """The one TableSet that serves every message, if this source has one."""
        return self._fixed

    @property
    def loads(self) -> int:
        """How many keys have had their tables loaded (or tried) so far; keys
        that read the same directories count each, sharing one load."""
        return len({key for key, _ in self._loaded})

    def __repr__(self) -> str:
        return f"TableSource({self.origin})"


def shown_path(path: str) -> str:
    """A path fit to print: bytes of its name that are not UTF-8 shown as U+FFFD."""
    return path.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def _named(path: str, load: Callable[[str], _skyrec.TableSet]) -> _skyrec.TableSet:
    """load(path), its errors naming the directory they are about: a
    DecodeError of the loader's kind, without _skyrec's prefix."""
    try:
        return load(path)
    except OSError as e:
        if shown_path(path) in str(e):
            raise
        raise OSError(f"{shown_path(path)}: {e}") from None
    except ValueError as e:
        where = "" if shown_path(path) in str(e) else shown_path(path)
        raise decode_error(getattr(e, "reason", str(e)), where, getattr(e, "kind", None)) from None


def _check_code_tables(directory: str) -> None:
    """A `codetables` entry that cannot be followed (a symlink loop, a
    dangling link) fails a table directory as it fails a definitions root,
    rather than leaving the code tables out without a word."""
    path = os.path.join(directory, "codetables")
    try:
        os.stat(path)
    except OSError as e:
        if os.path.lexists(path):
            text = f"io error: {os.strerror(e.errno or 0)} (os error {e.errno})"
            raise ValueError(f"{shown_path(directory)}: {text}") from None


TABLE_DIR_FILES = ("element.table", "sequence.def")


def _check_table_dir(path: str) -> None:
    """A directory given as a table directory that is not one says what it
    is and what to pass, rather than failing on a file it does not name."""
    if not os.path.isdir(path):
        return  # the loader's own error names it (or it is an alias file)
    if is_definitions_root(path):
        shown = shown_path(path)
        raise ValueError(f"{shown} is an ecCodes definitions root, not a table directory: pass it as definitions= "
                         f"(skyrec: --definitions), or one table directory such as {shown}/bufr/tables/0/wmo/39")
    for name in TABLE_DIR_FILES:
        if not os.path.exists(os.path.join(path, name)):
            raise ValueError(f"{shown_path(path)}: no {name} in it (an ecCodes table directory holds "
                             f"{' and '.join(TABLE_DIR_FILES)}, and codetables for the meanings)")


def find_tables(tables: _skyrec.TableSet | TableSource | None = None, *, table_dir: PathArg | None = None,
                definitions: PathArg | None = None, wmo_csv: PathArg | None = None) -> TableSource:
    """Where the tables come from. At most one source may be given; a given
    one wins: a loaded TableSet or TableSource, an ecCodes table directory,
    a definitions root or a directory of WMO BUFR4 CSV tables. Without one,
    the definitions root found by find_definitions_root() serves, and without
    that the tables bundled with the package.

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
        path = checked_path("table_dir", table_dir)
        _check_table_dir(path)
        fixed = _named(path, _native.directory_tables)
        _check_code_tables(path)
        return TableSource(fixed=fixed, origin=f"table directory {shown_path(path)}")
    if wmo_csv is not None:
        path = checked_path("wmo_csv", wmo_csv)
        return TableSource(fixed=_named(path, _native.tables_from_wmo_csv),
                           origin=f"WMO CSV tables {shown_path(path)}", wmo_version=WMO_CSV_VERSION)
    if definitions is not None:
        root = checked_path("definitions", definitions)
        if not is_definitions_root(root):
            raise TablesNotFound(f"{shown_path(root)} is not an ecCodes definitions root (it has no bufr/tables)")
        return TableSource(root=root)
    search = environment_search()  # a broken part is an error, whatever else there is
    try:
        root = find_definitions_root()
        return TableSource(root=root, overlaid=tuple(search) if root in search and len(search) > 1 else ())
    except TablesNotFound:
        if not bundle.available():
            raise
    return TableSource(bundled=True)
