"""What a descriptor is, in a few words: its Table B name and unit, or what a
replication, an operator or a sequence does."""

from __future__ import annotations

from _skyrec import TableSet

ASSOCIATED_FIELD = 999999

# Table C operators by X.
OPERATORS = {
    1: "change data width", 2: "change scale", 3: "change reference values", 4: "add associated field",
    5: "signify character", 6: "signify data width of the next local descriptor",
    7: "increase scale, reference value and data width", 8: "change width of CCITT IA5 field",
    9: "IEEE floating point representation", 21: "data not present", 22: "quality information follows",
    23: "substituted values follow", 24: "first-order statistical values follow",
    25: "difference statistical values follow", 32: "replaced/retained values follow",
    35: "cancel backward data reference", 36: "define data present bit-map", 37: "use defined data present bit-map",
    41: "define event", 42: "define conditioning event", 43: "categorical forecast values follow",
}


def parts(code: int) -> tuple[int, int, int]:
    return code // 100000, code // 1000 % 100, code % 1000


def fxy_text(code: int) -> str:
    f, x, y = parts(code)
    return f"{f}-{x:02d}-{y:03d}"


def describe(tables: TableSet, code: int) -> tuple[str, str]:
    """(name, unit) of a descriptor as the tables have it; the unit is empty
    for all but elements."""
    if code == ASSOCIATED_FIELD:
        return "associated field", ""
    f, x, y = parts(code)
    if f == 0:
        element = tables.get_element(code)
        return (element.name, element.unit) if element is not None else ("(not in Table B)", "")
    if f == 1:
        counted = f"{x} descriptor{'' if x == 1 else 's'}"
        return (f"delayed replication of the next {counted}" if y == 0
                else f"replication of the next {counted}, {y} times"), ""
    if f == 2:
        return f"operator: {OPERATORS.get(x, 'unknown')}", ""
    sequence = tables.get_sequence(code)
    if sequence is None:
        return "(not in Table D)", ""
    return f"sequence of {len(sequence.members)}", ""
