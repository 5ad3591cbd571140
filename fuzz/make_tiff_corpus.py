#!/usr/bin/python3
"""Writes the seed files of the TIFF fuzz target into fuzz/corpus/tiff (run from the repository root).

Pillow writes the base pictures (RGB, grey, palette, two-colour, CMYK, CIE L*a*b*, RGBA); libtiff's
tiffcp copies them into every compression the reader knows (LZW with differencing, PackBits, the
three fax codings with both bit orders, JPEG with shared tables, Deflate), big-endian, in separate
planes, in several strips, in tiles that hang over the picture's edges and as a two-page file;
raw2tiff makes 16-bit samples. A few layouts no tool
writes (subsampled YCbCr, a rotated image, a directory loop, lying sizes) are put together by hand.
Every file stays under 4 KB.
"""
import os
import struct
import subprocess
import tempfile

from PIL import Image

OUT = os.path.join("fuzz", "corpus", "tiff")


def picture(width, height):
    image = Image.new("RGB", (width, height))
    image.putdata([((x * 37) % 256, (y * 53) % 256, ((x ^ y) * 8) % 256)
                   for y in range(height) for x in range(width)])
    return image


def keep(name, path):
    with open(path, "rb") as f:
        data = f.read()
    write(name, data)


def write(name, data):
    assert len(data) < 4096, (name, len(data))
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def tiffcp(options, source, target):
    subprocess.run(["tiffcp"] + options + [source, target], check=True)


def tool_files(work):
    rgb = os.path.join(work, "rgb.tif")
    picture(24, 20).save(rgb)
    bw = os.path.join(work, "bw.tif")
    picture(64, 40).convert("1").save(bw)
    for name, options in [("rgb-none.tif", ["-c", "none"]), ("rgb-lzw-pred.tif", ["-c", "lzw:2", "-r", "4"]),
                          ("rgb-packbits.tif", ["-c", "packbits", "-r", "5"]),
                          ("rgb-be-lzw.tif", ["-B", "-c", "lzw:2"]),
                          ("rgb-separate.tif", ["-p", "separate", "-c", "lzw", "-r", "7"]),
                          ("rgb-jpeg-ycbcr.tif", ["-c", "jpeg", "-r", "16"]),
                          ("rgb-jpeg-rgb.tif", ["-c", "jpeg:r"]),
                          ("rgb-zip-pred.tif", ["-c", "zip:2", "-r", "4"]), ("rgb-be-zip.tif", ["-B", "-c", "zip"]),
                          ("rgb-tiles-none.tif", ["-t", "-w", "16", "-l", "16", "-c", "none"]),
                          ("rgb-tiles-zip-pred.tif", ["-t", "-w", "16", "-l", "16", "-c", "zip:2"]),
                          ("rgb-tiles-be-packbits.tif", ["-B", "-t", "-w", "16", "-l", "16", "-c", "packbits"]),
                          ("rgb-tiles-separate-lzw.tif", ["-t", "-p", "separate", "-w", "16", "-l", "16", "-c", "lzw:2"]),
                          ("rgb-tiles-jpeg.tif", ["-t", "-w", "16", "-l", "16", "-c", "jpeg"])]:
        target = os.path.join(work, name)
        tiffcp(options, rgb, target)
        keep(name, target)
    for name, options in [("bw-g3.tif", ["-c", "g3"]), ("bw-g3-2d.tif", ["-c", "g3:2d:fill"]),
                          ("bw-g4.tif", ["-c", "g4", "-r", "9"]), ("bw-g3-lsb.tif", ["-f", "lsb2msb", "-c", "g3"]),
                          ("bw-g4-be.tif", ["-B", "-c", "g4"]),
                          ("bw-tiles-g4.tif", ["-t", "-w", "48", "-l", "16", "-c", "g4"]),
                          ("bw-tiles-zip.tif", ["-t", "-w", "16", "-l", "16", "-c", "zip"])]:
        target = os.path.join(work, name)
        tiffcp(options, bw, target)
        keep(name, target)
    pages = os.path.join(work, "pages.tif")
    tiffcp(["-c", "lzw"], os.path.join(work, "rgb-none.tif"), os.path.join(work, "a.tif"))
    subprocess.run(["tiffcp", os.path.join(work, "a.tif"), os.path.join(work, "bw-g4.tif"), pages], check=True)
    keep("two-pages.tif", pages)
    raw = os.path.join(work, "grey16.raw")
    with open(raw, "wb") as f:
        f.write(b"".join(struct.pack(">H", (i * 977) & 0xFFFF) for i in range(20 * 9)))
    grey16 = os.path.join(work, "grey16.tif")
    subprocess.run(["raw2tiff", "-M", "-w", "20", "-l", "9", "-b", "1", "-d", "short", "-c", "lzw:2", raw, grey16],
                   check=True)
    keep("grey16-lzw-pred.tif", grey16)
    grey16_tiles = os.path.join(work, "grey16-tiles.tif")
    tiffcp(["-t", "-w", "16", "-l", "16", "-c", "zip:2"], grey16, grey16_tiles)
    keep("grey16-tiles-zip-pred.tif", grey16_tiles)


def pillow_files():
    source = picture(20, 12)
    for mode, compression in [("L", "packbits"), ("P", "tiff_lzw"), ("CMYK", "raw"), ("LAB", "raw"),
                              ("RGBA", "tiff_lzw"), ("1", "raw"), ("L", "tiff_deflate"), ("RGB", "tiff_adobe_deflate")]:
        image = source.convert(mode) if mode != "P" else source.convert("P", palette=Image.Palette.ADAPTIVE, colors=16)
        name = "pillow-%s-%s.tif" % (mode, compression)
        with tempfile.NamedTemporaryFile(suffix=".tif") as f:
            image.save(f.name, "TIFF", compression=compression)
            keep(name, f.name)


def directory(entries, next_offset=0):
    """A little-endian directory: entries are (tag, type, count, value field bytes)."""
    data = struct.pack("<H", len(entries))
    for tag, kind, count, field in sorted(entries):
        data += struct.pack("<HHI", tag, kind, count) + field.ljust(4, b"\0")
    return data + struct.pack("<I", next_offset)


def short(value):
    return struct.pack("<H", value)


def long(value):
    return struct.pack("<I", value)


def image_entries(width, height, bits_at, photometric, data_at, data_size, extra=()):
    return [(256, 4, 1, long(width)), (257, 4, 1, long(height)), (258, 3, 3, long(bits_at)),
            (259, 3, 1, short(1)), (262, 3, 1, short(photometric)), (273, 4, 1, long(data_at)),
            (277, 3, 1, short(3)), (278, 4, 1, long(height)), (279, 4, 1, long(data_size))] + list(extra)


def hand_made_files():
    # Subsampled YCbCr: 7 x 5 pixels in 2 x 2 units.
    units = 4 * 3
    data = bytes((i * 29 + 40) % 256 for i in range(units * 6))
    header = b"II*\0" + long(8)
    bits_at = 8 + 2 + 12 * 10 + 4
    data_at = bits_at + 6
    ifd = directory(image_entries(7, 5, bits_at, 6, data_at, len(data), [(530, 3, 2, short(2) + short(2))]))
    write("ycbcr-2x2.tif", header + ifd + short(8) * 3 + data)
    # RGB turned by Orientation 6, and 8 with separate planes.
    data = bytes(range(5 * 3 * 3))
    bits_at = 8 + 2 + 12 * 10 + 4
    data_at = bits_at + 6
    ifd = directory(image_entries(5, 3, bits_at, 2, data_at, len(data), [(274, 3, 1, short(6))]))
    write("rgb-orientation-6.tif", header + ifd + short(8) * 3 + data)
    # Two directories pointing at each other.
    first = 8
    second_size = 2 + 12 * 9 + 4
    second = first + second_size
    bits_at = second + second_size
    data_at = bits_at + 6
    data = bytes(range(12))
    a = directory(image_entries(2, 2, bits_at, 2, data_at, 12), second)
    b = directory(image_entries(2, 2, bits_at, 2, data_at, 12), first)
    write("loop-two.tif", b"II*\0" + long(first) + a + b + short(8) * 3 + data)
    # Sizes that lie: a huge picture over a few bytes, strip counts past the end, a short colour map.
    ifd = directory(image_entries(60000, 60000, bits_at, 2, 200, 0xFFFFFFF0), 0)
    write("huge-claim.tif", b"II*\0" + long(8) + ifd + short(8) * 3 + bytes(16))
    palette_ifd = directory([(256, 4, 1, long(4)), (257, 4, 1, long(2)), (258, 3, 1, short(8)), (259, 3, 1, short(1)),
                             (262, 3, 1, short(3)), (273, 4, 1, long(200)), (277, 3, 1, short(1)),
                             (278, 4, 1, long(0)), (279, 4, 1, long(8)), (320, 3, 2, short(0) + short(0))])
    write("palette-short-map.tif", b"II*\0" + long(8) + palette_ifd + bytes(80))


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        tool_files(work)
    pillow_files()
    hand_made_files()
