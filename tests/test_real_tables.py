"""Every table version directory of a real ecCodes definitions tree loads
with TableSet.from_eccodes, and holds exactly what its files hold, counted
here by a plain reading of the files; every Table D sequence of the newest
WMO version expands."""

import errno
import os
import re

import pytest

from _skyrec import TableSet
from conftest import definitions_root
from expansion_reference import reference_expand

ROOT = definitions_root()
TABLES = ROOT / "bufr" / "tables" / "0" if ROOT else None


def version_dirs():
    if TABLES is None:
        return []
    wmo = [p for p in (TABLES / "wmo").iterdir() if p.is_dir()]
    local = sorted({p.parent for p in (TABLES / "local").rglob("element.table")})
    return sorted(wmo, key=lambda p: int(p.name) if p.name.isdigit() else -1) + local


def newest_wmo_dir():
    full = [p for p in version_dirs() if p.parent.name == "wmo" and p.name.isdigit()
            and (p / "element.table").is_file() and (p / "sequence.def").is_file()]
    return max(full, key=lambda p: int(p.name)) if full else None


DIRS = version_dirs() or [pytest.param(None, marks=pytest.mark.skip(
    reason="no ecCodes definitions tree installed: install Debian's libeccodes-data or set ECCODES_DEFINITION_PATH"))]


def read_elements(path):
    """(elements by code, or the error the file must give)."""
    data = path.read_bytes()
    elements, expected_count, record = {}, None, 0
    offset, line = 0, 1
    for raw in data.split(b"\n"):
        at = (line, offset)  # where the reader begins this row (LF files)
        offset += len(raw) + 1
        line += 1
        text = raw.rstrip(b"\r").decode()
        if not text or text.startswith("#"):
            continue
        fields = text.split("|")
        assert not any(f.startswith('"') for f in fields), "quoted fields need the full reader"
        if expected_count is None:
            expected_count = len(fields)
        elif len(fields) != expected_count and not 8 <= len(fields) < expected_count:
            return None, (f"csv/table parse error: CSV error: record {record} (line: {at[0]}, byte: {at[1]}): "
                          f"found record with {len(fields)} fields, but the previous record has "
                          f"{expected_count} fields")
        record += 1
        if len(fields) >= 8:
            if not fields[7].isdigit():  # fields are not trimmed: "3 " is no width
                return None, f'csv/table parse error: bad u16 "{fields[7]}": invalid digit found in string'
            code = int(fields[0].strip().strip('"'))
            elements[code] = (fields[3], fields[4], int(fields[5]), int(fields[6]), int(fields[7]))
    return elements, None


def read_sequences(path):
    sequences = {}
    text = "\n".join(line for line in path.read_text().splitlines() if not line.strip().startswith("#"))
    for key, members in re.findall(r'"?(\d+)"?\s*=\s*\[([^\]]*)\]', text):
        sequences[int(key)] = [int(m) for m in members.replace("\n", " ").split(",") if m.strip()]
    return sequences


def read_code_tables(directory):
    tables = {}
    if not directory.is_dir():
        return tables
    for path in sorted(directory.iterdir(), key=lambda p: os.fsencode(p.name)):
        if not path.name.endswith(".table"):
            continue
        entries = {}
        for line in path.read_text().splitlines():
            tokens = line.split()
            if len(tokens) >= 3 and not tokens[0].startswith("#"):
                entries[int(tokens[0])] = " ".join(tokens[2:])
        tables[int(path.name[:-len(".table")])] = entries
    return tables


@pytest.mark.parametrize("directory", DIRS, ids=lambda p: str(p.relative_to(TABLES)) if p else "none")
def test_version_directory_loads_exactly(directory):
    elements, count_error = read_elements(directory / "element.table")
    if count_error is not None:
        # A field count or a width that the reader refuses.
        with pytest.raises(ValueError) as info:
            TableSet.from_eccodes(str(directory))
        assert str(info.value) == count_error
        return
    if not (directory / "sequence.def").is_file():
        with pytest.raises(ValueError) as info:
            TableSet.from_eccodes(str(directory))
        assert str(info.value) == f"io error: {os.strerror(errno.ENOENT)} (os error {errno.ENOENT})"
        return

    tables = TableSet.from_eccodes(str(directory))
    sequences = read_sequences(directory / "sequence.def")
    assert (tables.element_count, tables.sequence_count) == (len(elements), len(sequences))
    assert tables.element_count > 0
    for code, (name, unit, scale, reference, width) in elements.items():
        e = tables.get_element(code)
        assert (e.code, e.name, e.unit, e.scale, e.reference, e.width) == (code, name, unit, scale, reference, width)
    for code, members in sequences.items():
        assert tables.get_sequence(code).members == members
    for code, entries in read_code_tables(directory / "codetables").items():
        for raw, meaning in entries.items():
            assert tables.get_meaning(code, raw) == meaning, (code, raw)
        assert tables.get_meaning(code, max(entries, default=0) + 1) is None


def test_every_sequence_of_the_newest_version_expands(definitions):
    directory = newest_wmo_dir()
    assert directory is not None
    tables = TableSet.from_eccodes(str(directory))
    sequences = read_sequences(directory / "sequence.def")
    assert len(sequences) == tables.sequence_count > 500
    for code in sequences:
        expanded = tables.expand([code])
        assert expanded == reference_expand(sequences, [code]), code
        assert not any(c // 100000 in (1, 3) for c in expanded)
    # All at once, an associated field opened in one sequence runs on into the next.
    assert tables.expand(list(sequences)) == reference_expand(sequences, list(sequences))
