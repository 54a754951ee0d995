"""The C++ tree follows .clang-format."""

import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


def test_sources_are_formatted():
    tool = shutil.which("clang-format")
    if tool is None:
        pytest.skip("clang-format is a test requirement (pip install .[test])")
    sources = sorted(str(p) for p in (ROOT / "src").rglob("*") if p.suffix in {".cpp", ".hpp"})
    assert sources
    result = subprocess.run([tool, "--dry-run", "--Werror", *sources], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr[:3000]
