"""Many messages at a time, as pandas DataFrames: the block decoding that
skyrec.dask runs in each partition, usable on its own.

    values, errors = read_block("obs.bufr", filter={"centre": 98, "category": [0, 1]})

skyrec._native frames, decodes and fills the columns of a whole block with
the interpreter lock released and makes the Python results after taking it
back: a handful of arrays per block, no object per value or message. Threads
therefore decode side by side. The messages are chosen from the header pass
(skyrec.header_frames). Needs pandas (`pip install 'skyrec[pandas]'`).
"""

from __future__ import annotations

import os
import warnings
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from .optional import needs

with needs("skyrec.blocks", "pandas"):
    import numpy as np

from _skyrec import TableSet

from . import _native
from .column_kinds import Coded, pandas_column
from .columns import FRAME_COLUMNS, value_columns
from .cores import thread_count
from .errors import CHANGED, MISSING_ENTRY, NO_MESSAGES, ErrorPolicy, MessageError, collected, raise_policy
from .filters import Filters, block_filter
from .gts import FIELDS as GTS_FIELDS
from .gts import gts_columns
from .header_frames import (  # noqa: F401 (reached from here too)
    Categories,
    Filter,
    check_span,
    file_headers,
    header_arrays,
    header_columns_of,
    headers_frame,
    read_headers,
    selected,
    source_header_arrays,
    source_span,
    typical_time,
)
from .optional import pandas
from .paths import check_one, expand_sources, is_many
from .reader import Source
from .sources import Span, runs_past_end
from .tables import TableKey, TableSource, find_tables

if TYPE_CHECKING:
    import pandas as pd

    from ._native import BlockColumns, MessageHeaders

# (file, message, offset, reason, where, kind) of a message left out before
# decoding; `where` is "" then, as nothing is known of a subset or a path.
ErrorRow = tuple[Any, ...]
NOWHERE = (None, ())  # the subset and descriptor path of such a message

# The columns of the values frame, in its order: the GTS heading's fields
# last, as read_headers has them.
VALUE_COLUMNS = ("file", "message", "offset", *FRAME_COLUMNS[1:], *GTS_FIELDS)

@dataclass(frozen=True, slots=True)
class Piece:
    """A stretch of one file (or buffer) to decode: the messages whose "BUFR"
    lies in [start, end), numbered from first_index at start (which must be
    where a message starts, or 0); or, when `offsets` is given, exactly the
    messages there, numbered by `indices`. `expected` lists the offsets of the
    messages a header pass found in [start, end): any not found again is an
    error row, not left out; `size` the file's bytes when it did."""

    path: Source
    start: int = 0
    end: int | None = None
    first_index: int = 0
    offsets: tuple[int, ...] | None = None
    indices: tuple[int, ...] | None = None
    expected: tuple[int, ...] | None = None
    size: int | None = None

@dataclass(slots=True)
class _Prepared:
    """One piece ready to decode: its messages framed once and chosen, and
    the messages left out so far as (file, message, offset, reason)."""

    label: str
    framing: Any  # message_headers(..., keep=True)["framing"]
    base: int  # where the framed bytes start in the file
    rows: list[int]  # of the framing
    offsets: list[int]
    messages: list[int]
    keys: list[TableKey]
    errors: list[ErrorRow]
    gts: dict[str, list[str | None]] | None = None  # the chosen messages' heading fields, when asked

    def native(self, file: int, source: TableSource, meanings: bool = True) -> tuple[Any, ...]:
        """The piece as decode_block and observation_rows take it; they
        load each table key's tables once per call (without `meanings`,
        tables that may lack the code tables)."""
        tables = source.for_message if meanings else source.numbers_for_message
        return (self.framing, file, self.rows, self.messages, tables, self.base)

def _table_key(h: MessageHeaders) -> np.ndarray:
    # tables.message_key packed in one integer: 8 + 8 + 8 + 16 + 16 bits.
    fields: Mapping[str, Any] = h
    parts = [np.asarray(fields[name]).astype(np.int64) for name in
             ("master_table", "master_version", "local_version", "centre", "subcentre")]
    return (parts[0] << 48) | (parts[1] << 40) | (parts[2] << 32) | (parts[3] << 16) | parts[4]

def _unpacked_key(packed: int) -> TableKey:
    return (packed >> 48 & 0xFF, packed >> 40 & 0xFF, packed >> 32 & 0xFF, packed >> 16 & 0xFFFF, packed & 0xFFFF)

def _piece_span(piece: Piece) -> Span:
    if piece.offsets is not None:
        if not piece.offsets:
            return Span(b"", 0, False)
        return source_span(piece.path, min(piece.offsets), max(piece.offsets) + 1)
    return source_span(piece.path, piece.start, piece.end)

def _missing(offset: int, span: Span) -> tuple[str, str]:
    """Why no message was found at `offset`, and its kind."""
    if span.short or offset >= span.base + len(span.data):
        return CHANGED, "file_changed"
    return f"no message starts at offset {offset}", "text"

def prepare_piece(piece: Piece, source: TableSource, filter: Filter, gts: bool = False) -> _Prepared:
    """Finds the messages of one piece and the tables of each (and with
    `gts`, the GTS heading before each)."""
    label = os.fspath(piece.path) if isinstance(piece.path, (str, os.PathLike)) else "<buffer>"
    span = _piece_span(piece)
    data, base = span.data, span.base
    errors: list[ErrorRow] = []
    start, end, first_index = piece.start, piece.end, piece.first_index
    wanted: Sequence[int] | None = piece.offsets
    indices: Sequence[int] | None = piece.indices
    if wanted is not None:
        start, end = (min(wanted), max(wanted) + 1) if wanted else (0, 0)
        indices = indices if indices is not None else range(len(wanted))
    elif piece.expected is not None:
        wanted, indices = piece.expected, range(first_index, first_index + len(piece.expected))
    h = _native.message_headers(data, max(0, start - base), None if end is None else max(0, end - base), keep=True)
    local = np.asarray(h["offset"]).astype(np.int64)
    offsets = local + base
    messages = np.arange(first_index, first_index + h["count"], dtype=np.int64)
    keep = np.array(h["framed"])
    asked = np.ones(len(offsets), bool)
    if wanted is not None and indices is not None:
        # The messages found where asked for, numbered as the caller numbers them.
        index_of = dict(zip(wanted, indices))
        asked = np.fromiter((o in index_of for o in offsets.tolist()), bool, count=len(offsets))
        messages = np.fromiter((index_of.get(o, -1) for o in offsets.tolist()), np.int64, count=len(offsets))
        # An offset where no message starts (now) is an error, never nothing.
        present = set(offsets.tolist())
        for o in wanted:
            if o not in present:
                reason, kind = _missing(o, span)
                errors.append((label, index_of[o], o, reason, "", kind))
    # A message cut short where the bytes end was whole when measured, or
    # when a header pass found it, unless it ends a file as long as it was then.
    unchanged = piece.end is None and piece.size is not None and base + len(data) == piece.size
    changed = span.short or (wanted is not None and not unchanged)
    for row, reason, kind in h["errors"]:
        if asked[row]:
            if changed and runs_past_end(data, int(local[row])):
                reason, kind = CHANGED, "file_changed"
            errors.append((label, int(messages[row]), int(offsets[row]), reason, "", kind))
    if piece.start == 0 and end is None and wanted is None and not h["count"]:
        errors.append((label, 0, 0, NO_MESSAGES, "", "no_messages"))  # said once, as a row, rather than an empty frame
    keep &= asked
    if filter is not None and keep.any():
        keep &= selected(headers_frame(h, first_index, base=base).assign(message=messages), filter)
    chosen = np.flatnonzero(keep)
    keys = [_unpacked_key(k) for k in _table_key(h)[chosen].tolist()]
    headings = None
    if gts and _may_be_headed(piece.path, span, local[chosen]):
        lengths = np.asarray(h["length"]).tolist()
        # A heading may stand before the bytes read: the file is looked at there.
        every = (gts_columns(piece.path, offsets.tolist(), lengths) if base else
                 gts_columns(data, local.tolist(), lengths))
        headings = {name: [column[i] for i in chosen.tolist()] for name, column in every.items()}
    return _Prepared(label, h["framing"], base, chosen.tolist(), offsets[chosen].tolist(), messages[chosen].tolist(),
                     keys, errors, headings)

def _may_be_headed(source: Source, span: Span, starts: np.ndarray) -> bool:
    """Whether a bulletin heading can stand before one of the messages at
    `starts` of the span's bytes: its line ends in CR or LF right before
    "BUFR". Most files have none, and are told so at once. (A file read
    from an offset has the byte before its first message looked at there.)"""
    inside = starts[starts > 0]
    before = np.frombuffer(span.data, np.uint8)[inside - 1]
    if ((before == 0x0A) | (before == 0x0D)).any():
        return True
    if not (len(starts) and starts[0] == 0 and span.base and isinstance(source, (str, os.PathLike))):
        return False
    with open(source, "rb") as f:
        return os.pread(f.fileno(), 1, span.base - 1) in (b"\n", b"\r")

def chosen_columns(columns: Iterable[str] | None, with_file: bool = True) -> tuple[str, ...]:
    """The values frame's columns that `columns` names (one name or several),
    in the frame's order; all of them for None."""
    valid = VALUE_COLUMNS if with_file else VALUE_COLUMNS[1:]
    if columns is None:
        return valid
    asked = [columns] if isinstance(columns, str) else list(columns)
    for name in asked:
        if name not in valid:
            raise ValueError(f"no column {name!r} in the values frame; its columns are {', '.join(valid)}")
    if not asked:
        raise ValueError(f"columns names none of the values frame's columns ({', '.join(valid)})")
    return tuple(name for name in valid if name in asked)

def values_frame(block: BlockColumns | None, files: Sequence[str] = (), with_file: bool = True,
                 columns: Iterable[str] | None = None) -> pd.DataFrame:
    """The DataFrame of a skyrec._native.decode_block result, its columns
    (`columns`, as chosen_columns takes them) wrapped as they are; `files`
    names its file codes."""
    pd = pandas()
    found = block_columns(block, files, with_file, columns)
    return pd.DataFrame({name: pandas_column(pd, column) for name, column in found.items()}, copy=False)

def block_columns(block: BlockColumns | None, files: Sequence[str] = (), with_file: bool = True,
                  columns: Iterable[str] | None = None) -> dict[str, Any]:
    """values_frame's columns, as column_kinds has them."""
    names = chosen_columns(columns, with_file)
    if block is None:
        block = _native.decode_block([], [name for name in names if name not in GTS_FIELDS])
    # Each column's buffer says its item type: the dtypes are the decoder's.
    buffers: Mapping[str, Any] = block
    found: dict[str, Any] = {}
    if "file" in names:
        found["file"] = Coded(np.asarray(buffers["file"]), files)
    found.update((name, np.asarray(buffers[name])) for name in ("message", "offset") if name in names)
    found.update(value_columns(buffers, [name for name in names if name in FRAME_COLUMNS[1:]]))
    if any(name in GTS_FIELDS for name in names):  # not the decoder's: missing here, read_piece_columns fills them
        rows = int(np.frombuffer(buffers["rows"], np.uint64).sum())
        for name in GTS_FIELDS:
            found[name] = Coded(np.full(rows, -1, np.int8), [])
        found = {name: found[name] for name in names}
    return found

def piece_errors(prepared: Sequence[_Prepared], failed: Iterable[Sequence[Any]], tables: TableSource,
                 with_file: bool, warn: bool = True) -> list[MessageError]:
    """The MessageErrors of decoded pieces, in order: those found preparing
    them and `failed`, the decoder's (piece, position, reason, where, kind,
    subset, descriptor path). `warn`: see warn_stopped."""
    rows: list[list[tuple[TableKey | None, ErrorRow]]] = [[(None, (*e, *NOWHERE)) for e in p.errors]
                                                          for p in prepared]
    for k, i, reason, where, kind, subset, path in failed:
        p = prepared[k]
        rows[k].append((p.keys[i], (p.label, p.messages[i], p.offsets[i], reason, where, kind, subset, path)))
    found = []
    labels = []
    explained: dict[tuple[Any, ...], str] = {}
    for piece_rows in rows:
        for key, (label, index, offset, reason, where, kind, subset, path) in sorted(piece_rows,
                                                                                      key=lambda r: r[1][1]):
            file = label if with_file and label != "<buffer>" else None
            found.append(tables.message_error(key, reason, int(index), int(offset), where, kind, file, explained,
                                              subset, path))
            labels.append(label)
    if warn:
        warn_stopped(found, labels)
    return found

def read_pieces(pieces: Iterable[Piece], tables: TableSource, filter: Filter = None, *,
                with_file: bool = True, columns: Iterable[str] | None = None,
                warn: bool = True, memory_limit: int | None = None,
                threads: int = 2) -> tuple[pd.DataFrame, list[MessageError]]:
    """The values DataFrame of several pieces, in order, and the messages
    left out (see read_values); what one partition of skyrec.dask.read_bufr
    computes. The pieces are decoded together, into one set of columns, a
    large block laid out by up to two of `threads`.
    `warn`: see warn_stopped (not for one partition of many)."""
    found, errors = read_piece_columns(pieces, tables, filter, with_file=with_file, columns=columns, warn=warn,
                                       memory_limit=memory_limit, threads=threads)
    pd = pandas()
    return pd.DataFrame({name: pandas_column(pd, column) for name, column in found.items()}, copy=False), errors

def read_piece_columns(pieces: Iterable[Piece], tables: TableSource, filter: Filter = None, *,
                       with_file: bool = True, columns: Iterable[str] | None = None, warn: bool = True,
                       memory_limit: int | None = None, threads: int = 2) -> tuple[dict[str, Any], list[MessageError]]:
    """read_pieces' columns, as block_columns has them."""
    names = chosen_columns(columns, with_file)
    headings = [name for name in names if name in GTS_FIELDS]
    files = Categories()
    prepared = [prepare_piece(piece, tables, filter, bool(headings)) for piece in pieces]
    block = _native.decode_block([p.native(files.code(p.label), tables) for p in prepared],
                                 [name for name in names if name not in GTS_FIELDS], memory_limit, threads=threads)
    errors = piece_errors(prepared, block["errors"], tables, with_file, warn)
    found = block_columns(block, list(files.index), True, names)  # no heading: missing, as block_columns has it
    if any(p.gts is not None for p in prepared):
        # "rows" counts each chosen message's values, piece after piece.
        rows = np.frombuffer(block["rows"], np.uint64).astype(np.int64)
        fields = {name: [v for p in prepared for v in (p.gts[name] if p.gts else [None] * len(p.rows))]
                  for name in headings}
        found.update(heading_columns(fields, rows))
    return found, errors

def heading_columns(fields: Mapping[str, Sequence[str | None]], rows: Any) -> dict[str, Coded]:
    """Heading fields of messages (a list per field: None where a message
    has no heading) on each of their `rows`, as coded columns, each field's
    texts in the order they first come."""
    found = {}
    rows = np.asarray(rows, np.int64)
    for name, texts in fields.items():
        index = {text: i for i, text in enumerate(dict.fromkeys(t for t in texts if t is not None))}
        kind = np.int8 if len(index) < 127 else np.int32
        found[name] = Coded(_spread(np.array([-1 if t is None else index[t] for t in texts], kind), rows),
                            list(index))
    return found

def _spread(codes: np.ndarray, rows: np.ndarray) -> np.ndarray:
    """codes[i] on each of rows[i] rows. A feed repeats a field over many
    messages of many rows each: one fill per run of messages alike beats a
    copy per row; short runs are repeated."""
    runs = np.flatnonzero(np.diff(codes, prepend=np.int64(-2)))
    bounds = np.concatenate(([0], np.cumsum(rows)))
    if len(runs) * 256 > bounds[-1]:
        return np.repeat(codes, rows)
    out = np.empty(int(bounds[-1]), codes.dtype)
    for start, end, code in zip(bounds[runs].tolist(), bounds[np.append(runs[1:], len(codes))].tolist(),
                                codes[runs].tolist()):
        out[start:end] = code
    return out

def warn_stopped(errors: Iterable[MessageError], labels: Iterable[str]) -> None:
    """One warning per file (`labels`, one per error) and table entry
    lacking that stopped several messages, with their count: the errors list
    them one by one."""
    counts: dict[tuple[str, str], int] = {}
    for e, label in zip(errors, labels):
        if e.kind in MISSING_ENTRY:
            place = (label, e.reason)
            counts[place] = counts.get(place, 0) + 1
    for (file, reason), count in counts.items():
        if count > 1:
            warnings.warn(f"{file}: {count} messages stopped: {reason}", stacklevel=3)

def release_memory() -> int:
    """Frees the column memory that skyrec keeps once the frames using it are
    gone, and returns its bytes. Blocks decode into kept buffers when they
    can (up to 512 MiB in all), so that decoding block after block fills
    pages already mapped instead of faulting in fresh ones; call this when
    done decoding to give that memory back."""
    return _native.release_buffers()

def errors_frame(errors: Iterable[MessageError], with_file: bool) -> pd.DataFrame:
    """The older errors DataFrame (file, message, offset, error, where, kind) of a list of MessageError."""
    pd = pandas()
    errors = list(errors)
    columns: dict[str, Any] = {}
    if with_file:
        files = Categories()
        codes = np.array([files.code(e.file or "<buffer>") for e in errors], np.int32)
        columns["file"] = files.categorical(pd, codes)
    columns.update({"message": np.array([e.index for e in errors], np.int64),
                    "offset": np.array([e.offset for e in errors], np.int64),
                    "error": np.array([e.reason for e in errors], dtype=object),
                    "where": np.array([e.where for e in errors], dtype=object),
                    "kind": np.array([e.kind for e in errors], dtype=object)})
    return pd.DataFrame(columns, copy=False)

def read_values(source: Any, *, tables: TableSet | TableSource | None = None,
                table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
                wmo_csv: str | os.PathLike[str] | None = None, start: int = 0, end: int | None = None,
                first_index: int = 0, offsets: Iterable[int] | None = None, indices: Iterable[int] | None = None,
                filters: Filters | None = None, filter: Filter = None, columns: Iterable[str] | None = None,
                memory_limit: int | None = None,
                threads: int | None = None) -> tuple[pd.DataFrame, list[MessageError], bool]:
    """The values frame of read_dataframe, the messages left out and
    whether the frame says which file each row is of (see read_dataframe)."""
    check_span(start, end)
    selection = block_filter(filters, filter, 4)  # the warning points at read_dataframe's or read_block's caller
    count = thread_count(threads)
    source_tables = find_tables(tables, table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
    if is_many(source):
        if start or end is not None or first_index or offsets is not None or indices is not None:
            raise ValueError("start, end, first_index, offsets and indices pick messages of one file, and source "
                             "names several (a directory, a glob or a list)")
        # Several files: the frames say which file each row comes from.
        pieces = [Piece(path) for path in expand_sources(source)]
        values, errors = read_pieces(pieces, source_tables, selection, columns=columns, memory_limit=memory_limit,
                                     threads=count)
        return values, errors, True
    check_one(source)
    piece = Piece(source, start, end, first_index, None if offsets is None else tuple(int(o) for o in offsets),
                  None if indices is None else tuple(int(i) for i in indices))
    values, errors = read_pieces([piece], source_tables, selection, with_file=False, columns=columns,
                                 memory_limit=memory_limit, threads=count)
    return values, errors, False

def read_block(source: Source, *, tables: TableSet | TableSource | None = None,
               table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
               wmo_csv: str | os.PathLike[str] | None = None, start: int = 0, end: int | None = None,
               first_index: int = 0, offsets: Iterable[int] | None = None, indices: Iterable[int] | None = None,
               filters: Filters | None = None, filter: Filter = None, columns: Iterable[str] | None = None,
               memory_limit: int | None = None, errors: ErrorPolicy = "collect",
               threads: int | None = None) -> tuple[pd.DataFrame, pd.DataFrame]:
    """read_dataframe's values with the offset of each message, and its
    errors as a second DataFrame (file, message, offset, error, where, kind):
    the older form of read_dataframe(..., columns=...), kept for code that
    relies on it. See skyrec.read_dataframe for the arguments."""
    raising = raise_policy(errors)
    values, found, with_file = read_values(source, tables=tables, table_dir=table_dir, definitions=definitions,
                                           wmo_csv=wmo_csv, start=start, end=end, first_index=first_index,
                                           offsets=offsets, indices=indices, filters=filters, filter=filter,
                                           columns=columns, memory_limit=memory_limit, threads=threads)
    return values, errors_frame(collected(found, raising), with_file)
