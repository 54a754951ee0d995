"""Types of skyrec._native, the package's own extension module.

Its functions take any bytes-like buffer and decode with the interpreter lock
released; their results are _skyrec's own classes.
"""

from collections.abc import Callable, Mapping, Sequence
from os import PathLike
from typing import Any, TypedDict, final, type_check_only

from typing_extensions import Buffer

from _skyrec import BufrMessage, DecodedValue, ElementDefinition, SequenceDefinition, TableSet

# A path as the os module takes one.
_Path = str | bytes | PathLike[str] | PathLike[bytes]

@final
class OwnedBuffer:
    """Column memory filled by the decoder, exported through the buffer
    protocol as one-dimensional typed items (struct format codes)."""

@type_check_only
class ValueColumns(TypedDict):
    """The value columns of decode_columns and decode_block: one OwnedBuffer
    per column, typed by its buffer format, and the category lists that the
    code columns (name, unit, text, meaning, key; -1 for none) index."""

    subset: Buffer
    descriptor: Buffer
    value: Buffer
    raw: Buffer
    raw_present: Buffer
    name: Buffer
    unit: Buffer
    text: Buffer
    meaning: Buffer
    key: Buffer
    rank: Buffer
    count: int
    names: list[str]
    units: list[str]
    texts: list[str]
    meanings: list[str]
    keys: list[str]

@type_check_only
class NativeColumns(ValueColumns):
    """What decode_columns gives: one message's value columns (codes 32
    bits wide) and where each subset starts (uint64)."""

    subset_starts: Buffer

# A message of n bytes decodes to at most VALUES_FLOOR + VALUES_PER_BYTE * n values.
VALUES_FLOOR: int
VALUES_PER_BYTE: int
# The most threads= that the functions taking it accept.
MOST_THREADS: int

class DecodeError(ValueError):
    """A message that could not be framed or decoded."""

    kind: str  # the cause, one of skyrec.errors.KINDS
    reason: str  # why, without where
    where: str  # "subset 12, 303054 > 012101"; "" when not known
    subset: int | None  # 12 there (from 0, of uncompressed data); None when not known
    descriptor_path: tuple[str, ...]  # ("303054", "012101") there, outermost first; () when not known

def next_message(data: Buffer, position: int) -> tuple[int, int, int, BufrMessage | None, str | None,
                                                      str | None] | None:
    """The next message at or after `position`, of edition 2, 3 or 4: (start,
    length, next position, message or None, error text or None, error kind
    or None); None when no message is left."""

def copy_files(paths: Sequence[str], conditions: Sequence[str],
               output: str) -> tuple[int, int, int, int, int, list[str], str | None] | None:
    """copy's run by the core: the messages of `paths` that the --where
    `conditions` keep, byte for byte, to `output` (a name, or a pattern of
    [key] placeholders); None when a condition or placeholder is not of
    header keys alone. (read, written, skipped, failed, files made, each
    failure's line, why an output could not be written or None)."""

def decode_subsets(data: Buffer, start: int, message: BufrMessage,
                   tables: TableSet) -> tuple[list[DecodedValue], list[int]]:
    """The values of the message framed at `start`, and where each subset starts."""

def decode_columns(data: Buffer, start: int, message: BufrMessage, tables: TableSet) -> NativeColumns:
    """The values of the message framed at `start`, as columns."""

def table_directories(root: _Path, message: BufrMessage) -> tuple[str, str | None, str | None]:
    """Where a definitions root keeps the tables of `message`: the master
    directory as named, where it leads (None when nowhere), and the local
    directory (None when the message declares no local tables)."""

def definitions_tables(root: _Path | Sequence[_Path], message: BufrMessage, meanings: bool = True) -> TableSet:
    """TableSet.from_definitions, its errors raised as DecodeError whose
    `where` names the table file they are about; without the code tables
    (no meanings, far fewer files read) when not `meanings`."""

def directory_tables(path: _Path) -> TableSet:
    """TableSet.from_eccodes, for any file-system path, blanks around numeric
    fields ignored as ecCodes ignores them."""

def resolve_table_dir(path: _Path) -> str:
    """The directory that a table directory's name leads to through alias
    files (each naming a sibling); ValueError when there is none."""

@type_check_only
class MessageHeaders(TypedDict):
    """What message_headers gives: an OwnedBuffer per header field, typed by
    its buffer format, one item per message found."""

    offset: Buffer
    length: Buffer
    framed: Buffer
    edition: Buffer
    master_table: Buffer
    centre: Buffer
    subcentre: Buffer
    update_sequence: Buffer
    category: Buffer
    subcategory: Buffer
    local_subcategory: Buffer
    master_version: Buffer
    local_version: Buffer
    year: Buffer
    month: Buffer
    day: Buffer
    hour: Buffer
    minute: Buffer
    second: Buffer
    subsets: Buffer
    observed: Buffer
    compressed: Buffer
    count: int
    resume: int  # where a header pass over the bytes that follow goes on
    errors: list[tuple[int, str, str]]  # (row, reason, kind)
    framing: Framing  # with keep=True only

@type_check_only
class Framing:
    """The messages of one header pass, framed, with the bytes they were framed from."""

def message_headers(data: Buffer, position: int = 0, end: int | None = None, keep: bool = False) -> MessageHeaders:
    """The header fields of every message (of edition 2, 3 or 4) whose marker lies in [position, end),
    as typed buffers by field name, with "errors": (row,
    reason, kind) for messages that cannot be framed. With keep, "framing" holds
    the framed messages, which decode_block and observation_rows decode
    without framing them again."""

def messages_framed() -> int:
    """How many messages this process has framed so far."""

# (framing, file code, rows of the framing, message numbers, tables, base): tables is
# one TableSet, or a callable giving a message's (called once per table key and call).
_Tables = TableSet | Callable[[BufrMessage], TableSet]
_Piece = tuple[Framing, int, Sequence[int], Sequence[int], _Tables, int]
# (piece, position, reason, where, kind, subset or None, descriptor path outermost first)
_Failure = tuple[int, int, str, str, str, int | None, tuple[int, ...]]

@type_check_only
class BlockColumns(ValueColumns):
    """What decode_block gives: the value columns (codes 1, 2 or 4 bytes an
    item, as pandas keeps codes for that many categories) with the block's
    own columns."""

    file: Buffer
    message: Buffer
    offset: Buffer
    rows: bytearray  # values per message, uint64 items
    errors: list[_Failure]

def decode_block(pieces: Sequence[_Piece], columns: Sequence[str] | None = None,
                 memory_limit: int | None = None, *, threads: int = 2) -> BlockColumns:
    """The messages of every piece decoded into one set of columns, each an
    OwnedBuffer of fixed-size items (code columns 1, 2 or 4 bytes an item, as
    pandas keeps codes for that many categories), with the category lists
    "names", "units", "texts", "meanings" and "keys" (with the "key" and
    "rank" columns), "rows" per message, and
    "errors" (see _Failure) for messages left out.
    `columns` (file, message, offset, subset, descriptor, name, unit, value,
    raw, text, meaning, key, rank; raw brings raw_present) makes only those
    arrays: the others are absent, and the category lists of absent code
    columns may be empty. ValueError for any other name."""

@type_check_only
class ObservationRows(TypedDict):
    """What observation_rows gives: the rows' file codes, message numbers and
    subsets, and per asked key (values, found, text codes or None)."""

    count: int
    file: OwnedBuffer
    message: OwnedBuffer
    subset: OwnedBuffer
    columns: list[tuple[OwnedBuffer, OwnedBuffer, OwnedBuffer | None]]
    texts: list[str]
    errors: list[_Failure]
    tables: list[TableSet]  # those of the messages, each once

def observation_rows(pieces: Sequence[_Piece], keys: Sequence[tuple[str, int]],
                     conditions: Sequence[tuple[int, Sequence[tuple[float, float]]]] = ()) -> ObservationRows:
    """The rows per observation of the messages of every piece, for `keys`
    ((key, rank), rank 0 for every occurrence), keeping the rows that pass
    every condition: (key index, ranges), the key found and, unless ranges is
    empty, a text or a value in one of the (low, high) ranges."""

def release_buffers() -> int:
    """Frees the column buffers kept for the next blocks; returns their bytes."""

def pooled_bytes() -> int:
    """Bytes of column buffers kept for the next blocks."""

@type_check_only
class WideTable(TypedDict, total=False):
    """What KeptColumns.wide gives: "values" (when asked for) holds subsets
    x columns items, column after column; "texts" one list per character
    column; the rest one item per column."""

    subsets: int
    columns: int
    values: OwnedBuffer
    descriptor: bytearray
    rank: bytearray
    scale: bytearray
    names: list[str]
    units: list[str]
    keys: list[str]
    texts: list[tuple[int, list[str | None]]]

@type_check_only
class WideDetails(TypedDict):
    """What KeptColumns.details gives: "raw" laid out as a wide table's
    values, and for each code or flag table column int32 codes into
    "meaning_texts" (-1 for none), one per subset."""

    raw: OwnedBuffer
    meanings: list[tuple[int, bytearray]]
    meaning_texts: list[str]

@final
class KeptColumns:
    """A compressed message walked once, its columns kept: each output is
    laid out from them when asked for, never by walking it again."""

    @property
    def subsets(self) -> int: ...
    @property
    def columns(self) -> int: ...
    @property
    def threads(self) -> int:
        """The threads that unpack its numbers, as keep_columns was given them."""
    def long(self, columns: Sequence[str] | None = None) -> ValueColumns:
        """The long value columns named (all for None), codes 32 bits wide."""
    def wide(self, numbers: bool = True) -> WideTable:
        """The wide table, its numbers when asked for."""
    def details(self) -> WideDetails:
        """The wide table's raw integers and meanings."""

@type_check_only
class WholeWide(WideTable, WideDetails):
    """What decode_wide gives: a wide table with its details."""

def decode_wide(data: Buffer, start: int, message: BufrMessage, tables: TableSet, *,
                threads: int = 1) -> WholeWide:
    """The message framed at `start` as a wide table, every part decoded at
    once (ValueError for an uncompressed one whose subsets differ); a large
    compressed message's numbers unpacked with up to `threads` threads (1 to 4096)."""

def keep_columns(data: Buffer, start: int, message: BufrMessage, tables: TableSet, *,
                 threads: int = 1) -> KeptColumns:
    """The compressed message framed at `start`, walked (ValueError for an
    uncompressed one); its numbers, when laid out, unpacked with up to
    `threads` threads (1 to 4096)."""

def tables_from_texts(data: bytes, layers: Sequence[Sequence[Any]]) -> TableSet:
    """Tables parsed from table files held in `data`: each layer is
    (element.table span or None, sequence.def span or None, [(code table file
    name, start, end), ...]), a span being (start, end); later layers replace
    the entries of earlier ones, as local tables replace the master's."""

def tables_from_wmo_csv(directory: _Path) -> TableSet:
    """WMO's BUFR4 CSV tables with their code and flag tables; ValueError
    when the directory holds no Table B or no Table D file."""

def csv_records(data: bytes, dialect: str) -> tuple[list[list[bytes]], str | None]:
    """The records that the table loaders read from `data` in dialect "wmo"
    or "element", and the error that stopped them, if any."""

def dump_records(data: Buffer, start: int, message: BufrMessage, tables: TableSet, format: str, prefix: bytes,
                 csv_quoted: bytes, subsets: Sequence[tuple[int, int | None]], keys: Sequence[str], fd: int | None,
                 progress: Callable[[float], object] | None) -> bytes | None:
    """The records that `skyrec dump` prints for the message framed at
    `start`, in format "text", "jsonl" or "csv": `prefix` starts each jsonl
    or csv record (text: the message's heading), `csv_quoted` holds the ASCII
    characters that make a csv field quoted, `subsets` ((low, high) pairs,
    high None for no end) and `keys` ("key" or "#rank#key"), when not empty,
    choose the values. With fd None the records come back as bytes; else they
    are written to fd as they are made (OSError when that fails) and
    progress(share of the message done) is called after each part."""

def state_of(obj: BufrMessage | DecodedValue | TableSet | ElementDefinition | SequenceDefinition,
             /) -> tuple[str, tuple[Any, ...]]:
    """The kind of `obj` and plain values that make it again (from_state)."""

def from_state(kind: str, state: tuple[Any, ...], /) -> Any:
    """The object that state_of gave (kind, state) for; ValueError or TypeError for a state it cannot have given."""
# Writing (src/encode). `header` is the tuple of skyrec.header.HEADER_FIELDS;
# `section2` None (none), bytes (its local data) or True (the message's own).
# Refusals raise ValueError naming the subset, descriptor, key and value.

def header_message(header: tuple[int, ...]) -> BufrMessage:
    """A message with this section 1 and no data, for choosing tables."""

def reencode(data: Buffer, start: int, message: BufrMessage, tables: TableSet, header: tuple[int, ...] | None,
             section2: Buffer | bool | None, changes: Sequence[tuple[int, int, Any]] | None,
             out_of_range_missing: bool) -> bytes:
    """The message framed at `start` written again, its raw integers and
    text bytes as they stand, with `changes` ((subset, position, value));
    header None keeps the message's own."""

def encode_values(descriptors: Sequence[int], subsets: Sequence[Sequence[Any]], tables: TableSet,
                  header: tuple[int, ...], section2: Buffer | None, out_of_range_missing: bool) -> bytes:
    """A message of `subsets`, each its values in expanded order: None or NaN
    missing, numbers scaled, str (Latin-1) or bytes texts, DecodedValue raw."""

def encode_array(descriptors: Sequence[int], values: Any, texts: Mapping[int, Sequence[Any]],
                 tables: TableSet, header: tuple[int, ...], section2: Buffer | None,
                 out_of_range_missing: bool) -> bytes:
    """A message of a 2-D float64 array, subsets x values (NaN missing), the
    columns in `texts` given as texts."""
