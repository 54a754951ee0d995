"""skyrec expand: descriptors through Table D, as decoding lays them out."""

from __future__ import annotations

import argparse

from .describe import describe
from .options import DESCRIPTOR_FORMS, add_command, add_format_option, add_table_options, descriptor, lookup_tables
from .output import RecordWriter, aligned_lines, code_text
from .session import Session

HELP = "expand descriptors through Table D"
EXAMPLES = f"""\
examples:
  skyrec expand --tables examples/tables 301011 3-01-012
  skyrec expand 307080                               # the newest WMO tables found
  skyrec expand --master-version 38 --format csv 3-07-080
  skyrec expand --like obs.bufr 1-02-002 001001 001002

Descriptors are written {DESCRIPTOR_FORMS}; several are expanded as one
list, so a replication takes the ones after it. Sequences are replaced by their
members, fixed replications unrolled, delayed ones laid out once after their
factor; 999999 marks an associated field.
"""

FIELDS = ("position", "descriptor", "name", "unit")


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "expand", HELP, EXAMPLES, run)
    parser.add_argument("descriptors", nargs="+", metavar="DESCRIPTOR", type=descriptor)
    add_format_option(parser, "descriptor")
    add_table_options(parser, versions=True)


def missing_operands(codes: list[int]) -> str | None:
    """What a replication of `codes` lacks, when fewer descriptors follow it
    than it replicates (plus its factor, when delayed)."""
    for i, code in enumerate(codes):
        if code // 100000 != 1:
            continue
        x, y = code // 1000 % 100, code % 1000
        needed = x + (1 if y == 0 else 0)
        after = len(codes) - i - 1
        if after < needed:
            why = f"{x} to replicate" + (" and their delayed factor" if y == 0 else "")
            return (f"{code_text(code)} needs {needed} descriptor{'s' if needed != 1 else ''} after it ({why}), "
                    f"but only {after} follow{'s' if after == 1 else ''}")
    return None


def run(args: argparse.Namespace, session: Session) -> int:
    tables, _ = lookup_tables(args)
    if (lacking := missing_operands(args.descriptors)) is not None:
        session.fail(f"cannot expand {' '.join(map(code_text, args.descriptors))}: {lacking}")
        return session.status
    try:
        codes = tables.expand(args.descriptors)
    except ValueError as e:
        session.fail(f"cannot expand {' '.join(map(code_text, args.descriptors))}: {e}")
        return session.status
    rows = [(code_text(code), *describe(tables, code)) for code in codes]
    if args.format == "text":
        for line in aligned_lines(rows):
            session.out.write(line + "\n")
    else:
        RecordWriter(session.out, args.format, FIELDS).write(*(
            {"position": position, "descriptor": code, "name": name, "unit": unit}
            for position, (code, name, unit) in enumerate(rows)))
    return session.status
