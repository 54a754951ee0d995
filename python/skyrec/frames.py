"""pandas DataFrames of decoded values, one row per value, made from Columns.

pandas is optional: `pip install '.[pandas]' from a skyrec checkout`.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Iterable

import numpy as np

from .columns import key_codes
from .reader import MessageError, Source, read_messages

if TYPE_CHECKING:
    import pandas as pd

    from .columns import Columns

FRAME_COLUMNS = ("message", "subset", "descriptor", "name", "unit", "value", "raw", "text", "meaning", "key", "rank")


def _pandas() -> Any:
    try:
        import pandas
    except ImportError as e:
        raise ImportError("DataFrames need pandas: pip install '.[pandas]' from a skyrec checkout") from e
    return pandas


def _categorical(pd: Any, parts: list[tuple[np.ndarray, tuple[str, ...]]]) -> pd.Categorical:
    """One Categorical from per-message codes and category lists: equal texts
    get one code, whichever message or entry they came from."""
    index: dict[str, int] = {}
    codes = []
    for part_codes, categories in parts:
        remap = np.fromiter((index.setdefault(text, len(index)) for text in categories), np.int32,
                            count=len(categories))
        codes.append(np.append(remap, NO_CODE)[part_codes])  # -1 stays -1
    merged = np.concatenate(codes) if codes else np.zeros(0, np.int32)
    return pd.Categorical.from_codes(merged, categories=pd.Index(list(index), dtype=object))


NO_CODE = -1


def columns_frame(parts: Iterable[tuple[int, Columns]]) -> pd.DataFrame:
    """A DataFrame of (message index, Columns) pairs, rows in order."""
    pd = _pandas()
    parts = list(parts)

    def joined(attribute: str, dtype: Any) -> np.ndarray:
        arrays = [getattr(c, attribute) for _, c in parts]
        return np.concatenate(arrays) if arrays else np.zeros(0, dtype)

    raw = pd.arrays.IntegerArray(joined("raw", np.uint64), ~joined("raw_present", np.bool_))
    message = (np.concatenate([np.full(len(c), i, np.int64) for i, c in parts]) if parts
               else np.zeros(0, np.int64))
    frame = pd.DataFrame({
        "message": message,
        "subset": joined("subset", np.uint32),
        "descriptor": joined("descriptor", np.uint32),
        "name": _categorical(pd, [(c.element_code, c.names) for _, c in parts]),
        "unit": _categorical(pd, [(c.element_code, c.units) for _, c in parts]),
        "value": joined("value", np.float64),
        "raw": raw,
        "text": _categorical(pd, [(c.text_code, c.texts) for _, c in parts]),
        "meaning": _categorical(pd, [(c.meaning_code, c.meanings) for _, c in parts]),
        "key": _categorical(pd, [key_codes(c.keys, c.element_code) for _, c in parts]),
        "rank": joined("rank", np.uint32),
    }, copy=False)
    return frame


def message_dataframe(columns: Columns, message_index: int = 0) -> pd.DataFrame:
    """One message's values as a DataFrame."""
    return columns_frame([(message_index, columns)])


def read_dataframe(source: Source, *, strict: bool = False, **table_source: Any) -> pd.DataFrame:
    """Every message of `source` in one DataFrame. Messages that fail are
    left out and listed, as MessageError objects, in frame.attrs["errors"]
    (with strict=True the first one is raised). Keyword arguments choose the
    tables as in read_messages."""
    if not strict:
        # The whole file as one block: framed, decoded and laid out with the
        # lock released, each value written once.
        from .blocks import read_block

        values, failed = read_block(source, **table_source)
        frame = values.drop(columns="offset")
        frame.attrs["errors"] = [MessageError(reason, int(index), int(offset)) for index, offset, reason
                                 in failed[["message", "offset", "error"]].itertuples(index=False, name=None)]
        return frame
    return read_by_message(source, strict=True, **table_source)


def read_by_message(source: Source, *, strict: bool = False, **table_source: Any) -> pd.DataFrame:
    """read_dataframe's frame made message by message: each message's
    columns, joined. The reading that decoding a file as one block agrees with."""
    parts: list[tuple[int, Columns]] = []
    errors = []
    for item in read_messages(source, strict=strict, output="columns", **table_source):
        if item.error is not None:
            errors.append(item.error)
        elif item.columns is not None:
            parts.append((item.index, item.columns))
    frame = columns_frame(parts)
    frame.attrs["errors"] = errors
    return frame
