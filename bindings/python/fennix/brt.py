"""BRT files: the NV backups that libFennix writes and restores.

Little-endian, no header beyond the count, no padding: a signed 32-bit record
count, then the records back to back, each a signed 32-bit item number, a
signed 32-bit value length L and L value bytes. The rules are the library's:
a file that ends inside a record, or holds a negative count or length, is
refused whole; bytes after the last record are ignored.
"""

from __future__ import annotations

import os
import secrets
import struct
from typing import Iterable, List, NamedTuple, Tuple, Union

from ._library import PathArg
from .errors import BrtFormatError

_INT32 = struct.Struct("<i")
_RECORD_HEAD = struct.Struct("<ii")
_INT32_RANGE = range(-(2**31), 2**31)


class Record(NamedTuple):
    """One NV item: its number as stored (not reduced to 16 bits) and its value."""

    item: int
    value: bytes


RecordLike = Union[Record, Tuple[int, bytes]]


def decode(data: bytes) -> List[Record]:
    """The records of a BRT file's bytes; raises :class:`BrtFormatError` for a
    damaged file."""
    view = memoryview(data)
    if len(view) < _INT32.size:
        raise BrtFormatError(f"BRT data of {len(view)} bytes has no record count")
    (count,) = _INT32.unpack_from(view, 0)
    if count < 0:
        raise BrtFormatError(f"BRT record count {count} is negative")
    records: List[Record] = []
    at = _INT32.size
    for index in range(count):
        if len(view) - at < _RECORD_HEAD.size:
            raise BrtFormatError(f"BRT data ends inside record {index + 1} of {count}")
        item, length = _RECORD_HEAD.unpack_from(view, at)
        at += _RECORD_HEAD.size
        if length < 0:
            raise BrtFormatError(f"BRT record {index + 1} (item {item}) has the negative length {length}")
        if len(view) - at < length:
            raise BrtFormatError(f"BRT data ends inside the value of record {index + 1} (item {item})")
        records.append(Record(item, bytes(view[at : at + length])))
        at += length
    return records


def encode(records: Iterable[RecordLike]) -> bytes:
    """The bytes of a BRT file holding ``records`` in order."""
    parts = [b""]
    count = 0
    for item, value in records:
        if item not in _INT32_RANGE:
            raise ValueError(f"NV item number {item} does not fit a signed 32-bit field")
        value = bytes(value)
        if len(value) not in _INT32_RANGE:
            raise ValueError(f"value of item {item} is too long for a BRT record")
        parts.append(_RECORD_HEAD.pack(item, len(value)))
        parts.append(value)
        count += 1
    if count not in _INT32_RANGE:
        raise ValueError("too many records for a BRT file")
    parts[0] = _INT32.pack(count)
    return b"".join(parts)


def read(path: PathArg) -> List[Record]:
    """The records of the BRT file at ``path``; raises :class:`BrtFormatError`
    for a damaged file and OSError when it cannot be read."""
    with open(path, "rb") as file:
        return decode(file.read())


def write(path: PathArg, records: Iterable[RecordLike]) -> None:
    """Writes ``records`` as the BRT file at ``path``. The bytes go to a file
    of this call's own beside it (``<path>.<random>.part``, created
    exclusively) that is moved over ``path`` only when complete: an existing
    backup is never left half-overwritten, and two writers of one path each
    land a whole file."""
    data = encode(records)
    target = os.path.abspath(os.fsdecode(path))
    part = f"{target}.{secrets.token_hex(4)}.part"
    # Exclusive, with the permissions a plain new file gets.
    descriptor = os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0), 0o666)
    try:
        with open(descriptor, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        os.replace(part, target)
    except BaseException:
        if os.path.exists(part):
            os.remove(part)
        raise
