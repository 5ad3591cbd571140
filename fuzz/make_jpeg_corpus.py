#!/usr/bin/python3
"""Writes the seed files of the JPEG fuzz target into fuzz/corpus/jpeg (run from the repository root).

Pillow writes the layouts: grey, RGB with 4:2:0, 4:2:2 and 4:4:4 sampling, progressive, optimised
Huffman tables, restart intervals, Adobe CMYK, and JFIF densities in dots per inch and per
centimetre, and two files cut short. Every file stays under 4 KB.
"""
import io
import os

from PIL import Image

FOLDER = os.path.join("fuzz", "corpus", "jpeg")


def picture(width, height):
    image = Image.new("RGB", (width, height))
    image.putdata([((x * 37) % 256, (y * 53) % 256, ((x ^ y) * 8) % 256)
                   for y in range(height) for x in range(width)])
    return image


def save(name, image, **options):
    out = io.BytesIO()
    image.save(out, "JPEG", **options)
    data = out.getvalue()
    assert len(data) < 4096, name
    os.makedirs(FOLDER, exist_ok=True)
    with open(os.path.join(FOLDER, name), "wb") as f:
        f.write(data)


def main():
    rgb = picture(21, 13)
    save("grey.jpg", rgb.convert("L"), quality=75)
    save("rgb_420.jpg", rgb, quality=75, subsampling=2)
    save("rgb_422.jpg", rgb, quality=75, subsampling=1)
    save("rgb_444.jpg", rgb, quality=75, subsampling=0)
    save("progressive.jpg", rgb, quality=75, progressive=True)
    save("optimised.jpg", rgb, quality=60, optimize=True)
    save("restarts.jpg", picture(40, 24), quality=50, restart_marker_blocks=1)
    save("cmyk.jpg", rgb.convert("CMYK"), quality=75)
    save("dpi.jpg", rgb, quality=75, dpi=(300, 150))
    save("grey_progressive.jpg", picture(33, 9).convert("L"), quality=75, progressive=True)
    # Cut short: inside the scan of a sequential file, and inside a later scan of a progressive one.
    save("rgb_large.jpg", picture(64, 48), quality=75)
    cut("cut.jpg", "rgb_large.jpg", 0.7)
    cut("progressive_cut.jpg", "progressive.jpg", 0.7)


def cut(name, source, share):
    with open(os.path.join(FOLDER, source), "rb") as f:
        data = f.read()
    with open(os.path.join(FOLDER, name), "wb") as f:
        f.write(data[:int(len(data) * share)])


if __name__ == "__main__":
    main()
