"""How skyrec.dask cuts its input into partitions: whole small files
gathered, large ones split at message offsets, each partition's rows kept
within a bound judged from the messages' lengths. Needs NumPy only."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING

import numpy as np

from . import _native, header_frames
from .blocks import Piece

if TYPE_CHECKING:
    import pandas as pd

ROW_BYTES = 48  # a row of the values frame

def _rows_bytes(lengths: np.ndarray, compressed: np.ndarray) -> np.ndarray:
    """The most bytes of rows that messages of `lengths` bytes decode to:
    compressed ones up to the decoder's bound on values per byte, uncompressed
    ones about a bit a value at least."""
    lengths = np.asarray(lengths, np.int64)
    most = _native.VALUES_FLOOR + _native.VALUES_PER_BYTE * lengths
    return np.where(np.asarray(compressed, bool), most, np.minimum(most, 8 * lengths)) * ROW_BYTES

def _runs(starts: np.ndarray, rows_bytes: np.ndarray, blocksize: int | None,
          memory: int | None) -> list[tuple[int, int]]:
    """Messages (starting at byte `starts`, increasing) in runs [first, last):
    a run ends at the first message blocksize bytes or more past its start,
    or before the one whose rows would pass `memory` bytes; one message at
    least."""
    held = np.cumsum(rows_bytes)
    runs: list[tuple[int, int]] = []
    first = 0
    while first < len(starts):
        last = len(starts)
        if blocksize is not None:
            last = min(last, int(np.searchsorted(starts, starts[first] + blocksize)))
        if memory is not None:
            before = held[first] - rows_bytes[first]
            last = min(last, int(np.searchsorted(held, before + memory, side="right")))
        last = max(last, first + 1)
        runs.append((first, last))
        first = last
    return runs

def file_pieces(path: str, blocksize: int | None, offsets_of: dict[str, np.ndarray],
                 memory: int | None = None) -> list[tuple[Piece, int, int]]:
    """`path` as (piece, bytes, most bytes of rows) triples: whole, or split at
    message offsets into blocks of about blocksize bytes whose rows stay
    within `memory` bytes."""
    size = os.path.getsize(path)
    most = int(_rows_bytes(np.array([size]), np.array([True]))[0])
    if (blocksize is None or size <= blocksize) and (memory is None or most <= memory):
        return [(Piece(path), size, most)]
    if path not in offsets_of:
        h = header_frames.file_headers(path)
        offsets_of[path] = np.stack([np.asarray(h[name]).astype(np.int64) for name in ("offset", "length",
                                                                                     "compressed")])
    offsets, lengths, compressed = offsets_of[path]
    rows = _rows_bytes(lengths, compressed)
    pieces: list[tuple[Piece, int, int]] = []
    for first, last in _runs(offsets, rows, blocksize, memory):
        start = 0 if first == 0 else int(offsets[first])  # bytes before the first message are the first block's
        end = int(offsets[last]) if last < len(offsets) else None
        # The messages found now, by offset: each one comes back decoded or
        # as an error row, even if the file changes before the block is read.
        pieces.append((Piece(path, start, end, first, expected=tuple(offsets[first:last].tolist()), size=size),
                       (end if end is not None else size) - start, int(rows[first:last].sum())))
    return pieces or [(Piece(path), size, most)]

def header_pieces(headers: pd.DataFrame, blocksize: int | None,
                   memory: int | None = None) -> list[tuple[Piece, int, int]]:
    """The messages that rows of a header frame name (file, message, offset,
    length), as pieces of about blocksize bytes whose rows stay within
    `memory` bytes, in the order of the rows. Without a compressed column,
    every message counts as compressed."""
    missing = {"file", "message", "offset", "length"} - set(headers.columns)
    if missing:
        raise ValueError(f"headers need the columns file, message, offset and length (missing {sorted(missing)})")
    pieces: list[tuple[Piece, int, int]] = []
    files = headers["file"].astype(object).to_numpy()
    frame = headers[["message", "offset", "length"]].to_numpy(np.int64)
    compressed = headers["compressed"].to_numpy(bool) if "compressed" in headers else np.ones(len(headers), bool)
    boundaries = np.flatnonzero(files[1:] != files[:-1]) + 1
    for rows in np.split(np.arange(len(headers)), boundaries):
        if not len(rows):
            continue
        lengths = frame[rows, 2]
        held = _rows_bytes(lengths, compressed[rows])
        for first, last in _runs(np.cumsum(lengths) - lengths, held, blocksize, memory):
            part = rows[first:last]
            pieces.append((Piece(str(files[rows[0]]), offsets=tuple(frame[part, 1].tolist()),
                                 indices=tuple(frame[part, 0].tolist())), int(frame[part, 2].sum()),
                           int(held[first:last].sum())))
    return pieces

def partitions_of(pieces: list[tuple[Piece, int, int]], blocksize: int | None,
                memory: int | None = None) -> list[list[Piece]]:
    """Consecutive pieces gathered into partitions of about blocksize bytes
    whose rows stay within `memory` bytes (one piece each without a
    blocksize)."""
    partitions: list[list[Piece]] = []
    filled = held = 0
    for piece, size, rows in pieces:
        if (not partitions or blocksize is None or filled >= blocksize
                or (memory is not None and held + rows > memory)):
            partitions.append([])
            filled = held = 0
        partitions[-1].append(piece)
        filled += size
        held += rows
    return partitions
