"""The columns that Parquet and Arrow are written from, made without pandas,
against pandas itself: filters pass the rows pandas passes, header times
split into the parts pandas gives, texts read as the numbers pandas reads."""

from __future__ import annotations

import pytest

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")

from skyrec.column_kinds import Nullable, Texts, pandas_column  # noqa: E402
from skyrec.filters import TYPICAL_FIELDS, series_mask  # noqa: E402
from skyrec.observation_headers import _formatted, _typical_parts  # noqa: E402
from skyrec.observation_values import numbers  # noqa: E402
from skyrec.row_filters import rows_passing  # noqa: E402

TIMES = np.array(["2024-02-29T23:59:59", "NaT", "1999-12-31T00:00:00", "2024-01-02T12:00:00"], "datetime64[s]")
COLUMNS = {"numbers": np.array([1.5, np.nan, -2.0, 1e9]),
           "integers": Nullable(np.array([7, 0, -3, 12]), np.array([False, True, False, False])),
           "times": TIMES,
           "texts": np.array(["DE BILT", None, "UCCLE", "10"], dtype=object),
           "coded texts": Texts(np.array([2, -1, 0, 1]), ["UCCLE", "10", "DE BILT"])}
FILTERS = [1.5, 10, [1.5, -2.0], slice(None, 0), slice(-3, 7), "UCCLE", ["UCCLE", "10"], slice("A", "E"),
           "2024-01-02T12:00:00", slice("2000-01-01", None), [np.datetime64("1999-12-31")]]


@pytest.mark.parametrize("wanted", FILTERS, ids=repr)
@pytest.mark.parametrize("name", COLUMNS)
def test_filters_pass_the_rows_pandas_passes(name, wanted):
    column = COLUMNS[name]
    series = pd.Series(pandas_column(pd, column))
    try:
        expected = series_mask(series, wanted)
    except (TypeError, ValueError):  # pandas refuses to compare them: nothing passes
        expected = np.zeros(len(series), bool)
    np.testing.assert_array_equal(rows_passing(column, wanted), expected)


def test_header_times_split_as_pandas_splits_them():
    parts, series = _typical_parts(TIMES), pd.Series(TIMES)
    for key, field in TYPICAL_FIELDS.items():
        np.testing.assert_array_equal(parts[key], getattr(series.dt, field).to_numpy(float))
    assert _formatted(TIMES, clock=False).tolist() == ["20240229", None, "19991231", "20240102"]
    assert _formatted(TIMES, clock=True).tolist() == ["235959", None, "000000", "120000"]
    assert _typical_parts(TIMES[[0, 2]])["typicalDay"].dtype == np.int64  # integers when no time is missing


def test_texts_read_as_the_numbers_pandas_reads():
    texts = np.array(["12", "7.5", "-3e2", "abc", None, ""], dtype=object)
    np.testing.assert_array_equal(numbers(texts), pd.to_numeric(pd.Series(texts), errors="coerce").to_numpy(float))
