"""Rows per observation: skyrec.read_observations against pdbufr.read_bufr
and the eccodes package on the same queries and files of the real corpus
(tests/observation_queries.py), medians of a few runs of the time the
calling thread spends on the CPU (all three read in it): on a shared machine,
wall-clock time measures the neighbours as much as the readers.

    PYTHONPATH=$PWD/build/rel python3 bench/bench_observations.py [CORPUS_DIR]

The eccodes package takes its fastest route: each message unpacked, then
only the asked keys fetched as whole arrays (a multi-subset uncompressed
message subset by subset, "/subsetNumber=N/key") and laid out with NumPy.
That route knows the layout of the data in advance (a key once per subset or
once per level; the satellite channel by its rank, "#3#key"), so its rows are
only counted; skyrec's must be pdbufr's.
"""

from __future__ import annotations

import statistics
import sys
import time
import warnings
from collections.abc import Callable
from pathlib import Path
from typing import Any

import eccodes
import numpy as np
import pdbufr

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))

from observation_queries import CHANNEL, QUERIES, Query  # noqa: E402

from skyrec.observations import COMPUTED, TIME_PARTS, read_observations  # noqa: E402

RUNS = 7
# What the eccodes route asks for instead of a key: MHS channel 45 is the third.
ECCODES_KEYS = {"satellite": {CHANNEL: f"#3#{CHANNEL}", "brightnessTemperature": "#3#brightnessTemperature"}}


def timed(read: Callable[..., int], *args: Any) -> tuple[float, int]:
    times, rows = [], 0
    for _ in range(RUNS):
        start = time.thread_time()
        rows = read(*args)
        times.append(time.thread_time() - start)
    return statistics.median(times), rows


def _laid_out(arrays: dict[str, np.ndarray], subsets: int, compressed: bool) -> dict[str, np.ndarray] | None:
    """One subset's (or a compressed message's) arrays as rows: a key once
    per subset repeated on each level, a key per level kept; None when the
    lengths do not fit that shape."""
    levels = max(len(a) for a in arrays.values()) // subsets
    rows = {}
    for key, a in arrays.items():
        if len(a) == 1:
            rows[key] = np.repeat(a, subsets * levels)
        elif len(a) == subsets:
            rows[key] = np.repeat(a, levels)
        elif len(a) == subsets * levels:
            rows[key] = a.reshape(levels, subsets).T.ravel() if compressed else a
        else:
            return None
    return rows


def _computed(rows: dict[str, np.ndarray], key: str) -> np.ndarray:
    if key == "WMO_station_id":
        return rows["blockNumber"] * 1000 + rows["stationNumber"]
    parts = [rows[p] for p in TIME_PARTS]
    seconds = np.nan_to_num(parts[5])
    days = (parts[0] - 1970) * 12 + parts[1] - 1
    start = np.nan_to_num(days).astype(np.int64).astype("datetime64[M]").astype("datetime64[D]")
    start = start + np.nan_to_num(parts[2] - 1).astype(np.int64)
    offset = ((parts[3] * 60 + parts[4]) * 60 + seconds) * 1e9
    return start.astype("datetime64[ns]") + np.nan_to_num(offset).astype("timedelta64[ns]")


def _fetched(h: Any, prefix: str, fetched: list[str], keys: dict[str, str]) -> dict[str, np.ndarray]:
    arrays = {}
    for key in fetched:
        try:
            a = eccodes.codes_get_array(h, prefix + keys.get(key, key)).astype(float)
        except eccodes.KeyValueNotFoundError:
            a = np.full(1, np.nan)
        arrays[key] = np.where(a == eccodes.CODES_MISSING_DOUBLE, np.nan, a)
    return arrays


def eccodes_rows(path: Path, columns: list[str], filters: dict[str, Any] | None, keys: dict[str, str]) -> int:
    asked = list(dict.fromkeys([*columns, *(filters or {})]))
    fetched = list(dict.fromkeys(k for c in asked for k in COMPUTED.get(c, (c,))))
    pieces: list[dict[str, np.ndarray]] = []
    with open(path, "rb") as f:
        while (h := eccodes.codes_bufr_new_from_file(f)) is not None:
            try:
                eccodes.codes_set(h, "unpack", 1)
                subsets = eccodes.codes_get(h, "numberOfSubsets")
                compressed = eccodes.codes_get(h, "compressedData") == 1
                # A whole message at once where every key fits that (once per
                # subset, or compressed), else subset by subset.
                whole = _fetched(h, "", fetched, keys)
                if compressed or subsets == 1 or all(len(a) in (1, subsets) for a in whole.values()):
                    rows = _laid_out(whole, subsets if compressed else 1, compressed)
                    if rows is not None:
                        pieces.append(rows)
                    continue
                for s in range(1, subsets + 1):
                    rows = _laid_out(_fetched(h, f"/subsetNumber={s}/", fetched, keys), 1, False)
                    if rows is not None:
                        pieces.append(rows)
            finally:
                eccodes.codes_release(h)
    if not pieces:
        return 0
    rows = {key: np.concatenate([p[key] for p in pieces]) for key in fetched}
    values = {key: _computed(rows, key) if key in COMPUTED else rows[key] for key in asked}
    keep = np.ones(len(next(iter(rows.values()))), bool)
    for key, wanted in (filters or {}).items():
        v = values[key]
        if callable(wanted):
            keep &= np.asarray(wanted(v), bool)
        elif isinstance(wanted, slice):
            keep &= (v >= wanted.start) & (v <= wanted.stop)
        else:
            keep &= v == wanted
    for key in columns:  # required columns: a value in each
        keep &= ~(np.isnat(values[key]) if values[key].dtype.kind == "M" else np.isnan(values[key]))
    return int(keep.sum())


def skyrec_rows(paths: list[Path], query: Query) -> int:
    # The list of files in one call; the others read one file at a time.
    return len(read_observations(paths, query.columns, filters=query.filters))


def pdbufr_rows(paths: list[Path], query: Query) -> int:
    return sum(len(pdbufr.read_bufr(p, columns=query.columns, filters=query.filters or {})) for p in paths)


def eccodes_all(paths: list[Path], query: Query, keys: dict[str, str]) -> int:
    return sum(eccodes_rows(p, query.columns, query.filters, keys) for p in paths)


def main() -> None:
    warnings.simplefilter("ignore")
    corpus = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "shared/corpus/real")
    print(f"{'query':58} {'files':>5} {'rows':>6} {'skyrec ms':>10} {'pdbufr ms':>10} {'eccodes ms':>10} "
          f"{'/pdbufr':>8} {'/eccodes':>8} {'eccodes rows':>12}")
    for query in QUERIES:
        paths = query.files(corpus)
        keys = next((v for k, v in ECCODES_KEYS.items() if query.name.startswith(k)), {})
        ours, rows = timed(skyrec_rows, paths, query)
        theirs, their_rows = timed(pdbufr_rows, paths, query)
        plain, plain_rows = timed(eccodes_all, paths, query, keys)
        assert rows == their_rows, (query.name, rows, their_rows)
        print(f"{query.name:58} {len(paths):5} {rows:6} {ours * 1e3:10.1f} {theirs * 1e3:10.1f} {plain * 1e3:10.1f} "
              f"{theirs / ours:7.1f}x {plain / ours:7.1f}x {plain_rows:12}")


if __name__ == "__main__":
    main()
