"""skyrec.write_bufr: messages into a file, whole or not at all."""

from __future__ import annotations

import os
import tempfile
from collections.abc import Iterable, Iterator
from typing import BinaryIO

from .encoding import encoded_messages
from .gts import Gts, as_heading
from .reader import Decoded

__all__ = ["write_bufr"]

Message = bytes | bytearray | memoryview | Decoded
# A message with the GTS heading to write it under: a Gts, its text, or None for none.
Headed = tuple[Message, Gts | str | None]


def write_bufr(target: str | os.PathLike[str] | BinaryIO, messages: Iterable[Message | Headed], *,
               gts: bool = False) -> int:
    """Writes `messages` (bytes of whole messages, or Decoded items, which
    are encoded again) one after another and returns how many. With
    gts=True, a Decoded item read with a GTS bulletin heading is written
    inside its bulletin again (heading and end-of-message bytes). A message
    given as a pair (message, heading) is written under that heading
    whatever `gts` says: a skyrec.gts.Gts, its text "TTAAii CCCC YYGGgg
    [BBB]" (ValueError when it is not of that form), or None for none. A path is
    written to a temporary file beside it, then renamed over it: on any
    error the temporary file is removed and `target` is left as it was. A
    binary stream is written to as each message is ready."""
    if not isinstance(target, (str, os.PathLike)):
        count = 0
        for data in _bulletins(messages, gts):
            target.write(data)
            count += 1
        return count
    path = os.fspath(target)
    folder = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=".", suffix=".part", dir=folder)
    try:
        count = 0
        with os.fdopen(fd, "wb") as out:
            for data in _bulletins(messages, gts):
                out.write(data)
                count += 1
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    return count


def _bulletins(messages: Iterable[Message | Headed], gts: bool) -> Iterator[bytes]:
    """Each message's bytes, inside its GTS bulletin when asked and it has one."""
    heading: list[Gts | None] = [None]  # of the message being encoded

    def noted() -> Iterator[Message]:
        for m in messages:
            if isinstance(m, tuple):
                m, given = m
                heading[0] = None if given is None else as_heading(given)
            else:
                heading[0] = m.gts if gts and isinstance(m, Decoded) else None
            yield m

    for data in encoded_messages(noted()):
        yield data if heading[0] is None else heading[0].wrapped(data)
