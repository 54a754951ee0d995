"""Time TableSet.from_eccodes on the newest full WMO table version of an
installed ecCodes definitions tree (element.table, sequence.def, codetables).

    PYTHONPATH=build/dev:python python3 bench/load_tables.py [DEFINITIONS_ROOT] [--repeat N]

Prints the best and median of N loads (after one warm-up load, so that the
files are in the page cache) and the time to expand every Table D sequence.
With --bundle, compares per master version loading from the tables bundled with
the package (opened once, outside the timing) and from the tree's directory.
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


def best_and_median(load, repeat):
    load()  # warm-up
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        load()
        times.append(time.perf_counter() - start)
    return min(times) * 1e3, statistics.median(times) * 1e3


def compare_bundle(root, repeat):
    from skyrec import _native, bundle

    start = time.perf_counter()
    bundle.keys()
    print(f"opening the bundle once: {(time.perf_counter() - start) * 1e3:.1f} ms")
    print("version  bundle best/median ms  directory best/median ms")
    for key in [k for k in bundle.keys() if k.startswith("wmo/0/")]:
        version = key.split("/")[2]
        from_bundle = best_and_median(lambda k=key: bundle.load(k), repeat)
        wmo = Path(root) / "bufr" / "tables" / "0" / "wmo" / version
        shown = "-"
        if wmo.exists():
            directory = _native.resolve_table_dir(str(wmo))
            best, median = best_and_median(lambda d=directory: _skyrec.TableSet.from_eccodes(d), repeat)
            shown = f"{best:6.2f} / {median:6.2f}"
        print(f"{version:>7}  {from_bundle[0]:6.2f} / {from_bundle[1]:6.2f}        {shown}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root", nargs="?")
    parser.add_argument("--repeat", type=int, default=50)
    parser.add_argument("--bundle", action="store_true", help="bundle against directory, per master version")
    args = parser.parse_args()
    roots = [args.root] if args.root else [p for c in CANDIDATES for p in c.split(":") if p]
    root = next((r for r in roots if (Path(r) / "bufr" / "tables" / "0" / "wmo").is_dir()), None)
    if root is None:
        sys.exit("no ecCodes definitions tree found; pass its path")
    if args.bundle:
        compare_bundle(root, args.repeat)
        return
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
