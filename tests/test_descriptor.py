"""The Descriptor class: parts, codes, wrapping and argument rules."""

import inspect

import pytest

from _skyrec import Descriptor


@pytest.mark.parametrize("parts, text", [((0, 0, 0), "000000"), ((0, 1, 1), "001001"), ((3, 1, 11), "301011"),
                                         ((10, 0, 0), "1000000"), ((255, 255, 255), "25755255")])
def test_repr_and_fxy(parts, text):
    d = Descriptor(*parts)
    assert (d.f, d.x, d.y) == parts
    assert d.fxy == int(text)
    assert repr(d) == str(d) == f"Descriptor({text})"


@pytest.mark.parametrize("code, parts", [(301011, (3, 1, 11)), (0, (0, 0, 0)), (25500000, (255, 0, 0)),
                                         (25600000, (0, 0, 0)), (1300, (0, 1, 44)),
                                         (4294967295, (42949 % 256, 67, 295 % 256))])
def test_from_fxy_keeps_low_8_bits(code, parts):
    d = Descriptor.from_fxy(code)
    assert (d.f, d.x, d.y) == parts
    assert Descriptor.from_fxy(code=code).fxy == d.fxy


class Index:
    def __index__(self):
        return 7


@pytest.mark.parametrize("args, exc, arg_name", [
    ((256, 0, 0), OverflowError, None), ((-1, 0, 0), OverflowError, None), ((0, 0, 2**70), OverflowError, None),
    (("1", 0, 0), TypeError, "f"), ((0, 1.0, 0), TypeError, "x"), ((0, 0, None), TypeError, "y"),
])
def test_constructor_argument_errors(args, exc, arg_name):
    with pytest.raises(exc) as info:
        Descriptor(*args)
    if arg_name:
        assert str(info.value).startswith(f"argument '{arg_name}'")


def test_constructor_accepts_index_bool_and_keywords():
    d = Descriptor(f=True, x=Index(), y=255)
    assert (d.f, d.x, d.y) == (1, 7, 255)
    with pytest.raises(TypeError):
        Descriptor(0, 0)
    with pytest.raises(TypeError):
        Descriptor(0, 0, 0, 0)


@pytest.mark.parametrize("code, exc", [(-1, OverflowError), (2**32, OverflowError), ("301011", TypeError),
                                       (3.0, TypeError)])
def test_from_fxy_argument_errors(code, exc):
    with pytest.raises(exc) as info:
        Descriptor.from_fxy(code)
    if exc is TypeError:
        assert str(info.value).startswith("argument 'code'")


def test_identity_semantics_and_read_only():
    a, b = Descriptor(0, 1, 1), Descriptor(0, 1, 1)
    assert a != b and a == a and hash(a) != hash(b)
    with pytest.raises(AttributeError):
        a.f = 2
    with pytest.raises(AttributeError):
        a.fxy = 2


def test_signatures():
    assert Descriptor.__text_signature__ == "(f, x, y)"
    assert Descriptor.from_fxy.__text_signature__ == "(code)"
    assert list(inspect.signature(Descriptor).parameters) == ["f", "x", "y"]
