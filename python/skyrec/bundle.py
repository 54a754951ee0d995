"""The BUFR tables that the package carries: every master version and local
table of ecCodes' definitions, and WMO's CSV tables for later master
versions, in one xz-compressed file made by tools/make_table_bundle.py (its
docstring describes the layout; NOTICE names the sources).

The file is read and unpacked once per process, at first use; each table
version is then parsed from memory by the same parsers as a directory."""

from __future__ import annotations

import json
import lzma
import threading
from pathlib import Path
from typing import Any

import _skyrec

from . import _native

PATH = Path(__file__).with_name("tables.bundle")
MAGIC = b"skyrec tables 1\n"

_opened: tuple[bytes, dict[str, Any]] | None = None
_opening = threading.Lock()


def _contents() -> tuple[bytes, dict[str, Any]]:
    global _opened
    with _opening:
        if _opened is None:
            raw = lzma.decompress(PATH.read_bytes())
            if not raw.startswith(MAGIC):
                raise ValueError(f"{PATH} is not a skyrec table bundle")
            start = len(MAGIC) + 8
            end = start + int.from_bytes(raw[len(MAGIC):start], "big")
            _opened = raw[end:], json.loads(raw[start:end])
        return _opened


def available() -> bool:
    return PATH.is_file()


def master_key(message: _skyrec.BufrMessage) -> str:
    return f"wmo/{message.master_table_number}/{message.master_tables_version_number}"


def local_key(table: int, master: int, local: int, centre: int, subcentre: int) -> str:
    """The key of the local tables that a message's five table numbers name."""
    # Master version 19 keeps its local tables under "19-{local version}", as ecCodes does.
    return f"local/{table}/{'19-' if master == 19 else ''}{local}/{centre}/{subcentre}"


def local_key_of(message: _skyrec.BufrMessage) -> str:
    return local_key(message.master_table_number, message.master_tables_version_number,
                     message.local_tables_version_number, message.originating_centre, message.originating_subcentre)


def has(key: str) -> bool:
    return key in _contents()[1]


def keys() -> list[str]:
    return sorted(_contents()[1])


def load(*keys: str, meanings: bool = True) -> _skyrec.TableSet:
    """The tables of the bundle's layers `keys`, later ones replacing the
    entries of earlier ones (without code tables when not `meanings`);
    KeyError for a key the bundle lacks."""
    data, index = _contents()
    return _native.tables_from_texts(data, [index[key] if meanings else [*index[key][:2], []] for key in keys])


def for_message(message: _skyrec.BufrMessage, meanings: bool = True) -> _skyrec.TableSet:
    """The master tables of `message`, overridden by its local tables when
    it declares them and the bundle has them: what a definitions tree gives."""
    master = master_key(message)
    if not has(master):
        raise ValueError(f"no BUFR tables for master table {message.master_table_number} version "
                         f"{message.master_tables_version_number} in the tables bundled with skyrec ({PATH}): "
                         "pass tables, table_dir, definitions or wmo_csv (skyrec: --tables, --definitions or "
                         "--wmo-csv) that have them")
    local = local_key_of(message)
    layers = (master, local) if message.local_tables_version_number != 0 and has(local) else (master,)
    return load(*layers, meanings=meanings)
