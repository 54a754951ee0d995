"""skyrec: fast, exact decoding of WMO BUFR messages of editions 2, 3 and 4.

One reader per shape, each taking the same sources, filters=, errors=,
threads= and table keywords: read_messages (an iterator of messages),
read_dataframe (one row per value), read_observations (one row per
observation), read_wide (a table per compressed message), read_headers
(nothing decoded) and, for archives, skyrec.dask.read_bufr and
skyrec.dask.read_observations. Tables are found by themselves (find_tables).
Conversions to Parquet, Arrow, GeoJSON, NetCDF and CSV (convert,
skyrec.formats), pictures (skyrec.plot), and tables written as BUFR
reports (from_dataframe, report_template).

The names of _skyrec are here too, for compatibility: they read edition 4
only, where the readers above read every edition.
"""

import importlib as _importlib
import typing as _typing
import warnings as _warnings

import _skyrec
from _skyrec import *  # noqa: F403

from . import pickling as _pickling  # noqa: F401  (registers _skyrec's classes with copyreg)

# Built with += so that type checkers follow it too.
__all__ = []
__all__ += _skyrec.__all__
__all__ += ["DecodeError", "Decoded", "MessageError", "read_messages", "TableSource", "TablesNotFound",
            "find_definitions_root", "find_tables", "Columns", "read_dataframe",
            "read_headers", "read_observations", "Wide", "read_wide", "encode",
            "EncodeError", "wide_from_array", "template", "write_bufr", "compare",
            "from_dataframe", "report_template", "InvalidFrame",
            "convert", "to_geojson", "to_xarray", "values_table", "observations_table", "headers_table"]

# Imported on first use, so that NumPy and pandas stay optional and a command
# line imports only what its command needs.
_LAZY = {"DecodeError": ("errors", "DecodeError"), "MessageError": ("errors", "MessageError"),
         "Decoded": ("reader", "Decoded"), "read_messages": ("reader", "read_messages"),
         **{name: ("tables", name) for name in ("TablesNotFound", "TableSource", "find_definitions_root",
                                                 "find_tables")},
         "Columns": ("columns", "Columns"), "read_dataframe": ("frames", "read_dataframe"),
         "read_headers": ("header_frames", "read_headers"),
         "read_observations": ("observations", "read_observations"), "Wide": ("wide", "Wide"),
         "read_wide": ("wide", "read_wide"),
         "encode": ("encoding", "encode"), "EncodeError": ("encoding", "EncodeError"),
         "wide_from_array": ("encoding", "wide_from_array"), "template": ("templates", "template"),
         "write_bufr": ("write", "write_bufr"), "compare": ("comparing", "compare"),
         "from_dataframe": ("from_frame", "from_dataframe"),
         "report_template": ("report_templates", "report_template"), "InvalidFrame": ("frame_mapping", "InvalidFrame"),
         **{name: ("formats", name) for name in ("convert", "to_geojson", "to_xarray", "values_table",
                                                  "observations_table", "headers_table")}}
# Names that left the top level, still found here for a release, with the reader that replaces each.
_MOVED = {"read_block": ("blocks", "read_dataframe(..., columns=...)"),
          "message_dataframe": ("frames", "read_dataframe or Columns"),
          "set_threads": ("wide", "the readers' threads= argument")}


if _typing.TYPE_CHECKING:  # what __getattr__ gives, for type checkers
    from .columns import Columns
    from .comparing import compare
    from .encoding import EncodeError, encode, wide_from_array
    from .errors import DecodeError, MessageError
    from .formats import convert, headers_table, observations_table, to_geojson, to_xarray, values_table
    from .frame_mapping import InvalidFrame
    from .frames import read_dataframe
    from .from_frame import from_dataframe
    from .header_frames import read_headers
    from .observations import read_observations
    from .reader import Decoded, read_messages
    from .report_templates import report_template
    from .tables import TablesNotFound, TableSource, find_definitions_root, find_tables
    from .templates import template
    from .wide import Wide, read_wide
    from .write import write_bufr


def __getattr__(name: str) -> _typing.Any:
    if name in _LAZY:
        module, attribute = _LAZY[name]
        return getattr(_importlib.import_module(f"{__name__}.{module}"), attribute)
    if name in _MOVED:
        module, instead = _MOVED[name]
        _warnings.warn(f"skyrec.{name} is deprecated: use {instead} (or skyrec.{module}.{name})",
                       DeprecationWarning, stacklevel=2)
        return getattr(_importlib.import_module(f"{__name__}.{module}"), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_LAZY))
