"""skyrec table: one row per observation, columns named by ecCodes keys."""

from __future__ import annotations

import argparse
import math
import sys
from typing import Any

from ..ranks import RankError
from .options import UsageError, add_command, add_format_option, add_table_options, table_source
from .output import Aligned, RecordWriter, column_widths, json_number, number_text
from .session import STDIN, Session
from .where import where_filters

HELP = "print chosen keys of the observations, one row each"
EXAMPLES = """\
examples:
  skyrec table obs.bufr -c WMO_station_id,latitude,longitude,data_datetime,airTemperature
  skyrec table temp*.bufr -c WMO_station_id,pressure,airTemperature --where pressure=50000
  skyrec table temp.bufr -c pressure,airTemperature --where WMO_station_id=51463 --where pressure=10000:50000

Keys are ecCodes' (#n#key for a key's n-th value in its subset, header keys
such as dataCategory, and data_datetime, typical_datetime, WMO_station_id,
WIGOS_station_id). A key found once in a subset is repeated on each of its
rows. --where KEY=VALUE keeps rows where KEY equals VALUE, KEY=LO:HI those
from LO to HI inclusive (either end may be left out). Rows lacking a column's
key are left out.
"""


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "table", HELP, EXAMPLES, run)
    parser.add_argument("files", nargs="+", metavar="FILE", help="BUFR files (- for standard input)")
    parser.add_argument("-c", "--columns", required=True, metavar="KEY,KEY",
                        help="the keys to print, comma-separated")
    parser.add_argument("--where", action="append", default=[], metavar="KEY=VALUE|KEY=LO:HI",
                        help="keep rows whose KEY is VALUE, or from LO to HI; may be repeated")
    add_format_option(parser, "row")
    add_table_options(parser)


def _cell(value: Any) -> Any:
    """A frame's value as a record field: None when missing."""
    if value is None or (isinstance(value, float) and math.isnan(value)):
        return None
    if hasattr(value, "isoformat"):
        return None if str(value) == "NaT" else value.isoformat()
    if isinstance(value, float):
        return json_number(value)
    if hasattr(value, "item"):
        return value.item()
    return value


def _text(value: Any) -> str:
    if value is None:
        return "MISSING"
    return number_text(value) if isinstance(value, float) else str(value)


def _inputs(files: list[str]) -> list[Any]:
    """The files, standard input's bytes for -."""
    return [sys.stdin.buffer.read() if path == STDIN else path for path in files]


def run(args: argparse.Namespace, session: Session) -> int:
    from ..optional import needs

    with needs("skyrec table", "pandas"):  # main() says a missing extra in one line
        from ..observations import read_observations

    columns = [c.strip() for c in args.columns.split(",") if c.strip()]
    if not columns:
        raise UsageError("-c names no keys")
    filters = where_filters(args.where)
    source = table_source(args)
    try:
        frame = read_observations(_inputs(args.files), columns, filters=filters, tables=source)
    except KeyError as e:
        raise UsageError(str(e.args[0])) from e
    except RankError as e:
        raise UsageError(str(e)) from e
    except FileNotFoundError as e:
        raise UsageError(str(e)) from e
    for path, error in zip(frame.attrs["error_files"], frame.attrs["errors"]):
        session.fail(f"{path}: {error}")
    records = [{c: _cell(v) for c, v in zip(columns, row)} for row in frame.itertuples(index=False, name=None)]
    if args.format != "text":
        RecordWriter(session.out, args.format, columns).write(*records)
        return session.status
    rows = [columns] + [[_text(record[c]) for c in columns] for record in records]
    aligned = Aligned(column_widths(rows))
    session.out.writelines(aligned.line(row).rstrip() + "\n" for row in rows)
    return session.status
