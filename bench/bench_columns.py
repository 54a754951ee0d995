"""Columnar decoding speed on the real corpus: skyrec's NumPy columns against
the eccodes package's bare arrays, on the same messages in the same run.

    PYTHONPATH=build/dev python3 bench/bench_columns.py [CORPUS_DIR] [--repeat N] [--definitions ROOT]

The messages are those of the corpus that both decode. skyrec reads them as
one buffer with read_messages(..., output="columns"): scanning, framing,
decoding and every array of every message (tables chosen per message from the
definitions tree and loaded before timing). eccodes' time covers
codes_new_from_message, unpacking, and fetching numericValues and
stringValues. Values are counted as skyrec counts them, for both. Prints
values/s for both and their ratio, for all messages and by kind.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_CORPUS = HERE.parent.parent / "shared" / "corpus" / "real"


def eccodes_arrays(eccodes, msg: bytes) -> None:
    h = eccodes.codes_new_from_message(msg)
    try:
        eccodes.codes_set(h, "unpack", 1)
        eccodes.codes_get_array(h, "numericValues")
        try:
            eccodes.codes_get_array(h, "stringValues")
        except eccodes.KeyValueNotFoundError:
            pass  # messages without character data may have none
    finally:
        eccodes.codes_release(h)


def collect(corpus: Path, source, eccodes) -> list[tuple[bytes, bool, int]]:
    """(message bytes, compressed, values) for each message both decode."""
    import skyrec

    chosen = []
    for path in sorted(corpus.iterdir()):
        if not path.is_file() or path.name == "MANIFEST.tsv":
            continue
        data = path.read_bytes()
        for item in skyrec.read_messages(data, tables=source, output="columns"):
            if not item.ok:
                continue
            msg = data[item.offset:item.offset + item.length]
            try:
                eccodes_arrays(eccodes, msg)
            except Exception:
                continue
            chosen.append((msg, item.message.compressed_data, len(item.columns)))
    return chosen


def best_time(run, repeat: int) -> float:
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def skyrec_columns(buffer: bytes, source) -> int:
    import skyrec
    from skyrec.columns import PARTS

    count = 0
    for item in skyrec.read_messages(buffer, tables=source, output="columns"):
        # A compressed message's arrays are made on first use: every one is asked for.
        for name in PARTS:
            getattr(item.columns, name)
        count += len(item.columns)
    return count


def compare(label: str, chosen, source, eccodes, repeat: int) -> None:
    if not chosen:
        return
    buffer = b"".join(msg for msg, _, _ in chosen)
    values = sum(n for _, _, n in chosen)
    assert skyrec_columns(buffer, source) == values
    ours = best_time(lambda: skyrec_columns(buffer, source), repeat)
    theirs = best_time(lambda: [eccodes_arrays(eccodes, msg) for msg, _, _ in chosen], max(1, repeat // 3))
    print(f"{label}: {len(chosen)} messages, {values} values")
    print(f"  skyrec columns: {values / ours / 1e6:10.2f} M values/s")
    print(f"  eccodes arrays: {values / theirs / 1e6:10.2f} M values/s")
    print(f"  ratio skyrec/eccodes: {theirs / ours:.1f}x")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("corpus", nargs="?", default=str(DEFAULT_CORPUS))
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--definitions")
    args = parser.parse_args()
    try:
        import eccodes
    except ImportError:
        sys.exit("the eccodes package is needed for the comparison (pip install eccodes)")
    import skyrec

    try:
        source = skyrec.find_tables(definitions=args.definitions)
    except skyrec.TablesNotFound as e:
        sys.exit(str(e))
    corpus = Path(args.corpus)
    if not corpus.is_dir():
        sys.exit(f"corpus not found at {corpus}")

    chosen = collect(corpus, source, eccodes)
    compare("all", chosen, source, eccodes, args.repeat)
    compare("uncompressed", [c for c in chosen if not c[1]], source, eccodes, args.repeat)
    compare("compressed", [c for c in chosen if c[1]], source, eccodes, args.repeat)


if __name__ == "__main__":
    main()
