#!/usr/bin/python3
"""Writes PNG files of 8192 x 8192 pixels that are only a few KiB each (one-bit images of long
runs compress well), for the tests of the skin's decoded-pixel limit.

    make_large_pngs.py DIR    writes DIR/huge1.png ... DIR/huge4.png
"""
import os
import sys

from PIL import Image, ImageDraw  # python3-pil, Debian's module: run with /usr/bin/python3

SIDE = 8192
COUNT = 4


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for i in range(1, COUNT + 1):
        image = Image.new("1", (SIDE, SIDE), 0)
        # A different white band in each, so the files are not the same bytes.
        ImageDraw.Draw(image).rectangle((0, i * 64, SIDE - 1, i * 64 + 63), fill=1)
        path = os.path.join(folder, "huge%d.png" % i)
        image.save(path + ".tmp", format="PNG", optimize=True)
        os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
