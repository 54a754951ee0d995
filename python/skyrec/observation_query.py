"""A read_observations question, checked: which keys are asked, which the
decoder looks for, and what it can check before a row takes room."""

from __future__ import annotations

import re
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, NamedTuple

import numpy as np

from .filters import HEADER_KEYS, data_filters
from .gts import FIELDS as GTS_FIELDS
from .ranks import check_rank

TYPICAL_PARTS = ("typicalYear", "typicalMonth", "typicalDay", "typicalHour", "typicalMinute", "typicalSecond")

TIME_PARTS = ("year", "month", "day", "hour", "minute", "second")

WIGOS_PARTS = ("wigosIdentifierSeries", "wigosIssuerOfIdentifier", "wigosIssueNumber", "wigosLocalIdentifierCharacter")

# Computed keys and the data keys they are made of.
COMPUTED = {"data_datetime": TIME_PARTS, "WMO_station_id": ("blockNumber", "stationNumber"),
            "WIGOS_station_id": WIGOS_PARTS}

HEADER_ONLY = (set(HEADER_KEYS) | set(TYPICAL_PARTS) | {"typicalDate", "typicalTime", "typical_datetime"}
               | set(GTS_FIELDS))

RANKED = re.compile(r"#([1-9][0-9]*)#([A-Za-z_][A-Za-z0-9_]*)")

PLAIN = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")

Filter = Any  # a value, a list/tuple/set of values, a slice (inclusive) or a callable

def _check_key(key: Any) -> str:
    if not isinstance(key, str) or not (RANKED.fullmatch(key) or PLAIN.fullmatch(key)):
        raise KeyError(f"{key!r} is not a key: expected a name such as 'airTemperature' or '#2#airTemperature'")
    return key

class Query(NamedTuple):
    """A read_observations question, checked: the data keys travel to the
    decoder as (key, rank) pairs, the rest is answered from its rows."""

    columns: list[str]
    filters: dict[str, Filter]
    required: list[str]
    header_keys: list[str]
    data_keys: list[str]

    @property
    def asked(self) -> list[str]:
        return list(dict.fromkeys([*self.columns, *self.filters, *self.required]))

    def native_keys(self) -> list[tuple[str, int]]:
        pairs = []
        for key in self.data_keys:
            match = RANKED.fullmatch(key)
            pairs.append((match.group(2), int(match.group(1))) if match else (key, 0))
        return pairs


    def conditions(self) -> list[tuple[int, list[tuple[float, float]]]]:
        """What the decoder can check before a row takes room: the data keys
        that a required or filtered key needs found, and the ranges a
        numeric filter lets through. Each is rechecked on the rows."""
        index = {key: i for i, key in enumerate(self.data_keys)}
        needed: dict[str, list[tuple[float, float]]] = {}
        for key in dict.fromkeys([*self.required, *self.filters]):
            if key in HEADER_ONLY:
                continue
            if key in COMPUTED:  # only what every value of the key needs
                parts = COMPUTED[key] if key != "data_datetime" else TIME_PARTS[:5]
                needed.update({part: needed.get(part, []) for part in parts})
                continue
            ranges = _ranges(self.filters[key]) if key in self.filters else []
            needed[key] = ranges if not needed.get(key) else needed[key]
        return [(index[key], ranges) for key, ranges in needed.items()]

def _number(value: Any) -> bool:
    return isinstance(value, (int, float, np.integer, np.floating)) and not isinstance(value, (bool, np.bool_))

def _ranges(wanted: Filter) -> list[tuple[float, float]]:
    """The ranges of numbers a filter lets through, [] when it is no plain
    number test (the rows then check it alone)."""
    if isinstance(wanted, slice):
        low, high = wanted.start, wanted.stop
        if all(b is None or _number(b) for b in (low, high)):
            return [(-np.inf if low is None else float(low), np.inf if high is None else float(high))]
    elif isinstance(wanted, (list, tuple, set, frozenset)):
        if wanted and all(_number(v) for v in wanted):
            return [(float(v), float(v)) for v in wanted]
    elif _number(wanted):
        return [(float(wanted), float(wanted))]
    return []

def make_query(columns: Sequence[str] | str, filters: Mapping[str, Filter] | None,
               required_columns: bool | Iterable[str]) -> Query:
    columns = [columns] if isinstance(columns, str) else list(columns)
    if not columns:
        raise ValueError("columns names no key: give the ecCodes keys to make a column of each")
    filters = data_filters(filters)
    for key in [*columns, *filters]:
        _check_key(key)
    if isinstance(required_columns, bool):
        required = list(columns) if required_columns else []
    else:
        required = [_check_key(k) for k in required_columns]
    asked = list(dict.fromkeys([*columns, *filters, *required]))
    for key in asked:
        check_rank(key)
    header_keys = [k for k in asked if k in HEADER_ONLY]
    data_keys: dict[str, None] = {}
    for key in asked:
        if key not in HEADER_ONLY:
            data_keys.update(dict.fromkeys(COMPUTED.get(key, (key,))))
    return Query(columns, filters, required, header_keys, list(data_keys))
