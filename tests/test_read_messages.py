"""Reading whole files: every message with its offset, bad ones reported and
passed over, a strict mode that stops, and tables found once per version."""

from __future__ import annotations

import mmap
import os
import pickle
import subprocess
import sys

import pytest

import _skyrec
import skyrec
from bufrgen import BitWriter, build_message
from decodekit import make_tables, shown
from skyrec import MessageError, TableSource, read_messages
from tablegen import Element, write_table_dir

A, B = 1001, 1002  # widths 7 and 10


def good(a: int, b: int) -> bytes:
    return build_message([A, B], BitWriter().uint(a, 7).uint(b, 10).to_bytes())


def corrupted(kind: str) -> bytes:
    msg = bytearray(good(9, 9))
    if kind == "terminator":
        msg[-4:] = b"7776"
    elif kind == "long length":  # declares more than the file holds
        msg[4:7] = (len(msg) + 5000).to_bytes(3, "big")
    elif kind == "short length":  # the declared end falls inside section 4
        msg[4:7] = (len(msg) - 6).to_bytes(3, "big")
    elif kind == "edition 5":
        msg[7] = 5
    elif kind == "unknown element":
        return build_message([5001], BitWriter().uint(1, 7).to_bytes())
    elif kind == "short data":
        return build_message([A, B], BitWriter().uint(1, 7).to_bytes())
    return bytes(msg)


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("read"))


BAD_KINDS = ["terminator", "long length", "short length", "edition 5", "unknown element", "short data"]


@pytest.mark.parametrize("kind", BAD_KINDS)
def test_bad_message_in_the_middle(tables, kind):
    messages = [good(1, 2), good(3, 4), corrupted(kind), good(5, 6), good(7, 8)]
    data = b"".join(messages)
    offsets = [sum(map(len, messages[:i])) for i in range(len(messages))]
    items = list(read_messages(data, tables=tables))
    bad = [i for i in items if not i.ok]
    assert len(bad) == 1 and bad[0].index == 2 and bad[0].offset == offsets[2]
    assert isinstance(bad[0].error, MessageError) and bad[0].error.offset == offsets[2]
    assert str(bad[0].error).startswith(f"message 2 at offset {offsets[2]}")
    error = bad[0].error
    copied = pickle.loads(pickle.dumps(error))
    assert (str(copied), copied.offset, copied.index, copied.subset, copied.descriptor_path) == \
           (str(error), offsets[2], 2, error.subset, error.descriptor_path)
    assert bad[0].values is None
    good_items = [i for i in items if i.ok]
    assert [i.offset for i in good_items] == [offsets[k] for k in (0, 1, 3, 4)]
    for item, k in zip(good_items, (0, 1, 3, 4)):
        assert shown(item.values) == shown(_skyrec.decode_values_with_tables(messages[k], tables))


@pytest.mark.parametrize("kind, framed", [("terminator", False), ("edition 5", False), ("unknown element", True),
                                          ("short data", True)])
def test_the_error_says_why_and_keeps_the_header_when_framed(tables, kind, framed):
    item = next(i for i in read_messages(good(1, 1) + corrupted(kind), tables=tables) if not i.ok)
    assert (item.message is not None) == framed
    with pytest.raises(ValueError) as expected:
        _skyrec.decode_values_with_tables(corrupted(kind), tables)
    # The package reads editions 2 and 3 too, and says so.
    assert item.error.reason == str(expected.value).removeprefix("csv/table parse error: ").replace(
        "edition 4 is", "editions 2, 3 and 4 are")


def test_strict_mode_stops_at_the_first_error(tables):
    data = good(1, 2) + corrupted("unknown element") + good(3, 4)
    seen = []
    with pytest.raises(MessageError) as info:
        for item in read_messages(data, tables=tables, strict=True):
            seen.append(item.offset)
    assert seen == [0] and info.value.offset == len(good(1, 2)) and info.value.index == 1


def test_bytes_around_and_between_messages(tables):
    header = b"\r\r\nSMXX01 EGRR 011200\r\r\n"
    data = header + good(1, 2) + b"\0" * 7 + b"BUF" + good(3, 4) + b"trailing BUFR"
    items = list(read_messages(data, tables=tables))
    assert [i.offset for i in items] == [len(header), len(header) + len(good(1, 2)) + 10, len(data) - 4]
    assert [i.ok for i in items] == [True, True, False]
    assert [v.raw for v in items[1].values] == [3, 4]
    assert items[2].error.reason == "message is too short to be BUFR"


def test_truncated_last_message(tables):
    data = good(1, 2) + good(3, 4)[:-10]
    items = list(read_messages(data, tables=tables))
    assert items[0].ok and items[1].error.reason == "declared length 52, only 42 bytes left"
    assert items[1].length == len(good(3, 4)) - 10


@pytest.mark.parametrize("wrap", [bytes, bytearray, memoryview, "str", "path", "mmap"])
def test_sources(tables, tmp_path, wrap):
    data = good(1, 2) + good(3, 4)
    path = tmp_path / "two.bufr"
    path.write_bytes(data)
    if wrap == "str":
        source = str(path)
    elif wrap == "path":
        source = path
    elif wrap == "mmap":
        f = open(path, "rb")
        source = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    else:
        source = wrap(data)
    assert [[v.raw for v in i.values] for i in read_messages(source, tables=tables)] == [[1, 2], [3, 4]]
    if wrap == "mmap":
        source.close()  # no buffer of it is left exported
        f.close()


def test_empty_and_missing_files(tables, tmp_path):
    (tmp_path / "empty.bufr").write_bytes(b"")
    (item,) = read_messages(tmp_path / "empty.bufr", tables=tables)
    assert str(item.error) == "no BUFR messages found" and item.message is None
    with pytest.raises(FileNotFoundError):
        list(read_messages(tmp_path / "missing.bufr", tables=tables))
    with pytest.raises(TypeError, match="a path, a directory, a glob, bytes-like data"):
        list(read_messages(12, tables=tables))


def test_headers_only_need_no_tables(monkeypatch):
    monkeypatch.setattr(skyrec.tables, "find_definitions_root", lambda: pytest.fail("tables were looked for"))
    items = list(read_messages(good(1, 2) + corrupted("terminator"), output="messages"))
    assert items[0].message.number_of_subsets == 1 and items[0].values is None and not items[1].ok


def test_unknown_output_is_refused(tables):
    with pytest.raises(ValueError, match="output must be one of"):
        read_messages(b"", tables=tables, output="rows")


def test_tables_not_found_is_raised_by_the_call(monkeypatch):
    def nothing():
        raise skyrec.TablesNotFound("none here")

    monkeypatch.setattr(skyrec.tables, "find_definitions_root", nothing)
    monkeypatch.setattr(skyrec.bundle, "PATH", skyrec.bundle.PATH.with_name("no.bundle"))  # nor bundled tables
    with pytest.raises(skyrec.TablesNotFound):
        read_messages(b"")


def versioned(version: int, a: int) -> bytes:
    return build_message([A], BitWriter().uint(a, 7).to_bytes(), master_version=version)


def test_tables_per_version_within_one_reading(tmp_path):
    for version in (30, 31):
        write_table_dir(tmp_path / "bufr" / "tables" / "0" / "wmo" / str(version),
                        elements=[Element(A, f"V{version}", width=7)])
    source = TableSource(root=str(tmp_path))
    data = b"".join(versioned(v, i) for i, v in enumerate([30, 31, 30, 32, 31, 30, 32]))
    items = list(read_messages(data, tables=source))
    assert [i.values[0].name if i.ok else None for i in items] == ["V30", "V31", "V30", None, "V31", "V30", None]
    assert "does not exist" in items[3].error.reason
    assert source.loads == 3


def test_messages_are_decoded_as_they_are_asked_for(tables):
    # Items are made as the caller asks for them: a failure further on is
    # not reached while the first item is looked at.
    reading = read_messages(good(1, 2) + corrupted("unknown element"), tables=tables, strict=True)
    assert next(reading).ok
    with pytest.raises(MessageError):
        next(reading)


def run_main(*args: str) -> subprocess.CompletedProcess:
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-m", "skyrec", *args], capture_output=True, text=True, env=env,
                          timeout=120)


def test_main_job_reports_a_bad_message_and_prints_the_others(tmp_path):
    tables = write_table_dir(tmp_path / "tables", elements=[Element(A, "BLOCK", width=7),
                                                            Element(B, "STATION", width=10)])
    path = tmp_path / "mixed.bufr"
    path.write_bytes(good(11, 12) + corrupted("terminator") + good(13, 14))
    result = run_main("dump", "--tables", tables, str(path))
    assert result.returncode == 1
    assert f"{path}: message 1 at offset {len(good(11, 12))}: section 5 terminator is not 7777" in result.stderr
    headers = [line.split(" (")[0] for line in result.stdout.splitlines() if line.startswith(str(path))]
    assert headers == [f"{path}: message 0 at offset 0", f"{path}: message 2 at offset {2 * len(good(11, 12))}"]
    assert [line.split()[2] for line in result.stdout.splitlines() if line.startswith("    ")] == ["11", "12", "13",
                                                                                                   "14"]


def test_results_are_the_classes_of_skyrec(tables):
    (item,) = read_messages(good(1, 2), tables=tables)
    assert type(item.message) is _skyrec.BufrMessage and {type(v) for v in item.values} == {_skyrec.DecodedValue}
    assert skyrec.__all__[:len(_skyrec.__all__)] == _skyrec.__all__
