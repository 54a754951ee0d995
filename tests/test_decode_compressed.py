"""Compressed section 4: columns with increments, compressed character data,
replication with equal factors, one state per message, and the reordering
into the same subset-major list as uncompressed data."""

import pytest

from bufrgen import BitWriter
from decodekit import column, decode, make_tables

A, B, C = 1001, 1002, 12101  # widths 7, 10, 12


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("cmp"))


def compressed(tables, descriptors, bits, subsets):
    return decode(tables, descriptors, bits, subsets=subsets, compressed=True)


def error_of(tables, descriptors, bits, subsets):
    with pytest.raises(ValueError) as info:
        compressed(tables, descriptors, bits, subsets)
    return str(info.value)


def raws(values):
    return [(v.descriptor, v.raw) for v in values]


def test_increments_and_missing_subsets(tables):
    bits = BitWriter().uint(100, 12).uint(2, 6).uint(0, 2).uint(3, 2).uint(1, 2)
    values = compressed(tables, [C], bits, 3)
    assert [v.raw for v in values] == [100, 100, 101]
    assert [v.raw_value for v in values] == [pytest.approx(-30.0), None, pytest.approx(-29.9)]


def test_all_ones_base_is_missing_everywhere(tables):
    values = compressed(tables, [C], BitWriter().missing(12).uint(0, 6), 2)
    assert [(v.raw, v.raw_value) for v in values] == [(4095, None), (4095, None)]


def test_class_31_is_never_missing(tables):
    values = compressed(tables, [31001], BitWriter().missing(8).uint(1, 6).uint(1, 1).uint(0, 1), 2)
    assert [v.raw_value for v in values] == [256.0, 255.0]


def test_missing_subset_looks_up_the_base_meaning(tmp_path):
    t = make_tables(tmp_path, code_tables={2001: {1: "ONE", 2: "TWO"}})
    values = compressed(t, [2001], BitWriter().uint(1, 2).uint(1, 6).uint(1, 1).uint(0, 1), 2)
    assert [(v.raw, v.raw_value, v.raw_meaning) for v in values] == [(1, None, "ONE"), (1, 1.0, "ONE")]


def test_two_subsets_two_elements_are_reordered(tables):
    bits = column(column(BitWriter(), 7, [1, 2]), 10, [10, 20])
    values = compressed(tables, [A, B], bits, 2)
    assert raws(values) == [(A, 1), (B, 10), (A, 2), (B, 20)]


def test_character_columns_and_their_counter(tables):
    bits = BitWriter().text("ABCD", 48).uint(0, 6)  # one text for every subset
    bits.text("", 24).uint(3, 6).text("XYZ", 24).raw_bytes(b"\xff" * 3)  # a text per subset
    values = compressed(tables, [1015, 1019], bits, 2)
    assert [(v.raw_text, v.raw_value) for v in values] == [("ABCD", 1006.0), ("XYZ", 3003.0), ("ABCD", 2006.0),
                                                           (None, 4003.0)]


def test_inserted_characters(tables):
    bits = BitWriter().text("", 16).uint(2, 6).text("PQ", 16).text("RS", 16)
    values = compressed(tables, [205002, 205000], bits, 2)
    assert [(v.descriptor, v.name, v.raw_text, v.raw_value) for v in values] == [
        (205002, "text", "PQ", 1002.0), (205002, "text", "RS", 2002.0)]


def test_zero_subsets_still_read_every_column(tables):
    assert compressed(tables, [A, 1019], BitWriter().uint(0, 7).uint(0, 6).uint(0, 24).uint(0, 6), 0) == []
    assert error_of(tables, [A, B], BitWriter().uint(0, 7).uint(0, 6), 0) == (
        "csv/table parse error: not enough bits while reading section 4 at bit 13 for width 10 (16 bits available)")


def test_running_out_inside_an_increment_width(tables):
    assert error_of(tables, [A], BitWriter().uint(0, 7), 2) == (
        "csv/table parse error: not enough bits while reading section 4 at bit 7 for width 6 (8 bits available)")


def test_running_out_inside_increments_names_the_failing_one(tables):
    bits = BitWriter().uint(0, 10).uint(5, 6).uint(1, 5).uint(2, 5)
    assert error_of(tables, [B], bits, 4) == (
        "csv/table parse error: not enough bits while reading section 4 at bit 31 for width 5 (32 bits available)")


def test_equal_delayed_factors_replicate(tables):
    bits = column(BitWriter(), 8, [2, 2, 2])
    column(bits, 7, [1, 2, 3])
    column(bits, 7, [4, 5, 6])
    values = compressed(tables, [101000, 31001, A], bits, 3)
    assert raws(values) == [(31001, 2), (A, 1), (A, 4), (31001, 2), (A, 2), (A, 5), (31001, 2), (A, 3), (A, 6)]


def test_varying_factors_fail(tables):
    bits = column(BitWriter(), 8, [2, 3]).uint(0, 64)
    assert error_of(tables, [101000, 31001, A], bits, 2) == (
        "csv/table parse error: compressed delayed replication with varying factors is not implemented")


def test_missing_first_factor_replicates_nothing(tables):
    bits = column(BitWriter(), 12, [None, 1000])
    column(bits, 10, [7, 8])
    values = compressed(tables, [101000, C, A, B], bits, 2)
    assert raws(values) == [(C, 1000), (B, 7), (C, 1000), (B, 8)]
    assert values[0].raw_value is None and values[2].raw_value == pytest.approx(60.0)


def test_associated_field_column_before_elements_not_factors(tables):
    # factor 410 -> 1.0: one pass, and no field before the factor
    bits = BitWriter().uint(410, 12).uint(0, 6)
    column(bits, 2, [1, 2])
    column(bits, 7, [5, 6])
    values = compressed(tables, [204002, 101000, C, A], bits, 2)
    assert raws(values) == [(C, 410), (999999, 1), (A, 5), (C, 410), (999999, 2), (A, 6)]


def test_bitmap_entries_come_from_the_first_subset(tables):
    bits = column(BitWriter(), 7, [1, 2])
    column(bits, 10, [3, 4])
    column(bits, 1, [1, 0])  # first subset: A not present
    column(bits, 1, [0, 0])
    column(bits, 10, [30, 40])
    values = compressed(tables, [A, B, 236000, 31031, 31031, 223255], bits, 2)
    assert raws(values)[-1] == (B, 40) and raws(values)[5] == (B, 30)


def test_recursion_depth(tmp_path):
    sequences = {300000 + i: [300000 + i + 1] for i in range(1, 65)}
    sequences[300065] = [A]
    t = make_tables(tmp_path, sequences=sequences)
    assert error_of(t, [300001], BitWriter().uint(0, 16), 2) == (
        "csv/table parse error: compressed descriptor decode exceeded recursion depth")


# Three subsets of data, as per-subset values; None is missing.
SUBSETS = [
    dict(a=1, b=10, c=3000, site="AB", field=1, a2=5, quality=(50, 1), substituted=(3001, 9)),
    dict(a=2, b=10, c=None, site="CD", field=2, a2=6, quality=(60, 2), substituted=(3002, 8)),
    dict(a=None, b=10, c=3010, site="EF", field=3, a2=7, quality=(70, 3), substituted=(3003, 7)),
]
DESCRIPTORS = [A, B, C, 1019, 204003, A, 204000, 205002, 222000, 236000, 101000, 31001, 31031, 33007, 33007, 2001,
               223000, 223255, 223255]  # the bitmap picks C and the second A
BITMAP = (0, 1, 0)


def uncompressed_bits():
    bits = BitWriter()
    for s in SUBSETS:
        bits.uint(s["a"], 7) if s["a"] is not None else bits.missing(7)
        bits.uint(s["b"], 10)
        bits.uint(s["c"], 12) if s["c"] is not None else bits.missing(12)
        bits.text(s["site"], 24).uint(s["field"], 3).uint(s["a2"], 7).text("XY", 16).uint(3, 8)
        for flag in BITMAP:
            bits.uint(flag, 1)
        bits.uint(s["quality"][0], 7).uint(s["quality"][1], 7).uint(1, 2)
        bits.uint(s["substituted"][0], 12).uint(s["substituted"][1], 7)
    return bits


def compressed_bits():
    bits = BitWriter()
    column(bits, 7, [s["a"] for s in SUBSETS])
    column(bits, 10, [s["b"] for s in SUBSETS])
    column(bits, 12, [s["c"] for s in SUBSETS])
    bits.uint(0, 24).uint(2, 6)
    for s in SUBSETS:
        bits.text(s["site"], 16)
    column(bits, 3, [s["field"] for s in SUBSETS])
    column(bits, 7, [s["a2"] for s in SUBSETS])
    bits.text("XY", 16).uint(0, 6)
    column(bits, 8, [3, 3, 3])
    for flag in BITMAP:
        column(bits, 1, [flag] * 3)
    column(bits, 7, [s["quality"][0] for s in SUBSETS])
    column(bits, 7, [s["quality"][1] for s in SUBSETS])
    column(bits, 2, [1, 1, 1])
    column(bits, 12, [s["substituted"][0] for s in SUBSETS])
    return column(bits, 7, [s["substituted"][1] for s in SUBSETS])


def test_compressed_and_uncompressed_encodings_agree(tables):
    plain = decode(tables, DESCRIPTORS, uncompressed_bits(), subsets=3)
    packed = compressed(tables, DESCRIPTORS, compressed_bits(), 3)
    assert len(plain) == len(packed) == 3 * 19
    # Character values are numbered differently in the two encodings (their
    # texts are compared through `data`), and a missing value's raw is all
    # ones in one and the column's base in the other.
    def seen(v):
        return v.descriptor, v.data, v.raw if v.raw_value is not None else None, v.name, v.raw_meaning

    assert [seen(v) for v in plain] == [seen(v) for v in packed]
    assert plain[3].raw_text == "AB" and packed[3 + 19].raw_text == "CD"
    assert [v.raw for v in packed[-2:]] == [3003, 7] and packed[-4].raw_meaning == "MANNED"


CODED_RAWS = {  # per element: its raws in four subsets, None for missing
    2001: {"same": [1] * 4, "missing": [None] * 4, "changing": [0, 2, None, 1]},
    8042: {"same": [1 << 17] * 4, "missing": [None] * 4, "changing": [1 << 17, 3, None, (1 << 17) + 1]},
}
CODED_WIDTHS = {2001: 2, 8042: 18}


@pytest.mark.parametrize("first, second", [("same", "changing"), ("changing", "same"), ("missing", "changing"),
                                           ("same", "missing")])
def test_coded_columns_with_and_without_increments_read_as_uncompressed(tmp_path, first, second):
    t = make_tables(tmp_path, code_tables={2001: {0: "AUTOMATIC", 1: "MANNED"}, 8042: {1: "FIRST", 18: "LAST"}})
    columns = [(code, CODED_RAWS[code][shape]) for shape in (first, second) for code in (2001, 8042)]
    plain = BitWriter()
    for j in range(4):
        for code, raws in columns:
            width = CODED_WIDTHS[code]
            plain.missing(width) if raws[j] is None else plain.uint(raws[j], width)
    packed = BitWriter()
    for code, raws in columns:
        column(packed, CODED_WIDTHS[code], raws)
    descriptors = [code for code, _ in columns]
    expected = decode(t, descriptors, plain, subsets=4)
    values = compressed(t, descriptors, packed, 4)

    # A missing value's raw and meaning differ by encoding; the rest is the same.
    def seen(v):
        present = v.raw_value is not None
        return v.descriptor, v.raw_value, v.raw if present else None, v.raw_meaning if present else None

    assert [seen(v) for v in values] == [seen(v) for v in expected]
    assert {"MANNED", "FIRST"} <= {v.raw_meaning for v in values}
