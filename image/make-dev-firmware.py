#!/usr/bin/env python3
"""Writes the development firmware image: 130048 bytes from xorshift32.

The real image comes from the device's maker; this one only has to be
exactly the right size, always the same, and free of short repeats, so that
a skipped, doubled or swapped byte changes every check value after it.

xorshift32 (shifts 13, 17, 5) starts from the seed 0x4B4F5256 ("KORV");
each step's 32-bit state gives four bytes, least significant first.

usage: make-dev-firmware.py [output]   (default: resources/firmware.bin)
"""
import pathlib
import sys

IMAGE_SIZE = 130048
SEED = 0x4B4F5256


def xorshift32_bytes(seed, count):
    state = seed
    out = bytearray()
    while len(out) < count:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out += state.to_bytes(4, "little")
    return bytes(out[:count])


def main():
    default = pathlib.Path(__file__).resolve().parent.parent / "resources" / "firmware.bin"
    target = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else default
    target.write_bytes(xorshift32_bytes(SEED, IMAGE_SIZE))


if __name__ == "__main__":
    main()
