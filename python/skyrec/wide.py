"""Compressed messages as wide tables: one row per subset, one column per
element occurrence, the numbers in one 2-D float64 array.

    for wide in skyrec.read_wide("hirs.bufr"):
        wide.values            # subsets x columns, Fortran order
        wide.to_frame()        # columns labelled "#rank#key"

A compressed message holds its data column by column, so its wide table is
made by unpacking each column straight into its place; what describes a
column (descriptor, name, unit, key, rank, scale) is kept once per column.
An uncompressed message has a wide table only when every subset holds the
same descriptors in the same order (Columns.wide); otherwise ValueError.
"""

from __future__ import annotations

import os
from collections.abc import Iterator
from typing import Any

from _skyrec import BufrMessage, TableSet

from . import _native
from .columns import Columns, columns_wide
from .errors import DecodeError, MessageError, NoMessages
from .long_columns import decoded_wide, held
from .reader import NO_MEMORY, Source, found_messages
from .sources import check_bytes_source
from .tables import find_tables, message_key
from .wide_table import Wide

__all__ = ["Wide", "columns_wide", "message_wide", "read_wide", "set_threads", "threads"]


def set_threads(count: int | None = None) -> None:
    """The threads that unpack the columns of a large compressed message:
    `count`, or os.cpu_count() when None. Small messages take one."""
    _native.set_wide_threads(count if count is not None else os.cpu_count() or 1)


def threads() -> int:
    return int(_native.wide_threads())


set_threads()


def message_wide(data: Any, start: int, message: BufrMessage, tables: TableSet) -> Wide:
    """The compressed message framed at `start` of `data` as a Wide; its raw
    integers and meanings are decoded again when first asked for."""
    return decoded_wide(_native.decode_wide(data, start, message, tables), *held(data, start, message), message, tables)


def read_wide(source: Source, **table_source: Any) -> Iterator[Wide]:
    """Every message of `source` as a Wide, in order. A message that cannot
    be decoded, or that has no wide table (uncompressed, its subsets
    differing), raises MessageError. Keyword arguments choose the tables as
    in read_messages."""
    check_bytes_source(source)
    tables = find_tables(table_source.pop("tables", None), **table_source)
    with found_messages(source) as messages:
        index = -1
        for index, found in enumerate(messages):
            offset = found.offset
            if found.error is not None:
                raise MessageError(found.error, index, offset)
            message = found.message
            assert message is not None
            try:
                table_set = tables.for_message(message)
                if message.compressed_data:
                    yield message_wide(found.data, found.start, message, table_set)
                    continue
                columns = Columns.from_native(_native.decode_columns(found.data, found.start, message, table_set))
                wide = columns_wide(columns)
            except DecodeError as e:
                raise MessageError(tables.explain(message_key(message), e.reason), index, offset, e.where) from None
            except MemoryError:
                raise MessageError(NO_MEMORY, index, offset) from None
            except ValueError as e:
                raise MessageError(str(e), index, offset) from None
            yield wide
    if index < 0:  # this reading raises its errors: no message is one
        raise NoMessages()
