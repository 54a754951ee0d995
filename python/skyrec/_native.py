"""skyrec._native, the package's own native functions.

They live in _skyrec's binary, beside its classes, so that one copy of the
code makes and frees every object: this module's place in sys.modules is
taken by the module that the binary's PyInit__native makes.
"""

import sys
from importlib.machinery import ExtensionFileLoader
from importlib.util import module_from_spec, spec_from_file_location

import _skyrec


def _load() -> None:
    path = _skyrec.__file__
    loader = ExtensionFileLoader(__name__, path)
    spec = spec_from_file_location(__name__, path, loader=loader)
    assert spec is not None
    module = module_from_spec(spec)
    loader.exec_module(module)
    sys.modules[__name__] = module


_load()
