"""Duck files: the shipped example is what its script makes, and reads back."""

import subprocess
import sys
from pathlib import Path

from fennix import duck

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
