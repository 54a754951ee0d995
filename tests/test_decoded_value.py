"""DecodedValue: attributes, `data`, and the exact repr with its float form."""

import gc

import pytest

import _skyrec
from bufrgen import BitWriter
from decodekit import column, decode, make_tables
from tablegen import Element


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("dv"))


def one_value(tmp_path, element, raw, width=None):
    t = make_tables(tmp_path, [element], {}, {})
    (value,) = decode(t, [element.code], BitWriter().uint(raw, width if width is not None else element.width))
    return value


@pytest.mark.parametrize(
    "scale, reference, width, raw, text",
    [
        (2, 0, 16, 27315, "Some(273.15)"),
        (0, 0, 8, 1, "Some(1.0)"),
        (4, 0, 8, 1, "Some(0.0001)"),
        (5, 0, 8, 1, "Some(1e-5)"),
        (6, 0, 8, 15, "Some(1.5e-5)"),
        (0, 0, 0, 0, "None"),  # width 0: all of its no bits set, so missing
        (0, 0, 54, 10**16, "Some(1e16)"),
        (0, 0, 54, 1234567890123456, "Some(1234567890123456.0)"),
        (-20, -25, 8, 0, "Some(-2.5e21)"),
        (0, 0, 8, 0, "Some(0.0)"),
        (-400, 0, 8, 0, "Some(NaN)"),  # 0 / pow(10, -400) = 0 / 0
        (-400, 0, 8, 1, "Some(inf)"),
        (-400, -1, 8, 0, "Some(-inf)"),
        (400, -1, 8, 0, "Some(-0.0)"),  # -1 / inf
        (0, -5, 8, 3, "Some(-2.0)"),
    ],
)
def test_float_debug_form(tmp_path, scale, reference, width, raw, text):
    value = one_value(tmp_path, Element(12001, "T", "K", scale=scale, reference=reference, width=width), raw)
    assert repr(value) == f"DecodedValue(012001, {text})"
    assert str(value) == repr(value)


def test_numeric_with_meaning_shows_the_meaning(tables):
    (v,) = decode(tables, [12101], BitWriter().uint(3132, 12))
    assert (v.raw_value, v.raw, v.raw_meaning, v.data, v.raw_text) == (pytest.approx(273.2), 3132, "WARM", "WARM", None)
    assert v.name == "TEMPERATURE" and v.descriptor == 12101
    assert repr(v) == 'DecodedValue(012101, "WARM")'


def test_missing_value(tables):
    (v,) = decode(tables, [12101], BitWriter().missing(12))
    assert (v.raw_value, v.raw, v.data) == (None, 4095, None)
    assert repr(v) == "DecodedValue(012101, None)"


def test_character_values_and_their_debug_form(tables):
    a, b = decode(tables, [1015, 1015], BitWriter().text('A"\tB', 48).raw_bytes(b"\xff" * 6))
    assert (a.raw_text, a.data, a.raw, a.raw_meaning, a.raw_value) == ('A"\tB', 'A"\tB', None, None, 1006.0)
    assert repr(a) == 'DecodedValue(001015, "A\\"\\tB")'
    # All 0xFF: no text, the string index is what is left to show.
    assert (b.raw_text, b.data, b.raw_value) == (None, 2006.0, 2006.0)
    assert repr(b) == "DecodedValue(001015, Some(2006.0))"


def test_sixty_four_bit_raw(tables):
    (v,) = decode(tables, [10004], BitWriter().uint(2**64 - 1, 64))
    assert v.raw == 18446744073709551615 and v.raw_value == float(2**64)


def test_operator_marker(tables):
    (v,) = decode(tables, [222000], b"")
    assert (v.raw_value, v.raw, v.name, v.data, v.raw_text, v.raw_meaning) == (0.0, 0, "operator", 0.0, None, None)
    assert repr(v) == "DecodedValue(222000, Some(0.0))"


def test_class_surface(tables):
    (v,) = decode(tables, [1001], BitWriter().uint(5, 7))
    cls = _skyrec.DecodedValue
    assert type(v) is cls and cls.__module__ == "builtins" and cls.__name__ == "DecodedValue"
    with pytest.raises(TypeError):
        cls()
    for attribute in ("raw_value", "raw", "name", "raw_text", "raw_meaning", "descriptor", "data"):
        with pytest.raises(AttributeError):
            setattr(v, attribute, 1)
    assert v.name is not v.name  # a new object per access
    assert v != decode(tables, [1001], BitWriter().uint(5, 7))[0]  # identity only


def test_values_outlive_their_table_set(tmp_path):
    t = make_tables(tmp_path)
    values = decode(t, [2001, 1015], BitWriter().uint(1, 2).text("XY", 48))
    del t
    assert [v.data for v in values] == ["MANNED", "XY"] and values[0].name == "TYPE OF STATION"


def test_values_of_one_entry_stay_independent_after_their_table_set(tmp_path):
    # Values of one element share its name and meanings; each still gives
    # new, equal str objects once the table set is gone.
    t = make_tables(tmp_path)
    compressed = decode(t, [2001], column(BitWriter(), 2, [1, 1, 0]), subsets=3, compressed=True)
    plain = decode(t, [2001, 2001], BitWriter().uint(1, 2).uint(1, 2))
    del t
    gc.collect()
    values = compressed + plain
    names = [v.name for v in values]
    meanings = [v.raw_meaning for v in values]
    assert names == ["TYPE OF STATION"] * 5 and len({id(n) for n in names}) == 5
    assert meanings == ["MANNED", "MANNED", "AUTOMATIC", "MANNED", "MANNED"]
    assert len({id(m) for m in meanings}) == 5
    assert [repr(v) for v in values[1:3]] == ['DecodedValue(002001, "MANNED")', 'DecodedValue(002001, "AUTOMATIC")']
    del values[:4]
    gc.collect()
    assert (plain[1].name, plain[1].data) == ("TYPE OF STATION", "MANNED")
