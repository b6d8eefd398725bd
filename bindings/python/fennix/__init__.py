"""fennix: flash Qualcomm MSM handsets and modems and back up or restore their
NV items through libFennix (``libFennix.so``, ``Fennix.dll``).

The library is loaded on first use: the file named by the ``FENNIX_LIBRARY``
environment variable when it is set, else a copy beside this package, else the
system's.

    import fennix
    with fennix.Session("/dev/ttyUSB0") as device:
        device.flash("NPRG6260.hex", partition="partition.mbn", amsshd="amsshd.mbn",
                     amss="amss.mbn", on_line=print, on_event=print)

:mod:`fennix.brt` reads and writes BRT files without the library, :mod:`fennix.duck`
reads duck files.
"""

from . import brt, duck
from .device import backup, end_log, flash, import_duck, info, list_ports, restore, start_log
from ._version import VERSION
from .errors import (
    BrtFormatError,
    DuckFormatError,
    FennixError,
    FlashError,
    LibraryNotFoundError,
    NvError,
    SessionClosedError,
)
from .info import DeviceInfo
from .events import Cause, Event, EventKind, OnEvent, Stage
from .lines import LineIterator, iter_lines
from .result import Line, Result
from .session import OnLine, Session

__version__ = VERSION

__all__ = [
    "BrtFormatError",
    "Cause",
    "DeviceInfo",
    "DuckFormatError",
    "Event",
    "EventKind",
    "FennixError",
    "FlashError",
    "Line",
    "LineIterator",
    "LibraryNotFoundError",
    "NvError",
    "OnEvent",
    "OnLine",
    "Result",
    "Session",
    "SessionClosedError",
    "Stage",
    "backup",
    "brt",
    "duck",
    "end_log",
    "flash",
    "import_duck",
    "info",
    "iter_lines",
    "list_ports",
    "restore",
    "start_log",
]
