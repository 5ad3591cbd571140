#!/usr/bin/python3
"""Writes the seed files of the BMP, ICO and CUR fuzz targets into fuzz/corpus/{bmp,ico,cur}
(run from the repository root).

Pillow writes plain bitmaps at 1, 8 and 24 bits, icons stored as bitmaps and as PNG files, and the
PNG and JPEG files embedded in bitmaps; the layouts it does not write (OS/2 headers, 2, 4, 16 and
32 bits, bit fields and alpha masks, RLE4 and RLE8 with deltas, top-down rows, long headers,
cursors, masked icons) are put together by hand below. Every file stays under 4 KB.
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
        masks=b"", header_masks=()):
    """masks: bytes right after the header; header_masks: red, green, blue (and alpha) masks kept
    inside a header of 52 bytes or more."""
    if header_size == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
        pal = b"".join(bytes((b, g, r)) for r, g, b in palette)
    else:
        info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression,
                           len(pixels), 3780, 3780, colours_used, 0)
        info += struct.pack("<%dI" % len(header_masks), *header_masks)
        info += bytes(header_size - len(info))
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

    # Bit fields, alpha, and the layouts read since: 5-6-5 with masks after the header, masks and
    # alpha inside v4/v5 headers, alpha bit fields, 10-10-10, 2 bits, a coloured 1-bit palette, an
    # offset inside the palette, and whole PNG and JPEG files as pixel data.
    rgb565 = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    save("bmp", "16bit_565_bitfields.bmp",
         bmp(3, 2, 16, struct.pack("<4H", 0xF800, 0x07E0, 0x001F, 0) * 2, compression=3, masks=rgb565))
    save("bmp", "16bit_565_palette.bmp",
         bmp(2, 2, 16, struct.pack("<4H", 0xF800, 0xFFFF, 0x07E0, 0x8410), GREYS[:3], compression=3,
             colours_used=3, masks=rgb565))
    argb = (0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    alpha_pixels = bytes([10, 20, 30, 255, 40, 50, 60, 128, 70, 80, 90, 0, 1, 2, 3, 1])
    save("bmp", "32bit_v5_alpha.bmp", bmp(2, 2, 32, alpha_pixels, compression=3, header_size=124,
                                          header_masks=argb))
    save("bmp", "32bit_v4_rgb_alpha_mask.bmp", bmp(2, 2, 32, alpha_pixels, header_size=108,
                                                   header_masks=argb))
    save("bmp", "32bit_alphabitfields.bmp",
         bmp(2, 2, 32, alpha_pixels, compression=6, masks=struct.pack("<4I", *argb)))
    save("bmp", "16bit_4444_v5.bmp",
         bmp(2, 2, 16, struct.pack("<4H", 0xF00F, 0x80F0, 0x0F00, 0x1234), compression=3,
             header_size=124, header_masks=(0x0F00, 0x00F0, 0x000F, 0xF000)))
    save("bmp", "32bit_101010_v3.bmp",
         bmp(2, 1, 32, struct.pack("<2I", 0x3FFFFFFF, 0x20080201), compression=3, header_size=56,
             header_masks=(0x3FF00000, 0xFFC00, 0x3FF, 0)))
    save("bmp", "2bit.bmp", bmp(5, 2, 2, bytes([0x1B, 0x40, 0, 0, 0xE4, 0xC0, 0, 0]), GREYS[:4]))
    save("bmp", "1bit_coloured.bmp", bmp(9, 2, 1, bytes([0x5A, 0x80, 0, 0, 0xA5, 0x00, 0, 0]),
                                         [(255, 0, 0), (0, 0, 255)]))
    inside = bmp(4, 1, 8, b"", GREYS[:4], colours_used=4)
    inside = inside[:10] + struct.pack("<I", 14 + 40 + 8) + inside[14:]
    save("bmp", "offset_inside_palette.bmp", inside)
    png = pillow(picture(6, 4, "RGB").convert("RGBA"), "PNG")
    save("bmp", "bi_png.bmp", bmp(6, 4, 0, png, compression=5, header_size=124))
    jpeg = pillow(picture(8, 8, "RGB"), "JPEG", quality=50)
    save("bmp", "bi_jpeg.bmp", bmp(8, 8, 0, jpeg, compression=4, header_size=124))
    save("bmp", "24bit_cut_short.bmp", bmp(4, 4, 24, bytes(range(40)))[:14 + 40 + 30])

    for mode in ("1", "P", "RGB"):
        save("ico", "pillow_%s.ico" % mode.lower(), pillow(picture(8, 8, mode), "ICO", bitmap_format="bmp", sizes=[(8, 8)]))
    colour4 = bytes([0x01, 0x23, 0x45, 0x67]) * 8
    mask = bytes([0xF0, 0, 0, 0]) * 8
    save("ico", "masked_4bit.ico", icon(1, [(8, 8, 16, 1, 4, 4, GREYS, colour4, mask)]))
    colour32 = bytes([10, 20, 30, 255]) * 16
    save("ico", "two_images_32bit.ico", icon(1, [(8, 8, 16, 1, 4, 4, GREYS, colour4, mask),
                                                (4, 4, 0, 1, 32, 32, [], colour32, bytes(16))]))
    # Images stored as whole PNG files (as every 256 x 256 icon is), and 32-bit images with alpha.
    rgba = Image.new("RGBA", (16, 16))
    rgba.putdata([(x * 16, y * 16, 128, (x * y * 4) % 256) for y in range(16) for x in range(16)])
    save("ico", "png_entry.ico", pillow(rgba, "ICO", sizes=[(16, 16)]))
    save("ico", "png_entries_two_sizes.ico", pillow(rgba, "ICO", sizes=[(8, 8), (16, 16)]))
    save("ico", "32bit_alpha_bmp_entry.ico", pillow(rgba.resize((8, 8)), "ICO", bitmap_format="bmp",
                                                   sizes=[(8, 8)]))
    alpha32 = bytes([10, 20, 30, 255, 40, 50, 60, 128, 70, 80, 90, 0, 1, 2, 3, 1]) * 4
    save("ico", "32bit_alpha_with_mask.ico", icon(1, [(4, 4, 0, 1, 32, 32, [], alpha32, bytes(16))]))
    colour1 = bytes([0x5A, 0, 0, 0]) * 8
    save("ico", "1bit.ico", icon(1, [(8, 8, 2, 1, 1, 1, [(0, 0, 0), (255, 255, 255)], colour1, mask)]))
    save("cur", "1bit.cur", icon(2, [(8, 8, 2, 3, 4, 1, [(0, 0, 0), (255, 255, 255)], colour1, mask)]))
    save("ico", "1bit_coloured.ico", icon(1, [(8, 8, 2, 1, 1, 1, [(255, 0, 0), (0, 0, 255)], colour1, mask)]))
    cursor_png = pillow(rgba, "PNG")
    save("cur", "png_entry.cur", struct.pack("<HHH", 0, 2, 1) +
         icon_entry(2, 16, 16, 0, 3, 5, len(cursor_png), 22) + cursor_png)
    save("cur", "4bit_two_images.cur", icon(2, [(8, 8, 16, 0, 0, 4, GREYS, colour4, mask),
                                               (0, 0, 0, 7, 7, 24, [], bytes(24 * 8), mask)]))


if __name__ == "__main__":
    main()
