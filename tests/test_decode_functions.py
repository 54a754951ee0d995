"""decode_values and decode_values_with_tables: arguments, step order, and
which message of a buffer they decode."""

import inspect
import pathlib

import pytest

import _skyrec
from bufrgen import BitWriter, build_message
from decodekit import ELEMENTS, SEQUENCES, CODE_TABLES, shown
from tablegen import write_table_dir

MSG = build_message([1001, 2001], BitWriter().uint(5, 7).uint(1, 2).to_bytes())
OTHER = build_message([1001], BitWriter().uint(9, 7).to_bytes())


@pytest.fixture(scope="module")
def table_dir(tmp_path_factory):
    return write_table_dir(tmp_path_factory.mktemp("fn") / "t", ELEMENTS, SEQUENCES, CODE_TABLES)


@pytest.fixture(scope="module")
def tables(table_dir):
    return _skyrec.TableSet.from_eccodes(table_dir)


@pytest.mark.parametrize("name, params", [("decode_values", ["data", "table_dir"]),
                                          ("decode_values_with_tables", ["data", "tables"])])
def test_signatures(name, params):
    fn = getattr(_skyrec, name)
    assert fn.__text_signature__ == f"({', '.join(params)})"
    assert list(inspect.signature(fn).parameters) == params


def test_both_functions_agree(table_dir, tables):
    by_dir = _skyrec.decode_values(MSG, table_dir)
    by_set = _skyrec.decode_values_with_tables(data=MSG, tables=tables)
    assert shown(by_dir) == shown(by_set) == [(1001, 5.0), (2001, "MANNED")]
    assert _skyrec.decode_values(data=MSG, table_dir=table_dir)[1].raw == 1


@pytest.mark.parametrize("data", [b"", b"no marker here"])
def test_no_message_is_reported_before_the_tables(data, tmp_path):
    with pytest.raises(ValueError, match="^missing BUFR marker$"):
        _skyrec.decode_values(data, str(tmp_path / "absent"))


def test_bad_message_is_reported_before_a_bad_directory(tmp_path):
    with pytest.raises(ValueError, match="^section 5 terminator is not 7777$"):
        _skyrec.decode_values(build_message([1001], b"\0", terminator=b"7778"), str(tmp_path / "absent"))


def test_bad_directory_with_a_good_message(tmp_path):
    with pytest.raises(ValueError):
        _skyrec.decode_values(MSG, str(tmp_path / "absent"))


def test_only_the_first_message_is_decoded(table_dir, tables):
    data = b"junk" + MSG + OTHER
    assert shown(_skyrec.decode_values(data, table_dir)) == [(1001, 5.0), (2001, "MANNED")]
    assert len(_skyrec.decode_values_with_tables(data, tables)) == 2


def test_a_broken_later_message_fails_the_call(tables):
    tail = b"BUFR\xff\xff\xff\x04"
    with pytest.raises(ValueError, match=f"^section 0 at offset {len(MSG)} is truncated$"):
        _skyrec.decode_values_with_tables(MSG + tail, tables)


@pytest.mark.parametrize(
    "call",
    [
        lambda d, t: _skyrec.decode_values_with_tables(MSG, "tables"),
        lambda d, t: _skyrec.decode_values_with_tables(bytearray(MSG), t),
        lambda d, t: _skyrec.decode_values(MSG, pathlib.Path(d)),
        lambda d, t: _skyrec.decode_values(MSG, d.encode()),
        lambda d, t: _skyrec.decode_values(MSG),
    ],
)
def test_argument_types(call, table_dir, tables):
    with pytest.raises(TypeError):
        call(table_dir, tables)


def test_table_set_is_reusable(tables):
    first = _skyrec.decode_values_with_tables(MSG, tables)
    second = _skyrec.decode_values_with_tables(MSG, tables)
    assert shown(first) == shown(second) and first[0] is not second[0]


def test_result_is_a_new_list_of_decoded_values(tables):
    values = _skyrec.decode_values_with_tables(MSG, tables)
    assert type(values) is list and all(type(v) is _skyrec.DecodedValue for v in values)
