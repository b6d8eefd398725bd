"""Fixtures of the Python package's tests: virtual devices (msm-sim) and a
small image set. run_pytest.sh sets FENNIX_MSM_SIM, FENNIX_LIBRARY and
FENNIX_TIME_SCALE."""

import os
import random
import subprocess
from pathlib import Path
from typing import Optional

import pytest


def intel_hex(segment: int, data: bytes) -> str:
    def record(kind: int, address: int, payload: bytes) -> str:
        raw = bytes([len(payload), address >> 8, address & 0xFF, kind]) + payload
        return ":%s%02X\r\n" % (raw.hex().upper(), -sum(raw) & 0xFF)

    body = "".join(record(0, at, data[at : at + 32]) for at in range(0, len(data), 32))
    return record(4, 0, segment.to_bytes(2, "big")) + body + record(1, 0, b"")


@pytest.fixture
def images(tmp_path: Path) -> dict:
    """Role -> path of a small image set; "programmer.bin" holds what the HEX file carries."""
    rng = random.Random(19)
    sizes = {"partition": 160, "qcsblhd": 300, "qcsbl": 6000, "oemsblhd": 40, "oemsbl": 9000,
             "amsshd": 40, "amss": 120_000, "cefs": 7000}
    folder = tmp_path / "images"
    folder.mkdir()
    paths = {}
    for role, size in sizes.items():
        paths[role] = folder / f"{role}.mbn"
        paths[role].write_bytes(rng.randbytes(size))
    programmer = rng.randbytes(5000)
    (folder / "programmer.bin").write_bytes(programmer)
    paths["programmer"] = folder / "programmer.hex"
    paths["programmer"].write_text(intel_hex(0x0010, programmer))
    return paths


class Device:
    """One msm-sim device: its port, and the folder where it shows what it was flashed with."""

    def __init__(self, folder: Path, mode: str, knobs: dict, store: Optional[Path] = None) -> None:
        self.flash = folder / "flash"
        self.flash.mkdir(parents=True)
        env = dict(os.environ, FENNIX_SIM_FLASH_DIR=str(self.flash))
        if store is not None:
            env["FENNIX_SIM_NV_STORE"] = str(store)
        command = [os.environ["FENNIX_MSM_SIM"], "--dir", str(folder), "--name", "port", "--mode", mode,
                   "--vanish-ms", "100", "--no-stdin"]
        for name, value in knobs.items():
            command += ["--knob", f"{name}={value}"]
        self.process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, text=True)
        self.port = self.process.stdout.readline().strip()
        assert self.port, "msm-sim did not start"

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture
def start_device(tmp_path: Path):
    """start_device(mode="download", store=None, knobs={}) -> Device; stopped after the test."""
    devices = []

    def start(mode: str = "download", store: Optional[Path] = None, knobs: Optional[dict] = None) -> Device:
        device = Device(tmp_path / f"device{len(devices)}", mode, knobs or {}, store)
        devices.append(device)
        return device

    yield start
    for device in devices:
        device.stop()
