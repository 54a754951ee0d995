"""Choosing master and local tables from an ecCodes definitions root."""

from pathlib import Path

import pytest

import _skyrec
from bufrgen import build_message
from tablegen import Element, write_table_dir

TableSet = _skyrec.TableSet


def message(master_version=19, local_version=1, centre=98, subcentre=0, master_table=0):
    return _skyrec.parse_bytes(build_message([1001], b"\0", master_version=master_version,
                                             local_version=local_version, centre=centre, subcentre=subcentre,
                                             master_table=master_table))


def tables_dir(root: Path, *parts) -> Path:
    return root.joinpath("bufr", "tables", *[str(p) for p in parts])


def write_master(root, version, name="MASTER", **kw):
    kw.setdefault("code_tables", {1003: {0: "MASTER ZERO", 1: "MASTER ONE"}})
    return write_table_dir(tables_dir(root, 0, "wmo", version),
                           elements=[Element(1001, name, width=7), Element(1002, "STATION", width=10)],
                           sequences={301001: [1001, 1002]}, **kw)


def write_local(root, version_dir, centre=98, subcentre=0, **kw):
    return write_table_dir(tables_dir(root, 0, "local", version_dir, centre, subcentre), **kw)


def load(root, m):
    return TableSet.from_definitions(str(root), m)


def test_local_entries_replace_master_entries_whole(tmp_path):
    write_master(tmp_path, 19)
    write_local(tmp_path, "19-1", elements=[Element(1001, "LOCAL", width=9)], sequences={301001: [1002]},
                code_tables={1003: {5: "LOCAL FIVE"}})
    t = load(tmp_path, message())
    assert t.get_element(1001).name == "LOCAL" and t.get_element(1001).width == 9
    assert t.get_element(1002).name == "STATION"
    assert t.get_sequence(301001).members == [1002]
    # Code tables are replaced whole too, not merged entry by entry.
    assert t.get_meaning(1003, 5) == "LOCAL FIVE" and t.get_meaning(1003, 0) is None


@pytest.mark.parametrize("master_version, local_dir", [(19, "19-1"), (18, "1"), (20, "1")])
def test_local_version_directory_name(tmp_path, master_version, local_dir):
    write_master(tmp_path, master_version)
    for name in ("19-1", "1"):
        write_local(tmp_path, name, elements=[Element(1001, f"FROM {name}")])
    assert load(tmp_path, message(master_version=master_version)).get_element(1001).name == f"FROM {local_dir}"


def test_local_version_zero_never_reads_local(tmp_path):
    write_master(tmp_path, 18)
    write_local(tmp_path, "0", element_table="broken|")
    write_local(tmp_path, "1", element_table="broken|")
    assert load(tmp_path, message(master_version=18, local_version=0)).get_element(1001).name == "MASTER"


@pytest.mark.parametrize("centre, subcentre", [(74, 0), (98, 5)])
def test_missing_local_directory_leaves_master_alone(tmp_path, centre, subcentre):
    write_master(tmp_path, 19)
    write_local(tmp_path, "19-1", elements=[Element(1001, "LOCAL")])
    t = load(tmp_path, message(centre=centre, subcentre=subcentre))
    assert t.get_element(1001).name == "MASTER" and t.element_count == 2


def test_local_directory_with_only_some_files(tmp_path):
    write_master(tmp_path, 19, code_tables=None)
    local = Path(write_local(tmp_path, "19-1", code_tables={1003: {2: "TWO"}}))
    (local / "element.table").unlink()
    (local / "sequence.def").unlink()
    t = load(tmp_path, message())
    # The master had no codetables: meanings come from the local directory only.
    assert t.get_meaning(1003, 2) == "TWO" and t.get_element(1001).name == "MASTER"


def test_local_alias_file_contributes_nothing(tmp_path):
    write_master(tmp_path, 19)
    write_local(tmp_path, "19-1", centre=74, elements=[Element(1001, "LOCAL")])
    alias = tables_dir(tmp_path, 0, "local", "19-1", 98, 0)
    alias.parent.mkdir(parents=True)
    alias.write_text("74")
    assert load(tmp_path, message()).get_element(1001).name == "MASTER"


def test_master_element_table_is_required_even_with_local_one(tmp_path):
    master = Path(write_master(tmp_path, 19))
    (master / "element.table").unlink()
    write_local(tmp_path, "19-1", elements=[Element(1001, "LOCAL")])
    with pytest.raises(ValueError, match="^csv/table parse error: No such file or directory"):
        load(tmp_path, message())


def test_malformed_local_file_fails(tmp_path):
    write_master(tmp_path, 19)
    write_local(tmp_path, "19-1", elements=[Element(1001)], sequence_def='"3x1001" = [1001]\n')
    with pytest.raises(ValueError, match='^csv/table parse error: bad descriptor code "3x1001": invalid digit'):
        load(tmp_path, message())


@pytest.mark.parametrize("chain", [["36\n"], ["  36 \r\n"], ["alias2", "36"]])
def test_alias_files_lead_to_a_sibling(tmp_path, chain):
    write_master(tmp_path, 36, name="THIRTY-SIX")
    wmo = tables_dir(tmp_path, 0, "wmo")
    names = ["37"] + [c.strip() for c in chain[:-1]]
    for name, content in zip(names, chain):
        (wmo / name).write_text(content)
    assert load(tmp_path, message(master_version=37, local_version=0)).get_element(1001).name == "THIRTY-SIX"


@pytest.mark.parametrize("content, quoted", [("../36", '"../36"'), ("sub\\36", '"sub\\\\36"'), (" \n\t", '""')])
def test_invalid_alias(tmp_path, content, quoted):
    write_master(tmp_path, 36)
    alias = tables_dir(tmp_path, 0, "wmo", 37)
    alias.write_text(content)
    with pytest.raises(ValueError) as info:
        load(tmp_path, message(master_version=37))
    assert str(info.value) == f"csv/table parse error: invalid ecCodes table alias {alias} -> {quoted}"


def test_alias_loop_is_stopped(tmp_path):
    wmo = tables_dir(tmp_path, 0, "wmo")
    wmo.mkdir(parents=True)
    (wmo / "37").write_text("38")
    (wmo / "38").write_text("37")
    with pytest.raises(ValueError, match="^csv/table parse error: ecCodes table alias loops back to .*37$"):
        load(tmp_path, message(master_version=37))


def test_alias_that_is_not_utf8(tmp_path):
    wmo = tables_dir(tmp_path, 0, "wmo")
    wmo.mkdir(parents=True)
    (wmo / "37").write_bytes(b"3\xff6")
    with pytest.raises(ValueError, match="^io error: stream did not contain valid UTF-8$"):
        load(tmp_path, message(master_version=37))


@pytest.mark.parametrize("alias_to", [None, "40"])
def test_missing_master_directory(tmp_path, alias_to):
    wmo = tables_dir(tmp_path, 0, "wmo")
    wmo.mkdir(parents=True)
    where = wmo / "37"
    if alias_to:
        where.write_text(alias_to)
        where = wmo / alias_to
    with pytest.raises(ValueError) as info:
        load(tmp_path, message(master_version=37))
    assert str(info.value) == f"csv/table parse error: ecCodes table directory does not exist: {where}"


def test_master_table_number_selects_the_tree(tmp_path):
    write_table_dir(tables_dir(tmp_path, 7, "wmo", 19), elements=[Element(1001, "SEVEN")])
    assert load(tmp_path, message(master_table=7, local_version=0)).get_element(1001).name == "SEVEN"


def test_argument_rules(tmp_path):
    m = message()
    with pytest.raises(TypeError, match="message"):
        TableSet.from_definitions(str(tmp_path), "not a message")
    with pytest.raises(TypeError, match="path"):
        TableSet.from_definitions(tmp_path, m)
    assert TableSet.from_definitions.__text_signature__ == "(path, message)"


def mixed_field_counts(path: Path) -> bool:
    if not path.is_file():
        return False
    rows = [line for line in path.read_text().splitlines() if line and not line.startswith("#")]
    return len({line.count("|") for line in rows}) > 1


def test_real_definitions_tree(definitions, corpus):
    # Every edition 4 corpus message finds its master tables in a real tree.
    loaded = mixed = 0
    for path in sorted(corpus.glob("*")):
        try:
            messages = _skyrec.parse_all_file(str(path))
        except (ValueError, OSError):
            continue
        for m in messages[:1]:
            if not (tables_dir(definitions, m.master_table_number, "wmo", m.master_tables_version_number)).exists():
                continue
            version = m.local_tables_version_number
            local = tables_dir(definitions, m.master_table_number, "local",
                               f"19-{version}" if m.master_tables_version_number == 19 else version,
                               m.originating_centre, m.originating_subcentre)
            t = TableSet.from_definitions(str(definitions), m)
            assert t.element_count > 100 and t.get_element(1001) is not None
            if version and mixed_field_counts(local / "element.table"):
                # A few real local tables mix 11- and 8-field rows: all of them load.
                mixed += 1
                codes = [int(line.split("|")[0]) for line in (local / "element.table").read_text().splitlines()
                         if line and not line.startswith("#")]
                assert all(t.get_element(code) is not None for code in codes)
            loaded += 1
    assert loaded > 100 and mixed > 0
