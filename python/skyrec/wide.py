"""Compressed messages as wide tables: one row per subset, one column per
element occurrence, the numbers in one 2-D float64 array.

    for wide in skyrec.read_wide("hirs.bufr"):
        wide.values            # subsets x columns, Fortran order
        wide.to_frame()        # columns labelled "#rank#key"

A compressed message holds its data column by column, so its wide table is
made by unpacking each column straight into its place; what describes a
column (descriptor, name, unit, key, rank, scale) is kept once per column.
An uncompressed message has a wide table only when every subset holds the
same descriptors in the same order (Columns.wide); otherwise ValueError.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator, Mapping
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

import numpy as np

from _skyrec import BufrMessage, TableSet

from . import _native
from .errors import DecodeError, MessageError
from .optional import pandas
from .reader import NO_MEMORY, Source, found_messages
from .sources import check_bytes_source
from .tables import find_tables, message_key

if TYPE_CHECKING:
    import pandas as pd

    from .columns import Columns

__all__ = ["Wide", "message_wide", "read_wide", "set_threads", "threads"]


def set_threads(count: int | None = None) -> None:
    """The threads that unpack the columns of a large compressed message:
    `count`, or os.cpu_count() when None. Small messages take one."""
    _native.set_wide_threads(count if count is not None else os.cpu_count() or 1)


def threads() -> int:
    return int(_native.wide_threads())


set_threads()


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
    """

    values: np.ndarray
    descriptor: np.ndarray
    rank: np.ndarray
    scale: np.ndarray | None
    names: tuple[str, ...]
    units: tuple[str, ...]
    keys: tuple[str | None, ...]
    texts: dict[int, np.ndarray]
    raw_source: Callable[[], np.ndarray] = field(repr=False)
    raw_made: np.ndarray | None = None

    @property
    def subset_count(self) -> int:
        return int(self.values.shape[0])

    @property
    def column_count(self) -> int:
        return int(self.values.shape[1])

    @property
    def raw(self) -> np.ndarray:
        if self.raw_made is None:
            self.raw_made = self.raw_source()
        return self.raw_made

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


def _text_array(texts: list[str | None]) -> np.ndarray:
    out = np.empty(len(texts), dtype=object)
    out[:] = texts
    return out


def message_wide(data: Any, start: int, message: BufrMessage, tables: TableSet) -> Wide:
    """The compressed message framed at `start` of `data` as a Wide; its raw
    integers are decoded again when first asked for."""
    d: Mapping[str, Any] = _native.decode_wide(data, start, message, tables)
    subsets, columns = d["subsets"], d["columns"]

    def raw() -> np.ndarray:
        again: Mapping[str, Any] = _native.decode_wide(data, start, message, tables, True)
        return np.frombuffer(again["raw"], np.uint64).reshape(columns, subsets).T

    return Wide(values=np.frombuffer(d["values"], np.float64).reshape(columns, subsets).T,
                descriptor=np.frombuffer(d["descriptor"], np.uint32), rank=np.frombuffer(d["rank"], np.uint32),
                scale=np.frombuffer(d["scale"], np.int32), names=tuple(d["names"]), units=tuple(d["units"]),
                keys=tuple(k or None for k in d["keys"]),
                texts={c: _text_array(texts) for c, texts in d["texts"]}, raw_source=raw)


def columns_wide(columns: Columns) -> Wide:
    """`columns` as a Wide, when every subset holds the same descriptors in
    the same order; ValueError otherwise."""
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
    keys = [columns.keys[e] or None for e in element.tolist()]
    return Wide(values=columns.value.reshape(subsets, width), descriptor=descriptor[0].copy(),
                rank=columns.rank[first].copy(), scale=None, names=tuple(columns.names[e] for e in element.tolist()),
                units=tuple(columns.units[e] for e in element.tolist()), keys=tuple(keys),
                texts={c: text[:, c] for c in np.flatnonzero(character).tolist()},
                raw_made=columns.raw.reshape(subsets, width), raw_source=lambda: columns.raw.reshape(subsets, width))


def read_wide(source: Source, **table_source: Any) -> Iterator[Wide]:
    """Every message of `source` as a Wide, in order. A message that cannot
    be decoded, or that has no wide table (uncompressed, its subsets
    differing), raises MessageError. Keyword arguments choose the tables as
    in read_messages."""
    check_bytes_source(source)
    tables = find_tables(table_source.pop("tables", None), **table_source)
    with found_messages(source) as messages:
        for index, found in enumerate(messages):
            offset = found.offset
            if found.error is not None:
                raise MessageError(found.error, index, offset)
            message = found.message
            assert message is not None
            try:
                table_set = tables.for_message(message)
                if message.compressed_data:
                    yield message_wide(found.data, found.start, message, table_set)
                    continue
                from .columns import Columns

                columns = Columns.from_native(_native.decode_columns(found.data, found.start, message, table_set))
                wide = columns_wide(columns)
            except DecodeError as e:
                raise MessageError(tables.explain(message_key(message), e.reason), index, offset, e.where) from None
            except MemoryError:
                raise MessageError(NO_MEMORY, index, offset) from None
            except ValueError as e:
                raise MessageError(str(e), index, offset) from None
            yield wide
