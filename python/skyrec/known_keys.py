"""The keys that tables know, and what to say of a key they do not: the
closest ones they do know ("did you mean ...?"), so that a mistyped key is
an error rather than an empty answer."""

from __future__ import annotations

import _thread
from collections.abc import Iterable

from _skyrec import BufrMessage, TableSet

# The key the core gives every operator marker, and no other value.
MARKER_KEY = "operator"
# The keys of values that are no Table B entry: markers, 205YYY texts, associated fields.
VALUE_KEYS = frozenset({MARKER_KEY, "text", "associatedField"})
# Table B codes are F=0, X (6 bits), Y (8 bits).
ELEMENT_CODES = range(1 << 14)
_KNOWN: dict[int, tuple[TableSet, frozenset[str]]] = {}  # by id, holding the TableSet so the id stays its own
_LOCK = _thread.allocate_lock()  # _thread: threading itself is not needed here


def table_keys(tables: TableSet) -> frozenset[str]:
    """Every element key (abbreviation) of `tables`, read once per TableSet."""
    with _LOCK:
        known = _KNOWN.get(id(tables))
    if known is not None and known[0] is tables:
        return known[1]
    keys = VALUE_KEYS | {e.abbreviation for code in ELEMENT_CODES
                         if (e := tables.get_element(code)) is not None and e.abbreviation}
    with _LOCK:
        _KNOWN[id(tables)] = (tables, keys)
    return keys


def plain_key(key: str) -> str:
    """`key` without a #rank# before it."""
    return key.rsplit("#", 1)[-1]


def suggestions(key: str, known: Iterable[str], count: int = 3) -> list[str]:
    """The known keys closest to `key`: those that contain it (shortest
    first), then those spelt most alike."""
    known = sorted(set(known))
    lower = key.lower()
    containing = sorted((k for k in known if lower in k.lower() and k != key), key=len)
    import difflib  # only when a key is not known

    alike = difflib.get_close_matches(key, known, n=count, cutoff=0.6)
    return list(dict.fromkeys(containing[:count] + alike))[:count]


def unknown_key_text(key: str, known: Iterable[str], where: str = "the tables of the messages read") -> str:
    """What to say of `key`, which `known` lacks."""
    close = suggestions(plain_key(key), known)
    hint = f" (did you mean {' or '.join(close)}?)" if close else ""
    return f"no key {key!r} in {where}{hint}"


def message_keys(message: BufrMessage, tables: TableSet) -> frozenset[str]:
    """The keys of the elements that `message`'s descriptors expand to, and
    those of values made by operators; none when they cannot be expanded
    (the decoding says why)."""
    try:
        codes = tables.expand(message.unexpanded_descriptors)
    except ValueError:
        return frozenset()
    return VALUE_KEYS | {e.abbreviation for code in set(codes) if (e := tables.get_element(code)) is not None}
