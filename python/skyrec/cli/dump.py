"""skyrec dump: every value of every subset, with its name, unit, text and meaning."""

from __future__ import annotations

import argparse
from collections.abc import Iterator

from _skyrec import BufrMessage, DecodedValue, TableSet

from ..reader import Decoded, read_messages
from ..tables import TableSource
from .options import add_command, add_file_options, table_source
from .output import Aligned, Record, RecordWriter, code_text, column_widths, json_number, number_text, typical_time
from .session import Session

HELP = "print the values of every message, subset by subset"
EXAMPLES = """\
examples:
  skyrec dump --tables examples/tables examples/sample.bufr
  skyrec dump obs.bufr                              # tables found by themselves
  skyrec dump --definitions /path/to/definitions --format csv obs.bufr > values.csv
  skyrec dump --format jsonl obs.bufr | jq -c 'select(.descriptor == "012101")'

text: per message a header line, then per subset one line per value:
descriptor, name, value (a number, 'text' quoted without its padding,
MISSING, or nothing for an operator marker), unit and the code- or flag-table
meaning. jsonl and csv: one record per value with the fields file, message,
offset, subset, position (within its subset), descriptor, name, unit, value
(null/empty when missing, a text or a marker), raw, text, meaning.
A message that fails is reported on stderr with its file and offset, and the
others are still printed (exit status 1).
"""

FIELDS = ("file", "message", "offset", "subset", "position", "descriptor", "name", "unit", "value", "raw", "text",
          "meaning")


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    add_file_options(add_command(commands, "dump", HELP, EXAMPLES, run), "value")


class Units:
    """Each descriptor's unit, looked up once per table set."""

    def __init__(self) -> None:
        self._known: dict[int, dict[int, str]] = {}

    def of(self, tables: TableSet, code: int) -> str:
        known = self._known.setdefault(id(tables), {})
        if code not in known:
            element = tables.get_element(code)
            known[code] = element.unit if element is not None else ""
        return known[code]


def message_line(path: str, item: Decoded, m: BufrMessage, origin: str) -> str:
    return (f"{path}: message {item.index} at offset {item.offset} ({item.length} bytes): centre "
            f"{m.originating_centre}/{m.originating_subcentre}, category {m.data_category}/"
            f"{m.international_data_subcategory}, {m.number_of_subsets} subset"
            f"{'' if m.number_of_subsets == 1 else 's'}, {'compressed' if m.compressed_data else 'not compressed'}, "
            f"{typical_time(m)}, tables {m.master_table_number}/{m.master_tables_version_number}/"
            f"{m.local_tables_version_number} from {origin}")


def is_marker(v: DecodedValue) -> bool:
    # Operator markers carry no value; 205YYY's inserted text is a text.
    return v.descriptor // 100000 == 2 and v.raw is not None


def shown_text(v: DecodedValue) -> str | None:
    """The text without its NUL and blank padding; None for numbers and for
    texts whose bytes are all 0xFF (missing)."""
    return v.raw_text.rstrip("\0 ") if v.raw_text is not None else None


def shown_number(v: DecodedValue) -> float | None:
    """The number, or None: missing, a text (whose number is only an
    internal index) or an operator marker."""
    return None if v.raw is None or is_marker(v) else v.raw_value


def value_cells(v: DecodedValue, unit: str) -> list[str]:
    text, number = shown_text(v), shown_number(v)
    if text is not None:
        shown = repr(text)
    elif is_marker(v):
        shown = ""
    elif number is None:
        shown = "MISSING"
    else:
        shown = number_text(number)
    return [code_text(v.descriptor), v.name, shown, unit, v.raw_meaning or ""]


def value_records(path: str, item: Decoded, subsets: list[list[DecodedValue]],
                  units: list[list[str]]) -> Iterator[Record]:
    for j, (subset, subset_units) in enumerate(zip(subsets, units)):
        for position, (v, unit) in enumerate(zip(subset, subset_units)):
            yield {"file": path, "message": item.index, "offset": item.offset, "subset": j, "position": position,
                   "descriptor": code_text(v.descriptor), "name": v.name, "unit": unit,
                   "value": None if (number := shown_number(v)) is None else json_number(number),
                   "raw": None if is_marker(v) else v.raw, "text": shown_text(v), "meaning": v.raw_meaning}


def run(args: argparse.Namespace, session: Session) -> int:
    source: TableSource = table_source(args)
    out = session.out
    writer = RecordWriter(out, args.format, FIELDS) if args.format != "text" else None
    units = Units()
    first = True
    for path, item in session.messages(args.files, lambda p: read_messages(p, tables=source)):
        if session.report(path, item):
            continue
        assert item.message is not None
        tables = source.for_message(item.message)
        subsets: list[list[DecodedValue]] = item.subsets
        subset_units = [[units.of(tables, v.descriptor) for v in subset] for subset in subsets]
        if writer is not None:
            for record in value_records(path, item, subsets, subset_units):
                writer.write(record)
            continue
        if not first:
            out.write("\n")
        first = False
        out.write(message_line(path, item, item.message, source.origin) + "\n")
        rows = [[value_cells(v, unit) for v, unit in zip(subset, subset_unit)]
                for subset, subset_unit in zip(subsets, subset_units)]
        # One layout for the whole message.
        aligned = Aligned(column_widths(row for subset_rows in rows for row in subset_rows), "    ")
        for j, subset_rows in enumerate(rows):
            out.write(f"  subset {j}\n")
            out.writelines(aligned.line(row) + "\n" for row in subset_rows)
    return session.status
