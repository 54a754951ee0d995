"""Uncompressed section 4: elements, replication, sequences, missing values,
character data, subsets, and the errors of the walk and the bit reader."""

import pytest

from bufrgen import BitWriter
from decodekit import FLOOR, PER_BYTE, bound_error, decode, make_tables, message_length, shown
from tablegen import Element


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("unc"))


def error_of(tables, descriptors, bits, **fields):
    with pytest.raises(ValueError) as info:
        decode(tables, descriptors, bits, **fields)
    return str(info.value)


def test_scaling_and_negative_scale(tables):
    values = decode(tables, [12101, 7004], BitWriter().uint(3132, 12).uint(5, 14))
    assert [v.raw_value for v in values] == [pytest.approx(273.2), 50.0]


def test_two_subsets_share_the_bit_stream(tables):
    values = decode(tables, [12101], BitWriter().uint(3000, 12).uint(3001, 12), subsets=2)
    assert [v.raw for v in values] == [3000, 3001]


def test_zero_subsets_read_nothing(tables):
    assert decode(tables, [12101, 1015], b"", subsets=0) == []


@pytest.mark.parametrize(
    "code, width, raw, missing",
    [
        (12101, 12, 4095, True),
        (31002, 16, 65535, False),  # class 31 is never missing
        (10004, 64, 2**64 - 1, False),  # nor is a 64-bit field
        (12101, 12, 4094, False),
    ],
)
def test_missing_values(tables, code, width, raw, missing):
    (v,) = decode(tables, [code], BitWriter().uint(raw, width))
    assert v.raw == raw and (v.raw_value is None) == missing


def test_width_zero_element_is_missing(tables):
    (v,) = decode(tables, [10005, 1001], BitWriter().uint(3, 7))[:1]
    assert (v.raw, v.raw_value) == (0, None)


def test_missing_value_still_looks_up_its_meaning(tmp_path):
    t = make_tables(tmp_path, code_tables={2001: {3: "MISSING"}})
    (v,) = decode(t, [2001], BitWriter().uint(3, 2))
    assert (v.raw_value, v.raw_meaning, v.data) == (None, "MISSING", "MISSING")


def test_sequences_expand_in_place(tables):
    values = decode(tables, [301002], BitWriter().uint(6, 7).uint(123, 10).uint(3000, 12))
    assert [v.descriptor for v in values] == [1001, 1002, 12101]


def test_fixed_replication_alternates(tables):
    bits = BitWriter()
    for i in range(3):
        bits.uint(i, 7).uint(i + 10, 10)
    values = decode(tables, [102003, 1001, 1002], bits)
    assert [(v.descriptor, v.raw) for v in values] == [(1001, 0), (1002, 10), (1001, 1), (1002, 11), (1001, 2),
                                                       (1002, 12)]


@pytest.mark.parametrize("factor, width, raw", [(31000, 1, 1), (31001, 8, 1), (31002, 16, 1), (12101, 12, 419)])
def test_delayed_replication_factor_is_a_value(tables, factor, width, raw):
    # 12101 counts by its scaled value: (419 - 400) / 10 = 1.9 passes as 1.
    bits = BitWriter().uint(raw, width).uint(7, 7).uint(99, 10)
    values = decode(tables, [101000, factor, 1001, 1002], bits)
    assert [v.descriptor for v in values] == [factor, 1001, 1002]


def test_delayed_replication_zero_skips_the_body(tables):
    values = decode(tables, [101000, 31001, 1001, 1002], BitWriter().uint(0, 8).uint(5, 10))
    assert [(v.descriptor, v.raw) for v in values] == [(31001, 0), (1002, 5)]


def test_missing_factor_counts_zero(tables):
    values = decode(tables, [101000, 12101, 1001], BitWriter().missing(12))
    assert len(values) == 1 and values[0].raw_value is None


def test_class31_factor_of_all_ones_is_a_count(tables):
    bits = BitWriter().uint(65535, 16)
    # 65535 passes over a 1-bit body: the factor counts, it is not missing.
    for _ in range(65535):
        bits.uint(1, 1)
    values = decode(tables, [101000, 31002, 31031], bits)
    assert values[0].raw_value == 65535.0 and len(values) == 65536


@pytest.mark.parametrize(
    "descriptors, message",
    [
        ([100000, 1001], "unsupported replication descriptor 100000"),
        ([103000, 31001, 1001], "unsupported replication descriptor 103000"),
        ([101000, 31001], "delayed replication descriptor 101000 is missing its replication factor or "
                          "replicated descriptors"),
        ([1003], "descriptor 001003 was not found in Table B"),
        ([101000, 31011, 1001], "descriptor 031011 was not found in Table B"),
        ([363255], "descriptor 363255 was not found in Table D"),
    ],
)
def test_walk_errors(tables, descriptors, message):
    assert error_of(tables, descriptors, BitWriter().uint(1, 8).uint(0, 64)) == message


def test_invalid_descriptor_class(tmp_path):
    t = make_tables(tmp_path, sequences={300001: [400001]})
    assert error_of(t, [300001], b"\0") == "csv/table parse error: invalid descriptor 400001"


@pytest.mark.parametrize("depth, ok", [(64, True), (65, False)])
def test_recursion_depth(tmp_path, depth, ok):
    # 300001 nests down to 300000+depth, whose member is an element.
    sequences = {300000 + i: [300000 + i + 1] for i in range(1, depth)}
    sequences[300000 + depth] = [1001]
    t = make_tables(tmp_path, sequences=sequences)
    if ok:
        assert [v.raw for v in decode(t, [300001], BitWriter().uint(3, 7))] == [3]
    else:
        assert error_of(t, [300001], BitWriter().uint(3, 7)) == (
            "csv/table parse error: descriptor decode exceeded recursion depth")


def test_character_data(tables):
    bits = BitWriter().text("AB", 48).raw_bytes(b"\xff" * 6).text(b"  x\xe9\0 ", 48).text("", 48)
    values = decode(tables, [1015] * 4, bits)
    assert [v.raw_text for v in values] == ["AB", None, "  x?\0", ""]
    assert [v.raw_value for v in values] == [1006.0, 2006.0, 3006.0, 4006.0]
    assert all(v.raw is None and v.raw_meaning is None for v in values)


def test_string_counter_carries_across_subsets(tables):
    bits = BitWriter().text("A", 48).text("BCD", 24).text("E", 48).text("F", 24)
    values = decode(tables, [1015, 1019], bits, subsets=2)
    assert [v.raw_value for v in values] == [1006.0, 2003.0, 3006.0, 4003.0]


def test_unit_must_be_exactly_ccitt_ia5(tmp_path):
    t = make_tables(tmp_path, [Element(1015, "NAME", "ccitt ia5", width=16)], {}, {})
    (v,) = decode(t, [1015], BitWriter().uint(0x4142, 16))
    assert (v.raw, v.raw_text) == (0x4142, None)


def test_character_data_not_on_byte_boundary(tmp_path):
    t = make_tables(tmp_path, [Element(1001, "N", "Numeric", width=4), Element(1015, "S", "CCITT IA5", width=12)],
                    {}, {})
    values = decode(t, [1001, 1015], BitWriter().uint(1, 4).uint(0x414, 12))
    assert values[1].raw_text == "A@" and values[1].raw_value == 1001.0


def test_running_out_of_bits(tables):
    message = error_of(tables, [12101, 12101], BitWriter().uint(1, 12).uint(0, 4))
    assert message == ("csv/table parse error: not enough bits while reading section 4 at bit 12 for width 12 "
                       "(16 bits available)")


def test_running_out_inside_character_data_names_the_byte(tables):
    message = error_of(tables, [1001, 1015], BitWriter().uint(1, 7).text("ABCD", 32).uint(0, 1))
    assert message == ("csv/table parse error: not enough bits while reading section 4 at bit 39 for width 8 "
                       "(40 bits available)")


def test_running_out_in_a_character_tail(tmp_path):
    t = make_tables(tmp_path, [Element(1015, "S", "CCITT IA5", width=12)], {}, {})
    assert error_of(t, [1015], BitWriter().uint(0x41, 8)) == (
        "csv/table parse error: not enough bits while reading section 4 at bit 8 for width 4 (8 bits available)")


def test_leftover_bits_are_ignored(tables):
    assert shown(decode(tables, [1001], BitWriter().uint(5, 7).uint(0, 64)))[0] == (1001, 5.0)


@pytest.mark.parametrize("body, units", [([203014], "descriptor steps"), ([222000], "values"), ([10005], "values")])
def test_endless_replication_without_data_is_stopped(tables, body, units):
    # 255^4 passes over something that reads no data must not run for ever
    # or fill memory.
    descriptors = [104255, 103255, 102255, 101255] + body
    message = error_of(tables, descriptors, b"\0")
    assert message == bound_error(units, message_length(descriptors, b"\0"))


def test_huge_delayed_factor_runs_out_of_data(tables):
    bits = BitWriter().uint(65535, 16).uint(2, 16)
    message = error_of(tables, [103000, 31002, 101000, 31002, 1001], bits)
    assert message == ("csv/table parse error: not enough bits while reading section 4 at bit 32 for width 7 "
                       "(32 bits available)")


def test_many_subsets_keep_their_order(tables):
    # More values than the decoder hands over at once.
    raws = [(7 * i) % 4000 for i in range(5000)]
    bits = BitWriter()
    for raw in raws:
        bits.uint(raw, 12)
    values = decode(tables, [12101], bits, subsets=len(raws))
    assert [v.raw for v in values] == raws


def test_error_after_many_values_returns_none_of_them(tables):
    bits = BitWriter()
    for i in range(4999):
        bits.uint(i % 4000, 12)
    with pytest.raises(ValueError, match="not enough bits while reading section 4 at bit 59988 for width 12"):
        decode(tables, [12101], bits, subsets=5000)


def walk_of(steps_over: int, bits: BitWriter, compressed: bool):
    """Descriptors whose walk takes `steps_over` steps more than a message of
    their length may: Y1 passes of Y2 width changes, then 201000 and 1001."""
    for k in range(64):
        tail = [201000] * (k + 1) + [1001]
        length = message_length([102001, 101001, 201129] + tail, bits, compressed=compressed)
        allowance = FLOOR["descriptor steps"] + PER_BYTE["descriptor steps"] * length
        for y1 in range(1, 256):
            # 1 + Y1 * (1 + Y2) + len(tail) steps
            passes, rest = divmod(allowance + steps_over - 1 - len(tail), y1)
            if rest == 0 and 2 <= passes <= 256:
                return [102000 + y1, 101000 + passes - 1, 201129] + tail, length
    raise AssertionError("no such walk")


@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize("steps_over", [0, 1])
def test_the_step_bound_holds_to_the_step(tables, steps_over, compressed):
    bits = BitWriter().uint(5, 7)
    if compressed:
        bits.uint(0, 6)
    descriptors, length = walk_of(steps_over, bits, compressed)
    if steps_over == 0:
        assert shown(decode(tables, descriptors, bits, compressed=compressed)) == [(1001, 5.0)]
    else:
        assert error_of(tables, descriptors, bits, compressed=compressed) == bound_error("descriptor steps", length)
