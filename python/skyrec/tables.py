"""Finding BUFR tables without configuration."""

from __future__ import annotations

import importlib.util
import os
from pathlib import Path

ENVIRONMENT_VARIABLE = "ECCODES_DEFINITION_PATH"
SYSTEM_ROOTS = ("/usr/share/eccodes/definitions", "/usr/local/share/eccodes/definitions")


class TablesNotFound(LookupError):
    """No BUFR tables were given and none could be found."""


def is_definitions_root(path: str | os.PathLike) -> bool:
    return (Path(path) / "bufr" / "tables").is_dir()


def _package_roots() -> list[Path]:
    """Definitions trees shipped inside installed ecCodes Python packages."""
    roots = []
    for name in ("eccodeslib", "eccodes", "gribapi"):
        spec = importlib.util.find_spec(name)
        for location in (spec.submodule_search_locations or []) if spec else []:
            base = Path(location)
            roots += [base / "share" / "eccodes" / "definitions", base / "definitions"]
    return roots


def _environment_roots() -> list[Path]:
    value = os.environ.get(ENVIRONMENT_VARIABLE, "")
    return [Path(part) for part in value.split(os.pathsep) if part]


def find_definitions_root() -> str:
    """The first ecCodes definitions tree found: the installed ecCodes
    package's, then $ECCODES_DEFINITION_PATH, then the system's."""
    candidates = _package_roots() + _environment_roots() + [Path(p) for p in SYSTEM_ROOTS]
    for candidate in candidates:
        if is_definitions_root(candidate):
            return str(candidate)
    raise TablesNotFound(
        "no BUFR tables found: pass a table directory or definitions root, set "
        f"{ENVIRONMENT_VARIABLE}, or install ecCodes' definitions (Debian: apt-get install libeccodes-data)"
    )
