"""Makes the fuzz table directory and a small seed corpus for every fuzz
target, with the test suite's message and table builders.

    python fuzz/make_seeds.py OUT        # writes OUT/tables and OUT/seeds/<target>/

The decoding and expansion targets run against OUT/tables (over the newest
WMO tables of an installed ecCodes tree); their seeds use its descriptors.
Real messages are not copied here: give ../shared/corpus/real to the
decoding, framing and scanning targets as a further corpus directory.
"""

from __future__ import annotations

import random
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

from bufrgen import BitWriter, build_message  # noqa: E402
from tablegen import Element, element_row, element_table_text, sequence_def_text, write_table_dir  # noqa: E402

NUMBER, TEXT, CODE, WIDE, EMPTY, EMPTY_TEXT, SCALED, FLAGS, TOO_WIDE, LONG_TEXT = range(63192, 63202)

ELEMENTS = [
    Element(NUMBER, "NUMBER", "K", scale=1, reference=-400, width=12, abbreviation="fuzzNumber"),
    Element(TEXT, "TEXT", "CCITT IA5", width=48, abbreviation="fuzzText"),
    Element(CODE, "CODE", "CODE TABLE", width=4, abbreviation="fuzzCode"),
    Element(WIDE, "WIDE", "Numeric", width=64),
    Element(EMPTY, "EMPTY", "Numeric", width=0),
    Element(EMPTY_TEXT, "EMPTY TEXT", "CCITT IA5", width=0),
    Element(SCALED, "SCALED", "Pa", scale=-3, reference=-(1 << 63), width=33),
    Element(FLAGS, "FLAGS", "FLAG TABLE", scale=-2147483648, width=9),
    Element(TOO_WIDE, "TOO WIDE", "Numeric", scale=2147483647, width=65535),
    Element(LONG_TEXT, "LONG TEXT", "CCITT IA5", width=65535),
    # The replication factors and bitmap elements, as the WMO tables have them.
    Element(31000, "SHORT DELAYED DESCRIPTOR REPLICATION FACTOR", "Numeric", width=1),
    Element(31001, "DELAYED DESCRIPTOR REPLICATION FACTOR", "Numeric", width=8),
    Element(31002, "EXTENDED DELAYED DESCRIPTOR REPLICATION FACTOR", "Numeric", width=16),
    Element(31021, "ASSOCIATED FIELD SIGNIFICANCE", "CODE TABLE", width=6),
    Element(31031, "DATA PRESENT INDICATOR", "FLAG TABLE", width=1),
]

PLAIN, SELF, MUTUAL_A, MUTUAL_B, EMPTY_SEQUENCE, DELAYED, STEPS, OPERATORS, BITMAP = range(363192, 363201)
CHAIN = list(range(362191, 362256))  # 65 sequences, each holding the next: from the first, one too deep

SEQUENCES = {
    PLAIN: [NUMBER, TEXT, CODE],
    SELF: [SELF],
    MUTUAL_A: [MUTUAL_B, NUMBER],
    MUTUAL_B: [MUTUAL_A],
    EMPTY_SEQUENCE: [],
    DELAYED: [101000, 31001, EMPTY],
    STEPS: [103255, 102255, 101255, EMPTY_SEQUENCE],
    OPERATORS: [201129, NUMBER, 201000, 202130, NUMBER, 202000, 207003, NUMBER, 207000, 208010, TEXT, 208000,
                206020, NUMBER, 204008, 31021, NUMBER, 204000, 205003, 203014, 221002, NUMBER, WIDE],
    BITMAP: [NUMBER, CODE, FLAGS, 222000, 236000, 101003, 31031, 223000, 223255, 223255, 237000, 223255,
             225255, 235000, 224000, 101002, 31031, 224255, 232000, 232255, 237255],
    **{code: [following] for code, following in zip(CHAIN, CHAIN[1:])},
    CHAIN[-1]: [NUMBER],
}

CODE_TABLES = {CODE: {0: "ZERO", 1: "ONE", 15: "ALL ONES"}, FLAGS: {1: "FIRST", 256: "LAST"}}


def data(n: int, seed: int) -> bytes:
    rng = random.Random(seed)
    return bytes(rng.randrange(256) for _ in range(n))


def messages() -> dict[str, bytes]:
    plain = BitWriter().uint(2731, 12).text("ABCDEF", 48).uint(1, 4)
    compressed_plain = (BitWriter().uint(2700, 12).uint(2, 6).uint(0, 2).uint(1, 2).uint(3, 2)
                        .text("ABCDEF", 48).uint(0, 6).uint(0, 4).uint(1, 6).uint(0, 1).uint(1, 1).uint(1, 1))
    found = {
        "plain": build_message([PLAIN], plain.to_bytes()),
        "plain_compressed": build_message([PLAIN], compressed_plain.to_bytes(), subsets=3, compressed=True),
        "two_subsets": build_message([NUMBER, TEXT], data(20, 1), subsets=2),
        "operators": build_message([OPERATORS], data(96, 2)),
        "operators_compressed": build_message([OPERATORS], bytes(160), subsets=4, compressed=True),
        "bitmap": build_message([BITMAP], bytes(48)),
        "bitmap_compressed": build_message([BITMAP], bytes(128), subsets=2, compressed=True),
        "delayed": build_message([DELAYED, 104000, 31002, 102000, 31000, NUMBER, TEXT],
                                 BitWriter().uint(3, 8).uint(2, 16).uint(1, 1).to_bytes() + data(30, 3)),
        "delayed_compressed": build_message([101000, 31001, NUMBER], BitWriter().uint(2, 8).uint(0, 6).to_bytes()
                                            + bytes(8), subsets=3, compressed=True),
        "chain": build_message([CHAIN[1]], data(2, 4)),
        "too_deep": build_message([CHAIN[0]], data(2, 5)),
        "self": build_message([SELF], b""),
        "mutual": build_message([MUTUAL_A], data(16, 6)),
        "steps": build_message([STEPS], b""),
        "wide": build_message([WIDE, SCALED, FLAGS, EMPTY, EMPTY_TEXT], data(16, 7)),
        "too_wide": build_message([TOO_WIDE], data(64, 8)),
        "long_text": build_message([LONG_TEXT, 101000, 31001, LONG_TEXT], data(8192 * 3, 8)),
        "section2": build_message([NUMBER], data(2, 9), section2=b"local data", section3_pad=b"\0"),
        "edition3": build_message([NUMBER, TEXT], data(20, 10), subsets=2, edition=3, section2=b"local"),
        "edition2": build_message([PLAIN], plain.to_bytes(), edition=2),
        "no_subsets": build_message([NUMBER, TEXT], b"", subsets=0),
        "many_subsets": build_message([101000, 31002, EMPTY], BitWriter().uint(300, 16).uint(0, 6).to_bytes()
                                      + bytes(300), subsets=65535, compressed=True),
    }
    return found


def scan_inputs(found: dict[str, bytes]) -> dict[str, bytes]:
    one, two = found["plain"], found["two_subsets"]
    return {
        "one": one,
        "junk_between": b"junk" + one + b"\r\r\n" + two + b"\0" * 7,
        "gts_envelope": b"\x01\r\r\n123\r\r\nISMD01 EDZW 041200\r\r\n" + one + b"\r\r\n\x03",
        "record_markers": len(one).to_bytes(4, "little") + one + len(one).to_bytes(4, "little"),
        "zero_length": b"BUFR\0\0\0\x04" + one,
        "truncated_second": one + b"BUFR\0\x10\0\x04",
        "markers": b"BUFR" * 64,
        "editions_mixed": found["edition3"] + b"\r\r\n" + one + found["edition2"],
    }


def observation_inputs(found: dict[str, bytes]) -> dict[str, bytes]:
    """Compressed messages, each with a last byte choosing ranks (2 bits a key) and a range (the top bit)."""
    levels = BitWriter().text("STATION", 48).uint(0, 6).uint(3, 8).uint(0, 6)
    for level in range(3):
        levels.uint(2000 + level, 12).uint(2, 6).uint(0, 2).uint(3, 2).uint(level % 4, 4).uint(0, 6)
    inputs = {"levels": build_message([TEXT, 102000, 31001, NUMBER, CODE], levels.to_bytes(), subsets=2,
                                      compressed=True)}
    inputs.update({name: found[name] for name in found if name.endswith("_compressed") or name == "many_subsets"})
    return {f"{name}_{control:02x}": data + bytes([control]) for name, data in inputs.items()
            for control in (0x00, 0x06, 0x81, 0xe4)}


def pairs(codes: list[int]) -> bytes:
    return b"".join((((c // 100000) << 14) | (((c // 1000) % 100) << 8) | (c % 1000)).to_bytes(2, "big")
                    for c in codes)


def expand_inputs() -> dict[str, bytes]:
    return {
        "plain": pairs([PLAIN, NUMBER]),
        "operators": pairs([OPERATORS]),
        "bitmap": pairs([BITMAP]),
        "replications": pairs([102003, NUMBER, TEXT, 101000, 31001, NUMBER, 103000, 31002, 102002, CODE, FLAGS]),
        "nested": pairs([103255, 102255, 101255, NUMBER]),
        "associated": pairs([204008, 31021, NUMBER, PLAIN, 204000, NUMBER]),
        "chain": pairs([CHAIN[1]]),
        "too_deep": pairs([CHAIN[0]]),
        "self": pairs([SELF]),
        "wmo": pairs([307080, 301150, 309052, 310008]),
    }


def element_table_inputs() -> dict[str, bytes]:
    text = element_table_text(ELEMENTS)
    row = element_row(ELEMENTS[0])
    return {
        "tables": text.encode(),
        "crlf_bom": b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode(),
        "quoted": ('"063192"|"a|b"|long|"NAME ""QUOTED"""|K|1|-400|12\n' + row + "\n").encode(),
        "short_rows": b"1|2|3|4|5|6|7\n8|9|10|11|12|13|14\n",
        "field_counts": (row + "\n" + row + "|extra\n").encode(),
        "bad_numbers": b"001001|a|long|N|U| 0|x|70000|N|0|0\n",
        "not_utf8": (row + "\n").encode().replace(b"NUMBER", b"NUM\xffBER"),
        "no_end": row.encode(),
    }


B_HEADER = "ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,BUFR_DataWidth_Bits"
CODE_FLAG_HEADER = ("FXY,ElementName_en,CodeFigure,EntryName_en,EntryName_sub1_en,EntryName_sub2_en,Note_en,noteIDs,"
                    "Status")
D_HEADER = "Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2,ElementName_en"


def wmo_csv_inputs() -> dict[str, bytes]:
    # First byte odd: a Table D file; even from 0x80: a code and flag table file; else a Table B file.
    b_rows = [B_HEADER, '12,Temperature,012101,"TEMPERATURE, AIR",K,2,0,16',
              "01,Identification,001015,STATION NAME,CCITT IA5,0,0,160", "31,Replication,031002,FACTOR,Numeric,0,0,16"]
    d_rows = [D_HEADER, "01,Location,301011,Date,,004001,Year", "01,Location,301011,Date,,004002,Month",
              "01,Location,301012,Time,,004004,Hour", "01,Location,301011,Date,,004003,Day"]
    return {
        "table_b": b"\0" + "\n".join(b_rows).encode(),
        "table_b_crlf": b"\2" + "\r\n".join(b_rows).encode() + b"\r\n",
        "table_b_quoted": b"\4" + (B_HEADER + '\n1,"multi\nline",001001,"a ""b""",Code table,0,-1,7\n').encode(),
        "table_b_short_header": b"\6a,b,c\n1,2,3\n",
        "table_d": b"\1" + "\n".join(d_rows).encode(),
        "table_d_bad_member": b"\3" + (D_HEADER + "\n01,x,301011,t,,,e\n").encode(),
        "code_flag": b"\x80" + (CODE_FLAG_HEADER + "\n002001,Station,0,Automatic,,,,,x\n002001,Station,1-3,"
                                "Reserved,,,,,x\n002002,Wind,1,\"Certified\ninstruments\",,,,,x\n").encode(),
    }


def sequence_def_inputs() -> dict[str, bytes]:
    return {
        "tables": sequence_def_text({k: v for k, v in SEQUENCES.items() if k not in CHAIN}).encode(),
        "multi_line": b'"301011" = [ 004001,\n  004002,\n  004003 ]\n# comment\n301012=[004004]',
        "two_per_line": b"301011 = [1] 301012 = [2]\n",
        "missing_brackets": b"301011 = 004001 ]\n",
        "reversed_brackets": b"301011 = ] 004001 [\n",
        "empty_members": b'"301011" = [ , ,, ]\r\n',
        "bad_member": b"301011 = [ 00x001 ]\n",
        "not_utf8": b"301011 = [ 004001 ] \xff\n",
    }


def code_table_inputs() -> dict[str, bytes]:
    return {
        "table": b"0 0 ANTARCTICA\n1 1 AFRICA AND  WESTERN   ASIA\n# note\n  7 7 REGION VII\n",
        "flags": b"1 1 FIRST\r\n2 2 SECOND\r\n4 4 THIRD\r\n",
        "short_lines": b"x y\n1\n\n",
        "bad_key": b"1a 1 BAD\n",
        "big_key": b"18446744073709551616 0 TOO BIG\n+5 5 PLUS\n",
        "not_utf8": b"1 1 \xff\n",
    }


def write_all(out: Path, name: str, inputs: dict[str, bytes]) -> None:
    directory = out / "seeds" / name
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    for key, content in inputs.items():
        (directory / key).write_bytes(content)


def main(out: Path) -> None:
    shutil.rmtree(out / "tables", ignore_errors=True)
    write_table_dir(out / "tables", ELEMENTS, SEQUENCES, CODE_TABLES)
    found = messages()
    write_all(out, "decode", found)
    write_all(out, "frame", found)
    write_all(out, "observations", observation_inputs(found))
    write_all(out, "scan", scan_inputs(found))
    write_all(out, "cursor", scan_inputs(found))
    write_all(out, "expand", expand_inputs())
    write_all(out, "element_table", element_table_inputs())
    write_all(out, "wmo_csv", wmo_csv_inputs())
    write_all(out, "sequence_def", sequence_def_inputs())
    write_all(out, "code_table", code_table_inputs())


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} OUT")
    main(Path(sys.argv[1]))
