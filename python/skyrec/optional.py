"""The optional dependencies, imported when first needed with an error that
says what to install."""

from __future__ import annotations

import importlib.util
from collections.abc import Iterator
from contextlib import contextmanager
from typing import Any

# What each extra brings, as a plain install lacks it.
EXTRAS = {"numpy": "NumPy", "pandas": "NumPy and pandas", "dask": "Dask", "progress": "tqdm"}
# What the loader says when a library cannot be mapped for lack of memory.
OUT_OF_MEMORY = ("Cannot allocate memory", "failed to map segment")


class MissingExtra(ImportError):
    """An optional library that a reader or command needs is not installed;
    the message names the extra that installs it."""


def install_hint(extra: str) -> str:
    return f"pip install 'skyrec[{extra}]'"


def _out_of_memory(e: BaseException) -> bool:
    cause: BaseException | None = e
    while cause is not None:
        if isinstance(cause, MemoryError) or any(text in str(cause) for text in OUT_OF_MEMORY):
            return True
        cause = cause.__cause__ or cause.__context__
    return False


def _installed(name: str) -> bool:
    try:
        return importlib.util.find_spec(name) is not None
    except (ImportError, ValueError):
        return False


@contextmanager
def needs(what: str, extra: str) -> Iterator[None]:
    """Imports inside raise an ImportError that names `what` needs them and
    the extra that installs them, rather than a bare ModuleNotFoundError. A
    failure for lack of memory stays a MemoryError (the import is no sign that
    the package is missing), and an installed package's own failure stands."""
    try:
        yield
    except ImportError as e:
        if (e.name or "").split(".")[0] == "skyrec":
            raise  # said already by the module that needs it
        if _out_of_memory(e):
            raise MemoryError(f"not enough memory to import what {what} need") from e
        if e.name and _installed(e.name.split(".")[0]):
            raise
        detail = f"no module {e.name!r}" if e.name else str(e).strip().splitlines()[0]
        raise MissingExtra(f"{what} needs {EXTRAS[extra]} ({detail}): {install_hint(extra)}", name=e.name) from e


def pandas() -> Any:
    with needs("DataFrames", "pandas"):
        import pandas
    return pandas
