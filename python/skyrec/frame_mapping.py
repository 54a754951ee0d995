"""How the columns of a table become the keys of a report: a mapping
(a TOML or JSON file, or the same as a dict) and the problems found in
the table, each as (row, column, value, why).

    # stations.toml
    [columns]
    station = "wigosIdentifier"                      # 0-20000-0-06260
    obs_time = "time"                                # ISO 8601, UTC when naive
    t2m = { key = "airTemperature", unit = "degC" }
    ff = { key = "windSpeed", unit = "kt" }
    [constants]
    heightOfStationGroundAboveMeanSeaLevel = 1.9

A column named by a key (`airTemperature`, `#2#pressure`) needs no entry.
"""

from __future__ import annotations

import json
import os
import tomllib
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any, NamedTuple

__all__ = ["ColumnMapping", "InvalidFrame", "Problem", "load_mapping"]


class Problem(NamedTuple):
    """What keeps a value (or, with row None, a whole column) from being written."""

    row: Any  # the frame's index label, None for the whole column
    column: str
    value: Any
    why: str

    def __str__(self) -> str:
        where = "every row" if self.row is None else f"row {self.row}"
        value = "" if self.value is None else f" {self.value!r}:"
        return f"{where}, column {self.column!r}:{value} {self.why}"


class InvalidFrame(ValueError):
    """The problems of a table, all of them, found before anything was written."""

    def __init__(self, problems: list[Problem]):
        self.problems = problems
        shown = "\n".join(f"  {p}" for p in problems[:50])
        more = f"\n  ... and {len(problems) - 50} more" if len(problems) > 50 else ""
        super().__init__(f"{len(problems)} problem(s) in the table:\n{shown}{more}")


@dataclass(frozen=True)
class ColumnMapping:
    """Per column its key and unit; constants by key."""

    keys: Mapping[str, str] = field(default_factory=dict)
    units: Mapping[str, str] = field(default_factory=dict)
    constants: Mapping[str, Any] = field(default_factory=dict)


def load_mapping(mapping: ColumnMapping | Mapping[str, Any] | str | os.PathLike[str] | None,
                 units: Mapping[str, str] | None = None) -> ColumnMapping:
    """A ColumnMapping from a file (.toml or .json), a dict of the same
    shape, or none; `units` (column -> unit) over the file's units."""
    if isinstance(mapping, ColumnMapping):
        base = mapping
    else:
        if isinstance(mapping, (str, os.PathLike)):
            mapping = _read(os.fspath(mapping))
        base = _parsed(mapping or {})
    if not units:
        return base
    return ColumnMapping(base.keys, {**base.units, **units}, base.constants)


def _read(path: str) -> dict[str, Any]:
    try:
        with open(path, "rb") as f:
            if path.lower().endswith(".json"):
                loaded = json.load(f)
            else:
                loaded = tomllib.load(f)
    except (tomllib.TOMLDecodeError, json.JSONDecodeError, UnicodeDecodeError) as e:
        raise ValueError(f"{path}: not a mapping file: {e}") from None
    if not isinstance(loaded, dict):
        raise ValueError(f"{path}: a mapping file holds a table of 'columns' and 'constants'")
    return loaded


def _parsed(raw: Mapping[str, Any]) -> ColumnMapping:
    unknown = set(raw) - {"columns", "constants"}
    if unknown:
        raise ValueError(f"a mapping has 'columns' and 'constants', not {', '.join(map(repr, sorted(unknown)))}")
    keys: dict[str, str] = {}
    units: dict[str, str] = {}
    for column, target in dict(raw.get("columns", {})).items():
        if isinstance(target, str):
            keys[column] = target
        elif isinstance(target, Mapping) and set(target) <= {"key", "unit"} and target:
            keys[column] = str(target.get("key", column))
            if "unit" in target:
                units[column] = str(target["unit"])
        else:
            raise ValueError(f"column {column!r}: give a key, or a table of 'key' and 'unit', not {target!r}")
    return ColumnMapping(keys, units, dict(raw.get("constants", {})))
