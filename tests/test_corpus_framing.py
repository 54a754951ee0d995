"""Every real file frames as its manifest records, and headers agree with ecCodes."""

from __future__ import annotations

import csv

import pytest

import _skyrec
from conftest import CORPUS, corpus_dir

# Files whose fault stops the scan or framing before any edition check; the
# manifest's anomalies column names each fault.
BROKEN = {
    "afl-src01flip1-pos10.bufr": "section 3 at offset 14 is truncated",  # sections 1-2 cut short
    "corrupted.bufr": "section 0 at offset 0 is truncated",  # declared length beyond the file
    "short1.bufr": "message is too short to be BUFR",  # a bare marker
    "short2.bufr": "section 0 at offset 0 is truncated",
    "short3.bufr": "section 0 at offset 0 is truncated",  # length_beyond_eof
    "corruptBUFR.1": "section 5 terminator is not 7777",  # no 7777 after section 4
}


def manifest_rows() -> list[dict]:
    root = corpus_dir()
    if root is None:
        return []
    with open(root / "MANIFEST.tsv", newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


ROWS = manifest_rows()
GOOD = [r for r in ROWS if r["editions"] == "4" and r["file"] not in BROKEN]
BAD = [r for r in ROWS if r not in GOOD]


def values(field: str) -> set[int]:
    return {int(v) for v in field.split(",") if v}


def needs_corpus():
    if not ROWS:
        pytest.skip(f"real BUFR corpus not found at {CORPUS} (set SKYREC_CORPUS)")


@pytest.mark.parametrize("row", GOOD or [None], ids=lambda r: r["file"] if r else "no-corpus")
def test_edition4_files_match_manifest(row, corpus):
    needs_corpus()
    messages = _skyrec.parse_all_file(str(corpus / row["file"]))
    assert len(messages) == int(row["n_messages"])
    assert {m.originating_centre for m in messages} == values(row["centre"])
    assert {m.master_tables_version_number for m in messages} == values(row["master_table_versions"])
    assert {m.local_tables_version_number for m in messages} == values(row["local_table_versions"])
    assert {m.data_category for m in messages} == values(row["data_category"])
    assert sum(m.number_of_subsets for m in messages) == int(row["n_subsets_total"])
    subcats = {f"{m.international_data_subcategory}/{m.local_data_subcategory}" for m in messages}
    assert subcats == set(row["sub_categories"].split(","))
    compressed = {m.compressed_data for m in messages}
    assert compressed == {"y": {True}, "n": {False}, "mixed": {True, False}}[row["compressed"]]


@pytest.mark.parametrize("row", BAD or [None], ids=lambda r: r["file"] if r else "no-corpus")
def test_other_editions_and_broken_files_fail_with_their_fault(row, corpus):
    needs_corpus()
    name = row["file"]
    if name in BROKEN:
        expected = BROKEN[name]
    else:
        (edition,) = values(row["editions"]) - {4}
        expected = f"unsupported BUFR edition {edition}; only edition 4 is implemented"
    with pytest.raises(ValueError) as info:
        _skyrec.parse_all_file(str(corpus / name))
    assert str(info.value) == expected


HEADER_KEYS = {
    "edition": "edition",
    "masterTableNumber": "master_table_number",
    "bufrHeaderCentre": "originating_centre",
    "bufrHeaderSubCentre": "originating_subcentre",
    "updateSequenceNumber": "update_sequence_number",
    "dataCategory": "data_category",
    "internationalDataSubCategory": "international_data_subcategory",
    "dataSubCategory": "local_data_subcategory",
    "masterTablesVersionNumber": "master_tables_version_number",
    "localTablesVersionNumber": "local_tables_version_number",
    "typicalYear": "typical_year",
    "typicalMonth": "typical_month",
    "typicalDay": "typical_day",
    "typicalHour": "typical_hour",
    "typicalMinute": "typical_minute",
    "typicalSecond": "typical_second",
    "numberOfSubsets": "number_of_subsets",
    "observedData": "observed_data",
    "compressedData": "compressed_data",
    "totalLength": "total_length",
}


def eccodes_headers(path) -> list[dict]:
    eccodes = pytest.importorskip("eccodes", reason="the eccodes package is a test requirement (pip install .[test])")
    headers = []
    with open(path, "rb") as f:
        while (h := eccodes.codes_bufr_new_from_file(f)) is not None:
            try:
                row = {key: eccodes.codes_get(h, key) for key in HEADER_KEYS}
                row["unexpandedDescriptors"] = list(eccodes.codes_get_array(h, "unexpandedDescriptors"))
                headers.append(row)
            finally:
                eccodes.codes_release(h)
    return headers


@pytest.mark.parametrize("row", GOOD or [None], ids=lambda r: r["file"] if r else "no-corpus")
def test_headers_agree_with_eccodes(row, corpus):
    needs_corpus()
    ours = _skyrec.parse_all_file(str(corpus / row["file"]))
    theirs = eccodes_headers(corpus / row["file"])
    assert len(theirs) == len(ours)
    for m, h in zip(ours, theirs):
        assert {k: int(getattr(m, a)) for k, a in HEADER_KEYS.items()} == {k: h[k] for k in HEADER_KEYS}
        assert m.unexpanded_descriptors == h["unexpandedDescriptors"]
