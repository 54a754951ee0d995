"""skyrec.from_dataframe of SYNOP rows against the per-key encoding that
csv2bufr does over the eccodes package, in one run: for every row a message
handle (a clone, unpacked, of one whose descriptors and replication counts
are set: the fastest such route), codes_set per key of the values converted by a
scale and an offset per column, then pack and the message's bytes. Both
write one message per row of the land-station template (301150 307096)
from the same table; the messages are checked to read back the same.
Medians of CPU time (steadier than the wall clock on a shared machine).

    PYTHONPATH=$PWD/build/rel python3 bench/bench_from_dataframe.py [--rows 100000] [--runs 3]

The eccodes route is timed on --peer-rows rows (default all of them) and
its rate given per row; the ratio is of rows per second.
"""

from __future__ import annotations

import argparse
from typing import Any

import eccodes
import numpy as np
import pandas as pd
from bench_encode import median_seconds

import skyrec

UNITS = {"airTemperature": "degC", "dewpointTemperature": "degC", "pressureReducedToMeanSeaLevel": "hPa",
         "nonCoordinatePressure": "hPa", "windSpeed": "kt", "maximumWindGustSpeed": "kt"}
# What csv2bufr's mappings say for the same units: value * 10**scale + offset.
SCALE_OFFSET = {"airTemperature": (0, 273.15), "dewpointTemperature": (0, 273.15),
                "pressureReducedToMeanSeaLevel": (2, 0.0), "nonCoordinatePressure": (2, 0.0),
                "windSpeed": (np.log10(1852 / 3600), 0.0), "maximumWindGustSpeed": (np.log10(1852 / 3600), 0.0)}
TEXTS = ("wigosLocalIdentifierCharacter", "stationOrSiteName")


def synop_rows(n: int, seed: int = 1) -> pd.DataFrame:
    rng = np.random.default_rng(seed)
    stations = rng.integers(1000, 99999, n)
    minutes = rng.integers(0, 60 * 24 * 365, n)
    times = (np.datetime64("2024-01-01T00:00") + minutes.astype("timedelta64[m]")).astype(str)
    return pd.DataFrame({
        "wigosIdentifier": [f"0-20000-0-{s:05d}" for s in stations], "time": times,
        "stationOrSiteName": [f"STATION {s}" for s in stations],
        "latitude": rng.uniform(-89, 89, n).round(5), "longitude": rng.uniform(-179, 179, n).round(5),
        "heightOfStationGroundAboveMeanSeaLevel": rng.uniform(0, 2000, n).round(1),
        "nonCoordinatePressure": rng.uniform(800, 1040, n).round(1),
        "pressureReducedToMeanSeaLevel": rng.uniform(960, 1050, n).round(1),
        "airTemperature": rng.uniform(-40, 45, n).round(1), "dewpointTemperature": rng.uniform(-45, 30, n).round(1),
        "relativeHumidity": rng.uniform(5, 100, n).round(0), "windDirection": rng.integers(0, 360, n),
        "windSpeed": rng.uniform(0, 60, n).round(0), "maximumWindGustSpeed": rng.uniform(0, 90, n).round(0),
    })


class PerKey:
    """csv2bufr's route: a handle per row, a codes_set per key, then pack."""

    def __init__(self, first: bytes, frame: pd.DataFrame):
        h = eccodes.codes_new_from_message(first)
        eccodes.codes_set(h, "unpack", 1)
        counts = {f"input{k[0].upper()}{k[1:]}": eccodes.codes_get_array(h, k).tolist() for k in
                  ("shortDelayedDescriptorReplicationFactor", "delayedDescriptorReplicationFactor",
                   "extendedDelayedDescriptorReplicationFactor") if eccodes.codes_is_defined(h, k)}
        header = {k: eccodes.codes_get(h, k) for k in ("edition", "masterTablesVersionNumber", "dataCategory",
                                                        "internationalDataSubCategory")}
        eccodes.codes_release(h)
        self.template = eccodes.codes_bufr_new_from_samples("BUFR4")
        for key, value in header.items():
            eccodes.codes_set(self.template, key, value)
        for key, value in counts.items():
            eccodes.codes_set_array(self.template, key, value)
        eccodes.codes_set_array(self.template, "unexpandedDescriptors", [301150, 307096])
        eccodes.codes_set(self.template, "pack", 1)  # a clone unpacked is faster than a new handle expanded
        self.rows = self._rows(frame)

    @staticmethod
    def _rows(frame: pd.DataFrame) -> list[list[tuple[str, Any]]]:
        """Each row's (key, value) pairs as csv2bufr's mapping makes them, untimed."""
        wigos = frame["wigosIdentifier"].str.split("-", expand=True)
        times = pd.to_datetime(frame["time"])
        columns: dict[str, list[Any]] = {
            "wigosIdentifierSeries": wigos[0].astype(int).tolist(), "wigosIssuerOfIdentifier": wigos[1].astype(
                int).tolist(), "wigosIssueNumber": wigos[2].astype(int).tolist(),
            "wigosLocalIdentifierCharacter": wigos[3].tolist(),
            **{part: getattr(times.dt, part).tolist() for part in ("year", "month", "day", "hour", "minute")}}
        for column in frame.columns:
            if column not in ("wigosIdentifier", "time"):
                columns[column] = frame[column].tolist()
        keys = list(columns)
        return [list(zip(keys, values)) for values in zip(*columns.values())]

    def encode(self, rows: list[list[tuple[str, Any]]]) -> list[bytes]:
        out = []
        for row in rows:
            h = eccodes.codes_clone(self.template)
            eccodes.codes_set(h, "unpack", 1)
            for key, value in row:
                if key in SCALE_OFFSET:
                    scale, offset = SCALE_OFFSET[key]
                    value = value * 10 ** scale + offset
                eccodes.codes_set(h, f"#1#{key}", value if key in TEXTS else float(value))
            eccodes.codes_set(h, "pack", 1)
            out.append(eccodes.codes_get_message(h))
            eccodes.codes_release(h)
        return out


def same_values(ours: bytes, theirs: bytes, keys: list[str]) -> bool:
    values = []
    for data in (ours, theirs):
        h = eccodes.codes_new_from_message(data)
        eccodes.codes_set(h, "unpack", 1)
        values.append([eccodes.codes_get(h, f"#1#{k}") for k in keys])
        eccodes.codes_release(h)
    return all(a == b or (isinstance(a, float) and abs(a - b) < 1e-6) for a, b in zip(*values))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--peer-rows", type=int, default=None, help="rows the eccodes route writes (default all)")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    frame = synop_rows(args.rows)
    write = lambda: skyrec.from_dataframe(frame, "land-station", units=UNITS)  # noqa: E731
    ours = write()
    peer = PerKey(ours[0], frame)
    peer_rows = peer.rows[:args.peer_rows or args.rows]
    theirs = peer.encode(peer_rows[:100])
    keys = [k for k, _ in peer_rows[0]]
    checked = all(same_values(a, b, keys) for a, b in zip(ours, theirs))
    sky = median_seconds(write, args.runs)
    ecc = median_seconds(lambda: peer.encode(peer_rows), args.runs)
    sky_rate, ecc_rate = len(frame) / sky, len(peer_rows) / ecc
    print(f"{len(frame)} SYNOP rows of {len(frame.columns)} columns, one message each "
          f"({sum(map(len, ours)) / len(ours):.0f} bytes), land-station template (301150 307096)")
    print(f"  the first 100 messages read back the same by eccodes: {'yes' if checked else 'NO'}")
    print(f"  skyrec.from_dataframe   {sky:8.3f} s  {sky_rate:10.0f} rows/s  (units through pint, checked)")
    print(f"  eccodes per key         {ecc:8.3f} s  {ecc_rate:10.0f} rows/s  ({len(peer_rows)} rows)")
    print(f"  ratio                   {sky_rate / ecc_rate:8.1f}x")


if __name__ == "__main__":
    main()
