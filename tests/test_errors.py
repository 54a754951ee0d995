"""The package's errors: a failed decode says where (subset, descriptor path),
a message cut short says so, _skyrec's texts stay as they were, and only
DecodeError is ever reported as a bad message."""

from __future__ import annotations

from pathlib import Path

import pytest

import _skyrec
import skyrec
from bufrgen import BitWriter, build_message
from decodekit import column, make_tables
from skyrec import DecodeError, MessageError, TableSource, read_messages
from tablegen import Element, write_table_dir

pytest.importorskip("pandas", reason="read_dataframe needs pandas: pip install .[pandas]")

PREFIX = "csv/table parse error: "


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("errors"))


def first_error(reader: str, data: bytes, tables) -> MessageError:
    if reader == "messages":
        errors = [item.error for item in read_messages(data, tables=tables) if item.error is not None]
    else:
        errors = skyrec.read_dataframe(data, tables=tables).attrs["errors"]
    assert len(errors) == 1
    return errors[0]


def compressed_pair() -> bytes:
    bits = column(BitWriter(), 7, [1, 2])  # 001001 of both subsets; 001002 is missing
    return build_message([301001], bits.to_bytes(), subsets=2, compressed=True)


FAILURES = [
    # 301002 is (301001 (001001, 001002), 012101); subset 1 lacks its 012101.
    pytest.param(build_message([301002], BitWriter().uint(1, 7).uint(2, 10).uint(3, 12).uint(4, 7).uint(5, 10)
                               .to_bytes(), subsets=2), "subset 1, 301002 > 012101", id="nested sequence"),
    pytest.param(build_message([1001, 5001], BitWriter().uint(1, 7).to_bytes()), "subset 0, 005001",
                 id="unknown element"),
    pytest.param(build_message([101002, 1002], BitWriter().uint(1, 10).to_bytes()), "subset 0, 101002 > 001002",
                 id="replication"),
    pytest.param(compressed_pair(), "301001 > 001002", id="compressed: no subset"),
]


@pytest.mark.parametrize("reader", ["messages", "dataframe"])
@pytest.mark.parametrize("data, where", FAILURES)
def test_a_failed_decode_says_where(tables, reader, data, where):
    with pytest.raises(ValueError) as raised:
        _skyrec.decode_values_with_tables(data, tables)
    error = first_error(reader, b"\0" * 5 + data, tables)
    assert isinstance(error, DecodeError) and isinstance(error, ValueError)
    assert error.where == where
    assert str(raised.value) in (error.reason, PREFIX + error.reason)  # the same reason, without the prefix
    # One kind, whichever module raised it; _skyrec's text keeps its prefix.
    assert raised.value.kind == error.kind and error.kind in skyrec.errors.KINDS and error.kind != "text"
    assert error.descriptor_path[-1] == where.split(" > ")[-1].split(", ")[-1]
    assert str(error) == f"message 0 at offset 5, {where}: {error.reason}"


def test_a_message_cut_short_says_so(tables):
    whole = build_message([1001], BitWriter().uint(1, 7).to_bytes())
    data = whole + whole[:-8]
    (item,) = [i for i in read_messages(data, tables=tables) if i.error is not None]
    assert item.error.reason == f"declared length {len(whole)}, only {len(whole) - 8} bytes left"
    assert skyrec.read_headers(data)["error"].tolist()[1] == item.error.reason
    with pytest.raises(ValueError, match=f"^section 0 at offset {len(whole)} is truncated$"):
        _skyrec.parse_all_bytes(data)


@pytest.mark.parametrize("broken", ["element.table", "sequence.def", "codetables/1001.table"])
def test_an_error_of_the_tables_names_the_file(tmp_path, broken):
    data = build_message([1001], BitWriter().uint(1, 7).to_bytes())
    version = _skyrec.parse_bytes(data).master_tables_version_number
    root = tmp_path / "definitions"
    folder = write_table_dir(root / "bufr" / "tables" / "0" / "wmo" / str(version), [Element(1001, "A", "K", width=7)],
                             {301001: [1001]}, {1001: {0: "ZERO"}})
    (Path(folder) / broken).write_bytes(b"x\xff\n")
    (item,) = read_messages(data, definitions=root)
    assert item.error.where == f"file {Path(folder) / broken}"
    assert not item.error.reason.startswith(PREFIX) and f"version {version}" in item.error.reason


@pytest.mark.parametrize("reader", ["messages", "dataframe"])
def test_a_fault_of_skyrec_is_raised_not_reported(tables, reader, monkeypatch):
    def broken(self, message):
        raise TypeError("a bug in skyrec")

    monkeypatch.setattr(TableSource, "for_message", broken)
    data = build_message([1001], BitWriter().uint(1, 7).to_bytes())
    with pytest.raises(TypeError, match="a bug in skyrec"):
        first_error(reader, data, tables)
