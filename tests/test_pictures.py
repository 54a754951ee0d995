"""Pictures drawn from corpus files (a station map, a skew-T diagram, a
swath), through Python and the command line, and a Decoded's HTML tree."""

from __future__ import annotations

import os
import re
from pathlib import Path

import pytest

if os.environ.get("SKYREC_SANITIZED"):
    pytest.skip("matplotlib's native modules abort under the preloaded AddressSanitizer runtime: the plain run draws "
                "the pictures", allow_module_level=True)

import skyrec
from skyrec.cli import main

REPO = Path(__file__).resolve().parent.parent
SAMPLE, TABLES = str(REPO / "examples" / "sample.bufr"), str(REPO / "examples" / "tables")
CHANNEL = "tovsOrAtovsOrAvhrrInstrumentationChannelNumber"
PNG = b"\x89PNG\r\n\x1a\n"


def drawn_points(figure) -> int:
    return sum(len(c.get_offsets()) for c in figure.axes[0].collections)  # the others are colour bars


# (CLI arguments, files, the keys whose rows the picture draws, filters)
PICTURES = {
    "map": (["--map", "airTemperature"], ["synop_multi_subset_uncompressed.bufr", "synop.bufr"],
            ["latitude", "longitude"], None),
    "swath": (["--swath", "brightnessTemperature", "--where", f"{CHANNEL}=45"], ["metop_mhs.bufr"],
              ["latitude", "longitude", "brightnessTemperature"], {CHANNEL: 45}),
    "profile": (["--profile", "--station", "6447"], ["temp-gts1.bufr"], ["pressure", "airTemperature"],
                {"WMO_station_id": 6447}),
}


@pytest.mark.parametrize("kind", list(PICTURES))
def test_pictures_of_corpus_files(corpus, tmp_path, capsys, kind):
    pytest.importorskip("matplotlib", reason="pictures need matplotlib: pip install 'skyrec[plot]'")
    if kind == "profile":
        pytest.importorskip("metpy", reason="skew-T diagrams need MetPy: pip install 'skyrec[plot]'")
    import skyrec.plot

    args, names, keys, filters = PICTURES[kind]
    files = [str(corpus / n) for n in names]
    rows = skyrec.read_observations(files, keys, filters=filters)
    if kind == "map":
        figure = skyrec.plot.station_map(files, "airTemperature")
        assert drawn_points(figure) == len(rows)  # hollow where the temperature is missing
    elif kind == "swath":
        figure = skyrec.plot.swath(files, "brightnessTemperature", filters=filters)
        assert drawn_points(figure) == len(rows)
    else:
        figure = skyrec.plot.skewt(files, station=6447)
        temperature = figure.axes[0].lines[0]
        assert len(temperature.get_ydata()) == len(rows)
        assert sorted(temperature.get_ydata()) == pytest.approx(sorted(rows["pressure"] / 100))
    out = tmp_path / f"{kind}.png"
    assert main(["plot", *files, *args, "-o", str(out)]) == 0
    assert out.read_bytes()[:8] == PNG and out.stat().st_size > 10_000
    assert "picture written" in capsys.readouterr().err


@pytest.mark.parametrize("args, says", [
    (["--map", "airTemperature", "--station", "1"], "--station chooses a sounding"),
    (["--map", "noSuchKey"], "has a value of noSuchKey"),
    (["--swath", "noSuchKey"], "no key 'noSuchKey' in the tables"),
    (["--profile", "--where", "pressure=1"], "--where goes with --map or --swath"),
])
def test_plot_refuses_clearly(tmp_path, capsys, args, says):
    pytest.importorskip("matplotlib", reason="pictures need matplotlib: pip install 'skyrec[plot]'")
    out = tmp_path / "out.png"
    assert main(["plot", SAMPLE, *args, "--tables", TABLES, "-o", str(out)]) == 2
    assert says in capsys.readouterr().err and not out.exists()


@pytest.mark.parametrize("output, copies", [("values", 1), ("columns", 1), ("values", 200)])
def test_html_tree_of_a_message(output, copies):
    # `copies` of the sample's subsets: small opens, large stays closed and is cut.
    (item,) = skyrec.read_messages(SAMPLE, table_dir=TABLES, output=output)
    width = len(item.subsets[0])
    if copies > 1:
        item = type(item)(item.index, item.offset, item.length, item.message, item.values * copies,
                          subset_starts=tuple(range(0, len(item.values) * copies, width)))
    html = item._repr_html_()
    total = sum(len(s) for s in item.subsets)
    rows = re.findall(r"<tr><td>\d{6}</td>", html)
    assert len(rows) == min(total, skyrec.html.MAX_VALUES, skyrec.html.MAX_SUBSETS * width)
    assert "DE BILT" in html and "RAIN, NOT FREEZING, CONTINUOUS" in html
    assert ("<details open><summary>section 4" in html) == (copies == 1)
    assert (f"{total - len(rows)} more values not shown" in html) == (copies > 1)
    assert ("<td>K</td>" in html) == (output == "columns")  # plain values carry no units
