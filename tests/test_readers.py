"""Every reader reports a bad message the same way under both errors=
policies, takes every kind of source and the same filters."""

from __future__ import annotations

import io

import pytest

pytest.importorskip("pandas", reason="the frame readers need pandas (pip install .[pandas])")

import _skyrec  # noqa: E402
import skyrec  # noqa: E402
from blockfiles import bad_decode, bad_frame, good  # noqa: E402
from bufrgen import BitWriter, build_message  # noqa: E402
from decodekit import CODE_TABLES, ELEMENTS  # noqa: E402
from skyrec import DecodeError, _native  # noqa: E402
from skyrec.errors import MessageError  # noqa: E402
from tablegen import Element, write_table_dir  # noqa: E402

KEYED = [Element(1001, "WMO BLOCK NUMBER", width=7, abbreviation="blockNumber"),
         Element(1019, "SITE NAME", "CCITT IA5", width=24, abbreviation="siteName", element_type="string")]
SITE_SEQUENCE = 301250  # (001001, 001019)


@pytest.fixture(scope="module")
def table_dir(tmp_path_factory):
    elements = KEYED + [e for e in ELEMENTS if e.code not in (1001, 1019)]
    return write_table_dir(tmp_path_factory.mktemp("tables"), elements, {SITE_SEQUENCE: [1001, 1019]}, CODE_TABLES)


def _dask(read, *args, **kw):
    dask = pytest.importorskip("dask")
    import skyrec.dask

    values, errors = dask.compute(*getattr(skyrec.dask, read)(*args, **kw), scheduler="sync")
    return errors.tolist(), set(values["message"]) if "message" in values else None


# Each reader as (errors collected, numbers of the messages it read).
def _items(items):
    return [i.error for i in items if i.error], {i.index for i in items if i.ok}


READERS = {
    "messages": lambda src, **kw: _items(list(skyrec.read_messages(src, **kw))),
    "dataframe": lambda src, **kw: (lambda f: (f.attrs["errors"], set(f["message"])))(skyrec.read_dataframe(src, **kw)),
    "observations": lambda src, **kw: (lambda f: (f.attrs["errors"], set(f["blockNumber"])))(
        skyrec.read_observations(src, ["blockNumber"], **kw)),
    "wide": lambda src, **kw: _items(list(skyrec.read_wide(src, **kw))),
    "headers": lambda src, table_dir=None, **kw: (lambda f: (f.attrs["errors"], set(f["message"][f["error"].isna()])))(
        skyrec.read_headers(src, **kw)),
    "dask": lambda src, **kw: _dask("read_bufr", src, **kw),
    "dask_observations": lambda src, **kw: _dask("read_observations", src, ["blockNumber"], **kw),
}
CUT = build_message([1001, 1019], BitWriter().uint(1, 7).to_bytes())  # section 4 ends inside the site name
# Two subsets, section 4 ending inside the second's site name: rows left unequal are no cause of their own.
CUT_LATER = build_message([1001, 1019, 2001], BitWriter().uint(1, 7).text("ONE", 24).uint(0, 2).uint(1, 7).to_bytes(),
                          subsets=2)


def unlike_then_cut() -> bytes:
    """Subsets unlike the first (replications of 0, then 255), then one cut:
    a failure, not a message without a wide table, though the values before
    it are more than the decoder hands on at once."""
    bits = BitWriter().uint(1, 7).uint(0, 8)
    for _ in range(5):
        bits.uint(2, 7).uint(255, 8)
        for _ in range(255):
            bits.text("TWO", 24).uint(0, 2)
    return build_message([1001, 102000, 31001, 1019, 2001], bits.uint(3, 7).uint(1, 8).text("T", 8).to_bytes(),
                         subsets=7)


# Three subsets of the sequence; the third ends inside its site name.
CUT_THIRD = build_message([SITE_SEQUENCE], BitWriter().uint(1, 7).text("ONE", 24).uint(2, 7).text("TWO", 24)
                          .uint(3, 7).to_bytes(), subsets=3)
EDITION_9 = (lambda m: m[:7] + b"\x09" + m[8:])(good(9, "NINE", 0))
# Error paths: (bad message, its kind); None for input without messages.
PATHS = {"framing": (bad_frame(), "bad_terminator"), "edition": (EDITION_9, "unsupported_edition"),
         "tables": (bad_decode(), "element_not_found"),
         "data": (CUT, "bits_exhausted"), "later subset": (CUT_LATER, "bits_exhausted"),
         "unlike subsets": (unlike_then_cut(), "bits_exhausted"), "subset": (CUT_THIRD, "bits_exhausted"),
         "nothing": (None, "no_messages")}
# Where the decoding paths fail: (subset, descriptor path).
PLACES = {"tables": (0, ("005001",)), "data": (0, ("001019",)), "later subset": (1, ("001019",)),
          "unlike subsets": (6, ("102000", "001019")), "subset": (2, (f"{SITE_SEQUENCE}", "001019"))}
DECODING = tuple(PLACES)


def record(error):
    return (type(error).__name__, error.kind, error.index, error.offset, error.reason, error.where, error.file,
            error.subset, error.descriptor_path)


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("reader", READERS)
def test_every_reader_reports_a_bad_message_alike_under_both_policies(table_dir, reader, path):
    if reader == "headers" and path in DECODING:
        pytest.skip("read_headers decodes nothing: only framing fails there")
    bad, kind = PATHS[path]
    first = good(1, "ONE", 0)
    data = b"ZCZC nothing" if bad is None else first + bad + good(2, "TWO", 1)
    read = READERS[reader]
    errors, _ = read(data, table_dir=table_dir)
    expected = next(i.error for i in skyrec.read_messages(data, table_dir=table_dir) if i.error)
    assert [record(e) for e in errors] == [record(expected)]
    assert expected.kind == kind and expected.offset == (0 if bad is None else len(first))
    assert errors[0].tables == ("" if reader == "headers" else expected.tables) and expected.tables
    assert (expected.subset, expected.descriptor_path) == PLACES.get(path, (None, ()))
    with pytest.raises(MessageError) as raised:
        read(data, table_dir=table_dir, errors="raise")
    assert record(raised.value) == record(expected)
    if path in DECODING:  # the native module's own error says the same
        message = _skyrec.parse_bytes(bad)
        with pytest.raises(DecodeError) as native:
            _native.decode_subsets(bad, 0, message, skyrec.find_tables(table_dir=table_dir).for_message(message))
        assert (native.value.kind, native.value.subset, native.value.descriptor_path) == \
               (kind, *PLACES[path])


def sources(tmp_path, data):
    """Each kind of source over two files holding `data`, and how many files it names."""
    for name in ("a.bufr", "b.bufr"):
        (tmp_path / name).write_bytes(data)
    return {"path": (tmp_path / "a.bufr", 1), "directory": (tmp_path, 2), "glob": (str(tmp_path / "*.bufr"), 2),
            "list": ([tmp_path / "a.bufr", str(tmp_path / "b.bufr")], 2), "bytes": (data, 1),
            "stream": (io.BytesIO(data), 1)}


@pytest.mark.parametrize("kind", ["path", "directory", "glob", "list", "bytes", "stream"])
@pytest.mark.parametrize("reader", READERS)
def test_every_reader_takes_every_source(tmp_path, table_dir, reader, kind):
    source, files = sources(tmp_path, good(1, "ONE", 0) + bad_decode() + good(2, "TWO", 1))[kind]
    errors, read = READERS[reader](source, table_dir=table_dir)
    if reader == "headers":
        assert errors == [] and read == {0, 1, 2}
        return
    assert len(errors) == files and all(e.kind == "element_not_found" for e in errors)
    # Dask's frames name the file of every row, so its errors do too.
    named = files > 1 or (reader.startswith("dask") and kind == "path")
    assert [e.file is not None for e in errors] == [named] * files
    assert read is None or read == ({1, 2} if reader == "observations" else {0, 2})


@pytest.mark.parametrize("filters, kept", [({"dataCategory": 2}, {1}), ({"bufrHeaderCentre": [7, 9]}, {0, 2}),
                                           ({"typicalYear": slice(2020, 2023)}, {0, 1}),
                                           ({"numberOfSubsets": lambda n: n > 1}, {2})])
@pytest.mark.parametrize("reader", ["messages", "dataframe", "wide", "headers", "dask"])
def test_every_reader_takes_the_same_filters(table_dir, reader, filters, kept):
    data = (good(1, "ONE", 0, centre=7, year=2021) + good(2, "TWO", 1, category=2, year=2022)
            + good(3, "SIX", 0, centre=9, subsets=2))
    _, read = READERS[reader](data, table_dir=table_dir, filters=filters)
    assert read == kept


@pytest.mark.parametrize("filters, error", [({"airTemperature": 1}, KeyError), ({"dataCategory": slice(1, 2, 1)},
                                                                                ValueError), ([1], TypeError)])
@pytest.mark.parametrize("reader", ["messages", "dataframe", "wide", "headers"])
def test_a_filter_no_reader_can_answer_is_refused(table_dir, reader, filters, error):
    with pytest.raises(error):
        READERS[reader](good(1, "ONE", 0), table_dir=table_dir, filters=filters)


def _block_rows(values, errors):
    return values[["message", "subset"]].values.tolist(), errors


def _messages(items):
    errors, read = _items(list(items))
    return [record(e) for e in errors], read


# The older spellings of one release ago: the same answers, and a DeprecationWarning.
@pytest.mark.parametrize("old, new", [
    (lambda d, t: _messages(skyrec.read_messages(d, table_dir=t, strict=False)),
     lambda d, t: _messages(skyrec.read_messages(d, table_dir=t))),
    (lambda d, t: skyrec.read_block(d, table_dir=t)[1].to_dict("list"),
     lambda d, t: skyrec.blocks.read_block(d, table_dir=t)[1].to_dict("list")),
    (lambda d, t: (lambda v, e: _block_rows(v, e["kind"].tolist()))(
        *skyrec.blocks.read_block(d, table_dir=t, filter={"category": 2})),
     lambda d, t: (lambda f: _block_rows(f, [e.kind for e in f.attrs["errors"]]))(
        skyrec.read_dataframe(d, table_dir=t, filters={"dataCategory": 2}))),
])
def test_older_spellings_still_answer_with_a_warning(table_dir, old, new):
    data = good(1, "ONE", 0) + bad_decode(category=2) + good(2, "TWO", 1, category=2)
    with pytest.warns(DeprecationWarning):
        answer = old(data, table_dir)
    assert answer == new(data, table_dir) and answer


def _dask_call(name, *args):
    def call(source, **kw):
        pytest.importorskip("dask")
        import skyrec.dask

        return getattr(skyrec.dask, name)(source, *args, **kw)
    return call


# Each reader called, not iterated: read_messages and read_wide must check their arguments before reading.
CALLS = {"messages": skyrec.read_messages, "wide": skyrec.read_wide, "dataframe": skyrec.read_dataframe,
         "headers": skyrec.read_headers,
         "observations": lambda s, **kw: skyrec.read_observations(s, ["blockNumber"], **kw),
         "dask": _dask_call("read_bufr"), "dask_observations": _dask_call("read_observations", ["blockNumber"])}
WRONG = {"missing file": ({"source": "MISSING"}, FileNotFoundError, "(source|paths): no such file or directory"),
         "not a source": ({"source": 42}, TypeError, "(source|paths) must be a path, a directory, a glob"),
         "text for a number": ({"filters": {"dataCategory": ["0"]}}, TypeError, "compared with numbers, not '0'"),
         "None for a number": ({"filters": {"dataCategory": None}}, TypeError, "compared with numbers, not None"),
         "filters not a mapping": ({"filters": [("dataCategory", 0)]}, TypeError, "filters must be a mapping"),
         "table_dir not a path": ({"table_dir": 5}, TypeError, "table_dir must be a path")}


@pytest.mark.parametrize("wrong", WRONG)
@pytest.mark.parametrize("reader", CALLS)
def test_a_wrong_argument_is_refused_by_the_call_in_the_same_words(tmp_path, reader, wrong):
    given, error, words = WRONG[wrong]
    if reader == "headers" and "table_dir" in given:
        pytest.skip("read_headers loads no tables")
    kw = {"source": good(1, "ONE", 0), **given}
    source = kw.pop("source")
    with pytest.raises(error, match=words):
        CALLS[reader](tmp_path / "nope.bufr" if source == "MISSING" else source, **kw)


@pytest.mark.parametrize("read", [lambda s: skyrec.read_observations(s, []),
                                  lambda s: skyrec.read_dataframe(s, columns=[]), _dask_call("read_observations", [])])
def test_asking_for_no_column_is_refused_not_an_empty_frame(read):
    with pytest.raises(ValueError, match="columns names no"):
        read(good(1, "ONE", 0))
