#!/usr/bin/env python3
"""Writes gradient.png: a 16x8 8-bit RGB picture whose red rises from left
to right, blue falls from left to right and green rises from top to bottom.

Only the standard library is used (zlib and struct), so the picture can be
made again anywhere:  python3 examples/make_gradient.py [OUT.png]
"""

import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 16, 8


def chunk(kind: bytes, data: bytes) -> bytes:
    crc = zlib.crc32(kind + data) & 0xFFFFFFFF
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def pixel(x: int, y: int) -> bytes:
    red = x * 255 // (WIDTH - 1)
    green = y * 255 // (HEIGHT - 1)
    blue = 255 - red
    return bytes((red, green, blue))


def main() -> None:
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gradient.png")
    out = sys.argv[1] if len(sys.argv) > 1 else default
    # Each scanline starts with filter type 0 (none).
    raw = b"".join(
        b"\x00" + b"".join(pixel(x, y) for x in range(WIDTH)) for y in range(HEIGHT)
    )
    ihdr = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)
    png = (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", ihdr)
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
