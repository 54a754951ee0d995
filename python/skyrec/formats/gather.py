"""What a conversion reads: the long values of each file with its messages'
category and date, the observation rows of a query, or the headers."""

from __future__ import annotations

import os
from collections.abc import Iterator, Mapping, Sequence
from typing import TYPE_CHECKING, Any

import numpy as np

from ..blocks import Piece, read_piece_columns
from ..column_kinds import Coded
from ..errors import MessageError
from ..header_frames import header_columns_of, source_header_arrays
from ..observation_query import make_query
from ..observations import columns_frame
from ..observations import observation_columns as observation_columns_of
from ..optional import pandas
from ..tables import TableSource

if TYPE_CHECKING:
    import pandas as pd


def label(source: Any) -> str:
    return os.fspath(source) if isinstance(source, (str, os.PathLike)) else "<bytes>"


def file_columns(source: Any, tables: TableSource) -> tuple[dict[str, Any], list[MessageError]]:
    """One file's long values (as column_kinds has them) with `file` first
    and, last, its messages' category and date; and the messages left out."""
    values, errors = read_piece_columns([Piece(source)], tables)
    headers = source_header_arrays(source)
    where = headers["message"].searchsorted(values["message"])
    values["category"] = headers["category"][where].astype(np.int16)
    values["date"] = day_codes(headers["time"][where])
    values["file"] = Coded(values["file"].codes, [label(source)])
    return values, errors


def file_values(source: Any, tables: TableSource) -> tuple[pd.DataFrame, list[MessageError]]:
    """file_columns as a frame."""
    values, errors = file_columns(source, tables)
    return columns_frame(values, list(values)), errors


def each_file_values(sources: Sequence[Any], tables: TableSource) -> Iterator[tuple[pd.DataFrame, list[MessageError]]]:
    for source in sources:
        yield file_values(source, tables)


def day_codes(time: np.ndarray) -> Coded:
    """Times as their dates YYYY-MM-DD, a category each (sorted, as pandas
    sorts them); -1 where a time is NaT."""
    nat = np.isnat(time)
    days, codes = np.unique(time[~nat].astype("datetime64[D]"), return_inverse=True)
    every = np.full(len(time), -1, np.int32)
    every[~nat] = codes.reshape(-1)
    return Coded(every, days.astype(str).tolist())


def observation_columns(sources: Sequence[Any], keys: Sequence[str], filters: Mapping[str, Any] | None,
                        tables: TableSource, partition: bool = False) -> tuple[dict[str, Any], list[str],
                                                                                list[MessageError]]:
    """read_observations' rows as columns (see row_columns), their order and
    the messages left out; for a partitioned dataset, with each row's
    message category and date besides."""
    extra = ["dataCategory", "typical_datetime"] if partition else []
    query = make_query([*keys, *extra], filters, list(keys))
    columns, errors = observation_columns_of(sources, query, tables)
    if not partition:
        return columns, query.columns, errors
    time = columns.pop("typical_datetime")
    columns["category"] = columns.pop("dataCategory").astype(np.int16)
    columns["date"] = day_codes(time)
    return columns, [*keys, "category", "date"], errors


def observations(sources: Sequence[Any], keys: Sequence[str], filters: Mapping[str, Any] | None,
                 tables: TableSource, partition: bool = False) -> pd.DataFrame:
    """observation_columns as read_observations' frame."""
    pd = pandas()
    columns, order, errors = observation_columns(sources, keys, filters, tables, partition)
    if partition:
        date = columns["date"]
        columns["date"] = pd.Categorical.from_codes(date.codes, date.texts)
    frame = columns_frame(columns, order)
    frame.attrs["errors"] = errors
    return frame


def header_columns(sources: Sequence[Any]) -> dict[str, Any]:
    """read_headers' rows of every file, one after another, as column_kinds
    has them; `file` first, its texts sorted."""
    found = [header_columns_of(source) for source in sources]
    labels = [label(source) for source in sources]
    names = sorted(set(labels))
    codes = [np.full(len(f["message"]), names.index(name), np.int32) for f, name in zip(found, labels)]
    empty = header_columns_of(b"")
    joined = {name: np.concatenate([f[name] for f in found]) if found else empty[name] for name in empty}
    return {"file": Coded(np.concatenate(codes) if codes else np.zeros(0, np.int32), names), **joined}


def headers(sources: Sequence[Any]) -> pd.DataFrame:
    columns = header_columns(sources)
    return columns_frame(columns, list(columns))
