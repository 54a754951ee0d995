"""skyrec copy: the messages that --where keeps, written as they were."""

from __future__ import annotations

import argparse
from typing import Any

from .. import _native
from ..errors import DecodeError, MessageError
from ..gts import FIELDS as GTS_FIELDS
from ..gts import Gts, gts_header
from ..sources import Found
from .choosing import ALL, Chooser, message_bytes
from .framing import Framed
from .options import UsageError, add_command, add_progress_option, add_table_options
from .outputs import Outputs, Pattern, write_all
from .progress import bar_wanted
from .selection import add_selection_options
from .session import STDIN, Session, file_size
from .stdout import OutputError
from .where import HEADER_KEYS, header_value

HELP = "copy the messages that match, byte for byte, into one file or several"
EXAMPLES = """\
examples:
  skyrec copy obs/*.bufr --where dataCategory=2 -o temps.bufr
  skyrec copy day.bufr -o 'out_[dataCategory]_[bufrHeaderCentre].bufr'     # split by type and centre
  skyrec copy feed/*.bin --where gts_ttaaii=ISMD01/ISMD02 --gts -o synop.bin
  skyrec copy obs.bufr --where '#1#stationNumber=100:200' -o some.bufr   # messages with such a subset
  skyrec copy obs.bufr --where airTemperature=250:300 --subsets -o warm.bufr   # only those subsets
  skyrec copy synop.bufr --gts-heading 'ISMD01 EDZW' -o bulletins.bin   # each message in a bulletin

A message is copied byte for byte unless --subsets drops some of its
subsets (it is then encoded again with the others). -o names one file, or
a pattern whose [key] placeholders (header keys and GTS fields; 'none' for
a GTS field a message lacks) name a file per message. The files appear
when the run ends, whole: on any error none is left half written. A
summary goes to stderr: messages read, written, skipped and failed.
"""


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "copy", HELP, EXAMPLES, run)
    parser.add_argument("files", nargs="+", metavar="FILE", help="BUFR files (- for standard input)")
    add_table_options(parser)
    add_progress_option(parser)
    parser.add_argument("-o", "--output", required=True, metavar="OUT",
                        help="the file to write, or a pattern such as out_[dataCategory].bufr")
    parser.add_argument("--gts", action="store_true",
                        help="write each message's GTS bulletin heading (and end-of-message bytes) with it")
    parser.add_argument("--gts-heading", metavar="'TTAAii CCCC [YYGGgg] [BBB]'",
                        help="write each message in a bulletin under this heading (numbered 001, 002, ... in each "
                        "file; YYGGgg left out: the message's typical day, hour and minute); with --gts, messages "
                        "read with a heading keep theirs")
    parser.add_argument("--subsets", action="store_true",
                        help="with data keys in --where: keep only the subsets that match (re-encodes)")
    add_selection_options(parser, values=False)


def subsets_only(found: Found, mask: Any, tables: Any) -> bytes:
    """The message again with only the subsets of `mask`, its values as they were."""
    from ..encoding import encode
    from ..header import of_message

    m = found.message
    assert m is not None
    values, starts = _native.decode_subsets(found.data, found.start, m, tables)
    ends = [*starts[1:], len(values)]
    kept = [values[s:e] for s, e, keep in zip(starts, ends, mask.tolist()) if keep]
    header: dict[str, Any] = of_message(m)
    if m.local_section_present:
        at = found.start + 8 + m.section1_length + 4  # section 2's octets after its length and a reserved one
        header["section2"] = bytes(found.data[at:at + m.section2_length - 4])
    return encode(list(m.unexpanded_descriptors), kept, header=header, tables=tables)


class Heading:
    """The heading --gts-heading gives each message: its fields, the time
    from the message when not given, and a sequence number per file."""

    def __init__(self, text: str):
        fields = text.split()
        day_time = next((f for f in fields[2:] if f.isdigit()), None)
        bbb = next((f for f in fields[2:] if not f.isdigit()), None)
        if len(fields) not in (2, 3, 4) or len(fields) != 2 + (day_time is not None) + (bbb is not None):
            raise UsageError(f"--gts-heading {text!r}: write 'TTAAii CCCC [YYGGgg] [BBB]'")
        try:
            gts_header(fields[0], fields[1], day_time or "000000", bbb)
        except ValueError as e:
            raise UsageError(f"--gts-heading {text!r}: {e}") from e
        self.ttaaii, self.cccc, self.day_time, self.bbb = fields[0], fields[1], day_time, bbb
        self.numbers: dict[str, int] = {}  # the last sequence number given in each file

    def of(self, m: Any, target: str) -> Gts:
        number = self.numbers[target] = self.numbers.get(target, 0) % 999 + 1
        day_time = self.day_time or f"{m.typical_day:02d}{m.typical_hour:02d}{m.typical_minute:02d}"
        return gts_header(self.ttaaii, self.cccc, day_time, self.bbb, number)


class Copy:
    def __init__(self, args: argparse.Namespace, session: Session):
        self.session, self.args = session, args
        self.chooser = Chooser(args, session)
        if args.subsets and not self.chooser.where.data:
            raise UsageError("--subsets keeps the subsets that data keys in --where choose, and --where names none")
        self.pattern = Pattern(args.output, (*HEADER_KEYS, *GTS_FIELDS))
        self.heading = None if args.gts_heading is None else Heading(args.gts_heading)
        self.outputs = Outputs()
        self.read = self.written = self.skipped = self.failed = 0

    def message(self, path: str, item: Framed) -> None:
        found = item.found
        self.read += 1
        if found.error is not None:
            self.fail(path, item, MessageError(found.error, index=item.index, offset=item.offset, kind=found.kind))
            return
        assert found.message is not None
        try:
            chosen = self.chooser.choose(found, item.gts)
            if chosen is None:
                self.skipped += 1
                return
            if chosen is ALL or chosen.all() or not self.args.subsets:
                data = message_bytes(found)
            else:
                data = subsets_only(found, chosen, self.chooser.tables.for_message(found.message))
        except DecodeError as e:
            self.fail(path, item, self.chooser.error(item.index, found, e))
            return
        except ValueError as e:  # the encoder's refusal
            self.fail(path, item, MessageError(str(e), item.index, item.offset))
            return
        self.write(found, item.gts, data)

    def write(self, found: Found, gts: Gts | None, data: bytes) -> None:
        assert found.message is not None
        m = found.message
        target = self.pattern.path(lambda key: header_value(m, gts, key))
        if not (self.args.gts and gts is not None):
            gts = None if self.heading is None else self.heading.of(m, target)
        self.outputs.write(target, data if gts is None else gts.wrapped(data))
        self.written += 1

    def fail(self, path: str, item: Framed, error: MessageError) -> None:
        self.failed += 1
        self.session.fail(f"{path}: {error}")

    def summary(self) -> str:
        return summary(self.read, self.written, self.outputs.made, self.skipped, self.failed)


def summary(read: int, written: int, files: int, skipped: int, failed: int) -> str:
    return (f"copy: {read} message{'' if read == 1 else 's'} read, {written} written to {files} "
            f"file{'' if files == 1 else 's'}, {skipped} skipped, {failed} failed")


def copied_by_core(args: argparse.Namespace, session: Session) -> bool:
    """The copy run by the core, as the `skyrec` executable runs it, when
    every condition and placeholder is of header keys and nothing asks for
    more than a byte-for-byte copy of files (GTS headings, some messages,
    subsets, standard input, a progress bar); False when it is not."""
    if args.gts or args.gts_heading is not None or args.subsets or args.message is not None or STDIN in args.files:
        return False
    if bar_wanted(args.progress, sum(file_size(path) for path in args.files), session.out, session.err):
        return False
    outcome = _native.copy_files(args.files, args.where, args.output)
    if outcome is None:
        return False
    read, written, skipped, failed, files, failures, unwritten = outcome
    for text in failures:
        session.fail(text)
    if unwritten is not None:
        raise OutputError(unwritten)
    print(f"skyrec: {summary(read, written, files, skipped, failed)}", file=session.err)
    return True


def run(args: argparse.Namespace, session: Session) -> int:
    copy = Copy(args, session)  # the command line checked whole first, whoever runs it
    if not copy.chooser.where.data and copied_by_core(args, session):
        return session.status

    def skip(path: str, item: Framed) -> None:
        copy.read += 1
        copy.skipped += 1

    write_all(session, args, copy.outputs, copy.message, skip)
    copy.chooser.report_unheld()
    print(f"skyrec: {copy.summary()}", file=session.err)
    return session.status
