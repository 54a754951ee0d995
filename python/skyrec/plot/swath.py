"""A satellite swath: one channel's values at the positions of its fields of view."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

import numpy as np

from .figure import finite, pyplot, rows, unit_of


def swath(sources: Any, key: str, *, filters: Mapping[str, Any] | None = None, **tables: Any) -> Any:
    """A matplotlib Figure of `key` ("#3#brightnessTemperature" for the third
    occurrence in each subset, or a key with filters choosing the channel,
    {"tovsOrAtovsOrAvhrrInstrumentationChannelNumber": 3}) at each field of
    view's latitude and longitude."""
    plt = pyplot()
    frame, items = rows(sources, ["longitude", "latitude", key], ["longitude", "latitude", key], filters, tables)
    lon, lat, value = finite(frame["longitude"]), finite(frame["latitude"]), finite(frame[key])
    known = ~np.isnan(value)
    figure, ax = plt.subplots(figsize=(7, 5), layout="constrained")
    points = ax.scatter(lon[known], lat[known], c=value[known], s=3, cmap="viridis", linewidths=0)
    unit = unit_of(items, key, tables)
    figure.colorbar(points, ax=ax, label=f"{key} ({unit})" if unit else key, shrink=0.85)
    chosen = ", ".join(f"{k} = {v}" for k, v in (filters or {}).items())
    ax.set(xlabel="longitude (degrees east)", ylabel="latitude (degrees north)")
    ax.set_title(f"{key}: {int(known.sum())} fields of view" + (f"\n{chosen}" if chosen else ""), fontsize="medium")
    ax.grid(True, linewidth=0.3)
    return figure
