"""skyrec template: the bundled report templates, and what a table for one holds."""

from __future__ import annotations

import argparse

from .convert import usage_errors
from .options import UsageError, add_command, add_format_option, add_table_options, table_source
from .output import RecordWriter, aligned_lines, number_text
from .session import Session

HELP = "list the report templates that skyrec encode writes, or show one as a table to fill"
EXAMPLES = """\
examples:
  skyrec template --list
  skyrec template land-station
  skyrec template upper-air --format csv > upper-air-keys.csv

Each row is a column the table may have: its key, unit, the range its field
holds, whether every row needs it, and 'level' for the values of a delayed
replication (with --group, one row per level). A key met more than once is
written #rank#key.
"""
FIELDS = ("key", "unit", "low", "high", "required", "level", "name")


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "template", HELP, EXAMPLES, run)
    parser.add_argument("name", nargs="?", metavar="NAME", help="a report template (see --list)")
    parser.add_argument("--list", action="store_true", help="the report templates bundled, with their sequences")
    add_format_option(parser, "key")
    add_table_options(parser)


def run(args: argparse.Namespace, session: Session) -> int:
    from ..report_templates import REPORT_TEMPLATES, report_template

    if args.list == (args.name is not None):
        raise UsageError("give a template NAME or --list")
    if args.list:
        names = [(t.name, " ".join(f"{d:06d}" for d in t.descriptors), t.title) for t in REPORT_TEMPLATES.values()]
        for line in aligned_lines([("NAME", "SEQUENCES", "REPORT"), *names]):
            print(line, file=session.out)
        return session.status
    with usage_errors("-", session):
        chosen = report_template(args.name)
        rows = chosen.rows(tables=table_source(args))
    records = [{"key": r.key, "unit": r.unit, "low": r.low, "high": r.high, "required": r.required,
                "level": r.replicated, "name": r.name} for r in rows]
    if args.format != "text":
        RecordWriter(session.out, args.format, FIELDS).write(*records)
        return session.status
    cells = [("KEY", "UNIT", "LOW", "HIGH", "REQUIRED", "LEVEL", "NAME")]
    for r in rows:
        cells.append((r.key, r.unit, "" if r.low is None else number_text(r.low),
                      "" if r.high is None else number_text(r.high), "yes" if r.required else "",
                      "level" if r.replicated else "", r.name))
    print(f"# {chosen.title}", file=session.out)
    for line in aligned_lines(cells):
        print(line, file=session.out)
    return session.status
