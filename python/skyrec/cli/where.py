"""--where, the same for every command: KEY=VALUE, KEY=A/B/C (any of
them) or KEY=LO:HI (inclusive, either end left out), on header keys,
GTS heading fields and data keys (key or #rank#key).

What it makes is the mapping that the Python readers take as `filters=`:
{key: value | list of values | slice(lo, hi)}. Header and GTS conditions
are judged from the header pass alone; data keys need the message decoded.
"""

from __future__ import annotations

import re
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

from _skyrec import BufrMessage

from ..gts import FIELDS as GTS_KEYS
from ..gts import Gts
from ..header import HEADER_FIELDS, header_keys
from .options import UsageError
from .selection import check_key

if TYPE_CHECKING:
    import numpy as np

    from ..columns import Columns

CONDITION = re.compile(r"\s*([#\w]+)\s*=(.*)")
DATA_KEY = re.compile(r"(#[1-9][0-9]*#)?[A-Za-z_][A-Za-z0-9_]*")
DATE_KEYS = ("typicalDate", "typicalTime")
HEADER_KEYS = (*(key for key, _ in HEADER_FIELDS), "numberOfSubsets", *DATE_KEYS)


def scalar(text: str) -> Any:
    try:
        number = float(text)
    except ValueError:
        return text
    return int(number) if number.is_integer() else number


def _wanted(condition: str, key: str, text: str) -> Any:
    read = str if key in GTS_KEYS else scalar  # 041200 is a time of day, not 41200
    if "/" in text:
        return [read(part.strip()) for part in text.split("/") if part.strip()]
    if ":" not in text:
        return read(text)
    low, high = (part.strip() for part in text.split(":", 1))
    bounds = slice(read(low) if low else None, read(high) if high else None)
    if bounds.start is not None and bounds.stop is not None and type(bounds.start) is type(bounds.stop) \
            and bounds.start > bounds.stop:
        raise UsageError(f"--where {condition!r}: {low}:{high} is an empty range (write LO:HI, LO <= HI)")
    return bounds


def where_filters(conditions: Sequence[str]) -> dict[str, Any]:
    """The conditions as the readers' filters: {key: value | [values] | slice(lo, hi)}."""
    filters: dict[str, Any] = {}
    for condition in conditions:
        match = CONDITION.fullmatch(condition)
        if match is None or not match.group(2).strip():
            raise UsageError(f"--where {condition!r}: write KEY=VALUE, KEY=A/B or KEY=LO:HI")
        key = match.group(1)
        filters[key] = _wanted(condition, key, match.group(2).strip())
    return filters


def matches(value: Any, wanted: Any) -> bool:
    """Whether one value passes one filter; None (missing) never does."""
    if value is None:
        return False
    try:
        if isinstance(wanted, slice):
            return (wanted.start is None or value >= wanted.start) and (wanted.stop is None or value <= wanted.stop)
        if isinstance(wanted, list):
            return value in wanted
        return bool(value == wanted)
    except TypeError:  # a number asked of a text, or the other way round
        return False


ATTRIBUTES = dict(HEADER_FIELDS) | {"numberOfSubsets": "number_of_subsets"}


def header_value(m: BufrMessage, gts: Gts | None, key: str) -> Any:
    """One header key of the message, as ecCodes names it, or one of its GTS fields."""
    if key in ATTRIBUTES:
        return int(getattr(m, ATTRIBUTES[key]))
    if key in GTS_KEYS:
        return None if gts is None else getattr(gts, key[4:])
    return header_keys(m)[key]


class Where:
    """Parsed --where conditions, split by what judging them needs: `filters`
    all of them, as the readers take them; `header` the header keys and GTS
    fields; `data` the data keys, for which the message must be decoded."""

    def __init__(self, filters: dict[str, Any], header: dict[str, Any], data: dict[str, Any]):
        self.filters, self.header, self.data = filters, header, data

    def keeps_header(self, m: BufrMessage, gts: Gts | None = None) -> bool:
        for key, wanted in self.header.items():  # a loop, not all(): once per message of a copy
            if not matches(header_value(m, gts, key), wanted):
                return False
        return True

    def subsets(self, columns: Columns) -> np.ndarray:
        """Which subsets of a decoded message pass every data condition: a
        plain key when any of its values does, #r#key when its r-th does."""
        import numpy as np

        count = columns.subset_count
        keep = np.ones(count, bool)
        if not self.data:
            return keep
        key_code, rank, subset = columns.key_code, columns.rank, columns.subset
        for key, wanted in self.data.items():
            name, wanted_rank = plain_rank(key)
            if name not in columns.keys:
                return np.zeros(count, bool)
            at = key_code == columns.keys.index(name)
            if wanted_rank:
                at &= rank == wanted_rank
            hit = np.zeros(count, bool)
            for i in np.flatnonzero(at).tolist():
                if not hit[subset[i]] and matches(value_at(columns, i), wanted):
                    hit[subset[i]] = True
            keep &= hit
        return keep


def plain_rank(key: str) -> tuple[str, int]:
    """"#2#airTemperature" as ("airTemperature", 2); a plain key has rank 0."""
    if key.startswith("#"):
        _, rank, name = key.split("#", 2)
        return name, int(rank)
    return key, 0


def value_at(columns: Columns, i: int) -> Any:
    """The i-th value of decoded columns: its text, its number, or None when missing."""
    code = int(columns.text_code[i])
    if code >= 0:
        return columns.texts[code]
    number = float(columns.value[i])
    return None if number != number else (int(number) if number.is_integer() else number)


def _bounds(wanted: Any) -> list[Any]:
    """The values a filter names: its ends, its list, or itself; None for an open end left out."""
    if isinstance(wanted, slice):
        return [b for b in (wanted.start, wanted.stop) if b is not None]
    return list(wanted) if isinstance(wanted, list) else [wanted]


def parse_where(conditions: Sequence[str], *, data: bool = True) -> Where:
    """--where's conditions checked: header keys and GTS fields by name,
    data keys by form (the tables judge them once read)."""
    filters = where_filters(conditions)
    header: dict[str, Any] = {}
    values: dict[str, Any] = {}
    for key, wanted in filters.items():
        if key in HEADER_KEYS or key in GTS_KEYS:
            if key in HEADER_KEYS and not all(isinstance(v, (int, float)) for v in _bounds(wanted)):
                raise UsageError(f"--where {key}: {key} is a number (write {key}=N, {key}=A/B or {key}=LO:HI)")
            header[key] = wanted
            continue
        if not data:
            raise UsageError(f"--where {key}: not a header key; these are " + ", ".join((*HEADER_KEYS, *GTS_KEYS)))
        check_key("--where", key)
        values[key] = wanted
    return Where(filters, header, values)


def known_data_keys(where: Where, known: Mapping[str, Any] | frozenset[str]) -> None:
    """A data key that no table read knows is a usage error, not an empty answer."""
    from ..known_keys import plain_key, unknown_key_text

    for key in where.data:
        if plain_key(key) not in known:
            raise UsageError(f"--where: {unknown_key_text(key, known)}")
