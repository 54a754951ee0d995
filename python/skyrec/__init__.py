"""skyrec: fast, exact decoding of WMO BUFR messages of editions 2, 3 and 4.

Everything of _skyrec (which reads edition 4 only), plus reading whole files
of any of the three editions past bad messages
(read_messages), tables found by themselves (find_tables), values by subset,
NumPy columns (skyrec.columns, needs NumPy), pandas DataFrames
(skyrec.frames and, a block at a time, skyrec.blocks: need pandas) and Dask
DataFrames (skyrec.dask, needs Dask).
"""

from typing import TYPE_CHECKING, Any

import _skyrec
from _skyrec import *  # noqa: F401,F403

from .reader import Decoded, MessageError, read_messages
from .tables import TableSource, TablesNotFound, find_definitions_root, find_tables

# Built with += so that type checkers follow it too.
__all__ = []
__all__ += _skyrec.__all__
__all__ += ["Decoded", "MessageError", "read_messages", "TableSource", "TablesNotFound", "find_definitions_root",
            "find_tables", "Columns", "read_dataframe", "message_dataframe", "read_headers", "read_block",
            "read_observations"]

# Imported on first use, so that NumPy and pandas stay optional.
_LAZY = {"Columns": ("columns", "Columns"), "read_dataframe": ("frames", "read_dataframe"),
         "message_dataframe": ("frames", "message_dataframe"), "read_headers": ("blocks", "read_headers"),
         "read_block": ("blocks", "read_block"),
         "read_observations": ("observations", "read_observations")}


if TYPE_CHECKING:  # what __getattr__ gives, for type checkers
    from .columns import Columns
    from .frames import message_dataframe, read_dataframe
    from .observations import read_observations


def __getattr__(name: str) -> Any:
    if name in _LAZY:
        import importlib

        module, attribute = _LAZY[name]
        return getattr(importlib.import_module(f"{__name__}.{module}"), attribute)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
