"""What the pictures share: matplotlib without a display, the rows they
draw and the units of their keys."""

from __future__ import annotations

import warnings
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np

from ..formats.extras import LeftOut, need
from ..observations import read_observations
from ..paths import expand_sources
from ..reader import read_messages
from ..table_cache import tables_of


def pyplot() -> Any:
    matplotlib = need("matplotlib", "plot", "Pictures")
    if matplotlib.get_backend().lower() not in ("agg", "module://matplotlib_inline.backend_inline"):
        matplotlib.use("Agg")  # files, not windows; a notebook keeps its own
    return need("matplotlib.pyplot", "plot", "Pictures")


def rows(sources: Any, keys: Sequence[str], required: Sequence[str], filters: Mapping[str, Any] | None,
         tables: Mapping[str, Any]) -> tuple[Any, list[Any]]:
    """The observation rows of `keys`, the files read, and the table source."""
    items = expand_sources(sources)
    source = tables_of(tables)
    frame = read_observations(items, list(keys), filters=filters, required_columns=list(required), tables=source)
    for file, error in zip(frame.attrs["error_files"], frame.attrs["errors"]):
        warnings.warn(f"{file}: {error}", LeftOut, stacklevel=3)
    if not len(frame):
        raise ValueError(f"no observation of {', '.join(required)} in {', '.join(map(str, items))}")
    return frame, items


def unit_of(items: Sequence[Any], key: str, tables: Mapping[str, Any]) -> str:
    """The unit of `key` ("#n#key" too) in the first message that has it."""
    plain = key.rsplit("#", 1)[-1]
    source = tables_of(tables)
    for item in items:
        for decoded in read_messages(item, tables=source, output="columns"):
            if decoded.columns is None:
                continue
            found = np.flatnonzero(decoded.columns.key == plain)
            if len(found):
                return str(decoded.columns.unit[found[0]])
    return ""


def finite(values: Any) -> np.ndarray:
    return np.asarray(values, dtype=float)
