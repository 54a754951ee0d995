"""Header keys changed in place: section 1's fields (and section 3's
observed-data flag) are fixed-width, so a new value that fits is written
over the old bytes and nothing else of the message moves."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

from . import _native
from .header import merged, of_message

__all__ = ["patched"]

SECTION0 = 8
# (octet within section 1 from 0, bytes) of each field, by edition.
SECTION1: dict[int, dict[str, tuple[int, int]]] = {
    4: {"masterTableNumber": (3, 1), "bufrHeaderCentre": (4, 2), "bufrHeaderSubCentre": (6, 2),
        "updateSequenceNumber": (8, 1), "dataCategory": (10, 1), "internationalDataSubCategory": (11, 1),
        "dataSubCategory": (12, 1), "masterTablesVersionNumber": (13, 1), "localTablesVersionNumber": (14, 1),
        "typicalYear": (15, 2), "typicalMonth": (17, 1), "typicalDay": (18, 1), "typicalHour": (19, 1),
        "typicalMinute": (20, 1), "typicalSecond": (21, 1)},
    3: {"masterTableNumber": (3, 1), "bufrHeaderSubCentre": (4, 1), "bufrHeaderCentre": (5, 1),
        "updateSequenceNumber": (6, 1), "dataCategory": (8, 1), "dataSubCategory": (9, 1),
        "masterTablesVersionNumber": (10, 1), "localTablesVersionNumber": (11, 1), "typicalMonth": (13, 1),
        "typicalDay": (14, 1), "typicalHour": (15, 1), "typicalMinute": (16, 1)},
}
OBSERVED = 0x80  # in section 3's flags octet


def patched(data: bytes, changes: Mapping[str, Any]) -> bytes | None:
    """The whole message `data` with header `changes` written in place;
    None when one of them cannot be (a field its edition lacks, a width
    that changes: the message must then be encoded again). ValueError for
    an unknown key or a value its field cannot hold."""
    found = _native.next_message(data, 0)
    if found is None or found[3] is None:
        raise ValueError(f"not a whole message: {found[4] if found else 'no BUFR'}")
    m = found[3]
    before = of_message(m)
    after = merged(before, changes)
    fields = SECTION1.get(m.edition, {})
    out = bytearray(data)
    for key, value in after.items():
        if value == before[key]:
            continue
        if key == "observedData":
            flags = SECTION0 + m.section1_length + m.section2_length + 6
            out[flags] = (out[flags] & ~OBSERVED) | (OBSERVED if value else 0)
            continue
        if key not in fields:
            return None
        at, width = fields[key]
        if not 0 <= value < 1 << (8 * width):
            raise ValueError(f"{key} {value} does not fit its {8 * width} bits (0 to {(1 << 8 * width) - 1})")
        out[SECTION0 + at:SECTION0 + at + width] = value.to_bytes(width, "big")
    again = _native.next_message(bytes(out), 0)
    if again is None or again[3] is None or of_message(again[3]) != after:
        return None  # not what was asked: let the encoder write it
    return bytes(out)
