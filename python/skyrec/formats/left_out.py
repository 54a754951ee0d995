"""The messages a conversion leaves out, as it reports them: dicts of
file, message, offset, error and where."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    import pandas as pd


def error_row(file: str, error: Any) -> dict[str, Any]:
    """A message left out, as conversions report it."""
    return {"file": file, "message": int(error.index), "offset": int(error.offset), "error": error.reason,
            "where": error.where}


def message_errors(errors: list[Any]) -> list[dict[str, Any]]:
    """The rows of read_pieces' MessageErrors."""
    return [error_row(e.file or "<buffer>", e) for e in errors]


def read_errors(errors: list[Any]) -> list[dict[str, Any]]:
    """The rows of a reader's MessageErrors, a buffer's named <buffer>."""
    return [error_row(e.file if e.file is not None else "<buffer>", e) for e in errors]


def observation_errors(frame: pd.DataFrame) -> list[dict[str, Any]]:
    return read_errors(frame.attrs["errors"])


NO_MESSAGES = "no BUFR messages found"


def empty_files(sources: list[Any], labels: list[str]) -> list[dict[str, Any]]:
    """A row for each of `sources` that holds no BUFR message (message and
    offset -1): a conversion of it is not an empty answer."""
    from ..header_frames import message_count

    return [{"file": label, "message": -1, "offset": -1, "error": NO_MESSAGES, "where": ""}
            for source, label in zip(sources, labels) if not message_count(source)]
