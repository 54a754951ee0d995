"""skyrec ls: one line per message, from its header alone."""

from __future__ import annotations

import argparse

from ..errors import DecodeError, MessageError
from ..gts import FIELDS as GTS_FIELDS
from .choosing import Chooser
from .framing import framed
from .options import add_command, add_file_options
from .output import Column, Record, RecordWriter, first_codes, fixed_line, header_record
from .selection import add_selection_options, numbers
from .session import Session

HELP = "list the messages of BUFR files, one line each, from their headers alone"
EXAMPLES = """\
examples:
  skyrec ls examples/sample.bufr
  skyrec ls --format csv obs/*.bufr > messages.csv
  skyrec ls --format jsonl big.bufr | jq -c 'select(.category == 2)'
  skyrec ls --where dataCategory=2 --where typicalHour=0:6 obs/*.bufr
  skyrec ls --where gts_ttaaii=ISMD01 --where '#1#stationNumber=100:200' feed/*.bin

Columns: message index and offset in its file, length in bytes, edition,
centre/sub-centre, data category/international sub-category, subsets,
compressed (c) or not (-), typical time, master table/master version/local
version, the GTS bulletin heading (TTAAii CCCC YYGGgg BBB; - when there is
none), and the first descriptors of section 3 (all of them in jsonl and csv).
No tables are read unless --where names a data key. A message that cannot be framed is reported on stderr
with its file and offset, and the listing goes on (exit status 1).
"""

COLUMNS = (Column("#", 5, ">"), Column("OFFSET", 10, ">"), Column("LENGTH", 8, ">"), Column("ED", 2, ">"),
           Column("CENTRE", 7), Column("CAT", 6), Column("SUBSETS", 7, ">"), Column("C", 1),
           Column("TIME", 19), Column("TABLES", 8), Column("GTS", 22), Column("DESCRIPTORS", 0))
FIELDS = ("file", "message", "offset", "length", "edition", "centre", "subcentre", "category", "subcategory",
          "local_subcategory", "subsets", "compressed", "observed", "time", "master_table", "master_version",
          "local_version", *GTS_FIELDS, "descriptors")


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "ls", HELP, EXAMPLES, run)
    add_file_options(parser, "message", read=False)
    add_selection_options(parser, values=False)


def text_cells(record: Record) -> list[str]:
    return [str(record["message"]), str(record["offset"]), str(record["length"]), str(record["edition"]),
            f"{record['centre']}/{record['subcentre']}", f"{record['category']}/{record['subcategory']}",
            str(record["subsets"]), "c" if record["compressed"] else "-", record["time"],
            f"{record['master_table']}/{record['master_version']}/{record['local_version']}",
            " ".join(record[k] for k in GTS_FIELDS if record[k]) or "-", first_codes(record["descriptors"])]


def run(args: argparse.Namespace, session: Session) -> int:
    out = session.out
    chosen, chooser = numbers("--message", args.message), Chooser(args, session)
    writer = RecordWriter(out, args.format, FIELDS) if args.format != "text" else None
    header = fixed_line(COLUMNS, [c.header for c in COLUMNS]) + "\n"
    several = len(args.files) > 1
    if writer is None and not several:
        out.write(header)
    for path, item in session.messages(args.files, framed, chosen.first_absent):
        if item.index not in chosen:
            continue
        found = item.found
        if found.error is not None:
            error = MessageError(found.error, index=item.index, offset=item.offset, kind=found.kind)
            session.report(path, item.decoded(error))
            continue
        try:
            if chooser.choose(found, item.gts) is None:
                continue
        except DecodeError as e:
            session.report(path, item.decoded(chooser.error(item.index, found, e)))
            continue
        assert found.message is not None
        gts = item.gts.fields() if item.gts is not None else dict.fromkeys(GTS_FIELDS)
        record = {"file": path, "message": item.index, "offset": item.offset, "length": item.length,
                  **header_record(found.message), **gts}
        if writer is not None:
            writer.write(record)
            continue
        heading = session.file_heading(len(args.files), path)
        if heading:
            # Under each file's heading, so that every listing reads alone.
            out.write(heading + header)
        out.write(fixed_line(COLUMNS, text_cells(record)) + "\n")
    chooser.report_unheld()
    return session.status
