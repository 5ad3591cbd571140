#!/usr/bin/python3
"""Writes the seed files of the GIF fuzz target into fuzz/corpus/gif (run from the repository root).

Pillow writes an interlaced single frame, a bilevel frame, and several frames with local colour
tables, offsets, delays and transparency. The cases Pillow never writes are put together by hand
below, their image data made of literal LZW codes (a clear code often enough that the code width
never grows): frames without any colour table, indices beyond the table, a frame larger than the
screen, odd extension blocks, data cut short (inside a sub-block, or after some rows with an
end code), an undefined code part-way, a table that fills and goes on without a clear code, and
headers claiming huge frames. Every file stays under 8 KB.
"""
import os
import struct

from PIL import Image

from gif_codes import pack_codes

OUT = os.path.join("fuzz", "corpus", "gif")


def write(name, data):
    assert len(data) < 8192, name
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def picture(width, height, seed):
    image = Image.new("RGB", (width, height))
    image.putdata([((x * 13 + seed * 50) & 255, (y * 11 + seed) & 255, (x * y + seed * 7) & 255)
                   for y in range(height) for x in range(width)])
    return image


def pillow_files():
    single = picture(24, 18, 1).convert("P", palette=Image.Palette.ADAPTIVE, colors=64)
    single.save(os.path.join(OUT, "pillow-interlaced.gif"), "GIF", interlace=1)
    picture(33, 9, 2).convert("1").save(os.path.join(OUT, "pillow-bilevel.gif"), "GIF")
    base = picture(20, 16, 3)
    frames = [base]
    for k in range(2):
        changed = base.copy()
        changed.paste(picture(8, 6, 10 + k), (3 + 5 * k, 2 + 4 * k))
        frames.append(changed)
    frames = [f.convert("P", palette=Image.Palette.ADAPTIVE, colors=32 + 16 * i) for i, f in enumerate(frames)]
    frames[0].save(os.path.join(OUT, "pillow-frames.gif"), "GIF", save_all=True, append_images=frames[1:],
                   duration=[40, 70, 120], transparency=1, loop=0)


def literal_data(indices, code_size):
    """LZW image data of literal codes only: code-size byte, sub-blocks, terminator."""
    clear = 1 << code_size
    width = code_size + 1
    bits = 0
    held = 0
    packed = bytearray()

    def put(code):
        nonlocal bits, held
        bits |= code << held
        held += width
        while held >= 8:
            packed.append(bits & 0xFF)
            bits >>= 8
            held -= 8

    for i, index in enumerate(indices):
        if i % (clear - 2) == 0:
            put(clear)
        put(index)
    put(clear + 1)
    if held:
        packed.append(bits & 0xFF)
    out = bytearray([code_size])
    for at in range(0, len(packed), 255):
        chunk = packed[at:at + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out + b"\0")


def table_bytes(colours):
    bits = max(1, (len(colours) - 1).bit_length())
    colours = colours + [(0, 0, 0)] * ((1 << bits) - len(colours))
    return bits, b"".join(bytes(c) for c in colours)


def header(width, height, colours=None, background=0, version=b"GIF89a"):
    if not colours:
        return version + struct.pack("<HHBBB", width, height, 0, background, 0)
    bits, table = table_bytes(colours)
    return version + struct.pack("<HHBBB", width, height, 0xF0 | (bits - 1), background, 0) + table


def frame(left, top, width, height, indices, code_size, local=None, interlaced=False):
    flags = 0x40 if interlaced else 0
    table = b""
    if local:
        bits, table = table_bytes(local)
        flags |= 0x80 | (bits - 1)
    return b"," + struct.pack("<HHHHB", left, top, width, height, flags) + table + literal_data(indices, code_size)


def descriptor(left, top, width, height, flags=0):
    return b"," + struct.pack("<HHHHB", left, top, width, height, flags)


def control(flags, delay, index):
    return b"\x21\xf9\x04" + struct.pack("<BHB", flags, delay, index) + b"\0"


def hand_made_files():
    grey = [(i * 60, i * 60, i * 60) for i in range(4)]
    ramp = [(x * 37 + y * 11) & 255 for y in range(6) for x in range(7)]
    write("no-colour-table.gif", header(7, 6) + frame(0, 0, 7, 6, ramp, 8) + b";")
    write("beyond-table.gif", header(5, 2, [(255, 0, 0), (0, 255, 0)]) + control(1, 0, 3)
          + frame(0, 0, 5, 2, [0, 1, 2, 3, 1, 3, 2, 1, 0, 0], 2) + b";")
    write("larger-than-screen.gif", header(3, 3, grey, 2) + frame(2, 1, 9, 5, [i % 4 for i in range(45)], 2,
                                                                  interlaced=True) + b";")
    write("extensions.gif", header(4, 2, grey, version=b"GIF87a")
          + b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00" + b"\x00\x17" + b"\x21\xfe\x03abc\x02de\x00"
          + b"\x21\xf9\x06\x01\x05\x00\x02\x07\x08\x00" + frame(0, 0, 4, 2, [0, 1, 2, 3, 3, 2, 1, 0], 2, grey) + b";")
    two = frame(0, 0, 4, 2, [1, 0, 0, 1, 0, 1, 1, 0], 2, [(0, 0, 0), (255, 255, 255)])
    write("two-frames-bilevel.gif", header(4, 2, grey) + control(9, 3, 0) + two + control(8, 0, 1)
          + frame(1, 0, 3, 2, [3, 2, 1, 0, 1, 2], 2) + b";")
    cut = header(8, 5, grey) + frame(0, 0, 8, 5, [i % 4 for i in range(40)], 2)
    write("data-cut-short.gif", cut[:len(cut) - 12])
    huge = bytearray(header(4, 2, grey) + frame(0, 0, 4, 2, [0, 1, 2, 3] * 2, 2) + b";")
    struct.pack_into("<HH", huge, 13 + 12 + 5, 0xFFFF, 0xFFFF)
    write("huge-claim.gif", bytes(huge))
    large = bytearray(huge)
    struct.pack_into("<HH", large, 13 + 12 + 5, 3000, 2000)
    write("large-claim.gif", bytes(large))
    bad = bytearray(header(4, 2, grey) + frame(0, 0, 4, 2, [0, 1, 2, 3] * 2, 2) + b";")
    bad[13 + 12 + 10] = 11  # minimum code size out of range
    write("bad-code-size.gif", bytes(bad))
    # 6 rows of 4 asked for; the data end after 3 of them (with an end code), or hold an
    # undefined code (7 after clear, 1, when 6 is the next free code) after 9 pixels.
    pairs = [4, 1, 1] * 6
    write("ends-after-three-rows.gif", header(4, 6, grey) + descriptor(0, 0, 4, 6) + pack_codes(2, pairs + [5])
          + b";")
    write("undefined-code.gif", header(4, 6, grey) + descriptor(0, 0, 4, 6, 0x40)
          + pack_codes(2, [4, 1, 1] * 4 + [4, 1, 7, 1, 5]) + b";")
    # A table filled to 4096 entries that goes on at 12 bits without a clear, then clears.
    deferred = [4, 1] + [i % 4 for i in range(4090)] + [2, 6, 7, 4095, 4, 3, 6, 5]
    write("deferred-clear.gif", header(97, 43, grey) + descriptor(0, 0, 97, 43) + pack_codes(2, deferred)
          + b";")


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    pillow_files()
    hand_made_files()
