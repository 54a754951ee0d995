"""A typed use of skyrec and _skyrec: mypy --strict checks it against the
stubs and annotations, and it runs (from the repository root)."""

from __future__ import annotations

from pathlib import Path
from typing import assert_type

import _skyrec
import skyrec
from skyrec import BufrMessage, Decoded, DecodedValue, MessageError, TableSet, TableSource

SAMPLE = "examples/sample.bufr"
TABLES = "examples/tables"


def station_names(path: str, source: TableSource) -> list[str]:
    names = []
    for item in skyrec.read_messages(path, tables=source):
        assert_type(item, Decoded)
        assert_type(item.error, MessageError | None)
        if item.values is None:
            continue
        assert_type(item.values, list[DecodedValue])
        names += [v.raw_text for v in item.values if v.descriptor == 1015 and v.raw_text is not None]
    return names


def main() -> None:
    message = skyrec.parse_file(SAMPLE)
    assert_type(message, BufrMessage)
    assert_type(message.number_of_subsets, int)
    assert_type(message.compressed_data, bool)
    assert_type(message.unexpanded_descriptors, list[int])
    assert_type(_skyrec.parse_all_bytes(Path(SAMPLE).read_bytes()), list[BufrMessage])

    tables = TableSet.from_eccodes(TABLES)
    element = tables.get_element(12101)
    assert element is not None
    assert_type(element.unit, str)
    assert_type(element.scale, int)
    assert_type(tables.get_meaning(20003, 61), str | None)
    assert_type(tables.expand([301011, skyrec.Descriptor(3, 1, 12).fxy]), list[int])
    sequence = tables.get_sequence(301011)
    assert sequence is not None and sequence.members == [4001, 4002, 4003]

    values = _skyrec.decode_values_with_tables(Path(SAMPLE).read_bytes(), tables)
    assert_type(values, list[DecodedValue])
    assert_type(values[0].data, str | float | None)
    assert_type(values[0].raw_value, float | None)

    source = skyrec.find_tables(table_dir=TABLES)
    assert_type(source, TableSource)
    assert station_names(SAMPLE, source) == ["DE BILT", "LONDON HEATHROW"]
    assert_type(source.for_message(message), TableSet)

    found = skyrec._native.next_message(Path(SAMPLE).read_bytes(), 0)
    assert found is not None
    start, length, _, framed, error, _ = found
    assert_type(framed, BufrMessage | None)
    assert (start, length, error) == (0, 158, None)

    try:
        skyrec.find_tables(definitions="/nowhere")
    except skyrec.TablesNotFound as e:
        assert_type(e, skyrec.TablesNotFound)


if __name__ == "__main__":
    main()
