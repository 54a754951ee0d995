"""A small BUFR message builder for tests: edition 4, and editions 2 and 3
(their own section 1, every section padded to an even length).

Every header field is settable and every length, flag and terminator can be
corrupted, so that tests can build both good messages and each kind of bad one:

    data = BitWriter().uint(273150, 16).text("ABC", 24).to_bytes()
    msg = build_message([12101, 1015], data, subsets=1)
    bad = build_message([12101], data, section3_length=6)
"""

from __future__ import annotations

from dataclasses import dataclass, field, replace


class BitWriter:
    """Packs unsigned fields of 0 to 64 bits, most significant bit first."""

    def __init__(self) -> None:
        self._value = 0
        self._bits = 0

    @property
    def bit_length(self) -> int:
        return self._bits

    def uint(self, value: int, width: int) -> BitWriter:
        if not 0 <= width <= 64:
            raise ValueError(f"width {width} is outside 0..64")
        if not 0 <= value < (1 << width) or (width == 0 and value != 0):
            raise ValueError(f"value {value} does not fit in {width} bits")
        self._value = (self._value << width) | value
        self._bits += width
        return self

    def append(self, other: BitWriter) -> BitWriter:
        """The bits of `other`, unaligned: subsets follow one another this way."""
        self._value = (self._value << other._bits) | other._value
        self._bits += other._bits
        return self

    def missing(self, width: int) -> BitWriter:
        """All ones: the missing value of a field of this width."""
        return self.uint((1 << width) - 1, width)

    def raw_bytes(self, data: bytes) -> BitWriter:
        for b in data:
            self.uint(b, 8)
        return self

    def text(self, text: str | bytes, width_bits: int, pad: bytes = b" ") -> BitWriter:
        """Character data of `width_bits` bits, padded (or cut) to width."""
        raw = text.encode("latin-1") if isinstance(text, str) else text
        n = width_bits // 8
        raw = (raw + pad * n)[:n]
        return self.raw_bytes(raw)

    def to_bytes(self, pad_to: int = 1) -> bytes:
        """The bits written so far, zero-padded to a multiple of `pad_to` bytes."""
        nbytes = (self._bits + 7) // 8
        nbytes += (-nbytes) % pad_to
        return (self._value << (nbytes * 8 - self._bits)).to_bytes(nbytes, "big") if nbytes else b""


def descriptor_pair(code: int) -> bytes:
    """The 16-bit section 3 form of a descriptor code F*100000 + X*1000 + Y."""
    f, x, y = code // 100000, (code // 1000) % 100, code % 1000
    if not (0 <= f < 4 and 0 <= x < 64 and 0 <= y < 256):
        raise ValueError(f"descriptor {code:06d} does not fit in 16 bits")
    return ((f << 14) | (x << 8) | y).to_bytes(2, "big")


def u(value: int, nbytes: int) -> bytes:
    return value.to_bytes(nbytes, "big")


@dataclass
class Section1:
    """Section 1 of edition 4; `extra` follows octet 22 of the section (local use).
    Editions 2 and 3 write the year of century (`year` % 100 unless given) and
    no second or international sub-category; edition 2 has a 16-bit centre and
    no sub-centre; `extra` follows octet 17."""

    master_table: int = 0
    centre: int = 98
    subcentre: int = 0
    update_sequence: int = 0
    flags: int | None = None  # None: 0x80 when section 2 is present, else 0
    category: int = 0
    international_subcategory: int = 0
    local_subcategory: int = 0
    master_version: int = 38
    local_version: int = 0
    year: int = 2024
    month: int = 1
    day: int = 2
    hour: int = 3
    minute: int = 4
    second: int = 5
    extra: bytes = b""
    length: int | None = None  # None: the true length
    year_of_century: int | None = None  # editions 2 and 3

    def encode(self, section2_present: bool, edition: int = 4) -> bytes:
        flags = self.flags if self.flags is not None else (0x80 if section2_present else 0)
        if edition < 4:
            return self._encode_older(flags, edition)
        body = (
            u(self.master_table, 1)
            + u(self.centre, 2)
            + u(self.subcentre, 2)
            + u(self.update_sequence, 1)
            + u(flags, 1)
            + u(self.category, 1)
            + u(self.international_subcategory, 1)
            + u(self.local_subcategory, 1)
            + u(self.master_version, 1)
            + u(self.local_version, 1)
            + u(self.year, 2)
            + u(self.month, 1)
            + u(self.day, 1)
            + u(self.hour, 1)
            + u(self.minute, 1)
            + u(self.second, 1)
            + self.extra
        )
        length = self.length if self.length is not None else len(body) + 3
        return u(length, 3) + body

    def _encode_older(self, flags: int, edition: int) -> bytes:
        origin = u(self.centre, 2) if edition == 2 else u(self.subcentre, 1) + u(self.centre, 1)
        year = self.year % 100 if self.year_of_century is None else self.year_of_century
        body = (u(self.master_table, 1) + origin + u(self.update_sequence, 1) + u(flags, 1) + u(self.category, 1)
                + u(self.local_subcategory, 1) + u(self.master_version, 1) + u(self.local_version, 1) + u(year, 1)
                + u(self.month, 1) + u(self.day, 1) + u(self.hour, 1) + u(self.minute, 1) + self.extra)
        body += even_pad(len(body) + 3)
        length = self.length if self.length is not None else len(body) + 3
        return u(length, 3) + body


def even_pad(length: int) -> bytes:
    return b"\0" * (length % 2)


@dataclass
class Message:
    """One message's parts; `encode()` lays them out, applying any corruption."""

    descriptors: list[int] = field(default_factory=list)
    data: bytes = b""
    subsets: int = 1
    observed: bool = True
    compressed: bool = False
    section1: Section1 = field(default_factory=Section1)
    section2: bytes | None = None  # content after its 4-octet header
    edition: int = 4
    marker: bytes = b"BUFR"
    terminator: bytes = b"7777"
    section3_flags: int | None = None  # None: from observed/compressed
    section3_pad: bytes = b""  # octets after the descriptor pairs (edition 3 habit)
    section2_length: int | None = None
    section3_length: int | None = None
    section4_length: int | None = None
    section4_reserved: bytes = b"\0"  # b"" with section4_length=3 gives the smallest section 4
    total_length: int | None = None  # the declared length in section 0
    trailing: bytes = b""  # bytes after "7777", counted in the true total length

    def encode(self) -> bytes:
        s1 = self.section1.encode(self.section2 is not None, self.edition)
        # Editions 2 and 3 pad every section to an even length.
        pad = even_pad if self.edition < 4 else (lambda length: b"")
        s2 = b""
        if self.section2 is not None:
            content = self.section2 + pad(len(self.section2) + 4)
            length = self.section2_length if self.section2_length is not None else len(content) + 4
            s2 = u(length, 3) + b"\0" + content
        flags = self.section3_flags
        if flags is None:
            flags = (0x80 if self.observed else 0) | (0x40 if self.compressed else 0)
        pairs = b"".join(descriptor_pair(d) for d in self.descriptors) + self.section3_pad
        pairs += pad(len(pairs) + 7)
        l3 = self.section3_length if self.section3_length is not None else 7 + len(pairs)
        s3 = u(l3, 3) + b"\0" + u(self.subsets, 2) + u(flags, 1) + pairs
        data = self.data + pad(len(self.data) + 4)
        l4 = self.section4_length if self.section4_length is not None else 4 + len(data)
        s4 = u(l4, 3) + self.section4_reserved + data
        body = s1 + s2 + s3 + s4 + self.terminator + self.trailing
        total = self.total_length if self.total_length is not None else 8 + len(body)
        return self.marker + u(total, 3) + u(self.edition, 1) + body

    def with_(self, **changes) -> Message:
        return replace(self, **changes)


def build_message(descriptors=(), data: bytes = b"", **fields) -> bytes:
    """Encodes a message; keyword arguments are `Message` or `Section1` fields."""
    s1_fields = {k: fields.pop(k) for k in list(fields) if k in Section1.__dataclass_fields__}
    section1 = fields.pop("section1", Section1())
    if s1_fields:
        section1 = replace(section1, **s1_fields)
    return Message(descriptors=list(descriptors), data=data, section1=section1, **fields).encode()


def offsets(msg: bytes) -> dict[str, int]:
    """Start offsets of sections 1 to 5 of a well-formed message."""
    s2 = 8 + int.from_bytes(msg[8:11], "big")
    s3 = s2 + (int.from_bytes(msg[s2 : s2 + 3], "big") if msg[17 if msg[7] == 4 else 15] else 0)
    s4 = s3 + int.from_bytes(msg[s3 : s3 + 3], "big")
    s5 = s4 + int.from_bytes(msg[s4 : s4 + 3], "big")
    return {"s1": 8, "s2": s2, "s3": s3, "s4": s4, "s5": s5}


def edition4_twin(msg: bytes, header) -> bytes:
    """A message of edition 2 or 3 rewritten as edition 4, for a reader of
    edition 4 only: section 1 laid out anew from `header` (a BufrMessage
    framed from `msg`), sections 2 to 5 as they are."""
    if msg[7] == 4:
        return msg
    h = header
    section1 = Section1(master_table=h.master_table_number, centre=h.originating_centre,
                        subcentre=h.originating_subcentre, update_sequence=h.update_sequence_number,
                        flags=0x80 if h.local_section_present else 0, category=h.data_category,
                        international_subcategory=h.international_data_subcategory,
                        local_subcategory=h.local_data_subcategory, master_version=h.master_tables_version_number,
                        local_version=h.local_tables_version_number, year=h.typical_year, month=h.typical_month,
                        day=h.typical_day, hour=h.typical_hour, minute=h.typical_minute, second=h.typical_second)
    body = section1.encode(h.local_section_present) + msg[8 + h.section1_length :]
    return b"BUFR" + u(8 + len(body), 3) + b"\x04" + body
