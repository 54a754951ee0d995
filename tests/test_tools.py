"""The everyday tools: GTS headings, copy, set and compare, on messages built
here and on the corpus (against Debian's gts_ls and bufr_compare where
installed), and their refusals."""

from __future__ import annotations

import errno
import os
import re
import shutil
import subprocess
import sys

import pytest

import skyrec
from _skyrec import TableSet
from bufrgen import build_message
from conftest import corpus_files
from skyrec import encode, read_messages
from skyrec.cli import main
from skyrec.gts import FIELDS, gts_header
from tablegen import Element, write_table_dir

np = pytest.importorskip("numpy")
pytest.importorskip("pandas")

ELEMENTS = [
    Element(1001, "WMO BLOCK NUMBER", width=7, abbreviation="blockNumber"),
    Element(1002, "WMO STATION NUMBER", width=10, abbreviation="stationNumber"),
    Element(1015, "STATION OR SITE NAME", "CCITT IA5", width=80, abbreviation="stationOrSiteName"),
    Element(12101, "TEMPERATURE", "K", scale=2, width=16, abbreviation="airTemperature"),
]
DESCRIPTORS = [1001, 1002, 1015, 12101, 12101]
# (category, centre, heading or None, subsets: block, station, name, two temperatures)
MESSAGES = [
    (0, 98, ("ISMD01", "EDZW", "041200", None),
     [[6, 260, "DE BILT", 270.5, 271.0], [6, 310, "VLISSINGEN", 280.0, 275.0]]),
    (2, 98, None, [[3, 772, "HEATHROW", 260.0, 290.0]]),
    (0, 74, ("ISMD02", "EGRR", "041200", "CCA"), [[3, 772, "HEATHROW", 285.5, None]]),
    (2, 74, ("IUSD01", "EGRR", "041100", None), [[7, 150, "ALPHA", 250.0, 251.0], [7, 151, "BRAVO", 300.0, 299.0]]),
]


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tools")
    table_dir = write_table_dir(folder / "tables", ELEMENTS)
    tables = TableSet.from_eccodes(table_dir)
    messages, parts = [], []
    for n, (category, centre, heading, subsets) in enumerate(MESSAGES):
        data = encode(DESCRIPTORS, subsets, header={"dataCategory": category, "bufrHeaderCentre": centre},
                      tables=tables)
        messages.append(data)
        parts.append(gts_header(*heading, sequence=n).wrapped(data) if heading else data)
    feed = folder / "feed.bin"
    feed.write_bytes(b"".join(parts))
    return {"folder": folder, "tables": str(table_dir), "table_set": tables, "messages": messages, "feed": str(feed)}


def run(capsys, *args):
    status = main([str(a) for a in args])
    captured = capsys.readouterr()
    return status, captured.out, captured.err


def messages_of(data: bytes) -> list[bytes]:
    return [bytes(data[i.offset:i.offset + i.length]) for i in read_messages(data, output="messages")]


# --- GTS headings ---------------------------------------------------------------------------------

@pytest.mark.parametrize("before, fields", [
    (b"\x01\r\r\n123\r\r\nISMD01 EDZW 041200 CCJ\r\r\n", ("ISMD01", "EDZW", "041200", "CCJ")),
    (b"ISMD01 EDZW 041200\r\r\n", ("ISMD01", "EDZW", "041200", None)),  # no start-of-heading
    (b"\x01\nISNK02 AMMC 272000 RRJ\n", ("ISNK02", "AMMC", "272000", "RRJ")),  # LF only
    (b"0004861300\x01\r\r\n000\r\r\nIEHX01 EUMC 221150\r\r\n\n", ("IEHX01", "EUMC", "221150", None)),
    (b"some text before\nIUPC46 RJTD 091300 \r\r\n", ("IUPC46", "RJTD", "091300", None)),
    (b"ISMD01 EDZW 041200 CCJ", None),  # no line end: not a heading
    (b"ismd01 edzw 041200\r\r\n", None),
    (b"", None),
])
def test_heading_variants(built, before, fields):
    data = built["messages"][1]
    found = [(i.gts_ttaaii, i.gts_cccc, i.gts_yygggg, i.gts_bbb) if i.gts else None
             for i in read_messages(data + before + data, output="messages")]
    assert found == [None, fields]
    assert skyrec.read_headers(data + before + data)["gts_ttaaii"].tolist() == [None, fields and fields[0]]


def _expected_headings(path, count):
    """What gts_ls prints for the file, else what its WMO file name says (A_TTAAiiCCCCYYGGgg[BBB]_C_...)."""
    if shutil.which("gts_ls"):
        out = subprocess.run(["gts_ls", "-p", "TT,AA,II,CCCC,YY,GG,gg,BBB", str(path)], capture_output=True,
                             text=True).stdout
        rows = [line.split() for line in out.splitlines() if re.match(r"[A-Z]{2} +[A-Z0-9]{2} +\d\d ", line)]
        if rows:
            return [(t + a + i, c, y + g + m, None if b == "NNN" else b) for t, a, i, c, y, g, m, b in rows]
    named = re.match(r"A_([A-Z]{4}\d{2})([A-Z]{4})(\d{6})([A-Z]{3})?_C_", path.name)
    if named is None:
        return None
    line = " ".join(g for g in named.groups() if g).encode()
    # Only some files of such names keep the heading before their message.
    return [named.groups() if line in path.read_bytes()[:64] else None] + [None] * (count - 1)


HEADED = [p for p in corpus_files() if p.name.startswith("A_") or p.name in
          ("ecb_ismd01_okpr.bufr", "pbk_ISMD01_OKPR.bufr", "metop_mhs.bufr", "rwp_jma.bufr")]


@pytest.mark.parametrize("path", HEADED, ids=[p.name for p in HEADED])
def test_corpus_headings_agree_with_gts_ls_or_the_file_name(path):
    frame = skyrec.read_headers(path)
    got = [None if t is None else (t, c, y, b) for t, c, y, b in
           frame[["gts_ttaaii", "gts_cccc", "gts_yygggg", "gts_bbb"]].itertuples(index=False, name=None)]
    expected = _expected_headings(path, len(frame))
    if expected is None:
        pytest.skip("gts_ls finds no bulletin here and the name does not carry one")
    assert got == expected


# --- copy ------------------------------------------------------------------------------------------

@pytest.mark.parametrize("where, chosen", [
    (["dataCategory=2"], [1, 3]),
    (["bufrHeaderCentre=74", "dataCategory=0"], [2]),
    (["gts_ttaaii=ISMD01/ISMD02"], [0, 2]),
    (["gts_bbb=CCA"], [2]),
    (["gts_yygggg=041100:041159"], [3]),
    (["airTemperature=289:291"], [1]),  # any rank
    (["#1#airTemperature=289:291"], []),
    (["stationOrSiteName=HEATHROW"], [1, 2]),
    (["#2#airTemperature=:252", "blockNumber=7"], [3]),
])
def test_copy_writes_the_chosen_messages_byte_for_byte(built, capsys, tmp_path, where, chosen):
    out = tmp_path / "out.bufr"
    args = ["copy", built["feed"], "-o", out, "--tables", built["tables"]]
    status, _, err = run(capsys, *args, *[a for w in where for a in ("--where", w)])
    assert status == 0, err
    assert f"{len(MESSAGES)} messages read, {len(chosen)} written" in err
    expected = b"".join(built["messages"][i] for i in chosen)
    assert (out.read_bytes() if out.exists() else b"") == expected


@pytest.mark.parametrize("how", ["copy --gts", "write_bufr(gts=True)", "write_bufr((message, heading))"])
def test_headings_written_back_as_they_were(built, capsys, tmp_path, how):
    out = tmp_path / "out.bin"
    if how == "copy --gts":
        assert run(capsys, "copy", built["feed"], "--gts", "-o", out)[0] == 0
    elif how == "write_bufr(gts=True)":
        assert skyrec.write_bufr(out, read_messages(built["feed"], tables=built["table_set"]), gts=True) == 4
    else:
        pairs = [(m, heading and gts_header(*heading, sequence=n))
                 for n, (m, (_, _, heading, _)) in enumerate(zip(built["messages"], MESSAGES))]
        assert skyrec.write_bufr(out, pairs) == 4
    assert out.read_bytes() == open(built["feed"], "rb").read()


@pytest.mark.parametrize("how, ttaaii, yygggg", [
    ("copy --gts-heading", ["IUSN01"] * 4, None),  # the time of each message
    ("copy --gts --gts-heading", ["ISMD01", "IUSN01", "ISMD02", "IUSD01"], None),  # read headings kept
    ("write_bufr((message, text))", ["IUSN01"] * 4, "151230"),
])
def test_given_headings_are_written(built, capsys, tmp_path, how, ttaaii, yygggg):
    out = tmp_path / "out.bin"
    if how.startswith("copy"):
        options = how.split()[1:-1]
        assert run(capsys, "copy", built["feed"], *options, "--gts-heading", "IUSN01 KWBC CCB", "-o", out)[0] == 0
    else:
        skyrec.write_bufr(out, [(m, f"IUSN01 KWBC {yygggg} CCB") for m in built["messages"]])
    frame = skyrec.read_headers(out)
    given = frame["gts_ttaaii"] == "IUSN01"
    assert frame["gts_ttaaii"].tolist() == ttaaii and set(frame["gts_cccc"][given]) == {"KWBC"}
    times = frame["time"].dt.strftime("%d%H%M")
    assert frame["gts_yygggg"][given].tolist() == (times[given].tolist() if yygggg is None else [yygggg] * 4)
    assert messages_of(out.read_bytes()) == built["messages"]
    if how == "copy --gts-heading":  # numbered in the file
        assert [out.read_bytes().count(b"\x01\r\r\n%03d\r\r\nIUSN01" % n) for n in range(1, 5)] == [1] * 4


def value_frame(how, built):
    """The values of the feed by each reader, its default columns."""
    if how == "read_by_message":
        from skyrec.frames import read_by_message

        return read_by_message(built["feed"], tables=built["table_set"])
    if how == "dask, a partition per message":  # each piece starts at its message: its heading lies before
        sd = pytest.importorskip("skyrec.dask")
        return sd.read_bufr(built["feed"], table_dir=built["tables"], blocksize=1).values.compute(
            scheduler="synchronous")
    if how == "values_table":
        pytest.importorskip("pyarrow")
        return skyrec.values_table(built["feed"], table_dir=built["tables"]).to_pandas()
    return skyrec.read_dataframe(built["feed"], tables=built["table_set"])


@pytest.mark.parametrize("how", ["read_dataframe", "read_by_message", "dask, a partition per message",
                                 "values_table"])
def test_value_frames_carry_the_headings_by_default(built, how):
    headers = skyrec.read_headers(built["feed"])[["message", *FIELDS]]
    frame = value_frame(how, built)[["message", *FIELDS]]
    rows = frame.astype(object).where(frame.notna(), None)
    assert set(rows.itertuples(index=False, name=None)) == set(headers.itertuples(index=False, name=None))


def test_items_and_observations_carry_the_headings(built):
    headers = skyrec.read_headers(built["feed"])
    wide = skyrec.read_wide(built["feed"], tables=built["table_set"])
    assert [(w.gts_ttaaii, w.gts_bbb) for w in wide] == list(zip(headers["gts_ttaaii"], headers["gts_bbb"]))
    stations = skyrec.read_observations(built["feed"], ["stationNumber", "gts_bbb"], tables=built["table_set"],
                                        filters={"gts_cccc": "EGRR"}, required_columns=False)
    assert stations["stationNumber"].tolist() == [772, 150, 151]
    assert [b if isinstance(b, str) else None for b in stations["gts_bbb"]] == ["CCA", None, None]


@pytest.mark.parametrize("args", [
    ["copy", "{feed}", "--where", "dataCategory=2", "--where", "gts_cccc=EGRR", "-o", "{out}"],
    ["compare", "{feed}", "{feed}"],
    ["ls", "{feed}"],
])
def test_header_only_commands_import_no_reader_of_values(built, tmp_path, args):
    probe = ("import sys; from skyrec.cli import main; status = main(sys.argv[1:]); print(status, sorted(m for m in "
             "('numpy', 'pandas', 'dataclasses', 'skyrec.tables', 'skyrec.reader', 'skyrec.cli.dump') "
             "if m in sys.modules))")
    names = {"feed": built["feed"], "out": tmp_path / "out.bufr"}
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", probe, *[a.format(**names) for a in args]], capture_output=True,
                          text=True, env=env, timeout=300)
    assert done.stdout.split("\n")[-2] == "0 []", done.stderr


@pytest.mark.parametrize("where, status, written", [("dataCategory=0", 0, 1), ("airTemperature=0:", 1, 0)])
def test_header_conditions_decode_nothing(built, capsys, tmp_path, where, status, written):
    source, out = tmp_path / "in.bufr", tmp_path / "out.bufr"
    source.write_bytes(build_message([12101], b"\x00"))  # a section 4 too short for its one value
    got, _, err = run(capsys, "copy", source, "--where", where, "--tables", built["tables"], "-o", out)
    assert got == status and f"1 message read, {written} written" in err
    assert (out.read_bytes() if out.exists() else b"") == (source.read_bytes() if written else b"")


def test_split_by_pattern_covers_the_input(built, capsys, tmp_path):
    pattern = tmp_path / "out_[dataCategory]_[bufrHeaderCentre]_[gts_cccc].bufr"
    assert run(capsys, "copy", built["feed"], "-o", pattern)[0] == 0
    written = {p.name: messages_of(p.read_bytes()) for p in tmp_path.iterdir()}
    assert sorted(written) == ["out_0_74_EGRR.bufr", "out_0_98_EDZW.bufr", "out_2_74_EGRR.bufr",
                               "out_2_98_none.bufr"]
    assert sorted(m for ms in written.values() for m in ms) == sorted(built["messages"])


def test_copy_subsets_keeps_only_the_matching_ones(built, capsys, tmp_path):
    out = tmp_path / "warm.bufr"
    args = ("copy", built["feed"], "--where", "#1#airTemperature=275:", "--subsets", "--tables", built["tables"])
    assert run(capsys, *args, "-o", out)[0] == 0
    items = list(read_messages(out.read_bytes(), tables=built["table_set"]))
    names = [[v.raw_text.strip() for v in s if v.raw_text] for i in items for s in i.subsets]
    assert names == [["VLISSINGEN"], ["HEATHROW"], ["BRAVO"]]


# --- set -------------------------------------------------------------------------------------------

def _values(data, tables):
    return [[(v.descriptor, v.data) for v in s] for i in read_messages(data, tables=tables) for s in i.subsets]


@pytest.mark.parametrize("assignments, header, changed", [
    (["dataSubCategory=7", "typicalHour=5"], {"dataSubCategory": 7, "typicalHour": 5}, None),
    (["typicalDate=20240229"], {"typicalYear": 2024, "typicalMonth": 2, "typicalDay": 29}, None),
    (["#2#airTemperature=280.1"], {}, (4, 280.1)),
    (["stationOrSiteName=NEW NAME"], {}, (2, "NEW NAME")),
    (["compressed=1"], {"compressedData": 1}, None),
    (["edition=3"], {"edition": 3}, None),
])
def test_set_changes_exactly_the_asked_keys(built, capsys, tmp_path, assignments, header, changed):
    source, out = tmp_path / "in.bufr", tmp_path / "out.bufr"
    source.write_bytes(built["messages"][0])
    status, _, err = run(capsys, "set", *assignments, source, "-o", out, "--tables", built["tables"])
    assert status == 0, err
    before, after = next(read_messages(source, output="messages")), next(read_messages(out, output="messages"))
    old, new = skyrec.header.of_message(before.message), skyrec.header.of_message(after.message)
    assert {k: v for k, v in new.items() if old[k] != v} == header
    expected = _values(source.read_bytes(), built["table_set"])
    if changed is not None:
        position, value = changed
        for subset in expected:
            subset[position] = (subset[position][0], value)
    assert _values(out.read_bytes(), built["table_set"]) == expected
    if not changed and "compressedData" not in header and "edition" not in header:  # in place
        assert len(out.read_bytes()) == len(source.read_bytes())


# --- compare ---------------------------------------------------------------------------------------

def _altered(built, tmp_path, capsys, *assignments):
    source, out = tmp_path / "a.bufr", tmp_path / f"b{len(list(tmp_path.iterdir()))}.bufr"
    source.write_bytes(b"".join(built["messages"]))
    if assignments:
        assert run(capsys, "set", *assignments, source, "-o", out, "--tables", built["tables"])[0] == 0
    else:
        out.write_bytes(source.read_bytes())
    return source, out


@pytest.mark.parametrize("assignments, options, expected", [
    (["bufrHeaderSubCentre=3"], [], {(m, None, "bufrHeaderSubCentre") for m in range(4)}),
    (["#1#airTemperature=270.55"], ["--tolerance", "airTemperature=0.1"],
     {(3, 0, "#1#airTemperature"), (3, 1, "#1#airTemperature"), (1, 0, "#1#airTemperature"),
      (2, 0, "#1#airTemperature"), (0, 1, "#1#airTemperature")}),
    (["#1#airTemperature=270.55"], ["--relative", "airTemperature=0.2"], set()),
    (["compressed=1"], ["--skip", "compressedData"], set()),
    (["compressed=1"], [], {(m, None, "compressedData") for m in range(4)}),
    ([], [], set()),
])
def test_compare_finds_each_planted_difference(built, capsys, tmp_path, assignments, options, expected):
    a, b = _altered(built, tmp_path, capsys, *assignments)
    status, out, err = run(capsys, "compare", a, b, "--tables", built["tables"], *options)
    assert status == (1 if expected else 0), err
    lines = {re.match(r"message (\d+)(?:, subset (\d+))?, ([#\w]+): ", line).groups() for line in out.splitlines()}
    assert {(int(m), None if s is None else int(s), k) for m, s, k in lines} == expected
    kwargs = {}
    for option, value in zip(options[::2], options[1::2]):
        key, _, number = value.partition("=")
        kwargs[option[2:]] = [key] if option == "--skip" else {key: float(number)}
    frame = skyrec.compare(a, b, tables=built["table_set"], **kwargs)
    assert set(zip(frame["message"], frame["subset"].astype(object).where(frame["subset"].notna(), None),
                   frame["key"])) == expected


@pytest.mark.skipif(shutil.which("bufr_compare") is None, reason="Debian's bufr_compare is not installed")
@pytest.mark.parametrize("assignments, skip", [
    (["dataCategory=5"], None), (["#1#airTemperature=250.5"], None), (["compressed=1"], "compressedData"), ([], None),
])
def test_compare_says_what_bufr_compare_says(corpus, definitions, capsys, tmp_path, assignments, skip):
    source, out = corpus / "gts-synop-linate.bufr", tmp_path / "b.bufr"
    if assignments:
        assert run(capsys, "set", *assignments, source, "-o", out)[0] == 0
    else:
        shutil.copy(source, out)
    theirs = subprocess.run(["bufr_compare", *(["-b", f"{skip},subsetNumber"] if skip else []), source, out],
                            capture_output=True, text=True)
    status, ours, _ = run(capsys, "compare", source, out, *(["--skip", skip] if skip else []))
    assert status == theirs.returncode
    their_keys = set(re.findall(r"\[([#\w]+)\]: \[", theirs.stdout)) | set(re.findall(r'size for "([#\w]+)"',
                                                                                   theirs.stdout))
    our_keys = {re.sub(r"^#1#", "", line.rsplit(", ", 1)[1].split(":")[0]) for line in ours.splitlines()}
    assert {re.sub(r"^#1#", "", k) for k in their_keys} <= our_keys | {"typicalTime", "typicalDate"}


# --- refusals --------------------------------------------------------------------------------------

@pytest.mark.parametrize("args, status, text", [
    (["copy", "{feed}", "-o", "{dir}/out_[nosuchKey].bufr"], 2, "[nosuchKey] is not a key"),
    (["copy", "{feed}", "-o", "{dir}/o.bufr", "--where", "noSuchHeader=1", "--tables", "{tables}"], 2,
     "no key 'noSuchHeader'"),
    (["copy", "{feed}", "-o", "{dir}/o.bufr", "--where", "dataCategory"], 2, "write KEY=VALUE"),
    (["copy", "{feed}", "-o", "{dir}/o.bufr", "--subsets"], 2, "--subsets keeps"),
    (["copy", "{feed}", "-o", "{dir}/no/such/dir/o.bufr"], 74, "No such file or directory"),
    (["set", "numberOfSubsets=3", "{feed}", "-o", "{dir}/o.bufr"], 2, "numberOfSubsets cannot be set"),
    (["set", "no-such=3", "{feed}", "-o", "{dir}/o.bufr"], 2, "neither a header key"),
    (["set", "edition=2", "{feed}", "-o", "{dir}/o.bufr"], 2, "edition is 3 or 4"),
    (["compare", "{feed}", "{dir}/missing.bufr"], 2, "No such file"),
    (["compare", "{feed}", "{feed}", "--tolerance", "airTemperature"], 2, "write KEY=NUMBER"),
])
def test_refusals_are_one_line_and_leave_nothing(built, capsys, tmp_path, args, status, text):
    names = {"feed": built["feed"], "dir": tmp_path, "tables": built["tables"]}
    got, out, err = run(capsys, *[a.format(**names) for a in args])
    assert (got, len(err.strip().splitlines())) == (status, 1), err
    assert text in err
    assert list(tmp_path.iterdir()) == []


def test_full_disk_leaves_no_partial_file(built, capsys, tmp_path, monkeypatch):
    import skyrec.cli.outputs as outputs

    class Full:
        def __init__(self, fd):
            self.fd = fd

        def write(self, data):
            raise OSError(errno.ENOSPC, "No space left on device")

        def close(self):
            outputs.os.close(self.fd)

    monkeypatch.setattr(outputs.os, "fdopen", lambda fd, mode: Full(fd))
    monkeypatch.setattr(skyrec._native, "copy_files", lambda *args: None)  # the Python command's own writer
    status, _, err = run(capsys, "copy", built["feed"], "-o", tmp_path / "out_[dataCategory].bufr")
    assert status == 74 and "No space left on device" in err
    assert list(tmp_path.iterdir()) == []
