#!/usr/bin/python3
"""Reads the import tables (ordinary and delay-loaded) of Windows programs with pefile, a PE reader
independent of our build, and fails on any DLL or function outside the allow-list of what Windows
7 SP1 exports, and on a program whose headers ask for a newer Windows.

  check_imports.py --allow LIST EXE...                 every EXE must pass
  check_imports.py --allow LIST --expect-refused FUNC EXE
                                                       EXE must be refused, for FUNC among others
"""
import argparse
import sys

import pefile

WINDOWS_7 = (6, 1)


def read_allow_list(path):
    allowed = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].split()
            if len(line) >= 2:
                allowed.add((line[0].lower(), line[1]))
    return allowed


def imports_of(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    found = []
    for table in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for entry in getattr(pe, table, []):
            dll = entry.dll.decode("ascii", "replace").lower()
            for imp in entry.imports:
                name = imp.name.decode("ascii", "replace") if imp.name else "#%d" % imp.ordinal
                found.append((dll, name))
    header = pe.OPTIONAL_HEADER
    versions = {
        "operating system": (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
        "subsystem": (header.MajorSubsystemVersion, header.MinorSubsystemVersion),
    }
    return found, versions


def refusals(path, allowed):
    found, versions = imports_of(path)
    problems = ["%s!%s is not on the Windows 7 list" % (dll, name)
                for dll, name in found if (dll, name) not in allowed]
    for what, version in versions.items():
        if version > WINDOWS_7:
            problems.append("%s version %d.%d is newer than Windows 7" % ((what,) + version))
    if not found:
        problems.append("no imports read (not a program?)")
    return found, problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--allow", required=True)
    ap.add_argument("--expect-refused")
    ap.add_argument("programs", nargs="+")
    args = ap.parse_args()
    allowed = read_allow_list(args.allow)
    status = 0
    for program in args.programs:
        found, problems = refusals(program, allowed)
        if args.expect_refused:
            named = [p for p in problems if ("!" + args.expect_refused + " ") in p]
            if named:
                print("%s: refused as expected: %s" % (program, "; ".join(problems)))
            else:
                print("%s: NOT refused for %s (%d imports read)" % (program, args.expect_refused,
                                                                  len(found)))
                status = 1
        elif problems:
            print("%s: %d imports, refused:" % (program, len(found)))
            for p in problems:
                print("  " + p)
            status = 1
        else:
            print("%s: %d imports, all on the Windows 7 list" % (program, len(found)))
    return status


if __name__ == "__main__":
    sys.exit(main())
