"""Pickling _skyrec's objects, so that the package's results (Decoded with
its BufrMessage and DecodedValue list, Wide, TableSource's tables) cross
process boundaries: each travels as plain values (skyrec._native.state_of)
and is made again from them. Registered with copyreg when skyrec is imported."""

from __future__ import annotations

import copyreg
from typing import Any

import _skyrec

from . import _native


def rebuilt(kind: str, state: tuple[Any, ...]) -> Any:
    """The object of `kind` that `state` describes."""
    return _native.from_state(kind, state)


def _reduce(obj: Any) -> tuple[Any, tuple[str, tuple[Any, ...]]]:
    return rebuilt, _native.state_of(obj)


def descriptor(f: int, x: int, y: int) -> _skyrec.Descriptor:
    # By a function: the class's own name, builtins.Descriptor, does not import.
    return _skyrec.Descriptor(f, x, y)


def _reduce_descriptor(d: _skyrec.Descriptor) -> tuple[Any, tuple[int, int, int]]:
    return descriptor, (d.f, d.x, d.y)


for _type in (_skyrec.BufrMessage, _skyrec.DecodedValue, _skyrec.TableSet, _skyrec.ElementDefinition,
              _skyrec.SequenceDefinition):
    copyreg.pickle(_type, _reduce)
copyreg.pickle(_skyrec.Descriptor, _reduce_descriptor)
