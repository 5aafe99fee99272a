#!/usr/bin/env python3
"""Draws the installer window's images and writes them as the files the
host's resources embed: the background (JPEG), the logo and the error badge
(PNG with alpha) and the window icon (ICO).

Only Python's standard library: PNG is zlib with a few chunks, JPEG a small
baseline encoder with the standard tables. The drawing is deterministic, so
a build makes the same bytes every time.

Usage: make_images.py OUTPUT_FOLDER
"""

import math
import os
import struct
import sys
import zlib

# The brand's red and the dark grey of the installer's texts (RGB).
RED = (255, 27, 44)
DARK_RED = (178, 16, 32)
WHITE = (255, 255, 255)


def coverage(distance):
    """Anti-aliased coverage of a pixel whose centre lies `distance` inside
    an edge (negative: outside)."""
    return max(0.0, min(1.0, distance + 0.5))


def rounded_box_distance(x, y, left, top, right, bottom, radius):
    """Signed distance from (x, y) to the inside of a rounded rectangle."""
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    inside_core = left + radius <= x <= right - radius or top + radius <= y <= bottom - radius
    if inside_core:
        return min(x - left, right - x, y - top, bottom - y)
    return radius - math.hypot(x - cx, y - cy)


def blend(under, over, alpha):
    return tuple(round(u + (o - u) * alpha) for u, o in zip(under, over))


def draw_logo(size):
    """A red rounded square with a white "T": RGBA rows."""
    rows = []
    margin = size * 0.06
    radius = size * 0.22
    bar_top, bar_bottom = size * 0.24, size * 0.38
    bar_left, bar_right = size * 0.22, size * 0.78
    stem_left, stem_right = size * 0.42, size * 0.58
    stem_bottom = size * 0.78
    for row in range(size):
        pixels = []
        for column in range(size):
            x, y = column + 0.5, row + 0.5
            shape = coverage(rounded_box_distance(x, y, margin, margin, size - margin,
                                                  size - margin, radius))
            # A soft shade from the top left lifts the square off the page.
            shade = 1.0 - 0.18 * (x + y) / (2 * size)
            colour = tuple(round(c * shade) for c in RED)
            letter = max(
                coverage(min(x - bar_left, bar_right - x, y - bar_top, bar_bottom - y)),
                coverage(min(x - stem_left, stem_right - x, y - bar_top, stem_bottom - y)))
            colour = blend(colour, WHITE, letter)
            pixels.append(colour + (round(255 * shape),))
        rows.append(pixels)
    return rows


def draw_badge(size):
    """A dark red disc with a white "!" and a white rim: RGBA rows."""
    rows = []
    centre = size / 2
    outer = size / 2 - 0.5
    inner = outer - max(1.5, size * 0.08)
    for row in range(size):
        pixels = []
        for column in range(size):
            x, y = column + 0.5, row + 0.5
            distance = math.hypot(x - centre, y - centre)
            shape = coverage(outer - distance)
            colour = blend(WHITE, DARK_RED, coverage(inner - distance))
            stroke = size * 0.07
            mark = max(
                coverage(min(x - (centre - stroke), (centre + stroke) - x,
                             y - size * 0.22, size * 0.60 - y)),
                coverage(size * 0.085 - math.hypot(x - centre, y - size * 0.74)))
            colour = blend(colour, WHITE, mark)
            pixels.append(colour + (round(255 * shape),))
        rows.append(pixels)
    return rows


def draw_background(width, height):
    """White, fading to a warm grey below the middle (the texts above lie on
    plain white), with two faint red waves at the bottom: RGB rows."""
    rows = []
    for row in range(height):
        pixels = []
        for column in range(width):
            x, y = column / width, row / height
            shade = max(0.0, (y - 0.6) / 0.4)
            grey = 255 - 14 * shade * shade
            colour = (grey, grey - 2 * shade, grey - 4 * shade)
            for phase, strength in ((0.0, 0.10), (1.7, 0.06)):
                crest = 0.80 + 0.06 * math.sin(2 * math.pi * x + phase)
                if y > crest:
                    colour = blend(colour, RED, strength * min(1.0, (y - crest) * 40))
            pixels.append(tuple(max(0, min(255, round(c))) for c in colour))
        rows.append(pixels)
    return rows


# PNG ------------------------------------------------------------------------

def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def encode_png(rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


# JPEG (baseline, 4:4:4, standard tables) ------------------------------------

LUMA_QUANT = [
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
CHROMA_QUANT = [
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99] + [99] * 32
ZIGZAG = [
    0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63]
# (code lengths 1..16, symbols) of the standard Huffman tables.
DC_LUMA = ([0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0], list(range(12)))
DC_CHROMA = ([0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0], list(range(12)))
AC_LUMA = ([0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D], bytes.fromhex(
    "01020300041105122131410613516107227114328191a1082342b1c11552d1f0"
    "2433627282090a161718191a25262728292a3435363738393a43444546474849"
    "4a535455565758595a636465666768696a737475767778797a83848586878889"
    "8a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5"
    "c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8"
    "f9fa"))
AC_CHROMA = ([0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77], bytes.fromhex(
    "00 01 02 03 11 04 05 21 31 06 12 41 51 07 61 71 13 22 32 81 08 14 42 91 a1 b1 c1 09"
    "23 33 52 f0 15 62 72 d1 0a 16 24 34 e1 25 f1 17 18 19 1a 26 27 28 29 2a 35 36 37 38"
    "39 3a 43 44 45 46 47 48 49 4a 53 54 55 56 57 58 59 5a 63 64 65 66 67 68 69 6a 73 74"
    "75 76 77 78 79 7a 82 83 84 85 86 87 88 89 8a 92 93 94 95 96 97 98 99 9a a2 a3 a4 a5"
    "a6 a7 a8 a9 aa b2 b3 b4 b5 b6 b7 b8 b9 ba c2 c3 c4 c5 c6 c7 c8 c9 ca d2 d3 d4 d5 d6"
    "d7 d8 d9 da e2 e3 e4 e5 e6 e7 e8 e9 ea f2 f3 f4 f5 f6 f7 f8 f9 fa"))


def huffman_codes(table):
    counts, symbols = table
    codes, code, index = {}, 0, 0
    for length, count in enumerate(counts, start=1):
        for _ in range(count):
            codes[symbols[index]] = (code, length)
            code += 1
            index += 1
        code <<= 1
    return codes


def scaled_quant(table, quality):
    scale = 5000 / quality if quality < 50 else 200 - 2 * quality
    return [max(1, min(255, (q * scale + 50) // 100)) for q in table]


COSINES = [[(math.sqrt(0.5) if u == 0 else 1.0) * math.cos((2 * x + 1) * u * math.pi / 16) / 2
            for x in range(8)] for u in range(8)]


def dct_8x8(block):
    """The 2-D DCT of 64 samples (row-major), separably."""
    rows = [[sum(c * v for c, v in zip(COSINES[u], block[r * 8:r * 8 + 8])) for u in range(8)]
            for r in range(8)]
    return [sum(COSINES[v][r] * rows[r][u] for r in range(8)) for v in range(8) for u in range(8)]


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.bits = 0
        self.count = 0

    def write(self, code, length):
        self.bits = (self.bits << length) | code
        self.count += length
        while self.count >= 8:
            byte = (self.bits >> (self.count - 8)) & 0xFF
            self.out.append(byte)
            if byte == 0xFF:
                self.out.append(0)  # byte stuffing
            self.count -= 8
        self.bits &= (1 << self.count) - 1

    def flush(self):
        if self.count:
            self.write((1 << (8 - self.count)) - 1, 8 - self.count)


def magnitude(value):
    """(category, bits) of a coefficient as JPEG codes it."""
    category = abs(value).bit_length()
    bits = value if value >= 0 else value + (1 << category) - 1
    return category, bits


def encode_block(writer, coefficients, previous_dc, dc_codes, ac_codes):
    dc = coefficients[0]
    category, bits = magnitude(dc - previous_dc)
    writer.write(*dc_codes[category])
    if category:
        writer.write(bits, category)
    run = 0
    for value in coefficients[1:]:
        if value == 0:
            run += 1
            continue
        while run > 15:
            writer.write(*ac_codes[0xF0])
            run -= 16
        category, bits = magnitude(value)
        writer.write(*ac_codes[(run << 4) | category])
        writer.write(bits, category)
        run = 0
    if run:
        writer.write(*ac_codes[0x00])
    return dc


def encode_jpeg(rows, quality=92):
    height, width = len(rows), len(rows[0])
    quants = [scaled_quant(LUMA_QUANT, quality), scaled_quant(CHROMA_QUANT, quality)]
    dc_codes = [huffman_codes(DC_LUMA), huffman_codes(DC_CHROMA)]
    ac_codes = [huffman_codes(AC_LUMA), huffman_codes(AC_CHROMA)]

    def sample(x, y):
        r, g, b = rows[min(y, height - 1)][min(x, width - 1)]
        return (0.299 * r + 0.587 * g + 0.114 * b - 128,
                -0.168736 * r - 0.331264 * g + 0.5 * b,
                0.5 * r - 0.418688 * g - 0.081312 * b)

    writer = BitWriter()
    previous = [0, 0, 0]
    for block_y in range(0, height, 8):
        for block_x in range(0, width, 8):
            samples = [sample(block_x + i % 8, block_y + i // 8) for i in range(64)]
            for component in range(3):
                table = 0 if component == 0 else 1
                spectrum = dct_8x8([s[component] for s in samples])
                quantised = [round(spectrum[z] / quants[table][z]) for z in ZIGZAG]
                previous[component] = encode_block(writer, quantised, previous[component],
                                                   dc_codes[table], ac_codes[table])
    writer.flush()

    def segment(marker, data):
        return struct.pack(">BBH", 0xFF, marker, len(data) + 2) + data

    quant_data = b"".join(bytes([index]) + bytes(q[z] for z in ZIGZAG)
                          for index, q in enumerate(quants))
    frame = struct.pack(">BHHB", 8, height, width, 3) + bytes(
        [1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1])
    huffman = b""
    for kind, index, (counts, symbols) in ((0x00, 0, DC_LUMA), (0x10, 0, AC_LUMA),
                                           (0x01, 1, DC_CHROMA), (0x11, 1, AC_CHROMA)):
        huffman += bytes([kind]) + bytes(counts) + bytes(symbols)
    scan = bytes([3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0])
    return (b"\xFF\xD8" +
            segment(0xE0, b"JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00") +
            segment(0xDB, quant_data) + segment(0xC0, frame) + segment(0xC4, huffman) +
            segment(0xDA, scan) + bytes(writer.out) + b"\xFF\xD9")


# ICO (32-bit DIB entries with an AND mask) ---------------------------------

def encode_ico(images):
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for rows in images:
        size = len(rows)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        colours = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
        mask_stride = ((size + 31) // 32) * 4
        mask = bytes(mask_stride * size)  # every pixel's alpha decides
        blob = header + colours + mask
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob),
                               offset)
        blobs += blob
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + entries + blobs


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    outputs = {
        "installer_background.jpg": lambda: encode_jpeg(draw_background(320, 216)),
        "installer_logo.png": lambda: encode_png(draw_logo(96)),
        "installer_error_badge.png": lambda: encode_png(draw_badge(32)),
        "installer.ico": lambda: encode_ico([draw_logo(48), draw_logo(32), draw_logo(16)]),
    }
    for name, make in outputs.items():
        with open(os.path.join(folder, name), "wb") as output:
            output.write(make())


if __name__ == "__main__":
    main()
