"""The bound on a key's rank ("#n#key"): the decoder counts occurrences in 32 bits."""

from __future__ import annotations

import re

MAX_RANK = 2**32 - 1
_RANK = re.compile(r"#([0-9]+)#")


class RankError(ValueError):
    """A key whose rank is past MAX_RANK."""


def check_rank(key: str) -> str:
    """`key`, unless its rank is past the bound: a larger rank would wrap
    round to a small one, or to every occurrence."""
    match = _RANK.match(key)
    if match is not None and int(match.group(1)) > MAX_RANK:
        raise RankError(f"{key!r}: a rank is at most {MAX_RANK}")
    return key
