"""The skyrec command line: each subcommand in each format, exit codes, a bad
message among good ones, help texts, descriptor arguments and the progress bar."""

from __future__ import annotations

import argparse
import csv
import io
import json
import os
import re
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

from bufrgen import BitWriter, build_message
from skyrec.cli import main
from skyrec.cli import progress as progress_module
from skyrec.cli.options import descriptor
from tablegen import Element, write_table_dir

ROOT = Path(__file__).resolve().parent.parent
ELEMENTS = [
    Element(1001, "WMO BLOCK NUMBER", "Numeric", width=7),
    Element(1002, "WMO STATION NUMBER", "Numeric", width=10),
    Element(1015, "STATION NAME", "CCITT IA5", width=64),
    Element(2001, "TYPE OF STATION", "CODE TABLE", width=2, abbreviation="stationType", element_type="table"),
    Element(8042, "SOUNDING SIGNIFICANCE", "FLAG TABLE", width=18),
    Element(12101, "TEMPERATURE", "K", scale=2, reference=0, width=16),
]
SEQUENCES = {301001: [1001, 1002], 301090: [301001, 1015, 2001, 12101]}
CODE_TABLES = {2001: {0: "AUTOMATIC", 1: "MANNED"}, 8042: {1: "SURFACE", 2: "STANDARD LEVEL"}}
STATIONS = [(6, 260, "DE BILT", 1, 27615), (3, 772, "HEATHROW", 0, None), (7, 1, "ALPHA", 1, 30001),
            (8, 2, "BRAVO", 0, 25000)]


def station(block: int, number: int, name: str, kind: int, temperature: int | None, **fields) -> bytes:
    bits = BitWriter().uint(block, 7).uint(number, 10).text(name, 64).uint(kind, 2)
    bits = bits.missing(16) if temperature is None else bits.uint(temperature, 16)
    return build_message([301090], bits.to_bytes(), **fields)


def broken(msg: bytes) -> bytes:
    return msg[:-4] + b"7776"  # its end marker is gone


@pytest.fixture(scope="module")
def tables(tmp_path_factory) -> str:
    return write_table_dir(tmp_path_factory.mktemp("cli") / "tables", ELEMENTS, SEQUENCES, CODE_TABLES)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """good.bufr: two stations; mixed.bufr: four messages, the third broken."""
    folder = tmp_path_factory.mktemp("files")
    good = folder / "good.bufr"
    good.write_bytes(station(*STATIONS[0]) + station(*STATIONS[1]))
    parts = [station(*STATIONS[0]), station(*STATIONS[1]), broken(station(*STATIONS[2])), station(*STATIONS[3])]
    mixed = folder / "mixed.bufr"
    mixed.write_bytes(b"".join(parts))
    offsets = [sum(map(len, parts[:i])) for i in range(len(parts))]
    return {"good": str(good), "mixed": str(mixed), "offsets": offsets}


def run(capsys, *args: str) -> tuple[int, str, str]:
    status = main(list(args))
    captured = capsys.readouterr()
    return status, captured.out, captured.err


def run_process(*args: str, **options) -> subprocess.CompletedProcess:
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-m", "skyrec", *args], capture_output=True, env=env, cwd=ROOT,
                          timeout=300, **options)


def records(fmt: str, text: str) -> list[dict]:
    """jsonl and csv output as dicts of str, to compare the two."""
    if fmt == "csv":
        return list(csv.DictReader(io.StringIO(text)))
    shown = {None: "", True: "true", False: "false"}
    return [{k: shown[v] if v is None or isinstance(v, bool) else " ".join(v) if isinstance(v, list) else str(v)
             for k, v in json.loads(line).items()} for line in text.splitlines()]


# ls


def test_ls_lists_headers_without_tables(capsys, files):
    status, out, err = run(capsys, "ls", files["good"])
    assert status == 0 and err == ""
    header, first, second = out.splitlines()
    assert header.split() == ["#", "OFFSET", "LENGTH", "ED", "CENTRE", "CAT", "SUBSETS", "C", "TIME", "TABLES",
                              "GTS", "DESCRIPTORS"]
    length = len(station(*STATIONS[0]))
    assert first.split() == ["0", "0", str(length), "4", "98/0", "0/0", "1", "-", "2024-01-02T03:04:05", "0/38/0",
                             "-", "301090"]
    assert second.split()[:2] == ["1", str(length)]


def test_ls_of_several_files_heads_each_listing(capsys, files):
    status, out, _ = run(capsys, "ls", files["good"], files["good"])
    lines = out.splitlines()
    assert status == 0 and [lines[i] for i in (0, 4)] == [f"{files['good']}:"] * 2
    assert lines[1] == lines[5] and lines[1].split()[:2] == ["#", "OFFSET"]


@pytest.mark.parametrize("fmt", ["jsonl", "csv"])
def test_ls_records(capsys, files, fmt):
    status, out, _ = run(capsys, "ls", "--format", fmt, files["good"])
    rows = records(fmt, out)
    assert status == 0 and [r["offset"] for r in rows] == ["0", str(len(station(*STATIONS[0])))]
    assert rows[0] == {"file": files["good"], "message": "0", "offset": "0", "length": rows[0]["length"],
                       "edition": "4", "centre": "98", "subcentre": "0", "category": "0", "subcategory": "0",
                       "local_subcategory": "0", "subsets": "1", "compressed": "false", "observed": "true",
                       "time": "2024-01-02T03:04:05", "master_table": "0", "master_version": "38",
                       "local_version": "0", "gts_ttaaii": "", "gts_cccc": "", "gts_yygggg": "", "gts_bbb": "",
                       "descriptors": "301090"}


def test_ls_takes_the_table_options_without_reading_tables(capsys, files, tmp_path):
    status, out, err = run(capsys, "ls", "--tables", str(tmp_path / "nowhere"), files["good"])
    assert status == 0 and err == "" and len(out.splitlines()) == 3


def test_ls_of_several_files_names_each(capsys, files):
    status, out, _ = run(capsys, "ls", files["good"], files["good"])
    assert status == 0 and out.count(f"{files['good']}:\n") == 2


def test_ls_shows_few_descriptors_in_text_and_all_in_records(capsys, tmp_path):
    path = tmp_path / "long.bufr"
    path.write_bytes(build_message([1001] * 6, BitWriter().uint(1, 42).to_bytes()))
    _, text, _ = run(capsys, "ls", str(path))
    assert text.splitlines()[1].endswith("001001 001001 001001 001001 (+2)")
    _, jsonl, _ = run(capsys, "ls", "--format", "jsonl", str(path))
    assert json.loads(jsonl)["descriptors"] == ["001001"] * 6


# dump


def test_dump_text(capsys, files, tables):
    status, out, err = run(capsys, "dump", "--tables", tables, files["good"])
    assert status == 0 and err == ""
    lines = out.splitlines()
    assert lines[0].startswith(f"{files['good']}: message 0 at offset 0 (")
    assert "centre 98/0, category 0/0, 1 subset, not compressed, 2024-01-02T03:04:05, tables 0/38/0" in lines[0]
    assert lines[1] == "  subset 0"
    rows = [line.split("  ") for line in lines[2:7]]
    assert [[cell.strip() for cell in row if cell.strip()] for row in rows] == [
        ["001001", "WMO BLOCK NUMBER", "6", "Numeric"],
        ["001002", "WMO STATION NUMBER", "260", "Numeric"],
        ["001015", "STATION NAME", "'DE BILT'", "CCITT IA5"],
        ["002001", "TYPE OF STATION", "1", "CODE TABLE", "MANNED", "#1#stationType"],
        ["012101", "TEMPERATURE", "276.15", "K"],
    ]
    # one layout per message: the value column starts at the same place on every line
    assert len({line.index(cells[2].strip()) for line, cells in zip(lines[2:7], rows)}) == 1
    assert lines[7] == "" and "TEMPERATURE" in lines[-1] and "MISSING" in lines[-1]


@pytest.mark.parametrize("fmt", ["jsonl", "csv"])
def test_dump_records(capsys, files, tables, fmt):
    status, out, _ = run(capsys, "dump", "--tables", tables, "--format", fmt, files["good"])
    rows = records(fmt, out)
    assert status == 0 and len(rows) == 10
    offset = str(len(station(*STATIONS[0])))
    assert rows[2] == {"file": files["good"], "message": "0", "offset": "0", "subset": "0", "position": "2",
                       "descriptor": "001015", "name": "STATION NAME", "unit": "CCITT IA5", "value": "",
                       "raw": "", "text": "DE BILT", "meaning": "", "key": "", "rank": "0"}
    assert rows[3] | {"file": ""} == {"file": "", "message": "0", "offset": "0", "subset": "0", "position": "3",
                                      "descriptor": "002001", "name": "TYPE OF STATION", "unit": "CODE TABLE",
                                      "value": "1", "raw": "1", "text": "", "meaning": "MANNED",
                                      "key": "stationType", "rank": "1"}
    assert (rows[4]["value"], rows[4]["raw"]) == ("276.15", "27615")  # no binary noise: not 276.15000000000003
    assert (rows[9]["message"], rows[9]["offset"], rows[9]["value"], rows[9]["raw"]) == ("1", offset, "", "65535")


def test_dump_jsonl_numbers_are_json_numbers(capsys, files, tables):
    _, out, _ = run(capsys, "dump", "--tables", tables, "--format", "jsonl", files["good"])
    values = [json.loads(line)["value"] for line in out.splitlines()]
    assert values[:5] == [6, 260, None, 1, 276.15] and values[-1] is None


def test_dump_splits_subsets(capsys, tmp_path, tables):
    bits = BitWriter()
    for block, number, name, kind, temperature in STATIONS[:3]:
        bits.uint(block, 7).uint(number, 10).text(name, 64).uint(kind, 2).uint(temperature or 0, 16)
    path = tmp_path / "three.bufr"
    path.write_bytes(build_message([301090], bits.to_bytes(), subsets=3))
    _, out, _ = run(capsys, "dump", "--tables", tables, "--format", "jsonl", str(path))
    rows = [json.loads(line) for line in out.splitlines()]
    assert [(r["subset"], r["position"]) for r in rows] == [(j, i) for j in range(3) for i in range(5)]
    assert [r["text"] for r in rows if r["descriptor"] == "001015"] == ["DE BILT", "HEATHROW", "ALPHA"]
    _, text, _ = run(capsys, "dump", "--tables", tables, str(path))
    assert [line for line in text.splitlines() if "subset" in line and "STATION" not in line][1:] == [
        "  subset 0", "  subset 1", "  subset 2"]


# a bad message among good ones


@pytest.mark.parametrize("command", [["ls"], ["dump", "--tables", "TABLES"], ["dump", "--tables", "TABLES",
                                     "--format", "csv"], ["tables", "--tables", "TABLES"]])
def test_a_bad_message_in_the_middle(capsys, files, tables, command):
    command = [tables if arg == "TABLES" else arg for arg in command]
    status, out, err = run(capsys, *command, files["mixed"])
    offsets = files["offsets"]
    assert status == 1
    assert err.splitlines() == [f"skyrec: {files['mixed']}: message 2 at offset {offsets[2]}: "
                                "section 5 terminator is not 7777"]
    if command[0] == "dump":
        shown = [name for name in ("DE BILT", "HEATHROW", "ALPHA", "BRAVO") if name in out]
        assert shown == ["DE BILT", "HEATHROW", "BRAVO"]
    else:
        listed = [line.split()[:2] for line in out.splitlines() if line.split()[0].isdigit()]
        assert listed == [["0", "0"], ["1", str(offsets[1])], ["3", str(offsets[3])]]


def test_undecodable_message_is_reported_and_the_rest_printed(capsys, tmp_path, tables):
    path = tmp_path / "short.bufr"
    path.write_bytes(station(*STATIONS[0]) + build_message([301090], BitWriter().uint(1, 7).to_bytes()))
    status, out, err = run(capsys, "dump", "--tables", tables, str(path))
    assert status == 1 and "DE BILT" in out and out.count("subset 0") == 1
    where = "subset 0, 301090 > 301001 > 001002"
    assert err.startswith(f"skyrec: {path}: message 1 at offset {len(station(*STATIONS[0]))}, {where}: not enough bits")


# exit codes


@pytest.mark.parametrize("args, status, error", [
    ([], 2, "required: COMMAND"),
    (["frobnicate"], 2, "invalid choice: 'frobnicate'"),
    (["ls"], 2, "required: FILE"),
    (["dump", "--format", "xml", "GOOD"], 2, "invalid choice: 'xml'"),
    (["dump", "--tables", "TABLES", "--definitions", "TABLES", "GOOD"], 2, "not allowed with argument"),
    (["dump", "--tables", "NOWHERE", "GOOD"], 2, "--tables NOWHERE: "),
    (["dump", "--definitions", "TABLES", "GOOD"], 2, "is not an ecCodes definitions root"),
    (["lookup", "--tables", "TABLES", "12-101"], 2, "is not a descriptor"),
    (["dump", "--tables", "TABLES", "NOWHERE"], 1, "nowhere: No such file or directory"),
    (["lookup", "--tables", "TABLES", "012254"], 1, "012254 is not in the tables"),
    (["expand", "--tables", "TABLES", "301254"], 1, "cannot expand 301254"),
    (["dump", "--tables", "TABLES", "GOOD"], 0, ""),
])
def test_exit_status(capsys, files, tables, tmp_path, args, status, error):
    names = {"GOOD": files["good"], "TABLES": tables, "NOWHERE": str(tmp_path / "nowhere")}
    code, _, err = run(capsys, *[names.get(a, a) for a in args])
    assert code == status and error.replace("NOWHERE", names["NOWHERE"]) in err
    if status == 0:
        assert err == ""


def test_a_missing_file_does_not_stop_the_others(capsys, files, tmp_path, tables):
    empty = tmp_path / "empty.bufr"
    empty.write_bytes(b"no messages here")
    status, out, err = run(capsys, "ls", str(tmp_path / "nowhere.bufr"), str(empty), files["good"])
    assert status == 1 and f"{files['good']}:" in out and len(out.splitlines()) == 4
    assert err.splitlines() == [f"skyrec: {tmp_path / 'nowhere.bufr'}: No such file or directory",
                                f"skyrec: {empty}: no BUFR messages found"]


def test_closed_stdout_ends_quietly(tmp_path):
    path = tmp_path / "many.bufr"
    path.write_bytes(station(*STATIONS[0]) * 3000)  # far more lines than a pipe holds
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    process = subprocess.Popen([sys.executable, "-m", "skyrec", "ls", str(path)], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=env)
    assert process.stdout is not None and process.stderr is not None
    process.stdout.readline()
    process.stdout.close()  # as `| head -1` does
    err = process.stderr.read()
    assert process.wait(timeout=120) == 141 and err == b""


# help texts


@pytest.mark.parametrize("command", ["ls", "dump", "expand", "lookup", "tables"])
def test_every_command_has_help_with_examples(capsys, command):
    status, out, _ = run(capsys, command, "--help")
    assert status == 0 and out.startswith(f"usage: skyrec {command} ")
    examples = out[out.index("examples:\n"):].splitlines()[1:]
    assert sum(line.startswith(f"  skyrec {command} ") for line in examples) >= 2


def test_main_help_lists_commands_and_exit_status(capsys):
    status, out, _ = run(capsys, "--help")
    assert status == 0
    for command in ("ls", "dump", "expand", "lookup", "tables"):
        assert f"\n    {command} " in out
    assert "exit status: 0 when every message was read, 1 when some failed" in out


def help_examples(capsys) -> list[list[str]]:
    """The example command lines of every help text."""
    found = []
    for command in ("", "ls", "dump", "expand", "lookup", "tables"):
        _, out, _ = run(capsys, *([command] if command else []), "--help")
        found += [line.split("#")[0].split()[1:] for line in out.splitlines() if line.startswith("  skyrec ")]
    return found


def test_help_examples_on_the_example_files_run(capsys, monkeypatch):
    monkeypatch.chdir(ROOT)
    runnable = [args for args in help_examples(capsys)
                if "|" not in args and ">" not in args and "examples/tables" in args]
    assert len(runnable) >= 4
    for args in runnable:
        status, out, err = run(capsys, *args)
        assert status == 0 and out and not err, args


def test_help_examples_with_found_tables_run(capsys, monkeypatch, definitions):
    monkeypatch.chdir(ROOT)
    monkeypatch.setenv("ECCODES_DEFINITION_PATH", str(definitions))
    runnable = [args for args in help_examples(capsys) if args[0] in ("expand", "lookup")
                and not any(a.startswith("--") and a != "--format" for a in args[1:])]
    assert len(runnable) >= 2
    for args in runnable:
        status, out, err = run(capsys, *args)
        assert status == 0 and out and not err, args


def test_the_command_is_the_executable_alone():
    """No console script: installed beside the executable, it would replace it."""
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    assert "scripts" not in project
    assert "DESTINATION ${SKBUILD_SCRIPTS_DIR}" in (ROOT / "CMakeLists.txt").read_text()


def test_python_dash_m_runs_the_command_line(tables, files):
    result = run_process("ls", "--format", "jsonl", files["good"])
    assert result.returncode == 0 and len(result.stdout.splitlines()) == 2


# descriptors


@pytest.mark.parametrize("text, code", [("301011", 301011), ("3-01-011", 301011), ("0-12-101", 12101),
                                        ("012101", 12101), ("12101", 12101), ("1001", 1001), (" 3-1-11 ", 301011),
                                        ("1-02-000", 102000), ("2-01-129", 201129), ("3-63-255", 363255)])
def test_descriptor_forms(text, code):
    assert descriptor(text) == code


@pytest.mark.parametrize("text", ["", "x", "-1", "4-01-011", "3-64-000", "0-01-256", "301256", "364000",
                                  "999999", "3011011", "3-01", "3.01.011", "0x12101", "3-001-011"])
def test_descriptor_refusals(text):
    with pytest.raises(argparse.ArgumentTypeError, match="is not a descriptor"):
        descriptor(text)


# expand and lookup


@pytest.mark.parametrize("args, expected", [
    (["301090"], ["001001", "001002", "001015", "002001", "012101"]),
    (["3-01-001", "0-12-101"], ["001001", "001002", "012101"]),
    (["102002", "1001", "1002"], ["001001", "001002", "001001", "001002"]),
])
def test_expand(capsys, tables, args, expected):
    status, out, _ = run(capsys, "expand", "--tables", tables, *args)
    assert status == 0 and [line.split()[0] for line in out.splitlines()] == expected
    assert re.split(" {2,}", out.splitlines()[0]) == ["001001", "WMO BLOCK NUMBER", "Numeric"]


@pytest.mark.parametrize("fmt", ["jsonl", "csv"])
def test_expand_records(capsys, tables, fmt):
    _, out, _ = run(capsys, "expand", "--tables", tables, "--format", fmt, "301001")
    assert records(fmt, out) == [
        {"position": "0", "descriptor": "001001", "name": "WMO BLOCK NUMBER", "unit": "Numeric"},
        {"position": "1", "descriptor": "001002", "name": "WMO STATION NUMBER", "unit": "Numeric"}]


def test_lookup_element_with_code_table(capsys, tables):
    status, out, _ = run(capsys, "lookup", "--tables", tables, "0-02-001")
    assert status == 0
    assert out.splitlines() == ["002001 (0-02-001)  TYPE OF STATION", "  unit       CODE TABLE", "  scale      0",
                                "  reference  0", "  width      2", "  type       table",
                                "  key        stationType", "  code table:", "    0  AUTOMATIC", "    1  MANNED",
                                f"tables: table directory {tables}"]


def test_lookup_flag_table_and_sequence(capsys, tables):
    status, out, _ = run(capsys, "lookup", "--tables", tables, "8042", "301090")
    lines = out.splitlines()
    assert status == 0 and "  flag table:" in lines and "    1  SURFACE" in lines
    start = lines.index("301090 (3-01-090)  sequence of 4")
    assert [line.split("  ")[1:3] for line in lines[start + 1:start + 5]] == [
        ["301001", "sequence of 2"], ["001015", "STATION NAME"], ["002001", "TYPE OF STATION"],
        ["012101", "TEMPERATURE"]]


@pytest.mark.parametrize("code, text", [("1-02-000", "delayed replication of the next 2 descriptors"),
                                        ("101003", "replication of the next 1 descriptor, 3 times"),
                                        ("2-01-129", "operator: change data width")])
def test_lookup_replications_and_operators(capsys, tables, code, text):
    status, out, _ = run(capsys, "lookup", "--tables", tables, code)
    assert status == 0 and out.splitlines()[0].endswith(f"  {text}")


# tables found in a definitions tree


@pytest.fixture(scope="module")
def definitions_tree(tmp_path_factory) -> Path:
    """Master versions 38 and 37 (an alias file naming 38), and local tables
    version 1 of centre 98 that add one element."""
    root = tmp_path_factory.mktemp("definitions")
    wmo = root / "bufr" / "tables" / "0" / "wmo"
    write_table_dir(wmo / "38", ELEMENTS, SEQUENCES, CODE_TABLES)
    (wmo / "37").write_text("38\n")
    write_table_dir(root / "bufr" / "tables" / "0" / "local" / "1" / "98" / "0",
                    [Element(1234, "LOCAL THING", "Numeric", width=4)])
    return root


def test_tables_says_where_each_message_found_its_tables(capsys, tmp_path, definitions_tree):
    path = tmp_path / "versions.bufr"
    parts = [station(*STATIONS[0]), station(*STATIONS[0], master_version=37, local_version=1),
             station(*STATIONS[0], master_version=30)]
    path.write_bytes(b"".join(parts))
    status, out, err = run(capsys, "tables", "--definitions", str(definitions_tree), str(path))
    lines = out.splitlines()
    assert status == 1 and lines[0] == f"tables from definitions root {definitions_tree}"
    assert lines[2].split()[2:] == ["0/38/0", "98/0", "bufr/tables/0/wmo/38", "(6", "elements,", "2", "sequences)"]
    assert lines[3].split()[2:] == ["0/37/1", "98/0", "bufr/tables/0/wmo/38", "+", "bufr/tables/0/local/1/98/0",
                                    "(7", "elements,", "2", "sequences)"]
    assert lines[4].split()[2:5] == ["0/30/0", "98/0", "failed:"] and "does not exist" in lines[4]
    offset = len(parts[0]) + len(parts[1])
    assert err.startswith(f"skyrec: {path}: message 2 at offset {offset}: ") and len(err.splitlines()) == 1

    _, jsonl, _ = run(capsys, "tables", "--definitions", str(definitions_tree), "--format", "jsonl", str(path))
    rows = [json.loads(line) for line in jsonl.splitlines()]
    assert rows[1]["master_dir"] == str(definitions_tree / "bufr/tables/0/wmo/38")
    assert rows[1]["local_dir"] == str(definitions_tree / "bufr/tables/0/local/1/98/0")
    assert (rows[1]["elements"], rows[2]["elements"]) == (7, None) and "does not exist" in rows[2]["error"]


def test_tables_with_one_directory(capsys, files, tables):
    status, out, _ = run(capsys, "tables", "--tables", tables, files["good"])
    assert status == 0 and out.splitlines()[0] == f"tables from table directory {tables}"
    assert out.splitlines()[2].endswith("0/38/0    98/0     6 elements, 2 sequences")


def test_dump_with_local_tables_from_a_definitions_tree(capsys, tmp_path, definitions_tree):
    path = tmp_path / "local.bufr"
    path.write_bytes(build_message([1234, 1001], BitWriter().uint(9, 4).uint(5, 7).to_bytes(), local_version=1))
    status, out, _ = run(capsys, "dump", "--definitions", str(definitions_tree), "--format", "jsonl", str(path))
    assert status == 0 and [(r["name"], r["value"]) for r in map(json.loads, out.splitlines())] == [
        ("LOCAL THING", 9), ("WMO BLOCK NUMBER", 5)]


@pytest.mark.parametrize("options, origin", [
    ([], "master version 38"),
    (["--master-version", "37"], "master version 37"),
    (["--like", "LOCAL"], "the tables of LOCAL's first message (master version 37, local version 1, centre 98/0)"),
])
def test_lookup_in_a_definitions_tree(capsys, tmp_path, definitions_tree, options, origin):
    local = tmp_path / "local.bufr"
    local.write_bytes(station(*STATIONS[0], master_version=37, local_version=1))
    options = [str(local) if o == "LOCAL" else o for o in options]
    status, out, err = run(capsys, "lookup", "--definitions", str(definitions_tree), *options, "1234", "1001")
    origin = origin.replace("LOCAL", str(local))
    assert out.splitlines()[-1].startswith(f"tables: {origin}")
    assert "001001 (0-01-001)  WMO BLOCK NUMBER" in out
    found_local = "--like" in options
    assert ("LOCAL THING" in out) == found_local and status == (0 if found_local else 1)
    assert ("001234 is not in the tables" in err) != found_local


def test_lookup_of_a_missing_master_version(capsys, definitions_tree):
    status, _, err = run(capsys, "lookup", "--definitions", str(definitions_tree), "--master-version", "12", "1001")
    assert status == 2 and "ecCodes table directory does not exist" in err


# the progress bar


class Stream(io.StringIO):
    def __init__(self, terminal: bool):
        super().__init__()
        self.terminal = terminal

    def isatty(self) -> bool:
        return self.terminal


@pytest.mark.parametrize("wanted, size, err_tty, out_tty, shown", [
    (None, progress_module.LARGE_INPUT, True, False, True),
    (None, progress_module.LARGE_INPUT - 1, True, False, False),  # small input
    (None, progress_module.LARGE_INPUT, False, False, False),  # stderr is not a terminal
    (None, progress_module.LARGE_INPUT, True, True, False),  # the output shares the terminal
    (True, 10, False, True, True),
    (False, progress_module.LARGE_INPUT, True, False, False),
])
def test_when_the_bar_is_shown(wanted, size, err_tty, out_tty, shown):
    pytest.importorskip("tqdm")
    bar = progress_module.progress_for(wanted, size, Stream(out_tty), Stream(err_tty))
    assert isinstance(bar, progress_module.Bar) == shown
    bar.close()


def test_without_tqdm_there_is_no_bar(monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)  # import tqdm raises ImportError
    err = Stream(True)
    assert type(progress_module.progress_for(None, 1 << 30, Stream(False), err)) is progress_module.Progress
    assert err.getvalue() == ""
    assert type(progress_module.progress_for(True, 1, Stream(False), err)) is progress_module.Progress
    assert "no progress bar without tqdm" in err.getvalue()


@pytest.fixture(scope="module")
def large_file(tmp_path_factory) -> Path:
    path = tmp_path_factory.mktemp("large") / "large.bufr"
    one = station(*STATIONS[0])
    path.write_bytes(one * (progress_module.LARGE_INPUT // len(one) + 1))
    return path


def test_no_bar_on_a_large_input_when_stderr_is_not_a_terminal(large_file, tables):
    result = run_process("dump", "--tables", tables, "--format", "csv", str(large_file))
    assert result.returncode == 0 and result.stderr == b""


def test_an_asked_for_bar_draws_on_stderr_and_errors_still_show(tmp_path, large_file, tables):
    pytest.importorskip("tqdm")
    path = tmp_path / "large-and-bad.bufr"
    path.write_bytes(large_file.read_bytes() + broken(station(*STATIONS[0])))
    result = run_process("ls", "--progress", "--format", "csv", str(path))
    err = result.stderr.decode()
    assert result.returncode == 1 and "B/s" in err and "section 5 terminator is not 7777" in err
    assert len(result.stdout.splitlines()) == large_file.stat().st_size // len(station(*STATIONS[0])) + 1


@pytest.mark.parametrize("args, says", [
    (["expand", "102002"], "102002 needs 2 descriptors after it (2 to replicate), but only 0 follow"),
    (["expand", "101000", "001001"],
     "101000 needs 2 descriptors after it (1 to replicate and their delayed factor), but only 1 follows"),
    (["expand", "--master-version", "30", "301001"], "--master-version chooses tables from a definitions tree"),
    (["lookup", "--like", "x.bufr", "001001"], "--like chooses tables from a definitions tree"),
])
def test_expand_and_lookup_refuse_what_they_cannot_do(capsys, tables, args, says):
    status, out, err = run(capsys, *args[:1], "--tables", tables, *args[1:])
    assert status in (1, 2) and out == "" and says in err


def test_version_is_looked_up_only_when_asked():
    done = run_process("--version")
    assert done.returncode == 0 and done.stdout.decode().startswith("skyrec ")
    # Its lookup is slow to import: every other command starts without it.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    probe = "import sys, skyrec.cli; print('importlib.metadata' in sys.modules)"
    imported = subprocess.run([sys.executable, "-c", probe], capture_output=True, env=env, timeout=300)
    assert imported.stdout.decode().strip() == "False"
