#!/usr/bin/env python3
"""Draws the program icon: a blue smart card with a gold contact chip.

Writes VEXOR_K_CryptoProInstaller.ico with the sizes 16, 24, 32 and 48, each
in 4-bit, 8-bit and 32-bit colour, and 256 in 32-bit colour only: the
Windows that show so large an icon take the true-colour one. Run it again after changing the
drawing; the .ico is kept in the repository so builds need no Python.
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
CARD = (28, 78, 160)
CARD_EDGE = (14, 42, 96)
CHIP = (222, 178, 58)
CHIP_LINE = (150, 110, 20)
STRIPE = (240, 240, 240)


def inside_rounded(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(u, v):
    """Colour (r, g, b, a) of the drawing at unit coordinates u, v."""
    if not inside_rounded(u, v, 0.04, 0.18, 0.96, 0.82, 0.08):
        return (0, 0, 0, 0)
    if not inside_rounded(u, v, 0.08, 0.22, 0.92, 0.78, 0.05):
        return CARD_EDGE + (255,)
    if 0.16 <= u <= 0.42 and 0.36 <= v <= 0.60:
        on_line = abs(v - 0.48) < 0.02 or abs(u - 0.29) < 0.02
        return (CHIP_LINE if on_line else CHIP) + (255,)
    if 0.52 <= u <= 0.86 and (0.40 <= v <= 0.45 or 0.52 <= v <= 0.57):
        return STRIPE + (255,)
    return CARD + (255,)


def render(size):
    """Rows of (r, g, b, a), top row first, 4x4 supersampled."""
    samples = 4
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / size
                    v = (y + (sy + 0.5) / samples) / size
                    r, g, b, a = colour_at(u, v)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] // (samples * samples)
            if acc[3]:
                row.append((acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], alpha))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
CUBE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PALETTE256 = CUBE + [(i * 6, i * 6, i * 6) for i in range(40)]


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - rgb[k]) ** 2 for k in range(3)))


def and_mask(rows):
    stride = ((len(rows) + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def dib(rows, bits):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    stride = ((size * bits + 31) // 32) * 4
    data = bytearray()
    palette = b''
    if bits == 32:
        for row in reversed(rows):
            for r, g, b, a in row:
                data += bytes((b, g, r, a))
    else:
        colours = VGA16 if bits == 4 else PALETTE256
        palette = b''.join(bytes((b, g, r, 0)) for r, g, b in colours)
        cache = {}
        for row in reversed(rows):
            indices = []
            for pixel in row:
                rgb = pixel[:3] if pixel[3] >= 128 else (0, 0, 0)
                if rgb not in cache:
                    cache[rgb] = nearest(colours, rgb)
                indices.append(cache[rgb])
            line = bytearray(stride)
            for x, index in enumerate(indices):
                if bits == 8:
                    line[x] = index
                else:
                    line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            data += line
    return header + palette + bytes(data) + and_mask(rows)


def png(rows):
    def chunk(kind, payload):
        return (struct.pack('>I', len(payload)) + kind + payload +
                struct.pack('>I', zlib.crc32(kind + payload) & 0xffffffff))
    size = len(rows)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in rows)
    return (b'\x89PNG\r\n\x1a\n' +
            chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main(path):
    images = []
    for size in SIZES:
        rows = render(size)
        for bits in (4, 8, 32) if size < 256 else (32,):
            # Large true-colour images are stored as PNG, as Windows expects.
            data = png(rows) if (size == 256 and bits == 32) else dib(rows, bits)
            images.append((size, bits, data))
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 16 if bits == 4 else 0, 0, 1,
                           bits, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'VEXOR_K_CryptoProInstaller.ico')
