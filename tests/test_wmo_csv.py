"""Loading Table B and Table D from WMO BUFR4 CSV files."""

from pathlib import Path

import pytest

import _skyrec

TableSet = _skyrec.TableSet
B_HEADER = ("ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,"
            "BUFR_DataWidth_Bits,CREX_Unit,CREX_Scale,CREX_DataWidth_Char,Note_en,noteIDs,Status")
D_HEADER = ("Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2,ElementName_en,"
            "ElementDescription_en,Note_en,noteIDs,Status")


def b_row(code, name="NAME", unit="K", scale="0", reference="0", width="8"):
    return f'12,Temperature,{code},"{name}",{unit},{scale},{reference},{width},C,0,3,,,Operational'


def d_row(sequence, member):
    return f"3,Location,{sequence},Title,,{member},Element,,,,Operational"


def write(directory: Path, name: str, header: str, rows) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_text("\n".join([header, *rows]) + "\n")


def load(directory) -> "TableSet":
    return TableSet.from_bufr4_45(str(directory))


def test_rows_become_elements(tmp_path):
    write(tmp_path, "BUFRCREX_TableB_en_12.csv", B_HEADER,
          [b_row("012101", "Temperature, air", "K", "2", "-1000", "16")])
    e = load(tmp_path).get_element(12101)
    assert (e.code, e.name, e.unit, e.scale, e.reference, e.width, e.abbreviation, e.element_type) == (
        12101, "Temperature, air", "K", 2, -1000, 16, "", "long")


@pytest.mark.parametrize("unit, kind", [("Code table", "code"), ("Flag table", "flags"), ("CCITT IA5", "string"),
                                        ("Code Table", "long"), ("code table", "long"), ("Code table ", "long"),
                                        (" Code table", "long"), ("", "long")])
def test_element_type_comes_from_the_exact_unit(tmp_path, unit, kind):
    write(tmp_path, "BUFRCREX_TableB_en_20.csv", B_HEADER, [b_row("020003", unit=unit)])
    e = load(tmp_path).get_element(20003)
    assert e.element_type == kind and e.unit == unit


def test_later_files_and_rows_win(tmp_path):
    write(tmp_path, "BUFRCREX_TableB_en_01.csv", B_HEADER, [b_row("001001", "FIRST"), b_row("001002", "ONLY")])
    write(tmp_path, "BUFRCREX_TableB_en_02.csv", B_HEADER, [b_row("001001", "SECOND"), b_row("001001", "THIRD")])
    t = load(tmp_path)
    assert t.get_element(1001).name == "THIRD" and t.get_element(1002).name == "ONLY"


def test_table_d_rows_are_gathered_per_sequence_and_file(tmp_path):
    write(tmp_path, "BUFR_TableD_en_01.csv", D_HEADER,
          [d_row("301011", "004001"), d_row("301012", "004004"), d_row("301011", "004002"),
           d_row("301011", "004003"), d_row("301099", "001001")])
    write(tmp_path, "BUFR_TableD_en_02.csv", D_HEADER, [d_row("301099", "001002")])
    t = load(tmp_path)
    assert t.get_sequence(301011).members == [4001, 4002, 4003]
    assert t.get_sequence(301012).members == [4004]
    assert t.get_sequence(301099).members == [1002]  # replaced, not concatenated
    assert t.element_count == 0 and t.sequence_count == 3


def test_header_fixes_the_field_count(tmp_path):
    # A 7-field header makes every row too short to hold a width: no elements, no error.
    write(tmp_path, "BUFRCREX_TableB_en_01.csv", "a,b,c,d,e,f,g", ["1,2,001001,N,U,0,0"])
    write(tmp_path, "BUFRCREX_TableB_en_02.csv", b_row("009999", "HEADER IS NOT DATA"), [b_row("002001")])
    t = load(tmp_path)
    assert t.get_element(1001) is None and t.get_element(9999) is None and t.get_element(2001) is not None


def test_name_filter_is_exact(tmp_path):
    for name in ("bufrcrex_tableb_en_01.csv", "BUFRCREX_TableB_en_01.CSV", "BUFRCREX_TableB_en_01.csv.bak",
                 "xBUFRCREX_TableB_en_01.csv"):
        write(tmp_path, name, B_HEADER, [b_row("001001")])
    assert load(tmp_path).element_count == 0


@pytest.mark.parametrize("row, message", [
    (b_row(" 001001 "), None),
    (b_row("001001", scale=" 0"), 'bad i32 " 0": invalid digit found in string'),
    (b_row("001001", reference="1e3"), 'bad i64 "1e3": invalid digit found in string'),
    (b_row("001001", width="65536"), 'bad u16 "65536": number too large to fit in target type'),
    (b_row("0010x1", scale="x"), 'bad descriptor code "0010x1": invalid digit found in string'),
])
def test_table_b_field_errors(tmp_path, row, message):
    write(tmp_path, "BUFRCREX_TableB_en_01.csv", B_HEADER, [row])
    if message is None:
        assert load(tmp_path).get_element(1001) is not None
        return
    with pytest.raises(ValueError) as info:
        load(tmp_path)
    assert str(info.value) == "csv/table parse error: " + message


def test_empty_member_fails(tmp_path):
    write(tmp_path, "BUFR_TableD_en_01.csv", D_HEADER, [d_row("301011", "")])
    with pytest.raises(ValueError, match='^csv/table parse error: bad descriptor code "": cannot parse integer'):
        load(tmp_path)


def test_path_errors(tmp_path):
    (tmp_path / "file").write_text("x")
    for bad in (tmp_path / "file", tmp_path / "missing"):
        with pytest.raises(ValueError, match="^io error: "):
            load(bad)
    (tmp_path / "dir" / "BUFRCREX_TableB_en_01.csv").mkdir(parents=True)
    with pytest.raises(ValueError, match="^csv/table parse error: Is a directory"):
        load(tmp_path / "dir")
    with pytest.raises(TypeError, match="path"):
        TableSet.from_bufr4_45(tmp_path)


WMO = Path(__file__).resolve().parent.parent.parent / "shared" / "tables" / "wmo-bufr4"


def test_real_wmo_tables_agree_with_eccodes_tables(definitions):
    if not (WMO / "SOURCE.txt").exists():
        pytest.skip(f"WMO BUFR4 CSV tables not found at {WMO}")
    wmo = load(WMO)
    newest = max(int(p.name) for p in (definitions / "bufr/tables/0/wmo").iterdir() if p.name.isdigit())
    eccodes = TableSet.from_eccodes(str(definitions / f"bufr/tables/0/wmo/{newest}"))
    assert wmo.get_meaning(20003, 61) is None
    same = 0
    for code in range(0, 64000):
        ours, theirs = wmo.get_element(code), eccodes.get_element(code)
        if ours is None or theirs is None:
            continue
        assert (ours.scale, ours.reference, ours.width) == (theirs.scale, theirs.reference, theirs.width), code
        same += 1
    assert same > 1500
    for code in (301011, 301021, 307080, 309052):
        assert wmo.get_sequence(code).members == eccodes.get_sequence(code).members
