"""BUFR as xarray Datasets and NetCDF files.

A message whose subsets share one layout (every compressed message, such as
a satellite's) is a dataset with a `subset` dimension and one variable per
column (see variable_name), with its units, long name (the element's
name), descriptor, "#rank#key" label and NaN as the fill value (texts: "");
latitude and longitude are its coordinates. Messages of one layout are
joined along `subset`; messages of several layouts go to one group each
(layout_0, layout_1, ...). Upper-air soundings are profiles instead: a
dataset of (station, level), a station being one launch, its levels in the
order reported."""

from __future__ import annotations

import os
from collections.abc import Iterable, Sequence
from typing import Any

import numpy as np

from ..reader import read_messages
from ..tables import TableSource
from ..wide_table import Wide
from .extras import need
from .gather import label
from .left_out import error_row, read_errors

CONVENTIONS = "CF-1.8"
UPPER_AIR_CATEGORY = 2
# CF's name and units for what BUFR calls these.
STANDARD = {"latitude": ("latitude", "degrees_north"), "longitude": ("longitude", "degrees_east"),
            "pressure": ("air_pressure", "Pa"), "airTemperature": ("air_temperature", "K"),
            "dewpointTemperature": ("dew_point_temperature", "K"), "windDirection": ("wind_from_direction", "degree"),
            "windSpeed": ("wind_speed", "m s-1"), "nonCoordinateGeopotentialHeight": ("geopotential_height", "m"),
            "brightnessTemperature": ("brightness_temperature", "K")}
DIMENSIONLESS = ("CODE TABLE", "FLAG TABLE", "NUMERIC")
PROFILE_KEYS = ("pressure", "nonCoordinateGeopotentialHeight", "airTemperature", "dewpointTemperature",
                "windDirection", "windSpeed")
STATION_KEYS = ("WMO_station_id", "data_datetime", "latitude", "longitude")


def xarray() -> Any:
    return need("xarray", "netcdf", "NetCDF output")


def _attributes(label: str, key: str | None, name: str, unit: str, descriptor: int) -> dict[str, Any]:
    attrs: dict[str, Any] = {"long_name": name, "units": unit, "descriptor": f"{descriptor:06d}"}
    if unit.upper() in DIMENSIONLESS:  # CF's units are UDUNITS': a code is a number without one
        attrs["units"], attrs["bufr_unit"] = "1", unit
    elif unit.upper() == "CCITT IA5":
        del attrs["units"]
    if key in STANDARD:
        attrs["standard_name"], attrs["units"] = STANDARD[key]
    if key:
        attrs["bufr_key"] = label
    return attrs


def variable_name(label: str) -> str:
    """A NetCDF name for a Wide label: the key for its first occurrence,
    key_N for its N-th ("#2#pressure" is pressure_2), d_DDDDDD for keyless
    columns."""
    if label.startswith("#"):
        _, rank, key = label.split("#", 2)
        return key if rank == "1" else f"{key}_{rank}"
    return "d_" + label.replace(".", "_")


def wide_dataset(wides: Sequence[Wide], messages: Sequence[tuple[int, int]]) -> Any:
    """One Dataset of messages that share a layout, joined along `subset`."""
    xr = xarray()
    first = wides[0]
    variables: dict[str, Any] = {}
    coords: dict[str, Any] = {}
    for c, column in enumerate(first.labels):
        attrs = _attributes(column, first.keys[c], first.names[c], first.units[c], int(first.descriptor[c]))
        if c in first.texts:
            texts = np.concatenate([w.texts[c] for w in wides])
            variables[variable_name(column)] = xr.Variable("subset", np.where(texts == None, "", texts), attrs)  # noqa: E711
            continue
        if not first.keys[c]:  # markers and associated fields hold no numbers
            continue
        values = np.concatenate([w.values[:, c] for w in wides])
        variable = xr.Variable("subset", values, attrs, encoding={"_FillValue": np.nan})
        name = variable_name(column)
        (coords if name in ("latitude", "longitude") else variables)[name] = variable
    counts = [w.subset_count for w in wides]
    where = np.asarray(messages, np.int64).reshape(-1, 2)
    coords["file"] = xr.Variable("subset", np.repeat(where[:, 0], counts), {"long_name": "input file, from 0"})
    coords["message"] = xr.Variable("subset", np.repeat(where[:, 1], counts),
                                    {"long_name": "message in its file, from 0"})
    return xr.Dataset(variables, coords=coords, attrs={"Conventions": CONVENTIONS, "source": "BUFR, decoded by skyrec"})


def layouts(sources: Iterable[Any], tables: TableSource,
            errors: list[dict[str, Any]]) -> list[tuple[Any, list[tuple[int, int]]]]:
    """The Datasets of the messages of `sources`, one per layout (the
    descriptors of their columns), with the messages each holds; messages
    that cannot be read go to `errors`."""
    groups: dict[tuple[int, ...], tuple[list[Wide], list[tuple[int, int]]]] = {}
    for file, source in enumerate(sources):
        for item in read_messages(source, tables=tables, output="columns"):
            if item.error is not None:
                errors.append(error_row(label(source), item.error))
                continue
            assert item.columns is not None
            try:
                wide = item.columns.wide()
            except ValueError as e:
                errors.append({"file": label(source), "message": item.index, "offset": item.offset,
                               "error": str(e), "where": ""})
                continue
            if wide.subset_count:
                wides, numbers = groups.setdefault(tuple(wide.descriptor.tolist()), ([], []))
                wides.append(wide)
                numbers.append((file, item.index))
    return [(wide_dataset(wides, numbers), numbers) for wides, numbers in groups.values()]


def profile_rows(frame: Any) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Sounding rows (STATION_KEYS first) split into launches: each row's
    station and level, and the first row of each station. A launch starts
    where the station or the launch time changes."""
    ident = frame["WMO_station_id"].to_numpy(dtype=float, na_value=np.nan)
    time = frame["data_datetime"].to_numpy()
    if not len(frame):
        return np.zeros(0, np.int64), np.zeros(0, np.int64), np.zeros(0, np.int64)
    same_ident = (ident[1:] == ident[:-1]) | (np.isnan(ident[1:]) & np.isnan(ident[:-1]))
    same_time = (time[1:] == time[:-1]) | (np.isnat(time[1:]) & np.isnat(time[:-1]))
    change = np.r_[True, ~(same_ident & same_time)]
    station = np.cumsum(change) - 1
    starts = np.flatnonzero(change)
    return station, np.arange(len(frame)) - starts[station], starts


def profile_dataset(frame: Any) -> Any:
    """Observation rows of soundings (STATION_KEYS and PROFILE_KEYS) as a
    Dataset of (station, level): a station starts where the station or the
    launch time changes."""
    xr = xarray()
    ident, time = frame["WMO_station_id"].to_numpy(dtype=float, na_value=np.nan), frame["data_datetime"].to_numpy()
    station, level, starts = profile_rows(frame)
    shape = (len(starts), int(level.max()) + 1 if len(frame) else 0)
    variables = {}
    for key in PROFILE_KEYS:
        grid = np.full(shape, np.nan)
        grid[station, level] = frame[key].to_numpy(dtype=float, na_value=np.nan)
        name, unit = STANDARD[key]
        variables[key] = xr.Variable(("station", "level"), grid, {"standard_name": name, "units": unit},
                                     encoding={"_FillValue": np.nan})
    coords = {"station_id": xr.Variable("station", ident[starts], {"long_name": "WMO station number",
                                                                   "cf_role": "profile_id"},
                                        encoding={"_FillValue": np.nan}),
              "time": xr.Variable("station", time[starts], {"standard_name": "time"}),
              "latitude": xr.Variable("station", frame["latitude"].to_numpy(float)[starts],
                                      {"standard_name": "latitude", "units": "degrees_north"}),
              "longitude": xr.Variable("station", frame["longitude"].to_numpy(float)[starts],
                                       {"standard_name": "longitude", "units": "degrees_east"})}
    return xr.Dataset(variables, coords=coords, attrs={"Conventions": CONVENTIONS, "featureType": "profile",
                                                       "source": "BUFR, decoded by skyrec"})


def profiles(sources: Sequence[Any], tables: TableSource, errors: list[dict[str, Any]]) -> Any:
    from ..observations import read_observations

    frame = read_observations(sources, [*STATION_KEYS, *PROFILE_KEYS], required_columns=["pressure"], tables=tables)
    errors.extend(read_errors(frame.attrs["errors"]))
    return profile_dataset(frame)


def is_upper_air(sources: Sequence[Any]) -> bool:
    from ..header_frames import read_headers

    categories = {int(c) for s in sources for c in read_headers(s)["category"][lambda h: h.notna()]}
    return categories == {UPPER_AIR_CATEGORY}


def datasets(sources: Sequence[Any], tables: TableSource, kind: str = "auto") -> tuple[list[Any], list[dict[str, Any]]]:
    """The Datasets of `sources`: kind "profiles" (soundings), "subsets" (one
    per layout) or "auto" (profiles when every message is an upper-air
    sounding), and the messages left out."""
    errors: list[dict[str, Any]] = []
    if kind == "auto":
        kind = "profiles" if is_upper_air(sources) else "subsets"
    if kind == "profiles":
        return [profiles(sources, tables, errors)], errors
    if kind != "subsets":
        raise ValueError(f"kind must be auto, subsets or profiles, not {kind!r}")
    return [dataset for dataset, _ in layouts(sources, tables, errors)], errors


def write_netcdf(found: Sequence[Any], out: str | os.PathLike[str]) -> None:
    """One dataset at the root of the file, several as groups layout_0, ..."""
    need("netCDF4", "netcdf", "NetCDF output")
    if len(found) == 1:
        found[0].to_netcdf(out, engine="netcdf4")
        return
    for number, dataset in enumerate(found):
        dataset.to_netcdf(out, mode="w" if number == 0 else "a", group=f"layout_{number}", engine="netcdf4")
