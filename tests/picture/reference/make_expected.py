#!/usr/bin/env python3
"""Writes the signature fixtures: a 128 x 128 PNG and its expected signature for each picture.

    python3 tests/picture/reference/make_expected.py [output folder]

The output folder defaults to tests/data/picture/signatures. Each fixture NAME gives NAME.png
(RGB, 8 bits, not interlaced) and NAME.sig, a text file of seven lines:

    L0 <1024 signed bytes>      ... up to L5
    H <32 unsigned bytes>

L-trace byte 32 * x + y is coefficient (x, y) of the transformed grid (x the picture column).
The committed files are what the tests read; rerun this only to change or add fixtures.
"""

import os
import struct
import sys
import zlib

sys.dont_write_bytecode = True  # keep the source folder clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import signature_reference as ref  # noqa: E402

SIZE = ref.SIZE


def solid(colour):
    return lambda x, y: colour


def horizontal_gradient(x, y):
    # Brightness and hue both change from left to right only.
    return (2 * x, 128, 255 - 2 * x)


def vertical_gradient(x, y):
    return (255 - 2 * y, 2 * y, 40)


def diagonal_gradient(x, y):
    v = x + y  # 0 .. 254
    return (v, v, v)


def corner(x, y):
    """White lower-right quarter on black: four coefficients of equal size, each exactly half
    the norm, so every one of them quantises from 127 * 0.5 or -127 * 0.5, a tie. Any error of
    the last bit on the way moves them off it."""
    return (255, 255, 255) if x >= SIZE // 2 and y >= SIZE // 2 else (0, 0, 0)


def shape(x, y):
    """Dark background with shapes placed so that no turn or mirror maps it onto itself."""
    colour = (20 + x // 8, 10, 40 + y // 4)
    if 10 <= x < 60 and 8 <= y < 30:
        colour = (230, 30, 30)  # red bar, upper left
    if (x - 90) ** 2 + (y - 40) ** 2 < 15 ** 2:
        colour = (250, 220, 40)  # yellow disc, upper right
    if y > 70 and x > 20 and y - 70 > (x - 20) // 2 and y < 120:
        colour = (30, 200, 60)  # green wedge, lower left
    if 100 <= x < 120 and 90 <= y < 124:
        colour = (60, 120, 255)  # blue block, lower right
    return colour


# Colours whose hue lands exactly halfway between two bins (32 * hue = k + 0.5 in 32-bit
# floats, whether the conversion works in float or wider); most have k even, where halves to
# even and halves away from zero part. Columns of unequal widths give every bin its own count.
HUE_TIES = [
    ((96, 67, 64), 3),    # 0.5  -> bin 0
    ((96, 73, 64), 5),    # 1.5  -> 2
    ((96, 79, 64), 6),    # 2.5  -> 2
    ((73, 68, 41), 7),    # 4.5  -> 4
    ((66, 73, 41), 8),    # 6.5  -> 6
    ((41, 73, 52), 9),    # 12.5 -> 12
    ((41, 70, 73), 10),   # 16.5 -> 16
    ((41, 46, 73), 11),   # 20.5 -> 20
    ((42, 41, 73), 12),   # 21.5 -> 22
    ((60, 41, 73), 13),   # 24.5 -> 24
    ((73, 41, 50), 14),   # 30.5 -> 30
    ((73, 41, 44), 30),   # 31.5 -> 32, kept in 31
]


def hue_ties(x, y):
    for colour, width in HUE_TIES:
        if x < width:
            return colour
        x -= width
    raise ValueError("the columns must cover the picture")


def noise(seed):
    """Per-pixel noise from a xorshift32 generator, so any pixel out of place shows."""
    state = seed
    values = []
    for _ in range(SIZE * SIZE * 3):
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        values.append(state >> 24)

    def pixel(x, y):
        i = (y * SIZE + x) * 3
        return tuple(values[i:i + 3])
    return pixel


FIXTURES = [
    ("black", solid((0, 0, 0))),
    ("white", solid((255, 255, 255))),
    ("grey", solid((128, 128, 128))),
    ("red", solid((255, 0, 0))),
    ("green", solid((0, 255, 0))),
    ("blue", solid((0, 0, 255))),
    ("pink", solid((255, 0, 128))),
    ("gradient_horizontal", horizontal_gradient),
    ("gradient_vertical", vertical_gradient),
    ("gradient_diagonal", diagonal_gradient),
    ("corner", corner),
    ("shape", shape),
    ("hue_ties", hue_ties),
    ("noise", noise(0x2545F491)),
]


def picture_of(pixel):
    return [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]


def png_bytes(picture):
    """A minimal PNG: IHDR (RGB, depth 8, no interlace), one IDAT, IEND."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    height = len(picture)
    width = len(picture[0])
    raw = bytearray()
    for row in picture:
        # Filter "Sub" (1): each byte minus the byte of the pixel to its left; gradients shrink.
        raw.append(1)
        previous = (0, 0, 0)
        for pixel in row:
            raw.extend((c - p) & 0xFF for c, p in zip(pixel, previous))
            previous = pixel
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def signature_text(signature):
    lines = []
    for element in range(6):
        lines.append("L%d %s" % (element, " ".join(str(v) for v in signature["L"][element])))
    lines.append("H %s" % " ".join(str(v) for v in signature["H"]))
    return "\n".join(lines) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "..", "..", "data", "picture", "signatures")
    folder = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else default)
    os.makedirs(folder, exist_ok=True)
    ref.self_check()
    for name, pixel in FIXTURES:
        picture = picture_of(pixel)
        with open(os.path.join(folder, name + ".png"), "wb") as out:
            out.write(png_bytes(picture))
        with open(os.path.join(folder, name + ".sig"), "w", encoding="ascii", newline="\n") as out:
            out.write(signature_text(ref.analyse(picture)))
        print("wrote", name)


if __name__ == "__main__":
    main()
