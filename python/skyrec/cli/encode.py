"""skyrec encode: a CSV table into BUFR messages of a report template."""

from __future__ import annotations

import argparse

from .convert import usage_errors
from .options import EXIT_FAILED, UsageError, add_command, add_table_options, table_source
from .session import Session

HELP = "write the rows of a CSV table as BUFR messages of a report template"
EXAMPLES = """\
examples:
  skyrec encode --template land-station stations.csv -o stations.bufr
  skyrec encode --template land-station --mapping aws.toml aws.csv -o aws.bufr
  skyrec encode --template upper-air --group launch levels.csv -o temp.bufr
  skyrec encode --template land-station --dry-run stations.csv

Columns are named by keys (airTemperature, #2#pressure, time,
wigosIdentifier), or renamed in a mapping file (TOML or JSON: [columns] and
[constants], see the README). Every problem of the table is reported at once
on stderr as its row (from 0, the header line not counted), column, value
and why; by default nothing is written then (exit status 1). --on-invalid
missing writes bad values missing, skip-row leaves their rows out (both exit
1 when there were problems). --dry-run checks and writes nothing. Units by
name need 'skyrec[units]'; reading CSV needs pandas.
"""


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "encode", HELP, EXAMPLES, run)
    parser.add_argument("input", metavar="IN.csv", help="the table, with a header row")
    parser.add_argument("-o", "--output", metavar="OUT", help="the BUFR file to write (not with --dry-run)")
    parser.add_argument("--template", required=True, metavar="NAME", help="a report template (skyrec template --list)")
    parser.add_argument("--mapping", metavar="FILE", help="a TOML or JSON file renaming columns, with units and "
                        "constants")
    parser.add_argument("--unit", action="append", default=[], metavar="COLUMN=UNIT",
                        help="the unit of a column's values, as pint names it (degC, hPa, km/h, kt, %%)")
    parser.add_argument("--group", action="append", default=[], metavar="COLUMN",
                        help="rows alike in COLUMN (given again for several) make one subset, a level per row")
    parser.add_argument("--on-invalid", choices=("raise", "missing", "skip-row"), default="raise",
                        help="what bad values do: stop everything (default), become missing, or leave their row out")
    parser.add_argument("--per-message", type=int, default=1, metavar="N",
                        help="subsets in each message (default 1; 0 for all in one)")
    parser.add_argument("--compressed", action="store_true", help="compressed messages")
    parser.add_argument("--dry-run", action="store_true", help="check the table, write nothing")
    add_table_options(parser)


def _units(pairs: list[str]) -> dict[str, str]:
    units = {}
    for pair in pairs:
        column, sep, unit = pair.partition("=")
        if not sep or not column or not unit:
            raise UsageError(f"--unit takes COLUMN=UNIT, not {pair!r}")
        units[column] = unit
    return units


def run(args: argparse.Namespace, session: Session) -> int:
    if (args.output is None) != args.dry_run:
        raise UsageError("give -o OUT, or --dry-run to check only")
    if args.per_message < 0:
        raise UsageError("--per-message takes 0 or more")
    units = _units(args.unit)
    from ..frame_mapping import InvalidFrame

    with usage_errors(args.output or args.input, session):
        import pandas as pd

        from ..from_frame import from_dataframe
        from ..write import write_bufr

        # As text: identifiers keep their leading zeros; numbers are parsed per column.
        frame = pd.read_csv(args.input, dtype=str, keep_default_na=False, na_values=[""])
        try:
            messages = from_dataframe(frame, args.template, mapping=args.mapping, units=units,
                                      group=args.group or None, compressed=args.compressed,
                                      on_invalid=args.on_invalid, per_message=args.per_message or None,
                                      tables=table_source(args))
        except InvalidFrame as e:
            for problem in e.problems:
                session.fail(f"{args.input}: {problem}")
            print(f"skyrec: {len(e.problems)} problem(s); nothing written", file=session.err)
            return EXIT_FAILED
        for problem in messages.problems:
            session.fail(f"{args.input}: {problem}")
        if args.dry_run:
            print(f"{args.input}: {len(frame)} rows checked, {len(messages)} message(s) would be written",
                  file=session.err)
        else:
            count = write_bufr(args.output, messages)
            print(f"{count} message(s) written to {args.output}", file=session.err)
    return session.status
