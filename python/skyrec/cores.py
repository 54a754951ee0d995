"""The readers' `threads=`: how many threads unpack the columns of a large
compressed message (None: every core; small messages take one)."""

from __future__ import annotations

import os

from . import _native


def use_threads(threads: int | None) -> None:
    """Makes the next decodes use `threads` threads per large message. The
    native count is the process's: a reading sets it as it starts, and a
    reading beside it with another count changes only how fast both go."""
    if threads is None:
        count = os.cpu_count() or 1
    elif isinstance(threads, bool) or not isinstance(threads, int):
        raise TypeError(f"threads must be an int or None, not {type(threads).__name__}")
    elif threads < 1:
        raise ValueError(f"threads must be 1 or more, or None for every core, not {threads}")
    else:
        count = threads
    if _native.wide_threads() != count:
        _native.set_wide_threads(count)
