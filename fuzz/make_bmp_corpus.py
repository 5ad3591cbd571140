#!/usr/bin/python3
"""Writes the seed files of the BMP, ICO and CUR fuzz targets into fuzz/corpus/{bmp,ico,cur}
(run from the repository root).

Pillow writes plain bitmaps at 1, 8 and 24 bits and icons stored as bitmaps; the layouts it does
not write (OS/2 headers, 4, 16 and 32 bits, bit fields, RLE4 and RLE8 with deltas, top-down rows,
long headers, cursors, masked icons) are put together by hand below. Every file stays under 4 KB.
"""
import io
import os
import struct

from PIL import Image

ROOT = os.path.join("fuzz", "corpus")


def save(kind, name, data):
    folder = os.path.join(ROOT, kind)
    os.makedirs(folder, exist_ok=True)
    assert len(data) < 4096, name
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def bmp(width, height, bits, pixels, palette=(), compression=0, header_size=40, colours_used=0,
        masks=b""):
    if header_size == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
        pal = b"".join(bytes((b, g, r)) for r, g, b in palette)
    else:
        info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression,
                           len(pixels), 3780, 3780, colours_used, 0)
        info += bytes(header_size - 40)
        pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + len(info) + len(pal) + len(masks)
    total = offset + len(pixels)
    return b"BM" + struct.pack("<IHHI", total, 0, 0, offset) + info + pal + masks + pixels


def picture(width, height, mode):
    image = Image.new("RGB", (width, height))
    image.putdata([((x * 37) % 256, (y * 53) % 256, ((x ^ y) * 8) % 256)
                   for y in range(height) for x in range(width)])
    if mode == "P":
        return image.convert("P", palette=Image.Palette.ADAPTIVE, colors=16)
    return image.convert(mode)


def pillow(image, fmt, **options):
    out = io.BytesIO()
    image.save(out, fmt, **options)
    return out.getvalue()


GREYS = [(i * 17, i * 17, i * 17) for i in range(16)]


def icon_entry(kind, width, height, colours, word4, word6, body_size, offset):
    return struct.pack("<BBBBHHII", width, height, colours, 0, word4, word6, body_size, offset)


def icon(kind, images):
    """images: (width, height, colours, word4, word6, header_bits, palette, colour_rows, mask_rows)"""
    head = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    entries, bodies = b"", b""
    for width, height, colours, word4, word6, bits, palette, colour, mask in images:
        body = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, bits, 0, 0, 0, 0, 0, 0)
        body += b"".join(bytes((b, g, r, 0)) for r, g, b in palette) + colour + mask
        entries += icon_entry(kind, width, height, colours, word4, word6, len(body), offset)
        bodies += body
        offset += len(body)
    return head + entries + bodies


def main():
    for mode, name in (("1", "pillow_1bit.bmp"), ("P", "pillow_8bit.bmp"), ("RGB", "pillow_24bit.bmp")):
        save("bmp", name, pillow(picture(21, 13, mode), "BMP"))
    rows4 = bytes(range(0, 256, 17))[:4] * 6
    save("bmp", "os2_8bit.bmp", bmp(3, 2, 8, bytes([1, 2, 3, 0, 4, 5, 6, 0]), GREYS * 16, header_size=12))
    save("bmp", "4bit_odd_width.bmp", bmp(7, 6, 4, rows4, GREYS))
    save("bmp", "16bit.bmp", bmp(2, 2, 16, struct.pack("<8H", 0x7C00, 0x03E0, 0, 0, 0x001F, 0xFFFF, 0, 0)))
    save("bmp", "32bit_bitfields.bmp",
         bmp(2, 1, 32, bytes([1, 2, 3, 4, 5, 6, 7, 8]), compression=3,
             masks=struct.pack("<III", 0xFF0000, 0xFF00, 0xFF)))
    save("bmp", "24bit_top_down.bmp", bmp(2, -2, 24, bytes(range(16))))
    save("bmp", "24bit_v5_header.bmp", bmp(2, 2, 24, bytes(range(16)), header_size=124))
    save("bmp", "24bit_64_header.bmp", bmp(2, 2, 24, bytes(range(16)), header_size=64))
    rle8 = bytes([3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 200, 9, 0, 0, 5, 4, 0, 1])
    save("bmp", "rle8_delta.bmp", bmp(5, 4, 8, rle8, GREYS * 16, compression=1))
    rle4 = bytes([4, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 0, 2, 2, 1, 1, 0xAB, 0, 0, 0, 1])
    save("bmp", "rle4_delta.bmp", bmp(9, 3, 4, rle4, GREYS, compression=2))
    save("bmp", "palette_claims_too_much.bmp", bmp(4, 1, 8, bytes(4), GREYS, colours_used=0xFFFFFFFF))

    for mode in ("1", "P", "RGB"):
        save("ico", "pillow_%s.ico" % mode.lower(), pillow(picture(8, 8, mode), "ICO", bitmap_format="bmp", sizes=[(8, 8)]))
    colour4 = bytes([0x01, 0x23, 0x45, 0x67]) * 8
    mask = bytes([0xF0, 0, 0, 0]) * 8
    save("ico", "masked_4bit.ico", icon(1, [(8, 8, 16, 1, 4, 4, GREYS, colour4, mask)]))
    colour32 = bytes([10, 20, 30, 255]) * 16
    save("ico", "two_images_32bit.ico", icon(1, [(8, 8, 16, 1, 4, 4, GREYS, colour4, mask),
                                                (4, 4, 0, 1, 32, 32, [], colour32, bytes(16))]))
    colour1 = bytes([0x5A, 0, 0, 0]) * 8
    save("ico", "1bit.ico", icon(1, [(8, 8, 2, 1, 1, 1, [(0, 0, 0), (255, 255, 255)], colour1, mask)]))
    save("cur", "1bit.cur", icon(2, [(8, 8, 2, 3, 4, 1, [(0, 0, 0), (255, 255, 255)], colour1, mask)]))
    save("cur", "4bit_two_images.cur", icon(2, [(8, 8, 16, 0, 0, 4, GREYS, colour4, mask),
                                               (0, 0, 0, 7, 7, 24, [], bytes(24 * 8), mask)]))


if __name__ == "__main__":
    main()
