#!/usr/bin/python3
"""Writes the seed files of the TIFF LZW fuzz target into fuzz/corpus/tifflzw (run from the
repository root).

Each file is the row length as a 16-bit little-endian number (the target takes it modulo 4096,
plus one) followed by one LZW strip. Strips come from libtiff through Pillow (compression
tiff_lzw, one strip per picture) and from codes packed by hand for the decoder's rules. Every
file stays under 4 KB.
"""
import io
import os
import struct

from PIL import Image

OUT = os.path.join("fuzz", "corpus", "tifflzw")


def write(name, row_length, strip):
    data = struct.pack("<H", row_length - 1) + strip
    assert len(data) < 4096, name
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def libtiff_strip(image):
    buffer = io.BytesIO()
    image.save(buffer, "TIFF", compression="tiff_lzw")
    buffer.seek(0)
    with Image.open(buffer) as tiff:
        offsets = tiff.tag_v2[273]
        counts = tiff.tag_v2[279]
    assert len(offsets) == 1
    return buffer.getvalue()[offsets[0]:offsets[0] + counts[0]]


def pack(codes):
    """Codes most significant bit first with the decoder's early-change width rule."""
    acc = bits = 0
    width, count, fresh = 9, 258, True
    out = bytearray()
    for code in codes:
        acc = (acc << width) | code
        bits += width
        while bits >= 8:
            bits -= 8
            out.append((acc >> bits) & 255)
        if code == 256:
            width, count, fresh = 9, 258, True
        elif fresh:
            fresh = False
        else:
            count += 1
            if count in (511, 1023, 2047):
                width += 1
    if bits:
        out.append((acc << (8 - bits)) & 255)
    return bytes(out)


def main():
    os.makedirs(OUT, exist_ok=True)
    grey = Image.new("L", (48, 40))
    grey.putdata([(x * 5 + y * 3) % 256 for y in range(40) for x in range(48)])
    write("libtiff-gradient.lzw", 48, libtiff_strip(grey))
    noise = Image.new("L", (64, 24))
    noise.putdata([(x * 73 + y * 151 + (x * y) % 7) % 256 for y in range(24) for x in range(64)])
    write("libtiff-noise.lzw", 64, libtiff_strip(noise))
    rgb = Image.new("RGB", (30, 20))
    rgb.putdata([(x * 8, y * 12, (x + y) * 4) for y in range(20) for x in range(30)])
    write("libtiff-rgb.lzw", 90, libtiff_strip(rgb))
    flat = Image.new("L", (200, 15), 77)
    write("libtiff-flat.lzw", 200, libtiff_strip(flat))
    write("literals.lzw", 3, pack([256, 65, 66, 67, 257]))
    write("no-leading-clear.lzw", 4, pack([65, 66, 258, 257]))
    write("kwkwk.lzw", 1, pack([256, 120, 258, 259, 260, 261, 257]))
    write("clears.lzw", 2, pack([256, 256, 65, 66, 256, 256, 67, 68, 257]))
    write("code-above-count.lzw", 2, pack([256, 65, 66, 300, 257]))
    write("no-end-code.lzw", 5, pack([256, 1, 2, 3, 258, 259]))
    write("past-511.lzw", 300, pack([256] + [i % 256 for i in range(300)] + [257]))


if __name__ == "__main__":
    main()
