"""Messages stopped by what their tables lack: said once per table version
and missing entry, with how many messages it stopped, not once per message."""

from __future__ import annotations

from _skyrec import BufrMessage

from ..errors import MISSING_ENTRY
from ..tables import TableKey, TableSource, key_text, message_key
from .session import Session


class StoppedByTables:
    def __init__(self, source: TableSource, session: Session):
        self.source, self.session = source, session
        self.stopped: dict[tuple[str, TableKey, str, str], int] = {}

    def seen_before(self, path: str, m: BufrMessage, reason: str, kind: str) -> bool:
        """Counts a message that failed for `reason` (of `kind`); True when
        its tables lack an entry and an earlier message of the same tables
        was reported lacking the same one (and the failure is counted as one
        more)."""
        if kind not in MISSING_ENTRY:
            return False
        seen = (path, message_key(m), reason, kind)
        count = self.stopped.get(seen, 0)
        self.stopped[seen] = count + 1
        if count:
            self.session.failures += 1
        return count > 0

    def report(self) -> None:
        """One line for each lack that stopped more than one message."""
        for (path, key, reason, kind), count in self.stopped.items():
            if count > 1:
                self.session.fail(f"{path}: {count} messages (tables {key_text(key)}) stopped in all: "
                                  f"{self.source.explain(key, reason, kind)}")
