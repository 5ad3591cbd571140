#!/usr/bin/python3
"""Writes the seed files of the fax fuzz target into fuzz/corpus/fax (run from the repository root).

Each file is the target's four-byte header (scheme and options, width - 1, rows - 1) and one strip.
The strips come from libtiff: Pillow writes a bilevel TIFF (its tiff_ccitt compression for
modified Huffman) and tiffcp recodes it to Group 3 1D or 2D (with and without fill bits), Group 4,
and reversed bit order. For modified Huffman, Group 4 and Group 3 1D libtiff's strips are
bit-for-bit what our encoder writes (FaxCodecTest checks it, apart from our closing RTC). A few
damaged strips are put together by hand. Every file stays under 4 KB.
"""
import os
import random
import struct
import subprocess
import tempfile

from PIL import Image

OUT = os.path.join("fuzz", "corpus", "fax")

SCHEMES = {  # name: (tiffcp compression or None for Pillow's, header bits)
    "mh": (None, 0),
    "g3": ("g3:1d", 1),
    "g3-2d": ("g3:2d", 1 | 4),
    "g3-fill": ("g3:1d:fill", 1 | 8),
    "g3-2d-fill": ("g3:2d:fill", 1 | 4 | 8),
    "g4": ("g4", 2),
}


def header(bits, width, rows):
    return bytes([bits]) + struct.pack("<H", width - 1) + bytes([rows - 1])


def picture(width, height, seed):
    rng = random.Random(seed)
    image = Image.new("1", (width, height), 255)
    for y in range(height):
        x = rng.randrange(4)
        while x < width:
            run = rng.choice((1, 2, 3, 5, 8, 20, 70, 300, 2000))
            for k in range(x, min(width, x + run)):
                image.putpixel((k, y), 0)
            x += run + rng.choice((1, 2, 4, 9, 40, 200))
    return image


def libtiff_strip(image, compression, lsb, folder):
    plain = os.path.join(folder, "plain.tif")
    coded = os.path.join(folder, "coded.tif")
    command = ["tiffcp", "-r", str(image.height)]
    if compression is None:
        image.save(plain, compression="tiff_ccitt", tiffinfo={262: 0})
    else:
        image.save(plain, tiffinfo={262: 0})
        command += ["-c", compression]
    if lsb:
        command += ["-f", "lsb2msb"]
    subprocess.run(command + [plain, coded], check=True)
    with Image.open(coded) as result:
        offset, count = result.tag_v2[273][0], result.tag_v2[279][0]
    with open(coded, "rb") as f:
        return f.read()[offset:offset + count]


def write(name, data):
    assert len(data) < 4096, name
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def libtiff_files():
    with tempfile.TemporaryDirectory() as folder:
        for size_index, (width, height) in enumerate(((37, 9), (300, 12), (2700, 3))):
            image = picture(width, height, size_index)
            for name, (compression, bits) in SCHEMES.items():
                for lsb in (False, True):
                    if lsb and size_index != 1:
                        continue
                    strip = libtiff_strip(image, compression, lsb, folder)
                    write("%s-%d%s" % (name, width, "-lsb" if lsb else ""),
                          header(bits | (16 if lsb else 0), width, height) + strip)


def hand_made_files():
    eol = "000000000001"

    def pack(text):
        text = text.replace(" ", "")
        text += "0" * (-len(text) % 8)
        return bytes(int(text[i:i + 8], 2) for i in range(0, len(text), 8))

    # End-of-lines without rows, with tag bits, and a return-to-control sequence after one row.
    write("g3-eols", header(1, 8, 4) + pack(eol * 40))
    write("g3-2d-eols", header(1 | 4, 8, 4) + pack((eol + "0") * 40))
    write("g3-rtc", header(1, 8, 4) + pack(eol + "10011" + eol * 6 + "10011"))
    # A row cut short by an end-of-line; runs past the row; codes that do not exist.
    write("g3-short-row", header(1, 16, 2) + pack(eol + "1011" + eol + "10011"))
    write("mh-overflow", header(0, 8, 2) + pack("10011000" "1100011"))
    write("g4-bad-modes", header(2, 8, 3) + pack("1" "0000011" "0000000"))
    # Zero-length runs over and over, and a row closed by a zero-length black run.
    write("g4-zero-runs", header(2, 20, 2) + pack("001 00110101 0000110111" * 30))
    write("mh-closing-zero", header(0, 8, 2) + pack("10011 0000110111 0" "10011 000"))


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    libtiff_files()
    hand_made_files()
