"""Field conversions of element.table rows: descriptor codes (field 0), scale
(i32, field 5), reference (i64, field 6) and width (u16, field 7)."""

import pytest

from _skyrec import TableSet
from tablegen import write_table_dir

EMPTY = "cannot parse integer from empty string"
DIGIT = "invalid digit found in string"
LARGE = "number too large to fit in target type"
SMALL = "number too small to fit in target type"

BASE_ROW = ["001001", "abbr", "long", "NAME", "Numeric", "0", "0", "8", "Numeric", "0", "0"]


def load_row(tmp_path, **fields):
    """Loads a one-row element.table with fields replaced by position (f0=..., f5=...)."""
    row = list(BASE_ROW)
    for key, value in fields.items():
        row[int(key[1:])] = value
    root = write_table_dir(tmp_path / "t", element_table="|".join(row) + "\n")
    return TableSet.from_eccodes(root)


def quoted(text):
    """The debug form of `text` for the plain characters these tests use."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


@pytest.mark.parametrize("text, code", [
    ("301011", 301011), (" 301011 ", 301011), (' "301011" ', 301011), (' ""301011"" ', 301011),
    ("+301011", 301011), ("001001", 1001), ("\u00a0\u3000301011\u2029\t", 301011),
    ("4294967295", 4294967295), ("0", 0),
])
def test_codes_that_convert(tmp_path, text, code):
    tables = load_row(tmp_path, f0=text)
    assert tables.element_count == 1 and tables.get_element(code).code == code


@pytest.mark.parametrize("text, reason", [
    ("3-01-011", DIGIT), ("-1", DIGIT), ("4294967296", LARGE), ("99999999999999999999", LARGE),
    ("", EMPTY), (" ", EMPTY), (' "" ', EMPTY), ("+", DIGIT), ("++1", DIGIT), ("1 2", DIGIT),
    (" \"30 1011\"", DIGIT),
])
def test_codes_that_fail(tmp_path, text, reason):
    with pytest.raises(ValueError) as info:
        load_row(tmp_path, f0=text)
    assert str(info.value) == f"csv/table parse error: bad descriptor code {quoted(text)}: {reason}"


def test_zero_width_space_is_not_trimmed_and_is_escaped(tmp_path):
    with pytest.raises(ValueError) as info:
        load_row(tmp_path, f0="\u200b1001")
    assert str(info.value) == 'csv/table parse error: bad descriptor code "\\u{200b}1001": ' + DIGIT


@pytest.mark.parametrize("field, kind, text, value", [
    (5, "i32", "-2147483648", -2147483648), (5, "i32", "2147483647", 2147483647), (5, "i32", "+5", 5),
    (5, "i32", "-0", 0), (5, "i32", "0000000000000000000000012", 12),
    (6, "i64", "-9223372036854775808", -9223372036854775808), (6, "i64", "9223372036854775807", 2**63 - 1),
    (6, "i64", "+5", 5), (6, "i64", "-131072", -131072),
    (7, "u16", "65535", 65535), (7, "u16", "00000000000000000005", 5), (7, "u16", "+0", 0),
])
def test_numbers_that_convert(tmp_path, field, kind, text, value):
    e = load_row(tmp_path, **{f"f{field}": text}).get_element(1001)
    assert {5: e.scale, 6: e.reference, 7: e.width}[field] == value


@pytest.mark.parametrize("field, kind, text, reason", [
    (5, "i32", "-2147483649", SMALL), (5, "i32", "2147483648", LARGE), (5, "i32", " 0", DIGIT),
    (5, "i32", "0 ", DIGIT), (5, "i32", "", EMPTY), (5, "i32", "-", DIGIT), (5, "i32", "+", DIGIT),
    (5, "i32", "--1", DIGIT), (5, "i32", "+-1", DIGIT), (5, "i32", "12x99999999999", DIGIT),
    (5, "i32", "99999999999x", LARGE), (5, "i32", "-99999999999x", SMALL), (5, "i32", "1.5", DIGIT),
    (5, "i32", "\uff11", DIGIT),  # a fullwidth digit is not an ASCII digit
    (6, "i64", "9223372036854775808", LARGE), (6, "i64", "-9223372036854775809", SMALL), (6, "i64", "0x10", DIGIT),
    (7, "u16", "65536", LARGE), (7, "u16", "-1", DIGIT), (7, "u16", "-0", DIGIT), (7, "u16", "", EMPTY),
    (7, "u16", "100000000000000000000", LARGE),
])
def test_numbers_that_fail(tmp_path, field, kind, text, reason):
    with pytest.raises(ValueError) as info:
        load_row(tmp_path, **{f"f{field}": text})
    assert str(info.value) == f"csv/table parse error: bad {kind} {quoted(text)}: {reason}"


def test_first_failing_conversion_decides(tmp_path):
    with pytest.raises(ValueError, match="bad descriptor code"):
        load_row(tmp_path, f0="x", f5="y", f7="z")
    with pytest.raises(ValueError, match='bad i32 "y"'):
        load_row(tmp_path, f5="y", f6="w", f7="z")
    with pytest.raises(ValueError, match='bad i64 "w"'):
        load_row(tmp_path, f6="w", f7="z")


def test_huge_fields(tmp_path):
    name = "N" * 3_000_000
    assert load_row(tmp_path, f3=name).get_element(1001).name == name
    digits = "9" * 3_000_000
    with pytest.raises(ValueError) as info:
        load_row(tmp_path, f6=digits)
    assert str(info.value) == f'csv/table parse error: bad i64 "{digits}": {LARGE}'
