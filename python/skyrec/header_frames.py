"""The header pass as pandas DataFrames: one row per message, nothing decoded.

    headers = read_headers("obs.bufr")                     # one row per message, nothing decoded

The rows are skyrec._native.message_headers' columns, the typical time as
one datetime64 column; skyrec.blocks picks the messages to decode from them.
Needs pandas (`pip install 'skyrec[pandas]'`).
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator, Mapping
from typing import TYPE_CHECKING, Any, cast

from .optional import needs

with needs("skyrec.header_frames", "pandas"):
    import numpy as np

from . import _native
from .calendar_days import datetimes
from .column_kinds import categorical
from .errors import ErrorPolicy, MessageError, NoMessages, collected, message_error, raise_policy
from .filters import Filters, block_filter
from .gts import gts_columns
from .optional import pandas
from .paths import check_one, expand_sources, is_many
from .reader import BUFFER_TYPES, Source
from .sources import Span, check_bytes_source, is_stream, read_span, read_whole_stream, scan_file_headers

if TYPE_CHECKING:
    import pandas as pd

    from ._native import MessageHeaders

# The header pass's time fields, which the frame shows as one column "time"
# where the first of them stands.
TIME_PARTS = ("year", "month", "day", "hour", "minute", "second")

# A callable takes the header frame and returns a mask; a mapping is by column.
Filter = Callable[[Any], Any] | Mapping[str, Any] | None

def typical_time(year: np.ndarray, month: np.ndarray, day: np.ndarray, hour: np.ndarray, minute: np.ndarray,
                 second: np.ndarray) -> np.ndarray:
    """Section 1's typical times as datetime64[s], NaT where not a date
    (an hour 24 is not a time of the day it names)."""
    # Seconds: datetime64[ns] ends in 2262.
    return datetimes((year, month, day, hour, minute, second), "s", rolls=False)

def header_arrays(d: MessageHeaders, first_index: int = 0, base: int = 0) -> dict[str, np.ndarray]:
    """headers_frame's columns before `error`, as NumPy arrays: what the
    routes that make no frame read."""
    columns = dict(_header_columns(d))
    # The native columns in their order; offsets and lengths counted as pandas counts positions.
    data: dict[str, np.ndarray] = {"message": np.arange(first_index, first_index + d["count"], dtype=np.int64)}
    for name, column in columns.items():
        if name == TIME_PARTS[0]:
            data["time"] = typical_time(*(columns[part] for part in TIME_PARTS))
        elif name in ("offset", "length"):
            data[name] = column.astype(np.int64) + (base if name == "offset" else 0)
        elif name not in TIME_PARTS and name != "framed":
            data[name] = column
    return data

def source_header_arrays(source: Source) -> dict[str, np.ndarray]:
    """header_arrays of a whole file or buffer."""
    return header_arrays(_source_headers(source)[1])

def _source_headers(source: Source, start: int = 0, end: int | None = None) -> tuple[Any, MessageHeaders]:
    """What gts_columns reads of a file or buffer (its path, or its bytes),
    and the header pass over its messages starting in [start, end)."""
    if isinstance(source, (str, os.PathLike)):
        return source, file_headers(source, start, end)
    data = source_span(source, start, end).data
    return data, _native.message_headers(data, start, end)

def headers_frame(d: MessageHeaders, first_index: int = 0, file: str | None = None, base: int = 0) -> pd.DataFrame:
    """The DataFrame of a skyrec._native.message_headers dict: one row per
    message found, `message` counted from first_index, `error` the reason a
    message could not be framed (its other fields are then 0). `base` is
    where the scanned bytes start in the file."""
    pd = pandas()
    data = header_arrays(d, first_index, base)
    data["error"] = np.full(d["count"], None, dtype=object)
    for row, reason, _ in d["errors"]:
        data["error"][row] = reason
    frame = pd.DataFrame(data, copy=False)
    if file is not None:
        frame.insert(0, "file", _one_file(pd, file, len(frame)))
    return frame

def _one_file(pd: Any, file: str, count: int) -> pd.Categorical:
    return categorical(pd, np.zeros(count, np.int8), [file])

def check_span(start: Any, end: Any) -> None:
    """start and end as offsets into a source: ints, start at least 0, end None or past start."""
    for name, value in (("start", start), ("end", end)):
        if value is None and name == "end":
            continue
        if not isinstance(value, (int, np.integer)) or isinstance(value, bool):
            raise TypeError(f"{name} must be an int offset, not {type(value).__name__}")
        if value < 0:
            raise ValueError(f"{name} must be an offset of 0 or more, not {value}")
    if end is not None and end < start:
        raise ValueError(f"end ({end}) must not come before start ({start})")

def message_count(source: Source) -> int:
    """How many messages `source` holds, bad ones included: the rows of
    read_headers(source), without making its frame."""
    return int(_source_headers(source)[1]["count"])

def file_headers(path: str | os.PathLike[str], start: int = 0, end: int | None = None) -> MessageHeaders:
    """_native.message_headers' dict for the file at `path`, made a chunk at
    a time (see skyrec.sources.scan_file_headers), offsets in the file."""
    chunks = scan_file_headers(path, start, end)
    if len(chunks) == 1 and chunks[0][1] in (-1, chunks[0][0]["count"]) and chunks[0][2] == 0:
        return chunks[0][0]
    arrays: dict[str, list[np.ndarray]] = {}
    errors: list[tuple[int, str, str]] = []
    count = 0
    for h, cut, base in chunks:
        for name, column in _header_columns(h):
            part: np.ndarray = column[:cut]
            arrays.setdefault(name, []).append(part + np.uint64(base) if name == "offset" else part)
        errors.extend((row + count, reason, kind) for row, reason, kind in h["errors"] if row < cut)
        count += cut
    merged: dict[str, Any] = {name: np.concatenate(parts) for name, parts in arrays.items()}
    merged.update(count=count, errors=errors)
    return cast("MessageHeaders", merged)

def _header_columns(h: MessageHeaders) -> Iterator[tuple[str, np.ndarray]]:
    """The per-message arrays of a message_headers dict, in its order, typed
    by their buffers."""
    fields: Mapping[str, Any] = h
    for name, column in fields.items():
        if isinstance(column, (np.ndarray, _native.OwnedBuffer)):
            yield name, np.asarray(column)

def selected(headers: pd.DataFrame, filter: Filter) -> np.ndarray:
    """Which rows of the header frame `filter` keeps, as a boolean array: a
    callable takes the frame and returns a mask; a mapping keeps rows whose
    column equals its value, or is among its values for a list, tuple or set."""
    if callable(filter):
        keep = np.asarray(filter(headers), dtype=bool)
    elif isinstance(filter, Mapping):
        keep = np.ones(len(headers), dtype=bool)
        for column, wanted in filter.items():
            if column not in headers.columns:
                raise KeyError(f"filter names {column!r}, which is not a header column")
            many = isinstance(wanted, (list, tuple, set, frozenset))
            keep &= (headers[column].isin(list(wanted)) if many else headers[column] == wanted).to_numpy(bool)
    else:
        raise TypeError(f"filter must be a callable or a mapping, not {type(filter).__name__}")
    if keep.shape != (len(headers),):
        raise ValueError(f"filter gave {keep.size} answers for {len(headers)} messages")
    return keep

def source_span(source: Source, start: int = 0, end: int | None = None) -> Span:
    """The bytes of `source` that hold its messages starting in [start,
    end): a buffer as it is, a file read now (see skyrec.sources)."""
    if isinstance(source, BUFFER_TYPES):
        check_bytes_source(source)
        return Span(source, 0, False)
    if is_stream(source):
        return Span(read_whole_stream(source), 0, False)  # type: ignore[arg-type]
    if not isinstance(source, (str, os.PathLike)):
        raise TypeError("source must be a path or a bytes-like object (or a binary stream), "
                        f"not {type(source).__name__}")
    return read_span(source, start, end)

class Categories:
    """Distinct texts numbered in the order first seen."""

    def __init__(self) -> None:
        self.index: dict[str, int] = {}

    def code(self, text: str) -> int:
        return self.index.setdefault(text, len(self.index))

    def categorical(self, pd: Any, codes: np.ndarray) -> pd.Categorical:
        return categorical(pd, codes, list(self.index))

def read_headers(source: Any, *, start: int = 0, end: int | None = None, first_index: int = 0,
                 file: str | None = None, filters: Filters | None = None,
                 errors: ErrorPolicy = "collect") -> pd.DataFrame:
    """The headers of the messages of `source` (a path, a directory, a glob,
    a list of them, bytes-like data or a binary stream) whose "BUFR" lies in
    [start, end), without decoding any: a DataFrame with one row per message
    found, bad ones included (their `error` says why), those that `filters`
    drops left out. With `file`, or a source naming several files, a first
    column says where each row comes from. The messages that cannot be
    framed are listed in frame.attrs["errors"] as MessageError (input
    without any message as a NoMessages); errors="raise" raises the first."""
    raising = raise_policy(errors)
    check_span(start, end)
    mask = block_filter(filters, None)
    if is_many(source):
        if start or end is not None or first_index:
            raise ValueError("start, end and first_index pick messages of one file, and source names several "
                             "(a directory, a glob or a list)")
        items = expand_sources(source)
        labels = [os.fspath(item) if isinstance(item, (str, os.PathLike)) else "<buffer>" for item in items]
        frames = [headers_of(item, 0, None, 0, label, mask) for item, label in zip(items, labels)]
        frame = joined_headers(frames, labels)
        found = [e for f in frames for e in f.attrs["errors"]]
    else:
        check_one(source)
        frame = headers_of(source, start, end, first_index, file, mask, whole=start == 0 and end is None)
        found = frame.attrs["errors"]
    frame.attrs["errors"] = collected(found, raising)
    return frame

def header_columns_of(source: Any) -> dict[str, np.ndarray]:
    """read_headers' columns of one file or buffer (but `file`) as NumPy
    arrays: `error` and the GTS heading fields as objects, None where none."""
    return _columns_and_kinds(source, 0, None, 0)[0]

def _columns_and_kinds(source: Any, start: int, end: int | None,
                       first_index: int) -> tuple[dict[str, np.ndarray], dict[int, str]]:
    """header_columns_of, and the error kind of each row that has an error."""
    where, h = _source_headers(source, start, end)
    found = header_arrays(h, first_index)
    found["error"] = np.full(h["count"], None, dtype=object)
    kinds = {}
    for row, reason, kind in h["errors"]:
        found["error"][row] = reason
        kinds[row] = kind
    for name, column in gts_columns(where, found["offset"].tolist(), found["length"].tolist()).items():
        found[name] = np.empty(len(column), dtype=object)
        found[name][:] = column
    return found, kinds

def headers_of(source: Any, start: int, end: int | None, first_index: int, file: str | None,
                mask: Filter, whole: bool = True) -> pd.DataFrame:
    pd = pandas()
    found, kinds = _columns_and_kinds(source, start, end, first_index)
    gts = list(found)[list(found).index("error") + 1:]
    frame = pd.DataFrame({name: column for name, column in found.items() if name not in gts}, copy=False)
    if file is not None:
        frame.insert(0, "file", _one_file(pd, file, len(frame)))
    for name in gts:
        frame[name] = pd.Series(found[name], dtype=object, index=frame.index)  # None where none, as elsewhere
    named = file if file != "<buffer>" else None
    if whole and frame.empty:
        errors: list[MessageError] = [NoMessages(file=named)]
    else:
        errors = [message_error(found["error"][row], int(found["message"][row]), int(found["offset"][row]),
                                kind=kind, file=named) for row, kind in sorted(kinds.items())]
    if mask is not None and len(frame):
        # Filters judge headers: a message that cannot be framed stays, as its error does.
        frame = frame[selected(frame, mask) | frame["error"].notna().to_numpy(bool)].reset_index(drop=True)
    frame.attrs["errors"] = errors
    return frame

def joined_headers(frames: list[pd.DataFrame], labels: list[str]) -> pd.DataFrame:
    """Header frames of several files as one, its file column one categorical."""
    pd = pandas()
    files = Categories()
    codes = np.concatenate([np.full(len(f), files.code(label), np.int32) for f, label in zip(frames, labels)])
    frame = pd.concat([f.drop(columns="file") for f in frames], ignore_index=True)
    frame.insert(0, "file", files.categorical(pd, codes))
    return frame
