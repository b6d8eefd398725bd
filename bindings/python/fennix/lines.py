"""Progress of a flow as an iterator of lines."""

from __future__ import annotations

import queue
import threading
from typing import Any, Callable, Iterator, NamedTuple, Optional

from .result import Line, Result
from .session import _POLL_SECONDS, Session


class _Cancelled(Exception):
    """Raised into a flow whose lines are no longer wanted."""


class _Finished(NamedTuple):
    result: Optional[Result]
    error: Optional[BaseException]


class LineIterator(Iterator[Line]):
    """Runs a flow on a thread of its own and yields its lines as they come.

    After the last line, :attr:`result` holds the flow's :class:`Result`; a
    failed flow raises its error from the loop instead. Leaving the loop
    early (``break``, an exception, Ctrl-C) cancels the flow when the
    iterator is closed: at once when the flow is a :class:`Session` method
    (the session is closed), at its next line otherwise. Use it in a
    ``with`` block, or call :meth:`close`, to be sure of that.
    """

    def __init__(self, flow: Callable[..., Result], *args: Any, **kwargs: Any) -> None:
        owner = getattr(flow, "__self__", None)
        self._session: Optional[Session] = owner if isinstance(owner, Session) else None
        self._events: "queue.SimpleQueue[object]" = queue.SimpleQueue()
        self._cancelled = threading.Event()
        self._ended = False
        self.result: Optional[Result] = None
        self._thread = threading.Thread(target=self._work, args=(flow, args, kwargs), daemon=True)
        self._thread.start()

    def _work(self, flow: Callable[..., Result], args: Any, kwargs: Any) -> None:
        try:
            self._events.put(_Finished(flow(*args, on_line=self._deliver, **kwargs), None))
        except BaseException as failure:
            self._events.put(_Finished(None, failure))

    def _deliver(self, line: Line) -> None:
        if self._cancelled.is_set():
            raise _Cancelled()
        self._events.put(line)

    def __iter__(self) -> "LineIterator":
        return self

    def __next__(self) -> Line:
        if self._ended:
            raise StopIteration
        try:
            event = self._next_event()
        except BaseException:
            self.close()
            raise
        if isinstance(event, Line):
            return event
        assert isinstance(event, _Finished)
        self._ended = True
        self._thread.join()
        if event.error is not None:
            raise event.error
        self.result = event.result
        raise StopIteration

    def _next_event(self) -> object:
        while True:
            try:
                return self._events.get(timeout=_POLL_SECONDS)
            except queue.Empty:
                continue

    def close(self) -> None:
        """Cancels the flow if it still runs and waits for its thread."""
        if self._ended:
            return
        self._ended = True
        self._cancelled.set()
        if self._session is not None:
            self._session.close()
        self._thread.join()

    def __enter__(self) -> "LineIterator":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()


def iter_lines(flow: Callable[..., Result], *args: Any, **kwargs: Any) -> LineIterator:
    """The lines of ``flow(*args, **kwargs)`` as an iterator, for instance
    ``iter_lines(session.flash, "prog.hex", partition="partition.mbn")`` or
    ``iter_lines(fennix.backup, port, "items.csv", "nv.brt")``."""
    return LineIterator(flow, *args, **kwargs)
