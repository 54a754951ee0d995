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


class Coded(NamedTuple):
    """A categorical column: codes into `texts`, -1 where missing."""

    codes: np.ndarray
    texts: Sequence[str]


class Texts(NamedTuple):
    """Plain texts given as codes into the distinct ones, -1 where missing:
    a frame holds them as objects, Arrow decodes them from a dictionary."""

    codes: np.ndarray
    texts: Sequence[str]

    def decoded(self) -> np.ndarray:
        lookup = np.empty(len(self.texts) + 1, dtype=object)  # the None last is what code -1 picks
        lookup[:-1] = self.texts
        found: np.ndarray = lookup[self.codes]
        return found


Column = Any  # a NumPy array, a Nullable, a Coded or Texts


def rows_of(column: Column, keep: np.ndarray) -> Column:
    """The rows of `column` where `keep` holds."""
    if isinstance(column, Nullable):
        return Nullable(column.values[keep], column.missing[keep])
    if isinstance(column, (Coded, Texts)):
        return type(column)(column.codes[keep], column.texts)
    return column[keep]


def plain(column: Column) -> Any:
    """Texts as the object array they stand for; other columns as they are."""
    return column.decoded() if isinstance(column, Texts) else column


def missing_of(column: Column) -> np.ndarray:
    """Where `column` holds no value."""
    missing: np.ndarray
    if isinstance(column, Nullable):
        missing = column.missing
    elif isinstance(column, (Coded, Texts)):
        missing = column.codes < 0
    elif column.dtype.kind == "f":
        missing = np.isnan(column)
    elif column.dtype.kind == "M":
        missing = np.isnat(column)
    elif column.dtype == object:
        missing = np.fromiter((v is None or v != v for v in column), bool, count=len(column))
    else:
        missing = np.zeros(len(column), bool)
    return missing


def categorical(pd: Any, codes: np.ndarray, categories: Sequence[str]) -> Any:
    """Codes (-1 for none) into distinct texts as a pandas Categorical, the
    codes taken as they are: skyrec._native made them for these categories."""
    return pd.Categorical.from_codes(codes, categories=pd.Index(list(categories), dtype=object), validate=False)


def pandas_column(pd: Any, column: Column) -> Any:
    """A column as a frame holds it: Int64 for a Nullable, a Categorical for
    a Coded, objects for Texts."""
    if isinstance(column, Nullable):
        return pd.arrays.IntegerArray(column.values, column.missing)
    if isinstance(column, Coded):
        return categorical(pd, column.codes, column.texts)
    return plain(column)
