"""skyrec dump on the example file, with named and found tables."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import _skyrec

ROOT = Path(__file__).resolve().parent.parent
SAMPLE = ROOT / "examples" / "sample.bufr"


def run(*args: str) -> subprocess.CompletedProcess:
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-m", "skyrec", *args], capture_output=True, text=True, env=env,
                          cwd=ROOT, timeout=120)


def test_sample_is_made_by_the_project_builder(tmp_path):
    script = (ROOT / "examples" / "make_sample.py").read_text()
    namespace = {"__name__": "make_sample", "__file__": str(tmp_path / "make_sample.py")}
    sys.path.insert(0, str(ROOT / "tests"))
    exec(compile(script.replace('HERE.parent / "tests"', repr(str(ROOT / "tests"))), "make_sample", "exec"),
         namespace)
    namespace["main"]()
    assert (tmp_path / "sample.bufr").read_bytes() == SAMPLE.read_bytes()
    assert (tmp_path / "damaged.bufr").read_bytes() == (ROOT / "examples" / "damaged.bufr").read_bytes()


def test_sample_decodes_with_its_own_tables():
    result = run("dump", "--tables", "examples/tables", "examples/sample.bufr")
    assert result.returncode == 0, result.stderr
    assert "'DE BILT'" in result.stdout
    assert re.search(r"  RAIN, NOT FREEZING, CONTINUOUS +#1#presentWeather\n", result.stdout)
    assert "012101  TEMPERATURE/AIR TEMPERATURE  " in result.stdout and "  276.15  " in result.stdout
    values = _skyrec.decode_values(SAMPLE.read_bytes(), str(ROOT / "examples" / "tables"))
    assert len(values) == 34 and values[30].raw_value is None  # London's dewpoint is missing


def test_sample_decodes_with_found_definitions(definitions):
    found = run("dump", "examples/sample.bufr")
    named = run("dump", "--definitions", str(definitions), "examples/sample.bufr")
    assert found.returncode == named.returncode == 0, found.stderr + named.stderr
    given = run("dump", "--tables", "examples/tables", "examples/sample.bufr").stdout
    # Only the header lines differ: each says which tables served.
    assert f"tables 0/38/0 from definitions root {definitions}\n" in named.stdout
    assert "tables 0/38/0 from table directory examples/tables\n" in given
    assert without_origin(found.stdout) == without_origin(named.stdout) == without_origin(given)


def without_origin(dump):
    return re.sub(r"(tables \d+/\d+/\d+) from [^\n]*", r"\1", dump)


@pytest.mark.parametrize("content, error", [(None, "No such file"), (b"\0" * 100, "no BUFR messages found"),
                                            (b"BUFR\0\0\x09\x04", "declared length 9, only 8 bytes left")])
def test_bad_input_fails_with_a_message(tmp_path, content, error):
    path = tmp_path / "input.bufr"
    if content is not None:
        path.write_bytes(content)
    result = run("dump", "--tables", "examples/tables", str(path))
    assert result.returncode == 1 and error in result.stderr
