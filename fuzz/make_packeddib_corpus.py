#!/usr/bin/python3
"""Writes the seed files of the clipboard bitmap fuzz target into fuzz/corpus/packeddib (run from
the repository root).

A packed bitmap is a BMP file without its 14-byte file header, as programs put it on the
clipboard. Pillow writes 1, 8 and 24-bit BMP files, which are cut down to that; the layouts
it does not write (4, 16 and 32 bits, bit fields after the header and inside a version 5 header,
top-down rows) are put together by hand. Every file stays under 2 KB.
"""
import io
import os
import struct

from PIL import Image

FOLDER = os.path.join("fuzz", "corpus", "packeddib")


def save(name, data):
    os.makedirs(FOLDER, exist_ok=True)
    assert len(data) < 2048, name
    with open(os.path.join(FOLDER, name), "wb") as f:
        f.write(data)


def packed(width, height, bits, rows, compression=0, extra=b"", header_size=40, colours_used=0,
           header_masks=b""):
    info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression, 0, 0, 0,
                       colours_used, 0)
    info = (info + header_masks).ljust(header_size, b"\0")
    return info + extra + rows


def from_pillow(mode, size):
    image = Image.new("RGB", size)
    image.putdata([((x * 40) % 256, (y * 60) % 256, (x * y * 30) % 256)
                   for y in range(size[1]) for x in range(size[0])])
    out = io.BytesIO()
    image.convert(mode).save(out, "BMP")
    return out.getvalue()[14:]


save("pillow-24.dib", from_pillow("RGB", (7, 5)))
save("pillow-8.dib", from_pillow("P", (9, 4)))
save("pillow-1.dib", from_pillow("1", (13, 3)))
save("hand-4.dib", packed(3, 2, 4, bytes([0x12, 0x30, 0, 0, 0xF0, 0x00, 0, 0]),
                          extra=bytes(range(64)), colours_used=16))
save("hand-555.dib", packed(2, 2, 16, bytes([0xFF, 0x7F, 0x10, 0x42] * 2)))
save("hand-565.dib", packed(2, 1, 16, bytes([0xFF, 0xFF, 0x00, 0xF8]), compression=3,
                            extra=struct.pack("<III", 0xF800, 0x07E0, 0x001F)))
save("hand-32.dib", packed(2, 1, 32, bytes([1, 2, 3, 4, 5, 6, 7, 8])))
save("hand-32-masks-v5.dib", packed(2, 1, 32, bytes([1, 2, 3, 255, 5, 6, 7, 255]), compression=3,
                                    header_size=124,
                                    header_masks=struct.pack("<III", 0xFF, 0xFF00, 0xFF0000)))
save("hand-topdown.dib", packed(1, -2, 24, bytes([0, 0, 255, 0, 0, 255, 0, 0])))
