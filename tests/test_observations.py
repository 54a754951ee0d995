"""read_observations: one row per observation, enclosing values repeated on
each, filters of each kind, required columns, bad queries; and the same rows
as pdbufr on real files."""

from __future__ import annotations

import math

import pytest

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")

from observation_queries import QUERIES, same_rows  # noqa: E402

from bufrgen import BitWriter, build_message  # noqa: E402
from skyrec.observations import read_observations  # noqa: E402
from tablegen import Element, write_table_dir  # noqa: E402

ELEMENTS = [Element(1001, "WMO BLOCK NUMBER", width=7, abbreviation="blockNumber"),
            Element(1002, "WMO STATION NUMBER", width=10, abbreviation="stationNumber"),
            Element(1015, "STATION NAME", "CCITT IA5", width=24, abbreviation="stationOrSiteName"),
            Element(4001, "YEAR", width=12, abbreviation="year"),
            Element(4004, "HOUR", width=5, abbreviation="hour"),
            Element(7004, "PRESSURE", "Pa", scale=-1, width=14, abbreviation="pressure"),
            Element(12101, "TEMPERATURE", "K", scale=1, width=12, abbreviation="airTemperature"),
            Element(12103, "DEW-POINT", "K", scale=1, width=12, abbreviation="dewpointTemperature"),
            Element(31001, "REPLICATION", width=8, abbreviation="delayedDescriptorReplicationFactor")]
DESCRIPTORS = [1001, 1002, 1015, 4001, 4004, 103000, 31001, 7004, 12101, 12103]
# (block, station, name, hour, levels of (pressure raw, temperature raw, dew point raw or None))
STATIONS = [(10, 304, "ABC", 6, [(10000, 2880, 2800), (8500, 2770, None), (5000, 2490, 2430)]),
            (7, 481, "DEF", 9, [(10000, 2900, 2850), (5000, 2500, 2370)]),
            (16, 113, "GHI", 11, []),
            (1, 1, "JKL", 12, [(7000, 2600, 2500)])]  # pressure found once: the station's level


def level_rows(stations=STATIONS):
    """What every level says, as read: one dict per level."""
    return [{"WMO_station_id": block * 1000 + station, "stationOrSiteName": name, "hour": hour,
             "pressure": p * 10.0, "airTemperature": t / 10, "dewpointTemperature": math.nan if d is None else d / 10}
            for block, station, name, hour, levels in stations for p, t, d in levels]


@pytest.fixture(scope="module")
def setup(tmp_path_factory):
    root = tmp_path_factory.mktemp("observations")
    bits = BitWriter()
    for block, station, name, hour, levels in STATIONS:
        bits.uint(block, 7).uint(station, 10).text(name, 24).uint(2026, 12).uint(hour, 5).uint(len(levels), 8)
        for p, t, d in levels:
            bits.uint(p, 14).uint(t, 12)
            bits.missing(12) if d is None else bits.uint(d, 12)
    path = root / "temp.bufr"
    path.write_bytes(build_message(DESCRIPTORS, bits.to_bytes(), subsets=len(STATIONS), category=2))
    return path, write_table_dir(root / "tables", ELEMENTS)


def rows(frame: pd.DataFrame) -> list[tuple]:
    return [tuple(None if pd.isna(v) else v for v in row) for row in frame.itertuples(index=False, name=None)]


def expected(columns, keep=lambda row: True):
    return [tuple(None if isinstance(row[c], float) and math.isnan(row[c]) else row[c] for c in columns)
            for row in level_rows() if keep(row)]


COLUMNS = ["WMO_station_id", "stationOrSiteName", "hour", "pressure", "airTemperature", "dewpointTemperature"]


@pytest.mark.parametrize("wanted, keep", [
    (50000, lambda r: r["pressure"] == 50000),
    ([85000, 50000], lambda r: r["pressure"] in (85000, 50000)),
    (slice(50000, 85000), lambda r: 50000 <= r["pressure"] <= 85000),  # both ends inclusive
    (slice(None, 50000), lambda r: r["pressure"] <= 50000),
    (lambda p: p > 60000, lambda r: r["pressure"] > 60000),  # takes the Series
    (lambda p: int(p) in {50000}, lambda r: r["pressure"] == 50000),  # takes one value at a time
])
def test_level_rows_carry_their_station_and_pass_each_filter_kind(setup, wanted, keep):
    path, tables = setup
    frame = read_observations(path, COLUMNS, filters={"pressure": wanted}, table_dir=tables, required_columns=False)
    assert rows(frame) == expected(COLUMNS, keep)


def test_missing_values_never_pass_a_filter_and_header_keys_do(setup):
    path, tables = setup
    frame = read_observations(path, ["pressure", "dataCategory"], table_dir=tables,
                              filters={"dewpointTemperature": slice(0, None), "dataCategory": 2})
    dew_points = [r["pressure"] for r in level_rows() if not math.isnan(r["dewpointTemperature"])]
    assert frame["pressure"].tolist() == dew_points
    assert set(frame["dataCategory"]) == {2}


@pytest.mark.parametrize("required, stations", [
    (True, {10304, 7481, 1001}),  # the station without levels has no pressure: no row
    (False, {10304, 7481, 16113, 1001}),
    (["WMO_station_id"], {10304, 7481, 16113, 1001}),
])
def test_required_columns(setup, required, stations):
    path, tables = setup
    frame = read_observations(path, ["WMO_station_id", "pressure"], required_columns=required, table_dir=tables)
    assert set(frame["WMO_station_id"]) == stations
    assert frame["pressure"].isna().sum() == (0 if required is True else 1)


def test_ranked_key_is_one_level_repeated_on_a_row_per_subset(setup):
    path, tables = setup
    frame = read_observations(path, ["stationNumber", "#2#pressure"], table_dir=tables)
    second = [levels[1][0] * 10.0 for *_, levels in STATIONS if len(levels) > 1]
    assert frame["#2#pressure"].tolist() == second and len(frame) == len(second)


@pytest.mark.parametrize("columns, filters", [
    (["pressure", "airTemperature"], {"pressure": 1.0}),
    (["pressure"], {"pressure": 1.0}),
])
def test_nothing_found_is_an_empty_frame_with_the_columns(setup, columns, filters):
    path, tables = setup
    with pytest.warns(UserWarning, match="^no rows: no message read holds 'pressure'"):
        frame = read_observations(path, columns, filters=filters, table_dir=tables)
    assert list(frame.columns) == columns and len(frame) == 0


def test_tables_kept_for_the_process_follow_a_rewritten_table_directory(setup, tmp_path):
    import os
    import shutil

    path, tables = setup
    copy = shutil.copytree(tables, tmp_path / "tables")
    first = read_observations(path, ["airTemperature"], table_dir=copy)["airTemperature"].tolist()
    rescaled = [Element(**{**e.__dict__, "scale": 2}) if e.code == 12101 else e for e in ELEMENTS]
    write_table_dir(copy, rescaled)
    os.utime(copy / "element.table", ns=(1, 1))  # a change the clock might not show
    second = read_observations(path, ["airTemperature"], table_dir=copy)["airTemperature"].tolist()
    assert second == pytest.approx([t / 10 for t in first]) and len(first) > 0


@pytest.mark.parametrize("bad", ["", "#0#pressure", "air temperature", 12101])
def test_malformed_key_is_a_clear_error(setup, bad):
    path, tables = setup
    with pytest.raises(KeyError, match="is not a key"):
        read_observations(path, ["pressure", bad], table_dir=tables)


# Compressed data is laid out by its own path in the core: it must give the
# rows of the same subsets written uncompressed, and both the rows that a
# plain reading of the subsets gives.

SAT_ELEMENTS = [Element(1007, "SATELLITE", width=10, abbreviation="satelliteIdentifier"),
                Element(1015, "STATION NAME", "CCITT IA5", width=24, abbreviation="stationOrSiteName"),
                Element(5001, "LATITUDE", "deg", scale=2, reference=-9000, width=15, abbreviation="latitude"),
                Element(5042, "CHANNEL", width=6, abbreviation="channelNumber"),
                Element(12163, "BRIGHTNESS TEMPERATURE", "K", scale=2, width=16,
                        abbreviation="brightnessTemperature")]
SAT_DESCRIPTORS = [1007, 1015, 5001, 102003, 5042, 12163]
# Per subset: name, latitude raw (None: missing), brightness temperature raws of channels 1 to 3.
SCANS = [("ABC", 13000, [25000, 25550, None]), ("DEF", None, [24000, 26000, 25900]),
         ("ABC", 4000, [None, 25000, 25800]), ("GHI", 9100, [26100, 24900, 25000])]


def scan_rows():
    return [{"satelliteIdentifier": 200.0, "stationOrSiteName": name,
             "latitude": math.nan if lat is None else lat / 100 - 90, "channelNumber": float(channel),
             "brightnessTemperature": math.nan if bt is None else bt / 100}
            for name, lat, bts in SCANS for channel, bt in enumerate(bts, 1)]


@pytest.fixture(scope="module")
def scans(tmp_path_factory):
    from decodekit import column

    root = tmp_path_factory.mktemp("scans")
    flat = BitWriter()
    for name, lat, bts in SCANS:
        flat.uint(200, 10).text(name, 24)
        flat.missing(15) if lat is None else flat.uint(lat, 15)
        for channel, bt in enumerate(bts, 1):
            flat.uint(channel, 6)
            flat.missing(16) if bt is None else flat.uint(bt, 16)
    packed = column(BitWriter(), 10, [200] * len(SCANS))
    packed.text("", 24).uint(3, 6)
    for name, _, _ in SCANS:
        packed.text(name, 24)
    column(packed, 15, [lat for _, lat, _ in SCANS])
    for c in range(3):
        column(column(packed, 6, [c + 1] * len(SCANS)), 16, [bts[c] for _, _, bts in SCANS])
    files = {}
    for kind, bits in (("flat", flat), ("packed", packed)):
        files[kind] = root / f"{kind}.bufr"
        files[kind].write_bytes(build_message(SAT_DESCRIPTORS, bits.to_bytes(), subsets=len(SCANS),
                                              compressed=kind == "packed", category=3))
    return files, write_table_dir(root / "tables", SAT_ELEMENTS)


SCAN_COLUMNS = ["stationOrSiteName", "latitude", "channelNumber", "brightnessTemperature"]


@pytest.mark.parametrize("filters, keep", [
    ({"channelNumber": 2}, lambda r: r["channelNumber"] == 2),
    ({"brightnessTemperature": slice(250, 259)}, lambda r: 250 <= r["brightnessTemperature"] <= 259),
    ({"channelNumber": [1, 3], "latitude": lambda v: v > -50}, lambda r: r["channelNumber"] != 2
     and r["latitude"] > -50),
    ({"stationOrSiteName": "ABC", "channelNumber": slice(2, None)}, lambda r: r["stationOrSiteName"] == "ABC"
     and r["channelNumber"] >= 2),
])
def test_compressed_rows_are_the_uncompressed_ones(scans, filters, keep):
    files, tables = scans
    want = [tuple(None if isinstance(r[c], float) and math.isnan(r[c]) else r[c] for c in SCAN_COLUMNS)
            for r in scan_rows() if keep(r)]
    for kind in ("flat", "packed"):
        frame = read_observations(files[kind], SCAN_COLUMNS, filters=filters, table_dir=tables)
        assert rows(frame) == want, kind


@pytest.mark.parametrize("kind", ["flat", "packed"])
def test_ranked_and_required_keys_in_compressed_data(scans, kind):
    files, tables = scans
    frame = read_observations(files[kind], ["satelliteIdentifier", "#2#brightnessTemperature", "#3#channelNumber"],
                              table_dir=tables)
    assert rows(frame) == [(200.0, bts[1] / 100, 3.0) for _, _, bts in SCANS]
    # A key the tables lack is an error when required, NaN (and a warning) when not.
    with pytest.raises(KeyError, match="no key 'pressure' in the tables of the messages read"):
        read_observations(files[kind], ["latitude", "pressure"], table_dir=tables)
    with pytest.warns(UserWarning, match="no key 'pressure'"):
        loose = read_observations(files[kind], ["latitude", "pressure"], table_dir=tables, required_columns=False)
    assert len(loose) == len(SCANS) and loose["pressure"].isna().all()


@pytest.mark.parametrize("parts", [
    (2024, 2, 29, 23, 59, 59.5), (2023, 2, 29, 0, 0, 0), (2024, 4, 31, 0, 0, 0), (2024, 12, 31, 24, 0, 0),
    (1900, 2, 29, 0, 0, 0), (2000, 2, 29, 6, 30, 0), (2024, 13, 1, 0, 0, 0), (2024.5, 1, 1, 0, 0, 0),
])
def test_data_datetime_is_the_time_pandas_makes(parts):
    from skyrec.calendar_days import datetimes

    ours = datetimes([np.array([float(p)]) for p in parts], "ns", rolls=True)[0]
    names = ["year", "month", "day", "hour", "minute", "second"]
    theirs = pd.to_datetime(pd.DataFrame({n: [p] for n, p in zip(names, parts)}), errors="coerce")[0]
    assert (np.isnat(ours) and pd.isna(theirs)) or ours == theirs.to_datetime64()


@pytest.mark.parametrize("first", [0, 1])
def test_a_fractional_date_does_not_take_a_whole_ones_day(first):
    from skyrec.calendar_days import datetimes

    # 2000.0625-01-01 and 2000-07-26 add up to the same year * 10000 + month * 100 + day.
    dates = [(2000.0625, 1, 1), (2000, 7, 26)]
    if first:
        dates.reverse()
    parts = [np.array(p, float) for p in zip(*dates)] + [np.zeros(2)] * 3
    times = datetimes(parts, "ns", rolls=True)
    whole = dates.index((2000, 7, 26))
    assert times[whole] == np.datetime64("2000-07-26") and np.isnat(times[1 - whole])


# The same rows as pdbufr on real files, with Debian's ecCodes tables.


@pytest.mark.parametrize("query", QUERIES, ids=[q.name for q in QUERIES])
def test_rows_agree_with_pdbufr(corpus, definitions, query):
    pdbufr = pytest.importorskip("pdbufr")
    rows = 0
    for path in query.files(corpus):
        ours = read_observations(path, query.columns, filters=query.filters, definitions=definitions)
        theirs = pdbufr.read_bufr(path, columns=query.columns, filters=query.filters or {})
        if len(theirs) == 0:  # pdbufr's empty frame has no columns
            assert len(ours) == 0, path.name
            continue
        assert same_rows(ours, theirs, query.columns) is None, (path.name, same_rows(ours, theirs, query.columns))
        rows += len(ours)
    assert rows > 0


# skyrec table


@pytest.mark.parametrize("fmt", ["text", "csv", "jsonl"])
def test_table_command_prints_the_rows_in_each_format(setup, capsys, fmt):
    import csv
    import io
    import json

    from skyrec.cli import main

    path, tables = setup
    status = main(["table", str(path), "--tables", tables, "-c", "WMO_station_id,pressure,dewpointTemperature",
                   "--where", "pressure=:85000", "--format", fmt])
    out = capsys.readouterr().out
    if fmt == "jsonl":
        found = [tuple(json.loads(line).values()) for line in out.splitlines()]
    elif fmt == "csv":
        found = [tuple(None if c == "" else float(c) for c in row) for row in list(csv.reader(io.StringIO(out)))[1:]]
    else:
        found = [tuple(None if c == "MISSING" else float(c) for c in line.split()) for line in out.splitlines()[1:]]
    want = expected(["WMO_station_id", "pressure", "dewpointTemperature"], lambda r: r["pressure"] <= 85000)
    assert status == 0 and found == want


@pytest.mark.parametrize("args", [["--where", "pressure"], ["--where", "=5"], ["-c", "#0#pressure"], ["-c", ","]])
def test_table_command_refuses_a_bad_query(setup, capsys, args):
    from skyrec.cli import main

    path, tables = setup
    status = main(["table", str(path), "--tables", tables, "-c", "pressure", *args])
    assert status == 2 and "skyrec:" in capsys.readouterr().err


# skyrec.dask.read_observations


@pytest.mark.parametrize("blocksize", [None, 1])
def test_dask_rows_and_meta_are_the_eager_ones(corpus, definitions, blocksize):
    sd = pytest.importorskip("skyrec.dask")
    import dask
    query = QUERIES[2]  # TEMP profiles: many levels, a station filter
    paths = [str(p) for p in query.files(corpus)]
    eager = read_observations(paths, query.columns, filters=query.filters, definitions=definitions)
    lazy, errors = sd.read_observations(paths, query.columns, filters=query.filters, definitions=definitions,
                                        blocksize=blocksize)
    computed, found = dask.compute(lazy, errors, scheduler="threads")
    assert [str(e) for e in found] == [str(e) for e in eager.attrs["errors"]]
    # One partition a file, or a large file's messages split among several.
    assert lazy.npartitions == len(paths) if blocksize is None else lazy.npartitions > len(paths)
    assert (lazy._meta.dtypes == eager.dtypes).all() and len(eager) > 0
    pd.testing.assert_frame_equal(computed.reset_index(drop=True), eager)


def test_dask_on_bytes_and_on_an_empty_result(setup):
    sd = pytest.importorskip("skyrec.dask")
    path, tables = setup
    columns = ["WMO_station_id", "data_datetime", "pressure", "stationOrSiteName"]
    eager = read_observations(path.read_bytes(), columns, table_dir=tables, required_columns=False)
    lazy, _ = sd.read_observations(path.read_bytes(), columns, table_dir=tables, required_columns=False)
    # Dask holds texts in its own string type.
    pd.testing.assert_frame_equal(lazy.compute().reset_index(drop=True), eager, check_dtype=False)
    none, _ = sd.read_observations(path.read_bytes(), columns, table_dir=tables, filters={"pressure": 1})
    empty = none.compute()
    assert len(empty) == 0 and list(empty.columns) == columns
    assert list(empty.dtypes.astype(str)) == list(none._meta.dtypes.astype(str)), (empty.dtypes, none._meta.dtypes)
    assert list(empty.dtypes.astype(str)) == ["Int64", "datetime64[ns]", "float64", "float64"]
