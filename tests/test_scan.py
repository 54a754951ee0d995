"""Finding several messages among other bytes."""

import pytest

import _skyrec
from bufrgen import BitWriter, build_message

ONE = build_message([1001], b"\x01\x02", centre=1)
TWO = build_message([301011, 12101], BitWriter().uint(7, 40).to_bytes(), centre=2)


def scan(data: bytes):
    return _skyrec.parse_all_bytes(data)


@pytest.mark.parametrize("data", [b"", b"B", b"BUF", b"\0" * 100, b"BUR" * 50, b"7777BUFB"])
def test_no_marker_gives_no_messages(data):
    assert scan(data) == []


@pytest.mark.parametrize("gap", [b"", b"\0" * 10, b"GTS HEADER\r\r\n", b"BUF"])
def test_messages_among_junk(gap):
    found = scan(gap + ONE + gap + TWO + gap)
    assert [m.originating_centre for m in found] == [1, 2]
    # Offsets are relative to each message's own first byte.
    assert found[1].section4_data_offset == _skyrec.parse_bytes(TWO).section4_data_offset


def test_marker_inside_a_message_body_is_jumped_over():
    inner = build_message([1001], b"BUFR\0\0\x08\x04" + b"\0" * 4, centre=3)
    assert [m.originating_centre for m in scan(inner + ONE)] == [3, 1]


@pytest.mark.parametrize(
    "data, message",
    [
        (ONE + b"BUFR\0\0\x09", "message is too short to be BUFR"),
        (ONE + b"BUFR\0\x01\x00\x04" + b"\0" * 20, f"section 0 at offset {len(ONE)} is truncated"),
        (b"xx" + ONE[:-1], "section 0 at offset 2 is truncated"),
        (ONE + build_message([], edition=3), "unsupported BUFR edition 3; only edition 4 is implemented"),
        (ONE + b"BUFR\0\0\x04" + ONE, "message is too short to be BUFR"),
        (b"BUFR\0\0\0\x04" + ONE, "message is too short to be BUFR"),
    ],
)
def test_a_bad_message_fails_the_whole_scan(data, message):
    with pytest.raises(ValueError) as info:
        scan(data)
    assert str(info.value) == message


def test_declared_length_zero_does_not_stall():
    # The empty slice is refused by framing, after the scan moved past it.
    with pytest.raises(ValueError, match="^message is too short to be BUFR$"):
        scan(b"BUFR\0\0\0\x04" * 1000)


def test_many_markers_scan_in_one_pass():
    data = b"BUFR" * 250_000 + b"BUF"
    with pytest.raises(ValueError, match="is truncated"):
        scan(data)


def test_parse_all_file_matches_bytes(tmp_path):
    path = tmp_path / "two.bufr"
    path.write_bytes(b"junk" + ONE + TWO)
    found = _skyrec.parse_all_file(str(path))
    assert [repr(m) for m in found] == [repr(m) for m in scan(ONE + TWO)]
    (tmp_path / "empty.bufr").write_bytes(b"")
    assert _skyrec.parse_all_file(str(tmp_path / "empty.bufr")) == []
