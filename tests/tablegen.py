"""Writes BUFR table directories laid out as ecCodes lays out one table
version (element.table, sequence.def, codetables/<code>.table), for tests.

    root = write_table_dir(tmp_path / "tables",
                           elements=[Element(12101, "TEMPERATURE", "K", scale=2, width=16)],
                           sequences={301011: [4001, 4002, 4003]},
                           code_tables={1003: {0: "ANTARCTICA"}})
    tables = TableSet.from_eccodes(root)

Any file can instead be given verbatim (str or bytes) to build broken ones.
"""

import pathlib
from dataclasses import dataclass

ELEMENT_TABLE_HEADER = "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width"


@dataclass(frozen=True)
class Element:
    code: int
    name: str = "TEST ELEMENT"
    unit: str = "Numeric"
    scale: int = 0
    reference: int = 0
    width: int = 8
    abbreviation: str = ""
    element_type: str = "long"


def element_row(element):
    """One element.table line (without line end), CREX columns included."""
    e = element
    fields = [f"{e.code:06d}", e.abbreviation, e.element_type, e.name, e.unit, e.scale, e.reference, e.width]
    return "|".join(str(f) for f in fields) + "|Numeric|0|0"


def element_table_text(elements, header=True):
    lines = [ELEMENT_TABLE_HEADER] if header else []
    lines += [element_row(e) for e in elements]
    return "".join(line + "\n" for line in lines)


def sequence_def_text(sequences):
    """sequences: {code: [member codes]}, written as ecCodes writes them."""
    lines = []
    for code, members in sequences.items():
        lines.append(f'"{code:06d}" = [  ' + ", ".join(f"{m:06d}" for m in members) + " ]")
    return "".join(line + "\n" for line in lines)


def code_table_text(entries):
    """entries: {raw value: meaning}; each line repeats the value, as ecCodes does."""
    return "".join(f"{raw} {raw} {meaning}\n" for raw, meaning in entries.items())


def _write(path, content, newline):
    if isinstance(content, bytes):
        path.write_bytes(content)
    else:
        path.write_bytes(content.replace("\n", newline).encode("utf-8"))


def write_table_dir(root, elements=(), sequences=None, code_tables=None, *,
                    element_table=None, sequence_def=None, newline="\n"):
    """Creates `root` with element.table, sequence.def and, when `code_tables`
    is given, codetables/. `element_table` / `sequence_def` replace the
    generated files verbatim; a value of `code_tables` may be a {raw: meaning}
    dict or verbatim file content; a str key names the file itself (for
    "README.table" and the like). `newline` converts the line ends of text
    content. Returns the directory path as str."""
    root = pathlib.Path(root)
    root.mkdir(parents=True, exist_ok=True)
    _write(root / "element.table",
           element_table if element_table is not None else element_table_text(elements), newline)
    _write(root / "sequence.def",
           sequence_def if sequence_def is not None else sequence_def_text(sequences or {}), newline)
    if code_tables is not None:
        directory = root / "codetables"
        directory.mkdir(exist_ok=True)
        for key, table in code_tables.items():
            name = key if isinstance(key, str) else f"{key}.table"
            content = table if isinstance(table, (str, bytes)) else code_table_text(table)
            _write(directory / name, content, newline)
    return str(root)
