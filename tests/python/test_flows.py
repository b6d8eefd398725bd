"""The package's flows against virtual devices."""

import os
import signal
import threading
import time
from importlib import metadata

import pytest

import fennix
from fennix import brt

ROLES = ("partition", "qcsblhd", "qcsbl", "oemsblhd", "oemsbl", "amsshd", "amss", "cefs")
# What the device holds after a flash -> the role whose file it must equal.
FLASHED = {"partition.bin": "partition", "image-2.bin": "qcsblhd", "image-3.bin": "qcsbl",
           "image-4.hdr": "oemsblhd", "image-4.bin": "oemsbl", "image-5.hdr": "amsshd",
           "image-5.bin": "amss", "image-9.bin": "cefs"}


def os_threads() -> int:
    return len(os.listdir("/proc/self/task"))


def os_threads_once_settled(expected: int) -> int:
    """os_threads() once joined threads have finished leaving, which they do
    just after the join (waits at most 5 s)."""
    deadline = time.monotonic() + 5
    while os_threads() != expected and time.monotonic() < deadline:
        time.sleep(0.01)
    return os_threads()


def test_flash_writes_every_image_and_reports_each_line(images, start_device):
    device = start_device("download")
    seen, events = [], []
    with fennix.Session(device.port) as session:
        result = session.flash(images["programmer"], **{r: images[r] for r in ROLES}, on_line=seen.append,
                               on_event=events.append)
    assert session.closed
    assert result.code == 1 and result.failure is None and result.cause == fennix.Cause.NONE
    # The events: every line once more, the stages in download order, each
    # streamed image's bytes, and the end last.
    Kind, Stage = fennix.EventKind, fennix.Stage
    assert [(e.text, e.status) for e in events if e.kind == Kind.LINE] == [(l.text, l.status) for l in seen]
    entered = [e.stage for e in events if e.kind == Kind.STAGE]
    firsts = sorted(set(entered), key=entered.index)
    assert firsts == [Stage.OPEN, Stage.MODE_SWITCH, Stage.PROGRAMMER, Stage.HELLO, Stage.PARTITION_TABLE,
                      Stage.IMAGE_OPEN, Stage.IMAGE_WRITE, Stage.IMAGE_CLOSE, Stage.RESET, Stage.POWER_ON_CHECK]
    written = {e.image_name: (e.done, e.total) for e in events
               if e.kind == Kind.PROGRESS and e.stage == Stage.IMAGE_WRITE}
    bodies = sum(images[r].stat().st_size for r in ("qcsblhd", "qcsbl", "oemsbl", "amss", "cefs"))
    assert len(written) == 5 and all(done == total for done, total in written.values())
    assert sum(done for done, _ in written.values()) == bodies
    assert events[-1].kind == Kind.END and events[-1].result == 1 and events[-1].cause == fennix.Cause.NONE
    assert list(result.lines) == seen
    assert seen[0] == fennix.Line("Start To Download Process...", 0)
    assert seen[-1] == fennix.Line("Download Process Success!!", 0)
    assert (device.flash / "programmer.bin").read_bytes() == (images["programmer"].parent / "programmer.bin").read_bytes()
    for held, role in FLASHED.items():
        assert (device.flash / held).read_bytes() == images[role].read_bytes(), held


def test_windowed_flash_over_a_modelled_link_writes_every_image(images, start_device):
    device = start_device("download", knobs={"link.profile": 2, "dl.window": 8, "dl.max-block": 4096})
    result = fennix.flash(device.port, images["programmer"], **{r: images[r] for r in ROLES}, window="auto",
                          block="auto")
    assert result.code == 1
    for held, role in FLASHED.items():
        assert (device.flash / held).read_bytes() == images[role].read_bytes(), held
    for bad in ({"window": 0}, {"window": "8"}, {"window": True}, {"block": 4096}):
        with pytest.raises(ValueError):
            fennix.flash(device.port, images["programmer"], **{r: images[r] for r in ROLES}, **bad)


def test_refused_image_raises_with_its_line_and_stops_there(images, start_device):
    device = start_device("download", knobs={"dl.refuse-open": 5})  # the AMSS image
    iterator = fennix.iter_lines(fennix.flash, device.port, images["programmer"], **{r: images[r] for r in ROLES})
    lines = []
    with pytest.raises(fennix.FlashError) as raised:
        for line in iterator:
            lines.append(line)
    error = raised.value
    assert error.line == fennix.Line("Download AMSSHD and AMSS File Failed!!", -1)
    assert error.cause == fennix.Cause.IMAGE_OPEN_REFUSED
    assert error.result < 0 and tuple(lines) == error.lines
    assert "Download OEMSBLHD and OEMSBL File Success!!" in [line.text for line in lines]
    assert not (device.flash / "image-9.bin").exists()  # CEFS comes after AMSS


def streaming(event):
    return event.kind == fennix.EventKind.PROGRESS and event.stage == fennix.Stage.IMAGE_WRITE


@pytest.mark.parametrize("how", ["raised by on_line", "raised by on_event", "SIGINT while waiting",
                                 "iterator left early"])
def test_interrupted_flash_closes_the_session_and_leaves_no_thread(images, start_device, how):
    device = start_device("download")
    before_python, before_os = threading.active_count(), os_threads()
    session = fennix.Session(device.port)
    arguments = dict(programmer=images["programmer"], **{r: images[r] for r in ROLES})
    started = threading.Event()

    def on_event(event):
        if streaming(event):
            if how == "raised by on_event":
                raise KeyboardInterrupt
            started.set()

    if how == "iterator left early":
        with fennix.iter_lines(session.flash, on_event=on_event, **arguments) as lines:
            next(line for line in lines if started.is_set())
    else:
        def on_line(line):
            if how == "raised by on_line" and started.is_set():
                raise KeyboardInterrupt

        def interrupt():  # as Ctrl-C would, while the main thread waits for the flow
            if started.wait(20):
                os.kill(os.getpid(), signal.SIGINT)

        sender = threading.Thread(target=interrupt, daemon=True)
        if how == "SIGINT while waiting":
            sender.start()
        with pytest.raises(KeyboardInterrupt):
            session.flash(**arguments, on_line=on_line, on_event=on_event)
        if sender.is_alive():
            sender.join()
    assert session.closed
    with pytest.raises(fennix.SessionClosedError):
        session.backup("items.csv", "nv.brt")
    assert not (device.flash / "image-9.bin").exists()
    assert threading.active_count() == before_python and os_threads_once_settled(before_os) == before_os


STORE = """item 550 plain 0102030405
item 20 indexed a1a2a3
item 21 indexed b1 b2 b3
missing 5
"""


def test_backup_and_restore_round_trip_through_the_device(tmp_path, start_device):
    store = tmp_path / "device.nv"
    store.write_text(STORE)
    device = start_device("diag", store=store)
    csv = tmp_path / "items.csv"
    csv.write_text("name;number\nplain;550\nindexed;20\nthree;21\nabsent;777\n")
    with fennix.Session(device.port) as session:
        backup = session.backup(csv, tmp_path / "first.brt")
        records = brt.read(tmp_path / "first.brt")
        assert [r.item for r in records] == [550, 20, 21]
        assert records[0].value == bytes.fromhex("0102030405").ljust(128, b"\0")
        assert len(records[2].value) == 3 * 128
        assert backup.lines[-1] == fennix.Line("BackupBrt Success!!", 0)

        changed = [brt.Record(550, bytes.fromhex("f0efeeed").ljust(128, b"\0"))] + records[1:]
        brt.write(tmp_path / "changed.brt", changed)
        session.restore(tmp_path / "changed.brt")
        assert "item 550 plain f0efeeed" in store.read_text()
        session.backup(csv, tmp_path / "second.brt")
        assert brt.read(tmp_path / "second.brt") == changed

        (tmp_path / "damaged.brt").write_bytes(brt.encode(changed)[:-1])
        before = store.read_text()
        seen = []
        with pytest.raises(fennix.BrtFormatError, match="ends inside the value of record 3"):
            session.restore(tmp_path / "damaged.brt", on_line=seen.append)
        assert seen == [] and store.read_text() == before  # refused before the port was opened


def test_flash_refuses_a_missing_programmer_before_the_port_is_opened(images, start_device, tmp_path):
    device = start_device("diag")
    seen = []
    with pytest.raises(fennix.FlashError, match="not a readable file") as raised:
        fennix.flash(device.port, tmp_path / "NPRG6260.HEX", **{r: images[r] for r in ROLES}, on_line=seen.append)
    assert raised.value.cause == fennix.Cause.FILE_MISSING and seen == []


def test_duck_import_writes_its_items_and_refuses_a_damaged_file(tmp_path, start_device):
    store = tmp_path / "device.nv"
    store.write_text("item 550 plain 00\nmissing 5\n")
    device = start_device("diag", store=store)
    duck = brt.encode([brt.Record(550, bytes.fromhex("c0ffee"))])[4:]  # a duck record has no count
    (tmp_path / "items.duck").write_bytes(duck)
    (tmp_path / "damaged.duck").write_bytes(duck[:-1])
    with fennix.Session(device.port) as session:
        result = session.import_duck(tmp_path / "items.duck")
        assert result.code == 1 and result.cause == fennix.Cause.NONE
        assert "item 550 plain c0ffee" in store.read_text()
        before, seen = store.read_text(), []
        reason = r"duck record 1 \(item 550\) at byte 0: the value's length 3 at byte 4 runs past the end"
        with pytest.raises(fennix.DuckFormatError, match=reason) as raised:
            session.import_duck(tmp_path / "damaged.duck", on_event=seen.append)
    assert raised.value.result == 0 and raised.value.line is None
    assert raised.value.cause == fennix.Cause.FILE_DAMAGED and isinstance(raised.value, fennix.NvError)
    assert seen == [] and store.read_text() == before  # refused before the port was opened


def test_list_ports_names_the_qualcomm_driver_ports(tmp_path, monkeypatch):
    for tty, driver in (("ttyUSB3", "qcserial"), ("ttyS0", "serial8250")):
        (tmp_path / "class/tty" / tty / "device").mkdir(parents=True)
        (tmp_path / "class/tty" / tty / "device/driver").symlink_to(tmp_path / "bus/drivers" / driver)
    monkeypatch.setenv("FENNIX_SYSFS_ROOT", str(tmp_path))
    assert fennix.list_ports() == ["/dev/ttyUSB3"]


def test_package_carries_the_toolkits_version():
    project = os.environ.get("FENNIX_PROJECT_VERSION")
    if not project:
        pytest.skip("the build has no project version")
    assert fennix.__version__ == metadata.version("fennix") == project


def test_a_named_library_wins_over_a_copy_beside_the_package(tmp_path, monkeypatch):
    from fennix import _library

    named = os.environ["FENNIX_LIBRARY"]
    beside = tmp_path / "libFennix.so"
    beside.write_bytes(open(named, "rb").read())
    monkeypatch.setattr(_library, "_beside_package", lambda: [beside])
    assert _library._load_first()._name == named
    monkeypatch.setenv("FENNIX_LIBRARY", str(tmp_path / "missing.so"))
    with pytest.raises(fennix.LibraryNotFoundError, match="missing.so"):
        _library._load_first()


def test_info_reads_the_identity_and_a_missing_port_raises(tmp_path, start_device):
    device = start_device("at", knobs={"id.esn": 0x8A1B2C3D, "id.imei": 490154203237519, "nv.refuse-item": 1943})
    info = fennix.info(device.port)
    assert isinstance(info, fennix.DeviceInfo)
    assert (info.port, info.esn, info.imei, info.imei_valid, info.meid) == (
        device.port, "8A1B2C3D", "490154203237519", False, None)
    assert info.mode == "at" and info.group in (0, 1)
    assert info.build_id and info.compiled and " " in info.compiled
    with pytest.raises(AttributeError):
        info.esn = "0"
    with pytest.raises(fennix.FennixError) as failure:
        fennix.info(tmp_path / "no-such-port")
    assert failure.value.result == -1 and failure.value.cause == fennix.Cause.PORT_MISSING
