"""skyrec.write_bufr: messages into a file, whole or not at all."""

from __future__ import annotations

import os
import tempfile
from collections.abc import Iterable
from typing import BinaryIO

from .encoding import encoded_messages
from .reader import Decoded

__all__ = ["write_bufr"]

Message = bytes | bytearray | memoryview | Decoded


def write_bufr(target: str | os.PathLike[str] | BinaryIO, messages: Iterable[Message]) -> int:
    """Writes `messages` (bytes of whole messages, or Decoded items, which
    are encoded again) one after another and returns how many. A path is
    written to a temporary file beside it, then renamed over it: on any
    error the temporary file is removed and `target` is left as it was. A
    binary stream is written to as each message is ready."""
    if not isinstance(target, (str, os.PathLike)):
        count = 0
        for data in encoded_messages(messages):
            target.write(data)
            count += 1
        return count
    path = os.fspath(target)
    folder = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=".", suffix=".part", dir=folder)
    try:
        count = 0
        with os.fdopen(fd, "wb") as out:
            for data in encoded_messages(messages):
                out.write(data)
                count += 1
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    return count
