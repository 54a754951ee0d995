"""Where the columns of observation rows pass a filter, on their NumPy
arrays: only a callable filter, which is given a pandas Series, needs
pandas."""

from __future__ import annotations

from typing import Any

import numpy as np

from .column_kinds import Column, Nullable, missing_of, plain


def _passes(value: Any, wanted: Any) -> bool:
    """One present value against a value, a collection or a slice; a number
    asked of a text (or the other way round) does not pass."""
    try:
        if isinstance(wanted, slice):
            low, high = wanted.start, wanted.stop
            return bool((low is None or value >= low) and (high is None or value <= high))
        if isinstance(wanted, (list, tuple, set, frozenset)):
            return any(bool(value == w) for w in wanted)
        return bool(value == wanted)
    except TypeError:
        return False


def _comparable(values: np.ndarray, wanted: Any) -> Any:
    """`wanted` as the values' own type where they are times (a text or a
    datetime naming one)."""
    return np.datetime64(wanted) if values.dtype.kind == "M" and not isinstance(wanted, np.datetime64) else wanted


def _array_mask(values: np.ndarray, wanted: Any) -> np.ndarray:
    with np.errstate(invalid="ignore"):
        if isinstance(wanted, slice):
            keep = np.ones(len(values), bool)
            if wanted.start is not None:
                keep &= values >= _comparable(values, wanted.start)
            if wanted.stop is not None:
                keep &= values <= _comparable(values, wanted.stop)
            return keep
        if isinstance(wanted, (list, tuple, set, frozenset)):
            return np.isin(values, [_comparable(values, w) for w in wanted])
        return np.asarray(values == _comparable(values, wanted), bool)


def rows_passing(column: Column, wanted: Any) -> np.ndarray:
    """Where `column` passes one filter (a value, a collection of values, an
    inclusive slice or a callable); missing values never pass."""
    present = ~missing_of(column)
    column = plain(column)
    if callable(wanted):
        from .filters import series_mask
        from .optional import pandas

        pd = pandas()
        values = pd.arrays.IntegerArray(*column) if isinstance(column, Nullable) else column
        return series_mask(pd.Series(values, copy=False), wanted)
    values = column.values if isinstance(column, Nullable) else column
    if values.dtype == object:
        keep = np.fromiter((ok and _passes(v, wanted) for v, ok in zip(values, present)), bool, count=len(values))
    else:
        try:
            keep = np.broadcast_to(_array_mask(values, wanted), len(values))
        except (TypeError, ValueError):  # a text asked of numbers
            keep = np.zeros(len(values), bool)
    result: np.ndarray = keep & present
    return result
