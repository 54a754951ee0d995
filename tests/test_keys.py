"""Keys and ranks of values: the ecCodes key of each element and its count in
the subset, the same in every reading, and as ecCodes counts them."""

from __future__ import annotations

import json

import pytest

pd = pytest.importorskip("pandas")

import skyrec  # noqa: E402
from bufrgen import BitWriter, build_message  # noqa: E402
from skyrec.blocks import read_block  # noqa: E402
from skyrec.cli import main  # noqa: E402
from skyrec.frames import read_by_message  # noqa: E402
from tablegen import Element, write_table_dir  # noqa: E402

ELEMENTS = [Element(1001, "WMO BLOCK NUMBER", width=7, abbreviation="blockNumber"),
            Element(1019, "SITE NAME", "CCITT IA5", width=24),  # no key in these tables
            Element(7004, "PRESSURE", "Pa", scale=-1, width=14, abbreviation="pressure"),
            Element(12101, "TEMPERATURE", "K", scale=1, reference=-400, width=12, abbreviation="airTemperature"),
            Element(31001, "REPLICATION", width=8, abbreviation="delayedDescriptorReplicationFactor"),
            Element(31021, "ASSOCIATED FIELD SIGNIFICANCE", "CODE TABLE", width=6,
                    abbreviation="associatedFieldSignificance")]
# A temperature with an 8-bit associated field, then levels of one pressure
# and a replicated number of temperatures each: replication nested in replication.
DESCRIPTORS = [1001, 1019, 204008, 31021, 12101, 204000, 104000, 31001, 7004, 101000, 31001, 12101]
SUBSETS = [[2, 3], [0], [1]]  # temperatures per level


def subset_bits(bits: BitWriter, levels: list[int]) -> None:
    bits.uint(7, 7).text("ABC", 24).uint(2, 6).uint(5, 8).uint(2900, 12).uint(len(levels), 8)
    for k, count in enumerate(levels):
        bits.uint(5000 + k, 14).uint(count, 8)
        for i in range(count):
            bits.uint(2800 + i, 12)


def expected_keys(levels: list[int]) -> list[tuple[str | None, int]]:
    seen: dict[str, int] = {}

    def ranked(key: str) -> tuple[str, int]:
        seen[key] = seen.get(key, 0) + 1
        return key, seen[key]

    out = [ranked("blockNumber"), (None, 0), ranked("associatedFieldSignificance"), ("associatedField", 0),
           ranked("airTemperature"), ranked("delayedDescriptorReplicationFactor")]
    for count in levels:
        out += [ranked("pressure"), ranked("delayedDescriptorReplicationFactor")]
        out += [ranked("airTemperature") for _ in range(count)]
    return out


@pytest.fixture(scope="module")
def table_dir(tmp_path_factory):
    return write_table_dir(tmp_path_factory.mktemp("keys") / "tables", ELEMENTS)


@pytest.fixture(scope="module")
def path(tmp_path_factory):
    bits = BitWriter()
    for levels in SUBSETS:
        subset_bits(bits, levels)
    one = build_message(DESCRIPTORS, bits.to_bytes(), subsets=len(SUBSETS))
    file = tmp_path_factory.mktemp("keys") / "nested.bufr"
    file.write_bytes(one + one)
    return file


def by_message(path, table_dir):
    return read_by_message(path, table_dir=table_dir)


def by_block(path, table_dir):
    return read_block(path, table_dir=table_dir)[0]


def by_dump(path, table_dir):
    import contextlib
    import io

    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        assert main(["dump", "--tables", table_dir, "--format", "jsonl", str(path)]) == 0
    return pd.DataFrame([json.loads(line) for line in out.getvalue().splitlines()])


@pytest.mark.parametrize("reading", [by_message, by_block, by_dump])
def test_ranks_count_each_key_within_its_subset(path, table_dir, reading):
    frame = reading(path, table_dir)
    expected = [(m, j, key, rank) for m in range(2) for j, levels in enumerate(SUBSETS)
                for key, rank in expected_keys(levels)]
    found = [(int(m), int(j), None if pd.isna(k) else k, int(r))
             for m, j, k, r in frame[["message", "subset", "key", "rank"]].itertuples(index=False)]
    assert found == expected


def test_key_is_categorical_and_none_where_the_tables_give_none(path, table_dir):
    frame = skyrec.read_dataframe(path, table_dir=table_dir)
    assert str(frame["key"].dtype) == "category"
    assert frame.loc[frame["descriptor"] == 1019, "key"].isna().all()
    (item,) = list(skyrec.read_messages(path, table_dir=table_dir, output="columns"))[:1]
    assert list(item.columns.key[:3]) == ["blockNumber", None, "associatedFieldSignificance"]


def _ranked_values(path, tables):
    frame = read_by_message(path, tables=tables)
    # ecCodes files 031021 under the associated field it describes, unranked.
    frame = frame[(frame["rank"] > 0) & frame["value"].notna() & frame["text"].isna() & (frame["descriptor"] != 31021)]
    return frame[frame["message"] == 0]


@pytest.mark.parametrize("name", ["temp-gts1.bufr", "cdfin_temp", "aura-omi-ak.bufr"])
def test_ranks_name_what_eccodes_names(corpus, definitions, name):
    """#rank#key as the eccodes package resolves it, in a single-subset message
    and a compressed one (whose subsets all count alike)."""
    eccodes = pytest.importorskip("eccodes")
    path = corpus / name
    tables = skyrec.find_tables(definitions=definitions)
    frame = _ranked_values(path, tables)
    assert len(frame) > 20
    with open(path, "rb") as f:
        handle = eccodes.codes_bufr_new_from_file(f)
    try:
        eccodes.codes_set(handle, "unpack", 1)
        for subset, key, rank, value in frame[["subset", "key", "rank", "value"]].head(400).itertuples(index=False):
            theirs = eccodes.codes_get_array(handle, f"#{rank}#{key}")
            assert theirs[min(int(subset), len(theirs) - 1)] == pytest.approx(value, rel=1e-9), (key, rank)
    finally:
        eccodes.codes_release(handle)
