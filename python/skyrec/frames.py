"""pandas DataFrames of decoded values, one row per value, made from Columns.

pandas is optional: `pip install 'skyrec[pandas]'`.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from .blocks import read_block
from .columns import FRAME_COLUMNS, Columns, columns_frame
from .errors import message_error
from .reader import Source, read_messages

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["FRAME_COLUMNS", "columns_frame", "message_dataframe", "read_by_message", "read_dataframe"]


def message_dataframe(columns: Columns, message_index: int = 0) -> pd.DataFrame:
    """One message's values as a DataFrame."""
    if not isinstance(columns, Columns):
        raise TypeError(f"columns must be the Columns of a message, not {type(columns).__name__}")
    return columns_frame([(message_index, columns)])


def read_dataframe(source: Source, *, strict: bool = False, **table_source: Any) -> pd.DataFrame:
    """Every message of `source` in one DataFrame. Messages that fail are
    left out and listed, as MessageError objects, in frame.attrs["errors"]
    (with strict=True the first one is raised). Keyword arguments choose the
    tables as in read_messages."""
    if not strict:
        # The whole file as one block: framed, decoded and laid out with the
        # lock released, each value written once.
        values, failed = read_block(source, **table_source)
        frame = values.drop(columns="offset")
        frame.attrs["errors"] = [message_error(reason, int(index), int(offset), where) for index, offset, reason, where
                                 in failed[["message", "offset", "error", "where"]].itertuples(index=False,
                                                                                              name=None)]
        if "file" in failed:  # a directory, a glob or a list: which file each error is of
            frame.attrs["error_files"] = failed["file"].astype(str).tolist()
        return frame
    return read_by_message(source, strict=True, **table_source)


def read_by_message(source: Source, *, strict: bool = False, **table_source: Any) -> pd.DataFrame:
    """read_dataframe's frame made message by message: each message's
    columns, joined. The reading that decoding a file as one block agrees with."""
    parts: list[tuple[int, Columns]] = []
    errors = []
    for item in read_messages(source, strict=strict, output="columns", **table_source):
        if item.error is not None:
            errors.append(item.error)
        elif item.columns is not None:
            parts.append((item.index, item.columns))
    frame = columns_frame(parts)
    frame.attrs["errors"] = errors
    return frame
