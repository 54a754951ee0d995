"""No input crashes the decoder or reads outside section 4: truncated data,
flipped bits and random descriptor lists give values or a ValueError."""

import random

import pytest
from test_decode_compressed import DESCRIPTORS, compressed_bits, uncompressed_bits

import _skyrec
from bufrgen import build_message
from decodekit import decode, make_tables


@pytest.fixture(scope="module")
def tables(tmp_path_factory):
    return make_tables(tmp_path_factory.mktemp("robust"))


@pytest.mark.parametrize("is_compressed", [False, True])
def test_every_truncation_fails_cleanly(tables, is_compressed):
    data = (compressed_bits() if is_compressed else uncompressed_bits()).to_bytes()
    for n in range(len(data)):
        with pytest.raises(ValueError, match="not enough bits while reading section 4"):
            decode(tables, DESCRIPTORS, data[:n], subsets=3, compressed=is_compressed)


@pytest.mark.parametrize("is_compressed", [False, True])
def test_flipped_bits_give_values_or_an_error(tables, is_compressed):
    data = bytearray((compressed_bits() if is_compressed else uncompressed_bits()).to_bytes())
    rng = random.Random(4)
    for _ in range(300):
        mutated = bytearray(data)
        for _ in range(rng.randint(1, 4)):
            mutated[rng.randrange(len(mutated))] ^= 1 << rng.randrange(8)
        try:
            decode(tables, DESCRIPTORS, bytes(mutated), subsets=3, compressed=is_compressed)
        except ValueError:
            pass


def test_random_descriptor_lists(tables):
    pool = [1001, 1002, 12101, 1015, 2001, 31001, 31002, 31031, 10004, 10005, 301001, 301002, 101000, 102000,
            103001, 201140, 201000, 202130, 204070, 204005, 205004, 206070, 206009, 207005, 208010, 222000,
            223000, 223255, 225255, 235000, 236000, 237000, 237255]
    rng = random.Random(7)
    data = bytes(rng.randrange(256) for _ in range(64))
    for _ in range(2000):
        descriptors = [rng.choice(pool) for _ in range(rng.randint(1, 12))]
        message = build_message(descriptors, data, subsets=rng.randint(0, 3),
                                compressed=rng.random() < 0.5)
        try:
            values = _skyrec.decode_values_with_tables(message, tables)
        except ValueError:
            continue
        assert all(type(v) is _skyrec.DecodedValue for v in values)
