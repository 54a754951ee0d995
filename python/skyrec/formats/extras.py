"""The optional libraries that conversions and pictures need, imported when
first used, with an error naming the extra that installs them."""

from __future__ import annotations

import importlib
from typing import Any

from ..optional import MissingExtra


def need(module: str, extra: str, what: str) -> Any:
    """`module` imported, or an ImportError saying what to install."""
    try:
        return importlib.import_module(module)
    except ImportError as e:
        raise MissingExtra(f"{what} needs {module.split('.')[0]}: pip install 'skyrec[{extra}]'") from e


class LeftOut(UserWarning):
    """Messages that a picture was drawn without (they could not be read)."""
