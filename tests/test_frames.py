"""pandas DataFrames: one row per value, the columns and their dtypes, per
message and per file, and what happens without pandas."""

from __future__ import annotations

import sys

import pytest

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")

import _skyrec  # noqa: E402
import skyrec  # noqa: E402
from blockfiles import assert_same_frame  # noqa: E402
from bufrgen import BitWriter, build_message  # noqa: E402
from decodekit import as_read, make_tables, shown_meaning  # noqa: E402
from skyrec import read_messages  # noqa: E402
from skyrec.frames import FRAME_COLUMNS, read_by_message  # noqa: E402
from skyrec.gts import FIELDS as GTS_FIELDS  # noqa: E402

A, SITE, KIND = 1001, 1019, 2001  # 7 bits, 24 bits of text, a 2-bit code table


def message(a, site, kind, subsets=1):
    bits = BitWriter()
    for _ in range(subsets):
        bits.uint(a, 7) if a is not None else bits.missing(7)
        bits.text(site, 24).uint(kind, 2)
    return build_message([A, SITE, KIND], bits.to_bytes(), subsets=subsets)


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("frames"))


def test_columns_and_dtypes(tables):
    (item,) = read_messages(message(5, "ABC", 1, subsets=2), tables=tables, output="columns")
    frame = item.columns.to_dataframe(message_index=7)
    assert tuple(frame.columns) == FRAME_COLUMNS
    dtypes = {name: str(dtype) for name, dtype in frame.dtypes.items()}
    assert dtypes == {"message": "int64", "subset": "uint32", "descriptor": "uint32", "name": "category",
                      "unit": "category", "value": "float64", "raw": "UInt64", "text": "category",
                      "meaning": "category", "key": "category", "rank": "uint32"}
    assert frame["message"].tolist() == [7] * 6 and frame["subset"].tolist() == [0, 0, 0, 1, 1, 1]
    assert frame["name"].tolist() == ["WMO BLOCK NUMBER", "SITE NAME", "TYPE OF STATION"] * 2
    assert frame["unit"].tolist() == ["Numeric", "CCITT IA5", "CODE TABLE"] * 2


def test_rows_match_the_flat_list(tables):
    data = message(None, "XYZ", 0)
    (item,) = read_messages(data, tables=tables, output="columns")
    frame = skyrec.message_dataframe(item.columns)
    flat = _skyrec.decode_values_with_tables(data, tables)
    assert frame["descriptor"].tolist() == [v.descriptor for v in flat]
    assert [None if pd.isna(x) else x for x in frame["value"]] == [as_read(v)[0] for v in flat]
    assert [None if pd.isna(x) else x for x in frame["raw"]] == [v.raw for v in flat]
    assert [None if pd.isna(x) else x for x in frame["text"]] == [v.raw_text for v in flat]
    assert [None if pd.isna(x) else x for x in frame["meaning"]] == [shown_meaning(v) for v in flat]
    assert frame["raw"].isna().tolist() == [False, True, False]  # the text has no raw integer


def test_a_file_in_one_frame(tables, tmp_path):
    bad = build_message([5001], BitWriter().uint(1, 7).to_bytes())
    parts = [message(1, "ONE", 0), bad, message(2, "TWO", 1, subsets=2), message(3, "ONE", 1)]
    path = tmp_path / "file.bufr"
    path.write_bytes(b"".join(parts))
    frame = skyrec.read_dataframe(path, tables=tables)
    assert frame["message"].tolist() == [0] * 3 + [2] * 6 + [3] * 3
    assert frame["subset"].tolist() == [0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0]
    # Categories are merged across messages: one per distinct text.
    assert list(frame["text"].cat.categories) == ["ONE", "TWO"]
    assert list(frame["meaning"].cat.categories) == ["AUTOMATIC", "MANNED"]
    assert frame["text"].dropna().tolist() == ["ONE", "TWO", "TWO", "ONE"]
    (error,) = frame.attrs["errors"]
    assert error.index == 1 and error.offset == len(parts[0]) and "005001" in error.reason
    with pytest.raises(skyrec.MessageError):
        skyrec.read_dataframe(path, tables=tables, strict=True)


@pytest.mark.parametrize("strict", [False, True])
def test_a_file_read_whole_or_message_by_message_is_the_same_frame(tables, tmp_path, strict):
    # Without strict, the file is decoded as one block; with it (no message
    # fails here), message by message: the frames are equal, dtypes and
    # category lists included.
    parts = [message(1, "ONE", 0), message(None, "TWO", 1, subsets=3), message(3, "ONE", 1)]
    path = tmp_path / "file.bufr"
    path.write_bytes(b"JUNK".join(parts))
    frame = skyrec.read_dataframe(path, tables=tables, strict=strict)
    assert_same_frame(frame, read_by_message(path, tables=tables))
    assert frame.attrs["errors"] == []


def test_an_empty_file_gives_an_empty_frame(tables):
    frame = skyrec.read_dataframe(b"", tables=tables)
    assert len(frame) == 0 and tuple(frame.columns) == (*FRAME_COLUMNS, *GTS_FIELDS)
    assert str(frame["raw"].dtype) == "UInt64"


def test_without_pandas_the_error_says_what_to_install(tables, monkeypatch):
    (item,) = read_messages(message(1, "A", 0), tables=tables, output="columns")
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError, match=r"pip install 'skyrec\[pandas\]'"):
        item.columns.to_dataframe()
