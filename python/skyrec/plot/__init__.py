"""Pictures of BUFR observations, as matplotlib Figures (needs 'skyrec[plot]';
skewt needs MetPy, which that extra installs).

    skyrec.plot.station_map("synop/*.bufr", "airTemperature").savefig("stations.png")
    skyrec.plot.skewt("temp.bufr", station=51463)
    skyrec.plot.swath("mhs.bufr", "#3#brightnessTemperature")
"""

from .skewt import skewt
from .station_map import station_map
from .swath import swath

__all__ = ["skewt", "station_map", "swath"]
