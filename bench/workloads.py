"""The inputs of the decoder comparison: the real corpus, and two large messages
made with the project's own message builder (tests/bufrgen.py).

A workload is a file of concatenated BUFR messages; every decoder reads the
same file, so that all of them are given the same messages.
"""

from __future__ import annotations

import random
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from bufrgen import BitWriter, build_message  # noqa: E402

MASTER_VERSION = 33

# A polar-orbiter sounder scan line: location and time, then 100 channels.
SATELLITE = [1007, 2019, 4001, 4002, 4003, 4004, 4005, 4006, 5001, 6001, 7024, 5021, 5043, 8012,
             102100, 5042, 12163]
# A land station report, repeated for many stations.
STATION = [1001, 1002, 1015, 2001, 4001, 4002, 4003, 4004, 4005, 5001, 6001, 7030, 7032, 10004, 10051,
           12101, 12103, 13003, 11001, 11002, 20001, 20010, 8021, 13011]


EDITIONS = (2, 3, 4)


def message_bytes(buffer: bytes, editions=EDITIONS) -> list[bytes]:
    """Every message of a file of these editions, by section 0's length,
    skipping what lies between."""
    out, pos = [], 0
    while (j := buffer.find(b"BUFR", pos)) >= 0 and j + 8 <= len(buffer):
        n = int.from_bytes(buffer[j + 4 : j + 7], "big")
        if n >= 8 and buffer[j + 7] in editions and j + n <= len(buffer):
            out.append(buffer[j : j + n])
        pos = j + max(n, 4)
    return out


def corpus_candidates(corpus: Path, editions=(4,)) -> list[tuple[str, bytes]]:
    """(file name, message) for every message of these editions in the corpus, in file order."""
    found = []
    for path in sorted(corpus.iterdir()):
        if path.is_file() and path.name != "MANIFEST.tsv":
            found += [(path.name, m) for m in message_bytes(path.read_bytes(), editions)]
    return found


def master_version(msg: bytes) -> int:
    # Section 1 octet 14 in edition 4, octet 11 in editions 2 and 3.
    return msg[8 + 13] if msg[7] == 4 else msg[8 + 10]


def compressed(msg: bytes) -> bool:
    """Whether section 3 declares the data compressed."""
    edition = msg[7]
    s1 = 8 if edition > 1 else 4
    s1_length = int.from_bytes(msg[s1 : s1 + 3], "big")
    optional = msg[s1 + (9 if edition == 4 else 7)] & 0x80
    s3 = s1 + s1_length
    if optional:
        s3 += int.from_bytes(msg[s3 : s3 + 3], "big")
    return bool(msg[s3 + 6] & 0x40)


def joined(writers: list[BitWriter]) -> BitWriter:
    """The bits of `writers` in order, joined pairwise so that no large number is shifted often."""
    while len(writers) > 1:
        writers = [writers[i].append(writers[i + 1]) if i + 1 < len(writers) else writers[i]
                   for i in range(0, len(writers), 2)]
    return writers[0] if writers else BitWriter()


class Field:
    """One expanded element and how to make plausible raw values for it."""

    def __init__(self, element, rng: random.Random, missing_rate: float):
        self.width = element.width
        self.text = element.unit == "CCITT IA5"
        self.rng = rng
        self.missing_rate = missing_rate
        # Values cluster in a band of the field's range, as real data do.
        top = (1 << self.width) - 2
        self.low = rng.randint(0, top // 2)
        self.span = max(1, min(top - self.low, rng.choice([1, 3, 60, 1000, 4000, 1 << 20])))

    def raw(self) -> int | None:
        if self.rng.random() < self.missing_rate:
            return None
        return self.low + self.rng.randrange(self.span)

    def chars(self) -> bytes:
        return bytes(self.rng.choice(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ ") for _ in range(self.width // 8))


def fields_of(tables, descriptors: list[int], rng: random.Random, missing_rate: float) -> list[Field]:
    return [Field(tables.get_element(c), rng, missing_rate) for c in tables.expand(descriptors)]


def uncompressed_message(tables, subsets: int, seed: int = 1) -> bytes:
    """Station reports, one subset each, written one after another."""
    rng = random.Random(seed)
    fields = fields_of(tables, STATION, rng, 0.05)
    parts = []
    for _ in range(subsets):
        w = BitWriter()
        for f in fields:
            if f.text:
                w.raw_bytes(f.chars())
            else:
                raw = f.raw()
                w.uint((1 << f.width) - 1 if raw is None else raw, f.width)
        parts.append(w)
    return build_message(STATION, joined(parts).to_bytes(), subsets=subsets, master_version=MASTER_VERSION,
                         category=0)


def compressed_message(tables, subsets: int, seed: int = 2) -> bytes:
    """A scan line of satellite soundings, one column per element occurrence."""
    rng = random.Random(seed)
    fields = fields_of(tables, SATELLITE, rng, 0.02)
    parts = []
    for f in fields:
        raws = [f.raw() for _ in range(subsets)]
        present = [r for r in raws if r is not None]
        if not present or (len(set(raws)) == 1):
            r0 = (1 << f.width) - 1 if not present else present[0]
            parts.append(BitWriter().uint(r0, f.width).uint(0, 6))
            continue
        r0 = min(present)
        top = max(present) - r0
        nbinc = (top + 1).bit_length()  # room for the all-ones missing increment
        column = [BitWriter().uint(r0, f.width).uint(nbinc, 6)]
        missing = (1 << nbinc) - 1
        column += [BitWriter().uint(missing if r is None else r - r0, nbinc) for r in raws]
        parts.append(joined(column))
    return build_message(SATELLITE, joined(parts).to_bytes(), subsets=subsets, compressed=True,
                         master_version=MASTER_VERSION, category=21)
