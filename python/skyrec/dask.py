"""BUFR archives as Dask DataFrames, decoded on many cores or machines.

    import dask, skyrec.dask

    headers = skyrec.dask.read_headers("archive/*.bufr")            # nothing decoded
    values, errors = skyrec.dask.read_bufr("archive/*.bufr", filter={"centre": 98})
    means, bad = dask.compute(values.groupby("name", observed=True).value.mean(), errors)
    temps = skyrec.dask.read_observations("synop/*.bufr", ["WMO_station_id", "airTemperature"])

Each partition decodes whole small files or a block of a large one (split at
message offsets found by a header pass when the graph is built) with
skyrec.blocks, whose decoding releases the interpreter lock: threads, processes
and dask.distributed workers all scale. Tables are found, and each version
loaded, once per worker process. A message that cannot be decoded becomes a
row of the errors frame, never a failed task. Needs `pip install 'skyrec[dask]'`.
"""

from __future__ import annotations

import os
import threading
from collections import OrderedDict
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any, NamedTuple, cast

from .optional import needs

with needs("skyrec.dask", "dask"):
    import dask.dataframe as dd
    import numpy as np
    from dask.base import tokenize
    from dask.dataframe.utils import clear_known_categories

from _skyrec import TableSet

from . import _native, blocks, observations
from .blocks import Filter, Piece
from .optional import pandas
from .paths import expand_sources
from .tables import TableSource, find_tables

if TYPE_CHECKING:
    import pandas as pd

DEFAULT_BLOCKSIZE = 2**18  # compressed satellite data can spread one byte over hundreds of bytes of rows
DEFAULT_PARTITION_MEMORY = 2**28  # bytes of rows that one partition may decode to
ROW_BYTES = 48  # a row of the values frame
HEADER_BLOCKSIZE = 2**26  # the header pass reads little of what it is given

# A path, a glob or a list of them.
Paths = str | os.PathLike[str] | Iterable[str | os.PathLike[str]]
# The table source as (find_tables keyword, absolute path) pairs: they travel to the workers.
TablePaths = tuple[tuple[str, str], ...]


class BufrFrames(NamedTuple):
    """What read_bufr gives: the values and the messages left out. A worker
    that decoded a partition's values keeps its errors (they are few), so
    computing both mostly decodes once; errors alone decode everything."""

    values: dd.DataFrame
    errors: dd.DataFrame


def expand_paths(paths: Paths) -> list[str]:
    """Paths, directories and glob patterns as a list of files, in the order
    given (each pattern's matches and each directory's files sorted); the
    same file listed twice is read twice."""
    return [os.fspath(path) for path in expand_sources(paths, "paths")]


# Tables, found and loaded once per process whichever tasks run there.
_SOURCES: dict[TablePaths, TableSource] = {}
_SOURCES_LOCK = threading.Lock()


def table_source(spec: TablePaths) -> TableSource:
    """This process's TableSource for a table spec (see _table_spec)."""
    with _SOURCES_LOCK:
        source = _SOURCES.get(spec)
        if source is None:
            given = dict(spec)
            source = _SOURCES[spec] = find_tables(table_dir=given.get("table_dir"),
                                                  definitions=given.get("definitions"), wmo_csv=given.get("wmo_csv"))
        return source


def _table_spec(tables: TableSet | TableSource | None, table_dir: str | os.PathLike[str] | None,
                definitions: str | os.PathLike[str] | None, wmo_csv: str | os.PathLike[str] | None) -> TablePaths:
    # Paths travel to the workers, loaded tables do not: each worker loads its own.
    if tables is not None:
        raise TypeError("skyrec.dask takes table_dir, definitions or wmo_csv (workers load tables themselves), "
                        "not loaded tables")
    given = {name: os.path.abspath(os.fsdecode(value)) for name, value in
             (("table_dir", table_dir), ("definitions", definitions), ("wmo_csv", wmo_csv)) if value is not None}
    if len(given) > 1:
        raise TypeError(f"give at most one table source, not {' and '.join(given)}")
    return tuple(given.items())


def _rows_bytes(lengths: np.ndarray, compressed: np.ndarray) -> np.ndarray:
    """The most bytes of rows that messages of `lengths` bytes decode to:
    compressed ones up to the decoder's bound on values per byte, uncompressed
    ones about a bit a value at least."""
    lengths = np.asarray(lengths, np.int64)
    most = _native.VALUES_FLOOR + _native.VALUES_PER_BYTE * lengths
    return np.where(np.asarray(compressed, bool), most, np.minimum(most, 8 * lengths)) * ROW_BYTES


def _runs(starts: np.ndarray, rows_bytes: np.ndarray, blocksize: int | None,
          memory: int | None) -> list[tuple[int, int]]:
    """Messages (starting at byte `starts`, increasing) in runs [first, last):
    a run ends at the first message blocksize bytes or more past its start,
    or before the one whose rows would pass `memory` bytes; one message at
    least."""
    held = np.cumsum(rows_bytes)
    runs: list[tuple[int, int]] = []
    first = 0
    while first < len(starts):
        last = len(starts)
        if blocksize is not None:
            last = min(last, int(np.searchsorted(starts, starts[first] + blocksize)))
        if memory is not None:
            before = held[first] - rows_bytes[first]
            last = min(last, int(np.searchsorted(held, before + memory, side="right")))
        last = max(last, first + 1)
        runs.append((first, last))
        first = last
    return runs


def _file_pieces(path: str, blocksize: int | None, offsets_of: dict[str, np.ndarray],
                 memory: int | None = None) -> list[tuple[Piece, int, int]]:
    """`path` as (piece, bytes, most bytes of rows) triples: whole, or split at
    message offsets into blocks of about blocksize bytes whose rows stay
    within `memory` bytes."""
    size = os.path.getsize(path)
    most = int(_rows_bytes(np.array([size]), np.array([True]))[0])
    if (blocksize is None or size <= blocksize) and (memory is None or most <= memory):
        return [(Piece(path), size, most)]
    if path not in offsets_of:
        h = blocks.file_headers(path)
        offsets_of[path] = np.stack([np.asarray(h[name]).astype(np.int64) for name in ("offset", "length",
                                                                                     "compressed")])
    offsets, lengths, compressed = offsets_of[path]
    rows = _rows_bytes(lengths, compressed)
    pieces: list[tuple[Piece, int, int]] = []
    for first, last in _runs(offsets, rows, blocksize, memory):
        start = 0 if first == 0 else int(offsets[first])  # bytes before the first message are the first block's
        end = int(offsets[last]) if last < len(offsets) else None
        # The messages found now, by offset: each one comes back decoded or
        # as an error row, even if the file changes before the block is read.
        pieces.append((Piece(path, start, end, first, expected=tuple(offsets[first:last].tolist())),
                       (end if end is not None else size) - start, int(rows[first:last].sum())))
    return pieces or [(Piece(path), size, most)]


def _header_pieces(headers: pd.DataFrame, blocksize: int | None,
                   memory: int | None = None) -> list[tuple[Piece, int, int]]:
    """The messages that rows of a header frame name (file, message, offset,
    length), as pieces of about blocksize bytes whose rows stay within
    `memory` bytes, in the order of the rows. Without a compressed column,
    every message counts as compressed."""
    missing = {"file", "message", "offset", "length"} - set(headers.columns)
    if missing:
        raise ValueError(f"headers need the columns file, message, offset and length (missing {sorted(missing)})")
    pieces: list[tuple[Piece, int, int]] = []
    files = headers["file"].astype(object).to_numpy()
    frame = headers[["message", "offset", "length"]].to_numpy(np.int64)
    compressed = headers["compressed"].to_numpy(bool) if "compressed" in headers else np.ones(len(headers), bool)
    boundaries = np.flatnonzero(files[1:] != files[:-1]) + 1
    for rows in np.split(np.arange(len(headers)), boundaries):
        if not len(rows):
            continue
        lengths = frame[rows, 2]
        held = _rows_bytes(lengths, compressed[rows])
        for first, last in _runs(np.cumsum(lengths) - lengths, held, blocksize, memory):
            part = rows[first:last]
            pieces.append((Piece(str(files[rows[0]]), offsets=tuple(frame[part, 1].tolist()),
                                 indices=tuple(frame[part, 0].tolist())), int(frame[part, 2].sum()),
                           int(held[first:last].sum())))
    return pieces


def _partitions(pieces: list[tuple[Piece, int, int]], blocksize: int | None,
                memory: int | None = None) -> list[list[Piece]]:
    """Consecutive pieces gathered into partitions of about blocksize bytes
    whose rows stay within `memory` bytes (one piece each without a
    blocksize)."""
    partitions: list[list[Piece]] = []
    filled = held = 0
    for piece, size, rows in pieces:
        if (not partitions or blocksize is None or filled >= blocksize
                or (memory is not None and held + rows > memory)):
            partitions.append([])
            filled = held = 0
        partitions[-1].append(piece)
        filled += size
        held += rows
    return partitions


def _as_meta(frame: pd.DataFrame) -> pd.DataFrame:
    """`frame`, empty, as Dask will hold it: categories unknown, texts in the
    string type this Dask configuration converts them to."""
    return dd.from_pandas(clear_known_categories(frame), npartitions=1)._meta


def _conformed(frame: pd.DataFrame, dtypes: dict[str, Any]) -> pd.DataFrame:
    # Texts into the string type the meta has; categoricals stay as they are.
    changed = {name: dtype for name, dtype in dtypes.items()
               if str(dtype) != "category" and frame[name].dtype != dtype}
    return frame.astype(changed) if changed else frame


# The errors of the partitions whose values this process decoded lately, so
# that computing the errors frame after (or beside) the values seldom decodes
# again. Error lists are small; the oldest are dropped past the limit.
_ERRORS_SEEN: OrderedDict[str, pd.DataFrame] = OrderedDict()
_ERRORS_SEEN_LIMIT = 4096


def _remember(key: str, errors: pd.DataFrame) -> None:
    with _SOURCES_LOCK:
        _ERRORS_SEEN[key] = errors
        while len(_ERRORS_SEEN) > _ERRORS_SEEN_LIMIT:
            _ERRORS_SEEN.popitem(last=False)


def _recall(key: str) -> pd.DataFrame | None:
    with _SOURCES_LOCK:
        return _ERRORS_SEEN.get(key)


class _Partition(NamedTuple):
    key: str  # the token of everything below
    pieces: list[Piece]
    spec: TablePaths
    filter: Filter
    columns: tuple[str, ...]
    value_types: dict[str, Any]
    error_types: dict[str, Any]


def _partition_values(part: _Partition) -> pd.DataFrame:
    values, errors = blocks.read_pieces(part.pieces, table_source(part.spec), part.filter, columns=part.columns,
                                         warn=False)
    _remember(part.key, errors)
    return _conformed(values, part.value_types)


def _partition_errors(part: _Partition) -> pd.DataFrame:
    errors = _recall(part.key)
    if errors is None:
        _, errors = blocks.read_pieces(part.pieces, table_source(part.spec), part.filter, columns=part.columns,
                                       warn=False)
    return _conformed(errors, part.error_types)


def _header_partition(pieces: list[Piece], header_types: dict[str, Any]) -> pd.DataFrame:
    pd = pandas()
    paths = [cast(str, piece.path) for piece in pieces]  # whole files, by path
    frames = [blocks.read_headers(path, file=path) for path in paths]
    if not frames:
        return _conformed(blocks.headers_frame(_native.message_headers(b""), file=""), header_types)
    # One file per frame: concat would turn differing categories into objects.
    files = blocks.Categories()
    codes = np.concatenate([np.full(len(f), files.code(path), np.int32) for f, path in zip(frames, paths)])
    frame = pd.concat([f.drop(columns="file") for f in frames], ignore_index=True)
    frame.insert(0, "file", files.categorical(pd, codes))
    return _conformed(frame, header_types)


def _check_sizes(**sizes: Any) -> None:
    """Byte counts given by keyword: a positive int, or None."""
    for name, value in sizes.items():
        if value is not None and (not isinstance(value, int) or isinstance(value, bool)):
            raise TypeError(f"{name} must be an int of bytes or None, not {type(value).__name__}")
        if value is not None and value < 1:
            raise ValueError(f"{name} must be a positive number of bytes or None, not {value}")


def read_headers(paths: Paths, *, blocksize: int | None = HEADER_BLOCKSIZE) -> dd.DataFrame:
    """The headers of every message of `paths` (a path, a glob or a list of
    them), nothing decoded: one row per message with file, message (its
    index in the file), offset, length, edition, master_table, centre,
    subcentre, update_sequence, category, subcategory, local_subcategory,
    master_version, local_version, time (NaT when not a date), subsets,
    observed, compressed and error (why a message could not be framed).
    Whole files, gathered into partitions of about blocksize bytes."""
    _check_sizes(blocksize=blocksize)
    files = expand_paths(paths)
    partitions = _partitions([(Piece(path), os.path.getsize(path), 0) for path in files], blocksize)
    empty = blocks.headers_frame(_native.message_headers(b""), file="")
    meta = _as_meta(empty)
    types = meta.dtypes.to_dict()
    return cast(dd.DataFrame, dd.from_map(_header_partition, partitions, args=[types], meta=meta,
                                          enforce_metadata=False))


def read_bufr(paths: Paths | None = None, *, headers: pd.DataFrame | None = None, filter: Filter = None,
              blocksize: int | None = DEFAULT_BLOCKSIZE, partition_memory: int | None = DEFAULT_PARTITION_MEMORY,
              tables: TableSet | TableSource | None = None,
              table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
              wmo_csv: str | os.PathLike[str] | None = None, columns: Iterable[str] | None = None) -> BufrFrames:
    """Every message of `paths` (a path, a glob or a list of them), decoded
    into a Dask DataFrame of values, one row per value: file, message (its
    index in the file), offset (of its "BUFR"), subset, descriptor, name,
    unit, value, raw, text, meaning, key, rank; and a DataFrame of the messages left out
    (file, message, offset, error). Rows come in the order of the files and
    of the messages in them: per file, those of skyrec.read_dataframe.

    blocksize: bytes of input per partition: small files are gathered, larger
    ones split between messages (their offsets are found when the graph is
    built); None for one partition per file. partition_memory: bytes of rows
    that one partition may decode to at most (256 MiB), judged from each
    message's length and compression, which the decoder's bound on values per
    byte makes safe; None for no such limit. `filter` picks messages by
    their headers before decoding (a mapping such as {"centre": 98,
    "category": [0, 1]} or a callable taking a pandas frame of read_headers'
    columns and returning a mask; it must pickle for process workers).
    `headers` (a pandas frame of read_headers' rows, filtered as wished)
    decodes exactly those messages instead of `paths`. Tables: table_dir,
    definitions or wmo_csv, or found by each worker. `columns` (a name or
    several of the values frame's) makes each partition decode only those,
    as skyrec.blocks.read_block does."""
    _check_sizes(blocksize=blocksize, partition_memory=partition_memory)
    spec = _table_spec(tables, table_dir, definitions, wmo_csv)
    names = blocks.chosen_columns(columns)
    if (paths is None) == (headers is None):
        raise TypeError("give either paths or headers")
    if headers is not None and not isinstance(headers, pandas().DataFrame):
        raise TypeError(f"headers must be a pandas DataFrame of read_headers' rows, not {type(headers).__name__}")
    if paths is None:
        pieces = _header_pieces(headers, blocksize, partition_memory)
    else:
        offsets_of: dict[str, np.ndarray] = {}
        pieces = [p for path in expand_paths(paths)
                  for p in _file_pieces(path, blocksize, offsets_of, partition_memory)]
    partitions = _partitions(pieces, blocksize, partition_memory) or [[]]
    values_meta = _as_meta(blocks.values_frame(None, with_file=True, columns=names))
    errors_meta = _as_meta(blocks.errors_frame([], with_file=True))
    value_types, error_types = values_meta.dtypes.to_dict(), errors_meta.dtypes.to_dict()
    parts = [_Partition(tokenize(pieces, spec, filter), pieces, spec, filter, names, value_types, error_types)
             for pieces in partitions]
    # Two collections of plain partitions, so that what follows each fuses
    # with it (the process scheduler then sends back only what is asked).
    return BufrFrames(dd.from_map(_partition_values, parts, meta=values_meta, enforce_metadata=False),
                      dd.from_map(_partition_errors, parts, meta=errors_meta, enforce_metadata=False))


# Rows per observation (skyrec.read_observations), partitioned as read_bufr.


class _ObservationPartition(NamedTuple):
    pieces: list[Piece]
    spec: TablePaths
    query: observations.Query
    types: dict[str, Any]


def _observation_rows(part: _ObservationPartition) -> pd.DataFrame:
    items = list({id(piece.path): piece.path for piece in part.pieces}.values())
    frame, _, _ = observations.read_rows(items, part.pieces, table_source(part.spec), part.query, warn=False)
    # A key of texts is float in the meta (no rows tell it is texts): its texts stay as they are.
    types = {name: dtype for name, dtype in part.types.items()
             if not (frame[name].dtype.kind not in "fiub" and str(dtype) == "float64")}
    return _conformed(frame, types)


def read_observations(source: Paths | bytes, columns: list[str] | str, *, filters: dict[str, Any] | None = None,
                      required_columns: bool | Iterable[str] = True, blocksize: int | None = DEFAULT_BLOCKSIZE,
                      partition_memory: int | None = DEFAULT_PARTITION_MEMORY,
                      tables: TableSet | TableSource | None = None, table_dir: str | os.PathLike[str] | None = None,
                      definitions: str | os.PathLike[str] | None = None,
                      wmo_csv: str | os.PathLike[str] | None = None) -> dd.DataFrame:
    """skyrec.read_observations as a Dask DataFrame: the same columns, meta
    and rows, in the order of the files and of the messages in them, each
    partition a block of files or of a large file's messages as read_bufr
    makes them (blocksize, partition_memory). `source` is a path, a glob, a
    list of them, or bytes (one partition). Filters must pickle for process
    workers (no lambdas there). Messages that cannot be read are left out:
    read_bufr's errors frame lists them. A key whose values are texts is
    float64 in the meta, which no rows can tell before they are read."""
    _check_sizes(blocksize=blocksize, partition_memory=partition_memory)
    query = observations.make_query(columns, filters, required_columns)
    spec = _table_spec(tables, table_dir, definitions, wmo_csv)
    if isinstance(source, (bytes, bytearray, memoryview)):
        partitions = [[Piece(bytes(source))]]
    else:
        offsets_of: dict[str, np.ndarray] = {}
        pieces = [p for path in expand_paths(source) for p in _file_pieces(path, blocksize, offsets_of,
                                                                           partition_memory)]
        partitions = _partitions(pieces, blocksize, partition_memory) or [[]]
    empty, _, _ = observations.read_rows([], [], table_source(spec), query, warn=False)
    meta = _as_meta(empty)
    types = meta.dtypes.to_dict()
    parts = [_ObservationPartition(pieces, spec, query, types) for pieces in partitions]
    return cast(dd.DataFrame, dd.from_map(_observation_rows, parts, meta=meta, enforce_metadata=False))
