"""The package's own errors: a message that cannot be read is a DecodeError
(a ValueError), and the package catches nothing else, so that a fault of
skyrec's own is never reported as a bad message."""

from __future__ import annotations

from ._native import DecodeError

__all__ = ["DecodeError", "MessageError", "NoMessages", "decode_error", "message_error"]

# _skyrec shows every free-text error behind this, whatever its cause.
SHARED_PREFIX = "csv/table parse error: "


def decode_error(reason: str, where: str = "") -> DecodeError:
    """A DecodeError made here, shaped as those that skyrec._native raises."""
    reason = reason.removeprefix(SHARED_PREFIX)
    error = DecodeError(f"{where}: {reason}" if where else reason)
    error.reason = reason
    error.where = where
    return error


class MessageError(DecodeError):
    """One message that could not be framed, or whose tables or values could
    not be read: `reason` says why, `offset` is where its "BUFR" starts and
    `where` (subset, descriptor path) where in the message, when known."""

    def __init__(self, reason: str, index: int, offset: int, where: str = ""):
        super().__init__(reason, index, offset, where)  # all in args, so that copies and pickles work
        self.reason = reason
        self.index = index
        self.offset = offset
        self.where = where

    def __str__(self) -> str:
        place = f", {self.where}" if self.where else ""
        return f"message {self.index} at offset {self.offset}{place}: {self.reason}"


NO_MESSAGES = "no BUFR messages found"


class NoMessages(MessageError):
    """Input that holds no BUFR message at all (random bytes, an empty file,
    a picture): one error for the whole input, not one per message."""

    def __init__(self, reason: str = NO_MESSAGES, index: int = 0, offset: int = 0, where: str = ""):
        super().__init__(reason, index, offset, where)

    def __str__(self) -> str:
        return self.reason


def message_error(reason: str, index: int, offset: int, where: str = "") -> MessageError:
    """The MessageError of an error row (see skyrec.blocks)."""
    return NoMessages() if reason == NO_MESSAGES else MessageError(reason, index, offset, where)
