#!/usr/bin/env python3
"""Draws the program's own pictures: the fan icon (36x36, 24-bit) and the logo
bitmap (134x60, 256 colours). Run from the repo root; writes ui/res/."""
import math
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "res")


def fan_pixel(x, y, size=36):
    """Colour (r, g, b) and opacity of the fan icon at (x, y)."""
    c = (size - 1) / 2.0
    dx, dy = x - c, y - c
    r = math.hypot(dx, dy)
    if r > c + 0.5:
        return (0, 0, 0), False
    if r > c - 1.5:
        return (40, 48, 64), True  # rim
    if r < 4.0:
        return (200, 200, 210), True  # hub
    # Five swept blades: the blade edge bends with the radius.
    angle = math.atan2(dy, dx) + r * 0.09
    phase = (angle * 5 / (2 * math.pi)) % 1.0
    if phase < 0.55:
        shade = int(120 + 100 * (1 - r / c))
        return (30, shade, 230), True
    return (16, 22, 38), True


def write_icon(path, size=36):
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):  # bottom-up rows
        row = bytearray()
        bits = [0] * (mask_stride * 8)
        for x in range(size):
            (r, g, b), opaque = fan_pixel(x, y, size)
            row += bytes((b, g, r))
            bits[x] = 0 if opaque else 1
        while len(row) % 4:
            row.append(0)
        xor += row
        for i in range(mask_stride):
            v = 0
            for k in range(8):
                v = (v << 1) | bits[i * 8 + k]
            mask.append(v)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


FONT = {  # 5x7 capitals
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
}


def write_logo(path, width=134, height=60):
    # Palette: 0..127 a blue-to-teal ramp, 128 white, 129 dark outline, rest black.
    palette = []
    for i in range(256):
        if i < 128:
            t = i / 127.0
            palette.append((int(20 + 20 * t), int(40 + 120 * t), int(120 + 100 * t)))
        elif i == 128:
            palette.append((255, 255, 255))
        elif i == 129:
            palette.append((10, 20, 40))
        else:
            palette.append((0, 0, 0))
    pixels = [[int(127 * x / (width - 1)) for x in range(width)] for _ in range(height)]
    text, scale = "VORLANE", 3
    text_w = len(text) * 6 * scale - scale
    ox, oy = (width - text_w) // 2, (height - 7 * scale) // 2
    for n, ch in enumerate(text):
        for gy, line in enumerate(FONT[ch]):
            for gx, bit in enumerate(line):
                if bit != "1":
                    continue
                for sy in range(scale):
                    for sx in range(scale):
                        px = ox + (n * 6 + gx) * scale + sx
                        py = oy + gy * scale + sy
                        pixels[py][px] = 128
                        if py + 1 < height and pixels[py + 1][px] != 128:
                            pixels[py + 1][px] = 129  # drop shadow
    stride = (width + 3) & ~3
    data = bytearray()
    for y in reversed(range(height)):
        row = bytearray(pixels[y])
        row += bytes(stride - width)
        data += row
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(data), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(pal)
    filehdr = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(filehdr + info + pal + data)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    write_icon(os.path.join(OUT, "Vorlane.ico"))
    write_logo(os.path.join(OUT, "logo.bmp"))
