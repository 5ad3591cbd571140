#!/usr/bin/python3
"""Pillow and libtiff's tools as an independent fax coder for the fax codec tests.

Bit files (BITS): width and height as 32-bit little-endian integers, then the rows packed one bit
per pixel, most significant bit first, (width + 7) // 8 bytes a row, a set bit being black (the
samples of a WhiteIsZero image).

make BITS OUT.tif MODE [ROWS_PER_STRIP]
    writes BITS as a bilevel TIFF with Pillow, then recodes it: MODE mh (Pillow's tiff_ccitt,
    compression 2), or g3, g3:2d, g3:fill, g3:2d:fill, g4 (tiffcp -c MODE); a suffix "-lsb"
    has tiffcp store the bits of every byte reversed (FillOrder 2)
dump TIF OUT
    writes OUT: width, height, compression, T4Options, FillOrder, rows per strip, strip count (all
    32-bit little-endian), then per strip its byte count and bytes, then the pixels as libtiff
    decodes them (through Pillow), as a BITS body
wrap IN OUT.tif
    IN: width, height, compression (2, 3 or 4), T4Options, then one strip of coded rows; writes
    OUT.tif, a minimal little-endian WhiteIsZero TIFF holding that strip, checks that tiffinfo -D
    decodes it without complaint and writes the pixels as Pillow decodes them to OUT.tif.bits
    (a BITS file)
"""
import struct
import subprocess
import sys

from PIL import Image


def read_bits(path):
    with open(path, "rb") as f:
        data = f.read()
    width, height = struct.unpack("<II", data[:8])
    return width, height, data[8:8 + (width + 7) // 8 * height]


def samples(image):
    """The pixels as a WhiteIsZero coder sees them: set = black."""
    grey = image.convert("L")
    width, height = grey.size
    pixels = grey.tobytes()
    out = bytearray()
    for y in range(height):
        row = bytearray((width + 7) // 8)
        line = pixels[y * width:(y + 1) * width]
        for x in range(width):
            if line[x] < 128:
                row[x >> 3] |= 0x80 >> (x & 7)
        out += row
    return bytes(out)


def make(bits_path, out_path, mode, rows_per_strip=None):
    width, height, rows = read_bits(bits_path)
    # In Pillow's mode "1" a set bit is white; saved as WhiteIsZero its black pixels become set bits.
    image = Image.frombytes("1", (width, height), bytes(b ^ 0xFF for b in rows))
    plain = out_path + ".plain.tif"
    lsb = mode.endswith("-lsb")
    scheme = mode[:-4] if lsb else mode
    command = ["tiffcp"]
    if scheme == "mh":
        # tiffcp has no modified Huffman coder of its own; it keeps Pillow's (through libtiff).
        image.save(plain, compression="tiff_ccitt", tiffinfo={262: 0})
    else:
        image.save(plain, tiffinfo={262: 0})
        command += ["-c", "g3:1d" if scheme == "g3" else scheme]
    if lsb:
        command += ["-f", "lsb2msb"]
    if rows_per_strip:
        command += ["-r", str(rows_per_strip)]
    subprocess.run(command + [plain, out_path], check=True)

def dump(tif_path, out_path):
    with Image.open(tif_path) as image:
        tags = image.tag_v2
        offsets = tags[273]
        counts = tags[279]
        width, height = image.size
        header = struct.pack("<7I", width, height, tags.get(259, 1), tags.get(292, 0), tags.get(266, 1),
                             tags.get(278, height), len(offsets))
        with open(tif_path, "rb") as f:
            data = f.read()
        strips = b"".join(struct.pack("<I", c) + data[o:o + c] for o, c in zip(offsets, counts))
        image.load()
        pixels = samples(image)
    with open(out_path, "wb") as f:
        f.write(header + strips + pixels)


def wrap(in_path, out_path):
    with open(in_path, "rb") as f:
        data = f.read()
    width, height, compression, t4 = struct.unpack("<4I", data[:16])
    strip = data[16:]
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 1), (259, 3, 1, compression),
               (262, 3, 1, 0), (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, height),
               (279, 4, 1, len(strip))]
    if compression == 3:
        entries.append((292, 4, 1, t4))
    body = strip + (b"\0" if len(strip) % 2 else b"")
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        packed = struct.pack("<H", value) + b"\0\0" if kind == 3 else struct.pack("<I", value)
        ifd += struct.pack("<HHI", tag, kind, count) + packed
    ifd += struct.pack("<I", 0)
    with open(out_path, "wb") as f:
        f.write(b"II" + struct.pack("<HI", 42, 8 + len(body)) + body + ifd)
    # libtiff's own reader must decode every row without an error or a warning.
    check = subprocess.run(["tiffinfo", "-D", out_path], capture_output=True, text=True)
    complaints = [line for line in check.stderr.splitlines() if line.strip()]
    if check.returncode != 0 or complaints:
        sys.exit("tiffinfo -D: " + " | ".join(complaints))
    with Image.open(out_path) as image:
        image.load()
        pixels = samples(image)
    with open(out_path + ".bits", "wb") as f:
        f.write(struct.pack("<II", width, height) + pixels)


def main(argv):
    command = argv[1]
    if command == "make":
        make(argv[2], argv[3], argv[4], int(argv[5]) if len(argv) > 5 else None)
    elif command == "dump":
        dump(argv[2], argv[3])
    elif command == "wrap":
        wrap(argv[2], argv[3])
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)
