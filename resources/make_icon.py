#!/usr/bin/env python3
"""Draws Orvane's program icon and writes it as a multi-size .ico (16, 32, 48 and 256
pixels, or the sizes named after the file). The small sizes are 32-bit BMP images with an AND mask, the 256-pixel size is a
PNG image, as Windows Vista and later expect. Only the standard library is used, so the
file can be made again on any machine:  python3 resources/make_icon.py resources/orvane.ico
(the benchmark's one-image icon: python3 resources/make_icon.py bench/dialog/bench_icon.ico 32)
"""
import math
import struct
import sys
import zlib

SUPERSAMPLE = 4


def lerp(a, b, t):
    return a + (b - a) * t


def rounded_rect_inside(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius and left <= x <= right and top <= y <= bottom


def shade(u, v):
    """Colour (r, g, b, a) of the point (u, v) in the unit square, before antialiasing."""
    # Badge: the icon being swapped in, a warm rounded square at the lower right with a
    # white rim so it stays apart from the ring at every size.
    if rounded_rect_inside(u, v, 0.55, 0.55, 0.93, 0.93, 0.08):
        if rounded_rect_inside(u, v, 0.60, 0.60, 0.88, 0.88, 0.05):
            t = (v - 0.60) / 0.28
            return (int(lerp(255, 240, t)), int(lerp(183, 120, t)), int(lerp(40, 20, t)), 255)
        return (255, 255, 255, 255)
    # Tile: rounded square, blue at the top turning to teal at the bottom.
    if not rounded_rect_inside(u, v, 0.04, 0.04, 0.96, 0.96, 0.2):
        return (0, 0, 0, 0)
    # The ring: Orvane's "O" as a turning arrow, open at the upper right, its head at
    # the end of the turn pointing on round the circle.
    cx, cy, mid, half = 0.44, 0.46, 0.23, 0.065
    d = math.hypot(u - cx, v - cy)
    angle = math.degrees(math.atan2(cy - v, u - cx)) % 360
    in_ring = abs(d - mid) <= half and not (25 <= angle <= 95)
    a = math.radians(25)
    radial = (math.cos(a), -math.sin(a))
    ahead = (-math.sin(a), -math.cos(a))
    base = (cx + mid * radial[0], cy + mid * radial[1])
    p = ((base[0] - 0.14 * radial[0], base[1] - 0.14 * radial[1]),
         (base[0] + 0.14 * radial[0], base[1] + 0.14 * radial[1]),
         (base[0] + 0.15 * ahead[0], base[1] + 0.15 * ahead[1]))
    def side(a, b, q):
        return (b[0] - a[0]) * (q[1] - a[1]) - (b[1] - a[1]) * (q[0] - a[0])
    s = [side(p[i], p[(i + 1) % 3], (u, v)) for i in range(3)]
    in_arrow = all(x >= 0 for x in s) or all(x <= 0 for x in s)
    if in_ring or in_arrow:
        return (255, 255, 255, 255)
    t = v
    return (int(lerp(43, 20, t)), int(lerp(95, 166, t)), int(lerp(217, 160, t)), 255)


def render(size):
    """Rows of (r, g, b, a), top row first, averaged over SUPERSAMPLE^2 points a pixel."""
    rows = []
    n = SUPERSAMPLE * SUPERSAMPLE
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    u = (x + (sx + 0.5) / SUPERSAMPLE) / size
                    v = (y + (sy + 0.5) / SUPERSAMPLE) / size
                    cr, cg, cb, ca = shade(u, v)
                    r += cr * ca
                    g += cg * ca
                    b += cb * ca
                    a += ca
            if a:
                row.append((r // a, g // a, b // a, a // n))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bmp_image(rows):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def png_image(rows):
    size = len(rows)
    raw = b''.join(b'\0' + bytes(c for px in row for c in px) for row in rows)
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main(path, sizes=(16, 32, 48, 256)):
    images = [png_image(render(s)) if s == 256 else bmp_image(render(s)) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'orvane.ico',
         tuple(int(s) for s in sys.argv[2:]) or (16, 32, 48, 256))
