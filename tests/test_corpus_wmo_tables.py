"""The WMO BUFR4 CSV tables (version 45) decode real messages to the same
values as the ecCodes tables that the messages name."""

from __future__ import annotations

from pathlib import Path

import pytest
from test_corpus_decode import TableCache, edition4_files, message_bytes

import _skyrec
from conftest import too_large_to_sanitize

WMO = Path(__file__).resolve().parent.parent.parent / "shared" / "tables" / "wmo-bufr4"
# Older master versions differ from version 45 in some widths and sequences
# (AMDAR of version 15, many of version 13), and local tables are not part of
# the WMO set: compare where the two sets are meant to agree.
OLDEST_COMPARABLE_VERSION = 16


@pytest.fixture(scope="module")
def wmo_tables():
    if not (WMO / "SOURCE.txt").is_file():
        pytest.skip(f"WMO BUFR4 CSV tables not found at {WMO}")
    return _skyrec.TableSet.from_bufr4_45(str(WMO))


@pytest.fixture(scope="module")
def eccodes_tables(definitions, tmp_path_factory):
    return TableCache(definitions, tmp_path_factory.mktemp("merged"))


def slots(values):
    # Names and meanings come from different sources; values must not.
    return [(v.descriptor, v.raw_value, v.raw, v.raw_text) for v in values]


def test_recent_messages_decode_alike(corpus, wmo_tables, eccodes_tables):
    compared = 0
    for name in edition4_files():
        if too_large_to_sanitize(corpus / name):
            continue
        for msg in message_bytes((corpus / name).read_bytes()):
            record = _skyrec.parse_bytes(msg)
            if record.local_tables_version_number or record.master_tables_version_number < OLDEST_COMPARABLE_VERSION:
                continue
            reference = eccodes_tables.for_message(record)
            try:
                expected = _skyrec.decode_values_with_tables(msg, reference)
            except ValueError:
                continue  # fails with ecCodes' tables too: see test_corpus_decode
            assert slots(_skyrec.decode_values_with_tables(msg, wmo_tables)) == slots(expected), name
            compared += 1
    print(f"{compared} messages compared")
    assert compared >= 40
