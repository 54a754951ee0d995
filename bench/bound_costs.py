"""What the worst inputs of 64 KiB cost under the resource bounds: seconds and
peak memory of each API, each run in a fresh process.

Inputs: one 64 KiB compressed message that makes as many values as its
length allows (zero-width columns of 65535 subsets, padded), and a file of
64 KiB of the smallest messages that each walk as far as they may.

    PYTHONPATH=$PWD/build/dev python3 bench/bound_costs.py
"""

from __future__ import annotations

import subprocess
import sys
import tempfile
import textwrap
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from bufrgen import BitWriter, build_message  # noqa: E402
from decodekit import column, make_tables  # noqa: E402

KIB64 = 1 << 16

CALL = """
import resource, sys, time
import numpy, pandas  # imported before measuring
import _skyrec, skyrec, skyrec.blocks, skyrec.columns

api, path, tables = sys.argv[1:4]
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
if api == "decode_values_with_tables":
    try:
        _skyrec.decode_values_with_tables(open(path, "rb").read(), _skyrec.TableSet.from_eccodes(tables))
    except ValueError:
        pass
elif api.startswith("read_messages"):
    for d in skyrec.read_messages(path, table_dir=tables, output=api.split(":")[1]):
        pass
elif api == "read_dataframe":
    skyrec.read_dataframe(path, table_dir=tables)
else:
    skyrec.blocks.read_block(path, table_dir=tables)
took = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(f"{took:.2f} {(peak - before) / 1024:.0f}")
"""

APIS = ["decode_values_with_tables", "read_messages:values", "read_messages:columns", "read_dataframe", "read_block"]


def widest() -> bytes:
    bits = BitWriter()
    for _ in range(64):
        column(bits, 0, [0] * 65535)
    data = bits.to_bytes()
    size = len(build_message([10005] * 64, data, subsets=65535, compressed=True))
    return build_message([10005] * 64, data + bytes(KIB64 - size), subsets=65535, compressed=True)


def walkers() -> bytes:
    one = build_message([104255, 103255, 102255, 101255, 201129], b"")
    return one * (KIB64 // len(one))


def main() -> None:
    folder = Path(tempfile.mkdtemp())
    make_tables(folder)
    tables = next(p for p in folder.iterdir() if p.is_dir())
    for name, data in (("one message of as many values as it may", widest()),
                       ("smallest messages walking as far as they may", walkers())):
        path = folder / "input.bufr"
        path.write_bytes(data)
        print(f"{name}: {len(data)} bytes")
        for api in APIS:
            out = subprocess.run([sys.executable, "-c", textwrap.dedent(CALL), api, str(path), str(tables)],
                                 capture_output=True, text=True, check=True).stdout.split()
            print(f"  {api:28s} {out[0]:>6s} s  +{out[1]:>5s} MiB")


if __name__ == "__main__":
    main()
