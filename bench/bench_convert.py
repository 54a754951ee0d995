"""skyrec convert --to parquet against pdbufr + pandas to_parquet, on the
same observation rows of the whole real corpus, in one run.

    PYTHONPATH=$PWD/build/rel python3 bench/bench_convert.py [CORPUS_DIR] [--repeat N]

skyrec: `skyrec convert FILES --to parquet -c KEYS -o OUT` (in Python,
skyrec.convert(FILES, OUT, columns=KEYS)). pdbufr: `read_bufr(path,
columns=KEYS)` file by file (the files it cannot read are passed over and
counted), the frames joined and written with `DataFrame.to_parquet`. Both
are timed by the CPU time they use (on a shared machine the wall clock
measures the neighbours as much as the readers; it is printed beside), two
ways:

- cold: the command as a user runs it, a fresh process each time, imports
  and table loading included (the kernel's accounting of the child). An
  installed package has its modules compiled to bytecode: the children
  keep theirs in a scratch cache, filled by one untimed run of each side
  (else skyrec, run from a checkout with PYTHONDONTWRITEBYTECODE set,
  would compile its modules in every run while pdbufr's come compiled);
- warm: in this process, after a first conversion has imported everything
  and loaded the tables (each side keeps its tables for the process), the
  median of the next runs (time.process_time).

The rows each wrote are compared.
"""

from __future__ import annotations

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
KEYS = ["WMO_station_id", "latitude", "longitude", "data_datetime", "airTemperature"]
PDBUFR = """
import sys, warnings
import pandas as pd
import pdbufr
warnings.simplefilter("ignore")
out, keys, files = sys.argv[1], sys.argv[2].split(","), sys.argv[3:]
frames, failed = [], 0
for path in files:
    try:
        frames.append(pdbufr.read_bufr(path, columns=keys))
    except Exception:
        failed += 1
frame = pd.concat([f for f in frames if len(f)], ignore_index=True)
frame.to_parquet(out)
print("FAILED", failed)
"""


def child_environment(cache: str) -> dict[str, str]:
    """The children's environment: one thread each, bytecode kept in `cache`."""
    kept = {name: value for name, value in os.environ.items() if name != "PYTHONDONTWRITEBYTECODE"}
    return {**kept, "OMP_NUM_THREADS": "1", "PYTHONPYCACHEPREFIX": cache}


def timed(command: list[str], env: dict[str, str]) -> tuple[float, float, str]:
    """CPU seconds and wall seconds of one run of `command`, and what it printed."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True, env=env)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode not in (0, 1):  # 1: some messages could not be read, the others written
        sys.exit(f"{command[:3]} failed ({done.returncode}): {done.stderr[-2000:]}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, wall, done.stdout + done.stderr


def pdbufr_convert(files: list[str], out: Path) -> None:
    import warnings

    import pandas as pd
    import pdbufr

    warnings.simplefilter("ignore")
    frames = []
    for path in files:
        try:
            frames.append(pdbufr.read_bufr(path, columns=KEYS))
        except Exception:  # noqa: BLE001  (passed over, as in the cold run)
            pass
    pd.concat([f for f in frames if len(f)], ignore_index=True).to_parquet(out)


def skyrec_convert(files: list[str], out: Path) -> None:
    import skyrec

    skyrec.convert(files, out, columns=KEYS)


def warm(convert: object, files: list[str], out: Path, repeat: int) -> tuple[float, float]:
    convert(files, out)  # type: ignore[operator]
    cpu, wall = [], []
    for _ in range(repeat):
        start, start_wall = time.process_time(), time.perf_counter()
        convert(files, out)  # type: ignore[operator]
        cpu.append(time.process_time() - start)
        wall.append(time.perf_counter() - start_wall)
    return statistics.median(cpu), statistics.median(wall)


def rows_of(path: Path) -> int:
    import pyarrow.parquet as pq

    return int(pq.read_metadata(path).num_rows)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("corpus", nargs="?", default=os.environ.get("SKYREC_CORPUS")
                        or str(REPO.parent / "shared" / "corpus" / "real"))
    parser.add_argument("--repeat", type=int, default=3, help="runs of each side (the median is shown)")
    args = parser.parse_args()
    files = sorted(str(p) for p in Path(args.corpus).iterdir() if p.is_file() and p.suffix not in (".tsv", ".md"))
    if not files:
        sys.exit(f"no corpus files in {args.corpus}")
    python = sys.executable
    with tempfile.TemporaryDirectory() as scratch:
        ours, theirs = Path(scratch) / "skyrec.parquet", Path(scratch) / "pdbufr.parquet"
        sides = {"skyrec convert": [python, "-m", "skyrec", "convert", *files, "--to", "parquet", "-c", ",".join(KEYS),
                                    "-o", str(ours)],
                 "pdbufr + to_parquet": [python, "-c", PDBUFR, str(theirs), ",".join(KEYS), *files]}
        results = {}
        env = child_environment(str(Path(scratch) / "bytecode"))
        for name, command in sides.items():
            timed(command, env)  # compiles what the side imports, untimed
            runs = [timed(command, env) for _ in range(args.repeat)]
            results[name] = (statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs), runs[-1][2])
        rows = {"skyrec convert": rows_of(ours), "pdbufr + to_parquet": rows_of(theirs)}
        warmed = {"skyrec convert": warm(skyrec_convert, files, ours, args.repeat),
                  "pdbufr + to_parquet": warm(pdbufr_convert, files, theirs, args.repeat)}
    failed = results["pdbufr + to_parquet"][2].split("FAILED")[-1].split()[0]
    print(f"{len(files)} files of {args.corpus}, keys {', '.join(KEYS)}; median of {args.repeat} runs")
    print(f"{'':22}{'cold CPU s':>11}{'wall s':>8}{'warm CPU s':>12}{'wall s':>8}{'rows':>8}")
    for name, (cpu, wall, _) in results.items():
        print(f"{name:22}{cpu:11.3f}{wall:8.2f}{warmed[name][0]:12.3f}{warmed[name][1]:8.2f}{rows[name]:8d}")
    reported = sum(line.startswith("skyrec: ") for line in results["skyrec convert"][2].splitlines())
    print(f"pdbufr passed over {failed} files it could not read; skyrec reported {reported} messages it could "
          "not read and wrote the others")
    slow, fast = results["pdbufr + to_parquet"], results["skyrec convert"]
    print(f"skyrec convert / pdbufr + to_parquet, CPU time: cold {slow[0] / fast[0]:.1f}x, "
          f"warm {warmed['pdbufr + to_parquet'][0] / warmed['skyrec convert'][0]:.1f}x")


if __name__ == "__main__":
    main()
