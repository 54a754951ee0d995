"""ARCHITECTURE.md's folders are the tree's, and the core's includes go only
where its table of folder rules says they may."""

from __future__ import annotations

import re
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
TEXT = (ROOT / "ARCHITECTURE.md").read_text().partition("## The rule of each folder")[2]
# Rows of its tables: | `folder` | holds | may use | (the folders around the code have no third cell).
ROWS = {m.group(1): [c.strip() for c in m.group(2).split("|")]
        for m in re.finditer(r"^\| `([\w/.]+)` \|(.*)\|$", TEXT, re.MULTILINE)}
CORE = [name for name in ROWS if name.startswith("src/") and not name.startswith("src/py_")]
INCLUDE = re.compile(r'^#include "(\w+)/', re.MULTILINE)


def test_every_folder_it_names_is_there_and_none_is_left_out():
    listed = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True)
    if listed.returncode:
        pytest.skip("the folders of the tree are those git tracks: this is no git checkout")
    parts = [Path(line).parts for line in listed.stdout.splitlines()]
    folders = {"/".join(p[:2]) if p[0] in ("src", "python") else p[0] for p in parts if len(p) > 2 or
               (len(p) == 2 and p[0] not in ("src", "python"))}
    assert {name for name in ROWS if not (ROOT / name).is_dir()} == set()
    assert folders - set(ROWS) == set()


def _allowed(folder: str) -> set[str]:
    """The folders its "may use" cell names; "and below" adds the rows above it."""
    cell = ROWS[folder][1]
    names = [name for name in CORE if re.search(rf"\b{name[4:]}\b", cell)]
    if "and below" in cell:
        names += CORE[:CORE.index(names[0])]
    return {name[4:] for name in names} | {folder[4:]}


@pytest.mark.parametrize("folder", CORE)
def test_the_core_includes_only_what_its_rule_allows(folder):
    used = {m.group(1) for path in (ROOT / folder).glob("*.?pp") for m in INCLUDE.finditer(path.read_text())}
    assert used - _allowed(folder) == set()
