#!/usr/bin/python3
"""Pictures with an alpha channel for the BMP and icon interoperability tests.

bmp_alpha_tool.py OUTDIR   writes into OUTDIR, all from one deterministic RGBA picture:
  rgba.raw        width and height as 32-bit little-endian integers, then red, green, blue, alpha
                  bytes, rows from the top
  rgba.png        the picture as an RGBA PNG (Pillow)
  png.ico         an icon whose one image is stored as a PNG (Pillow's default)
  bmp.ico         an icon whose one image is a 32-bit bitmap with alpha (Pillow, bitmap_format=bmp)
  big.ico         a 256 x 256 icon stored as PNG, whose directory says 0 for its size (Pillow)
  v5.bmp          the picture as a 32-bit BMP with a v5 header and bit-field masks with alpha,
                  put together here byte by byte (Pillow does not write alpha bitmaps)
"""
import os
import struct
import sys

from PIL import Image


def picture(width, height):
    image = Image.new("RGBA", (width, height))
    image.putdata([((x * 7) % 256, (y * 11) % 256, (x * y) % 256, (x * 13 + y * 5) % 256)
                   for y in range(height) for x in range(width)])
    return image


def v5_bitmap(image):
    width, height = image.size
    rows = b""
    for y in range(height - 1, -1, -1):
        for x in range(width):
            r, g, b, a = image.getpixel((x, y))
            rows += bytes((b, g, r, a))
    header = struct.pack("<IiiHHIIiiII", 124, width, height, 1, 32, 3, len(rows), 2835, 2835, 0, 0)
    header += struct.pack("<4I", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    header += bytes(124 - len(header))
    offset = 14 + len(header)
    return b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + header + rows


def main(out):
    image = picture(32, 32)
    with open(os.path.join(out, "rgba.raw"), "wb") as f:
        f.write(struct.pack("<II", *image.size))
        f.write(image.tobytes())
    image.save(os.path.join(out, "rgba.png"), "PNG")
    image.save(os.path.join(out, "png.ico"), "ICO", sizes=[(32, 32)])
    image.save(os.path.join(out, "bmp.ico"), "ICO", sizes=[(32, 32)], bitmap_format="bmp")
    picture(256, 256).save(os.path.join(out, "big.ico"), "ICO", sizes=[(256, 256)])
    with open(os.path.join(out, "v5.bmp"), "wb") as f:
        f.write(v5_bitmap(image))


if __name__ == "__main__":
    main(sys.argv[1])
