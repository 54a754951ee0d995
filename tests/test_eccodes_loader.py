"""Loading ecCodes table directories: element.table, sequence.def and
codetables, their failures and what is deliberately not a failure."""

import errno
import os

import pytest

import _skyrec
from _skyrec import TableSet
from tablegen import Element, element_table_text, write_table_dir

PREFIX = "csv/table parse error: "
DIGIT = "invalid digit found in string"


def os_text(code):
    return f"{os.strerror(code)} (os error {code})"


def load(tmp_path, **kwargs):
    return TableSet.from_eccodes(write_table_dir(tmp_path / "t", **kwargs))


def load_error(tmp_path, **kwargs):
    with pytest.raises(ValueError) as info:
        load(tmp_path, **kwargs)
    return str(info.value)


# --- the directory -----------------------------------------------------------

def test_directory_without_codetables(tmp_path):
    tables = load(tmp_path, elements=[Element(1003, unit="CODE TABLE")], sequences={301001: [1001, 1002]})
    assert (tables.element_count, tables.sequence_count) == (1, 1)
    assert tables.get_meaning(1003, 0) is None


def test_trailing_slash_and_keyword(tmp_path):
    root = write_table_dir(tmp_path / "t", elements=[Element(1001)])
    assert TableSet.from_eccodes(path=root + "/").element_count == 1


def test_missing_sequence_def_fails_after_element_table(tmp_path):
    root = tmp_path / "t"
    root.mkdir()
    (root / "element.table").write_text(element_table_text([Element(1001)]))
    with pytest.raises(ValueError) as info:
        TableSet.from_eccodes(str(root))
    assert str(info.value) == "io error: " + os_text(errno.ENOENT)
    # A bad element.table is reported first.
    (root / "element.table").write_text("x|a|b|c|d|0|0|8\n")
    with pytest.raises(ValueError, match="bad descriptor code"):
        TableSet.from_eccodes(str(root))


@pytest.mark.parametrize("path", ["", "/nonexistent/tables", "with\0nul"])
def test_directories_that_cannot_be_read(path):
    with pytest.raises(ValueError) as info:
        TableSet.from_eccodes(path)
    assert str(info.value).startswith(PREFIX)


@pytest.mark.parametrize("what", ["sequence.def", "codetables/1003.table"])
def test_text_files_that_are_directories(tmp_path, what):
    root = write_table_dir(tmp_path / "t", code_tables={})
    if what == "sequence.def":
        os.remove(os.path.join(root, what))
    os.mkdir(os.path.join(root, what))
    with pytest.raises(ValueError) as info:
        TableSet.from_eccodes(root)
    assert str(info.value) == "io error: " + os_text(errno.EISDIR)


def test_codetables_that_is_a_file(tmp_path):
    root = write_table_dir(tmp_path / "t")
    with open(os.path.join(root, "codetables"), "w") as f:
        f.write("0 0 X\n")
    with pytest.raises(ValueError) as info:
        TableSet.from_eccodes(root)
    assert str(info.value) == "io error: " + os_text(errno.ENOTDIR)


def test_dangling_codetables_link_counts_as_absent(tmp_path):
    root = write_table_dir(tmp_path / "t", elements=[Element(1001)])
    os.symlink(str(tmp_path / "nowhere"), os.path.join(root, "codetables"))
    assert TableSet.from_eccodes(root).element_count == 1


@pytest.mark.parametrize("kwargs", [
    {"sequence_def": b'"301001" = [ 001001 ]  # \xff\n'},
    {"code_tables": {1003: b"0 0 ANTARCTICA\n1 1 REGION \xe2\x82\n"}},
])
def test_text_files_that_are_not_utf8(tmp_path, kwargs):
    assert load_error(tmp_path, **kwargs) == "io error: stream did not contain valid UTF-8"


# --- element.table -----------------------------------------------------------

def test_short_records_are_skipped_and_extra_fields_ignored(tmp_path):
    seven = "001001|a|long|SEVEN|K|0|0\n001002|a|long|SEVEN|K|0|0\n"
    assert load(tmp_path, element_table=seven).element_count == 0
    eleven = "001001|a|long|ELEVEN|K|0|0|8|junk|not a number|x\n"
    e = load(tmp_path, element_table=eleven).get_element(1001)
    assert (e.name, e.width) == ("ELEVEN", 8)


def test_fields_are_taken_verbatim(tmp_path):
    row = ' "001001" | abbr |any text at all| NAME\twith tab |\u00b0C|-3|+17|08|x|y|z\n'
    e = load(tmp_path, element_table=row).get_element(1001)
    assert (e.abbreviation, e.element_type, e.name, e.unit) == (" abbr ", "any text at all", " NAME\twith tab ",
                                                                "\u00b0C")
    assert (e.scale, e.reference, e.width) == (-3, 17, 8)


def test_later_record_replaces_earlier(tmp_path):
    tables = load(tmp_path, elements=[Element(1001, "FIRST", width=7), Element(1001, "SECOND", width=9)])
    e = tables.get_element(1001)
    assert tables.element_count == 1 and (e.name, e.width) == ("SECOND", 9)


def test_nothing_is_validated_on_insert(tmp_path):
    tables = load(tmp_path, elements=[Element(999999, "", "", scale=-2147483648, width=0), Element(40000000, "F400")])
    assert tables.get_element(999999).width == 0 and tables.get_element(40000000).name == "F400"


# --- sequence.def ------------------------------------------------------------

def sequences_of(tmp_path, text):
    tables = load(tmp_path, sequence_def=text)
    return {code: tables.get_sequence(code).members for code in range(300000, 400000)
            if tables.get_sequence(code) is not None}


@pytest.mark.parametrize("text", [
    '"301011" = [  004001, 004002, 004003 ]\n',
    '"301011" =\n  [ 004001,\n  004002, 004003\n]\n',
    '  "301011"=[004001,004002,004003]',
    '301011 = [ 4001 , +4002 , "004003" ]\r\n',
    '# comment\n"301011" = [\n   # inside\n 004001, 004002,\n\n 004003 ]\n',
    '\u3000"301011" = [ 004001, 004002, 004003, ]\u00a0\n',
    '""301011"" = [ 004001,, 004002, 004003,,, ]\n',
])
def test_statement_forms(tmp_path, text):
    assert sequences_of(tmp_path, text) == {301011: [4001, 4002, 4003]}


def test_statement_quirks(tmp_path):
    text = ('"301001" = [ 001001 ] "301002" = [ 001002 ]\n'  # only the first on a line
            '"301003" = [ ]\n'                              # no members
            ']\n'                                           # no equals sign: dropped
            '"301004" = [ 001004 ] trailing text\n'
            '"301005" = [ 001005 ]\n"301005" = [ 001006 ]\n'  # later wins
            '"301006" = [ 001007,\n')                        # never closed: dropped
    assert sequences_of(tmp_path, text) == {301001: [1001], 301003: [], 301004: [1004], 301005: [1006]}


def test_line_without_equals_joins_nothing_after_its_bracket(tmp_path):
    # The stray line ends its statement at its own bracket; the next starts afresh.
    text = 'junk line\nmore junk ]\n"301001" = [ 001001 ]\n'
    assert sequences_of(tmp_path, text) == {301001: [1001]}


@pytest.mark.parametrize("text, statement", [
    ('"301001" =\n  001001, 001002\n]\n', '"301001" = 001001, 001002 ]'),
    ('"301001" = ] 001001 [\n', '"301001" = ] 001001 ['),
    ('"301001" = 001001 ]\n', '"301001" = 001001 ]'),
])
def test_statement_without_brackets_in_order(tmp_path, text, statement):
    assert load_error(tmp_path, sequence_def=text) == PREFIX + statement


@pytest.mark.parametrize("text, shown", [
    ('"30101x" = [ 001001 ]\n', '"30101x"'),
    ('"301001" [ = 001001 ]\n', '"301001\\" ["'),
    ('"301001" = [ 001001, " 001002" ]\n', '"\\" 001002\\""'),
    ('= [ 001001 ]\n', '""'),
    ('"301001" = [ 001001, 0-01-002 ]\n', '"0-01-002"'),
    ('"301001" = [ 001001, 00 1002 ]\n', '"00 1002"'),
])
def test_bad_codes_in_statements(tmp_path, text, shown):
    message = load_error(tmp_path, sequence_def=text)
    assert message.startswith(PREFIX + f"bad descriptor code {shown}: ")


def test_quoted_key_with_blanks_inside_quotes(tmp_path):
    # Blanks inside the quotes survive stripping, and the code conversion trims them.
    assert sequences_of(tmp_path, '" 301001 " = [ 001001 ]\n') == {301001: [1001]}


# --- codetables --------------------------------------------------------------

def test_code_table_lines(tmp_path):
    text = ("# comment\n"
            "0 0 ANTARCTICA\n"
            "1 x REGION   I\twith  tabs\n"
            "2 2\n"                       # two tokens: skipped
            "junk junk\n"                 # two tokens, first not a number: skipped
            "  # indented comment\n"
            "+3 3 PLUS\r\n"
            "1 1 REPLACED REGION I\n"
            "18446744073709551615 0 LAST\n")
    tables = load(tmp_path, code_tables={1003: text})
    meanings = [tables.get_meaning(1003, raw) for raw in range(5)]
    assert meanings == ["ANTARCTICA", "REPLACED REGION I", None, "PLUS", None]
    assert tables.get_meaning(1003, 2**64 - 1) == "LAST"


@pytest.mark.parametrize("key, reason", [
    ("1a", DIGIT), ("-1", DIGIT), ("18446744073709551616", "number too large to fit in target type"),
    ("0x1", DIGIT), ("+", DIGIT), ('"1"', DIGIT),
])
def test_bad_code_table_keys(tmp_path, key, reason):
    shown = '"' + key.replace('"', '\\"') + '"'
    expected = f"{PREFIX}bad code table key {shown}: {reason}"
    assert load_error(tmp_path, code_tables={1003: f"0 0 A\n{key} 1 B\n"}) == expected


def test_code_table_file_names(tmp_path):
    tables = load(tmp_path, code_tables={
        " 1003.table": "0 0 BLANK\n", "+1003.table": "0 0 PLUS\n", "01003.table": "0 0 ZERO\n",
        "1003.table": "0 0 PLAIN\n",  # last in byte order: held
        "20003.table": {4: "FOUR"}, "8042.table": "",
        "1003.txt": "0 0 NOT A TABLE\n", "1004.TABLE": "0 0 WRONG CASE\n", "sub": "x",
    })
    assert tables.get_meaning(1003, 0) == "PLAIN"
    assert tables.get_meaning(20003, 4) == "FOUR"
    assert tables.get_meaning(1004, 0) is None


def test_numeric_names_sort_by_bytes(tmp_path):
    # 10.table sorts before 2.table; "2.table" and "02.table" share a code.
    tables = load(tmp_path, code_tables={"2.table": "0 0 TWO\n", "10.table": "0 0 TEN\n", "02.table": "0 0 ZERO-TWO\n"})
    assert (tables.get_meaning(2, 0), tables.get_meaning(10, 0)) == ("TWO", "TEN")


@pytest.mark.parametrize("name, shown", [("README.table", '"README"'), (".table", '".table"'),
                                         ("1.2.table", '"1.2"'), ("\u00e91.table", '"\u00e91"')])
def test_every_table_file_must_be_named_by_a_code(tmp_path, name, shown):
    message = load_error(tmp_path, code_tables={1003: {0: "A"}, name: "0 0 X\n"})
    assert message == f"{PREFIX}bad descriptor code {shown}: {DIGIT}"


def test_names_that_are_not_text_are_skipped(tmp_path):
    root = write_table_dir(tmp_path / "t", code_tables={1003: {0: "A"}})
    with open(os.path.join(os.fsencode(root), b"codetables", b"\xff1003.table"), "wb") as f:
        f.write(b"0 0 B\n")
    assert TableSet.from_eccodes(root).get_meaning(1003, 0) == "A"


def test_sub_directories_are_not_entered(tmp_path):
    root = write_table_dir(tmp_path / "t", code_tables={1003: {0: "A"}})
    os.makedirs(os.path.join(root, "codetables", "nested"))
    with open(os.path.join(root, "codetables", "nested", "1003.table"), "w") as f:
        f.write("0 0 NESTED\n")
    assert TableSet.from_eccodes(root).get_meaning(1003, 0) == "A"


# --- damaged files never crash ----------------------------------------------

def sample_files():
    elements = element_table_text([Element(1001 + i, f"NAME \u00e9 {i}", width=8 + i) for i in range(6)])
    elements += '001020|q|long|"QUOTED|NAME ""X"""|K|0|0|8|K|0|0\n'
    sequences = '"301001" = [ 001001,\n 001002 ]\n"301002" = [ 301001, 101000, 031001, 001003 ]\n'
    code_table = "0 0 ANTARCTICA \u00e9\n1 1 REGION I\n"
    return elements.encode(), sequences.encode(), code_table.encode()


@pytest.mark.parametrize("which", [0, 1, 2])
def test_every_truncation_loads_or_fails_cleanly(tmp_path, which):
    files = sample_files()
    content = files[which]
    for cut in range(len(content) + 1):
        parts = list(files)
        parts[which] = content[:cut]
        root = write_table_dir(tmp_path / f"t{cut}", element_table=parts[0], sequence_def=parts[1],
                               code_tables={1003: parts[2]})
        try:
            tables = TableSet.from_eccodes(root)
        except ValueError as e:
            assert str(e).startswith((PREFIX + "CSV", PREFIX + "bad ", "io error: stream did not contain valid UTF-8"))
        else:
            assert tables.element_count <= 7 and tables.sequence_count <= 2


def test_expand_descriptors_loads_then_expands(tmp_path):
    root = write_table_dir(tmp_path / "t", sequences={301001: [1001, 1002]})
    assert _skyrec.expand_descriptors(root, [301001, 4001]) == [1001, 1002, 4001]
    assert _skyrec.expand_descriptors(table_dir=root, descriptors=()) == []
    with pytest.raises(ValueError, match="^csv/table parse error: "):
        _skyrec.expand_descriptors(str(tmp_path / "t" / "sequence.def"), [])


def test_path_must_be_str(tmp_path):
    import pathlib

    root = write_table_dir(tmp_path / "t", elements=[Element(1001)])

    class Text(str):
        pass

    assert TableSet.from_eccodes(Text(root)).element_count == 1
    for bad in (pathlib.Path(root), root.encode(), None):
        with pytest.raises(TypeError, match="^argument 'path'"):
            TableSet.from_eccodes(bad)
