"""One decoder over one workload, in a process of its own; prints one JSON line.

    worker.py DECODER time WORKLOAD.bufr RUNS [--definitions ROOT] [--sizes FILE]
    worker.py DECODER check WORKLOAD.bufr [--definitions ROOT]
    worker.py DECODER tables WORKLOAD.bufr RUNS [--definitions ROOT]

DECODER is skyrec, eccodes, pybufrkit or objects (bare objects of
DecodedValue's size in lists of the sizes given, the object-creation limit);
for compressed numbers alone: wide (skyrec._native.keep_columns(...).wide()), columns
(read_messages(output="columns") per message and each Columns' value array),
columns-all (the same, every array of the Columns made), block (skyrec._native.decode_block, as
read_block decodes), block-values (read_block of the value column alone), numeric (eccodes'
numericValues alone) and
fill (a fresh float64 array of each message's size filled, the memory limit).
`time` decodes every message once untimed (so that peers load their tables),
then RUNS times, and reports every run's time; `check` reports which messages
the decoder accepts, and how many values each gives; `tables` reports the time to load the tables of each
message's table version (the first message is a warm-up for the peers).
Results are dropped as soon as they are made, as a program that processes one
message after another would.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import resource
import sys
import time
from pathlib import Path

from workloads import master_version as version_of
from workloads import message_bytes


def rss_kb() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() // 1024


class Skyrec:
    def __init__(self, args, messages):
        import _skyrec

        self.decode = edition_aware(_skyrec.decode_values_with_tables)
        wmo = Path(args.definitions) / "bufr" / "tables" / "0" / "wmo"

        def load(version):
            try:
                return _skyrec.TableSet.from_eccodes(str(wmo / str(version)))
            except (ValueError, OSError):
                return None

        self.load = load
        self.tables = {}
        self.pairs = []
        for m in messages:
            v = version_of(m)
            if v not in self.tables:
                self.tables[v] = self.load(v)
            self.pairs.append((m, self.tables[v]))

    def one(self, i):
        m, t = self.pairs[i]
        if t is None:
            raise ValueError("no tables")
        return len(self.decode(m, t))

    def run(self):
        decode = self.decode
        return sum(len(decode(m, t)) for m, t in self.pairs)

    def load_tables(self, messages):
        times = []
        for m in messages[1:]:
            start = time.perf_counter()
            self.load(version_of(m))
            times.append(time.perf_counter() - start)
        return times


def edition_aware(decode):
    """decode(message, tables) for edition 4; editions 2 and 3, which _skyrec
    refuses, are framed and decoded by the package's native module."""
    from skyrec import _native

    def any_edition(m, t):
        if m[7] == 4:
            return decode(m, t)
        return _native.decode_subsets(m, 0, _native.next_message(m, 0)[3], t)[0]

    return any_edition


class Peer:
    """A peer decoder: decode(message) gives the number of values it made."""

    def __init__(self, messages):
        self.messages = messages

    def one(self, i):
        return self.decode(self.messages[i])

    def run(self):
        return sum(self.decode(m) for m in self.messages)

    def load_tables(self, messages):
        return warm_minus_cold(self.decode, messages)


class Eccodes(Peer):
    def __init__(self, args, messages):
        import eccodes

        super().__init__(messages)
        self.ec = eccodes

    def decode(self, m):
        ec = self.ec
        h = ec.codes_new_from_message(m)
        try:
            ec.codes_set(h, "unpack", 1)
            numbers = ec.codes_get_array(h, "numericValues")
            try:
                ec.codes_get_array(h, "stringValues")
            except ec.KeyValueNotFoundError:
                pass  # a message without character data
            return len(numbers)
        finally:
            ec.codes_release(h)


class Wide:
    """skyrec's numbers of compressed messages: one 2-D float64 array each,
    the tables (master and local) found as the package finds them, once per
    version outside the timing."""

    def __init__(self, args, messages):
        from skyrec import TableSource, _native

        self.native = _native
        source = TableSource(root=args.definitions)
        self.found = []
        for m in messages:
            message = _native.next_message(m, 0)[3]
            try:
                tables = source.for_message(message) if message is not None else None
            except ValueError:
                tables = None
            self.found.append((m, message, tables))

    def count(self, m, message, tables):
        return memoryview(self.native.keep_columns(m, 0, message, tables).wide()["values"]).nbytes // 8

    def one(self, i):
        m, message, tables = self.found[i]
        if tables is None:
            raise ValueError("no message or no tables")
        return self.count(m, message, tables)

    def run(self):
        count = self.count
        return sum(count(m, message, tables) for m, message, tables in self.found)


class LongColumns:
    """The package's Columns of each message and their numbers, as a user
    reads them: read_messages(output="columns") per message, the tables
    found by the same TableSource (each version loaded outside the timing)."""

    def __init__(self, args, messages):
        from skyrec import TableSource, read_messages

        self.read = read_messages
        self.source = TableSource(root=args.definitions)
        self.messages = messages

    def arrays(self, columns):
        return [columns.value]

    def one(self, i):
        (item,) = self.read(self.messages[i], tables=self.source, output="columns")
        if item.error is not None:
            raise item.error
        return len(self.arrays(item.columns)[0])

    def run(self):
        read, source, arrays = self.read, self.source, self.arrays
        return sum(len(arrays(item.columns)[0]) for m in self.messages
                   for item in read(m, tables=source, output="columns") if item.columns is not None)


class AllColumns(LongColumns):
    """As LongColumns, every array and category list of the Columns made."""

    def __init__(self, args, messages):
        from skyrec.columns import PARTS

        super().__init__(args, messages)
        self.parts = sorted(PARTS)

    def arrays(self, columns):
        return [columns.value, *(getattr(columns, name) for name in self.parts)]


class Block(Wide):
    """skyrec._native.decode_block over the whole workload: read_block's columns."""

    def __init__(self, args, messages):
        super().__init__(args, messages)
        self.data = b"".join(messages)
        offsets = [0]
        for m in messages[:-1]:
            offsets.append(offsets[-1] + len(m))
        self.offsets = offsets

    def one(self, i):
        m, message, tables = self.found[i]
        if tables is None:
            raise ValueError("no message or no tables")
        framing = self.native.message_headers(m, keep=True)["framing"]
        return self.native.decode_block([(framing, 0, [0], [0], tables, 0)])["count"]

    def run(self):
        # The header pass frames the messages, as read_block does.
        headers = self.native.message_headers(self.data, keep=True)
        row_of = {int(o): r for r, o in enumerate(memoryview(headers["offset"]).tolist())}
        kept = [(row_of[o], t) for o, (_, _, t) in zip(self.offsets, self.found) if t is not None]
        piece = (headers["framing"], 0, [r for r, _ in kept], list(range(len(kept))), [t for _, t in kept], 0)
        return self.native.decode_block([piece])["count"]


class BlockValues(Block):
    """skyrec.blocks.read_block(..., columns=["value"]) over the whole
    workload, as a user reads numbers alone: the header pass, tables found by
    the package (loaded before the timing) and the one-column frame."""

    def __init__(self, args, messages):
        from skyrec import TableSource
        from skyrec.blocks import read_block

        super().__init__(args, messages)
        self.source = TableSource(root=args.definitions)
        self.read_block = read_block

    def one(self, i):
        values, _ = self.read_block(self.found[i][0], tables=self.source, columns=["value"])
        return len(values)

    def run(self):
        values, _ = self.read_block(self.data, tables=self.source, columns=["value"])
        return len(values)


class Numeric(Eccodes):
    def decode(self, m):
        ec = self.ec
        h = ec.codes_new_from_message(m)
        try:
            ec.codes_set(h, "unpack", 1)
            return len(ec.codes_get_array(h, "numericValues"))
        finally:
            ec.codes_release(h)


class Fill:
    """A float64 array of each message's value count (as a wide table counts
    them), made and filled: what writing the numbers alone costs."""

    def __init__(self, args, messages):
        import numpy as np

        wide = Wide(args, messages)
        self.sizes = [wide.one(i) for i in range(len(messages))]
        self.np = np

    def one(self, i):
        return self.sizes[i]

    def run(self):
        full = self.np.full
        return sum(len(full(n, 0.5)) for n in self.sizes)


class Pybufrkit(Peer):
    def __init__(self, args, messages):
        from pybufrkit.decoder import Decoder

        super().__init__(messages)
        self.decoder = Decoder()

    def decode(self, m):
        bm = self.decoder.process(m)
        return sum(len(s) for s in bm.template_data.value.decoded_values_all_subsets)


class Objects:
    def __init__(self, args, messages):
        import blank_values

        import _skyrec

        blank_values.make_type(_skyrec.DecodedValue.__basicsize__)
        self.make = blank_values.values
        self.sizes = json.loads(Path(args.sizes).read_text())

    def run(self):
        make = self.make
        return sum(len(make(n)) for n in self.sizes)


def warm_minus_cold(decode, messages):
    """Per message after the first: its first decode less its second, the
    first message warming up whatever a decoder loads once for all versions."""
    decode(messages[0])
    times = []
    for m in messages[1:]:
        start = time.perf_counter()
        decode(m)
        cold = time.perf_counter() - start
        start = time.perf_counter()
        decode(m)
        times.append(cold - (time.perf_counter() - start))
    return times


DECODERS = {"skyrec": Skyrec, "eccodes": Eccodes, "pybufrkit": Pybufrkit, "objects": Objects, "wide": Wide,
            "columns": LongColumns, "columns-all": AllColumns, "block": Block, "block-values": BlockValues,
            "numeric": Numeric, "fill": Fill}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("decoder", choices=sorted(DECODERS))
    parser.add_argument("mode", choices=["time", "check", "tables"])
    parser.add_argument("workload")
    parser.add_argument("runs", nargs="?", type=int, default=5)
    parser.add_argument("--definitions", default="/usr/share/eccodes/definitions")
    parser.add_argument("--sizes")
    args = parser.parse_args()

    data = Path(args.workload).read_bytes()
    messages = message_bytes(data)
    digest = hashlib.sha256(b"".join(messages)).hexdigest()
    decoder = DECODERS[args.decoder](args, messages)
    out = {"decoder": args.decoder, "messages": len(messages), "digest": digest}

    if args.mode == "check":
        accepted, counts = [], []
        for i in range(len(messages)):
            try:
                if (count := decoder.one(i)) > 0:
                    accepted.append(i)
                    counts.append(count)
            except Exception:
                pass
        out["accepted"] = accepted
        out["counts"] = counts
    elif args.mode == "tables":
        out["times"] = decoder.load_tables(messages)
    else:
        out["values"] = decoder.run()  # untimed: tables and caches warm
        base = rss_kb()
        times = []
        for _ in range(args.runs):
            start = time.perf_counter()
            decoder.run()
            times.append(time.perf_counter() - start)
        out["times"] = times
        out["base_kb"] = base
        out["peak_kb"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps(out))


if __name__ == "__main__":
    sys.exit(main())
