"""python -m skyrec [--tables DIR | --definitions ROOT] FILE...

Decodes every message of each file and prints its values. Tables come from
--tables (one ecCodes table directory), --definitions (a definitions root, the
tables chosen per message), or are found by themselves.
"""

from __future__ import annotations

import argparse
import sys

import _skyrec

from .tables import TablesNotFound, find_definitions_root


def header_line(m) -> str:
    when = (f"{m.typical_year:04d}-{m.typical_month:02d}-{m.typical_day:02d}T"
            f"{m.typical_hour:02d}:{m.typical_minute:02d}:{m.typical_second:02d}")
    return (f"length={m.total_length} centre={m.originating_centre}/{m.originating_subcentre} "
            f"category={m.data_category} subsets={m.number_of_subsets} "
            f"compressed={'yes' if m.compressed_data else 'no'} time={when} "
            f"tables={m.master_tables_version_number}/{m.local_tables_version_number}")


def value_line(v) -> str:
    data = v.data
    shown = "MISSING" if data is None else (repr(data) if isinstance(data, str) else f"{data:g}")
    return f"  {v.descriptor:06d} {v.name:<48.48} {shown}"


def message_slices(data: bytes):
    """(start, end) of each message, found as the module's scan finds them."""
    pos = 0
    while (start := data.find(b"BUFR", pos)) >= 0 and start + 8 <= len(data):
        length = int.from_bytes(data[start + 4:start + 7], "big")
        yield start, start + length
        pos = start + max(length, 4)


def decode_file(path: str, tables_for) -> int:
    with open(path, "rb") as f:
        data = f.read()
    messages = _skyrec.parse_all_bytes(data)  # refuses the file whole if any message is bad
    if not messages:
        print(f"{path}: no BUFR messages found", file=sys.stderr)
        return 1
    failures = 0
    for index, (message, (start, end)) in enumerate(zip(messages, message_slices(data))):
        print(f"{path} #{index}: {header_line(message)}")
        try:
            values = _skyrec.decode_values_with_tables(data[start:end], tables_for(message))
        except ValueError as e:
            print(f"  error: {e}", file=sys.stderr)
            failures += 1
            continue
        for v in values:
            print(value_line(v))
    return failures


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m skyrec", description=__doc__.split("\n\n")[1])
    parser.add_argument("files", nargs="+", metavar="FILE")
    source = parser.add_mutually_exclusive_group()
    source.add_argument("--tables", metavar="DIR", help="an ecCodes table directory (element.table, ...)")
    source.add_argument("--definitions", metavar="ROOT", help="an ecCodes definitions root")
    args = parser.parse_args(argv)

    if args.tables:
        fixed = _skyrec.TableSet.from_eccodes(args.tables)
        tables_for = lambda message: fixed  # noqa: E731
    else:
        try:
            root = args.definitions or find_definitions_root()
        except TablesNotFound as e:
            print(f"skyrec: {e}", file=sys.stderr)
            return 2
        cache = {}

        def tables_for(m):
            key = (m.master_table_number, m.master_tables_version_number, m.local_tables_version_number,
                   m.originating_centre, m.originating_subcentre)
            if key not in cache:
                cache[key] = _skyrec.TableSet.from_definitions(root, m)
            return cache[key]

    status = 0
    for path in args.files:
        try:
            if decode_file(path, tables_for):
                status = 1
        except (OSError, ValueError) as e:
            print(f"{path}: {e}", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
