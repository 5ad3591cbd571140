#!/usr/bin/python3
"""Writes the seed files of the GIF LZW fuzz target into fuzz/corpus/giflzw (run from the
repository root).

Each file is three bytes that choose the image (width - 1, height - 1, interlace flag; the target
takes width 1..97 and height 1..61) followed by GIF image data: the minimum code size, the data
sub-blocks and the terminator. Pillow codes small palette pictures; a few streams that exercise
the decoder's rules are packed by hand. Every file stays under 8 KB (a table filled to 4096
entries needs about 6 KB of codes).
"""
import os

from PIL import Image

from gif_codes import pack_codes

OUT = os.path.join("fuzz", "corpus", "giflzw")


def write(name, data):
    assert len(data) < 8192, name
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def image_data(gif):
    """The first image's data in a GIF file and its interlace flag."""
    at = 13
    if gif[10] & 0x80:
        at += 3 << ((gif[10] & 7) + 1)
    while gif[at] == 0x21:
        at += 2
        while gif[at]:
            at += 1 + gif[at]
        at += 1
    assert gif[at] == 0x2C
    flags = gif[at + 9]
    at += 10
    if flags & 0x80:
        at += 3 << ((flags & 7) + 1)
    end = at + 1
    while gif[end]:
        end += 1 + gif[end]
    return gif[at:end + 1], bool(flags & 0x40)


def pillow(name, width, height, bits, interlace, pattern):
    image = Image.new("P", (width, height))
    image.putdata([pattern(x, y) % (1 << bits) for y in range(height) for x in range(width)])
    image.putpalette([v for i in range(1 << bits) for v in (i, 255 - i, i * 3 % 256)])
    path = os.path.join(OUT, "tmp.gif")
    image.save(path, "GIF", optimize=False, interlace=interlace, bits=bits)
    with open(path, "rb") as f:
        data, interlaced = image_data(f.read())
    os.remove(path)
    write(name, bytes([width - 1, height - 1, int(interlaced)]) + data)


def main():
    os.makedirs(OUT, exist_ok=True)
    pillow("pillow-gradient-8bit.gif.lzw", 60, 40, 8, 0, lambda x, y: (x + y) * 2 + (x * y) % 3)
    pillow("pillow-interlaced-4bit.gif.lzw", 40, 30, 4, 1, lambda x, y: x // 3 + y // 5)
    pillow("pillow-1bit.gif.lzw", 97, 20, 1, 0, lambda x, y: (x // 4 + y // 2) % 2)
    pillow("pillow-noise-6bit.gif.lzw", 30, 20, 6, 0, lambda x, y: (x * 37 + y * 101) ^ (x * y))
    write("plain-literals.gif.lzw", bytes([4, 0, 0]) + pack_codes(2, [4, 1, 2, 3, 0, 5]))
    write("no-leading-clear.gif.lzw", bytes([3, 0, 0]) + pack_codes(2, [1, 1, 6, 5]))
    write("clear-runs.gif.lzw", bytes([5, 0, 1]) + pack_codes(2, [4, 4, 4, 1, 2, 4, 4, 3, 0, 6, 5]))
    write("kwkwk.gif.lzw", bytes([9, 1, 0]) + pack_codes(3, [8, 3, 10, 11, 12, 9]))
    write("clear-then-end.gif.lzw", bytes([0, 0, 0]) + pack_codes(2, [4, 5]))
    write("code-above-next-free.gif.lzw", bytes([3, 0, 0]) + pack_codes(3, [8, 1, 2, 13, 9]))
    write("code-size-9.gif.lzw", bytes([3, 0, 0]) + pack_codes(9, [512, 300, 7, 514, 513]))
    full = [4, 1] + [i % 4 for i in range(1400)] + [2, 5]
    write("long-table.gif.lzw", bytes([96, 60, 1]) + pack_codes(2, full))
    write("lying-block-count.gif.lzw", bytes([2, 0, 0, 2, 200, 0x8C, 0x5D]))
    # The table fills (entries 6..4095) and goes on at 12 bits without a clear, then clears.
    deferred = [4, 1] + [i % 4 for i in range(4090)] + [2, 6, 7, 4095, 4, 3, 6, 5]
    write("deferred-clear.gif.lzw", bytes([96, 42, 0]) + pack_codes(2, deferred))
    # Pillow's data cut inside a sub-block, with no terminator: the first rows only.
    with open(os.path.join(OUT, "pillow-gradient-8bit.gif.lzw"), "rb") as f:
        whole = f.read()
    write("cut-inside-a-block.gif.lzw", whole[:3 + 1 + 1 + 120])


if __name__ == "__main__":
    main()
