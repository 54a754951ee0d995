"""skyrec: fast, exact decoding of WMO BUFR edition 4 messages."""

from _skyrec import *  # noqa: F401,F403
from _skyrec import __all__ as _core_all

__all__ = list(_core_all)
