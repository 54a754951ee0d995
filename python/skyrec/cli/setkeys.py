"""skyrec set: header keys, data keys, compression and edition changed."""

from __future__ import annotations

import argparse
import re
from dataclasses import dataclass, field
from typing import Any

from .. import _native
from ..errors import DecodeError, MessageError
from ..header import EXTRA_KEYS, HEADER_FIELDS
from ..reader import Decoded
from .choosing import Chooser, message_bytes
from .framing import Framed
from .options import UsageError, add_command, add_progress_option, add_table_options
from .outputs import Outputs, write_all
from .selection import add_selection_options
from .session import Session
from .where import DATA_KEY, HEADER_KEYS, scalar

HELP = "change header keys, data keys, compression or edition of messages"
EXAMPLES = """\
examples:
  skyrec set dataSubCategory=7 bufrHeaderSubCentre=3 obs.bufr -o fixed.bufr
  skyrec set typicalDate=20240101 typicalTime=120000 obs.bufr -o fixed.bufr
  skyrec set '#1#airTemperature=280.1' '#1#stationOrSiteName=NEW NAME' synop.bufr -o fixed.bufr
  skyrec set compressed=1 edition=4 obs.bufr -o compressed.bufr
  skyrec set dataCategory=2 --where dataCategory=0 --where bufrHeaderCentre=98 obs.bufr -o fixed.bufr

Header keys are ecCodes' (typicalDate as YYYYMMDD, typicalTime as HHMMSS);
one whose width does not change is written in place, every other byte as it
was. Data keys (key for #1#key, or #rank#key; MISSING for missing) are set
in every subset and the message is encoded again, its other values as they
were, as compressed=0|1 and edition=3|4 encode it again. The messages that
--where and --message leave out are copied unchanged. The output appears whole when the
run ends, or not at all.
"""

ASSIGNMENT = re.compile(r"([^=/\s]+)=(.*)", re.S)
HEADER = {key for key, _ in HEADER_FIELDS if key not in ("edition", "compressedData")} | set(EXTRA_KEYS[:2])


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "set", HELP, EXAMPLES, run)
    parser.add_argument("assignments", nargs="+", metavar="KEY=VALUE", help="the keys to set (before the files)")
    parser.add_argument("files", nargs="+", metavar="FILE", help="BUFR files (- for standard input)")
    parser.add_argument("-o", "--output", required=True, metavar="OUT", help="the file to write")
    add_table_options(parser)
    add_progress_option(parser)
    add_selection_options(parser, values=False)


@dataclass
class Changes:
    header: dict[str, int] = field(default_factory=dict)
    values: dict[str, Any] = field(default_factory=dict)
    compressed: bool | None = None
    edition: int | None = None

    @property
    def in_place(self) -> bool:
        return not self.values and self.compressed is None and self.edition is None


def _number(key: str, text: str, allowed: tuple[int, ...] | None = None) -> int:
    try:
        value = int(text)
    except ValueError:
        raise UsageError(f"{key}={text!r}: {key} is a whole number") from None
    if allowed is not None and value not in allowed:
        raise UsageError(f"{key}={text}: {key} is " + " or ".join(map(str, allowed)))
    return value


def changes_of(assignments: list[str]) -> Changes:
    changes = Changes()
    for assignment in assignments:
        match = ASSIGNMENT.fullmatch(assignment)
        assert match is not None
        key, text = match.group(1), match.group(2).strip()
        if key in ("compressed", "compressedData"):
            changes.compressed = bool(_number(key, text, (0, 1)))
        elif key == "edition":
            changes.edition = _number(key, text, (3, 4))
        elif key in HEADER:
            changes.header[key] = _number(key, text)
        elif key in HEADER_KEYS:
            raise UsageError(f"{assignment!r}: {key} cannot be set: it follows from the rest of the message")
        elif DATA_KEY.fullmatch(key):
            changes.values[key] = None if text.upper() == "MISSING" else scalar(text)
        else:
            raise UsageError(f"{assignment!r}: {key} is neither a header key nor a data key")
    return changes


def split_arguments(args: argparse.Namespace) -> None:
    """KEY=VALUE... FILE...: the assignments come first."""
    given = list(args.assignments)
    count = next((i for i, a in enumerate(given) if not ASSIGNMENT.fullmatch(a)), len(given))
    args.assignments, args.files = given[:count], given[count:] + list(args.files)
    if not args.assignments:
        raise UsageError("set: no KEY=VALUE given before the files")
    if not args.files:
        raise UsageError("set: no file given after the KEY=VALUE")


class Setter:
    def __init__(self, args: argparse.Namespace, session: Session):
        self.session = session
        self.changes = changes_of(args.assignments)
        self.chooser = Chooser(args, session)
        self.outputs = Outputs()
        self.target = args.output

    def message(self, path: str, item: Framed) -> None:
        from ..patch import patched

        found, m = item.found, item.found.message
        if found.error is not None or m is None:
            self.session.fail(f"{path}: {MessageError(found.error or '', item.index, item.offset, kind=found.kind)}")
            return
        own = message_bytes(found)
        try:
            if self.chooser.choose(found, item.gts) is None:
                self.outputs.write(self.target, own)
                return
            data = patched(own, self.changes.header) if self.changes.in_place else None
            if data is None:
                data = self.encoded(item, own)
        except DecodeError as e:
            self.unchanged(path, item, own, self.chooser.error(item.index, found, e))
            return
        except ValueError as e:
            self.unchanged(path, item, own, MessageError(str(e), item.index, item.offset))
            return
        self.outputs.write(self.target, data)

    def unchanged(self, path: str, item: Framed, own: bytes, error: MessageError) -> None:
        """A message that cannot be changed is written as it was, and said."""
        unchanged = MessageError(f"{error.reason}; written unchanged", error.index, error.offset, error.where,
                                 error.kind, error.tables, subset=error.subset, descriptor_path=error.descriptor_path)
        self.session.fail(f"{path}: {unchanged}")
        self.outputs.write(self.target, own)

    def encoded(self, item: Framed, own: bytes) -> bytes:
        from ..encoding import encode

        m = item.found.message
        assert m is not None
        tables = self.chooser.tables.for_message(m)
        values, starts = _native.decode_subsets(own, 0, m, tables)
        decoded = Decoded(item.index, item.offset, item.length, message=m, values=values,
                          subset_starts=tuple(starts), data=own, table_set=tables)
        c = self.changes
        return encode(decoded, header=c.header or None, values=c.values or None, compressed=c.compressed,
                      edition=c.edition)


def run(args: argparse.Namespace, session: Session) -> int:
    split_arguments(args)
    setter = Setter(args, session)

    def unchanged(path: str, item: Framed) -> None:
        if item.found.message is not None:
            setter.outputs.write(setter.target, message_bytes(item.found))

    write_all(session, args, setter.outputs, setter.message, unchanged)
    return session.status
