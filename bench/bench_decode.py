"""Decoding speed on the real corpus: skyrec against the eccodes package,
measured on the same messages in the same run.

    PYTHONPATH=build/dev:python python3 bench/bench_decode.py [CORPUS_DIR] [--repeat N] [--definitions ROOT]

The messages are the edition 4 messages of the corpus that both decoders
decode, with tables from the ecCodes definitions tree (the master version
each message names; tables are loaded before timing). skyrec's time covers
decode_values_with_tables, that is framing, decoding and building the list of
DecodedValue objects; eccodes' time covers codes_new_from_message, unpacking
and fetching numericValues. Prints messages/s and values/s for both and their
ratio, for all messages and for the messages of each kind (compressed or not).
"""

import argparse
import os
import sys
import time
from pathlib import Path

import _skyrec

HERE = Path(__file__).resolve().parent
DEFAULT_CORPUS = HERE.parent.parent / "shared" / "corpus" / "real"
CANDIDATES = [os.environ.get("ECCODES_DEFINITION_PATH", ""), "/usr/share/eccodes/definitions",
              "/usr/local/share/eccodes/definitions"]


def message_bytes(buffer):
    out, pos = [], 0
    while (j := buffer.find(b"BUFR", pos)) >= 0 and j + 8 <= len(buffer):
        n = int.from_bytes(buffer[j + 4 : j + 7], "big")
        out.append(buffer[j : j + n])
        pos = j + max(n, 4)
    return out


def eccodes_decode(eccodes, msg):
    h = eccodes.codes_new_from_message(msg)
    try:
        eccodes.codes_set(h, "unpack", 1)
        return len(eccodes.codes_get_array(h, "numericValues"))
    finally:
        eccodes.codes_release(h)


def collect(corpus, definitions, eccodes):
    """(message, tables) pairs that both decoders decode."""
    wmo = Path(definitions) / "bufr" / "tables" / "0" / "wmo"
    tables = {}
    chosen = []
    for path in sorted(corpus.iterdir()):
        if not path.is_file() or path.name == "MANIFEST.tsv":
            continue
        for msg in message_bytes(path.read_bytes()):
            try:
                version = _skyrec.parse_bytes(msg).master_tables_version_number
            except ValueError:
                continue
            if version not in tables:
                directory = wmo / str(version)
                tables[version] = _skyrec.TableSet.from_eccodes(str(directory)) if directory.is_dir() else None
            if tables[version] is None:
                continue
            try:
                _skyrec.decode_values_with_tables(msg, tables[version])
                eccodes_decode(eccodes, msg)
            except Exception:
                continue
            chosen.append((msg, tables[version]))
    return chosen


def best_time(run, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def compare(label, pairs, eccodes, repeat):
    if not pairs:
        return
    values = sum(len(_skyrec.decode_values_with_tables(m, t)) for m, t in pairs)
    decode = _skyrec.decode_values_with_tables
    ours = best_time(lambda: [decode(m, t) for m, t in pairs], repeat)
    theirs = best_time(lambda: [eccodes_decode(eccodes, m) for m, _ in pairs], max(1, repeat // 3))
    n = len(pairs)
    print(f"{label}: {n} messages, {values} values")
    print(f"  skyrec : {n / ours:12.0f} messages/s {values / ours / 1e6:10.2f} M values/s")
    print(f"  eccodes: {n / theirs:12.0f} messages/s {values / theirs / 1e6:10.2f} M values/s")
    print(f"  ratio skyrec/eccodes: {theirs / ours:.1f}x")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("corpus", nargs="?", default=str(DEFAULT_CORPUS))
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--definitions")
    args = parser.parse_args()
    try:
        import eccodes
    except ImportError:
        sys.exit("the eccodes package is needed for the comparison (pip install eccodes)")
    roots = [args.definitions] if args.definitions else [p for c in CANDIDATES for p in c.split(":") if p]
    definitions = next((r for r in roots if (Path(r) / "bufr" / "tables" / "0" / "wmo").is_dir()), None)
    if definitions is None:
        sys.exit("no ecCodes definitions tree found; pass --definitions")
    corpus = Path(args.corpus)
    if not corpus.is_dir():
        sys.exit(f"corpus not found at {corpus}")

    pairs = collect(corpus, definitions, eccodes)
    compressed = [p for p in pairs if _skyrec.parse_bytes(p[0]).compressed_data]
    plain = [p for p in pairs if not _skyrec.parse_bytes(p[0]).compressed_data]
    compare("all", pairs, eccodes, args.repeat)
    compare("uncompressed", plain, eccodes, args.repeat)
    compare("compressed", compressed, eccodes, args.repeat)


if __name__ == "__main__":
    main()
