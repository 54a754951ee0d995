"""Compressed messages as wide tables: every cell equals the long columns and
the DecodedValue list of the same message, whatever the increment width, its
place among the words of section 4, or the operators and bitmaps in force; and
the long columns derived from the wide decode equal those decoded long."""

from __future__ import annotations

import math
import os
import pickle
import random

import pytest

import _skyrec
import skyrec
from blockfiles import assert_same_frame
from bufrgen import BitWriter, build_message
from conftest import corpus_dir
from decodekit import as_read, assert_same_columns, column, long_wide, make_tables
from skyrec import TableSource, _native
from skyrec.columns import Columns, message_columns
from skyrec.frames import read_by_message, read_dataframe
from skyrec.wide import Wide, message_wide, read_wide

np = pytest.importorskip("numpy")

A, B, C, Q = 1001, 1002, 12101, 33007
SUBSETS = 37


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("wide"))


def both(tables, data: bytes) -> tuple[Wide, Columns]:
    start, _, _, message, error, _ = _native.next_message(data, 0)
    assert error is None
    columns = Columns.from_native(_native.decode_columns(data, start, message, tables))
    # Derived from a buffer that changes before its arrays are made: they
    # must come from the message as it was.
    buffer = bytearray(data)
    derived = message_columns(buffer, start, message, tables)
    buffer[:] = bytes(len(buffer))
    assert_same_columns(derived, columns)
    long = long_wide(columns)
    if columns.subset_count:  # else the long columns hold no descriptors
        assert_same(derived.wide(), long)
        assert_same(pickle.loads(pickle.dumps(derived)).wide(), long)
    assert_same_columns(pickle.loads(pickle.dumps(message_columns(data, start, message, tables))), columns)
    return message_wide(data, start, message, tables), columns


def assert_same(wide: Wide, long: Wide) -> None:
    assert wide.values.shape == long.values.shape
    np.testing.assert_array_equal(wide.values, long.values)  # NaN where NaN, else bit for bit
    numeric = [c for c in range(wide.column_count) if c not in wide.texts]
    np.testing.assert_array_equal(wide.raw[:, numeric], long.raw[:, numeric])
    np.testing.assert_array_equal(wide.descriptor, long.descriptor)
    np.testing.assert_array_equal(wide.rank, long.rank)
    assert (wide.names, wide.units, wide.keys) == (long.names, long.units, long.keys)
    assert wide.texts.keys() == long.texts.keys()
    for c, texts in wide.texts.items():
        assert texts.tolist() == long.texts[c].tolist()
    # The long columns list the code table columns that have a meaning somewhere.
    for c in wide.meanings.keys() | long.meanings.keys():
        none = np.full(wide.subset_count, None)
        assert wide.meanings.get(c, none).tolist() == long.meanings.get(c, none).tolist()


def check(tables, descriptors, bits: BitWriter, subsets: int = SUBSETS) -> Wide:
    data = build_message(descriptors, bits.to_bytes(), subsets=subsets, compressed=True)
    wide, columns = both(tables, data)
    assert_same(wide, long_wide(columns))
    # The block, which unpacks the same columns into rows, reads as the message alone.
    assert_same_frame(read_dataframe(data, tables=tables), read_by_message(data, tables=tables))
    # And cell by cell against the flat list of _skyrec.
    flat = _skyrec.decode_values_with_tables(data, tables)
    assert len(flat) == wide.values.size
    for i, v in enumerate(flat):
        j, c = divmod(i, wide.column_count)
        value, raw, text = as_read(v)
        cell = float(wide.values[j, c])
        assert (None if math.isnan(cell) else cell) == value
        assert (wide.texts[c][j] if c in wide.texts else None) == text
        if raw is not None:
            assert int(wide.raw[j, c]) == raw
    return wide


def text_column(bits: BitWriter, width_bits: int, texts: list[str | None]) -> BitWriter:
    bits.text("", width_bits).uint(width_bits // 8, 6)
    for t in texts:
        bits.raw_bytes(b"\xff" * (width_bits // 8)) if t is None else bits.text(t, width_bits)
    return bits


def randoms(width: int, seed: int, missing: bool = True) -> list[int | None]:
    rng = random.Random(seed)
    top = (1 << width) - 2  # all ones is missing
    values: list[int | None] = [rng.randint(0, top) for _ in range(SUBSETS)]
    values[:3] = [0, top, top // 2]
    if missing:
        values[5] = values[-1] = None
    return values


# The increment widths around the one-load limit (57 bits) and the byte and
# word edges, each behind a 3-bit and a 12-bit column, so that its fields start
# at every bit of a byte; the widened 012101 (64 bits, scale 1, reference
# -400) sums past int64 at the widest increments.
@pytest.mark.parametrize("nbinc", [1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 48, 55, 56, 57, 58, 63])
@pytest.mark.parametrize("lead", [3, 12])
def test_increment_widths(tables, nbinc, lead):
    bits = column(BitWriter(), 7, [1] * SUBSETS)  # NBINC 0
    bits = column(bits, 10, [None] * SUBSETS)  # every subset missing
    bits.uint(0, 64).uint(lead, 6)
    for v in randoms(lead, nbinc):
        bits.uint((1 << lead) - 1 if v is None else v, lead)
    bits.uint(5, 64).uint(nbinc, 6)
    for v in randoms(nbinc, lead):
        bits.uint((1 << nbinc) - 1 if v is None else v, nbinc)
    wide = check(tables, [A, B, 10004, 201180, C, 201000], bits)
    assert np.isnan(wide.values[:, 1]).all() and (wide.values[:, 0] == 1.0).all()
    assert list(wide.scale) == [0, 0, 0, 1]


def test_operators_texts_and_bitmaps(tables):
    bits = column(BitWriter(), 6, [2] * SUBSETS)  # 031021
    bits.uint(3, 8).uint(2, 6)  # 204008: 001001's associated field
    for j in range(SUBSETS):
        bits.uint(j % 3, 2)
    column(bits, 9, randoms(5, 1))  # 001001, widened by 201130 and scaled by 202129
    column(bits, 16, randoms(8, 2))  # 012101 under 207001
    text_column(bits, 48, [f"ST{j}" if j % 4 else None for j in range(SUBSETS)])  # 001015, a text per subset
    bits.text("SAM", 24).uint(0, 6)  # 001019, one text for all
    text_column(bits, 16, ["PQ"] * SUBSETS)  # 205002
    column(bits, 10, randoms(6, 3))  # 001002
    column(bits, 1, [0] * SUBSETS)  # the bitmap: 001015 ... 001002 all present
    column(bits, 1, [0] * SUBSETS)
    column(bits, 7, randoms(6, 4))  # 033007 for each
    column(bits, 7, [None] * SUBSETS)
    column(bits, 2, [j % 2 if j % 5 else None for j in range(SUBSETS)])  # 002001, a code table
    column(bits, 18, [1 << (j % 18) if j % 7 else None for j in range(SUBSETS)])  # 008042, a flag table
    descriptors = [204008, 31021, 201130, 202129, A, 201000, 202000, 204000, 207001, C, 207000, 1015, 1019,
                   205002, B, 222000, 101002, 31031, 101002, Q, 2001, 8042]
    wide = check(tables, descriptors, bits)
    # Subset 0 is missing: it has no meaning, where the flat list shows R0's.
    assert wide.meanings[wide.column_count - 2][:2].tolist() == [None, "MANNED"]
    assert list(wide.scale[:4]) == [0, 0, 1, 2]  # 031021, the associated field, 001001, 012101
    assert len(wide.texts) == 3
    assert wide.labels.count("222000") == 1 and len(set(wide.labels)) == len(wide.labels)


@pytest.mark.parametrize("subsets", [0, 1])
def test_no_subset_or_one(tables, subsets):
    bits = column(BitWriter(), 7, [3] * subsets)
    text_column(bits, 24, ["ABC"] * subsets)
    column(bits, 2, [1] * subsets)
    both(tables, build_message([A, 1019, 2001], bits.to_bytes(), subsets=subsets, compressed=True))


def test_threads_give_the_same_table(tables):
    bits = BitWriter()
    subsets = 4000
    for seed in range(40):
        rng = random.Random(seed)
        bits.uint(seed, 12).uint(11, 6)
        for _ in range(subsets):
            bits.uint(rng.randrange(2048), 11)
    data = build_message([101040, C], bits.to_bytes(), subsets=subsets, compressed=True)
    alone = next(read_wide(data, tables=tables, threads=1)).values
    shared = next(read_wide(data, tables=tables, threads=2)).values
    np.testing.assert_array_equal(alone, shared)


def test_interleaved_readers_keep_their_own_threads(tables, monkeypatch):
    # Each reading's count goes with what it keeps to lay out later, whatever
    # another reading beside it was given.
    bits = column(BitWriter(), 7, randoms(7, 1))
    data = build_message([A], column(bits, 10, randoms(10, 2)).to_bytes(), subsets=SUBSETS, compressed=True) * 2
    kept = []
    keep = _native.keep_columns
    monkeypatch.setattr(_native, "keep_columns", lambda *a, **k: kept.append(keep(*a, **k)) or kept[-1])
    wides = read_wide(data, tables=tables, threads=3)
    columns = skyrec.read_messages(data, tables=tables, output="columns", threads=2)
    laid_out = [(next(wides), next(columns).columns) for _ in range(2)]
    assert [k.threads for k in kept] == [3, 2, 3, 2]
    for wide, later in laid_out:
        np.testing.assert_array_equal(later.wide().values, wide.values)
    kept.clear()
    next(skyrec.read_messages(data, tables=tables, output="columns")).columns.wide()
    assert [k.threads for k in kept] == [min(os.cpu_count() or 1, 4096)]


def test_uncompressed_needs_equal_subsets(tables):
    same = build_message([A, B], BitWriter().uint(1, 7).uint(2, 10).uint(3, 7).uint(4, 10).to_bytes(), subsets=2)
    wide = next(read_wide(same, tables=tables))
    assert wide.values.tolist() == [[1.0, 2.0], [3.0, 4.0]]
    assert wide.raw.tolist() == [[1, 2], [3, 4]] and wide.scale is None


# Delayed replications that make subset 1 shorter, longer, or as long with
# other descriptors than subset 0.
@pytest.mark.parametrize("descriptors, bits", [
    ([A, 101000, 31001, B], BitWriter().uint(1, 7).uint(1, 8).uint(2, 10).uint(3, 7).uint(0, 8)),
    ([A, 101000, 31001, B], BitWriter().uint(1, 7).uint(0, 8).uint(3, 7).uint(2, 8).uint(2, 10).uint(2, 10)),
    ([A, 101000, 31001, B, 101000, 31001, A], BitWriter().uint(1, 7).uint(1, 8).uint(2, 10).uint(0, 8)
     .uint(3, 7).uint(0, 8).uint(1, 8).uint(4, 7)),
], ids=["shorter", "longer", "other"])
def test_uncompressed_subsets_that_differ(tables, descriptors, bits):
    differing = build_message(descriptors, bits.to_bytes(), subsets=2)
    columns = next(skyrec.read_messages(differing, tables=tables, output="columns")).columns
    assert long_wide(columns) is None
    with pytest.raises(ValueError, match="different descriptors"):
        columns.wide()
    with pytest.raises(ValueError, match="different descriptors"):
        next(read_wide(differing, tables=tables, errors="raise"))


def corpus_files():
    found = corpus_dir()
    return [] if found is None else sorted(p for p in found.iterdir() if p.name != "MANIFEST.tsv")


@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: p.name)
def test_corpus_wide_tables(corpus, definitions, path):
    """Every message's wide table is its long columns reshaped, or both fail alike."""
    source = TableSource(root=str(definitions))
    data = path.read_bytes()
    position = 0
    while (found := _native.next_message(data, position)) is not None:
        start, _, position, message, error, _ = found
        if error is not None:
            continue
        table_set = source.for_message(message)
        try:
            columns = Columns.from_native(_native.decode_columns(data, start, message, table_set))
        except ValueError as e:
            with pytest.raises(ValueError) as failed:
                message_wide(data, start, message, table_set)
            assert str(failed.value) == str(e) or "different descriptors" in str(failed.value)
            continue
        long = long_wide(columns)
        if long is None:
            with pytest.raises(ValueError, match="different descriptors"):
                message_wide(data, start, message, table_set)
            continue
        wide = message_wide(data, start, message, table_set)
        assert_same(wide, long)
        assert (wide.scale is None) != message.compressed_data
        if message.compressed_data:
            assert_same_columns(message_columns(data, start, message, table_set), columns)
