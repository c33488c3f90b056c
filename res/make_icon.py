#!/usr/bin/env python3
"""Writes the updater's icon: an .ico file with a 32 x 32 and a 16 x 16 image
of 16 colours each, drawn here so that no binary file is kept in the tree.

The picture is a blue tile with a yellow arrow pointing down onto a white
bar: something arriving and being put in place.

.ico layout (all fields little-endian):
  ICONDIR       reserved u16 = 0, type u16 = 1, count u16
  ICONDIRENTRY  per image: width u8, height u8, colours u8, reserved u8,
                planes u16, bits per pixel u16, bytes u32, offset u32
  image         BITMAPINFOHEADER (40 bytes, height doubled for the two
                masks), 16 RGBQUADs (blue, green, red, 0), the colour bits
                at 4 bits per pixel, then the 1-bit transparency mask; both
                stored bottom row first, each row padded to 4 bytes.
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, BLUE, YELLOW, WHITE = 0, 4, 12, 11, 15
TRANSPARENT = None


def pixel(x, y, size):
    """Palette index of pixel (x, y) in an image of size x size, or None."""
    # Work on a 16-unit grid; the 32-pixel image samples it twice as finely.
    u = (x + 0.5) * 16.0 / size
    v = (y + 0.5) * 16.0 / size
    edge = 1.0 / (size / 16.0)  # one pixel, in grid units
    # The tile: a square with cut corners, a one-pixel navy border.
    inset = 0.5
    if not (inset <= u <= 16 - inset and inset <= v <= 16 - inset):
        return TRANSPARENT
    du = min(u - inset, 16 - inset - u)
    dv = min(v - inset, 16 - inset - v)
    if du + dv < 2.5:
        return TRANSPARENT
    if du < edge or dv < edge or du + dv < 2.5 + edge:
        return NAVY
    # The bar the arrow points at.
    if 12.0 <= v < 13.5 and 3.0 <= u < 13.0:
        return WHITE
    # The arrow: a shaft and a head, outlined in black.
    def arrow(u, v):
        shaft = 6.0 <= u < 10.0 and 2.5 <= v < 7.5
        head = 7.0 <= v < 11.0 and abs(u - 8.0) < (11.0 - v) * 1.1
        return shaft or head
    if arrow(u, v):
        inner = all(arrow(u + du_, v + dv_)
                    for du_, dv_ in ((edge, 0), (-edge, 0), (0, edge), (0, -edge)))
        return YELLOW if inner else BLACK
    return BLUE


def image(size):
    rows_xor, rows_and = [], []
    for y in range(size - 1, -1, -1):  # bottom row first
        row = [pixel(x, y, size) for x in range(size)]
        xor = bytearray()
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append((hi << 4) | lo)
        while len(xor) % 4:
            xor.append(0)
        mask = bytearray((size + 7) // 8)
        for x, p in enumerate(row):
            if p is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        while len(mask) % 4:
            mask.append(0)
        rows_xor.append(bytes(xor))
        rows_and.append(bytes(mask))
    bits = b"".join(rows_xor) + b"".join(rows_and)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(bits), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bits


def icon(sizes):
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(icon([32, 16]))
