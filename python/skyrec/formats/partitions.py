"""Observation columns written as a partitioned Parquet dataset, split by
their messages' category and date on the NumPy side, so that no pandas (which
pyarrow's dataset writer brings in) is needed."""

from __future__ import annotations

import os
from collections.abc import Iterator, Mapping, Sequence
from typing import Any

import numpy as np

from ..observation_values import rows_of
from .arrow import PARTITIONS, dataset_errors, new_dataset
from .arrow_columns import Coded, columns_arrow
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


def write_partitioned(columns: Mapping[str, Any], order: Sequence[str], out: str | os.PathLike[str],
                      errors: list[Any]) -> int:
    """Writes the columns as a hive-style dataset at `out` (see
    write_tables) and returns the rows written."""
    pq = need("pyarrow.parquet", "arrow", "Parquet output")
    new_dataset(out)
    rows = 0
    for where, table in partition_tables(columns, order):
        os.makedirs(os.path.join(out, where), exist_ok=True)
        pq.write_table(table, os.path.join(out, where, "part-0-0.parquet"))
        rows += table.num_rows
    dataset_errors(out, errors)
    return rows
