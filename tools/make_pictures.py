"""Remakes the README's pictures (docs/*.png) from files of the real corpus.

    PYTHONPATH=$PWD/build/dev python3 tools/make_pictures.py [CORPUS_DIR]

CORPUS_DIR is $SKYREC_CORPUS or ../shared/corpus/real beside the repository.
The PNGs are kept small: few dots per inch, an adaptive palette.
"""

from __future__ import annotations

import io
import os
import sys
from pathlib import Path

from PIL import Image

import skyrec.plot

REPO = Path(__file__).resolve().parent.parent
CHANNEL = "tovsOrAtovsOrAvhrrInstrumentationChannelNumber"
DPI = 72
COLOURS = 64


def corpus_dir() -> Path:
    given = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("SKYREC_CORPUS")
    found = Path(given) if given else REPO.parent / "shared" / "corpus" / "real"
    if not (found / "MANIFEST.tsv").is_file():
        sys.exit(f"no corpus at {found}: pass its folder or set SKYREC_CORPUS")
    return found


def synop_files(corpus: Path) -> list[str]:
    """Every corpus file whose messages are all land SYNOPs."""
    found = []
    for path in sorted(corpus.iterdir()):
        if path.suffix in (".tsv", ".md"):
            continue
        headers = skyrec.read_headers(path)
        if len(headers) and headers["error"].isna().all() and (headers["category"] == 0).all() \
                and headers["subcategory"].isin([0, 1, 2]).all():
            found.append(str(path))
    return found


def save(figure: object, name: str) -> None:
    buffer = io.BytesIO()
    figure.savefig(buffer, dpi=DPI)  # type: ignore[attr-defined]
    picture = Image.open(buffer).convert("RGB").quantize(COLOURS)
    out = REPO / "docs" / name
    picture.save(out, optimize=True)
    print(f"{out.relative_to(REPO)}: {out.stat().st_size // 1024} KiB")


def main() -> None:
    corpus = corpus_dir()
    save(skyrec.plot.station_map(synop_files(corpus), "airTemperature"), "station_map.png")
    save(skyrec.plot.skewt(str(corpus / "temp-gts1.bufr")), "skewt.png")
    hirs = next(corpus.glob("M02-HIRS-*.bufr"))
    save(skyrec.plot.swath(str(hirs), "brightnessTemperature", filters={CHANNEL: 8}), "swath.png")


if __name__ == "__main__":
    main()
