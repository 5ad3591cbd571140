#!/usr/bin/python3
"""Writes the seed files of the PCX fuzz target into fuzz/corpus/pcx (run from the repository root).

Pillow writes the modes it supports (1, L, P, RGB, run-length coded); the layouts it does not
write (raw data, 2- and 4-bit single planes, four 1-bit planes, runs that continue into the next
line) and a few damaged files (a cut true-colour file among them) are put together by hand below. Every file stays under 4 KB.
"""
import os
import struct

from PIL import Image

OUT = os.path.join("fuzz", "corpus", "pcx")


def header(bits, planes, width, height, bytes_per_line, encoding=1, palette=b""):
    palette = (palette + bytes(48))[:48]
    return (struct.pack("<BBBBHHHHHH", 10, 5, encoding, bits, 0, 0, width - 1, height - 1, 72, 72)
            + palette + b"\0" + bytes([planes]) + struct.pack("<HH", bytes_per_line, 1) + bytes(58))


def rle(line):
    out = bytearray()
    i = 0
    while i < len(line):
        run = 1
        while run < 63 and i + run < len(line) and line[i + run] == line[i]:
            run += 1
        if run > 1 or line[i] >= 0xC0:
            out.append(0xC0 | run)
        out.append(line[i])
        i += run
    return bytes(out)


def write(name, data):
    assert len(data) < 4096, name
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def pillow_files():
    picture = Image.new("RGB", (23, 9))
    picture.putdata([((x * 11) & 255, (y * 29) & 255, (x ^ y) * 9 & 255) for y in range(9) for x in range(23)])
    for mode in ("1", "L", "P", "RGB"):
        image = picture.convert(mode) if mode != "P" else picture.convert("P", palette=Image.Palette.ADAPTIVE, colors=32)
        image.save(os.path.join(OUT, "pillow-%s.pcx" % mode), "PCX")


def hand_made_files():
    ega = bytes(c for i in range(16) for c in (i * 16, 255 - i * 16, i * 8))
    # Four 1-bit planes, 13 x 5, raw.
    rows = b"".join(bytes([0xA5 ^ y, 0x3C, 0x0F ^ p, 0xF0]) for y in range(5) for p in range(4))
    write("ega-4planes-raw.pcx", header(1, 4, 13, 5, 4, 0, ega) + rows)
    # One 4-bit plane, odd width.
    lines = [bytes([(x * 3 + y) & 0xFF for x in range(4)]) for y in range(6)]
    write("nibbles-rle.pcx", header(4, 1, 7, 6, 4, 1, ega) + b"".join(rle(l) for l in lines))
    # One 2-bit plane.
    write("pairs-raw.pcx", header(2, 1, 10, 3, 4, 0, ega) + bytes([0x1B, 0xE4, 0x55, 0x00] * 3))
    # Three planes where every run reaches into the following line.
    write("runs-across-lines.pcx", header(8, 3, 5, 4, 6, 1) + bytes([0xC7, 0x40, 1, 2, 3]) * 12)
    # A palette image whose data is cut short, then its palette.
    write("palette-truncated.pcx", header(8, 1, 30, 20, 30, 1) + bytes([0xDE, 0x07]) * 5
          + b"\x0c" + bytes(range(256)) * 3)
    # Bytes per line smaller than the width needs, and larger.
    write("short-lines.pcx", header(8, 3, 40, 2, 2, 0) + bytes(range(12)))
    write("long-lines.pcx", header(8, 3, 2, 2, 30, 0) + bytes(180))
    # True colour cut inside its sixth row: five rows to keep.
    lines = b"".join(rle(bytes((x * 7 + y * 13 + plane * 50) % 256 for x in range(24)))
                     for y in range(12) for plane in range(3))
    whole = header(8, 3, 24, 12, 24, 1) + lines
    row = len(lines) // 12
    write("rgb-cut.pcx", whole[:128 + 5 * row + row // 2])
    # A header claiming a huge image over a few bytes.
    write("huge-claim.pcx", header(8, 3, 65535, 65535, 65535, 1) + bytes([0xFF, 0x01] * 8))


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    pillow_files()
    hand_made_files()
