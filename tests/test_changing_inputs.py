"""Inputs that do not hold still or do not end: files truncated while they
are read, pipes and FIFOs, endless devices, tables rewritten or looping,
full disks, and careless arguments. None may crash the interpreter, block,
grow without bound or lose a message without an error."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import textwrap
import threading
from pathlib import Path

import pytest

import _skyrec
import skyrec
from blockfiles import bad_decode, bad_frame, good, write_archive
from decodekit import CODE_TABLES, ELEMENTS, SEQUENCES
from skyrec import _native, sources
from skyrec.blocks import read_block, read_headers, read_pieces
from skyrec.tables import TableSource, find_tables
from tablegen import write_table_dir

ROOT = Path(__file__).resolve().parent.parent


def child(code: str, *args: str, **options) -> subprocess.CompletedProcess:
    """`code` run by a fresh interpreter: a crash there is its exit status."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code), *args], capture_output=True, text=True,
                          env=env, cwd=ROOT, timeout=120, **options)


@pytest.fixture(scope="module")
def table_dir(tmp_path_factory) -> Path:
    return Path(write_table_dir(tmp_path_factory.mktemp("changing") / "tables", ELEMENTS, SEQUENCES, CODE_TABLES))


@pytest.fixture(scope="module")
def tables(table_dir):
    return _skyrec.TableSet.from_eccodes(str(table_dir))


@pytest.fixture
def big_archive(tmp_path):
    """Over 3 windows of messages, so that a reading is still under way when
    the file is cut; and where to cut: through the middle message."""
    message = good(1, "ONE", 0, subsets=1000)
    count = 3 * sources.WINDOW // len(message) + 1
    path = write_archive(tmp_path / "big.bufr", [message] * count)
    middle = read_headers(path)["offset"][count // 2]
    return path, count, int(middle) + len(message) // 2


# Each reading, with the file cut through its middle message as soon as the
# first header pass or message has been taken: a mapped file would now
# raise SIGBUS.
READINGS = {
    "values": "items = list(skyrec.read_messages(path, tables=t)); print(len(items), sum(not i.ok for i in items)); "
              "assert items[-1].error.reason == 'file changed while reading'",
    "columns": "items = list(skyrec.read_messages(path, tables=t, output='columns')); print(len(items), "
               "sum(not i.ok for i in items))",
    "headers": "h = read_headers(path); print(len(h), int(h.error.notna().sum()))",
    "block": "v, e = read_block(path, tables=t); print(v.message.nunique() + len(e), len(e))",
    "dataframe": "f = skyrec.read_dataframe(path, tables=t); print(f.message.nunique() + len(f.attrs['errors']), "
                 "len(f.attrs['errors']))",
}


@pytest.mark.parametrize("reading", READINGS)
def test_a_file_cut_while_it_is_read_gives_errors_not_a_crash(big_archive, table_dir, reading):
    path, count, cut = big_archive
    result = child(f"""
        import os, sys
        import skyrec
        from skyrec import _native, sources
        from skyrec.blocks import read_block, read_headers
        import _skyrec
        path = sys.argv[1]
        t = _skyrec.TableSet.from_eccodes(sys.argv[2])
        cut = [False]
        def cutting(name):
            real = getattr(_native, name)
            def call(*a, **k):
                if not cut[0]:
                    cut[0] = True
                    os.truncate(path, int(sys.argv[3]))
                return real(*a, **k)
            setattr(_native, name, call)
        cutting("next_message"); cutting("message_headers")
        {READINGS[reading]}
    """, str(path), str(table_dir), str(cut))
    assert result.returncode == 0, result.stderr
    found, failed = map(int, result.stdout.split())
    if reading in ("values", "columns"):
        # Read a window at a time: what lies before the cut decodes, the
        # message the cut went through is an error, the rest are gone.
        assert (found, failed) == (count // 2 + 1, 1)
    else:
        assert (found, failed) == (count, 0)  # read whole before the cut


def test_messages_gone_before_their_block_is_read_are_error_rows(tmp_path, tables):
    parts = [good(k, "ONE", 0) for k in range(6)]
    path = write_archive(tmp_path / "a.bufr", parts)
    import skyrec.dask as sd

    pieces = [piece for piece, *_ in sd.file_pieces(str(path), 150, {})]
    offsets = read_headers(path)["offset"].tolist()
    os.truncate(path, offsets[3] + 20)  # message 3 cut, 4 and 5 gone
    values, errors = read_pieces(pieces, find_tables(tables))
    assert sorted(set(values["message"])) == [0, 1, 2]
    assert [e.index for e in errors] == [3, 4, 5] and {e.reason for e in errors} == {sources.CHANGED}
    assert {e.kind for e in errors} == {"file_changed"}


def test_a_file_cut_before_its_blocks_were_found_is_cut_short_not_changed(tmp_path, tables):
    path = write_archive(tmp_path / "a.bufr", [good(k, "ONE", 0) for k in range(6)])
    os.truncate(path, path.stat().st_size - 40)  # the last message loses its end, for good
    import skyrec.dask as sd

    pieces = [piece for piece, *_ in sd.file_pieces(str(path), 150, {})]
    _, errors = read_pieces(pieces, find_tables(tables))
    _, whole = read_pieces([sd.Piece(str(path))], find_tables(tables))
    assert len(pieces) > 1 and [(e.index, e.kind) for e in errors] == [(e.index, e.kind) for e in whole] == [
        (5, "cut_short")]


@pytest.mark.parametrize("where, reason", [(1, "no message starts at offset"), (10**6, sources.CHANGED)])
def test_an_offset_without_a_message_is_an_error_row(tmp_path, tables, where, reason):
    path = write_archive(tmp_path / "a.bufr", [good(1, "ONE", 0), good(2, "TWO", 1)])
    first = int(read_headers(path)["offset"][0])
    values, errors = read_block(path, tables=tables, offsets=[first, first + where], indices=[0, 7])
    assert set(values["message"]) == {0}
    assert errors["message"].tolist() == [7] and errors["error"][0].startswith(reason)


@pytest.mark.parametrize("chunk", [16, 61, 200, 1 << 20])
def test_a_header_pass_a_chunk_at_a_time_finds_what_one_pass_finds(tmp_path, monkeypatch, chunk):
    # A section 0 whose length runs far past the end, then "BUF" cut by a chunk.
    parts = [good(1, "ONE", 0), b"BUFR\xff\xff\xff\x04", bad_frame(), good(2, "TWO", 1, subsets=30), b"BUF"]
    path = write_archive(tmp_path / "a.bufr", parts + [good(3, "ONE", 1)])
    monkeypatch.setattr(sources, "HEADER_CHUNK", chunk)
    whole = read_headers(path.read_bytes())
    assert len(whole) == 5
    assert read_headers(path).equals(whole)
    start, end = int(whole["offset"][1]), int(whole["offset"][3])
    assert read_headers(path, start=start, end=end).equals(read_headers(path.read_bytes(), start=start, end=end))


# --- streams ---------------------------------------------------------------

def feed(path: Path, data: bytes) -> threading.Thread:
    def write() -> None:
        with open(path, "wb") as f:
            f.write(data)

    thread = threading.Thread(target=write, daemon=True)
    thread.start()
    return thread


@pytest.mark.parametrize("reading", ["messages", "headers"])
def test_fifos_are_read_as_they_come(tmp_path, reading):
    parts = [good(1, "ONE", 0), bad_decode(), good(2, "TWO", 1)]
    write_archive(tmp_path / "a.bufr", parts)
    expected = [i.offset for i in skyrec.read_messages(tmp_path / "a.bufr", output="messages")]
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    writer = feed(fifo, (tmp_path / "a.bufr").read_bytes())
    if reading == "messages":
        found = [i.offset for i in skyrec.read_messages(fifo, output="messages")]
    else:
        found = read_headers(fifo)["offset"].tolist()
    writer.join()
    assert found == expected and len(found) == 3


def test_an_endless_stream_without_messages_takes_constant_memory():
    result = child("""
        import os, resource, threading
        import skyrec
        read, write = os.pipe()
        def feed():
            block = b"BUF" + bytes(1 << 20)  # near-markers too: nothing is a message
            with os.fdopen(write, "wb") as f:
                for _ in range(400):
                    f.write(block)
                f.write(open("examples/sample.bufr", "rb").read())
        threading.Thread(target=feed, daemon=True).start()
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        with os.fdopen(read, "rb") as stream:
            items = list(skyrec.read_messages(stream, output="messages"))
        grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
        print(len(items), items[0].offset, grown)
    """)
    assert result.returncode == 0, result.stderr
    count, offset, grown_kib = map(int, result.stdout.split())
    assert (count, offset) == (1, 400 * ((1 << 20) + 3))
    assert grown_kib < 64 * 1024  # 400 MiB went through


def test_an_endless_device_is_read_until_interrupted():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    code = "import skyrec; print('reading', flush=True); list(skyrec.read_messages('/dev/zero', output='messages'))"
    process = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    assert process.stdout.readline() == b"reading\n"
    process.send_signal(signal.SIGINT)
    _, err = process.communicate(timeout=60)
    assert process.returncode == -signal.SIGINT and err.rstrip().endswith(b"KeyboardInterrupt")


@pytest.mark.parametrize("call", [_skyrec.parse_all_file, _skyrec.parse_file, lambda p: read_headers(p)])
def test_a_whole_read_of_an_endless_device_stops_with_an_error(call):
    with pytest.raises((OSError, ValueError), match="not a regular file and (is )?longer than 268435456 bytes"):
        call("/dev/zero")


@pytest.mark.parametrize("kind", ["fifo", "device"])
@pytest.mark.parametrize("name", ["element.table", "sequence.def"])
def test_table_files_that_are_not_regular_files_are_refused(tmp_path, table_dir, kind, name):
    directory = tmp_path / "tables"
    directory.mkdir()
    for file in ("element.table", "sequence.def"):
        if file != name:
            (directory / file).write_bytes((table_dir / file).read_bytes())
    if kind == "fifo":
        os.mkfifo(directory / name)  # no writer ever comes: opening must not wait for one
    else:
        os.symlink("/dev/zero", directory / name)
    result = child("import _skyrec, sys; _skyrec.TableSet.from_eccodes(sys.argv[1])", str(directory))
    assert result.returncode == 1 and f"not a regular file: {directory / name}" in result.stderr


def test_standard_input_is_a_file_for_the_command_line():
    data = (ROOT / "examples" / "sample.bufr").read_bytes()
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    piped = subprocess.run([sys.executable, "-m", "skyrec", "ls", "--format", "jsonl", "-"], input=data * 2,
                           capture_output=True, env=env, timeout=120)
    assert piped.returncode == 0 and [line.count(b'"offset"') for line in piped.stdout.splitlines()] == [1, 1]
    assert b'"offset": %d' % len(data) in piped.stdout.splitlines()[1]


@pytest.mark.parametrize("stdout", ["full", "closed"])
def test_an_output_that_cannot_be_written_has_its_own_status(stdout):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    command = [sys.executable, "-m", "skyrec", "dump", "--tables", "examples/tables", "examples/sample.bufr"]
    with open("/dev/full", "wb") as full:
        result = subprocess.run(command, stdout=full if stdout == "full" else subprocess.DEVNULL,
                                stderr=subprocess.PIPE, env=env, cwd=ROOT, timeout=120, close_fds=True,
                                preexec_fn=(lambda: os.close(1)) if stdout == "closed" else None)
    assert result.returncode == 74
    assert result.stderr.decode().splitlines() == [
        "skyrec: cannot write output: " + ("No space left on device" if stdout == "full" else
                                          "standard output is closed")]


# --- tables that change or loop --------------------------------------------

def test_a_failed_table_load_is_tried_again_later(tmp_path, table_dir, monkeypatch):
    message = _skyrec.parse_all_bytes(good(1, "ONE", 0))[0]
    root = tmp_path / "definitions"
    source = TableSource(root=str(root))
    with pytest.raises(ValueError):
        source.for_message(message)
    version = root / "bufr" / "tables" / "0" / "wmo" / str(message.master_tables_version_number)
    version.mkdir(parents=True)
    for name in ("element.table", "sequence.def"):
        (version / name).write_bytes((table_dir / name).read_bytes())
    with pytest.raises(ValueError):
        source.for_message(message)  # not yet: failures are kept a while
    clock = skyrec.tables.time.monotonic() + skyrec.tables.RETRY_SECONDS
    monkeypatch.setattr(skyrec.tables.time, "monotonic", lambda: clock)
    assert source.for_message(message).get_element(1001) is not None


@pytest.mark.parametrize("target", ["codetables", "nowhere"])
def test_a_codetables_link_that_cannot_be_followed_fails_both_loaders_alike(tmp_path, table_dir, target):
    message = _skyrec.parse_all_bytes(good(1, "ONE", 0))[0]
    version = tmp_path / "bufr" / "tables" / "0" / "wmo" / str(message.master_tables_version_number)
    version.mkdir(parents=True)
    for name in ("element.table", "sequence.def"):
        (version / name).write_bytes((table_dir / name).read_bytes())
    os.symlink(target, version / "codetables")
    with pytest.raises(ValueError) as by_root:
        TableSource(root=str(tmp_path)).for_message(message)
    with pytest.raises(ValueError) as by_directory:
        find_tables(table_dir=version)
    # The same failure, each naming where it is.
    reason = "io error: " + ("Too many levels of symbolic links" if target == "codetables" else
                             "No such file or directory")
    assert reason in str(by_directory.value) and reason in str(by_root.value)
    assert str(version) in str(by_directory.value) and str(tmp_path) in str(by_root.value)


# --- careless callers ------------------------------------------------------

def test_bytes_naming_a_file_ask_for_a_path(tmp_path):
    path = write_archive(tmp_path / "a.bufr", [good(1, "ONE", 0)])
    for call in (lambda s: skyrec.read_messages(s, output="messages"), read_headers):
        with pytest.raises(TypeError, match="pass the path as a str or os.PathLike"):
            call(os.fsencode(path))
    (item,) = skyrec.read_messages(b"not a path", output="messages")  # bytes stay data
    assert str(item.error) == "no BUFR messages found"


def test_a_message_framed_from_other_bytes_is_refused(tables):
    one, two = good(1, "ONE", 0), good(2, "TWO", 1, subsets=3)
    message = _skyrec.parse_all_bytes(two)[0]
    table_set = tables
    for call in (_native.decode_subsets, _native.decode_columns):
        with pytest.raises(ValueError, match="not framed from data"):
            call(one + bytes(len(two)), 0, message, table_set)


class Huge:
    def __len__(self) -> int:
        return 2**62

    def __getitem__(self, i: int) -> int:
        return 1001


# ASan's allocator aborts on such a request instead of failing it.
@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="ASan aborts on impossible allocations")
@pytest.mark.parametrize("call", [lambda t: t.expand(Huge()), lambda t: _native.decode_block(Huge())])
def test_impossible_lengths_are_memory_errors(tables, call):
    with pytest.raises(MemoryError):
        call(tables)


@pytest.mark.parametrize("call", [
    lambda p: _native.resolve_table_dir(p),
    lambda p: list(skyrec.read_messages(p, output="messages")),
    lambda p: read_headers(p),
    lambda p: find_tables(table_dir=p),
])
def test_nul_bytes_in_paths_are_value_errors(tmp_path, call):
    with pytest.raises(ValueError, match="embedded null byte"):
        call(str(tmp_path) + "\0x")


def test_a_module_owns_its_classes_and_a_new_import_works_on_its_own(table_dir):
    # The classes live in the module's state: a module let go takes them with
    # it, and the next import makes classes of its own that decode as before.
    done = child("""
        import gc, sys, weakref
        import _skyrec
        from bufrgen import BitWriter, build_message
        data = build_message([1015], BitWriter().text("ABC", 48).to_bytes())
        first = weakref.ref(_skyrec.TableSet)
        values = [v.raw_text for v in _skyrec.decode_values(data, sys.argv[1])]
        del sys.modules["_skyrec"], _skyrec
        gc.collect()
        assert first() is None, "the first module's classes outlived it"
        import _skyrec
        assert [v.raw_text for v in _skyrec.decode_values(data, sys.argv[1])] == values == ["ABC"]
        print("ok")
    """, str(table_dir))
    assert done.returncode == 0 and done.stdout == "ok\n", done.stderr
