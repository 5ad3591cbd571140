#!/usr/bin/python3
"""PNG files for the interoperability tests, written by Pillow or put together here, and Pillow's
reading of any PNG file.

pillow OUT KIND WIDTH HEIGHT SEED [bkgd]
    Pillow saves a deterministic picture as KIND: 1, L, LA, I16 (16-bit grey), P1, P2, P4, P8
    (palettes of 2, 4, 16, 256 colours, which Pillow stores at 1, 2, 4, 8 bits), Pt (palette with
    a tRNS chunk), Lt and RGBt (a transparent grey or colour), RGB, RGBA. With "bkgd" a bKGD chunk
    is added through Pillow's PngInfo.
raw OUT WIDTH HEIGHT DEPTH COLOURTYPE INTERLACE SEED [trns] [bkgd]
    The layouts Pillow cannot write (grey at 2 and 4 bits, 16-bit colour and alpha, Adam7
    interlacing), put together here with zlib: unfiltered rows, random samples, alpha samples that
    include 0 and the maximum, a palette of up to 16 entries for colour type 3. "trns" makes the first
    pixel's value transparent (palette: a tRNS entry for every index); "bkgd" adds a background.
decode FILE OUT
    OUT: width and height as 32-bit little-endian integers, then Pillow's pixels as red, green,
    blue, alpha bytes, rows from the top. 16-bit grey gives its high byte, alpha 0 where the value
    equals the tRNS grey; a 2- or 4-bit tRNS grey is widened as the pixels are.
indices FILE OUT
    The same header, then one palette index a pixel (palette files only).
"""
import random
import struct
import sys
import zlib

from PIL import Image, PngImagePlugin


def picture(width, height, seed):
    rng = random.Random(seed)
    image = Image.new("RGB", (width, height))
    image.putdata([((x * 255) // max(1, width - 1) ^ rng.randrange(8),
                    (y * 255) // max(1, height - 1), rng.randrange(256) if (x + y) % 3 else 90)
                   for y in range(height) for x in range(width)])
    return image, rng


def alpha_band(width, height, rng):
    values = [0, 255, 128, 1, 254] + [rng.randrange(256) for _ in range(width * height)]
    band = Image.new("L", (width, height))
    band.putdata(values[:width * height])
    return band


def save_pillow(out, kind, width, height, seed, bkgd):
    image, rng = picture(width, height, seed)
    options = {}
    background = None
    if kind == "1":
        image = image.convert("1", dither=Image.Dither.NONE)
        background = struct.pack(">H", 1)
    elif kind in ("L", "Lt"):
        image = image.convert("L")
        if kind == "Lt":
            options["transparency"] = image.getpixel((0, 0))
        background = struct.pack(">H", 77)
    elif kind == "LA":
        image = image.convert("L")
        image.putalpha(alpha_band(width, height, rng))
        background = struct.pack(">H", 77)
    elif kind == "I16":
        grey = image.convert("L")
        image = Image.new("I", (width, height))
        image.putdata([v * 257 + rng.randrange(256) - 128 if 0 < v < 255 else v * 257 for v in grey.getdata()])
        background = struct.pack(">H", 0x4D00)
    elif kind in ("P1", "P2", "P4", "P8", "Pt"):
        colours = {"P1": 2, "P2": 4, "P4": 16, "P8": 256, "Pt": 16}[kind]
        image = image.convert("P", palette=Image.Palette.ADAPTIVE, colors=colours)
        options["bits"] = {2: 1, 4: 2, 16: 4, 256: 8}[colours]
        if kind == "Pt":
            options["transparency"] = bytes([0, 255, 128] + [rng.randrange(256) for _ in range(13)])
        background = bytes([1])
    elif kind in ("RGB", "RGBt"):
        if kind == "RGBt":
            options["transparency"] = image.getpixel((0, 0))
        background = struct.pack(">3H", 10, 200, 30)
    elif kind == "RGBA":
        image.putalpha(alpha_band(width, height, rng))
        background = struct.pack(">3H", 10, 200, 30)
    else:
        raise SystemExit("unknown kind " + kind)
    if bkgd:
        info = PngImagePlugin.PngInfo()
        info.add(b"bKGD", background)
        options["pnginfo"] = info
    image.save(out, "PNG", **options)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def pack_row(pixels, depth):
    samples = [s for pixel in pixels for s in pixel]
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out = bytearray()
    per_byte = 8 // depth
    for i in range(0, len(samples), per_byte):
        byte = 0
        group = samples[i:i + per_byte]
        for j, s in enumerate(group):
            byte |= s << (8 - depth * (j + 1))
        out.append(byte)
    return bytes(out)


def save_raw(out, width, height, depth, colour_type, interlace, seed, flags):
    rng = random.Random(seed)
    top = (1 << depth) - 1
    channels = CHANNELS[colour_type]
    alpha = colour_type in (4, 6)
    special = [0, top, top // 2, 1, top - 1]
    entries = min(16, top + 1)

    def sample(index, channel):
        if colour_type == 3:
            return rng.randrange(entries)
        if alpha and channel == channels - 1 and index < len(special):
            return special[index]
        return rng.randrange(top + 1)

    pixels = [[tuple(sample(y * width + x, c) for c in range(channels)) for x in range(width)]
              for y in range(height)]
    if interlace:
        rows = []
        for x0, y0, dx, dy in ADAM7:
            xs = range(x0, width, dx)
            if not xs:
                continue
            for y in range(y0, height, dy):
                rows.append(pack_row([pixels[y][x] for x in xs], depth))
    else:
        rows = [pack_row(row, depth) for row in pixels]
    extra = b""
    if colour_type == 3:
        extra += chunk(b"PLTE", bytes(rng.randrange(256) for _ in range(3 * entries)))
    if "trns" in flags:
        if colour_type == 3:
            extra += chunk(b"tRNS", bytes(([0, 255, 128] + [rng.randrange(256) for _ in range(13)])[:entries]))
        else:
            extra += chunk(b"tRNS", b"".join(struct.pack(">H", s) for s in pixels[0][0]))
    if "bkgd" in flags:
        if colour_type == 3:
            extra += chunk(b"bKGD", bytes([entries - 1]))
        elif colour_type in (0, 4):
            extra += chunk(b"bKGD", struct.pack(">H", top * 2 // 3))
        else:
            extra += chunk(b"bKGD", struct.pack(">3H", top // 5, top // 2, top))
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, interlace)
    data = zlib.compress(b"".join(b"\0" + row for row in rows))
    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra + chunk(b"IDAT", data) + chunk(b"IEND", b""))


def decode(path, out):
    with Image.open(path) as image:
        image.load()
        if image.mode in ("I", "I;16", "I;16B"):
            transparent = image.info.get("transparency")
            values = list(image.getdata())
            rgba = bytearray()
            for v in values:
                g = v >> 8
                rgba += bytes([g, g, g, 0 if v == transparent else 255])
            size = image.size
        else:
            if image.mode == "L" and "transparency" in image.info:
                # Pillow widens 2- and 4-bit grey pixels to 8 bits but keeps the tRNS grey as stored.
                with open(path, "rb") as f:
                    depth = f.read(25)[24]
                if depth < 8:
                    image.info["transparency"] = image.info["transparency"] * 255 // ((1 << depth) - 1)
            converted = image.convert("RGBA")
            rgba = converted.tobytes()
            size = converted.size
    with open(out, "wb") as f:
        f.write(struct.pack("<II", *size))
        f.write(rgba)


def indices(path, out):
    with Image.open(path) as image:
        image.load()
        assert image.mode == "P", image.mode
        with open(out, "wb") as f:
            f.write(struct.pack("<II", *image.size))
            f.write(bytes(image.getdata()))


def main(argv):
    command = argv[1]
    if command == "pillow":
        save_pillow(argv[2], argv[3], int(argv[4]), int(argv[5]), int(argv[6]), "bkgd" in argv[7:])
    elif command == "raw":
        save_raw(argv[2], *(int(a) for a in argv[3:9]), set(argv[9:]))
    elif command == "decode":
        decode(argv[2], argv[3])
    elif command == "indices":
        indices(argv[2], argv[3])
    else:
        raise SystemExit("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)
