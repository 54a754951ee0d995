"""Helpers for decoding tests: a table set of test elements, compressed
columns, and one call that builds and decodes a message."""

from __future__ import annotations

import itertools
import re
from pathlib import Path

import _skyrec
from bufrgen import BitWriter, build_message
from tablegen import Element, write_table_dir

TEMPERATURE = Element(12101, "TEMPERATURE", "K", scale=1, reference=-400, width=12)
ELEMENTS = [
    TEMPERATURE,
    Element(1015, "STATION NAME", "CCITT IA5", width=48),
    Element(1019, "SITE NAME", "CCITT IA5", width=24),
    Element(1001, "WMO BLOCK NUMBER", "Numeric", width=7),
    Element(1002, "WMO STATION NUMBER", "Numeric", width=10),
    Element(2001, "TYPE OF STATION", "CODE TABLE", width=2),
    Element(8042, "SOUNDING SIGNIFICANCE", "FLAG TABLE", width=18),
    Element(7004, "PRESSURE", "Pa", scale=-1, reference=0, width=14),
    Element(10004, "BIG", "Numeric", width=64),
    Element(10005, "EMPTY", "Numeric", width=0),
    Element(31000, "SHORT REPLICATION", "Numeric", width=1),
    Element(31001, "REPLICATION", "Numeric", width=8),
    Element(31002, "EXTENDED REPLICATION", "Numeric", width=16),
    Element(31021, "ASSOCIATED FIELD SIGNIFICANCE", "CODE TABLE", width=6),
    Element(31031, "DATA PRESENT INDICATOR", "FLAG TABLE", width=1),
    Element(33007, "PERCENT CONFIDENCE", "%", width=7),
    Element(1031, "GENERATING CENTRE", "CODE TABLE", width=16),
]
SEQUENCES = {301001: [1001, 1002], 301002: [301001, 12101]}
CODE_TABLES = {2001: {0: "AUTOMATIC", 1: "MANNED"}, 12101: {3132: "WARM"}}

# What one call may spend: a floor plus so much per byte of input.
FLOOR = {"values": 1024, "bytes of text": 65536, "descriptor steps": 4096}
PER_BYTE = {"values": 64, "bytes of text": 256, "descriptor steps": 64}

_dirs = itertools.count()


def bound_error(units: str, input_bytes: int, what: str = "section 4 decoding") -> str:
    """The error of a decode of `input_bytes` bytes that spends more `units` than it may."""
    bound = FLOOR[units] + PER_BYTE[units] * input_bytes
    return f"csv/table parse error: {what} exceeded {bound} {units} for its {input_bytes} bytes of input"


def message_length(descriptors, bits: BitWriter | bytes, **message_fields) -> int:
    data = bits if isinstance(bits, bytes) else bits.to_bytes()
    return len(build_message(descriptors, data, **message_fields))


def make_tables(root: Path, elements=ELEMENTS, sequences=SEQUENCES, code_tables=CODE_TABLES) -> _skyrec.TableSet:
    path = write_table_dir(root / f"tables{next(_dirs)}", elements, sequences, code_tables)
    return _skyrec.TableSet.from_eccodes(path)


def decode(tables, descriptors, bits: BitWriter | bytes, **message_fields) -> list:
    data = bits if isinstance(bits, bytes) else bits.to_bytes()
    return _skyrec.decode_values_with_tables(build_message(descriptors, data, **message_fields), tables)


def column(writer: BitWriter, width: int, raws: list[int | None], missing_ok: bool = True) -> BitWriter:
    """One compressed numeric column: R0, a 6-bit increment width, increments.
    None stands for a missing subset value."""
    present = [r for r in raws if r is not None]
    if present and len(present) == len(raws) and len(set(present)) == 1:
        return writer.uint(present[0], width).uint(0, 6)
    if not present:
        return writer.missing(width).uint(0, 6)
    r0 = min(present)
    # all ones of the increment width is reserved for missing subsets
    nbinc = max((max(present) - r0 + 1).bit_length(), 1)
    writer.uint(r0, width).uint(nbinc, 6)
    for r in raws:
        writer.uint((1 << nbinc) - 1 if r is None else r - r0, nbinc)
    return writer


def shown(values) -> list:
    """(descriptor, data) pairs: what a value list says, compactly."""
    return [(v.descriptor, v.data) for v in values]


def as_read(v) -> tuple:
    """(value, raw, text) of a flat-list value as the package's outputs show
    it: texts and operator markers have no number, texts no padding."""
    marker = v.descriptor // 100000 == 2 and v.raw is not None
    # An all-ones 031021 (6 bits) is missing there, as ecCodes reads it.
    value = None if v.raw is None or marker or (v.descriptor == 31021 and v.raw == 63) else v.raw_value
    text = v.raw_text.rstrip("\0 ") if v.raw_text is not None else None
    return value, None if marker else v.raw, text


def shown_meaning(v):
    """A flat-list value's meaning as the package shows it: none for a
    missing value, where the flat list gives its raw value's."""
    return v.raw_meaning if as_read(v)[0] is not None else None


def text_shape(text: str | None) -> str | None:
    """A text with each run of non-ASCII characters and '?' as one '?': the
    package's texts keep every byte (UTF-8 or Latin-1) where the flat list
    shows '?' for each byte of 0x80 and above, and both have this shape."""
    return None if text is None else re.sub("[?\x80-\U0010ffff]+", "?", text)


def assert_same_columns(derived, long) -> None:
    """Every part of two Columns alike: arrays in dtype and items (NaN where
    NaN), category lists in order; each part of `derived`, once made, kept."""
    import numpy as np

    from skyrec.columns import PARTS

    for name in sorted(PARTS):
        got, expected = getattr(derived, name), getattr(long, name)
        assert getattr(derived, name) is got, name
        if isinstance(expected, tuple):
            assert got == expected, name
        else:
            assert got.dtype == expected.dtype, name
            np.testing.assert_array_equal(got, expected, err_msg=name)


def long_wide(columns):
    """The long `columns` of a message whose subsets hold the same
    descriptors, reshaped as a wide table: what the wide tables must equal;
    None when the subsets differ."""
    import numpy as np

    from skyrec.wide_table import Wide

    subsets = columns.subset_count
    width = len(columns) // subsets if subsets else 0
    if subsets * width != len(columns) or not np.array_equal(columns.subset_starts, np.arange(subsets) * width):
        return None
    descriptor = columns.descriptor.reshape(subsets, width)
    if not (descriptor == descriptor[:1]).all():
        return None
    head = columns.descriptor[:width]
    marker = (head // 100000 == 2) & (head // 1000 % 100 != 5)
    character = ~columns.raw_present[:width] & ~marker
    text, meaning = columns.text.reshape(subsets, width), columns.meaning.reshape(subsets, width)
    meant = (columns.meaning_code.reshape(subsets, width) >= 0).any(axis=0)
    details = (columns.raw.reshape(subsets, width), {c: meaning[:, c] for c in np.flatnonzero(meant).tolist()})
    return Wide(values=columns.value.reshape(subsets, width), descriptor=head, rank=columns.rank[:width], scale=None,
                names=tuple(columns.name[:width]), units=tuple(columns.unit[:width]),
                keys=tuple(k or None for k in columns.key[:width]),
                texts={c: text[:, c] for c in np.flatnonzero(character).tolist()},
                details_made=details, details_source=lambda: details)
