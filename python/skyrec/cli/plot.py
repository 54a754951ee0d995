"""skyrec plot: a station map, a sounding's skew-T diagram or a satellite swath, as a PNG."""

from __future__ import annotations

import argparse

from .convert import usage_errors
from .options import UsageError, add_command, add_table_options, table_source
from .session import Session
from .where import where_filters

HELP = "draw a station map, a sounding or a satellite swath into a picture"
EXAMPLES = """\
examples:
  skyrec plot synop/*.bufr --map airTemperature -o stations.png
  skyrec plot temp.bufr --profile --station 51463 -o sounding.png
  skyrec plot mhs.bufr --swath brightnessTemperature \\
      --where tovsOrAtovsOrAvhrrInstrumentationChannelNumber=3 -o swath.png

--map KEY colours each observation's position by KEY; --profile draws one
launch (of --station, else the one with the most levels) on a skew-T log-p
diagram with wind barbs; --swath KEY draws KEY at each field of view
(#n#KEY, or --where on the channel, picks one channel). The picture's format
follows OUT's suffix (.png, .svg, .pdf). Needs 'skyrec[plot]'.
"""


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "plot", HELP, EXAMPLES, run)
    parser.add_argument("files", nargs="+", metavar="FILE", help="BUFR files (globs are expanded)")
    kind = parser.add_mutually_exclusive_group(required=True)
    kind.add_argument("--map", metavar="KEY", help="a station map coloured by KEY")
    kind.add_argument("--profile", action="store_true", help="a sounding on a skew-T log-p diagram")
    kind.add_argument("--swath", metavar="KEY", help="a satellite swath of KEY")
    parser.add_argument("--station", type=int, metavar="N", help="with --profile: the WMO station number")
    parser.add_argument("--where", action="append", default=[], metavar="KEY=VALUE|KEY=LO:HI",
                        help="with --map or --swath: keep observations whose KEY is VALUE, or from LO to HI")
    parser.add_argument("-o", "--output", required=True, metavar="OUT", help="the picture file")
    parser.add_argument("--dpi", type=int, default=100, help="dots per inch (default 100)")
    add_table_options(parser)


def run(args: argparse.Namespace, session: Session) -> int:
    if args.station is not None and not args.profile:
        raise UsageError("--station chooses a sounding: it goes with --profile")
    if args.where and args.profile:
        raise UsageError("--where goes with --map or --swath; a sounding is chosen with --station")
    filters = where_filters(args.where) or None
    with usage_errors(args.output, session):
        from .. import plot

        tables = table_source(args)
        if args.profile:
            figure = plot.skewt(args.files, station=args.station, tables=tables)
        elif args.map is not None:
            figure = plot.station_map(args.files, args.map, filters=filters, tables=tables)
        else:
            figure = plot.swath(args.files, args.swath, filters=filters, tables=tables)
        figure.savefig(args.output, dpi=args.dpi)
    print(f"picture written to {args.output}", file=session.err)
    return session.status
