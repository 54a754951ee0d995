"""skyrec compare: two files, message by message, key by key."""

from __future__ import annotations

import argparse

from ..errors import DecodeError
from .options import UsageError, add_command, add_progress_option, add_table_options, table_source
from .session import Session
from .where import DATA_KEY, HEADER_KEYS

HELP = "compare two BUFR files message by message: header keys and every value"
EXAMPLES = """\
examples:
  skyrec compare old.bufr new.bufr
  skyrec compare old.bufr new.bufr --tolerance airTemperature=0.05 --relative pressure=0.001
  skyrec compare old.bufr new.bufr --skip typicalMinute --skip '#2#windSpeed'

Each difference is one line: 'message N, subset S, #r#key: A vs B' for a
value, 'message N, KEY: A vs B' for a header key (messages and subsets
counted from 0; MISSING for a missing value or one a side lacks).
exit status: 0 when alike, 1 when they differ (or a message cannot be
decoded), 2 for usage errors.
"""

EXIT_DIFFERENT = 1


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "compare", HELP, EXAMPLES, run)
    parser.add_argument("a", metavar="A", help="the first file")
    parser.add_argument("b", metavar="B", help="the second file")
    parser.add_argument("--tolerance", action="append", default=[], metavar="KEY=ABS",
                        help="numbers of KEY (every rank) or #r#KEY alike when at most ABS apart; may be repeated")
    parser.add_argument("--relative", action="append", default=[], metavar="KEY=REL",
                        help="alike when at most REL times the larger apart; may be repeated")
    parser.add_argument("--skip", action="append", default=[], metavar="KEY", help="a key not compared")
    add_table_options(parser)
    add_progress_option(parser)


def _limits(option: str, given: list[str]) -> dict[str, float]:
    limits: dict[str, float] = {}
    for text in given:
        key, _, number = text.partition("=")
        try:
            value = float(number)
        except ValueError:
            value = -1.0
        if not DATA_KEY.fullmatch(key.strip()) or value < 0:
            raise UsageError(f"{option} {text!r}: write KEY=NUMBER, the number 0 or more")
        limits[key.strip()] = value
    return limits


def run(args: argparse.Namespace, session: Session) -> int:
    from ..comparing import Lazy, Limits, each_difference

    tolerance, relative = _limits("--tolerance", args.tolerance), _limits("--relative", args.relative)
    for key in args.skip:
        if not DATA_KEY.fullmatch(key) and key not in HEADER_KEYS:
            raise UsageError(f"--skip {key!r}: not a key")
    for path in (args.a, args.b):
        try:
            with open(path, "rb"):
                pass
        except OSError as e:
            raise UsageError(f"{path}: {e.strerror or e}") from e
    found = 0
    try:
        for difference in each_difference(args.a, args.b, Limits(tolerance, relative, args.skip),
                                          Lazy(lambda: table_source(args))):
            session.out.write(f"{difference}\n")
            found += 1
    except DecodeError as e:
        session.fail(str(e))
        return EXIT_DIFFERENT
    if found:
        print(f"skyrec: compare: {found} difference{'' if found == 1 else 's'}", file=session.err)
    return EXIT_DIFFERENT if found else 0
