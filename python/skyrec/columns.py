"""One message's values as NumPy arrays, one element per value.

Built by skyrec._native straight from the decoder's records: the arrays wrap
the module's buffers without copying, and names, units, texts and meanings
travel as integer codes into short lists of distinct texts.
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np

from .optional import pandas

if TYPE_CHECKING:
    import pandas as pd

    from ._native import NativeColumns
    from .wide_table import Wide

# The columns of message_dataframe and read_dataframe.
FRAME_COLUMNS = ("message", "subset", "descriptor", "name", "unit", "value", "raw", "text", "meaning", "key", "rank")
NO_CODE = -1
# (attribute, key in the native dict, dtype) of the per-value arrays.
NATIVE_ARRAYS = (("descriptor", "descriptor", np.uint32), ("value", "value", np.float64), ("raw", "raw", np.uint64),
                 ("raw_present", "raw_present", np.bool_), ("subset", "subset", np.uint32),
                 ("element_code", "element", np.int32), ("text_code", "text", np.int32),
                 ("meaning_code", "meaning", np.int32), ("rank", "rank", np.uint32))
NATIVE_CATEGORIES = (("names", "element_names"), ("units", "element_units"), ("texts", "texts"),
                     ("meanings", "meanings"), ("keys", "element_keys"))


def _decoded_texts(categories: tuple[str, ...], codes: np.ndarray) -> np.ndarray:
    # The None after the categories is what code -1 picks.
    lookup = np.empty(len(categories) + 1, dtype=object)
    lookup[:-1] = categories
    found: np.ndarray = lookup[codes]
    return found


def key_codes(keys: tuple[str, ...], element_codes: np.ndarray) -> tuple[np.ndarray, tuple[str, ...]]:
    """Per-value codes into the distinct keys of `keys` (one per name), -1
    where the name has none; and those distinct keys."""
    index: dict[str, int] = {}
    remap = np.array([index.setdefault(k, len(index)) if k else NO_CODE for k in keys] + [NO_CODE], np.int32)
    codes: np.ndarray = remap[element_codes]
    return codes, tuple(index)


@dataclass(eq=False, repr=False, slots=True, kw_only=True)
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
    element_code, text_code, meaning_code  int32 codes into names/units,
                texts and meanings; -1 where a value has no text or meaning
    subset_starts  int64, the index of each subset's first value
    rank        uint32   1 for the first value of its key in its subset, 2 for the
                         second, ... (ecCodes' "#rank#key"); 0 for unranked values:
                         operator markers, 205YYY texts, associated fields and
                         values without a key
    keys        one per name: the key of the entry that names it ('' for none)
    """

    descriptor: np.ndarray
    value: np.ndarray
    raw: np.ndarray
    raw_present: np.ndarray
    subset: np.ndarray
    element_code: np.ndarray
    text_code: np.ndarray
    meaning_code: np.ndarray
    subset_starts: np.ndarray
    names: tuple[str, ...]
    units: tuple[str, ...]
    texts: tuple[str, ...]
    meanings: tuple[str, ...]
    rank: np.ndarray
    keys: tuple[str, ...]

    @classmethod
    def from_native(cls, native: NativeColumns) -> Columns:
        """From the dict of skyrec._native.decode_columns."""
        d: Mapping[str, Any] = native
        arrays: dict[str, Any] = {name: np.frombuffer(d[key], dtype) for name, key, dtype in NATIVE_ARRAYS}
        texts: dict[str, Any] = {name: tuple(d[key]) for name, key in NATIVE_CATEGORIES}
        return cls(subset_starts=np.frombuffer(d["subset_starts"], np.uint64).astype(np.int64), **arrays, **texts)

    def __len__(self) -> int:
        return len(self.descriptor)

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
        return _decoded_texts(self.units, self.element_code)

    @property
    def key_code(self) -> np.ndarray:
        """Codes into key_categories, -1 where a value has no key."""
        return key_codes(self.keys, self.element_code)[0]

    @property
    def key_categories(self) -> tuple[str, ...]:
        return key_codes(self.keys, self.element_code[:0])[1]

    @property
    def key(self) -> np.ndarray:
        """The ecCodes key of each value (the abbreviation of its element;
        "operator", "text" and "associatedField" for markers, 205YYY texts and
        associated fields), None where the tables give none."""
        codes, categories = key_codes(self.keys, self.element_code)
        return _decoded_texts(categories, codes)

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
        return Columns(descriptor=self.descriptor[part], value=self.value[part], raw=self.raw[part],
                       raw_present=self.raw_present[part], subset=self.subset[part],
                       element_code=self.element_code[part], text_code=self.text_code[part],
                       meaning_code=self.meaning_code[part], subset_starts=np.zeros(1, np.int64), names=self.names,
                       units=self.units, texts=self.texts, meanings=self.meanings, rank=self.rank[part],
                       keys=self.keys)

    def subsets(self) -> list[Columns]:
        return [self.subset_columns(j) for j in range(self.subset_count)]

    def wide(self) -> Wide:
        """One row per subset, one column per value of a subset (skyrec.wide);
        ValueError when the subsets hold different descriptors."""
        from .wide_table import columns_wide

        return columns_wide(self)

    def to_wide_frame(self) -> pd.DataFrame:
        return self.wide().to_frame()

    def to_dataframe(self, message_index: int = 0) -> pd.DataFrame:
        """A pandas DataFrame, one row per value (needs pandas)."""
        return columns_frame([(message_index, self)])

    def __repr__(self) -> str:
        return f"Columns(values={len(self)}, subsets={self.subset_count})"


def merged_categorical(pd: Any, parts: list[tuple[np.ndarray, tuple[str, ...]]]) -> pd.Categorical:
    """One Categorical from per-message codes and category lists: equal texts
    get one code, whichever message or entry they came from."""
    index: dict[str, int] = {}
    codes = []
    for part_codes, categories in parts:
        remap = np.fromiter((index.setdefault(text, len(index)) for text in categories), np.int32,
                            count=len(categories))
        codes.append(np.append(remap, NO_CODE)[part_codes])  # -1 stays -1
    merged = np.concatenate(codes) if codes else np.zeros(0, np.int32)
    return pd.Categorical.from_codes(merged, categories=pd.Index(list(index), dtype=object))


def columns_frame(parts: Iterable[tuple[int, Columns]]) -> pd.DataFrame:
    """A DataFrame of (message index, Columns) pairs, rows in order (needs pandas)."""
    pd = pandas()
    parts = list(parts)

    def joined(attribute: str, dtype: Any) -> np.ndarray:
        arrays = [getattr(c, attribute) for _, c in parts]
        return np.concatenate(arrays) if arrays else np.zeros(0, dtype)

    raw = pd.arrays.IntegerArray(joined("raw", np.uint64), ~joined("raw_present", np.bool_))
    message = (np.concatenate([np.full(len(c), i, np.int64) for i, c in parts]) if parts
               else np.zeros(0, np.int64))
    frame = pd.DataFrame({
        "message": message,
        "subset": joined("subset", np.uint32),
        "descriptor": joined("descriptor", np.uint32),
        "name": merged_categorical(pd, [(c.element_code, c.names) for _, c in parts]),
        "unit": merged_categorical(pd, [(c.element_code, c.units) for _, c in parts]),
        "value": joined("value", np.float64),
        "raw": raw,
        "text": merged_categorical(pd, [(c.text_code, c.texts) for _, c in parts]),
        "meaning": merged_categorical(pd, [(c.meaning_code, c.meanings) for _, c in parts]),
        "key": merged_categorical(pd, [key_codes(c.keys, c.element_code) for _, c in parts]),
        "rank": joined("rank", np.uint32),
    }, copy=False)
    return frame
