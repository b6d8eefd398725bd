"""One-call flows, the port list and the library's log."""

from __future__ import annotations

import ctypes
from typing import List, Optional, Union

from ._library import PathArg, decode_text, library
from .result import Result
from .events import OnEvent
from .info import DeviceInfo
from .session import OnLine, Session

# GetComportList writes at most this many bytes, its terminating zero included.
_PORT_LIST_BYTES = 256


def flash(
    port: PathArg,
    programmer: PathArg,
    *,
    partition: PathArg,
    obl: Optional[PathArg] = None,
    pbl: Optional[PathArg] = None,
    qcsblhd: Optional[PathArg] = None,
    qcsbl: Optional[PathArg] = None,
    oemsblhd: Optional[PathArg] = None,
    oemsbl: Optional[PathArg] = None,
    amsshd: Optional[PathArg] = None,
    amss: Optional[PathArg] = None,
    cefs: Optional[PathArg] = None,
    skip_check: bool = False,
    window: Union[int, str] = 1,
    block: Union[int, str] = 1024,
    on_line: Optional[OnLine] = None,
    on_event: Optional[OnEvent] = None,
) -> Result:
    """Flashes one device: :meth:`Session.flash` on a session of its own."""
    with Session(port) as session:
        return session.flash(
            programmer, partition=partition, obl=obl, pbl=pbl, qcsblhd=qcsblhd, qcsbl=qcsbl,
            oemsblhd=oemsblhd, oemsbl=oemsbl, amsshd=amsshd, amss=amss, cefs=cefs,
            skip_check=skip_check, window=window, block=block, on_line=on_line, on_event=on_event,
        )


def backup(
    port: PathArg, csv: PathArg, brt: PathArg, *, on_line: Optional[OnLine] = None, on_event: Optional[OnEvent] = None
) -> Result:
    """:meth:`Session.backup` on a session of its own."""
    with Session(port) as session:
        return session.backup(csv, brt, on_line=on_line, on_event=on_event)


def restore(
    port: PathArg, brt: PathArg, *, on_line: Optional[OnLine] = None, on_event: Optional[OnEvent] = None
) -> Result:
    """:meth:`Session.restore` on a session of its own."""
    with Session(port) as session:
        return session.restore(brt, on_line=on_line, on_event=on_event)


def import_duck(
    port: PathArg, path: PathArg, *, on_line: Optional[OnLine] = None, on_event: Optional[OnEvent] = None
) -> Result:
    """:meth:`Session.import_duck` on a session of its own."""
    with Session(port) as session:
        return session.import_duck(path, on_line=on_line, on_event=on_event)


def info(port: PathArg, *, on_line: Optional[OnLine] = None, on_event: Optional[OnEvent] = None) -> DeviceInfo:
    """:meth:`Session.info` on a session of its own."""
    with Session(port) as session:
        return session.info(on_line=on_line, on_event=on_event)


def list_ports() -> List[str]:
    """The serial ports of the Qualcomm USB serial driver (``GetComportList``):
    ``COM3`` style names on Windows, device paths on Linux."""
    buffer = ctypes.create_string_buffer(_PORT_LIST_BYTES)
    library().GetComportList(buffer)
    return [name for name in decode_text(buffer.value).split(";") if name]


def start_log() -> None:
    """Opens the library's daily diagnostic log (``StartLog``)."""
    library().StartLog()


def end_log() -> None:
    """Closes the library's daily diagnostic log (``EndLog``)."""
    library().EndLog()
