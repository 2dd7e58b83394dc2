#!/usr/bin/python3
"""Small copies of the hostile zips of tests/support/hostile_zips.h, as seeds of the zip fuzzer:
records sharing one stream (named alike and not), more empty entries than a skin may hold,
streams whose directory claims 32 MiB each, and streams that claim no size.

  make_hostile_zip_seeds.py OUT_DIR"""
import os
import struct
import sys
import zlib


def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def local(name, method, crc, packed, plain):
    n = name.encode()
    return struct.pack("<IHHHIIIIHH", 0x04034B50, 20, 0, method, 0, crc, len(packed), plain, len(n), 0) + n + packed


def finish(body, records):
    d = b""
    for name, offset, method, crc, packed, plain in records:
        n = name.encode()
        d += struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 20, 20, 0, method, 0, crc, packed, plain, len(n),
                         0, 0, 0, 0, 0, offset) + n
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(records), len(records), len(d), len(body), 0)
    return body + d + end


def shared(records, size, same):
    data = bytes(size)
    packed, crc = deflate(data), zlib.crc32(data)
    body = local("a.png", 8, crc, packed, size)
    return finish(body, [("a.png" if same else "f%d.png" % i, 0, 8, crc, len(packed), size) for i in range(records)])


def many_empty(records):
    body, dir_ = b"", []
    for i in range(records):
        dir_.append(("f%d.png" % i, len(body), 0, 0, 0, 0))
        body += local("f%d.png" % i, 0, 0, b"", 0)
    return finish(body, dir_)


def distinct(entries, size, declared):
    data = bytes(size)
    packed, crc = deflate(data), zlib.crc32(data)
    body, dir_ = b"", []
    for i in range(entries):
        dir_.append(("f%d.png" % i, len(body), 8, crc, len(packed), declared))
        body += local("f%d.png" % i, 8, crc, packed, declared)
    return finish(body, dir_)


out = sys.argv[1]
seeds = {
    "hostile_shared_same_name.zip": shared(300, 1 << 20, True),
    "hostile_shared_distinct_names.zip": shared(300, 1 << 20, False),
    "hostile_too_many_entries.zip": many_empty(4097),
    "hostile_declared_32mib_each.zip": distinct(3, 1024, 32 << 20),
    "hostile_undeclared_sizes.zip": distinct(2, 1 << 20, 0),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
