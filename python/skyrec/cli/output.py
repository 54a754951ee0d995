"""Writing rows: aligned text, JSON lines or CSV, and the header fields of a
message as every subcommand shows them."""

from __future__ import annotations

import csv
import json
from collections.abc import Iterable, Sequence
from functools import lru_cache
from itertools import zip_longest
from typing import Any, TextIO

from _skyrec import BufrMessage

Record = dict[str, Any]
GAP = "  "


@lru_cache(maxsize=4096)
def code_text(code: int) -> str:
    """A descriptor as it is written in the tables: 012101."""
    return f"{code:06d}"


def number_text(value: float) -> str:
    """A decoded number without the noise of binary scaling: 276.15, not
    276.15000000000003 (15 significant digits are more than any BUFR field has)."""
    if value.is_integer() and abs(value) < 1e15:
        return str(int(value))
    return f"{value:.15g}"


def json_number(value: float) -> int | float:
    return int(value) if value.is_integer() and abs(value) < 1e15 else float(f"{value:.15g}")


def typical_time(m: BufrMessage) -> str:
    return (f"{m.typical_year:04d}-{m.typical_month:02d}-{m.typical_day:02d}T"
            f"{m.typical_hour:02d}:{m.typical_minute:02d}:{m.typical_second:02d}")


def header_record(m: BufrMessage) -> Record:
    """The header fields of a message, as ls lists them."""
    return {
        "edition": m.edition,
        "centre": m.originating_centre,
        "subcentre": m.originating_subcentre,
        "category": m.data_category,
        "subcategory": m.international_data_subcategory,
        "local_subcategory": m.local_data_subcategory,
        "subsets": m.number_of_subsets,
        "compressed": m.compressed_data,
        "observed": m.observed_data,
        "time": typical_time(m),
        "master_table": m.master_table_number,
        "master_version": m.master_tables_version_number,
        "local_version": m.local_tables_version_number,
        "descriptors": [code_text(code) for code in m.unexpanded_descriptors],
    }


def first_codes(codes: Sequence[str], shown: int = 4) -> str:
    more = len(codes) - shown
    return " ".join(codes[:shown]) + (f" (+{more})" if more > 0 else "")


class Column:
    """A column of fixed-width text: header, width, and > for numbers."""

    def __init__(self, header: str, width: int, align: str = "<"):
        self.header, self.width, self.align = header, width, align

    def cell(self, text: str) -> str:
        return f"{text:{self.align}{self.width}}"


def fixed_line(columns: Sequence[Column], cells: Sequence[str]) -> str:
    """One line of fixed-width columns; a longer cell pushes the rest right."""
    return GAP.join(column.cell(text) for column, text in zip(columns, cells)).rstrip()


WIDEST = 64  # a longer cell pushes the rest of its line right, not every line
# C0 and C1 controls as repr() writes them: a text from a message or a table
# must not move the cursor, retitle or blank the terminal it is shown on.
CONTROLS = {c: repr(chr(c))[1:-1] for c in (*range(0x20), *range(0x7F, 0xA0))}


def terminal_text(text: str) -> str:
    """`text` with its control characters escaped (\\r, \\x1b), for a terminal."""
    return text.translate(CONTROLS)


def column_widths(rows: Iterable[Sequence[str]]) -> list[int]:
    """The width of each column: that of its widest cell (as shown), up to WIDEST."""
    return [min(WIDEST, max(len(terminal_text(cell)) for cell in column))
            for column in zip_longest(*rows, fillvalue="")]


class Aligned:
    """Lines of cells padded to given widths, control characters escaped."""

    def __init__(self, widths: Sequence[int], indent: str = ""):
        self._format = indent + GAP.join(f"{{:<{width}}}" for width in widths)

    def line(self, row: Sequence[str]) -> str:
        return self._format.format(*map(terminal_text, row)).rstrip()


def aligned_lines(rows: Sequence[Sequence[str]], indent: str = "") -> Iterable[str]:
    """Rows whose columns are as wide as their widest cell."""
    aligned = Aligned(column_widths(rows), indent)
    return (aligned.line(row) for row in rows)


# The csv module quotes a field holding a character of its line terminator,
# and only those: with "\r\n" a carriage return in a text is quoted too, so
# that the rows read back (each row still ends in "\n", see _LineFeedRows).
CSV_QUOTING_TERMINATOR = "\r\n"


class _LineFeedRows:
    """A stream that the csv module writes rows ending in "\r\n" to, each passed on ending in "\n"."""

    def __init__(self, out: TextIO):
        self.out = out

    def write(self, row: str) -> None:
        self.out.write(row[:-2] + "\n" if row.endswith(CSV_QUOTING_TERMINATOR) else row)


class RecordWriter:
    """Records as JSON lines or as CSV rows under one header. In CSV, None is
    an empty cell, booleans are true and false, and lists are joined by spaces."""

    def __init__(self, out: TextIO, fmt: str, fields: Sequence[str]):
        self.out = out
        self.fields = list(fields)
        self.csv = csv.writer(_LineFeedRows(out), lineterminator=CSV_QUOTING_TERMINATOR) if fmt == "csv" else None
        if self.csv is not None:
            self.csv.writerow(self.fields)

    def write(self, *records: Record) -> None:
        for record in records:
            if self.csv is None:
                self.out.write(json.dumps(record, ensure_ascii=False) + "\n")
            else:
                self.csv.writerow([csv_cell(record[key]) for key in self.fields])


def csv_cell(value: Any) -> Any:
    kind = type(value)
    if kind is bool:
        return "true" if value else "false"
    if kind is list:
        return " ".join(map(str, value))
    return value  # the csv module writes None as an empty cell
