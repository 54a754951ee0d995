"""The README's examples run as shown, each as a new user would run it: the
quick start's first command, every shell block marked runnable (with the
output of the text block after it, when there is one) and every Python
block, in a process of its own."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import corpus_dir, definitions_root

ROOT = Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text()
FENCE = re.compile(r"^```(\w*)([^\n]*)\n(.*?)^```\n", re.S | re.M)
VENV = "python3 -m venv .venv && . .venv/bin/activate && "
QUICK_START = VENV + "pip install . && skyrec dump examples/sample.bufr"
TEST_COMMAND = VENV + "bash dev/test"


def blocks() -> list[tuple[str, set[str], str, int]]:
    """(language, marks, content, line number) of each fenced block."""
    return [(m.group(1), set(m.group(2).split()), m.group(3), README.count("\n", 0, m.start()) + 1)
            for m in FENCE.finditer(README)]


def runnable_shell() -> list[tuple[str, str | None, set[str], int]]:
    """Each runnable shell block with the text block that follows it, if any."""
    found = []
    all_blocks = blocks()
    for i, (language, marks, content, line) in enumerate(all_blocks):
        if language == "sh" and "runnable" in marks:
            following = all_blocks[i + 1] if i + 1 < len(all_blocks) else None
            expected = following[2] if following and following[0] == "text" else None
            found.append((content, expected, marks, line))
    return found


@pytest.fixture(scope="module")
def shell_env(tmp_path_factory) -> dict[str, str]:
    """PATH with a `skyrec` that runs the package under test."""
    bin_dir = tmp_path_factory.mktemp("bin")
    script = bin_dir / "skyrec"
    script.write_text(f'#!/bin/sh\nexec "{sys.executable}" -m skyrec "$@"\n')
    script.chmod(0o755)
    return dict(os.environ, PATH=f"{bin_dir}{os.pathsep}{os.environ['PATH']}",
                PYTHONPATH=os.pathsep.join(sys.path), COLUMNS="100")


def bash(script: str, env: dict[str, str]) -> subprocess.CompletedProcess:
    return subprocess.run(["bash", "-e", "-c", script], capture_output=True, text=True, cwd=ROOT, env=env,
                          timeout=300)


def needs_definitions(marks: set[str]) -> None:
    if "definitions" in marks and definitions_root() is None:
        pytest.skip("this example finds an ecCodes definitions tree by itself, and none is installed")


def test_quick_start_is_two_lines_and_its_decoding_runs(shell_env):
    language, _, content, _ = blocks()[0]
    assert language == "sh" and content.splitlines() == [QUICK_START, TEST_COMMAND]
    assert TEST_COMMAND in (ROOT / ".ci" / "run").read_text().splitlines()  # CI runs what the README says
    result = bash(QUICK_START.split("pip install . && ", 1)[1], shell_env)
    assert result.returncode == 0 and result.stderr == ""
    assert "'DE BILT'" in result.stdout and "'LONDON HEATHROW'" in result.stdout
    assert "RAIN, NOT FREEZING, CONTINUOUS" in result.stdout


def test_every_command_has_a_runnable_example():
    commands = {word for content, _, _, _ in runnable_shell() for word in re.findall(r"skyrec (\w+)", content)}
    assert commands >= {"ls", "dump", "copy", "set", "compare", "tables", "expand", "lookup", "convert"}


@pytest.mark.parametrize("content, expected, marks, line", runnable_shell(),
                         ids=[f"line {block[3]}" for block in runnable_shell()])
def test_shell_example(shell_env, content, expected, marks, line):
    needs_definitions(marks)
    result = bash(content, shell_env)
    assert result.returncode == 0, result.stderr
    assert result.stdout, "an example shows something"
    if expected is not None:
        assert result.stdout == expected
    else:
        assert result.stderr == ""


PYTHON_BLOCKS = [(content, marks, line) for language, marks, content, line in blocks() if language == "python"]


def test_every_code_block_is_run():
    """A block that no test runs can say anything: each is Python, marked runnable shell, or plainly text."""
    languages = {(language, "runnable" in marks) for language, marks, _, _ in blocks()}
    assert languages <= {("python", False), ("sh", True), ("sh", False), ("text", False), ("", False)}


@pytest.mark.parametrize("content, marks, line", PYTHON_BLOCKS, ids=[f"line {b[2]}" for b in PYTHON_BLOCKS])
def test_python_example(shell_env, content, marks, line):
    needs_definitions(marks)
    if "native-extras" in marks and os.environ.get("SKYREC_SANITIZED"):
        pytest.skip("xarray's and matplotlib's native modules abort under the preloaded AddressSanitizer runtime: "
                    "the plain run runs this example")
    cwd = ROOT
    if "corpus" in marks:
        if corpus_dir() is None:
            pytest.skip("this example reads SYNOP and TEMP files of the real corpus, which is not here")
        cwd = corpus_dir()
    result = subprocess.run([sys.executable, "-c", content], capture_output=True, text=True, cwd=cwd,
                            env=shell_env, timeout=300)
    assert (result.returncode, result.stderr) == (0, ""), f"README.md line {line}"
    assert result.stdout, "an example shows something"
