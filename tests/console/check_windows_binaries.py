#!/usr/bin/env python3
"""Checks the export and import tables of the Windows builds.

A 32-bit caller (C, Python ctypes) looks the exports up by their plain names,
so both Fennix.dll builds must export every function of fennix.h undecorated;
Tarnwell.exe and fennix.exe must import them under those names; every
deliverable must be of its build's machine type. Prints GoogleTest-style lines."""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from script_results import CheckRun  # noqa: E402

BUILDS = {
    # build: (objdump, file format)
    "win64": ("x86_64-w64-mingw32-objdump", "pei-x86-64"),
    "win32": ("i686-w64-mingw32-objdump", "pei-i386"),
}
DELIVERABLES = ("Fennix.dll", "Tarnwell.exe", "Quillon.exe", "fennix.exe")


def header_exports(header):
    text = open(header, encoding="utf-8").read()
    return sorted(set(re.findall(r"FENNIX_CALL\s+(\w+)\s*\(", text)))


def find(root, name):
    for directory, _, files in os.walk(root):
        if name in files:
            return os.path.join(directory, name)
    return None


def objdump(tool, path):
    """The private headers, or None when the tool cannot read the file (a
    binary of the other machine type, or no PE file at all)."""
    result = subprocess.run([tool, "-p", path], capture_output=True, text=True)
    return result.stdout if result.returncode == 0 else None


def file_format(dump):
    match = re.search(r"file format (\S+)", dump)
    return match.group(1) if match else None


def export_names(dump):
    names = []
    section = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(section) < 2:
        return names
    for line in section[1].splitlines()[1:]:
        match = re.match(r"\s*\[\s*\d+\]\s+(\S+)$", line)
        if not match:
            break
        names.append(match.group(1))
    return names


def imports_from(dump, dll):
    names = []
    blocks = re.split(r"\n\s*DLL Name: ", dump)
    for block in blocks[1:]:
        lines = block.splitlines()
        if lines[0].strip().lower() != dll.lower():
            continue
        for line in lines[2:]:
            match = re.match(r"\s*[0-9a-f]+\s+\d+\s+(\S+)", line)
            if not match:
                break
            names.append(match.group(1))
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--header", required=True)
    for build in BUILDS:
        parser.add_argument(f"--{build}", required=True, help=f"the {build} build folder")
    args = parser.parse_args()

    expected = header_exports(args.header)
    run = CheckRun("WindowsBinaries")
    run.test("HeaderDeclaresEighteenExports",
             [] if len(expected) == 18 else [f"fennix.h declares {len(expected)}: {expected}"])

    for build, (tool, wanted_format) in BUILDS.items():
        root = getattr(args, build)
        dumps = {}
        problems = []
        for name in DELIVERABLES:
            path = find(root, name)
            if path is None:
                problems.append(f"{name} not found under {root} (./run build {build})")
                continue
            dump = objdump(tool, path)
            if dump is None:
                problems.append(f"{path}: {tool} cannot read it")
                continue
            dumps[name] = dump
            got = file_format(dump)
            if got != wanted_format:
                problems.append(f"{path}: file format {got}, expected {wanted_format}")
        run.test(f"{build}_DeliverablesHaveTheMachineType", problems)

        dll = dumps.get("Fennix.dll")
        exports = export_names(dll) if dll else []
        problems = [] if dll else ["no Fennix.dll"]
        problems += [f"missing export {n}" for n in expected if n not in exports]
        problems += [f"decorated export {n}" for n in exports if "@" in n or n.startswith("_")]
        run.test(f"{build}_FennixExportsEveryFunctionPlainly", problems)

        for program, test in (("Tarnwell.exe", "TarnwellImportsPlainNamesFromFennix"),
                              ("fennix.exe", "ToolImportsPlainNamesFromFennix")):
            exe = dumps.get(program)
            imported = imports_from(exe, "Fennix.dll") if exe else []
            problems = [] if exe else [f"no {program}"]
            if exe and not imported:
                problems.append(f"{program} imports nothing from Fennix.dll")
            problems += [f"import {n} is not exported by Fennix.dll" for n in imported if n not in exports]
            problems += [f"import {n} is not declared in fennix.h" for n in imported if n not in expected]
            if exe and program == "fennix.exe" and "(Windows CUI)" not in exe:
                problems.append("fennix.exe is not a console program")
            run.test(f"{build}_{test}", problems)

    return run.summary()


if __name__ == "__main__":
    sys.exit(main())
