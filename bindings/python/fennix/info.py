"""Who a device is: the identity ``ReadDeviceInfo`` reads."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

from ._library import FennixDeviceInfo, decode_text

_MODES = {1: "at", 2: "diag", 3: "download"}


@dataclass(frozen=True)
class DeviceInfo:
    """The identity of the device on ``port``; a value it did not give is None.

    ``esn`` and ``meid`` are upper-case hex, ``imei`` 15 digits with
    ``imei_valid`` telling whether its last digit is the Luhn check digit of
    the others (None without an IMEI). ``compiled`` and ``released`` are the
    version reply's date and time joined by one space. ``device_model`` is
    the model text of the build ID reply, ``mode`` ``"at"``, ``"diag"`` or
    ``"download"`` (the mode the device was found in) and ``group`` the
    platform group number."""

    port: str
    esn: Optional[str]
    meid: Optional[str]
    imei: Optional[str]
    imei_valid: Optional[bool]
    compiled: Optional[str]
    released: Optional[str]
    version_dir: Optional[str]
    build_id: Optional[str]
    device_model: Optional[str]
    mode: Optional[str]
    group: Optional[int]


def _text(raw: bytes) -> Optional[str]:
    return decode_text(raw).strip() or None


def _joined(date: bytes, time: bytes) -> Optional[str]:
    return " ".join(part for part in (_text(date), _text(time)) if part) or None


def device_info_of(port: str, raw: FennixDeviceInfo) -> DeviceInfo:
    imei = _text(raw.imei)
    esn, meid = _text(raw.esn), _text(raw.meid)
    return DeviceInfo(
        port=port,
        esn=esn.upper() if esn else None,
        meid=meid.upper() if meid else None,
        imei=imei,
        imei_valid=None if imei is None else raw.imeiValid == 1,
        compiled=_joined(raw.compileDate, raw.compileTime),
        released=_joined(raw.releaseDate, raw.releaseTime),
        version_dir=_text(raw.versionDir),
        build_id=_text(raw.buildId),
        device_model=_text(raw.model),
        mode=_MODES.get(raw.mode),
        group=raw.group if raw.group >= 0 else None,
    )
