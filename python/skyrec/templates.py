"""What a subset of some descriptors takes, from the tables: every element
with its key and rank, name, unit, scale, reference, width and the range it
can hold, and where the replications are.

    t = skyrec.template([307080], table_dir=...)
    for entry in t.entries():             # replications laid out once
        print(entry.label, entry.unit, entry.low, entry.high)

skyrec.encode lays subsets given as mappings out by it: each element takes
`#rank#key`, `key` (its first occurrence, or a list, one value per
occurrence) or is missing; a delayed replication repeats as often as the
longest list given for an element of its body asks (once for a single value
of a key not met before it), or once per mapping of a list of mappings
given under its factor's key.
"""

from __future__ import annotations

import os
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from typing import Any

from _skyrec import TableSet

from .tables import TableSource, find_tables

__all__ = ["Element", "Replication", "Template", "template"]


@dataclass(frozen=True, slots=True)
class Element:
    """One value of a subset: an element, an associated field, a marker, a
    205YYY text or a reference that 203YYY defines."""

    descriptor: int
    key: str | None  # None for markers, texts, associated fields and elements without one
    name: str
    unit: str
    scale: int
    reference: int
    width: int  # bits
    kind: str  # "number", "code", "text", "marker", "associated", "factor" or "reference"
    depth: int  # replications it lies within

    @property
    def low(self) -> float | None:
        """The least value the field holds (None for texts and markers)."""
        if self.kind in ("text", "marker"):
            return None
        return float(self.reference / 10 ** self.scale)

    @property
    def high(self) -> float | None:
        """The largest value the field holds (all ones is missing, but for class 31)."""
        if self.kind in ("text", "marker"):
            return None
        top = (1 << self.width) - (1 if self.descriptor // 1000 % 100 == 31 else 2) + self.reference
        return float(top / 10 ** self.scale)


@dataclass(frozen=True, slots=True)
class Replication:
    """A replication: `count` passes for a fixed one, else a delayed one whose
    count `factor` gives (itself an element of the subset)."""

    descriptor: int
    count: int | None
    factor: Element | None
    body: tuple[Element | Replication, ...]
    depth: int


@dataclass(frozen=True, slots=True)
class Template:
    descriptors: tuple[int, ...]
    items: tuple[Element | Replication, ...]
    ranked: bool = field(default=True)  # False when a bitmap makes the layout depend on the data

    def entries(self) -> Iterator[Element]:
        """Every element in order, each replication's body once."""
        yield from _entries(self.items)

    def __repr__(self) -> str:
        return f"Template(descriptors={list(self.descriptors)}, values={sum(1 for _ in self.entries())})"


def _entries(items: Sequence[Element | Replication]) -> Iterator[Element]:
    for item in items:
        if isinstance(item, Element):
            yield item
        else:
            if item.factor is not None:
                yield item.factor
            yield from _entries(item.body)


class _Builder:
    """The walk of src/encode over descriptors without data: the operators
    that change widths and scales, and those that take a value."""

    def __init__(self, tables: TableSet):
        self.tables = tables
        self.width_change = 0
        self.scale_change = 0
        self.reference_multiplier = 1
        self.character_width = 0
        self.associated = 0
        self.local_width = 0
        self.new_reference = 0
        self.ranked = True

    def element(self, code: int, depth: int, kind: str | None = None) -> Element:
        e = self.tables.get_element(code)
        if e is None:
            raise ValueError(f"element {code:06d} is not in the tables")
        unit = e.unit
        key = e.abbreviation or None
        if self.new_reference:
            return Element(code, key, e.name, unit, 0, -(1 << (self.new_reference - 1)) + 1,
                           self.new_reference, "reference", depth)
        if unit == "CCITT IA5":
            width = self.character_width or e.width
            return Element(code, key, e.name, unit, 0, 0, width, "text", depth)
        coded = unit.strip().lower().startswith(("code table", "flag table"))
        width, scale, reference = e.width, e.scale, e.reference
        if self.local_width:
            width, self.local_width = self.local_width, 0
        elif not coded:
            width = max(0, width + self.width_change)
        if not coded:
            scale += self.scale_change
            reference *= self.reference_multiplier
        return Element(code, key, e.name, unit, scale, reference, width, kind or ("code" if coded else "number"),
                       depth)

    def walk(self, codes: Sequence[int], depth: int) -> list[Element | Replication]:
        out: list[Element | Replication] = []
        i = 0
        while i < len(codes):
            code = codes[i]
            f, x, y = code // 100000, code // 1000 % 100, code % 1000
            if f == 0:
                if self.associated and x != 31 and not self.new_reference:
                    out.append(Element(999999, None, "associatedField", "", 0, 0, self.associated, "associated",
                                       depth))
                out.append(self.element(code, depth))
                i += 1
            elif f == 1:
                body_start = i + 1 if y else i + 2
                factor = None if y else self.element(codes[i + 1], depth, "factor")
                body = self.walk(codes[body_start:body_start + x], depth + 1)
                out.append(Replication(code, y or None, factor, tuple(body), depth))
                i = body_start + x
            elif f == 2:
                out.extend(self.operator(code, x, y % 256, depth))
                i += 1
            else:
                sequence = self.tables.get_sequence(code)
                if sequence is None:
                    raise ValueError(f"sequence {code:06d} is not in the tables")
                out.extend(self.walk(sequence.members, depth))
                i += 1
        return out

    def operator(self, code: int, x: int, y: int, depth: int) -> list[Element]:
        if x == 1:
            self.width_change = y - 128 if y else 0
        elif x == 2:
            self.scale_change = y - 128 if y else 0
        elif x == 3:
            self.new_reference = 0 if y == 255 else y
        elif x == 4:
            self.associated = y
        elif x == 5 and y:
            return [Element(code, None, "text", "CCITT IA5", 0, 0, 8 * y, "text", depth)]
        elif x == 6:
            self.local_width = y
        elif x == 7:
            self.scale_change, self.width_change = (y, (10 * y + 2) // 3) if y else (0, 0)
            self.reference_multiplier = 10 ** y
        elif x == 8:
            self.character_width = 8 * y
        elif (x in (22, 36, 62) and y == 0) or (x in (23, 24, 25, 32) and y != 255) or \
                x in (26, 27, 29, 30, 31, 33, 34, 35, 37, 38, 39, 40, 41, 42):
            return [Element(code, None, "operator", "", 0, 0, 0, "marker", depth)]
        elif x in (23, 24, 25, 32):
            self.ranked = False  # the values a bitmap chooses
        return []


def template(descriptors: Sequence[int], *, tables: TableSet | TableSource | None = None,
             table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
             wmo_csv: str | os.PathLike[str] | None = None, master_version: int | None = None,
             **header: Any) -> Template:
    """The Template of `descriptors` in the tables chosen as the readers
    choose them (for a definitions tree or the bundle: by `master_version`,
    default the newest, and the header's centre and local version)."""
    table_set = writing_tables(tables, table_dir, definitions, wmo_csv, master_version, header)
    builder = _Builder(table_set)
    items = builder.walk(list(descriptors), 0)
    return Template(tuple(descriptors), tuple(items), builder.ranked)


def writing_tables(tables: TableSet | TableSource | None, table_dir: Any, definitions: Any, wmo_csv: Any,
                   master_version: int | None, header: dict[str, Any]) -> TableSet:
    """The tables a message of this header is written with."""
    if isinstance(tables, TableSet):
        return tables
    source = find_tables(tables, table_dir=table_dir, definitions=definitions, wmo_csv=wmo_csv)
    from .header import header_message

    return source.for_message(header_message(header, master_version))
