"""Types of skyrec._native, the package's own extension module.

Its functions take any bytes-like buffer and decode with the interpreter lock
released; their results are _skyrec's own classes.
"""

from collections.abc import Sequence
from typing import Any, TypedDict, type_check_only

from typing_extensions import Buffer

from _skyrec import BufrMessage, DecodedValue, TableSet

@type_check_only
class NativeColumns(TypedDict):
    """What decode_columns gives: bytearrays of fixed-size items, and the texts
    that the element, text and meaning codes index."""

    descriptor: bytearray
    value: bytearray
    raw: bytearray
    raw_present: bytearray
    subset: bytearray
    element: bytearray
    text: bytearray
    meaning: bytearray
    count: int
    subset_starts: bytearray
    element_names: list[str]
    element_units: list[str]
    meanings: list[str]
    texts: list[str]

def next_message(data: Buffer, position: int) -> tuple[int, int, int, BufrMessage | None, str | None] | None:
    """The next message at or after `position`: (start, length, next position,
    message or None, error text or None); None when no message is left."""

def decode_subsets(data: Buffer, start: int, message: BufrMessage,
                   tables: TableSet) -> tuple[list[DecodedValue], list[int]]:
    """The values of the message framed at `start`, and where each subset starts."""

def decode_columns(data: Buffer, start: int, message: BufrMessage, tables: TableSet) -> NativeColumns:
    """The values of the message framed at `start`, as columns."""

def table_directories(root: str, message: BufrMessage) -> tuple[str, str | None, str | None]:
    """Where a definitions root keeps the tables of `message`: the master
    directory as named, where it leads (None when nowhere), and the local
    directory (None when the message declares no local tables)."""

def resolve_table_dir(path: str) -> str:
    """The directory that a table directory's name leads to through alias
    files (each naming a sibling); ValueError when there is none."""

def message_headers(data: Buffer, position: int = 0, end: int | None = None) -> dict[str, Any]:
    """The header fields of every message whose marker lies in [position, end),
    as bytearrays of fixed-size items by field name, with "errors": (row,
    reason) for messages that cannot be framed."""

def decode_block(data: Buffer, offsets: Sequence[int], tables: Sequence[TableSet]) -> dict[str, Any]:
    """The messages at `offsets`, each with its table set, decoded into one
    set of columns (as decode_columns gives, plus "rows" per message), with
    "errors": (position, reason) for messages left out."""
