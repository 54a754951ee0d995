"""A message's Columns; a compressed one's derived from its wide decode
(skyrec.wide): its numbers put in long order at once, every other array made
on first access from what that decode keeps once per column, and texts and
meanings numbered in the order a long decode meets them, so that the result
is the one decode_columns gives."""

from __future__ import annotations

from collections.abc import Callable, Iterable, Mapping
from typing import Any

import numpy as np

from _skyrec import BufrMessage, TableSet

from . import _native
from .columns import Columns


def held(data: Any, start: int, message: BufrMessage) -> tuple[Any, int]:
    """`data` and `start` to decode the message again later: bytes as they
    are, a buffer that may change or close (bytearray, mmap, ...) copied."""
    if isinstance(data, bytes):
        return data, start
    return bytes(memoryview(data)[start:start + message.total_length]), 0


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
    wide: Mapping[str, Any] = _native.decode_wide(data, start, message, tables)
    subsets, width = wide["subsets"], wide["columns"]
    kept, kept_start = held(data, start, message)

    def per_column(array: np.ndarray) -> np.ndarray:
        tiled: np.ndarray = np.tile(array, subsets)
        return tiled

    def in_long_order(buffer: Any, dtype: type) -> np.ndarray:
        long: np.ndarray = np.frombuffer(buffer, dtype).reshape(width, subsets).T.ravel()
        return long

    def cells(found: list[tuple[int, list[str | None]]]) -> tuple[np.ndarray, tuple[str, ...]]:
        # Subset after subset, the columns of each in order, as a long decode meets them.
        found = sorted(found, key=lambda item: item[0])
        codes = np.full((subsets, width), -1, np.int32)
        grid = np.empty((subsets, len(found)), dtype=object)
        for k, (_, column) in enumerate(found):
            grid[:, k] = column
        numbered, categories = first_seen(grid.ravel().tolist())
        codes[:, [c for c, _ in found]] = numbered.reshape(subsets, len(found))
        return codes.ravel(), categories

    def described() -> dict[str, Any]:
        parts: dict[str, Any] = {"descriptor": per_column(np.frombuffer(wide["descriptor"], np.uint32)),
                                 "rank": per_column(np.frombuffer(wide["rank"], np.uint32)),
                                 "raw_present": per_column(np.frombuffer(wide["numeric"], np.uint8).astype(bool)),
                                 "subset": np.repeat(np.arange(subsets, dtype=np.uint32), width)}
        # Names and units are listed for the columns even without subsets;
        # keys only as values are met.
        keys = [k or None for k in wide["keys"]] if subsets else []
        for codes, categories, texts in (("element_code", "names", wide["names"]),
                                         ("unit_code", "units", wide["units"]), ("key_code", "keys", keys)):
            numbered, parts[categories] = first_seen(texts)
            parts[codes] = per_column(numbered)
        return parts

    def texts() -> dict[str, Any]:
        text_code, found = cells(wide["texts"])
        return {"text_code": text_code, "texts": found}

    def details() -> dict[str, Any]:
        again: Mapping[str, Any] = _native.decode_wide(kept, kept_start, message, tables, True)
        meaning_code = np.full((subsets, width), -1, np.int32)
        for c, codes in again["meanings"]:
            meaning_code[:, c] = np.frombuffer(codes, np.int32)
        return {"raw": in_long_order(again["raw"], np.uint64), "meaning_code": meaning_code.ravel(),
                "meanings": tuple(again["meaning_texts"])}

    makers: dict[str, Callable[[], dict[str, Any]]] = {"text_code": texts, "texts": texts, "raw": details,
                                                       "meaning_code": details, "meanings": details}
    return Columns.made_by(lambda name: makers.get(name, described)(),
                           value=in_long_order(wide["values"], np.float64),
                           subset_starts=np.arange(subsets, dtype=np.int64) * width)
