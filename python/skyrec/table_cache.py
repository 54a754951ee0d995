"""Table sources kept for the life of the process, so that each table
version is loaded once however many calls (or Dask tasks) ask."""

from __future__ import annotations

import os
import threading
from collections.abc import Mapping, Sequence
from typing import Any

from .paths import checked_path
from .tables import ENVIRONMENT_VARIABLE, TableSource, find_tables

# Table sources kept for the life of the process, so that each table version
# is loaded once however many calls ask: keyed by where the tables are and
# when their files last changed.
_SOURCES: dict[tuple[Any, ...], TableSource] = {}

_SOURCES_LOCK = threading.Lock()

def _changed(path: str, names: Sequence[str]) -> tuple[int, ...]:
    stamps = []
    for name in ("", *names):
        try:
            stamps.append(os.stat(os.path.join(path, name)).st_mtime_ns)
        except OSError:
            stamps.append(-1)
    return tuple(stamps)

def cached_tables(tables: Any = None, table_dir: str | os.PathLike[str] | None = None,
                  definitions: str | os.PathLike[str] | None = None,
                  wmo_csv: str | os.PathLike[str] | None = None) -> TableSource:
    """find_tables' source for these arguments, the same one for every call
    while the table files are unchanged."""
    if tables is not None:
        return find_tables(tables, table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
    given = [(name, os.path.abspath(checked_path(name, value))) for name, value in
             (("table_dir", table_dir), ("definitions", definitions), ("wmo_csv", wmo_csv)) if value is not None]
    if len(given) == 1 and given[0][0] != "definitions":
        key: tuple[Any, ...] = (*given[0], _changed(given[0][1], ("element.table", "sequence.def")))
    else:  # a definitions root, given or found: its sources reload what fails
        key = (*given, os.environ.get(ENVIRONMENT_VARIABLE))
    with _SOURCES_LOCK:
        source = _SOURCES.get(key)
    if source is None:
        source = find_tables(table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
        with _SOURCES_LOCK:
            source = _SOURCES.setdefault(key, source)
    return source


def tables_of(options: Mapping[str, Any]) -> TableSource:
    """cached_tables of the table keywords (tables, table_dir, definitions, wmo_csv) among `options`."""
    return cached_tables(options.get("tables"), options.get("table_dir"), options.get("definitions"),
                         options.get("wmo_csv"))
