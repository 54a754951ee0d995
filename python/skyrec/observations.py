"""One row per observation, columns and filters named by ecCodes keys.

    frame = read_observations("temp.bufr", ["WMO_station_id", "data_datetime", "pressure", "airTemperature"],
                              filters={"pressure": slice(40000, 50000)})

The same question as pdbufr's `read_bufr(path, columns=..., filters=...)`.
The core decodes with the interpreter lock released and keeps only the asked
keys' values, laid out in rows (src/sinks/observation_rows.hpp says how);
it drops the rows that lack a required key or fail a numeric filter before
they take room. Here the rows' arrays become the computed keys, the other
filters are applied and the frame is built once.

Rows. Within each subset, a requested key that occurs once belongs to the
level enclosing the observations: its value is repeated on every row of the
subset (a TEMP's station and launch time). Among the keys that occur more
than once, the first in the subset leads: each of its occurrences starts a
row, which takes the first occurrence of every other repeated key up to the
next start (a TEMP level's pressure, temperature and dew point). A subset
whose requested keys all occur once makes one row.

Keys: an element's ecCodes key, "#n#key" for its n-th occurrence in the
subset, header keys (HEADER_KEYS) and the computed keys data_datetime,
typical_datetime, WMO_station_id and WIGOS_station_id.

Where this differs from pdbufr on purpose: columns come in the order asked
(pdbufr puts header keys first); numbers are float64 (NaN when missing)
except the integer header keys and WMO_station_id (nullable Int64); a key
found nowhere gives an empty frame with the asked columns (pdbufr's has none);
"#n#key" finds values in compressed messages too (pdbufr's finds none).
Tables are found as read_dataframe finds them and kept for the process.
"""

from __future__ import annotations

import os
import re
import threading
import warnings
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, NamedTuple

from .optional import needs

with needs("skyrec.observations", "pandas"):
    import numpy as np

from . import _native
from .blocks import Piece, prepare_piece, read_headers, warn_stopped
from .errors import MessageError, message_error
from .known_keys import plain_key, table_keys, unknown_key_text
from .optional import pandas
from .paths import expand_sources
from .ranks import check_rank
from .tables import ENVIRONMENT_VARIABLE, TableSource, find_tables

if TYPE_CHECKING:
    import pandas as pd

# ecCodes' header keys and the read_headers column each comes from.
HEADER_KEYS = {"edition": "edition", "masterTableNumber": "master_table", "bufrHeaderCentre": "centre",
               "bufrHeaderSubCentre": "subcentre", "updateSequenceNumber": "update_sequence",
               "dataCategory": "category", "dataSubCategory": "local_subcategory",
               "internationalDataSubCategory": "subcategory", "masterTablesVersionNumber": "master_version",
               "localTablesVersionNumber": "local_version", "numberOfSubsets": "subsets",
               "observedData": "observed", "compressedData": "compressed"}
TYPICAL_PARTS = ("typicalYear", "typicalMonth", "typicalDay", "typicalHour", "typicalMinute", "typicalSecond")
TIME_PARTS = ("year", "month", "day", "hour", "minute", "second")
WIGOS_PARTS = ("wigosIdentifierSeries", "wigosIssuerOfIdentifier", "wigosIssueNumber", "wigosLocalIdentifierCharacter")
# Computed keys and the data keys they are made of.
COMPUTED = {"data_datetime": TIME_PARTS, "WMO_station_id": ("blockNumber", "stationNumber"),
            "WIGOS_station_id": WIGOS_PARTS}
HEADER_ONLY = set(HEADER_KEYS) | set(TYPICAL_PARTS) | {"typicalDate", "typicalTime", "typical_datetime"}
RANKED = re.compile(r"#([1-9][0-9]*)#([A-Za-z_][A-Za-z0-9_]*)")
PLAIN = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")

Filter = Any  # a value, a list/tuple/set of values, a slice (inclusive) or a callable


def _sources(source: Any) -> list[Any]:
    return expand_sources(source)


# The paths (globs expanded) and buffers that a source names, one by one.
source_items = _sources


def _check_key(key: Any) -> str:
    if not isinstance(key, str) or not (RANKED.fullmatch(key) or PLAIN.fullmatch(key)):
        raise KeyError(f"{key!r} is not a key: expected a name such as 'airTemperature' or '#2#airTemperature'")
    return key


def _matches(values: pd.Series, wanted: Filter) -> np.ndarray:
    """Where `values` passes one filter; missing values never pass."""
    present = values.notna().to_numpy(bool)
    if callable(wanted):
        try:
            answer = wanted(values)
            keep = np.asarray(answer, dtype=bool)
            if keep.shape != (len(values),):
                raise ValueError
        except (TypeError, ValueError):
            keep = np.fromiter((ok and bool(wanted(v)) for v, ok in zip(values, present)), bool, count=len(values))
    elif isinstance(wanted, slice):
        if wanted.step is not None:
            raise ValueError("a filter's slice takes no step")
        keep = np.ones(len(values), bool)
        if wanted.start is not None:
            keep &= (values >= wanted.start).to_numpy(bool, na_value=False)
        if wanted.stop is not None:
            keep &= (values <= wanted.stop).to_numpy(bool, na_value=False)
    elif isinstance(wanted, (list, tuple, set, frozenset)):
        keep = values.isin(list(wanted)).to_numpy(bool)
    else:
        keep = (values == wanted).to_numpy(bool, na_value=False)
    result: np.ndarray = keep & present
    return result


def _header_frame(pd: Any, source: Any, keys: set[str]) -> pd.DataFrame:
    headers = read_headers(source)
    frame = pd.DataFrame({"message": headers["message"].to_numpy()})
    for key in keys:
        if key in HEADER_KEYS:
            column = headers[HEADER_KEYS[key]]
            frame[key] = column.to_numpy(np.int64) if column.dtype != bool else column.to_numpy(np.int64)
    time = headers["time"]
    parts = {"typicalYear": time.dt.year, "typicalMonth": time.dt.month, "typicalDay": time.dt.day,
             "typicalHour": time.dt.hour, "typicalMinute": time.dt.minute, "typicalSecond": time.dt.second}
    for key in keys & set(TYPICAL_PARTS):
        frame[key] = parts[key].astype("Int64").to_numpy()
    if "typicalDate" in keys:
        frame["typicalDate"] = time.dt.strftime("%Y%m%d").to_numpy(object)
    if "typicalTime" in keys:
        frame["typicalTime"] = time.dt.strftime("%H%M%S").to_numpy(object)
    if "typical_datetime" in keys:
        frame["typical_datetime"] = time.to_numpy()
    return frame


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
    filters = dict(filters or {})
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


# Table sources kept for the life of the process, so that each table version
# is loaded once however many calls ask: keyed by where the tables are and
# when their files last changed.
_SOURCES: dict[tuple[Any, ...], TableSource] = {}
_SOURCES_LOCK = threading.Lock()


def _changed(path: str, names: Sequence[str]) -> tuple[int, ...]:
    stamps = []
    for name in ("", *names):
        try:
            stamps.append(os.stat(os.path.join(path, name)).st_mtime_ns)
        except OSError:
            stamps.append(-1)
    return tuple(stamps)


def cached_tables(tables: Any = None, table_dir: str | os.PathLike[str] | None = None,
                  definitions: str | os.PathLike[str] | None = None,
                  wmo_csv: str | os.PathLike[str] | None = None) -> TableSource:
    """find_tables' source for these arguments, the same one for every call
    while the table files are unchanged."""
    if tables is not None:
        return find_tables(tables, table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
    given = [(name, os.path.abspath(os.fsdecode(value))) for name, value in
             (("table_dir", table_dir), ("definitions", definitions), ("wmo_csv", wmo_csv)) if value is not None]
    if len(given) == 1 and given[0][0] != "definitions":
        key: tuple[Any, ...] = (*given[0], _changed(given[0][1], ("element.table", "sequence.def")))
    else:  # a definitions root, given or found: its sources reload what fails
        key = (*given, os.environ.get(ENVIRONMENT_VARIABLE))
    with _SOURCES_LOCK:
        source = _SOURCES.get(key)
    if source is None:
        source = find_tables(table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
        with _SOURCES_LOCK:
            source = _SOURCES.setdefault(key, source)
    return source


def _as_array(values: Any) -> Any:
    return values.array if hasattr(values, "array") else values


_DAYS_IN_MONTH = np.array([31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31, 0], float)


def _day_numbers(year: np.ndarray, month: np.ndarray, day: np.ndarray) -> np.ndarray:
    """Days from 1970-01-01 of each date, NaN where it names none (a 31
    April, a month 13, a fraction) or lies beyond what datetime64[ns] holds."""
    whole = (year == np.floor(year)) & (month == np.floor(month)) & (day == np.floor(day))
    leap = (year % 4 == 0) & ((year % 100 != 0) | (year % 400 == 0))
    month_index = np.where((month >= 1) & (month <= 12) & whole, month - 1, 12).astype(np.intp)
    days_in_month = _DAYS_IN_MONTH[month_index] + ((month_index == 1) & leap)
    good = whole & (year >= 1678) & (year <= 2261) & (day >= 1) & (day <= days_in_month)
    # March-based years put the leap day last.
    march = month <= 2
    y = year - march
    era = np.floor(y / 400)
    of_era = y - era * 400
    of_year = np.floor((153 * (month + np.where(march, 9, -3)) + 2) / 5) + day - 1
    days = era * 146097 + of_era * 365 + np.floor(of_era / 4) - np.floor(of_era / 100) + of_year - 719468
    return np.where(good, days, np.nan)


def _datetimes(parts: list[np.ndarray], ok: np.ndarray) -> np.ndarray:
    """year ... second as datetime64[ns], NaT where `ok` is false or they
    name no day; hours, minutes and seconds are added to the day as they
    are (an hour 24 is the next day's 0), as pandas does."""
    year, month, day = (np.where(ok, p, 1.0) for p in parts[:3])
    # Reports share few dates (a satellite pass, one): each is worked out once.
    if len(year) and (year == year[0]).all() and (month == month[0]).all() and (day == day[0]).all():
        days = np.repeat(_day_numbers(year[:1], month[:1], day[:1]), len(year))
    else:
        # Every date there is has a month and a day in 0..99, which the key keeps apart.
        keyed = (month >= 0) & (month < 100) & (day >= 0) & (day < 100)
        _, first, where = np.unique(np.where(keyed, year * 10000 + month * 100 + day, -1.0), return_index=True,
                                    return_inverse=True)
        days = np.where(keyed, _day_numbers(year[first], month[first], day[first])[where], np.nan)
    good = ok & ~np.isnan(days)
    clock = np.where(good, parts[3] * 3600 + parts[4] * 60 + parts[5], 0)
    nanos = np.where(good, days * 86400, 0).astype(np.int64) * 1_000_000_000 + np.round(clock * 1e9).astype(np.int64)
    times = nanos.view("datetime64[ns]")
    times[~good] = np.datetime64("NaT")
    return times


def _computed(pd: Any, data: dict[str, tuple[Any, np.ndarray]], key: str) -> tuple[Any, np.ndarray]:
    """A computed key's values and where they are found."""
    def number(name: str) -> np.ndarray:
        values = data[name][0]
        if values.dtype != float:  # texts where numbers were expected
            values = pd.to_numeric(pd.Series(values), errors="coerce").to_numpy(float)
        return np.asarray(values, float)

    def found(name: str) -> np.ndarray:
        return data[name][1]

    if key == "WMO_station_id":
        ident = number("blockNumber") * 1000 + number("stationNumber")
        known = np.isfinite(ident)
        values = pd.arrays.IntegerArray(np.round(np.where(known, ident, 0)).astype(np.int64), ~known)
        return values, found("blockNumber") & found("stationNumber") & known
    if key == "WIGOS_station_id":
        parts = [data[p][0] for p in WIGOS_PARTS]
        ok = ~np.logical_or.reduce([pd.isna(p) for p in parts]) if len(parts[0]) else np.zeros(0, bool)
        ident = np.full(len(ok), None, dtype=object)
        rows = np.flatnonzero(ok)
        ident[rows] = [f"{round(a)}-{round(b)}-{round(c)}-{d}" for a, b, c, d in
                       zip(*(np.asarray(p, dtype=object)[rows] for p in parts))]
        return ident, ok
    parts = [number(p) for p in TIME_PARTS]
    parts[5] = np.nan_to_num(parts[5], nan=0.0)
    ok = np.logical_and.reduce([~np.isnan(p) for p in parts])
    times = _datetimes(parts, ok)
    return times, ok & ~np.isnat(times) & found("year")


def _header_columns(pd: Any, items: Sequence[Any], keys: list[str], file: np.ndarray,
                    message: np.ndarray) -> dict[str, Any]:
    """The header keys of each row, from its file's headers."""
    if not keys:
        return {}
    parts: dict[str, list[Any]] = {key: [] for key in keys}
    # The rows come file after file.
    cuts = np.flatnonzero(np.diff(file)) + 1
    for rows in np.split(np.arange(len(file)), cuts) if len(file) else []:
        frame = _header_frame(pd, items[int(file[rows[0]])], set(keys)).set_index("message")
        where = frame.index.get_indexer(message[rows])
        for key in keys:
            parts[key].append(_as_array(frame[key]).take(where))
    empty = _header_frame(pd, b"", set(keys))
    return {key: (pd.concat([pd.Series(p) for p in parts[key]], ignore_index=True).array if len(parts[key]) > 1
                  else parts[key][0] if parts[key] else _as_array(empty[key])) for key in keys}


def _check_keys(query: Query, tables: Sequence[Any], data: dict[str, tuple[Any, np.ndarray]], count: int,
                warn: bool) -> None:
    """A key that no row holds: an error when no table of the messages read
    knows it (with the closest keys they know), else a warning when there
    are no rows at all. Without a decoded message there is nothing to judge
    by: the errors say why."""
    missing = [key for key in query.asked if key not in HEADER_ONLY and key not in COMPUTED
               and not (count and data[key][1].any())]
    if not missing or not tables:
        return
    known = frozenset().union(*(table_keys(t) for t in {id(t): t for t in tables}.values()))
    for key in missing:
        if plain_key(key) not in known:
            text = unknown_key_text(key, known | set(HEADER_ONLY) | set(COMPUTED))
            if key in query.required or key in query.filters:
                raise KeyError(text)
            if warn:
                warnings.warn(text, stacklevel=4)  # asked for as it may be: absent is an answer
            return
    if not count and warn:
        warnings.warn(f"no rows: no message read holds {', '.join(map(repr, missing))} (keys of its tables) with "
                      "the filters given", stacklevel=4)


def read_rows(items: Sequence[Any], pieces: Sequence[Piece], source: TableSource, query: Query,
              warn: bool = True) -> tuple[pd.DataFrame, list[MessageError], list[str]]:
    """The rows of `query` over `pieces`, each a Piece of one of `items` (the
    paths or bytes they read, in the same order), and the messages left out
    with their files. `warn`: a key absent from every row is a warning (not
    for one partition of many, where that is no news)."""
    pd = pandas()
    prepared = [prepare_piece(piece, source, None) for piece in pieces]
    conditions = query.conditions()
    file_of = {id(item): number for number, item in enumerate(items)}
    block = _native.observation_rows([p.native(file_of[id(piece.path)], source) for p, piece in zip(prepared, pieces)],
                                     query.native_keys(), conditions)
    for k, p in enumerate(prepared):
        p.add_failures(block["errors"], source, k)
    failed = [p.errors for p in prepared]
    if warn:
        warn_stopped([e for rows in failed for e in rows])
    errors, error_files = [], []
    for rows in failed:
        for label, index, offset, reason, where in sorted(rows, key=lambda e: e[1]):
            errors.append(message_error(reason, int(index), int(offset), where))
            error_files.append(label)

    count = block["count"]
    texts = np.array([*block["texts"], None], dtype=object)  # code -1 is None
    # A key is texts where some row holds one (no rows: numbers, as the meta of skyrec.dask has it).
    data = {key: (np.asarray(v) if t is None or not count else texts[np.asarray(t)], np.asarray(f))
            for key, (v, f, t) in zip(query.data_keys, block["columns"])}
    file, message = np.asarray(block["file"]), np.asarray(block["message"])
    headers = _header_columns(pd, items, query.header_keys, file, message)
    # What the decoder checked already needs no second look: a data key
    # found, a numeric filter on a key that gave no text.
    checked = {query.data_keys[i]: bool(ranges) for i, ranges in conditions}
    keep = np.ones(count, bool)
    result: dict[str, Any] = {}
    for key in query.asked:
        plain = key in checked and data[key][0].dtype == float
        if key in COMPUTED:
            values, found = _computed(pd, data, key)
        elif key in headers:
            values, found = headers[key], np.ones(count, bool)
        else:
            values, found = data[key]
        if key in query.required and key not in checked:
            keep &= found
        if key in query.filters and not (plain and checked[key]):
            keep &= _matches(pd.Series(values, copy=False), query.filters[key])
        result[key] = values
    decoded = sum(len(p.messages) for p in prepared) > len(block["errors"])
    _check_keys(query, block["tables"] if decoded else [], data, count, warn)
    every = bool(keep.all())
    frame = pd.DataFrame({key: result[key] if every else result[key][keep] for key in query.columns}, copy=False)
    if len(frame.columns) != len(query.columns):  # a column asked twice
        frame = frame[query.columns]
    return frame, errors, error_files

def read_observations(source: Any, columns: Sequence[str] | str, *, filters: Mapping[str, Filter] | None = None,
                      required_columns: bool | Iterable[str] = True, tables: Any = None,
                      table_dir: str | os.PathLike[str] | None = None,
                      definitions: str | os.PathLike[str] | None = None,
                      wmo_csv: str | os.PathLike[str] | None = None, output: str = "pandas") -> Any:
    """One pandas DataFrame with one row per observation of `source` (a path,
    a glob, a list of them, or bytes), a column per key of `columns`.

    filters: {key: value, list of values, slice (an inclusive range: slice(lo,
    hi), either end None) or callable (given the key's values as a pandas
    Series, or one value at a time when it cannot take a Series)}; a row is
    kept when each filter passes, missing values never passing. Filter keys
    need not be columns.
    required_columns: True drops rows lacking any column's key (a missing
    value is found; an absent key is not), False keeps them (absent as
    NaN/None), a list of keys requires those.
    Tables are chosen as in read_dataframe; messages that cannot be read are
    left out and listed in frame.attrs["errors"] (their files in
    frame.attrs["error_files"]). output="arrow" gives a pyarrow Table
    instead, those errors in its schema metadata (skyrec.formats.arrow.errors_of).
    See the module's text for how rows are made and where this differs from pdbufr."""
    if output not in ("pandas", "arrow"):
        raise ValueError(f"output must be 'pandas' or 'arrow', not {output!r}")
    query = make_query(columns, filters, required_columns)
    source_tables = cached_tables(tables, table_dir, definitions, wmo_csv)
    items = _sources(source)
    frame, errors, error_files = read_rows(items, [Piece(item) for item in items], source_tables, query)
    frame.attrs["errors"] = errors
    frame.attrs["error_files"] = error_files
    if output == "arrow":
        from .formats.arrow import observations_arrow

        return observations_arrow(frame)
    return frame
