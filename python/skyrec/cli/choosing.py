"""Which messages, and which of their subsets, --where keeps: judged from
the header and GTS heading alone unless a data key is asked of, and then
from the message decoded."""

from __future__ import annotations

import argparse
from typing import TYPE_CHECKING, Any

from ..errors import DecodeError, MessageError
from ..gts import Gts
from ..known_keys import plain_key, table_keys
from ..sources import Found
from .options import table_source
from .where import Where, known_data_keys, parse_where, plain_rank

if TYPE_CHECKING:
    import numpy as np

    from ..tables import TableSource
    from .session import Session

ALL = "all"  # every subset passes


def message_bytes(found: Found) -> bytes:
    """A framed message's own bytes, as they stand in its file."""
    assert found.message is not None
    return bytes(memoryview(found.data)[found.start:found.start + found.message.total_length])


class Chooser:
    def __init__(self, args: argparse.Namespace, session: Session, *, tables: TableSource | None = None):
        self.where: Where = parse_where(args.where)
        self.session = session
        self.args = args
        self._tables = tables
        self.known: frozenset[str] | None = None  # the keys of the first tables used
        self.held: set[str] = set()  # data keys found in some message
        if self.where.data and self.tables.fixed is not None:  # judged before anything is written
            self.known = table_keys(self.tables.fixed)
            known_data_keys(self.where, self.known)

    @property
    def tables(self) -> TableSource:
        if self._tables is None:
            self._tables = table_source(self.args)
        return self._tables

    def choose(self, found: Found, gts: Gts | None) -> Any:
        """None when the message is left out, ALL when every subset passes,
        else a boolean array by subset (some True). DecodeError when the
        message must be decoded and cannot be."""
        m = found.message
        assert m is not None
        if not self.where.keeps_header(m, gts):
            return None
        if not self.where.data:
            return ALL
        mask = self.subsets(found)
        return mask if mask.any() else None

    def subsets(self, found: Found) -> np.ndarray:
        from ..columns import message_columns

        m = found.message
        assert m is not None
        tables = self.tables.for_message(m)
        if self.known is None:
            self.known = table_keys(tables)
            known_data_keys(self.where, self.known)
        columns = message_columns(found.data, found.start, m, tables)
        self.held.update(key for key in self.where.data if plain_rank(key)[0] in columns.keys)
        mask: np.ndarray = self.where.subsets(columns)
        return mask

    def error(self, index: int, found: Found, e: DecodeError) -> MessageError:
        assert found.message is not None
        return self.tables.decode_failure(found.message, e, index, found.offset)

    def report_unheld(self) -> None:
        """A data key that the tables know and no message read holds: said once."""
        if self.known is None:
            return
        for key in self.where.data:
            if key not in self.held and plain_key(key) in self.known:
                self.session.warn(f"--where: no message read holds {key!r}")
