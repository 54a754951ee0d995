"""`skyrec dump` of whole files in each format, as a user runs it: the
command in a subprocess, its output to /dev/null; values per second from the
median of a few runs (interpreter start and table loading included).

    PYTHONPATH=$PWD/build/rel python3 bench/bench_dump.py [FILE ...]

Without files: the corpus's largest file (61 compressed messages, 17.46 M values).
"""

from __future__ import annotations

import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

from skyrec.blocks import read_block

CORPUS = Path(__file__).resolve().parents[1] / ".." / "shared" / "corpus" / "real"
LARGEST = "M02-HIRS-HIRxxx1B-NA-1.0-20181122114854.000000000Z-20181122132602-1304602.bufr"
FORMATS = ("text", "csv", "jsonl")
RUNS = 3


def seconds(path: str, fmt: str) -> float:
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run([sys.executable, "-m", "skyrec", "dump", "--format", fmt, path], check=True,
                       stdout=subprocess.DEVNULL, env=os.environ)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main(paths: list[str]) -> None:
    for path in paths:
        values = len(read_block(path)[0])
        print(f"{Path(path).name}: {values} values")
        for fmt in FORMATS:
            s = seconds(path, fmt)
            print(f"  {fmt:6} {s:8.2f} s  {values / s / 1e6:6.2f} M values/s")


if __name__ == "__main__":
    given = sys.argv[1:]
    if not given and not (CORPUS / LARGEST).exists():
        sys.exit(f"no files given and no corpus at {CORPUS}")
    main(given or [str(CORPUS / LARGEST)])
