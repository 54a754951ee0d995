"""Tables to BUFR: a row per subset (or, with `group`, a group of rows per
subset, its rows the passes of a delayed replication), checked whole
before anything is written.

    messages = skyrec.from_dataframe(frame, "land-station", units={"t2m": "degC"})
    soundings = skyrec.from_dataframe(levels, "upper-air", group="launch")
    skyrec.write_bufr("out.bufr", messages)
"""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from functools import partial
from typing import TYPE_CHECKING, Any, Literal

from _skyrec import TableSet

from . import _native
from .encoding import EncodeError
from .frame_mapping import ColumnMapping, InvalidFrame, Problem, load_mapping
from .frame_values import element_values, time_values, wigos_values
from .header import DEFAULT_HEADER, KEYS, header_fields, merged
from .report_templates import COMPOSITE, Delayed, ReportTemplate, Slot, report_template, skeleton
from .tables import TableSource
from .templates import Element, Template, writing_tables
from .templates import template as layout_of

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["Messages", "from_dataframe"]

OnInvalid = Literal["raise", "missing", "skip-row"]
_TYPICAL = ("typicalYear", "typicalMonth", "typicalDay", "typicalHour", "typicalMinute", "typicalSecond")


class Messages(list[bytes]):
    """The messages written, and the problems of the rows written missing or left out."""

    problems: list[Problem]


class _Place:
    """Where a column's value goes in the values of a subset."""

    def __init__(self, label: str):
        self.label = label


class _Layout:
    """Every element of a template by the label a column names it by, and
    the delayed replication it lies in (None outside one)."""

    def __init__(self, plan: Template):
        self.nodes = skeleton(plan)
        self.found: dict[str, tuple[Element, Delayed | None]] = {}
        self._index(self.nodes, None)

    def _index(self, nodes: tuple[Slot | Delayed, ...], within: Delayed | None) -> None:
        for node in nodes:
            if isinstance(node, Delayed):
                self._index(node.body, within or node)
            elif node.label:
                self.found[node.label] = (node.element, within)

    def label(self, name: str) -> str | None:
        """The label of a key, `#1#key` or `#n#key`; None for none of the template."""
        if name in self.found:
            return name
        if name.startswith("#1#") and name[3:] in self.found:
            return name[3:]
        if f"#1#{name}" in self.found:
            return f"#1#{name}"
        return None

    def element(self, label: str) -> Element:
        return self.found[label][0]


def from_dataframe(frame: Any, template: str | ReportTemplate | Sequence[int], *,
                   mapping: ColumnMapping | Mapping[str, Any] | str | os.PathLike[str] | None = None,
                   units: Mapping[str, str] | None = None, header: Mapping[str, Any] | None = None,
                   group: str | Sequence[str] | None = None, compressed: bool = False,
                   on_invalid: OnInvalid = "raise", per_message: int | None = 1,
                   tables: TableSet | TableSource | None = None, table_dir: str | os.PathLike[str] | None = None,
                   definitions: str | os.PathLike[str] | None = None,
                   wmo_csv: str | os.PathLike[str] | None = None) -> Messages:
    """The BUFR messages of a table (a pandas DataFrame, or anything with
    to_pandas()), `per_message` subsets each (None: all in one).

    `template` is a bundled report's name (report_template), a
    ReportTemplate or a list of descriptors. Columns are named by keys
    (`airTemperature`, `#2#pressure`, `time`, `wigosIdentifier`) or renamed
    by `mapping`; `units` gives a column's unit by name (pint). With `group`
    (a column or several), the rows of a group make one subset: columns of
    a delayed replication's body give a pass per row, the others come from
    the group's first row.

    Every problem is found first: on_invalid="raise" raises InvalidFrame
    with all of them, "missing" writes the bad values missing, "skip-row"
    leaves their rows out. A column that cannot be written at all (a key
    the template lacks, an unknown unit, a required key without a column)
    raises, whatever on_invalid is. The problems of rows written are in
    the result's `problems`."""
    if on_invalid not in ("raise", "missing", "skip-row"):
        raise ValueError(f'on_invalid must be "raise", "missing" or "skip-row", not {on_invalid!r}')
    if per_message is not None and per_message < 1:
        raise ValueError(f"per_message must be at least 1, not {per_message}")
    report = template if isinstance(template, (str, ReportTemplate)) else None
    chosen = report_template(report) if report is not None else \
        ReportTemplate("", "", tuple(int(d) for d in template), {}, ())  # type: ignore[union-attr]
    full = merged(merged(DEFAULT_HEADER, chosen.header), header)
    table_set = writing_tables(tables, table_dir, definitions, wmo_csv, None, full)
    layout = _Layout(layout_of(chosen.descriptors, tables=table_set))
    table = frame.to_pandas() if hasattr(frame, "to_pandas") else frame
    groups = [group] if isinstance(group, str) else list(group or [])
    problems: list[Problem] = []
    values = _columns(table, layout, load_mapping(mapping, units), groups, chosen.required, problems)
    problems.sort(key=_order(table))
    if any(p.row is None for p in problems) or (problems and on_invalid == "raise"):
        raise InvalidFrame(problems)
    keep = None
    if on_invalid == "skip-row" and problems:
        bad = {p.row for p in problems}
        keep = [i for i, row in enumerate(table.index.tolist()) if row not in bad]
    subsets, firsts = _subsets(table, layout, values, groups, keep)
    fields = _header_fields(full, header, compressed, values, firsts)
    out = Messages()
    out.problems = problems
    step = per_message or max(1, len(subsets))
    for start in range(0, len(subsets), step):
        try:
            out.append(bytes(_native.encode_values(chosen.descriptors, subsets[start:start + step], table_set,
                                                   fields(start), None, False)))
        except ValueError as e:
            raise EncodeError(f"the message from row {table.index[firsts[start]]!r}: {e}") from None
    return out


def _columns(table: pd.DataFrame, layout: _Layout, mapping: ColumnMapping, groups: list[str],
             required: Sequence[str], problems: list[Problem]) -> dict[str, tuple[str, list[Any]]]:
    """Per label, the column it comes from and its values (None missing)."""
    import pandas as pd

    out: dict[str, tuple[str, list[Any]]] = {}
    for column in table.columns:
        name = str(column)
        key = mapping.keys.get(name, name)
        series = table[column]
        label = layout.label(key)
        if key in COMPOSITE:
            parts = time_values(series, name, problems) if key == "time" else wigos_values(series, name, problems)
            for part, values in parts.items():
                found = layout.label(part)
                if found is not None:
                    _add(out, found, name, values, None, layout, problems)
        elif label is not None:
            _add(out, label, name, series, mapping.units.get(name), layout, problems)
        elif name not in groups:
            problems.append(Problem(None, name, None, f"{key!r} is no key of the template"))
    for key, value in mapping.constants.items():
        label = layout.label(key)
        if label is None:
            problems.append(Problem(None, key, value, f"constant {key!r} is no key of the template"))
        else:
            _add(out, label, key, pd.Series([value] * len(table), index=table.index, dtype=object), None, layout,
                 problems, constant=True)
    for name in mapping.units:
        if name not in table.columns:
            problems.append(Problem(None, name, mapping.units[name], "a unit for a column the table lacks"))
    flagged = {(p.row, p.column) for p in problems}
    absent: dict[tuple[Any, str], list[str]] = {}  # one problem per cell, naming the keys it lacks
    for key in required:
        label = layout.label(key)
        if label is None or label not in out:
            problems.append(Problem(None, key, None, "a required key without a column"))
            continue
        name, column_values = out[label]
        for row, value in zip(table.index.tolist(), column_values):
            if value is None and (row, name) not in flagged:
                absent.setdefault((row, name), []).append(key)
    problems.extend(Problem(row, name, None, f"required: {', '.join(keys)}") for (row, name), keys in absent.items())
    return out


def _order(table: pd.DataFrame) -> Any:
    """Whole columns first, then by row and column as the table has them."""
    rows = {row: i for i, row in enumerate(table.index.tolist())}
    columns = {str(c): i for i, c in enumerate(table.columns)}
    return lambda p: (p.row is not None, rows.get(p.row, -1), columns.get(p.column, len(columns)))


def _add(out: dict[str, tuple[str, list[Any]]], label: str, column: str, series: pd.Series, unit: str | None,
         layout: _Layout, problems: list[Problem], constant: bool = False) -> None:
    element = layout.element(label)
    if element.kind == "factor":
        problems.append(Problem(None, column, None, "replication counts come from the data, not from a column"))
        return
    if label in out:
        problems.append(Problem(None, column, None, f"{label!r} comes from column {out[label][0]!r} too"))
        return
    mine: list[Problem] = []
    values = element_values(series, element, unit, column, mine)
    if constant:  # a bad constant spoils every row alike
        mine = [p._replace(row=None, why=f"the constant: {p.why}") for p in mine[:1]]
    problems.extend(mine)
    if values is not None:
        out[label] = (column, values)


def _emit(nodes: tuple[Slot | Delayed, ...], value: Any, out: list[Any], given: set[str],
          passes: Mapping[int, list[Any]]) -> None:
    """The values of a subset in expanded order: `value(label)` for each
    element; a delayed replication once when a column fills its body, not
    at all when none does, or a pass per value of `passes` (by id)."""
    for node in nodes:
        if isinstance(node, Slot):
            out.append(value(node.label) if node.label in given else None)
        elif id(node) in passes:
            rows = passes[id(node)]
            out.append(len(rows))
            for one in rows:
                _emit(node.body, one, out, given, passes)
        else:
            count = int(any(label in given for label in node.labels()))
            out.append(count)
            if count:
                _emit(node.body, value, out, given, passes)


def _subsets(table: pd.DataFrame, layout: _Layout, values: dict[str, tuple[str, list[Any]]], groups: list[str],
             keep: list[int] | None) -> tuple[list[list[Any]], list[int]]:
    """The subsets' values in expanded order, and the row each starts from."""
    rows = keep if keep is not None else list(range(len(table)))
    columns = {label: column_values for label, (_, column_values) in values.items()}
    if groups:
        return _grouped(table, layout, columns, groups, rows)
    # Every row has the same layout: worked out once, then filled by position.
    base: list[Any] = []
    _emit(layout.nodes, _Place, base, set(columns), {})
    places = [(i, columns[v.label]) for i, v in enumerate(base) if isinstance(v, _Place)]
    base = [None if isinstance(v, _Place) else v for v in base]
    subsets = []
    for row in rows:
        subset = base.copy()
        for i, column_values in places:
            subset[i] = column_values[row]
        subsets.append(subset)
    return subsets, rows


def _cell(columns: dict[str, list[Any]], label: str, row: int) -> Any:
    return columns[label][row]


def _grouped(table: pd.DataFrame, layout: _Layout, columns: dict[str, list[Any]], groups: list[str],
             rows: list[int]) -> tuple[list[list[Any]], list[int]]:
    """A subset per group: the level columns a pass per row of their
    replication, the others the group's first row."""
    missing = [g for g in groups if g not in table.columns]
    if missing:
        raise InvalidFrame([Problem(None, g, None, "a group column that the table lacks") for g in missing])
    levels: dict[int, list[str]] = {}  # a replication's id: the columns of its body
    for label in columns:
        within = layout.found[label][1]
        if within is not None:
            levels.setdefault(id(within), []).append(label)
    keys = table[groups].astype(object).where(table[groups].notna(), None).itertuples(index=False, name=None)
    members: dict[Any, list[int]] = {}
    kept = set(rows)
    for i, key in enumerate(keys):
        if i in kept:
            members.setdefault(key, []).append(i)
    subsets, firsts = [], []
    given = set(columns)
    for group_rows in members.values():
        first = group_rows[0]

        # A row passes through the replications whose body it gives a value of.
        passes = {level: [partial(_cell, columns, row=i) for i in group_rows
                          if any(columns[label][i] is not None for label in body)]
                  for level, body in levels.items()}
        subset: list[Any] = []
        _emit(layout.nodes, partial(_cell, columns, row=first), subset, given, passes)
        subsets.append(subset)
        firsts.append(first)
    return subsets, firsts


def _header_fields(full: dict[str, int], header: Mapping[str, Any] | None, compressed: bool,
                   values: dict[str, tuple[str, list[Any]]], firsts: list[int]) -> Any:
    """Section 1 of the message starting at a subset: the typical time its
    first subset's, unless the header sets it."""
    full = {**full, "compressedData": int(compressed)}
    fixed = header_fields(full)
    if header and any(k.startswith("typical") for k in header):
        return lambda start: fixed
    parts = [values.get(k, values.get(f"#1#{k}", ("", None)))[1] for k in ("year", "month", "day", "hour",
                                                                            "minute", "second")]
    places = [KEYS.index(k) for k in _TYPICAL]

    def fields(start: int) -> tuple[int, ...]:
        if not firsts:
            return fixed
        out = list(fixed)
        for place, part in zip(places, parts):
            value = part[firsts[start]] if part is not None else None
            if value is not None:
                out[place] = int(value)
        return tuple(out)

    return fields
