"""Framing one message: header fields, descriptor pairs, and every check in order."""

import pytest

import _skyrec
from bufrgen import BitWriter, Section1, build_message, offsets


def frame(msg: bytes):
    return _skyrec.parse_bytes(msg)


def error_of(msg: bytes) -> str:
    with pytest.raises(ValueError) as info:
        frame(msg)
    assert type(info.value) is ValueError
    return str(info.value)


def test_every_header_field_is_read_from_its_octet():
    s1 = Section1(
        master_table=7, centre=0xABCD, subcentre=0x1234, update_sequence=9, category=21,
        international_subcategory=22, local_subcategory=23, master_version=41, local_version=17,
        year=2031, month=12, day=30, hour=23, minute=58, second=59,
    )
    data = BitWriter().uint(5, 3).to_bytes()
    msg = build_message([301011, 12101], data, section1=s1, subsets=513, observed=False, compressed=True,
                        section2=b"local")
    m = frame(msg)
    off = offsets(msg)
    expected = {
        "total_length": len(msg), "section1_length": 22, "section2_length": 9, "section3_length": 11,
        "section4_length": 5, "section4_data_offset": off["s4"] + 4, "section4_data_length": 1,
        "originating_centre": 0xABCD, "originating_subcentre": 0x1234, "typical_year": 2031,
        "number_of_subsets": 513, "local_section_present": True, "observed_data": False,
        "compressed_data": True, "edition": 4, "master_table_number": 7, "update_sequence_number": 9,
        "data_category": 21, "international_data_subcategory": 22, "local_data_subcategory": 23,
        "master_tables_version_number": 41, "local_tables_version_number": 17, "typical_month": 12,
        "typical_day": 30, "typical_hour": 23, "typical_minute": 58, "typical_second": 59,
        "unexpanded_descriptors": [301011, 12101],
    }
    assert {k: getattr(m, k) for k in expected} == expected
    assert msg[m.section4_data_offset:m.section4_data_offset + m.section4_data_length] == data
    assert type(m.local_section_present) is bool and type(m.total_length) is int


@pytest.mark.parametrize(
    "pair, code",
    [(b"\xc1\x0b", 301011), (b"\x00\x01", 1), (b"\xff\xff", 363255), (b"\x41\x00", 101000), (b"\x80\x00", 200000)],
)
def test_descriptor_pairs(pair, code):
    msg = build_message([], section3_pad=pair)
    assert frame(msg).unexpanded_descriptors == [code]


def test_repr_and_descriptor_list_copies():
    m = frame(build_message([307080, 1023], b"\0" * 6))
    expected = f"BufrMessage(edition=4, length={m.total_length}, subsets=1, descriptors=[307080, 1023])"
    assert repr(m) == str(m) == expected
    m.unexpanded_descriptors.append(5)
    assert m.unexpanded_descriptors == [307080, 1023]
    empty = frame(build_message([]))
    assert repr(empty).endswith("descriptors=[])") and empty.unexpanded_descriptors == []


@pytest.mark.parametrize("count, length", [(1, 10), (0, 8), (2, 12)])
def test_odd_descriptor_area_ends_in_padding(count, length):
    # Edition 3 encoders padded section 3 to even length; the last octet is padding.
    m = frame(build_message([301011, 1001][:count], section3_pad=b"\0"))
    assert m.section3_length == length
    assert m.unexpanded_descriptors == [301011, 1001][:count]


def test_unknown_flags_octet_still_means_section2():
    # Any non-zero flags octet, even a reserved bit, announces section 2.
    plain = build_message([1001], b"\0\0")
    assert frame(plain).section2_length == 0
    msg = build_message([1001], b"\0\0", section2=b"xyz", flags=0x01)
    m = frame(msg)
    assert m.local_section_present and m.section2_length == 7 and m.unexpanded_descriptors == [1001]


def test_smallest_section4_and_bytes_after_terminator():
    m = frame(build_message([], b"", section4_length=3, section4_reserved=b""))
    assert m.section4_length == 3 and m.section4_data_length == 0
    assert m.section4_data_offset == offsets(build_message([]))["s4"] + 4
    tail = frame(build_message([1001], b"\x01\x02", trailing=b"junk"))
    assert tail.total_length == tail.section4_data_offset + 2 + 4 + 4


def test_long_section1_is_skipped_unread():
    m = frame(build_message([1001], b"\0\0", extra=b"\xff" * 40, centre=74))
    assert m.section1_length == 62 and m.originating_centre == 74 and m.unexpanded_descriptors == [1001]


GOOD = build_message([1001, 301011], b"\x12\x34\x56")
OFF = offsets(GOOD)


@pytest.mark.parametrize(
    "msg, message",
    [
        (b"", "message is too short to be BUFR"),
        (b"BUFR\0\0\x07", "message is too short to be BUFR"),
        (b"BURF" + GOOD[4:], "missing BUFR marker"),
        (b" " + GOOD[:-1], "missing BUFR marker"),
        (build_message([], edition=3, total_length=5), "unsupported BUFR edition 3; only edition 4 is implemented"),
        (GOOD[:7] + b"\x02" + GOOD[8:], "unsupported BUFR edition 2; only edition 4 is implemented"),
        (GOOD + b"\0", f"declared length {len(GOOD)} does not match buffer length {len(GOOD) + 1}"),
        (GOOD + GOOD, f"declared length {len(GOOD)} does not match buffer length {2 * len(GOOD)}"),
        (b"BUFR\0\0\x08\x04", "section 1 at offset 8 is truncated"),
        (b"BUFR\0\0\x0a\x04\0\0", "section 1 at offset 8 is truncated"),
        (build_message([], length=0xFFFFFF), "section 1 at offset 8 is truncated"),
        (build_message([], section2=b"ab", section2_length=0xFFFFFF), f"section 2 at offset {OFF['s2']} is truncated"),
        (build_message([], section3_length=6), f"section 3 at offset {OFF['s2']} is truncated"),
        (build_message([], section3_length=0xFFFFFF), f"section 3 at offset {OFF['s3']} is truncated"),
        (build_message([1001], b"\0", section4_length=0xFFFFFF), f"section 4 at offset {OFF['s3'] + 9} is truncated"),
        (build_message([], b"", section4_length=3, section4_reserved=b"", terminator=b"777"),
         f"section 5 at offset {OFF['s3'] + 7 + 3} is truncated"),
        (build_message([1001], b"\0", terminator=b"7778"), "section 5 terminator is not 7777"),
    ],
)
def test_framing_errors(msg, message):
    assert error_of(msg) == message


def test_truncation_at_every_length_fails_cleanly():
    msg = build_message([301011, 12101], BitWriter().uint(1, 17).to_bytes(), section2=b"local")
    for cut in range(len(msg)):
        piece = msg[:cut]
        # Keep the declared length honest so each later check is reached.
        if cut >= 7:
            piece = piece[:4] + cut.to_bytes(3, "big") + piece[7:]
        with pytest.raises(ValueError):
            frame(piece)


@pytest.mark.parametrize("trailing", range(6))
def test_message_shorter_than_fixed_section1_octets(trailing):
    # A 3-octet section 1 lets sections 3 to 5 end at octet 25, before the
    # fixed octets 25 to 29 that are read whatever section 1 declares.
    length = 25 + trailing
    msg = (
        b"BUFR" + length.to_bytes(3, "big") + b"\x04" + (3).to_bytes(3, "big")
        + (7).to_bytes(3, "big") + b"\0\0\x01\0"  # section 3 at 11; its flags octet is octet 17
        + (3).to_bytes(3, "big") + b"7777" + b"\x05" * trailing
    )
    if trailing < 5:
        assert error_of(msg) == "section 1 at offset 8 is truncated"
    else:
        m = frame(msg)
        assert (m.section3_length, m.typical_year, m.typical_second) == (7, 0x3737, 5)


def test_section_lengths_near_two_to_the_24():
    big = build_message([1001], b"\0" * (1 << 20))
    m = frame(big)
    assert m.section4_data_length == 1 << 20
    huge = build_message([1001], b"\0", section4_length=(1 << 24) - 1)
    assert error_of(huge) == f"section 4 at offset {offsets(huge)['s4']} is truncated"
