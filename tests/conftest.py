"""Shared fixtures: the module under test and the optional real-data folders."""

from __future__ import annotations

import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))

REPO = Path(__file__).resolve().parent.parent
# The real files are not part of a clone: $SKYREC_CORPUS, or beside the repository.
CORPUS = Path(os.environ.get("SKYREC_CORPUS") or REPO.parent / "shared" / "corpus" / "real")
DEFINITION_CANDIDATES = [
    os.environ.get("ECCODES_DEFINITION_PATH", ""),
    "/usr/share/eccodes/definitions",
    "/usr/local/share/eccodes/definitions",
]


# Under the sanitizer, comparing a file of megabytes with ecCodes takes minutes
# per test. Tests marked `compares_corpus` compare such files in the plain run
# only; the reading tests (test_corpus_reading, test_wide) still read them
# under the sanitizer.
SANITIZED = bool(os.environ.get("SKYREC_SANITIZED"))
SANITIZED_FILE_BYTES = 1 << 20


def too_large_to_sanitize(path: Path) -> bool:
    return SANITIZED and path.is_file() and path.stat().st_size > SANITIZED_FILE_BYTES


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "compares_corpus: compares whole corpus files with a peer")


def pytest_collection_modifyitems(config: pytest.Config, items: list[pytest.Item]) -> None:
    if not SANITIZED:
        return
    for item in items:
        params = getattr(item, "callspec", None)
        if item.get_closest_marker("compares_corpus") is None or params is None:
            continue
        if any(isinstance(v, (str, Path)) and too_large_to_sanitize(CORPUS / v) for v in params.params.values()):
            item.add_marker(pytest.mark.skip(reason=f"files above {SANITIZED_FILE_BYTES} bytes are compared "
                                             "with peers in the plain run, read under the sanitizer"))


def corpus_dir() -> Path | None:
    return CORPUS if (CORPUS / "MANIFEST.tsv").is_file() else None


def corpus_files() -> list[Path]:
    """The corpus's message files in name order, none without it (to parametrize over)."""
    found = corpus_dir()
    return sorted(p for p in found.iterdir() if p.is_file() and p.name != "MANIFEST.tsv") if found else []


def definitions_root() -> Path | None:
    """A real ecCodes definitions tree (Debian's libeccodes-data installs one)."""
    for candidate in DEFINITION_CANDIDATES:
        for part in candidate.split(":"):
            if part and (Path(part) / "bufr" / "tables" / "0" / "wmo").is_dir():
                return Path(part)
    return None


@pytest.fixture(scope="session")
def corpus() -> Path:
    found = corpus_dir()
    if found is None:
        pytest.skip(f"real BUFR corpus not found at {CORPUS} (it is not part of a clone; set SKYREC_CORPUS)")
    return found


@pytest.fixture(scope="session")
def definitions() -> Path:
    found = definitions_root()
    if found is None:
        pytest.skip(
            "no ecCodes definitions tree installed: install Debian's libeccodes-data "
            "(dev/test does) or set ECCODES_DEFINITION_PATH"
        )
    return found
