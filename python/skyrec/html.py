"""A Decoded message as an HTML tree for Jupyter: its sections, then its
subsets, each value with its descriptor, name, value, unit and meaning.
Small messages open; large ones closed, and cut after MAX_SUBSETS subsets
and MAX_VALUES values, saying how many more there are."""

from __future__ import annotations

import math
from html import escape
from typing import Any, Protocol

from _skyrec import BufrMessage


class Decoded(Protocol):
    """What is shown of a skyrec.reader.Decoded (which imports this module)."""

    @property
    def index(self) -> int: ...
    @property
    def offset(self) -> int: ...
    @property
    def length(self) -> int: ...
    @property
    def message(self) -> BufrMessage | None: ...
    @property
    def error(self) -> Any: ...
    @property
    def subsets(self) -> list[Any]: ...

OPEN_VALUES = 200  # messages of at most this many values show open
MAX_SUBSETS = 50
MAX_VALUES = 2000
HEADER_FIELDS = ("edition", "originating_centre", "originating_subcentre", "update_sequence_number", "data_category",
                 "international_data_subcategory", "local_data_subcategory", "master_table_number",
                 "master_tables_version_number", "local_tables_version_number", "number_of_subsets", "observed_data",
                 "compressed_data")
STYLE = "font-family: monospace; font-size: 12px"


def _shown(value: Any) -> str:
    if value is None or (isinstance(value, float) and math.isnan(value)):
        return "MISSING"
    if isinstance(value, float):
        return f"{value:.15g}"
    return str(value)


def _details(summary: str, body: str, is_open: bool) -> str:
    return f"<details{' open' if is_open else ''}><summary>{summary}</summary>{body}</details>"


def _rows(subset: Any) -> list[tuple[int, str, str, str, str]]:
    """(descriptor, name, value, unit, meaning) of a subset's values: a list
    of DecodedValue (no units there) or Columns."""
    if isinstance(subset, list):
        return [(v.descriptor, v.name, _shown(v.raw_text if v.raw_text is not None else v.raw_value), "",
                 v.raw_meaning or "") for v in subset]
    texts = subset.text
    return [(int(d), str(n), _shown(t if t is not None else v), str(u), m or "")
            for d, n, v, t, u, m in zip(subset.descriptor.tolist(), subset.name, subset.value.tolist(), texts,
                                        subset.unit, subset.meaning)]


def _table(rows: list[tuple[int, str, str, str, str]]) -> str:
    cells = "".join(f"<tr><td>{d:06d}</td><td>{escape(n)}</td><td style='text-align:right'>{escape(v)}</td>"
                    f"<td>{escape(u)}</td><td>{escape(m)}</td></tr>" for d, n, v, u, m in rows)
    return ("<table><tr><th>descriptor</th><th>name</th><th>value</th><th>unit</th><th>meaning</th></tr>"
            f"{cells}</table>")


def _sections(item: Decoded) -> str:
    message = item.message
    assert message is not None
    fields = "".join(f"<tr><td>{name}</td><td>{escape(str(getattr(message, name)))}</td></tr>"
                     for name in HEADER_FIELDS)
    time = "{:04d}-{:02d}-{:02d}T{:02d}:{:02d}:{:02d}".format(
        *(getattr(message, f"typical_{p}", 0) for p in ("year", "month", "day", "hour", "minute", "second")))
    descriptors = " ".join(f"{d:06d}" for d in message.unexpanded_descriptors)
    return (_details("section 1: identification", f"<table>{fields}<tr><td>typical time</td><td>{time}</td></tr>"
                     "</table>", False)
            + _details("section 3: descriptors", f"<p>{escape(descriptors)}</p>", False))


def decoded_html(item: Decoded) -> str:
    """The HTML of `item`."""
    head = f"message {item.index} at offset {item.offset} ({item.length} bytes)"
    if item.error is not None:
        return f"<div style='{STYLE}'><b>{escape(head)}</b>: {escape(str(item.error.reason))}</div>"
    if item.message is None:
        return f"<div style='{STYLE}'><b>{escape(head)}</b></div>"
    subsets = item.subsets
    total = sum(len(s) for s in subsets)
    small = total <= OPEN_VALUES
    parts, shown = [], 0
    for number, subset in enumerate(subsets[:MAX_SUBSETS]):
        rows = _rows(subset)[: max(0, MAX_VALUES - shown)]
        shown += len(rows)
        parts.append(_details(f"subset {number} ({len(subset)} values)", _table(rows), small))
        if shown >= MAX_VALUES:
            break
    if shown < total:
        parts.append(f"<p>... {total - shown} more values not shown ({len(subsets)} subsets in all)</p>")
    data = _details(f"section 4: {len(subsets)} subsets, {total} values", "".join(parts), small)
    return f"<div style='{STYLE}'><b>{escape(head)}</b>{_sections(item)}{data}</div>"
