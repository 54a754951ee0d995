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
MISSING, or nothing for an operator marker), unit, the code- or flag-table
meaning and the value's ecCodes key as #rank#key. jsonl and csv: one record
per value with the fields file, message, offset, subset, position (within its
subset), descriptor, name, unit, value (null/empty when missing, a text or a
marker), raw, text, meaning, key, rank (0 when unranked).
A message that fails is reported on stderr with its file and offset, and the
others are still printed (exit status 1).
"""

FIELDS = ("file", "message", "offset", "subset", "position", "descriptor", "name", "unit", "value", "raw", "text",
          "meaning", "key", "rank")
# Keys of values that no element names, as Columns gives them; these go unranked.
FIXED_KEYS = {"operator": "operator", "text": "text", "associatedField": "associatedField"}


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    add_file_options(add_command(commands, "dump", HELP, EXAMPLES, run), "value")


class Units:
    """Each descriptor's unit and key, looked up once per table set."""

    def __init__(self) -> None:
        self._known: dict[int, dict[int, tuple[str, str, str]]] = {}

    def _entry(self, tables: TableSet, code: int) -> tuple[str, str, str]:
        known = self._known.setdefault(id(tables), {})
        if code not in known:
            element = tables.get_element(code)
            known[code] = (element.unit, element.name, element.abbreviation) if element is not None else ("", "", "")
        return known[code]

    def of(self, tables: TableSet, code: int) -> str:
        return self._entry(tables, code)[0]

    def key(self, tables: TableSet, v: DecodedValue) -> tuple[str | None, bool]:
        """The value's key (None for none) and whether it is ranked."""
        _, name, key = self._entry(tables, v.descriptor)
        if name == v.name and key:
            return key, True
        return (FIXED_KEYS.get(v.name) if name != v.name else None), False


def ranked_keys(subset: list[DecodedValue], keys: list[tuple[str | None, bool]]) -> list[tuple[str | None, int]]:
    """(key, rank) of each value of one subset; rank 0 when unranked."""
    seen: dict[str, int] = {}
    out: list[tuple[str | None, int]] = []
    for key, ranked in keys:
        if key is not None and ranked:
            seen[key] = seen.get(key, 0) + 1
        out.append((key, seen[key] if key is not None and ranked else 0))
    return out


def key_text(key: str | None, rank: int) -> str:
    return "" if key is None else f"#{rank}#{key}" if rank else key


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


def value_cells(v: DecodedValue, unit: str, key: tuple[str | None, int]) -> list[str]:
    text, number = shown_text(v), shown_number(v)
    if text is not None:
        shown = repr(text)
    elif is_marker(v):
        shown = ""
    elif number is None:
        shown = "MISSING"
    else:
        shown = number_text(number)
    return [code_text(v.descriptor), v.name, shown, unit, v.raw_meaning or "", key_text(*key)]


def value_records(path: str, item: Decoded, subsets: list[list[DecodedValue]], units: list[list[str]],
                  keys: list[list[tuple[str | None, int]]]) -> Iterator[Record]:
    for j, (subset, subset_units, subset_keys) in enumerate(zip(subsets, units, keys)):
        for position, (v, unit, (key, rank)) in enumerate(zip(subset, subset_units, subset_keys)):
            yield {"file": path, "message": item.index, "offset": item.offset, "subset": j, "position": position,
                   "descriptor": code_text(v.descriptor), "name": v.name, "unit": unit,
                   "value": None if (number := shown_number(v)) is None else json_number(number),
                   "raw": None if is_marker(v) else v.raw, "text": shown_text(v), "meaning": v.raw_meaning,
                   "key": key, "rank": rank}


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
        subset_keys = [ranked_keys(subset, [units.key(tables, v) for v in subset]) for subset in subsets]
        if writer is not None:
            for record in value_records(path, item, subsets, subset_units, subset_keys):
                writer.write(record)
            continue
        if not first:
            out.write("\n")
        first = False
        out.write(message_line(path, item, item.message, source.origin) + "\n")
        rows = [[value_cells(v, unit, key) for v, unit, key in zip(subset, subset_unit, keys)]
                for subset, subset_unit, keys in zip(subsets, subset_units, subset_keys)]
        # One layout for the whole message.
        aligned = Aligned(column_widths(row for subset_rows in rows for row in subset_rows), "    ")
        for j, subset_rows in enumerate(rows):
            out.write(f"  subset {j}\n")
            out.writelines(aligned.line(row) + "\n" for row in subset_rows)
    return session.status
