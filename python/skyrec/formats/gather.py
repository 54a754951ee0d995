"""What a conversion reads: the long values of each file with its messages'
category and date, the observation rows of a query, or the headers."""

from __future__ import annotations

import os
from collections.abc import Iterator, Mapping, Sequence
from typing import TYPE_CHECKING, Any

import numpy as np

from ..blocks import Piece, read_pieces
from ..errors import MessageError
from ..header_frames import read_headers
from ..observations import read_observations, source_items
from ..optional import pandas
from ..tables import TableSource

if TYPE_CHECKING:
    import pandas as pd



def paths(sources: Any) -> list[Any]:
    """Paths (globs expanded, in order) or buffers."""
    return source_items(sources)


def label(source: Any) -> str:
    return os.fspath(source) if isinstance(source, (str, os.PathLike)) else "<bytes>"


def day_texts(time: np.ndarray) -> np.ndarray:
    """Times as the dates YYYY-MM-DD, None where a time is NaT."""
    days: np.ndarray = time.astype("datetime64[D]").astype(str).astype(object)
    days[np.isnat(time)] = None
    return days


def file_values(source: Any, tables: TableSource) -> tuple[pd.DataFrame, list[MessageError]]:
    """One file's long values with `file` first and, last, its messages'
    category and date; and the messages left out."""
    pd = pandas()
    values, errors = read_pieces([Piece(source)], tables)
    headers = read_headers(source)
    where = headers["message"].to_numpy().searchsorted(values["message"].to_numpy())
    values["category"] = headers["category"].to_numpy()[where].astype(np.int16)
    values["date"] = pd.Categorical(day_texts(headers["time"].to_numpy())[where])
    values["file"] = values["file"].cat.rename_categories([label(source)])
    return values, errors


def each_file_values(sources: Sequence[Any], tables: TableSource) -> Iterator[tuple[pd.DataFrame, list[MessageError]]]:
    for source in sources:
        yield file_values(source, tables)


def observations(sources: Sequence[Any], keys: Sequence[str], filters: Mapping[str, Any] | None,
                 tables: TableSource, partition: bool = False) -> pd.DataFrame:
    """read_observations' rows; for a partitioned dataset, with each row's
    message category and date besides."""
    extra = ["dataCategory", "typical_datetime"] if partition else []
    frame = read_observations(sources, [*keys, *extra], filters=filters, required_columns=list(keys), tables=tables)
    if partition:
        pd = pandas()
        time = frame.pop("typical_datetime").to_numpy()
        frame["category"] = frame.pop("dataCategory").to_numpy().astype(np.int16)
        frame["date"] = pd.Categorical(day_texts(time))
    return frame


def headers(sources: Sequence[Any]) -> pd.DataFrame:
    pd = pandas()
    frames = [read_headers(source, file=label(source)) for source in sources]
    frame = pd.concat(frames, ignore_index=True)
    frame["file"] = frame["file"].astype("category")
    return frame

