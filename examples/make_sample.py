"""Writes sample.bufr: two SYNOP-like reports, made with the project's own builder,
and damaged.bufr: that message three times, the second with its end marker broken.

Run from the repository root: python examples/make_sample.py
Widths, scales and references are those of WMO Table B (master version 38).
"""

import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from bufrgen import BitWriter, build_message  # noqa: E402

# descriptor, (scale, reference, width) or ("text", width)
LAYOUT = [
    (1001, (0, 0, 7)), (1002, (0, 0, 10)), (1015, ("text", 160)),
    (4001, (0, 0, 12)), (4002, (0, 0, 4)), (4003, (0, 0, 6)), (4004, (0, 0, 5)), (4005, (0, 0, 6)),
    (5001, (5, -9000000, 25)), (6001, (5, -18000000, 26)), (7030, (1, -4000, 17)),
    (10004, (-1, 0, 14)), (12101, (2, 0, 16)), (12103, (2, 0, 16)),
    (11001, (0, 0, 9)), (11002, (1, 0, 12)), (20003, (0, 0, 9)),
]
DESCRIPTORS = [301001, 1015, 301011, 301012, 301021, 7030, 10004, 12101, 12103, 11001, 11002, 20003]
STATIONS = [
    [6, 260, "DE BILT", 2024, 1, 2, 12, 0, 52.1, 5.18, 2.0, 101320, 276.15, 274.05, 230, 5.2, 61],
    [3, 772, "LONDON HEATHROW", 2024, 1, 2, 12, 0, 51.48, -0.45, 25.3, 101450, 279.35, None, 250, 7.1, 2],
]


def encode(values) -> BitWriter:
    bits = BitWriter()
    for (_, spec), value in zip(LAYOUT, values):
        if spec[0] == "text":
            bits.text(value, spec[1])
        elif value is None:
            bits.missing(spec[2])
        else:
            scale, reference, width = spec
            bits.uint(round(value * 10**scale) - reference, width)
    return bits


def main() -> None:
    stream = BitWriter()
    for station in STATIONS:
        stream.append(encode(station))
    msg = build_message(DESCRIPTORS, stream.to_bytes(), subsets=len(STATIONS), centre=98, master_version=38,
                        international_subcategory=2, year=2024, month=1, day=2, hour=12, minute=0, second=0)
    (HERE / "sample.bufr").write_bytes(msg)
    print(f"wrote {HERE / 'sample.bufr'} ({len(msg)} bytes)")
    damaged = msg + msg[:-4] + b"7776" + msg
    (HERE / "damaged.bufr").write_bytes(damaged)
    print(f"wrote {HERE / 'damaged.bufr'} ({len(damaged)} bytes)")


if __name__ == "__main__":
    main()
