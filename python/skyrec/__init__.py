"""skyrec: fast, exact decoding of WMO BUFR edition 4 messages.

Everything of _skyrec, plus reading whole files past bad messages
(read_messages), tables found by themselves (find_tables), values by subset,
NumPy columns (skyrec.columns, needs NumPy), pandas DataFrames
(skyrec.frames and, a block at a time, skyrec.blocks: need pandas) and Dask
DataFrames (skyrec.dask, needs Dask).
"""

from _skyrec import *  # noqa: F401,F403
from _skyrec import __all__ as _core_all

from .reader import Decoded, MessageError, read_messages
from .tables import TableSource, TablesNotFound, find_definitions_root, find_tables

__all__ = list(_core_all) + ["Decoded", "MessageError", "read_messages", "TableSource", "TablesNotFound",
                             "find_definitions_root", "find_tables", "Columns", "read_dataframe",
                             "message_dataframe", "read_headers", "read_block"]

# Imported on first use, so that NumPy and pandas stay optional.
_LAZY = {"Columns": ("columns", "Columns"), "read_dataframe": ("frames", "read_dataframe"),
         "message_dataframe": ("frames", "message_dataframe"), "read_headers": ("blocks", "read_headers"),
         "read_block": ("blocks", "read_block")}


def __getattr__(name: str):
    if name in _LAZY:
        import importlib

        module, attribute = _LAZY[name]
        return getattr(importlib.import_module(f"{__name__}.{module}"), attribute)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
