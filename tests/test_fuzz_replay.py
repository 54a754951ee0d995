"""Every fuzz target, built with the system's compiler and a plain main (no
libFuzzer), replays its seeds and a few real files under ASan and UBSan
without a finding."""

from __future__ import annotations

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import corpus_dir

ROOT = Path(__file__).resolve().parent.parent
FUZZ = ROOT / "fuzz"
# Kept between runs, so that a later run rebuilds only what changed.
BUILD = ROOT / "build" / "fuzz-replay"
TARGETS = sorted(p.stem.removeprefix("fuzz_") for p in FUZZ.glob("fuzz_*.cpp"))
MESSAGE_TARGETS = {"frame", "scan", "cursor", "decode"}
REAL_FILES = 6


@pytest.fixture(scope="module")
def built() -> Path:
    tools = {tool: shutil.which(tool) for tool in ("cmake", "ninja", "g++")}
    if not all(tools.values()):
        pytest.skip(f"replaying the fuzz targets needs {', '.join(t for t, found in tools.items() if not found)}")
    subprocess.run(["cmake", "-S", str(FUZZ), "-B", str(BUILD), "-G", "Ninja", "-DSKYREC_FUZZ_REPLAY=ON",
                    f"-DCMAKE_CXX_COMPILER={tools['g++']}", f"-DPython3_EXECUTABLE={sys.executable}"],
                   check=True, capture_output=True, timeout=600)
    result = subprocess.run(["cmake", "--build", str(BUILD), "-j2"], capture_output=True, text=True, timeout=1800)
    assert result.returncode == 0, result.stdout[-4000:] + result.stderr[-4000:]
    return BUILD


@pytest.fixture(scope="module")
def seeds(tmp_path_factory) -> Path:
    out = tmp_path_factory.mktemp("fuzz")
    subprocess.run([sys.executable, str(FUZZ / "make_seeds.py"), str(out)], check=True, capture_output=True,
                   timeout=600)
    return out / "seeds"


@pytest.mark.parametrize("target", TARGETS)
def test_the_target_replays_its_seeds(built, seeds, target):
    inputs = [seeds / target]
    corpus = corpus_dir()
    if target in MESSAGE_TARGETS and corpus is not None:
        inputs += sorted(p for p in corpus.iterdir() if p.is_file() and p.name != "MANIFEST.tsv")[:REAL_FILES]
    result = subprocess.run([str(built / f"fuzz_{target}"), *map(str, inputs)], capture_output=True, text=True,
                            timeout=600)
    assert result.returncode == 0, result.stderr[-4000:]
    count = len(list((seeds / target).iterdir())) + len(inputs) - 1
    assert result.stdout.strip() == f"{count} inputs replayed"
