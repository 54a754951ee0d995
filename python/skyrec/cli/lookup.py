"""skyrec lookup: a descriptor's Table B entry and code table, or its Table D members."""

from __future__ import annotations

import argparse
from collections.abc import Iterator
from functools import lru_cache

from _skyrec import ElementDefinition, TableSet

from .. import bundle
from .describe import describe, fxy_text, parts
from .options import (
    DESCRIPTOR_FORMS,
    UsageError,
    add_command,
    add_table_options,
    bundled_master,
    descriptor,
    lookup_tables,
)
from .output import aligned_lines, code_text, terminal_text
from .session import Session

HELP = "show a descriptor's Table B entry and code table, or its Table D members"
EXAMPLES = f"""\
examples:
  skyrec lookup --tables examples/tables 020003
  skyrec lookup 3-01-011                             # the newest WMO tables found
  skyrec lookup --master-version 13 012001
  skyrec lookup --like obs.bufr 0-01-033

Descriptors are written {DESCRIPTOR_FORMS}. A descriptor that the tables do
not have is reported on stderr (exit status 1).
"""

# Code tables are listed by asking for every value up to this many bits wide.
LISTED_BITS = 16


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = add_command(commands, "lookup", HELP, EXAMPLES, run)
    parser.add_argument("descriptors", nargs="+", metavar="DESCRIPTOR", type=descriptor)
    add_table_options(parser, versions=True)


def code_table(tables: TableSet, element: ElementDefinition) -> list[tuple[int, str]]:
    entries = []
    for raw in range(1 << min(element.width, LISTED_BITS)):
        meaning = tables.get_meaning(element.code, raw)
        if meaning is not None:
            entries.append((raw, meaning))
    return entries


@lru_cache(maxsize=1)
def newest_bundled() -> TableSet | None:
    try:
        return bundled_master(None)[0] if bundle.available() else None
    except UsageError:
        return None


def key_text(element: ElementDefinition) -> str:
    """The element's ecCodes key; for tables without keys (WMO's CSV), the
    key that the newest bundled master tables give the same descriptor."""
    if element.abbreviation:
        return element.abbreviation
    bundled = newest_bundled()
    known = bundled.get_element(element.code) if bundled is not None else None
    return f"{known.abbreviation} (from the tables bundled with skyrec)" if known and known.abbreviation else ""


def element_lines(tables: TableSet, element: ElementDefinition) -> Iterator[str]:
    yield from aligned_lines([("unit", element.unit), ("scale", str(element.scale)),
                              ("reference", str(element.reference)), ("width", str(element.width)),
                              ("type", element.element_type), ("key", key_text(element))], indent="  ")
    entries = code_table(tables, element)
    if entries:
        flags = "flag" in element.unit.lower()  # keyed by bit number
        cut = f" (values below {1 << LISTED_BITS})" if element.width > LISTED_BITS and not flags else ""
        yield f"  {'flag' if flags else 'code'} table{cut}:"
        yield from aligned_lines([(str(raw), meaning) for raw, meaning in entries], indent="    ")


def lines(tables: TableSet, code: int) -> list[str] | None:
    """What the tables say of `code`; None when they do not have it."""
    f = parts(code)[0]
    name, _ = describe(tables, code)
    title = f"{code_text(code)} ({fxy_text(code)})  {terminal_text(name)}"
    if f == 0:
        element = tables.get_element(code)
        return None if element is None else [title, *element_lines(tables, element)]
    if f == 3:
        sequence = tables.get_sequence(code)
        if sequence is None:
            return None
        rows = [(code_text(member), *describe(tables, member)) for member in sequence.members]
        return [title, *aligned_lines(rows, indent="  ")]
    return [title]


def run(args: argparse.Namespace, session: Session) -> int:
    tables, origin = lookup_tables(args)
    for code in args.descriptors:
        found = lines(tables, code)
        if found is None:
            session.fail(f"{code_text(code)} is not in the tables ({origin})")
            continue
        for line in found:
            session.out.write(line + "\n")
    session.out.write(f"tables: {origin}\n")
    return session.status
