"""The questions that read_observations is compared on with pdbufr (in
tests/test_observations.py) and timed against pdbufr and the eccodes package
(bench/bench_observations.py): the same files of the real corpus, the same
columns and filters."""

from __future__ import annotations

from collections.abc import Callable
from pathlib import Path
from typing import Any, NamedTuple

import numpy as np

from skyrec.blocks import read_headers

# Crafted SYNOP files that ecCodes refuses (a length past the data, a
# replication it cannot expand, a table version it lacks).
UNREAD_BY_ECCODES = {"030XXX.bufr", "bug_606474.bufr", "delayed_repetition.bufr",
                     "delayed_repetition_compressed.bufr", "delayed_repl0.bufr"}


def synop_files(corpus: Path) -> list[Path]:
    """The corpus files that hold land SYNOP reports only (category 0,
    international sub-category 0 to 2), every message framed."""
    found = []
    for path in sorted(corpus.iterdir()):
        if path.suffix in (".tsv", ".md") or not path.is_file() or path.name in UNREAD_BY_ECCODES:
            continue
        headers = read_headers(path)
        if len(headers) and headers["error"].isna().all() and (headers["category"] == 0).all() \
                and headers["subcategory"].isin([0, 1, 2]).all() and (headers["subsets"] > 0).all():
            found.append(path)
    return found


CHANNEL = "tovsOrAtovsOrAvhrrInstrumentationChannelNumber"
TEMPS = ["cdfin_temp", "A_IUSN01BABJ290000_C_RJTD_20191029025504_87.bufr", "temp-huge.bufr"]


class Query(NamedTuple):
    name: str
    files: Callable[[Path], list[Path]]
    columns: list[str]
    filters: dict[str, Any] | None = None


def named(*names: str) -> Callable[[Path], list[Path]]:
    return lambda corpus: [corpus / n for n in names]


QUERIES = [
    Query("SYNOP station, position, time, 2 m temperature, pressure", synop_files,
          ["WMO_station_id", "latitude", "longitude", "data_datetime", "airTemperature", "pressure"]),
    Query("TEMP temperature and dew point at 500 hPa", named(*TEMPS),
          ["WMO_station_id", "pressure", "airTemperature", "dewpointTemperature"], {"pressure": 50000}),
    Query("TEMP profile of station 51463", named(*TEMPS),
          ["WMO_station_id", "data_datetime", "pressure", "nonCoordinateGeopotentialHeight", "airTemperature",
           "dewpointTemperature", "windDirection", "windSpeed"], {"WMO_station_id": 51463}),
    Query("satellite positions, times, channel 45 brightness temperature", named("metop_mhs.bufr"),
          ["latitude", "longitude", "data_datetime", CHANNEL, "brightnessTemperature"], {CHANNEL: 45}),
    Query("TEMP levels 400 to 600 hPa (slice)", named(*TEMPS),
          ["WMO_station_id", "pressure", "airTemperature"], {"pressure": slice(40000, 60000)}),
    Query("SYNOP above 25 C (callable)", synop_files,
          ["WMO_station_id", "airTemperature"], {"airTemperature": lambda t: t > 298.15}),
]


def same_rows(ours: Any, theirs: Any, columns: list[str]) -> str | None:
    """Why two frames of these columns differ (numbers to 1e-9 relative), or None."""
    if len(ours) != len(theirs):
        return f"{len(ours)} rows, pdbufr {len(theirs)}"
    for column in columns:
        a, b = ours[column], theirs[column]
        if a.dtype.kind == "f":
            if not np.allclose(a.to_numpy(float), b.to_numpy(float), rtol=1e-9, atol=0, equal_nan=True):
                return column
        elif a.astype(str).tolist() != b.astype(str).tolist():
            return column
    return None
