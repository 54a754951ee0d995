"""Hostile input: sequences that reference themselves, replication bombs,
65535 subsets of zero-width elements, widths beyond 64 bits, megabytes of
markers, and every truncation of real messages. Each ends in a ValueError
(or, for allocation failure, a MemoryError), never in a crash, a hang or an
exhausted machine."""

import os
import subprocess
import sys
import textwrap

import pytest

import _skyrec
from bufrgen import BitWriter, build_message, offsets
from decodekit import CODE_TABLES, ELEMENTS, SEQUENCES, bound_error, column, decode, make_tables, message_length
from tablegen import Element

PREFIX = "csv/table parse error: "
MAX_SUBSETS = 65535


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    sequences = dict(SEQUENCES)
    sequences.update({340001: [340001], 340002: [1001, 340003], 340003: [340002], 340004: [10005, 340004], 340005: []})
    elements = [*ELEMENTS, Element(63197, "EMPTY TEXT", "CCITT IA5", width=0)]
    return make_tables(tmp_path_factory.mktemp("hostile"), elements, sequences, CODE_TABLES)


def error_of(tables, descriptors, data, **fields):
    with pytest.raises(ValueError) as info:
        decode(tables, descriptors, data, **fields)
    return str(info.value)


# --- sequences ---------------------------------------------------------------

@pytest.mark.parametrize("compressed, message", [
    (False, PREFIX + "descriptor decode exceeded recursion depth"),
    (True, PREFIX + "compressed descriptor decode exceeded recursion depth"),
])
@pytest.mark.parametrize("sequence", [340001, 340002, 340004])
def test_self_referencing_sequences_stop_at_the_depth_limit(tables, sequence, compressed, message):
    # 340002 and 340003 name each other; 340004 reads a zero-width element on every level.
    data = b"\0" * 200
    assert error_of(tables, [sequence], data, subsets=2, compressed=compressed) == message


@pytest.mark.parametrize("sequence", [340001, 340002, 340004])
def test_self_referencing_sequences_do_not_expand(tables, sequence):
    with pytest.raises(ValueError, match="^csv/table parse error: sequence expansion exceeded recursion depth$"):
        tables.expand([sequence])


# --- bombs: little data asking for billions of values ------------------------

def test_nested_delayed_replications_over_zero_width_elements(tables):
    # 65535 passes of 65535 zero-width values each, from 32 bits a pass.
    descriptors = [103000, 31002, 101000, 31002, 10005]
    message = error_of(tables, descriptors, b"\xff" * 1024)
    assert message == bound_error("values", message_length(descriptors, b"\xff" * 1024))


@pytest.mark.parametrize("compressed", [False, True])
def test_max_subsets_of_zero_width_elements(tables, compressed):
    # 200 zero-width columns of 65535 subsets: 13 million values, from 150 bytes.
    descriptors = [101000, 31002, 10005]
    if compressed:
        bits = BitWriter()
        column(bits, 16, [200] * MAX_SUBSETS)
        for _ in range(200):
            column(bits, 0, [0] * MAX_SUBSETS)
        data = bits.to_bytes()
        fields = dict(subsets=MAX_SUBSETS, compressed=True)
    else:
        # Each uncompressed subset reads its own factor.
        data = BitWriter().uint(200, 16).to_bytes() * MAX_SUBSETS
        fields = dict(subsets=MAX_SUBSETS)
    message = error_of(tables, descriptors, data, **fields)
    assert message == bound_error("values", message_length(descriptors, data, **fields))


@pytest.mark.parametrize("compressed", [False, True])
def test_text_of_no_bits(tables, compressed):
    # Found by fuzzing: a character element of width 0 copied its no bytes
    # to a buffer that did not exist yet.
    if compressed:
        bits = BitWriter().uint(0, 6)  # the text's increments: none
        column(bits, 7, [42, 42])
        values = decode(tables, [63197, 1001], bits, subsets=2, compressed=True)
    else:
        values = decode(tables, [63197, 1001], BitWriter().uint(42, 7).uint(42, 7), subsets=2)
    assert [v.raw_value for v in values if v.descriptor == 1001] == [42.0] * 2
    assert [v.descriptor for v in values] == [63197, 1001] * 2


def test_max_subsets_of_shared_text(tables):
    # One 6-byte text shared by 65535 subsets, 200 times over.
    bits = BitWriter()
    column(bits, 16, [200] * MAX_SUBSETS)
    for _ in range(200):
        bits.text("ABCDEF", 48).uint(0, 6)
    fields = dict(subsets=MAX_SUBSETS, compressed=True)
    message = error_of(tables, [101000, 31002, 1015], bits, **fields)
    assert message == bound_error("values", message_length([101000, 31002, 1015], bits, **fields))


def test_markers_for_max_subsets(tables):
    # 255^4 passes over one marker, each a column of 65535 values.
    descriptors = [104255, 103255, 102255, 101255, 222000]
    message = error_of(tables, descriptors, b"", subsets=MAX_SUBSETS, compressed=True)
    assert message == bound_error("values", message_length(descriptors, b"", subsets=MAX_SUBSETS, compressed=True))


@pytest.mark.parametrize("body", [[201129], [340005]])
def test_nested_fixed_replications_without_data(tables, body):
    # 255^4 passes that read nothing and produce nothing still come to an end.
    descriptors = [104255, 103255, 102255, 101255] + body
    assert error_of(tables, descriptors, b"") == bound_error("descriptor steps", message_length(descriptors, b""))


def test_a_block_of_many_bombs_stays_bounded(tables):
    from skyrec import _native

    # 32 zero-width columns of 1000 subsets: 32000 values, as many as a
    # message of this length may make, from 130 bytes of data and padding.
    bits = BitWriter()
    for _ in range(32):
        column(bits, 0, [0] * 1000)
    data = bits.to_bytes()
    data += bytes((32000 - 1024) // 64 + 1 - message_length([10005] * 32, data, subsets=1000, compressed=True))
    bomb = build_message([10005] * 32, data, subsets=1000, compressed=True)
    alone = _native.decode_block([(bomb, 0, [0], [0], [tables])])
    assert list(memoryview(alone["rows"]).cast("Q")) == [32000] and alone["errors"] == []
    block = _native.decode_block([(bomb * 5, 0, [i * len(bomb) for i in range(5)], list(range(5)), [tables] * 5)])
    rows = list(memoryview(block["rows"]).cast("Q"))
    # Each message fits alone, but the block holds one floor, not five.
    assert 0 in rows and sum(rows) <= 1024 + 64 * 5 * len(bomb) and block["count"] == sum(rows)
    refused = [i for i, r in enumerate(rows) if r == 0]
    assert [(p, i) for p, i, *_ in block["errors"]] == [(0, i) for i in refused]
    assert all(e.startswith("decoded block exceeded ") and kind == "limit_exceeded"
               for _, _, e, _, kind in block["errors"])


# --- widths beyond 64 bits through operators ---------------------------------

@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize("descriptors, width", [
    ([206100, 1001], 100),
    ([207100, 1001], 7 + (10 * 100 + 2) // 3),
    ([201255, 12101], 12 + 127),
    ([204065, 1001], 65),
    ([10004, 236000, 101001, 31031, 225255], 65),  # a 64-bit element's difference is one bit wider
])
def test_widths_beyond_64_bits(tables, descriptors, width, compressed):
    message = error_of(tables, descriptors, b"\0" * 64, subsets=2, compressed=compressed)
    assert message == PREFIX + f"cannot read {width} bits into u64"


# --- megabytes of markers ----------------------------------------------------

@pytest.mark.parametrize("unit, message", [
    (b"BUFR", "section 0 at offset 0 is truncated"),  # "BUF" declares 4347206 octets
    (b"BUFR\0\0\0\x04", "message is too short to be BUFR"),  # each declares 0
    (b"BUFR\0\0\x08\x04", "section 1 at offset 8 is truncated"),  # 524288 slices of 8
], ids=["markers", "zero lengths", "eight octets each"])
def test_megabytes_of_markers(tables, unit, message):
    data = unit * ((4 << 20) // len(unit))
    with pytest.raises(ValueError) as info:
        _skyrec.parse_all_bytes(data)
    assert str(info.value) == message
    with pytest.raises(ValueError) as info:
        _skyrec.decode_values_with_tables(data, tables)
    assert str(info.value) == message


def test_megabytes_of_near_markers(tables):
    data = b"BUF" * (1 << 20) + b"UFR" * (1 << 20)
    assert _skyrec.parse_all_bytes(data) == []
    with pytest.raises(ValueError, match="^missing BUFR marker$"):
        _skyrec.decode_values_with_tables(data, tables)


# --- every truncation of real messages ---------------------------------------

REAL = ["ed4-compr-string.bufr", "terra-modis-aerosol.bufr", "gsd3_208.bufr", "temp-gtscosmo.bufr"]


@pytest.fixture(params=REAL)
def real(request, corpus, definitions):
    path = corpus / request.param
    if not path.is_file():
        pytest.skip(f"{request.param} is not in the corpus")
    found = path.read_bytes()
    message = _skyrec.parse_all_bytes(found)[0]
    start = found.find(b"BUFR")
    data = found[start:start + message.total_length]  # without the file's padding
    tables = _skyrec.TableSet.from_definitions(str(definitions), message)
    return data, tables


def shown(values):
    return [(v.descriptor, v.raw, v.raw_text) for v in values]


def test_every_cut_of_a_real_message_fails(real):
    data, tables = real
    for n in range(len(data)):
        cut = data[:n]
        # As cut, and claiming the cut length, so that framing reads as far as it can.
        claimed = cut[:4] + n.to_bytes(3, "big") + cut[7:] if n >= 7 else cut
        for candidate in (cut, claimed):
            with pytest.raises(ValueError):
                _skyrec.parse_bytes(candidate)
            with pytest.raises(ValueError):
                _skyrec.decode_values_with_tables(candidate, tables)


def test_every_cut_of_real_section_4_data_fails_or_decodes_alike(real):
    data, tables = real
    full = shown(_skyrec.decode_values_with_tables(data, tables))
    s4 = offsets(data)["s4"]
    section4 = data[s4 + 4:offsets(data)["s5"]]
    failures = 0
    for k in range(len(section4)):
        body = data[8:s4] + (4 + k).to_bytes(3, "big") + data[s4 + 3:s4 + 4] + section4[:k] + b"7777"
        message = data[:4] + (8 + len(body)).to_bytes(3, "big") + data[7:8] + body
        try:
            values = _skyrec.decode_values_with_tables(message, tables)
        except ValueError as e:
            assert "not enough bits" in str(e)
            failures += 1
        else:
            assert shown(values) == full  # only padding was cut
    assert failures >= len(section4) - 8


# --- allocation failure ------------------------------------------------------

LOW_MEMORY = """
import resource, sys
import _skyrec
from bufrgen import BitWriter, build_message
from decodekit import column

def address_space():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))

tables = _skyrec.TableSet.from_eccodes(sys.argv[1])
if sys.argv[2] == "decode":
    # 128 zero-width columns of 65535 subsets: within the bound for its
    # 131 KB (the data's padding is ignored), over the memory given.
    bits = BitWriter()
    for _ in range(128):
        column(bits, 0, [0] * 65535)
    data = bits.to_bytes() + bytes(131100)
    message = build_message([10005] * 128, data, subsets=65535, compressed=True)
    call = lambda: _skyrec.decode_values_with_tables(message, tables)
else:
    call = lambda: tables.expand([103255, 102015, 101255, 1001])  # 975375 descriptors
headroom = {"decode": 64 << 20, "expand": 16 << 20}[sys.argv[2]]
resource.setrlimit(resource.RLIMIT_AS, (address_space() + headroom, resource.RLIM_INFINITY))
try:
    call()
except MemoryError:
    print("MemoryError")
except ValueError as e:
    print(e)
"""


UNDER_ASAN = pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                                reason="the address sanitizer reports allocation failure as a fault of its own")


@UNDER_ASAN
def test_descriptor_sequences_too_long_to_hold(tables):
    # Converted before any other work; the terabyte list they ask for is refused.
    with pytest.raises(MemoryError):
        tables.expand(range(10**12))
    with pytest.raises(MemoryError):
        _skyrec.expand_descriptors("no such directory", range(10**12))


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status")
@UNDER_ASAN
@pytest.mark.parametrize("call", ["decode", "expand"])
def test_allocation_failure_is_a_memory_error(tmp_path, call):
    make_tables(tmp_path)  # writes tables0 under tmp_path
    table_dir = next(p for p in tmp_path.iterdir() if p.is_dir())
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(LOW_MEMORY), str(table_dir), call],
                            capture_output=True, text=True, env=env, timeout=120)
    assert (result.returncode, result.stdout.strip()) == (0, "MemoryError"), result.stderr
