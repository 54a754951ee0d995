"""skyrec.encode against the eccodes package re-packing the same messages,
in one run: each message unpacked once by ecCodes (untimed), then timed
`codes_set(h, "pack", 1)` and its bytes; skyrec times `encode` of the same
decoded messages. Medians of a few runs of the process's CPU time (steadier
than the wall clock on a shared machine), values per second and the ratio.

    PYTHONPATH=$PWD/build/rel python3 bench/bench_encode.py [--definitions ROOT] [--runs 5]

Workloads: the corpus's uncompressed reports from `Decoded` items, and the
HIRS file's compressed messages from `Wide` tables, with the time of a
plain copy of the bytes written (its share of skyrec's time).
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any

import eccodes

import skyrec

CORPUS = Path(__file__).resolve().parents[1] / ".." / "shared" / "corpus" / "real"
HIRS = "M02-HIRS-HIRxxx1B-NA-1.0-20181122114854.000000000Z-20181122132602-1304602.bufr"


def median_seconds(work: Callable[[], Any], runs: int) -> float:
    times = []
    for _ in range(runs):
        start = time.process_time()
        work()
        times.append(time.process_time() - start)
    return statistics.median(times)


def repackable(data: bytes) -> Any:
    """An ecCodes handle of `data`, unpacked and packed once, or None when ecCodes cannot."""
    h = eccodes.codes_new_from_message(data)
    try:
        eccodes.codes_set(h, "unpack", 1)
        eccodes.codes_set(h, "pack", 1)
        eccodes.codes_get_message(h)
        return h
    except eccodes.CodesInternalError:
        eccodes.codes_release(h)
        return None


def repack_all(handles: Sequence[Any]) -> None:
    for h in handles:
        eccodes.codes_set(h, "pack", 1)
        eccodes.codes_get_message(h)


def compare(title: str, inputs: Sequence[Any], data: Sequence[bytes], values: int, runs: int) -> None:
    handles = [repackable(d) for d in data]
    kept = [(i, h) for i, h in zip(inputs, handles) if h is not None]
    if len(kept) < len(inputs):
        print(f"  ({len(inputs) - len(kept)} messages left out: ecCodes cannot re-pack them)")
        values = values * len(kept) // max(len(inputs), 1)
    ours = [i for i, _ in kept]
    theirs = [h for _, h in kept]
    outputs = [skyrec.encode(i) for i in ours]
    out_bytes = sum(len(o) for o in outputs)
    sky = median_seconds(lambda: [skyrec.encode(i) for i in ours], runs)
    ecc = median_seconds(lambda: repack_all(theirs), runs)
    copy = median_seconds(lambda: [bytearray(o) for o in outputs], runs)
    for h in theirs:
        eccodes.codes_release(h)
    print(f"{title}: {len(ours)} messages, {values} values, {out_bytes} bytes written")
    print(f"  skyrec.encode  {sky:8.4f} s  {values / sky / 1e6:8.1f} M values/s")
    print(f"  eccodes pack   {ecc:8.4f} s  {values / ecc / 1e6:8.1f} M values/s")
    print(f"  ratio          {ecc / sky:8.2f}x")
    print(f"  plain copy of the output {copy:.5f} s: {100 * copy / sky:.1f}% of skyrec's time")


def main(argv: list[str]) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--definitions", help="an ecCodes definitions tree (default: found by itself)")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args(argv)
    if not CORPUS.is_dir():
        sys.exit(f"no corpus at {CORPUS}")
    source = skyrec.find_tables(definitions=args.definitions)
    reports = []
    for path in sorted(CORPUS.iterdir()):
        if path.name in (HIRS, "MANIFEST.tsv"):
            continue
        reports += [i for i in skyrec.read_messages(path, tables=source) if i.ok and not i.message.compressed_data]
    compare("corpus uncompressed reports (Decoded)", reports, [i.data for i in reports],
            sum(len(i.values) for i in reports), args.runs)
    wides = list(skyrec.read_wide(CORPUS / HIRS, tables=source))
    compare("HIRS compressed messages (Wide)", wides, [skyrec.encode(w) for w in wides],
            sum(w.values.size for w in wides), args.runs)


if __name__ == "__main__":
    main(sys.argv[1:])
