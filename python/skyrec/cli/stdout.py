"""Standard output for one run: a write that fails (a full disk, a closed
descriptor) becomes OutputError, one line and its own exit status, rather
than a traceback and the status that means "some messages failed". A reader
that went away stays BrokenPipeError (exit 141)."""

from __future__ import annotations

from collections.abc import Iterable, Iterator
from contextlib import contextmanager
from typing import Any, TextIO


class OutputError(Exception):
    """Standard output cannot be written: exit EXIT_OUTPUT with this text."""


def _describe(e: Exception) -> str:
    if isinstance(e, OSError) and e.strerror:
        return e.strerror
    return "standard output is closed" if isinstance(e, (ValueError, AttributeError)) else str(e)


class GuardedOutput:
    """Writes to `stream` (None when the process has no stdout)."""

    def __init__(self, stream: TextIO | None):
        self._stream = stream

    def _call(self, name: str, *args: Any, on: Any = None) -> Any:
        try:
            return getattr(self._stream if on is None else on, name)(*args)
        except BrokenPipeError:
            raise
        except (OSError, ValueError, AttributeError) as e:
            raise OutputError(f"cannot write output: {_describe(e)}") from None

    def write(self, text: str) -> int:
        result: int = self._call("write", text)
        return result

    def write_bytes(self, data: bytes | memoryview) -> None:
        """UTF-8 bytes, straight to the binary stream under a UTF-8 text one."""
        buffer = getattr(self._stream, "buffer", None)
        if buffer is None or not self._is_utf8():
            self.write(bytes(data).decode("utf-8", "surrogateescape"))
            return
        self._call("flush")
        self._call("write", data, on=buffer)

    @contextmanager
    def binary_fd(self) -> Iterator[int | None]:
        """The file descriptor under a UTF-8 stream, all written before
        flushed, for writing to it directly; None when there is none. A
        failed write (OSError) in the block becomes OutputError."""
        fd = None
        if self._is_utf8() and getattr(self._stream, "buffer", None) is not None:
            try:
                fd = self._stream.fileno()  # type: ignore[union-attr]
            except (OSError, ValueError, AttributeError):
                fd = None
        if fd is not None:
            self._call("flush")
            self._call("flush", on=self._stream.buffer)  # type: ignore[union-attr]
        try:
            yield fd
        except BrokenPipeError:
            raise
        except OSError as e:
            raise OutputError(f"cannot write output: {_describe(e)}") from None

    def _is_utf8(self) -> bool:
        encoding = str(getattr(self._stream, "encoding", "")).lower().replace("-", "").replace("_", "")
        return encoding == "utf8"

    def writelines(self, lines: Iterable[str]) -> None:
        self._call("writelines", lines)

    def flush(self) -> None:
        self._call("flush")

    def isatty(self) -> bool:
        try:
            return bool(self._stream is not None and self._stream.isatty())
        except (OSError, ValueError):
            return False

    def __getattr__(self, name: str) -> Any:
        return getattr(self._stream, name)
