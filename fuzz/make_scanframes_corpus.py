#!/usr/bin/python3
"""Writes the seed files of the scanner-frame fuzz target into fuzz/corpus/scanframes (run from the
repository root).

Each frame is a 12-byte head as the fuzz target reads it (kind, last-frame bit and depth choice,
pixels per line, lines, bytes per line, data length; little-endian) followed by its data: the
layouts the SANE test backend sends (grey, RGB, line art, three-pass, unknown height, rows wider
than their pixels, 16-bit samples).
"""
import os
import struct

FOLDER = os.path.join("fuzz", "corpus", "scanframes")
KINDS = {"grey": 0, "rgb": 1, "red": 2, "green": 3, "blue": 4}
DEPTHS = {1: 0, 8: 1, 16: 2}


def frame(kind, depth, pixels, lines, bytes_per_line, last=True, data=None):
    if data is None:
        rows = lines if lines > 0 else 3
        data = bytes((i * 7) & 0xFF for i in range(rows * bytes_per_line))
    head = struct.pack("<BBhhiH", KINDS[kind], (DEPTHS[depth] << 1) | int(last), pixels, lines,
                       bytes_per_line, len(data))
    return head + data


def save(name, data):
    os.makedirs(FOLDER, exist_ok=True)
    with open(os.path.join(FOLDER, name), "wb") as f:
        f.write(data)


save("grey-8", frame("grey", 8, 9, 4, 9))
save("rgb-8", frame("rgb", 8, 5, 3, 15))
save("lineart", frame("grey", 1, 10, 4, 2))
save("three-pass", frame("green", 8, 4, 2, 4, False) + frame("blue", 8, 4, 2, 4, False)
     + frame("red", 8, 4, 2, 4))
save("hand-scanner", frame("grey", 8, 6, -1, 6, data=bytes(range(40))))
save("wide-rows", frame("rgb", 8, 3, 2, 16))
save("rgb-16", frame("rgb", 16, 2, 2, 12))
