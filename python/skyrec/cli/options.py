"""What several subcommands share: descriptor arguments, table options,
output formats and the exit codes."""

from __future__ import annotations

import argparse
import os
import re
import sys
import textwrap
from collections.abc import Callable
from typing import TYPE_CHECKING

from _skyrec import BufrMessage, TableSet

if TYPE_CHECKING:  # the tables' modules are imported by the commands that read tables, when they do
    from ..tables import TableSource

EXIT_OK = 0  # every message decoded
EXIT_FAILED = 1  # some message, file or lookup failed; the others were printed
EXIT_USAGE = 2  # the command line cannot be carried out
EXIT_OUTPUT = 74  # stdout cannot be written: a full disk, a closed descriptor (EX_IOERR)
EXIT_CLOSED = 141  # stdout was closed early, as a process that SIGPIPE ends

FORMATS = ("text", "jsonl", "csv")


class UsageError(Exception):
    """A command line that cannot be carried out: exit 2 with this text."""


F_LIMITS = (3, 63, 255)  # F, X and Y at most
DESCRIPTOR_FORMS = "301011, 3-01-011 or 1001 for 001001"


def descriptor(text: str) -> int:
    """A descriptor written 301011, 3-01-011 or without leading zeros (1001
    for 001001), as the integer F * 100000 + X * 1000 + Y."""
    written = text.strip()
    if (parts := re.fullmatch(r"(\d)-(\d{1,2})-(\d{1,3})", written)) is not None:
        f, x, y = (int(p) for p in parts.groups())
    elif re.fullmatch(r"\d{1,6}", written):
        code = int(written)
        f, x, y = code // 100000, code // 1000 % 100, code % 1000
    else:
        raise argparse.ArgumentTypeError(f"{text!r} is not a descriptor (write {DESCRIPTOR_FORMS})")
    if f > F_LIMITS[0] or x > F_LIMITS[1] or y > F_LIMITS[2]:
        raise argparse.ArgumentTypeError(f"{text!r} is not a descriptor: F is 0 to 3, X 0 to 63 and Y 0 to 255")
    return f * 100000 + x * 1000 + y


FOUND_BY_THEMSELVES = ("Without one of these, the tables come from $ECCODES_DEFINITION_PATH, else from the first "
                       "ecCodes definitions tree found (inside an installed ecCodes Python package, under "
                       "sys.prefix/share, /usr/local/share, /opt/homebrew/share, /usr/share), else from the "
                       "tables bundled with skyrec.")
NOT_READ = "This command reads no tables: these options are taken so that every command takes the same ones."


class Formatter(argparse.RawDescriptionHelpFormatter):
    """Descriptions and examples laid out as written, as wide as the terminal
    (measured here: argparse would import shutil, and its imports, for it)."""

    def __init__(self, prog: str, indent_increment: int = 2, max_help_position: int = 24, width: int | None = None):
        if width is None:
            width = terminal_columns() - 2
        super().__init__(prog, indent_increment, max_help_position, width)


def terminal_columns() -> int:
    """$COLUMNS, else the width of the terminal on stdout, else 80."""
    try:
        if (columns := int(os.environ.get("COLUMNS", "0"))) > 0:
            return columns
    except ValueError:
        pass
    try:
        return os.get_terminal_size(sys.__stdout__.fileno()).columns or 80  # type: ignore[union-attr]
    except (AttributeError, ValueError, OSError):
        return 80


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser], name: str, help: str,
                examples: str, run: Callable[..., int]) -> argparse.ArgumentParser:
    """A subcommand with its help, its examples laid out as written, and what runs it."""
    parser = commands.add_parser(name, help=help, description=help + ".", epilog=examples,
                                 formatter_class=Formatter)
    parser.set_defaults(run=run)
    return parser


def add_file_options(parser: argparse.ArgumentParser, what: str, *, read: bool = True) -> None:
    """What the commands that read BUFR files take: the files, --format (a
    record per `what`), the table options and --progress."""
    parser.add_argument("files", nargs="+", metavar="FILE", help="BUFR files (- for standard input)")
    add_format_option(parser, what)
    add_table_options(parser, read=read)
    add_progress_option(parser)


def add_table_options(parser: argparse.ArgumentParser, *, versions: bool = False, read: bool = True) -> None:
    # The help is laid out raw, for the examples: this text is wrapped here.
    group = parser.add_argument_group("tables", textwrap.fill(FOUND_BY_THEMSELVES if read else NOT_READ, 78))
    source = group.add_mutually_exclusive_group()
    source.add_argument("--tables", metavar="DIR", help="one ecCodes table directory (element.table, sequence.def, "
                        "codetables/), used for every message")
    source.add_argument("--definitions", metavar="ROOT", help="an ecCodes definitions tree: each message gets the "
                        "master and local tables that it names")
    source.add_argument("--wmo-csv", metavar="DIR", help="WMO's BUFR4 tables in CSV (BUFRCREX_TableB_en_*.csv, "
                        "BUFR_TableD_en_*.csv; no code tables)")
    if versions:
        group.add_argument("--master-version", metavar="N", type=int,
                           help="with a definitions tree: the WMO master tables version (default: the newest)")
        group.add_argument("--like", metavar="FILE",
                           help="with a definitions tree: the tables that FILE's first message names, local ones "
                           "included")


def add_format_option(parser: argparse.ArgumentParser, what: str) -> None:
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help=f"text (aligned columns, the default), jsonl (one JSON object per {what}) or csv "
                        "(a header row, then one row per " + what + ")")


def add_progress_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                        help="a progress bar on stderr (needs tqdm: pip install 'skyrec[progress]'); "
                        "by default shown for large inputs when stderr is a terminal and stdout is not")


def table_source(args: argparse.Namespace) -> TableSource:
    """The tables that the options name, or those found by themselves."""
    from ..tables import TablesNotFound, find_tables

    given = [(option, value) for option, value in
             (("--tables", args.tables), ("--definitions", args.definitions), ("--wmo-csv", args.wmo_csv))
             if value is not None]
    try:
        return find_tables(table_dir=args.tables, definitions=args.definitions, wmo_csv=args.wmo_csv)
    except (TablesNotFound, ValueError, OSError) as e:
        text = str(e)
        for option, value in given:  # the option, with its value unless the error begins with it
            text = f"{option} {text}" if text.startswith(f"{value}: ") else f"{option} {value}: {text}"
        raise UsageError(text) from e


def lookup_tables(args: argparse.Namespace) -> tuple[TableSet, str]:
    """One TableSet for looking descriptors up, and where it came from: the
    given directory, the tables of --like FILE's first message, or a master
    version of a definitions tree."""
    from .. import bundle
    from .._native import resolve_table_dir
    from ..tables import TablesNotFound, find_definitions_root

    if args.tables is not None or args.wmo_csv is not None:
        # Those tables are one version already: a version asked for besides would be ignored.
        for option, value in (("--master-version", args.master_version), ("--like", args.like)):
            if value is not None:
                given = "--tables" if args.tables is not None else "--wmo-csv"
                raise UsageError(f"{option} chooses tables from a definitions tree; it cannot go with {given}")
        source = table_source(args)
        assert source.fixed is not None
        return source.fixed, source.origin
    if args.like is not None:
        return _tables_like(args)
    try:
        root = args.definitions or find_definitions_root()
    except TablesNotFound as e:
        if not bundle.available():
            raise UsageError(str(e)) from e
        return bundled_master(args.master_version)
    wmo = f"{root}/bufr/tables/0/wmo"
    version = args.master_version if args.master_version is not None else newest_version(wmo)
    try:
        directory = resolve_table_dir(f"{wmo}/{version}")
        return TableSet.from_eccodes(directory), f"master version {version} ({directory})"
    except ValueError as e:
        raise UsageError(str(e)) from e


def bundled_master(version: int | None) -> tuple[TableSet, str]:
    from .. import bundle

    versions = [int(key.split("/")[2]) for key in bundle.keys() if key.startswith("wmo/0/")]
    version = max(versions) if version is None else version
    if version not in versions:
        raise UsageError(f"no master table version {version} in the tables bundled with skyrec ({bundle.PATH})")
    return bundle.load(f"wmo/0/{version}"), f"master version {version} (tables bundled with skyrec)"


def newest_version(wmo: str) -> int:
    try:
        versions = [int(name) for name in os.listdir(wmo) if name.isdigit()]
    except OSError as e:
        raise UsageError(f"{wmo}: {e.strerror}") from e
    if not versions:
        raise UsageError(f"no master table versions in {wmo}")
    return max(versions)


def _tables_like(args: argparse.Namespace) -> tuple[TableSet, str]:
    from ..reader import read_messages

    first: BufrMessage | None = None
    try:
        for item in read_messages(args.like, output="messages"):
            if item.message is not None:
                first = item.message
                break
    except OSError as e:
        raise UsageError(f"{args.like}: {e.strerror or e}") from e
    if first is None:
        raise UsageError(f"{args.like}: no BUFR message could be framed")
    source = table_source(args)
    try:
        tables = source.for_message(first)
    except (ValueError, OSError) as e:
        raise UsageError(f"{args.like}: the tables of its first message cannot be loaded: {e}") from e
    return tables, (f"the tables of {args.like}'s first message (master version "
                    f"{first.master_tables_version_number}, local version {first.local_tables_version_number}, "
                    f"centre {first.originating_centre}/{first.originating_subcentre}) in {source.origin}")
