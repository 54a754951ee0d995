"""pandas DataFrames of decoded values, one row per value, made from Columns.

pandas is optional: `pip install 'skyrec[pandas]'`.
"""

from __future__ import annotations

import os
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any

from _skyrec import TableSet

from .blocks import VALUE_COLUMNS, heading_columns, read_values
from .column_kinds import pandas_column
from .columns import FRAME_COLUMNS, Columns, columns_frame
from .errors import ErrorPolicy, collected, error_files, raise_policy
from .filters import Filters
from .gts import FIELDS as GTS_FIELDS
from .gts import Gts
from .header_frames import Filter
from .optional import pandas
from .paths import is_many
from .reader import Source, read_messages
from .tables import TableSource

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["FRAME_COLUMNS", "columns_frame", "message_dataframe", "read_by_message", "read_dataframe"]


def message_dataframe(columns: Columns, message_index: int = 0) -> pd.DataFrame:
    """One message's values as a DataFrame."""
    if not isinstance(columns, Columns):
        raise TypeError(f"columns must be the Columns of a message, not {type(columns).__name__}")
    return columns_frame([(message_index, columns)])


def read_dataframe(source: Source | list[Any], *, columns: Iterable[str] | None = None,
                   offsets: Iterable[int] | None = None, indices: Iterable[int] | None = None, start: int = 0,
                   end: int | None = None, first_index: int = 0, filters: Filters | None = None,
                   errors: ErrorPolicy = "collect", tables: TableSet | TableSource | None = None,
                   table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
                   wmo_csv: str | os.PathLike[str] | None = None, memory_limit: int | None = None,
                   threads: int | None = None, strict: bool | None = None, filter: Filter = None) -> pd.DataFrame:
    """Every message of `source` (a path, a directory, a glob, a list of
    them, bytes-like data or a binary stream) in one DataFrame, one row per
    value: file (when the source names several), message, subset,
    descriptor, name, unit, value, raw, text, meaning, key, rank, and the
    fields of the GTS heading before its message (gts_ttaaii, gts_cccc,
    gts_yygggg, gts_bbb: categoricals, missing where there is none); and
    offset, where its message starts, when `columns` asks for it.

    columns: a name or several of those: the others are never made, which
    spares most of the time and memory of a frame of numbers alone.
    offsets (with their message `indices`) picks exact messages of one file;
    start and end the messages whose "BUFR" lies in [start, end) (start where
    a message starts, `message` counted from first_index there).
    filters: messages picked by header keys (see skyrec.filters).
    errors="collect" leaves out the messages that fail and lists them, as
    MessageError objects, in frame.attrs["errors"]; errors="raise" raises the
    first (strict=True is the older spelling). memory_limit bounds the bytes
    of the values' columns (4 GiB when None): a message that would pass it is
    one of the errors. Tables: tables=, table_dir=, definitions= or
    wmo_csv=, or found (see find_tables). threads: see skyrec.cores."""
    raising = raise_policy(errors, strict)
    if columns is None:
        columns = [name for name in VALUE_COLUMNS if name != "offset" and (name != "file" or is_many(source))]
    # The whole file as one block: framed, decoded and laid out with the
    # lock released, each value written once.
    frame, found, _ = read_values(source, tables=tables, table_dir=table_dir, definitions=definitions,
                                  wmo_csv=wmo_csv, start=start, end=end, first_index=first_index, offsets=offsets,
                                  indices=indices, filters=filters, filter=filter, columns=columns,
                                  memory_limit=memory_limit, threads=threads)
    frame.attrs["errors"] = collected(found, raising)
    frame.attrs["error_files"] = error_files(found)  # the older form: MessageError.file says it now
    return frame


def read_by_message(source: Source, *, errors: ErrorPolicy = "collect", **table_source: Any) -> pd.DataFrame:
    """read_dataframe's frame made message by message: each message's
    columns, joined, and its heading's fields. The reading that decoding a
    file as one block agrees with."""
    parts: list[tuple[int, Columns]] = []
    headings: list[Gts | None] = []
    found = []
    for item in read_messages(source, errors=errors, output="columns", **table_source):
        if item.error is not None:
            found.append(item.error)
        elif item.columns is not None:
            parts.append((item.index, item.columns))
            headings.append(item.gts)
    frame = columns_frame(parts)
    fields = {name: [None if gts is None else gts.fields()[name] for gts in headings] for name in GTS_FIELDS}
    for name, column in heading_columns(fields, [len(columns) for _, columns in parts]).items():
        frame[name] = pandas_column(pandas(), column)
    frame.attrs["errors"] = found
    return frame
