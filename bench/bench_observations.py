"""Rows per observation: skyrec.read_observations against pdbufr.read_bufr on
the same queries and files of the real corpus, medians of a few runs.

    PYTHONPATH=$PWD/build/rel python3 bench/bench_observations.py [CORPUS_DIR]
"""

from __future__ import annotations

import statistics
import sys
import time
import warnings
from pathlib import Path

import pdbufr

from skyrec.observations import read_observations

QUERIES = [
    ("SYNOP station, position, time, temperature", ["cdfin_synop.bufr", "1xBUFRSYNOP-ed4.bufr"],
     ["WMO_station_id", "latitude", "longitude", "data_datetime", "airTemperature"], None),
    ("TEMP temperature and dew point at 500 hPa",
     ["cdfin_temp", "A_IUSN01BABJ290000_C_RJTD_20191029025504_87.bufr", "temp-huge.bufr"],
     ["WMO_station_id", "pressure", "airTemperature", "dewpointTemperature"], {"pressure": 50000}),
    ("TEMP levels 400 to 600 hPa, stations over 52000",
     ["A_IUSN01BABJ290000_C_RJTD_20191029025504_87.bufr"], ["WMO_station_id", "pressure", "airTemperature"],
     {"pressure": slice(40000, 60000), "WMO_station_id": lambda i: i > 52000}),
]
RUNS = 5


def timed(read, files) -> tuple[float, int]:
    times, rows = [], 0
    for _ in range(RUNS):
        start = time.perf_counter()
        rows = sum(len(read(f)) for f in files)
        times.append(time.perf_counter() - start)
    return statistics.median(times), rows


def main() -> None:
    warnings.simplefilter("ignore")
    corpus = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "shared/corpus/real")
    print(f"{'query':50} {'rows':>5} {'skyrec ms':>10} {'pdbufr ms':>10} {'ratio':>6}")
    for name, files, columns, filters in QUERIES:
        paths = [corpus / f for f in files]
        ours, rows = timed(lambda p, c=columns, f=filters: read_observations(p, c, filters=f), paths)
        theirs, their_rows = timed(lambda p, c=columns, f=filters: pdbufr.read_bufr(p, columns=c, filters=f or {}),
                                    paths)
        assert rows == their_rows, (name, rows, their_rows)
        print(f"{name:50} {rows:5} {ours * 1e3:10.1f} {theirs * 1e3:10.1f} {theirs / ours:5.1f}x")


if __name__ == "__main__":
    main()
