"""Section 1 of a message to write, by ecCodes' key names as read_headers
gives them: a mapping over the fields of a message read (or the defaults
below), into the tuple skyrec._native's writers take."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

from _skyrec import BufrMessage

from . import _native

__all__ = ["DEFAULT_HEADER", "HEADER_FIELDS", "TableKey", "header_fields", "header_message", "message_key"]

# What picks a message's tables: master table, master and local versions, centre and sub-centre.
TableKey = tuple[int, int, int, int, int]


def message_key(message: BufrMessage) -> TableKey:
    """What picks a message's tables out of a definitions tree."""
    return (message.master_table_number, message.master_tables_version_number,
            message.local_tables_version_number, message.originating_centre, message.originating_subcentre)


# ecCodes' key and the BufrMessage attribute of each field, in the writers' order.
HEADER_FIELDS = (
    ("edition", "edition"), ("masterTableNumber", "master_table_number"),
    ("bufrHeaderCentre", "originating_centre"), ("bufrHeaderSubCentre", "originating_subcentre"),
    ("updateSequenceNumber", "update_sequence_number"), ("dataCategory", "data_category"),
    ("internationalDataSubCategory", "international_data_subcategory"),
    ("dataSubCategory", "local_data_subcategory"), ("masterTablesVersionNumber", "master_tables_version_number"),
    ("localTablesVersionNumber", "local_tables_version_number"), ("typicalYear", "typical_year"),
    ("typicalMonth", "typical_month"), ("typicalDay", "typical_day"), ("typicalHour", "typical_hour"),
    ("typicalMinute", "typical_minute"), ("typicalSecond", "typical_second"), ("observedData", "observed_data"),
    ("compressedData", "compressed_data"),
)
KEYS = tuple(key for key, _ in HEADER_FIELDS)
# A message made from scratch: edition 4, WMO master tables 39, no local tables.
DEFAULT_HEADER: dict[str, int] = {
    "edition": 4, "masterTableNumber": 0, "bufrHeaderCentre": 0, "bufrHeaderSubCentre": 0,
    "updateSequenceNumber": 0, "dataCategory": 0, "internationalDataSubCategory": 255, "dataSubCategory": 0,
    "masterTablesVersionNumber": 39, "localTablesVersionNumber": 0, "typicalYear": 2000, "typicalMonth": 1,
    "typicalDay": 1, "typicalHour": 0, "typicalMinute": 0, "typicalSecond": 0, "observedData": 1,
    "compressedData": 0,
}
EXTRA_KEYS = ("typicalDate", "typicalTime", "section2")


def of_message(message: BufrMessage) -> dict[str, int]:
    return {key: int(getattr(message, attr)) for key, attr in HEADER_FIELDS}


def header_keys(message: BufrMessage) -> dict[str, int]:
    """Every header key of a message read: its fields, numberOfSubsets, and
    typicalDate and typicalTime as the numbers YYYYMMDD and HHMMSS."""
    m = message
    return of_message(m) | {
        "numberOfSubsets": m.number_of_subsets,
        "typicalDate": m.typical_year * 10000 + m.typical_month * 100 + m.typical_day,
        "typicalTime": m.typical_hour * 10000 + m.typical_minute * 100 + m.typical_second}


def merged(base: Mapping[str, int], changes: Mapping[str, Any] | None) -> dict[str, int]:
    """`base` with `changes` over it; typicalDate (YYYYMMDD) and typicalTime
    (HHMMSS) set their parts. A key that is no header field is refused."""
    out = dict(base)
    for key, value in (changes or {}).items():
        if key == "section2":
            continue
        if key == "typicalDate":
            text = f"{int(value):08d}"
            out.update(typicalYear=int(text[:4]), typicalMonth=int(text[4:6]), typicalDay=int(text[6:]))
        elif key == "typicalTime":
            text = f"{int(value):06d}"
            out.update(typicalHour=int(text[:2]), typicalMinute=int(text[2:4]), typicalSecond=int(text[4:]))
        elif key in out:
            out[key] = int(value)
        else:
            raise ValueError(f"unknown header key {key!r}; the keys are {', '.join(KEYS + EXTRA_KEYS)}")
    return out


def header_fields(header: Mapping[str, int]) -> tuple[int, ...]:
    return tuple(header[key] for key in KEYS)


def header_message(header: Mapping[str, Any], master_version: int | None = None) -> BufrMessage:
    """A message of this header and no data: what picks its tables (TableSource.for_message)."""
    full = merged(DEFAULT_HEADER, header)
    if master_version is not None:
        full["masterTablesVersionNumber"] = master_version
    message: BufrMessage = _native.header_message(header_fields(full))
    return message
