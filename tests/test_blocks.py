"""Header pass and block decoding (skyrec.blocks, skyrec._native's
message_headers and decode_block): the same messages, rows and errors as
the per-message readers, however a file is cut into pieces."""

from __future__ import annotations

import os

import pytest

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")

import skyrec  # noqa: E402
from blockfiles import (  # noqa: E402
    KIND,
    SITE,
    A,
    assert_same_frame,
    bad_decode,
    bad_frame,
    good,
    native_piece,
    rows_of,
    write_archive,
)
from decodekit import make_tables  # noqa: E402
from skyrec import _native  # noqa: E402
from skyrec.blocks import Piece, read_block, read_headers, read_pieces, typical_time, values_frame  # noqa: E402
from skyrec.errors import decode_error  # noqa: E402
from skyrec.frames import read_by_message  # noqa: E402
from skyrec.tables import find_tables  # noqa: E402
from tablegen import Element, write_table_dir  # noqa: E402


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("blocks"))


@pytest.fixture
def archive(tmp_path):
    parts = [good(1, "ONE", 0, centre=98), bad_decode(), good(2, "TWO", 1, subsets=2, centre=7, category=2),
             bad_frame(), good(3, "ONE", 1, centre=98, category=2, year=2025, month=2, day=28)]
    return write_archive(tmp_path / "archive.bufr", parts)


def test_headers_are_those_of_the_framed_messages(archive):
    headers = read_headers(archive)
    found = list(skyrec.read_messages(archive, output="messages"))
    assert headers["message"].tolist() == [item.index for item in found]
    assert headers["offset"].tolist() == [item.offset for item in found]
    assert headers["length"].tolist() == [item.length for item in found]
    assert headers["error"].notna().tolist() == [item.error is not None for item in found]
    for row, item in zip(headers.itertuples(), found):
        if item.error is not None:
            assert row.error == item.error.reason and row.centre == 0 and pd.isna(row.time)
            continue
        m = item.message
        assert (row.centre, row.subcentre, row.category, row.subcategory, row.master_version, row.subsets,
                row.compressed) == (m.originating_centre, m.originating_subcentre, m.data_category,
                                    m.international_data_subcategory, m.master_tables_version_number,
                                    m.number_of_subsets, m.compressed_data)
        assert row.time == pd.Timestamp(m.typical_year, m.typical_month, m.typical_day, m.typical_hour,
                                        m.typical_minute, m.typical_second)


@pytest.mark.parametrize("when, valid", [
    ((2024, 2, 29, 23, 59, 59), True),
    ((2023, 2, 29, 0, 0, 0), False),
    ((2024, 13, 1, 0, 0, 0), False),
    ((2024, 4, 31, 0, 0, 0), False),
    ((2024, 1, 1, 24, 0, 0), False),
    ((2024, 1, 1, 0, 60, 0), False),
    ((0, 1, 1, 0, 0, 0), False),
    ((9999, 12, 31, 0, 0, 0), True),
    ((10000, 1, 1, 0, 0, 0), False),  # past what datetime64 strings and Timestamps take
])
def test_typical_time(when, valid):
    (time,) = typical_time(*([part] for part in when))
    if valid:
        assert time == np.datetime64(f"{when[0]:04d}-{when[1]:02d}-{when[2]:02d}T{when[3]:02d}:{when[4]:02d}:"
                                     f"{when[5]:02d}")
    else:
        assert np.isnat(time)


def test_a_block_gives_the_rows_and_errors_of_message_by_message_reading(archive, tables):
    values, errors = read_block(archive, tables=tables)
    expected = read_by_message(archive, tables=tables)
    assert rows_of(values.drop(columns="offset")) == rows_of(expected)
    assert list(errors.itertuples(index=False, name=None)) == [(e.index, e.offset, e.reason, e.where, e.kind)
                                                               for e in expected.attrs["errors"]]
    offsets = dict(read_headers(archive)[["message", "offset"]].itertuples(index=False, name=None))
    assert values["offset"].tolist() == [offsets[m] for m in values["message"]]


def test_pieces_cut_at_message_offsets_add_up_to_the_file(archive, tables):
    whole, whole_errors = read_block(archive, tables=tables)
    offsets = read_headers(archive)["offset"].tolist()
    cuts = [0, offsets[2], offsets[3], None]  # the junk before the first message goes with it
    parts = [read_block(archive, tables=tables, start=start, end=end, first_index=first)
             for first, (start, end) in zip([0, 2, 3], zip(cuts, cuts[1:]))]
    assert rows_of(pd.concat([p[0] for p in parts], ignore_index=True)) == rows_of(whole)
    assert sum((rows_of(p[1]) for p in parts), []) == rows_of(whole_errors)


def test_chosen_offsets_decode_those_messages_only(archive, tables):
    headers = read_headers(archive)
    wanted = headers.iloc[[1, 4]]  # a message that fails and one that decodes
    values, errors = read_block(archive, tables=tables, offsets=wanted["offset"], indices=wanted["message"] + 100)
    assert set(values["message"]) == {104}
    assert errors["message"].tolist() == [101] and "005001" in errors["error"][0]
    everything, _ = read_block(archive, tables=tables)
    assert rows_of(values.drop(columns="message")) == rows_of(everything[everything.message == 4]
                                                              .drop(columns="message"))


@pytest.mark.parametrize("filter, decoded, reported", [
    ({"centre": 98}, {0, 4}, {1, 3}),
    ({"centre": [7, 98], "category": 2}, {2, 4}, {3}),
    ({"category": (5,)}, set(), {3}),
    (lambda h: h.time >= pd.Timestamp(2025, 1, 1), {4}, {3}),
    (lambda h: (h.subsets > 1).to_numpy(), {2}, {3}),
])
def test_a_filter_picks_messages_by_header(archive, tables, filter, decoded, reported):
    values, errors = read_block(archive, tables=tables, filter=filter)
    assert set(values["message"]) == decoded
    # A message that cannot be framed has no header to judge and is always
    # reported; one that fails to decode only when the filter kept it.
    assert set(errors["message"]) == reported


@pytest.mark.parametrize("filter, error", [
    ({"station": 1}, KeyError),
    (lambda h: [True], ValueError),
    ("centre", TypeError),
])
def test_a_bad_filter_is_refused(archive, tables, filter, error):
    with pytest.raises(error):
        read_block(archive, tables=tables, filter=filter)


def test_categories_merge_by_text_across_table_sets(tmp_path):
    # The same element named alike under two table sets, with two units: the
    # name is one category, the units two, and no category is repeated.
    a = write_table_dir(tmp_path / "a", [Element(12101, "TEMPERATURE", "K", scale=1, reference=-400, width=12)])
    b = write_table_dir(tmp_path / "b", [Element(12101, "TEMPERATURE", "C", scale=1, reference=-400, width=12)])
    sets = [skyrec.TableSet.from_eccodes(str(p)) for p in (a, b)]
    from bufrgen import BitWriter, build_message

    one = build_message([12101], BitWriter().uint(3132, 12).to_bytes())
    data = one + one + one
    block = _native.decode_block([native_piece(data, 0, [0, len(one)], [0, 1], sets),
                                  native_piece(one, 1, [0], [7], [sets[0]])])
    assert block["names"] == ["TEMPERATURE"] and block["units"] == ["K", "C"]
    frame = values_frame(block, ["x", "y"])
    assert list(frame["name"].cat.categories) == ["TEMPERATURE"]
    assert frame["unit"].tolist() == ["K", "C", "K"] and frame["value"].tolist() == [273.2] * 3
    assert frame["file"].tolist() == ["x", "x", "y"] and frame["message"].tolist() == [0, 1, 7]
    assert frame["offset"].tolist() == [0, len(one), 0]


@pytest.mark.parametrize("read", [
    lambda path, tables: read_block(path, tables=tables),
    lambda path, tables: read_block(path, tables=tables, filter={"centre": [98, 7]}),
    lambda path, tables: skyrec.read_dataframe(path, tables=tables),
    lambda path, tables: skyrec.read_observations(path, ["blockNumber"], tables=tables, required_columns=False),
    lambda path, tables: list(skyrec.read_messages(path, tables=tables)),
])
@pytest.mark.filterwarnings("ignore:no key")  # the test tables name no keys
def test_a_read_frames_each_message_once(archive, tables, read):
    found = len(read_headers(archive))
    before = _native.messages_framed()
    read(archive, find_tables(tables))
    assert _native.messages_framed() - before == found


@pytest.mark.parametrize("refuse", [False, True])
def test_tables_are_asked_once_per_key_and_a_refusal_is_each_message_status(tables, refuse):
    asked = []

    def resolver(message):
        asked.append(message.originating_centre)
        if refuse:
            raise decode_error("no tables", "file t", "io")
        return tables

    parts = [good(1, "ONE", 0, centre=98), good(2, "TWO", 1, centre=7), good(3, "SIX", 2, centre=98)]
    offsets = [0, len(parts[0]), len(parts[0]) + len(parts[1])]
    block = _native.decode_block([native_piece(b"".join(parts), 0, offsets, [0, 1, 2], resolver)])
    assert sorted(asked) == [7, 98]
    assert [tuple(e[1:5]) for e in block["errors"]] == ([(i, "no tables", "file t", "io") for i in range(3)]
                                                        if refuse else [])
    assert block["count"] == (0 if refuse else 9)


def test_a_message_failing_midway_leaves_no_rows_or_categories(tables):
    # Its first values decode, then the data runs out: nothing of it stays.
    whole = good(1, "ONE", 0, subsets=2)
    cut = good(2, "TWO", 1, subsets=2)
    from bufrgen import BitWriter, build_message

    short = build_message([A, SITE, KIND], BitWriter().uint(2, 7).text("TWO", 24).uint(1, 2).to_bytes(), subsets=2)
    block = _native.decode_block([native_piece(whole + short + cut, 0, [0, len(whole), len(whole) + len(short)],
                                               [0, 1, 2], [tables] * 3)])
    assert [position for _, position, *_ in block["errors"]] == [1]
    frame = values_frame(block, with_file=False)
    assert rows_of(frame.drop(columns="offset")) == rows_of(
        pd.concat([read_by_message(whole, tables=tables),
                   read_by_message(cut, tables=tables).assign(message=2)], ignore_index=True))
    assert list(frame["text"].cat.categories) == ["ONE", "TWO"]


def compressed_message(a: list, sites: list[str], kinds: list) -> bytes:
    from bufrgen import BitWriter, build_message
    from decodekit import column

    bits = column(BitWriter(), 7, a).uint(0, 24).uint(3, 6)
    for site in sites:
        bits.text(site, 24)
    return build_message([A, SITE, KIND], column(bits, 2, kinds).to_bytes(), subsets=len(sites), compressed=True)


@pytest.mark.parametrize("reverse", [False, True])
def test_compressed_and_uncompressed_messages_share_a_block(tables, reverse):
    # Compressed rows are laid out at the end, between rows already written
    # and narrowed in place: each message must keep its own rows and codes.
    from bufrgen import BitWriter, build_message

    short = build_message([A, SITE, KIND], BitWriter().uint(1, 7).to_bytes(), subsets=2, compressed=True)
    parts = [good(1, "ONE", 0, subsets=2), compressed_message([3, None, 5], ["TWO", "ONE", "SIX"], [1, 0, None]),
             short, good(2, "SIX", 2), compressed_message([7, 7], ["TEN", "TWO"], [2, 2])]
    if reverse:
        parts.reverse()
    offsets = [sum(map(len, parts[:i])) for i in range(len(parts))]
    block = _native.decode_block([native_piece(b"".join(parts), 0, offsets, list(range(len(parts))), tables)])
    failed = [parts.index(short)]
    assert [position for _, position, *_ in block["errors"]] == failed
    frame = values_frame(block, with_file=False)
    expected = pd.concat([read_by_message(part, tables=tables).assign(message=i)
                          for i, part in enumerate(parts) if i not in failed], ignore_index=True)
    assert rows_of(frame.drop(columns="offset")) == rows_of(expected)
    assert frame["offset"].tolist() == [offsets[m] for m in frame["message"]]


@pytest.fixture(scope="module")
def million_rows():
    """A compressed message of 100 columns of 10500 subsets."""
    from bufrgen import BitWriter, build_message
    from decodekit import column

    bits = BitWriter()
    for k in range(100):
        bits.append(column(BitWriter(), 7, [k, None, k + 1] * 3500))
    return build_message([101100, A], bits.to_bytes(), subsets=10500, compressed=True)


@pytest.mark.parametrize("columns", [
    ["value"], ["raw"], ["meaning"], ["text", "file"], ["key", "unit"], ["name", "rank"],
    ["rank", "offset", "descriptor", "subset", "message"], ["value", "meaning", "message", "raw"],
])
def test_a_block_of_chosen_columns_has_those_of_the_whole_frame(tmp_path, million_rows, columns):
    # Compressed and uncompressed messages in two files, one failing: each
    # column must come out as it does among all the others, its categories too.
    # A block of a million rows lays out its arrays on two threads, one array
    # alone on one.
    from bufrgen import BitWriter, build_message
    from decodekit import CODE_TABLES, column

    flags = 8042  # 18 bits; a missing subset's raw is the column's base, which means FIRST
    tables = make_tables(tmp_path, code_tables={**CODE_TABLES, flags: {1: "FIRST", 18: "LAST"}})
    short = build_message([A, SITE, KIND], BitWriter().uint(1, 7).to_bytes(), subsets=2, compressed=True)
    first = write_archive(tmp_path / "a.bufr", [
        good(1, "ONE", 0, subsets=2), compressed_message([3, None, 5], ["TWO", "ONE", "SIX"], [1, 0, None]),
        short, good(2, "SIX", 2)])
    later = [compressed_message([7, 7], ["TEN", "TWO"], [2, 2]), good(4, "TEN", 1, subsets=3),
             build_message([flags], column(BitWriter(), 18, [1 << 17, None, 1]).to_bytes(), subsets=3,
                           compressed=True)]
    later.append(million_rows)
    second = write_archive(tmp_path / "b.bufr", later)
    pieces = [Piece(first), Piece(second)]
    whole, whole_errors = read_pieces(pieces, find_tables(tables))
    chosen, errors = read_pieces(pieces, find_tables(tables), columns=columns)
    assert list(chosen.columns) == [name for name in whole.columns if name in columns]
    assert_same_frame(chosen, whole[list(chosen.columns)])
    assert [(str(e), e.kind) for e in errors] == [(str(e), e.kind) for e in whole_errors]
    assert whole["meaning"].notna().any() and whole["text"].notna().any()
    # Natively, the arrays not asked for are never made.
    offsets = [sum(map(len, later[:i])) for i in range(len(later))]
    block = _native.decode_block([native_piece(b"".join(later), 0, offsets, list(range(len(later))), tables)],
                                 columns)
    assert block["count"] == (whole["file"] == str(second)).sum()
    made = {key for key, item in block.items() if isinstance(item, _native.OwnedBuffer)}
    assert made == set(columns) | ({"raw_present"} if "raw" in columns else set())


def test_a_large_block_laid_out_on_one_thread_is_the_one_two_lay_out(tmp_path, million_rows):
    # threads=1 keeps a block past the two-thread size on the calling thread.
    tables = find_tables(make_tables(tmp_path))
    pieces = [Piece(write_archive(tmp_path / "m.bufr", [million_rows]))]
    one, _ = read_pieces(pieces, tables, threads=1)
    two, _ = read_pieces(pieces, tables, threads=2)
    assert len(one) >= 1 << 20
    assert_same_frame(one, two)


@pytest.mark.parametrize("columns, named", [(["value", "valu"], "'valu'"), (["file"], "'file'"), ("Value", "'Value'"),
                                            ([], "none")])
def test_read_block_refuses_columns_it_has_not(archive, tables, columns, named):
    with pytest.raises(ValueError, match=f"{named}.*message, offset, subset, .*rank"):
        read_block(archive, tables=tables, columns=columns)


def test_block_columns_say_their_item_types(tables):
    block = _native.decode_block([native_piece(good(1, "ONE", 0, subsets=2), 0, [0], [0], tables)])
    expected = {"message": np.int64, "offset": np.int64, "subset": np.uint32, "descriptor": np.uint32,
                "value": np.float64, "raw": np.uint64, "raw_present": np.bool_}
    for key, dtype in expected.items():
        view = memoryview(block[key])
        assert (view.shape, np.dtype(view.format)) == ((block["count"],), np.dtype(dtype)), key
        np.testing.assert_array_equal(np.asarray(block[key]), np.frombuffer(block[key], dtype), err_msg=key)


@pytest.mark.parametrize("sites, dtype", [(1, np.int8), (126, np.int8), (127, np.int16), (32767, np.int32)])
def test_code_columns_are_as_narrow_as_pandas_keeps_them(tables, sites, dtype):
    names = ["".join(chr(48 + i // 79**k % 79) for k in (2, 1, 0)) for i in range(sites)]
    from bufrgen import BitWriter, build_message

    bits = BitWriter()
    for name in names:
        bits.uint(1, 7).text(name, 24).uint(0, 2)
    data = build_message([A, SITE, KIND], bits.to_bytes(), subsets=sites)
    block = _native.decode_block([native_piece(data, 0, [0], [0], tables)])
    assert len(block["texts"]) == sites
    frame = values_frame(block, ["f"])
    assert frame["text"].cat.codes.dtype == dtype and frame["file"].cat.codes.dtype == np.int8
    # pandas took the codes as they came, typed by the buffer itself, without a copy.
    assert memoryview(block["text"]).format == np.dtype(dtype).char
    assert np.shares_memory(frame["text"].array.codes, np.asarray(block["text"]))
    assert frame["text"].dropna().tolist() == names


@pytest.mark.parametrize("pieces, error", [
    (lambda f, t: [(f, 0, [0], [0], [], 0)], ValueError),
    (lambda f, t: [(f, 0, [0], [], t, 0)], ValueError),
    (lambda f, t: [(f, 0, [0], [0], [None], 0)], TypeError),
    (lambda f, t: [(f, 0, [0], [0], "x", 0)], TypeError),
    (lambda f, t: [(f, 0, [-1], [0], t, 0)], OverflowError),
    (lambda f, t: [(f, 0, [2], [0], t, 0)], ValueError),  # past the rows
    (lambda f, t: [(f, 0, [1], [0], t, 0)], ValueError),  # a message that did not frame
    (lambda f, t: [(f, -1, [], [], t, 0)], OverflowError),
    (lambda f, t: [(f, 0, 5, [], t, 0)], TypeError),
    (lambda f, t: [(good(1, "ONE", 0), 0, [0], [0], t, 0)], TypeError),
    (lambda f, t: [[f, 0, [], [], t, 0]], TypeError),
    (lambda f, t: [(f, 0, [], [], t)], TypeError),
    (lambda f, t: 5, TypeError),
])
def test_decode_block_checks_its_arguments(tables, pieces, error):
    framing = _native.message_headers(good(1, "ONE", 0) + bad_frame(), keep=True)["framing"]
    with pytest.raises(error):
        _native.decode_block(pieces(framing, tables))


def test_message_headers_bounds(archive):
    data = archive.read_bytes()
    every = _native.message_headers(data)
    offsets = np.frombuffer(every["offset"], np.uint64).tolist()
    middle = _native.message_headers(data, offsets[1], offsets[3])
    assert np.frombuffer(middle["offset"], np.uint64).tolist() == offsets[1:3]
    assert _native.message_headers(data, len(data) + 5)["count"] == 0
    assert [row for row, *_ in every["errors"]] == [3]


def test_threads_share_a_source_and_agree(archive, tables):
    from concurrent.futures import ThreadPoolExecutor

    source = skyrec.find_tables(tables)
    expected = rows_of(read_block(archive, tables=source)[0])
    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda _: rows_of(read_block(archive, tables=source)[0]), range(40)))
    assert results == [expected] * 40


@pytest.fixture(scope="module")
def big_piece(tables):
    # 100 columns of 2000 subsets: 200000 values, so 1.6 MB for each column of
    # 8-byte items, enough to be kept.
    from bufrgen import BitWriter, build_message
    from decodekit import column

    bits = BitWriter()
    for k in range(100):
        column(bits, 7, [k, k + 1] * 1000)  # one bit a value: as dense as real data may be
    data = build_message([101100, A], bits.to_bytes(), subsets=2000, compressed=True)
    return [native_piece(data, 0, [0], [0], tables)]


def signature(block: dict) -> tuple:
    """A block's columns, hashed: quick to compare on many rows."""
    import hashlib

    return tuple(hashlib.sha1(memoryview(block[key])).hexdigest() for key in
                 ("message", "subset", "descriptor", "name", "unit", "value", "raw", "raw_present")) + (
        tuple(block["names"]), tuple(block["units"]))


def test_column_memory_is_kept_for_the_next_block_and_released(big_piece):
    from skyrec.blocks import release_memory

    piece = big_piece
    release_memory()
    first = _native.decode_block(piece)
    expected = signature(first)
    frame = values_frame(first, ["f"])
    assert _native.pooled_bytes() == 0
    del first, frame
    kept = _native.pooled_bytes()
    assert kept >= 3 * 8 * 200000  # message, offset, value and raw at least
    again = _native.decode_block(piece)
    assert _native.pooled_bytes() < kept  # taken again
    assert signature(again) == expected
    del again
    kept = _native.pooled_bytes()
    assert kept > 0 and release_memory() == kept and _native.pooled_bytes() == 0


def exit_status(pid: int, seconds: float) -> int | None:
    """A child's wait status, or None (the child killed) if it hangs."""
    import time

    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return status
        time.sleep(0.05)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return None


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_a_forked_child_decodes_with_the_kept_memory_it_inherits(big_piece):
    import threading

    piece = big_piece
    expected = signature(_native.decode_block(piece))  # kept once dropped
    assert _native.pooled_bytes() > 0
    # Another thread takes and gives back kept memory while this one forks.
    stop = threading.Event()

    def churn():
        while not stop.is_set():
            _native.decode_block(piece)

    worker = threading.Thread(target=churn)
    worker.start()
    try:
        children = []
        for _ in range(3):
            pid = os.fork()
            if pid == 0:  # the child: decode again, through the inherited kept memory
                os._exit(0 if signature(_native.decode_block(piece)) == expected else 1)
            children.append(pid)
        for pid in children:
            assert exit_status(pid, seconds=120) == 0
    finally:
        stop.set()
        worker.join()
