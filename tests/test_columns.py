"""NumPy columns: dtypes, missing values, raw integers and their mask, texts,
meanings, names and units, all equal to _skyrec's flat list."""

from __future__ import annotations

import math
import os
import subprocess
import sys

import pytest

np = pytest.importorskip("numpy")

from test_decode_compressed import DESCRIPTORS, compressed_bits, uncompressed_bits  # noqa: E402

import _skyrec  # noqa: E402
from blockfiles import native_piece  # noqa: E402
from bufrgen import BitWriter, build_message  # noqa: E402
from decodekit import as_read, column, decode, make_tables, shown_meaning  # noqa: E402
from skyrec import _native, read_messages  # noqa: E402
from skyrec.columns import Columns  # noqa: E402
from tablegen import Element, write_table_dir  # noqa: E402

DTYPES = {"descriptor": np.uint32, "value": np.float64, "raw": np.uint64, "raw_present": np.bool_,
          "subset": np.uint32, "element_code": np.int32, "text_code": np.int32, "meaning_code": np.int32,
          "subset_starts": np.int64}


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("columns"))


@pytest.fixture(scope="module", params=["uncompressed", "compressed"])
def rich(request, tables):
    """Three subsets with missing values, texts, meanings, associated fields,
    operator markers and values that a bitmap refers back to."""
    if request.param == "compressed":
        data = build_message(DESCRIPTORS, compressed_bits().to_bytes(), subsets=3, compressed=True)
    else:
        data = build_message(DESCRIPTORS, uncompressed_bits().to_bytes(), subsets=3)
    (item,) = read_messages(data, tables=tables, output="columns")
    return item.columns, _skyrec.decode_values_with_tables(data, tables)


def test_dtypes(rich):
    columns, _ = rich
    for name, dtype in DTYPES.items():
        assert getattr(columns, name).dtype == dtype, name
    for name in ("name", "unit", "text", "meaning"):
        assert getattr(columns, name).dtype == object


def test_numbers_match_the_flat_list(rich):
    columns, flat = rich
    assert len(columns) == len(flat) == 57
    assert columns.descriptor.tolist() == [v.descriptor for v in flat]
    shown = [as_read(v) for v in flat]
    np.testing.assert_array_equal(columns.value, np.array([math.nan if s[0] is None else s[0] for s in shown]))
    assert columns.missing.tolist() == [v.raw_value is None or (v.raw is None and v.raw_text is None) for v in flat]
    assert [int(r) if p else None for r, p in zip(columns.raw, columns.raw_present)] == [s[1] for s in shown]
    assert not columns.raw[~columns.raw_present].any()  # absent raws read 0


def test_texts_match_the_flat_list(rich):
    columns, flat = rich
    assert columns.name.tolist() == [v.name for v in flat]
    assert columns.text.tolist() == [as_read(v)[2] for v in flat]
    assert columns.meaning.tolist() == [shown_meaning(v) for v in flat]
    # Categories are distinct, and a value without one has code -1.
    for codes, categories in ((columns.text_code, columns.texts), (columns.meaning_code, columns.meanings)):
        assert len(set(categories)) == len(categories)
        assert ((codes >= -1) & (codes < len(categories))).all()


def test_units(rich, tables):
    columns, flat = rich
    units = dict(zip(columns.descriptor.tolist(), columns.unit.tolist()))
    assert units[12101] == "K" and units[1019] == "CCITT IA5" and units[2001] == "CODE TABLE"
    assert units[999999] == units[222000] == units[205002] == ""
    for v, unit in zip(flat, columns.unit.tolist()):
        element = tables.get_element(v.descriptor)
        assert unit == (element.unit if element is not None and element.name == v.name else "")


def test_subset_index(rich):
    columns, _ = rich
    assert columns.subset.tolist() == [j for j in range(3) for _ in range(19)]
    assert columns.subset_starts.tolist() == [0, 19, 38]


def test_arrays_are_writable_and_owned_per_message(tables):
    data = build_message([1001], BitWriter().uint(5, 7).to_bytes())
    first, second = (item.columns for item in read_messages(data + data, tables=tables, output="columns"))
    first.value[0] = 99.0
    assert second.value[0] == 5.0 and first.value.flags.writeable


def test_empty_message_has_empty_typed_columns(tables):
    (item,) = read_messages(build_message([1001], b"", subsets=0), tables=tables, output="columns")
    assert len(item.columns) == 0
    for name, dtype in DTYPES.items():
        assert getattr(item.columns, name).dtype == dtype and len(getattr(item.columns, name)) == 0


def test_code_and_flag_values_keep_their_raw(tables):
    values = decode(tables, [2001, 8042], BitWriter().uint(1, 2).missing(18))
    data = build_message([2001, 8042], BitWriter().uint(1, 2).missing(18).to_bytes())
    (item,) = read_messages(data, tables=tables, output="columns")
    assert item.columns.raw.tolist() == [1, (1 << 18) - 1] == [v.raw for v in values]
    assert item.columns.meaning.tolist() == ["MANNED", None] and item.columns.missing.tolist() == [False, True]


@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize("marker", [222000, 223000, 224000, 225000, 232000, 235000])
def test_markers_have_no_number_yet_are_not_missing(tables, marker, compressed):
    bits = column(BitWriter(), 7, [None, None]) if compressed else BitWriter().missing(7).missing(7)
    data = build_message([1001, marker], bits.to_bytes(), subsets=2, compressed=compressed)
    (item,) = read_messages(data, tables=tables, output="columns")
    assert item.columns.descriptor.tolist() == [1001, marker] * 2 and np.isnan(item.columns.value).all()
    assert item.columns.missing.tolist() == [True, False] * 2


def test_wide_raw_values_are_exact(tables):
    big = (1 << 63) + 12345  # beyond what a float64 holds exactly
    data = build_message([10004], BitWriter().uint(big, 64).to_bytes())
    (item,) = read_messages(data, tables=tables, output="columns")
    assert int(item.columns.raw[0]) == big


@pytest.mark.parametrize("change", ["outside", "type", "tables"])
def test_native_arguments_are_checked(tables, change):
    data = build_message([1001], BitWriter().uint(5, 7).to_bytes())
    message = _skyrec.parse_bytes(data)
    args = {"data": data, "start": 0, "message": message, "tables": tables}
    if change == "outside":
        args["start"] = 1
        error = ValueError
    elif change == "type":
        args["data"] = "text"
        error = TypeError
    else:
        args["tables"] = "dir"
        error = TypeError
    for function in (_native.decode_columns, _native.decode_subsets):
        with pytest.raises(error):
            function(**args)


def test_native_calls_leave_reference_counts_alone(tables):
    data = build_message([1001], BitWriter().uint(5, 7).to_bytes())
    message = _skyrec.parse_bytes(data)
    bad = build_message([5001], BitWriter().uint(5, 7).to_bytes())
    bad_message = _skyrec.parse_bytes(bad)
    before = [sys.getrefcount(o) for o in (data, message, tables, bad, bad_message)]
    for _ in range(50):
        Columns.from_native(_native.decode_columns(data, 0, message, tables))
        _native.decode_subsets(data, 0, message, tables)
        _native.next_message(data, 0)
        with pytest.raises(ValueError):
            _native.decode_columns(bad, 0, bad_message, tables)
    assert [sys.getrefcount(o) for o in (data, message, tables, bad, bad_message)] == before


def test_importing_skyrec_needs_neither_numpy_nor_pandas():
    code = ("import sys, skyrec; list(skyrec.read_messages(b'', output='messages'));"
            "print(sorted(m for m in ('numpy', 'pandas') if m in sys.modules))")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                            env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert result.stdout.strip() == "[]"


def test_threads_decode_side_by_side(tables):
    # The decoder runs with the interpreter released: threads must still get
    # exactly what one thread gets.
    from concurrent.futures import ThreadPoolExecutor

    data = build_message(DESCRIPTORS, compressed_bits().to_bytes(), subsets=3, compressed=True)
    message = _skyrec.parse_bytes(data)
    expected = Columns.from_native(_native.decode_columns(data, 0, message, tables))

    def one(_):
        c = Columns.from_native(_native.decode_columns(data, 0, message, tables))
        return c.raw.tolist(), c.text.tolist(), c.subset_starts.tolist()

    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(one, range(200)))
    assert results == [(expected.raw.tolist(), expected.text.tolist(), expected.subset_starts.tolist())] * 200


# Entries that share a name but not its unit, as 004024 to 004026 do, and a
# name that has a key beside one that has none.
PERIODS = [Element(4024, "TIME PERIOD", "Hour", width=8, abbreviation="timePeriod"),
           Element(4025, "TIME PERIOD", "Minute", width=8, abbreviation="timePeriod"),
           Element(1001, "WMO BLOCK NUMBER", width=7)]


@pytest.mark.parametrize("compressed", [False, True])
def test_a_message_is_decoded_as_a_block_of_one(tmp_path, compressed):
    pd = pytest.importorskip("pandas")
    from blockfiles import assert_same_frame
    from skyrec.blocks import read_block
    from skyrec.gts import FIELDS as GTS_FIELDS

    tables = _skyrec.TableSet.from_eccodes(write_table_dir(tmp_path, PERIODS))
    raws = [(6, 30, 1), (12, 45, 2)]
    bits = BitWriter()
    if compressed:
        for k, width in enumerate((8, 8, 7, 8)):
            column(bits, width, [r[k % 3] for r in raws])
    else:
        for r in raws:
            bits.uint(r[0], 8).uint(r[1], 8).uint(r[2], 7).uint(r[0], 8)
    data = build_message([4024, 4025, 1001, 4024], bits.to_bytes(), subsets=2, compressed=compressed)
    (item,) = read_messages(data, tables=tables, output="columns")
    c = item.columns
    # One category per distinct text; each value keeps the unit of its own entry.
    assert c.names == ("TIME PERIOD", "WMO BLOCK NUMBER") and c.keys == ("timePeriod",)
    assert c.unit.tolist() == ["Hour", "Minute", "Numeric", "Hour"] * 2
    assert c.key.tolist() == ["timePeriod", "timePeriod", None, "timePeriod"] * 2
    assert c.rank.tolist() == [1, 2, 0, 3] * 2
    assert [int(r) if p else None for r, p in zip(c.raw, c.raw_present)] == [6, 30, 1, 6, 12, 45, 2, 12]
    # The message's frame is the block's, categories and dtypes included (but where its message lies).
    values, _ = read_block(data, tables=tables)
    assert_same_frame(c.to_dataframe(), values.drop(columns=["offset", *GTS_FIELDS]))
    assert list(c.to_dataframe()["unit"].cat.categories) == ["Hour", "Minute", "Numeric"]
    assert isinstance(c.to_dataframe()["raw"].dtype, pd.UInt64Dtype)


@pytest.mark.parametrize("call", ["decode_columns", "decode_block", "message_headers"])
def test_native_columns_say_their_item_types(tables, call):
    # Every array of the native results describes its items: NumPy takes the
    # dtype from the buffer, and every array has one item per row.
    data = build_message(DESCRIPTORS, compressed_bits().to_bytes(), subsets=3, compressed=True)
    message = _skyrec.parse_bytes(data)
    result = {"decode_columns": lambda: _native.decode_columns(data, 0, message, tables),
              "decode_block": lambda: _native.decode_block([native_piece(data, 0, [0], [0], tables)]),
              "message_headers": lambda: _native.message_headers(data)}[call]()
    arrays = {key: memoryview(item) for key, item in result.items() if isinstance(item, _native.OwnedBuffer)}
    assert "subset" in arrays or "offset" in arrays
    assert {arrays[k].format for k in ("raw_present", "framed", "observed", "compressed") if k in arrays} == {"?"}
    for key, view in arrays.items():
        assert view.format and np.asarray(result[key]).dtype == np.dtype(view.format), key
        assert len(view) == (3 if key == "subset_starts" else result["count"]), key
