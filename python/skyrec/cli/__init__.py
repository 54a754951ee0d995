"""skyrec, the command line: list, dump, copy, change, compare and look up
BUFR messages and tables, and write tables as BUFR.

Each subcommand lives in its own module of this package and registers its
parser; main() parses, runs it and turns what happened into the exit status.
"""

from __future__ import annotations

import argparse
import importlib
import os
import sys
from collections.abc import Sequence
from typing import Any

from ..optional import MissingExtra
from .options import EXIT_CLOSED, EXIT_OUTPUT, EXIT_USAGE, Formatter, UsageError
from .session import Session
from .stdout import GuardedOutput, OutputError

DESCRIPTION = "Fast, exact decoding of WMO BUFR messages of editions 2, 3 and 4."
EPILOG = """\
examples:
  skyrec dump --tables examples/tables examples/sample.bufr
  skyrec ls obs.bufr
  skyrec dump --format csv obs.bufr > values.csv
  skyrec lookup 0-12-101
  skyrec expand 301011
  skyrec tables obs.bufr
  skyrec table obs.bufr -c WMO_station_id,data_datetime,airTemperature
  skyrec convert obs/*.bufr --to parquet --partition -o archive
  skyrec plot synop.bufr --map airTemperature -o stations.png
  skyrec copy day.bufr --where dataCategory=2 -o 'temp_[bufrHeaderCentre].bufr'
  skyrec set dataSubCategory=7 obs.bufr -o fixed.bufr
  skyrec compare old.bufr new.bufr --tolerance airTemperature=0.05
  skyrec template land-station
  skyrec encode --template land-station stations.csv -o stations.bufr

Run 'skyrec COMMAND --help' for a command's options and more examples.

exit status: 0 when every message was read, 1 when some failed (each failure
is on stderr with its file and offset; the others are still printed), 2 for
usage errors (a bad option, tables that cannot be found or loaded), 74 when
the output cannot be written (a full disk, a closed stdout), 141 when the
output was closed early (as in 'skyrec ls big.bufr | head').

A FILE of - reads standard input: cat obs.bufr | skyrec ls -
"""

# Each command's name and the module that registers and runs it, in the order --help lists them.
COMMANDS = {"ls": "ls", "dump": "dump", "copy": "copy", "set": "setkeys", "compare": "compare", "expand": "expand",
            "lookup": "lookup", "tables": "tables", "table": "table", "convert": "convert", "plot": "plot",
            "template": "template", "encode": "encode"}


def build_parser(only: str | None = None) -> argparse.ArgumentParser:
    """The parser of every command, or only of the one named `only`: a run
    imports the module of its own command and no other's."""
    parser = argparse.ArgumentParser(prog="skyrec", description=DESCRIPTION, epilog=EPILOG,
                                     formatter_class=Formatter)
    parser.add_argument("--version", action=_Version, help="show the version of skyrec and exit")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)
    for name, module in COMMANDS.items():
        if only is None or name == only:
            importlib.import_module(f"{__name__}.{module}").register(commands)
    return parser


def named_command(argv: Sequence[str]) -> str | None:
    """The command that `argv` runs, when it names one before anything else
    ("" for --version, which needs none); None to build every command's parser."""
    if argv and argv[0] == "--version":
        return ""
    return argv[0] if argv and argv[0] in COMMANDS else None


def version() -> str:
    from importlib import metadata  # a twentieth of a second: only for --version

    try:
        return metadata.version("skyrec")
    except metadata.PackageNotFoundError:
        return "(not installed)"


class _Version(argparse.Action):
    """--version, its answer looked up only when asked."""

    def __init__(self, option_strings: Sequence[str], dest: str = argparse.SUPPRESS, **kwargs: Any):
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, **kwargs)

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        sys.stdout.write(f"skyrec {version()}\n")
        parser.exit()


def silence_stdout() -> None:
    """After the reader of stdout has gone: later writes, and the flush at
    exit, go nowhere instead of raising BrokenPipeError again."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError, AttributeError):
        pass


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `argv` (sys.argv[1:] by default) and returns its
    exit status."""
    out, err = sys.stdout, sys.stderr
    argv = sys.argv[1:] if argv is None else list(argv)
    parser = build_parser(named_command(argv))
    try:
        args = parser.parse_args(argv)
    except SystemExit as e:  # --help, --version, or a usage error already reported
        return e.code if isinstance(e.code, int) else EXIT_USAGE
    guarded = GuardedOutput(out)
    session = Session(guarded, err, getattr(args, "progress", None))  # type: ignore[arg-type]
    try:
        status: int = args.run(args, session)
        guarded.flush()
        return status
    except (UsageError, MissingExtra) as e:  # a missing optional library is said in one line, as misuse is
        try:
            guarded.flush()
        except OutputError:
            pass  # the usage error is the one to tell
        print(f"skyrec: {e}", file=err)
        return EXIT_USAGE
    except OutputError as e:
        if out is sys.stdout:
            silence_stdout()  # what is still buffered must not fail again at exit
        print(f"skyrec: {e}", file=err)
        return EXIT_OUTPUT
    except BrokenPipeError:
        if out is sys.stdout:
            silence_stdout()
        return EXIT_CLOSED
    except KeyboardInterrupt:
        return 130
