"""The package's own errors: a message that cannot be read is a DecodeError
(a ValueError), and the package catches nothing else, so that a fault of
skyrec's own is never reported as a bad message.

Every error says its `kind`, one of KINDS: the core's kinds, which the native
modules set on what they raise, and the package's own (no_messages,
file_changed, no_memory, no_wide_table)."""

from __future__ import annotations

import warnings
from collections.abc import Iterable, Sequence
from typing import Literal

from ._native import DecodeError

__all__ = ["KINDS", "DecodeError", "ErrorPolicy", "MessageError", "NoMessages", "decode_error", "message_error",
           "raise_policy"]

# _skyrec shows every free-text error behind this, whatever its cause.
SHARED_PREFIX = "csv/table parse error: "

# The core's kinds (src/base/error.hpp), then the package's.
CORE_KINDS = ("too_short", "missing_marker", "unsupported_edition", "length_mismatch", "truncated_section",
              "bad_terminator", "odd_descriptor_area", "sequence_not_found", "incomplete_delayed_replication",
              "unsupported_replication", "element_not_found", "cut_short", "bits_exhausted", "limit_exceeded",
              "invalid_descriptor", "table_syntax", "unsupported", "text", "io")
KINDS = (*CORE_KINDS, "no_messages", "file_changed", "no_memory", "no_wide_table")
MISSING_ENTRY = ("element_not_found", "sequence_not_found")

NO_MESSAGES = "no BUFR messages found"
CHANGED = "file changed while reading"
NO_MEMORY = "not enough memory to decode the message"

ErrorPolicy = Literal["collect", "raise"]
POLICIES = ("collect", "raise")


def decode_error(reason: str, where: str = "", kind: str | None = None, subset: int | None = None,
                 descriptor_path: Iterable[str] = ()) -> DecodeError:
    """A DecodeError made here, shaped as those that skyrec._native raises
    (of kind "text" when no kind is given)."""
    reason = reason.removeprefix(SHARED_PREFIX)
    error = DecodeError(f"{where}: {reason}" if where else reason)
    error.reason = reason
    error.where = where
    error.kind = kind or "text"
    error.subset = subset
    error.descriptor_path = tuple(descriptor_path)
    return error


class MessageError(DecodeError):
    """One message that could not be framed, or whose tables or values could
    not be read. `kind` names the cause (one of KINDS), `reason` says why,
    `index` and `offset` (of its "BUFR") say which message, `where` where in
    it when known, as text, `subset` (from 0, of an uncompressed message;
    None when not known) and `descriptor_path` (6-digit descriptors from the
    outermost down to the one that failed; () when not known) as fields,
    `tables` which table source it was read with ("" before tables were
    chosen) and `file` which file (None for a buffer or stream). Without a
    kind given, it is "text"."""

    def __init__(self, reason: str, index: int, offset: int, where: str = "", kind: str | None = None,
                 tables: str = "", file: str | None = None, subset: int | None = None,
                 descriptor_path: Iterable[str] = ()):
        kind = kind or "text"
        descriptor_path = tuple(descriptor_path)
        # All in args: copies and pickles work.
        super().__init__(reason, index, offset, where, kind, tables, file, subset, descriptor_path)
        self.reason = reason
        self.index = index
        self.offset = offset
        self.where = where
        self.kind = kind
        self.tables = tables
        self.file = file
        self.subset = subset
        self.descriptor_path = descriptor_path

    def __str__(self) -> str:
        place = f", {self.where}" if self.where else ""
        file = f"{self.file}: " if self.file else ""
        return f"{file}message {self.index} at offset {self.offset}{place}: {self.reason}"


class NoMessages(MessageError):
    """Input that holds no BUFR message at all (random bytes, an empty file,
    a picture): one error for the whole input, not one per message."""

    def __init__(self, reason: str = NO_MESSAGES, index: int = 0, offset: int = 0, where: str = "",
                 kind: str | None = "no_messages", tables: str = "", file: str | None = None,
                 subset: int | None = None, descriptor_path: Iterable[str] = ()):
        super().__init__(reason, index, offset, where, kind or "no_messages", tables, file, subset, descriptor_path)

    def __str__(self) -> str:
        return f"{self.file}: {self.reason}" if self.file else self.reason


def message_error(reason: str, index: int, offset: int, where: str = "", kind: str | None = None,
                  tables: str = "", file: str | None = None, subset: int | None = None,
                  descriptor_path: Iterable[str] = ()) -> MessageError:
    """The MessageError of a failed message, NoMessages for input without any."""
    make = NoMessages if kind == "no_messages" else MessageError
    return make(reason, index, offset, where, kind, tables, file, subset, descriptor_path)


def raise_policy(errors: str, strict: bool | None = None) -> bool:
    """Whether a reader called with errors= (and the older strict=) raises
    the first bad message's error."""
    if errors not in POLICIES:
        raise ValueError(f"errors must be 'collect' or 'raise', not {errors!r}")
    if strict is not None:
        warnings.warn("strict= is deprecated: pass errors='raise' (or 'collect')", DeprecationWarning,
                      stacklevel=3)
        return bool(strict)
    return errors == "raise"


def collected(found: Iterable[MessageError], raising: bool) -> list[MessageError]:
    """The errors of a reading, or the first of them raised."""
    errors = list(found)
    if raising and errors:
        raise errors[0]
    return errors


def error_files(errors: Sequence[MessageError]) -> list[str]:
    """The files of `errors`, as the older attrs["error_files"] listed them."""
    return [e.file if e.file is not None else "<buffer>" for e in errors]
