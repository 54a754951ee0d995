"""The tables bundled with the package: each version loads from memory and
equals what the directory loaders read from the same source; the parsers fed
bytes fail with the directory loaders' texts; a missing local table and a
master version beside the WMO CSV tables' are named when a message fails."""

from __future__ import annotations

import json
import re
import subprocess
import sys
from pathlib import Path

import pytest

import _skyrec
from bufrgen import build_message
from conftest import corpus_dir, definitions_root
from skyrec import TableSource, _native, bundle, find_tables, read_messages
from skyrec import tables as discovery
from tablegen import Element, write_table_dir

ROOT = definitions_root()
WMO_CSV = Path(__file__).resolve().parents[2] / "shared" / "tables" / "wmo-bufr4"
NO_TREE = "no ecCodes definitions tree installed: install Debian's libeccodes-data or set ECCODES_DEFINITION_PATH"
pytestmark = pytest.mark.skipif(not bundle.available(), reason=f"no table bundle at {bundle.PATH}")


def bundle_keys(prefix):
    return [k for k in bundle.keys() if k.startswith(prefix)] if bundle.available() else []


def message(master=39, local=0, centre=98, subcentre=0, descriptors=(1001,)):
    return _skyrec.parse_bytes(build_message(list(descriptors), b"\0", master_version=master, local_version=local,
                                             centre=centre, subcentre=subcentre))


def listed_codes(*directories):
    """Every element, sequence and code table entry that the directories' files name."""
    elements, sequences, meanings = set(), set(), set()
    for d in directories:
        if (d / "element.table").is_file():
            elements |= {int(c) for c in re.findall(r"^\s*\"?(\d+)", (d / "element.table").read_text(), re.M)}
        if (d / "sequence.def").is_file():
            sequences |= {int(c) for c in re.findall(r"\"?(\d+)\"?\s*=", (d / "sequence.def").read_text())}
        for path in (d / "codetables").glob("*.table") if (d / "codetables").is_dir() else []:
            meanings |= {(int(path.stem), int(raw)) for raw in re.findall(r"^\s*(\d+)\s", path.read_text(), re.M)}
    return elements, sequences, meanings


def entries(tables, codes, abbreviations=True):
    elements, sequences, meanings = codes
    shown = {}
    for code in elements:
        e = tables.get_element(code)
        shown[("B", code)] = e and (e.abbreviation if abbreviations else "", e.name, e.unit, e.scale, e.reference,
                                    e.width)
    for code in sequences:
        s = tables.get_sequence(code)
        shown[("D", code)] = s and s.members
    for code, raw in meanings:
        shown[("C", code, raw)] = tables.get_meaning(code, raw)
    return tables.element_count, tables.sequence_count, shown


def layer_case(key):
    """(message naming the bundle layer `key`, its directories in the tree)."""
    tables = ROOT / "bufr" / "tables" / "0"
    if key.startswith("wmo/"):
        version = int(key.split("/")[2])
        return message(version), [Path(_native.resolve_table_dir(str(tables / "wmo" / str(version))))]
    local, centre, subcentre = key.split("/")[2:]
    master = 19 if local.startswith("19-") else 39
    m = message(master, int(local.removeprefix("19-")), int(centre), int(subcentre))
    named, found, local_dir = _native.table_directories(str(ROOT), m)
    return m, [Path(found), Path(local_dir)]


ECCODES_KEYS = [k for k in bundle_keys("wmo/0/") if int(k.split("/")[2]) < 40] + bundle_keys("local/")


@pytest.mark.skipif(ROOT is None, reason=NO_TREE)
@pytest.mark.parametrize("key", ECCODES_KEYS)
def test_bundle_equals_the_definitions_tree(key):
    m, directories = layer_case(key)
    codes = listed_codes(*directories)
    assert codes[0], f"{key}: no elements listed"
    # The package reads both as ecCodes does (blanks around numbers ignored).
    tree = outcome(lambda m: _native.definitions_tables(str(ROOT), m), m, codes)
    assert outcome(bundle.for_message, m, codes) == tree


def outcome(load, m, codes):
    """The entries loaded, or the error text (some local tables do not load)."""
    try:
        return entries(load(m), codes)
    except ValueError as e:
        return str(e)


@pytest.mark.skipif(not WMO_CSV.is_dir(), reason=f"WMO's BUFR4 CSV tables not found at {WMO_CSV}")
@pytest.mark.parametrize("version", range(40, 46))
def test_bundle_equals_the_wmo_csv_tables(version):
    from_csv = _native.tables_from_wmo_csv(str(WMO_CSV))
    bundled = bundle.load(f"wmo/0/{version}")
    data, index = bundle._contents()
    element_span, sequence_span, code_spans = index[f"wmo/0/{version}"]
    text = data[slice(*element_span)].decode() + data[slice(*sequence_span)].decode()
    elements = {int(c) for c in re.findall(r"^(\d{6})\|", text, re.M)}
    sequences = {int(c) for c in re.findall(r'^"(\d{6})" =', text, re.M)}
    meanings = {(int(name.removesuffix(".table")), int(raw)) for name, start, end in code_spans
                for raw in re.findall(r"^(\d+) ", data[start:end].decode(), re.M)}
    codes = (elements, sequences, meanings)
    assert entries(bundled, codes, abbreviations=False) == entries(from_csv, codes, abbreviations=False)
    assert len(elements) == from_csv.element_count and len(meanings) > 1000
    if ROOT is not None:  # ecCodes' key for each descriptor that ecCodes knows
        newest = _skyrec.TableSet.from_eccodes(_native.resolve_table_dir(str(ROOT / "bufr/tables/0/wmo/39")))
        known = [c for c in elements if newest.get_element(c) is not None]
        assert known and all(bundled.get_element(c).abbreviation == newest.get_element(c).abbreviation
                             for c in known)


ELEMENT = "001001|a|long|NAME|K|0|0|7|K|0|2\n"
BAD_FILES = {
    "field count": {"element_table": ELEMENT + "001002|b|long|N|K|0|0\n"},
    "utf-8 in a field": {"element_table": ELEMENT.replace("NAME", "N\udcffM")},
    "scale": {"element_table": ELEMENT.replace("|0|0|7", "|x|0|7")},
    "sequence code": {"sequence_def": '"30x001" = [ 001001 ]\n'},
    "sequence not utf-8": {"sequence_def": '"301001" = [ 001001 ] # \udcff\n'},
    "sequence statement": {"sequence_def": '"301001" = ] 001001 [\n'},
    "code table key": {"code_tables": {"1001.table": "x 0 MEANING\n"}},
    "code table not utf-8": {"code_tables": {"1001.table": "1 1 \udcff\n"}},
    "code table name": {"code_tables": {"1x1.table": "1 1 MEANING\n"}},
}


@pytest.mark.parametrize("case", BAD_FILES)
def test_parsers_fed_bytes_fail_as_the_directory_loader(tmp_path, case):
    files = {"element_table": ELEMENT, "sequence_def": "", "code_tables": {}} | BAD_FILES[case]
    directory = tmp_path / "t"
    (directory / "codetables").mkdir(parents=True)
    raw = {name: text.encode("utf-8", "surrogateescape") for name, text in files.items() if name != "code_tables"}
    (directory / "element.table").write_bytes(raw["element_table"])
    (directory / "sequence.def").write_bytes(raw["sequence_def"])
    data, spans, codes = b"", [], []
    for content in (raw["element_table"], raw["sequence_def"]):
        spans.append((len(data), len(data) + len(content)))
        data += content
    for name, text in files["code_tables"].items():
        content = text.encode("utf-8", "surrogateescape")
        (directory / "codetables" / name).write_bytes(content)
        codes.append((name, len(data), len(data) + len(content)))
        data += content
    with pytest.raises((ValueError, OSError)) as from_directory:
        _skyrec.TableSet.from_eccodes(str(directory))
    with pytest.raises(type(from_directory.value)) as from_memory:
        _native.tables_from_texts(data, [(spans[0], spans[1], codes)])
    assert str(from_memory.value) == str(from_directory.value)


def test_a_missing_local_table_is_named(tmp_path):
    root = tmp_path / "definitions"
    write_table_dir(root / "bufr" / "tables" / "0" / "wmo" / "39", elements=[Element(1001, "BLOCK", width=7)])
    data = build_message([1192], b"\0" * 2, master_version=39, local_version=7, centre=250, subcentre=3)
    path = tmp_path / "local.bufr"
    path.write_bytes(data)
    for source in (TableSource(root=str(root)), TableSource(bundled=True)):
        [item] = read_messages(path, tables=source)
        text = str(item.error)
        assert "001192 was not found in Table B" in text
        assert "local tables version 7 of centre 250, sub-centre 3" in text and "bufr/tables/0/local/7/250/3" in text
    # A source that has them decodes the message.
    write_table_dir(root / "bufr" / "tables" / "0" / "local" / "7" / "250" / "3",
                    elements=[Element(1192, "LOCAL", width=8)])
    [item] = read_messages(path, definitions=root)
    assert item.error is None and item.values[0].name == "LOCAL"


CSV_B = ("ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,BUFR_DataWidth_Bits\n"
         "02,Instrumentation,002001,Type of station,Code table,0,0,2\n")
CSV_D = "Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2\n"
CSV_CODES = ("FXY,ElementName_en,CodeFigure,EntryName_en,EntryName_sub1_en,EntryName_sub2_en,Note_en,noteIDs,Status\n"
             "002001,Type of station,1,\"Manned\nstation\",,,,,Operational\n"
             "002001,Type of station,2-3,Reserved,,,,,Operational\n"
             "002001,Type of station,0,,Automatic,,,,Operational\n")


def skyrec_cli(*args):
    return subprocess.run([sys.executable, "-m", "skyrec", *map(str, args)], capture_output=True, text=True)


@pytest.mark.parametrize("files, status", [
    ({"BUFRCREX_TableB_en_02.csv": CSV_B, "BUFR_TableD_en_01.csv": CSV_D, "BUFRCREX_CodeFlag_en_02.csv": CSV_CODES},
     0),
    ({"BUFRCREX_TableB_en_02.csv": CSV_B}, 2),
    ({"BUFR_TableD_en_01.csv": CSV_D}, 2),
])
def test_wmo_csv_source(tmp_path, files, status):
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    bufr = tmp_path / "m.bufr"
    bufr.write_bytes(build_message([2001], b"\x40", master_version=40))
    done = skyrec_cli("dump", "--wmo-csv", tmp_path, "--format", "jsonl", bufr)
    assert done.returncode == status, done.stderr
    if status == 2:
        assert str(tmp_path) in done.stderr and "No such file" not in done.stderr
        return
    [record] = [json.loads(line) for line in done.stdout.splitlines()]
    assert (record["raw"], record["meaning"]) == (1, "Manned station")
    tables = _native.tables_from_wmo_csv(str(tmp_path))
    assert [tables.get_meaning(2001, raw) for raw in range(4)] == ["Automatic", "Manned station", None, None]
    # A message that fails with these tables names both versions.
    bufr.write_bytes(build_message([2002], b"\0", master_version=30))
    [item] = read_messages(bufr, wmo_csv=tmp_path)
    assert "master tables version 30" in str(item.error) and "version 45" in str(item.error)


def same_columns(a, b):
    """Whether two messages decoded to the same values, names and texts (NaN: missing, equal)."""
    np = pytest.importorskip("numpy")
    arrays = ("descriptor", "raw", "raw_present", "subset", "element_code", "text_code", "meaning_code")
    return (all(np.array_equal(getattr(a, k), getattr(b, k)) for k in arrays)
            and np.array_equal(a.value, b.value, equal_nan=True)
            and (a.names, a.units, a.texts, a.meanings) == (b.names, b.units, b.texts, b.meanings))


@pytest.mark.skipif(corpus_dir() is None, reason="real BUFR corpus not found (it is not part of a clone)")
@pytest.mark.skipif(ROOT is None, reason=NO_TREE)
def test_corpus_decodes_alike_from_the_bundle_and_the_tree(monkeypatch, tmp_path):
    # Nothing on disk to find: the bundle serves.
    monkeypatch.delenv(discovery.ENVIRONMENT_VARIABLE, raising=False)
    monkeypatch.setattr(discovery, "SYSTEM_ROOTS", ())
    monkeypatch.setattr(discovery, "prefix_roots", lambda: [])
    monkeypatch.setattr(discovery, "package_roots", lambda: [])
    found = find_tables()
    assert found.bundled
    tree = find_tables(definitions=ROOT)
    decoded = 0
    for path in sorted(p for p in corpus_dir().iterdir() if p.is_file() and p.name != "MANIFEST.tsv"):
        for a, b in zip(read_messages(path, tables=tree, output="columns"),
                        read_messages(path, tables=found, output="columns"), strict=True):
            if a.error is not None:
                continue
            assert b.error is None, f"{path.name} message {a.index}: {b.error}"
            assert same_columns(a.columns, b.columns), f"{path.name} message {a.index}"
            decoded += 1
    assert decoded > 100
