"""The exceptions of the fennix package."""

from __future__ import annotations

from typing import TYPE_CHECKING, Optional, Sequence, Tuple, Union

if TYPE_CHECKING:
    from .events import Cause
    from .result import Line


class FennixError(Exception):
    """Base of every error this package raises.

    A failed flow carries what the library reported: ``result`` (the
    export's return value), ``line`` (the first failure line, or None when the
    library reported none, as the duck import never does) and ``lines`` (every
    line of the flow, in order) and ``cause`` (a :class:`~fennix.Cause`, or
    None when the library told none).
    """

    def __init__(
        self,
        message: str,
        result: Optional[int] = None,
        line: Optional["Line"] = None,
        lines: Sequence["Line"] = (),
        cause: Optional[Union["Cause", int]] = None,
    ) -> None:
        super().__init__(message)
        self.result = result
        self.line = line
        self.lines: Tuple["Line", ...] = tuple(lines)
        self.cause = cause


class FlashError(FennixError):
    """A download (StartDownload) failed."""


class NvError(FennixError):
    """An NV backup, restore or duck import failed."""


class BrtFormatError(FennixError, ValueError):
    """A BRT file that ends inside a record or holds a negative count or length."""


class DuckFormatError(NvError, ValueError):
    """A duck file that ends inside a record or holds a negative length; the
    message says which record, where, and which field. ``result`` is 0 and
    ``cause`` is FILE_DAMAGED, as when the library refuses the file."""

    def __init__(self, message: str) -> None:
        from .events import Cause

        super().__init__(message, result=0, cause=Cause.FILE_DAMAGED)


class LibraryNotFoundError(FennixError, OSError):
    """libFennix could not be found or loaded."""


class SessionClosedError(FennixError):
    """The session was closed (or interrupted) and can run nothing more."""
