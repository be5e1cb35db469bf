#!/usr/bin/env python3
"""Writes icons that tell their index by their pixels, and resource scripts that make
libraries of them:
    python3 make_numbered_icons.py OUT_DIR COUNT...
writes OUT_DIR/numbered_<i>.ico for every index below the largest COUNT, and for each
COUNT OUT_DIR/numbered_icons<COUNT>.rc, whose icon groups 1..COUNT are the icons
0..COUNT-1 in that order (the position of a group among them is its index).
Each icon is 32x32 in 16 colours: a 4x4 grid of 8-pixel blocks, the twelve upper blocks
the bits of the index (dark for a set bit), the lowest row a fixed red and green strip,
so that no two icons, and no icon and an empty image, look alike.
Only the standard library is used."""
import os
import struct
import sys

SIZE = 32
BLOCK = 8
# Palette entries as (blue, green, red, 0).
PALETTE = [(0, 0, 0, 0)] * 16
CLEAR, SET, RED, GREEN = 1, 2, 3, 4
PALETTE[CLEAR] = (96, 224, 240, 0)
PALETTE[SET] = (96, 32, 16, 0)
PALETTE[RED] = (32, 32, 208, 0)
PALETTE[GREEN] = (48, 176, 32, 0)


def colour(index, x, y):
    column, row = x // BLOCK, y // BLOCK
    if row == 3:
        return RED if column % 2 == 0 else GREEN
    bit = row * 4 + column
    return SET if (index >> bit) & 1 else CLEAR


def icon(index):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes(entry) for entry in PALETTE)
    rows = []
    # Bottom-up rows, two pixels a byte.
    for y in reversed(range(SIZE)):
        row = bytearray()
        for x in range(0, SIZE, 2):
            row.append(colour(index, x, y) << 4 | colour(index, x + 1, y))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    mask = bytes(4) * SIZE  # 1 bit a pixel, rows padded to 4 bytes: all opaque
    image = header + palette + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out_dir = sys.argv[1]
    counts = [int(text) for text in sys.argv[2:]]
    os.makedirs(out_dir, exist_ok=True)
    names = []
    for index in range(max(counts)):
        name = os.path.join(out_dir, "numbered_%d.ico" % index)
        with open(name, "wb") as out:
            out.write(icon(index))
        names.append(name.replace("\\", "/"))
    for count in counts:
        with open(os.path.join(out_dir, "numbered_icons%d.rc" % count), "w") as out:
            for index in range(count):
                out.write('%d ICON "%s"\n' % (index + 1, names[index]))


if __name__ == "__main__":
    main()
