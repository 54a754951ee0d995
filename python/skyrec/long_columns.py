"""A message's Columns; a compressed one's derived from its wide decode
(skyrec.wide): its numbers put in long order at once, every other array made
on first access from what that decode keeps once per column, and texts and
meanings numbered in the order a long decode meets them, so that the result
is the one decode_columns gives. Its Wide comes from the same decode."""

from __future__ import annotations

from collections.abc import Callable, Iterable, Mapping
from typing import Any

from .optional import needs

with needs("skyrec.columns", "numpy"):
    import numpy as np

from _skyrec import BufrMessage, TableSet

from . import _native
from .columns import Columns
from .wide_table import Details, Wide


def held(data: Any, start: int, message: BufrMessage) -> tuple[Any, int]:
    """`data` and `start` to decode the message again later: bytes as they
    are, a buffer that may change or close (bytearray, mmap, ...) copied."""
    if isinstance(data, bytes):
        return data, start
    return bytes(memoryview(data)[start:start + message.total_length]), 0


def _text_array(texts: list[str | None]) -> np.ndarray:
    out = np.empty(len(texts), dtype=object)
    out[:] = texts
    return out


def decoded_wide(d: Mapping[str, Any], kept: Any, kept_start: int, message: BufrMessage, tables: TableSet,
                 values: np.ndarray | None = None) -> Wide:
    """The Wide of what decode_wide gave for `message` (its numbers `values`
    where given, subsets x columns); raw integers and meanings decoded again
    from `kept` (see held) when first asked for."""
    subsets, columns = d["subsets"], d["columns"]
    if values is None:
        values = np.frombuffer(d["values"], np.float64).reshape(columns, subsets).T

    def details() -> Details:
        again: Mapping[str, Any] = _native.decode_wide(kept, kept_start, message, tables, True)
        # Code -1 picks the None after the texts.
        texts = _text_array([*again["meaning_texts"], None])
        return (np.frombuffer(again["raw"], np.uint64).reshape(columns, subsets).T,
                {c: texts[np.frombuffer(codes, np.int32)] for c, codes in again["meanings"]})

    return Wide(values=values,
                descriptor=np.frombuffer(d["descriptor"], np.uint32), rank=np.frombuffer(d["rank"], np.uint32),
                scale=np.frombuffer(d["scale"], np.int32), names=tuple(d["names"]), units=tuple(d["units"]),
                keys=tuple(k or None for k in d["keys"]),
                texts={c: _text_array(texts) for c, texts in d["texts"]}, details_source=details,
                message=message, table_set=tables)


def first_seen(items: Iterable[str | None]) -> tuple[np.ndarray, tuple[str, ...]]:
    """int32 codes of `items` (-1 for None) into their distinct texts in the
    order first met."""
    index: dict[str, int] = {}
    codes = np.fromiter((-1 if t is None else index.setdefault(t, len(index)) for t in items), np.int32)
    return codes, tuple(index)


def message_columns(data: Any, start: int, message: BufrMessage, tables: TableSet) -> Columns:
    """The Columns of the message framed at `start` of `data`."""
    if not message.compressed_data:
        return Columns.from_native(_native.decode_columns(data, start, message, tables))
    wide: dict[str, Any] = dict(_native.decode_wide(data, start, message, tables))
    subsets, width = wide["subsets"], wide["columns"]
    kept, kept_start = held(data, start, message)

    def per_column(array: np.ndarray) -> Callable[[], np.ndarray]:
        return lambda: np.tile(array, subsets)

    def in_long_order(buffer: Any, dtype: type) -> np.ndarray:
        long: np.ndarray = np.frombuffer(buffer, dtype).reshape(width, subsets).T.ravel()
        return long

    # The numbers in long order are the wide table's rows too: the buffer
    # they came from is let go rather than kept beside them.
    value = in_long_order(wide.pop("values"), np.float64)

    def texts() -> dict[str, Any]:
        # Subset after subset, the columns of each in order, as a long decode meets them.
        found = sorted(wide["texts"], key=lambda item: item[0])
        grid = np.empty((subsets, len(found)), dtype=object)
        for k, (_, column) in enumerate(found):
            grid[:, k] = column
        numbered, categories = first_seen(grid.ravel().tolist())
        codes = np.full((subsets, width), -1, np.int32)
        codes[:, [c for c, _ in found]] = numbered.reshape(subsets, len(found))
        return {"text_code": codes.ravel(), "texts": categories}

    def details() -> dict[str, Any]:
        again: Mapping[str, Any] = _native.decode_wide(kept, kept_start, message, tables, True)
        codes = np.full((subsets, width), -1, np.int32)
        for c, column in again["meanings"]:
            codes[:, c] = np.frombuffer(column, np.int32)
        return {"raw": in_long_order(again["raw"], np.uint64), "meaning_code": codes.ravel(),
                "meanings": tuple(again["meaning_texts"])}

    # Names and units are listed for the columns even without subsets; keys
    # only as values are met.
    names, units, keys = (first_seen(texts) for texts in (wide["names"], wide["units"],
                                                          [k or None for k in wide["keys"]] if subsets else []))
    # Each array alone: `missing`, say, needs the descriptors but not the ranks.
    alone: dict[str, Callable[[], np.ndarray]] = {
        "descriptor": per_column(np.frombuffer(wide["descriptor"], np.uint32)),
        "rank": per_column(np.frombuffer(wide["rank"], np.uint32)),
        "raw_present": per_column(np.frombuffer(wide["numeric"], np.uint8).astype(bool)),
        "element_code": per_column(names[0]), "unit_code": per_column(units[0]), "key_code": per_column(keys[0]),
        "subset": lambda: np.repeat(np.arange(subsets, dtype=np.uint32), width)}

    def make(name: str) -> dict[str, Any]:
        if name in alone:
            return {name: alone[name]()}
        return texts() if name in ("text_code", "texts") else details()

    return Columns.made_by(make, wide=lambda: decoded_wide(wide, kept, kept_start, message, tables,
                                                           value.reshape(subsets, width)),
                           value=value,
                           subset_starts=np.arange(subsets, dtype=np.int64) * width,
                           names=names[1], units=units[1], keys=keys[1])
