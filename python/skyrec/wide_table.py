"""One message as a wide table: one row per subset, one column per value
of a subset, what describes a column kept once per column (see skyrec.wide,
which makes them)."""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass, field
from typing import TYPE_CHECKING

import numpy as np

from .optional import pandas

if TYPE_CHECKING:
    import pandas as pd

    from .columns import Columns

__all__ = ["Details", "Wide", "columns_wide"]

# The raw integers and the meanings of code and flag table columns.
Details = tuple[np.ndarray, dict[int, np.ndarray]]


@dataclass(eq=False, repr=False, slots=True, kw_only=True)
class Wide:
    """One message as a wide table.

    values      float64 (subsets x columns): scaled numbers, NaN when missing
                and in character and operator-marker columns
    descriptor  uint32 per column
    names, units, keys  one per column (key None where the tables give none)
    rank        uint32 per column: of its key among the columns, from 1 ("#rank#key");
                0 for markers, 205YYY texts, associated fields and keyless values
    scale       int32 per column, the power of ten the number was divided by
                (None when made from Columns, which do not keep it)
    texts       {column: object array of str or None per subset} for character columns
    raw         uint64 (subsets x columns), made on first use: raw integers,
                R0 where a compressed value is missing, 0 where a column holds no number
    meanings    {column: object array of str or None per subset} for code and flag
                table columns, made on first use with raw
    """

    values: np.ndarray
    descriptor: np.ndarray
    rank: np.ndarray
    scale: np.ndarray | None
    names: tuple[str, ...]
    units: tuple[str, ...]
    keys: tuple[str | None, ...]
    texts: dict[int, np.ndarray]
    details_source: Callable[[], Details] = field(repr=False)
    details_made: Details | None = None

    @property
    def subset_count(self) -> int:
        return int(self.values.shape[0])

    @property
    def column_count(self) -> int:
        return int(self.values.shape[1])

    def details(self) -> Details:
        if self.details_made is None:
            self.details_made = self.details_source()
        return self.details_made

    @property
    def raw(self) -> np.ndarray:
        return self.details()[0]

    @property
    def meanings(self) -> dict[int, np.ndarray]:
        return self.details()[1]

    @property
    def labels(self) -> list[str]:
        """Column labels: "#rank#key" for ranked keys, else the descriptor
        code (six digits); a label met again gets ".1", ".2", ..."""
        seen: dict[str, int] = {}
        labels = []
        for code, key, rank in zip(self.descriptor.tolist(), self.keys, self.rank.tolist()):
            label = f"#{rank}#{key}" if key and rank else f"{code:06d}"
            count = seen.get(label, 0)
            seen[label] = count + 1
            labels.append(f"{label}.{count}" if count else label)
        return labels

    def to_frame(self) -> pd.DataFrame:
        """A pandas DataFrame, one row per subset, one column per column
        (texts as object columns) labelled as `labels` (needs pandas)."""
        pd = pandas()
        data = {label: self.texts[c] if c in self.texts else self.values[:, c]
                for c, label in enumerate(self.labels)}
        return pd.DataFrame(data, copy=False)

    def __repr__(self) -> str:
        return f"Wide(subsets={self.subset_count}, columns={self.column_count})"


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
    marker = (descriptor[0] // 100000 == 2) & (descriptor[0] // 1000 % 100 != 5)
    character = ~columns.raw_present[first] & ~marker
    text = columns.text.reshape(subsets, width)
    meaning = columns.meaning.reshape(subsets, width)
    details = (columns.raw.reshape(subsets, width),
               {c: meaning[:, c] for c in np.flatnonzero((columns.meaning_code.reshape(subsets, width) >= 0)
                                                         .any(axis=0)).tolist()})
    keys = [columns.keys[k] or None if k >= 0 else None for k in columns.key_code[first].tolist()]
    return Wide(values=columns.value.reshape(subsets, width), descriptor=descriptor[0].copy(),
                rank=columns.rank[first].copy(), scale=None, names=tuple(columns.names[e] for e in element.tolist()),
                units=tuple(columns.units[u] for u in columns.unit_code[first].tolist()), keys=tuple(keys),
                texts={c: text[:, c] for c in np.flatnonzero(character).tolist()},
                details_made=details, details_source=lambda: details)
