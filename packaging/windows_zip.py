#!/usr/bin/env python3
"""Makes the Windows zip of one architecture from a `cmake --install` tree:

    windows_zip.py <install prefix> <zip>

The zip holds the files below, side by side, the example item list and duck
file in examples/ (where docs/formats.md links), and the README's reference
pages in docs/. Its bytes depend on theirs only:
entries in a fixed order, every time stamp SOURCE_DATE_EPOCH (the commit's
time; 1980-01-01 when unset), fixed permissions and compression."""
import os
import sys
import time
import zipfile

FILES = [  # (name in the zip, place in the install tree)
    ("Fennix.dll", "bin/Fennix.dll"),
    ("Fennix.lib", "lib/Fennix.lib"),
    ("fennix.h", "include/fennix/fennix.h"),
    ("Tarnwell.exe", "bin/Tarnwell.exe"),
    ("Quillon.exe", "bin/Quillon.exe"),
    ("fennix.exe", "bin/fennix.exe"),
    ("README.md", "share/doc/fennix/README.md"),
    ("LICENSE", "share/doc/fennix/LICENSE"),
    ("examples/nv-items.csv", "share/doc/fennix/examples/nv-items.csv"),
    ("examples/example.duck", "share/doc/fennix/examples/example.duck"),
]
# Files a zip may go without (none: every listed file is required).
OPTIONAL: set = set()
EARLIEST_ZIP_TIME = 315532800  # 1980-01-01, the first time a zip entry can carry


def entry_time():
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "0")), EARLIEST_ZIP_TIME)
    return time.gmtime(epoch)[:6]


def files(prefix):
    """FILES and the reference pages the README links to (docs/*.md)."""
    pages = os.path.join(prefix, "share/doc/fennix/docs")
    found = sorted(n for n in os.listdir(pages) if n.endswith(".md")) if os.path.isdir(pages) else []
    return FILES + [("docs/" + n, "share/doc/fennix/docs/" + n) for n in found]


def make_zip(prefix, out):
    stamp = entry_time()
    missing = []
    with zipfile.ZipFile(out + ".part", "w") as archive:
        for name, place in sorted(files(prefix)):
            path = os.path.join(prefix, place)
            if not os.path.isfile(path):
                if name not in OPTIONAL:
                    missing.append(place)
                continue
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            with open(path, "rb") as source:
                archive.writestr(info, source.read(), compresslevel=9)
    if missing:
        os.remove(out + ".part")
        raise SystemExit(f"windows_zip: {prefix} lacks {', '.join(missing)}")
    os.replace(out + ".part", out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    make_zip(sys.argv[1], sys.argv[2])
