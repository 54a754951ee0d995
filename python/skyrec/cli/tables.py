"""skyrec tables: which tables each message needs and where they were found."""

from __future__ import annotations

import argparse
import os

from _skyrec import BufrMessage

from .._native import table_directories
from ..errors import MISSING_ENTRY, SHARED_PREFIX, MessageError
from ..reader import read_messages
from ..tables import TableSource, message_key
from .missing_tables import StoppedByTables
from .options import add_command, add_file_options, table_source
from .output import Column, Record, RecordWriter, fixed_line
from .session import Session

HELP = "show which tables each message needs and where they were found"
EXAMPLES = """\
examples:
  skyrec tables obs.bufr                             # tables found by themselves
  skyrec tables --definitions /path/to/definitions --format csv obs/*.bufr

Each message names its tables in section 1: master table and version, local
version, centre and sub-centre. With a definitions tree they are read from
bufr/tables/{master table}/wmo/{master version}, with the local tables
bufr/tables/{master table}/local/{local version}/{centre}/{sub-centre} over
them when the message declares some and they exist. A message whose tables
cannot be loaded is reported on stderr with its file and offset (exit
status 1).
"""

COLUMNS = (Column("#", 5, ">"), Column("OFFSET", 10, ">"), Column("TABLES", 8), Column("CENTRE", 7),
           Column("FOUND", 0))
FIELDS = ("file", "message", "offset", "master_table", "master_version", "local_version", "centre", "subcentre",
          "source", "master_dir", "local_dir", "elements", "sequences", "error")


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    add_file_options(add_command(commands, "tables", HELP, EXAMPLES, run), "message")


def where(source: TableSource, m: BufrMessage) -> tuple[str | None, str | None]:
    """The master and local directories that the message's tables are read
    from (the local one only when it exists); for one fixed set, None and None."""
    if source.root is None:
        return None, None
    named, found, local = table_directories(source.root, m)
    master = found if found is not None else named
    return master, local if local is not None and os.path.isdir(local) else None


def needs(path: str, index: int, offset: int, source: TableSource, m: BufrMessage) -> tuple[Record, str, str]:
    """The record of what the message needs, and the reason and kind of its
    failure ("" and "" when its tables serve it)."""
    master, local = where(source, m)
    record: Record = {"file": path, "message": index, "offset": offset, "master_table": m.master_table_number,
                      "master_version": m.master_tables_version_number,
                      "local_version": m.local_tables_version_number, "centre": m.originating_centre,
                      "subcentre": m.originating_subcentre, "source": source.origin, "master_dir": master,
                      "local_dir": local, "elements": None, "sequences": None, "error": None}
    try:
        tables = source.for_message(m)
        record.update(elements=tables.element_count, sequences=tables.sequence_count)
        # Tables that load but lack what the message names (its local tables, mostly) fail it too.
        tables.expand(m.unexpanded_descriptors)
    except (ValueError, OSError) as e:
        # _skyrec's errors and the package's say their kind; only the package's a reason.
        reason, kind = getattr(e, "reason", str(e).removeprefix(SHARED_PREFIX)), getattr(e, "kind", "text")
        record["error"] = source.explain(message_key(m), reason, kind) if kind in MISSING_ENTRY else str(e)
        return record, reason, kind
    return record, "", ""


def found_text(record: Record, root: str | None) -> str:
    if record["error"] is not None:
        return f"failed: {record['error']}"
    counts = f"{record['elements']} elements, {record['sequences']} sequences"
    if root is None:
        return counts
    shown = os.path.relpath(record["master_dir"], root)
    if record["local_dir"] is not None:
        shown += " + " + os.path.relpath(record["local_dir"], root)
    return f"{shown} ({counts})"


def run(args: argparse.Namespace, session: Session) -> int:
    source = table_source(args)
    out = session.out
    writer = RecordWriter(out, args.format, FIELDS) if args.format != "text" else None
    if writer is None:
        out.write(f"tables from {source.origin}\n")
        out.write(fixed_line(COLUMNS, [c.header for c in COLUMNS]) + "\n")
    stopped = StoppedByTables(source, session)
    for path, item in session.messages(args.files, lambda p: read_messages(p, output="messages")):
        if session.report(path, item):
            continue
        assert item.message is not None
        record, reason, kind = needs(path, item.index, item.offset, source, item.message)
        if record["error"] is not None:
            if not stopped.seen_before(path, item.message, reason, kind):  # else said once, at the end
                session.fail(f"{path}: {MessageError(record['error'], item.index, item.offset, kind=kind)}")
        if writer is not None:
            writer.write(record)
            continue
        out.write(session.file_heading(len(args.files), path))
        out.write(fixed_line(COLUMNS, [
            str(item.index), str(item.offset),
            f"{record['master_table']}/{record['master_version']}/{record['local_version']}",
            f"{record['centre']}/{record['subcentre']}", found_text(record, source.root)]) + "\n")
    stopped.report()
    return session.status
