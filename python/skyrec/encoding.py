"""Writing BUFR: a decoded message again (changed or not), subsets from
scratch, or a wide table, each into the bytes of one message.

    data = skyrec.encode(item)                                  # a Decoded, as it was
    data = skyrec.encode(item, values={"#1#airTemperature": 280.15}, compressed=True)
    data = skyrec.encode([307080], [{"stationNumber": 260, ...}], header={"dataCategory": 0})
    data = skyrec.encode(wide)                                  # a Wide, compressed

The core (src/encode) writes with the interpreter lock released. Tables
come from the same sources as for reading, chosen by the header's versions.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Literal

from _skyrec import DecodedValue, TableSet

from . import _native
from .columns import message_columns
from .header import DEFAULT_HEADER, header_fields, merged, of_message
from .reader import Decoded
from .tables import TableSource
from .templates import Element, Replication, Template, template, writing_tables
from .wide_table import Wide

if TYPE_CHECKING:
    import numpy as np

__all__ = ["EncodeError", "encode", "encoded_messages", "wide_from_array"]

OutOfRange = Literal["raise", "missing"]
# What stands for "missing" besides None and NaN.
_MISSING_TYPES = ("MaskedConstant", "NAType", "NaTType")


class EncodeError(ValueError):
    """Values, descriptors or a header that cannot be written, and why."""


def _keep_section2(header: Mapping[str, Any] | None) -> Any:
    if header is not None and "section2" in header:
        return header["section2"]
    return True


def _out_of_range(on_out_of_range: str) -> bool:
    if on_out_of_range not in ("raise", "missing"):
        raise ValueError(f'on_out_of_range must be "raise" or "missing", not {on_out_of_range!r}')
    return on_out_of_range == "missing"


def _fields(base: Mapping[str, int], header: Mapping[str, Any] | None, compressed: bool | None,
            edition: int | None) -> tuple[int, ...]:
    full = merged(base, header)
    if compressed is not None:
        full["compressedData"] = int(compressed)
    if edition is not None:
        full["edition"] = edition
    elif full["edition"] not in (2, 3, 4):
        full["edition"] = 4
    return header_fields(full)


def encode(what: Any, subsets: Any = None, *, header: Mapping[str, Any] | None = None,
           compressed: bool | None = None, edition: int | None = None, values: Any = None,
           on_out_of_range: OutOfRange = "raise", tables: TableSet | TableSource | None = None,
           table_dir: str | os.PathLike[str] | None = None, definitions: str | os.PathLike[str] | None = None,
           wmo_csv: str | os.PathLike[str] | None = None) -> bytes:
    """One message's bytes.

    - encode(decoded, ...): a Decoded of read_messages, its raw integers and
      text bytes as they were, with `values` changed (a mapping from
      `#rank#key`, `key` or position within the subset to the new value, for
      every subset, or a sequence of such mappings, one per subset).
    - encode(wide): a Wide of read_wide or wide_from_array, compressed.
    - encode(descriptors, subsets): each subset a mapping from `key` or
      `#rank#key` to its value (a list for a key repeated in replications;
      under a delayed replication's factor, a list of mappings, one per pass),
      a sequence of values in expanded order (replication factors and
      operator markers included, as DecodedValue lists hold them), or a
      pandas DataFrame with one row per subset.

    None, NaN and masked values are missing. A value the field cannot hold is
    refused (EncodeError) or, with on_out_of_range="missing", written missing.
    `header` sets section 1 by ecCodes' key names (typicalDate as YYYYMMDD,
    section2 as bytes or None), `compressed` and `edition` (2, 3 or 4) the rest."""
    missing = _out_of_range(on_out_of_range)
    try:
        if isinstance(what, Decoded):
            return _encode_decoded(what, header, compressed, edition, values, missing)
        if isinstance(what, Wide):
            return _encode_wide(what, header, compressed, edition, missing)
        if subsets is None:
            raise TypeError("encode takes a Decoded, a Wide, or descriptors and their subsets")
        descriptors = [int(d) for d in what]
        full = merged(DEFAULT_HEADER, header)
        table_set = writing_tables(tables, table_dir, definitions, wmo_csv, None, full)
        rows = _subset_rows(descriptors, subsets, table_set)
        return bytes(_native.encode_values(descriptors, rows, table_set,
                                           _fields(DEFAULT_HEADER, header, compressed, edition),
                                           header.get("section2") if header else None, missing))
    except ValueError as e:
        if isinstance(e, EncodeError):
            raise
        raise EncodeError(str(e)) from None


def _encode_decoded(item: Decoded, header: Mapping[str, Any] | None, compressed: bool | None,
                    edition: int | None, values: Any, missing: bool) -> bytes:
    if item.error is not None or item.message is None or item.data is None or item.table_set is None:
        raise EncodeError(f"message {item.index} at offset {item.offset} was not decoded: {item.error}")
    message = item.message
    changes = _changes(item, values) if values is not None else None
    own = header is None and compressed is None and edition is None
    fields = None if own else _fields(of_message(message), header, compressed, edition)
    return bytes(_native.reencode(item.data, 0, message, item.table_set, fields, _keep_section2(header), changes,
                                  missing))


def _subset_keys(item: Decoded) -> list[list[str | None]]:
    """Each subset's values as `#rank#key` labels (None for values without a
    key), as the core keys and ranks them: from the item's columns, or those
    of its message when it holds DecodedValue lists."""
    assert item.message is not None and item.data is not None and item.table_set is not None
    c = item.columns if item.columns is not None else message_columns(item.data, 0, item.message, item.table_set)
    keys = [c.keys[k] if k >= 0 else None for k in c.key_code.tolist()]
    ranked = [f"#{r}#{k}" if k and r else None for k, r in zip(keys, c.rank.tolist())]
    ends = [*item.subset_starts[1:], len(ranked)]
    return [ranked[s:e] for s, e in zip(item.subset_starts, ends)]


def _changes(item: Decoded, values: Any) -> list[tuple[int, int, Any]]:
    per_subset = [values] * len(item.subset_starts) if isinstance(values, Mapping) else list(values)
    if len(per_subset) != len(item.subset_starts):
        raise EncodeError(f"values has {len(per_subset)} mappings for {len(item.subset_starts)} subsets")
    labels = _subset_keys(item)
    out = []
    for j, changes in enumerate(per_subset):
        if not changes:
            continue
        where = {label: i for i, label in reversed(list(enumerate(labels[j]))) if label is not None}
        for key, value in changes.items():
            if isinstance(key, int):
                position = key
            else:
                label = key if key.startswith("#") else f"#1#{key}"
                if label not in where:
                    raise EncodeError(f"subset {j} has no value {key!r}")
                position = where[label]
            out.append((j, position, _plain(value)))
    return out


def _plain(value: Any) -> Any:
    """None for every kind of missing value; NumPy scalars as Python numbers."""
    if value is None or type(value).__name__ in _MISSING_TYPES:
        return None
    if isinstance(value, (str, bytes, bytearray, int, float, DecodedValue)):
        return value
    item = getattr(value, "item", None)
    return item() if item is not None else value


def _is_list(value: Any) -> bool:
    return isinstance(value, (list, tuple)) or type(value).__name__ == "ndarray"


def _subset_rows(descriptors: list[int], subsets: Any, table_set: TableSet) -> list[Sequence[Any]]:
    if type(subsets).__name__ == "DataFrame":
        subsets = [{k: v for k, v in row.items()} for row in subsets.to_dict("records")]
    rows: list[Sequence[Any]] = []
    plan: Template | None = None
    for j, subset in enumerate(subsets):
        if isinstance(subset, Mapping):
            if plan is None:
                plan = template(descriptors, tables=table_set)
                if not plan.ranked:
                    raise EncodeError("these descriptors take values that a bitmap chooses: give each subset "
                                      "as a sequence of values in expanded order")
            out: list[Any] = []
            _lay_all(plan.items, subset, {}, out, f"subset {j}", "the descriptors")
            rows.append(out)
        else:
            rows.append([_plain(v) for v in subset])
    return rows


def _lay_all(items: Sequence[Element | Replication], mapping: Mapping[str, Any], ranks: dict[str, int],
             out: list[Any], where: str, of: str) -> None:
    """_lay, every key of `mapping` used: a key that matches nothing is an error."""
    used: set[str] = set()
    _lay(items, mapping, ranks, used, out)
    unused = [k for k in mapping if k not in used]
    if unused:
        raise EncodeError(f"{where}: {', '.join(map(repr, unused))} matches no value of {of}")


def _value(entry: Element, mapping: Mapping[str, Any], ranks: dict[str, int], used: set[str]) -> Any:
    if entry.key is None or entry.kind == "reference":
        return None
    rank = ranks[entry.key] = ranks.get(entry.key, 0) + 1
    label = f"#{rank}#{entry.key}"
    if label in mapping:
        used.add(label)
        return _plain(mapping[label])
    if entry.key not in mapping:
        return None
    used.add(entry.key)
    value = mapping[entry.key]
    if _is_list(value):
        return _plain(value[rank - 1]) if rank <= len(value) else None
    return _plain(value) if rank == 1 else None


def _passes(rep: Replication, mapping: Mapping[str, Any], ranks: dict[str, int]) -> tuple[str, list[Any]] | None:
    """The repetitions given as a list of mappings under the factor's label
    (or its key, for its first occurrence), one mapping per pass."""
    assert rep.factor is not None and rep.factor.key is not None
    key = rep.factor.key
    label = f"#{ranks.get(key, 0) + 1}#{key}"
    name = label if label in mapping else key if label == f"#1#{key}" and key in mapping else None
    if name is None or not _is_list(mapping[name]) or not all(isinstance(p, Mapping) for p in mapping[name]):
        return None
    return name, list(mapping[name])


def _count(rep: Replication, mapping: Mapping[str, Any], ranks: dict[str, int]) -> int:
    assert rep.factor is not None and rep.factor.key is not None
    label = f"#{ranks.get(rep.factor.key, 0) + 1}#{rep.factor.key}"
    if label in mapping:
        return int(mapping[label])
    # A list asks for a pass per value; a single value of a key not met yet, for one.
    counts = [len(mapping[e.key]) - ranks.get(e.key, 0) if _is_list(mapping[e.key]) else int(e.key not in ranks)
              for e in rep.body if isinstance(e, Element) and e.key is not None and e.key in mapping]
    return max([0, *counts])


def _lay(items: Sequence[Element | Replication], mapping: Mapping[str, Any], ranks: dict[str, int],
         used: set[str], out: list[Any]) -> None:
    for item in items:
        if isinstance(item, Element):
            out.append(_value(item, mapping, ranks, used))
            continue
        count = item.count
        if count is None:
            assert item.factor is not None and item.factor.key is not None
            given = _passes(item, mapping, ranks)
            if given is not None:
                used.add(given[0])
                _lay_passes(item, given[1], ranks, out)
                continue
            count = _count(item, mapping, ranks)
            _value(item.factor, mapping, ranks, used)
            out.append(count)
        for _ in range(count):
            _lay(item.body, mapping, ranks, used, out)


def _lay_passes(rep: Replication, passes: list[Mapping[str, Any]], ranks: dict[str, int], out: list[Any]) -> None:
    """Each pass's keys counted from its own start; the ranks after it as if
    the values had been given flat."""
    assert rep.factor is not None and rep.factor.key is not None
    key = rep.factor.key
    ranks[key] = ranks.get(key, 0) + 1
    out.append(len(passes))
    for j, one in enumerate(passes):
        own: dict[str, int] = {}
        _lay_all(rep.body, one, own, out, f"pass {j} of replication {rep.descriptor:06d}", "its body")
        for k, n in own.items():
            ranks[k] = ranks.get(k, 0) + n


def _encode_wide(wide: Wide, header: Mapping[str, Any] | None, compressed: bool | None, edition: int | None,
                 missing: bool) -> bytes:
    if wide.message is None or wide.table_set is None:
        raise EncodeError("this Wide was not read from a message; make one with wide_from_array")
    base = of_message(wide.message)
    fields = _fields(base, header, True if compressed is None else compressed, edition)
    texts = {c: list(column) for c, column in wide.texts.items()}
    return bytes(_native.encode_array(list(wide.message.unexpanded_descriptors), wide.values, texts,
                                      wide.table_set, fields, header.get("section2") if header else None,
                                      missing))


def wide_from_array(values: np.ndarray, descriptors: Sequence[int], *,
                    texts: Mapping[int, Sequence[str | bytes | None]] | None = None,
                    header: Mapping[str, Any] | None = None, on_out_of_range: OutOfRange = "raise",
                    tables: TableSet | TableSource | None = None, table_dir: str | os.PathLike[str] | None = None,
                    definitions: str | os.PathLike[str] | None = None,
                    wmo_csv: str | os.PathLike[str] | None = None) -> Wide:
    """A Wide from a 2-D float64 array, subsets x values in expanded order
    (NaN missing; `texts` gives character columns by index), as one
    compressed message of `descriptors` holds it: skyrec.encode(wide) writes it."""
    import numpy as np

    from .wide import message_wide

    full = merged(DEFAULT_HEADER, header)
    table_set = writing_tables(tables, table_dir, definitions, wmo_csv, None, full)
    array = np.asarray(values, dtype=np.float64)
    if array.ndim != 2:
        raise EncodeError(f"values must be 2-D (subsets x values), not {array.ndim}-D")
    try:
        data = bytes(_native.encode_array([int(d) for d in descriptors], array, dict(texts or {}), table_set,
                                          _fields(DEFAULT_HEADER, header, True, None),
                                          header.get("section2") if header else None, _out_of_range(on_out_of_range)))
    except ValueError as e:
        raise EncodeError(str(e)) from None
    found = _native.next_message(data, 0)
    assert found is not None and found[3] is not None and found[4] is None
    start, message = found[0], found[3]
    return message_wide(data, start, message, table_set)


def encoded_messages(messages: Iterable[bytes | bytearray | memoryview | Decoded]) -> Iterable[bytes]:
    """Each message's bytes, checked to be one whole message."""
    for i, m in enumerate(messages):
        data = encode(m) if isinstance(m, Decoded) else bytes(m)
        if len(data) < 12 or data[:4] != b"BUFR" or data[-4:] != b"7777" or \
                int.from_bytes(data[4:7], "big") != len(data):
            raise EncodeError(f"message {i} is not one whole BUFR message")
        yield data

