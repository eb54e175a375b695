#!/usr/bin/env python3
"""Draws the program's pictures from the pixel maps below and writes them next to this file:
port_available.bmp and port_unavailable.bmp (16 x 16, 4 bpp) and nerio.ico (16 and 32 px).
The outputs are committed; run this again only after changing a map."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16-colour palette of 4-bpp bitmaps, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# Map letters: K black, G grey, S silver, O olive, Y yellow, R red, . white.
INDEX = {'K': 0, 'G': 8, 'S': 7, 'O': 3, 'Y': 11, 'R': 9, '.': 15}

CONNECTOR = [
    "................",
    "...OYOYOYOYOY...",
    "..KKKKKKKKKKKKK.",
    "..KSSSSSSSSSSGK.",
    "..KSKSKSKSKSSGK.",
    "..KSSSSSSSSSSGK.",
    "...KSKSKSKSSGK..",
    "...KSSSSSSSSGK..",
    "....KGGGGGGGK...",
    ".....KKKKKKK....",
    ".......KSGK.....",
    ".......KSGK.....",
    ".......KSGK.....",
    ".......KSGK.....",
    ".......KSGK.....",
    "................",
]


def crossed(rows):
    out = [list(r) for r in rows]
    for i in range(1, 15):
        for x in (i, 15 - i):
            out[i][x] = 'R'
            out[i][min(x + 1, 15) if x == i else max(x - 1, 0)] = 'R'
    return ["".join(r) for r in out]


def bmp4(rows):
    w, h = 16, 16
    stride = ((w * 4 + 31) // 32) * 4
    pixels = b""
    for y in range(h - 1, -1, -1):  # bottom-up
        line = bytearray()
        row = rows[y]
        for x in range(0, w, 2):
            line.append((INDEX[row[x]] << 4) | INDEX[row[x + 1]])
        line += b"\0" * (stride - len(line))
        pixels += bytes(line)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    offset = 14 + len(info) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + palette + pixels


def icon_image(size):
    """A PLC module (grey case, green status lamps, terminal row) with a blue arrow into it."""
    px = [[None] * size for _ in range(size)]
    s = size / 32.0

    def box(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = c

    dark, case, light = (60, 60, 70), (170, 175, 185), (225, 228, 235)
    box(3, 9, 29, 30, dark)        # outline
    box(4, 10, 28, 29, case)       # case
    box(4, 10, 28, 12, light)      # top edge highlight
    for i in range(6):             # terminal row
        box(6 + i * 4, 25, 8 + i * 4, 27, (70, 70, 80))
    for i, c in enumerate([(40, 200, 60), (40, 200, 60), (230, 160, 30)]):  # lamps
        box(6 + i * 4, 14, 8 + i * 4, 16, c)
    box(17, 14, 26, 22, (40, 60, 80))  # display
    box(18, 15, 25, 21, (90, 190, 230))
    blue = (20, 90, 210)
    box(13, 1, 19, 7, blue)            # arrow shaft
    for k in range(6):                 # arrow head
        box(9 + k, 7 + k, 23 - k, 8 + k, blue)
    return px


def ico(sizes):
    images = []
    for size in sizes:
        px = icon_image(size)
        xor = b""
        for y in range(size - 1, -1, -1):
            for x in range(size):
                c = px[y][x]
                xor += struct.pack("<BBBB", c[2], c[1], c[0], 255) if c else b"\0\0\0\0"
        mstride = ((size + 31) // 32) * 4
        mask = b""
        for y in range(size - 1, -1, -1):
            bits = bytearray(mstride)
            for x in range(size):
                if px[y][x] is None:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                           0, 0, 0, 0)
        images.append((size, info + xor + mask))
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, blob in images:
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    return head + entries + data


def main():
    with open(os.path.join(HERE, "port_available.bmp"), "wb") as f:
        f.write(bmp4(CONNECTOR))
    with open(os.path.join(HERE, "port_unavailable.bmp"), "wb") as f:
        f.write(bmp4(crossed(CONNECTOR)))
    with open(os.path.join(HERE, "nerio.ico"), "wb") as f:
        f.write(ico([16, 32, 48]))


if __name__ == "__main__":
    main()
