#!/usr/bin/env python3
"""Converts an X window dump of 24-bit colour in 32-bit pixels (what Xvfb -fbdir keeps of its
screen) to a PNG, optionally cut to WIDTHxHEIGHT from the top left corner, with the standard
library only.

    xwd_to_png.py SCREEN.xwd OUT.png [WIDTHxHEIGHT]
"""

import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line, ncolors = fields[7], fields[11], fields[12], fields[19]
    if bits_per_pixel != 32:
        sys.exit(f"xwd_to_png: {bits_per_pixel} bits per pixel; only 32 are read")
    start = header_size + 12 * ncolors
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + 4 * width]
        rgb = bytearray(3 * width)
        # LSB first: blue, green, red, unused; MSB first the other way round.
        order = (2, 1, 0) if byte_order == 0 else (1, 2, 3)
        for channel, offset in enumerate(order):
            rgb[channel::3] = line[offset::4]
        rows.append(bytes(rgb))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + row[:3 * width] for row in rows[:height])
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(png)


def main():
    width, height, rows = read_xwd(sys.argv[1])
    if len(sys.argv) > 3:
        width, height = (min(a, b) for a, b in zip(map(int, sys.argv[3].split("x")), (width, height)))
    write_png(sys.argv[2], width, height, rows)


if __name__ == "__main__":
    main()
