#!/usr/bin/python3
"""Pillow as an independent maker and reader of GIF files for the interoperability tests.

Raw pictures use the layout of pillow_tool.py: width and height as 32-bit little-endian integers,
then red, green, blue bytes, rows from the top.

make OUT [key=value ...] RAW [RAW ...]
    converts each RAW picture to a palette image with its own adaptive palette (no dithering) and
    saves them as the frames of OUT. Options: colors=N (palette size, default 256),
    transparency=INDEX, duration=HUNDREDTHS (per frame), interlace=0|1 (Pillow 9.4 interlaces a
    single frame whose sides are both 16 or more unless told 0; it never interlaces the frames of
    a several-frame file). Pillow stores each frame after the first cropped to the area where it
    differs from the frame before (so it lies inside the screen at an offset), with a local colour
    table wherever its palette differs from the first frame's.
count FILE
    prints the number of frames Pillow sees.
frame FILE N OUT
    decodes frame N as it is stored, not composed onto the frames before it: the frame's image
    data and its own colour table (local, else global) are put into a one-frame file, which
    Pillow decodes and converts to RGB (transparency is not applied). Writes OUT as a raw picture
    and prints "left top width height interlaced transparent-index delay" (-1 for no transparency).
"""
import io
import struct
import sys

from PIL import Image


def read_raw(path):
    with open(path, "rb") as f:
        data = f.read()
    width, height = struct.unpack("<II", data[:8])
    return Image.frombytes("RGB", (width, height), data[8:8 + width * height * 3])


def write_raw(path, image):
    rgb = image.convert("RGB")
    with open(path, "wb") as f:
        f.write(struct.pack("<II", rgb.width, rgb.height))
        f.write(rgb.tobytes())


def option_value(text):
    try:
        return int(text)
    except ValueError:
        return text


def make(out, arguments):
    options = {}
    raws = []
    for argument in arguments:
        if "=" in argument:
            key, value = argument.split("=", 1)
            options[key] = option_value(value)
        else:
            raws.append(argument)
    colors = options.pop("colors", 256)
    frames = [read_raw(raw).convert("P", palette=Image.Palette.ADAPTIVE, colors=colors, dither=Image.Dither.NONE)
              for raw in raws]
    save = {}
    if "duration" in options:
        save["duration"] = options.pop("duration") * 10  # Pillow counts milliseconds
    save.update(options)
    if len(frames) > 1:
        save["save_all"] = True
        save["append_images"] = frames[1:]
    frames[0].save(out, "GIF", **save)


def sub_blocks_end(data, at):
    """The offset after the sub-blocks starting at `at` (after their zero terminator)."""
    while data[at] != 0:
        at += data[at] + 1
    return at + 1


def frames_of(data):
    """Yields, per image descriptor: descriptor bytes, colour table bytes, image data bytes and the
    graphic control block that came since the previous image (or None)."""
    if data[:3] != b"GIF":
        raise SystemExit("not a GIF")
    at = 13
    global_table = b""
    if data[10] & 0x80:
        size = 3 * (2 << (data[10] & 7))
        global_table = data[at:at + size]
        at += size
    control = None
    while at < len(data):
        introducer = data[at]
        if introducer == 0x3B:
            return
        if introducer == 0x21:
            label = data[at + 1]
            end = sub_blocks_end(data, at + 2)
            if label == 0xF9:
                control = data[at + 3:at + 7]
            at = end
        elif introducer == 0x2C:
            descriptor = data[at + 1:at + 10]
            at += 10
            table = global_table
            if descriptor[8] & 0x80:
                size = 3 * (2 << (descriptor[8] & 7))
                table = data[at:at + size]
                at += size
            end = sub_blocks_end(data, at + 1)
            yield descriptor, table, data[at:end], control
            control = None
            at = end
        else:
            at += 1


def frame(path, index, out):
    with open(path, "rb") as f:
        data = f.read()
    for n, (descriptor, table, image_data, control) in enumerate(frames_of(data)):
        if n != index:
            continue
        left, top, width, height, flags = struct.unpack("<HHHHB", descriptor)
        bits = max(1, (len(table) // 3).bit_length() - 1)
        alone = (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | (bits - 1), 0, 0) + table
                 + b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, flags & 0x40) + image_data + b"\x3b")
        with Image.open(io.BytesIO(alone)) as image:
            image.load()
            write_raw(out, image)
        transparent = control[3] if control is not None and control[0] & 1 else -1
        delay = struct.unpack("<H", control[1:3])[0] if control is not None else 0
        print(left, top, width, height, 1 if flags & 0x40 else 0, transparent, delay)
        return
    raise SystemExit("no frame %d" % index)


def main(argv):
    command = argv[1]
    if command == "make":
        make(argv[2], argv[3:])
    elif command == "count":
        with Image.open(argv[2]) as image:
            print(getattr(image, "n_frames", 1))
    elif command == "frame":
        frame(argv[2], int(argv[3]), argv[4])
    else:
        raise SystemExit("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)
