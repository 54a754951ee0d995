"""Faults an attacker or a busy operator meets: one framing rule on every
route, work linear in a key's occurrences, texts shown on a terminal, table
trees that cannot be read or never end, ranks and offsets out of range,
misuse of the readers, and results that must cross process boundaries.
Inputs are built here; what needs a bound runs in a child process with limits."""

from __future__ import annotations

import array
import csv
import io
import json
import os
import pickle
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

np = pytest.importorskip("numpy")
pd = pytest.importorskip("pandas")

import _skyrec  # noqa: E402
import skyrec  # noqa: E402
from bufrgen import BitWriter, build_message  # noqa: E402
from skyrec import _native  # noqa: E402
from skyrec.cli import main  # noqa: E402
from skyrec.observations import read_observations  # noqa: E402
from tablegen import Element, write_table_dir  # noqa: E402

ELEMENTS = [Element(1001, "WMO BLOCK NUMBER", width=7, abbreviation="blockNumber"),
            Element(1015, "STATION NAME", "CCITT IA5", width=64, abbreviation="stationOrSiteName"),
            Element(12101, "TEMPERATURE", "K", scale=1, width=12, abbreviation="airTemperature"),
            Element(31002, "REPLICATION", width=24, abbreviation="extendedDelayedDescriptorReplicationFactor")]
BUILD = Path(_skyrec.__file__).parent  # where this build of both modules and the package lies


@pytest.fixture(scope="module")
def tables(tmp_path_factory) -> str:
    return str(write_table_dir(tmp_path_factory.mktemp("reliability") / "tables", ELEMENTS))


def temperatures(subsets: int, compressed: bool, trailing: bytes = b"") -> bytes:
    """Block numbers and temperatures, `trailing` bytes after "7777" inside the declared length."""
    bits = BitWriter()
    if compressed:
        bits.uint(0, 7).uint(3, 6)
        for j in range(subsets):
            bits.uint(j % 7 + 1, 3)
        bits.uint(2700, 12).uint(4, 6)
        for j in range(subsets):
            bits.uint(j % 3 * 5, 4)
    else:
        for j in range(subsets):
            bits.uint(j % 100 + 1, 7).uint(2700 + j % 3 * 5, 12)
    return build_message([1001, 12101], bits.to_bytes(), subsets=subsets, compressed=compressed, trailing=trailing)


UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")


def child(code: str, *, cpu_seconds: int = 60, memory: int = 4 << 30) -> subprocess.CompletedProcess[str]:
    """`code` in a Python of its own, within CPU-time and address-space limits (the
    address sanitizer maps terabytes of shadow memory: under it, the CPU time only)."""
    prelude = textwrap.dedent(f"""
        import resource
        resource.setrlimit(resource.RLIMIT_CPU, ({cpu_seconds}, {cpu_seconds}))
        if not {UNDER_ASAN}:
            resource.setrlimit(resource.RLIMIT_AS, ({memory}, {memory}))
    """)
    return subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(code)], capture_output=True, text=True,
                          env={**os.environ, "PYTHONPATH": f"{BUILD}:{Path(__file__).parent}"}, timeout=600)


# --- one framing rule: bytes after "7777" within the declared length ---------

def _dumped(path: str, tables: str) -> list[float]:
    out = io.StringIO()
    saved, sys.stdout = sys.stdout, out
    try:
        assert main(["dump", "--format", "jsonl", "--tables", tables, path]) == 0
    finally:
        sys.stdout = saved
    return [r["value"] for r in map(json.loads, out.getvalue().splitlines())]


def _listed(path: str, tables: str) -> list[bool]:
    out = io.StringIO()
    saved, sys.stdout = sys.stdout, out
    try:
        status = main(["ls", "--format", "jsonl", path])
    finally:
        sys.stdout = saved
    return [status == 0 for _ in out.getvalue().splitlines()]


def _dask(path: str, tables: str) -> list[float]:
    sd = pytest.importorskip("skyrec.dask")
    values, errors = sd.read_bufr(path, table_dir=tables)
    assert len(errors.compute(scheduler="synchronous")) == 0
    return values.compute(scheduler="synchronous").value.tolist()


ROUTES = {
    "values": lambda p, t: [v.raw_value for d in skyrec.read_messages(p, table_dir=t, strict=True) for v in d.values],
    "columns": lambda p, t: [x for d in skyrec.read_messages(p, table_dir=t, strict=True, output="columns")
                             for x in d.columns.value.tolist()],
    "wide": lambda p, t: [x for w in skyrec.read_wide(p, table_dir=t) for x in w.values.ravel().tolist()],
    "dataframe": lambda p, t: skyrec.read_dataframe(p, table_dir=t, strict=True).value.tolist(),
    "block": lambda p, t: skyrec.read_block(p, table_dir=t)[0].value.tolist(),
    "headers": lambda p, t: skyrec.read_headers(p).error.isna().tolist(),
    "dump": _dumped,
    "ls": _listed,
    "dask": _dask,
}


@pytest.mark.parametrize("route", ROUTES)
def test_every_route_reads_messages_padded_after_the_terminator(tmp_path, tables, route):
    plain = temperatures(3, False) + temperatures(2, True)
    padded = temperatures(3, False, b"\0") + temperatures(2, True, b"\0\0\0")
    (tmp_path / "plain.bufr").write_bytes(plain)
    (tmp_path / "padded.bufr").write_bytes(padded)
    expected = ROUTES[route](str(tmp_path / "plain.bufr"), tables)
    assert expected and ROUTES[route](str(tmp_path / "padded.bufr"), tables) == expected


# --- work linear in occurrences; bounded tables and blocks -------------------

def test_observation_rows_are_linear_in_a_keys_occurrences(tables):
    # 124,000 occurrences in each of 8 subsets: laid out in quadratic time, about two minutes.
    code = f"""
        from bufrgen import BitWriter, build_message
        from skyrec.observations import read_observations
        chunk = BitWriter()
        for i in range(4000):
            chunk.uint(i, 12).uint(0, 6)
        bits = BitWriter().uint(31 * 4000, 24).uint(0, 6)
        for _ in range(31):
            bits.append(chunk)
        data = build_message([101000, 31002, 12101], bits.to_bytes(), subsets=8, compressed=True)
        frame = read_observations(data, ["airTemperature"], table_dir={tables!r})
        print(len(frame), frame.airTemperature.iloc[-1])
    """
    done = child(code, cpu_seconds=20)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.split() == [str(8 * 31 * 4000), "399.9"]


def test_a_table_file_past_the_size_bound_is_a_table_error_kept_for_the_source(tmp_path):
    directory = Path(write_table_dir(tmp_path / "huge", ELEMENTS))
    with open(directory / "element.table", "r+b") as f:
        f.truncate(3 << 30)  # sparse: costs no disk
    code = f"""
        import skyrec, _skyrec
        from bufrgen import build_message
        try:
            skyrec.find_tables(table_dir={str(directory)!r})
        except ValueError as e:
            print(e)
    """
    done = child(code, memory=1 << 30)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "longer than 67108864 bytes, the most read of a table file" in done.stdout


def test_a_block_past_its_memory_limit_leaves_that_message_out(tables):
    big, small = temperatures(5000, True), temperatures(2, False)
    values, errors = skyrec.read_block(big + small, table_dir=tables, memory_limit=100_000)
    assert errors.message.tolist() == [0] and "past the memory limit of 100000 bytes" in errors.error[0]
    assert values.message.unique().tolist() == [1]
    values, errors = skyrec.read_block(big + small, table_dir=tables, memory_limit=10**8)
    assert errors.empty and len(values) == 2 * 5000 + 2 * 2


def test_memory_running_out_while_pandas_loads_stays_a_memory_error(monkeypatch):
    import builtins

    from skyrec import optional

    real_import = builtins.__import__

    def failing(name, *args, **kwargs):
        if name == "pandas":
            raise ImportError("libpandas.so: failed to map segment from shared object")
        return real_import(name, *args, **kwargs)

    monkeypatch.setattr(builtins, "__import__", failing)
    with pytest.raises(MemoryError):
        optional.pandas()


# --- texts meant for a terminal ----------------------------------------------

# A carriage return, a new window title, hidden text from here on.
HOSTILE = "\rAB\x1b]0;title\x07\x1b[8m"
ESCAPED = "\\rAB\\x1b]0;title\\x07\\x1b[8m"
HOSTILE_NAME, ESCAPED_NAME = HOSTILE[1:], ESCAPED[2:]  # table files end their lines at a carriage return


def test_texts_shown_on_a_terminal_have_their_controls_escaped(tmp_path, capsys):
    hostile = [Element(1001, "BLOCK" + HOSTILE_NAME, width=7, abbreviation="blockNumber"),
               Element(1015, "NAME", "CCITT IA5", width=144, abbreviation="stationOrSiteName")]
    directory = str(write_table_dir(tmp_path / "hostile", hostile))
    path = tmp_path / "m.bufr"
    path.write_bytes(build_message([1001, 1015], BitWriter().uint(5, 7).text(HOSTILE, 144).to_bytes()))
    shown = {}
    for command in (["table", "-c", "stationOrSiteName,blockNumber", str(path)], ["dump", str(path)],
                    ["lookup", "1001"], ["expand", "1001"]):
        assert main([command[0], "--tables", directory, *command[1:]]) == 0
        shown[command[0]] = capsys.readouterr().out
    for command, out in shown.items():  # the value in table and dump, the name in the others
        assert "\x1b" not in out and "\r" not in out, command
        assert (ESCAPED if command == "table" else ESCAPED_NAME) in out, command
    assert ESCAPED in shown["dump"]
    for command in (["table", "-c", "stationOrSiteName"], ["dump"]):  # CSV keeps the text, quoted
        assert main([command[0], "--tables", directory, "--format", "csv", *command[1:], str(path)]) == 0
        rows = list(csv.reader(io.StringIO(capsys.readouterr().out, newline="")))
        assert HOSTILE in rows[1 if command[0] == "table" else 2], command


# --- table trees ---------------------------------------------------------------

def local_tree(root: Path, local_scale: int) -> Path:
    """A definitions root whose local tables (centre 98) redefine 012101."""
    write_table_dir(root / "bufr/tables/0/wmo/38", ELEMENTS)
    local = [Element(12101, "LOCAL TEMPERATURE", "K", scale=local_scale, width=12, abbreviation="airTemperature")]
    return Path(write_table_dir(root / "bufr/tables/0/local/1/98/0", local))


def test_an_unreadable_local_table_directory_is_an_error_naming_it(tmp_path):
    base = Path(os.environ.get("TMPDIR", "/tmp")) / f"skyrec-unreadable-{os.getpid()}"
    local = local_tree(base, 0)
    for d in [base, *base.rglob("*")]:
        d.chmod(0o755 if d.is_dir() else 0o644)
    local.chmod(0o000)
    data = build_message([12101], BitWriter().uint(2731, 12).to_bytes(), local_version=1)
    # Root reads whatever it likes: the reading is done as nobody, after the imports.
    code = f"""
        import os, skyrec, skyrec.blocks, pandas
        if os.geteuid() == 0:
            os.setgid(65534), os.setuid(65534)
        frame = skyrec.read_block({data!r}, definitions={str(base)!r})
        print(frame[1].error.tolist())
    """
    try:
        done = child(code)
    finally:
        local.chmod(0o755)
        subprocess.run(["rm", "-rf", str(base)], check=False)
    assert done.returncode == 0, done.stderr[-2000:]
    assert str(local) in done.stdout and "Permission denied" in done.stdout


def test_the_definition_path_is_searched_root_by_root(tmp_path, monkeypatch):
    full = tmp_path / "full"
    write_table_dir(full / "bufr/tables/0/wmo/38", ELEMENTS)
    overlay = tmp_path / "localonly"
    local = [Element(12101, "LOCAL TEMPERATURE", "K", scale=0, width=12, abbreviation="airTemperature")]
    write_table_dir(overlay / "bufr/tables/0/local/1/98/0", local)
    data = build_message([12101], BitWriter().uint(2731, 12).to_bytes(), local_version=1)
    monkeypatch.setenv("ECCODES_DEFINITION_PATH", f"{overlay}:{full}")
    assert skyrec.read_block(data)[0].value.tolist() == [2731.0]
    monkeypatch.setenv("ECCODES_DEFINITION_PATH", f"{overlay}:{tmp_path / 'gone'}:{full}")
    with pytest.raises(skyrec.TablesNotFound, match="gone, which cannot be read"):
        skyrec.read_block(data)


@pytest.mark.parametrize("source", ["table_dir", "definitions", "table_dir_bytes", "cli"])
def test_table_paths_that_are_not_utf8(tmp_path, source, capfd):
    raw = os.fsencode(tmp_path) + b"/tables\xff"
    root = raw + b"/defs"
    master = os.fsdecode(root + b"/bufr/tables/0/wmo/38")
    write_table_dir(Path(master), ELEMENTS)
    data = temperatures(1, False, b"")
    if source == "cli":
        path = tmp_path / "m.bufr"
        path.write_bytes(data)
        assert main(["dump", "--tables", master, str(path)]) == 0
        assert "270" in capfd.readouterr().out
        return
    if source == "table_dir_bytes":
        frame = read_observations(data, ["blockNumber", "airTemperature"], table_dir=os.fsencode(master))
        assert frame.iloc[0].tolist() == [1.0, 270.0]
        return
    given = {"table_dir": {"table_dir": master}, "definitions": {"definitions": os.fsdecode(root)}}[source]
    assert skyrec.read_block(data, **given)[0].value.tolist() == [1.0, 270.0]


@pytest.mark.parametrize("alias, expected", [("..", "invalid ecCodes table alias"),
                                             (None, "Too many levels of symbolic links")])
def test_master_directories_that_lead_nowhere(tmp_path, alias, expected):
    wmo = tmp_path / "bufr/tables/0/wmo"
    wmo.mkdir(parents=True)
    if alias is None:
        (wmo / "38").symlink_to("38")
    else:
        (wmo / "38").write_text(alias)
    errors = skyrec.read_block(temperatures(1, False), definitions=tmp_path)[1]
    assert expected in errors.error[0] and "does not exist" not in errors.error[0]


# --- ranks, offsets and arguments out of range -----------------------------------

@pytest.mark.parametrize("args", [
    ["dump", "--subset", "18446744073709551616"],
    ["dump", "--keys", "#99999999999999999999999#airTemperature"],
    ["table", "-c", "#4294967297#airTemperature"],
])
def test_ranks_and_indices_out_of_range_are_usage_errors(tmp_path, tables, capsys, args):
    path = tmp_path / "m.bufr"
    path.write_bytes(temperatures(2, False))
    assert main([args[0], "--tables", tables, *args[1:], str(path)]) == 2
    err = capsys.readouterr().err
    assert "4294967295" in err or "65534" in err


@pytest.mark.parametrize("key", ["#4294967297#airTemperature", "#18446744073709551616#airTemperature"])
def test_ranks_do_not_wrap(tables, key):
    with pytest.raises(ValueError, match="a rank is at most 4294967295"):
        read_observations(temperatures(2, False), [key], table_dir=tables)
    with pytest.raises(ValueError, match="from 0 to 4294967295"):
        _native.observation_rows([], [("airTemperature", 2**32 + 1)])


def test_standard_input_is_a_table_file(tables):
    done = subprocess.run([sys.executable, "-m", "skyrec", "table", "--tables", tables, "-c", "airTemperature", "-"],
                          input=temperatures(2, False), capture_output=True,
                          env={**os.environ, "PYTHONPATH": str(BUILD)})
    assert done.returncode == 0 and done.stdout.decode().split() == ["airTemperature", "270", "270.5"]


def _dask_call(name: str, **kwargs):
    sd = pytest.importorskip("skyrec.dask")
    return lambda: getattr(sd, name)(**kwargs)


@pytest.mark.parametrize("call, error, text", [
    (lambda d, t: skyrec.read_block(d, table_dir=t, start=-1), ValueError, "start must be an offset of 0 or more"),
    (lambda d, t: skyrec.read_headers(d, start=5, end=2), ValueError, "end (2) must not come before start (5)"),
    (lambda d, t: read_observations(io.StringIO("x"), ["blockNumber"], table_dir=t), TypeError, "text stream"),
    (lambda d, t: read_observations(array.array("i", [1]), ["blockNumber"], table_dir=t), TypeError, "'i' items"),
    (lambda d, t: read_observations([d, 3], ["blockNumber"], table_dir=t), TypeError, "it holds a int"),
    (lambda d, t: skyrec.read_block(memoryview(d + d)[::2], table_dir=t), TypeError, "memoryview is strided"),
    (lambda d, t: skyrec.message_dataframe(None), TypeError, "columns must be the Columns of a message"),
    (lambda d, t: skyrec.find_tables(table_dir=5), TypeError, "table_dir must be a path"),
    (lambda d, t: skyrec.set_threads(10**6), ValueError, "threads must be from 1 to 4096"),
    (lambda d, t: skyrec.read_wide(d, table_dir=t, threads=0), ValueError, "threads must be 1 or more"),
    (lambda d, t: skyrec.read_messages(d, table_dir=t, threads=10**6), ValueError, "threads must be from 1 to 4096"),
    (lambda d, t: skyrec.read_dataframe(d, table_dir=t, threads=True), TypeError, "threads must be an int or None"),
    (lambda d, t: _dask_call("read_bufr", paths="x", threads="2")(), TypeError, "threads must be an int or None"),
    (lambda d, t: _dask_call("read_bufr", headers=5)(), TypeError, "headers must be a pandas DataFrame"),
    (lambda d, t: _dask_call("read_bufr", paths="x", blocksize="1MB")(), TypeError, "blocksize must be an int"),
    (lambda d, t: _dask_call("read_headers", paths="x", blocksize=0)(), ValueError, "blocksize must be a positive"),
])
def test_misuse_is_told_by_argument(tables, call, error, text):
    with pytest.raises(error) as info:
        call(temperatures(1, False), tables)
    assert text in str(info.value)


def test_buffers_of_bytes_are_data_to_read_observations(tables):
    data = temperatures(2, False)
    for given in (array.array("B", data), io.BytesIO(data)):
        assert read_observations(given, ["airTemperature"], table_dir=tables).airTemperature.tolist() == [270, 270.5]


# --- results across process boundaries ------------------------------------------

def test_results_pickle(tables):
    data = temperatures(3, True) + build_message([1015], BitWriter().text("A'B", 64).to_bytes())
    source = skyrec.find_tables(table_dir=tables)
    items = [*skyrec.read_messages(data, tables=source), *skyrec.read_messages(data, tables=source,
                                                                               output="columns")]
    wide = next(skyrec.read_wide(data[:len(temperatures(3, True))], tables=source))
    tables_set = source.fixed
    back = pickle.loads(pickle.dumps((items, wide, tables_set, _skyrec.Descriptor(3, 1, 11))))
    for before, after in zip(items, back[0]):
        assert repr(after) == repr(before)
        for a, b in zip(before.values or [], after.values or []):
            assert (a.raw_value, a.raw, a.name, a.raw_text, a.raw_meaning, a.descriptor, a.data) == \
                   (b.raw_value, b.raw, b.name, b.raw_text, b.raw_meaning, b.descriptor, b.data)
        m, n = before.message, after.message
        assert [getattr(m, a) for a in dir(m) if not a.startswith("_")] == \
               [getattr(n, a) for a in dir(n) if not a.startswith("_")]
    # A message's record still decodes, with tables that went through a pickle too.
    first, length = back[0][0].message, len(temperatures(3, True))
    assert [v.raw_value for v in _native.decode_subsets(data[:length], 0, first, back[2])[0]] == \
           [v.raw_value for v in items[0].values]
    assert (back[1].values == wide.values).all() and (back[1].raw == wide.raw).all()
    assert back[2].get_element(12101).name == "TEMPERATURE" and back[3].fxy == 301011


@pytest.mark.parametrize("kind, state", [("message", (1, 2)), ("tables", ([(1,)], [], [])), ("comet", ())])
def test_states_that_no_object_gave_are_refused(kind, state):
    with pytest.raises((TypeError, ValueError)):
        _native.from_state(kind, state)
