"""The real corpus read whole, file by file: every message decodes (or fails)
as _skyrec decodes it alone (as edition 4 when it is of edition 2 or 3), and
its subsets and columns say the same values."""

from __future__ import annotations

import math

import pytest

import _skyrec
from bufrgen import edition4_twin
from conftest import corpus_files
from decodekit import as_read, shown_meaning, text_shape
from skyrec import TableSource, read_messages
from skyrec.tables import message_key

np = pytest.importorskip("numpy")

# Larger messages are compared by count and a sample, and only the first
# bytes of larger files are read (a message cut there must come back as an
# error): building millions of Python objects would only make the test slow.
FULL_COMPARE_VALUES = 20000
FILE_PREFIX = 600_000


@pytest.fixture(scope="module")
def source(definitions):
    # One source for the whole corpus: each table version is loaded once.
    return TableSource(root=str(definitions))


def flat_rows(values):
    return [(v.descriptor, v.raw_value, v.raw, v.raw_text, v.raw_meaning, v.name) for v in values]


def shown_rows(values):
    """flat_rows as the package's columns show them."""
    return [(v.descriptor, *as_read(v)[:2], text_shape(as_read(v)[2]), shown_meaning(v), v.name) for v in values]


def column_rows(c, index):
    return [(int(c.descriptor[i]), None if math.isnan(c.value[i]) else float(c.value[i]),
             int(c.raw[i]) if c.raw_present[i] else None,
             text_shape(c.texts[c.text_code[i]]) if c.text_code[i] >= 0 else None,
             c.meanings[c.meaning_code[i]] if c.meaning_code[i] >= 0 else None, c.names[c.element_code[i]])
            for i in index]


@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: p.name)
def test_file_reads_as_its_messages_decode_alone(corpus, source, path):
    data = path.read_bytes()[:FILE_PREFIX]
    by_values = list(read_messages(data if len(data) == FILE_PREFIX else path, tables=source))
    by_columns = list(read_messages(data, tables=source, output="columns"))
    assert [i.offset for i in by_values] == [i.offset for i in by_columns]
    for item, columnar in zip(by_values, by_columns):
        if item.message is None:  # not framed: nothing decodes
            assert not columnar.ok and item.error.reason == columnar.error.reason
            continue
        alone = edition4_twin(data[item.offset:item.offset + item.length], item.message)
        try:
            flat = _skyrec.decode_values_with_tables(alone, source.for_message(item.message))
        except (ValueError, OSError) as e:
            assert not item.ok and not columnar.ok
            # The tables' own DecodeError, or _skyrec's text without its prefix,
            # with what is likely missing when a descriptor is not found.
            reason = getattr(e, "reason", str(e).removeprefix("csv/table parse error: "))
            assert item.error.reason == columnar.error.reason == source.explain(message_key(item.message), reason)
            assert item.error.where == columnar.error.where
            continue
        assert item.ok and columnar.ok, item.error
        assert item.subset_starts == columnar.subset_starts
        assert len(item.subset_starts) == item.message.number_of_subsets
        assert [len(s) for s in item.subsets] == [len(s) for s in columnar.subsets]
        if item.message.compressed_data and item.subset_starts:
            step = len(flat) // len(item.subset_starts)
            assert item.subset_starts == tuple(range(0, len(flat), step))[:len(item.subset_starts)]
        values = [v for s in item.subsets for v in s]
        assert len(values) == len(flat) == len(columnar.columns)
        index = range(len(flat)) if len(flat) <= FULL_COMPARE_VALUES else range(0, len(flat), 97)
        expected = flat_rows([flat[i] for i in index])
        assert flat_rows([values[i] for i in index]) == expected
        assert column_rows(columnar.columns, index) == shown_rows([flat[i] for i in index])
