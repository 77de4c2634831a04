#!/usr/bin/env python3
"""Draws the application icon (a small printer with a sheet coming out of
it) and writes it as a Windows icon file with an image for every size the
window and the notification area ask for from 100 % to 300 % scaling:
16, 20, 24, 32, 40, 48 and 256 pixels, the largest one as PNG."""
import struct
import sys
import zlib

SIZES = (256, 48, 40, 32, 24, 20, 16)


def pixel_art(size):
    s = size / 32.0
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, rgba):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = rgba

    dark = (40, 48, 72, 255)
    body = (74, 110, 168, 255)
    light = (255, 255, 255, 255)
    ink = (60, 60, 60, 255)
    green = (60, 200, 90, 255)
    rect(9, 2, 23, 12, dark)       # paper tray behind
    rect(10, 3, 22, 12, light)     # sheet going in
    rect(3, 11, 29, 24, dark)      # body outline
    rect(4, 12, 28, 23, body)      # body
    rect(23, 14, 26, 16, green)    # lamp
    rect(7, 20, 25, 22, dark)      # output slot
    rect(8, 21, 24, 31, dark)      # sheet outline
    rect(9, 21, 23, 30, light)     # printed sheet
    for y in (23, 25, 27):
        rect(11, y, 21, y + 1, ink)
    return px


def dib(size):
    px = pixel_art(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''
    for y in range(size - 1, -1, -1):
        for r, g, b, a in px[y]:
            rows += struct.pack('BBBB', b, g, r, a)
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for y in range(size - 1, -1, -1):
        bits = 0
        row = b''
        for x in range(size):
            bits = (bits << 1) | (1 if px[y][x][3] == 0 else 0)
            if x % 8 == 7:
                row += bytes([bits])
                bits = 0
        mask += row.ljust(mask_row, b'\0')
    return header + rows + mask


def png(size):
    px = pixel_art(size)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in px)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    return (b'\x89PNG\r\n\x1a\n' +
            chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main(path):
    images = [png(size) if size >= 256 else dib(size) for size in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        # A width or height of 256 is written as 0.
        dim = size % 256
        out += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'Morvane.ico')
