"""One message's values as NumPy arrays, one element per value.

Decoded by skyrec._native as it decodes a block of many (see skyrec.blocks):
the arrays wrap its buffers without copying, typed by the buffers, and names,
units, texts, meanings and keys travel as integer codes into short tuples of
distinct texts.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Generic, TypeVar, cast, overload

from .optional import needs

with needs("skyrec.columns", "numpy"):
    import numpy as np

from . import _native
from .column_kinds import Coded, Column, Nullable, categorical, pandas_column
from .optional import pandas
from .wide_table import Wide

if TYPE_CHECKING:
    import pandas as pd

    from ._native import NativeColumns

# The columns of message_dataframe and read_dataframe.
FRAME_COLUMNS = ("message", "subset", "descriptor", "name", "unit", "value", "raw", "text", "meaning", "key", "rank")
NO_CODE = -1
# Columns' attribute for each per-value column of skyrec._native's results
# (decode_columns and decode_block name them alike).
NATIVE_ARRAYS = {"descriptor": "descriptor", "value": "value", "raw": "raw", "raw_present": "raw_present",
                 "subset": "subset", "element_code": "name", "unit_code": "unit", "text_code": "text",
                 "meaning_code": "meaning", "key_code": "key", "rank": "rank"}
NATIVE_CATEGORIES = ("names", "units", "texts", "meanings", "keys")
# The category list that each code column of skyrec._native's results indexes.
CODE_CATEGORIES = {"name": "names", "unit": "units", "text": "texts", "meaning": "meanings", "key": "keys"}
# Every part of a Columns.
PARTS = {*NATIVE_ARRAYS, *NATIVE_CATEGORIES, "subset_starts"}


def _decoded_texts(categories: tuple[str, ...], codes: np.ndarray) -> np.ndarray:
    # The None after the categories is what code -1 picks.
    lookup = np.empty(len(categories) + 1, dtype=object)
    lookup[:-1] = categories
    found: np.ndarray = lookup[codes]
    return found


def value_columns(native: Mapping[str, Any], names: Sequence[str] = FRAME_COLUMNS[1:]) -> dict[str, Column]:
    """The frame columns `names` (of subset to rank, in that order) of a
    skyrec._native result (decode_block's or decode_columns'), its arrays
    wrapped as they are: texts as Coded, raw as Nullable."""
    columns: dict[str, Column] = {}
    for name in names:
        if name in CODE_CATEGORIES:
            columns[name] = Coded(np.asarray(native[name]), native[CODE_CATEGORIES[name]])
        elif name == "raw":
            columns[name] = Nullable(np.asarray(native["raw"]), ~np.asarray(native["raw_present"]))
        else:
            columns[name] = np.asarray(native[name])
    return columns


def value_frame_columns(pd: Any, native: Mapping[str, Any],
                        names: Sequence[str] = FRAME_COLUMNS[1:]) -> dict[str, Any]:
    """value_columns as the frame holds them."""
    return {name: pandas_column(pd, column) for name, column in value_columns(native, names).items()}


T = TypeVar("T")


class _Part(Generic[T]):
    """An attribute of Columns, kept in its dict of parts and, for columns
    derived from a wide decode, made on first access."""

    name = ""

    def __set_name__(self, owner: type, name: str) -> None:
        self.name = name

    @overload
    def __get__(self, columns: None, owner: type) -> _Part[T]: ...
    @overload
    def __get__(self, columns: Columns, owner: type) -> T: ...
    def __get__(self, columns: Columns | None, owner: type) -> _Part[T] | T:
        if columns is None:
            return self
        return cast(T, columns.part(self.name))

    def __set__(self, columns: Columns, value: T) -> None:
        columns.parts[self.name] = value


# What makes the parts of a Columns that it was not given: called with the
# name of one, it returns that part and any made with it.
Maker = Callable[[str], dict[str, Any]]


class Columns:
    """The values of one message, subset after subset, as the flat list of
    _skyrec orders them.

    descriptor  uint32   descriptor code
    value       float64  scaled value (raw_value of the flat list), NaN when missing
                         and for character data and operator markers
    raw         uint64   raw integer, 0 where raw_present is False
    raw_present bool     False for character data and operator markers
    texts       without their trailing NUL and blank padding
    subset      uint32   0-based subset index
    element_code, unit_code, text_code, meaning_code, key_code
                int32 codes into names, units, texts, meanings and keys, each a
                tuple of distinct texts; -1 where a value has no text, meaning
                or key
    subset_starts  int64, the index of each subset's first value
    rank        uint32   1 for the first value of its key in its subset, 2 for the
                         second, ... (ecCodes' "#rank#key"); 0 for unranked values:
                         operator markers, 205YYY texts, associated fields and
                         values without a key

    Built with every part given as a keyword, or (made_by) with some of them
    and a maker of the others, which are then made on first access and kept,
    and perhaps a maker of the Wide that wide() gives.
    """

    __slots__ = ("parts", "maker", "wide_source")

    descriptor = _Part[np.ndarray]()
    value = _Part[np.ndarray]()
    raw = _Part[np.ndarray]()
    raw_present = _Part[np.ndarray]()
    subset = _Part[np.ndarray]()
    element_code = _Part[np.ndarray]()
    unit_code = _Part[np.ndarray]()
    text_code = _Part[np.ndarray]()
    meaning_code = _Part[np.ndarray]()
    key_code = _Part[np.ndarray]()
    subset_starts = _Part[np.ndarray]()
    names = _Part[tuple[str, ...]]()
    units = _Part[tuple[str, ...]]()
    texts = _Part[tuple[str, ...]]()
    meanings = _Part[tuple[str, ...]]()
    rank = _Part[np.ndarray]()
    keys = _Part[tuple[str, ...]]()

    def __init__(self, **parts: Any) -> None:
        if parts.keys() != PARTS:
            raise TypeError(f"Columns needs the parts {', '.join(sorted(PARTS))}; "
                            f"missing {sorted(PARTS - parts.keys())}, unknown {sorted(parts.keys() - PARTS)}")
        self.parts: dict[str, Any] = parts
        self.maker: Maker | None = None
        self.wide_source: Callable[[], Wide] | None = None

    @classmethod
    def made_by(cls, maker: Maker, wide: Callable[[], Wide] | None = None, **known: Any) -> Columns:
        """Columns holding `known`, the other parts made by `maker` when first
        asked for; wide() made by `wide` where given."""
        columns = cls.__new__(cls)
        columns.parts, columns.maker, columns.wide_source = dict(known), maker, wide
        return columns

    def __getstate__(self) -> dict[str, Any]:
        # The maker holds the message: what it makes travels instead.
        return {name: self.part(name) for name in PARTS}

    def __setstate__(self, parts: dict[str, Any]) -> None:
        self.parts, self.maker, self.wide_source = parts, None, None

    def part(self, name: str) -> Any:
        found = self.parts.get(name, self)
        if found is self:
            if self.maker is None:
                raise AttributeError(name)
            made = self.maker(name)
            self.parts.update(made)
            found = made[name]
        return found

    @classmethod
    def from_native(cls, native: NativeColumns) -> Columns:
        """From the dict of skyrec._native.decode_columns."""
        d: Mapping[str, Any] = native
        arrays: dict[str, Any] = {name: np.asarray(d[key]) for name, key in NATIVE_ARRAYS.items()}
        texts: dict[str, Any] = {name: tuple(d[name]) for name in NATIVE_CATEGORIES}
        return cls(subset_starts=np.asarray(d["subset_starts"]).astype(np.int64), **arrays, **texts)

    def __len__(self) -> int:
        return len(self.value)

    @property
    def subset_count(self) -> int:
        return len(self.subset_starts)

    @property
    def missing(self) -> np.ndarray:
        """True where a value is missing: a number that is (raw_value None in
        the flat list) or a text whose bytes are all 0xFF. Texts and operator
        markers have no number, yet are not missing."""
        marker = (self.descriptor // 100000 == 2) & (self.descriptor // 1000 % 100 != 5)
        missing: np.ndarray = np.isnan(self.value) & (self.text_code == NO_CODE) & ~marker
        return missing

    @property
    def name(self) -> np.ndarray:
        return _decoded_texts(self.names, self.element_code)

    @property
    def unit(self) -> np.ndarray:
        return _decoded_texts(self.units, self.unit_code)

    @property
    def key_categories(self) -> tuple[str, ...]:
        """What key_code indexes: keys."""
        return self.keys

    @property
    def key(self) -> np.ndarray:
        """The ecCodes key of each value (the abbreviation of its element;
        "operator", "text" and "associatedField" for markers, 205YYY texts and
        associated fields), None where the tables give none."""
        return _decoded_texts(self.keys, self.key_code)

    @property
    def text(self) -> np.ndarray:
        """Character data as str, None for other values."""
        return _decoded_texts(self.texts, self.text_code)

    @property
    def meaning(self) -> np.ndarray:
        """Code-table meanings as str, None where there is none."""
        return _decoded_texts(self.meanings, self.meaning_code)

    def subset_bounds(self, j: int) -> tuple[int, int]:
        """Where subset `j` lies: values[start:end]."""
        if not -self.subset_count <= j < self.subset_count:
            raise IndexError(f"subset {j} out of range (the message has {self.subset_count})")
        j %= self.subset_count
        end = int(self.subset_starts[j + 1]) if j + 1 < self.subset_count else len(self)
        return int(self.subset_starts[j]), end

    def subset_columns(self, j: int) -> Columns:
        """Subset `j` alone, as views of these arrays (its own subset_starts is [0])."""
        start, end = self.subset_bounds(j)
        part = slice(start, end)
        arrays = {name: getattr(self, name)[part] for name in NATIVE_ARRAYS}
        texts = {name: getattr(self, name) for name in NATIVE_CATEGORIES}
        return Columns(subset_starts=np.zeros(1, np.int64), **arrays, **texts)

    def subsets(self) -> list[Columns]:
        return [self.subset_columns(j) for j in range(self.subset_count)]

    def wide(self) -> Wide:
        """One row per subset, one column per value of a subset (skyrec.wide);
        ValueError when the subsets hold different descriptors."""
        return columns_wide(self) if self.wide_source is None else self.wide_source()

    def to_wide_frame(self) -> pd.DataFrame:
        return self.wide().to_frame()

    def native(self) -> dict[str, Any]:
        """These columns by the names of skyrec._native's results."""
        native: dict[str, Any] = {key: getattr(self, name) for name, key in NATIVE_ARRAYS.items()}
        native.update((name, getattr(self, name)) for name in NATIVE_CATEGORIES)
        return native

    def to_dataframe(self, message_index: int = 0) -> pd.DataFrame:
        """A pandas DataFrame, one row per value (needs pandas)."""
        return columns_frame([(message_index, self)])

    def __repr__(self) -> str:
        return f"Columns(values={len(self)}, subsets={self.subset_count})"


def columns_frame(parts: Iterable[tuple[int, Columns]]) -> pd.DataFrame:
    """A DataFrame of (message index, Columns) pairs, rows in order (needs
    pandas): arrays of its own, and the categories of several messages
    joined by pandas."""
    pd = pandas()
    parts = list(parts)
    natives: list[Mapping[str, Any]] = [c.native() for _, c in parts] or [_native.decode_block([])]
    joined: dict[str, Any] = {key: np.concatenate([np.asarray(n[key]) for n in natives])
                              for key in NATIVE_ARRAYS.values() if key not in CODE_CATEGORIES}
    for key, categories in CODE_CATEGORIES.items():
        union = pd.api.types.union_categoricals([categorical(pd, np.asarray(n[key]), n[categories]) for n in natives])
        joined[key], joined[categories] = union.codes, union.categories
    message = np.concatenate([np.full(len(c), i, np.int64) for i, c in parts] or [np.zeros(0, np.int64)])
    return pd.DataFrame({"message": message, **value_frame_columns(pd, joined)}, copy=False)


def columns_wide(columns: Columns) -> Wide:
    """`columns` as a Wide, when every subset holds the same descriptors in the same order;
    ValueError otherwise."""
    subsets = columns.subset_count
    width = len(columns) // subsets if subsets else 0
    descriptor = columns.descriptor.reshape(subsets, width) if subsets * width == len(columns) else None
    if (descriptor is None or not np.array_equal(columns.subset_starts, np.arange(subsets) * width)
            or not (descriptor == descriptor[:1]).all()):
        raise ValueError("the subsets hold different descriptors: the message has no wide table")
    first = slice(0, width)
    element = columns.element_code[first]
    head = columns.descriptor[first]  # without subsets, no columns
    marker = (head // 100000 == 2) & (head // 1000 % 100 != 5)
    character = ~columns.raw_present[first] & ~marker
    text = columns.text.reshape(subsets, width)
    meaning = columns.meaning.reshape(subsets, width)
    details = (columns.raw.reshape(subsets, width),
               {c: meaning[:, c] for c in np.flatnonzero((columns.meaning_code.reshape(subsets, width) >= 0)
                                                         .any(axis=0)).tolist()})
    keys = [columns.keys[k] or None if k >= 0 else None for k in columns.key_code[first].tolist()]
    return Wide(values=columns.value.reshape(subsets, width), descriptor=head.copy(),
                rank=columns.rank[first].copy(), scale=None, names=tuple(columns.names[e] for e in element.tolist()),
                units=tuple(columns.units[u] for u in columns.unit_code[first].tolist()), keys=tuple(keys),
                texts={c: text[:, c] for c in np.flatnonzero(character).tolist()},
                details_made=details, details_source=lambda: details)
