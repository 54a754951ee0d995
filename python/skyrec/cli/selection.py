"""Choosing what dump and ls print: messages by number, subsets by number,
messages by header keys, and values by key."""

from __future__ import annotations

import argparse
import re

from ..ranks import RankError, check_rank
from .options import UsageError

NUMBERS = re.compile(r"(\d+)(?:-(\d*))?")
KEY = re.compile(r"(#[1-9][0-9]*#)?[A-Za-z_][A-Za-z0-9_]*")


class Numbers:
    """Numbers chosen as N, N-M or N- (from N on), comma-separated; None for all."""

    def __init__(self, ranges: tuple[tuple[int, int | None], ...] | None = None):
        self.ranges = ranges

    def __contains__(self, n: int) -> bool:
        return self.ranges is None or any(lo <= n and (hi is None or n <= hi) for lo, hi in self.ranges)

    def last(self) -> int | None:
        """The largest number chosen; None when there is no end."""
        if self.ranges is None or any(hi is None for _, hi in self.ranges):
            return None
        return max(hi for _, hi in self.ranges if hi is not None)

    def first_absent(self, count: int) -> int | None:
        """The first number chosen that names nothing among `count` (numbered
        from 0): the start of N or N-M lying wholly past them. N- asks for
        whatever there is from N on, so it names nothing amiss."""
        if self.ranges is None:
            return None
        past = [lo for lo, hi in self.ranges if lo >= count and hi is not None]
        return min(past) if past else None


def numbers(option: str, text: str | None, most: int | None = None) -> Numbers:
    """The numbers of `option`; none may pass `most` when it is given."""
    if text is None:
        return Numbers()
    ranges = []
    for part in text.split(","):
        match = NUMBERS.fullmatch(part.strip())
        if match is None:
            raise UsageError(f"{option} {text!r}: write numbers as N, N-M or N-, separated by commas")
        low = int(match.group(1))
        high = None if match.group(2) == "" else int(match.group(2) or low)
        if high is not None and high < low:
            raise UsageError(f"{option} {text!r}: {low}-{high} is an empty range")
        if most is not None and max(low, high or 0) > most:
            raise UsageError(f"{option} {text!r}: numbers go from 0 to {most}")
        ranges.append((low, high))
    return Numbers(tuple(ranges))


def value_keys(text: str | None) -> list[str]:
    """The keys of --keys: key or #n#key."""
    if text is None:
        return []
    keys = [k.strip() for k in text.split(",") if k.strip()]
    if not keys:
        raise UsageError("--keys names no keys")
    for key in keys:
        check_key("--keys", key)
    return keys


def check_key(option: str, key: str) -> None:
    """`key` of `option` is key or #n#key, n from 1, or a UsageError."""
    if not KEY.fullmatch(key):
        raise UsageError(f"{option}: {key!r} is not a key (write airTemperature or #2#airTemperature)")
    try:
        check_rank(key)
    except RankError as e:
        raise UsageError(f"{option}: {e}") from e


def add_selection_options(parser: argparse.ArgumentParser, *, values: bool) -> None:
    group = parser.add_argument_group("choosing what is printed")
    group.add_argument("--message", metavar="N", help="only message N, as numbered in the listing (counted from 0, "
                       "bad messages included); N-M, N- and lists such as 0,3-5 choose several")
    group.add_argument("--where", action="append", default=[], metavar="KEY=VALUE|KEY=LO:HI",
                       help="only messages whose KEY is VALUE, one of A/B/C, or from LO to HI: header keys "
                       "(ecCodes' names: dataCategory, bufrHeaderCentre, typicalDate, ...), GTS fields (gts_ttaaii, "
                       "gts_cccc, gts_yygggg, gts_bbb) or data keys (airTemperature, #1#stationNumber: a message "
                       "is kept when one of its subsets passes); may be repeated")
    if values:
        group.add_argument("--subset", metavar="N", help="only subset N of each message (from 0, as dump numbers "
                           "them); N-M, N- and lists choose several")
        group.add_argument("--keys", metavar="KEY,...", help="only values with these keys (ecCodes' names, "
                           "#n#key for the key's n-th value in its subset)")
