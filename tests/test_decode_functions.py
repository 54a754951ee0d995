"""decode_values, decode_values_with_tables and decode_values_with_definitions:
arguments, step order, and which message of a buffer they decode."""

import inspect
import pathlib

import pytest

import _skyrec
from bufrgen import BitWriter, build_message
from decodekit import CODE_TABLES, ELEMENTS, SEQUENCES, shown
from tablegen import write_table_dir

MSG = build_message([1001, 2001], BitWriter().uint(5, 7).uint(1, 2).to_bytes())
OTHER = build_message([1001], BitWriter().uint(9, 7).to_bytes())


@pytest.fixture(scope="module")
def table_dir(tmp_path_factory):
    return write_table_dir(tmp_path_factory.mktemp("fn") / "t", ELEMENTS, SEQUENCES, CODE_TABLES)


@pytest.fixture(scope="module")
def tables(table_dir):
    return _skyrec.TableSet.from_eccodes(table_dir)


@pytest.fixture(scope="module")
def definitions_root(tmp_path_factory):
    # The test messages name master table 0, version 38, no local tables.
    root = tmp_path_factory.mktemp("defs")
    write_table_dir(root / "bufr" / "tables" / "0" / "wmo" / "38", ELEMENTS, SEQUENCES, CODE_TABLES)
    return str(root)


@pytest.fixture(params=["decode_values", "decode_values_with_tables", "decode_values_with_definitions"])
def decoder(request, table_dir, tables, definitions_root):
    """(function, its table argument) for each decoding function."""
    argument = {"decode_values": table_dir, "decode_values_with_tables": tables,
                "decode_values_with_definitions": definitions_root}[request.param]
    return getattr(_skyrec, request.param), argument


@pytest.mark.parametrize("name, params", [("decode_values", ["data", "table_dir"]),
                                          ("decode_values_with_tables", ["data", "tables"]),
                                          ("decode_values_with_definitions", ["data", "definitions_root"])])
def test_signatures(name, params):
    fn = getattr(_skyrec, name)
    assert fn.__text_signature__ == f"({', '.join(params)})"
    assert list(inspect.signature(fn).parameters) == params


def test_all_functions_agree(decoder):
    fn, argument = decoder
    assert shown(fn(MSG, argument)) == [(1001, 5.0), (2001, "MANNED")]
    keyword = fn.__text_signature__.strip("()").split(", ")[1]
    assert fn(data=MSG, **{keyword: argument})[1].raw == 1


@pytest.mark.parametrize("fn", [_skyrec.decode_values, _skyrec.decode_values_with_definitions])
@pytest.mark.parametrize("data", [b"", b"no marker here"])
def test_no_message_is_reported_before_the_tables(fn, data, tmp_path):
    with pytest.raises(ValueError, match="^missing BUFR marker$"):
        fn(data, str(tmp_path / "absent"))


@pytest.mark.parametrize("fn", [_skyrec.decode_values, _skyrec.decode_values_with_definitions])
def test_bad_message_is_reported_before_a_bad_directory(fn, tmp_path):
    with pytest.raises(ValueError, match="^section 5 terminator is not 7777$"):
        fn(build_message([1001], b"\0", terminator=b"7778"), str(tmp_path / "absent"))


def test_bad_directory_with_a_good_message(tmp_path):
    with pytest.raises(ValueError, match="^csv/table parse error: No such file or directory"):
        _skyrec.decode_values(MSG, str(tmp_path / "absent"))
    where = tmp_path / "absent" / "bufr" / "tables" / "0" / "wmo" / "38"
    with pytest.raises(ValueError) as info:
        _skyrec.decode_values_with_definitions(MSG, str(tmp_path / "absent"))
    assert str(info.value) == f"csv/table parse error: ecCodes table directory does not exist: {where}"


def test_definitions_follow_the_message_header(definitions_root):
    # Version 37 is not in the tree: the message's own numbers choose.
    with pytest.raises(ValueError, match="ecCodes table directory does not exist: .*/wmo/37$"):
        _skyrec.decode_values_with_definitions(build_message([1001], b"\0", master_version=37), definitions_root)


def test_only_the_first_message_is_decoded(decoder):
    fn, argument = decoder
    assert shown(fn(b"junk" + MSG + OTHER, argument)) == [(1001, 5.0), (2001, "MANNED")]


def test_a_broken_later_message_fails_the_call(decoder):
    fn, argument = decoder
    tail = b"BUFR\xff\xff\xff\x04"
    with pytest.raises(ValueError, match=f"^section 0 at offset {len(MSG)} is truncated$"):
        fn(MSG + tail, argument)


@pytest.mark.parametrize(
    "call",
    [
        lambda d, t: _skyrec.decode_values_with_tables(MSG, "tables"),
        lambda d, t: _skyrec.decode_values_with_tables(bytearray(MSG), t),
        lambda d, t: _skyrec.decode_values(MSG, pathlib.Path(d)),
        lambda d, t: _skyrec.decode_values(MSG, d.encode()),
        lambda d, t: _skyrec.decode_values(MSG),
        lambda d, t: _skyrec.decode_values_with_definitions(MSG, pathlib.Path(d)),
        lambda d, t: _skyrec.decode_values_with_definitions(MSG, t),
        lambda d, t: _skyrec.decode_values_with_definitions(data=MSG, table_dir=d),
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
