"""A progress bar on stderr, through tqdm when it is installed.

Shown by default only when the input is large, stderr is a terminal and
stdout is not (a bar between lines of output on the same terminal would be
torn apart), and then only once the work has lasted a second; when asked
for, at once.
"""

from __future__ import annotations

from typing import Any, TextIO

LARGE_INPUT = 1 << 20  # bytes
SHOW_AFTER = 1.0  # seconds


def is_terminal(stream: Any) -> bool:
    try:
        return bool(stream.isatty())
    except (AttributeError, ValueError, OSError):
        return False


class Progress:
    """No bar: text goes straight to its stream."""

    shown = False  # whether advancing it shows anything

    def advance(self, done: int) -> None:
        """`done` bytes of the input are read."""

    def write(self, text: str, stream: TextIO) -> None:
        print(text, file=stream, flush=True)

    def close(self) -> None:
        pass


class Bar(Progress):
    shown = True

    def __init__(self, total: int, stream: TextIO, delay: float):
        from tqdm import tqdm

        self._bar = tqdm(total=total, unit="B", unit_scale=True, unit_divisor=1024, file=stream, leave=False,
                         delay=delay, dynamic_ncols=True)

    def advance(self, done: int) -> None:
        if done > self._bar.n:
            self._bar.update(done - self._bar.n)

    def write(self, text: str, stream: TextIO) -> None:
        self._bar.write(text, file=stream)  # clears the bar, writes, draws it again

    def close(self) -> None:
        self._bar.close()


def bar_wanted(wanted: bool | None, total: int, out: TextIO, err: TextIO) -> bool:
    """Whether a bar is to be shown: asked for, or by default (see progress_for)."""
    return bool(wanted) or (wanted is None and total >= LARGE_INPUT and is_terminal(err) and not is_terminal(out))


def progress_for(wanted: bool | None, total: int, out: TextIO, err: TextIO) -> Progress:
    """A bar when asked for (--progress), none when refused (--no-progress),
    and otherwise one for a large input read from a terminal session whose
    output goes elsewhere."""
    if not bar_wanted(wanted, total, out, err):
        return Progress()
    try:
        return Bar(total, err, 0.0 if wanted else SHOW_AFTER)
    except ImportError:
        if wanted:
            print("skyrec: no progress bar without tqdm (pip install 'skyrec[progress]')",
                  file=err)
        return Progress()
