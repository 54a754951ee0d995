"""One row per observation, columns and filters named by ecCodes keys.

    frame = read_observations("temp.bufr", ["WMO_station_id", "data_datetime", "pressure", "airTemperature"],
                              filters={"pressure": slice(40000, 50000)})

The same question as pdbufr's `read_bufr(path, columns=..., filters=...)`,
answered over the long frame of skyrec.blocks (one row per value, each with
its key and rank): the requested keys' values are picked and laid out in
rows with NumPy and pandas, no Python object per value.

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
found nowhere gives an empty frame with the asked columns (pdbufr's has none).
"""

from __future__ import annotations

import glob
import os
import re
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any

import numpy as np

from .blocks import read_block, read_headers
from .errors import MessageError
from .optional import pandas

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

SUBSETS_PER_MESSAGE = 1 << 16  # section 3 counts subsets in 16 bits
Filter = Any  # a value, a list/tuple/set of values, a slice (inclusive) or a callable


def _sources(source: Any) -> list[Any]:
    if isinstance(source, (bytes, bytearray, memoryview)):
        return [source]
    items = [source] if isinstance(source, (str, os.PathLike)) else list(source)
    found: list[Any] = []
    for item in items:
        if isinstance(item, (bytes, bytearray, memoryview)):
            found.append(item)
            continue
        text = os.fspath(item)
        matches = sorted(glob.glob(text)) if glob.has_magic(text) else [text]
        if not matches:
            raise FileNotFoundError(f"no files match {text}")
        found.extend(matches)
    return found


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


def _picked(pd: Any, values: pd.DataFrame, keys: set[str]) -> pd.DataFrame:
    """The values of `keys` (plain or ranked) as rows (sub, position, name,
    number, text), in stream order."""
    parts = []
    plain = [k for k in keys if not k.startswith("#")]
    key = values["key"]
    if plain:
        hit = key.isin(plain).to_numpy(bool)
        parts.append((hit, key.to_numpy(object)[hit] if hit.any() else np.zeros(0, object)))
    for ranked in (k for k in keys if k.startswith("#")):
        match = RANKED.fullmatch(ranked)
        assert match is not None
        hit = ((key == match.group(2)) & (values["rank"] == int(match.group(1)))).to_numpy(bool)
        parts.append((hit, np.full(int(hit.sum()), ranked, object)))
    sub = values["message"].to_numpy() * SUBSETS_PER_MESSAGE + values["subset"].to_numpy()
    number, text = values["value"].to_numpy(), values["text"].array
    rows = [pd.DataFrame({"sub": sub[hit], "position": np.flatnonzero(hit), "name": names,
                          "number": number[hit], "text": np.asarray(text[hit], dtype=object)})
            for hit, names in parts]
    picked = pd.concat(rows, ignore_index=True) if rows else pd.DataFrame(
        {"sub": [], "position": [], "name": [], "number": [], "text": []})
    return picked.sort_values(["sub", "position"], kind="stable", ignore_index=True)


def _rows(pd: Any, picked: pd.DataFrame) -> pd.DataFrame:
    """The observation rows of the picked values: index (sub, row), one
    column per key, and found_<key> marking which keys a row has."""
    counts = picked.groupby(["sub", "name"], sort=False)["position"].transform("size").to_numpy()
    repeated = counts > 1
    # The leading key of each subset: its first repeated one.
    first_repeated = picked[repeated].drop_duplicates("sub").set_index("sub")["name"]
    leading = picked["sub"].map(first_repeated).to_numpy(object)
    starts = repeated & (picked["name"].to_numpy(object) == leading)
    row = picked.assign(start=starts).groupby("sub", sort=False)["start"].cumsum().to_numpy() - 1
    has_leader = pd.notna(leading)
    row = np.where(has_leader, row, 0)
    picked = picked.assign(row=row, repeated=repeated)
    inner = picked[picked["repeated"] & (picked["row"] >= 0)].drop_duplicates(["sub", "row", "name"])
    outer = picked[~picked["repeated"]].drop_duplicates(["sub", "name"])
    texts = set(picked.loc[picked["text"].notna(), "name"])

    def spread(frame: pd.DataFrame, index: list[str]) -> pd.DataFrame:
        numbers = frame.pivot(index=index, columns="name", values="number")
        found = frame.assign(one=True).pivot(index=index, columns="name", values="one")
        found = found.notna().add_prefix("found_")
        if texts:
            words = frame[frame["name"].isin(texts)].pivot(index=index, columns="name", values="text")
            numbers = numbers.drop(columns=[c for c in words.columns if c in numbers.columns]).join(words)
        return numbers.join(found)

    subs_rows = picked.loc[(picked["row"] >= 0) & (picked["repeated"] | ~has_leader), ["sub", "row"]]
    index = pd.MultiIndex.from_frame(subs_rows.drop_duplicates())
    frame = pd.DataFrame(index=index)
    if len(inner):
        frame = frame.join(spread(inner, ["sub", "row"]))
    if len(outer):
        outer_frame = spread(outer, ["sub"])
        both = [c for c in outer_frame.columns if c in frame.columns]
        frame = frame.join(outer_frame.drop(columns=both), on="sub")
        if both:
            # A key repeated in some subsets and found once in others.
            spread_outer = outer_frame[both].reindex(frame.index.get_level_values("sub"))
            spread_outer.index = frame.index
            for column in both:
                if column.startswith("found_"):
                    frame[column] = frame[column].fillna(False).astype(bool) | spread_outer[column].fillna(False)
                else:
                    frame[column] = frame[column].combine_first(spread_outer[column])
    return frame


def _computed(pd: Any, frame: pd.DataFrame, key: str) -> tuple[pd.Series, pd.Series]:
    """A computed key's values and where they are found."""
    def column(name: str) -> pd.Series:
        return frame[name] if name in frame.columns else pd.Series(np.nan, index=frame.index)

    def found(name: str) -> pd.Series:
        f = f"found_{name}"
        return frame[f].fillna(False).astype(bool) if f in frame.columns else pd.Series(False, index=frame.index)

    if key == "WMO_station_id":
        ident = (column("blockNumber") * 1000 + column("stationNumber")).round().astype("Int64")
        return ident, found("blockNumber") & found("stationNumber") & ident.notna()
    if key == "WIGOS_station_id":
        numbers = [column(p).round().astype("Int64").astype(str) for p in WIGOS_PARTS[:3]]
        local = column(WIGOS_PARTS[3]).astype(object)
        ok = pd.concat([column(p).notna() for p in WIGOS_PARTS], axis=1).all(axis=1)
        ident = (numbers[0] + "-" + numbers[1] + "-" + numbers[2] + "-" + local.astype(str)).where(ok, None)
        return ident.astype(object), ok
    parts = [column(p) for p in TIME_PARTS]
    parts[5] = parts[5].where(found("second"), 0).fillna(0) if "found_second" in frame.columns else parts[5].fillna(0)
    table = pd.DataFrame({n: p for n, p in zip(TIME_PARTS, parts)}).astype(float)
    ok = table.notna().all(axis=1)
    times = pd.to_datetime(table.where(ok, np.nan).fillna({"year": 1970, "month": 1, "day": 1, "hour": 0,
                                                               "minute": 0, "second": 0}), errors="coerce")
    times = times.where(ok)
    return times, ok & times.notna() & found("year")


def read_observations(source: Any, columns: Sequence[str] | str, *, filters: Mapping[str, Filter] | None = None,
                      required_columns: bool | Iterable[str] = True, tables: Any = None,
                      table_dir: str | os.PathLike[str] | None = None,
                      definitions: str | os.PathLike[str] | None = None,
                      wmo_csv: str | os.PathLike[str] | None = None) -> pd.DataFrame:
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
    frame.attrs["error_files"]). See the module's text for
    how rows are made and where this differs from pdbufr."""
    pd = pandas()
    columns = [columns] if isinstance(columns, str) else list(columns)
    filters = dict(filters or {})
    for key in [*columns, *filters]:
        _check_key(key)
    if isinstance(required_columns, bool):
        required = list(columns) if required_columns else []
    else:
        required = [_check_key(k) for k in required_columns]
    asked = set(columns) | set(filters) | set(required)
    header_keys = asked & HEADER_ONLY
    data_keys = {k for k in asked - HEADER_ONLY if k not in COMPUTED}
    for key in asked & set(COMPUTED):
        data_keys |= set(COMPUTED[key])

    frames = []
    errors: list[MessageError] = []
    error_files: list[str] = []
    for number, item in enumerate(_sources(source)):
        values, failed = read_block(item, tables=tables, table_dir=table_dir, definitions=definitions,
                                    wmo_csv=wmo_csv)
        errors += [MessageError(reason, int(index), int(offset)) for index, offset, reason
                   in failed[["message", "offset", "error"]].itertuples(index=False, name=None)]
        error_files += [item if isinstance(item, str) else "<buffer>"] * len(failed)
        picked = _picked(pd, values, data_keys)
        if not len(picked):
            continue
        rows = _rows(pd, picked).reset_index()
        rows["message"] = rows["sub"].to_numpy() // SUBSETS_PER_MESSAGE
        if header_keys:
            rows = rows.merge(_header_frame(pd, item, header_keys), on="message", how="left")
        rows["file"] = number
        frames.append(rows)
    frame = pd.concat(frames, ignore_index=True) if frames else pd.DataFrame()
    result = pd.DataFrame(index=frame.index)
    keep = np.ones(len(frame), bool)
    for key in dict.fromkeys([*columns, *filters, *required]):
        if key in COMPUTED:
            if len(frame):
                result[key], found = _computed(pd, frame, key)
            else:
                result[key], found = pd.Series(dtype=object), pd.Series(dtype=bool)
        elif key in frame.columns:
            result[key] = frame[key]
            found = frame[f"found_{key}"].fillna(False).astype(bool) if f"found_{key}" in frame.columns else \
                pd.Series(True, index=frame.index)
        else:
            result[key] = pd.Series(np.nan, index=frame.index, dtype=float)
            found = pd.Series(False, index=frame.index)
        if key in required:
            keep &= found.to_numpy(bool)
        if key in filters:
            keep &= _matches(result[key], filters[key])
    out = result.loc[keep, columns].reset_index(drop=True)
    out.attrs["errors"] = errors
    out.attrs["error_files"] = error_files
    return out
