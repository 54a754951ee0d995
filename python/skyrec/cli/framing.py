"""The messages of a file as the commands walk them: framed, with their GTS
headings, nothing decoded; what a command needs beyond that it imports."""

from __future__ import annotations

from collections.abc import Iterator
from typing import TYPE_CHECKING, Any

from ..gts import Gts, headed
from ..sources import Found, found_messages

if TYPE_CHECKING:
    from ..errors import MessageError
    from ..reader import Decoded


class Framed:
    """A message as found, not yet decoded: where it lies and its bytes."""

    def __init__(self, index: int, found: Found, gts: Gts | None = None):
        self.index, self.found, self.gts = index, found, gts
        self.offset, self.length = found.offset, found.length

    def decoded(self, error: MessageError | None = None) -> Decoded:
        from ..reader import Decoded

        return Decoded(self.index, self.offset, self.length, message=self.found.message, error=error)


def framed(source: Any) -> Iterator[Framed]:
    with found_messages(source) as found:
        for index, (item, gts) in enumerate(headed(found)):
            yield Framed(index, item, gts)
