"""skyrec ls: one line per message, from its header alone."""

from __future__ import annotations

import argparse

from ..reader import read_messages
from .options import add_command, add_file_options
from .output import Column, Record, RecordWriter, first_codes, fixed_line, header_record
from .selection import add_selection_options, header_where, numbers
from .session import Session

HELP = "list the messages of BUFR files, one line each, from their headers alone"
EXAMPLES = """\
examples:
  skyrec ls examples/sample.bufr
  skyrec ls --format csv obs/*.bufr > messages.csv
  skyrec ls --format jsonl big.bufr | jq -c 'select(.category == 2)'
  skyrec ls --where dataCategory=2 --where typicalHour=0:6 obs/*.bufr

Columns: message index and offset in its file, length in bytes, edition,
centre/sub-centre, data category/international sub-category, subsets,
compressed (c) or not (-), typical time, master table/master version/local
version, and the first descriptors of section 3 (all of them in jsonl and csv).
No tables are read. A message that cannot be framed is reported on stderr
with its file and offset, and the listing goes on (exit status 1).
"""

COLUMNS = (Column("#", 5, ">"), Column("OFFSET", 10, ">"), Column("LENGTH", 8, ">"), Column("ED", 2, ">"),
           Column("CENTRE", 7), Column("CAT", 6), Column("SUBSETS", 7, ">"), Column("C", 1),
           Column("TIME", 19), Column("TABLES", 8), Column("DESCRIPTORS", 0))
FIELDS = ("file", "message", "offset", "length", "edition", "centre", "subcentre", "category", "subcategory",
          "local_subcategory", "subsets", "compressed", "observed", "time", "master_table", "master_version",
          "local_version", "descriptors")


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "ls", HELP, EXAMPLES, run)
    add_file_options(parser, "message", read=False)
    add_selection_options(parser, values=False)


def text_cells(record: Record) -> list[str]:
    return [str(record["message"]), str(record["offset"]), str(record["length"]), str(record["edition"]),
            f"{record['centre']}/{record['subcentre']}", f"{record['category']}/{record['subcategory']}",
            str(record["subsets"]), "c" if record["compressed"] else "-", record["time"],
            f"{record['master_table']}/{record['master_version']}/{record['local_version']}",
            first_codes(record["descriptors"])]


def run(args: argparse.Namespace, session: Session) -> int:
    out = session.out
    chosen, where = numbers("--message", args.message), header_where(args.where)
    writer = RecordWriter(out, args.format, FIELDS) if args.format != "text" else None
    header = fixed_line(COLUMNS, [c.header for c in COLUMNS]) + "\n"
    several = len(args.files) > 1
    if writer is None and not several:
        out.write(header)
    for path, item in session.messages(args.files, lambda p: read_messages(p, output="messages"), chosen.first_absent):
        if item.index not in chosen or session.report(path, item):
            continue
        assert item.message is not None
        if not where(item.message):
            continue
        record = {"file": path, "message": item.index, "offset": item.offset, "length": item.length,
                  **header_record(item.message)}
        if writer is not None:
            writer.write(record)
            continue
        heading = session.file_heading(len(args.files), path)
        if heading:
            # Under each file's heading, so that every listing reads alone.
            out.write(heading + header)
        out.write(fixed_line(COLUMNS, text_cells(record)) + "\n")
    return session.status
