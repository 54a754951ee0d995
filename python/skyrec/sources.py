"""Reading files and streams without trusting them to hold still.

Files are read into buffers with plain reads, never memory-mapped: when
another process truncates a mapped file (log rotation, a feed rewriting it),
the next read of the mapping kills the interpreter with SIGBUS. A message no
longer complete when its bytes are read is an error, "file changed while
reading", and the reading goes on.

Pipes, FIFOs, standard input and character devices are read as they come,
holding one message and a window at a time, so an endless stream without
messages costs constant memory. Reading one whole (for a header pass or a
block) is bounded by STREAM_LIMIT.
"""

from __future__ import annotations

import io
import mmap
import os
import stat
from collections.abc import Iterator
from contextlib import contextmanager
from typing import IO, TYPE_CHECKING, Any, BinaryIO

from _skyrec import BufrMessage

from . import _native
from .gts import LOOKBACK

if TYPE_CHECKING:
    from ._native import MessageHeaders

MAX_MESSAGE = (1 << 24) - 1  # section 0 declares the length in 24 bits
SECTION0 = 8
WINDOW = 1 << 20  # bytes read at a time
STREAM_LIMIT = 1 << 28  # a stream read whole: beyond this, read_messages is the way
from .errors import CHANGED  # noqa: E402  (one wording for every reader)

PROBE_BYTES = 4096  # longer bytes are never taken for a path


def path_of(source: Any) -> str:
    """The path `source` names, checked as os functions check one."""
    path = os.fspath(source)
    if not isinstance(path, str):
        raise TypeError(f"a path must be str or os.PathLike, not {type(source).__name__}")
    if "\0" in path:
        raise ValueError("embedded null byte in path")
    return path


def check_bytes_source(data: Any) -> None:
    """Bytes are data; a short bytes object that holds no message but names
    an existing file was surely meant as a path."""
    if not isinstance(data, bytes) or len(data) > PROBE_BYTES or b"BUFR" in data or b"\0" in data:
        return
    try:
        exists = bool(data) and os.path.exists(data)
    except (OSError, ValueError):
        return
    if exists:
        raise TypeError(f"bytes are read as BUFR data, and {data!r} holds none but names a file: "
                        "pass the path as a str or os.PathLike")


def is_stream(source: Any) -> bool:
    return isinstance(source, (io.RawIOBase, io.BufferedIOBase)) or hasattr(source, "readinto")


class _Chunks:
    """The bytes of an open file or stream from where it stands, read as
    asked; `short` tells whether a regular file ended before the size it
    had when opened."""

    def __init__(self, stream: IO[bytes]):
        self.stream = stream
        self.expected = -1
        try:
            st = os.fstat(stream.fileno())
            if stat.S_ISREG(st.st_mode):
                self.expected = st.st_size
        except (OSError, ValueError, io.UnsupportedOperation):
            pass
        self.read_so_far = 0
        self.ended = False

    def read(self, size: int) -> bytes:
        chunk = b""
        if not self.ended:
            # read1 on buffered streams returns what one system read gives,
            # so a pipe is not waited on for more than it has.
            read1 = getattr(self.stream, "read1", None)
            chunk = (read1 or self.stream.read)(size) or b""
            self.ended = not chunk
            self.read_so_far += len(chunk)
        return chunk

    @property
    def short(self) -> bool:
        return self.ended and self.read_so_far < self.expected


class Found:
    """One message found in a stream: `data` holds it at `start`; `offset`
    is where it lies in the stream; `error` and `kind` why it could not be
    framed. (A plain class: one is made per message.)"""

    __slots__ = ("data", "start", "offset", "length", "message", "error", "kind")

    def __init__(self, data: bytes, start: int, offset: int, length: int, message: BufrMessage | None,
                 error: str | None, kind: str | None = None):
        self.data, self.start, self.offset, self.length = data, start, offset, length
        self.message, self.error, self.kind = message, error, kind

    def __repr__(self) -> str:
        return f"Found(offset={self.offset}, length={self.length}, message={self.message!r}, error={self.error!r})"


def stream_messages(stream: IO[bytes]) -> Iterator[Found]:
    """Every message of an open file or stream, found as _native.next_message
    finds them in the whole, holding at most one message and a window."""
    chunks = _Chunks(stream)
    data = b""
    base = 0  # stream offset of data[0]
    position = 0

    def fill(start: int, need: int) -> int:
        # Drops what lies before `start`, then reads until `need` bytes
        # from it are held or the stream ends; the new index of `start`.
        nonlocal data, base
        if len(data) - start >= need or chunks.ended:
            return start
        kept = min(start, LOOKBACK)  # what may hold the message's GTS heading
        parts = [data[start - kept:]]
        held = len(parts[0]) - kept
        while held < need and (chunk := chunks.read(max(WINDOW, need - held))):
            parts.append(chunk)
            held += len(chunk)
        data = b"".join(parts)
        base += start - kept
        return kept

    while True:
        start = data.find(b"BUFR", position)
        if start < 0:
            if chunks.ended:
                return
            position = fill(max(position, len(data) - 3), len(data) - max(position, len(data) - 3) + 1)
            continue
        start = fill(start, SECTION0)
        declared = int.from_bytes(data[start + 4:start + 7], "big") if len(data) - start >= SECTION0 else 0
        start = fill(start, declared)
        found = _native.next_message(data, start)
        if found is None or found[0] != start:  # a "BUFR" that opens no message: search on after it
            position = start + 4
            continue
        found_start, length, position, message, error, kind = found
        if error is not None and chunks.short and found_start + max(declared, SECTION0) > len(data):
            error, kind = CHANGED, "file_changed"
        yield Found(data, found_start, base + found_start, length, message, error, kind)


def runs_past_end(data: Any, start: int) -> bool:
    """Whether the message whose "BUFR" is at `start` declares more bytes
    than `data` holds from there."""
    left = len(data) - start
    return left < SECTION0 or int.from_bytes(data[start + 4:start + 7], "big") > left


def read_whole_stream(stream: IO[bytes]) -> bytes:
    """All of a stream, or ValueError past STREAM_LIMIT bytes."""
    chunks = _Chunks(stream)
    parts = []
    held = 0
    while chunk := chunks.read(WINDOW):
        held += len(chunk)
        if held > STREAM_LIMIT:
            raise ValueError(f"input is not a regular file and is longer than {STREAM_LIMIT} bytes, the most read "
                             "whole: read it message by message with read_messages")
        parts.append(chunk)
    return b"".join(parts)


class Span:
    """Bytes of a file read from `base` on; `short` when the file ended
    before the bytes asked for (it changed since it was measured)."""

    __slots__ = ("data", "base", "short")

    def __init__(self, data: Any, base: int, short: bool):  # data: bytes-like
        self.data, self.base, self.short = data, base, short


def _pread_all(fd: int, offset: int, size: int) -> bytes:
    parts = []
    while size > 0:
        chunk = os.pread(fd, min(size, 1 << 30), offset)
        if not chunk:
            break
        parts.append(chunk)
        offset += len(chunk)
        size -= len(chunk)
    return b"".join(parts)


def _overhang(data: bytes, end: int) -> int:
    """How many bytes past the end of `data` the messages that start before
    `end` still need (0 when none runs past it)."""
    tail = max(0, len(data) - MAX_MESSAGE - SECTION0)
    h = _native.message_headers(data, tail, end)
    offsets = memoryview(h["offset"])
    need = len(data)
    for row, *_ in h["errors"]:
        offset = offsets[row]
        if len(data) - offset < SECTION0:
            need = max(need, offset + SECTION0)
        else:
            need = max(need, offset + int.from_bytes(data[offset + 4:offset + 7], "big"))
    return need - len(data)


HEADER_CHUNK = 1 << 23  # bytes a header pass reads at a time, into one reused buffer


def _pread_into(fd: int, buffer: bytearray, offset: int) -> int:
    view = memoryview(buffer)
    held = 0
    while held < len(buffer) and (n := os.preadv(fd, [view[held:]], offset + held)):
        held += n
    return held


def scan_file_headers(source: Any, start: int = 0,
                      end: int | None = None) -> list[tuple[MessageHeaders, int, int]]:
    """The header pass of _native.message_headers over the file at
    `source`, for the messages whose "BUFR" lies in [start, end), made a
    chunk at a time: (headers of a chunk, rows of it to take, where the
    chunk starts in the file) in order. Only a chunk and one message are
    held, whatever the size of the file."""
    path = path_of(source)
    fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC)
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            with open(fd, "rb", closefd=False) as stream:
                data = read_whole_stream(stream)
            return [(_native.message_headers(data, start, end), -1, 0)]
        chunks = []
        # No larger than the file (and a byte, so that one read sees its end): most files are small.
        buffer = bytearray(max(1, min(HEADER_CHUNK, os.fstat(fd).st_size - start + 1)))
        base = start
        while True:
            held = _pread_into(fd, buffer, base)
            ended = held < len(buffer)
            view = memoryview(buffer)[:held]
            h = _native.message_headers(view, 0, None if end is None else max(0, end - base))
            offsets = memoryview(h["offset"])  # typed by the buffer: uint64
            # A message running past the chunk is read again from its start
            # with the next chunk, and every message after it with it.
            cut = h["count"]
            if not ended:
                cut = next((row for row, *_ in h["errors"] if runs_past_end(view, offsets[row])), cut)
            resume = offsets[cut] if cut < h["count"] else h["resume"]
            del view, offsets
            chunks.append((h, cut, base))
            if ended or (end is not None and base + resume >= end):
                return chunks
            if resume == 0:  # one message longer than the chunk: a buffer that holds it
                buffer = bytearray(max(2 * len(buffer), SECTION0 + MAX_MESSAGE))
            base += resume
    finally:
        os.close(fd)


def read_span(source: Any, start: int = 0, end: int | None = None) -> Span:
    """The bytes of the file at `source` that hold every message whose
    "BUFR" lies in [start, end), read now; a stream is read whole."""
    path = path_of(source)
    fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC)  # a FIFO waits for its writer, as for any reader
    try:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode):
            with open(fd, "rb", closefd=False) as stream:
                return Span(read_whole_stream(stream), 0, False)
        size = st.st_size
        # A message that starts before `end` runs past it: read its
        # section 0 at once, then on until each one is whole or the file ends.
        stop = size if end is None else max(start, min(end + SECTION0 - 1, size))
        data = _pread_all(fd, start, stop - start)
        short = len(data) < stop - start
        for _ in range(2):
            extra = 0 if short or end is None or stop >= size else min(_overhang(data, end - start), size - stop)
            if extra <= 0:
                break
            more = _pread_all(fd, stop, extra)
            short = len(more) < extra
            data += more
            stop += len(more)
        return Span(data, start, short)
    finally:
        os.close(fd)


BUFFER_TYPES = (bytes, bytearray, memoryview, mmap.mmap)


def _found_in(data: Any) -> Iterator[Found]:
    position = 0
    while (found := _native.next_message(data, position)) is not None:
        start, length, position, message, error, kind = found
        yield Found(data, start, start, length, message, error, kind)


@contextmanager
def found_messages(source: Any) -> Iterator[Iterator[Found]]:
    """The messages of `source`: a buffer as it is, a path or a binary
    stream read a window at a time."""
    if isinstance(source, BUFFER_TYPES):
        yield _found_in(source)
        return
    if is_stream(source):
        stream: BinaryIO = source
        yield stream_messages(stream)
        return
    if not isinstance(source, (str, os.PathLike)):
        raise TypeError("source must be a path or a bytes-like object (or a binary stream), "
                        f"not {type(source).__name__}")
    with open(path_of(source), "rb") as f:
        yield stream_messages(f)
