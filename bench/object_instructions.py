"""One pass of decode_values_with_tables (or of the bare-object limit) over a
corpus workload, set apart so that callgrind counts it alone:

    PYTHONPATH=build/dev:python valgrind --tool=callgrind --collect-atstart=no \\
        --toggle-collect=functools_reduce python3 bench/object_instructions.py uncompressed [--limit]

Callgrind then counts the instructions of decoding, making the list and
freeing it, message after message; divided by the values printed, they are
the object path's instructions per value. The workloads are object_ratio.py's
corpus without its largest file: whole ("small"), its uncompressed messages or
its compressed ones. Tables are loaded and each message decoded once before.
"""

from __future__ import annotations

import argparse
import functools
import sys
import tempfile
from collections import Counter
from pathlib import Path

import compare
import object_ratio

import _skyrec
import workloads


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("workload", choices=["small", "uncompressed", "compressed"])
    parser.add_argument("--limit", action="store_true", help="bare objects in lists of the same lengths")
    parser.add_argument("--corpus", default=str(compare.DEFAULT_CORPUS))
    parser.add_argument("--definitions", default="/usr/share/eccodes/definitions")
    args = parser.parse_args()
    chosen = object_ratio.decodable(Path(args.corpus), args.definitions)
    sizes = Counter()
    for name, m, _ in chosen:
        sizes[name] += len(m)
    left_out = sizes.most_common(1)[0][0]
    pairs = [(m, t) for n, m, t in chosen if n != left_out]
    if args.workload != "small":
        pairs = [(m, t) for m, t in pairs if workloads.compressed(m) == (args.workload == "compressed")]
    decode = _skyrec.decode_values_with_tables
    lengths = [len(decode(m, t)) for m, t in pairs]
    print(f"{args.workload}: {len(pairs)} messages, {sum(lengths)} values", file=sys.stderr)
    if args.limit:
        tmp = tempfile.mkdtemp(prefix="skyrec-instructions-")
        if not compare.build_blank_values(Path(tmp)):
            sys.exit("the object-limit extension could not be built")
        sys.path.insert(0, tmp)
        import blank_values

        blank_values.make_type(_skyrec.DecodedValue.__basicsize__)
        functools.reduce(lambda total, n: total + len(blank_values.values(n)), lengths, 0)
    else:
        functools.reduce(lambda total, pair: total + len(decode(*pair)), pairs, 0)


if __name__ == "__main__":
    main()
