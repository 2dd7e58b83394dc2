#!/usr/bin/python3
"""Makes a test release the way a game operator publishes one, with an independent LZO1X
compressor (python3-lzo): the game files themselves in OUT/src, and what the server offers in
OUT/www ("crclist", "config.xml", one "<path>.lz" per file: 4-byte little-endian length, then the
LZO1X stream).

  make_release.py --out DIR --file PATH:SIZE [--file PATH:SIZE ...] [--seed N]

File contents are deterministic for a path, size and seed: runs of pseudo-random bytes between
runs of repeated text, so the streams hold both literals and matches."""
import argparse
import os
import random
import struct
import zlib

import lzo

TEXT = b"Sarvik test release line: the quick brown fox jumps over the lazy dog.\n"
CHUNK = 1 << 20


def content(path, size, seed):
    rng = random.Random(f"{seed}:{path}:{size}")
    out = bytearray()
    while len(out) < size:
        n = min(size - len(out), rng.randint(1, 3 * CHUNK // 2))
        if rng.random() < 0.5:
            out += rng.randbytes(n)
        else:
            reps = n // len(TEXT) + 1
            out += (TEXT * reps)[:n]
    return bytes(out)


def lz_file(data, level=1):
    """level 1 is LZO1X-1, 9 is LZO1X-999: same file, other stream, other compressed size."""
    return struct.pack("<I", len(data)) + lzo.compress(data, level, False)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make(out, files, seed=1, config_attrs="", level=1):
    """files: list of (relative path with '/', size or the file's bytes). Returns
    {path: (crc, size)}."""
    src = os.path.join(out, "src")
    www = os.path.join(out, "www")
    listing = {}
    lines = []
    for path, size in files:
        data = size if isinstance(size, bytes) else content(path, size, seed)
        size = len(data)
        crc = zlib.crc32(data) & 0xFFFFFFFF
        write(os.path.join(src, path), data)
        write(os.path.join(www, path + ".lz"), lz_file(data, level))
        listing[path] = (crc, size)
        # Paths with spaces need the five-field form.
        if " " in path:
            lines.append(f"{crc:08x} {size} - - {path}\n")
        else:
            lines.append(f"{crc:08x} {size} {path}\n")
    write(os.path.join(www, "crclist"), "".join(lines).encode())
    write(os.path.join(www, "config.xml"),
          f'<torrent_config run_path="game.exe"{config_attrs}></torrent_config>\n'.encode())
    return listing


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--file", action="append", default=[])
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    files = []
    for item in args.file:
        path, size = item.rsplit(":", 1)
        files.append((path, int(size)))
    make(args.out, files, args.seed)


if __name__ == "__main__":
    main()
