#!/usr/bin/env python3
"""Converts the 24-bit BMP screenshots the Windows programs write to PNG, with
nothing beyond Python's standard library: bmp-to-png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def main(source, target):
    data = open(source, "rb").read()
    if data[:2] != b"BM":
        sys.exit(f"{source}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        sys.exit(f"{source}: {bits} bits per pixel, only 24 are read")
    stride = (width * 3 + 3) & ~3
    rows = []
    # Bottom-up unless the height is negative; pixels are stored as BGR.
    order = range(abs(height) - 1, -1, -1) if height > 0 else range(abs(height))
    for y in order:
        row = data[offset + y * stride : offset + y * stride + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    open(target, "wb").write(png)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: bmp-to-png.py IN.bmp OUT.png")
    main(sys.argv[1], sys.argv[2])
