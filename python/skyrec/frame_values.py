"""A table's column as the values of one element: parsed, converted to the
element's unit and checked against what its field holds, a whole column
at a time. A bad value becomes missing and a Problem says why."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from .frame_mapping import Problem
from .report_templates import WIGOS
from .templates import Element
from .units import UnitError, to_element_unit

if TYPE_CHECKING:
    import numpy as np
    import pandas as pd

__all__ = ["element_values", "time_values", "wigos_values"]


def _rows(series: pd.Series, bad: Any) -> list[tuple[Any, Any]]:
    return list(zip(series.index[bad].tolist(), series[bad].tolist()))


def _listed(numbers: np.ndarray, integers: bool) -> list[Any]:
    """Python numbers, None for NaN, without a Python test per value."""
    import numpy as np

    absent = np.isnan(numbers)
    out = (np.rint(np.where(absent, 0.0, numbers)).astype(np.int64) if integers else numbers).astype(object)
    out[absent] = None
    listed: list[Any] = out.tolist()
    return listed


# Keys whose fields hold more than the earth has.
LIMITS = {"latitude": (-90.0, 90.0), "longitude": (-180.0, 180.0)}


def element_values(series: pd.Series, element: Element, unit: str | None, column: str,
                   problems: list[Problem]) -> list[Any] | None:
    """The column's values for `element` (None missing), or None when the
    whole column cannot be written (an unknown unit)."""
    import numpy as np
    import pandas as pd

    given = series.notna().to_numpy()
    if element.kind == "text":
        if unit is not None:
            problems.append(Problem(None, column, unit, "a text takes no unit"))
            return None
        texts = series.astype(object).where(series.notna(), None)
        out = [None if v is None else str(v) for v in texts.tolist()]
        limit = element.width // 8
        for i, text in enumerate(out):
            if text is not None and len(text.encode("latin-1", "replace")) > limit:
                problems.append(Problem(series.index[i], column, text, f"longer than the {limit} characters "
                                        f"of {element.key}"))
                out[i] = None
        return out
    numbers = pd.to_numeric(series, errors="coerce").to_numpy(dtype=np.float64, na_value=np.nan)
    for row, value in _rows(series, given & np.isnan(numbers)):
        problems.append(Problem(row, column, value, "not a number"))
    if unit is not None:
        try:
            numbers = np.asarray(to_element_unit(numbers, unit, element.unit), dtype=np.float64)
        except UnitError as e:
            problems.append(Problem(None, column, unit, str(e)))
            return None
    low, high = element.low, element.high
    assert low is not None and high is not None
    if element.key in LIMITS:
        low, high = max(low, LIMITS[element.key][0]), min(high, LIMITS[element.key][1])
    scaled = np.round(numbers * 10.0 ** element.scale)
    lowest, highest = round(low * 10 ** element.scale), round(high * 10 ** element.scale)
    bad = (scaled < lowest) | (scaled > highest)
    if bad.any():
        shown = element.unit if unit is None else f"{element.unit}, from {unit}"
        for row, value in _rows(series, bad):
            problems.append(Problem(row, column, value, f"outside {low:g} to {high:g} ({shown}) of {element.key}"))
        numbers = np.where(bad, np.nan, numbers)
    return _listed(numbers, element.kind in ("code", "factor") or element.scale <= 0)


def time_values(series: pd.Series, column: str, problems: list[Problem]) -> dict[str, pd.Series]:
    """year to second of each time (naive times are UTC), missing when absent or bad."""
    import pandas as pd

    given = series.notna().to_numpy()
    if pd.api.types.is_datetime64_any_dtype(series):
        times = series
    else:
        times = pd.to_datetime(series.astype(object).where(series.notna(), None), errors="coerce", utc=True,
                               format="mixed")
    if getattr(times.dt, "tz", None) is not None:
        times = times.dt.tz_convert("UTC")
    for row, value in _rows(series, given & times.isna().to_numpy()):
        problems.append(Problem(row, column, value, "not a time"))
    return {part: getattr(times.dt, part) for part in ("year", "month", "day", "hour", "minute", "second")}


def wigos_values(series: pd.Series, column: str, problems: list[Problem]) -> dict[str, pd.Series]:
    """The four parts of identifiers written series-issuer-number-local (0-20000-0-06260)."""
    texts = series.astype(object)
    texts = texts.where(texts.map(lambda v: isinstance(v, str)), None).astype("string")
    parts = texts.str.extract(r"^(\d+)-(\d+)-(\d+)-(.+)$")
    for row, value in _rows(series, series.notna().to_numpy() & parts[0].isna().to_numpy()):
        problems.append(Problem(row, column, value, "not a WIGOS identifier (series-issuer-number-local)"))
    return dict(zip(WIGOS, (parts[i] for i in range(4))))
