"""skyrec.dask on the threaded and process schedulers and on a two-process
dask.distributed cluster on loopback: the rows of read_dataframe, file after
file, every bad message reported, nothing lost."""

from __future__ import annotations

import os

import pytest

pd = pytest.importorskip("pandas")
dask = pytest.importorskip("dask")
pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

import skyrec  # noqa: E402
import skyrec.dask as sd  # noqa: E402
from blockfiles import bad_decode, bad_frame, good, rows_of, write_archive  # noqa: E402
from decodekit import CODE_TABLES, ELEMENTS, SEQUENCES  # noqa: E402
from skyrec import _native, table_cache  # noqa: E402
from skyrec.blocks import read_headers  # noqa: E402
from skyrec.frames import read_by_message  # noqa: E402
from tablegen import write_table_dir  # noqa: E402


@pytest.fixture(scope="module")
def definitions(tmp_path_factory):
    """A definitions root with master version 38 only: messages naming 37
    fail to find their tables."""
    root = tmp_path_factory.mktemp("definitions")
    write_table_dir(root / "bufr" / "tables" / "0" / "wmo" / "38", ELEMENTS, SEQUENCES, CODE_TABLES)
    return root


@pytest.fixture(scope="module")
def archive(tmp_path_factory):
    """Three files: two with bad messages of every kind, one empty."""
    folder = tmp_path_factory.mktemp("archive")
    first = write_archive(folder / "a.bufr", [
        good(1, "ONE", 0), bad_decode(), good(2, "TWO", 1, subsets=3, centre=7), bad_frame(),
        good(3, "ONE", 1, master_version=37), good(4, "SIX", 0, category=2)])
    second = write_archive(folder / "b.bufr", [good(5, "TWO", 1, subsets=2, centre=7)] * 3 + [bad_decode(centre=7)])
    empty = folder / "c.bufr"
    empty.write_bytes(b"")
    return [str(first), str(second), str(empty)]


@pytest.fixture(scope="module")
def cluster():
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as local, Client(local) as client:
        yield client


def expected_rows(paths, definitions, keep=lambda frame, path: frame):
    rows, errors = [], []
    for path in paths:
        frame = read_by_message(path, definitions=definitions)
        frame.insert(0, "file", path)
        rows += rows_of(keep(frame, path))
        errors += [(path, e.index, e.offset, e.reason, e.where) for e in frame.attrs["errors"]]
    return rows, errors


def error_rows(errors):
    return [(e.file, e.index, e.offset, e.reason, e.where) for e in errors]


def assert_same_as_read_dataframe(values, errors, paths, definitions):
    rows, bad = expected_rows(paths, definitions)
    assert rows_of(values.drop(columns="offset")) == rows
    assert error_rows(errors) == bad
    # The decoding, framing and table failures of a.bufr, one of b.bufr, and c.bufr holding no message.
    assert len(bad) == 5 and bad[-1][3] == "no BUFR messages found"


@pytest.mark.parametrize("blocksize, memory", [(None, None), (1, None), (400, None), (10**6, None), (None, 1),
                                               (10**6, 200_000)])
def test_threaded_scheduler(archive, definitions, blocksize, memory):
    # 1 byte splits the files at every message; 400 gathers some messages
    # and cuts others; 10**6 gathers the files; 1 byte of rows splits them again.
    frames = sd.read_bufr(archive, definitions=definitions, blocksize=blocksize, partition_memory=memory)
    values, errors = dask.compute(*frames, scheduler="threads")
    assert_same_as_read_dataframe(values, errors, archive, definitions)


@pytest.mark.parametrize("columns", [["value"], ["text", "file", "rank"]])
def test_chosen_columns_in_every_partition(archive, definitions, columns):
    whole, _ = dask.compute(*sd.read_bufr(archive, definitions=definitions, blocksize=400), scheduler="threads")
    frames = sd.read_bufr(archive, definitions=definitions, blocksize=400, columns=columns)
    values, errors = dask.compute(*frames, scheduler="threads")
    assert values.dtypes.astype(str).to_dict() == frames.values.dtypes.astype(str).to_dict()
    assert rows_of(values) == rows_of(whole[list(values.columns)]) and set(values.columns) == set(columns)
    assert len(errors) == 5


def in_asked_order(graph, keys, **_):
    # The keys asked run one after the other, each with what it needs first,
    # whichever order Dask would choose: all the errors before the values, or after.
    tasks, done = dict(graph.__dask_graph__()), {}

    def run(key):
        if isinstance(key, list):
            return [run(k) for k in key]
        if key not in done:
            for needed in tasks[key].dependencies:
                run(needed)
            done[key] = tasks[key](done)
        return done[key]

    return run(list(keys))


SCHEDULERS = {"in_asked_order": in_asked_order}


@pytest.mark.parametrize("read", [
    lambda paths, d: sd.read_bufr(paths, definitions=d),
    lambda paths, d: sd.read_observations(paths, ["blockNumber"], definitions=d, required_columns=False),
])
@pytest.mark.parametrize("scheduler", ["threads", "in_asked_order"])
@pytest.mark.filterwarnings("ignore:no key")  # the test tables name no keys
def test_values_and_errors_together_frame_each_message_once(archive, definitions, read, scheduler):
    found = len(read_headers(archive))
    for pair in (lambda f: f, lambda f: f[::-1]):
        frames = read(archive, definitions)
        before = _native.messages_framed()
        values, errors = pair(dask.compute(*pair(frames), scheduler=SCHEDULERS.get(scheduler, scheduler)))
        assert _native.messages_framed() - before == found
        assert len(errors) == 5 and all(isinstance(e, skyrec.MessageError) for e in errors)


def test_process_scheduler_with_a_filter(archive, definitions):
    values, errors = dask.compute(*sd.read_bufr(archive, definitions=definitions, blocksize=400,
                                                filters={"bufrHeaderCentre": 7}),
                                  scheduler="processes", num_workers=2)
    rows, _ = expected_rows(archive, definitions, keep=lambda f, path: f[f.message.isin(centre_7_messages(path))])
    assert rows_of(values.drop(columns="offset")) == rows
    assert len(values) == 3 * 3 + 3 * 3 * 2 and set(values.file) == set(archive[:2])
    # Only b.bufr's bad message is of centre 7; the unframed one and the empty file are reported regardless.
    assert [(os.path.basename(f), m) for f, m, *_ in error_rows(errors)] == [("a.bufr", 3), ("b.bufr", 3),
                                                                           ("c.bufr", 0)]


def centre_7_messages(path):
    headers = read_headers(path)
    return set(headers.loc[headers.centre == 7, "message"])


def test_distributed_cluster(archive, definitions, cluster):
    frames = sd.read_bufr(archive, definitions=definitions, blocksize=1)
    assert frames.values.npartitions > 2
    values, errors = dask.compute(*frames)
    assert_same_as_read_dataframe(values, errors, archive, definitions)
    # Tables were found and loaded by each worker once, not per task.
    loads = cluster.run(lambda: [source.loads for source in table_cache._SOURCES.values()])
    # One source per worker, which loaded each of the three table keys (centre
    # 98 and 7 with version 38, centre 98 with 37) at most once.
    assert len(loads) == 2 and all(len(counts) <= 1 and sum(counts) <= 3 for counts in loads.values())
    assert sum(sum(counts) for counts in loads.values()) >= 3


def test_headers_then_chosen_messages_on_the_cluster(archive, definitions, cluster):
    headers = sd.read_headers(archive).compute()
    assert rows_of(headers) == [row for path in archive for row in rows_of(read_headers(path, file=path))]
    chosen = headers[(headers.category == 0) & headers.error.isna() & (headers.file == archive[0])]
    values, errors = dask.compute(*sd.read_bufr(headers=chosen, definitions=definitions))
    assert set(values.message) == {0, 2}
    assert [(m, "005001" in e or "wmo/37" in e) for _, m, _, e, _ in error_rows(errors)] == [(1, True), (4, True)]
    rows, _ = expected_rows(archive[:1], definitions, keep=lambda f, path: f[f.message.isin([0, 2])])
    assert rows_of(values.drop(columns="offset")) == rows


def test_nothing_is_read_while_the_graph_is_built(archive, definitions, tmp_path):
    path = tmp_path / "later.bufr"
    path.write_bytes(good(1, "OLD", 0))
    values, errors = sd.read_bufr([str(path)], definitions=definitions)
    headers = sd.read_headers([str(path)])
    path.write_bytes(good(2, "NEW", 1) + good(3, "NEW", 1))
    assert values.compute(scheduler="sync")["text"].dropna().tolist() == ["NEW", "NEW"]
    assert headers.compute(scheduler="sync")["message"].tolist() == [0, 1]
    # The declared dtypes are those computed.
    computed = values.compute(scheduler="sync")
    assert {k: str(v) for k, v in values.dtypes.items()} == {k: str(v) for k, v in computed.dtypes.items()}


def test_paths_and_globs(archive):
    folder = os.path.dirname(archive[0])
    assert sd.expand_paths(os.path.join(folder, "*.bufr")) == sorted(archive)
    assert sd.expand_paths([archive[1], archive[1]]) == [archive[1]] * 2  # listed twice, read twice
    with pytest.raises(FileNotFoundError):
        sd.expand_paths(os.path.join(folder, "*.nothing"))
    with pytest.raises(FileNotFoundError):
        sd.expand_paths([os.path.join(folder, "missing.bufr")])


@pytest.mark.parametrize("arguments, error", [
    ({"tables": "loaded"}, TypeError),
    ({"table_dir": "a", "definitions": "b"}, TypeError),
    ({"paths": None}, TypeError),
    ({"columns": ["value", "size"]}, ValueError),
])
def test_read_bufr_refuses(archive, arguments, error):
    arguments = {"paths": archive, **arguments}
    with pytest.raises(error):
        sd.read_bufr(**arguments)


@pytest.mark.parametrize("blocksize, memory", [(150, None), (None, 100_000)])
def test_file_pieces_cover_each_message_once(archive, blocksize, memory):
    offsets_of = {}
    pieces = sd.file_pieces(archive[0], blocksize, offsets_of, memory)
    headers = read_headers(archive[0])
    assert len(pieces) > 1 and pieces[0][0].start == 0 and pieces[-1][0].end is None
    # Each piece starts where the one before it ends, at a message, numbered as in the file.
    for (piece, _, _), (after, _, _) in zip(pieces, pieces[1:]):
        assert after.start == piece.end and after.start in set(headers.offset)
        assert headers.loc[headers.offset == after.start, "message"].item() == after.first_index
    assert sum(size for _, size, _ in pieces) == os.path.getsize(archive[0])


def test_partitions_of_compressed_data_stay_within_their_memory(tmp_path, definitions):
    from bufrgen import BitWriter, build_message
    from decodekit import column

    # 40 columns of 1000 subsets at a bit a value: 40000 rows from 5 KB,
    # about the densest real data.
    bits = BitWriter()
    for k in range(40):
        column(bits, 7, [k, k + 1] * 500)
    message = build_message([101040, 1001], bits.to_bytes(), subsets=1000, compressed=True, master_version=38)
    path = write_archive(tmp_path / "dense.bufr", [message] * 12)
    memory = 8 << 20
    frames = sd.read_bufr([str(path)], definitions=definitions, partition_memory=memory)
    held = frames.values.map_partitions(lambda f: pd.Series([f.memory_usage(deep=True).sum()])).compute()
    assert len(held) > 1 and held.max() <= memory
    values, errors = dask.compute(*frames, scheduler="threads")
    assert len(values) == 12 * 40000 and errors.tolist() == []
