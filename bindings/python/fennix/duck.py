"""Duck files: the NV items and device files that ``import_duck`` writes.

Little-endian records up to the end of the file, no header:

- numbered: a signed 32-bit item number (not -1), a signed 32-bit length L,
  L value bytes;
- named: -1, a name length M, M name bytes (a NUL ends the name early), a
  length L1 and L1 bytes and, unless the name is an ARRAY name
  (``ARRAY#<item>``), a length L2 and L2 bytes: a device file's path, its
  contents and a second value the library carries but never sends.

The library refuses a file that ends inside a record or holds a negative
length whole; :func:`decode` says where and why.
"""

from __future__ import annotations

import struct
from typing import List, NamedTuple, Optional

from ._library import PathArg
from .errors import DuckFormatError

_INT32 = struct.Struct("<i")


class Entry(NamedTuple):
    """One record: ``item`` for a numbered item (``name`` None), else ``name``
    with ``value`` and, for a device file, ``second``."""

    item: Optional[int]
    name: Optional[str]
    value: bytes
    second: Optional[bytes] = None


def is_array_name(name: str) -> bool:
    fields = [field for field in name.split("#") if field]
    return bool(fields) and fields[0] == "ARRAY"


def decode(data: bytes) -> List[Entry]:
    """The records of a duck file's bytes; raises :class:`DuckFormatError`
    naming the record, its byte offset and the field that is damaged."""
    view = memoryview(data)
    at = 0
    entries: List[Entry] = []

    def field(what: str) -> int:
        nonlocal at
        if len(view) - at < _INT32.size:
            raise DuckFormatError(f"{where}: the file ends inside {what} at byte {at}")
        (value,) = _INT32.unpack_from(view, at)
        at += _INT32.size
        return value

    def counted(what: str) -> bytes:
        nonlocal at
        start = at
        length = field(f"the {what}'s length")
        if length < 0:
            raise DuckFormatError(f"{where}: the {what}'s length {length} at byte {start} is negative")
        if len(view) - at < length:
            raise DuckFormatError(
                f"{where}: the {what}'s length {length} at byte {start} runs past the end of the file ({len(view)} bytes)"
            )
        at += length
        return bytes(view[at - length : at])

    while at < len(view):
        record, start = len(entries) + 1, at
        where = f"duck record {record} at byte {start}"
        first = field("its first field")
        if first != -1:
            where = f"duck record {record} (item {first}) at byte {start}"
            entries.append(Entry(first, None, counted("value")))
            continue
        name = counted("name").split(b"\0", 1)[0].decode("latin-1")
        where = f"duck record {record} ({name!r}) at byte {start}"
        if is_array_name(name):
            entries.append(Entry(None, name, counted("value")))
        else:
            entries.append(Entry(None, name, counted("first value"), counted("second value")))
    return entries


def read(path: PathArg) -> List[Entry]:
    """The records of the duck file at ``path``; raises
    :class:`DuckFormatError` for a damaged file and OSError when it cannot be
    read."""
    with open(path, "rb") as file:
        return decode(file.read())
