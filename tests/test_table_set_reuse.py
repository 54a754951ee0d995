"""A TableSet keeps what its decodes into DecodedValue lists resolve (the
element entries, the str of each name and meaning) from one call to the
next. Later calls, with other messages and operators, after failures, or
with the package's readers taking the same tables, answer as fresh tables do."""

from __future__ import annotations

import pytest

import _skyrec
from bufrgen import BitWriter, build_message
from decodekit import CODE_TABLES, ELEMENTS, SEQUENCES
from tablegen import write_table_dir

MESSAGES = {
    "codes": build_message([301002, 1015, 2001, 12101], BitWriter().uint(1, 7).uint(2, 10).uint(3132, 12)
                           .text("ABC", 48).uint(1, 2).missing(12).to_bytes()),
    "flags": build_message([8042, 8042], BitWriter().uint(3 << 16, 18).uint(1 << 17, 18).to_bytes()),
    # 206YYY: an entry of another width, then an element of no table, each read as a plain integer.
    "local width": build_message([206005, 12101, 206009, 13199, 12101],
                                 BitWriter().uint(7, 5).uint(300, 9).uint(3132, 12).to_bytes()),
    # An associated field before each element but class 31's, its meaning all ones.
    "associated": build_message([204002, 31021, 12101, 204000, 2001],
                                BitWriter().uint(63, 6).uint(2, 2).uint(3132, 12).uint(0, 2).to_bytes()),
    "compressed": build_message([1015, 2001, 12101], BitWriter().text("", 48).uint(6, 6).text("AB", 48)
                                .text("CD", 48).uint(1, 2).uint(1, 6).uint(0, 1).uint(1, 1).uint(3132, 12)
                                .uint(0, 6).to_bytes(), subsets=2, compressed=True),
    "not in tables": build_message([12101, 63255], BitWriter().uint(3132, 12).uint(0, 8).to_bytes()),
}


@pytest.fixture(scope="module")
def table_dir(tmp_path_factory) -> str:
    flags = {8042: {1: "SURFACE", 2: "STANDARD LEVEL"}}
    return write_table_dir(tmp_path_factory.mktemp("reuse"), ELEMENTS, SEQUENCES, CODE_TABLES | flags)


def answer(data: bytes, tables) -> list | str:
    try:
        values = _skyrec.decode_values_with_tables(data, tables)
    except ValueError as e:
        return str(e)
    return [(v.name, v.descriptor, v.raw_value, v.raw, v.raw_text, v.raw_meaning) for v in values]


@pytest.mark.parametrize("order", [list(MESSAGES), list(MESSAGES)[::-1],
                                   ["not in tables", "codes", "associated", "codes", "local width", "local width"]])
def test_later_decodes_answer_as_fresh_tables(table_dir, order):
    kept = _skyrec.TableSet.from_eccodes(table_dir)
    for name in order:
        assert answer(MESSAGES[name], kept) == answer(MESSAGES[name], _skyrec.TableSet.from_eccodes(table_dir)), name


def test_flat_list_and_package_keep_their_own_reading(table_dir):
    skyrec = pytest.importorskip("skyrec")
    tables = _skyrec.TableSet.from_eccodes(table_dir)
    data = MESSAGES["associated"]
    for _ in range(2):  # either reading first, then the other, then the first again
        assert _skyrec.decode_values_with_tables(data, tables)[0].raw_value == 63.0  # the flat list's number
        (item,) = skyrec.read_messages(data, tables=tables, output="columns")
        assert bool(item.columns.missing[0])  # the package shows an all-ones 031021 as missing
