"""decode_values_with_tables against the bare-object limit, in one process
taking turns, so that a change in a shared machine's load falls on both alike.

    PYTHONPATH=build/dev:python python3 bench/object_ratio.py [--rounds N] [--corpus DIR]

The workloads are the corpus's edition 4 messages that skyrec decodes, whole,
without their largest file, and that one's uncompressed messages; the limit
is bench/compare.py's: as many bare objects of DecodedValue's size, in lists
of the same lengths, made and freed the same way. Prints the best and the
median of each, and their ratios.
"""

from __future__ import annotations

import argparse
import statistics
import sys
import tempfile
import time
from collections import Counter
from pathlib import Path

import compare

import _skyrec
import workloads


def decodable(corpus: Path, definitions: str):
    """(file name, message, tables) for every edition 4 corpus message that skyrec decodes."""
    wmo = Path(definitions) / "bufr" / "tables" / "0" / "wmo"
    tables, chosen = {}, []
    for name, m in workloads.corpus_candidates(corpus, (4,)):
        v = workloads.master_version(m)
        try:
            t = tables[v] = tables.get(v) or _skyrec.TableSet.from_eccodes(str(wmo / str(v)))
            if _skyrec.decode_values_with_tables(m, t):
                chosen.append((name, m, t))
        except (ValueError, OSError):
            pass
    return chosen


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--corpus", default=str(compare.DEFAULT_CORPUS))
    parser.add_argument("--definitions", default="/usr/share/eccodes/definitions")
    parser.add_argument("--rounds", type=int, default=9)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="skyrec-ratio-") as tmp:
        if not compare.build_blank_values(Path(tmp)):
            sys.exit("the object-limit extension could not be built")
        sys.path.insert(0, tmp)
        import blank_values

        blank_values.make_type(_skyrec.DecodedValue.__basicsize__)
        chosen = decodable(Path(args.corpus), args.definitions)
        largest = Counter({n: 0 for n, _, _ in chosen})
        for n, m, _ in chosen:
            largest[n] += len(m)
        left_out = largest.most_common(1)[0][0]
        small = [(m, t) for n, m, t in chosen if n != left_out]
        cases = {"corpus": [(m, t) for _, m, t in chosen], "without its largest file": small,
                 "its uncompressed messages": [(m, t) for m, t in small if not workloads.compressed(m)]}
        decode = _skyrec.decode_values_with_tables
        for name, pairs in cases.items():
            sizes = [len(decode(m, t)) for m, t in pairs]
            ours, limit = [], []
            for _ in range(args.rounds):
                start = time.perf_counter()
                sum(len(decode(m, t)) for m, t in pairs)
                ours.append(time.perf_counter() - start)
                start = time.perf_counter()
                sum(len(blank_values.values(n)) for n in sizes)
                limit.append(time.perf_counter() - start)
            best = min(limit) / min(ours)
            middle = statistics.median(limit) / statistics.median(ours)
            print(f"{name}: {len(pairs)} messages, {sum(sizes)} values; skyrec {min(ours):.4f} s, objects "
                  f"{min(limit):.4f} s; skyrec at {100 * best:.0f} % of the limit (medians: {100 * middle:.0f} %)")


if __name__ == "__main__":
    main()
