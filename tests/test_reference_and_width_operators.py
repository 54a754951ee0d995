"""203YYY (references defined by the message) and 206YYY before an element
whose table entry does not give it YYY bits, or that no table defines:
built here and, where it writes them, by the eccodes package's encoder,
whose own decoding is the reference."""

import math

import pytest

import _skyrec
from bufrgen import BitWriter, build_message
from decodekit import ELEMENTS, column, decode, make_tables

A, C = 1001, 12101  # C: width 12, scale 1, reference -400
UNDEFINED = 48192


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("refs"), ELEMENTS)


def sign_magnitude(value, width):
    return (1 << (width - 1) | -value) if value < 0 else value


def subsets_bits(compressed, parts):
    """`parts` are (width, raw) fields; compressed data gives each the same
    value in two subsets, except plain fields (width, raw, "plain")."""
    bits = BitWriter()
    for part in parts:
        if not compressed or len(part) == 3:
            bits.uint(part[1], part[0])
        else:
            column(bits, part[0], [part[1], part[1]])
    return bits


@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize("reference", [-500, 7, 0])
def test_new_reference_applies_until_cancelled(tables, compressed, reference):
    descriptors = [203010, C, A, 203255, C, A, C, 203000, C]
    definitions = [(10, sign_magnitude(reference, 10), "plain"), (10, sign_magnitude(-3, 10), "plain")]
    bits = subsets_bits(compressed, definitions + [(12, 1000), (7, 3), (12, 1000), (12, 1000)])
    fields = {"subsets": 2, "compressed": True} if compressed else {}
    values = decode(tables, descriptors, bits, **fields)
    got = [(v.descriptor, v.raw_value) for v in values]
    one = [(C, (1000 + reference) / 10), (A, 0.0), (C, (1000 + reference) / 10), (C, 60.0)]
    assert got == (one * 2 if compressed else one)


@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize(
    "code, width, expected",
    [
        (UNDEFINED, 9, (UNDEFINED, "unknown", 300, 300.0)),  # skipped as a plain integer
        (C, 9, (C, "TEMPERATURE", 300, 300.0)),  # another table's element: no scale, no reference
        (C, 12, (C, "TEMPERATURE", 300, -10.0)),  # the entry's own width: the entry applies
        (2001, 9, (2001, "TYPE OF STATION", 300, 300.0)),
    ],
)
def test_local_width_before_an_element_it_does_not_fit(tables, compressed, code, width, expected):
    bits = subsets_bits(compressed, [(width, 300), (7, 5)])
    fields = {"subsets": 2, "compressed": True} if compressed else {}
    values = decode(tables, [200000 + 6000 + width, code, A], bits, **fields)
    got = [(v.descriptor, v.name, v.raw, v.raw_value) for v in values[:2]]
    assert got == [expected, (A, "WMO BLOCK NUMBER", 5, 5.0)]
    assert values[0].raw_meaning is None


# The eccodes package as the reference.
eccodes = pytest.importorskip("eccodes", reason="the eccodes package is the cross-check reference")


def eccodes_numbers(msg):
    h = eccodes.codes_new_from_message(msg)
    try:
        eccodes.codes_set(h, "unpack", 1)
        return list(eccodes.codes_get_array(h, "numericValues"))
    finally:
        eccodes.codes_release(h)


def ours(msg, definitions):
    return [-1e100 if v.raw_value is None else v.raw_value
            for v in _skyrec.decode_values_with_definitions(msg, str(definitions))]


def agree(mine, theirs):
    return len(mine) == len(theirs) and all(math.isclose(a, b, rel_tol=1e-12) for a, b in zip(mine, theirs))


@pytest.mark.parametrize("compressed", [0, 1])
@pytest.mark.parametrize("references", [[-5000, 300], [100, -8191]])
def test_new_references_agree_with_eccodes_encoder(definitions, compressed, references):
    h = eccodes.codes_bufr_new_from_samples("BUFR4")
    try:
        eccodes.codes_set(h, "numberOfSubsets", 2)
        eccodes.codes_set(h, "compressedData", compressed)
        eccodes.codes_set_array(h, "inputOverriddenReferenceValues", references)
        eccodes.codes_set_array(h, "unexpandedDescriptors", [203014, 7030, 12101, 203255, 7030, 12101, 203000, 7030,
                                                             12101])
        for key, values in [("#1#heightOfStationGroundAboveMeanSeaLevel", [400.0, 420.5]),
                            ("#1#airTemperature", [250.0, 251.5]),
                            ("#2#heightOfStationGroundAboveMeanSeaLevel", [-10.0, 20.5]),
                            ("#2#airTemperature", [273.15, 251.0])]:
            eccodes.codes_set_array(h, key, values)
        eccodes.codes_set(h, "pack", 1)
        msg = eccodes.codes_get_message(h)
    finally:
        eccodes.codes_release(h)
    assert agree(ours(msg, definitions), eccodes_numbers(msg))


# Code-table elements are left out: ecCodes reads past their bits.
@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize("code, width", [(UNDEFINED, 8), (12101, 8), (7030, 12)])
def test_local_width_agrees_with_eccodes(definitions, compressed, code, width):
    local_width = 200000 + 6000 + width
    bits = BitWriter()
    if compressed:
        column(column(column(bits, width, [59, 61, None]), 7, [5, 6, 7]), width, [None] * 3)
    else:
        bits.uint(59, width).uint(5, 7).missing(width)
    msg = build_message([local_width, code, 1001, local_width, code], bits.to_bytes(),
                        subsets=3 if compressed else 1, compressed=compressed)
    assert agree(ours(msg, definitions), eccodes_numbers(msg))
