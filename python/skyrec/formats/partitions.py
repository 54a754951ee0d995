"""Columns (values or observation rows) written as a partitioned Parquet
dataset, split by their messages' category and date on the NumPy side, so
that no pandas (which pyarrow's dataset writer brings in) is needed."""

from __future__ import annotations

import os
from collections.abc import Iterable, Iterator, Mapping, Sequence
from typing import Any

import numpy as np

from ..column_kinds import Coded, rows_of
from .arrow import PARTITIONS, errors_json, statistics_columns
from .arrow_columns import columns_arrow
from .extras import need

# The directory name of a partition whose value is missing, as hive (and pyarrow) name it.
HIVE_NULL = "__HIVE_DEFAULT_PARTITION__"


def partition_tables(columns: Mapping[str, Any], order: Sequence[str]) -> Iterator[tuple[str, Any]]:
    """Each (category, date) of the rows: its directory (category=0/date=2024-01-02)
    and its rows as a Table, without the partition columns (the path holds them)."""
    category, date = np.asarray(columns["category"]), columns["date"]
    assert isinstance(date, Coded)
    groups, group_of = np.unique(category.astype(np.int64) * (len(date.texts) + 1) + date.codes + 1,
                                 return_inverse=True)
    group_of = group_of.reshape(-1)
    rest = [name for name in order if name not in PARTITIONS]
    for group in range(len(groups)):
        rows = group_of == group
        first = int(np.argmax(rows))
        code = int(date.codes[first])
        where = f"category={int(category[first])}/date={date.texts[code] if code >= 0 else HIVE_NULL}"
        yield where, columns_arrow({name: rows_of(columns[name], rows) for name in rest}, rest)


def write_partitioned(parts: Iterable[tuple[Mapping[str, Any], Sequence[str]]], out: str | os.PathLike[str],
                      errors: list[Any]) -> int:
    """Writes each part (columns and their order; its files numbered) as
    a directory of Parquet files split by category and date
    (category=0/date=2024-01-02/part-0-0.parquet), hive style, which DuckDB
    and Polars read as it is; its messages left out (`errors`, filled while
    `parts` is consumed) in _errors.json there, which readers of datasets
    pass over. Returns the rows written."""
    pq = need("pyarrow.parquet", "arrow", "Parquet output")
    if os.path.isdir(out) and os.listdir(out):  # its files would mix with those of another archive
        raise ValueError(f"{os.fspath(out)} is a directory that holds files already: name a new one")
    rows = 0
    for number, (columns, order) in enumerate(parts):
        for where, table in partition_tables(columns, order):
            os.makedirs(os.path.join(out, where), exist_ok=True)
            pq.write_table(table, os.path.join(out, where, f"part-{number}-0.parquet"),
                           write_statistics=statistics_columns(table))
            rows += table.num_rows
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "_errors.json"), "wb") as f:
        f.write(errors_json(errors))
    return rows
