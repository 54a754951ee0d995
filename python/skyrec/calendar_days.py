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
_DAYS_IN_MONTH = np.array([31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31, 0], float)


def _whole(*parts: np.ndarray) -> np.ndarray:
    whole: np.ndarray = np.logical_and.reduce([p == np.floor(p) for p in parts])
    return whole


def day_numbers(year: np.ndarray, month: np.ndarray, day: np.ndarray, years: tuple[int, int]) -> np.ndarray:
    """Days from 1970-01-01 of each date, NaN where it names none (a 31
    April, a month 13, a fraction) or its year lies outside `years` (first, last)."""
    leap = (year % 4 == 0) & ((year % 100 != 0) | (year % 400 == 0))
    month_index = np.where((month >= 1) & (month <= 12) & _whole(year, month, day), month - 1, 12).astype(np.intp)
    days_in_month = _DAYS_IN_MONTH[month_index] + ((month_index == 1) & leap)
    good = (month_index < 12) & (year >= years[0]) & (year <= years[1]) & (day >= 1) & (day <= days_in_month)
    # March-based years put the leap day last.
    march = month <= 2
    y = year - march
    era = np.floor(y / 400)
    of_era = y - era * 400
    of_year = np.floor((153 * (month + np.where(march, 9, -3)) + 2) / 5) + day - 1
    days = era * 146097 + of_era * 365 + np.floor(of_era / 4) - np.floor(of_era / 100) + of_year - 719468
    return np.where(good, days, np.nan)


def _dates(year: np.ndarray, month: np.ndarray, day: np.ndarray, years: tuple[int, int]) -> np.ndarray:
    # Messages and reports share few dates (a satellite pass, one): each is worked out once.
    if len(year) and (year == year[0]).all() and (month == month[0]).all() and (day == day[0]).all():
        return np.repeat(day_numbers(year[:1], month[:1], day[:1], years), len(year))
    # Every date there is has a whole month and day in 0..99, which the key keeps apart.
    keyed = _whole(year, month, day) & (month >= 0) & (month < 100) & (day >= 0) & (day < 100)
    _, first, where = np.unique(np.where(keyed, year * 10000 + month * 100 + day, -1.0), return_index=True,
                                return_inverse=True)
    days: np.ndarray = np.where(keyed, day_numbers(year[first], month[first], day[first], years)[where], np.nan)
    return days


def datetimes(parts: Sequence[np.ndarray], unit: str, *, rolls: bool, ok: np.ndarray | None = None) -> np.ndarray:
    """year, month, day, hour, minute, second as datetime64[`unit`], NaT
    where `ok` is false or they name no day of the years `unit` holds. With
    `rolls`, the clock is added to the day as it is (an hour 24 is the next
    day's 0, as pandas does); without, a clock past its day (an hour 24, a
    minute or second 60) is NaT."""
    year, month, day, hour, minute, second = (np.asarray(p, float) for p in parts)
    if ok is None:
        ok = np.ones(len(year), bool)
    days = _dates(np.where(ok, year, 1.0), np.where(ok, month, 1.0), np.where(ok, day, 1.0), YEARS[unit])
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
