"""skyrec dump formats its records in C++: they must read byte for byte as
the Python formatting that came before (kept below as the reference), on
built messages with awkward texts, numbers, meanings, flags and operators,
compressed or not, and on corpus files."""

from __future__ import annotations

import csv
import io
import json
import random

import pytest
from test_cli import run_process

from bufrgen import BitWriter, build_message
from conftest import CORPUS
from decodekit import as_read, column, shown_meaning
from skyrec.cli import main
from skyrec.reader import read_messages
from skyrec.tables import find_tables
from tablegen import Element, write_table_dir

FORMATS = ("text", "jsonl", "csv")
FIELDS = ("file", "message", "offset", "subset", "position", "descriptor", "name", "unit", "value", "raw", "text",
          "meaning", "key", "rank")
ELEMENTS = [
    Element(1015, "STATION NAME", "CCITT IA5", width=56, abbreviation="stationOrSiteName"),
    Element(2001, "TYPE OF STATION", "CODE TABLE", width=2, abbreviation="stationType"),
    Element(8042, "SOUNDING SIGNIFICANCE", "FLAG TABLE", width=18, abbreviation="extendedVerticalSoundingSignificance"),
    Element(12101, "TEMPÉRATURE", "K", scale=2, width=16, abbreviation="airTemperature"),
    Element(15037, "BENDING ANGLE", "rad", scale=7, reference=-5, width=20, abbreviation="bendingAngle"),
    Element(10004, "BIG", "Pa", scale=-3, width=60, abbreviation="pressure"),
    Element(31021, "ASSOCIATED FIELD SIGNIFICANCE", "CODE TABLE", width=6),
]
CODE_TABLES = {2001: {0: "AUTOMATIC", 1: 'MANNED, "WITH" CAFÉ'}, 8042: {1: "SURFACE", 3: "TROPOPAUSE"},
               31021: {1: "QUALITY"}}
# Texts that need quoting or escaping somewhere; ü is one byte (Latin-1).
NAMES = ["O'HARE", 'SAY "HI"', "A,B\\C", "L1\nL2\tX", "Zürich", "", "IT'S \"Q\""]
# 201/202 change the width and scale of 012101; 204 adds an associated field; 205 inserts text.
DESCRIPTORS = [1015, 2001, 8042, 12101, 15037, 10004, 201130, 202129, 12101, 201000, 202000, 204002, 31021, 12101,
               204000, 205003]


def subset_bits(bits: BitWriter, j: int) -> None:
    bits.text(NAMES[j % len(NAMES)], 56).uint(j % 3, 2).uint(1 << (j % 18), 18)
    bits.missing(16) if j % 4 == 1 else bits.uint(27315 + j, 16)
    bits.uint(j * 40 + 1, 20).uint((1 << 59) + j if j % 2 else j, 60).uint(1234 + j, 18)
    bits.uint(1, 6).uint(j % 4, 2).uint(29000 + j, 16).text("C,D" if j % 2 else "x'y", 24)


def compressed_bits(subsets: int) -> BitWriter:
    bits = BitWriter()
    widths = [None, 2, 18, 16, 20, 60, 18, 6, 2, 16, None]
    samples = [BitWriter() for _ in range(subsets)]
    for j, sample in enumerate(samples):
        subset_bits(sample, j)
    # Re-read each subset's fields from its bits to lay them out as columns.
    fields = []
    for sample in samples:
        text = sample.to_bytes()
        reader, at, row = int.from_bytes(text, "big"), 0, []
        total = len(text) * 8
        for width in [56, 2, 18, 16, 20, 60, 18, 6, 2, 16, 24]:
            row.append((reader >> (total - at - width)) & ((1 << width) - 1))
            at += width
        fields.append(row)
    for c, width in enumerate(widths):
        raws = [row[c] for row in fields]
        if width is None:  # characters: R0 of zeros, then each subset's bytes
            size = 7 if c == 0 else 3
            bits.uint(0, size * 8).uint(size, 6)
            for r in raws:
                bits.uint(r, size * 8)
        else:
            column(bits, width, [None if r == (1 << width) - 1 else r for r in raws])
    return bits


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    folder = tmp_path_factory.mktemp("dump")
    tables = write_table_dir(folder / "tables", ELEMENTS, {}, CODE_TABLES)
    plain = BitWriter()
    for j in range(len(NAMES)):
        subset_bits(plain, j)
    path = folder / "built.bufr"
    path.write_bytes(build_message(DESCRIPTORS, plain.to_bytes(), subsets=len(NAMES))
                     + build_message(DESCRIPTORS, compressed_bits(5).to_bytes(), subsets=5, compressed=True))
    return str(path), tables


def reference(path: str, fmt: str, tables: str | None = None) -> str:
    """What dump printed when it formatted its records in Python."""
    source = find_tables(table_dir=tables)
    out, writer = io.StringIO(), None
    if fmt == "csv":
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(FIELDS)
    first = True
    # Texts as the package shows them: every byte kept (the flat list shows '?' for those of 0x80 and above).
    shown_texts = {i.index: i.columns.text for i in read_messages(path, tables=source, output="columns") if i.ok}
    for item in read_messages(path, tables=source):
        if item.error is not None:
            continue
        m, ts = item.message, source.for_message(item.message)
        rows = []
        for j, subset in enumerate(item.subsets):
            seen: dict[str, int] = {}
            for position, v in enumerate(subset):
                element = ts.get_element(v.descriptor)
                name, unit, key = (element.name, element.unit, element.abbreviation) if element else ("", "", "")
                ranked = name == v.name and bool(key)
                key = key if ranked else ({"operator", "text", "associatedField"} & {v.name} or {None}).pop() \
                    if name != v.name else None
                rank = seen[key] = seen.get(key, 0) + 1 if ranked else 0
                marker = v.descriptor // 100000 == 2 and v.raw is not None
                text = shown_texts[item.index][item.subset_starts[j] + position] if v.raw_text is not None else None
                number = as_read(v)[0]
                meaning = shown_meaning(v)
                small = number is not None and number.is_integer() and abs(number) < 1e15
                record = [path, item.index, item.offset, j, position, f"{v.descriptor:06d}", v.name, unit,
                          None if number is None else int(number) if small else float(f"{number:.15g}"),
                          None if marker else v.raw, text, meaning, key, rank]
                if fmt == "jsonl":
                    out.write(json.dumps(dict(zip(FIELDS, record)), ensure_ascii=False) + "\n")
                elif fmt == "csv":
                    writer.writerow(record)
                else:
                    shown = repr(text) if text is not None else "" if marker else "MISSING" if number is None \
                        else str(int(number)) if small else f"{number:.15g}"
                    rows.append((j, [record[5], v.name, shown, unit, meaning or "",
                                     "" if key is None else f"#{rank}#{key}" if rank else key]))
        if fmt == "text":
            out.write(("" if first else "\n") + f"{path}: message {item.index} at offset {item.offset} "
                      f"({item.length} bytes): centre {m.originating_centre}/{m.originating_subcentre}, category "
                      f"{m.data_category}/{m.international_data_subcategory}, {m.number_of_subsets} subset"
                      f"{'' if m.number_of_subsets == 1 else 's'}, "
                      f"{'compressed' if m.compressed_data else 'not compressed'}, {m.typical_year:04d}-"
                      f"{m.typical_month:02d}-{m.typical_day:02d}T{m.typical_hour:02d}:{m.typical_minute:02d}:"
                      f"{m.typical_second:02d}, tables {m.master_table_number}/{m.master_tables_version_number}/"
                      f"{m.local_tables_version_number} from {source.origin}\n")
            first = False
            widths = [min(64, max(len(cells[c]) for _, cells in rows)) for c in range(6)] if rows else []
            for j in range(m.number_of_subsets):
                out.write(f"  subset {j}\n")
                for _, cells in (r for r in rows if r[0] == j):
                    out.write(("    " + "  ".join(f"{c:<{w}}" for c, w in zip(cells, widths))).rstrip() + "\n")
    return out.getvalue()


@pytest.mark.parametrize("through", ["bytes", "descriptor"])
@pytest.mark.parametrize("fmt", FORMATS)
def test_built_messages_read_as_before(capsys, built, fmt, through):
    path, tables = built
    expected = reference(path, fmt, tables)
    assert "e-07" in expected and "e+20" in expected and "CAFÉ" in expected  # the awkward cases are there
    if through == "bytes":  # a stream without a descriptor takes the records as bytes
        assert main(["dump", "--format", fmt, "--tables", tables, path]) == 0
        assert capsys.readouterr().out == expected
    else:
        done = run_process("dump", "--format", fmt, "--tables", tables, path)
        assert (done.returncode, done.stderr, done.stdout.decode()) == (0, b"", expected)


CORPUS_FILES = ["cdfin_acars", "aircraft_mrar_compressed.bufr", "issue59.bufr", "change_refval_compressed.bufr",
                "wrep_truncated-unicode.bufr", "207003.bufr"]


@pytest.mark.parametrize("name", CORPUS_FILES)
def test_corpus_files_read_as_before(name):
    path = CORPUS / name
    if not path.exists():
        pytest.skip(f"the real corpus is not at {CORPUS}")
    for fmt in FORMATS:
        done = run_process("dump", "--format", fmt, str(path))
        assert done.stdout.decode() == reference(str(path), fmt), fmt


def jsonl_records(capsys, path: str, tables: str, *options: str) -> list[dict]:
    assert main(["dump", "--format", "jsonl", "--tables", tables, *options, path]) == 0
    return [json.loads(line) for line in capsys.readouterr().out.splitlines()]


@pytest.mark.parametrize("options, chosen", [
    (["--message", "1"], lambda r: r["message"] == 1),
    (["--message", "0,5-", "--subset", "1,3-4"], lambda r: r["message"] == 0 and r["subset"] in (1, 3, 4)),
    (["--keys", "airTemperature"], lambda r: r["key"] == "airTemperature"),
    (["--keys", "#2#airTemperature,text"], lambda r: (r["key"], r["rank"]) in (("airTemperature", 2), ("text", 0))),
    (["--where", "compressedData=1"], lambda r: r["message"] == 1),
    (["--where", "numberOfSubsets=6:", "--where", "typicalDate=20240102"], lambda r: r["message"] == 0),
    (["--where", "typicalHour=:2"], lambda r: False),
])
def test_dump_prints_exactly_what_is_chosen(capsys, built, options, chosen):
    path, tables = built
    every = jsonl_records(capsys, path, tables)
    assert jsonl_records(capsys, path, tables, *options) == [r for r in every if chosen(r)]


def test_ls_and_text_dump_choose_alike(capsys, built):
    path, tables = built
    assert main(["ls", "--where", "compressedData=1", path]) == 0
    assert [line.split()[0] for line in capsys.readouterr().out.splitlines()] == ["#", "1"]
    assert main(["dump", "--tables", tables, "--message", "1", "--subset", "2", "--keys", "#3#airTemperature",
                 path]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[0].startswith(f"{path}: message 1 ") and lines[1:] == [
        "  subset 2", "    012101  TEMPÉRATURE  290.02  K    #3#airTemperature"]  # an empty meaning column


@pytest.mark.parametrize("options", [["--where", "dataCategory"], ["--where", "noSuchKey=1"],
                                     ["--where", "dataCategory=abc"], ["--where", "dataCategory=1:x"],
                                     ["--message", "one"], ["--message", "3-1"], ["--subset", "-1"],
                                     ["--keys", "#0#airTemperature"], ["--keys", ","]])
@pytest.mark.parametrize("command", ["ls", "dump"])
def test_bad_choices_are_usage_errors(capsys, built, command, options):
    path, tables = built
    if command == "ls" and options[0] in ("--subset", "--keys"):
        pytest.skip("ls lists messages: it takes no --subset or --keys")
    assert main([command, "--tables", tables, *options, path]) == 2
    out, err = capsys.readouterr()
    assert out == "" and err.startswith("skyrec: ") and "Traceback" not in err


@pytest.mark.parametrize("command", ["ls", "dump"])
@pytest.mark.parametrize("chosen, absent", [("2", 2), ("0,3-4", 3), ("1,7,5", 5)])
def test_a_message_the_file_has_not_is_a_failure(capsys, built, command, chosen, absent):
    path, tables = built
    assert main([command, "--tables", tables, "--message", chosen, path]) == 1
    err = capsys.readouterr().err
    assert err == f"skyrec: {path}: no message {absent}: the file holds 2, numbered from 0\n"


class Recorder:
    """A progress bar that keeps the positions it is moved to."""

    def __init__(self) -> None:
        self.done: list[int] = []

    def advance(self, done: int) -> None:
        self.done.append(done)

    def write(self, text: str, stream) -> None:
        print(text, file=stream)

    def close(self) -> None:
        pass


@pytest.mark.parametrize("to_file", [False, True])  # the records as bytes, or written to the descriptor
def test_the_bar_moves_within_one_large_message(capsys, monkeypatch, tmp_path, built, to_file):
    _, tables = built
    path = tmp_path / "large.bufr"
    message = build_message(DESCRIPTORS, compressed_bits(2000).to_bytes(), subsets=2000, compressed=True)
    path.write_bytes(message)
    bar = Recorder()
    monkeypatch.setattr("skyrec.cli.session.progress_for", lambda *_: bar)
    with open(tmp_path / "out.jsonl", "w", encoding="utf-8") as out:
        if to_file:
            monkeypatch.setattr("sys.stdout", out)
        assert main(["dump", "--format", "jsonl", "--tables", tables, str(path)]) == 0
    within = [done for done in bar.done if 0 < done < len(message)]
    assert len(within) >= 2 and within == sorted(within) and bar.done[-1] == len(message)


@pytest.mark.parametrize("code, key", [("002001", "stationType (from the tables bundled with skyrec)"),
                                       ("002199", "")])  # no bundled table has it
def test_lookup_in_tables_without_keys_shows_the_bundled_key(capsys, tmp_path, code, key):
    pytest.importorskip("skyrec.bundle").available() or pytest.skip("no bundled tables in this build")
    (tmp_path / "BUFRCREX_TableB_en_02.csv").write_text(
        "ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,BUFR_DataWidth_Bits\n"
        f"02,Instrumentation,{code},Type of station,Code table,0,0,2\n")
    (tmp_path / "BUFR_TableD_en_01.csv").write_text("Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2\n")
    assert main(["lookup", "--wmo-csv", str(tmp_path), code]) == 0
    shown = [line.split(None, 1)[1:] for line in capsys.readouterr().out.splitlines() if "key" in line]
    assert shown == ([[key]] if key else [[]])


@pytest.mark.parametrize("scale, offset", [(2, 0), (7, -5000), (-3, 0), (-8, 0), (11, -(1 << 30)), (15, 1)])
def test_numbers_of_every_magnitude_read_as_before(capsys, tmp_path, scale, offset):
    # Random raws of up to 32 bits over scales from 1e-15 to 1e8: the digits printed must be Python's.
    tables = write_table_dir(tmp_path / "tables", [Element(12101, "T", "K", scale=scale, reference=offset,
                                                           width=32, abbreviation="t")], {}, {})
    draw = random.Random(scale)
    raws = [draw.getrandbits(32) >> draw.randrange(32) for _ in range(300)]
    raws = [r for r in raws if r != (1 << 32) - 1]
    path = tmp_path / "numbers.bufr"
    path.write_bytes(build_message([12101], column(BitWriter(), 32, raws).to_bytes(), subsets=len(raws),
                                   compressed=True))
    for fmt in FORMATS:
        assert main(["dump", "--format", fmt, "--tables", tables, str(path)]) == 0
        assert capsys.readouterr().out == reference(str(path), fmt, tables), fmt
