"""Time TableSet.from_eccodes on the newest full WMO table version of an
installed ecCodes definitions tree (element.table, sequence.def, codetables).

    PYTHONPATH=build/dev:python python3 bench/load_tables.py [DEFINITIONS_ROOT] [--repeat N]

Prints the best and median of N loads (after one warm-up load, so that the
files are in the page cache) and the time to expand every Table D sequence.
"""

import argparse
import os
import statistics
import sys
import time
from pathlib import Path

import _skyrec

CANDIDATES = [os.environ.get("ECCODES_DEFINITION_PATH", ""), "/usr/share/eccodes/definitions",
              "/usr/local/share/eccodes/definitions"]


def newest_wmo_version(root):
    wmo = Path(root) / "bufr" / "tables" / "0" / "wmo"
    full = [p for p in wmo.iterdir() if p.name.isdigit() and (p / "element.table").is_file()
            and (p / "sequence.def").is_file() and (p / "codetables").is_dir()]
    return max(full, key=lambda p: int(p.name))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root", nargs="?")
    parser.add_argument("--repeat", type=int, default=50)
    args = parser.parse_args()
    roots = [args.root] if args.root else [p for c in CANDIDATES for p in c.split(":") if p]
    root = next((r for r in roots if (Path(r) / "bufr" / "tables" / "0" / "wmo").is_dir()), None)
    if root is None:
        sys.exit("no ecCodes definitions tree found; pass its path")
    directory = str(newest_wmo_version(root))

    tables = _skyrec.TableSet.from_eccodes(directory)  # warm-up
    times = []
    for _ in range(args.repeat):
        start = time.perf_counter()
        _skyrec.TableSet.from_eccodes(directory)
        times.append(time.perf_counter() - start)
    codetables = len(os.listdir(os.path.join(directory, "codetables")))
    print(f"{directory}: {tables.element_count} elements, {tables.sequence_count} sequences, "
          f"{codetables} code table files")
    print(f"from_eccodes: best {min(times) * 1e3:.2f} ms, median {statistics.median(times) * 1e3:.2f} ms "
          f"over {args.repeat} loads")

    sequences = [c for c in range(300000, 400000) if tables.get_sequence(c) is not None]
    start = time.perf_counter()
    expanded = sum(len(tables.expand([c])) for c in sequences)
    print(f"expand each of {len(sequences)} sequences: {(time.perf_counter() - start) * 1e3:.2f} ms "
          f"({expanded} descriptors)")


if __name__ == "__main__":
    main()
