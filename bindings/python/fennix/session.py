"""A device on one serial port and the flows that run on it."""

from __future__ import annotations

import ctypes
import os
import queue
import threading
from typing import Callable, List, NamedTuple, Optional, Type, Union

from . import brt as brt_file
from . import duck as duck_file
from ._library import (
    EventCallback,
    FennixDeviceInfo,
    FennixEvent,
    PathArg,
    ProgressCallback,
    decode_text,
    encode_text,
    library,
)
from .errors import FennixError, FlashError, NvError, SessionClosedError
from .events import Cause, Event, EventKind, OnEvent, event_of
from .info import DeviceInfo, device_info_of
from .result import Line, Result

#: Receives each progress line on the thread that called the flow.
OnLine = Callable[[Line], None]

# How often the waiting thread wakes up; Ctrl-C is seen at once on POSIX, and
# within this time elsewhere.
_POLL_SECONDS = 0.2


def _check_files(error: Type[FennixError], what: str, paths: List[Optional[PathArg]]) -> None:
    """Raises ``error`` (cause :attr:`Cause.FILE_MISSING`) for the first named
    file that is not a readable regular file, before anything reaches the
    device: the library would open the port and switch the device first."""
    for path in paths:
        if path is None or os.fsdecode(path) == "":
            continue
        name = os.fsdecode(path)
        if not os.path.isfile(name) or not os.access(name, os.R_OK):
            raise error(f"{what}: {name} is not a readable file; the port was not opened", cause=Cause.FILE_MISSING)


class _Finished(NamedTuple):
    code: int
    error: Optional[BaseException]


class Session:
    """A session of libFennix on one serial port (``SetComPort`` ... ``Close``).

    Use it as a context manager; leaving the block closes the session. Each
    flow blocks until the device is done and returns a :class:`Result`, or
    raises :class:`FlashError` / :class:`NvError` with the failure line and
    the cause. The export runs on a worker thread while the calling thread
    waits for its lines and events, so ``on_line`` and ``on_event`` (typed
    :class:`~fennix.events.Event` objects: stage, progress, every line, the
    end with its cause) run on the calling thread, and a KeyboardInterrupt
    (or any exception raised by either) stops the flow: the session is
    closed, which cancels the flow in the library, the worker is joined and
    the exception goes on. A closed session runs nothing more.

    One flow runs at a time on a session; sessions on different ports may run
    at the same time on different threads.
    """

    def __init__(self, port: PathArg) -> None:
        """Creates the session for ``port`` (``/dev/ttyUSB0``, ``COM5``)."""
        self.port = os.fsdecode(port)
        self._lib = library()
        handle = self._lib.SetComPort(encode_text(port))
        if not handle:
            raise FennixError(f"libFennix could not create a session for {self.port}")
        self._handle: Optional[int] = handle
        self._closing = threading.Lock()
        self._sink: Optional[Callable[[object], None]] = None
        # Kept here: the library calls them for as long as the session lives.
        self._callback = ProgressCallback(self._on_progress)
        self._lib.SetCallBack(handle, self._callback)
        self._event_callback = EventCallback(self._on_event)
        self._lib.SetEventCallback(handle, self._event_callback, None)
        self._running = threading.Lock()

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "open" if self._handle else "closed"
        return f"<fennix.Session {self.port!r} {state}>"

    @property
    def closed(self) -> bool:
        """True once the session was closed."""
        return self._handle is None

    def close(self) -> None:
        """Closes the session (``Close``); a flow still running on another
        thread is cancelled and waited for. Closing twice does nothing."""
        with self._closing:  # a cancelled iterator and its flow may both close
            handle, self._handle = self._handle, None
        if handle:
            self._lib.Close(handle)

    # ------------------------------------------------------------------ flows

    def flash(
        self,
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
        """Flashes the image set (``StartDownload``).

        ``programmer`` is the Intel HEX programmer of the device's MSM model;
        the images are given by their roles, and an image left out is not
        written (a header-and-body pair is written only with both).
        ``skip_check`` ends the download after the reset without checking that
        the device came up again; once given it holds for the session's life.
        ``window`` is how many stream writes may be outstanding: 1 (each waits
        for the answer to the one before), ``"auto"`` (what the device
        announces in its hello reply) or a cap N; ``block="auto"`` streams
        blocks of the largest size the device announces instead of 1024
        bytes (``SetStreaming``). A device that announces no window is
        streamed one write at a time. Raises :class:`ValueError` for other
        values, :class:`FlashError` unless the download succeeded.
        """
        lib = self._lib
        window_code = _window_code(window)
        block_auto = _block_auto(block)
        paths = (partition, obl, pbl, qcsblhd, qcsbl, oemsblhd, oemsbl, amsshd, amss, cefs)
        _check_files(FlashError, "flashing", [programmer, *paths])

        def setup(handle: int) -> None:
            lib.SetHexFile(handle, encode_text(programmer))
            lib.SetMbnFile(handle, *(encode_text(p) for p in paths))
            if skip_check:
                lib.SetSkipCheck(handle)
            if window_code != 1 or block_auto:
                lib.SetStreaming(handle, window_code, 1 if block_auto else 0)

        return self._run(setup, lib.StartDownload, FlashError, "flashing", on_line, on_event)

    def backup(
        self, csv: PathArg, brt: PathArg, *, on_line: Optional[OnLine] = None, on_event: Optional[OnEvent] = None
    ) -> Result:
        """Reads the NV items that the CSV item list names into the BRT file
        (``StartBackupBrt``). Raises :class:`NvError` unless it succeeded."""
        def setup(handle: int) -> None:
            self._lib.SetCsvBrtFile(handle, encode_text(csv), encode_text(brt))

        return self._run(setup, self._lib.StartBackupBrt, NvError, "NV backup", on_line, on_event)

    def restore(
        self, brt: PathArg, *, on_line: Optional[OnLine] = None, on_event: Optional[OnEvent] = None
    ) -> Result:
        """Writes every record of the BRT file into the device
        (``StartRestoreBrt``). Raises :class:`NvError` unless it succeeded;
        a damaged BRT file raises :class:`BrtFormatError` with the reason
        before the port is opened, and nothing is written."""
        _check_files(NvError, "NV restore", [brt])
        brt_file.read(brt)  # BrtFormatError: where and why the file is damaged

        def setup(handle: int) -> None:
            self._lib.SetCsvBrtFile(handle, None, encode_text(brt))

        return self._run(setup, self._lib.StartRestoreBrt, NvError, "NV restore", on_line, on_event)

    def import_duck(
        self, path: PathArg, *, on_line: Optional[OnLine] = None, on_event: Optional[OnEvent] = None
    ) -> Result:
        """Writes the NV items and device files of a duck file into the device
        (``DuckToNVArray``, then ``NVArrayToMobile``). The library reports no
        lines for this flow. Raises :class:`NvError` when the file cannot be
        read or is damaged (cause :attr:`Cause.FILE_DAMAGED`, no port opened;
        a damaged file raises :class:`DuckFormatError` with where and why),
        and when the port could not be opened, the device did not enter DIAG
        mode or a write was lost."""
        name = os.fsdecode(path)
        try:
            duck_file.read(path)  # DuckFormatError: where and why the file is damaged
        except OSError:
            pass  # the library's refusal below says so

        def setup(handle: int) -> None:
            if self._lib.DuckToNVArray(handle, encode_text(path)) != 1:
                raise NvError(f"duck file {name} cannot be read or is damaged", result=0, cause=Cause.FILE_DAMAGED)

        return self._run(setup, self._lib.NVArrayToMobile, NvError, f"writing the items of {name}", on_line, on_event)

    def info(self, *, on_line: Optional[OnLine] = None, on_event: Optional[OnEvent] = None) -> DeviceInfo:
        """Reads who the device is (``ReadDeviceInfo``): a device in AT mode
        is switched to DIAG, one in download mode is left there with only
        ``mode`` set. Items the device does not give are None, not an error.
        Raises :class:`FennixError` when the port could not be opened or the
        device did not answer or did not enter DIAG mode."""
        raw = FennixDeviceInfo(size=ctypes.sizeof(FennixDeviceInfo))

        def read(handle: int) -> int:
            return int(self._lib.ReadDeviceInfo(handle, ctypes.byref(raw)))

        # A refused item may leave a failure line while the identity was read.
        self._run(lambda handle: None, read, FennixError, "reading the identity", on_line, on_event,
                  failure_lines_fail=False)
        return device_info_of(self.port, raw)

    # ---------------------------------------------------------------- helpers

    def _open_handle(self) -> int:
        handle = self._handle
        if handle is None:
            raise SessionClosedError(f"the session on {self.port} is closed")
        return handle

    def _on_progress(self, text: Optional[bytes], status: int) -> None:
        sink = self._sink  # runs on the worker thread
        if sink is not None:
            sink(Line(decode_text(text), int(status)))

    def _on_event(self, raw: "ctypes._Pointer[FennixEvent]", context: Optional[int]) -> None:
        sink = self._sink  # runs on the worker thread; the event is valid only now
        if sink is None or not raw:
            return
        # A library that fills a shorter structure lacks fields read here.
        if raw.contents.size < ctypes.sizeof(FennixEvent):
            return
        event = event_of(raw.contents)
        if event is not None:
            sink(event)

    def _run(
        self,
        setup: Callable[[int], None],
        export: Callable[[int], int],
        error: Type[FennixError],
        what: str,
        on_line: Optional[OnLine],
        on_event: Optional[OnEvent] = None,
        failure_lines_fail: bool = True,
    ) -> Result:
        """Runs ``setup`` (the setters) and then ``export`` on a worker thread,
        both while no other flow of this session runs."""
        if not self._running.acquire(blocking=False):
            raise FennixError(f"a flow is already running on {self.port}")
        try:
            handle = self._open_handle()
            try:
                setup(handle)
            except FennixError:
                # The library refuses every setter once another thread closed
                # the session: say that, not what the refusal looks like.
                self._open_handle()
                raise
            events: "queue.SimpleQueue[object]" = queue.SimpleQueue()
            self._sink = events.put

            def work() -> None:
                try:
                    events.put(_Finished(int(export(handle)), None))
                except BaseException as failure:  # reaches the waiting thread
                    events.put(_Finished(-1, failure))

            worker = threading.Thread(target=work, name=f"fennix {self.port}", daemon=True)
            worker.start()
            lines: List[Line] = []
            ends: List[Event] = []
            try:
                finished = self._wait(events, lines, ends, on_line, on_event)
            except BaseException:
                self.close()  # cancels the flow in the library and waits for it
                worker.join()
                raise
            worker.join()
        finally:
            self._sink = None
            self._running.release()
        if finished.error is not None:
            raise finished.error
        end = ends[-1] if ends else None
        result = Result(finished.code, tuple(lines), end.cause if end else None, end.text if end else "")
        return _checked(result, error, f"{what} on {self.port}", failure_lines_fail)

    @staticmethod
    def _wait(
        events: "queue.SimpleQueue[object]",
        lines: List[Line],
        ends: List[Event],
        on_line: Optional[OnLine],
        on_event: Optional[OnEvent],
    ) -> _Finished:
        while True:
            try:
                event = events.get(timeout=_POLL_SECONDS)
            except queue.Empty:
                continue
            if isinstance(event, _Finished):
                return event
            if isinstance(event, Event):
                if event.kind == EventKind.END:
                    ends.append(event)
                if on_event is not None:
                    on_event(event)
                continue
            assert isinstance(event, Line)
            lines.append(event)
            if on_line is not None:
                on_line(event)


def _checked(result: Result, error: Type[FennixError], what: str, failure_lines_fail: bool = True) -> Result:
    """The result, or the error when the flow failed: a result other than 1 or
    (when ``failure_lines_fail``) any failure line."""
    failure = result.failure
    if result.code == 1 and (failure is None or not failure_lines_fail):
        return result
    why = failure.text if failure else result.cause_text or "no failure line"
    raise error(
        f"{what} failed: {why} (result {result.code})", result.code, failure, result.lines, cause=result.cause
    )


def _window_code(window: Union[int, str]) -> int:
    """SetStreaming's window: 0 for "auto", else 1 to 65535."""
    if window == "auto":
        return 0
    if isinstance(window, int) and not isinstance(window, bool) and 1 <= window <= 0xFFFF:
        return window
    raise ValueError(f'window must be "auto" or 1 to 65535, not {window!r}')


def _block_auto(block: Union[int, str]) -> bool:
    if block == "auto":
        return True
    if block == 1024 and not isinstance(block, bool):
        return False
    raise ValueError(f'block must be "auto" or 1024, not {block!r}')
