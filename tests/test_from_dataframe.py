"""Tables to BUFR: rows and groups of rows written, read back by skyrec and
by the eccodes package to the same values; every problem of a bad table
named by row and column; skip-row and missing keep the other rows."""

from __future__ import annotations

import json
import math

import pytest

pd = pytest.importorskip("pandas")
pytest.importorskip("pint")

import skyrec  # noqa: E402
from skyrec import InvalidFrame, encode, from_dataframe, read_messages  # noqa: E402
from skyrec.cli import main  # noqa: E402

UNITS = {"t2m": "degC", "mslp": "hPa", "ff": "kt"}
# What each row says, and the same in the elements' units: kelvin, pascal, metres per second to 0.1.
SYNOP = pd.DataFrame({
    "wigosIdentifier": ["0-20000-0-06260", "0-20000-0-06344", "0-20000-0-06235"],
    "time": ["2024-03-01T12:00Z", "2024-03-01 12:00", "2024-03-01T14:00+01:00"],
    "latitude": [52.1, 51.96, 52.92], "longitude": [5.18, 4.45, 4.78],
    "stationOrSiteName": ["DE BILT", "ROTTERDAM", "DE KOOY"],
    "t2m": [12.3, None, -3.5], "mslp": [1013.2, 1009.0, 998.7], "ff": [10, 12, 0],
})
EXPECTED = {"wigosLocalIdentifierCharacter": ["06260", "06344", "06235"],
            "stationOrSiteName": ["DE BILT", "ROTTERDAM", "DE KOOY"], "hour": [12, 12, 13],
            "latitude": [52.1, 51.96, 52.92], "airTemperature": [285.45, None, 269.65],
            "pressureReducedToMeanSeaLevel": [101320.0, 100900.0, 99870.0], "windSpeed": [5.1, 6.2, 0.0]}
MAPPING = {"columns": {"t2m": {"key": "airTemperature", "unit": "degC"}, "mslp": {"key":
           "pressureReducedToMeanSeaLevel", "unit": "hPa"}, "ff": {"key": "windSpeed", "unit": "kt"}}}


def same(a, b) -> bool:
    if a is None or b is None:
        return a is None and b is None
    if isinstance(a, str) or isinstance(b, str):
        return str(a).strip() == str(b).strip()
    return math.isclose(a, b, abs_tol=1e-9)


def eccodes_values(message: bytes, key: str) -> list:
    """What the eccodes package reads: a value per subset, missing as None."""
    eccodes = pytest.importorskip("eccodes")
    h = eccodes.codes_new_from_message(message)
    try:
        eccodes.codes_set(h, "unpack", 1)
        n = eccodes.codes_get(h, "numberOfSubsets")
        values = list(eccodes.codes_get_array(h, key))
    finally:
        eccodes.codes_release(h)
    values = values * n if len(values) == 1 else values
    return [None if isinstance(v, float) and v == eccodes.CODES_MISSING_DOUBLE
            or (isinstance(v, str) and not v.strip()) else v for v in values]


def skyrec_values(messages: list[bytes], key: str) -> list:
    frame = skyrec.read_dataframe(b"".join(messages))
    rows = frame[(frame["key"] == key) & (frame["rank"] == 1)]
    return [t if isinstance(t, str) else None if math.isnan(v) else v for v, t in zip(rows["value"], rows["text"])]


@pytest.mark.parametrize("compressed, per_message, via", [(False, 1, "units"), (True, None, "units"),
                                                          (False, 2, "toml"), (False, None, "json")])
def test_synop_rows_read_back_the_same(tmp_path, compressed, per_message, via):
    options = {"units": UNITS, "mapping": {"columns": {"t2m": "airTemperature", "ff": "windSpeed",
                                                       "mslp": "pressureReducedToMeanSeaLevel"}}}
    if via != "units":  # the same renames and units from a file
        path = tmp_path / f"m.{via}"
        path.write_text(json.dumps(MAPPING) if via == "json" else
                        "[columns]\n" + "".join(f'{c} = {{ key = "{t["key"]}", unit = "{t["unit"]}" }}\n'
                                                for c, t in MAPPING["columns"].items()))
        options = {"mapping": path}
    messages = from_dataframe(SYNOP, "land-station", compressed=compressed, per_message=per_message, **options)
    assert len(messages) == (1 if per_message is None else math.ceil(3 / per_message))
    for key, expected in EXPECTED.items():
        ours = skyrec_values(messages, key)
        theirs = [v for m in messages for v in eccodes_values(m, key)]
        assert all(map(same, ours, expected)) and len(ours) == 3, key
        assert all(map(same, theirs, expected)) and len(theirs) == 3, key
    assert [next(read_messages(m)).message.typical_hour for m in messages] == [12, 12, 13][::per_message or 3]


@pytest.mark.parametrize("levels", [(3, 5), (1, 7, 2)])
def test_soundings_of_any_number_of_levels_are_one_subset_each(levels):
    rows = []
    for launch, n in enumerate(levels):
        rows += [{"launch": launch, "wigosIdentifier": f"0-20000-0-1039{launch}", "time": "2024-03-01T11:15:30Z",
                  "latitude": 52.2, "longitude": 14.1, "pressure": 1000 - 90 * i, "airTemperature": 15.0 - 6 * i,
                  "windSpeed": 3.5 + i} for i in range(n)]
    frame = pd.DataFrame(rows).sample(frac=1, random_state=1).sort_values("launch", kind="stable")
    messages = from_dataframe(frame, "upper-air", group="launch", units={"pressure": "hPa", "airTemperature": "degC"})
    assert len(messages) == len(levels)
    for message, (_, group) in zip(messages, frame.groupby("launch", sort=False)):
        item = next(read_messages(message))
        assert len(item.subsets) == 1
        assert eccodes_values(message, "extendedDelayedDescriptorReplicationFactor") == [len(group)]
        eccodes = pytest.importorskip("eccodes")
        h = eccodes.codes_new_from_message(message)
        eccodes.codes_set(h, "unpack", 1)
        for key, expected in (("pressure", group["pressure"] * 100.0), ("airTemperature",
                              group["airTemperature"] + 273.15), ("windSpeed", group["windSpeed"])):
            assert eccodes.codes_get_array(h, key).tolist() == pytest.approx(expected.tolist())
        assert eccodes.codes_get(h, "second") == 30
        eccodes.codes_release(h)


BAD = [
    ("drop", "latitude", (None, "latitude", "a required key without a column")),
    ("set", ("t2m", 1, 400.0), (1, "t2m", "outside")),
    ("set", ("latitude", 2, 95.0), (2, "latitude", "outside -90 to 90")),
    ("set", ("time", 2, "yesterday noon"), (2, "time", "not a time")),
    ("set", ("mslp", 0, "n/a"), (0, "mslp", "not a number")),
    ("set", ("wigosIdentifier", 1, "06260"), (1, "wigosIdentifier", "not a WIGOS identifier")),
    ("rename", ("ff", "windSpead"), (None, "windSpead", "no key of the template")),
    ("unit", ("ff", "knotz"), (None, "ff", "unknown unit")),
    ("unit", ("mslp", "degC"), (None, "mslp", "cannot be converted")),
]


def spoiled(kind, what):
    frame = SYNOP.copy().astype(object)
    units = dict(UNITS)
    if kind == "drop":
        frame = frame.drop(columns=what)
    elif kind == "set":
        frame.loc[what[1], what[0]] = what[2]
    elif kind == "rename":
        frame = frame.rename(columns={what[0]: what[1]})
        units.pop(what[0])
    else:
        units[what[0]] = what[1]
    return frame, units


KEYS = {"columns": {"t2m": "airTemperature", "mslp": "pressureReducedToMeanSeaLevel", "ff": "windSpeed"}}


@pytest.mark.parametrize("kind, what, expected", BAD, ids=[b[2][2] for b in BAD])
def test_each_problem_is_named_by_row_and_column(kind, what, expected):
    frame, units = spoiled(kind, what)
    with pytest.raises(InvalidFrame) as caught:
        from_dataframe(frame, "land-station", mapping=KEYS, units=units)
    found = [(p.row, p.column) for p in caught.value.problems if expected[2] in p.why]
    assert found == [expected[:2]], caught.value.problems
    assert len(caught.value.problems) == 1


def test_every_problem_of_a_table_at_once():
    frame = SYNOP.copy().astype(object)
    frame.loc[0, "t2m"], frame.loc[2, "time"], frame.loc[1, "ff"] = 400.0, "not-a-time", -5
    with pytest.raises(InvalidFrame) as caught:
        from_dataframe(frame, "land-station", mapping=KEYS, units=UNITS)
    assert [(p.row, p.column) for p in caught.value.problems] == [(0, "t2m"), (1, "ff"), (2, "time")]


@pytest.mark.parametrize("on_invalid, rows, temperatures", [("skip-row", [0, 2], [285.45, 269.65]),
                                                            ("missing", [0, 1, 2], [None, None, 269.65])])
def test_bad_rows_do_not_stop_the_others(on_invalid, rows, temperatures):
    frame = SYNOP.copy().astype(object)
    frame.loc[0, "t2m"] = None if on_invalid == "missing" else 12.3
    frame.loc[1, "t2m"] = 500.0
    messages = from_dataframe(frame, "land-station", mapping=KEYS, units=UNITS, on_invalid=on_invalid)
    assert [(p.row, p.column) for p in messages.problems] == [(1, "t2m")]
    assert skyrec_values(messages, "wigosLocalIdentifierCharacter") == [EXPECTED[
        "wigosLocalIdentifierCharacter"][r] for r in rows]
    assert all(map(same, skyrec_values(messages, "airTemperature"), temperatures))


def test_a_replication_as_a_list_of_mappings_is_its_passes(definitions):
    descriptors = [301001, 101000, 31001, 303051, 12101]
    levels = [{"pressure": 85000.0, "absoluteWindShearIn1KmLayerBelow": 3.0}, {"pressure": 50000.0}]
    by_passes = encode(descriptors, [{"blockNumber": 6, "delayedDescriptorReplicationFactor": levels,
                                      "airTemperature": 280.0}], definitions=definitions)
    flat = encode(descriptors, [{"blockNumber": 6, "pressure": [85000.0, 50000.0],
                                 "absoluteWindShearIn1KmLayerBelow": [3.0], "airTemperature": 280.0}],
                  definitions=definitions)
    assert by_passes == flat
    with pytest.raises(skyrec.EncodeError, match="pass 1 of replication 101000: 'presure'"):
        encode(descriptors, [{"delayedDescriptorReplicationFactor": [{}, {"presure": 1.0}]}],
               definitions=definitions)


@pytest.mark.parametrize("extra, status, said", [(["-o", "{out}"], 0, "3 message(s) written"),
                                                 (["--dry-run"], 0, "3 rows checked"),
                                                 (["--dry-run", "--unit", "windSpeed=knotz"], 1, "unknown unit"),
                                                 (["--dry-run", "--unit", "ff=kt"], 1, "a column the table lacks")])
def test_the_command_line_writes_and_checks(tmp_path, capsys, extra, status, said):
    csv = tmp_path / "in.csv"
    SYNOP.rename(columns=KEYS["columns"]).to_csv(csv, index=False)
    out = tmp_path / "out.bufr"
    args = ["encode", "--template", "land-station", "--unit", "airTemperature=degC", "--unit",
            "pressureReducedToMeanSeaLevel=hPa", "--unit", "windSpeed=kt", str(csv)]
    args += [a.format(out=out) for a in extra]
    assert main(args) == status
    assert said in capsys.readouterr().err
    if "-o" in extra:
        assert skyrec_values([out.read_bytes()], "airTemperature")[::2] == [285.45, 269.65]


def test_the_template_command_shows_what_to_fill(capsys):
    assert main(["template", "--list"]) == 0
    assert {"land-station", "upper-air", "drifting-buoy"} <= set(capsys.readouterr().out.split())
    assert main(["template", "upper-air", "--format", "csv"]) == 0
    rows = [line.split(",") for line in capsys.readouterr().out.splitlines()[1:]]
    required = {r[0] for r in rows if r[4] == "true"}
    assert required == {"wigosIdentifierSeries", "wigosIssuerOfIdentifier", "wigosIssueNumber",
                        "wigosLocalIdentifierCharacter", "year", "month", "day", "hour", "minute", "latitude",
                        "longitude"}
    levels = {r[0] for r in rows if r[5] == "true"}
    assert {"airTemperature", "#1#pressure", "windSpeed"} <= levels and "latitude" not in levels


REQUIRED = {"wigosIdentifier": ["0-20000-0-06260", "0-22000-0-6201234"], "time": ["2024-03-01T06:30Z"] * 2,
            "latitude": [-33.5, 61.25], "longitude": [151.2, -3.75]}


@pytest.mark.parametrize("name, extra, category", [
    ("land-station", {"#1#airTemperature": [280.15, 270.0], "totalSnowDepth": [0.12, None]}, 0),
    ("upper-air", {"radiosondeSerialNumber": ["A1", "B22"], "airTemperature": [300.0, 210.5]}, 2),
    ("drifting-buoy", {"airTemperature": [280.15, 270.0], "#1#oceanographicWaterTemperature": [285.0, 279.5]}, 1),
])
def test_every_bundled_report_is_read_by_eccodes(name, extra, category):
    """A column within a delayed replication runs it once; section 1 is the report's, the time the row's."""
    frame = pd.DataFrame({**REQUIRED, **extra})
    messages = from_dataframe(frame, name, header={"bufrHeaderCentre": 98})
    for key, column in [("wigosIssuerOfIdentifier", [20000, 22000]), ("wigosLocalIdentifierCharacter",
                        ["06260", "6201234"]), ("latitude", REQUIRED["latitude"]), ("minute", [30, 30]),
                        *((k.removeprefix("#1#"), v) for k, v in extra.items())]:
        assert all(map(same, [eccodes_values(m, key)[0] for m in messages], column)), key
    for m in messages:
        assert [eccodes_values(m, k)[0] for k in ("dataCategory", "bufrHeaderCentre", "typicalHour")] == \
            [category, 98, 6]


def test_a_polars_frame_and_a_mapping_of_constants():
    pl = pytest.importorskip("polars")
    frame = pl.DataFrame({k: v for k, v in REQUIRED.items()})
    messages = from_dataframe(frame, "land-station", mapping={"constants": {"stationType": 1, "blockNumber": 6}})
    assert [eccodes_values(m, "stationType")[0] for m in messages] == [1, 1]
    with pytest.raises(InvalidFrame, match="column 'blockNumber': 1000: the constant: outside 0 to 126"):
        from_dataframe(frame, "land-station", mapping={"constants": {"blockNumber": 1000}})
