"""The optional dependencies, imported when first needed with an error that
says what to install."""

from __future__ import annotations

from collections.abc import Iterator
from contextlib import contextmanager
from typing import Any

# What each extra brings, as a plain install lacks it.
EXTRAS = {"numpy": "NumPy", "pandas": "NumPy and pandas", "dask": "Dask", "progress": "tqdm"}


def install_hint(extra: str) -> str:
    return f"pip install 'skyrec[{extra}]'"


@contextmanager
def needs(what: str, extra: str) -> Iterator[None]:
    """Imports inside raise an ImportError that names `what` needs them and
    the extra that installs them, rather than a bare ModuleNotFoundError."""
    try:
        yield
    except ImportError as e:
        if (e.name or "").split(".")[0] == "skyrec":
            raise  # said already by the module that needs it
        detail = f"no module {e.name!r}" if e.name else str(e).strip().splitlines()[0]
        raise ImportError(f"{what} needs {EXTRAS[extra]} ({detail}): {install_hint(extra)}", name=e.name) from e


def pandas() -> Any:
    with needs("DataFrames", "pandas"):
        import pandas
    return pandas
