"""Files written by copy and set: whole or not at all. Each output is
written to a temporary file beside it; the run renames them into place when
it ends well and removes what is left of them otherwise."""

from __future__ import annotations

import itertools
import os
import re
from collections.abc import Callable, Iterable
from typing import IO, TYPE_CHECKING, Any

from .options import UsageError
from .stdout import OutputError

if TYPE_CHECKING:
    import argparse

    from .framing import Framed
    from .session import Session

PLACEHOLDER = re.compile(r"\[([A-Za-z_][A-Za-z0-9_]*)\]")
ABSENT = "none"  # a placeholder's text for a GTS field that a message lacks


class Pattern:
    """An output name, perhaps with [key] placeholders filled per message."""

    def __init__(self, text: str, known: Iterable[str]):
        self.text = text
        self.keys = PLACEHOLDER.findall(text)
        names = set(known)
        for key in self.keys:
            if key not in names:
                raise UsageError(f"-o {text!r}: [{key}] is not a key that names a file; these are "
                                 + ", ".join(sorted(names)))

    def path(self, value: Callable[[str], Any]) -> str:
        """The name for a message whose keys `value` gives."""
        if not self.keys:
            return self.text
        return PLACEHOLDER.sub(lambda m: ABSENT if (v := value(m.group(1))) is None else str(v), self.text)


def _beside(path: str) -> tuple[int, str]:
    """A new file in the folder of `path`, with the permissions open() gives
    (the umask's): its descriptor and name. Named by this process, and by a
    number where an earlier run's file of that name was left."""
    folder, name = os.path.split(os.path.abspath(path))
    for n in itertools.count():
        temporary = os.path.join(folder, f".{name}.{os.getpid()}.{n}.part")
        try:
            return os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666), temporary
        except FileExistsError:
            continue
    raise AssertionError("unreachable")


class Outputs:
    """The files of one run, open until commit() or discard()."""

    def __init__(self) -> None:
        self.files: dict[str, tuple[str, IO[bytes]]] = {}  # by target: temporary path, open file
        self.made = 0  # files begun

    def write(self, path: str, data: bytes) -> None:
        try:
            if path not in self.files:
                fd, temporary = _beside(path)
                self.files[path] = (temporary, os.fdopen(fd, "wb"))
                self.made += 1
            self.files[path][1].write(data)
        except OSError as e:
            raise OutputError(f"{path}: {e.strerror or e}") from e

    def commit(self) -> None:
        """Every file into place; when one cannot be closed, none of them."""
        try:
            for path, (_, out) in self.files.items():
                try:
                    out.close()
                except OSError as e:
                    raise OutputError(f"{path}: {e.strerror or e}") from e
            for path, (temporary, _) in self.files.items():
                try:
                    os.replace(temporary, path)
                except OSError as e:
                    raise OutputError(f"{path}: {e.strerror or e}") from e
        except BaseException:
            self.discard()
            raise
        self.files.clear()

    def discard(self) -> None:
        for temporary, out in self.files.values():
            try:
                out.close()
            except OSError:
                pass
            try:
                os.unlink(temporary)
            except FileNotFoundError:
                pass
        self.files.clear()


def write_all(session: Session, args: argparse.Namespace, outputs: Outputs,
              chosen: Callable[[str, Framed], None], others: Callable[[str, Framed], None]) -> None:
    """Each message of the files to `chosen` or, when --message leaves it out,
    to `others`; then the outputs into place, or none of them on any error."""
    from .framing import framed
    from .selection import numbers

    asked = numbers("--message", args.message)
    try:
        for path, item in session.messages(args.files, framed, asked.first_absent):
            (chosen if item.index in asked else others)(path, item)
        outputs.commit()
    except BaseException:
        outputs.discard()
        raise
