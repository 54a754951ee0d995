"""skyrec.dask on the real corpus, repeated to a large input: throughput with 1
and 2 workers, as threads and as processes, and how well it scales.

    PYTHONPATH=build/dev python3 bench/bench_dask.py [CORPUS_DIR] [--bytes 1e9] [--repeat 3]
        [--workers 1,2] [--modes threads,processes,distributed] [--blocksize BYTES]

The corpus files are listed again and again (read in place, never copied)
until the list holds --bytes of input. Each run builds read_bufr's graph and
computes the number of value rows and of errors of every partition: every
message is framed, decoded and made into its partition's DataFrame, and only
counts travel back. Tables are found by each worker (loading them is part of
the first partitions of each run). "threads" and "processes" are Dask's local
schedulers; "distributed" a LocalCluster of single-threaded worker processes on
127.0.0.1. Prints the median of --repeat runs: MB/s of input, values/s, the
speed-up over one worker of the same mode and the scaling efficiency
(speed-up / workers).
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time
from contextlib import ExitStack
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_CORPUS = HERE.parent.parent / "shared" / "corpus" / "real"


def corpus_files(corpus: Path) -> list[str]:
    return [str(p) for p in sorted(corpus.iterdir()) if p.is_file() and p.name != "MANIFEST.tsv"]


def repeated(files: list[str], target: float) -> tuple[list[str], int]:
    """`files` listed as often as it takes to reach `target` bytes."""
    size = sum(os.path.getsize(f) for f in files)
    copies = max(1, -(-int(target) // size))
    return files * copies, size * copies


def partition_counts(frame):
    import pandas as pd

    return pd.DataFrame({"rows": [len(frame)]})


def run_once(paths: list[str], blocksize: int, compute) -> tuple[float, int, int]:
    import skyrec.dask as sd

    start = time.perf_counter()
    values, errors = sd.read_bufr(paths, blocksize=blocksize)
    # optimize() fuses each partition's reading with its count (dask.compute
    # alone does not), so that the process scheduler sends back only counts.
    counts, bad = compute(values.map_partitions(partition_counts, meta={"rows": "int64"}).optimize(),
                          errors.map_partitions(partition_counts, meta={"rows": "int64"}).optimize())
    return time.perf_counter() - start, int(counts["rows"].sum()), int(bad["rows"].sum())


def scheduler(mode: str, workers: int, stack: ExitStack):
    """A compute function running on `workers` workers of `mode`."""
    import dask

    if mode == "threads":
        return lambda *c: dask.compute(*c, scheduler="threads", num_workers=workers)
    if mode == "processes":
        import multiprocessing
        from concurrent.futures import ProcessPoolExecutor

        # One pool for every run, so that each worker loads its tables once.
        pool = stack.enter_context(ProcessPoolExecutor(workers, mp_context=multiprocessing.get_context("spawn")))
        return lambda *c: dask.compute(*c, scheduler="processes", pool=pool)
    if mode == "distributed":
        from distributed import Client, LocalCluster

        cluster = stack.enter_context(LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                                   host="127.0.0.1", dashboard_address=None))
        client = stack.enter_context(Client(cluster))
        return lambda *c: client.compute(list(c), sync=True)
    raise SystemExit(f"unknown mode {mode!r}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus", nargs="?", type=Path, default=DEFAULT_CORPUS)
    parser.add_argument("--bytes", type=float, default=1e9, help="input to decode per run (default 1e9)")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--workers", default="1,2")
    parser.add_argument("--modes", default="threads,processes")
    parser.add_argument("--blocksize", type=int, default=None, help="bytes per partition (skyrec.dask's default)")
    args = parser.parse_args()

    if not args.corpus.is_dir():
        print(f"no corpus at {args.corpus}", file=sys.stderr)
        return 2
    import skyrec.dask as sd

    blocksize = args.blocksize or sd.DEFAULT_BLOCKSIZE
    files = corpus_files(args.corpus)
    paths, total = repeated(files, args.bytes)
    workers = [int(w) for w in args.workers.split(",")]
    print(f"{len(files)} corpus files listed {len(paths) // len(files)} times: {total / 1e6:.0f} MB per run, "
          f"blocksize {blocksize}, {os.cpu_count()} cores, median of {args.repeat}")
    print(f"{'mode':<12} {'workers':>7} {'seconds':>8} {'MB/s':>7} {'Mvalues/s':>10} {'speed-up':>9} "
          f"{'efficiency':>10}")
    medians: dict[tuple[str, int], float] = {}
    for mode in args.modes.split(","):
        for n in workers:
            with ExitStack() as stack:
                compute = scheduler(mode, n, stack)
                # A small warm-up: workers start and find their tables.
                run_once(files, blocksize, compute)
                runs = [run_once(paths, blocksize, compute) for _ in range(args.repeat)]
            seconds = statistics.median(r[0] for r in runs)
            rows, bad = runs[0][1], runs[0][2]
            medians[mode, n] = seconds
            base = medians.get((mode, workers[0]))
            speedup = base / seconds * workers[0] if base else float("nan")
            print(f"{mode:<12} {n:>7} {seconds:>8.2f} {total / 1e6 / seconds:>7.1f} {rows / 1e6 / seconds:>10.2f} "
                  f"{speedup:>9.2f} {speedup / n:>10.2f}   ({rows} values, {bad} messages left out; "
                  f"runs {', '.join(f'{r[0]:.1f}' for r in runs)} s)", flush=True)
    if ("threads", 2) in medians and ("processes", 2) in medians:
        print(f"threads / processes at 2 workers: {medians['processes', 2] / medians['threads', 2]:.2f}x the speed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
