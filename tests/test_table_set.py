"""TableSet, ElementDefinition and SequenceDefinition: members, argument
rules, lookups and reprs."""

import inspect

import pytest

import _skyrec
from _skyrec import Descriptor, ElementDefinition, SequenceDefinition, TableSet
from tablegen import Element, write_table_dir


@pytest.fixture
def tables(tmp_path):
    root = write_table_dir(
        tmp_path / "t",
        elements=[Element(12101, "TEMPERATURE/AIR TEMPERATURE", "K", scale=2, reference=-5, width=16,
                          abbreviation="airTemperature", element_type="double"),
                  Element(4294967295, "LAST", width=0)],
        sequences={301011: [4001, 4002, 4003], 301099: [], 309999: [1001]},
        code_tables={20003: {1: "ONE", 2: "TWO", 4: "FOUR"}, 8042: {}, 1003: {0: "ANTARCTICA"}})
    return TableSet.from_eccodes(root)


def test_empty_table_set():
    t = TableSet()
    assert (t.element_count, t.sequence_count) == (0, 0)
    assert repr(t) == str(t) == "TableSet(elements=0, sequences=0)"
    assert t.get_element(12101) is None and t.get_sequence(301011) is None and t.get_meaning(1003, 0) is None
    assert t.expand([]) == []


def test_constructor_takes_no_arguments():
    with pytest.raises(TypeError):
        TableSet(1)
    with pytest.raises(TypeError):
        TableSet(path="x")


def test_counts_and_repr(tables):
    assert (tables.element_count, tables.sequence_count) == (2, 3)
    assert repr(tables) == "TableSet(elements=2, sequences=3)"


def test_element_lookup_copies_every_field(tables):
    e = tables.get_element(12101)
    assert type(e) is ElementDefinition
    assert (e.code, e.abbreviation, e.element_type, e.name, e.unit, e.scale, e.reference, e.width) == (
        12101, "airTemperature", "double", "TEMPERATURE/AIR TEMPERATURE", "K", 2, -5, 16)
    assert repr(e) == str(e) == 'ElementDefinition(012101, name="TEMPERATURE/AIR TEMPERATURE")'
    again = tables.get_element(code=12101)
    assert again is not e and again.name == e.name
    assert tables.get_element(4294967295).name == "LAST"
    assert tables.get_element(12102) is None


def test_lookups_survive_the_table_set(tables):
    e, s = tables.get_element(12101), tables.get_sequence(301011)
    del tables
    assert e.unit == "K" and s.members == [4001, 4002, 4003]


def test_sequence_lookup_and_repr(tables):
    s = tables.get_sequence(301011)
    assert type(s) is SequenceDefinition and s.code == 301011
    assert repr(s) == str(s) == "SequenceDefinition(301011, members=[4001, 4002, 4003])"
    members = s.members
    members.append(1)
    assert s.members == [4001, 4002, 4003] and s.members is not s.members
    assert repr(tables.get_sequence(301099)) == "SequenceDefinition(301099, members=[])"
    assert repr(tables.get_sequence(309999)) == "SequenceDefinition(309999, members=[1001])"


def test_meanings_are_exact_key_lookups(tables):
    assert tables.get_meaning(20003, 2) == "TWO"
    assert tables.get_meaning(20003, 3) is None  # flag tables are not split into bits
    assert tables.get_meaning(code=1003, raw=0) == "ANTARCTICA"
    assert tables.get_meaning(8042, 0) is None  # an empty table
    assert tables.get_meaning(1003, 2**64 - 1) is None


def test_a_code_table_needs_no_element(tables):
    assert tables.get_element(20003) is None and tables.get_meaning(20003, 4) == "FOUR"


class Index:
    def __index__(self):
        return 12101


@pytest.mark.parametrize("call, exc, name", [
    (lambda t: t.get_element("001001"), TypeError, "code"),
    (lambda t: t.get_element(1.0), TypeError, "code"),
    (lambda t: t.get_element(Descriptor(0, 1, 1)), TypeError, "code"),
    (lambda t: t.get_element(-1), OverflowError, None),
    (lambda t: t.get_element(2**32), OverflowError, None),
    (lambda t: t.get_sequence(None), TypeError, "code"),
    (lambda t: t.get_sequence(2**32), OverflowError, None),
    (lambda t: t.get_meaning(1003, "0"), TypeError, "raw"),
    (lambda t: t.get_meaning(1003, 2**64), OverflowError, None),
    (lambda t: t.get_meaning(1003, -1), OverflowError, None),
    (lambda t: t.get_meaning(2**32, 0), OverflowError, None),
    (lambda t: t.get_element(), TypeError, None),
    (lambda t: t.get_element(1, 2), TypeError, None),
    (lambda t: t.get_element(key=1), TypeError, None),
])
def test_argument_errors(call, exc, name):
    with pytest.raises(exc) as info:
        call(TableSet())
    if name:
        assert str(info.value).startswith(f"argument '{name}'")
    if exc is OverflowError:
        assert "argument" not in str(info.value)


def test_index_objects_and_bools_are_integers(tables):
    assert tables.get_element(Index()).code == 12101
    assert tables.get_meaning(20003, True) == "ONE" and tables.get_meaning(1003, False) == "ANTARCTICA"


@pytest.mark.parametrize("cls", [ElementDefinition, SequenceDefinition])
def test_definitions_cannot_be_made_from_python(cls):
    with pytest.raises(TypeError):
        cls()


def test_attributes_are_read_only(tables):
    e, s = tables.get_element(12101), tables.get_sequence(301011)
    for obj, attr in [(e, "name"), (e, "width"), (s, "members"), (s, "code"), (tables, "element_count")]:
        with pytest.raises(AttributeError):
            setattr(obj, attr, 1)


def test_identity_comparison(tables):
    assert tables.get_element(12101) != tables.get_element(12101)
    assert TableSet() != TableSet()


@pytest.mark.parametrize("name", ["ElementDefinition", "SequenceDefinition", "TableSet"])
def test_classes_live_in_builtins(name):
    cls = getattr(_skyrec, name)
    assert cls.__module__ == "builtins" and cls.__name__ == name


@pytest.mark.parametrize("member, params", [
    ("from_eccodes", ["path"]), ("get_element", ["code"]), ("get_sequence", ["code"]),
    ("get_meaning", ["code", "raw"]), ("expand", ["descriptors"]),
])
def test_text_signatures(member, params):
    fn = getattr(TableSet, member)
    assert list(inspect.signature(fn).parameters) == (params if member == "from_eccodes" else ["self", *params])
    bound = getattr(TableSet(), member) if member != "from_eccodes" else fn
    assert list(inspect.signature(bound).parameters) == params


def test_class_signature():
    assert TableSet.__text_signature__ == "()"
    assert list(inspect.signature(TableSet).parameters) == []


def test_member_order():
    names = [n for n in vars(TableSet) if not n.startswith("__")]
    wanted = ["from_eccodes", "from_bufr4_45", "from_definitions", "element_count", "sequence_count",
              "get_element", "get_sequence", "get_meaning", "expand"]
    present = [n for n in wanted if n in names]
    assert set(present) >= {"from_eccodes", "element_count", "sequence_count", "get_element", "get_sequence",
                            "get_meaning", "expand"}
    methods = [n for n in names if callable(getattr(TableSet, n))]
    assert methods == [n for n in present if n in methods]
