"""A sounding on a skew-T log-p diagram (MetPy's), with wind barbs."""

from __future__ import annotations

from typing import Any

import numpy as np

from ..formats.extras import need
from ..formats.netcdf import PROFILE_KEYS, STATION_KEYS, profile_rows
from .figure import finite, pyplot, rows

HECTOPASCAL = 100.0
BARBS = 25  # at most, spread over the levels that have wind


def skewt(sources: Any, *, station: int | None = None, **tables: Any) -> Any:
    """A matplotlib Figure of one sounding of `sources`: the launch of WMO
    station `station` (its first in the input), or the launch with the most
    levels; temperature and dew point against pressure, wind barbs beside."""
    plt = pyplot()
    plots = need("metpy.plots", "plot", "Skew-T diagrams")
    calc, units = need("metpy.calc", "plot", "Skew-T diagrams"), need("metpy.units", "plot", "Skew-T diagrams").units
    filters = None if station is None else {"WMO_station_id": station}
    frame, _ = rows(sources, [*STATION_KEYS, *PROFILE_KEYS], ["pressure", "airTemperature"], filters, tables)
    which, _, _ = profile_rows(frame)
    chosen = 0 if station is not None else int(np.argmax(np.bincount(which)))
    launch = frame[which == chosen]
    pressure = finite(launch["pressure"]) / HECTOPASCAL
    order = np.argsort(-pressure, kind="stable")
    pressure = pressure[order]
    temperature = finite(launch["airTemperature"])[order] - 273.15
    dewpoint = finite(launch["dewpointTemperature"])[order] - 273.15
    figure = plt.figure(figsize=(6.5, 7))
    diagram = plots.SkewT(figure, rotation=45)
    diagram.plot(pressure, temperature, "tab:red", linewidth=1.5, label="temperature")
    dew = ~np.isnan(dewpoint)
    diagram.plot(pressure[dew], dewpoint[dew], "tab:green", linewidth=1.5, label="dew point")
    speed, direction = finite(launch["windSpeed"])[order], finite(launch["windDirection"])[order]
    windy = np.flatnonzero(~np.isnan(speed) & ~np.isnan(direction) & (pressure >= 100))
    if len(windy):
        windy = windy[:: max(1, len(windy) // BARBS)]
        u, v = calc.wind_components(speed[windy] * units("m/s"), direction[windy] * units.degree)
        diagram.plot_barbs(pressure[windy], u.to("knots"), v.to("knots"), length=6)
    diagram.plot_dry_adiabats(linewidth=0.5, alpha=0.4)
    diagram.plot_moist_adiabats(linewidth=0.5, alpha=0.4)
    diagram.ax.set_ylim(1050, 100)
    diagram.ax.set_xlim(-45, 40)
    diagram.ax.set(xlabel="temperature (degC)", ylabel="pressure (hPa)")
    ident = launch["WMO_station_id"].dropna()
    name = f"station {int(ident.iloc[0]):05d}" if len(ident) else "unknown station"
    diagram.ax.set_title(f"{name}, {launch['data_datetime'].iloc[0]}: {len(launch)} levels")
    diagram.ax.legend(loc="upper left", fontsize="small")
    return figure
