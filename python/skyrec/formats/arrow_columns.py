"""NumPy columns as a pyarrow Table without pandas: each array handed to
pyarrow as it is (numbers and times keep their buffers, missing values
become a validity bitmap), categories as dictionary arrays of their codes,
and the schema's pandas metadata written as pandas would write it, so that
to_pandas() gives back the frame the columns make (nullable integers,
categories and all)."""

from __future__ import annotations

import json
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np

from ..column_kinds import Coded, Nullable, Texts, missing_of
from .extras import need


def pyarrow() -> Any:
    return need("pyarrow", "arrow", "Arrow and Parquet output")


def _described(name: str, pandas_type: str, numpy_type: str, metadata: Any = None) -> dict[str, Any]:
    return {"name": name, "field_name": name, "pandas_type": pandas_type, "numpy_type": numpy_type,
            "metadata": metadata}


def _validity(pa: Any, missing: np.ndarray) -> tuple[Any, int]:
    """The validity bitmap of the rows not `missing` (None when all are
    present), and how many are missing."""
    count = int(np.count_nonzero(missing))
    return (pa.py_buffer(np.packbits(~missing, bitorder="little")) if count else None), count


def _fixed(pa: Any, kind: Any, values: np.ndarray, missing: np.ndarray) -> Any:
    """Fixed-width values handed over in their own buffer."""
    validity, count = _validity(pa, missing)
    data = np.ascontiguousarray(values)
    return pa.Array.from_buffers(kind, len(values), [validity, pa.py_buffer(data)], null_count=count)


def _large_strings(pa: Any, texts: Sequence[Any], missing: np.ndarray) -> Any:
    encoded = [b"" if gone else str(text).encode() for text, gone in zip(texts, missing)]
    offsets = np.zeros(len(encoded) + 1, np.int64)
    np.cumsum([len(e) for e in encoded], out=offsets[1:])
    validity, count = _validity(pa, missing)
    return pa.Array.from_buffers(pa.large_string(), len(encoded),
                                 [validity, pa.py_buffer(offsets), pa.py_buffer(b"".join(encoded))], null_count=count)


def _dictionary(pa: Any, codes: np.ndarray, texts: Sequence[str]) -> Any:
    """Codes (-1 where missing) into `texts`, each distinct text encoded once."""
    if not texts:  # every code missing (a GTS field of a file without headings): nothing to hand over
        return pa.nulls(len(codes), pa.dictionary(pa.int32(), pa.large_string()))
    codes = np.asarray(codes, np.int32)
    indices = _fixed(pa, pa.int32(), codes, codes < 0)
    return pa.DictionaryArray.from_arrays(indices, _large_strings(pa, texts, np.zeros(len(texts), bool)))


def _as_texts(values: np.ndarray) -> Texts:
    """Texts made one by one (WIGOS identifiers, dates) as Texts, each distinct one numbered once."""
    missing = missing_of(values)
    index: dict[Any, int] = {}
    codes = np.full(len(values), -1, np.int32)
    codes[~missing] = [index.setdefault(v, len(index)) for v in values[~missing]]
    return Texts(codes, list(index))


def column_array(pa: Any, name: str, column: Any) -> tuple[Any, dict[str, Any]]:
    """One column as a pyarrow array and its pandas description."""
    if isinstance(column, Nullable):
        kind = column.values.dtype  # pandas names its nullable integers Int64, UInt64...
        masked = str(kind).capitalize().replace("Uint", "UInt")
        return _fixed(pa, pa.from_numpy_dtype(kind), column.values, column.missing), _described(name, str(kind), masked)
    if isinstance(column, Texts):
        if (column.codes < 0).all():  # no text at all, as pandas has it: a column of nothing
            return pa.nulls(len(column.codes)), _described(name, "empty", "object")
        return _dictionary(pa, column.codes, column.texts).dictionary_decode(), _described(name, "unicode", "object")
    if isinstance(column, Coded):
        array = _dictionary(pa, column.codes, column.texts)
        return array, _described(name, "categorical", "int32", {"num_categories": len(column.texts),
                                                                "ordered": False})
    if column.dtype == object:
        return column_array(pa, name, _as_texts(column))
    kind = column.dtype.kind
    if kind == "M":  # NaT is a missing value, as it is in the frame
        unit = np.datetime_data(column.dtype)[0]
        return (_fixed(pa, pa.timestamp(unit), column.view(np.int64), np.isnat(column)),
                _described(name, "datetime", str(column.dtype)))
    if kind == "b":
        validity = pa.py_buffer(np.packbits(column, bitorder="little"))
        return pa.Array.from_buffers(pa.bool_(), len(column), [None, validity]), _described(name, "bool", "bool")
    # NaN is a missing value, as it is in the frame.
    missing = np.isnan(column) if kind == "f" else np.zeros(len(column), bool)
    return _fixed(pa, pa.from_numpy_dtype(column.dtype), column, missing), _described(name, str(column.dtype),
                                                                                       str(column.dtype))


def columns_arrow(columns: Mapping[str, Any], order: Sequence[str] | None = None,
                  metadata: Mapping[bytes, bytes] | None = None) -> Any:
    """`columns` (NumPy arrays, Nullable, Coded) as a pyarrow Table, in
    `order` (a name may come twice), `metadata` added to its schema."""
    pa = pyarrow()
    names = list(columns) if order is None else list(order)
    made = {name: column_array(pa, name, column) for name, column in columns.items()}
    pandas = {"index_columns": [], "column_indexes": [], "columns": [made[name][1] for name in names],
              "attributes": {}, "creator": {"library": "pyarrow", "version": pa.__version__}}
    schema = pa.schema([pa.field(name, made[name][0].type) for name in names],
                       metadata={b"pandas": json.dumps(pandas).encode(), **(metadata or {})})
    return pa.Table.from_arrays([made[name][0] for name in names], schema=schema)
