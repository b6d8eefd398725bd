"""BRT files: the layout the library reads and writes, and damaged files refused."""

import struct

import pytest

from fennix import BrtFormatError, brt

RECORDS = [brt.Record(550, bytes(range(128))), brt.Record(65546, b""), brt.Record(-7, b"\xff" * 384)]


def test_layout_is_a_count_then_number_length_value(tmp_path):
    assert brt.encode([(550, b"\x01\x02")]) == bytes.fromhex("01000000" "26020000" "02000000" "0102")
    brt.write(tmp_path / "nv.brt", RECORDS)
    assert brt.read(tmp_path / "nv.brt") == RECORDS
    assert [p.name for p in tmp_path.iterdir()] == ["nv.brt"]  # no .part left behind
    assert brt.decode(brt.encode([]) + b"trailing") == []


DAMAGED = {
    "no whole count": b"\x01\x00",
    "negative count": struct.pack("<i", -1),
    "ends inside a record's head": struct.pack("<ii", 1, 550),
    "ends inside a value": struct.pack("<iii", 1, 550, 5) + b"\0" * 4,
    "negative length": struct.pack("<iii", 1, 550, -1) + b"\0" * 8,
    "last byte missing": brt.encode(RECORDS)[:-1],
    "promises more than it holds": struct.pack("<i", 4) + brt.encode(RECORDS)[4:],
}


@pytest.mark.parametrize("data", DAMAGED.values(), ids=DAMAGED.keys())
def test_damaged_files_are_refused(tmp_path, data):
    (tmp_path / "damaged.brt").write_bytes(data)
    with pytest.raises(BrtFormatError):
        brt.read(tmp_path / "damaged.brt")


def test_values_that_do_not_fit_are_refused():
    with pytest.raises(ValueError):
        brt.encode([(2**31, b"")])
