"""The readers' `threads=`: how many threads unpack the columns of a large
compressed message (None: every core; small messages take one). The count
travels with each reading, and with what it makes to lay out later."""

from __future__ import annotations

import os

from ._native import MOST_THREADS


def thread_count(threads: int | None) -> int:
    """The count a reader's `threads=` asks for; TypeError or ValueError at
    the call when it is not one."""
    if threads is None:
        return min(os.cpu_count() or 1, MOST_THREADS)
    if isinstance(threads, bool) or not isinstance(threads, int):
        raise TypeError(f"threads must be an int or None, not {type(threads).__name__}")
    if threads < 1:
        raise ValueError(f"threads must be 1 or more, or None for every core, not {threads}")
    if threads > MOST_THREADS:
        raise ValueError(f"threads must be from 1 to {MOST_THREADS}, not {threads}")
    return threads
