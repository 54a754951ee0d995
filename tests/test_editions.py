"""Messages of editions 2 and 3 in the package: section 1 mapped onto the
header fields exactly as the eccodes package reads it, values read as those of
the same data in edition 4, and every reading path taking the editions mixed."""

from __future__ import annotations

import json
import math

import pytest

import _skyrec
from bufrgen import BitWriter, build_message
from decodekit import make_tables
from skyrec import TableSource, read_messages
from tablegen import Element, write_table_dir

eccodes = pytest.importorskip("eccodes", reason="the eccodes package is the cross-check reference")

# ecCodes key -> BufrMessage attribute; ecCodes lacks some of them for the
# older editions, where the documented value stands instead.
HEADER_KEYS = {
    "edition": "edition", "masterTableNumber": "master_table_number", "bufrHeaderCentre": "originating_centre",
    "bufrHeaderSubCentre": "originating_subcentre", "updateSequenceNumber": "update_sequence_number",
    "dataCategory": "data_category", "internationalDataSubCategory": "international_data_subcategory",
    "dataSubCategory": "local_data_subcategory", "masterTablesVersionNumber": "master_tables_version_number",
    "localTablesVersionNumber": "local_tables_version_number", "typicalYear": "typical_year",
    "typicalMonth": "typical_month", "typicalDay": "typical_day", "typicalHour": "typical_hour",
    "typicalMinute": "typical_minute", "typicalSecond": "typical_second", "numberOfSubsets": "number_of_subsets",
    "observedData": "observed_data", "compressedData": "compressed_data", "section2Present": "local_section_present",
}


def eccodes_header(msg: bytes) -> dict:
    h = eccodes.codes_new_from_message(msg)
    try:
        out = {}
        for key in HEADER_KEYS:
            try:
                out[key] = eccodes.codes_get(h, key)
            except eccodes.KeyValueNotFoundError:
                out[key] = None
        if out["typicalYear"] is None:  # edition 2 has only the year of century
            out["typicalYear"] = 2000 + eccodes.codes_get(h, "typicalYearOfCentury")
        return out
    finally:
        eccodes.codes_release(h)


def documented(header: dict) -> dict:
    """ecCodes' keys, with what the header fields hold where an edition lacks one."""
    lacking = {"internationalDataSubCategory": 255, "typicalSecond": 0}
    return {**header, **{k: v for k, v in lacking.items() if header[k] is None}}


A, B = 1001, 1002  # widths 7 and 10
BITS = BitWriter().uint(6, 7).uint(260, 10).to_bytes()
FIELDS = dict(centre=200, subcentre=7, update_sequence=3, category=2, international_subcategory=4,
              local_subcategory=11, master_version=13, year=2024, month=12, day=31, hour=23, minute=59, second=58)


def eccodes_encoded(sample: str, compressed: bool) -> bytes:
    """An edition 3 message written by the eccodes package from its sample."""
    h = eccodes.codes_bufr_new_from_samples(sample)
    try:
        for key, value in [("bufrHeaderCentre", 200), ("bufrHeaderSubCentre", 7), ("updateSequenceNumber", 3),
                           ("dataCategory", 2), ("dataSubCategory", 11), ("typicalYearOfCentury", 99),
                           ("typicalMonth", 12), ("typicalDay", 31), ("typicalHour", 23), ("typicalMinute", 59),
                           ("compressedData", int(compressed)), ("numberOfSubsets", 3)]:
            eccodes.codes_set(h, key, value)
        eccodes.codes_set_array(h, "unexpandedDescriptors", [301001, 12101])
        eccodes.codes_set_array(h, "blockNumber", [6, 6, 7])
        eccodes.codes_set_array(h, "stationNumber", [260, 261, 1])
        eccodes.codes_set_array(h, "airTemperature", [273.15, 280.0, eccodes.CODES_MISSING_DOUBLE])
        eccodes.codes_set(h, "pack", 1)
        return eccodes.codes_get_message(h)
    finally:
        eccodes.codes_release(h)


@pytest.mark.parametrize("edition", [2, 3, 4])
@pytest.mark.parametrize("year_of_century, section2", [(99, None), (0, b"local"), (24, b"odd")])
def test_built_header_fields_equal_eccodes_keys(tables, edition, year_of_century, section2):
    msg = build_message([A, B], BITS, edition=edition, section2=section2, year_of_century=year_of_century,
                        **FIELDS)
    (item,) = read_messages(msg, tables=tables)
    assert item.ok, item.error
    assert {k: int(getattr(item.message, a)) for k, a in HEADER_KEYS.items()} == documented(eccodes_header(msg))
    assert [v.raw for v in item.values] == [6, 260]


@pytest.mark.parametrize("sample, compressed", [("BUFR3", False), ("BUFR3_local", True)])
def test_eccodes_written_edition3_reads_as_eccodes_reads_it(definitions, sample, compressed):
    msg = eccodes_encoded(sample, compressed)
    (item,) = read_messages(msg, tables=TableSource(root=str(definitions)))
    assert item.ok, item.error
    assert {k: int(getattr(item.message, a)) for k, a in HEADER_KEYS.items()} == documented(eccodes_header(msg))
    h = eccodes.codes_new_from_message(msg)
    try:
        eccodes.codes_set(h, "unpack", 1)
        theirs = list(eccodes.codes_get_array(h, "numericValues"))
    finally:
        eccodes.codes_release(h)
    ours = [-1e100 if v.raw_value is None else v.raw_value for v in item.values]
    assert len(ours) == len(theirs) and all(math.isclose(a, b, rel_tol=1e-12) for a, b in zip(ours, theirs))


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("editions"))


GTS_HEADER = b"\r\r\n123\r\r\nISMD01 EGRR 011200\r\r\n"


def mixed_file(tmp_path) -> tuple[str, list[bytes]]:
    """The same values in editions 2, 3 and 4, compressed or not, GTS headers between."""
    messages = [build_message([A, B], BitWriter().uint(k, 7).uint(100 + k, 10).to_bytes(), edition=edition,
                              section2=b"x" if k % 2 else None, **FIELDS) for k, edition in enumerate((3, 2, 4, 3))]
    messages.append(build_message([A, B], BitWriter().uint(5, 7).uint(0, 6).uint(7, 10).uint(0, 6).to_bytes(),
                                  edition=3, subsets=2, compressed=True, **FIELDS))
    path = tmp_path / "mixed.bufr"
    path.write_bytes(b"".join(GTS_HEADER + m + b"\r\r\n\x03" for m in messages))
    return str(path), messages


EXPECTED_RAWS = [[0, 100], [1, 101], [2, 102], [3, 103], [5, 7, 5, 7]]


def test_every_reading_path_takes_the_editions_mixed(tables, tmp_path, capsys):
    pytest.importorskip("pandas")
    import skyrec
    from skyrec.cli import main

    path, messages = mixed_file(tmp_path)
    items = list(read_messages(path, tables=tables))
    assert [i.message.edition for i in items] == [3, 2, 4, 3, 3]
    assert [[v.raw for v in i.values] for i in items] == EXPECTED_RAWS
    columns = list(read_messages(path, tables=tables, output="columns"))
    assert [c.columns.raw.tolist() for c in columns] == EXPECTED_RAWS

    headers = skyrec.read_headers(path)
    assert headers["edition"].tolist() == [3, 2, 4, 3, 3] and headers["error"].isna().all()
    assert headers["subcentre"].tolist() == [7, 0, 7, 7, 7]
    assert headers["subcategory"].tolist() == [255, 255, 4, 255, 255]
    assert headers["time"].dt.second.tolist() == [0, 0, 58, 0, 0]
    frame = skyrec.read_dataframe(path, tables=tables)
    assert frame["raw"].tolist() == sum(EXPECTED_RAWS, []) and frame.attrs["errors"] == []
    values, failed = skyrec.read_block(path, tables=tables)
    assert values["raw"].tolist() == sum(EXPECTED_RAWS, []) and failed.empty

    assert main(["ls", "--format", "jsonl", path]) == 0
    assert [json.loads(line)["edition"] for line in capsys.readouterr().out.splitlines()] == [3, 2, 4, 3, 3]

    # _skyrec's own functions keep to edition 4.
    for msg in messages[:2]:
        with pytest.raises(ValueError, match=f"^unsupported BUFR edition {msg[7]}; only edition 4 is implemented$"):
            _skyrec.parse_bytes(msg)


@pytest.mark.parametrize("edition", [0, 1, 5, 255])
def test_other_editions_are_refused(tables, edition):
    msg = bytearray(build_message([A, B], BITS))
    msg[7] = edition
    (item,) = read_messages(bytes(msg), tables=tables)
    assert item.error.reason == f"unsupported BUFR edition {edition}; only editions 2, 3 and 4 are implemented"


@pytest.mark.parametrize("edition, master_version, local_dir, subcentre",
                         [(3, 19, "19-1", 7), (3, 13, "1", 7), (2, 19, "19-1", 0), (2, 13, "1", 0)])
def test_local_tables_are_chosen_from_the_mapped_fields(tmp_path, edition, master_version, local_dir, subcentre):
    root = tmp_path / "definitions" / "bufr" / "tables" / "0"
    write_table_dir(root / "wmo" / str(master_version), [Element(A, "BLOCK", width=7)], {})
    for name in ("19-1", "1"):
        for sub in (0, 7):
            width = 10 if (name, sub) == (local_dir, subcentre) else 3
            write_table_dir(root / "local" / name / "200" / str(sub), [Element(B, f"LOCAL {name} {sub}", width=width)])
    msg = build_message([A, B], BITS, edition=edition, master_version=master_version, local_version=1,
                        centre=200, subcentre=7)
    (item,) = read_messages(msg, tables=TableSource(root=str(tmp_path / "definitions")))
    assert item.ok, item.error
    assert [(v.name, v.raw) for v in item.values] == [("BLOCK", 6), (f"LOCAL {local_dir} {subcentre}", 260)]
