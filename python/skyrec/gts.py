"""GTS bulletin headers: the abbreviated heading that a feed puts before
each message (start-of-heading, a sequence number, TTAAii CCCC YYGGgg and
an optional BBB, each line ended by CR CR LF) and the end-of-message bytes
after it.

Feeds bend the form: the start-of-heading or the sequence number may be
missing, lines may end in LF alone, other text may stand before the
heading. The heading is therefore read backwards from the "BUFR" it
introduces, as far as the message before it ends.
"""

from __future__ import annotations

import functools
import os
import re
import stat
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import Any, NamedTuple, Protocol, TypeVar


class Placed(Protocol):
    """A message found in a stream (skyrec.sources.Found): `data` holds it
    at `start`; it lies at `offset` of the stream and spans `length` bytes."""

    @property
    def data(self) -> Any: ...
    @property
    def start(self) -> int: ...
    @property
    def offset(self) -> int: ...
    @property
    def length(self) -> int: ...


Item = TypeVar("Item", bound=Placed)

__all__ = ["FIELDS", "Gts", "LOOKBACK", "as_heading", "gts_before", "gts_columns", "gts_header", "headed"]

# The columns and Decoded attributes a heading fills, in order.
FIELDS = ("gts_ttaaii", "gts_cccc", "gts_yygggg", "gts_bbb")
LOOKBACK = 64  # bytes before a message that can hold its heading
SOH, ETX = b"\x01", b"\x03"
LINE_END = b"\r\r\n"
TRAILER = LINE_END + ETX

# Read on the reversed bytes: line ends, then the heading line, then
# optionally the sequence number's line and the start-of-heading. Compiled
# when a message first has a line end before it: most files have none.
_HEADING = (
    rb"[\r\n ]*?[\r\n] *"  # the heading line's end (and stray blank lines after it)
    rb"(?:([A-Z]{3}) +)?"  # BBB, reversed
    rb"([0-9]{6}) +([A-Z0-9]{4}) +([0-9]{2}[A-Z]{4})"  # YYGGgg CCCC TTAAii, reversed
    rb"(?:[\r\n]+(?:[0-9]{3,5}[\r\n]+)?(\x01))?"  # the sequence number's line and the start-of-heading
)


@functools.cache
def _heading() -> re.Pattern[bytes]:
    return re.compile(_HEADING)


class Gts(NamedTuple):
    """One bulletin heading: its fields, and its bytes as they stood before
    the message (written again as they were)."""

    ttaaii: str
    cccc: str
    yygggg: str
    bbb: str | None
    heading: bytes

    def fields(self) -> dict[str, str | None]:
        return dict(zip(FIELDS, (self.ttaaii, self.cccc, self.yygggg, self.bbb)))

    def wrapped(self, message: bytes) -> bytes:
        """The message inside its bulletin: heading, message, and the
        end-of-message bytes when the heading opens with start-of-heading."""
        return self.heading + message + (TRAILER if self.heading.startswith(SOH) else b"")


class Headed:
    """The fields of `gts`, the bulletin heading before a message, one by
    one (None without a heading)."""

    __slots__ = ()
    gts: Gts | None

    gts_ttaaii = property(lambda self: self.gts and self.gts.ttaaii)
    gts_cccc = property(lambda self: self.gts and self.gts.cccc)
    gts_yygggg = property(lambda self: self.gts and self.gts.yygggg)
    gts_bbb = property(lambda self: self.gts and self.gts.bbb)


def _text(raw: bytes | None) -> str | None:
    return None if raw is None else raw[::-1].decode("ascii")


def gts_before(data: Any, start: int, floor: int = 0) -> Gts | None:
    """The heading standing right before `data[start:]` (a "BUFR"), none of
    it before `floor` (where the message before ends); None when none does."""
    low = max(floor, start - LOOKBACK, 0)
    if start - low < 20 or data[start - 1] not in (0x0A, 0x0D):
        return None  # a heading line takes 18 bytes and its end at least one
    window = bytes(data[low:start])[::-1]
    match = _heading().match(window)
    if match is None:
        return None
    bbb, yygggg, cccc, ttaaii, _ = match.groups()
    begins = len(window) - match.end()
    heading = window[::-1][begins:]
    return Gts(_text(ttaaii) or "", _text(cccc) or "", _text(yygggg) or "", _text(bbb), heading)


def gts_header(ttaaii: str, cccc: str, yygggg: str, bbb: str | None = None, sequence: int | None = None) -> Gts:
    """A heading made from its fields, in the full form (start-of-heading,
    sequence number 000 to 999 when given, CR CR LF line ends)."""
    for name, value, form in (("TTAAii", ttaaii, r"[A-Z]{4}[0-9]{2}"), ("CCCC", cccc, r"[A-Z0-9]{4}"),
                              ("YYGGgg", yygggg, r"[0-9]{6}"), ("BBB", bbb or "AAA", r"[A-Z]{3}")):
        if not re.fullmatch(form, value):
            raise ValueError(f"GTS {name} {value!r} is not of the form {form}")
    line = f"{ttaaii} {cccc} {yygggg}" + (f" {bbb}" if bbb else "")
    number = b"" if sequence is None else f"{sequence % 1000:03d}".encode() + LINE_END
    return Gts(ttaaii, cccc, yygggg, bbb, SOH + LINE_END + number + line.encode("ascii") + LINE_END)


def as_heading(given: Gts | str) -> Gts:
    """A heading given as it was read, or as its text "TTAAii CCCC YYGGgg
    [BBB]" (written in the full form)."""
    if isinstance(given, Gts):
        return given
    fields = given.split() if isinstance(given, str) else []
    if len(fields) not in (3, 4):
        raise ValueError(f"a GTS heading is 'TTAAii CCCC YYGGgg [BBB]' or a skyrec.gts.Gts, not {given!r}")
    return gts_header(fields[0], fields[1], fields[2], fields[3] if len(fields) == 4 else None)


def headed(found: Iterable[Item]) -> Iterator[tuple[Item, Gts | None]]:
    """Each message found, with the heading between it and the one before."""
    end = 0  # where the message before ends, in the stream
    for item in found:
        yield item, gts_before(item.data, item.start, end - (item.offset - item.start))
        end = item.offset + item.length


CHUNK = 1 << 20  # bytes read at a time when looking through a file


def gts_columns(source: Any, offsets: Sequence[int], lengths: Sequence[int]) -> dict[str, list[str | None]]:
    """The heading fields of the messages at `offsets` (with `lengths`, in
    order) of a path or bytes-like `source`, a list per field: None where a
    message has no heading."""
    if not isinstance(source, (str, os.PathLike)):
        return _columns(lambda offset: (0, source), offsets, lengths)
    if not stat.S_ISREG(os.stat(source).st_mode):
        return {name: [None] * len(offsets) for name in FIELDS}  # a pipe read once is gone: not read again
    with open(source, "rb") as f:
        held: list[Any] = [-1, b""]

        def around(offset: int) -> tuple[int, Any]:
            base, data = held
            if not (0 <= base <= max(0, offset - LOOKBACK) and offset <= base + len(data)):
                held[0] = max(0, offset - LOOKBACK)
                held[1] = os.pread(f.fileno(), CHUNK, held[0])
            return held[0], held[1]

        return _columns(around, offsets, lengths)


def _columns(around: Callable[[int], tuple[int, Any]], offsets: Sequence[int],
             lengths: Sequence[int]) -> dict[str, list[str | None]]:
    columns: dict[str, list[str | None]] = {name: [] for name in FIELDS}
    end = 0  # where the message before ends
    for offset, length in zip(offsets, lengths):
        base, data = around(offset)
        gts = gts_before(data, offset - base, end - base) if offset - base <= len(data) else None
        for name, value in zip(FIELDS, (None, None, None, None) if gts is None else gts.fields().values()):
            columns[name].append(value)
        end = offset + length
    return columns
