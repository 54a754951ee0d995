"""The optional dependencies, imported when first needed with an error that
says what to install."""

from __future__ import annotations

from typing import Any


def pandas() -> Any:
    try:
        import pandas
    except ImportError as e:
        raise ImportError("DataFrames need pandas: pip install '.[pandas]' from a skyrec checkout") from e
    return pandas
