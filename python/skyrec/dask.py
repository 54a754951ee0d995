"""BUFR archives as Dask DataFrames, decoded on many cores or machines.

    import dask, skyrec.dask

    headers = skyrec.dask.read_headers("archive/*.bufr")            # nothing decoded
    values, errors = skyrec.dask.read_bufr("archive/*.bufr", filters={"bufrHeaderCentre": 98})
    means, bad = dask.compute(values.groupby("name", observed=True).value.mean(), errors)
    temps, _ = skyrec.dask.read_observations("synop/*.bufr", ["WMO_station_id", "airTemperature"])

Each partition decodes whole small files or a block of a large one (split at
message offsets found by a header pass when the graph is built, see
skyrec.dask_pieces) with skyrec.blocks, whose decoding releases the
interpreter lock: threads, processes and dask.distributed workers all scale.
Tables are found, and each version loaded, once per worker process. With
errors="collect" a message that cannot be decoded is one MessageError of the
errors Series (computed, `.tolist()` is the list that read_dataframe keeps in
frame.attrs["errors"]), never a failed task; with errors="raise" the task
that meets it raises it. Needs `pip install 'skyrec[dask]'`.
"""

from __future__ import annotations

import os
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any, NamedTuple, cast

from .optional import needs

with needs("skyrec.dask", "dask"):
    import dask
    import dask.dataframe as dd
    import numpy as np
    from dask.dataframe.utils import clear_known_categories

from _skyrec import TableSet

from . import _native, blocks, header_frames, observations
from .blocks import Piece
from .cores import thread_count
from .dask_pieces import file_pieces, header_pieces, partitions_of
from .errors import ErrorPolicy, MessageError, collected, raise_policy
from .filters import Filters, block_filter
from .header_frames import Filter
from .optional import pandas
from .paths import checked_path, expand_sources
from .table_cache import tables_of
from .tables import TableSource

if TYPE_CHECKING:
    import pandas as pd

DEFAULT_BLOCKSIZE = 2**18  # compressed satellite data can spread one byte over hundreds of bytes of rows

DEFAULT_PARTITION_MEMORY = 2**28  # bytes of rows that one partition may decode to

HEADER_BLOCKSIZE = 2**26  # the header pass reads little of what it is given

# A path, a glob or a list of them.
Paths = str | os.PathLike[str] | Iterable[str | os.PathLike[str]]

# The table source as (find_tables keyword, absolute path) pairs: they travel to the workers.
TablePaths = tuple[tuple[str, str], ...]


class BufrFrames(NamedTuple):
    """What read_bufr and read_observations give: the values and the
    messages left out, a Dask Series of MessageError (computed,
    `.tolist()` is the list that read_dataframe keeps in attrs["errors"]).
    Both come from one task per partition: computed together, each
    partition is decoded once; either alone decodes everything."""

    values: dd.DataFrame
    errors: dd.Series


def expand_paths(paths: Paths) -> list[Any]:
    """Paths, directories and glob patterns as a list of files, in the order
    given (each pattern's matches and each directory's files sorted); the
    same file listed twice is read twice. Bytes and binary streams stay data."""
    return [os.fspath(p) if isinstance(p, (str, os.PathLike)) else bytes(p) for p in expand_sources(paths, "paths")]


def table_source(spec: TablePaths) -> TableSource:
    """This process's TableSource for a table spec (see _table_spec), kept
    with those of skyrec.read_observations."""
    return tables_of(dict(spec))


def _table_spec(tables: TableSet | TableSource | None, table_dir: str | os.PathLike[str] | None,
                definitions: str | os.PathLike[str] | None, wmo_csv: str | os.PathLike[str] | None) -> TablePaths:
    # Paths travel to the workers, loaded tables do not: each worker loads its own.
    if tables is not None:
        raise TypeError("skyrec.dask takes table_dir, definitions or wmo_csv (workers load tables themselves), "
                        "not loaded tables")
    given = {name: os.path.abspath(checked_path(name, value)) for name, value in
             (("table_dir", table_dir), ("definitions", definitions), ("wmo_csv", wmo_csv)) if value is not None}
    if len(given) > 1:
        raise TypeError(f"give at most one table source, not {' and '.join(given)}")
    return tuple(given.items())

def _as_meta(frame: pd.DataFrame) -> pd.DataFrame:
    """`frame`, empty, as Dask will hold it: categories unknown, texts in the
    string type this Dask configuration converts them to."""
    return dd.from_pandas(clear_known_categories(frame), npartitions=1)._meta

def _conformed(frame: pd.DataFrame, dtypes: dict[str, Any]) -> pd.DataFrame:
    # Texts into the string type the meta has; categoricals stay as they are.
    changed = {name: dtype for name, dtype in dtypes.items()
               if str(dtype) != "category" and frame[name].dtype != dtype}
    return frame.astype(changed) if changed else frame


class _Partition(NamedTuple):
    pieces: list[Piece]
    spec: TablePaths
    filter: Filter
    columns: tuple[str, ...]
    value_types: dict[str, Any]
    raising: bool


Decoded = tuple["pd.DataFrame", list[MessageError]]


def _partition_values(part: _Partition) -> Decoded:
    values, errors = blocks.read_pieces(part.pieces, table_source(part.spec), part.filter, columns=part.columns,
                                        warn=False)
    return _conformed(values, part.value_types), collected(errors, part.raising)


def _values_of(decoded: Decoded) -> pd.DataFrame:
    return decoded[0]


def _errors_of(decoded: Decoded) -> pd.Series:
    # Objects, which Dask must not turn into strings.
    return pandas().Series(decoded[1], dtype=object, name="error")


def _frames(decode: Any, parts: list[Any], meta: pd.DataFrame) -> BufrFrames:
    """The values and the errors of what `decode` makes of each partition,
    (values, errors): both taken from one task per partition, so that
    computing them together decodes each partition once."""
    # Its partitions are those pairs: the meta says what the values are.
    decoded = dd.from_map(decode, parts, meta=meta, enforce_metadata=False)
    values = decoded.map_partitions(_values_of, meta=meta, enforce_metadata=False)
    with dask.config.set({"dataframe.convert-string": False}):
        errors = decoded.map_partitions(_errors_of, meta=pandas().Series([], dtype=object, name="error"),
                                        enforce_metadata=False)
    return BufrFrames(cast(dd.DataFrame, values), cast(dd.Series, errors))


def _header_partition(pieces: list[Piece], header_types: dict[str, Any], mask: Filter) -> pd.DataFrame:
    items = [piece.path for piece in pieces]
    if not items:
        return _conformed(header_frames.headers_frame(_native.message_headers(b""), file=""), header_types)
    labels = [os.fspath(p) if isinstance(p, (str, os.PathLike)) else "<buffer>" for p in items]
    frames = [header_frames.headers_of(item, 0, None, 0, label, mask) for item, label in zip(items, labels)]
    # One file per frame: concat would turn differing categories into objects.
    return _conformed(header_frames.joined_headers(frames, labels), header_types)


def _check_sizes(**sizes: Any) -> None:
    """Byte counts given by keyword: a positive int, or None."""
    for name, value in sizes.items():
        if value is not None and (not isinstance(value, int) or isinstance(value, bool)):
            raise TypeError(f"{name} must be an int of bytes or None, not {type(value).__name__}")
        if value is not None and value < 1:
            raise ValueError(f"{name} must be a positive number of bytes or None, not {value}")


def _sizes(path: Any) -> int:
    return os.path.getsize(path) if isinstance(path, str) else len(path)


def _pieces_of(source: Any, blocksize: int | None, partition_memory: int | None) -> list[tuple[Piece, int, int]]:
    offsets_of: dict[str, np.ndarray] = {}
    return [p for item in expand_paths(source)
            for p in (file_pieces(item, blocksize, offsets_of, partition_memory) if isinstance(item, str)
                      else [(Piece(item), len(item), 0)])]


def read_headers(paths: Paths, *, blocksize: int | None = HEADER_BLOCKSIZE,
                 filters: Filters | None = None) -> dd.DataFrame:
    """The headers of every message of `paths` (the sources of
    skyrec.read_headers), nothing decoded: one row per message with file,
    message (its index in the file), offset, length, edition, master_table,
    centre, subcentre, update_sequence, category, subcategory,
    local_subcategory, master_version, local_version, time (NaT when not a
    date), subsets, observed, compressed and error (why a message could not
    be framed). Whole files, gathered into partitions of about blocksize
    bytes; `filters` as every reader takes them."""
    _check_sizes(blocksize=blocksize)
    mask = block_filter(filters, None)
    files = expand_paths(paths)
    partitions = partitions_of([(Piece(path), _sizes(path), 0) for path in files], blocksize)
    empty = header_frames.headers_frame(_native.message_headers(b""), file="")
    meta = _as_meta(empty)
    types = meta.dtypes.to_dict()
    return cast(dd.DataFrame, dd.from_map(_header_partition, partitions, args=[types, mask], meta=meta,
                                          enforce_metadata=False))


def read_bufr(paths: Paths | None = None, *, headers: pd.DataFrame | None = None, filters: Filters | None = None,
              errors: ErrorPolicy = "collect", blocksize: int | None = DEFAULT_BLOCKSIZE,
              partition_memory: int | None = DEFAULT_PARTITION_MEMORY, tables: TableSet | TableSource | None = None,
              table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
              wmo_csv: str | os.PathLike[str] | None = None, columns: Iterable[str] | None = None,
              threads: int | None = None, filter: Filter = None) -> BufrFrames:
    """Every message of `paths` (the sources of skyrec.read_dataframe),
    decoded into a Dask DataFrame of values, one row per value: file,
    message (its index in the file), offset (of its "BUFR"), subset,
    descriptor, name, unit, value, raw, text, meaning, key, rank and the GTS
    heading's fields (gts_ttaaii, gts_cccc, gts_yygggg, gts_bbb: missing
    where there is none); and a Series of the messages left out (MessageError). Rows come in the order of the
    files and of the messages in them: per file, those of
    skyrec.read_dataframe.

    blocksize: bytes of input per partition: small files are gathered, larger
    ones split between messages (their offsets are found when the graph is
    built); None for one partition per file. partition_memory: bytes of rows
    that one partition may decode to at most (256 MiB), judged from each
    message's length and compression, which the decoder's bound on values per
    byte makes safe; None for no such limit. `filters` picks messages by
    their header keys before decoding, as every reader (they must pickle for
    process workers; filter= is the older form by read_headers' columns).
    `headers` (a pandas frame of read_headers' rows, filtered as wished)
    decodes exactly those messages instead of `paths`. Tables: table_dir,
    definitions or wmo_csv, or found by each worker. `columns` (a name or
    several of the values frame's) makes each partition decode only those.
    errors and threads: as every reader takes them."""
    _check_sizes(blocksize=blocksize, partition_memory=partition_memory)
    thread_count(threads)  # refused when the graph is built
    raising = raise_policy(errors)
    selection = block_filter(filters, filter)
    spec = _table_spec(tables, table_dir, definitions, wmo_csv)
    names = blocks.chosen_columns(columns)
    if (paths is None) == (headers is None):
        raise TypeError("give either paths or headers")
    if headers is not None and not isinstance(headers, pandas().DataFrame):
        raise TypeError(f"headers must be a pandas DataFrame of read_headers' rows, not {type(headers).__name__}")
    if paths is None:
        pieces = header_pieces(headers, blocksize, partition_memory)
    else:
        pieces = _pieces_of(paths, blocksize, partition_memory)
    partitions = partitions_of(pieces, blocksize, partition_memory) or [[]]
    values_meta = _as_meta(blocks.values_frame(None, with_file=True, columns=names))
    value_types = values_meta.dtypes.to_dict()
    parts = [_Partition(pieces, spec, selection, names, value_types, raising) for pieces in partitions]
    return _frames(_partition_values, parts, values_meta)


# Rows per observation (skyrec.read_observations), partitioned as read_bufr.


class _ObservationPartition(NamedTuple):
    pieces: list[Piece]
    spec: TablePaths
    query: observations.Query
    types: dict[str, Any]
    raising: bool


def _observation_rows(part: _ObservationPartition) -> Decoded:
    items = list({id(piece.path): piece.path for piece in part.pieces}.values())
    frame, errors = observations.read_rows(items, part.pieces, table_source(part.spec), part.query)
    # A key of texts is float in the meta (no rows tell it is texts): its texts stay as they are.
    types = {name: dtype for name, dtype in part.types.items()
             if not (frame[name].dtype.kind not in "fiub" and str(dtype) == "float64")}
    return _conformed(frame, types), collected(errors, part.raising)


def read_observations(source: Paths | bytes, columns: list[str] | str, *, filters: dict[str, Any] | None = None,
                      required_columns: bool | Iterable[str] = True, errors: ErrorPolicy = "collect",
                      blocksize: int | None = DEFAULT_BLOCKSIZE,
                      partition_memory: int | None = DEFAULT_PARTITION_MEMORY,
                      tables: TableSet | TableSource | None = None, table_dir: str | os.PathLike[str] | None = None,
                      definitions: str | os.PathLike[str] | None = None,
                      wmo_csv: str | os.PathLike[str] | None = None, threads: int | None = None) -> BufrFrames:
    """skyrec.read_observations as a Dask DataFrame and a Series of the messages
    left out (as read_bufr gives them): the same columns, meta and rows, in
    the order of the files and of the messages in them, each partition a
    block of files or of a large file's messages as read_bufr makes them
    (blocksize, partition_memory). `source`: the sources every reader takes.
    Filters must pickle for process workers (no lambdas there). A key whose
    values are texts is float64 in the meta, which no rows can tell before
    they are read."""
    _check_sizes(blocksize=blocksize, partition_memory=partition_memory)
    thread_count(threads)  # refused when the graph is built
    raising = raise_policy(errors)
    query = observations.make_query(columns, filters, required_columns)
    spec = _table_spec(tables, table_dir, definitions, wmo_csv)
    partitions = partitions_of(_pieces_of(source, blocksize, partition_memory), blocksize, partition_memory) or [[]]
    empty, _ = observations.read_rows([], [], table_source(spec), query)
    meta = _as_meta(empty)
    types = meta.dtypes.to_dict()
    parts = [_ObservationPartition(pieces, spec, query, types, raising) for pieces in partitions]
    return _frames(_observation_rows, parts, meta)
