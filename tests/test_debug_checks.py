"""Debug, sanitizer and fuzz builds check the documented preconditions of the
hot path (SKYREC_EXPECT): a field read past the data aborts with the broken
condition named, where a release build would read beyond the buffer."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


@pytest.fixture(scope="module")
def probe(tmp_path_factory) -> Path:
    compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")
    if compiler is None:
        pytest.skip("no C++ compiler to build the bit reader probe")
    exe = tmp_path_factory.mktemp("probe") / "bits_probe"
    subprocess.run([compiler, "-std=c++20", "-O1", "-DSKYREC_DEBUG_CHECKS", f"-I{ROOT / 'src'}", "-o", str(exe),
                    str(ROOT / "tests" / "native" / "bits_probe.cpp")], check=True, capture_output=True, timeout=300)
    return exe


@pytest.mark.parametrize("data, position, width, fits", [
    ("a5f0", 4, 12, True),   # the last bit of the data
    ("a5f0", 5, 12, False),  # one bit beyond it
    ("a5f0", 0, 0, False),   # no width
    ("a5f0" * 9, 0, 65, False),
])
def test_a_field_beyond_the_data_is_caught(probe, data, position, width, fits):
    result = subprocess.run([str(probe), data, str(position), str(width)], capture_output=True, text=True)
    if fits:
        expected = (int(data, 16) >> (len(data) * 4 - position - width)) & ((1 << width) - 1)
        assert result.returncode == 0 and int(result.stdout) == expected
    else:
        assert result.returncode != 0 and "precondition failed" in result.stderr
