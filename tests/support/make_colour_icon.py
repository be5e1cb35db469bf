#!/usr/bin/env python3
"""Writes a one-image .ico (32x32, 32-bit with an AND mask) filled with one colour, so
that tests can tell the icons of a library apart by their pixels:
    python3 make_colour_icon.py OUT.ico RRGGBB
Only the standard library is used."""
import struct
import sys

SIZE = 32


def icon(rgb):
    r, g, b = (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes((b, g, r, 255)) * (SIZE * SIZE)
    mask = bytes(4) * SIZE  # 1 bit per pixel, rows padded to 4 bytes: all opaque
    image = header + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as out:
        out.write(icon(int(sys.argv[2], 16)))


if __name__ == "__main__":
    main()
