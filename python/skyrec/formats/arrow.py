"""Tables written as Parquet or Arrow IPC files, with the messages they
leave out in their schema metadata (the tables themselves are made from
NumPy columns: see arrow_columns)."""

from __future__ import annotations

import json
import os
from collections.abc import Iterable, Mapping, Sequence
from typing import Any

from ..gts import FIELDS as GTS_FIELDS
from .arrow_columns import columns_arrow as columns_arrow
from .arrow_columns import pyarrow as pyarrow
from .extras import need

# The columns a partitioned dataset is split by, from each message's header.
PARTITIONS = ("category", "date")
# Schema metadata holding the messages a table leaves out, as JSON.
ERRORS_KEY = b"skyrec.errors"


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


def statistics_columns(table: Any) -> list[str]:
    """The columns whose Parquet statistics are written: not the GTS heading
    fields, most often missing throughout (as statistics they would cost a
    file without headings more than its values do)."""
    return [name for name in table.schema.names if name not in GTS_FIELDS]


def write_tables(tables: Iterable[Any], out: str | os.PathLike[str], to: str, errors: list[Any]) -> int:
    """Writes the tables (one schema) to `out` as `to` ("parquet" or
    "arrow"), with the messages left out (`errors`, filled while `tables` is
    consumed), and returns the rows written. (Datasets: see partitions.)"""
    pa = pyarrow()
    rows = 0
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
                writer = pq.ParquetWriter(os.fspath(out), table.schema, write_statistics=statistics_columns(table))
            writer.write_table(table)
            rows += table.num_rows
    finally:
        if writer is not None:
            writer.add_key_value_metadata({ERRORS_KEY: errors_json(errors)})
            writer.close()
    return rows
