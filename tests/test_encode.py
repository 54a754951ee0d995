"""skyrec.encode on messages built here: every operator and replication
kind against ecCodes' own encoder, random messages read back as written,
each refusal with its message, the input forms and write_bufr."""

from __future__ import annotations

import os

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _skyrec import TableSet
from bufrgen import BitWriter, build_message
from skyrec import EncodeError, encode, read_messages, read_wide, template, wide_from_array, write_bufr
from tablegen import Element, write_table_dir

np = pytest.importorskip("numpy")

ELEMENTS = [
    Element(1001, "WMO BLOCK NUMBER", width=7, abbreviation="blockNumber"),
    Element(1015, "STATION OR SITE NAME", "CCITT IA5", width=80, abbreviation="stationOrSiteName"),
    Element(10004, "PRESSURE", "Pa", scale=-1, width=14, abbreviation="pressure"),
    Element(12101, "TEMPERATURE", "K", scale=2, width=16, abbreviation="airTemperature"),
    Element(7030, "HEIGHT", "m", scale=1, reference=-4000, width=17, abbreviation="height"),
    Element(20003, "PRESENT WEATHER", "CODE TABLE", width=9, abbreviation="presentWeather"),
    Element(31001, "DELAYED REPLICATION FACTOR", width=8, abbreviation="delayedDescriptorReplicationFactor"),
    Element(31021, "ASSOCIATED FIELD SIGNIFICANCE", "CODE TABLE", width=6, abbreviation="associatedFieldSignificance"),
]
SEQUENCES = {301001: [1001, 1015]}


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return TableSet.from_eccodes(write_table_dir(tmp_path_factory.mktemp("tables"), ELEMENTS, SEQUENCES))


def numbers(item):
    return [v.raw_value for v in item.values if v.raw is not None and v.descriptor // 100000 != 2]


# Descriptors and two subsets of values in expanded order, one case per operator and replication kind.
OPERATOR_CASES = {
    "elements": ([1001, 1002, 12101], [[6, 260, 273.15], [7, 261, 280.25]]),
    "delayed 031001": ([101000, 31001, 12101], [[2, 270.1, 280.2], [2, 271.0, 281.5]]),
    "delayed 031002": ([101000, 31002, 12101], [[1, 270.1], [1, 250.0]]),
    "fixed": ([102002, 10004, 12101], [[50000, 250.5, 85000, 270.0], [50010, 251.5, 85010, 271.0]]),
    "201 202": ([201132, 202129, 12101, 201000, 202000, 12101], [[273.155, 273.15], [280.001, 280.0]]),
    "207": ([207002, 12101, 207000], [[273.1512], [280.0001]]),
    "208": ([208010, 1015, 208000], [["DE BILT"], ["LONDON"]]),
    "203": ([203014, 12101, 203255, 12101, 203000], [[-1000, 200.5], [-1000, 150.25]]),
    "204 031021": ([204004, 31021, 12101, 204000], [[1, 5, 273.15], [1, 7, 280.0]]),
    "205": ([205005, 1001], [["ABCDE", 6], ["VWXYZ", 7]]),
    "206": ([206012, 12101], [[1234], [4000]]),
    "222 bitmap": ([12101, 12103, 222000, 236000, 101002, 31031, 1031, 1032, 101002, 33007],
                   [[273.15, 270.0, None, None, 0, 0, 98, 1, 70, 80],
                    [274.15, 271.0, None, None, 0, 0, 98, 1, 71, 81]]),
    "223 substituted": ([12101, 12103, 223000, 236000, 101002, 31031, 1031, 1032, 101002, 223255],
                        [[273.15, 270.0, None, None, 0, 0, 98, 1, 274.0, 271.0]] * 2),
    "224 statistics": ([12101, 12103, 224000, 236000, 101002, 31031, 1031, 1032, 8023, 101002, 224255],
                       [[273.15, 270.0, None, None, 0, 0, 98, 1, 4, 274.0, 271.0]] * 2),
    "225 differences": ([12101, 12103, 225000, 236000, 101002, 31031, 1031, 1032, 101002, 225255],
                        [[273.15, 270.0, None, None, 0, 0, 98, 1, 1.0, -2.0]] * 2),
}


def eccodes_read(eccodes, data):
    """What the eccodes package reads from `data`, and the message its own encoder packs from that."""
    h = eccodes.codes_new_from_message(data)
    try:
        eccodes.codes_set(h, "unpack", 1)
        values = (list(eccodes.codes_get_array(h, "numericValues")),
                  list(eccodes.codes_get_string_array(h, "stringValues")) if eccodes.codes_get_size(h, "stringValues")
                  else [])
        eccodes.codes_set(h, "pack", 1)
        return values, eccodes.codes_get_message(h)
    finally:
        eccodes.codes_release(h)


@pytest.mark.parametrize("edition", [3, 4])
@pytest.mark.parametrize("compressed", [False, True], ids=["uncompressed", "compressed"])
@pytest.mark.parametrize("case", OPERATOR_CASES, ids=str)
def test_operators_write_as_eccodes_encodes(definitions, case, compressed, edition):
    eccodes = pytest.importorskip("eccodes")
    descriptors, subsets = OPERATOR_CASES[case]
    ours = encode(descriptors, subsets, compressed=compressed, edition=edition, definitions=definitions)
    back = next(read_messages(ours, definitions=definitions))
    assert back.error is None and back.message.edition == edition and back.message.compressed_data == compressed
    # A reference that 203YYY defines is no value of the message; markers hold none.
    given = [v for subset in subsets for v in (subset[1:] if case == "203" else subset) if isinstance(v, (int, float))]
    assert [v.raw_value for v in back.values if v.raw is not None and v.name != "operator"] == pytest.approx(given)
    assert [v.raw_text.rstrip() for v in back.values if v.raw is None] == [
        v for subset in subsets for v in subset if isinstance(v, str)]
    read, theirs = eccodes_read(eccodes, ours)
    assert eccodes_read(eccodes, theirs)[0] == read


@pytest.mark.parametrize("compressed", [False, True], ids=["uncompressed", "compressed"])
def test_values_come_back_as_given(tables, compressed):
    descriptors = [301001, 12101, 7030, 101000, 31001, 10004, 20003]
    # Compressed subsets share their replication counts; uncompressed ones need not.
    second = [7, "ÉCOLE\x80", 1.0, -399.9, 2, 10.0, None, 0] if compressed else [7, "ÉCOLE\x80", 1.0, -399.9, 0, 0]
    subsets = [[6, "DE BILT", 273.15, None, 2, 500.0, 850.0, 61], second]
    back = next(read_messages(encode(descriptors, subsets, compressed=compressed, tables=tables), tables=tables))
    assert numbers(back) == [v for s in subsets for v in s if not isinstance(v, str)]
    # Bytes of 0x80 and above are written as given (the reader shows them as '?').
    assert [v.raw_text.rstrip() for v in back.values if v.raw is None] == ["DE BILT", "?COLE?"]


# Each refusal, and what its message must name.
REFUSALS = [
    ([12101], [[700.0]], "value 700 is out of range for 012101 airTemperature in subset 0: 16 bits hold 0 to 655.34"),
    ([7030], [[-500.0]], "value -500 is out of range for 007030 height in subset 0: 17 bits hold -400 to 12707"),
    ([1001], [[6], [128]], "value 128 is out of range for 001001 blockNumber in subset 1: 7 bits hold 0 to 126"),
    ([1015], [["A NAME LONGER THAN TEN"]], "text of 22 bytes is too long for 001015 stationOrSiteName in subset 0"),
    ([101000, 31001, 1001], [[256] + [1] * 256], "replication count 256 is too large for 031001"),
    ([1001, 12101], [[6]], "too few values for the descriptors in subset 0: 1 given, 012101 needs one more"),
    ([1001], [[6, 7]], "too many values for the descriptors in subset 0: 2 given, 1 taken"),
    ([1002], [[6]], "descriptor 001002 was not found in Table B"),
    ([301009], [[6]], "descriptor 301009 was not found in Table D"),
    ([12101], [["WARM"]], "text given for the number 012101 airTemperature in subset 0"),
    ([1015], [[5.0]], "number given for the text 001015 stationOrSiteName in subset 0"),
    ([1001], [[object()]], "a value must be a number, str, bytes or None, not object"),
]


@pytest.mark.parametrize("descriptors, subsets, message", REFUSALS, ids=[r[2][:30] for r in REFUSALS])
def test_refusals_say_what_and_where(tables, descriptors, subsets, message):
    with pytest.raises((EncodeError, TypeError)) as e:
        encode(descriptors, subsets, tables=tables)
    assert message in str(e.value)


@pytest.mark.parametrize("compressed", [False, True])
def test_out_of_range_written_missing_on_request(tables, compressed):
    data = encode([1001, 12101], [[6, 700.0], [200, 273.15]], compressed=compressed, tables=tables,
                  on_out_of_range="missing")
    assert numbers(next(read_messages(data, tables=tables))) == [6, None, None, 273.15]


def test_compressed_refuses_subsets_that_differ(tables):
    with pytest.raises(EncodeError, match="same replication count for 031001 in every subset; subset 1"):
        encode([101000, 31001, 1001] * 2, [[1, 5, 2, 6, 7], [2, 5, 6, 1, 7]], compressed=True, tables=tables)
    with pytest.raises(EncodeError, match="same number of values in every subset; subset 1 has 1, subset 0 has 2"):
        encode([1001, 1001], [[1, 5], [2]], compressed=True, tables=tables)


def test_input_forms_write_the_same_message(tables):
    pd = pytest.importorskip("pandas")
    descriptors = [301001, 12101, 101000, 31001, 10004]
    rows = [[6, "DE BILT", 273.15, 2, 50000.0, 85000.0], [7, "LONDON", None, 0]]
    mappings = [{"blockNumber": 6, "stationOrSiteName": "DE BILT", "#1#airTemperature": 273.15,
                 "pressure": [50000.0, 85000.0]},
                {"blockNumber": 7, "stationOrSiteName": "LONDON", "airTemperature": float("nan")}]
    header = {"bufrHeaderCentre": 98, "dataCategory": 2, "typicalDate": 20240102, "typicalTime": 120000}
    by_rows = encode(descriptors, rows, header=header, tables=tables)
    assert encode(descriptors, mappings, header=header, tables=tables) == by_rows
    frame = pd.DataFrame([{"blockNumber": 6, "stationOrSiteName": "DE BILT", "airTemperature": 273.15},
                          {"blockNumber": 7, "stationOrSiteName": "LONDON", "airTemperature": None}])
    assert encode([301001, 12101], frame, header=header, tables=tables) == \
        encode([301001, 12101], [r[:3] for r in rows], header=header, tables=tables)
    m = next(read_messages(by_rows, tables=tables)).message
    fields = (m.originating_centre, m.data_category, m.typical_year, m.typical_day, m.typical_hour)
    assert fields == (98, 2, 2024, 2, 12)
    with pytest.raises(EncodeError, match="'presure' matches no value of the descriptors"):
        encode(descriptors, [{"presure": [1.0]}], tables=tables)
    with pytest.raises(EncodeError, match="unknown header key 'centre'"):
        encode(descriptors, rows, header={"centre": 98}, tables=tables)


@pytest.mark.parametrize("output", ["values", "columns"])
@pytest.mark.parametrize("edition", [3, 4])
def test_decoded_message_written_again_with_changes(tables, edition, output):
    data = encode([301001, 12101, 20003], [[6, "DE BILT", 273.15, 61], [7, "LONDON", 280.0, 2]],
                  header={"typicalYear": 2024, "section2": b"local"}, tables=tables)
    item = next(read_messages(data, tables=tables, output=output))
    assert encode(item) == data
    out = encode(item, edition=edition, compressed=True, header={"dataCategory": 7},
                 values=[{"#1#airTemperature": 274.0}, {3: None, "stationOrSiteName": "PARIS"}])
    back = next(read_messages(out, tables=tables))
    assert (back.message.edition, back.message.compressed_data, back.message.data_category) == (edition, True, 7)
    assert numbers(back) == [6, 274.0, 61, 7, 280.0, None]
    assert [v.raw_text.rstrip() for v in back.values if v.raw is None] == ["DE BILT", "PARIS"]
    with pytest.raises(EncodeError, match="subset 0 has no value '#2#airTemperature'"):
        encode(item, values={"#2#airTemperature": 1.0})


@pytest.mark.parametrize("compressed", [None, True])
@pytest.mark.parametrize("edition", [2, 3, 4])
def test_uncompressed_message_changed_in_its_edition(tables, edition, compressed):
    # Built here, not by skyrec: block number, a text with a byte above 0x7F, a 203 reference, a temperature.
    bits = BitWriter().uint(6, 7).text(b"DE BILT\xe9", 80).uint(2000 | 1 << 13, 14).uint(27315, 16)
    data = build_message([1001, 1015, 203014, 12101, 203255, 12101, 203000], bits.to_bytes(), edition=edition,
                         centre=300 if edition == 2 else 98, category=2)
    item = next(read_messages(data, tables=tables))
    assert encode(item) == data
    out = encode(item, header={"dataCategory": 7}, compressed=compressed,
                 values={"#1#airTemperature": 261.0, "stationOrSiteName": "PARIS"})
    back = next(read_messages(out, tables=tables))
    assert back.message.compressed_data == bool(compressed)
    assert (back.message.edition, back.message.originating_centre, back.message.data_category) == \
        (edition, item.message.originating_centre, 7)
    temperature = next(v for v in back.values if v.descriptor == 12101)
    # The value is written over the reference that 203014 defined (-2000): raw 28100 - 2000.
    assert (temperature.raw_value, temperature.raw) == (261.0, 28100)
    assert [v.raw_text.rstrip() for v in back.values if v.raw is None] == ["PARIS"]


@pytest.mark.parametrize(("values", "message"), [
    ({"delayedDescriptorReplicationFactor": 3}, "031001 delayedDescriptorReplicationFactor in subset 1 cannot change"),
    ({"#2#airTemperature": 700.0}, "value 700 is out of range for 012101 airTemperature in subset 1"),
    ({"stationOrSiteName": "A NAME TOO LONG"}, "text of 15 bytes is too long for 001015 stationOrSiteName"),
    ({9: 1.0}, "subset 1 has no value 9"),
])
def test_uncompressed_changes_refused(tables, values, message):
    data = encode([301001, 101000, 31001, 12101], [[6, "DE BILT", 1, 273.15], [7, "LONDON", 2, 274.0, 275.0]],
                  tables=tables)
    item = next(read_messages(data, tables=tables))
    with pytest.raises(EncodeError, match=message):
        encode(item, values=[{}, values])


def test_wide_from_array_and_back(tables):
    values = np.array([[6, np.nan, 273.15], [7, np.nan, np.nan], [8, np.nan, 250.5]])
    wide = wide_from_array(values, [301001, 12101], texts={1: ["A", None, "C"]}, tables=tables)
    np.testing.assert_array_equal(wide.values, values)
    assert list(wide.texts[1]) == ["A", None, "C"]
    again = next(read_wide(encode(wide), tables=tables))
    np.testing.assert_array_equal(again.values, values)
    assert encode(again) == encode(wide)


def test_template_lays_out_the_subset(tables):
    t = template([301001, 101000, 31001, 12101, 201130, 10004], tables=tables)
    labels = [(e.key, e.kind, e.depth, e.width) for e in t.entries()]
    assert labels == [("blockNumber", "number", 0, 7), ("stationOrSiteName", "text", 0, 80),
                      ("delayedDescriptorReplicationFactor", "factor", 0, 8), ("airTemperature", "number", 1, 16),
                      ("pressure", "number", 0, 16)]
    entries = list(t.entries())
    assert (entries[3].low, entries[3].high) == (0.0, 655.34)
    assert entries[4].high == (2**16 - 2) * 10


def test_write_bufr_is_whole_or_nothing(tmp_path, tables):
    good = encode([1001], [[6]], tables=tables)
    target = tmp_path / "out.bufr"
    assert write_bufr(target, [good, good]) == 2 and target.read_bytes() == good * 2
    with pytest.raises(EncodeError, match="message 1 is not one whole BUFR message"):
        write_bufr(target, [good, b"BUFR junk"])
    assert target.read_bytes() == good * 2 and sorted(os.listdir(tmp_path)) == ["out.bufr"]
    fresh = tmp_path / "new.bufr"
    with pytest.raises(EncodeError):
        write_bufr(fresh, (encode([1001], [[v]], tables=tables) for v in (1, 500)))
    assert sorted(os.listdir(tmp_path)) == ["out.bufr"]


# Random messages over the small tables: every value in range, texts, replications and operators.
NUMERIC = {1001: (7, 0, 0), 10004: (14, -1, 0), 12101: (16, 2, 0), 7030: (17, 1, -4000), 20003: (9, 0, 0)}


@st.composite
def blocks(draw, depth=0):
    """A descriptor list and how to draw each subset's values for it."""
    kind = draw(st.sampled_from(["element", "text", "fixed", "delayed", "201", "207", "205", "204"][:8 if depth < 2
                                                                                                  else 3]))
    if kind == "element":
        code = draw(st.sampled_from(sorted(NUMERIC)))
        return [code], [("number", *NUMERIC[code])]
    if kind == "text":
        return [1015], [("text", 10)]
    if kind == "205":
        return [205003], [("text", 3)]
    if kind == "201":
        code = draw(st.sampled_from([12101, 10004]))
        width, scale, reference = NUMERIC[code]
        return [201131, 202129, code, 201000, 202000], [("number", width + 3, scale + 1, reference)]
    if kind == "207":
        width, scale, reference = NUMERIC[12101]
        return [207001, 12101, 207000], [("number", width + 4, scale + 1, reference * 10)]
    if kind == "204":
        return [204003, 31021, 12101, 204000], [("raw", 6), ("raw", 3), ("number", 16, 2, 0)]
    body_codes, body_fields = draw(blocks(depth + 1))
    count = draw(st.integers(0, 3))
    if kind == "fixed":
        return [100000 + 1000 * len(body_codes) + max(count, 1)] + body_codes, body_fields * max(count, 1)
    return [100000 + 1000 * len(body_codes), 31001] + body_codes, [("count", count)] + body_fields * count


def subset_values(draw, fields):
    out = []
    for field in fields:
        if field[0] == "count":
            out.append(field[1])
        elif field[0] == "text":
            out.append(draw(st.one_of(st.none(), st.text("ABCXYZ -/09", max_size=field[1]))))
        elif field[0] == "raw":
            out.append(draw(st.integers(0, 2 ** field[1] - 1)))
        else:
            _, width, scale, reference = field
            raw = draw(st.one_of(st.none(), st.integers(0, 2**width - 2)))
            out.append(None if raw is None else (raw + reference) / 10.0**scale)
    return out


@st.composite
def messages(draw):
    codes, fields = [], []
    for _ in range(draw(st.integers(1, 4))):
        c, f = draw(blocks())
        codes += c
        fields += f
    subsets = [subset_values(draw, fields) for _ in range(draw(st.integers(1, 4)))]
    return codes, subsets, draw(st.booleans()), draw(st.sampled_from([3, 4]))


@settings(max_examples=150, deadline=None)
@given(messages())
def test_random_messages_read_back_as_written(tables, message):
    codes, subsets, compressed, edition = message
    back = next(read_messages(encode(codes, subsets, compressed=compressed, edition=edition, tables=tables),
                              tables=tables))
    assert back.error is None and len(back.subsets) == len(subsets)
    for got, given_values in zip(back.subsets, subsets):
        shown = [(v.raw_text or "").rstrip() or None if v.raw is None else v.raw_value for v in got]
        assert shown == [v.rstrip() or None if isinstance(v, str) else v for v in given_values]
