"""Values in a unit named by the user, into the unit of a BUFR element,
through pint (the 'units' extra): no conversion factor is written here.

    to_element_unit(values, "degC", "K")     # NumPy array in kelvin
"""

from __future__ import annotations

import re
from functools import cache
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    import numpy as np

__all__ = ["UnitError", "to_element_unit"]

# Units of Table B that pint spells otherwise (or not at all, as gpm, whose
# values are metres).
_BUFR_NAMES = {"deg": "degree", "degree true": "degree", "%": "percent", "C": "degC", "a": "year",
               "mon": "month", "d": "day", "0/00": "permille", "gpm": "m", "deg2": "degree**2"}
_POWER = re.compile(r"([A-Za-z]+)(-?\d+)")


class UnitError(ValueError):
    """A unit pint does not know, or one that cannot become the element's."""


@cache
def _registry() -> Any:
    try:
        import pint
    except ImportError:
        raise ImportError("units by name need pint: pip install 'skyrec[units]'") from None
    return pint.UnitRegistry()


def _pint_name(bufr_unit: str) -> str:
    unit = bufr_unit.strip()
    if unit in _BUFR_NAMES:
        return _BUFR_NAMES[unit]
    unit = "1" + unit if unit.startswith("/") else unit
    return _POWER.sub(r"\1**\2", unit).replace(" ", "*")


@cache
def _unit(name: str, bufr: bool) -> Any:
    registry = _registry()
    try:
        return registry.Unit(_pint_name(name) if bufr else name)
    except Exception:
        raise UnitError(f"unknown unit {name!r}") from None


def to_element_unit(values: np.ndarray, unit: str, element_unit: str) -> np.ndarray:
    """`values` (float64, NaN missing) given in `unit`, in `element_unit`."""
    if unit.strip() == element_unit.strip():
        return values
    source = _unit(unit, False)
    try:
        target = _unit(element_unit, True)
    except UnitError:
        raise UnitError(f"values of unit {element_unit!r} take no unit conversion") from None
    try:
        converted: np.ndarray = _registry().Quantity(values, source).to(target).magnitude
    except Exception:
        raise UnitError(f"{unit!r} cannot be converted to {element_unit!r}") from None
    return converted
