"""Every message of the real corpus that the package decodes, written back
by skyrec.encode: the same header, descriptors, subsets and values slot by
slot, for skyrec and for the eccodes package; byte for byte where the
original's padding is minimal; compressed too when it has several subsets."""

from __future__ import annotations

import pytest

from bufrgen import offsets
from conftest import corpus_files
from skyrec import EncodeError, TableSource, encode, read_messages

np = pytest.importorskip("numpy")
eccodes = pytest.importorskip("eccodes")

HEADER = ("edition", "master_table_number", "originating_centre", "originating_subcentre", "update_sequence_number",
          "data_category", "international_data_subcategory", "local_data_subcategory",
          "master_tables_version_number", "local_tables_version_number", "typical_year", "typical_month",
          "typical_day", "typical_hour", "typical_minute", "typical_second", "observed_data", "compressed_data",
          "number_of_subsets", "unexpanded_descriptors", "local_section_present")
# Messages with more values are compared by ecCodes on a sample of subsets only.
ECCODES_VALUES = 200_000


@pytest.fixture(scope="module")
def source(definitions):
    return TableSource(root=str(definitions))


def rows(item):
    return [(v.descriptor, v.raw_value, v.raw, v.raw_text) for v in item.values]


def header(message, fields=HEADER):
    return [getattr(message, f) for f in fields]


def eccodes_values(data):
    """numericValues and stringValues as the eccodes package reads `data`, or None when it cannot."""
    h = eccodes.codes_new_from_message(data)
    try:
        eccodes.codes_set(h, "unpack", 1)
        numbers = eccodes.codes_get_array(h, "numericValues")
        texts = eccodes.codes_get_string_array(h, "stringValues") if eccodes.codes_get_size(h, "stringValues") else []
        return numbers, list(texts)
    except eccodes.CodesInternalError:
        return None
    finally:
        eccodes.codes_release(h)


def padded_section3(data):
    """Whether an edition 4 message pads section 3 with an octet it needs not have."""
    o = offsets(data)
    return data[7] == 4 and (o["s4"] - o["s3"]) % 2 == 0


@pytest.mark.compares_corpus
@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: p.name)
def test_messages_write_back_whole(corpus, source, path):
    for item in read_messages(path, tables=source):
        if item.error:
            continue
        m = item.message
        out = encode(item)
        back = next(read_messages(out, tables=source))
        assert back.error is None
        assert header(back.message) == header(m)
        assert back.subset_starts == item.subset_starts and rows(back) == rows(item)
        if not m.compressed_data and len(out) == len(item.data) and not padded_section3(item.data):
            # All but section 4's last octet, whose low bits may be padding.
            assert out[:-5] == item.data[:-5] and out[-4:] == b"7777"
        if len(item.values) <= ECCODES_VALUES and (theirs := eccodes_values(item.data)) is not None:
            ours = eccodes_values(out)
            assert ours is not None
            assert np.array_equal(ours[0], theirs[0])
            # ecCodes lists a compressed text column once when its texts are equal (NBINC 0, as
            # written here) and once per subset otherwise, as some originals write equal texts.
            assert ours[1] == theirs[1] if not m.compressed_data else set(ours[1]) == set(theirs[1])
        if m.number_of_subsets > 1 and not m.compressed_data:
            check_compressed(item, source)


def check_compressed(item, source):
    layouts = {tuple(v.descriptor for v in subset) for subset in item.subsets}
    try:
        out = encode(item, compressed=True)
    except EncodeError as e:
        # Compressed data has one layout for all subsets: delayed replications must agree.
        assert len(layouts) > 1 or "replication count" in str(e)
        assert "compressed data needs the same" in str(e)
        return
    back = next(read_messages(out, tables=source))
    assert back.message.compressed_data and back.subset_starts == item.subset_starts
    # A missing compressed value shows R0 for raw; a text's number is its index, counted
    # otherwise in compressed data, and its padding is lost, as a reader takes it.
    def shown(item):
        return [(d, None if r is None else v, None if v is None else r, t and t.rstrip()) for d, v, r, t in rows(item)]

    assert shown(back) == shown(item)
