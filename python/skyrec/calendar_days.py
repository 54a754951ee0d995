"""The package's one calendar: days from 1970-01-01 of a year, month and day
(proleptic Gregorian), NaN where they name no day, and the datetimes they
start. Section 1's typical times (whole numbers, datetime64[s]) and the data
keys' times (floats, datetime64[ns]) both come from here: they differ in the
unit, so in the years it holds, and in what a clock past its day means."""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np

# The whole years each unit holds: [ns] reaches from 1677-09-21 to
# 2262-04-11; [s] the years that datetime64 strings and Timestamps take.
YEARS = {"s": (1, 9999), "ns": (1678, 2261)}
_PER_SECOND = {"s": 1, "ns": 1_000_000_000}


def _whole(*parts: np.ndarray) -> np.ndarray:
    whole: np.ndarray = np.logical_and.reduce([p == np.floor(p) for p in parts])
    return whole


def _first_days(months: np.ndarray) -> np.ndarray:
    """Days from 1970-01-01 of the first day of each month counted from January 1970."""
    first: np.ndarray = months.astype("datetime64[M]").astype("datetime64[D]").astype(np.int64)
    return first


def day_numbers(year: np.ndarray, month: np.ndarray, day: np.ndarray, years: tuple[int, int]) -> np.ndarray:
    """Days from 1970-01-01 of each date, NaN where it names none (a 31
    April, a month 13, a fraction) or its year lies outside `years` (first, last)."""
    # Reports often share one date (a satellite pass): it is worked out once.
    if len(year) > 1 and (year == year[0]).all() and (month == month[0]).all() and (day == day[0]).all():
        return np.repeat(day_numbers(year[:1], month[:1], day[:1], years), len(year))
    good = _whole(year, month, day) & (year >= years[0]) & (year <= years[1]) & (month >= 1) & (month <= 12)
    # Only good dates are counted: the others could be anything, infinities included.
    months = ((np.where(good, year, 1970) - 1970) * 12 + np.where(good, month, 1) - 1).astype(np.int64)
    first = _first_days(months)
    good &= (day >= 1) & (day <= _first_days(months + 1) - first)
    return np.where(good, first + day - 1, np.nan)


def datetimes(parts: Sequence[np.ndarray], unit: str, *, rolls: bool, ok: np.ndarray | None = None) -> np.ndarray:
    """year, month, day, hour, minute, second as datetime64[`unit`], NaT
    where `ok` is false or they name no day of the years `unit` holds. With
    `rolls`, the clock is added to the day as it is (an hour 24 is the next
    day's 0, as pandas does); without, a clock past its day (an hour 24, a
    minute or second 60) is NaT."""
    year, month, day, hour, minute, second = (np.asarray(p, float) for p in parts)
    if ok is None:
        ok = np.ones(len(year), bool)
    days = day_numbers(year, month, day, YEARS[unit])
    good = ok & ~np.isnan(days)
    if not rolls:
        good &= (hour < 24) & (minute < 60) & (second < 60)
    per_second = _PER_SECOND[unit]
    clock = np.where(good, hour * 3600 + minute * 60 + second, 0)
    ticks = np.where(good, days * 86400, 0).astype(np.int64) * per_second
    ticks += np.round(clock * per_second).astype(np.int64)
    times = ticks.view(f"datetime64[{unit}]")
    times[~good] = np.datetime64("NaT")
    return times
