#!/usr/bin/env python3
"""Writes a PNG picture (8-bit RGB or RGBA, not interlaced) as a 32-bit BMP,
the form the window's BITMAP resource takes: png-to-bmp.py IN.png OUT.bmp."""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                sys.exit(f"{path}: only 8-bit RGB or RGBA without interlacing")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(line)
        previous = line
    return width, height, channels, rows


def write_bmp(path, width, height, channels, rows):
    pixels = bytearray()
    for line in reversed(rows):  # bottom row first
        for x in range(width):
            r, g, b = line[x * channels:x * channels + 3]
            pixels += bytes((b, g, r, 0))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(header)
    with open(path, "wb") as out:
        out.write(struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset))
        out.write(header)
        out.write(pixels)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: png-to-bmp.py IN.png OUT.bmp")
    write_bmp(sys.argv[2], *read_png(sys.argv[1]))
