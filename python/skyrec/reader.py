"""Reading every message of a file or buffer, past the bad ones.

    for item in read_messages("obs.bufr"):      # or a directory, a glob, a list, bytes, a stream
        if item.error:
            print(item.offset, item.error)     # the others still come
            continue
        for subset in item.subsets:
            ...

A file, pipe or stream is read a window at a time (see skyrec.sources):
nothing but the current message and its values is held, beyond what the
caller keeps.
"""

from __future__ import annotations

import dataclasses
import mmap
import os
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from functools import partial
from typing import TYPE_CHECKING, Any, BinaryIO, Literal, Protocol, Self, TypeVar

from _skyrec import BufrMessage, DecodedValue, TableSet

from . import _native
from .cores import thread_count
from .errors import NO_MESSAGES, DecodeError, ErrorPolicy, MessageError, message_error, raise_policy
from .filters import Filters, check_filters, message_passes
from .gts import Gts, Headed, headed
from .paths import check_one, expand_sources, is_many
from .sources import BUFFER_TYPES as BUFFER_TYPES
from .sources import Found, check_bytes_source
from .sources import found_messages as found_messages
from .tables import TableSource, find_tables

if TYPE_CHECKING:
    from .columns import Columns

OUTPUTS = ("values", "columns", "messages")
# What read_messages reads: a path, or the bytes themselves.
Source = str | os.PathLike[str] | bytes | bytearray | memoryview | mmap.mmap | BinaryIO
Output = Literal["values", "columns", "messages"]


class _Read(Protocol):
    @property
    def error(self) -> MessageError | None: ...

    def with_gts(self, gts: Gts) -> Self: ...


Item = TypeVar("Item", bound=_Read)
# What a reader makes of (a message found, its index, its file).
Decode = Callable[[Found, int, str | None], Item]


@dataclass(frozen=True, slots=True)
class Decoded(Headed):
    """One message of a reading: where it is, its header, and its values
    (`values` or `columns`, as asked) or the error that stopped it."""

    index: int  # among the messages found, bad ones included
    offset: int  # of its "BUFR" marker in the file or buffer
    length: int  # bytes it spans (as declared, or what was left of the input)
    message: BufrMessage | None = None  # None when the message could not be framed
    values: list[DecodedValue] | None = None  # subset after subset
    columns: Columns | None = None
    subset_starts: tuple[int, ...] = ()  # index of each subset's first value
    error: MessageError | None = None
    data: bytes | None = None  # the message's own bytes, for skyrec.encode
    table_set: TableSet | None = None  # the tables it was decoded with
    file: str | None = None  # the file it is of, when the source names several
    gts: Gts | None = None  # the GTS bulletin heading before it, if any

    @property
    def ok(self) -> bool:
        return self.error is None

    def with_gts(self, gts: Gts) -> Decoded:
        """The same message, read with the bulletin heading `gts` before it."""
        return dataclasses.replace(self, gts=gts)

    @property
    def subsets(self) -> list[Any]:
        """The values of each subset in order: lists of DecodedValue, or
        Columns when columns were asked for."""
        if self.columns is not None:
            return self.columns.subsets()
        if self.values is None:
            return []
        ends = self.subset_starts[1:] + (len(self.values),)
        return [self.values[start:end] for start, end in zip(self.subset_starts, ends)]

    def _repr_html_(self) -> str:
        from .html import decoded_html

        return decoded_html(self)


def read_messages(source: Source | list[Any], *, tables: TableSet | TableSource | None = None,
                  table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
                  wmo_csv: str | os.PathLike[str] | None = None, filters: Filters | None = None,
                  errors: ErrorPolicy = "collect", output: Output = "values", threads: int | None = None,
                  strict: bool | None = None) -> Iterator[Decoded]:
    """Every message of `source` (a path, a directory, a glob, a list of
    them, bytes-like data or a binary stream such as sys.stdin.buffer), in
    order, as Decoded records. With errors="collect" a message that fails
    comes back with its error and the reading goes on; with errors="raise"
    its MessageError is raised instead (strict=True is the older spelling).
    `filters` picks messages by their header keys (see skyrec.filters);
    the others are neither decoded nor given.

    output: "values" (lists of DecodedValue), "columns" (NumPy Columns) or
    "messages" (headers only, no tables needed). Tables come from find_tables
    with the given source, and are looked for before the first message is
    read: TablesNotFound is raised by this call. `threads`: see skyrec.cores."""
    if output not in OUTPUTS:
        raise ValueError(f"output must be one of {', '.join(OUTPUTS)}, not {output!r}")
    raising = raise_policy(errors, strict)
    count = thread_count(threads)
    source_tables = None
    if output != "messages":
        source_tables = find_tables(tables, table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
    return read_each(source, filters, raising, source_tables,
                     partial(_decode, tables=source_tables, output=output, threads=count), _failed)


def read_each(source: Any, filters: Filters | None, raising: bool, tables: TableSource | None,
              decode: Decode[Item], failed: Callable[[MessageError], Item]) -> Iterator[Item]:
    """What `decode(found, index, file)` makes of each message of `source`
    that passes `filters`; `failed(error)` for input without any message.
    The sources are checked by this call, the messages read as asked."""
    picked = check_filters(filters)
    many = is_many(source)
    if not many:
        check_one(source)
    items = expand_sources(source) if many else [source]
    for item in items:
        check_bytes_source(item)
    return _read_all(items, many, raising, picked, tables, decode, failed)


def _read_all(items: list[Any], many: bool, raising: bool, filters: Filters, tables: TableSource | None,
              decode: Decode[Item], failed: Callable[[MessageError], Item]) -> Iterator[Item]:
    for source in items:
        file = os.fspath(source) if many and isinstance(source, (str, os.PathLike)) else None
        with found_messages(source) as messages:
            index = -1
            for index, (found, gts) in enumerate(headed(messages)):
                # Filters judge headers: a message that cannot be framed is still said.
                if filters and found.message is not None and not message_passes(found.message, filters):
                    continue
                made = decode(found, index, file)
                if gts is not None:
                    made = made.with_gts(gts)
                if raising and made.error is not None:
                    raise made.error
                yield made
        if index < 0:  # not one "BUFR": say so rather than give nothing
            error = failure(tables, NO_MESSAGES, "no_messages", 0, 0, file)
            if raising:
                raise error
            yield failed(error)


def failure(tables: TableSource | None, reason: str, kind: str | None, index: int, offset: int,
            file: str | None) -> MessageError:
    """The MessageError of a message that could not be framed (or of input
    without any), naming the reading's tables when it has some."""
    if tables is None:
        return message_error(reason, index, offset, kind=kind, file=file)
    return tables.message_error(None, reason, index, offset, kind=kind, file=file)


def _failed(error: MessageError) -> Decoded:
    return Decoded(error.index, error.offset, 0, error=error, file=error.file)


def _decode(found: Found, index: int, file: str | None, *, tables: TableSource | None, output: str,
            threads: int) -> Decoded:
    data, start, message, error = found.data, found.start, found.message, found.error
    offset, length = found.offset, found.length
    if error is not None:
        return Decoded(index, offset, length, error=failure(tables, error, found.kind, index, offset, file), file=file)
    assert message is not None  # framed when there is no error
    if output == "messages":
        return Decoded(index, offset, length, message=message, file=file)
    assert tables is not None
    try:
        table_set = tables.for_message(message)
        own = bytes(memoryview(data)[start:start + message.total_length])
        if output == "values":
            values, starts = _native.decode_subsets(data, start, message, table_set)
            return Decoded(index, offset, length, message=message, values=values, subset_starts=tuple(starts),
                           data=own, table_set=table_set, file=file)
        from .columns import message_columns

        columns = message_columns(own, 0, message, table_set, threads)
        return Decoded(index, offset, length, message=message, columns=columns,
                       subset_starts=tuple(columns.subset_starts.tolist()), data=own, table_set=table_set, file=file)
    except (DecodeError, MemoryError) as e:
        return Decoded(index, offset, length, message=message, error=tables.decode_failure(message, e, index, offset,
                                                                                            file), file=file)
