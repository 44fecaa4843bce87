#!/usr/bin/env python3
"""Draws the program's icon and error picture as PNG files.

  tulp16.png, tulp32.png  the icon TULP: a red tulip on a pale blue ground
  tulp48.png ... tulp256.png, tulp.svg
                          the same tulip, larger and scalable, for the
                          desktop's menus (installed, not embedded)
  bitmap0.png             the picture BITMAP0: a red round mark with a white
                          diagonal cross on a light grey ground, 290 x 290

Every image is opaque RGB. Edges are smoothed by sampling each pixel on a
regular grid, so the output depends only on this file. The SVG is drawn from
the same shapes. Usage:

  resources/draw-images.py [OUTPUT_DIR]     (default: resources/images)
"""

import math
import os
import struct
import sys
import zlib


def write_png(path, width, height, rows):
    """rows: height lists of width (r, g, b) tuples, 0..255 each."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter type None
        for r, g, b in row:
            raw += bytes((r, g, b))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
           + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def render(size, background, shapes, grid=4):
    """Paints shapes, a list of (inside(x, y), colour) in drawing order, with
    x and y in 0..1 across the image, over background. Each pixel is the
    average of grid x grid samples."""
    rows = []
    n = grid * grid
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            for sy in range(grid):
                y = (py + (sy + 0.5) / grid) / size
                for sx in range(grid):
                    x = (px + (sx + 0.5) / grid) / size
                    colour = background
                    for inside, c in shapes:
                        if inside(x, y):
                            colour = c
                    acc[0] += colour[0]
                    acc[1] += colour[1]
                    acc[2] += colour[2]
            row.append(tuple(int(v / n + 0.5) for v in acc))
        rows.append(row)
    return rows


# Each shape is a test inside(x, y) for the raster images that also carries,
# as inside.svg(fill), the same shape as an SVG element on a 100 x 100 canvas.

def svg_number(value):
    return "%g" % round(value * 100, 4)


def svg_colour(colour):
    return "#%02x%02x%02x" % colour


def circle(cx, cy, r):
    def inside(x, y):
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    inside.svg = lambda fill: '<circle cx="%s" cy="%s" r="%s" fill="%s"/>' % (
        svg_number(cx), svg_number(cy), svg_number(r), svg_colour(fill))
    return inside


def ellipse(cx, cy, rx, ry, degrees=0.0):
    a = math.radians(degrees)
    ca, sa = math.cos(a), math.sin(a)

    def inside(x, y):
        dx, dy = x - cx, y - cy
        u = dx * ca + dy * sa
        v = -dx * sa + dy * ca
        return (u / rx) ** 2 + (v / ry) ** 2 <= 1.0

    def svg(fill):
        turn = ' transform="rotate(%g %s %s)"' % (degrees, svg_number(cx), svg_number(cy)) if degrees else ""
        return '<ellipse cx="%s" cy="%s" rx="%s" ry="%s"%s fill="%s"/>' % (
            svg_number(cx), svg_number(cy), svg_number(rx), svg_number(ry), turn, svg_colour(fill))

    inside.svg = svg
    return inside


def capsule(x0, y0, x1, y1, half_width):
    """A bar from (x0, y0) to (x1, y1) with round ends."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = ((x - x0) * dx + (y - y0) * dy) / length2
        t = min(1.0, max(0.0, t))
        ex, ey = x - (x0 + t * dx), y - (y0 + t * dy)
        return ex * ex + ey * ey <= half_width * half_width

    inside.svg = lambda fill: (
        '<line x1="%s" y1="%s" x2="%s" y2="%s" stroke="%s" stroke-width="%s" stroke-linecap="round"/>'
        % (svg_number(x0), svg_number(y0), svg_number(x1), svg_number(y1), svg_colour(fill),
           svg_number(2 * half_width)))
    return inside


def below(limit, shape):
    """The part of shape at limit and further down."""
    def inside(x, y):
        return y >= limit and shape(x, y)

    clip = "below-%s" % svg_number(limit)
    inside.svg = lambda fill: (
        '<clipPath id="%s"><rect x="0" y="%s" width="100" height="%s"/></clipPath>'
        '<g clip-path="url(#%s)">%s</g>'
        % (clip, svg_number(limit), svg_number(1 - limit), clip, shape.svg(fill)))
    return inside


def write_svg(path, background, shapes):
    lines = ['<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 100 100">',
             '<rect width="100" height="100" fill="%s"/>' % svg_colour(background)]
    lines += [inside.svg(colour) for inside, colour in shapes]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n</svg>\n")


def tulip_shapes():
    """The ground's colour and the shapes drawn on it."""
    sky = (214, 232, 248)
    stem = (38, 122, 48)
    leaf = (62, 160, 64)
    red = (200, 24, 40)
    light_red = (236, 72, 72)
    shapes = [
        (capsule(0.50, 0.50, 0.50, 0.94, 0.05), stem),
        (ellipse(0.33, 0.76, 0.20, 0.075, -50.0), leaf),
        (ellipse(0.67, 0.80, 0.17, 0.065, 45.0), leaf),
        (below(0.36, ellipse(0.50, 0.38, 0.25, 0.22)), red),
        (ellipse(0.37, 0.33, 0.12, 0.24, 18.0), red),
        (ellipse(0.63, 0.33, 0.12, 0.24, -18.0), red),
        (ellipse(0.50, 0.34, 0.10, 0.22), light_red),
    ]
    return sky, shapes


def tulip(size):
    sky, shapes = tulip_shapes()
    return render(size, sky, shapes, grid=8)


def error_mark(size):
    grey = (224, 224, 224)
    dark_red = (160, 16, 16)
    red = (218, 36, 36)
    white = (255, 255, 255)
    arm = 0.19  # half the span of each bar, along each axis
    shapes = [
        (circle(0.5, 0.5, 0.47), dark_red),
        (circle(0.5, 0.5, 0.44), red),
        (capsule(0.5 - arm, 0.5 - arm, 0.5 + arm, 0.5 + arm, 0.06), white),
        (capsule(0.5 - arm, 0.5 + arm, 0.5 + arm, 0.5 - arm, 0.06), white),
    ]
    return render(size, grey, shapes, grid=4)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "images")
    os.makedirs(out, exist_ok=True)
    for size in (16, 32, 48, 64, 128, 256):
        write_png(os.path.join(out, "tulp%d.png" % size), size, size, tulip(size))
    write_svg(os.path.join(out, "tulp.svg"), *tulip_shapes())
    write_png(os.path.join(out, "bitmap0.png"), 290, 290, error_mark(290))


if __name__ == "__main__":
    main()
