"""One message as a wide table: one row per subset, one column per value
of a subset, what describes a column kept once per column (see skyrec.wide,
which reads them). skyrec._native lays them out: a compressed message's from
its walked columns (KeptColumns), an uncompressed one's as it decodes."""

from __future__ import annotations

from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from functools import partial
from typing import TYPE_CHECKING, Any, TypeVar

from .optional import needs

with needs("skyrec.wide", "numpy"):
    import numpy as np

from _skyrec import BufrMessage, TableSet

from . import _native
from .errors import MessageError
from .gts import Gts, Headed
from .optional import pandas

if TYPE_CHECKING:
    import pandas as pd

    from ._native import KeptColumns

__all__ = ["Details", "Wide"]

T = TypeVar("T")

# The raw integers and the meanings of code and flag table columns.
Details = tuple[np.ndarray, dict[int, np.ndarray]]


@dataclass(eq=False, repr=False, slots=True, kw_only=True)
class Wide(Headed):
    """One message as a wide table.

    values      float64 (subsets x columns): scaled numbers, NaN when missing
                and in character and operator-marker columns
    descriptor  uint32 per column
    names, units, keys  one per column (key None where the tables give none)
    rank        uint32 per column: of its key among the columns, from 1 ("#rank#key");
                0 for markers, 205YYY texts, associated fields and keyless values
    scale       int32 per column, the power of ten the number was divided by
                (None for an uncompressed message, which does not keep it per column)
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
    # What skyrec.encode writes it back with: the message it was read from and its tables.
    message: BufrMessage | None = field(default=None, repr=False)
    table_set: TableSet | None = field(default=None, repr=False)
    # Which message of a reading it is, and (errors="collect") why it has no table.
    index: int = 0
    offset: int = 0
    file: str | None = None
    error: MessageError | None = None
    gts: Gts | None = None  # the GTS bulletin heading before it, if any

    def with_gts(self, gts: Gts) -> Wide:
        """This table, read with the bulletin heading `gts` before its message."""
        self.gts = gts
        return self

    @classmethod
    def failed(cls, error: MessageError) -> Wide:
        """The empty table of a message that could not be read, `error` saying why."""
        return cls(values=np.empty((0, 0)), descriptor=np.empty(0, np.uint32), rank=np.empty(0, np.uint32),
                   scale=None, names=(), units=(), keys=(), texts={}, details_source=partial(_given, _NO_DETAILS),
                   details_made=_NO_DETAILS, index=error.index, offset=error.offset, file=error.file, error=error)

    @classmethod
    def from_kept(cls, kept: KeptColumns, message: BufrMessage, table_set: TableSet,
                  values: np.ndarray | None = None) -> Wide:
        """The wide table of a compressed message's kept columns (its numbers
        `values` where given, subsets x columns); raw integers and meanings
        laid out from them when first asked for."""
        return cls.laid_out(kept.wide(values is None), kept.details, message, table_set, values)

    @classmethod
    def decoded(cls, data: Any, start: int, message: BufrMessage, table_set: TableSet) -> Wide:
        """The wide table of the message framed at `start` of `data`, every
        part decoded at once; ValueError for an uncompressed message whose
        subsets hold different descriptors."""
        d = _native.decode_wide(data, start, message, table_set)
        return cls.laid_out(d, partial(_given, d), message, table_set)

    @classmethod
    def laid_out(cls, d: Mapping[str, Any], details: Callable[[], Mapping[str, Any]], message: BufrMessage,
                 table_set: TableSet, values: np.ndarray | None = None) -> Wide:
        """A Wide of skyrec._native's table `d`, its numbers `values` where
        given, its raw integers and meanings from `details` when first asked for."""
        subsets, columns = d["subsets"], d["columns"]
        if values is None:
            values = np.frombuffer(d["values"], np.float64).reshape(columns, subsets).T

        def made() -> Details:
            found = details()
            texts = text_array([*found["meaning_texts"], None])  # code -1 picks the None after the texts
            return (np.frombuffer(found["raw"], np.uint64).reshape(columns, subsets).T,
                    {c: texts[np.frombuffer(codes, np.int32)] for c, codes in found["meanings"]})

        # An uncompressed message keeps no scale per column: each value has its own.
        scale = np.frombuffer(d["scale"], np.int32) if message.compressed_data else None
        return cls(values=values, descriptor=np.frombuffer(d["descriptor"], np.uint32),
                   rank=np.frombuffer(d["rank"], np.uint32), scale=scale, names=tuple(d["names"]),
                   units=tuple(d["units"]), keys=tuple(k or None for k in d["keys"]),
                   texts={c: text_array(texts) for c, texts in d["texts"]}, details_source=made,
                   message=message, table_set=table_set)

    @property
    def ok(self) -> bool:
        return self.error is None

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
        if self.error is not None:
            return f"Wide(error={str(self.error)!r})"
        return f"Wide(subsets={self.subset_count}, columns={self.column_count})"

    def __reduce__(self) -> tuple[Any, tuple[Any, ...]]:
        # What makes the details later holds the message's bytes: they travel made.
        return _rebuilt, (self.values, self.descriptor, self.rank, self.scale, self.names, self.units, self.keys,
                          self.texts, self.details())


def text_array(texts: list[str | None]) -> np.ndarray:
    out = np.empty(len(texts), dtype=object)
    out[:] = texts
    return out


def _given(details: T) -> T:
    return details


_NO_DETAILS: Details = (np.empty((0, 0), np.uint64), {})


def _rebuilt(values: np.ndarray, descriptor: np.ndarray, rank: np.ndarray, scale: np.ndarray | None,
             names: tuple[str, ...], units: tuple[str, ...], keys: tuple[str | None, ...], texts: dict[int, np.ndarray],
             details: Details) -> Wide:
    return Wide(values=values, descriptor=descriptor, rank=rank, scale=scale, names=names, units=units, keys=keys,
                texts=texts, details_source=partial(_given, details), details_made=details)
