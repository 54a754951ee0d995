"""The kinds of column that the routes without pandas hand around: NumPy
arrays (NaN, NaT or None where a value is missing), integers with a mask of
the missing ones, and codes into distinct texts; pandas' Int64 and
Categorical, Arrow's nulls and dictionaries, made of them as they are."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any, NamedTuple

import numpy as np


class Nullable(NamedTuple):
    """Integers and the rows where they are missing: pandas' Int64, Arrow's
    int64 with nulls."""

    values: np.ndarray
    missing: np.ndarray


Column = Any  # a NumPy array, a Nullable or a Coded


def rows_of(column: Column, keep: np.ndarray) -> Column:
    """The rows of `column` where `keep` holds."""
    if isinstance(column, Nullable):
        return Nullable(column.values[keep], column.missing[keep])
    return Coded(column.codes[keep], column.texts) if isinstance(column, Coded) else column[keep]


def missing_of(column: Column) -> np.ndarray:
    """Where `column` holds no value."""
    missing: np.ndarray
    if isinstance(column, Nullable):
        missing = column.missing
    elif column.dtype.kind == "f":
        missing = np.isnan(column)
    elif column.dtype.kind == "M":
        missing = np.isnat(column)
    elif column.dtype == object:
        missing = np.fromiter((v is None or v != v for v in column), bool, count=len(column))
    else:
        missing = np.zeros(len(column), bool)
    return missing



class Coded(NamedTuple):
    """A categorical column: codes into `texts`, -1 where missing."""

    codes: np.ndarray
    texts: Sequence[str]


def categorical(pd: Any, codes: np.ndarray, categories: Sequence[str]) -> Any:
    """Codes (-1 for none) into distinct texts as a pandas Categorical, the
    codes taken as they are: skyrec._native made them for these categories."""
    return pd.Categorical.from_codes(codes, categories=pd.Index(list(categories), dtype=object), validate=False)


def pandas_column(pd: Any, column: Column) -> Any:
    """A column as a frame holds it: Int64 for a Nullable, a Categorical for a Coded."""
    if isinstance(column, Nullable):
        return pd.arrays.IntegerArray(column.values, column.missing)
    if isinstance(column, Coded):
        return categorical(pd, column.codes, column.texts)
    return column
