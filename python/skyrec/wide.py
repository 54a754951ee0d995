"""Compressed messages as wide tables: one row per subset, one column per
element occurrence, the numbers in one 2-D float64 array.

    for wide in skyrec.read_wide("hirs.bufr"):
        wide.values            # subsets x columns, Fortran order
        wide.to_frame()        # columns labelled "#rank#key"

A compressed message holds its data column by column, so its wide table is
made by unpacking each column straight into its place; what describes a
column (descriptor, name, unit, key, rank, scale) is kept once per column.
An uncompressed message has a wide table only when every subset holds the
same descriptors in the same order; otherwise ValueError.
"""

from __future__ import annotations

import os
import warnings
from collections.abc import Iterator
from functools import partial
from typing import Any

from _skyrec import BufrMessage, TableSet

from . import _native
from .cores import thread_count
from .errors import DecodeError, ErrorPolicy, raise_policy
from .filters import Filters
from .reader import Source, failure, read_each
from .sources import Found
from .tables import TableSource, find_tables
from .wide_table import Wide

__all__ = ["Wide", "message_wide", "read_wide", "set_threads"]


def set_threads(count: int | None = None) -> None:
    """Deprecated, and does nothing: every reader takes threads= (None, the
    default, for every core), which goes with that reading only."""
    warnings.warn("set_threads is deprecated: pass threads= to the reader", DeprecationWarning, stacklevel=2)
    thread_count(count)


def message_wide(data: Any, start: int, message: BufrMessage, tables: TableSet, threads: int = 1) -> Wide:
    """The message framed at `start` of `data` as a Wide: a compressed one's
    numbers unpacked with up to `threads` threads, its raw integers and
    meanings laid out from the same walk when first asked for; ValueError
    for an uncompressed one whose subsets differ."""
    if message.compressed_data:
        kept = _native.keep_columns(data, start, message, tables, threads=threads)
        return Wide.from_kept(kept, message, tables)
    return Wide.decoded(data, start, message, tables)


def read_wide(source: Source | list[Any], *, filters: Filters | None = None, errors: ErrorPolicy = "collect",
              tables: TableSet | TableSource | None = None, table_dir: str | os.PathLike[str] | None = None,
              definitions: str | os.PathLike[str] | None = None, wmo_csv: str | os.PathLike[str] | None = None,
              threads: int | None = None) -> Iterator[Wide]:
    """Every message of `source` (the sources and filters read_messages
    takes) as a Wide, in order, each with its `index`, `offset` and `file`.
    A message that cannot be decoded, or that has no wide table
    (uncompressed, its subsets differing), comes as an empty Wide whose
    `error` says why (errors="collect"), or raises its MessageError
    (errors="raise"). Tables are chosen as in read_messages."""
    raising = raise_policy(errors)
    count = thread_count(threads)
    source_tables = find_tables(tables, table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
    return read_each(source, filters, raising, source_tables,
                     partial(_found_wide, tables=source_tables, threads=count), Wide.failed)


def _found_wide(found: Found, index: int, file: str | None, *, tables: TableSource, threads: int) -> Wide:
    """The Wide of one message found, or the empty one of its error."""
    message, offset = found.message, found.offset
    if message is None:
        return Wide.failed(failure(tables, found.error or "", found.kind, index, offset, file))
    try:
        wide = message_wide(found.data, found.start, message, tables.for_message(message), threads)
    except (DecodeError, MemoryError) as e:
        return Wide.failed(tables.decode_failure(message, e, index, offset, file))
    except ValueError as e:
        return Wide.failed(tables.message_error(None, str(e), index, offset, kind="no_wide_table", file=file))
    wide.index, wide.offset, wide.file = index, offset, file
    return wide
