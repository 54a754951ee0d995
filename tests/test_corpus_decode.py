"""Every edition 4 message of the real corpus decodes with the ecCodes tables
it names, and its values agree, slot by slot, with the eccodes package used
as a black box; through the package, so does every message of every edition,
and its header fields equal ecCodes' keys. Messages that cannot agree are
listed with their reason."""

from __future__ import annotations

import csv
import math
import re
import shutil
from pathlib import Path

import pytest
from test_editions import HEADER_KEYS, documented, eccodes_header

import _skyrec
from conftest import corpus_dir
from decodekit import text_shape
from skyrec import TableSource, read_messages

eccodes = pytest.importorskip("eccodes", reason="the eccodes package is the cross-check reference")

# Our error for messages that cannot decode here, by file, with the reason.
EXPECTED_FAILURES = {
    # Local descriptors that the installed ecCodes tables lack.
    "ed4.bufr": "descriptor 001212 was not found in Table B",
    "ed4date.bufr": "descriptor 001212 was not found in Table B",
    "simple-generic-group.bufr": "descriptor 007192 was not found in Table B",
    "camse-rad1havg.bufr": "descriptor 001194 was not found in Table B",
    "issue52.bufr": "descriptor 001194 was not found in Table B",
    "generic-bug20140403.bufr": "descriptor 001194 was not found in Table B",
    "issue91-withB33196.bufr": "descriptor 001194 was not found in Table B",
    "dba_truncated-unicode.bufr": "descriptor 001194 was not found in Table B",
    "arpa-station.bufr": "descriptor 001194 was not found in Table B",
    "bug_606474.bufr": "descriptor 002152 was not found in Table B",
    # Broken data that ecCodes cannot decode either.
    "jason2.bufr": "not enough bits",
    "delayed_repetition.bufr": "not enough bits",
    "delayed_repetition_compressed.bufr": "not enough bits",
    "delayed_repl0.bufr": "descriptor 302036 was not found in Table D",
    "030XXX.bufr": "not enough bits",
}
BROKEN_FRAMING = {"corruptBUFR.1", "afl-src01flip1-pos10.bufr", "short1.bufr", "short2.bufr", "short3.bufr",
                  "corrupted.bufr"}
MISSING = -1e100  # ecCodes' missing value


def edition4_files() -> list[str]:
    root = corpus_dir()
    if root is None:
        return []
    with open(root / "MANIFEST.tsv", newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    return [r["file"] for r in rows if r["editions"] == "4" and r["file"] not in BROKEN_FRAMING]


def message_bytes(buffer: bytes) -> list[bytes]:
    """Each message's bytes, found as the multi-message scan finds them."""
    out, pos = [], 0
    while (j := buffer.find(b"BUFR", pos)) >= 0 and j + 8 <= len(buffer):
        n = int.from_bytes(buffer[j + 4 : j + 7], "big")
        out.append(buffer[j : j + n])
        pos = j + max(n, 4)
    return out


class TableCache:
    """ecCodes table directories by (master version, local version, centre,
    sub-centre); a local table directory is merged over its master one."""

    def __init__(self, definitions: Path, scratch: Path):
        self.root = definitions / "bufr" / "tables" / "0"
        self.scratch = scratch
        self.loaded: dict = {}

    def for_message(self, m) -> _skyrec.TableSet | None:
        key = (m.master_tables_version_number, m.local_tables_version_number, m.originating_centre,
               m.originating_subcentre)
        if key not in self.loaded:
            self.loaded[key] = self._load(*key)
        return self.loaded[key]

    def _load(self, master, local, centre, subcentre):
        master_dir = self.root / "wmo" / str(master)
        if not master_dir.is_dir():
            return None
        local_dir = self.root / "local" / str(local) / str(centre) / str(subcentre)
        if local and local_dir.is_dir():
            try:
                return _skyrec.TableSet.from_eccodes(str(self._merge(master_dir, local_dir)))
            except ValueError:
                pass  # a local table that the element-table reader refuses
        return _skyrec.TableSet.from_eccodes(str(master_dir))

    def _merge(self, master: Path, local: Path) -> Path:
        out = self.scratch / f"{master.name}-{'-'.join(local.parts[-3:])}"
        (out / "codetables").mkdir(parents=True, exist_ok=True)

        def text(p: Path) -> str:
            return p.read_text() if p.is_file() else ""

        local_rows = [line for line in text(local / "element.table").splitlines() if line and line[0] != "#"]
        (out / "element.table").write_text(text(master / "element.table") + "".join(r + "\n" for r in local_rows))
        (out / "sequence.def").write_text(text(master / "sequence.def") + "\n" + text(local / "sequence.def"))
        for source in (master / "codetables", local / "codetables"):
            if source.is_dir():
                for f in source.iterdir():
                    shutil.copyfile(f, out / "codetables" / f.name)
        return out


@pytest.fixture(scope="module")
def table_cache(definitions, tmp_path_factory):
    return TableCache(definitions, tmp_path_factory.mktemp("merged-tables"))


def eccodes_values(msg: bytes) -> tuple[list[float], list[str]]:
    h = eccodes.codes_new_from_message(msg)
    try:
        eccodes.codes_set(h, "unpack", 1)
        numbers = list(eccodes.codes_get_array(h, "numericValues"))
        try:
            texts = list(eccodes.codes_get_array(h, "stringValues"))
        except eccodes.CodesInternalError:
            texts = []
        return numbers, texts
    finally:
        eccodes.codes_release(h)


def our_slot(v, theirs: float) -> float:
    if v.raw_value is None:
        return MISSING
    # A class 31 field of all ones is a value here and missing in ecCodes.
    if theirs == MISSING and v.descriptor // 1000 % 100 == 31 and v.raw is not None and v.raw & (v.raw + 1) == 0:
        return MISSING
    return v.raw_value


def comparable_text(text: str) -> str:
    # Bytes above 0x7F read as "?" here; NUL padding stays here.
    return "".join(c if ord(c) < 128 else "?" for c in text).rstrip("\0 ")


def check_message(msg: bytes, tables, where: str, decode=_skyrec.decode_values_with_tables, every: int = 1) -> None:
    """Compares every value, or every `every`-th one."""
    ours = decode(msg, tables)
    numbers, texts = eccodes_values(msg)
    assert len(ours) == len(numbers), where
    ours, numbers = ours[::every], numbers[::every]
    for i, (v, theirs) in enumerate(zip(ours, numbers)):
        mine = our_slot(v, theirs)
        # The two scale differently: equal to within the last bits of a double.
        assert mine == theirs or math.isclose(mine, theirs, rel_tol=1e-12), f"{where} slot {i}: {v} != {theirs}"
    mine_texts = {comparable_text(v.raw_text) for v in ours if v.raw_text is not None}
    their_texts = {comparable_text(t) for t in texts if t}
    assert mine_texts - their_texts <= {"", "?"}, where


def check_shown(columns, msg: bytes, where: str, every: int) -> None:
    """The package's own outputs against ecCodes with no allowance for an
    all-ones 031021 (missing in both) or a byte above 0x7F (texts compared by
    shape, as ecCodes gives U+FFFD for each byte it cannot read). A text of
    0xFF bytes before NUL padding is missing to ecCodes, a text here."""
    numbers, texts = eccodes_values(msg)
    for i in range(0, len(numbers), every):
        if columns.raw_present[i]:  # texts and markers have no number here
            mine = MISSING if math.isnan(columns.value[i]) else float(columns.value[i])
            assert mine == numbers[i] or math.isclose(mine, numbers[i], rel_tol=1e-12), f"{where} slot {i}"
    mine = {text_shape(t) for t in columns.texts if t.strip("\xff")}
    assert mine - {text_shape(t.rstrip("\0 ")) for t in texts} <= {""}, where


@pytest.mark.compares_corpus
@pytest.mark.parametrize("name", edition4_files() or ["no-corpus"])
def test_corpus_file_decodes_like_eccodes(name, corpus, table_cache):
    data = (corpus / name).read_bytes()
    messages = message_bytes(data)
    assert messages
    for k, msg in enumerate(messages):
        record = _skyrec.parse_bytes(msg)
        tables = table_cache.for_message(record)
        if tables is None:
            pytest.skip(f"no ecCodes tables for master version {record.master_tables_version_number}")
        if name in EXPECTED_FAILURES:
            with pytest.raises(ValueError, match=EXPECTED_FAILURES[name]):
                _skyrec.decode_values_with_tables(msg, tables)
            return
        check_message(msg, tables, f"{name} message {k}")


@pytest.mark.compares_corpus
@pytest.mark.parametrize("name", edition4_files() or ["no-corpus"])
def test_corpus_file_decodes_with_definitions_root(name, corpus, definitions):
    data = (corpus / name).read_bytes()
    for k, msg in enumerate(message_bytes(data)):
        record = _skyrec.parse_bytes(msg)
        master = definitions / "bufr" / "tables" / str(record.master_table_number) / "wmo"
        if not (master / str(record.master_tables_version_number)).exists():
            with pytest.raises(ValueError, match="ecCodes table directory does not exist"):
                _skyrec.decode_values_with_definitions(msg, str(definitions))
            return
        expected = EXPECTED_FAILURES.get(name)
        if expected:
            with pytest.raises(ValueError, match=expected):
                _skyrec.decode_values_with_definitions(msg, str(definitions))
            return
        check_message(msg, str(definitions), f"{name} message {k}", _skyrec.decode_values_with_definitions)


# Messages that the package cannot decode with Debian's tree, by file: our
# error for each failing message of the file (the file's other messages are
# checked). Editions 2 and 3 included.
PACKAGE_FAILURES = {
    **EXPECTED_FAILURES,
    # Editions 2 and 3 that ecCodes cannot decode either: sequences or
    # elements of local tables that no installed table holds.
    "ed2radar.bufr": "descriptor 321193 was not found in Table D",  # edition 2
    "isaa41_cyul.bufr": "descriptor 001204 was not found in Table B",  # edition 2
    "prepbufr.bufr": "descriptor 063000 was not found in Table B",  # edition 3, messages 2 to 12 (NCEP)
    # Message 0 (edition 3) lacks a local sequence; message 2 (edition 4) is cut short.
    "multi_invalid_messages.bufr": "descriptor 301195 was not found in Table D|not enough bits",
    # Broken framing: ecCodes reads no data from them.
    "afl-src01flip1-pos10.bufr": "section 3 at offset 14 is truncated",
    "afl-src4824splice-rep8.bufr": "section 5 terminator is not 7777",
    "bad-edition.bufr": "unsupported BUFR edition 102",
    "corruptBUFR.1": "section 5 terminator is not 7777",
    "isaa51_cxto_broken.bufr": "section 4 at offset 170 is truncated",  # edition 2
    "short1.bufr": "message is too short to be BUFR",
    # "BUFR" followed by no plausible section 0 ("BUFR7777", "BUFR//7//"): no message at all.
    "short2.bufr": "no BUFR messages found",
    "corrupted.bufr": "no BUFR messages found",
    "short3.bufr": r"declared length \d+, only \d+ bytes left",
}
# Messages that decode here with other values than ecCodes gives, and why.
PACKAGE_DIFFERENCES: dict[str, str] = {}  # none left


# Messages with more values are compared at a stride of 97: comparing
# millions of values one by one in Python would only make the test slow.
FULL_COMPARE_VALUES = 20000


def corpus_files() -> list[str]:
    root = corpus_dir()
    return sorted(p.name for p in root.iterdir() if p.suffix not in (".tsv", ".md")) if root else []


@pytest.fixture(scope="module")
def package_source(definitions):
    return TableSource(root=str(definitions))


@pytest.mark.compares_corpus
@pytest.mark.parametrize("name", corpus_files() or ["no-corpus"])
def test_every_message_reads_through_the_package_like_eccodes(name, corpus, package_source):
    data = (corpus / name).read_bytes()
    failure, difference = PACKAGE_FAILURES.get(name), PACKAGE_DIFFERENCES.get(name)
    failed = differed = 0
    for item in read_messages(data, tables=package_source):
        msg = data[item.offset : item.offset + item.length]
        where = f"{name} message {item.index}"
        if item.message is not None:
            ours = {k: int(getattr(item.message, a)) for k, a in HEADER_KEYS.items()}
            assert ours == documented(eccodes_header(msg)), where
        if not item.ok:
            assert failure and re.search(failure, item.error.reason), f"{where}: {item.error.reason}"
            failed += 1
            continue
        every = 1 if len(item.values) <= FULL_COMPARE_VALUES else 97
        try:
            check_message(msg, None, where, lambda *_, values=item.values: values, every)
            (shown,) = read_messages(msg, tables=package_source, output="columns")
            check_shown(shown.columns, msg, where, every)
        except AssertionError:
            if not difference:
                raise
            differed += 1
    # A listed file that reads and agrees in full must leave its list.
    assert (failed > 0) == bool(failure) and (differed > 0) == bool(difference), name
