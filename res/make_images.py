#!/usr/bin/env python3
"""Writes the control's toolbox bitmap (Toolbox.bmp, 16 x 15) and the module
icon (Vantorima.ico, 32 x 32 and 16 x 16), all 16 colours: a Go board corner
with a black and a white stone. Run from this directory; the outputs are
committed beside it."""
import struct

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, DARK_YELLOW, GREY, YELLOW, WHITE = 0, 3, 8, 11, 15


def picture(size):
    """Rows top to bottom of palette indices."""
    rows = []
    step = max(size // 4, 3)
    r = size * 0.22
    stones = [(size * 0.36, size * 0.40, BLACK), (size * 0.66, size * 0.66, WHITE)]
    for y in range(size):
        row = []
        for x in range(size):
            c = YELLOW
            if x % step == step // 2 or y % step == step // 2:
                c = DARK_YELLOW
            for sx, sy, colour in stones:
                d = ((x + 0.5 - sx) ** 2 + (y + 0.5 - sy) ** 2) ** 0.5
                if d <= r:
                    c = colour
                elif d <= r + 0.8 and colour == WHITE:
                    c = GREY
            row.append(c)
        rows.append(row)
    return rows


def dib(rows, width, height, with_mask):
    """BITMAPINFOHEADER, palette, 4-bit pixels bottom-up (and an AND mask)."""
    stride = ((width * 4 + 31) // 32) * 4
    pixels = b''
    for row in reversed(rows[:height]):
        line = bytearray(stride)
        for x in range(width):
            line[x // 2] |= row[x] << (4 if x % 2 == 0 else 0)
        pixels += bytes(line)
    mask = b''
    if with_mask:
        mask = bytes(((width + 31) // 32) * 4 * height)  # all opaque
    header_height = height * 2 if with_mask else height
    header = struct.pack('<IiiHHIIiiII', 40, width, header_height, 1, 4, 0, len(pixels) + len(mask), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + pixels + mask


def write_bitmap(path):
    rows = picture(16)[:15]
    body = dib(rows, 16, 15, False)
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', 14 + len(body), 0, 0, 14 + 40 + 64) + body)


def write_icon(path):
    images = [dib(picture(s), s, s, True) for s in (32, 16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    write_bitmap('Toolbox.bmp')
    write_icon('Vantorima.ico')
