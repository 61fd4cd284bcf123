#!/usr/bin/env python3
"""Draws the update dialog's animation and writes it as a RIFF AVI.

A small Go board on which stones are played one by one, black and white in
turn, until the board is full and starts again: 31 frames of 272 x 60 pixels,
8-bit palette, run-length encoded (BI_RLE8), 15 frames per second, one video
stream, no sound. The first frame is whole, each later one only what changed.

    make_animation.py <output.avi>
"""
import struct
import sys

WIDTH, HEIGHT, FRAMES = 272, 60, 31
MICROSECONDS_PER_FRAME = 66667  # 15 frames per second

# Palette: index -> (r, g, b).
# The animation control draws "transparent" in place of the top-left pixel's
# colour: a margin in its own colour lets the dialog show around the board.
CLEAR, BOARD, LINE, BLACK, WHITE, SHADE, EDGE = range(7)
PALETTE = [(255, 0, 255), (222, 184, 106), (92, 62, 24), (24, 24, 28), (246, 246, 240), (160, 160, 160),
           (70, 70, 74)]

SPACING = 12
COLUMNS = [16 + SPACING * i for i in range(21)]  # x of the vertical lines
ROWS = [12, 24, 36, 48]                          # y of the horizontal lines
# Order of play: column by column, every other line, so the stones spread out.
POINTS = [(c, (r + c) % 4) for c in range(0, 21, 2) for r in range(0, 4, 1)][:30]


def draw(frame):
    """Pixels (rows top-down) of one frame: `frame` stones on the board."""
    pixels = [[CLEAR] * WIDTH for _ in range(HEIGHT)]
    for y in range(ROWS[0] - 9, ROWS[-1] + 10):
        for x in range(COLUMNS[0] - 10, COLUMNS[-1] + 11):
            pixels[y][x] = BOARD
    for y in ROWS:
        for x in range(COLUMNS[0], COLUMNS[-1] + 1):
            pixels[y][x] = LINE
    for x in COLUMNS:
        for y in range(ROWS[0], ROWS[-1] + 1):
            pixels[y][x] = LINE
    for n in range(frame):
        column, row = POINTS[n]
        cx, cy = COLUMNS[column], ROWS[row]
        black = n % 2 == 0
        for y in range(cy - 5, cy + 6):
            for x in range(cx - 5, cx + 6):
                d = (x - cx) ** 2 + (y - cy) ** 2
                if d <= 25:
                    if black:
                        pixels[y][x] = BLACK if d < 20 else EDGE
                    else:
                        pixels[y][x] = WHITE if d < 20 else SHADE
        # The last stone played carries a small mark.
        if n == frame - 1:
            pixels[cy][cx] = WHITE if black else BLACK
    return pixels


def runs(row, start, end):
    """Encoded-mode runs of row[start:end]."""
    out = bytearray()
    x = start
    while x < end:
        run = 1
        while x + run < end and run < 255 and row[x + run] == row[x]:
            run += 1
        out += bytes((run, row[x]))
        x += run
    return out


def rle8(pixels, previous=None):
    """BI_RLE8 encoding, rows bottom-up. Without a previous frame every pixel
    is written (a key frame); with one, only the pixels that changed: a delta
    escape skips to the first change of a row and end-of-line leaves the rest
    of the row as the previous frame had it."""
    out = bytearray()
    for y in reversed(range(HEIGHT)):
        row = pixels[y]
        if previous is None:
            out += runs(row, 0, WIDTH)
        else:
            changed = [x for x in range(WIDTH) if row[x] != previous[y][x]]
            if changed:
                first, last = changed[0], changed[-1] + 1
                if first:
                    out += bytes((0, 2, first, 0))
                out += runs(row, first, last)
        out += b"\x00\x00"
    out[-2:] = b"\x00\x01"  # the last end-of-line becomes end-of-bitmap
    return bytes(out)


def chunk(fourcc, data):
    pad = b"\x00" if len(data) % 2 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, fourcc, data):
    return kind + struct.pack("<I", len(data) + 4) + fourcc + data


def main(path):
    pictures = [draw(i) for i in range(FRAMES)]
    # Frame 0 is the key frame the loop returns to; the others are deltas.
    frames = [rle8(pictures[0])] + [rle8(pictures[i], pictures[i - 1]) for i in range(1, FRAMES)]
    largest = max(len(f) for f in frames)

    bitmap_info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 1, largest, 0, 0, len(PALETTE), len(PALETTE))
    bitmap_info += b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    stream_header = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"mrle", 0, 0, 0, 0,
                                MICROSECONDS_PER_FRAME, 1000000, 0, FRAMES, largest, 0xFFFFFFFF, 0,
                                0, 0, WIDTH, HEIGHT)
    bytes_per_second = largest * 15
    main_header = struct.pack("<IIIIIIIIII16x", MICROSECONDS_PER_FRAME, bytes_per_second, 0, 0x10, FRAMES, 0, 1,
                              largest, WIDTH, HEIGHT)

    header_list = riff_list(b"LIST", b"hdrl", chunk(b"avih", main_header) +
                            riff_list(b"LIST", b"strl", chunk(b"strh", stream_header) + chunk(b"strf", bitmap_info)))
    movie = b""
    index = b""
    for number, frame in enumerate(frames):
        flags = 0x10 if number == 0 else 0  # AVIIF_KEYFRAME
        index += struct.pack("<4sIII", b"00dc", flags, 4 + len(movie), len(frame))
        movie += chunk(b"00dc", frame)
    body = header_list + riff_list(b"LIST", b"movi", movie) + chunk(b"idx1", index)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body) + 4) + b"AVI " + body)


if __name__ == "__main__":
    main(sys.argv[1])
