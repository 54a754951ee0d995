"""The everyday tools against Debian's ecCodes tools, each as a user runs it
(a fresh process, the median of a few runs) and, for skyrec, also in-process
once imported (what a long-running service or a loop over files pays):

- `skyrec copy --where dataCategory=N` of the whole corpus in one run
  against `bufr_copy -f -w dataCategory=N` (header-only: skyrec decodes no
  section 4);
- `skyrec compare F F` against `bufr_compare F F` on the corpus's largest
  file, and F against a copy with one header key changed (every value
  decoded and compared on both sides).

    PYTHONPATH=$PWD/build/rel python3 bench/bench_tools.py [CATEGORY]
"""

from __future__ import annotations

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

from skyrec.cli import main as skyrec_main

CORPUS = Path(__file__).resolve().parents[1] / ".." / "shared" / "corpus" / "real"
LARGEST = "M02-HIRS-HIRxxx1B-NA-1.0-20181122114854.000000000Z-20181122132602-1304602.bufr"
RUNS = 5


def median_seconds(run: Callable[[], object]) -> float:
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def process(*args: str) -> Callable[[], object]:
    return lambda: subprocess.run(list(args), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=os.environ)


def in_process(*args: str) -> Callable[[], object]:
    def run() -> None:
        out, err = sys.stdout, sys.stderr
        with open(os.devnull, "w") as null:
            sys.stdout = sys.stderr = null
            try:
                skyrec_main(list(args))
            finally:
                sys.stdout, sys.stderr = out, err
    return run


def line(what: str, ours: float, theirs: float, peer: str) -> None:
    print(f"  {what:44} {ours * 1e3:9.1f} ms   {peer} {theirs * 1e3:9.1f} ms   {theirs / ours:6.1f}x")


def main(category: str) -> None:
    files = sorted(str(p) for p in CORPUS.iterdir() if p.is_file() and p.name != "MANIFEST.tsv")
    size = sum(os.path.getsize(f) for f in files)
    with tempfile.TemporaryDirectory() as folder:
        ours_out, theirs_out = f"{folder}/ours.bufr", f"{folder}/theirs.bufr"
        print(f"copy --where dataCategory={category}: {len(files)} files, {size / 1e6:.1f} MB")
        copy = ("copy", *files, "--where", f"dataCategory={category}", "-o", ours_out)
        theirs = median_seconds(process("bufr_copy", "-f", "-w", f"dataCategory={category}", *files, theirs_out))
        line("skyrec copy (fresh process)", median_seconds(process(sys.executable, "-m", "skyrec", *copy)), theirs,
             "bufr_copy")
        line("skyrec copy (in-process)", median_seconds(in_process(*copy)), theirs, "bufr_copy")
        print(f"  same bytes written: {Path(ours_out).read_bytes() == Path(theirs_out).read_bytes()}")

        largest = str(CORPUS / LARGEST)
        changed = f"{folder}/changed.bufr"
        skyrec_main(["set", "bufrHeaderSubCentre=1", largest, "-o", changed])
        print(f"compare: {LARGEST} ({os.path.getsize(largest) / 1e6:.1f} MB)")
        for name, other in (("with itself", largest), ("with a header key changed", changed)):
            theirs = median_seconds(process("bufr_compare", largest, other))
            line(f"{name} (fresh process)", median_seconds(process(sys.executable, "-m", "skyrec", "compare",
                                                                   largest, other)), theirs, "bufr_compare")
            line(f"{name} (in-process)", median_seconds(in_process("compare", largest, other)), theirs,
                 "bufr_compare")


if __name__ == "__main__":
    if not CORPUS.is_dir() or shutil.which("bufr_copy") is None:
        sys.exit(f"needs the corpus at {CORPUS} and Debian's libeccodes-tools")
    main(sys.argv[1] if len(sys.argv) > 1 else "2")
