"""The messages a conversion leaves out, as it reports them: dicts of
file, message, offset, error and where."""

from __future__ import annotations

from typing import Any

from ..errors import NO_MESSAGES


def error_row(file: str, error: Any) -> dict[str, Any]:
    """A message left out, as conversions report it; input without any
    message as a row of the whole file (message and offset -1)."""
    if error.kind == "no_messages":
        return file_row(file)
    return {"file": file, "message": int(error.index), "offset": int(error.offset), "error": error.reason,
            "where": error.where}


def file_row(label: str) -> dict[str, Any]:
    return {"file": label, "message": -1, "offset": -1, "error": NO_MESSAGES, "where": ""}


def read_errors(errors: list[Any]) -> list[dict[str, Any]]:
    """The rows of a reader's MessageErrors, a buffer's named <buffer>."""
    return [error_row(e.file if e.file is not None else "<buffer>", e) for e in errors]


def empty_files(sources: list[Any], labels: list[str]) -> list[dict[str, Any]]:
    """A row for each of `sources` that holds no BUFR message (message and
    offset -1): a conversion of it is not an empty answer. (The readers of
    values report such input themselves; the header pass does not.)"""
    from ..header_frames import message_count

    return [file_row(label) for source, label in zip(sources, labels) if not message_count(source)]


def any_message(sources: list[Any]) -> bool:
    """Whether one of `sources` holds a BUFR message: looked for until one does."""
    from ..header_frames import message_count

    return any(message_count(source) for source in sources)
