"""skyrec dump: every value of every subset, with its name, unit, text and meaning."""

from __future__ import annotations

import argparse
import csv
import io
import json
from collections.abc import Iterator
from functools import lru_cache
from typing import Any, cast

from _skyrec import BufrMessage

from .. import _native
from ..errors import DecodeError, MessageError
from ..known_keys import message_keys, plain_key, table_keys, unknown_key_text
from ..reader import NO_MEMORY, Decoded
from ..tables import TableSource, message_key
from .choosing import Chooser
from .framing import Framed, framed
from .missing_tables import StoppedByTables
from .options import UsageError, add_command, add_file_options, table_source
from .output import CSV_QUOTING_TERMINATOR, RecordWriter, typical_time
from .selection import Numbers, add_selection_options, numbers, value_keys
from .session import Session
from .stdout import GuardedOutput

HELP = "print the values of every message, subset by subset"
EXAMPLES = """\
examples:
  skyrec dump --tables examples/tables examples/sample.bufr
  skyrec dump obs.bufr                              # tables found by themselves
  skyrec dump --definitions /path/to/definitions --format csv obs.bufr > values.csv
  skyrec dump --format jsonl obs.bufr | jq -c 'select(.descriptor == "012101")'
  skyrec dump --message 3 --subset 0-9 --keys latitude,longitude,#1#airTemperature obs.bufr
  skyrec dump --where dataCategory=2 --where typicalDate=20240101:20240131 obs/*.bufr

text: per message a header line, then per subset one line per value:
descriptor, name, value (a number, 'text' quoted without its padding,
MISSING, or nothing for an operator marker), unit, the code- or flag-table
meaning and the value's ecCodes key as #rank#key. jsonl and csv: one record
per value with the fields file, message, offset, subset, position (within its
subset), descriptor, name, unit, value (null/empty when missing, a text or a
marker), raw, text, meaning, key, rank (0 when unranked).
A message that fails is reported on stderr with its file and offset, and the
others are still printed (exit status 1).
"""

FIELDS = ("file", "message", "offset", "subset", "position", "descriptor", "name", "unit", "value", "raw", "text",
          "meaning", "key", "rank")
CHUNK = 1 << 20  # bytes of output written between two steps of the progress bar
MAX_SUBSET = 65534  # section 3 counts subsets in 16 bits


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "dump", HELP, EXAMPLES, run)
    add_file_options(parser, "value")
    add_selection_options(parser, values=True)


@lru_cache(maxsize=1)
def csv_quoted() -> bytes:
    """The ASCII characters that make the csv module quote a field (they
    differ between Python versions)."""
    quoted = bytearray()
    for c in range(128):
        row = io.StringIO()
        try:
            csv.writer(row, lineterminator=CSV_QUOTING_TERMINATOR).writerow([f"a{chr(c)}b"])
        except csv.Error:
            continue
        if row.getvalue().startswith('"'):
            quoted.append(c)
    return bytes(quoted)


def record_prefix(fmt: str, path: str, item: Decoded, heading: str) -> bytes:
    """The fields of each record before its subset, as json and csv write
    them; for text, the heading of the message."""
    if fmt == "jsonl":
        text = f'{{"file": {json.dumps(path, ensure_ascii=False)}, "message": {item.index}, "offset": {item.offset}, '
    elif fmt == "csv":
        row = io.StringIO()
        csv.writer(row, lineterminator=",").writerow([path, item.index, item.offset])
        text = row.getvalue()
    else:
        text = heading
    return text.encode("utf-8", "surrogateescape")


def message_line(path: str, item: Decoded, m: BufrMessage, origin: str) -> str:
    return (f"{path}: message {item.index} at offset {item.offset} ({item.length} bytes): centre "
            f"{m.originating_centre}/{m.originating_subcentre}, category {m.data_category}/"
            f"{m.international_data_subcategory}, {m.number_of_subsets} subset"
            f"{'' if m.number_of_subsets == 1 else 's'}, {'compressed' if m.compressed_data else 'not compressed'}, "
            f"{typical_time(m)}, tables {m.master_table_number}/{m.master_tables_version_number}/"
            f"{m.local_tables_version_number} from {origin}")


class Dump:
    def __init__(self, args: argparse.Namespace, session: Session):
        self.session, self.format = session, args.format
        self.source: TableSource = table_source(args)
        self.messages = numbers("--message", args.message)
        self.chooser = Chooser(args, session, tables=self.source)
        self.subset_numbers = numbers("--subset", args.subset, MAX_SUBSET)
        self.subsets = list(self.subset_numbers.ranges) if self.subset_numbers.ranges is not None else []
        self.keys = value_keys(args.keys)
        self.known: set[str] = set()  # the keys of the tables used, to judge --keys by
        self.held: set[str] = set()  # and the keys of the messages' descriptors
        self.stopped = StoppedByTables(self.source, session)
        self.first = True

    def records(self, path: str, item: Framed, fd: int | None) -> bytes | None:
        """The message's records, or None once they are written to `fd`;
        DecodeError or MemoryError when it fails, OSError when the writing does."""
        found, m = item.found, item.found.message
        assert m is not None
        tables = self.source.for_message(m)
        if self.keys:
            self.known |= table_keys(tables)
            self.held |= message_keys(m, tables)
        heading = ""
        if self.format == "text":
            heading = ("" if self.first else "\n") + message_line(path, item.decoded(), m, self.source.origin)
        prefix = record_prefix(self.format, path, item.decoded(), heading + "\n")
        records: bytes | None = _native.dump_records(
            found.data, found.start, m, tables, self.format, prefix, csv_quoted(), self.subsets, self.keys, fd,
            lambda done: self.session.advance_within(item, done))
        return records

    def judge_keys(self) -> None:
        """--keys that printed nothing: a usage error for a key that no table
        used knows, a warning for one they know but no message holds."""
        if not self.keys or not self.known:
            return
        for key in self.keys:
            if plain_key(key) not in self.known:
                raise UsageError(f"--keys: {unknown_key_text(key, self.known)}")
        for key in self.keys:
            if plain_key(key) not in self.held:
                self.session.warn(f"--keys: no message read holds {key!r} (a key of its tables)")

    def write(self, path: str, item: Framed) -> None:
        m = item.found.message
        if item.found.error is not None and item.index in self.messages:
            self.session.report(path, item.decoded(MessageError(item.found.error, index=item.index,
                                                                offset=item.offset, kind=item.found.kind)))
            return
        if m is None or item.index not in self.messages:
            return
        out = cast(GuardedOutput, self.session.out)  # what main() gives every command
        try:
            if self.chooser.choose(item.found, item.gts) is None:
                return
            with out.binary_fd() as fd:
                data = self.records(path, item, fd)
        except DecodeError as e:
            if self.stopped.seen_before(path, m, e.reason):
                return  # said once for all, at the end
            error = MessageError(self.source.explain(message_key(m), e.reason, e.kind), item.index, item.offset,
                                 e.where, "no_memory" if e.reason == NO_MEMORY else e.kind)
            self.session.report(path, item.decoded(error))
            return
        except MemoryError:
            self.session.report(path, item.decoded(MessageError(NO_MEMORY, item.index, item.offset, kind="no_memory")))
            return
        self.first = False
        if (absent := self.subset_numbers.first_absent(m.number_of_subsets)) is not None:
            self.session.fail(f"{path}: message {item.index}: no subset {absent}: it holds {m.number_of_subsets}, "
                              "numbered from 0")
        if data is None:
            return
        whole = memoryview(data)
        for at in range(0, len(data), CHUNK):
            out.write_bytes(whole[at:at + CHUNK])
            self.session.advance_within(item, (at + CHUNK) / len(data))


def up_to_last(messages: Numbers, items: Iterator[Framed]) -> Iterator[Framed]:
    """The items, read no further than the last message chosen."""
    last = messages.last()
    for item in items:
        yield item
        if last is not None and item.index >= last:
            return


def run(args: argparse.Namespace, session: Session) -> int:
    dump = Dump(args, session)
    if args.format == "csv":
        RecordWriter(session.out, "csv", FIELDS)  # the header row
    def read(source: Any) -> Iterator[Framed]:
        return up_to_last(dump.messages, framed(source))

    for path, item in session.messages(args.files, read, dump.messages.first_absent):
        dump.write(path, item)
    dump.stopped.report()
    dump.judge_keys()
    dump.chooser.report_unheld()
    return session.status
