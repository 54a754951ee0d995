"""python -m skyrec [--tables DIR | --definitions ROOT] FILE...

Decodes every message of each file and prints its values. Tables come from
--tables (one ecCodes table directory), --definitions (a definitions root, the
tables chosen per message), or are found by themselves. A message that fails
is reported on stderr with its offset, and the others still print.
"""

from __future__ import annotations

import argparse
import sys

from .reader import read_messages
from .tables import TableSource, TablesNotFound, find_tables


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


def decode_file(path: str, tables: TableSource) -> int:
    """Prints every message of `path`; a bad one goes to stderr with its
    offset and the others still print. Returns the number of bad messages."""
    failures = 0
    found = 0
    for item in read_messages(path, tables=tables):
        found += 1
        if item.message is not None:
            print(f"{path} #{item.index}: {header_line(item.message)}")
        if item.error is not None:
            print(f"{path}: {item.error}", file=sys.stderr)
            failures += 1
            continue
        for v in item.values:
            print(value_line(v))
    if not found:
        print(f"{path}: no BUFR messages found", file=sys.stderr)
        return 1
    return failures


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m skyrec", description=__doc__.split("\n\n")[1])
    parser.add_argument("files", nargs="+", metavar="FILE")
    source = parser.add_mutually_exclusive_group()
    source.add_argument("--tables", metavar="DIR", help="an ecCodes table directory (element.table, ...)")
    source.add_argument("--definitions", metavar="ROOT", help="an ecCodes definitions root")
    args = parser.parse_args(argv)

    try:
        tables = find_tables(table_dir=args.tables, definitions=args.definitions)
    except (TablesNotFound, ValueError, OSError) as e:
        print(f"skyrec: {e}", file=sys.stderr)
        return 2

    status = 0
    for path in args.files:
        try:
            if decode_file(path, tables):
                status = 1
        except OSError as e:
            print(f"{path}: {e}", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
