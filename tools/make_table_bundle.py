#!/usr/bin/env python3
"""Makes python/skyrec/tables.bundle, the BUFR tables that the package carries.

Run by developers when the sources change, never at install time:

    python3 tools/make_table_bundle.py [--definitions /usr/share/eccodes/definitions]
                                       [--wmo-csv ../shared/tables/wmo-bufr4]

Sources: ecCodes' definitions tree (Debian's libeccodes-data), every master
version under bufr/tables/{n}/wmo (aliases resolved) and every local table
under bufr/tables/{n}/local; and WMO's BUFR4 CSV tables, which serve master
versions 40 up to their own version where the ecCodes tree stops.

Layout, xz-compressed as a whole: MAGIC, the index's length (8 bytes, big
endian), the index (JSON), then the file contents, each stored once. The
index maps "wmo/{master table}/{version}" and "local/{master table}/{local directory}/
{centre}/{sub-centre}" to a layer [element.table span or null, sequence.def
span or null, [[code table file name, start, end], ...]], spans being
[start, end) offsets into the contents.
"""

from __future__ import annotations

import argparse
import csv
import io
import json
import lzma
import os
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUNDLE = ROOT / "python" / "skyrec" / "tables.bundle"
MAGIC = b"skyrec tables 1\n"
WMO_CSV_VERSION = 45
ELEMENT_HEADER = "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width"


class Contents:
    """File contents back to back, each distinct content once."""

    def __init__(self) -> None:
        self.data = bytearray()
        self.spans: dict[bytes, list[int]] = {}

    def add(self, content: bytes) -> list[int]:
        span = self.spans.get(content)
        if span is None:
            span = self.spans[content] = [len(self.data), len(self.data) + len(content)]
            self.data += content
        return span


def resolve_alias(path: Path) -> Path | None:
    """Where a table directory's name leads through alias files (each holding
    a sibling's name), as the directory loader follows them; None when nowhere."""
    seen = set()
    while not path.is_dir():
        if not path.is_file() or path in seen:
            return None
        seen.add(path)
        alias = path.read_text(encoding="utf-8").strip()
        if not alias or "/" in alias or "\\" in alias:
            return None
        path = path.parent / alias
    return path


def directory_layer(directory: Path, contents: Contents) -> list[object]:
    def span(name: str) -> list[int] | None:
        path = directory / name
        return contents.add(path.read_bytes()) if path.exists() else None

    codes: list[list[object]] = []
    codetables = directory / "codetables"
    if codetables.exists():
        for name in sorted(os.listdir(codetables), key=os.fsencode):
            if name.endswith(".table"):
                start, end = contents.add((codetables / name).read_bytes())
                codes.append([name, start, end])
    return [span("element.table"), span("sequence.def"), codes]


def numeric_names(directory: Path) -> list[str]:
    return sorted((p.name for p in directory.iterdir() if p.name.isdigit()), key=int)


def eccodes_layers(definitions: Path, contents: Contents) -> tuple[dict[str, list[object]], dict[str, tuple[str, str]]]:
    """The layers of the tree, and per descriptor code the ecCodes key and
    type that the newest version of master table 0 giving one has."""
    layers: dict[str, list[object]] = {}
    keys: dict[str, tuple[str, str]] = {}
    tables = definitions / "bufr" / "tables"
    for number in numeric_names(tables):
        wmo = tables / number / "wmo"
        for version in numeric_names(wmo) if wmo.is_dir() else []:
            found = resolve_alias(wmo / version)
            if found is None or not (found / "element.table").is_file() or not (found / "sequence.def").is_file():
                continue
            layers[f"wmo/{number}/{version}"] = directory_layer(found, contents)
            if number != "0":
                continue
            for line in (found / "element.table").read_text(encoding="utf-8", errors="replace").splitlines():
                fields = line.split("|")
                if len(fields) >= 8 and not line.startswith("#"):
                    keys[fields[0].strip().strip('"')] = (fields[1], fields[2])
        local = tables / number / "local"
        for centre_dir in sorted(local.glob("*/*/*")) if local.is_dir() else []:
            if centre_dir.is_dir():
                name = f"local/{number}/{centre_dir.relative_to(local).as_posix()}"
                layers[name] = directory_layer(centre_dir, contents)
    return layers, keys


def csv_rows(directory: Path, prefix: str) -> list[dict[str, str]]:
    rows: list[dict[str, str]] = []
    for path in sorted(directory.glob(prefix + "*.csv"), key=lambda p: os.fsencode(p.name)):
        rows.extend(csv.DictReader(io.StringIO(path.read_text(encoding="utf-8-sig"), newline="")))
    return rows


def quoted(field: str) -> str:
    return '"' + field.replace('"', '""') + '"' if re.search(r'[|"\r\n]', field) else field


def words(text: str) -> str:
    return " ".join(text.split())


def wmo_csv_layer(directory: Path, keys: dict[str, tuple[str, str]], contents: Contents) -> list[object]:
    """WMO's CSV tables as an ecCodes table directory would hold them, keys
    and types taken from ecCodes where it knows the descriptor."""
    elements = [ELEMENT_HEADER]
    for row in csv_rows(directory, "BUFRCREX_TableB_en_"):
        code, unit, scale = row["FXY"], row["BUFR_Unit"], row["BUFR_Scale"]
        derived = {"Code table": "table", "Flag table": "flag", "CCITT IA5": "string"}.get(
            unit, "long" if scale.strip() in ("0", "") else "double")
        key, kind = keys.get(code, ("", derived))
        elements.append("|".join(quoted(f) for f in (
            code, key, kind, row["ElementName_en"], unit, scale, row["BUFR_ReferenceValue"],
            row["BUFR_DataWidth_Bits"], row.get("CREX_Unit") or "", row.get("CREX_Scale") or "",
            row.get("CREX_DataWidth_Char") or "")))
    # A file's rows of one sequence need not be adjacent; a later file replaces a sequence whole.
    sequences: dict[str, list[str]] = {}
    for path in sorted(directory.glob("BUFR_TableD_en_*.csv"), key=lambda p: os.fsencode(p.name)):
        in_file: dict[str, list[str]] = {}
        for row in csv.DictReader(io.StringIO(path.read_text(encoding="utf-8-sig"), newline="")):
            in_file.setdefault(row["FXY1"], []).append(row["FXY2"])
        sequences.update(in_file)
    sequence_text = "".join(f'"{code}" = [  {", ".join(members)} ]\n' for code, members in sequences.items())
    tables: dict[str, dict[int, str]] = {}
    for row in csv_rows(directory, "BUFRCREX_CodeFlag_en_"):
        figure = row["CodeFigure"].strip()
        meaning = next((words(row[k] or "") for k in ("EntryName_en", "EntryName_sub1_en", "EntryName_sub2_en")
                        if words(row[k] or "")), "")
        if figure.isascii() and figure.isdigit() and meaning:
            tables.setdefault(row["FXY"], {}).setdefault(int(figure), meaning)
    codes: list[list[object]] = []
    for code in sorted(tables, key=lambda c: f"{int(c)}.table".encode()):
        text = "".join(f"{raw} {raw} {meaning}\n" for raw, meaning in tables[code].items())
        start, end = contents.add(text.encode())
        codes.append([f"{int(code)}.table", start, end])
    return [contents.add(("\n".join(elements) + "\n").encode()), contents.add(sequence_text.encode()), codes]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--definitions", type=Path, default=Path("/usr/share/eccodes/definitions"))
    parser.add_argument("--wmo-csv", type=Path, default=ROOT.parent / "shared" / "tables" / "wmo-bufr4")
    parser.add_argument("--output", type=Path, default=BUNDLE)
    args = parser.parse_args()

    contents = Contents()
    layers, keys = eccodes_layers(args.definitions, contents)
    newest = max(int(name.split("/")[2]) for name in layers if name.startswith("wmo/0/"))
    wmo = wmo_csv_layer(args.wmo_csv, keys, contents)
    # WMO publishes the current version only; it serves every later master version.
    for version in range(newest + 1, WMO_CSV_VERSION + 1):
        layers[f"wmo/0/{version}"] = wmo
    index = json.dumps(layers, sort_keys=True, separators=(",", ":")).encode()
    raw = MAGIC + len(index).to_bytes(8, "big") + index + bytes(contents.data)
    packed = lzma.compress(raw, preset=9 | lzma.PRESET_EXTREME)
    args.output.write_bytes(packed)
    print(f"{args.output}: {len(layers)} table versions, {len(raw)} bytes, {len(packed)} packed")


if __name__ == "__main__":
    main()
