"""Reading every message of a file or buffer, past the bad ones.

    for item in read_messages("obs.bufr"):
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
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, BinaryIO, Literal

from _skyrec import BufrMessage, DecodedValue, TableSet

from . import _native
from .errors import DecodeError, MessageError, NoMessages
from .gts import Gts, headed
from .sources import Found, check_bytes_source, is_stream, path_of, stream_messages
from .tables import TableSource, find_tables, message_key

if TYPE_CHECKING:
    from .columns import Columns

OUTPUTS = ("values", "columns", "messages")
BUFFER_TYPES = (bytes, bytearray, memoryview, mmap.mmap)
# What read_messages reads: a path, or the bytes themselves.
Source = str | os.PathLike[str] | bytes | bytearray | memoryview | mmap.mmap | BinaryIO
Output = Literal["values", "columns", "messages"]


@dataclass(frozen=True, slots=True)
class Decoded:
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
    gts: Gts | None = None  # the GTS bulletin heading before it, if any

    gts_ttaaii = property(lambda self: self.gts and self.gts.ttaaii)
    gts_cccc = property(lambda self: self.gts and self.gts.cccc)
    gts_yygggg = property(lambda self: self.gts and self.gts.yygggg)
    gts_bbb = property(lambda self: self.gts and self.gts.bbb)

    @property
    def ok(self) -> bool:
        return self.error is None

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


def _found_in(data: Any) -> Iterator[Found]:
    position = 0
    while (found := _native.next_message(data, position)) is not None:
        start, length, position, message, error = found
        yield Found(data, start, start, length, message, error)


@contextmanager
def found_messages(source: Source) -> Iterator[Iterator[Found]]:
    """The messages of `source`: a buffer as it is, a path or a binary
    stream read a window at a time."""
    if isinstance(source, BUFFER_TYPES):
        yield _found_in(source)
        return
    if is_stream(source):
        yield stream_messages(source)  # type: ignore[arg-type]
        return
    if not isinstance(source, (str, os.PathLike)):
        raise TypeError("source must be a path or a bytes-like object (or a binary stream), "
                        f"not {type(source).__name__}")
    with open(path_of(source), "rb") as f:
        yield stream_messages(f)


NO_MEMORY = "not enough memory to decode the message"


def read_messages(source: Source, *, tables: TableSet | TableSource | None = None,
                  table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
                  wmo_csv: str | os.PathLike[str] | None = None, strict: bool = False,
                  output: Output = "values") -> Iterator[Decoded]:
    """Every message of `source` (a path, a binary stream such as
    sys.stdin.buffer, or bytes-like), in order, as
    Decoded records. A message that fails comes back with its error and the
    reading goes on; with strict=True its MessageError is raised instead.

    output: "values" (lists of DecodedValue), "columns" (NumPy Columns) or
    "messages" (headers only, no tables needed). Tables come from find_tables
    with the given source, and are looked for before the first message is
    read: TablesNotFound is raised by this call."""
    if output not in OUTPUTS:
        raise ValueError(f"output must be one of {', '.join(OUTPUTS)}, not {output!r}")
    check_bytes_source(source)
    source_tables = None
    if output != "messages":
        source_tables = find_tables(tables, table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
    return _read(source, source_tables, strict, output)


def _read(source: Source, tables: TableSource | None, strict: bool, output: str) -> Iterator[Decoded]:
    with found_messages(source) as messages:
        index = -1
        for index, (found, gts) in enumerate(headed(messages)):
            item = _decode(found, index, tables, output)
            if gts is not None:
                item = dataclasses.replace(item, gts=gts)
            if strict and item.error is not None:
                raise item.error
            yield item
    if index < 0:  # not one "BUFR": say so rather than give nothing
        if strict:
            raise NoMessages()
        yield Decoded(0, 0, 0, error=NoMessages())


def _decode(found: Found, index: int, tables: TableSource | None, output: str) -> Decoded:
    data, start, message, error = found.data, found.start, found.message, found.error
    offset, length = found.offset, found.length
    if error is not None:
        return Decoded(index, offset, length, error=MessageError(error, index=index, offset=offset))
    assert message is not None  # framed when there is no error
    if output == "messages":
        return Decoded(index, offset, length, message=message)
    assert tables is not None
    try:
        table_set = tables.for_message(message)
        own = bytes(memoryview(data)[start:start + message.total_length])
        if output == "values":
            values, starts = _native.decode_subsets(data, start, message, table_set)
            return Decoded(index, offset, length, message=message, values=values, subset_starts=tuple(starts),
                           data=own, table_set=table_set)
        from .long_columns import message_columns

        columns = message_columns(data, start, message, table_set)
        return Decoded(index, offset, length, message=message, columns=columns,
                       subset_starts=tuple(columns.subset_starts.tolist()), data=own, table_set=table_set)
    except DecodeError as e:
        return Decoded(index, offset, length, message=message,
                       error=MessageError(tables.explain(message_key(message), e.reason), index, offset, e.where))
    except MemoryError:
        # This message's failure: the ones after it may be smaller.
        return Decoded(index, offset, length, message=message, error=MessageError(NO_MEMORY, index, offset))
