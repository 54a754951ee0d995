"""The header keys of observation rows, taken from each row's message in
the header pass of its file, as NumPy arrays."""

from __future__ import annotations

import os
from collections.abc import Sequence
from typing import Any

import numpy as np

from .filters import HEADER_KEYS
from .gts import FIELDS as GTS_FIELDS
from .gts import gts_columns
from .header_frames import source_header_arrays
from .observation_query import TYPICAL_PARTS


def _typical_parts(time: np.ndarray) -> dict[str, np.ndarray]:
    """year ... second of each time: integers, or floats with NaN where a
    time is NaT (as pandas gives them)."""
    days = time.astype("datetime64[D]")
    months = time.astype("datetime64[M]")
    seconds = (time - days).astype("timedelta64[s]").astype(np.int64)
    parts = [time.astype("datetime64[Y]").astype(np.int64) + 1970, months.astype(np.int64) % 12 + 1,
             (days - months.astype("datetime64[D]")).astype(np.int64) + 1, seconds // 3600, seconds // 60 % 60,
             seconds % 60]
    nat = np.isnat(time)
    if nat.any():
        parts = [np.where(nat, np.nan, p) for p in parts]
    return dict(zip(TYPICAL_PARTS, parts))


def _formatted(time: np.ndarray, clock: bool) -> np.ndarray:
    """Times as YYYYMMDD (or HHMMSS with `clock`), None where NaT."""
    cut, sign = (slice(11, None), ":") if clock else (slice(0, 10), "-")
    wanted: np.ndarray = np.array([None if t == "NaT" else t[cut].replace(sign, "")
                                   for t in np.datetime_as_string(time, unit="s")], dtype=object)
    return wanted


def message_columns(source: Any, keys: set[str]) -> tuple[np.ndarray, dict[str, np.ndarray]]:
    """Each message's number and its header `keys` in one file or buffer."""
    headers = source_header_arrays(source)
    time = headers["time"]
    found: dict[str, np.ndarray] = {}
    for key in keys:
        if key in HEADER_KEYS:
            found[key] = headers[HEADER_KEYS[key]].astype(np.int64)
    if keys & set(TYPICAL_PARTS):
        found.update((k, v) for k, v in _typical_parts(time).items() if k in keys)
    if "typicalDate" in keys:
        found["typicalDate"] = _formatted(time, clock=False)
    if "typicalTime" in keys:
        found["typicalTime"] = _formatted(time, clock=True)
    if "typical_datetime" in keys:
        found["typical_datetime"] = time
    if keys & set(GTS_FIELDS):  # None where a message has no heading
        readable = isinstance(source, (str, os.PathLike, bytes, bytearray, memoryview))
        offsets = headers["offset"].tolist()
        fields = (gts_columns(source, offsets, headers["length"].tolist()) if readable
                  else {name: [None] * len(offsets) for name in GTS_FIELDS})  # a stream read once is gone
        found.update((key, np.array(fields[key], dtype=object)) for key in keys & set(GTS_FIELDS))
    return headers["message"], found


def header_columns(items: Sequence[Any], keys: list[str], file: np.ndarray, message: np.ndarray) -> dict[str, Any]:
    """The header keys of each row (of `file`, an index into `items`, and
    `message`), from its file's headers."""
    if not keys:
        return {}
    parts: dict[str, list[np.ndarray]] = {key: [] for key in keys}
    # The rows come file after file.
    cuts = np.flatnonzero(np.diff(file)) + 1
    for rows in np.split(np.arange(len(file)), cuts) if len(file) else []:
        numbers, columns = message_columns(items[int(file[rows[0]])], set(keys))
        where = numbers.searchsorted(message[rows])
        for key in keys:
            parts[key].append(columns[key][where])
    if not len(file):
        return message_columns(b"", set(keys))[1]
    return {key: np.concatenate(parts[key]) if len(parts[key]) > 1 else parts[key][0] for key in keys}
