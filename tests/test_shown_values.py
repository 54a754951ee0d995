"""Values as the package's outputs show them (Columns, frames, the dump):
texts and operator markers have no number, texts lose their NUL and blank
padding, a text of all 0xFF bytes is missing, a flag-table value means its
set bits. _skyrec's flat list keeps its own values."""

from __future__ import annotations

import json
import math

import pytest

pd = pytest.importorskip("pandas")

import _skyrec  # noqa: E402
import skyrec  # noqa: E402
from bufrgen import BitWriter, build_message  # noqa: E402
from skyrec.cli import main  # noqa: E402
from tablegen import Element, write_table_dir  # noqa: E402

NAME, FLAGS, T = 1015, 8042, 12101
ELEMENTS = [Element(NAME, "STATION NAME", "CCITT IA5", width=64),
            Element(FLAGS, "SIGNIFICANCE", "Flag table", width=18), Element(T, "TEMPERATURE", "K", scale=2, width=16)]
DESCRIPTORS = [NAME, NAME, 222000, FLAGS, T]
PADDED = b"A B\0 \0\0 "
# (value, raw, text, meaning, missing) of each value, as shown.
SHOWN = [(None, None, "A B", None, False), (None, None, None, None, True), (None, None, None, None, False),
         (float(3 << 16), 3 << 16, None, "SURFACE; STANDARD LEVEL", False), (None, 65535, None, None, True)]


def message(compressed: bool) -> bytes:
    # One subset: in compressed data every field is followed by a zero increment width.
    inc = (lambda bits: bits.uint(0, 6)) if compressed else (lambda bits: bits)
    bits = inc(BitWriter().raw_bytes(PADDED))
    inc(bits.raw_bytes(b"\xff" * 8))
    inc(bits.uint(3 << 16, 18))
    inc(bits.missing(16))
    return build_message(DESCRIPTORS, bits.to_bytes(), compressed=compressed)


@pytest.fixture(scope="module")
def table_dir(tmp_path_factory) -> str:
    return write_table_dir(tmp_path_factory.mktemp("shown"), ELEMENTS, {}, {FLAGS: {1: "SURFACE", 2: "STANDARD LEVEL"}})


def nan_to_none(x):
    return None if x is None or (isinstance(x, float) and math.isnan(x)) or x is pd.NA else x


@pytest.mark.parametrize("compressed", [False, True])
def test_columns_and_frames(table_dir, tmp_path, compressed):
    tables = _skyrec.TableSet.from_eccodes(table_dir)
    data = message(compressed)
    (item,) = skyrec.read_messages(data, tables=tables, output="columns")
    c = item.columns
    rows = [(nan_to_none(float(v)), int(r) if p else None, t, m, bool(miss))
            for v, r, p, t, m, miss in zip(c.value, c.raw, c.raw_present, c.text, c.meaning, c.missing)]
    assert rows == SHOWN
    path = tmp_path / "one.bufr"
    path.write_bytes(data)
    frame = skyrec.read_dataframe(path, tables=tables)
    assert [tuple(nan_to_none(x) for x in row) for row in frame[["value", "raw", "text", "meaning"]].itertuples(
        index=False, name=None)] == [s[:4] for s in SHOWN]
    # The flat list is unchanged: the text's string index, the marker's 0.
    flat = _skyrec.decode_values_with_tables(data, tables)
    assert [v.raw_value for v in flat[:3]] == [1008.0, 2008.0, 0.0] and "\0" in flat[0].raw_text


@pytest.mark.parametrize("compressed", [False, True])
def test_dump(capsys, table_dir, tmp_path, compressed):
    path = tmp_path / "one.bufr"
    path.write_bytes(message(compressed))
    assert main(["dump", "--tables", table_dir, "--format", "jsonl", str(path)]) == 0
    got = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
    assert [(r["value"], r["raw"], r["text"], r["meaning"]) for r in got] == [s[:4] for s in SHOWN]
    assert main(["dump", "--tables", table_dir, str(path)]) == 0
    cells = [[cell.strip() for cell in line.split("  ") if cell.strip()]
             for line in capsys.readouterr().out.splitlines()[2:]]
    # a marker shows no value: its key is all that follows its name
    assert [row[2] if len(row) > 2 else None for row in cells] == ["'A B'", "MISSING", "operator", "196608", "MISSING"]
    assert cells[3][-1] == "SURFACE; STANDARD LEVEL"
