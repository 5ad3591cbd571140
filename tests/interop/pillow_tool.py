#!/usr/bin/python3
"""Pillow as an independent reader and writer for the interoperability tests.

decode FILE OUT            writes OUT: width and height as 32-bit little-endian integers, then the
                           pixels as red, green, blue bytes, rows from the top (after conversion
                           of any mode to RGB; alpha is dropped, not blended)
mode FILE                  prints Pillow's mode and format of FILE
encode RAW OUT FORMAT MODE [key=value ...]
                           reads RAW (the layout decode writes), converts the RGB image to MODE
                           (1, L, P, P16, RGB, RGBA; P16 = 16-colour adaptive palette) without
                           dithering, and saves OUT in FORMAT with the given save options
                           (values that look like integers are passed as integers)
"""
import struct
import sys

from PIL import Image


def read_raw(path):
    with open(path, "rb") as f:
        data = f.read()
    width, height = struct.unpack("<II", data[:8])
    return Image.frombytes("RGB", (width, height), data[8:8 + width * height * 3])


def convert(image, mode):
    if mode == "1":
        return image.convert("1", dither=Image.Dither.NONE)
    if mode == "P":
        return image.convert("P", palette=Image.Palette.ADAPTIVE, colors=256)
    if mode == "P16":
        return image.convert("P", palette=Image.Palette.ADAPTIVE, colors=16)
    return image.convert(mode)


def option_value(text):
    try:
        return int(text)
    except ValueError:
        return text


def main(argv):
    command = argv[1]
    if command == "decode":
        with Image.open(argv[2]) as image:
            image.load()
            rgb = image.convert("RGB")
        with open(argv[3], "wb") as f:
            f.write(struct.pack("<II", rgb.width, rgb.height))
            f.write(rgb.tobytes())
    elif command == "mode":
        with Image.open(argv[2]) as image:
            print(image.mode, image.format)
    elif command == "encode":
        image = convert(read_raw(argv[2]), argv[5])
        options = dict(item.split("=", 1) for item in argv[6:])
        image.save(argv[3], argv[4], **{k: option_value(v) for k, v in options.items()})
    else:
        raise SystemExit("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)
