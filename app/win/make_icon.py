#!/usr/bin/env python3
"""Draws the program's icon and writes it as a Windows .ico file.

    make_icon.py OUTPUT.ico

A blue rounded square with white level bars, drawn from signed distances (one
anti-aliased sample per pixel) at each size Windows asks for, so that the small sizes
stay sharp. Sizes below 256 are 32-bit DIBs, 256 is a PNG, as Windows expects. The
output depends only on this script.
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
TOP, BOTTOM = (0x1E, 0x88, 0xE5), (0x0D, 0x47, 0xA1)  # background gradient, RGB
MARGIN, CORNER = 0.06, 0.20  # of the icon's side


def rounded_box(px, py, cx, cy, half_w, half_h, radius):
    """Signed distance from (px, py) to a rounded rectangle; negative inside."""
    qx, qy = abs(px - cx) - half_w + radius, abs(py - cy) - half_h + radius
    outside = (max(qx, 0.0) ** 2 + max(qy, 0.0) ** 2) ** 0.5
    return outside + min(max(qx, qy), 0.0) - radius


def bars(size):
    """(centre x, half height) of each level bar; fewer, wider bars when small."""
    heights = (0.30, 0.62, 0.42) if size <= 24 else (0.22, 0.44, 0.62, 0.36, 0.18)
    pitch = 0.56 / len(heights)
    return [(0.5 + (i - (len(heights) - 1) / 2) * pitch, h / 2, pitch * 0.30) for i, h in enumerate(heights)]


def coverage(distance_px):
    return min(max(0.5 - distance_px, 0.0), 1.0)


def draw(size):
    """Rows of RGBA tuples, top row first."""
    rows = []
    shapes = bars(size)
    for y in range(size):
        py = (y + 0.5) / size
        shade = [round(t + (b - t) * py) for t, b in zip(TOP, BOTTOM)]
        row = []
        for x in range(size):
            px = (x + 0.5) / size
            back = coverage(rounded_box(px, py, 0.5, 0.5, 0.5 - MARGIN, 0.5 - MARGIN, CORNER) * size)
            bar = max(coverage(rounded_box(px, py, cx, 0.5, half_w, half_h, half_w) * size)
                      for cx, half_h, half_w in shapes)
            rgb = [round(c + (255 - c) * bar) for c in shade]
            row.append((*rgb, round(255 * back)))
        rows.append(row)
    return rows


def dib(size, rows):
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask = bytes(((size + 31) // 32) * 4 * size)  # transparency comes from alpha
    return header + pixels + mask


def png(size, rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + bytes(v for pixel in row for v in pixel) for row in rows)
    ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def ico(images):
    directory, offset = b'', 6 + 16 * len(images)
    for size, data in images:
        directory += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return struct.pack('<HHH', 0, 1, len(images)) + directory + b''.join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make_icon.py OUTPUT.ico')
    images = [(size, (png if size == 256 else dib)(size, draw(size))) for size in SIZES]
    with open(sys.argv[1], 'wb') as out:
        out.write(ico(images))


if __name__ == '__main__':
    main()
