"""Values grouped by subset: exact boundaries for uncompressed subsets whose
delayed replications differ in length, and for compressed ones; the groups
together are _skyrec's flat list, value for value."""

from __future__ import annotations

import pytest

import _skyrec
from bufrgen import BitWriter, build_message
from decodekit import column, make_tables
from skyrec import read_messages
from tablegen import Element

A, B, C, SITE = 1001, 1002, 12101, 1019  # widths 7, 10, 12 and 24 bits of text
GROUP = 301099  # a delayed replication of (B, C) pairs, itself replicated
DESCRIPTORS = [A, 101000, 31001, GROUP, SITE]


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    from decodekit import ELEMENTS, SEQUENCES

    return make_tables(tmp_path_factory.mktemp("subsets"), elements=ELEMENTS + [Element(999, "UNUSED")],
                       sequences={**SEQUENCES, GROUP: [102000, 31002, B, C]})


def uncompressed_subset(bits: BitWriter, a: int, groups: list[list[tuple[int, int]]], site: str) -> int:
    """Writes one subset; returns how many values it decodes to."""
    bits.uint(a, 7).uint(len(groups), 8)
    for pairs in groups:
        bits.uint(len(pairs), 16)
        for b, c in pairs:
            bits.uint(b, 10).uint(c, 12)
    bits.text(site, 24)
    return 3 + sum(1 + 2 * len(pairs) for pairs in groups)


def fingerprint(values) -> list[tuple]:
    return [(v.descriptor, v.raw, v.raw_value, v.raw_text, v.raw_meaning, v.name) for v in values]


SUBSET_SHAPES = {
    "lengths differ": [[], [[(1, 2)], [(3, 4), (5, 6), (7, 8)]], [[]], [[(9, 10)]]],
    "one subset": [[[(1, 2), (3, 4)]]],
    "all empty": [[], [], []],
}


@pytest.mark.parametrize("shape", SUBSET_SHAPES.values(), ids=SUBSET_SHAPES.keys())
def test_uncompressed_boundaries(tables, shape):
    bits = BitWriter()
    lengths = [uncompressed_subset(bits, j + 1, groups, f"S{j}") for j, groups in enumerate(shape)]
    data = build_message(DESCRIPTORS, bits.to_bytes(), subsets=len(shape))
    (item,) = read_messages(data, tables=tables)
    assert [len(s) for s in item.subsets] == lengths
    assert item.subset_starts == tuple(sum(lengths[:j]) for j in range(len(shape)))
    # Each subset begins with its own A and ends with its own site name.
    assert [(s[0].raw, s[-1].raw_text) for s in item.subsets] == [(j + 1, f"S{j}") for j in range(len(shape))]
    flat = _skyrec.decode_values_with_tables(data, tables)
    assert fingerprint([v for s in item.subsets for v in s]) == fingerprint(flat)


def compressed_message(subsets: int, factor: int) -> bytes:
    bits = column(BitWriter(), 7, list(range(1, subsets + 1)))
    column(bits, 8, [factor] * subsets)
    for k in range(factor):
        column(bits, 16, [1] * subsets)  # one pair in every group
        column(bits, 10, [10 * k + j for j in range(subsets)])
        column(bits, 12, [None if j == 1 else 3000 + k for j in range(subsets)])
    bits.uint(0, 24).uint(3, 6)
    for j in range(subsets):
        bits.text(f"T{j:02d}", 24)
    return build_message(DESCRIPTORS, bits.to_bytes(), subsets=subsets, compressed=True)


@pytest.mark.parametrize("subsets, factor", [(3, 2), (1, 0), (5, 1), (2, 3)])
def test_compressed_boundaries(tables, subsets, factor):
    data = compressed_message(subsets, factor)
    per_subset = 3 + 3 * factor
    for output in ("values", "columns"):
        (item,) = read_messages(data, tables=tables, output=output)
        assert item.subset_starts == tuple(j * per_subset for j in range(subsets))
        assert [len(s) for s in item.subsets] == [per_subset] * subsets
    (item,) = read_messages(data, tables=tables)
    assert [s[-1].raw_text for s in item.subsets] == [f"T{j:02d}" for j in range(subsets)]
    assert fingerprint([v for s in item.subsets for v in s]) == fingerprint(
        _skyrec.decode_values_with_tables(data, tables))


def test_zero_subsets(tables):
    for compressed in (False, True):
        data = build_message([A], b"\0\0", subsets=0, compressed=compressed)  # room for a compressed column
        for output in ("values", "columns"):
            (item,) = read_messages(data, tables=tables, output=output)
            assert item.ok and item.subset_starts == () and item.subsets == []


def test_column_subsets_match_value_subsets(tables):
    bits = BitWriter()
    for j, groups in enumerate(SUBSET_SHAPES["lengths differ"]):
        uncompressed_subset(bits, j + 1, groups, f"S{j}")
    data = build_message(DESCRIPTORS, bits.to_bytes(), subsets=4)
    (by_values,) = read_messages(data, tables=tables)
    (by_columns,) = read_messages(data, tables=tables, output="columns")
    assert by_columns.subset_starts == by_values.subset_starts
    for j, (values, columns) in enumerate(zip(by_values.subsets, by_columns.subsets)):
        assert columns.descriptor.tolist() == [v.descriptor for v in values]
        assert set(columns.subset.tolist()) <= {j}
    assert by_columns.columns.subset.tolist() == [j for j, s in enumerate(by_values.subsets) for _ in s]


def test_subset_bounds_are_checked(tables):
    (item,) = read_messages(compressed_message(2, 1), tables=tables, output="columns")
    assert item.columns.subset_bounds(-1) == (6, 12)
    with pytest.raises(IndexError):
        item.columns.subset_bounds(2)
