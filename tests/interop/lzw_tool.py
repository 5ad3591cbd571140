#!/usr/bin/python3
"""Pillow as an independent GIF LZW coder for the LZW tests, at the level of palette indices.

Index pictures: width and height as 32-bit little-endian integers, then one palette index per
pixel, rows from the top.

encode INDICES OUT BITS INTERLACE
    saves the indices as a one-frame GIF with a palette of 2^BITS distinct colours, unoptimised,
    interlaced when INTERLACE is 1 (Pillow interlaces only pictures at least 16 rows high), so that
    the image data are Pillow's own LZW coding.
decode GIF OUT
    opens GIF with Pillow and writes its first frame's indices to OUT as an index picture.
"""
import struct
import sys

from PIL import Image


def palette(bits):
    colours = []
    for i in range(1 << bits):
        colours += [i, (i * 7 + 3) % 256, 255 - i]
    return colours


def main(argv):
    command = argv[1]
    if command == "encode":
        with open(argv[2], "rb") as f:
            data = f.read()
        width, height = struct.unpack("<II", data[:8])
        bits = int(argv[4])
        image = Image.frombytes("P", (width, height), data[8:8 + width * height])
        image.putpalette(palette(bits))
        image.save(argv[3], "GIF", optimize=False, interlace=int(argv[5]), bits=bits)
    elif command == "decode":
        with Image.open(argv[2]) as image:
            image.load()
            if image.mode != "P":
                raise SystemExit("not a palette image: " + image.mode)
            with open(argv[3], "wb") as f:
                f.write(struct.pack("<II", image.width, image.height))
                f.write(image.tobytes())
    else:
        raise SystemExit("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)
