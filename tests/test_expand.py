"""Descriptor expansion: TableSet.expand and expand_descriptors."""

import inspect
import random

import pytest

import _skyrec
from _skyrec import Descriptor, TableSet
from expansion_reference import reference_expand
from tablegen import write_table_dir

PREFIX = "csv/table parse error: "
DEPTH = PREFIX + "sequence expansion exceeded recursion depth"


def tables_with(tmp_path, sequences):
    return TableSet.from_eccodes(write_table_dir(tmp_path / "t", sequences=sequences))


def expand(tmp_path, sequences, descriptors):
    return tables_with(tmp_path, sequences).expand(descriptors)


def expand_error(tmp_path, sequences, descriptors):
    with pytest.raises(ValueError) as info:
        expand(tmp_path, sequences, descriptors)
    return str(info.value)


@pytest.mark.parametrize("descriptors, expanded", [
    ([301011], [4001, 4002, 4003]),
    ([102003, 1001, 1002], [1001, 1002, 1001, 1002, 1001, 1002]),
    ([101000, 31001, 1001], [31001, 1001]),
    ([204008, 31021, 12101, 204000, 12102], [31021, 999999, 12101, 12102]),
    ([201129, 12101, 201000], [12101]),
    ([], []),
    ([301099], []),                                    # an empty sequence
    ([1001, 301099, 1002], [1001, 1002]),
    ([12345, 63255], [12345, 63255]),                  # not in Table B: no matter
    ([25600000], [25600000]),                          # F wraps to 0: an element, kept as given
    ([1999], [1999]),
    ([101256, 31001, 1001], [31001, 1001]),            # Y = 256 keeps 0 in 8 bits: delayed
    ([101257, 1001], [1001]),                          # Y = 257 keeps 1: once
    ([102002, 101002, 1001, 1002], [1001, 1001, 1001, 1001, 1002]),
    ([104002, 301011, 101000, 31001, 1001], [4001, 4002, 4003, 31001, 1001] * 2),
    ([301012], [1001, 1002, 1001, 1002]),
    ([101002, 301013], [1001, 1002, 31001, 1003] * 2),
])
def test_expansions(tmp_path, descriptors, expanded):
    sequences = {301011: [4001, 4002, 4003], 301099: [], 301012: [102002, 1001, 1002],
                 301013: [1001, 1002, 101000, 31001, 1003]}
    assert expand(tmp_path, sequences, descriptors) == expanded


@pytest.mark.parametrize("kept", [203010, 203255, 205008, 222000, 223255, 224000, 235000, 237000, 200000, 209001,
                                  299999, 221010])
def test_operators_that_stay(tmp_path, kept):
    assert expand(tmp_path, {}, [1001, kept, 1002]) == [1001, kept, 1002]


@pytest.mark.parametrize("dropped", [201129, 201000, 202130, 204008, 204000, 206016, 207001, 208010])
def test_operators_that_go(tmp_path, dropped):
    assert expand(tmp_path, {}, [dropped, 31001]) == [31001]


def test_associated_field_marker(tmp_path):
    sequences = {301001: [1001, 31001, 1002], 301002: [204004], 301003: [204000]}
    # Inside sequences and replicated parts too; class 31 never gets it.
    assert expand(tmp_path, sequences, [204008, 31021, 301001, 102001, 1003, 204000, 1004]) == [
        31021, 999999, 1001, 31001, 999999, 1002, 999999, 1003, 1004]
    # A width set inside a sequence stays in force after it, until the next 2-04.
    assert expand(tmp_path, sequences, [301002, 1001, 301003, 1002]) == [999999, 1001, 1002]
    # Y is taken in 8 bits: 204256 ends the field.
    assert expand(tmp_path, sequences, [204007, 1001, 204256, 1002]) == [999999, 1001, 1002]


def chain(n, last_members):
    """Sequences 310001..310000+n, each holding the next; the last holds `last_members`."""
    sequences = {310000 + i: [310001 + i] for i in range(1, n)}
    sequences[310000 + n] = last_members
    return sequences


@pytest.mark.parametrize("n, ok", [(63, True), (64, True), (65, False)])
def test_depth_through_sequences(tmp_path, n, ok):
    if ok:
        assert expand(tmp_path, chain(n, [1001]), [310001]) == [1001]
    else:
        assert expand_error(tmp_path, chain(n, [1001]), [310001]) == DEPTH
        # The depth is checked on entry, even for an empty list.
        assert expand_error(tmp_path, chain(n, []), [310001]) == DEPTH


def nested_replications(levels, y, innermost):
    """`levels` fixed replications, each of everything after it."""
    descriptors = [innermost]
    for _ in range(levels):
        descriptors = [100000 + len(descriptors) * 1000 + y] + descriptors
    return descriptors


@pytest.mark.parametrize("n, ok", [(64, True), (65, False)])
def test_depth_through_replications(tmp_path, n, ok):
    descriptors = nested_replications(n, 1, 1001)
    if ok:
        assert expand(tmp_path, {}, descriptors) == [1001]
    else:
        assert expand_error(tmp_path, {}, descriptors) == DEPTH


def test_self_reference(tmp_path):
    assert expand_error(tmp_path, {301001: [1001, 301001]}, [301001]) == DEPTH
    assert expand_error(tmp_path, {301001: [301002], 301002: [301001]}, [1001, 301001]) == DEPTH


@pytest.mark.parametrize("descriptors, message", [
    ([103002, 1001, 1002], "unsupported replication descriptor 103002"),
    ([100000, 1001, 1002], "unsupported replication descriptor 100000"),
    ([100005, 1001], "unsupported replication descriptor 100005"),
    ([101000], "unsupported replication descriptor 101000"),
    ([101000, 31001], "delayed replication descriptor 101000 is missing its replication factor or "
                      "replicated descriptors"),
    ([102000, 31001, 1001], "delayed replication descriptor 102000 is missing its replication factor or "
                            "replicated descriptors"),
    ([301001, 1003], "unsupported replication descriptor 102002"),  # counts apply within the sequence
    ([309999], "descriptor 309999 was not found in Table D"),
    ([1001, 400000], PREFIX + "invalid descriptor 400000"),
    ([25500000], PREFIX + "invalid descriptor 25500000"),
    ([4294967295], PREFIX + "invalid descriptor 4294967295"),
    ([101001, 301002], PREFIX + "invalid descriptor 499999"),
])
def test_errors(tmp_path, descriptors, message):
    sequences = {301001: [1001, 102002, 1002], 301002: [1001, 499999]}
    assert expand_error(tmp_path, sequences, descriptors) == message


def test_fixed_replication_of_exactly_the_rest(tmp_path):
    assert expand(tmp_path, {}, [1001, 102002, 1002, 1003]) == [1001, 1002, 1003, 1002, 1003]


def test_replications_multiply_until_the_limit(tmp_path):
    assert expand(tmp_path, {}, nested_replications(2, 255, 1001)) == [1001] * 255 * 255
    limit = PREFIX + f"sequence expansion exceeded {2**20 + 64 * 31} descriptors for its {2 * 31} bytes of input"
    assert expand_error(tmp_path, {}, nested_replications(30, 255, 1001)) == limit
    # Work without output is bounded too: an empty sequence replicated without end.
    assert expand_error(tmp_path, {301099: []}, nested_replications(30, 255, 301099)) == limit
    # Markers of an associated field count: 1010101 visits, 2 million descriptors out.
    marked = [204001] + nested_replications(3, 100, 1001)
    assert expand_error(tmp_path, {}, marked) == (
        PREFIX + f"sequence expansion exceeded {2**20 + 64 * 5} descriptors for its 10 bytes of input")


# --- a reference written from the rules, on random lists ---------------------

def random_descriptor(rng, codes):
    kind = rng.random()
    if kind < 0.45:
        return rng.choice([1001, 1002, 31001, 31031, 12101, 8042])
    if kind < 0.6:
        return 100000 + rng.randint(1, 3) * 1000 + rng.choice([0, 0, 1, 2, 3, 256, 257])
    if kind < 0.75:
        return rng.choice([201129, 201000, 204008, 204000, 205004, 222000, 206016, 223255])
    if kind < 0.98:
        return rng.choice(codes)
    return rng.choice([400000, 309999])


def test_random_lists_agree_with_the_rules(tmp_path):
    rng = random.Random(20240601)
    codes = [301000 + i for i in range(12)]
    sequences = {c: [random_descriptor(rng, codes[i + 1:] or [1001]) for _ in range(rng.randint(0, 5))]
                 for i, c in enumerate(codes)}
    tables = tables_with(tmp_path, sequences)
    outcomes = set()
    for _ in range(3000):
        descriptors = [random_descriptor(rng, codes) for _ in range(rng.randint(0, 8))]
        try:
            expected = reference_expand(sequences, descriptors)
        except ValueError as e:
            with pytest.raises(ValueError):
                tables.expand(descriptors)
            outcomes.add(str(e))
        else:
            assert tables.expand(descriptors) == expected, descriptors
            outcomes.add("ok")
    assert outcomes == {"ok", "unsupported", "incomplete", "missing", "invalid"}


# --- arguments ---------------------------------------------------------------

class Index:
    def __index__(self):
        return 1001


@pytest.mark.parametrize("descriptors", [[1001], (1001,), range(1001, 1002), [Index()], [True]])
def test_sequences_of_integers_are_accepted(descriptors):
    assert TableSet().expand(descriptors) in ([1001], [1])


@pytest.mark.parametrize("descriptors, exc, text", [
    ("301011", TypeError, "argument 'descriptors': Can't extract `str` to `Vec`"),
    ({301011}, TypeError, "argument 'descriptors'"),
    ((c for c in [1]), TypeError, "argument 'descriptors'"),
    (301011, TypeError, "argument 'descriptors'"),
    ([Descriptor(3, 1, 11)], TypeError, None),
    (["1001"], TypeError, None),
    ([-1], OverflowError, None),
    ([2**32], OverflowError, None),
])
def test_bad_descriptor_arguments(tmp_path, descriptors, exc, text):
    root = write_table_dir(tmp_path / "t")
    for call in (lambda: TableSet().expand(descriptors), lambda: _skyrec.expand_descriptors(root, descriptors),
                 lambda: _skyrec.expand_descriptors(str(tmp_path / "missing"), descriptors)):
        with pytest.raises(exc) as info:
            call()
        if text:
            assert str(info.value).startswith(text)


def test_expand_descriptors_matches_the_method(tmp_path):
    root = write_table_dir(tmp_path / "t", sequences={301001: [1001, 101000, 31001, 1002]})
    codes = [301001, 204001, 1003]
    assert _skyrec.expand_descriptors(root, codes) == TableSet.from_eccodes(root).expand(codes)
    with pytest.raises(ValueError, match="^descriptor 301002 was not found in Table D$"):
        _skyrec.expand_descriptors(root, [301002])


@pytest.mark.parametrize("table_dir", [None, b"/tmp", 3])
def test_table_dir_must_be_str(table_dir):
    import pathlib
    for bad in (table_dir, pathlib.Path("/tmp")):
        with pytest.raises(TypeError, match="table_dir"):
            _skyrec.expand_descriptors(bad, "not even checked")


def test_expand_descriptors_signature():
    fn = _skyrec.expand_descriptors
    assert fn.__text_signature__ == "(table_dir, descriptors)"
    assert list(inspect.signature(fn).parameters) == ["table_dir", "descriptors"]
