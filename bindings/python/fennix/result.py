"""What a flow reports: its lines and its result."""

from __future__ import annotations

from typing import TYPE_CHECKING, NamedTuple, Optional, Tuple, Union

if TYPE_CHECKING:
    from .events import Cause


class Line(NamedTuple):
    """One progress line: status 0 for progress or success, -1 for a failure."""

    text: str
    status: int

    @property
    def failed(self) -> bool:
        """True for a failure line."""
        return self.status < 0


class _Outcome(NamedTuple):
    code: int
    lines: Tuple[Line, ...]


class Result(_Outcome):
    """The outcome of a flow: the export's result code and every line it
    reported (the tuple ``(code, lines)``), and why it ended as the library's
    end event tells: ``cause`` (:attr:`Cause.NONE` on success; None when the
    library told none) and ``cause_text``, a short sentence for people."""

    cause: Optional[Union["Cause", int]]
    cause_text: str

    def __new__(
        cls, code: int, lines: Tuple[Line, ...], cause: Optional[Union["Cause", int]] = None, cause_text: str = ""
    ) -> "Result":
        result = super().__new__(cls, code, lines)
        result.cause = cause
        result.cause_text = cause_text
        return result

    def __repr__(self) -> str:
        return f"Result(code={self.code!r}, lines={self.lines!r}, cause={self.cause!r})"

    @property
    def failure(self) -> Optional[Line]:
        """The first failure line, or None."""
        return next((line for line in self.lines if line.failed), None)
