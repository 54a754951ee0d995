"""Every mistake gets a reply that names the thing and the fix, never an
empty answer; and the package's outputs show what a message holds: texts
with every byte, no meaning for a missing value, an all-ones 031021 missing."""

from __future__ import annotations

import json
import os
import re
import subprocess
import sys
import warnings
from pathlib import Path

import pytest

pd = pytest.importorskip("pandas")

import _skyrec  # noqa: E402
import skyrec  # noqa: E402
from bufrgen import BitWriter, build_message  # noqa: E402
from decodekit import column  # noqa: E402
from skyrec.cli import main  # noqa: E402
from skyrec.observations import read_observations  # noqa: E402
from tablegen import Element, element_table_text, write_table_dir  # noqa: E402

CHANNEL = "tovsOrAtovsOrAvhrrInstrumentationChannelNumber"
ELEMENTS = [Element(1015, "STATION NAME", "CCITT IA5", width=64, abbreviation="stationOrSiteName"),
            Element(2001, "TYPE OF STATION", "CODE TABLE", width=2, abbreviation="stationType"),
            Element(5042, "CHANNEL NUMBER", width=6, abbreviation=CHANNEL),
            Element(31021, "ASSOCIATED FIELD SIGNIFICANCE", "CODE TABLE", width=6,
                    abbreviation="associatedFieldSignificance"),
            Element(7004, "PRESSURE", "Pa", width=14, abbreviation="pressure")]
CODES = {2001: {0: "AUTOMATIC", 1: "MANNED"}, 31021: {1: "1-BIT INDICATOR", 63: "MISSING VALUE"}}
# A Latin-1 station name, the same name in UTF-8, and one in plain ASCII.
NAMES = ["Zürich".encode("latin-1"), "Zürich".encode(), b"DE BILT"]
DESCRIPTORS = [1015, 2001, 5042, 31021]


def uncompressed() -> bytes:
    bits = BitWriter()
    for j, name in enumerate(NAMES):
        bits.text(name, 64).uint([1, 3, 0][j], 2).uint(7, 6).uint([63, 1, 63][j], 6)
    return build_message(DESCRIPTORS, bits.to_bytes(), subsets=len(NAMES))


def compressed() -> bytes:
    """The same three subsets, compressed: station type 1, missing, 0."""
    bits = BitWriter().raw_bytes(b"\0" * 8).uint(8, 6)
    for name in NAMES:
        bits.text(name, 64)
    column(bits, 2, [1, None, 0])
    column(bits, 6, [7, 7, 7])
    column(bits, 6, [None, 1, None])  # all-ones increments: R0 + 1, where the flat list shows 2
    return build_message(DESCRIPTORS, bits.to_bytes(), subsets=len(NAMES), compressed=True)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    root = tmp_path_factory.mktemp("silent")
    tables = write_table_dir(root / "tables", ELEMENTS, {}, CODES)
    (root / "obs").mkdir()
    (root / "obs" / "a.bufr").write_bytes(uncompressed())
    (root / "obs" / "b.bufr").write_bytes(compressed())
    (root / "definitions" / "bufr" / "tables").mkdir(parents=True)
    (root / "empty").mkdir()
    (root / "text.tsv").write_bytes(b"name\tBUFR files\n" * 40)  # "BUFR" in words, no message
    (root / "nothing.bin").write_bytes(b"")
    (root / "picture.png").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4)
    return root, tables


def cli(capsys, *args: str) -> tuple[int, str]:
    status = main(list(args))
    return status, capsys.readouterr().err


# (arguments with ROOT, TABLES and OBS for the fixture's paths, exit status, what stderr says)
CLI_CASES = [
    (["dump", "--tables", "TABLES", "--keys", "channelNumber", "OBS/a.bufr"], 2,
     f"no key 'channelNumber' in the tables of the messages read (did you mean {CHANNEL}?)"),
    (["dump", "--tables", "TABLES", "--keys", "pressure", "OBS/a.bufr"], 0,
     "warning: --keys: no message read holds 'pressure' (a key of its tables)"),
    (["dump", "--tables", "TABLES", "--subset", "3", "OBS/a.bufr"], 1,
     "OBS/a.bufr: message 0: no subset 3: it holds 3, numbered from 0"),
    (["dump", "--tables", "TABLES", "--message", "1", "OBS/a.bufr"], 1,
     "OBS/a.bufr: no message 1: the file holds 1, numbered from 0"),
    (["dump", "--tables", "TABLES", "--where", "typicalHour=1:0", "OBS/a.bufr"], 2,
     "--where 'typicalHour=1:0': 1:0 is an empty range"),
    (["table", "--tables", "TABLES", "-c", "stationOrSiteName,pressur", "OBS/a.bufr"], 2,
     "no key 'pressur' in the tables of the messages read (did you mean pressure?)"),
    (["dump", "--tables", "ROOT/definitions", "OBS/a.bufr"], 2,
     "ROOT/definitions is an ecCodes definitions root, not a table directory: pass it as definitions= "
     "(skyrec: --definitions)"),
    (["dump", "--tables", "ROOT/empty", "OBS/a.bufr"], 2, "ROOT/empty: no element.table in it"),
    (["ls", "ROOT/text.tsv"], 1, "ROOT/text.tsv: no BUFR messages found"),
]


@pytest.mark.parametrize("args, status, says", CLI_CASES, ids=[" ".join(c[0][:1] + c[0][-2:]) for c in CLI_CASES])
def test_the_command_line_says_what_is_wrong(files, capsys, args, status, says):
    root, tables = files
    paths = {"TABLES": tables, "OBS": str(root / "obs"), "ROOT": str(root)}
    swap = re.compile("|".join(paths))
    done, err = cli(capsys, *[swap.sub(lambda m: paths[m.group()], a) for a in args])
    assert (done, swap.sub(lambda m: paths[m.group()], says) in err) == (status, True), err


# A sequence and an element of the message's local tables, which no table source holds
# (`skyrec tables` expands sequences, so only a missing sequence stops it).
@pytest.mark.parametrize("descriptor, table, commands", [(340001, "D", ("tables", "dump")), (1192, "B", ("dump",))])
def test_missing_local_tables_are_said_once_with_the_messages_they_stop(capsys, tmp_path, descriptor, table,
                                                                        commands):
    definitions = tmp_path / "definitions"
    write_table_dir(definitions / "bufr" / "tables" / "0" / "wmo" / "38", ELEMENTS[:1], {}, {})
    path = tmp_path / "local.bufr"
    path.write_bytes(build_message([descriptor], b"\0", local_version=1) * 5)
    missing = f"descriptor {descriptor:06d} was not found in Table {table}"
    for command in commands:
        status, err = cli(capsys, command, "--definitions", str(definitions), str(path))
        lines = err.splitlines()
        assert status == 1 and len(lines) == 2, err
        assert f"{missing} (its local tables version 1 of centre 98" in lines[0]
        assert lines[1].startswith(f"skyrec: {path}: 5 messages (tables of master table 0 version 38, local version 1")
        assert lines[1].endswith(f"stopped in all: {missing} (its local tables version 1 of centre 98, sub-centre 0 "
                                 "are in no table source searched: pass definitions= (skyrec: --definitions) an "
                                 "ecCodes definitions tree that has bufr/tables/0/local/1/98/0, or set "
                                 "ECCODES_DEFINITION_PATH to one)"), lines[1]
    for read in (lambda: skyrec.read_dataframe(path, definitions=definitions),
                 lambda: read_observations(path, ["stationOrSiteName"], definitions=definitions)):
        with pytest.warns(UserWarning, match=rf"^{re.escape(str(path))}: 5 messages stopped: {missing} "
                                             r"\(its local tables version 1") as caught:
            assert len(read().attrs["errors"]) == 5
        assert len(caught) == 1


NOT_BUFR = ["text.tsv", "nothing.bin", "picture.png"]
READERS = {
    "read_messages": lambda p, t: [i.error for i in skyrec.read_messages(p, table_dir=t)],
    "read_dataframe": lambda p, t: skyrec.read_dataframe(p, table_dir=t).attrs["errors"],
    "read_block": lambda p, t: skyrec.read_block(p, table_dir=t)[1].error.tolist(),
    "read_observations": lambda p, t: read_observations(p, ["stationType"], table_dir=t).attrs["errors"],
    "read_wide": lambda p, t: [w.error for w in skyrec.read_wide(p, table_dir=t)],
    "read_headers": lambda p, t: skyrec.read_headers(p).attrs["errors"],
}


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("name", NOT_BUFR)
def test_input_without_messages_is_one_error_in_every_reader(files, name, reader):
    root, tables = files
    try:
        said = [str(e) for e in READERS[reader](str(root / name), tables)]
    except skyrec.MessageError as e:
        said = [str(e)]
    assert said == ["no BUFR messages found"]
    with pytest.raises(skyrec.DecodeError, match="^no BUFR messages found$"):
        list(skyrec.read_messages(root / name, table_dir=tables, strict=True))


SOURCE_ERRORS = [
    (lambda root: [root / "obs", root / "missing.bufr"], "source: no such file or directory: ROOT/missing.bufr"),
    (lambda root: str(root / "obs" / "*.nothing"), "source: no files match ROOT/obs/*.nothing"),
    (lambda root: root / "empty", "source: directory ROOT/empty holds no files"),
]


@pytest.mark.parametrize("source, says", SOURCE_ERRORS)
def test_directories_globs_and_lists_read_alike_and_name_what_is_wrong(files, source, says):
    root, tables = files
    files_read = [str(root / "obs" / "a.bufr"), str(root / "obs" / "b.bufr")] * 2
    for given in ([root / "obs", root / "obs" / "a.bufr", root / "obs" / "b.bufr"], str(root / "obs" / "*.bufr") + "*"):
        frame = skyrec.read_dataframe(given, table_dir=tables)
        assert sorted(set(frame.file.astype(str))) == files_read[:2] and frame.attrs["errors"] == []
    rows = read_observations([root / "obs", root / "obs" / "a.bufr"], ["stationOrSiteName"], table_dir=tables)
    assert len(rows) == 3 * 3
    with pytest.raises(FileNotFoundError) as raised:
        skyrec.read_block(source(root), table_dir=tables)
    assert str(raised.value) == says.replace("ROOT", str(root))


BLOCKED = "import sys; sys.modules['numpy'] = None; sys.modules['pandas'] = None\n"


@pytest.mark.parametrize("code, says", [
    ("import skyrec; skyrec.read_dataframe(b'')", "skyrec.blocks needs NumPy and pandas (no module 'numpy'): "
                                                  "pip install 'skyrec[pandas]'"),
    ("import skyrec.dask", "skyrec.dask needs Dask (import of numpy halted; None in sys.modules): "
                           "pip install 'skyrec[dask]'"),
    ("import skyrec; skyrec.Columns", "skyrec.columns needs NumPy (no module 'numpy'): pip install 'skyrec[numpy]'"),
    ("from skyrec.cli import main; sys.exit(main(['table', '-c', 'x', 'f']))",
     "skyrec: skyrec table needs NumPy and pandas (no module 'numpy'): pip install 'skyrec[pandas]'"),
    ("from skyrec.cli import main; sys.exit(main(['convert', 'SAMPLE', '--to', 'csv', '-o', 'x']))",
     "skyrec: skyrec.observations needs NumPy and pandas (no module 'numpy'): pip install 'skyrec[pandas]'"),
    ("from skyrec.cli import main; sys.exit(main(['copy', 'SAMPLE', '--where', 'airTemperature=1',"
     " '-o', 'x']))", "skyrec: skyrec.columns needs NumPy (no module 'numpy'): pip install 'skyrec[numpy]'"),
])
def test_without_the_optional_dependencies_the_error_names_the_extra(code, says, tmp_path):
    sample = Path(__file__).resolve().parents[1] / "examples" / "sample.bufr"
    done = subprocess.run([sys.executable, "-c", BLOCKED + code.replace("SAMPLE", str(sample))], capture_output=True,
                          text=True, timeout=120, cwd=tmp_path)
    assert done.returncode != 0 and says in done.stderr, done.stderr
    if "cli" in code:  # the command line says it in one line, not a traceback
        assert done.returncode == 2 and "Traceback" not in done.stderr, done.stderr
    assert not (tmp_path / "x").exists()


def test_without_a_definitions_tree_the_bundle_is_said_to_serve(monkeypatch):
    monkeypatch.setattr(skyrec.tables, "SYSTEM_ROOTS", ())
    monkeypatch.setattr(skyrec.tables, "package_roots", lambda: [])
    monkeypatch.setattr(skyrec.tables, "prefix_roots", lambda: [])
    monkeypatch.delenv("ECCODES_DEFINITION_PATH", raising=False)
    if not skyrec.bundle.available():
        pytest.skip("no bundled tables in this build")
    with pytest.raises(skyrec.TablesNotFound, match="the tables bundled with skyrec serve find_tables"):
        skyrec.find_definitions_root()


def nones(values) -> list:
    return [None if v != v else v for v in values]  # NaN, pandas' NA and None alike


def package_outputs(path, tables):
    """Per output, (texts, station type meanings, 031021 values) of the three subsets."""
    (item,) = skyrec.read_messages(path, table_dir=tables, output="columns")
    c = item.columns
    by = {d: [i for i in range(len(c)) if c.descriptor[i] == d] for d in DESCRIPTORS}
    frame = skyrec.read_dataframe(path, table_dir=tables)
    of = {d: frame[frame.descriptor == d] for d in DESCRIPTORS}
    rows = read_observations(path, ["stationOrSiteName", "associatedFieldSignificance"], table_dir=tables,
                             required_columns=False)
    dumped = subprocess.run([sys.executable, "-m", "skyrec", "dump", "--format", "jsonl", "--tables", tables, path],
                            capture_output=True, text=True, timeout=120,
                            env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    records = [json.loads(line) for line in dumped.stdout.splitlines()]
    dump = {d: [r for r in records if int(r["descriptor"]) == d] for d in DESCRIPTORS}
    wide = next(iter(skyrec.read_wide(path, table_dir=tables))) if item.message.compressed_data else None
    return {
        "columns": (c.text[by[1015]].tolist(), c.meaning[by[2001]].tolist(), nones(c.value[by[31021]])),
        "frame": (of[1015].text.tolist(), nones(of[2001].meaning), nones(of[31021].value)),
        "observations": (rows.stationOrSiteName.tolist(), None, nones(rows.associatedFieldSignificance)),
        "dump": ([r["text"] for r in dump[1015]], [r["meaning"] for r in dump[2001]],
                 [r["value"] for r in dump[31021]]),
        "wide": None if wide is None else (wide.texts[0].tolist(), wide.meanings[1].tolist(), nones(wide.values[:, 3])),
    }


@pytest.mark.parametrize("name", ["a.bufr", "b.bufr"])
def test_outputs_show_what_the_message_holds(files, name):
    root, tables = files
    path = str(root / "obs" / name)
    texts = ["Zürich", "Zürich", "DE BILT"]  # Latin-1 bytes, then UTF-8 bytes, each as written
    meanings = ["MANNED", None, "AUTOMATIC"]  # the missing one has none, compressed or not
    significance = [None, 1.0, None]  # 63 is all ones: missing
    for output, shown in package_outputs(path, tables).items():
        if shown is not None:  # observations have no meanings
            assert shown == (texts, None if output == "observations" else meanings, significance), output
    # The flat list keeps its contract: '?' for bytes of 0x80 and above, 63 a number.
    flat = _skyrec.decode_values_with_tables(open(path, "rb").read(), _skyrec.TableSet.from_eccodes(tables))
    assert [v.raw_text for v in flat if v.descriptor == 1015][:2] == ["Z?rich", "Z??rich"]
    ones = 2.0 if name == "b.bufr" else 63.0
    assert [v.raw_value for v in flat if v.descriptor == 31021] == [ones, 1.0, ones]


@pytest.mark.parametrize("width", ["3 ", " 3", "3\t"])
def test_blanks_around_numbers_of_an_eccodes_table_are_ignored_by_the_package_alone(tmp_path, width):
    text = element_table_text([Element(2001, "TYPE OF STATION", "CODE TABLE", width=2)]).replace("|2|", f"|{width}|")
    path = write_table_dir(tmp_path / "tables", element_table=text, sequences={})
    assert skyrec.find_tables(table_dir=path).fixed.get_element(2001).width == 3
    with pytest.raises(ValueError, match="^csv/table parse error: bad u16 .*: invalid digit found"):
        _skyrec.TableSet.from_eccodes(path)


def test_a_key_absent_from_every_row_warns_when_not_required(files):
    root, tables = files
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        rows = read_observations(root / "obs" / "a.bufr", ["stationType", "presure"], table_dir=tables,
                                 required_columns=False)
    assert len(rows) == 3 and rows.presure.isna().all()
    assert [str(w.message) for w in caught] == ["no key 'presure' in the tables of the messages read "
                                                "(did you mean pressure?)"]
