"""Finding tables: what is given wins, then $ECCODES_DEFINITION_PATH, the
ecCodes package's tree, sys.prefix's, the system's, then the bundled tables;
and one load per table version."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

import _skyrec
from bufrgen import build_message
from skyrec import TablesNotFound, TableSource, bundle, find_definitions_root, find_tables
from skyrec import tables as discovery
from tablegen import Element, write_table_dir

ENV = discovery.ENVIRONMENT_VARIABLE


def make_root(path: Path, name: str = "MASTER", versions=(38,)) -> Path:
    for version in versions:
        write_table_dir(path / "bufr" / "tables" / "0" / "wmo" / str(version),
                        elements=[Element(1001, f"{name} {version}", width=7)])
    return path


def fake_package(where: Path, name: str, with_tree: bool) -> Path:
    """An importable package `name` under `where`, with a definitions tree
    in share/eccodes/definitions when asked."""
    package = where / name
    package.mkdir(parents=True)
    (package / "__init__.py").write_text("")
    root = package / "share" / "eccodes" / "definitions"
    if with_tree:
        make_root(root, name="PACKAGE")
    return root


@pytest.fixture
def isolated(monkeypatch, tmp_path):
    """No package, no environment variable, a system root that is not there:
    each test adds back what it needs."""
    monkeypatch.delenv(ENV, raising=False)
    monkeypatch.setattr(discovery, "SYSTEM_ROOTS", (str(tmp_path / "no-system"),))
    monkeypatch.setattr(discovery, "prefix_roots", lambda: [tmp_path / "no-prefix"])
    monkeypatch.setattr(discovery, "PACKAGE_NAMES", ("skyrec_test_eccodes",))
    monkeypatch.delitem(sys.modules, "skyrec_test_eccodes", raising=False)
    return monkeypatch


def install_package(monkeypatch, tmp_path, with_tree: bool, name: str = "skyrec_test_eccodes") -> Path:
    root = fake_package(tmp_path / "site", name, with_tree)
    monkeypatch.syspath_prepend(str(tmp_path / "site"))
    return root


PREFIX_ROOTS = discovery.prefix_roots
PLACES = ("environment", "package", "prefix", "usr_local", "homebrew", "usr_share", "bundle")


@pytest.mark.parametrize("winner", PLACES)
def test_search_order(isolated, tmp_path, winner):
    # The winner and every place after it hold a tree; the places before it do not.
    present = PLACES[PLACES.index(winner):]
    roots = {}
    if "environment" in present:
        roots["environment"] = make_root(tmp_path / "env")
        isolated.setenv(ENV, str(roots["environment"]))
    if "package" in present:
        roots["package"] = install_package(isolated, tmp_path, with_tree=True)
    if "prefix" in present:
        roots["prefix"] = make_root(tmp_path / "prefix" / "share" / "eccodes" / "definitions")
        isolated.setattr(sys, "prefix", str(tmp_path / "prefix"))
        isolated.setattr(discovery, "prefix_roots", PREFIX_ROOTS)  # the real one, under the patched sys.prefix
    system = [make_root(tmp_path / place) if place in present else tmp_path / place
              for place in ("usr_local", "homebrew", "usr_share")]
    roots.update(zip(("usr_local", "homebrew", "usr_share"), system))
    isolated.setattr(discovery, "SYSTEM_ROOTS", tuple(map(str, system)))
    source = find_tables()
    if winner == "bundle":
        assert source.root is None and source.bundled and "bundled" in repr(source)
        return
    assert find_definitions_root() == str(roots[winner])
    assert source.root == str(roots[winner]) and str(roots[winner]) in repr(source)


def test_package_without_a_tree_on_disk_is_passed_over(isolated, tmp_path):
    # Like the eccodes wheels that keep their definitions in memory only.
    install_package(isolated, tmp_path, with_tree=False)
    system = make_root(tmp_path / "system")
    isolated.setattr(discovery, "SYSTEM_ROOTS", (str(system),))
    assert find_definitions_root() == str(system)


def test_installed_ecCodes_packages_never_make_discovery_fail(monkeypatch, tmp_path):
    # The real package names, whatever is installed under them.
    monkeypatch.delenv(ENV, raising=False)
    system = make_root(tmp_path / "system")
    monkeypatch.setattr(discovery, "SYSTEM_ROOTS", (str(system),))
    monkeypatch.setattr(discovery, "prefix_roots", lambda: [])
    on_disk = [r for r in discovery.package_roots() if discovery.is_definitions_root(r)]
    assert find_definitions_root() == str(on_disk[0] if on_disk else system)


def test_an_imported_package_is_found_where_it_was_imported_from(isolated, tmp_path):
    root = install_package(isolated, tmp_path, with_tree=True)
    __import__("skyrec_test_eccodes")
    assert find_definitions_root() == str(root)


def test_environment_variable_lists_several_roots(isolated, tmp_path):
    second = make_root(tmp_path / "second")
    isolated.setenv(ENV, f"{tmp_path}:{second}")  # tmp_path itself has no bufr/tables
    assert find_definitions_root() == str(second)
    isolated.setenv(ENV, f"{tmp_path / 'missing'}:{second}")  # a broken part is told, not passed over
    with pytest.raises(TablesNotFound, match="missing, which cannot be read"):
        find_tables()


def test_nothing_found_says_what_to_do(isolated, tmp_path):
    isolated.setattr(bundle, "PATH", tmp_path / "no.bundle")
    with pytest.raises(TablesNotFound) as info:
        find_tables()
    text = str(info.value)
    assert ENV in text and "definitions" in text and "table_dir" in text
    if sys.platform.startswith("linux"):
        assert "apt-get install libeccodes-data" in text


def test_given_sources_win_over_found_ones(isolated, tmp_path):
    isolated.setenv(ENV, str(make_root(tmp_path / "env", name="ENV")))
    given = make_root(tmp_path / "given", name="GIVEN", versions=(38, 39))
    assert find_tables(definitions=given).root == str(given)
    directory = given / "bufr" / "tables" / "0" / "wmo" / "39"
    m = _skyrec.parse_bytes(build_message([1001], b"\0", master_version=38))
    assert find_tables(table_dir=directory).for_message(m).get_element(1001).name == "GIVEN 39"
    loaded = _skyrec.TableSet.from_eccodes(str(directory))
    assert find_tables(loaded).for_message(m) is loaded
    source = find_tables()
    assert find_tables(source) is source and source.root == str(tmp_path / "env")


def test_wmo_csv_directory(isolated, tmp_path):
    (tmp_path / "BUFRCREX_TableB_en_01.csv").write_text(
        "ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,BUFR_DataWidth_Bits,"
        "CREX_Unit,CREX_Scale,CREX_DataWidth_Char,Note_en,noteIDs,Status\n"
        '01,Identification,001001,"WMO block number",Numeric,0,0,7,Numeric,0,2,,,Operational\n')
    (tmp_path / "BUFR_TableD_en_01.csv").write_text(
        "Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2,ElementName_en,ElementDescription_en,"
        "Note_en,noteIDs,Status\n")
    m = _skyrec.parse_bytes(build_message([1001], b"\0"))
    assert find_tables(wmo_csv=tmp_path).for_message(m).get_element(1001).name == "WMO block number"


@pytest.mark.parametrize("kwargs, error", [
    ({"definitions": "/x", "table_dir": "/y"}, TypeError),
    ({"tables": "/usr/share"}, TypeError),
])
def test_bad_source_arguments(kwargs, error):
    with pytest.raises(error):
        find_tables(**kwargs)


def test_a_definitions_argument_must_be_a_tree(tmp_path):
    with pytest.raises(TablesNotFound, match="not an ecCodes definitions root"):
        find_tables(definitions=tmp_path)


def message(version=38, local=0, centre=98, subcentre=0):
    return _skyrec.parse_bytes(build_message([1001], b"\0", master_version=version, local_version=local,
                                             centre=centre, subcentre=subcentre))


def test_each_table_version_is_loaded_once(tmp_path):
    source = TableSource(root=str(make_root(tmp_path, versions=(38, 39))))
    first = source.for_message(message(38))
    assert source.for_message(message(38)) is first and source.loads == 1
    assert source.for_message(message(39)) is not first and source.loads == 2
    # Each of the five numbers makes its own key, even where the tables chosen are the same.
    for other in (message(38, local=1), message(38, centre=74), message(38, subcentre=3)):
        source.for_message(other)
    assert source.loads == 5


@pytest.mark.parametrize(("other", "shared", "name"), [
    (message(38, centre=74), True, "MASTER 38"),
    (message(38, local=1, centre=98), True, "MASTER 38"),  # no local tables of that centre: the master's alone
    (message(38, local=1, centre=74), False, "LOCAL 74"),
    (message(39), False, "MASTER 39"),
])
def test_keys_that_read_the_same_directories_share_their_tables(tmp_path, other, shared, name):
    root = make_root(tmp_path, versions=(38, 39))
    write_table_dir(root / "bufr" / "tables" / "0" / "local" / "1" / "74" / "0",
                    elements=[Element(1001, "LOCAL 74", width=7)])
    source = TableSource(root=str(root))
    first = source.for_message(message(38))
    tables = source.for_message(other)
    assert (tables is first, tables.get_element(1001).name) == (shared, name)
    assert first.get_element(1001).name == "MASTER 38"


@pytest.mark.parametrize("bundled", [False, True])
@pytest.mark.parametrize("whole_first", [False, True])
def test_tables_for_numbers_leave_the_code_tables_unread_until_meanings_are_asked(tmp_path, whole_first, bundled):
    write_table_dir(tmp_path / "bufr" / "tables" / "0" / "wmo" / "38", elements=[Element(1001, "MASTER 38", width=7)],
                    code_tables={1003: {1: "REGION I 1"}})
    source = TableSource(bundled=True) if bundled else TableSource(root=str(tmp_path))
    whole = source.for_message(message(38)) if whole_first else None
    numbers = source.numbers_for_message(message(38))
    assert numbers.get_element(1001) is not None
    assert numbers.get_meaning(1003, 1) == (whole and whole.get_meaning(1003, 1))  # a whole set serves once loaded
    assert source.for_message(message(38)).get_meaning(1003, 1).startswith("REGION I") and source.loads == 1


def test_a_version_that_fails_is_not_loaded_again(tmp_path):
    source = TableSource(root=str(make_root(tmp_path)))
    for _ in range(3):
        with pytest.raises(ValueError, match="does not exist"):
            source.for_message(message(40))
    assert source.loads == 1


@pytest.mark.parametrize("given, kind", [("table_dir", "text"), ("wmo_csv", "io")])
def test_a_table_directory_that_cannot_be_read_names_itself_without_the_shared_prefix(tmp_path, given, kind):
    from skyrec.errors import DecodeError

    with pytest.raises(DecodeError) as info:
        find_tables(**{given: tmp_path / "missing"})
    assert str(info.value).startswith(f"{tmp_path / 'missing'}: ") and "parse error" not in str(info.value)
    assert info.value.kind == kind
