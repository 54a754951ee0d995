"""The computed keys of read_observations (data_datetime, WMO_station_id,
WIGOS_station_id), made from the data keys they stand for."""

from __future__ import annotations

from typing import Any

import numpy as np

from .column_kinds import Column, Nullable, missing_of, plain
from .observation_query import TIME_PARTS, WIGOS_PARTS

_DAYS_IN_MONTH = np.array([31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31, 0], float)

def _day_numbers(year: np.ndarray, month: np.ndarray, day: np.ndarray) -> np.ndarray:
    """Days from 1970-01-01 of each date, NaN where it names none (a 31
    April, a month 13, a fraction) or lies beyond what datetime64[ns] holds."""
    whole = (year == np.floor(year)) & (month == np.floor(month)) & (day == np.floor(day))
    leap = (year % 4 == 0) & ((year % 100 != 0) | (year % 400 == 0))
    month_index = np.where((month >= 1) & (month <= 12) & whole, month - 1, 12).astype(np.intp)
    days_in_month = _DAYS_IN_MONTH[month_index] + ((month_index == 1) & leap)
    good = whole & (year >= 1678) & (year <= 2261) & (day >= 1) & (day <= days_in_month)
    # March-based years put the leap day last.
    march = month <= 2
    y = year - march
    era = np.floor(y / 400)
    of_era = y - era * 400
    of_year = np.floor((153 * (month + np.where(march, 9, -3)) + 2) / 5) + day - 1
    days = era * 146097 + of_era * 365 + np.floor(of_era / 4) - np.floor(of_era / 100) + of_year - 719468
    return np.where(good, days, np.nan)

def _datetimes(parts: list[np.ndarray], ok: np.ndarray) -> np.ndarray:
    """year ... second as datetime64[ns], NaT where `ok` is false or they
    name no day; hours, minutes and seconds are added to the day as they
    are (an hour 24 is the next day's 0), as pandas does."""
    year, month, day = (np.where(ok, p, 1.0) for p in parts[:3])
    # Reports share few dates (a satellite pass, one): each is worked out once.
    if len(year) and (year == year[0]).all() and (month == month[0]).all() and (day == day[0]).all():
        days = np.repeat(_day_numbers(year[:1], month[:1], day[:1]), len(year))
    else:
        # Every date there is has a month and a day in 0..99, which the key keeps apart.
        keyed = (month >= 0) & (month < 100) & (day >= 0) & (day < 100)
        _, first, where = np.unique(np.where(keyed, year * 10000 + month * 100 + day, -1.0), return_index=True,
                                    return_inverse=True)
        days = np.where(keyed, _day_numbers(year[first], month[first], day[first])[where], np.nan)
    good = ok & ~np.isnan(days)
    clock = np.where(good, parts[3] * 3600 + parts[4] * 60 + parts[5], 0)
    nanos = np.where(good, days * 86400, 0).astype(np.int64) * 1_000_000_000 + np.round(clock * 1e9).astype(np.int64)
    times = nanos.view("datetime64[ns]")
    times[~good] = np.datetime64("NaT")
    return times

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
    times = _datetimes(parts, ok)
    return times, ok & ~np.isnat(times) & found("year")
