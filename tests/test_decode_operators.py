"""Table C operators: width, scale and reference changes, associated fields,
inserted characters, markers, and data-present bitmaps (after 236000 and
inline after 222000 and its kin)."""

import pytest

from bufrgen import BitWriter
from decodekit import ELEMENTS, decode, make_tables, shown
from tablegen import Element

A, B, C = 1001, 1002, 12101  # widths 7, 10, 12
Q = 33007  # width 7


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    extra = [Element(12001, "T", "K", scale=1, reference=-40, width=10), Element(1002, "WMO STATION NUMBER",
                                                                                 "Numeric", width=10)]
    return make_tables(tmp_path_factory.mktemp("ops"), ELEMENTS + extra)


def error_of(tables, descriptors, bits, **fields):
    with pytest.raises(ValueError) as info:
        decode(tables, descriptors, bits, **fields)
    return str(info.value)


def raws(values):
    return [(v.descriptor, v.raw) for v in values]


@pytest.mark.parametrize(
    "operators, width",
    [
        ([201132], 14),
        ([201132, 201000], 10),
        ([201129, 201130], 12),  # the second replaces the first
        ([201100], 0),
        ([207002, 207000], 10),
        ([206012], 12),
        ([201140, 206003], 3),  # the local override replaces the changed width
    ],
)
def test_width_operators(tables, operators, width):
    bits = BitWriter().uint(1 if width else 0, width).uint(5, 10)
    values = decode(tables, operators + [B, B] if operators[0] == 206012 else operators + [B], bits)
    assert values[0].raw == (1 if width else 0)


def test_width_change_to_zero_gives_missing(tables):
    (v,) = decode(tables, [201100, B], b"")
    assert (v.raw, v.raw_value) == (0, None)


def test_local_width_override_is_one_shot(tables):
    values = decode(tables, [206012, B, B], BitWriter().uint(4000, 12).uint(7, 10))
    assert raws(values) == [(B, 4000), (B, 7)]


def test_scale_change(tables):
    (v,) = decode(tables, [202129, C], BitWriter().uint(3132, 12))
    assert v.raw_value == pytest.approx(27.32)


def test_operator_207(tables):
    # scale 1 + 2, reference -40 * 100, width 10 + (10 * 2 + 2) / 3
    (v,) = decode(tables, [207002, 12001], BitWriter().uint(5000, 17))
    assert v.raw == 5000 and v.raw_value == pytest.approx((5000 - 4000) / 1000)


@pytest.mark.parametrize("operators, width", [([208004], 32), ([208004, 208000], 24), ([201140], 24)])
def test_character_width(tables, operators, width):
    (v,) = decode(tables, operators + [1019], BitWriter().text("WXYZ", width))
    assert v.raw_text == "WXYZ"[: width // 8] and v.raw_value == 1000 + width // 8


@pytest.mark.parametrize("operators", [[201131, 202129], [207003], [201131, 202129, 207003]])
@pytest.mark.parametrize("code, width, raw", [(2001, 2, 1), (8042, 18, 2**17)])
def test_code_and_flag_tables_ignore_width_scale_reference_changes(tables, operators, code, width, raw):
    values = decode(tables, operators + [code, A], BitWriter().uint(raw, width).uint(0, 16))
    assert values[0].raw == raw and values[0].raw_value == float(raw)


def test_local_width_override_applies_to_code_tables(tables):
    (v,) = decode(tables, [206005, 2001], BitWriter().uint(17, 5))
    assert v.raw == 17


def test_associated_fields(tables):
    bits = BitWriter().uint(9, 6).uint(200, 8).uint(3132, 12)
    values = decode(tables, [204008, 31021, C, 204000, A], bits.uint(3, 7))
    assert raws(values) == [(31021, 9), (999999, 200), (C, 3132), (A, 3)]
    field = values[1]
    assert (field.name, field.raw_value, field.raw_meaning, field.raw_text) == ("associatedField", 200.0, None, None)


def test_associated_field_of_all_ones_is_not_missing(tables):
    values = decode(tables, [204004, A], BitWriter().uint(15, 4).uint(1, 7))
    assert values[0].raw_value == 15.0


def test_associated_field_before_a_delayed_factor(tables):
    # Before a factor that is not class 31, and before the replicated element.
    bits = BitWriter().uint(1, 2).uint(410, 12).uint(2, 2).uint(5, 7)
    values = decode(tables, [204002, 101000, C, A], bits)
    assert raws(values) == [(999999, 1), (C, 410), (999999, 2), (A, 5)]


def test_associated_field_wider_than_64_bits(tables):
    assert error_of(tables, [204070, A], b"\0" * 16) == "csv/table parse error: cannot read 70 bits into u64"


def test_width_change_beyond_64_bits(tables):
    assert error_of(tables, [201255, 10004], b"\0" * 32) == "csv/table parse error: cannot read 191 bits into u64"


def test_ignored_operators_read_nothing(tables):
    values = decode(tables, [209001, 221002, 228000, 222001, 236001, A], BitWriter().uint(5, 7))
    assert raws(values) == [(A, 5)]


@pytest.mark.parametrize("code", [222000, 223000, 223001, 224000, 225000, 232000, 235000, 236000, 237000, 237255,
                                  226000, 241000, 242000, 262000])
def test_markers(tables, code):
    values = decode(tables, [code], b"")
    assert [(v.descriptor, v.name, v.raw_value, v.raw) for v in values] == [(code, "operator", 0.0, 0)]


def test_inserted_characters(tables):
    bits = BitWriter().text("ABC", 24).uint(5, 7).text("XY", 16)
    values = decode(tables, [205003, A, 205000, 205002], bits)
    assert [(v.descriptor, v.name, v.raw_text, v.raw_value, v.raw) for v in values] == [
        (205003, "text", "ABC", 1003.0, None), (A, "WMO BLOCK NUMBER", None, 5.0, 5),
        (205002, "text", "XY", 2002.0, None)]


def test_inserted_characters_keep_the_local_override_and_read_no_associated_field(tables):
    values = decode(tables, [204003, 206005, 205001, A], BitWriter().text("Z", 8).uint(6, 3).uint(9, 5))
    assert raws(values)[1:] == [(999999, 6), (A, 9)]
    assert values[0].raw_text == "Z"


def test_inserted_characters_do_not_enter_the_history(tables):
    bits = BitWriter().uint(5, 7).text("Q", 8).uint(0, 1).uint(6, 7)
    values = decode(tables, [A, 205001, 236000, 31031, 223255], bits)
    assert raws(values)[-1] == (A, 6)


def bitmap_message(bits_for_bitmap):
    return BitWriter().uint(1, 7).uint(2, 10).uint(3, 12).append(bits_for_bitmap)


def test_bitmap_targets_and_rewind(tables):
    bits = bitmap_message(BitWriter().uint(0, 1).uint(1, 1).uint(0, 1)).uint(11, 7).uint(13, 12).uint(21, 7)
    descriptors = [A, B, C, 223000, 236000, 31031, 31031, 31031, 223255, 223255, 223255, 237000, 223255]
    values = decode(tables, descriptors, bits)
    assert raws(values) == [(A, 1), (B, 2), (C, 3), (223000, 0), (236000, 0), (31031, 0), (31031, 1), (31031, 0),
                            (A, 11), (C, 13), (237000, 0), (A, 21)]


@pytest.mark.parametrize("cancel", [235000, 237255])
def test_bitmap_cancelled(tables, cancel):
    bits = bitmap_message(BitWriter().uint(0, 1).uint(0, 1).uint(0, 1))
    values = decode(tables, [A, B, C, 236000, 31031, 31031, 31031, cancel, 223255], bits)
    assert values[-1].descriptor == cancel


def test_bitmap_reference_outside_history(tables):
    bits = BitWriter().uint(1, 7).uint(0, 1).uint(0, 1).uint(5, 7)
    assert error_of(tables, [A, 236000, 31031, 31031, 223255, 223255], bits) == (
        "csv/table parse error: bitmap reference is outside descriptor history")


def test_difference_values_are_one_bit_wider_and_centred(tables):
    bits = BitWriter().uint(3132, 12).uint(0, 1).uint(4100, 13)
    values = decode(tables, [C, 236000, 31031, 225255], bits)
    last = values[-1]
    assert (last.descriptor, last.raw) == (C, 4100) and last.raw_value == pytest.approx((4100 - 4096) / 10)


def test_substituted_value_uses_the_operators_in_force(tables):
    bits = BitWriter().uint(3, 7).uint(0, 1).uint(100, 9)
    values = decode(tables, [A, 236000, 31031, 201130, 223255], bits)
    assert raws(values)[-1] == (A, 100)


def test_inline_bitmaps_share_the_first_ones_targets(tables):
    # 222000 + bitmap + quality values, then 223000 + a second bitmap +
    # substituted values: both bitmaps refer to A, B, C.
    bits = bitmap_message(BitWriter().uint(0, 1).uint(1, 1).uint(0, 1))
    bits.uint(50, 7).uint(60, 7)  # quality of A and C
    bits.uint(1, 1).uint(0, 1).uint(1, 1)  # second bitmap: B only
    bits.uint(77, 10)
    descriptors = [A, B, C, 222000, 31031, 31031, 31031, Q, Q, 223000, 31031, 31031, 31031, 223255]
    values = decode(tables, descriptors, bits)
    assert raws(values)[-1] == (B, 77)


def test_inline_bitmap_after_a_delayed_factor(tables):
    bits = bitmap_message(BitWriter().uint(3, 8).uint(0, 1).uint(0, 1).uint(1, 1)).uint(5, 7).uint(6, 10)
    values = decode(tables, [A, B, C, 223000, 101000, 31001, 31031, 223255, 223255, 223255], bits)
    assert raws(values)[-2:] == [(A, 5), (B, 6)]


@pytest.mark.parametrize("between", [[], [A], [236000], [237000]])
def test_no_inline_bitmap_without_031031_first(tables, between):
    bits = BitWriter().uint(1, 7).uint(0, 8).uint(0, 1).uint(0, 1)
    values = decode(tables, [A, 222000] + between + [31031, 223255], bits)
    if between in ([], [236000]):
        # the 031031 that comes directly (or after 236000) defines a bitmap
        assert raws(values)[-1][0] == A
    else:
        assert raws(values)[-1][0] == 31031


def test_marker_followed_by_substitution_reads_nothing(tables):
    values = decode(tables, [A, 222000, 223255], BitWriter().uint(1, 7))
    assert shown(values) == [(A, 1.0), (222000, 0.0)]
