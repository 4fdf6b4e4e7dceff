#!/usr/bin/env python3
"""Draws palvenor.ico: one 32x32 image, 16 colours, a USB trident on a blue tile."""
import struct
import sys

PALETTE = [  # the 16 standard VGA colours, as (blue, green, red)
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128), (128, 128, 0),
    (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255), (255, 0, 0),
    (255, 0, 255), (255, 255, 0), (255, 255, 255)]
CLEAR, NAVY, WHITE, GREY, BLUE = 0, 4, 15, 8, 12
SIZE = 32


def draw():
    pixels = [[CLEAR] * SIZE for _ in range(SIZE)]
    opaque = [[False] * SIZE for _ in range(SIZE)]

    def put(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour
            opaque[y][x] = True

    for y in range(1, 31):  # the tile, corners cut
        for x in range(1, 31):
            corner = min(x - 1, 30 - x) + min(y - 1, 30 - y)
            if corner >= 2:
                put(x, y, BLUE if (x + y) % 7 else NAVY)
    for y in range(6, 24):  # the stem
        put(15, y, WHITE)
        put(16, y, WHITE)
    for dx in range(-3, 4):  # the arrow head
        for y in range(3, 7):
            if abs(dx) <= y - 3:
                put(15 + dx if dx < 0 else 16 + dx, y, WHITE)
    for i in range(6):  # left branch to a circle, right branch to a square
        put(14 - i, 17 - i, WHITE)
        put(17 + i, 15 - i, WHITE)
    for y in range(9, 13):
        for x in range(7, 11):
            if (x - 8.5) ** 2 + (y - 10.5) ** 2 <= 4.5:
                put(x, y, WHITE)
        for x in range(22, 26):
            put(x, y - 1, WHITE)
    for y in range(24, 28):  # the base disc
        for x in range(13, 19):
            if (x - 15.5) ** 2 + (y - 25.5) ** 2 <= 7:
                put(x, y, WHITE)
    for y in range(2, 30):  # a grey shade on the right edge
        if opaque[y][29]:
            put(29, y, GREY)
    return pixels, opaque


def icon_bytes():
    pixels, opaque = draw()
    xor_rows = []
    and_rows = []
    for y in reversed(range(SIZE)):  # DIBs are stored bottom-up
        row = pixels[y]
        xor_rows.append(bytes((row[x] << 4) | row[x + 1] for x in range(0, SIZE, 2)))
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (0 if opaque[y][x] else 1)
        and_rows.append(struct.pack('>I', bits))
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for b, g, r in PALETTE)
    image = header + palette + b''.join(xor_rows) + b''.join(and_rows)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else 'palvenor.ico'
    with open(out, 'wb') as f:
        f.write(icon_bytes())
