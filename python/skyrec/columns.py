"""One message's values as NumPy arrays, one element per value.

Decoded by skyrec._native as it decodes a block of many (see skyrec.blocks):
the arrays wrap its buffers without copying, typed by the buffers, and names,
units, texts, meanings and keys travel as integer codes into short tuples of
distinct texts. A compressed message is walked once and its columns kept:
its numbers are laid out at once, every other array on first access, and its
wide table from the same columns.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Generic, TypeVar, cast, overload

from .optional import needs

with needs("skyrec.columns", "numpy"):
    import numpy as np

from . import _native
from .column_kinds import Coded, Column, Nullable, categorical, pandas_column
from .known_keys import MARKER_KEY
from .optional import pandas
from .wide_table import Wide

if TYPE_CHECKING:
    import pandas as pd

    from _skyrec import BufrMessage, TableSet

    from ._native import KeptColumns, NativeColumns

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
# The native arrays that each part of a Columns is laid out with, with the
# other parts of the same arrays: meanings are looked up by raw value, so
# that both come from one unpacking.
_ALONE = {**NATIVE_ARRAYS, **{names: key for key, names in CODE_CATEGORIES.items()}}
LAID_OUT_WITH = {name: ("raw", "meaning") if key in ("raw", "raw_present", "meaning") else (key,)
                 for name, key in _ALONE.items()}


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


# Where a message's Columns were read from: bytes, start, message, tables.
Source = tuple[bytes, int, "BufrMessage", "TableSet"]
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
    and a maker of the others, which are then made on first access and kept.
    Columns read from a message keep it (`source`: bytes, start, message and
    tables) for wide().
    """

    __slots__ = ("parts", "maker", "wide_source", "source")

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
        self.source: Source | None = None

    @classmethod
    def made_by(cls, maker: Maker, source: Source, wide: Callable[[], Wide] | None = None, **known: Any) -> Columns:
        """Columns holding `known`, the other parts made by `maker` when first
        asked for, read from `source`; wide() made by `wide` where given."""
        columns = cls.__new__(cls)
        columns.parts, columns.maker, columns.wide_source, columns.source = dict(known), maker, wide, source
        return columns

    def __getstate__(self) -> tuple[dict[str, Any], Source | None]:
        # The maker holds the walked message: what it makes travels instead.
        return {name: self.part(name) for name in PARTS}, self.source

    def __setstate__(self, state: tuple[dict[str, Any], Source | None]) -> None:
        self.parts, self.source = state
        self.maker, self.wide_source = None, None

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
        parts = _native_parts(d, [*NATIVE_ARRAYS, *NATIVE_CATEGORIES])
        return cls(subset_starts=np.asarray(d["subset_starts"]).astype(np.int64), **parts)

    @classmethod
    def from_kept(cls, kept: KeptColumns, source: Source) -> Columns:
        """The Columns of a compressed message's kept columns, walked from
        `source`: the numbers laid out now, so that a message whose columns
        do not lie within its data fails here, the other parts on first access."""
        subsets, width = kept.subsets, kept.columns
        _, _, message, table_set = source

        def make(name: str) -> dict[str, Any]:
            if name == "subset_starts":
                return {name: np.arange(subsets, dtype=np.int64) * width}
            arrays = LAID_OUT_WITH[name]
            return _native_parts(kept.long(arrays), {part for part, key in LAID_OUT_WITH.items() if key == arrays})

        value = make("value")["value"]
        # The wide table's rows are views of the numbers in long order.
        rows = value.reshape(subsets, width)
        return cls.made_by(make, source, lambda: Wide.from_kept(kept, message, table_set, rows), value=value)

    def __len__(self) -> int:
        return len(self.value)

    @property
    def subset_count(self) -> int:
        return len(self.subset_starts)

    @property
    def missing(self) -> np.ndarray:
        """True where a value is missing: a number that is (raw_value None in
        the flat list) or a text whose bytes are all 0xFF. Texts and operator
        markers (the core keys them MARKER_KEY) have no number, yet are not missing."""
        marker = np.isin(self.key_code, [code for code, key in enumerate(self.keys) if key == MARKER_KEY])
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
        """One row per subset, one column per value of a subset (skyrec.wide),
        laid out from the message these columns were read from; ValueError
        when the subsets hold different descriptors, or for columns not read
        from a message."""
        if self.wide_source is not None:
            return self.wide_source()
        if self.source is None:
            raise ValueError("these columns were not read from a message: they have no wide table")
        return Wide.decoded(*self.source)

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


def _native_parts(d: Mapping[str, Any], parts: Iterable[str]) -> dict[str, Any]:
    """The parts `parts` of a Columns from a dict of skyrec._native's value columns."""
    return {name: tuple(d[name]) if name in NATIVE_CATEGORIES else np.asarray(d[NATIVE_ARRAYS[name]])
            for name in parts}


def message_columns(data: Any, start: int, message: BufrMessage, tables: TableSet, threads: int = 1) -> Columns:
    """The Columns of the message framed at `start` of `data`; a buffer that
    may change or close (bytearray, mmap, ...) is copied for what is laid out
    later. A compressed message's wide table unpacks with up to `threads` threads."""
    if not isinstance(data, bytes):
        data, start = bytes(memoryview(data)[start:start + message.total_length]), 0
    source = (data, start, message, tables)
    if message.compressed_data:
        return Columns.from_kept(_native.keep_columns(*source, threads=threads), source)
    columns = Columns.from_native(_native.decode_columns(*source))
    columns.source = source
    return columns


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
