#!/usr/bin/env python3
"""Makes the Windows zips from the win64 and win32 builds as the package step
does, and checks them: exactly the listed files, an import library free of
the build's path, the same bytes when made again, the binaries without a link time stamp and with the version resource
of the release, the header the tree's own, and an x86 import library that
resolves a 32-bit caller's decorated names. GoogleTest-style lines."""
import argparse
import os
import re
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from script_results import CheckRun  # noqa: E402

ARCHITECTURES = {"win64": "x86_64-w64-mingw32", "win32": "i686-w64-mingw32"}
EXPECTED = {"Fennix.dll", "Fennix.lib", "fennix.h", "Tarnwell.exe", "Quillon.exe", "fennix.exe", "README.md", "LICENSE",
            "examples/nv-items.csv", "examples/example.duck"}
# The command-line tool belongs in every zip.
REQUIRE_TOOL = True
BINARIES = ("Fennix.dll", "Tarnwell.exe", "Quillon.exe", "fennix.exe")


def pe_time_stamp(data):
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<I", data, header + 8)[0]


def build_path_problems(name, data, build_dir):
    """A build folder's path inside a file makes it differ from a build elsewhere
    (dlltool names symbols after its output path). The binaries of these test
    builds carry it in their debug information; the release builds have none."""
    mangled = re.sub(r"[^A-Za-z0-9]", "_", build_dir)
    return [f"{name} holds the build path" for text in (build_dir, mangled) if text.encode() in data]


def version_problems(windres, path, version):
    """The version resource, decompiled by windres, must carry the version."""
    result = subprocess.run([windres, "-i", path, "-J", "coff", "-O", "rc"], capture_output=True, text=True)
    if result.returncode != 0:
        return [f"windres cannot read it: {result.stderr.strip()}"]
    rc = result.stdout
    numbers = ", ".join(version.split(".") + ["0"])
    wanted = [f"FILEVERSION {numbers}", f"PRODUCTVERSION {numbers}",
              f'VALUE "FileVersion", "{version}"', f'VALUE "ProductVersion", "{version}"']
    return [f"version resource lacks {line}" for line in wanted if line not in rc]


def make_zip(args, build, work):
    """The zip of one build, made twice; (path, problems)."""
    stage = os.path.join(work, "stage")
    subprocess.run(["rm", "-rf", stage], check=True)
    install = subprocess.run([args.cmake, "--install", getattr(args, build), "--prefix", stage],
                             capture_output=True, text=True)
    if install.returncode != 0:
        return None, [f"cmake --install failed: {install.stderr.strip()}"]
    maker = os.path.join(args.source, "packaging", "windows_zip.py")
    paths = [os.path.join(work, f"{build}-{n}.zip") for n in (1, 2)]
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    for path in paths:
        made = subprocess.run([sys.executable, maker, stage, path], capture_output=True, text=True, env=env)
        if made.returncode != 0:
            return None, [made.stdout + made.stderr]
    same = open(paths[0], "rb").read() == open(paths[1], "rb").read()
    return paths[0], [] if same else ["made twice, the zips differ"]


def main():
    parser = argparse.ArgumentParser()
    for option in ("--source", "--win64", "--win32", "--version", "--work", "--cmake"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    header = open(os.path.join(args.source, "engine", "include", "fennix", "fennix.h"), "rb").read()
    run = CheckRun("WindowsZips")
    for build, triplet in ARCHITECTURES.items():
        work = os.path.join(args.work, build)
        os.makedirs(work, exist_ok=True)
        path, problems = make_zip(args, build, work)
        run.test(f"{build}_ZipIsTheSameWhenMadeAgain", problems)
        if path is None:
            continue
        archive = zipfile.ZipFile(path)
        names = set(archive.namelist())
        pages = {"docs/" + n for n in os.listdir(os.path.join(args.source, "docs")) if n.endswith(".md")}
        required = (EXPECTED if REQUIRE_TOOL else EXPECTED - {"fennix.exe"}) | pages
        problems = [f"missing {n}" for n in sorted(required - names)]
        problems += [f"unexpected {n}" for n in sorted(names - EXPECTED - pages)]
        if "fennix.h" in names and archive.read("fennix.h") != header:
            problems.append("fennix.h is not the tree's header")
        if "Fennix.lib" in names:
            build_dir = os.path.realpath(getattr(args, build))
            problems += build_path_problems("Fennix.lib", archive.read("Fennix.lib"), build_dir)
        run.test(f"{build}_ZipHoldsExactlyTheListedFiles", problems)

        problems = []
        for name in BINARIES:
            if name not in names:
                continue
            extracted = archive.extract(name, os.path.join(work, "unzipped"))
            if pe_time_stamp(open(extracted, "rb").read()) != 0:
                problems.append(f"{name}: link time in the PE header")
            problems += [f"{name}: {p}" for p in version_problems(f"{triplet}-windres", extracted, args.version)]
        run.test(f"{build}_BinariesCarryTheVersion", problems)

        if build == "win32" and "Fennix.lib" in names:
            library = archive.extract("Fennix.lib", os.path.join(work, "unzipped"))
            symbols = subprocess.run([f"{triplet}-nm", library], capture_output=True, text=True).stdout
            run.test("win32_ImportLibraryResolvesDecoratedNames",
                     [] if re.search(r"\b_StartLog@0\b", symbols) else ["no _StartLog@0 in Fennix.lib"])
    return run.summary()


if __name__ == "__main__":
    sys.exit(main())
