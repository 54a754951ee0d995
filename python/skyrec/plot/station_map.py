"""Stations on a longitude-latitude map, coloured by the value of one key."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

import numpy as np

from .figure import finite, pyplot, rows, unit_of


def station_map(sources: Any, key: str, *, filters: Mapping[str, Any] | None = None, **tables: Any) -> Any:
    """A matplotlib Figure: one point per observation of `sources` at its
    latitude and longitude, coloured by `key`; rows without a value of `key`
    are drawn hollow in grey."""
    plt = pyplot()
    frame, items = rows(sources, ["longitude", "latitude", key], ["longitude", "latitude"], filters, tables)
    lon, lat, value = finite(frame["longitude"]), finite(frame["latitude"]), finite(frame[key])
    # Rows without the key are drawn too: where a station reported nothing of it.
    known = ~np.isnan(value)
    if not known.any():
        raise ValueError(f"no observation of {', '.join(map(str, items))} has a value of {key}")
    west, east = max(-180, np.nanmin(lon) - 2), min(180, np.nanmax(lon) + 2)
    south, north = max(-90, np.nanmin(lat) - 2), min(90, np.nanmax(lat) + 2)
    # Degrees as long one way as the other, in a figure the shape of the area.
    height = float(np.clip(6.5 * (north - south) / max(east - west, 1e-6), 2.5, 8)) + 1
    figure, ax = plt.subplots(figsize=(8, height), layout="constrained")
    ax.scatter(lon[~known], lat[~known], s=14, facecolors="none", edgecolors="0.6", linewidths=0.6,
               label="no value")
    points = ax.scatter(lon[known], lat[known], c=value[known], s=16, cmap="coolwarm", edgecolors="0.2",
                        linewidths=0.3)
    unit = unit_of(items, key, tables)
    figure.colorbar(points, ax=ax, label=f"{key} ({unit})" if unit else key, shrink=0.8)
    ax.set(xlabel="longitude (degrees east)", ylabel="latitude (degrees north)", aspect="equal",
           title=f"{key}: {int(known.sum())} of {len(frame)} observations")
    ax.set_xlim(west, east)
    ax.set_ylim(south, north)
    ax.grid(True, linewidth=0.3)
    if (~known).any():
        ax.legend(loc="lower left", fontsize="small")
    return figure
