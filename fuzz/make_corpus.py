#!/usr/bin/env python3
"""Writes pixtab's fuzzing seed corpus: small valid PNG files of every layout.

    python3 fuzz/make_corpus.py [OUTDIR]          seeds (default: fuzz/corpus)
    python3 fuzz/make_corpus.py --bad OUTDIR      broken files for failure runs

Only the standard library is used (zlib for the compressed stream, struct
and zlib.crc32 for the chunks), so the files do not depend on any PNG
encoder.  The output is the same byte for byte on every run: pixel values
come from a fixed linear congruential generator and every row uses the
next of the five filter types in turn, so the decoder's unfiltering is
exercised too.
"""

import os
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"

# Colour type -> samples per pixel.
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}

# Adam7: (x start, y start, x step, y step) of each pass.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4),
         (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


class Lcg:
    """Small deterministic pseudo-random source (no dependence on random)."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self, limit):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return (self.state >> 8) % limit


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def pack_row(samples, depth):
    """Packs one row of sample values into bytes (MSB first, big endian)."""
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out = bytearray()
    per_byte = 8 // depth
    for i in range(0, len(samples), per_byte):
        byte = 0
        group = samples[i:i + per_byte]
        for j, s in enumerate(group):
            byte |= s << (8 - depth * (j + 1))
        out.append(byte)
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, row, prev, bpp):
    out = bytearray([kind])
    for i, x in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = prev[i] if prev is not None else 0
        c = prev[i - bpp] if prev is not None and i >= bpp else 0
        pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
        out.append((x - pred) & 0xFF)
    return bytes(out)


def encode_rows(rows, depth, channels, first_filter):
    """Filters packed rows of one (sub)image, cycling the filter type."""
    bpp = max(1, channels * depth // 8)
    out = bytearray()
    prev = None
    for y, row in enumerate(rows):
        out += filter_row((first_filter + y) % 5, row, prev, bpp)
        prev = row
    return bytes(out)


def image_data(width, height, depth, colortype, pixels, interlaced):
    """Returns the uncompressed, filtered image data stream."""
    ch = CHANNELS[colortype]

    def packed(xs, y):
        samples = []
        for x in xs:
            samples += pixels[y][x]
        return pack_row(samples, depth)

    if not interlaced:
        rows = [packed(range(width), y) for y in range(height)]
        return encode_rows(rows, depth, ch, 0)
    out = bytearray()
    for n, (x0, y0, dx, dy) in enumerate(ADAM7):
        xs = range(x0, width, dx)
        if len(xs) == 0:
            continue
        rows = [packed(xs, y) for y in range(y0, height, dy)]
        out += encode_rows(rows, depth, ch, n)
    return bytes(out)


def make_png(width, height, depth, colortype, seed, interlaced=False,
             palette_size=None, trns=False, idat_pieces=1, extra=False):
    """Builds one PNG file; returns (bytes, pixels) with pixels[y][x] a list
    of sample values as stored in the file."""
    rnd = Lcg(seed)
    ch = CHANNELS[colortype]
    if colortype == 3:
        palette_size = palette_size or (1 << depth)
        limit = palette_size
    else:
        limit = 1 << depth
    pixels = [[[rnd.next(limit) for _ in range(ch)] for _ in range(width)]
              for _ in range(height)]

    ihdr = struct.pack(">IIBBBBB", width, height, depth, colortype, 0, 0,
                       1 if interlaced else 0)
    out = bytearray(SIGNATURE + chunk(b"IHDR", ihdr))
    if extra:
        out += chunk(b"gAMA", struct.pack(">I", 45455))
        out += chunk(b"pHYs", struct.pack(">IIB", 2835, 2835, 1))
        out += chunk(b"tEXt", b"Comment\x00pixtab seed")
    if colortype == 3:
        out += chunk(b"PLTE", bytes(rnd.next(256) for _ in range(3 * palette_size)))
        if trns:
            count = max(1, palette_size - 1)
            out += chunk(b"tRNS", bytes(rnd.next(256) for _ in range(count)))
    elif trns:
        raise ValueError("tRNS seeds are palette images only")

    stream = zlib.compress(image_data(width, height, depth, colortype, pixels,
                                      interlaced), 9)
    step = -(-len(stream) // idat_pieces)
    for i in range(0, len(stream), step):
        out += chunk(b"IDAT", stream[i:i + step])
    if extra:
        out += chunk(b"tEXt", b"Title\x00after the image data")
    out += chunk(b"IEND", b"")
    return bytes(out), pixels


# name: (width, height, depth, colour type, options)
SEEDS = {
    "grey1": (13, 5, 1, 0, {}),
    "grey2": (7, 4, 2, 0, {}),
    "grey4": (5, 6, 4, 0, {}),
    "grey8": (6, 5, 8, 0, {}),
    "grey16": (5, 4, 16, 0, {}),
    "pal1": (11, 3, 1, 3, {}),
    "pal1-trns": (9, 4, 1, 3, {"trns": True}),
    "pal2": (7, 5, 2, 3, {"palette_size": 3}),
    "pal2-trns": (6, 4, 2, 3, {"trns": True}),
    "pal4": (5, 5, 4, 3, {"palette_size": 11}),
    "pal4-trns": (7, 3, 4, 3, {"trns": True}),
    "pal8": (6, 4, 8, 3, {"palette_size": 20}),
    "pal8-trns": (5, 5, 8, 3, {"palette_size": 30, "trns": True}),
    "greyalpha8": (5, 4, 8, 4, {}),
    "greyalpha16": (4, 3, 16, 4, {}),
    "rgb8": (5, 4, 8, 2, {}),
    "rgb16": (4, 3, 16, 2, {}),
    "rgba8": (4, 4, 8, 6, {}),
    "rgba16": (3, 3, 16, 6, {}),
    # Interlaced: at least 5x5 so that all seven passes hold pixels.
    "grey1-interlaced": (11, 9, 1, 0, {"interlaced": True}),
    "grey16-interlaced": (6, 5, 16, 0, {"interlaced": True}),
    "pal2-trns-interlaced": (9, 7, 2, 3, {"interlaced": True, "trns": True}),
    "pal8-interlaced": (7, 6, 8, 3, {"interlaced": True, "palette_size": 40}),
    "greyalpha8-interlaced": (6, 6, 8, 4, {"interlaced": True}),
    "rgb16-interlaced": (5, 5, 16, 2, {"interlaced": True}),
    "rgba8-interlaced": (6, 5, 8, 6, {"interlaced": True}),
    # Odd shapes and chunk layouts.
    "grey8-1x1": (1, 1, 8, 0, {}),
    "rgb8-row": (40, 1, 8, 2, {}),
    "grey4-column": (1, 30, 4, 0, {}),
    "rgb8-chunks": (6, 6, 8, 2, {"idat_pieces": 4, "extra": True}),
}


def seeds():
    """Yields (file name, PNG bytes, pixels, depth, colour type)."""
    for n, (name, (w, h, depth, ct, opts)) in enumerate(sorted(SEEDS.items())):
        data, pixels = make_png(w, h, depth, ct, seed=1000 + n, **opts)
        yield name + ".png", data, pixels, depth, ct


def bad_files():
    """Yields (file name, bytes) of inputs that pixtab must refuse."""
    good, _ = make_png(6, 5, 8, 2, seed=7)
    yield "not-a-png.png", b"this is plain text, not an image\n"
    yield "empty.png", b""
    yield "signature-only.png", SIGNATURE
    yield "cut-short.png", good[:len(good) * 2 // 3]

    # Compressed stream that is not valid deflate data, with correct CRCs.
    ihdr = struct.pack(">IIBBBBB", 6, 5, 8, 2, 0, 0, 0)
    yield "bad-zlib.png", (SIGNATURE + chunk(b"IHDR", ihdr)
                           + chunk(b"IDAT", b"\x78\x9c\xff\xff\xff\xff\x00\x11\x22")
                           + chunk(b"IEND", b""))
    # Valid deflate data holding fewer rows than the header claims.
    short = zlib.compress(b"\x00" + bytes(18), 9)
    yield "too-little-data.png", (SIGNATURE + chunk(b"IHDR", ihdr)
                                  + chunk(b"IDAT", short) + chunk(b"IEND", b""))
    # An undefined filter type in the first row.
    badfilter = zlib.compress(b"\x07" + bytes(18) + (b"\x00" + bytes(18)) * 4, 9)
    yield "bad-filter.png", (SIGNATURE + chunk(b"IHDR", ihdr)
                             + chunk(b"IDAT", badfilter) + chunk(b"IEND", b""))
    # Damaged CRC of the header chunk.
    broken = bytearray(good)
    broken[29] ^= 0x55
    yield "bad-crc.png", bytes(broken)
    # Palette image without a palette.
    pal = struct.pack(">IIBBBBB", 4, 4, 8, 3, 0, 0, 0)
    yield "no-palette.png", (SIGNATURE + chunk(b"IHDR", pal)
                             + chunk(b"IDAT", zlib.compress((b"\x00" + bytes(4)) * 4))
                             + chunk(b"IEND", b""))
    # A header that claims 100000 x 100000 RGBA pixels (40 GB of samples).
    huge = struct.pack(">IIBBBBB", 100000, 100000, 8, 6, 0, 0, 0)
    yield "huge.png", (SIGNATURE + chunk(b"IHDR", huge)
                       + chunk(b"IDAT", zlib.compress(b"\x00" * 64))
                       + chunk(b"IEND", b""))


def write_all(outdir, files):
    os.makedirs(outdir, exist_ok=True)
    for name, data in files:
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    if len(argv) == 3 and argv[1] == "--bad":
        write_all(argv[2], bad_files())
    elif len(argv) <= 2 and not (len(argv) == 2 and argv[1].startswith("-")):
        outdir = argv[1] if len(argv) == 2 else os.path.join(here, "corpus")
        write_all(outdir, ((name, data) for name, data, _, _, _ in seeds()))
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
