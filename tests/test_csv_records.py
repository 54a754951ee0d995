"""The CSV record reader: dialects, quoting, line ends, byte-order marks and
the exact record, line and byte positions in its error texts.

The element.table dialect is read through TableSet.from_eccodes; both
dialects are also read directly from bytes, as the table bundle is."""

import errno
import os

import pytest

from _skyrec import TableSet
from skyrec import _native
from tablegen import write_table_dir

BOM = b"\xef\xbb\xbf"
ENDINGS = {"LF": b"\n", "CR": b"\r", "CRLF": b"\r\n"}
DELIMITER = {"wmo": b",", "element": b"|"}


class Probe:
    @staticmethod
    def read(dialect, content):
        """(records as lists of bytes fields, error message or None)."""
        return _native.csv_records(content, dialect)


@pytest.fixture(scope="module")
def probe():
    return Probe()


def element_row(code, name=b"NAME", width=b"8", delimiter=b"|"):
    return delimiter.join([b"%06d" % code, b"abbr", b"long", name, b"K", b"0", b"0", width, b"K", b"0", b"0"])


def layout(rows, ending, bom=False, comment=None, blank_after=()):
    """The file holding `rows` (bytes, already quoted) ended by `ending`, and,
    per row, the position (line, byte) at which the reader begins it: right
    after the first byte of the previous row's terminator."""
    end = ENDINGS[ending]
    content = BOM if bom else b""
    if comment is not None:
        content += comment + end
    positions = []
    at = len(BOM) if bom else 0
    for i, row in enumerate(rows):
        positions.append((1 + content[:at].count(b"\n"), at))
        content += row
        at = len(content) + 1  # the next row begins after the first byte of this one's terminator
        content += end
        if i in blank_after:
            content += end
    return content, positions


def load_element_table(tmp_path, content):
    return TableSet.from_eccodes(write_table_dir(tmp_path / "t", element_table=content))


def count_error(record, position, count, expected):
    line, byte = position
    return (f"csv/table parse error: CSV error: record {record} (line: {line}, byte: {byte}): "
            f"found record with {count} fields, but the previous record has {expected} fields")


def utf8_error(record, position, field, index):
    line, byte = position
    return (f"csv/table parse error: CSV parse error: record {record} (line {line}, field: {field}, "
            f"byte: {byte}): invalid utf-8: invalid UTF-8 in field {field} near byte index {index}")


# Rows 0..5; row 4 is the faulty one. In the WMO dialect row 0 is the header
# and rows count from it, so the faulty row is record 4 in both dialects.
def sample_rows(delimiter, quoted_break=b"\n"):
    rows = [element_row(1000 + i, delimiter=delimiter) for i in range(6)]
    # A quoted field holding the delimiter and a line break moves later lines on.
    rows[2] = element_row(1002, name=b'"A' + delimiter + b"B" + quoted_break + b'C"', delimiter=delimiter)
    return rows


@pytest.mark.parametrize("dialect", ["wmo", "element"])
@pytest.mark.parametrize("ending", ENDINGS)
@pytest.mark.parametrize("bom", [False, True])
@pytest.mark.parametrize("fault", ["count", "utf8"])
def test_error_positions(tmp_path, probe, dialect, ending, bom, fault):
    delimiter = DELIMITER[dialect]
    rows = sample_rows(delimiter, ENDINGS[ending])
    if fault == "count":
        rows[4] += delimiter + b"extra"
    else:
        rows[4] = element_row(1004, name=b"\xc3\xa9X\xffME", delimiter=delimiter)
    content, positions = layout(rows, ending, bom, blank_after={3})
    expected = (count_error(4, positions[4], 12, 11) if fault == "count" else utf8_error(4, positions[4], 3, 3))
    records, error = probe.read(dialect, content)
    assert error == expected
    assert len(records) == (3 if dialect == "wmo" else 4)
    if dialect == "element":
        with pytest.raises(ValueError) as info:
            load_element_table(tmp_path, content)
        assert str(info.value) == expected


@pytest.mark.parametrize("dialect", ["wmo", "element"])
@pytest.mark.parametrize("count", [7, 8, 10, 12])
def test_short_element_rows_read_with_empty_crex_fields(probe, dialect, count):
    # ecCodes' own local tables leave the CREX fields out of some rows; only
    # its element.table rows that keep the data width are read so.
    d = DELIMITER[dialect]
    header = [b"h" + d * 10] if dialect == "wmo" else []
    full = element_row(1001, delimiter=d)
    short = (full + d + b"x") if count == 12 else d.join(full.split(d)[:count])
    content, positions = layout(header + [full, short], "LF")
    records, error = probe.read(dialect, content)
    if dialect == "element" and 8 <= count < 11:
        assert error is None and records[1] == full.split(d)[:count] + [b""] * (11 - count)
    else:
        assert error == count_error(len(header) + 1, positions[-1], count, 11)


@pytest.mark.parametrize("ending", ENDINGS)
@pytest.mark.parametrize("bom", [False, True])
def test_first_wmo_data_row_is_record_1(probe, ending, bom):
    header = b"ClassNo,ElementName_en,BUFR_Unit"
    content, positions = layout([header, b"00,NAME"], ending, bom)
    _, error = probe.read("wmo", content)
    expected_byte = len(header) + 1 + (3 if bom else 0)
    assert positions[1] == (1 if ending == "CR" else 2 if ending == "LF" else 1, expected_byte)
    assert error == count_error(1, positions[1], 2, 3)


@pytest.mark.parametrize("ending", ENDINGS)
@pytest.mark.parametrize("bom", [False, True])
def test_first_element_record_is_record_0_after_comment(tmp_path, ending, bom):
    # The comment names 11 columns; the data rows have 9, and that is what counts.
    comment = b"#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width"
    rows = [b"|".join(element_row(1001 + i).split(b"|")[:9]) for i in range(3)]
    content, _ = layout(rows, ending, bom, comment=comment)
    assert load_element_table(tmp_path, content).element_count == 3

    rows[0] = b"|".join([b"001001", b"a", b"long", b"\xff", b"K", b"0", b"0", b"8", b"K"])
    content, positions = layout(rows, ending, bom, comment=comment)
    assert positions[0] == (1, 3 if bom else 0)
    with pytest.raises(ValueError) as info:
        load_element_table(tmp_path, content)
    assert str(info.value) == utf8_error(0, positions[0], 3, 0)


@pytest.mark.parametrize("ending", ENDINGS)
def test_positions_in_a_long_file(tmp_path, probe, ending):
    # Rows of varying length, quoted fields holding delimiters and line ends,
    # and blank lines: positions must add up over a long file.
    rows, names = [], []
    for i in range(4000):
        names.append(b"N" * (i % 37) if i % 5 else b"Q|" + b"q" * (i % 11) + ENDINGS[ending])
        rows.append(element_row(i, name=names[-1] if i % 5 else b'"' + names[-1] + b'"'))
    rows[3990] = element_row(3990, name=b"ok\xe2\x82")
    content, positions = layout(rows, ending, bom=True, blank_after={100, 2000})
    assert len(content) > 20 * 8192
    with pytest.raises(ValueError) as info:
        load_element_table(tmp_path, content)
    assert str(info.value) == utf8_error(3990, positions[3990], 3, 2)
    records, _ = probe.read("element", content)
    assert [r[3] for r in records] == names[:3990]


@pytest.mark.parametrize("dialect", ["wmo", "element"])
@pytest.mark.parametrize("field, value", [
    (b'"a,b|c"', b"a,b|c"),
    (b'"say ""hi"""', b'say "hi"'),
    (b'"x"yz', b"xyz"),
    (b'"x"y"z"', b'xy"z"'),
    (b'a"b"', b'a"b"'),
    (b'""', b""),
    (b'"\r\n\n\r"', b"\r\n\n\r"),
    (b" spaced ", b" spaced "),
    (b"\xe2\x82\xac", b"\xe2\x82\xac"),
])
def test_quoting(probe, dialect, field, value):
    d = DELIMITER[dialect]
    header = [b"h1,h2,h3"] if dialect == "wmo" else []
    content = b"\n".join(header + [b"a" + d + field + d + b"z", b"1" + d + b"2" + d + b"3"])
    records, error = probe.read(dialect, content)
    assert error is None
    assert records == [[b"a", value, b"z"], [b"1", b"2", b"3"]]


@pytest.mark.parametrize("dialect", ["wmo", "element"])
@pytest.mark.parametrize("content, records", [
    (b"", []),
    (BOM, []),
    (b"\n\n\r\n", []),
    (b"h,h\n", []),
    (b"h|h\r\na|b", [[b"a", b"b"]]),
    (b"h|h\n\n\na|b\n\r\n", [[b"a", b"b"]]),
    (b"h|h\na|", [[b"a", b""]]),
    (b'h|h\na|"open', [[b"a", b"open"]]),
    (BOM + b"h|h\n" + BOM + b"a|b", [[BOM + b"a", b"b"]]),
])
def test_blank_lines_and_ends(probe, dialect, content, records):
    d = DELIMITER[dialect]
    content = content.replace(b"|", d).replace(b"h,h", b"h" + d + b"h")
    expected = [[f.replace(b"|", d) for f in r] for r in records]
    if dialect == "element" and content.strip(BOM + b"\r\n"):
        expected = [[b"h", b"h"]] + expected  # no header row: the first row is a record
    got, error = probe.read(dialect, content)
    assert error is None and got == expected


def test_hash_rows(probe):
    content = b"#h,h\n#a,b\n"
    assert probe.read("wmo", content) == ([[b"#a", b"b"]], None)
    assert probe.read("element", content.replace(b",", b"|")) == ([], None)
    # Only a first byte of # makes a comment; a BOM before it still leaves it first.
    assert probe.read("element", BOM + b"#x\n a|b\n") == ([[b" a", b"b"]], None)


def test_comment_lines_do_not_count_as_records(tmp_path):
    rows = [element_row(1001), b"#" + element_row(1002)[:-3], element_row(1003), b"1|2"]
    content, positions = layout(rows, "LF")
    with pytest.raises(ValueError) as info:
        load_element_table(tmp_path, content)
    # Record 2: rows 0 and 2 are records 0 and 1; the comment row is not counted.
    assert str(info.value) == count_error(2, positions[3], 2, 11)


def test_comment_ended_by_carriage_return_keeps_later_records(tmp_path):
    content = b"#code|name\r" + element_row(1001) + b"\r" + element_row(1002) + b"\r"
    tables = load_element_table(tmp_path, content)
    assert tables.element_count == 2


def test_header_row_is_not_checked_for_utf8(probe):
    assert probe.read("wmo", b"\xff,h\na,b\n") == ([[b"a", b"b"]], None)


def test_invalid_utf8_reports_first_bad_field(probe):
    # Two halves of one character in two fields are each invalid.
    records, error = probe.read("element", b"a|b|c\nx|\xc3|\xa9\n")
    assert records == [[b"a", b"b", b"c"]]
    assert error == utf8_error(1, (2, 6), 1, 0)


@pytest.mark.parametrize("bad, index", [(b"\xc0\x80", 0), (b"ab\xed\xa0\x80", 2), (b"\xf4\x90\x80\x80", 0),
                                        (b"\xe0\x9f\xbf", 0), (b"ok\xf0\x9f\x98", 2), (b"\xf0\x9f\x98\x80\x80", 4)])
def test_strict_utf8(probe, bad, index):
    _, error = probe.read("element", b"a|" + bad + b"\n")
    assert error == utf8_error(0, (1, 0), 1, index)


def os_text(code):
    return f"{os.strerror(code)} (os error {code})"


def test_element_table_that_cannot_be_opened(tmp_path):
    root = tmp_path / "t"
    root.mkdir()
    with pytest.raises(ValueError) as info:
        TableSet.from_eccodes(str(root))
    assert str(info.value) == "csv/table parse error: " + os_text(errno.ENOENT)


def test_element_table_that_is_a_directory(tmp_path):
    root = tmp_path / "t"
    (root / "element.table").mkdir(parents=True)
    (root / "sequence.def").write_text("")
    with pytest.raises(ValueError) as info:
        TableSet.from_eccodes(str(root))
    assert str(info.value) == "csv/table parse error: " + os_text(errno.EISDIR)
