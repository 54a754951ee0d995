"""A decoded flag-table value means the entries of its set bits, numbered
from 1 at the most significant bit of the element's width; the table
lookup by exact key stays as it is."""

import pytest

import _skyrec
from bufrgen import BitWriter
from decodekit import ELEMENTS, column, decode, make_tables
from tablegen import Element

FLAGS = 8042  # width 18, unit "FLAG TABLE"
LOWER = 2002  # width 4, unit " flag table"
BITS = {1: "FIRST", 2: "SECOND", 6: "SIXTH", 18: "LAST"}


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    elements = ELEMENTS + [Element(LOWER, "WIND INSTRUMENTS", " flag table", width=4)]
    return make_tables(tmp_path_factory.mktemp("flags"), elements,
                       code_tables={FLAGS: BITS, LOWER: {1: "CERTIFIED", 4: "KNOTS"}})


def bit(n, width=18):
    return 1 << (width - n)


@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize("code, width, raw, meaning", [
    (FLAGS, 18, bit(6), "SIXTH"),
    (FLAGS, 18, bit(1) | bit(6) | bit(18), "FIRST; SIXTH; LAST"),
    (FLAGS, 18, bit(2) | bit(3), "SECOND"),  # bits without an entry say nothing
    (FLAGS, 18, bit(3), None),
    (FLAGS, 18, 0, None),
    (FLAGS, 18, (1 << 18) - 2, "FIRST; SECOND; SIXTH"),
    (FLAGS, 18, (1 << 18) - 1, None),  # all ones: missing
    (LOWER, 4, 1, "KNOTS"),
    (LOWER, 4, 4, None),  # bit 2, not the key 4
    (LOWER, 4, 9, "CERTIFIED; KNOTS"),
])
def test_flag_value_meaning(tables, compressed, code, width, raw, meaning):
    if compressed:
        bits = column(BitWriter(), width, [raw, raw])
        values = decode(tables, [code], bits, subsets=2, compressed=True)
    else:
        values = decode(tables, [code], BitWriter().uint(raw, width))
    assert {(v.raw, v.raw_meaning) for v in values} == {(raw, meaning)}
    assert values[0].data == (meaning if meaning is not None else values[0].raw_value)


def test_table_lookup_stays_by_exact_key(tables):
    assert (tables.get_meaning(LOWER, 4), tables.get_meaning(LOWER, 9), tables.get_meaning(FLAGS, 6)) == (
        "KNOTS", None, "SIXTH")


def test_flag_values_change_with_raw_in_one_column(tables):
    # Meanings are kept per value; neighbouring subsets must not share one.
    bits = column(BitWriter(), 18, [bit(1), bit(2), bit(1), None])
    values = decode(tables, [FLAGS], bits, subsets=4, compressed=True)
    assert [v.raw_meaning for v in values] == ["FIRST", "SECOND", "FIRST", None]


def test_real_sounding_significance(corpus, definitions):
    # 008001 is 7 bits wide: 2 sets bit 6 alone, 70 bits 1, 5 and 6.
    data = (corpus / "temp-2-255.bufr").read_bytes()
    found = {(v.raw, v.raw_meaning) for v in _skyrec.decode_values_with_definitions(data, str(definitions))
             if v.descriptor == 8001 and v.raw in (2, 70)}
    assert found == {(2, "SIGNIFICANT LEVEL, WIND"), (70, "SURFACE; SIGNIFICANT LEVEL, TEMPERATURE AND/OR RELATIVE "
                                                          "HUMIDITY; SIGNIFICANT LEVEL, WIND")}
