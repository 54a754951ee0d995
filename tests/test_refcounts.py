"""No reference or memory leaks in the binding: every module function and
every class member, called many times on its success path and on each of
its error paths, leaves no objects behind (tracemalloc), holds no extra
references to its arguments or to the classes (sys.getrefcount), and, over
many rounds, grows no native memory (resident set size)."""

from __future__ import annotations

import ctypes
import gc
import os
import sys
import tracemalloc

import pytest

import _skyrec

try:
    from skyrec import _native
except ImportError:  # the package's module is not built here
    _native = None
from blockfiles import native_piece
from bufrgen import BitWriter, build_message
from decodekit import CODE_TABLES, ELEMENTS, SEQUENCES
from tablegen import write_table_dir

DATA = build_message([301002, 1015, 2001, 12101], BitWriter().uint(1, 7).uint(2, 10).uint(3132, 12)
                     .text("ABC", 48).uint(1, 2).missing(12).to_bytes())
BAD = DATA[:-1]  # declared length no longer matches
NULL_FD = os.open(os.devnull, os.O_WRONLY)  # where dump_records writes
CLOSED_FD = (1 << 31) - 1  # a descriptor that no process has open
# Two subsets, compressed: 001015 a text per subset, 002001 with a missing subset, 012101 one value for all.
PACKED = build_message([1015, 2001, 12101], BitWriter().text("", 48).uint(6, 6).text("AB", 48).text("CD", 48)
                       .uint(1, 2).uint(1, 6).uint(0, 1).uint(1, 1).uint(3132, 12).uint(0, 6).to_bytes(),
                       subsets=2, compressed=True)
# Section 1 as the writers take it (skyrec.header.HEADER_FIELDS), uncompressed and compressed.
HEADER = (4, 0, 98, 0, 0, 0, 0, 0, 38, 0, 2024, 1, 2, 3, 4, 5, 1, 0)
COMPRESSED = HEADER[:-1] + (1,)
ARRAY = memoryview(bytes(32)).cast("d", (2, 2))  # two subsets of two values, all zero


def refused(message):
    """A table resolver that has no tables for any message."""
    from skyrec.errors import decode_error

    raise decode_error("no tables for it")


RUN_OUT = build_message([12101, 12101], BitWriter().uint(1, 12).to_bytes())  # data end inside the second


class Index:
    def __index__(self):
        return 12101


@pytest.fixture(scope="module")
def env(tmp_path_factory):
    root = tmp_path_factory.mktemp("refs")
    table_dir = write_table_dir(root / "tables", ELEMENTS, SEQUENCES, CODE_TABLES)
    bad_dir = write_table_dir(root / "bad", sequence_def="301001 = [ x ]\n")
    definitions = root / "defs"
    write_table_dir(definitions / "bufr" / "tables" / "0" / "wmo" / "38", ELEMENTS, SEQUENCES, CODE_TABLES)
    wmo = root / "wmo"
    wmo.mkdir()
    (wmo / "BUFRCREX_TableB_en_01.csv").write_text("a,b,c,d,e,f,g,h\n1,x,012101,T,K,1,-400,12\n")
    (wmo / "BUFR_TableD_en_01.csv").write_text("a,b,c,d,e,f\n1,x,301001,t,s,001001\n")
    (root / "bad_wmo").mkdir()
    (root / "bad_wmo" / "BUFR_TableD_en_01.csv").write_text("a,b,c,d,e,f\n1,x,3x,t,s,001001\n")
    message_file = root / "one.bufr"
    message_file.write_bytes(DATA)
    bad_file = root / "bad.bufr"
    bad_file.write_bytes(BAD)
    tables = _skyrec.TableSet.from_eccodes(table_dir)
    values = _skyrec.decode_values_with_tables(DATA, tables)
    return {
        "dir": table_dir, "bad_dir": bad_dir, "missing": str(root / "missing"), "defs": str(definitions),
        "wmo": str(wmo), "bad_wmo": str(root / "bad_wmo"), "file": str(message_file), "bad_file": str(bad_file),
        "tables": tables, "message": _skyrec.parse_bytes(DATA), "values": values,
        "element": tables.get_element(12101), "sequence": tables.get_sequence(301002),
        "descriptor": _skyrec.Descriptor(3, 1, 11),
    }


# Table files held in memory: an element row, a bad sequence, a code table.
TEXTS = b'301001 = [ x ]\n001001|a|long|N|K|0|0|7\n0 0 ZERO\n'
TEXT_LAYERS = [((15, 39), None, [("1001.table", 39, 48)])]


def cases(e):
    """(name, call, expected exception or None, calls): every function and
    member, on success and on each error path."""
    t, m = e["tables"], e["message"]
    for name, call, exception in plain_cases(e, t, m):
        yield name, call, exception, 200
    # The work bounds take some 8 million steps to reach: fewer calls.
    bound = build_message([104255, 103255, 102255, 101255, 201129])
    yield "decode_values_with_tables bound", lambda: _skyrec.decode_values_with_tables(bound, t), ValueError, 8
    yield "TableSet.expand bound", lambda: t.expand([104255, 103255, 102255, 101255, 201129]), ValueError, 8


def plain_cases(e, t, m):
    yield from [
        ("parse_bytes", lambda: _skyrec.parse_bytes(DATA), None),
        ("parse_bytes bad", lambda: _skyrec.parse_bytes(BAD), ValueError),
        ("parse_bytes type", lambda: _skyrec.parse_bytes(bytearray(DATA)), TypeError),
        ("parse_bytes args", lambda: _skyrec.parse_bytes(DATA, extra=1), TypeError),
        ("parse_file", lambda: _skyrec.parse_file(e["file"]), None),
        ("parse_file bad", lambda: _skyrec.parse_file(e["bad_file"]), ValueError),
        ("parse_file missing", lambda: _skyrec.parse_file(e["missing"]), OSError),
        ("parse_file type", lambda: _skyrec.parse_file(b"x"), TypeError),
        ("parse_all_bytes", lambda: _skyrec.parse_all_bytes(b"junk" + DATA + DATA), None),
        ("parse_all_bytes bad", lambda: _skyrec.parse_all_bytes(DATA + BAD), ValueError),
        ("parse_all_bytes type", lambda: _skyrec.parse_all_bytes(memoryview(DATA)), TypeError),
        ("parse_all_file", lambda: _skyrec.parse_all_file(e["file"]), None),
        ("parse_all_file bad", lambda: _skyrec.parse_all_file(e["bad_file"]), ValueError),
        ("parse_all_file missing", lambda: _skyrec.parse_all_file(e["missing"]), OSError),
        ("expand_descriptors", lambda: _skyrec.expand_descriptors(e["dir"], [301002, 102002, 1001, 1002]), None),
        ("expand_descriptors missing", lambda: _skyrec.expand_descriptors(e["dir"], [309999]), ValueError),
        ("expand_descriptors dir", lambda: _skyrec.expand_descriptors(e["missing"], [1001]), ValueError),
        ("expand_descriptors bad dir", lambda: _skyrec.expand_descriptors(e["bad_dir"], [1001]), ValueError),
        ("expand_descriptors str", lambda: _skyrec.expand_descriptors(e["dir"], "301011"), TypeError),
        ("expand_descriptors item", lambda: _skyrec.expand_descriptors(e["dir"], [1001, "x"]), TypeError),
        ("expand_descriptors range", lambda: _skyrec.expand_descriptors(e["dir"], [1001, -1]), OverflowError),
        ("decode_values", lambda: _skyrec.decode_values(DATA, e["dir"]), None),
        ("decode_values run out", lambda: _skyrec.decode_values(RUN_OUT, e["dir"]), ValueError),
        ("decode_values bad", lambda: _skyrec.decode_values(BAD, e["dir"]), ValueError),
        ("decode_values dir", lambda: _skyrec.decode_values(DATA, e["missing"]), ValueError),
        ("decode_values type", lambda: _skyrec.decode_values(DATA, 1), TypeError),
        ("decode_values_with_tables", lambda: _skyrec.decode_values_with_tables(DATA, t), None),
        # What the tables keep for later decodes goes with them.
        ("decode_values_with_tables fresh tables",
         lambda: _skyrec.decode_values_with_tables(PACKED, _skyrec.TableSet.from_eccodes(e["dir"])), None),
        ("decode_values_with_tables run out", lambda: _skyrec.decode_values_with_tables(RUN_OUT, t), ValueError),
        ("decode_values_with_tables element", lambda: _skyrec.decode_values_with_tables(
            build_message([63255], b"\0"), t), ValueError),
        ("decode_values_with_tables type", lambda: _skyrec.decode_values_with_tables(DATA, "t"), TypeError),
        ("decode_values_with_definitions", lambda: _skyrec.decode_values_with_definitions(DATA, e["defs"]), None),
        ("decode_values_with_definitions root",
         lambda: _skyrec.decode_values_with_definitions(DATA, e["missing"]), ValueError),
        ("decode_values_with_definitions bad", lambda: _skyrec.decode_values_with_definitions(b"", e["defs"]),
         ValueError),
        ("Descriptor", lambda: _skyrec.Descriptor(3, 1, 11), None),
        ("Descriptor range", lambda: _skyrec.Descriptor(256, 1, 11), OverflowError),
        ("Descriptor type", lambda: _skyrec.Descriptor("3", 1, 11), TypeError),
        ("Descriptor.from_fxy", lambda: _skyrec.Descriptor.from_fxy(301011), None),
        ("Descriptor.from_fxy range", lambda: _skyrec.Descriptor.from_fxy(-1), OverflowError),
        ("TableSet", lambda: _skyrec.TableSet(), None),
        ("TableSet args", lambda: _skyrec.TableSet(1), TypeError),
        ("TableSet.from_eccodes", lambda: _skyrec.TableSet.from_eccodes(e["dir"]), None),
        ("TableSet.from_eccodes missing", lambda: _skyrec.TableSet.from_eccodes(e["missing"]), ValueError),
        ("TableSet.from_eccodes bad", lambda: _skyrec.TableSet.from_eccodes(e["bad_dir"]), ValueError),
        ("TableSet.from_bufr4_45", lambda: _skyrec.TableSet.from_bufr4_45(e["wmo"]), None),
        ("TableSet.from_bufr4_45 bad", lambda: _skyrec.TableSet.from_bufr4_45(e["bad_wmo"]), ValueError),
        ("TableSet.from_bufr4_45 missing", lambda: _skyrec.TableSet.from_bufr4_45(e["missing"]), ValueError),
        ("TableSet.from_definitions", lambda: _skyrec.TableSet.from_definitions(e["defs"], m), None),
        ("TableSet.from_definitions root", lambda: _skyrec.TableSet.from_definitions(e["missing"], m), ValueError),
        ("TableSet.from_definitions type", lambda: _skyrec.TableSet.from_definitions(e["defs"], DATA), TypeError),
        ("TableSet.get_element", lambda: t.get_element(12101), None),
        ("TableSet.get_element index", lambda: t.get_element(Index()), None),
        ("TableSet.get_element absent", lambda: t.get_element(99999), None),
        ("TableSet.get_element type", lambda: t.get_element("12101"), TypeError),
        ("TableSet.get_element range", lambda: t.get_element(1 << 32), OverflowError),
        ("TableSet.get_sequence", lambda: t.get_sequence(301002), None),
        ("TableSet.get_sequence absent", lambda: t.get_sequence(1), None),
        ("TableSet.get_meaning", lambda: t.get_meaning(2001, 1), None),
        ("TableSet.get_meaning absent", lambda: t.get_meaning(2001, 7), None),
        ("TableSet.get_meaning range", lambda: t.get_meaning(2001, -1), OverflowError),
        ("TableSet.expand", lambda: t.expand((301002, 204008, 12101)), None),
        ("TableSet.expand error", lambda: t.expand([400000]), ValueError),
        ("TableSet.expand type", lambda: t.expand({1001}), TypeError),
    ]
    if _native is not None:
        run_out = _skyrec.parse_bytes(RUN_OUT)
        packed = _skyrec.parse_bytes(PACKED)
        yield from [
            ("_native.next_message", lambda: _native.next_message(DATA, 0), None),
            ("_native.next_message bad", lambda: _native.next_message(BAD, 0), None),
            ("_native.next_message end", lambda: _native.next_message(DATA, len(DATA)), None),
            ("_native.next_message range", lambda: _native.next_message(DATA, -1), OverflowError),
            ("_native.next_message type", lambda: _native.next_message("x", 0), TypeError),
            ("_native.copy_files", lambda: _native.copy_files([e["file"], e["bad_file"], e["missing"]],
                                                              ["dataCategory=0:"], e["missing"] + ".out"), None),
            ("_native.copy_files refused", lambda: _native.copy_files([e["file"]], ["airTemperature=1"],
                                                                      e["missing"] + ".out"), None),
            ("_native.copy_files unwritable", lambda: _native.copy_files([e["file"]], [],
                                                                         e["missing"] + "/no/out"), None),
            ("_native.copy_files type", lambda: _native.copy_files([1], [], "out"), TypeError),
            ("_native.decode_subsets", lambda: _native.decode_subsets(DATA, 0, m, t), None),
            ("_native.decode_subsets run out", lambda: _native.decode_subsets(RUN_OUT, 0, run_out, t), ValueError),
            ("_native.decode_subsets place", lambda: _native.decode_subsets(DATA, 5, m, t), ValueError),
            ("_native.decode_columns", lambda: _native.decode_columns(DATA, 0, m, t), None),
            ("_native.decode_columns run out", lambda: _native.decode_columns(RUN_OUT, 0, run_out, t), ValueError),
            ("_native.decode_columns type", lambda: _native.decode_columns(DATA, 0, m, None), TypeError),
            ("_native.keep_columns", lambda: _native.keep_columns(bytearray(PACKED), 0, packed, t).wide(), None),
            ("_native.keep_columns details", lambda: _native.keep_columns(PACKED, 0, packed, t).details(), None),
            ("_native.keep_columns long", lambda: _native.keep_columns(PACKED, 0, packed, t).long(["raw"]), None),
            ("_native.keep_columns long name", lambda: _native.keep_columns(PACKED, 0, packed, t).long(["x"]),
             ValueError),
            ("_native.decode_wide", lambda: _native.decode_wide(DATA, 0, m, t), None),
            ("_native.decode_wide compressed", lambda: _native.decode_wide(PACKED, 0, packed, t), None),
            ("_native.decode_wide run out", lambda: _native.decode_wide(RUN_OUT, 0, run_out, t), ValueError),
            ("_native.KeptColumns made", lambda: _native.KeptColumns(), TypeError),
            ("_native.keep_columns uncompressed", lambda: _native.keep_columns(DATA, 0, m, t), ValueError),
            ("_native.keep_columns type", lambda: _native.keep_columns(PACKED, 0, packed, None), TypeError),
            ("_native.keep_columns threads", lambda: _native.keep_columns(PACKED, 0, packed, t, threads=2).wide(),
             None),
            ("_native.keep_columns threads zero", lambda: _native.keep_columns(PACKED, 0, packed, t, threads=0),
             ValueError),
            ("_native.decode_wide threads type", lambda: _native.decode_wide(PACKED, 0, packed, t, threads=1.0),
             TypeError),
            ("_native.table_directories", lambda: _native.table_directories(e["defs"], m), None),
            ("_native.table_directories type", lambda: _native.table_directories(e["defs"], DATA), TypeError),
            ("_native.definitions_tables", lambda: _native.definitions_tables(e["defs"], m), None),
            ("_native.definitions_tables root", lambda: _native.definitions_tables(e["missing"], m), ValueError),
            ("_native.directory_tables", lambda: _native.directory_tables(os.fsencode(e["dir"])), None),
            ("_native.directory_tables missing", lambda: _native.directory_tables(e["missing"]), ValueError),
            ("_native.directory_tables type", lambda: _native.directory_tables(3), TypeError),
            ("_native.state_of", lambda: _native.from_state(*_native.state_of(t)), None),
            ("_native.state_of value", lambda: _native.from_state(*_native.state_of(e["values"][0])), None),
            ("_native.state_of type", lambda: _native.state_of(3), TypeError),
            ("_native.from_state", lambda: _native.from_state(*_native.state_of(m)), None),
            ("_native.from_state bad", lambda: _native.from_state("message", (1,)), TypeError),
            ("_native.resolve_table_dir", lambda: _native.resolve_table_dir(e["dir"]), None),
            ("_native.resolve_table_dir missing", lambda: _native.resolve_table_dir(e["missing"]), ValueError),
            ("_native.message_headers", lambda: _native.message_headers(b"junk" + DATA + BAD), None),
            ("_native.message_headers kept", lambda: _native.message_headers(b"junk" + DATA + BAD, keep=True),
             None),
            ("_native.messages_framed", lambda: _native.messages_framed(), None),
            ("_native.message_headers range", lambda: _native.message_headers(DATA, 0, -1), OverflowError),
            ("_native.decode_block",
             lambda: _native.decode_block([native_piece(DATA + RUN_OUT, 0, [0, len(DATA)], [0, 1], [t, t]),
                                           native_piece(DATA, 1, [0], [0], t)]), None),
            ("_native.decode_block resolver",
             lambda: _native.decode_block([native_piece(DATA, 0, [0], [0], lambda m: t)]), None),
            ("_native.decode_block refused",
             lambda: _native.decode_block([native_piece(DATA, 0, [0], [0], refused)]), None),
            ("_native.decode_block resolver fails",
             lambda: _native.decode_block([native_piece(DATA, 0, [0], [0], len)]), TypeError),
            ("_native.decode_block lengths",
             lambda: _native.decode_block([native_piece(DATA, 0, [0], [0], [])]), ValueError),
            ("_native.decode_block row",
             lambda: _native.decode_block([(native_piece(DATA, 0, [0], [0], t)[0], 0, [1], [0], t, 0)]), ValueError),
            ("_native.decode_block type",
             lambda: _native.decode_block([native_piece(DATA, 0, [0], [0], [1])]), TypeError),
            ("_native.decode_block shape", lambda: _native.decode_block([(DATA, 0)]), TypeError),
            ("_native.observation_rows",
             lambda: _native.observation_rows([native_piece(DATA + RUN_OUT, 0, [0, len(DATA)], [0, 1], t)],
                                              [("blockNumber", 0), ("blockNumber", 2)], [(0, [(0.0, 9.0)]), (1, [])]),
             None),
            ("_native.observation_rows key", lambda: _native.observation_rows([], [("blockNumber",)]), TypeError),
            ("_native.observation_rows index", lambda: _native.observation_rows([], [("a", 0)], [(1, [])]), ValueError),
            ("_native.observation_rows range", lambda: _native.observation_rows([], [("a", 0)], [(0, [(1.0,)])]),
             TypeError),
            ("_native.OwnedBuffer",
             lambda: memoryview(_native.decode_block([native_piece(DATA, 0, [0], [0], t)])["value"]).tolist(),
             None),
            ("_native.OwnedBuffer made", lambda: _native.OwnedBuffer(), TypeError),
            ("_native.tables_from_texts", lambda: _native.tables_from_texts(TEXTS, TEXT_LAYERS), None),
            ("_native.tables_from_texts bad", lambda: _native.tables_from_texts(TEXTS, [(None, (0, 15), [])]),
             ValueError),
            ("_native.tables_from_texts span", lambda: _native.tables_from_texts(TEXTS, [((0, 99), None, [])]),
             OverflowError),
            ("_native.tables_from_texts layer", lambda: _native.tables_from_texts(TEXTS, [(None, None)]), TypeError),
            ("_native.tables_from_texts entry", lambda: _native.tables_from_texts(TEXTS, [(None, None, [(1, 0, 1)])]),
             TypeError),
            ("_native.tables_from_wmo_csv", lambda: _native.tables_from_wmo_csv(e["wmo"]), None),
            ("_native.tables_from_wmo_csv bad", lambda: _native.tables_from_wmo_csv(e["bad_wmo"]), ValueError),
            ("_native.csv_records", lambda: _native.csv_records(b"a,b\n1,2\n3\n", "wmo"), None),
            ("_native.csv_records dialect", lambda: _native.csv_records(b"", "x"), ValueError),
            ("_native.dump_records", lambda: _native.dump_records(DATA, 0, m, t, "jsonl", b"{", b",", [(0, None)],
                                                                  ["#1#x", "y"], None, None), None),
            ("_native.dump_records written", lambda: _native.dump_records(DATA, 0, m, t, "text", b"", b"", [], [],
                                                                          NULL_FD, float), None),
            ("_native.dump_records progress", lambda: _native.dump_records(DATA, 0, m, t, "csv", b"", b"", [], [],
                                                                           NULL_FD, lambda done: 1 / 0),
             ZeroDivisionError),
            ("_native.dump_records unwritable", lambda: _native.dump_records(DATA, 0, m, t, "csv", b"", b"", [], [],
                                                                             CLOSED_FD, None), OSError),
            ("_native.dump_records run out", lambda: _native.dump_records(RUN_OUT, 0, run_out, t, "csv", b"", b"",
                                                                          [], [], None, None), ValueError),
            ("_native.dump_records format", lambda: _native.dump_records(DATA, 0, m, t, "xml", b"", b"", [], [],
                                                                         None, None), ValueError),
            ("_native.dump_records key", lambda: _native.dump_records(DATA, 0, m, t, "csv", b"", b"", [], ["#0#x"],
                                                                      None, None), ValueError),
            ("_native.dump_records subsets", lambda: _native.dump_records(DATA, 0, m, t, "csv", b"", b"", [(1,)],
                                                                          [], None, None), TypeError),
            ("_native.reencode", lambda: _native.reencode(DATA, 0, m, t, None, True, None, False), None),
            ("_native.reencode changed", lambda: _native.reencode(DATA, 0, m, t, HEADER, b"local", [(0, 0, 5)], False),
             None),
            ("_native.reencode index", lambda: _native.reencode(DATA, 0, m, t, None, None, [(0, 99, 5)], False),
             ValueError),
            ("_native.reencode range", lambda: _native.reencode(DATA, 0, m, t, None, None, [(0, 0, 1e9)], False),
             ValueError),
            ("_native.reencode header", lambda: _native.reencode(DATA, 0, m, t, (4,), None, None, False), TypeError),
            ("_native.encode_values", lambda: _native.encode_values([12101], [[273.15], [None]], t, HEADER, None,
                                                                    False), None),
            ("_native.encode_values range", lambda: _native.encode_values([12101], [[1e9]], t, HEADER, None, False),
             ValueError),
            ("_native.encode_values type", lambda: _native.encode_values([12101], [[t]], t, HEADER, None, False),
             TypeError),
            ("_native.encode_array", lambda: _native.encode_array([12101, 1015], ARRAY, {1: ["A", None]}, t,
                                                                  COMPRESSED, None, False), None),
            ("_native.encode_array texts", lambda: _native.encode_array([12101], ARRAY, {0: ["A"]}, t, COMPRESSED,
                                                                        None, False), ValueError),
            ("_native.encode_array type", lambda: _native.encode_array([12101], b"xx", {}, t, HEADER, None, False),
             TypeError),
            ("_native.header_message", lambda: _native.header_message(HEADER), None),
            ("_native.header_message range", lambda: _native.header_message((1 << 20,) * 18), ValueError),
            ("_native.pooled_bytes", lambda: _native.pooled_bytes(), None),
            ("_native.release_buffers", lambda: _native.release_buffers(), None),
        ]
    # Every attribute and the repr of every class, on objects of each kind.
    objects = [m, e["element"], e["sequence"], e["descriptor"], t, *e["values"]]
    for obj in objects:
        kind = type(obj).__name__
        for name in dir(obj):
            if not name.startswith("_") and not callable(getattr(obj, name)):
                yield f"{kind}.{name}", (lambda o=obj, n=name: getattr(o, n)), None
        yield f"{kind} repr", (lambda o=obj: repr(o)), None
        yield f"{kind} set", (lambda o=obj: setattr(o, dir(o)[-1], 1)), (AttributeError, TypeError)


def run(call, exception, times):
    for _ in range(times):
        if exception is None:
            call()
        else:
            try:
                call()
            except exception:
                pass
            else:
                raise AssertionError("expected an exception")


def test_every_function_and_member_is_covered(env):
    names = {name.split()[0] for name, _, _, _ in cases(env)}
    if _native is not None:
        functions = {f"_native.{n}" for n in dir(_native) if not n.startswith("_") and callable(getattr(_native, n))
                     and n != "DecodeError"}  # an exception class, raised by the others
        assert functions <= names, functions - names
    for name in _skyrec.__all__:
        obj = getattr(_skyrec, name)
        if isinstance(obj, type):
            members = {f"{name}.{m}" for m in dir(obj) if not m.startswith("_")}
            assert members <= names, members - names
        assert name in names


def traced_growth(call, exception, times):
    """What `times` calls leave behind, in bytes, as tracemalloc sees it."""
    before = tracemalloc.get_traced_memory()[0]
    run(call, exception, times)
    return tracemalloc.get_traced_memory()[0] - before


def test_no_objects_or_references_are_left_behind(env):
    arguments = [DATA, BAD, RUN_OUT, env["tables"], env["message"], env["dir"], env["defs"]]
    classes = [getattr(_skyrec, n) for n in _skyrec.__all__ if isinstance(getattr(_skyrec, n), type)]
    leaking = []
    gc.collect()
    tracemalloc.start()
    try:
        for name, call, exception, times in cases(env):
            run(call, exception, 4)  # warm caches: interned names, free lists, the exception types
            counts = [sys.getrefcount(a) for a in arguments + classes]
            # A leaked object is at least 16 bytes, so 200 calls would leave
            # 3200. The interpreter now and then grows a table of its own: a
            # leak grows in two batches running.
            grown = [traced_growth(call, exception, times) for _ in range(2)]
            if min(grown) > 4 * times or [sys.getrefcount(a) for a in arguments + classes] != counts:
                leaking.append((name, grown))
    finally:
        tracemalloc.stop()
    assert leaking == []


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


def heap_in_use():
    """Bytes that the C library's malloc holds for the process (glibc), or None."""
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except (OSError, AttributeError):
        return None
    mallinfo2.restype = MallInfo2
    gc.collect()
    info = mallinfo2()
    return info.uordblks + info.hblkhd


@pytest.mark.skipif(heap_in_use() is None, reason="needs glibc's mallinfo2")
@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="the address sanitizer replaces malloc")
def test_native_memory_stays_flat(env):
    # Native allocations (tables, decoded records, error texts) are invisible
    # to tracemalloc; a leak of them shows in malloc's bytes in use.
    every = [(call, exception) for _, call, exception, times in cases(env) if times > 10]
    for call, exception in every:
        run(call, exception, 20)
    start = heap_in_use()
    for call, exception in every:
        run(call, exception, 100)
    # 100 calls of each, some 5500 on error paths: a leak of 16 bytes a call
    # would show as 88 kB.
    assert heap_in_use() - start < 32 * 1024
