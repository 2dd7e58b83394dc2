#!/usr/bin/python3
"""Zips of the sample skin made by other tools than the project: Info-ZIP's zip at every level,
with a longest comment, with a top-level folder and with a Mac "__MACOSX" tree, and Python's
zipfile stored and deflated, with and without the UTF-8 name flag and with a code page 437 name.

usage: make_zip_samples.py SKIN_FOLDER OUT_FOLDER"""
import os
import shutil
import subprocess
import sys
import zipfile

skin, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
work = os.path.join(out, "work")
shutil.rmtree(work, ignore_errors=True)
flat = os.path.join(work, "flat")
shutil.copytree(skin, flat, ignore=shutil.ignore_patterns("art"))
files = sorted(f for f in os.listdir(flat) if os.path.isfile(os.path.join(flat, f)))


def zip_tool(name, *args, cwd=flat):
    path = os.path.join(out, name)
    if os.path.exists(path):
        os.remove(path)
    subprocess.run(["zip", "-q", "-X", *args, path] + (files if cwd == flat else ["skin"]),
                   cwd=cwd, check=True)
    return path


zip_tool("infozip_stored.zip", "-0")
for level in range(1, 10):
    zip_tool("infozip_l%d.zip" % level, "-%d" % level)
commented = zip_tool("infozip_comment.zip", "-9")
subprocess.run(["zip", "-q", "-z", commented], input=b"c" * 65535, check=True)

nested = os.path.join(work, "nested")
shutil.copytree(flat, os.path.join(nested, "skin"))
subprocess.run(["zip", "-q", "-X", "-r", os.path.join(out, "infozip_folder.zip"), "skin"],
               cwd=nested, check=True)
mac = os.path.join(work, "mac")
shutil.copytree(flat, os.path.join(mac, "skin"))
os.makedirs(os.path.join(mac, "__MACOSX", "skin"))
for f in files:  # resource-fork files named like the real ones
    with open(os.path.join(mac, "__MACOSX", "skin", "._" + f), "wb") as stream:
        stream.write(b"\x00\x05\x16\x07 Mac OS X attributes")
with open(os.path.join(mac, "__MACOSX", "skin", "skin.xml"), "wb") as stream:
    stream.write(b"not a skin")
subprocess.run(["zip", "-q", "-X", "-r", os.path.join(out, "infozip_macosx.zip"), "skin", "__MACOSX"],
               cwd=mac, check=True)


def py_zip(name, method, extra=()):
    path = os.path.join(out, name)
    with zipfile.ZipFile(path, "w", method) as z:
        for f in files:
            z.write(os.path.join(flat, f), f)
        for arcname, data in extra:
            z.writestr(zipfile.ZipInfo(arcname), data, compress_type=method)
    return path


py_zip("python_stored.zip", zipfile.ZIP_STORED)
py_zip("python_deflated.zip", zipfile.ZIP_DEFLATED)
# zipfile sets the UTF-8 flag only for names outside ASCII.
py_zip("python_utf8.zip", zipfile.ZIP_DEFLATED, [("g\u00f6rsel_\u015fi.png", b"utf8-named")])
# A DOS-era name: byte 0x81 is u-umlaut in code page 437. zipfile would write it as UTF-8, so the
# name is written with a placeholder and patched in both headers (the CRC covers data only).
path = py_zip("python_cp437.zip", zipfile.ZIP_DEFLATED, [("dos_\x7fname.png", b"cp437-named")])
data = open(path, "rb").read()
assert data.count(b"dos_\x7fname.png") == 2
open(path, "wb").write(data.replace(b"dos_\x7fname.png", b"dos_\x81name.png"))
shutil.rmtree(work)
