"""Two files compared message by message: the header keys and every value
by subset and #rank#key, numbers within tolerances.

    frame = skyrec.compare("old.bufr", "new.bufr", tolerance={"airTemperature": 0.05})
    if frame.empty: ...                              # alike

Messages whose bytes are the same are alike without being decoded.
"""

from __future__ import annotations

import os
import stat
from collections.abc import Callable, Iterable, Iterator, Mapping
from itertools import zip_longest
from typing import TYPE_CHECKING, Any, NamedTuple

from _skyrec import TableSet

from .errors import DecodeError
from .header import header_keys, message_key
from .known_keys import plain_key
from .sources import Found, found_messages

if TYPE_CHECKING:  # the readers' and the tables' modules are imported once a message must be decoded
    import pandas as pd

    from .columns import Columns
    from .reader import Source
    from .tables import TableSource

__all__ = ["Difference", "compare", "differences", "each_difference"]

COLUMNS = ("message", "subset", "key", "a", "b")


class Difference(NamedTuple):
    """One difference: message (from 0), subset (None for the header and the
    message itself), key, and the value on each side (None when missing or absent)."""

    message: int
    subset: int | None
    key: str
    a: Any
    b: Any

    def __str__(self) -> str:
        where = f"message {self.message}" + ("" if self.subset is None else f", subset {self.subset}")
        return f"{where}, {self.key}: {shown(self.a)} vs {shown(self.b)}"


def shown(value: Any) -> str:
    if value is None:
        return "MISSING"
    if isinstance(value, float):
        return repr(int(value)) if value.is_integer() and abs(value) < 1e15 else repr(value)
    return str(value)


class Limits:
    """What counts as alike: absolute and relative tolerances, keys skipped;
    each by key (every rank) or #rank#key."""

    def __init__(self, tolerance: Mapping[str, float] | None, relative: Mapping[str, float] | None,
                 skip: Iterable[str]):
        self.absolute = {k: float(v) for k, v in (tolerance or {}).items()}
        self.relative = {k: float(v) for k, v in (relative or {}).items()}
        self.skip = set(skip)

    def skipped(self, label: str) -> bool:
        return label in self.skip or plain_key(label) in self.skip

    def alike(self, label: str, a: Any, b: Any) -> bool:
        if a == b or self.skipped(label):
            return True
        if not isinstance(a, (int, float)) or not isinstance(b, (int, float)):
            return False
        room = max(self.absolute.get(label, self.absolute.get(plain_key(label), 0.0)),
                   self.relative.get(label, self.relative.get(plain_key(label), 0.0)) * max(abs(a), abs(b)))
        return abs(a - b) <= room


def labelled(columns: Columns) -> list[list[tuple[str, Any]]]:
    """Each subset's keyed values as (#rank#key, value): texts as str,
    numbers as float, missing as None."""
    keys, texts = columns.keys, columns.texts
    out: list[list[tuple[str, Any]]] = [[] for _ in range(columns.subset_count)]
    for j, code, rank, text, value in zip(columns.subset.tolist(), columns.key_code.tolist(),
                                          columns.rank.tolist(), columns.text_code.tolist(),
                                          columns.value.tolist()):
        if code < 0 or rank == 0:
            continue
        out[j].append((f"#{rank}#{keys[code]}", texts[text] if text >= 0 else (None if value != value else value)))
    return out


def _same_layout(a: Columns, b: Columns) -> bool:
    import numpy as np

    if len(a) != len(b) or a.subset_count != b.subset_count or not np.array_equal(a.rank, b.rank):
        return False
    if a.keys == b.keys:
        return bool(np.array_equal(a.key_code, b.key_code))
    index = {key: i for i, key in enumerate(a.keys)}
    in_a = np.array([index.get(key, -2) for key in b.keys] + [-1], dtype=np.int64)  # -1: no key
    return bool(np.array_equal(a.key_code, in_a[b.key_code]))


def _differing(a: Columns, b: Columns) -> list[int]:
    """The positions whose values differ, in order, when both hold the same keys in the same order."""
    import numpy as np

    va, vb = a.value, b.value
    numbers = ~((va == vb) | (np.isnan(va) & np.isnan(vb)))
    texts = (a.text_code >= 0) | (b.text_code >= 0)
    found: list[int] = np.flatnonzero(numbers & ~texts).tolist()
    text_at = np.flatnonzero(texts)
    text_a = [a.texts[c] if c >= 0 else None for c in a.text_code[text_at].tolist()]
    text_b = [b.texts[c] if c >= 0 else None for c in b.text_code[text_at].tolist()]
    unequal = [i for i, x, y in zip(text_at.tolist(), text_a, text_b) if x != y]
    return sorted(set(found).union(unequal)) if unequal else found  # not np.union1d: it imports numpy.ma


def value_differences(n: int, a: Columns, b: Columns, limits: Limits) -> Iterator[Difference]:
    if _same_layout(a, b):
        keep = _differing(a, b)
        if not keep:
            return
        keys, subset, rank = a.keys, a.subset, a.rank
        for i in keep:
            code = int(a.key_code[i])
            if code < 0 or rank[i] == 0:
                continue
            label = f"#{rank[i]}#{keys[code]}"
            x, y = _value(a, i), _value(b, i)
            if not limits.alike(label, x, y):
                yield Difference(n, int(subset[i]), label, x, y)
        return
    for j, (sa, sb) in enumerate(zip_longest(labelled(a), labelled(b), fillvalue=None)):
        da, db = dict(sa or []), dict(sb or [])
        for label in dict.fromkeys([*da, *db]):
            x, y = da.get(label), db.get(label)
            if label not in da or label not in db or not limits.alike(label, x, y):
                if not limits.skipped(label):
                    yield Difference(n, j, label, x, y)


def _value(c: Columns, i: int) -> Any:
    code = int(c.text_code[i])
    if code >= 0:
        return c.texts[code]
    value = float(c.value[i])
    return None if value != value else value


def message_differences(n: int, a: Found, b: Found, tables: Any, limits: Limits) -> Iterator[Difference]:
    if a.error or b.error:
        if a.error != b.error:
            yield Difference(n, None, "error", a.error, b.error)
        return
    assert a.message is not None and b.message is not None
    bytes_a = memoryview(a.data)[a.start:a.start + a.message.total_length]
    bytes_b = memoryview(b.data)[b.start:b.start + b.message.total_length]
    if bytes_a == bytes_b:
        return
    ha, hb = header_keys(a.message), header_keys(b.message)
    for key in ha:
        if ha[key] != hb[key] and not limits.skipped(key):
            yield Difference(n, None, key, ha[key], hb[key])
    if _data(a) == _data(b) and _table_key(a) == _table_key(b):
        return  # the same descriptors and bits read with the same tables: the same values
    yield from value_differences(n, _columns(a, tables, "a"), _columns(b, tables, "b"), limits)


def _data(found: Found) -> memoryview:
    """Sections 3 and 4 of a message: its descriptors and its data."""
    m = found.message
    assert m is not None
    start = found.start + 8 + m.section1_length + m.section2_length
    return memoryview(found.data)[start:found.start + m.total_length - 4]


def _table_key(found: Found) -> tuple[int, ...]:
    """What picks a message's tables: its master tables, and its centre when it has local ones."""
    assert found.message is not None
    key = message_key(found.message)
    return key if key[2] else key[:3]


def _columns(found: Found, tables: Any, side: str) -> Columns:
    from .columns import message_columns

    assert found.message is not None
    try:
        return message_columns(found.data, found.start, found.message, tables.for_message(found.message))
    except DecodeError as e:
        raise DecodeError(f"{side}: message at offset {found.offset}: {e.reason}") from e


class Lazy:
    """Tables found when a message is first decoded: files alike need none."""

    def __init__(self, find: Callable[[], TableSource]):
        self.find = find
        self.found: TableSource | None = None

    def for_message(self, message: Any) -> TableSet:
        if self.found is None:
            self.found = self.find()
        tables: TableSet = self.found.for_message(message)
        return tables


def _same_file_bytes(a: Source, b: Source) -> bool:
    """Whether two regular files hold the same bytes (one file is that at
    once; others are read a megabyte at a time)."""
    if not isinstance(a, (str, os.PathLike)) or not isinstance(b, (str, os.PathLike)):
        buffers = (bytes, bytearray)
        return isinstance(a, buffers) and isinstance(b, buffers) and a == b
    try:
        sa, sb = os.stat(a), os.stat(b)
        if not (stat.S_ISREG(sa.st_mode) and stat.S_ISREG(sb.st_mode)) or sa.st_size != sb.st_size:
            return False
        if os.path.samestat(sa, sb):
            return True
        with open(a, "rb") as fa, open(b, "rb") as fb:
            while chunk := fa.read(1 << 20):
                if chunk != fb.read(1 << 20):
                    return False
        return True
    except OSError:
        return False  # said by the reading


def differences(a: Source, b: Source, *, tolerance: Mapping[str, float] | None = None,
                relative: Mapping[str, float] | None = None, skip: Iterable[str] = (),
                tables: TableSet | TableSource | None = None, table_dir: str | os.PathLike[str] | None = None,
                definitions: str | os.PathLike[str] | None = None,
                wmo_csv: str | os.PathLike[str] | None = None) -> Iterator[Difference]:
    """The differences between `a` and `b`, message after message, as they are found."""
    def found_tables() -> TableSource:
        from .tables import find_tables

        return find_tables(tables, table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)

    return each_difference(a, b, Limits(tolerance, relative, skip), Lazy(found_tables))


def each_difference(a: Source, b: Source, limits: Limits, source: Lazy) -> Iterator[Difference]:
    """The differences of `a` and `b` as `limits` judge them, with tables
    from `source` once a message must be decoded."""
    if _same_file_bytes(a, b):
        return
    with found_messages(a) as in_a, found_messages(b) as in_b:
        for n, (x, y) in enumerate(zip_longest(in_a, in_b)):
            if x is None or y is None:
                yield Difference(n, None, "message", "present" if x else None, "present" if y else None)
                continue
            yield from message_differences(n, x, y, source, limits)


def compare(a: Source, b: Source, *, tolerance: Mapping[str, float] | None = None,
            relative: Mapping[str, float] | None = None, skip: Iterable[str] = (),
            tables: TableSet | TableSource | None = None, table_dir: str | os.PathLike[str] | None = None,
            definitions: str | os.PathLike[str] | None = None,
            wmo_csv: str | os.PathLike[str] | None = None) -> pd.DataFrame:
    """The differences between the messages of `a` and `b` (paths or
    bytes), one row each: message, subset (None for header keys), key
    (#rank#key for values), a and b. Empty when they are alike.

    `tolerance` and `relative` give, by key or #rank#key, how far numbers may
    lie apart (absolutely, or as a share of the larger); `skip` names keys
    not compared. A message missing from one side is a row with key
    "message"; DecodeError when a message cannot be decoded."""
    from .optional import pandas

    pd = pandas()
    rows = list(differences(a, b, tolerance=tolerance, relative=relative, skip=skip, tables=tables,
                            table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv))
    frame = pd.DataFrame(rows, columns=list(COLUMNS))
    frame["subset"] = frame["subset"].astype("Int64")
    return frame
