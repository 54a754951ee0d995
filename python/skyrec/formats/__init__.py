"""BUFR to the formats people analyse it in.

    skyrec.convert("obs/*.bufr", "obs.parquet")                      # every value, one row each
    skyrec.convert("synop/*.bufr", "archive", "parquet", partition=True)  # category=/date=/ dataset
    skyrec.convert("synop.bufr", "obs.arrow", "arrow", columns=["WMO_station_id", "airTemperature"])
    skyrec.convert("synop.bufr", "obs.geojson", "geojson")           # a Feature per observed value
    skyrec.convert("mhs.bufr", "mhs.nc", "netcdf")                  # subsets, or soundings as profiles

What is written: the long values (read_block's rows, with each message's
file, category and date), the observation rows of `columns` (as
read_observations gives them), or with headers=True the headers
(read_headers'). Messages that cannot be read are left out and listed in
what is returned and, for Arrow and Parquet, in the output (see
skyrec.formats.arrow.errors_of). Needs pyarrow for Arrow and Parquet
('skyrec[arrow]'), xarray and netCDF4 for NetCDF ('skyrec[netcdf]').
"""

from __future__ import annotations

import os
from collections.abc import Iterator, Mapping, Sequence
from contextlib import contextmanager
from dataclasses import dataclass, field
from typing import Any, TextIO

from .. import observations  # noqa: F401  (first: without NumPy and pandas it says so in one line)
from ..format_names import FORMATS, TEXT_FORMATS
from ..paths import expand_sources
from ..table_cache import tables_of
from . import arrow, gather, geojson, left_out, netcdf, partitions

__all__ = ["FORMATS", "Converted", "convert", "headers_table", "observations_table", "values_table", "to_geojson",
           "to_xarray"]


@dataclass
class Converted:
    """What a conversion wrote: rows (or features), and the messages left out;
    nothing at all (not `written`) when no input holds a message."""

    out: str
    rows: int
    errors: list[dict[str, Any]] = field(default_factory=list)
    written: bool = True


def _values(sources: Sequence[Any], options: Mapping[str, Any], errors: list[dict[str, Any]]) -> Iterator[Any]:
    for values, failed in gather.each_file_values(sources, tables_of(options)):
        errors.extend(left_out.read_errors(failed))
        yield values


def _value_columns(sources: Sequence[Any], options: Mapping[str, Any],
                   errors: list[dict[str, Any]]) -> Iterator[dict[str, Any]]:
    """Each file's values, as column_kinds has them."""
    tables = tables_of(options)
    for source in sources:
        values, failed = gather.file_columns(source, tables)
        errors.extend(left_out.read_errors(failed))
        yield values


def _value_tables(sources: Sequence[Any], options: Mapping[str, Any], errors: list[dict[str, Any]]) -> Iterator[Any]:
    """Each file's values as a Table, straight from its columns."""
    return (arrow.columns_arrow(values) for values in _value_columns(sources, options, errors))


def values_table(sources: Any, **tables: Any) -> Any:
    """Every value of `sources` (paths, globs or bytes) as one pyarrow Table:
    read_block's columns, each message's file, category and date."""
    errors: list[dict[str, Any]] = []
    parts = list(_value_tables(expand_sources(sources), tables, errors))
    return arrow.with_errors(arrow.pyarrow().concat_tables(parts).unify_dictionaries(), errors)


def observations_table(sources: Any, columns: Sequence[str], *, filters: Mapping[str, Any] | None = None,
                       **tables: Any) -> Any:
    """read_observations' rows as a pyarrow Table."""
    found, order, errors = gather.observation_columns(expand_sources(sources), columns, filters, tables_of(tables))
    return arrow.columns_table(found, order, errors)


def headers_table(sources: Any) -> Any:
    """read_headers' rows of every file as a pyarrow Table."""
    return arrow.columns_arrow(gather.header_columns(expand_sources(sources)))


def to_geojson(sources: Any, **tables: Any) -> dict[str, Any]:
    """A GeoJSON FeatureCollection (see skyrec.formats.geojson) as a dict;
    its "errors" lists the messages left out."""
    errors: list[dict[str, Any]] = []
    found = [f for frame in _values(expand_sources(sources), tables, errors) for f in geojson.features(frame)]
    return {"type": "FeatureCollection", "features": found, "errors": errors}


def to_xarray(sources: Any, kind: str = "auto", **tables: Any) -> list[Any]:
    """xarray Datasets (see skyrec.formats.netcdf): one of profiles, or one
    per layout of subsets; the first counts the messages left out in
    attrs["skipped_messages"]."""
    found, errors = netcdf.datasets(expand_sources(sources), tables_of(tables), kind)
    if found:
        found[0].attrs["skipped_messages"] = len(errors)
    return found


def _check(to: str, columns: Sequence[str] | None, headers: bool, partition: bool, kind: str) -> None:
    if to not in FORMATS:
        raise ValueError(f"to must be one of {', '.join(FORMATS)}, not {to!r}")
    if partition and to != "parquet":
        raise ValueError("only Parquet is written as a partitioned dataset")
    if kind != "auto" and to != "netcdf":
        raise ValueError("kind chooses how NetCDF holds the messages: it goes with NetCDF only")
    if partition and headers:
        raise ValueError("headers are written as one file, not as a partitioned dataset")
    if columns is not None and headers:
        raise ValueError("choose observation columns or headers, not both")
    if to == "netcdf" and (columns is not None or headers):
        raise ValueError("NetCDF is written from whole messages: it takes no columns and no headers")
    if to == "geojson" and (columns is not None or headers):
        raise ValueError("GeoJSON holds every observed value: it takes no columns and no headers")


def convert(sources: Any, out: str | os.PathLike[str] | TextIO, to: str = "parquet", *,
            columns: Sequence[str] | None = None, filters: Mapping[str, Any] | None = None, headers: bool = False,
            partition: bool = False, kind: str = "auto", **tables: Any) -> Converted:
    """Writes `sources` (a path, a glob, a list of them, or bytes) to `out` in
    the format `to` (one of FORMATS); see the module's text. partition=True
    writes Parquet as a directory split by category and date. `kind` is
    to_xarray's. CSV and GeoJSON may go to an open text stream. Table
    options as read_block's."""
    _check(to, columns, headers, partition, kind)
    items = expand_sources(sources)
    errors: list[dict[str, Any]] = []
    stream = None if isinstance(out, (str, os.PathLike)) else out
    if stream is not None and to not in TEXT_FORMATS:
        raise ValueError(f"only {' and '.join(TEXT_FORMATS)} are written to a stream, not {to}")
    target = os.fspath(out) if isinstance(out, (str, os.PathLike)) else "<stream>"
    if not left_out.any_message(items):  # nothing to write: no output is made
        return Converted(target, 0, [left_out.file_row(gather.label(item)) for item in items], written=False)
    if to == "netcdf" or headers:  # these readers do not report input without messages
        errors.extend(left_out.empty_files(items, [gather.label(item) for item in items]))
    if to == "netcdf":
        found, unwritten = netcdf.datasets(items, tables_of(tables), kind)
        errors.extend(row for row in unwritten if row not in errors)
        if not found:
            raise ValueError("no message of the input could be written as NetCDF"
                             + "".join(f"; {e['file']}: {e['error']}" for e in errors if e["message"] < 0))
        netcdf.write_netcdf(found, target)
        return Converted(target, sum(d.sizes.get("subset", d.sizes.get("station", 0)) for d in found), errors)
    if columns is not None and to not in TEXT_FORMATS:  # straight to Arrow, no frame made
        rows, order, failed = gather.observation_columns(items, columns, filters, tables_of(tables), partition)
        errors.extend(left_out.read_errors(failed))
        if partition:
            return Converted(target, partitions.write_partitioned(iter([(rows, order)]), target, errors), errors)
        return Converted(target, arrow.write_tables(iter([arrow.columns_arrow(rows, order)]), target, to, errors),
                         errors)
    if partition:
        parts = ((values, list(values)) for values in _value_columns(items, tables, errors))
        return Converted(target, partitions.write_partitioned(parts, target, errors), errors)
    if to not in TEXT_FORMATS:
        tables_out = iter([headers_table(items)]) if headers else _value_tables(items, tables, errors)
        return Converted(target, arrow.write_tables(tables_out, target, to, errors), errors)
    frames: Iterator[Any]
    if headers:
        frames = iter([gather.headers(items)])
    elif columns is not None:
        frame = gather.observations(items, columns, filters, tables_of(tables), partition)
        errors.extend(left_out.read_errors(frame.attrs["errors"]))
        frames = iter([frame])
    else:
        frames = _values(items, tables, errors)
    with _text_output(stream, target) as f:
        write = geojson.write_collection if to == "geojson" else _write_csv
        return Converted(target, write(frames, f), errors)


@contextmanager
def _text_output(stream: TextIO | None, target: str) -> Iterator[TextIO]:
    if stream is not None:
        yield stream
        return
    with open(target, "w", encoding="utf-8", newline="") as f:
        yield f


def _write_csv(frames: Iterator[Any], out: TextIO) -> int:
    rows = 0
    for number, frame in enumerate(frames):
        frame.to_csv(out, index=False, header=number == 0, lineterminator="\n")
        rows += len(frame)
    return rows
