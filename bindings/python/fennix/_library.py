"""Finding and loading libFennix, and the prototypes of its exports."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import List, Optional, Union

from .errors import LibraryNotFoundError

#: The progress callback: C calling convention on every system, unlike the
#: exports, which are stdcall on Windows.
ProgressCallback = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_int32)



class FennixEvent(ctypes.Structure):
    """``FennixEvent`` of fennix.h; fields may grow at the end (``size``)."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("kind", ctypes.c_int32),
        ("stage", ctypes.c_int32),
        ("image", ctypes.c_int32),
        ("imageName", ctypes.c_char_p),
        ("done", ctypes.c_uint64),
        ("total", ctypes.c_uint64),
        ("text", ctypes.c_char_p),
        ("status", ctypes.c_int32),
        ("result", ctypes.c_int32),
        ("cause", ctypes.c_int32),
        ("stageKey", ctypes.c_char_p),
        ("causeKey", ctypes.c_char_p),
    ]


class FennixDeviceInfo(ctypes.Structure):
    """``FennixDeviceInfo`` of fennix.h; the caller sets ``size``."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("mode", ctypes.c_int32),
        ("group", ctypes.c_int32),
        ("imeiValid", ctypes.c_int32),
        ("esn", ctypes.c_char * 9),
        ("imei", ctypes.c_char * 16),
        ("meid", ctypes.c_char * 15),
        ("compileDate", ctypes.c_char * 12),
        ("compileTime", ctypes.c_char * 9),
        ("releaseDate", ctypes.c_char * 12),
        ("releaseTime", ctypes.c_char * 9),
        ("versionDir", ctypes.c_char * 9),
        ("buildId", ctypes.c_char * 64),
        ("model", ctypes.c_char * 64),
    ]


#: The event callback, with the C calling convention like the progress callback.
EventCallback = ctypes.CFUNCTYPE(None, ctypes.POINTER(FennixEvent), ctypes.c_void_p)

_HANDLE = ctypes.c_void_p
_TEXT = ctypes.c_char_p
_INT = ctypes.c_int32

# name: (result type, argument types)
_PROTOTYPES = {
    "StartLog": (_INT, []),
    "EndLog": (_INT, []),
    "SetComPort": (_HANDLE, [_TEXT]),
    "SetHexFile": (_INT, [_HANDLE, _TEXT]),
    "SetMbnFile": (_INT, [_HANDLE] + [_TEXT] * 10),
    "SetSkipCheck": (_INT, [_HANDLE]),
    "SetStreaming": (_INT, [_HANDLE, _INT, _INT]),
    "SetCallBack": (_INT, [_HANDLE, ProgressCallback]),
    "SetEventCallback": (_INT, [_HANDLE, EventCallback, ctypes.c_void_p]),
    "StartDownload": (_INT, [_HANDLE]),
    "Close": (_INT, [_HANDLE]),
    "SetCsvBrtFile": (_INT, [_HANDLE, _TEXT, _TEXT]),
    "StartBackupBrt": (_INT, [_HANDLE]),
    "StartRestoreBrt": (_INT, [_HANDLE]),
    "DuckToNVArray": (_INT, [_HANDLE, _TEXT]),
    "NVArrayToMobile": (_INT, [_HANDLE]),
    "GetComportList": (_INT, [ctypes.c_char_p]),
    "ReadDeviceInfo": (_INT, [_HANDLE, ctypes.POINTER(FennixDeviceInfo)]),
}

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def _file_names() -> List[str]:
    if os.name == "nt":
        return ["Fennix.dll"]
    if sys.platform == "darwin":
        return ["libFennix.dylib"]
    return ["libFennix.so"]


def _beside_package() -> List[Path]:
    """Copies shipped inside the package folder, versioned names included."""
    here = Path(__file__).resolve().parent
    found = [here / name for name in _file_names() if (here / name).is_file()]
    if os.name != "nt":
        found += sorted(p for p in here.glob("libFennix.so.*") if p.is_file())
    return found


def _open(path: str) -> ctypes.CDLL:
    # The exports are stdcall on Windows (the same as the C convention on x64).
    if sys.platform == "win32":
        return ctypes.WinDLL(path)
    return ctypes.CDLL(path)


def _load_first() -> ctypes.CDLL:
    configured = os.environ.get("FENNIX_LIBRARY")
    if configured:
        # A library named on purpose wins over every copy found elsewhere, and
        # is never silently replaced by another.
        try:
            return _open(configured)
        except OSError as error:
            raise LibraryNotFoundError(f"FENNIX_LIBRARY={configured} cannot be loaded: {error}") from error
    tried: List[str] = []
    for path in _beside_package():
        try:
            return _open(str(path))
        except OSError as error:
            tried.append(f"{path}: {error}")
    # The soname of the interface this package speaks, for a system without
    # the development link.
    versioned = [] if os.name == "nt" or sys.platform == "darwin" else ["libFennix.so.1"]
    system = [ctypes.util.find_library("Fennix")] + versioned + _file_names()
    for name in system:
        if not name:
            continue
        try:
            return _open(name)
        except OSError as error:
            tried.append(f"{name}: {error}")
    raise LibraryNotFoundError(
        "libFennix not found beside the package or among the system's libraries ("
        + "; ".join(tried) + ")"
    )


def library() -> ctypes.CDLL:
    """The loaded library with its prototypes set; loaded on first use."""
    global _library
    with _lock:
        if _library is None:
            lib = _load_first()
            for name, (result, arguments) in _PROTOTYPES.items():
                function = getattr(lib, name)
                function.restype = result
                function.argtypes = arguments
            _library = lib
        return _library


PathArg = Union[str, "os.PathLike[str]"]


def encode_text(text: Optional[PathArg]) -> Optional[bytes]:
    """Port names and paths as the library's 8-bit strings (None stays null)."""
    if text is None:
        return None
    if os.name == "nt":
        return os.fsdecode(text).encode("mbcs")
    return os.fsencode(text)


def decode_text(raw: Optional[bytes]) -> str:
    """The library's 8-bit texts, decoded as the system decodes file names."""
    if not raw:
        return ""
    if os.name == "nt":
        return raw.decode("mbcs", errors="replace")
    return os.fsdecode(raw)
