"""The computed keys of read_observations (data_datetime, WMO_station_id,
WIGOS_station_id), made from the data keys they stand for."""

from __future__ import annotations

from typing import Any

import numpy as np

from .calendar_days import datetimes
from .column_kinds import Column, Nullable, missing_of, plain
from .observation_query import TIME_PARTS, WIGOS_PARTS


def _float(value: Any) -> float:
    try:
        return float(value)
    except (TypeError, ValueError):
        return np.nan


def numbers(values: np.ndarray) -> np.ndarray:
    """Values as floats: texts where numbers were expected are read as
    numbers, NaN where they are none."""
    values = plain(values)
    if values.dtype != object:
        return np.asarray(values, float)
    return np.fromiter((_float(v) for v in values), float, count=len(values))


def computed_key(data: dict[str, tuple[Any, np.ndarray]], key: str) -> tuple[Column, np.ndarray]:
    """A computed key's values and where they are found."""
    def number(name: str) -> np.ndarray:
        return numbers(data[name][0])

    def found(name: str) -> np.ndarray:
        return data[name][1]

    if key == "WMO_station_id":
        ident = number("blockNumber") * 1000 + number("stationNumber")
        known = np.isfinite(ident)
        values = Nullable(np.round(np.where(known, ident, 0)).astype(np.int64), ~known)
        return values, found("blockNumber") & found("stationNumber") & known
    if key == "WIGOS_station_id":
        parts = [plain(data[p][0]) for p in WIGOS_PARTS]
        ok = ~np.logical_or.reduce([missing_of(p) for p in parts]) if len(parts[0]) else np.zeros(0, bool)
        ident = np.full(len(ok), None, dtype=object)
        rows = np.flatnonzero(ok)
        ident[rows] = [f"{round(a)}-{round(b)}-{round(c)}-{d}" for a, b, c, d in
                       zip(*(np.asarray(p, dtype=object)[rows] for p in parts))]
        return ident, ok
    parts = [number(p) for p in TIME_PARTS]
    parts[5] = np.nan_to_num(parts[5], nan=0.0)
    ok = np.logical_and.reduce([~np.isnan(p) for p in parts])
    # An hour 24 is the next day's 0, as pandas has it.
    times = datetimes(parts, "ns", rolls=True, ok=ok)
    return times, ok & ~np.isnat(times) & found("year")
