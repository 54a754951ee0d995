"""The module's surface: registration, argument conventions and exception types."""

import inspect
import pathlib

import pytest

import _skyrec
from bufrgen import build_message

MSG = build_message([1001], b"\x01\x02")


def test_all_lists_classes_then_functions_in_order():
    names = list(_skyrec.__all__)
    classes = [n for n in names if isinstance(getattr(_skyrec, n), type)]
    functions = [n for n in names if not isinstance(getattr(_skyrec, n), type)]
    assert names == classes + functions
    order = ["BufrMessage", "DecodedValue", "Descriptor", "ElementDefinition", "SequenceDefinition", "TableSet",
             "parse_bytes", "parse_file", "parse_all_bytes", "parse_all_file", "expand_descriptors",
             "decode_values", "decode_values_with_tables", "decode_values_with_definitions"]
    assert names == [n for n in order if n in names]
    assert {"BufrMessage", "Descriptor", "parse_bytes", "parse_file", "parse_all_bytes", "parse_all_file"} <= set(names)
    assert _skyrec.__doc__ == ""


@pytest.mark.parametrize("name", ["BufrMessage", "Descriptor"])
def test_classes_live_in_builtins(name):
    cls = getattr(_skyrec, name)
    assert cls.__module__ == "builtins" and cls.__name__ == name
    assert repr(cls) == f"<class 'builtins.{name}'>"


@pytest.mark.parametrize("name, params", [("parse_bytes", ["data"]), ("parse_file", ["path"]),
                                          ("parse_all_bytes", ["data"]), ("parse_all_file", ["path"])])
def test_function_signatures(name, params):
    fn = getattr(_skyrec, name)
    assert fn.__doc__ is None or fn.__doc__ == ""
    assert fn.__text_signature__ == f"({', '.join(params)})"
    assert list(inspect.signature(fn).parameters) == params


@pytest.mark.parametrize("fn", [_skyrec.parse_bytes, _skyrec.parse_all_bytes])
@pytest.mark.parametrize("bad", [bytearray(MSG), memoryview(MSG), "BUFR", None])
def test_data_must_be_bytes(fn, bad):
    with pytest.raises(TypeError, match="data"):
        fn(bad)


def test_bytes_subclass_and_keywords_are_accepted():
    class Sub(bytes):
        pass

    assert _skyrec.parse_bytes(data=Sub(MSG)).total_length == len(MSG)
    assert len(_skyrec.parse_all_bytes(data=MSG)) == 1


@pytest.mark.parametrize("call", [
    lambda: _skyrec.parse_bytes(),
    lambda: _skyrec.parse_bytes(MSG, MSG),
    lambda: _skyrec.parse_bytes(MSG, data=MSG),
    lambda: _skyrec.parse_bytes(blob=MSG),
    lambda: _skyrec.parse_file(),
])
def test_argument_count_errors(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("fn", [_skyrec.parse_file, _skyrec.parse_all_file])
def test_paths_must_be_str(fn, tmp_path):
    path = tmp_path / "m.bufr"
    path.write_bytes(MSG)
    for bad in (path, bytes(path), 3):
        with pytest.raises(TypeError, match="path"):
            fn(bad)
    result = fn(path=str(path))
    assert (result if isinstance(result, list) else [result])[0].total_length == len(MSG)


@pytest.mark.parametrize("fn", [_skyrec.parse_file, _skyrec.parse_all_file])
@pytest.mark.parametrize("where", ["missing.bufr", "."])
def test_unreadable_file_is_plain_oserror(fn, where, tmp_path):
    with pytest.raises(OSError) as info:
        fn(str(tmp_path / where))
    err = info.value
    assert type(err) is OSError
    assert err.errno is None and err.filename is None and len(err.args) == 1 and err.args[0]


def test_file_framing_errors_are_value_errors(tmp_path):
    path = tmp_path / "two.bufr"
    path.write_bytes(MSG + MSG)
    with pytest.raises(ValueError, match=f"^declared length {len(MSG)} does not match buffer length {2 * len(MSG)}$"):
        _skyrec.parse_file(str(path))
    path.write_bytes(b" " + MSG)
    with pytest.raises(ValueError, match="^missing BUFR marker$"):
        _skyrec.parse_file(str(path))


def test_message_objects_are_read_only_and_not_constructible():
    m = _skyrec.parse_bytes(MSG)
    with pytest.raises(AttributeError):
        m.edition = 3
    with pytest.raises(TypeError):
        _skyrec.BufrMessage()
    assert m != _skyrec.parse_bytes(MSG) and m == m


def test_import_twice_gives_the_same_module():
    import importlib
    import sys

    again = importlib.import_module("_skyrec")
    assert again is _skyrec and sys.modules["_skyrec"] is _skyrec


def test_package_reexports_the_module():
    import skyrec

    assert skyrec.parse_bytes is _skyrec.parse_bytes
    assert set(_skyrec.__all__) <= set(skyrec.__all__)


def test_the_package_holds_one_copy_of_the_code():
    """skyrec._native is a module of _skyrec's binary, not a second extension
    whose objects would be freed by another copy of the code."""
    import sys
    from importlib.machinery import EXTENSION_SUFFIXES

    import skyrec
    from skyrec import _native

    assert sys.modules["skyrec._native"] is _native and _native.__file__ == _skyrec.__file__
    folder = pathlib.Path(skyrec.__file__).parent
    assert not [p for suffix in EXTENSION_SUFFIXES for p in folder.rglob("*" + suffix)]
    found = _native.next_message(MSG, 0)
    assert type(found[3]) is _skyrec.BufrMessage
