#!/usr/bin/env python3
"""Packs the icon TULP for Windows: tulp16.png and tulp32.png (as drawn by
resources/draw-images.py: opaque 8-bit RGB, no interlace) into one .ico of
two 32-bit images, readable by every Windows version. Usage:

  resources/win32/make-icon.py [OUTPUT]     (default: resources/win32/tulp.ico)
"""

import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES = os.path.join(HERE, "..", "images")


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(path):
    """Returns (width, height, rows of (r, g, b) tuples), top row first."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 2 or interlace != 0:
        sys.exit(f"{path}: expected 8-bit RGB without interlace")
    raw = zlib.decompress(idat)
    stride = width * 3
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b = previous[i]
            c = previous[i - 3] if i >= 3 else 0
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 0xFF
        rows.append([tuple(line[x * 3:x * 3 + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def icon_image(width, height, rows):
    """A BITMAPINFOHEADER image of doubled height: colours bottom-up, then an
    all-clear AND mask (the picture is opaque)."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, 255)) for row in reversed(rows) for r, g, b in row)
    mask_stride = ((width + 31) // 32) * 4
    return header + pixels + bytes(mask_stride * height)


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "tulp.ico")
    images = [icon_image(*read_png(os.path.join(IMAGES, f"tulp{size}.png"))) for size in (16, 32)]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip((16, 32), images):
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(output, "wb") as f:
        f.write(directory + b"".join(images))


if __name__ == "__main__":
    main()
