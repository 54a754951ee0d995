"""One run of a subcommand: its streams, its progress bar, the failures it
met and the exit status they make."""

from __future__ import annotations

import os
import sys
from collections.abc import Callable, Iterator, Sequence
from typing import TYPE_CHECKING, Any, Protocol, TextIO, TypeVar

from ..errors import NO_MESSAGES, NoMessages
from .options import EXIT_FAILED, EXIT_OK
from .progress import Progress, progress_for

if TYPE_CHECKING:
    from ..reader import Decoded

STDIN = "-"


class Placed(Protocol):
    """What the progress bar needs of a message: where it lies."""

    @property
    def offset(self) -> int: ...
    @property
    def length(self) -> int: ...


Item = TypeVar("Item", bound=Placed)


def file_size(path: str) -> int:
    if path == STDIN:
        return 0
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


class Session:
    def __init__(self, out: TextIO, err: TextIO, progress: bool | None = None):
        self.out = out
        self.err = err
        self.wanted_progress = progress
        self.progress: Progress = Progress()
        self.failures = 0
        self.file_number = -1  # of the file being read, counted from 0
        self._headed = -1
        self._before = 0  # bytes of the files before the one being read

    @property
    def status(self) -> int:
        return EXIT_FAILED if self.failures else EXIT_OK

    def fail(self, text: str) -> None:
        """Reports one failure on stderr; the run goes on and exits 1."""
        self.failures += 1
        self.out.flush()  # what came before the failure shows before it
        self.progress.write(f"skyrec: {text}", self.err)

    def warn(self, text: str) -> None:
        """Says something on stderr that is not a failure: the status stays."""
        self.out.flush()
        self.progress.write(f"skyrec: warning: {text}", self.err)

    def messages(self, paths: Sequence[str], read: Callable[[Any], Iterator[Item]],
                 absent: Callable[[int], int | None] | None = None) -> Iterator[tuple[str, Item]]:
        """Every message of every file, bad ones included (their errors are
        for the caller to report); files that cannot be read, or hold no
        message, are reported here, and so is a message number asked for
        that a file has not: `absent` tells which, given the file's count.
        A path of - is standard input, read as it comes."""
        sizes = [file_size(path) for path in paths]
        self.progress = progress_for(self.wanted_progress, sum(sizes), self.out, self.err)
        moving = getattr(self.progress, "shown", True)  # the silent one is not moved message by message
        try:
            self._before = 0
            for path, size in zip(paths, sizes):
                self.file_number += 1
                found = 0
                try:
                    for item in read(sys.stdin.buffer if path == STDIN else path):
                        if isinstance(getattr(item, "error", None), NoMessages):
                            continue  # said below, as for dump's framing alone
                        found += 1
                        yield path, item
                        if moving:
                            self.advance_within(item, 1.0)
                except OSError as e:
                    self.fail(f"{path}: {e.strerror or e}")
                    found = -1
                if found == 0:
                    self.fail(f"{path}: {NO_MESSAGES}")
                elif found > 0 and absent is not None and (number := absent(found)) is not None:
                    self.fail(f"{path}: no message {number}: the file holds {found}, numbered from 0")
                self._before += size
                self.progress.advance(self._before)
        finally:
            self.progress.close()
            self.progress = Progress()

    def advance_within(self, item: Placed, done: float) -> None:
        """The bar at `done` (0 to 1) of the way through the message `item`."""
        self.progress.advance(self._before + item.offset + int(item.length * min(done, 1.0)))

    def file_heading(self, count: int, path: str) -> str:
        """"PATH:" before the first line of each file when there are several
        files, as ls does; once per file."""
        if count < 2 or self._headed == self.file_number:
            return ""
        self._headed = self.file_number
        return f"{path}:\n"

    def report(self, path: str, item: Decoded) -> bool:
        """Reports the item's error, if it has one: 'FILE: message N at offset O: why'."""
        if item.error is None:
            return False
        self.fail(f"{path}: {item.error}")
        return True
