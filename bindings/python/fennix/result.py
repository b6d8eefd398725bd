"""What a flow reports: its lines and its result."""

from __future__ import annotations

from typing import NamedTuple, Optional, Tuple


class Line(NamedTuple):
    """One progress line: status 0 for progress or success, -1 for a failure."""

    text: str
    status: int

    @property
    def failed(self) -> bool:
        """True for a failure line."""
        return self.status < 0


class Result(NamedTuple):
    """The outcome of a flow: the export's result code and every line it reported."""

    code: int
    lines: Tuple[Line, ...]

    @property
    def failure(self) -> Optional[Line]:
        """The first failure line, or None."""
        return next((line for line in self.lines if line.failed), None)
