"""The debug form of strings, as reprs and error texts show them."""

import re
import sys
import unicodedata
from pathlib import Path

import pytest

from _skyrec import TableSet
from tablegen import write_table_dir

ROOT = Path(__file__).resolve().parent.parent
GENERATED = ROOT / "src" / "base" / "unicode_escapes.cpp"


def reprs_of_names(tmp_path, names):
    """repr() of elements named `names`, loaded from an element.table."""
    rows = []
    for i, name in enumerate(names):
        quoted = '"' + name.replace('"', '""') + '"'  # quoted, so any character may stand in a name
        rows.append(f"{i + 1:06d}|a|long|{quoted}|K|0|0|8")
    root = write_table_dir(tmp_path / "t", element_table="\n".join(rows))
    tables = TableSet.from_eccodes(root)
    return [repr(tables.get_element(i + 1)) for i in range(len(names))]


def shown_name(text):
    return re.fullmatch(r"ElementDefinition\(\d{6}, name=(.*)\)", text, re.S).group(1)


@pytest.mark.parametrize("name, shown", [
    ("TEMPERATURE", '"TEMPERATURE"'),
    ('SAY "HI"', '"SAY \\"HI\\""'),
    ("IT'S", '"IT\'S"'),
    ("A\\B", '"A\\\\B"'),
    ("\t\r\n\0", '"\\t\\r\\n\\0"'),
    ("\x1b[0m\x7f\x01", '"\\u{1b}[0m\\u{7f}\\u{1}"'),
    ("\x85\x9f", '"\\u{85}\\u{9f}"'),                          # C1 controls
    ("a\u00a0b\u3000c d", '"a\\u{a0}b\\u{3000}c d"'),           # spaces other than the blank
    ("soft\u00adhyphen\u200b\u2028\ufeff", '"soft\\u{ad}hyphen\\u{200b}\\u{2028}\\u{feff}"'),
    ("e\u0301 \u0903 \u20dd", '"e\\u{301} \\u{903} \\u{20dd}"'),  # combining marks: Mn, Mc, Me
    ("\ue000\U0010ffff\u0378", '"\\u{e000}\\u{10ffff}\\u{378}"'),  # private use, unassigned
    ("\u00e9\u00b0C \U0001f600 \u4e2d \u0416", '"\u00e9\u00b0C \U0001f600 \u4e2d \u0416"'),
    ("", '""'),
])
def test_debug_form(tmp_path, name, shown):
    assert shown_name(reprs_of_names(tmp_path, [name])[0]) == shown


def reference_debug(text):
    out = []
    for ch in text:
        special = {"\\": "\\\\", '"': '\\"', "\t": "\\t", "\r": "\\r", "\n": "\\n", "\0": "\\0"}
        if ch in special:
            out.append(special[ch])
        elif not ch.isprintable() or unicodedata.category(ch).startswith("M"):
            out.append(f"\\u{{{ord(ch):x}}}")
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def test_every_assigned_character_agrees_with_unicodedata(tmp_path):
    # Characters unassigned in this interpreter's Unicode version may be
    # assigned in the newer one the table was generated from: left out.
    chars = [chr(cp) for cp in range(sys.maxunicode + 1)
             if not 0xD800 <= cp <= 0xDFFF and unicodedata.category(chr(cp)) != "Cn"]
    names = ["".join(chars[i:i + 2000]) for i in range(0, len(chars), 2000)]
    shown = [shown_name(r) for r in reprs_of_names(tmp_path, names)]
    for name, got in zip(names, shown):
        if got != reference_debug(name):
            wrong = [ch for ch in name if shown_name(reprs_of_names(tmp_path, [ch])[0]) != reference_debug(ch)]
            pytest.fail("characters shown differently: " + ", ".join(f"U+{ord(c):04X}" for c in wrong[:20]))


def test_generated_table_is_current():
    version = re.search(r"Unicode (\d+\.\d+\.\d+)", GENERATED.read_text()).group(1)
    if version != unicodedata.unidata_version:
        pytest.skip(f"the table was generated from Unicode {version}; this Python has "
                    f"{unicodedata.unidata_version}")
    sys.path.insert(0, str(ROOT / "tools"))
    import gen_unicode_escapes

    assert gen_unicode_escapes.render(gen_unicode_escapes.boundaries()) == GENERATED.read_text()
