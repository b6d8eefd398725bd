"""Duck files: the shipped example is what its script makes, and reads back."""

import struct
import subprocess
import sys
from pathlib import Path

import pytest

from fennix import DuckFormatError, duck

ROOT = Path(__file__).resolve().parents[2]


def test_shipped_example_is_the_scripts_output_and_decodes(tmp_path):
    subprocess.run([sys.executable, ROOT / "tools/make-example-duck", tmp_path / "made.duck"], check=True,
                   stdout=subprocess.DEVNULL)
    shipped = (ROOT / "examples/example.duck").read_bytes()
    assert (tmp_path / "made.duck").read_bytes() == shipped
    entries = duck.decode(shipped)
    assert [(e.item, e.name) for e in entries] == [
        (10, None), (441, None), (20, None), (None, "ARRAY#855#0"),
        (None, "/nv/item_files/modem/mmode/sms_domain_pref"),
    ]
    assert entries[3].second is None and entries[4].value == b"\x01" and entries[4].second == b""


@pytest.mark.parametrize("data, reason", [
    (struct.pack("<ii", -1, 2) + b"/f" + struct.pack("<i", 1) + b"x",  # a device file has two values
     r"duck record 1 \('/f'\) at byte 0: the file ends inside the second value's length at byte 15"),
    (struct.pack("<ii", 7, 0) + struct.pack("<ii", 7, -3),
     r"duck record 2 \(item 7\) at byte 8: the value's length -3 at byte 12 is negative"),
], ids=["file entry without its second value", "negative length"])
def test_damage_names_the_record_its_offset_and_the_field(data, reason):
    with pytest.raises(DuckFormatError, match=reason):
        duck.decode(data)
