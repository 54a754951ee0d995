"""Frames as Arrow tables, written as Parquet, Arrow IPC files or a
partitioned Parquet dataset.

pyarrow takes the frames' NumPy arrays as they are: categorical columns
become dictionary arrays of their codes and distinct texts, nullable integer
columns keep their mask, so no Python object is made per value."""

from __future__ import annotations

import json
import os
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any

from .arrow_columns import columns_arrow as columns_arrow
from .arrow_columns import pyarrow as pyarrow
from .extras import need

if TYPE_CHECKING:
    import pandas as pd

# The columns a partitioned dataset is split by, from each message's header.
PARTITIONS = ("category", "date")
# Schema metadata holding the messages a table leaves out, as JSON.
ERRORS_KEY = b"skyrec.errors"


def to_arrow(frame: pd.DataFrame, errors: Sequence[Any] | None = None) -> Any:
    """`frame` as a pyarrow Table; `errors` (dicts), when given, kept as JSON
    in its schema metadata (see errors_of)."""
    pa = pyarrow()
    if frame.attrs:  # the errors are kept as errors, not as pandas' attributes
        frame = frame.copy(deep=False)
        frame.attrs = {}
    table = pa.Table.from_pandas(frame, preserve_index=False)
    # Dictionary indices as one type, so that tables of several files share a schema.
    fields = [field.with_type(pa.dictionary(pa.int32(), field.type.value_type))
              if pa.types.is_dictionary(field.type) else field for field in table.schema]
    table = table.cast(pa.schema(fields, metadata=table.schema.metadata))
    return table if errors is None else with_errors(table, errors)


def columns_table(columns: Mapping[str, Any], order: Sequence[str], errors: list[Any]) -> Any:
    """read_observations' columns (see row_columns) as a Table, the messages
    left out (MessageErrors) kept."""
    from .left_out import read_errors

    return columns_arrow(columns, order, {ERRORS_KEY: errors_json(read_errors(errors))})


def errors_json(errors: Iterable[dict[str, Any]]) -> bytes:
    return json.dumps(list(errors)).encode()


def with_errors(table: Any, errors: Iterable[Any]) -> Any:
    return table.replace_schema_metadata({**(table.schema.metadata or {}), ERRORS_KEY: errors_json(errors)})


def errors_of(written: Any) -> list[dict[str, Any]]:
    """The messages left out of a Table, or of what write_tables wrote at a
    path: a Parquet file (in its footer's metadata), an Arrow file or a
    dataset directory (its _errors.json)."""
    if isinstance(written, (str, os.PathLike)):
        path = os.fspath(written)
        if os.path.isdir(path):
            with open(os.path.join(path, "_errors.json"), "rb") as f:
                found: list[dict[str, Any]] = json.loads(f.read())
            return found
        pa = pyarrow()
        with pa.memory_map(path) as source:
            is_parquet = source.read(4) == b"PAR1"
        if is_parquet:
            metadata = need("pyarrow.parquet", "arrow", "Parquet input").read_metadata(path).metadata
        else:
            metadata = pa.ipc.open_file(path).schema.metadata
    else:
        metadata = written.schema.metadata
    found = json.loads((metadata or {}).get(ERRORS_KEY, b"[]"))
    return found


def new_dataset(out: str | os.PathLike[str]) -> None:
    if os.path.isdir(out) and os.listdir(out):  # its files would mix with those of another archive
        raise ValueError(f"{os.fspath(out)} is a directory that holds files already: name a new one")


def dataset_errors(out: str | os.PathLike[str], errors: list[Any]) -> None:
    """A dataset's messages left out, in its _errors.json."""
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "_errors.json"), "wb") as f:
        f.write(errors_json(errors))


def write_tables(tables: Iterable[Any], out: str | os.PathLike[str], to: str, errors: list[Any]) -> int:
    """Writes the tables (one schema) to `out` as `to` ("parquet", "arrow" or
    "dataset"), with the messages left out (`errors`, filled while `tables`
    is consumed), and returns the rows written. A dataset is a directory of
    Parquet files split by category and date (category=0/date=2024-01-02/),
    hive style, which DuckDB and Polars read as it is; its errors are in
    _errors.json there, which readers of datasets pass over."""
    pa = pyarrow()
    rows = 0
    if to == "dataset":
        ds = need("pyarrow.dataset", "arrow", "Parquet datasets")
        new_dataset(out)
        for number, table in enumerate(tables):
            rows += table.num_rows
            ds.write_dataset(table, out, format="parquet", partitioning=list(PARTITIONS), partitioning_flavor="hive",
                             basename_template=f"part-{number}-{{i}}.parquet",
                             existing_data_behavior="overwrite_or_ignore")
        dataset_errors(out, errors)
        return rows
    if to == "arrow":  # an IPC file keeps one dictionary per column
        whole = pa.concat_tables(list(tables)).unify_dictionaries().combine_chunks()
        whole = with_errors(whole, errors)
        with pa.OSFile(os.fspath(out), "wb") as sink, pa.ipc.new_file(sink, whole.schema) as writer:
            writer.write_table(whole)
        return int(whole.num_rows)
    pq = need("pyarrow.parquet", "arrow", "Parquet output")
    writer = None
    try:
        for table in tables:
            if writer is None:
                writer = pq.ParquetWriter(os.fspath(out), table.schema)
            writer.write_table(table)
            rows += table.num_rows
    finally:
        if writer is not None:
            writer.add_key_value_metadata({ERRORS_KEY: errors_json(errors)})
            writer.close()
    return rows
