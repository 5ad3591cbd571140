#!/usr/bin/python3
"""Writes the seed files of the TGA fuzz target into fuzz/corpus/tga (run from the repository root).

Pillow writes the modes it supports (1, L, P, RGB, RGBA, raw and run-length coded). The layouts it
does not write (15/16-bit pixels and map entries, 16-bit indices, a map with a first-entry index,
right-to-left and top-down rows, packets that cross rows or run past the image, an extension area
with its footer) and a few damaged files are put together by hand below. Every file stays under 4 KB.
"""
import os
import struct

from PIL import Image

OUT = os.path.join("fuzz", "corpus", "tga")


def header(image_type, width, height, depth, descriptor=0, id_field=b"", map_type=0, map_first=0,
           map_length=0, map_bits=0):
    return struct.pack("<BBBHHBHHHHBB", len(id_field), map_type, image_type, map_first, map_length,
                       map_bits, 0, 0, width, height, depth, descriptor) + id_field


def extension(offset):
    area = bytearray(495)
    struct.pack_into("<H", area, 0, 495)
    area[2:8] = b"Author"
    struct.pack_into("<6H", area, 367, 3, 15, 2023, 13, 14, 15)
    area[379:382] = b"Job"
    struct.pack_into("<4B", area, 470, 30, 20, 10, 0)
    struct.pack_into("<4H", area, 474, 9, 10, 11, 5)
    footer = struct.pack("<II", offset, 0) + b"TRUEVISION-XFILE.\0"
    return bytes(area) + footer


def save(name, data):
    assert len(data) < 4096, name
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    picture = Image.new("RGB", (12, 9))
    picture.putdata([((x * 20) % 256, (y * 28) % 256, 90 if (x + y) % 3 else (x ^ y) * 9)
                     for y in range(9) for x in range(12)])
    for mode in ("1", "L", "P", "RGB", "RGBA"):
        image = picture.convert(mode)
        image.save(os.path.join(OUT, "pillow-%s.tga" % mode.lower()))
        if mode != "1":
            image.save(os.path.join(OUT, "pillow-%s-rle.tga" % mode.lower()), compression="tga_rle")

    pixels555 = b"".join(struct.pack("<H", (x * 1234 + y * 77) & 0xFFFF) for y in range(4) for x in range(5))
    save("rgb555-topdown-rtl.tga", header(2, 5, 4, 16, 0x30) + pixels555)
    save("rgb15-rle.tga", header(10, 5, 4, 15) + b"\x84\x1f\x7c\x04" + b"\x8e\xe0\x03")
    save("map16-first.tga", header(1, 4, 2, 8, 0, b"id", 1, 10, 3, 16)
         + struct.pack("<3H", 0x7C00, 0x03E0, 0x001F) + bytes([10, 11, 12, 3, 250, 11, 10, 12]))
    save("map32-index16-rle.tga", header(9, 3, 3, 16, 0x20, b"", 1, 0, 2, 32)
         + bytes([1, 2, 3, 0, 250, 251, 252, 0]) + b"\x88\x01\x00" + b"\x00\x07\x00")
    save("map-bw.tga", header(1, 9, 2, 8, 0, b"", 1, 0, 2, 24) + bytes([0, 0, 0, 255, 255, 255])
         + bytes([(x + y) % 2 for y in range(2) for x in range(9)]))
    save("grey-alpha16.tga", header(3, 3, 2, 16) + bytes(range(12)))
    save("run-crosses-rows.tga", header(10, 3, 3, 24) + b"\x84\x10\x20\x30" + b"\x03" + bytes(range(12)))
    save("run-past-end.tga", header(11, 4, 2, 8) + b"\xff\x80\x7f" + bytes(128))
    save("truncated.tga", header(2, 40, 30, 24) + bytes(range(200)))
    body = header(2, 2, 2, 24, 0, b"with extension") + bytes(range(12))
    save("extension.tga", body + extension(len(body)))
    save("extension-offset-past-end.tga", body + extension(0xFFFFFF00))
    save("huge.tga", header(10, 65535, 65535, 24) + b"\xff\x00\x00\x00")
    save("ppm-like.tga", b"P6 2 2 255\n" + bytes(12))


if __name__ == "__main__":
    main()
