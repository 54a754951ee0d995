"""skyrec convert: BUFR files to Parquet, Arrow, GeoJSON, NetCDF or CSV."""

from __future__ import annotations

import argparse
import warnings
from collections.abc import Iterator
from contextlib import contextmanager

from ..format_names import FORMATS
from .options import UsageError, add_command, add_table_options, table_source
from .session import Session
from .stdout import OutputError
from .where import where_filters

HELP = "write BUFR files as Parquet, Arrow, GeoJSON, NetCDF or CSV"
EXAMPLES = """\
examples:
  skyrec convert obs/*.bufr --to parquet -o values.parquet          # every value, one row each
  skyrec convert obs/*.bufr --to parquet --partition -o archive     # archive/category=0/date=2024-01-02/...
  skyrec convert synop*.bufr --to arrow -c WMO_station_id,data_datetime,airTemperature -o obs.arrow
  skyrec convert synop.bufr --to geojson -o synop.geojson          # a Feature per observed value
  skyrec convert mhs.bufr --to netcdf -o mhs.nc                    # subsets; soundings as profiles
  skyrec convert obs.bufr --to csv --headers -o headers.csv

Without -c or --headers every value is a row: read_block's columns with each
message's file, category and date. -c KEY,... writes one row per observation
(as 'skyrec table' prints them; --where as there). Messages that cannot be
read are reported on stderr (exit status 1) and listed in the output: in
Arrow and Parquet schema metadata (skyrec.errors), in a dataset's
_errors.json. Arrow and Parquet need 'skyrec[arrow]', NetCDF 'skyrec[netcdf]'.
"""


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "convert", HELP, EXAMPLES, run)
    parser.add_argument("files", nargs="+", metavar="FILE", help="BUFR files (globs are expanded)")
    parser.add_argument("--to", required=True, choices=FORMATS, help="the output format")
    parser.add_argument("-o", "--output", required=True, metavar="OUT",
                        help="the file (or dataset directory); - for standard output (CSV and GeoJSON)")
    what = parser.add_mutually_exclusive_group()
    what.add_argument("-c", "--columns", metavar="KEY,KEY", help="one row per observation, these keys")
    what.add_argument("--headers", action="store_true", help="one row per message, from its header")
    parser.add_argument("--where", action="append", default=[], metavar="KEY=VALUE|KEY=LO:HI",
                        help="with -c: keep rows whose KEY is VALUE, or from LO to HI; may be repeated")
    parser.add_argument("--partition", action="store_true",
                        help="Parquet as a dataset directory split by category and date (hive style)")
    parser.add_argument("--kind", choices=("auto", "subsets", "profiles"), default="auto",
                        help="NetCDF: a subset dimension per layout, or soundings as (station, level) profiles; "
                        "auto takes profiles when every message is an upper-air sounding")
    add_table_options(parser)


def run(args: argparse.Namespace, session: Session) -> int:
    from ..formats import convert

    columns = None
    if args.columns is not None:
        columns = [c.strip() for c in args.columns.split(",") if c.strip()]
        if not columns:
            raise UsageError("-c names no keys")
    elif args.where:
        raise UsageError("--where chooses observation rows: it needs -c")
    filters = where_filters(args.where)
    with usage_errors(args.output, session):
        out = session.out if args.output == "-" else args.output
        done = convert(args.files, out, args.to, columns=columns, filters=filters or None,
                       headers=args.headers, partition=args.partition, kind=args.kind, tables=table_source(args))
    for error in done.errors:
        where = f"message {error['message']} at offset {error['offset']}: " if error["message"] >= 0 else ""
        session.fail(f"{error['file']}: {where}{error['error']}")
    if args.output != "-" and done.written:
        print(f"{done.rows} {'features' if args.to == 'geojson' else 'rows'} written to {done.out}", file=session.err)
    return session.status


@contextmanager
def usage_errors(output: str, session: Session) -> Iterator[None]:
    """What stops a conversion or a picture as a usage error naming the file;
    the messages left out, warned of, as failures."""
    from ..formats.extras import LeftOut  # the commands that convert nothing need no NumPy

    try:
        with warnings.catch_warnings(record=True) as warned:
            warnings.simplefilter("always", LeftOut)
            yield
        for warning in warned:
            if issubclass(warning.category, LeftOut):
                session.fail(str(warning.message))
    except (ImportError, ValueError, KeyError) as e:
        raise UsageError(str(e.args[0]) if isinstance(e, KeyError) else str(e)) from e
    except (BrokenPipeError, OutputError):
        raise  # standard output's troubles, which main() tells apart
    except OSError as e:  # a file named, or pyarrow's own text
        raise UsageError(f"{e.filename}: {e.strerror}" if e.filename else str(e)) from e
