"""Conversions: Parquet and Arrow hold the frames they come from, a
partitioned dataset reads in DuckDB and Polars, GeoJSON holds every observed
value of a SYNOP file, NetCDF reopens with the same values and units, and the
command line refuses what it cannot do."""

from __future__ import annotations

import json
import os
import sys
from pathlib import Path

import pytest

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")
pa = pytest.importorskip("pyarrow", reason="Arrow and Parquet need pyarrow: pip install 'skyrec[arrow]'")

import skyrec  # noqa: E402
from skyrec.cli import main  # noqa: E402
from skyrec.formats.arrow import errors_of  # noqa: E402
from skyrec.formats.geojson import CONTEXT_KEYS  # noqa: E402

REPO = Path(__file__).resolve().parent.parent
SAMPLE, DAMAGED, TABLES = (str(REPO / "examples" / n) for n in ("sample.bufr", "damaged.bufr", "tables"))
KEYS = ["WMO_station_id", "data_datetime", "stationOrSiteName", "airTemperature", "dewpointTemperature"]
SYNOP, TEMP, SATELLITE = "synop_multi_subset_uncompressed.bufr", "temp-gts1.bufr", "metop_mhs.bufr"


def read_back(path: Path, to: str):
    import pyarrow.parquet as pq

    return pq.read_table(path) if to == "parquet" else pa.ipc.open_file(path).read_all()


def expected_frame(what: str):
    """The frame each kind of output comes from, for SAMPLE then DAMAGED."""
    if what == "observations":
        return skyrec.read_observations([SAMPLE, DAMAGED], KEYS, table_dir=TABLES)
    if what == "headers":
        frames = [skyrec.read_headers(p, file=p) for p in (SAMPLE, DAMAGED)]
        return pd.concat(frames, ignore_index=True).astype({"file": "category"})
    parts = []
    for path in (SAMPLE, DAMAGED):
        values, _ = skyrec.read_block(path, table_dir=TABLES)
        headers = skyrec.read_headers(path).set_index("message")
        values.insert(0, "file", path)
        values["category"] = headers.loc[values["message"], "category"].to_numpy().astype(np.int16)
        values["date"] = headers.loc[values["message"], "time"].dt.strftime("%Y-%m-%d").to_numpy()
        parts.append(values)
    return pd.concat(parts, ignore_index=True).astype({c: "category" for c in ("file", "text", "meaning", "date",
                                                                                 "name", "unit", "key")})


@pytest.mark.parametrize("to", ["parquet", "arrow"])
@pytest.mark.parametrize("what", ["values", "observations", "headers"])
def test_tables_hold_their_frames(tmp_path, to, what):
    out = tmp_path / f"out.{to}"
    options = {"observations": {"columns": KEYS}, "headers": {"headers": True}, "values": {}}[what]
    done = skyrec.convert([SAMPLE, DAMAGED], out, to, table_dir=TABLES, **options)
    table = read_back(out, to)
    expected = expected_frame(what)
    got = table.to_pandas()
    assert done.rows == len(expected) == len(got)
    if to == "parquet" and what == "headers":  # Parquet counts time in milliseconds at the coarsest
        expected["time"] = expected["time"].astype("datetime64[ms]")
    # pandas reads Arrow's strings as its own string type.
    expected = expected.astype({c: got[c].dtype for c in expected if expected[c].dtype == object})
    # Categories, nullable integers, NaN and NaT come back as they went.
    assert {c: str(t) for c, t in got.dtypes.items()} == {c: str(t) for c, t in expected.dtypes.items()}
    pd.testing.assert_frame_equal(got, expected, check_categorical=False)
    if what != "headers":  # damaged.bufr's second message is left out and said so
        assert [(e["file"], e["message"]) for e in errors_of(out)] == [(DAMAGED, 1)] == \
               [(e["file"], e["message"]) for e in done.errors]


def test_observations_as_arrow_keep_their_errors():
    table = skyrec.read_observations([SAMPLE, DAMAGED], KEYS, table_dir=TABLES, output="arrow")
    frame = skyrec.read_observations([SAMPLE, DAMAGED], KEYS, table_dir=TABLES)
    assert table.schema.field("WMO_station_id").type == pa.int64() and table.column("WMO_station_id").null_count == 0
    assert table.column("dewpointTemperature").to_pylist()[1] is None  # missing stays missing
    pd.testing.assert_frame_equal(table.to_pandas(), frame)
    assert [e["offset"] for e in errors_of(table)] == [e.offset for e in frame.attrs["errors"]]


# Every kind of column the rows hold: nullable integers, times with NaT,
# texts with gaps (and none at all), header integers and typical parts.
EVERY_KIND = ["WMO_station_id", "data_datetime", "stationOrSiteName", "WIGOS_station_id", "pressure",
              "airTemperature", "dataCategory", "typicalHour", "typicalDate", "typical_datetime"]


@pytest.mark.parametrize("name, filters", [(SYNOP, None), (TEMP, None), ("synop.bufr", None),
                                           (TEMP, {"airTemperature": slice(1000, None)})])
def test_arrow_rows_are_the_frame_pyarrow_would_make(corpus, name, filters):
    path = str(corpus / name)
    table = skyrec.read_observations(path, EVERY_KIND, filters=filters, required_columns=False, output="arrow")
    frame = skyrec.read_observations(path, EVERY_KIND, filters=filters, required_columns=False)
    # Gaps for the bitmaps to carry; or no row at all.
    assert (len(frame) and frame.isna().any().any()) if filters is None else len(frame) == 0
    # The types pandas' own route to Arrow gives, missing values as nulls.
    assert table.schema.types == pa.Table.from_pandas(frame, preserve_index=False).schema.types
    assert [table.column(c).null_count for c in EVERY_KIND] == frame.isna().sum().tolist()
    pd.testing.assert_frame_equal(table.to_pandas(), frame)


ROWS = ["-c", "WMO_station_id,data_datetime,airTemperature,typicalDate"]


@pytest.mark.parametrize("options", [["--to", "parquet", *ROWS], ["--to", "arrow", *ROWS],
                                     ["--to", "parquet", "--partition", *ROWS], ["--to", "arrow"],
                                     ["--to", "parquet", "--partition"], ["--to", "parquet", "--headers"]],
                         ids=["rows", "rows-arrow", "rows-dataset", "values-arrow", "values-dataset", "headers"])
def test_tables_reach_arrow_without_pandas(corpus, tmp_path, options):
    import subprocess

    out = tmp_path / "out"
    files = [str(corpus / n) for n in (SYNOP, TEMP)]
    probe = ("import runpy, sys; sys.argv = ['skyrec', *sys.argv[1:]]\ntry:\n runpy.run_module('skyrec', "
             "run_name='__main__')\nfinally:\n print('pandas' in sys.modules)")
    done = subprocess.run([sys.executable, "-c", probe, "convert", *files, *options, "-o", str(out)],
                          capture_output=True, text=True)
    assert done.stdout.strip() == "False", done.stderr
    if "--partition" in options:
        import pyarrow.dataset as ds

        table = ds.dataset(out, format="parquet", partitioning="hive").to_table()
    else:
        table = read_back(out, options[1])
    if "--headers" in options:
        assert table.num_rows == len(skyrec.read_headers(files))
        return
    expected = skyrec.read_observations(files, ROWS[1].split(",")) if "-c" in options else skyrec.read_dataframe(files)
    name = "airTemperature" if "-c" in options else "value"
    assert table.num_rows == len(expected) > 0
    np.testing.assert_array_equal(np.sort(table.column(name).to_numpy()), np.sort(expected[name].to_numpy()))


@pytest.fixture(scope="module")
def dataset(corpus, tmp_path_factory):
    files = [str(corpus / n) for n in (SYNOP, TEMP, "synop.bufr", "temp-huge.bufr")]
    out = tmp_path_factory.mktemp("dataset") / "archive"
    skyrec.convert(files, out, partition=True)
    counts = pd.concat([skyrec.formats.gather.file_values(f, skyrec.find_tables())[0] for f in files])
    counts = counts.groupby(["category", "date"], observed=True).size()
    return out, {(int(c), str(d)): int(n) for (c, d), n in counts.items()}


def duckdb_counts(out: Path):
    duckdb = pytest.importorskip("duckdb", reason="DuckDB is an optional extra: pip install 'skyrec[query]'")
    rows = duckdb.sql(f"SELECT category, CAST(date AS VARCHAR), count(*) FROM read_parquet('{out}/**/*.parquet', "
                      "hive_partitioning = true) GROUP BY ALL").fetchall()
    return {(int(c), d): int(n) for c, d, n in rows}


def polars_counts(out: Path):
    pl = pytest.importorskip("polars", reason="Polars is an optional extra: pip install 'skyrec[query]'")
    frame = pl.scan_parquet(f"{out}/**/*.parquet", hive_partitioning=True).group_by("category", "date").len()
    return {(int(c), str(d)): int(n) for c, d, n in frame.collect().iter_rows()}


@pytest.mark.parametrize("counts", [duckdb_counts, polars_counts], ids=["duckdb", "polars"])
def test_dataset_reads_in_query_engines(dataset, counts):
    out, expected = dataset
    assert len(expected) >= 2 and counts(out) == expected
    assert (out / "category=2").is_dir() and json.loads((out / "_errors.json").read_text()) == []
    with pytest.raises(ValueError, match="holds files already"):
        skyrec.convert(SAMPLE, out, partition=True, table_dir=TABLES)


def test_observation_dataset_splits_rows_by_their_messages(corpus, tmp_path):
    import pyarrow.dataset as ds

    files = [str(corpus / n) for n in (SYNOP, TEMP, "synop.bufr", "temp-huge.bufr")]
    keys = ["WMO_station_id", "airTemperature"]
    done = skyrec.convert(files, tmp_path / "rows", columns=keys, partition=True)
    read = ds.dataset(tmp_path / "rows", format="parquet", partitioning="hive").to_table().to_pandas()
    rows = skyrec.read_observations(files, [*keys, "dataCategory", "typical_datetime"], required_columns=keys)
    expected = rows.groupby(["dataCategory", rows["typical_datetime"].dt.strftime("%Y-%m-%d")])["airTemperature"]
    got = read.groupby(["category", read["date"].astype(str)], observed=True)["airTemperature"]
    assert done.rows == len(read) == len(rows) and len(expected) >= 2
    assert got.size().to_dict() == expected.size().to_dict()
    assert got.sum().to_dict() == pytest.approx(expected.sum().to_dict())


def test_geojson_holds_every_observed_value(corpus, tmp_path):
    path = str(corpus / SYNOP)
    out = tmp_path / "synop.geojson"
    skyrec.convert(path, out, "geojson")
    collection = json.loads(out.read_text())
    frame = skyrec.read_dataframe(path)
    klass = frame["descriptor"] // 1000 % 100
    observed = frame[(klass >= 10) & (klass != 31) & frame["value"].notna()]
    assert collection["type"] == "FeatureCollection" and len(collection["features"]) == len(observed) > 0
    stations = skyrec.read_observations(path, ["WMO_station_id", "latitude", "longitude", "airTemperature"])
    where = {int(s): (lon, lat, t) for s, lat, lon, t in stations.itertuples(index=False)}
    got = {}
    for feature in collection["features"]:
        assert feature["type"] == "Feature" and feature["geometry"]["type"] == "Point"
        lon, lat, *height = feature["geometry"]["coordinates"]
        props = feature["properties"]
        assert -180 <= lon <= 180 and -90 <= lat <= 90 and len(height) <= 1
        assert props["wigos_station_identifier"] == f"0-20000-0-{props['wmo_station_identifier']:05d}"
        assert props["phenomenonTime"].endswith("Z") and props["name"] not in CONTEXT_KEYS
        assert (lon, lat) == pytest.approx(where[props["wmo_station_identifier"]][:2])
        got.setdefault(props["name"], []).append(props["value"])
    assert sorted(got["airTemperature"]) == pytest.approx(sorted(t for *_, t in where.values()))
    assert sum(map(len, got.values())) == len(observed)


@pytest.mark.parametrize("name, kind, dimension", [(SATELLITE, "auto", "subset"), (TEMP, "auto", "station")])
def test_netcdf_reopens_with_its_values_and_units(corpus, tmp_path, name, kind, dimension):
    if os.environ.get("SKYREC_SANITIZED"):
        pytest.skip("netCDF4's HDF5 aborts under the preloaded AddressSanitizer runtime: the plain run checks NetCDF")
    xr = pytest.importorskip("xarray", reason="NetCDF needs xarray: pip install 'skyrec[netcdf]'")
    pytest.importorskip("netCDF4", reason="NetCDF needs netCDF4: pip install 'skyrec[netcdf]'")
    path, out = str(corpus / name), tmp_path / "out.nc"
    skyrec.convert(path, out, "netcdf", kind=kind)
    with xr.open_dataset(out) as reopened:
        assert reopened.attrs["Conventions"].startswith("CF-") and dimension in reopened.sizes
        if dimension == "subset":
            wide = next(iter(skyrec.read_wide(path)))
            for c, label in enumerate(wide.labels):
                if wide.keys[c] and c not in wide.texts:
                    (variable,) = [v for v in reopened.variables.values() if v.attrs.get("bufr_key") == label]
                    np.testing.assert_array_equal(variable.to_numpy()[: wide.subset_count], wide.values[:, c])
            assert reopened["brightnessTemperature_3"].attrs["units"] == "K"
            assert reopened["latitude"].attrs["units"] == "degrees_north"
        else:
            rows = skyrec.read_observations(path, ["WMO_station_id", "pressure", "airTemperature"],
                                            required_columns=["pressure"])
            temperature = reopened["airTemperature"].to_numpy()
            kept = temperature[~np.isnan(reopened["pressure"].to_numpy())]
            np.testing.assert_array_equal(kept, rows["airTemperature"].to_numpy())
            assert reopened["airTemperature"].attrs["units"] == "K" and reopened["pressure"].attrs["units"] == "Pa"
            assert set(reopened["station_id"].to_numpy().astype(int)) == set(rows["WMO_station_id"])


@pytest.mark.parametrize("args, says", [
    (["--to", "csv", "--partition"], "only Parquet is written as a partitioned dataset"),
    (["--to", "geojson", "-c", "airTemperature"], "GeoJSON holds every observed value"),
    (["--to", "netcdf", "--headers"], "NetCDF is written from whole messages"),
    (["--to", "csv", "--where", "airTemperature=1"], "--where chooses observation rows: it needs -c"),
    (["--to", "parquet", "-c", "a b"], "is not a key"),
    (["--to", "parquet", "missing/*.bufr"], "no files match"),
    (["--to", "parquet", "missing.bufr"], "no such file or directory: missing.bufr"),
    (["--to", "parquet", "blocked:pyarrow"], "pip install 'skyrec[arrow]'"),
    (["--to", "netcdf", "blocked:netCDF4"], "pip install 'skyrec[netcdf]'"),
    (["--to", "csv", "--kind", "profiles"], "it goes with NetCDF only"),
])
def test_cli_refuses_clearly(tmp_path, capsys, monkeypatch, args, says):
    for blocked in [a for a in args if a.startswith("blocked:")]:
        monkeypatch.setitem(sys.modules, blocked.split(":")[1], None)
        args = [a for a in args if a != blocked]
    files = [] if any(a.endswith(".bufr") for a in args) else [SAMPLE]
    status = main(["convert", *files, *args, "--tables", TABLES, "-o", str(tmp_path / "out")])
    err = capsys.readouterr().err
    assert status == 2 and says in err and "Traceback" not in err
    assert not (tmp_path / "out").exists()


def test_cli_converts_and_reports_what_it_left_out(tmp_path, capsys):
    out, junk = tmp_path / "rows.csv", tmp_path / "junk.bin"
    junk.write_bytes(b"no messages here")
    status = main(["convert", SAMPLE, DAMAGED, str(junk), "--to", "csv", "-c", ",".join(KEYS), "--tables", TABLES,
                   "-o", str(out)])
    err = capsys.readouterr().err
    assert status == 1 and f"{DAMAGED}: message 1 at offset" in err and "6 rows written" in err
    assert f"skyrec: {junk}: no BUFR messages found\n" in err and err.count(str(junk)) == 1
    frame = pd.read_csv(out)
    assert list(frame.columns) == KEYS and frame["stationOrSiteName"].tolist()[:2] == ["DE BILT", "LONDON HEATHROW"]


@pytest.mark.parametrize(("to", "options"), [("parquet", []), ("arrow", ["-c", "airTemperature"]),
                                             ("csv", ["--headers"]), ("geojson", []), ("netcdf", [])])
def test_cli_input_without_messages_is_one_error_and_no_output(tmp_path, capsys, to, options):
    junk, out = tmp_path / "junk.bin", tmp_path / "out"
    junk.write_bytes(b"no messages here")
    status = main(["convert", str(junk), "--to", to, *options, "--tables", TABLES, "-o", str(out)])
    assert (status, capsys.readouterr().err) == (1, f"skyrec: {junk}: no BUFR messages found\n")
    assert not out.exists()


def test_the_package_and_command_line_import_no_optional_library():
    import subprocess

    probe = ("import sys, skyrec, skyrec.cli; print(sorted(m for m in ('numpy', 'pandas', 'pyarrow', 'xarray', "
             "'matplotlib', 'metpy') if m in sys.modules))")
    done = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, check=True)
    assert done.stdout.strip() == "[]"
