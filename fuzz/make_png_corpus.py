#!/usr/bin/python3
"""Writes the seed files of the PNG fuzz target into fuzz/corpus/png (run from the repository root).

Pillow writes the modes it supports (1, L, LA, 16-bit grey, palettes at 1, 2, 4 and 8 bits, RGB,
RGBA, with tRNS and bKGD). The layouts it does not write (2- and 4-bit grey, 16-bit colour and
alpha, Adam7 interlacing) come from tests/interop/png_tool.py, and a few damaged files are made
from a good one below: a cut IDAT, a missing IEND, a bad CRC, a huge declared size, and files whose image data comes
in small chunks cut half way, so that rows decode before the cut. Every file stays
under 4 KB.
"""
import os
import struct
import subprocess
import sys
import zlib

OUT = os.path.join("fuzz", "corpus", "png")
TOOL = os.path.join("tests", "interop", "png_tool.py")


def tool(*arguments):
    subprocess.run([sys.executable, TOOL] + [str(a) for a in arguments], check=True)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def rechunked_and_cut(png):
    """The file with its image data split into 64-byte IDAT chunks, cut in the middle of them."""
    at, head, data = 8, b"", b""
    while at < len(png):
        length = struct.unpack(">I", png[at:at + 4])[0]
        kind = png[at + 4:at + 8]
        if kind == b"IDAT":
            data += png[at + 8:at + 8 + length]
        elif not data:
            head += png[at:at + 12 + length]
        at += 12 + length
    chunks = b"".join(chunk(b"IDAT", data[i:i + 64]) for i in range(0, len(data), 64))
    return png[:8] + head + chunks[:len(chunks) // 2]


def main():
    os.makedirs(OUT, exist_ok=True)
    for kind in ("1", "L", "Lt", "LA", "I16", "P1", "P2", "P4", "P8", "Pt", "RGB", "RGBt", "RGBA"):
        tool("pillow", os.path.join(OUT, "pillow-%s.png" % kind.lower()), kind, 12, 9, 1)
    tool("pillow", os.path.join(OUT, "pillow-rgba-bkgd.png"), "RGBA", 12, 9, 2, "bkgd")
    tool("pillow", os.path.join(OUT, "pillow-p4-bkgd.png"), "P4", 12, 9, 3, "bkgd")
    layouts = [
        (2, 0, 0, "trns", "bkgd"), (4, 0, 0, "trns"), (16, 2, 0, "bkgd"), (16, 6, 0), (16, 4, 0),
        (16, 0, 0, "trns"), (8, 2, 1), (8, 6, 1, "bkgd"), (1, 0, 1), (1, 3, 1), (4, 3, 1, "trns"),
        (16, 6, 1),
    ]
    for n, (depth, colour_type, interlace, *flags) in enumerate(layouts):
        name = "raw-%d-%d%s%s.png" % (depth, colour_type, "-adam7" if interlace else "",
                                      "".join("-" + f for f in flags))
        tool("raw", os.path.join(OUT, name), 11, 7, depth, colour_type, interlace, n, *flags)

    with open(os.path.join(OUT, "pillow-rgb.png"), "rb") as f:
        good = f.read()
    iend = good.rindex(b"IEND") - 4
    idat = good.index(b"IDAT") - 4
    idat_length = struct.unpack(">I", good[idat:idat + 4])[0]
    damaged = {
        "no-iend.png": good[:iend],
        "cut-idat.png": good[:idat + 8 + idat_length // 2],
        "bad-idat-crc.png": good[:idat + 8 + idat_length] + b"\0\0\0\0" + good[idat + 12 + idat_length:],
        "huge.png": good[:8] + chunk(b"IHDR", struct.pack(">IIBBBBB", 60000, 60000, 8, 6, 0, 0, 0))
        + good[33:],
        "too-wide.png": good[:8] + chunk(b"IHDR", struct.pack(">IIBBBBB", 70000, 1, 8, 2, 0, 0, 0)) + good[33:],
    }
    # The image data in small chunks, cut half way: the rows of the chunks before the cut decode.
    for source, name in (("pillow-rgb.png", "cut-small-idats.png"), ("raw-8-2-adam7.png", "cut-small-idats-adam7.png")):
        with open(os.path.join(OUT, source), "rb") as f:
            damaged[name] = rechunked_and_cut(f.read())
    for name, data in damaged.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    for name in os.listdir(OUT):
        assert os.path.getsize(os.path.join(OUT, name)) < 4096, name


if __name__ == "__main__":
    main()
