"""The `filters=` that every reader takes: messages picked by their headers,
named by ecCodes keys, before anything is decoded.

    filters={"dataCategory": [0, 1], "bufrHeaderCentre": 98, "typicalYear": slice(2020, 2024)}

A value keeps the messages whose key equals it, a list, tuple or set those
among its values, a slice(lo, hi) those from lo to hi inclusive (either end
None), and a callable those for which it answers true: it is given the key's
values as a pandas Series where the reader makes frames, one value at a time
in read_messages and read_wide. read_observations takes data keys as well.
"""

from __future__ import annotations

import warnings
from collections.abc import Callable, Mapping
from typing import TYPE_CHECKING, Any

from _skyrec import BufrMessage

if TYPE_CHECKING:
    import numpy as np
    import pandas as pd

# ecCodes' header keys: the read_headers column and the BufrMessage attribute of each.
HEADER_FIELDS = {"edition": ("edition", "edition"), "masterTableNumber": ("master_table", "master_table_number"),
                 "bufrHeaderCentre": ("centre", "originating_centre"),
                 "bufrHeaderSubCentre": ("subcentre", "originating_subcentre"),
                 "updateSequenceNumber": ("update_sequence", "update_sequence_number"),
                 "dataCategory": ("category", "data_category"),
                 "dataSubCategory": ("local_subcategory", "local_data_subcategory"),
                 "internationalDataSubCategory": ("subcategory", "international_data_subcategory"),
                 "masterTablesVersionNumber": ("master_version", "master_tables_version_number"),
                 "localTablesVersionNumber": ("local_version", "local_tables_version_number"),
                 "numberOfSubsets": ("subsets", "number_of_subsets"), "observedData": ("observed", "observed_data"),
                 "compressedData": ("compressed", "compressed_data")}
HEADER_KEYS = {key: column for key, (column, _) in HEADER_FIELDS.items()}
TYPICAL_FIELDS = {"typicalYear": "year", "typicalMonth": "month", "typicalDay": "day", "typicalHour": "hour",
                  "typicalMinute": "minute", "typicalSecond": "second"}
MESSAGE_KEYS = (*HEADER_FIELDS, *TYPICAL_FIELDS)

Filters = Mapping[str, Any]


def check_filters(filters: Filters | None) -> dict[str, Any]:
    """`filters` as a dict, its keys and values checked."""
    if filters is None:
        return {}
    if not isinstance(filters, Mapping):
        raise TypeError(f"filters must be a mapping of ecCodes keys to values, not {type(filters).__name__}")
    for key, wanted in filters.items():
        if key not in MESSAGE_KEYS:
            raise KeyError(f"filters name {key!r}, which is not a header key; the header keys are "
                           f"{', '.join(MESSAGE_KEYS)} (read_observations filters by data keys too)")
        if isinstance(wanted, slice) and wanted.step is not None:
            raise ValueError("a filter's slice takes no step")
        if key in MESSAGE_KEYS:
            _check_numbers(key, wanted)
    return dict(filters)


def data_filters(filters: Filters | None) -> dict[str, Any]:
    """read_observations' `filters`: its header keys checked as every reader
    checks them, its data keys left for it."""
    if not isinstance(filters, Mapping):
        return check_filters(filters)
    check_filters({key: wanted for key, wanted in filters.items() if key in MESSAGE_KEYS})
    return dict(filters)


def _check_numbers(key: str, wanted: Any) -> None:
    # Every header key is a number: a text (or None, but for an open end)
    # would keep no message, without a word.
    if isinstance(wanted, slice):
        values: Any = [end for end in (wanted.start, wanted.stop) if end is not None]
    else:
        values = wanted if isinstance(wanted, (list, tuple, set, frozenset)) else (wanted,)
    for value in values:
        if value is None or isinstance(value, (str, bytes)):
            raise TypeError(f"filters[{key!r}] is compared with numbers, not {value!r}: every header key is a number")


def passes(value: Any, wanted: Any) -> bool:
    """Whether one value passes one filter."""
    if callable(wanted):
        return bool(wanted(value))
    if isinstance(wanted, slice):
        return (wanted.start is None or value >= wanted.start) and (wanted.stop is None or value <= wanted.stop)
    if isinstance(wanted, (list, tuple, set, frozenset)):
        return value in wanted
    return bool(value == wanted)


def message_passes(message: BufrMessage, filters: Filters) -> bool:
    """Whether a framed message passes every header filter."""
    for key, wanted in filters.items():
        attribute = HEADER_FIELDS[key][1] if key in HEADER_FIELDS else f"typical_{TYPICAL_FIELDS[key]}"
        if not passes(getattr(message, attribute), wanted):
            return False
    return True


def series_mask(values: pd.Series, wanted: Any) -> np.ndarray:
    """Where a Series passes one filter; missing values never pass."""
    import numpy as np

    present = values.notna().to_numpy(bool)
    if callable(wanted):
        try:
            keep = np.asarray(wanted(values), dtype=bool)
            if keep.shape != (len(values),):
                raise ValueError
        except (TypeError, ValueError):
            keep = np.fromiter((ok and bool(wanted(v)) for v, ok in zip(values, present)), bool, count=len(values))
    elif isinstance(wanted, slice):
        keep = np.ones(len(values), bool)
        if wanted.start is not None:
            keep &= (values >= wanted.start).to_numpy(bool, na_value=False)
        if wanted.stop is not None:
            keep &= (values <= wanted.stop).to_numpy(bool, na_value=False)
    elif isinstance(wanted, (list, tuple, set, frozenset)):
        keep = values.isin(list(wanted)).to_numpy(bool)
    else:
        keep = (values == wanted).to_numpy(bool, na_value=False)
    result: np.ndarray = keep & present
    return result


class HeaderMask:
    """`filters` as a mask over read_headers' frame: a callable that pickles,
    for Dask's workers."""

    def __init__(self, filters: Filters):
        self.filters = dict(filters)

    def __call__(self, headers: pd.DataFrame) -> np.ndarray:
        import numpy as np

        keep = np.ones(len(headers), bool)
        for key, wanted in self.filters.items():
            if key in TYPICAL_FIELDS:
                column = getattr(headers["time"].dt, TYPICAL_FIELDS[key]).astype("Int64")
            else:
                column = headers[HEADER_KEYS[key]]
            keep &= series_mask(column, wanted)
        return keep


def block_filter(filters: Filters | None, filter: Callable[..., Any] | Mapping[str, Any] | None,
                 stacklevel: int = 3) -> Any:
    """What the block decoder's header selection takes for `filters`, or
    for the older `filter=` (read_headers' column names, or a callable)."""
    if filter is not None:
        if filters is not None:
            raise TypeError("give filters= (ecCodes keys), not filters= and filter= both")
        warnings.warn("filter= is deprecated: pass filters= with ecCodes keys (dataCategory, bufrHeaderCentre, ...)",
                      DeprecationWarning, stacklevel=stacklevel)
        return filter
    checked = check_filters(filters)
    return HeaderMask(checked) if checked else None
