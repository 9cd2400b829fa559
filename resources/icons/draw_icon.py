#!/usr/bin/env python3
"""Draws the program's icon: four tiles of a tile set (grass, water, brick, sand).

Writes quillmere-tile-converter.ico (32x32 monochrome, 32x32 and 16x16 in 16 colours) for
Windows and PNGs for the desktop's hicolor theme. Needs only Python 3; run it again after
changing the art, and commit what it writes.
"""
import struct
import zlib
from pathlib import Path

# The 16 colours every Windows display has.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, SILVER, GREY = 0, 1, 2, 3, 4, 7, 8
LIME, YELLOW, BLUE, AQUA, WHITE, RED = 10, 11, 12, 14, 15, 9


def tile_colour(kind, u, v, side):
    """Colour index of pixel (u, v) inside a tile of the given side."""
    s = side // 8  # pattern scale: 1 at 8 px, 2 at 16 px
    if kind == "grass":
        return LIME if (u * 3 + v * 5) % (7 * s) == 0 else GREEN
    if kind == "water":
        return AQUA if (u // s + 2 * (v // (2 * s))) % 4 == 0 and (v // s) % 2 == 0 else (
            BLUE if (v // s) % 2 == 0 else NAVY)
    if kind == "brick":
        row = v // (2 * s)
        if v % (2 * s) == 0:
            return SILVER
        return SILVER if (u + (2 * s if row % 2 else 0)) % (4 * s) == 0 else (
            RED if (u + v) % (3 * s) == 0 else MAROON)
    # sand
    return OLIVE if (u * 7 + v * 3) % (5 * s) == 0 else YELLOW


def coloured_icon(side):
    half = side // 2
    kinds = [["grass", "water"], ["brick", "sand"]]
    pixels = []
    for y in range(side):
        row = []
        for x in range(side):
            if x == 0 or y == 0 or x == side - 1 or y == side - 1 or x == half or y == half:
                row.append(BLACK)
            else:
                kind = kinds[y // half][x // half]
                row.append(tile_colour(kind, x % half, y % half, half))
        pixels.append(row)
    return pixels


def mono_icon(side):
    """The same four tiles as black-and-white patterns: 1 is white, 0 black."""
    half = side // 2
    pixels = []
    for y in range(side):
        row = []
        for x in range(side):
            u, v = x % half, y % half
            if x in (0, side - 1, half) or y in (0, side - 1, half):
                row.append(0)
            elif x < half and y < half:  # grass: scattered dots
                row.append(0 if (u * 3 + v * 5) % 7 == 0 else 1)
            elif y < half:  # water: waves
                row.append(0 if (v + (u // 2) % 2) % 4 == 0 else 1)
            elif x < half:  # brick: courses
                row.append(0 if v % 4 == 0 or (u + (4 if (v // 4) % 2 else 0)) % 8 == 0 else 1)
            else:  # sand: checks
                row.append(0 if (u + v) % 2 == 0 else 1)
        pixels.append(row)
    return pixels


def bmp_image(pixels, bits, palette):
    """An icon image as Windows keeps it: a DIB with the mask under the colours."""
    side = len(pixels)
    stride = ((side * bits + 31) // 32) * 4
    colour_rows = b""
    for row in reversed(pixels):
        value = 0
        for index in row:
            value = (value << bits) | index
        colour_rows += value.to_bytes(side * bits // 8, "big").ljust(stride, b"\0")
    mask_stride = ((side + 31) // 32) * 4
    mask_rows = b"\0" * mask_stride * side  # every pixel opaque
    header = struct.pack("<IiiHHIIiiII", 40, side, side * 2, 1, bits, 0,
                         len(colour_rows) + len(mask_rows), 0, 0, len(palette), 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + colour_rows + mask_rows


def ico(images):
    """images: (side, colour count, bits, DIB bytes)."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for side, colours, bits, dib in images:
        entries += struct.pack("<BBBBHHII", side % 256, side % 256, colours % 256, 0, 1, bits,
                               len(dib), offset + len(data))
        data += dib
    return directory + entries + data


def png(pixels, scale=1):
    side = len(pixels) * scale
    raw = b""
    for row in pixels:
        line = b"\0" + b"".join(bytes(PALETTE[i]) * scale for i in row)
        raw += line * scale
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    here = Path(__file__).resolve().parent
    small, large, mono = coloured_icon(16), coloured_icon(32), mono_icon(32)
    (here / "quillmere-tile-converter.ico").write_bytes(ico([
        (32, 2, 1, bmp_image(mono, 1, [PALETTE[BLACK], PALETTE[WHITE]])),
        (32, 16, 4, bmp_image(large, 4, PALETTE)),
        (16, 16, 4, bmp_image(small, 4, PALETTE)),
    ]))
    (here / "16x16.png").write_bytes(png(small))
    for scale in (1, 2, 4, 8):
        (here / f"{32 * scale}x{32 * scale}.png").write_bytes(png(large, scale))


if __name__ == "__main__":
    main()
