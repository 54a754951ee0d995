"""One row per observation, columns and filters named by ecCodes keys.

    frame = read_observations("temp.bufr", ["WMO_station_id", "data_datetime", "pressure", "airTemperature"],
                              filters={"pressure": slice(40000, 50000)})

The same question as pdbufr's `read_bufr(path, columns=..., filters=...)`.
The core decodes with the interpreter lock released and keeps only the asked
keys' values, laid out in rows (src/sinks/observation_rows.hpp says how);
it drops the rows that lack a required key or fail a numeric filter before
they take room. Here the rows' arrays become the computed keys, the other
filters are applied and the frame is built once.

Rows. Within each subset, a requested key that occurs once belongs to the
level enclosing the observations: its value is repeated on every row of the
subset (a TEMP's station and launch time). Among the keys that occur more
than once, the first in the subset leads: each of its occurrences starts a
row, which takes the first occurrence of every other repeated key up to the
next start (a TEMP level's pressure, temperature and dew point). A subset
whose requested keys all occur once makes one row.

Keys: an element's ecCodes key, "#n#key" for its n-th occurrence in the
subset, header keys (HEADER_KEYS), the GTS heading's fields (gts_ttaaii,
gts_cccc, gts_yygggg, gts_bbb: None where a message has none) and the
computed keys data_datetime, typical_datetime, WMO_station_id and
WIGOS_station_id.

Where this differs from pdbufr on purpose: columns come in the order asked
(pdbufr puts header keys first); numbers are float64 (NaN when missing)
except the integer header keys and WMO_station_id (nullable Int64); a key
found nowhere gives an empty frame with the asked columns (pdbufr's has none);
"#n#key" finds values in compressed messages too (pdbufr's finds none).
Tables are found as read_dataframe finds them and kept for the process.
"""

from __future__ import annotations

import os
import warnings
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any

from .optional import needs

with needs("skyrec.observations", "pandas"):
    import numpy as np

from _skyrec import TableSet

from . import _native
from .blocks import Piece, piece_errors, prepare_piece
from .column_kinds import Column, Texts, pandas_column, rows_of
from .cores import thread_count
from .errors import ErrorPolicy, MessageError, collected, error_files, raise_policy
from .filters import HEADER_KEYS
from .known_keys import plain_key, table_keys, unknown_key_text
from .observation_headers import header_columns
from .observation_query import COMPUTED, HEADER_ONLY, TIME_PARTS, TYPICAL_PARTS, Filter, Query, make_query
from .observation_values import computed_key
from .optional import pandas
from .paths import expand_sources, is_many
from .row_filters import rows_passing
from .table_cache import cached_tables
from .tables import TableSource

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["COMPUTED", "HEADER_KEYS", "HEADER_ONLY", "TIME_PARTS", "TYPICAL_PARTS", "Query", "cached_tables",
           "make_query", "observation_columns", "read_observations", "read_rows", "row_columns"]

def _check_keys(query: Query, tables: Sequence[Any], data: dict[str, tuple[Any, np.ndarray]], count: int,
                warn: bool) -> None:
    """A key that no row holds: an error when no table of the messages read
    knows it (with the closest keys they know), else a warning when there
    are no rows at all. Without a decoded message there is nothing to judge
    by: the errors say why."""
    missing = [key for key in query.asked if key not in HEADER_ONLY and key not in COMPUTED
               and not (count and data[key][1].any())]
    if not missing or not tables:
        return
    known = frozenset().union(*(table_keys(t) for t in {id(t): t for t in tables}.values()))
    for key in missing:
        if plain_key(key) not in known:
            text = unknown_key_text(key, known | set(HEADER_ONLY) | set(COMPUTED))
            if key in query.required or key in query.filters:
                raise KeyError(text)
            if warn:
                warnings.warn(text, stacklevel=4)  # asked for as it may be: absent is an answer
            return
    if not count and warn:
        warnings.warn(f"no rows: no message read holds {', '.join(map(repr, missing))} (keys of its tables) with "
                      "the filters given", stacklevel=4)

def row_columns(items: Sequence[Any], pieces: Sequence[Piece], source: TableSource, query: Query,
                warn: bool = True, with_file: bool = True) -> tuple[dict[str, Column], list[MessageError]]:
    """The columns of `query` over `pieces`, each a Piece of one of `items`
    (the paths or bytes they read, in the same order), as NumPy arrays (and
    Nullable integers), in the order asked; and the messages left out (their
    files named with_file). `warn`: a key absent from every row is a warning
    (not for one partition of many, where that is no news)."""
    prepared = [prepare_piece(piece, source, None) for piece in pieces]
    conditions = query.conditions()
    file_of = {id(item): number for number, item in enumerate(items)}
    # Rows hold numbers and texts, never a code's meaning: tables without code tables serve.
    block = _native.observation_rows([p.native(file_of[id(piece.path)], source, meanings=False)
                                      for p, piece in zip(prepared, pieces)], query.native_keys(), conditions)
    errors = piece_errors(prepared, block["errors"], source, with_file, warn)

    count = block["count"]
    # A key is texts where some row holds one (no rows: numbers, as the meta of skyrec.dask has it).
    data: dict[str, tuple[Column, np.ndarray]] = {
        key: (np.asarray(v) if t is None or not count else Texts(np.asarray(t), block["texts"]), np.asarray(f))
        for key, (v, f, t) in zip(query.data_keys, block["columns"])}
    file, message = np.asarray(block["file"]), np.asarray(block["message"])
    headers = header_columns(items, query.header_keys, file, message)
    # What the decoder checked already needs no second look: a data key
    # found, a numeric filter on a key that gave no text.
    checked = {query.data_keys[i]: bool(ranges) for i, ranges in conditions}
    keep = np.ones(count, bool)
    result: dict[str, Column] = {}
    for key in query.asked:
        numeric = key in checked and not isinstance(data[key][0], Texts) and data[key][0].dtype == float
        if key in COMPUTED:
            values, found = computed_key(data, key)
        elif key in headers:
            values, found = headers[key], np.ones(count, bool)
        else:
            values, found = data[key]
        if key in query.required and key not in checked:
            keep &= found
        if key in query.filters and not (numeric and checked[key]):
            keep &= rows_passing(values, query.filters[key])
        result[key] = values
    decoded = sum(len(p.messages) for p in prepared) > len(block["errors"])
    _check_keys(query, block["tables"] if decoded else [], data, count, warn)
    every = bool(keep.all())
    return {key: result[key] if every else rows_of(result[key], keep) for key in query.columns}, errors


def columns_frame(columns: dict[str, Column], order: Sequence[str]) -> pd.DataFrame:
    """row_columns' columns as a DataFrame, a column asked twice shown twice."""
    pd = pandas()
    frame = pd.DataFrame({key: pandas_column(pd, column) for key, column in columns.items()}, copy=False)
    return frame if len(frame.columns) == len(order) else frame[list(order)]


def read_rows(items: Sequence[Any], pieces: Sequence[Piece], source: TableSource,
              query: Query) -> tuple[pd.DataFrame, list[MessageError]]:
    """row_columns' rows of one partition of many as a DataFrame."""
    columns, errors = row_columns(items, pieces, source, query, warn=False)
    return columns_frame(columns, query.columns), errors


def observation_columns(source: Any, query: Query, tables: TableSource,
                        threads: int | None = None) -> tuple[dict[str, Column], list[MessageError]]:
    """row_columns of every file or buffer that `source` names."""
    thread_count(threads)  # refused at the call; the frames' decode has its own two-way runner
    items = expand_sources(source)
    return row_columns(items, [Piece(item) for item in items], tables, query, with_file=is_many(source))


def read_observations(source: Any, columns: Sequence[str] | str, *, filters: Mapping[str, Filter] | None = None,
                      required_columns: bool | Iterable[str] = True, errors: ErrorPolicy = "collect",
                      tables: TableSet | TableSource | None = None, table_dir: str | os.PathLike[str] | None = None,
                      definitions: str | os.PathLike[str] | None = None, wmo_csv: str | os.PathLike[str] | None = None,
                      threads: int | None = None, output: str = "pandas") -> Any:
    """One pandas DataFrame with one row per observation of `source` (a path,
    a directory, a glob, a list of them, bytes-like data or a binary
    stream), a column per key of `columns`.

    filters: {key: value, list of values, slice (an inclusive range: slice(lo,
    hi), either end None) or callable (given the key's values as a pandas
    Series, or one value at a time when it cannot take a Series)}; a row is
    kept when each filter passes, missing values never passing. Filter keys
    need not be columns: header keys as every reader takes them, data keys too.
    required_columns: True drops rows lacking any column's key (a missing
    value is found; an absent key is not), False keeps them (absent as
    NaN/None), a list of keys requires those.
    Tables are chosen as in read_dataframe (each version loaded once per
    process); errors="collect" leaves out the messages that cannot be read
    and lists them, as MessageError, in frame.attrs["errors"]; errors="raise"
    raises the first. output="arrow" gives a pyarrow Table instead, those
    errors in its schema metadata (skyrec.formats.arrow.errors_of).
    See the module's text for how rows are made and where this differs from pdbufr."""
    if output not in ("pandas", "arrow"):
        raise ValueError(f"output must be 'pandas' or 'arrow', not {output!r}")
    raising = raise_policy(errors)
    query = make_query(columns, filters, required_columns)
    source_tables = cached_tables(tables, table_dir, definitions, wmo_csv)
    rows, found = observation_columns(source, query, source_tables, threads)
    left_out = collected(found, raising)
    if output == "arrow":
        from .formats.arrow import columns_table

        return columns_table(rows, query.columns, left_out)
    frame = columns_frame(rows, query.columns)
    frame.attrs["errors"] = left_out
    frame.attrs["error_files"] = error_files(found)  # the older form: MessageError.file says it now
    return frame
