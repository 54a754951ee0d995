"""Small archives for the block and Dask readers: good messages, one whose
data cannot be decoded, one that cannot be framed, junk between them."""

from __future__ import annotations

from pathlib import Path

from bufrgen import BitWriter, build_message

A, SITE, KIND = 1001, 1019, 2001  # 7 bits, 24 bits of text, a 2-bit code table
JUNK = b"ZCZC 123\r\r\nISMD01 EGRR 010000\r\r\n"


def good(a: int, site: str, kind: int, subsets: int = 1, **fields) -> bytes:
    bits = BitWriter()
    for _ in range(subsets):
        bits.uint(a, 7).text(site, 24).uint(kind, 2)
    return build_message([A, SITE, KIND], bits.to_bytes(), subsets=subsets, **fields)


def bad_decode(**fields) -> bytes:
    """Frames, but names an element the tables lack (005001)."""
    return build_message([5001], BitWriter().uint(1, 7).to_bytes(), **fields)


def bad_frame() -> bytes:
    """Its length ends on "7770": framing fails and reading goes on after it."""
    return good(9, "BAD", 0)[:-1] + b"0"


def write_archive(path: Path, parts: list[bytes]) -> Path:
    path.write_bytes(JUNK + JUNK.join(parts) + JUNK)
    return path


def native_piece(data: bytes, file: int, offsets: list[int], messages: list[int], tables, base: int = 0) -> tuple:
    """A piece of decode_block and observation_rows: the messages of `data`
    at `offsets`, framed by one header pass."""
    from skyrec import _native

    headers = _native.message_headers(data, keep=True)
    row_of = {o: row for row, o in enumerate(memoryview(headers["offset"]).tolist())}
    return (headers["framing"], file, [row_of[o] for o in offsets], messages, tables, base)


def rows_of(frame) -> list[tuple]:
    """A frame's rows as plain tuples (missing values None), to compare
    frames whatever their dtypes and categories."""
    import pandas as pd

    plain = frame.astype(object)
    return [tuple(None if pd.isna(v) else v for v in row) for row in plain.itertuples(index=False, name=None)]


def assert_same_frame(frame, expected, what=""):
    """Equal columns, dtypes and category lists, compared array by array
    (pandas' own comparison is slow on millions of categorical rows)."""
    import numpy as np

    assert list(frame.columns) == list(expected.columns), what
    assert frame.dtypes.to_dict() == expected.dtypes.to_dict(), what
    for name in frame.columns:
        a, b = frame[name].array, expected[name].array
        if str(frame[name].dtype) == "category":
            assert list(a.categories) == list(b.categories), (what, name)
            assert np.array_equal(a.codes, b.codes), (what, name)
        elif str(frame[name].dtype) == "UInt64":
            assert np.array_equal(a.isna(), b.isna()), (what, name)
            assert np.array_equal(a.fillna(0).to_numpy("uint64"), b.fillna(0).to_numpy("uint64")), (what, name)
        else:
            assert np.array_equal(a.to_numpy(), b.to_numpy(), equal_nan=name == "value"), (what, name)
