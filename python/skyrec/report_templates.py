"""The reports skyrec writes from tables by name: the sequences of Table D
WMO recommends for them, their section 1, and the keys each report must
have (the WIGOS identifier, the time and the position).

    t = skyrec.report_template("land-station")
    for row in t.rows():                  # key, unit, range, required or not
        print(row.key, row.unit, row.low, row.high, row.required)
"""

from __future__ import annotations

from collections.abc import Iterator, Mapping
from dataclasses import dataclass, field
from typing import Any, NamedTuple

from _skyrec import TableSet

from .tables import TableSource
from .templates import Element, Replication, Template, template

__all__ = ["REPORT_TEMPLATES", "ReportTemplate", "TemplateRow", "report_template"]

WIGOS = ("wigosIdentifierSeries", "wigosIssuerOfIdentifier", "wigosIssueNumber", "wigosLocalIdentifierCharacter")
TIME = ("year", "month", "day", "hour", "minute")
POSITION = ("latitude", "longitude")
# Columns that stand for several keys: split before writing.
COMPOSITE = {"wigosIdentifier": WIGOS, "time": (*TIME, "second")}


class TemplateRow(NamedTuple):
    key: str  # `key`, or `#rank#key` for a key met more than once
    name: str
    unit: str
    low: float | None
    high: float | None
    required: bool
    replicated: bool  # within a delayed replication: a level of a group


@dataclass(frozen=True)
class Slot:
    """An element of a template and the label a column names it by."""

    label: str
    element: Element


@dataclass(frozen=True)
class Delayed:
    """A delayed replication: its count comes from the data."""

    replication: Replication
    body: tuple[Slot | Delayed, ...]

    def labels(self) -> Iterator[str]:
        for node in self.body:
            if isinstance(node, Slot):
                yield node.label
            else:
                yield from node.labels()


def skeleton(plan: Template) -> tuple[Slot | Delayed, ...]:
    """The template with a fixed label per element: its key, ranked (#2#key)
    when met more than once, a delayed replication's body counted once and a
    fixed one's every pass, whatever the data repeat."""
    counts: dict[str, int] = {}
    for element in _elements(plan.items):
        counts[element.key or ""] = counts.get(element.key or "", 0) + 1
    seen: dict[str, int] = {}

    def walk(items: tuple[Element | Replication, ...]) -> list[Slot | Delayed]:
        out: list[Slot | Delayed] = []
        for item in items:
            if isinstance(item, Element):
                if item.key is not None and item.kind not in ("marker", "associated", "reference"):
                    rank = seen[item.key] = seen.get(item.key, 0) + 1
                    out.append(Slot(item.key if counts[item.key] == 1 else f"#{rank}#{item.key}", item))
                else:
                    out.append(Slot("", item))
            elif item.count is None:
                out.append(Delayed(item, tuple(walk(item.body))))
            else:
                for _ in range(item.count):
                    out.extend(walk(item.body))
        return out

    return tuple(walk(plan.items))


def _elements(items: tuple[Element | Replication, ...]) -> Iterator[Element]:
    for item in items:
        if isinstance(item, Element):
            if item.key is not None and item.kind not in ("marker", "associated", "reference"):
                yield item
        else:
            for _ in range(item.count or 1):
                yield from _elements(item.body)


@dataclass(frozen=True)
class ReportTemplate:
    name: str
    title: str
    descriptors: tuple[int, ...]
    header: Mapping[str, int]
    required: tuple[str, ...] = field(default=(*WIGOS, *TIME, *POSITION))

    def layout(self, *, tables: TableSet | TableSource | None = None, **table_options: Any) -> Template:
        return template(self.descriptors, tables=tables, **{**self.header, **table_options})

    def rows(self, *, tables: TableSet | TableSource | None = None, **table_options: Any) -> list[TemplateRow]:
        """Every value a subset takes, a delayed replication's body once."""
        out: list[TemplateRow] = []
        _rows(skeleton(self.layout(tables=tables, **table_options)), set(self.required), False, out)
        return out


def _rows(nodes: tuple[Slot | Delayed, ...], required: set[str], replicated: bool, out: list[TemplateRow]) -> None:
    for node in nodes:
        if isinstance(node, Delayed):
            _rows(node.body, required, True, out)
        elif node.label:
            e = node.element
            first = node.label.removeprefix("#1#")
            out.append(TemplateRow(node.label, e.name, e.unit, e.low, e.high, first in required, replicated))


_MASTER = {"masterTablesVersionNumber": 39}
REPORT_TEMPLATES: dict[str, ReportTemplate] = {t.name: t for t in (
    ReportTemplate("land-station", "WIGOS land station: SYNOP with hourly supplementary data (301150 307096)",
                   (301150, 307096), {"dataCategory": 0, "internationalDataSubCategory": 0, **_MASTER}),
    ReportTemplate("upper-air", "Radiosonde sounding, TEMP of higher precision with WIGOS identifier (309057)",
                   (309057,), {"dataCategory": 2, "internationalDataSubCategory": 4, **_MASTER}),
    ReportTemplate("drifting-buoy", "WIGOS drifting buoy (301150 315009)", (301150, 315009),
                   {"dataCategory": 1, "internationalDataSubCategory": 25, **_MASTER}),
)}


def report_template(name: str | ReportTemplate) -> ReportTemplate:
    """A bundled report template by name (REPORT_TEMPLATES lists them)."""
    if isinstance(name, ReportTemplate):
        return name
    if name not in REPORT_TEMPLATES:
        raise KeyError(f"no report template {name!r}; there are {', '.join(REPORT_TEMPLATES)}")
    return REPORT_TEMPLATES[name]
