#!/usr/bin/python3
"""Makes ".lz" sample streams with an independent compressor (python3-lzo, LZO1X-1 and LZO1X-999).

    make_lz_samples.py --golden DIR   the small set kept in tests/data/lz
    make_lz_samples.py --large DIR    streams of several MiB, made at test time

Every stream is the uncompressed length (4 bytes, little-endian) followed by the raw LZO1X data.
DIR/manifest.txt lists "<file> <size> <crc32 hex>" of what each stream decodes to, the CRC-32 as
zlib computes it. The data is pseudo-random from fixed seeds, so the output is the same every run.
"""
import os
import random
import struct
import sys
import zlib

import lzo  # python3-lzo, Debian's module: run with /usr/bin/python3

WORDS = (b"dosya guncelleme sunucu istemci oyun yama liste boyut kontrol indirme parca kuyruk "
         b"pencere ayar surum karakter harita gorev esya buyu savas lonca pazar sohbet "
         b"the of and to in is that for it as with was on be by at this from").split()


def text(rng, size):
    out = bytearray()
    while len(out) < size:
        line = b" ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        out += line.capitalize() + b".\r\n"
    return bytes(out[:size])


def noise(rng, size):
    return bytes(rng.getrandbits(8) for _ in range(size))


def runs(rng, size):
    # Long runs of one byte and of short patterns: long match lengths and overlapping copies.
    out = bytearray()
    while len(out) < size:
        pattern = noise(rng, rng.choice((1, 1, 2, 3, 5, 7, 8, 9, 16)))
        out += pattern * (rng.randint(300, 20000) // len(pattern) + 1)
    return bytes(out[:size])


def far(rng, size):
    # A block repeated at distances near the format's largest (49151), across window wraps.
    block = noise(rng, 48000) + text(rng, 151)
    out = bytearray()
    while len(out) < size:
        out += block
        out += noise(rng, rng.randint(0, 40))
    return bytes(out[:size])


def mixed(rng, size):
    out = bytearray()
    while len(out) < size:
        kind = rng.choice((text, noise, runs))
        out += kind(rng, rng.randint(1000, 60000))
    return bytes(out[:size])


def golden_cases():
    rng = random.Random(20240601)
    return [
        ("empty", b""),
        ("one", b"A"),
        ("text_65535", text(rng, 65535)),
        ("text_65536", text(rng, 65536)),
        ("text_65537", text(rng, 65537)),
        ("text_small", text(rng, 9000)),
        ("text", text(rng, 200000)),
        ("noise", noise(rng, 70000)),
        ("runs", runs(rng, 300000)),
        ("far", far(rng, 160000)),
        ("mixed", mixed(rng, 150000)),
    ]


def large_cases():
    rng = random.Random(777)
    return [
        # More than 1 MiB of compressed input: the input buffer is refilled several times.
        ("large_mixed", mixed(rng, 5 * 1024 * 1024), (1,)),
        ("large_text", text(rng, 3 * 1024 * 1024), (9,)),
    ]


def write_stream(directory, name, data, level, manifest):
    file_name = "%s.l%d.lz" % (name, level)
    stream = struct.pack("<I", len(data)) + lzo.compress(data, level, False)
    with open(os.path.join(directory, file_name), "wb") as f:
        f.write(stream)
    manifest.append("%s %d %08x" % (file_name, len(data), zlib.crc32(data) & 0xFFFFFFFF))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("--golden", "--large"):
        sys.exit(__doc__)
    directory = sys.argv[2]
    os.makedirs(directory, exist_ok=True)
    manifest = []
    if sys.argv[1] == "--golden":
        for name, data in golden_cases():
            for level in (1, 9):
                write_stream(directory, name, data, level, manifest)
    else:
        for name, data, levels in large_cases():
            for level in levels:
                write_stream(directory, name, data, level, manifest)
    with open(os.path.join(directory, "manifest.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
