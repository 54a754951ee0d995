"""skyrec: fast, exact decoding of WMO BUFR messages of editions 2, 3 and 4.

Everything of _skyrec (which reads edition 4 only), plus reading whole files
of any of the three editions past bad messages
(read_messages), tables found by themselves (find_tables), values by subset,
NumPy columns (skyrec.columns, needs NumPy), pandas DataFrames
(skyrec.frames and, a block at a time, skyrec.blocks: need pandas), compressed
messages as wide tables (skyrec.wide), Dask
DataFrames (skyrec.dask, needs Dask), conversions to Parquet, Arrow, GeoJSON,
NetCDF and CSV (convert, skyrec.formats), pictures (skyrec.plot), and
tables written as BUFR reports (from_dataframe, report_template).
"""

import importlib as _importlib
import typing as _typing

import _skyrec
from _skyrec import *  # noqa: F403

from . import pickling as _pickling  # noqa: F401  (registers _skyrec's classes with copyreg)
from .errors import DecodeError, MessageError
from .reader import Decoded, read_messages
from .tables import TablesNotFound, TableSource, find_definitions_root, find_tables

# Built with += so that type checkers follow it too.
__all__ = []
__all__ += _skyrec.__all__
__all__ += ["DecodeError", "Decoded", "MessageError", "read_messages", "TableSource", "TablesNotFound",
            "find_definitions_root", "find_tables", "Columns", "read_dataframe", "message_dataframe",
            "read_headers", "read_block", "read_observations", "Wide", "read_wide", "set_threads", "encode",
            "EncodeError", "wide_from_array", "template", "write_bufr", "compare",
            "from_dataframe", "report_template", "InvalidFrame",
            "convert", "to_geojson", "to_xarray", "values_table", "observations_table", "headers_table"]

# Imported on first use, so that NumPy and pandas stay optional.
_LAZY = {"Columns": ("columns", "Columns"), "read_dataframe": ("frames", "read_dataframe"),
         "message_dataframe": ("frames", "message_dataframe"), "read_headers": ("blocks", "read_headers"),
         "read_block": ("blocks", "read_block"),
         "read_observations": ("observations", "read_observations"), "Wide": ("wide", "Wide"),
         "read_wide": ("wide", "read_wide"), "set_threads": ("wide", "set_threads"),
         "encode": ("encoding", "encode"), "EncodeError": ("encoding", "EncodeError"),
         "wide_from_array": ("encoding", "wide_from_array"), "template": ("templates", "template"),
         "write_bufr": ("write", "write_bufr"), "compare": ("comparing", "compare"),
         "from_dataframe": ("from_frame", "from_dataframe"),
         "report_template": ("report_templates", "report_template"), "InvalidFrame": ("frame_mapping", "InvalidFrame"),
         **{name: ("formats", name) for name in ("convert", "to_geojson", "to_xarray", "values_table",
                                                  "observations_table", "headers_table")}}


if _typing.TYPE_CHECKING:  # what __getattr__ gives, for type checkers
    from .blocks import read_block, read_headers
    from .columns import Columns
    from .comparing import compare
    from .encoding import EncodeError, encode, wide_from_array
    from .formats import convert, headers_table, observations_table, to_geojson, to_xarray, values_table
    from .frame_mapping import InvalidFrame
    from .frames import message_dataframe, read_dataframe
    from .from_frame import from_dataframe
    from .observations import read_observations
    from .report_templates import report_template
    from .templates import template
    from .wide import Wide, read_wide, set_threads
    from .write import write_bufr


def __getattr__(name: str) -> _typing.Any:
    if name in _LAZY:
        module, attribute = _LAZY[name]
        return getattr(_importlib.import_module(f"{__name__}.{module}"), attribute)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_LAZY))
