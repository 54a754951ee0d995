"""Observations as GeoJSON, one Feature per observed value, as WIS 2.0 data
notifications and web maps take them: where (longitude, latitude and the
station's height), when (the phenomenon time), who (the WIGOS station
identifier, a WMO block and station number written 0-20000-0-BBSSS), and
the value with its name, units and code-table meaning. The modifiers in
force at the value (a time period, a sensor height, a significance) are its
metadata."""

from __future__ import annotations

import json
import math
from collections.abc import Iterator
from typing import IO, TYPE_CHECKING, Any

import numpy as np

if TYPE_CHECKING:
    import pandas as pd

WIGOS_PARTS = ("wigosIdentifierSeries", "wigosIssuerOfIdentifier", "wigosIssueNumber", "wigosLocalIdentifierCharacter")
TIME_KEYS = ("year", "month", "day", "hour", "minute", "second")
# A station's own heights only: a plain "height" is often an instrument's (a satellite's orbit).
HEIGHT_KEYS = ("heightOfStationGroundAboveMeanSeaLevel", "heightOfStation")
CONTEXT_KEYS = (*WIGOS_PARTS, "blockNumber", "stationNumber", "stationOrSiteName", "latitude", "longitude",
                *HEIGHT_KEYS, *TIME_KEYS)
# Descriptor classes whose values qualify the observations after them.
MODIFIER_CLASSES = (4, 7, 8)
REPLICATION_CLASS = 31
FIRST_OBSERVED_CLASS = 10


def _objects(column: pd.Series) -> np.ndarray:
    """A categorical column's texts, None where missing."""
    if not hasattr(column, "cat"):
        plain: np.ndarray = column.to_numpy(object)
        return plain
    texts = np.empty(len(column.cat.categories) + 1, dtype=object)  # code -1 picks the None last
    texts[:-1] = column.cat.categories.to_numpy(object)
    found: np.ndarray = texts[column.cat.codes.to_numpy()]
    return found


def descriptor_class(descriptor: np.ndarray) -> np.ndarray:
    return (descriptor // 1000) % 100


def observed(frame: pd.DataFrame) -> np.ndarray:
    """Which rows of a values frame are observations: numbers present, of
    element classes 10 and up, replication counts aside."""
    descriptor = frame["descriptor"].to_numpy()
    klass = descriptor_class(descriptor)
    result: np.ndarray = ((descriptor < 100000) & (klass >= FIRST_OBSERVED_CLASS) & (klass != REPLICATION_CLASS)
                          & ~np.isnan(frame["value"].to_numpy()))
    return result


def _number(value: float) -> float | int | None:
    if value is None or math.isnan(value):
        return None
    return int(value) if value.is_integer() else value


def _contexts(frame: pd.DataFrame) -> dict[tuple[int, int], dict[str, Any]]:
    """Per (message, subset), the first value of each context key."""
    key = _objects(frame["key"])
    rank = frame["rank"].to_numpy()
    rows = np.flatnonzero(np.isin(key, CONTEXT_KEYS) & (rank == 1))
    message, subset = frame["message"].to_numpy(), frame["subset"].to_numpy()
    value, text = frame["value"].to_numpy(), _objects(frame["text"])
    found: dict[tuple[int, int], dict[str, Any]] = {}
    for row in rows.tolist():
        where = found.setdefault((int(message[row]), int(subset[row])), {})
        where[key[row]] = text[row] if text[row] is not None else _number(float(value[row]))
    return {where: _place(context) for where, context in found.items()}


def _place(context: dict[str, Any]) -> dict[str, Any]:
    parts = [context.get(k) for k in WIGOS_PARTS]
    station = None
    if all(p is not None for p in parts):
        station = "-".join(str(p) for p in parts)
    elif context.get("blockNumber") is not None and context.get("stationNumber") is not None:
        station = f"0-20000-0-{context['blockNumber']:02d}{context['stationNumber']:03d}"
    time = None
    clock: list[Any] = [context.get(k) for k in TIME_KEYS[:5]] + [context.get("second") or 0]
    if all(isinstance(c, (int, float)) for c in clock):
        year, month, day, hour, minute, second = (int(c) for c in clock)
        time = f"{year:04d}-{month:02d}-{day:02d}T{hour:02d}:{minute:02d}:{second:02d}Z"
    geometry = None
    if context.get("latitude") is not None and context.get("longitude") is not None:
        height = next((context[k] for k in HEIGHT_KEYS if context.get(k) is not None), None)
        point = [context["longitude"], context["latitude"]] + ([height] if height is not None else [])
        geometry = {"type": "Point", "coordinates": point}
    wmo = None
    if context.get("blockNumber") is not None and context.get("stationNumber") is not None:
        wmo = context["blockNumber"] * 1000 + context["stationNumber"]
    return {"station": station, "wmo": wmo, "name": context.get("stationOrSiteName"), "time": time,
            "geometry": geometry}


def _modifiers(frame: pd.DataFrame, subset_start: np.ndarray) -> list[tuple[str, np.ndarray]]:
    """For each modifier key, the row of its latest value before each row
    within the row's subset (-1 where none)."""
    key = _objects(frame["key"])
    klass = descriptor_class(frame["descriptor"].to_numpy())
    candidates = np.isin(klass, MODIFIER_CLASSES) & ~np.isin(key, CONTEXT_KEYS) & (frame["descriptor"] < 100000)
    found = []
    positions = np.arange(len(frame))
    for name in sorted({k for k in key[candidates] if k}):
        latest = np.maximum.accumulate(np.where(candidates & (key == name), positions, -1))
        found.append((name, np.where(latest >= subset_start, latest, -1)))
    return found


def features(frame: pd.DataFrame) -> Iterator[dict[str, Any]]:
    """The Features of a values frame (read_block's or convert's, with `file`)."""
    if not len(frame):
        return
    contexts = _contexts(frame)
    message, subset = frame["message"].to_numpy(), frame["subset"].to_numpy()
    starts = np.r_[True, (message[1:] != message[:-1]) | (subset[1:] != subset[:-1])]
    subset_start = np.maximum.accumulate(np.where(starts, np.arange(len(frame)), 0))
    modifiers = _modifiers(frame, subset_start)
    value = frame["value"].to_numpy()
    key, unit = _objects(frame["key"]), _objects(frame["unit"])
    name, meaning = _objects(frame["name"]), _objects(frame["meaning"])
    descriptor = frame["descriptor"].to_numpy()
    file = _objects(frame["file"]) if "file" in frame else np.full(len(frame), "", dtype=object)
    for row in np.flatnonzero(observed(frame)).tolist():
        where = (int(message[row]), int(subset[row]))
        place = contexts.get(where, _place({}))
        metadata = [{"name": k, "value": _number(float(value[r])), "units": unit[r]}
                    for k, latest in modifiers if (r := int(latest[row])) >= 0]
        yield {"type": "Feature", "id": f"{file[row]}:{where[0]}:{where[1]}:{row - int(subset_start[row])}",
               "geometry": place["geometry"],
               "properties": {"wigos_station_identifier": place["station"], "wmo_station_identifier": place["wmo"],
                              "station_name": place["name"], "phenomenonTime": place["time"],
                              "name": key[row] or name[row], "descriptor": f"{int(descriptor[row]):06d}",
                              "value": _number(float(value[row])), "units": unit[row],
                              "description": meaning[row], "metadata": metadata}}


def write_collection(frames: Iterator[pd.DataFrame], out: IO[str]) -> int:
    """A FeatureCollection of every frame's Features, written as they come;
    returns the Features written."""
    count = 0
    out.write('{"type": "FeatureCollection", "features": [')
    for frame in frames:
        for feature in features(frame):
            out.write(("\n" if not count else ",\n") + json.dumps(feature, ensure_ascii=False))
            count += 1
    out.write("\n]}\n")
    return count
