"""What a flow is doing, typed: the library's event stream (``SetEventCallback``).

A flow of a :class:`~fennix.Session` passes each event to its ``on_event``
handler, on the thread that called the flow, in the order the library sent
them and among the lines given to ``on_line``.
"""

from __future__ import annotations

import enum
from dataclasses import dataclass
from typing import Callable, Optional, Union

from ._library import FennixEvent, decode_text


class Stage(enum.IntEnum):
    """The stages of a flow (``FennixStage``), in the order a download passes them."""

    NONE = 0
    OPEN = 1             #: opening the port, probing the device
    MODE_SWITCH = 2      #: into download or DIAG mode
    PROGRAMMER = 3       #: the programmer written into RAM; progress in bytes
    HELLO = 4            #: hello and security mode
    PARTITION_TABLE = 5  #: the partition table
    IMAGE_OPEN = 6       #: an image opened (header sent)
    IMAGE_WRITE = 7      #: an image streamed; progress in bytes
    IMAGE_CLOSE = 8      #: an image closed
    RESET = 9            #: the reset request and the pause after it
    POWER_ON_CHECK = 10  #: waiting for the device to come back
    NV_ITEM = 11         #: NV items and device files; progress in items
    FILE = 12            #: reading or writing a file on this computer


class Cause(enum.IntEnum):
    """Why a flow failed (``FennixCause``); :attr:`NONE` when it succeeded."""

    NONE = 0
    PORT_MISSING = 1          #: no such port
    PORT_BUSY = 2             #: another program holds the port
    PORT_FORBIDDEN = 3        #: no permission to open the port
    NO_ANSWER = 4             #: the device did not answer the probe
    MODE_SWITCH_FAILED = 5    #: it did not enter download or DIAG mode
    PROGRAMMER_REFUSED = 6    #: the programmer stage failed
    IMAGE_OPEN_REFUSED = 7    #: an image (or the partition table) was refused at its open
    IMAGE_WRITE_REFUSED = 8   #: ... while it was written
    IMAGE_CLOSE_REFUSED = 9   #: ... at its close
    NOT_BACK_AFTER_RESET = 10  #: the device did not come back after the reset
    STOPPED_ANSWERING = 11    #: the device stopped answering
    FILE_MISSING = 12         #: a file of this computer is missing or unreadable
    FILE_DAMAGED = 13         #: a file of this computer is damaged
    CANCELLED = 14            #: the flow was cancelled (the session closed)
    DEVICE_REFUSED = 15       #: the device refused an NV item or a file of its own

    @property
    def key(self) -> str:
        """The stable name the library gives it: ``"port-missing"``, ``""`` for NONE."""
        return "" if self is Cause.NONE else self.name.lower().replace("_", "-")


class EventKind(enum.IntEnum):
    """What an :class:`Event` tells (``FennixEventKind``)."""

    STAGE = 1     #: a stage was entered
    PROGRESS = 2  #: progress within the current stage
    LINE = 3      #: an operator line, as ``on_line`` gets it
    END = 4       #: the flow ended: ``result`` and ``cause``


@dataclass(frozen=True)
class Event:
    """One event of a flow. ``stage`` and ``cause`` are plain integers for a
    value this package does not know (a newer library); ``stage_key`` and
    ``cause_key`` always hold the library's names."""

    kind: EventKind
    stage: Union[Stage, int]
    stage_key: str                  #: "image-write"
    image: Optional[int] = None     #: image stages: position in flash order
    image_name: Optional[str] = None  #: image stages: "AMSS", ...
    done: int = 0                   #: PROGRESS: bytes or items done within the stage
    total: int = 0                  #: PROGRESS: bytes or items the stage has (0: not known)
    text: str = ""                  #: LINE: the line; END: the cause for people
    status: int = 0                 #: LINE: 0 progress or success, -1 failure
    result: int = 0                 #: END: what the flow's export returns
    cause: Union[Cause, int] = Cause.NONE  #: END
    cause_key: Optional[str] = None  #: END: "port-missing" ("none" on success)

    @property
    def fraction(self) -> Optional[float]:
        """PROGRESS: done / total within the stage; None when the total is not known."""
        return self.done / self.total if self.total else None


#: Receives each event on the thread that called the flow.
OnEvent = Callable[[Event], None]


def _typed(kind: type, value: int) -> Union[enum.IntEnum, int]:
    try:
        return kind(value)
    except ValueError:
        return value


def event_of(raw: FennixEvent) -> Optional[Event]:
    """The Python copy of the library's event (valid only during its call);
    None for an event of a kind this package does not know."""
    try:
        kind = EventKind(raw.kind)
    except ValueError:
        return None
    image = raw.image if raw.image >= 0 else None
    return Event(
        kind=kind,
        stage=_typed(Stage, raw.stage),
        stage_key=decode_text(raw.stageKey),
        image=image,
        image_name=decode_text(raw.imageName) if raw.imageName else None,
        done=int(raw.done),
        total=int(raw.total),
        text=decode_text(raw.text),
        status=int(raw.status),
        result=int(raw.result),
        cause=_typed(Cause, raw.cause),
        cause_key=decode_text(raw.causeKey) if raw.causeKey else None,
    )
