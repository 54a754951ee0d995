"""The optional dependencies, imported when first needed with an error that
says what to install."""

from __future__ import annotations

import importlib.util
from typing import Any

# What the loader says when a library cannot be mapped for lack of memory.
OUT_OF_MEMORY = ("Cannot allocate memory", "failed to map segment")


def _import_failed(e: ImportError, name: str) -> BaseException:
    """The error to raise for a failed import: MemoryError when memory ran
    out (the import is no sign that the package is missing), the import's
    own error when the package is installed, else what to install."""
    cause: BaseException | None = e
    while cause is not None:
        if isinstance(cause, MemoryError) or any(text in str(cause) for text in OUT_OF_MEMORY):
            return MemoryError(f"not enough memory to import {name}")
        cause = cause.__cause__ or cause.__context__
    try:
        installed = importlib.util.find_spec(name) is not None
    except (ImportError, ValueError):
        installed = False
    if installed:
        return e
    return ImportError(f"DataFrames need {name}: pip install '.[{name}]' from a skyrec checkout")


def pandas() -> Any:
    try:
        import pandas
    except ImportError as e:
        raise _import_failed(e, "pandas") from e
    return pandas
