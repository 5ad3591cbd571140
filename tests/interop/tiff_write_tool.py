#!/usr/bin/python3
"""Pillow as the independent reader of the TIFF files Veilora writes, every page of a file.

pages FILE OUT [native]    writes OUT: for each page, its width, height and byte count as 32-bit
                           little-endian integers, then the bytes: red, green, blue rows from the
                           top, or with "native" the page's own samples (CMYK stays four bytes
                           per pixel, "1" becomes one byte per pixel, 0 or 255). Prints each page's
                           mode, one per line.
"""
import struct
import sys

from PIL import Image


def main(argv):
    if argv[1] != "pages":
        raise SystemExit("unknown command " + argv[1])
    native = len(argv) > 4 and argv[4] == "native"
    chunks = []
    with Image.open(argv[2]) as image:
        for index in range(getattr(image, "n_frames", 1)):
            image.seek(index)
            image.load()
            print(image.mode)
            if native:
                page = image.convert("L") if image.mode == "1" else image
            else:
                page = image.convert("RGB")
            data = page.tobytes()
            chunks.append(struct.pack("<III", page.width, page.height, len(data)) + data)
    with open(argv[3], "wb") as f:
        f.write(b"".join(chunks))


if __name__ == "__main__":
    main(sys.argv)
