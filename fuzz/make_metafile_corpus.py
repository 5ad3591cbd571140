#!/usr/bin/python3
"""Writes the seed files of the WMF and EMF fuzz targets into fuzz/corpus/wmf and fuzz/corpus/emf
(run from the repository root).

No program here writes metafiles, so every file is put together by hand from the records the
readers know: shapes, objects, the state stack, mapping, clipping, text and pictures, plus a few
damaged files (a record running past the end, a zero-sized record, a header that lies about its
counts). Every file stays under 4 KB.
"""
import os
import struct

WMF_OUT = os.path.join("fuzz", "corpus", "wmf")
EMF_OUT = os.path.join("fuzz", "corpus", "emf")


def save(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    assert len(data) < 4096, name
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def dib24(width, height, seed=40):
    stride = (width * 3 + 3) & ~3
    rows = b"".join(bytes((seed * (x + y)) % 256 for x in range(width * 3)).ljust(stride, b"\0")
                    for y in range(height))
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 0, 0, 0, 0) + rows


def dib1(width, height):
    stride = ((width + 31) // 32) * 4
    rows = bytes([0xAA] * stride * height)
    table = bytes([0, 0, 255, 0, 0, 255, 0, 0])
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0, len(rows), 0, 0, 2, 0) + table + rows


# ---- Windows metafiles

def wrec(function, words=(), tail=b""):
    body = b"".join(struct.pack("<H", w & 0xFFFF) for w in words) + tail
    if len(body) % 2:
        body += b"\0"
    return struct.pack("<IH", 3 + len(body) // 2, function) + body


def wmf(records, bounds=(0, 0, 1000, 1000), inch=1440, objects=8):
    data = b"".join(records)
    out = b""
    if inch:
        placeable = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, *bounds, inch, 0)
        checksum = 0
        for i in range(0, 20, 2):
            checksum ^= struct.unpack("<H", placeable[i:i + 2])[0]
        out = placeable + struct.pack("<H", checksum)
    header = struct.pack("<HHHIHIH", 1, 9, 0x300, (18 + len(data) + 6) // 2, objects, 64, 0)
    return out + header + data + struct.pack("<IH", 3, 0)


def colour(c):
    return [c & 0xFFFF, c >> 16]


PEN = wrec(0x02FA, [0, 3, 0] + colour(0x0000FF))
BRUSH = wrec(0x02FC, [0] + colour(0x00FF00) + [0])
HATCH = wrec(0x02FC, [2] + colour(0xFF0000) + [5])
FONT = wrec(0x02FB, [-40 & 0xFFFF, 0, 450, 0, 700], bytes([1, 1, 0, 0, 0, 0, 0, 0]) + b"Arial\0")

save(WMF_OUT, "shapes.wmf", wmf([
    PEN, BRUSH, wrec(0x012D, [0]), wrec(0x012D, [1]),
    wrec(0x041B, [400, 400, 100, 100]), wrec(0x0418, [900, 900, 500, 500]),
    wrec(0x061C, [50, 50, 900, 400, 600, 100]),
    wrec(0x0817, [100, 900, 500, 500, 900, 900, 100, 100]),
    wrec(0x081A, [500, 100, 100, 500, 900, 900, 100, 100]),
    wrec(0x0830, [700, 700, 300, 300, 800, 800, 200, 200]),
    wrec(0x0324, [3, 10, 10, 500, 10, 10, 500]), wrec(0x0325, [3, 10, 10, 500, 500, 990, 10]),
    wrec(0x0538, [2, 3, 3, 0, 0, 100, 0, 0, 100, 500, 500, 600, 500, 500, 600]),
    wrec(0x0214, [0, 0]), wrec(0x0213, [999, 999]), wrec(0x041F, colour(0xFF00FF) + [20, 20]),
]))
save(WMF_OUT, "state-and-mapping.wmf", wmf([
    wrec(0x0103, [8]), wrec(0x020B, [0, 0]), wrec(0x020C, [2000, 2000]), wrec(0x020D, [10, 10]),
    wrec(0x020E, [500, 500]), wrec(0x020F, [5, 5]), wrec(0x0211, [3, 3]), wrec(0x0410, [1, 2, 1, 2]),
    wrec(0x0412, [3, 2, 3, 2]), wrec(0x001E), HATCH, wrec(0x012D, [0]), wrec(0x0102, [2]),
    wrec(0x0201, colour(0x00FFFF)), wrec(0x0104, [7]), wrec(0x0106, [2]),
    wrec(0x041B, [1500, 1500, 100, 100]), wrec(0x0127, [-1 & 0xFFFF]), wrec(0x0103, [2]),
    wrec(0x041B, [-500 & 0xFFFF, 500, 0, 0]), wrec(0x0103, [7]), wrec(0x01F0, [0]),
]))
save(WMF_OUT, "clip-and-region.wmf", wmf([
    wrec(0x0416, [800, 800, 200, 200]), wrec(0x0415, [600, 600, 400, 400]), wrec(0x0220, [10, 10]),
    wrec(0x06FF, [0, 6, 0, 0, 50, 1, 0, 100, 100, 300, 300, 2, 100, 300, 100, 300, 2]),
    BRUSH, wrec(0x012C, [0]), wrec(0x0228, [0, 1]), wrec(0x012B, [0]), wrec(0x012D, [0]),
    wrec(0x041B, [900, 900, 0, 0]), wrec(0x012C, [9]),
]))
save(WMF_OUT, "text.wmf", wmf([
    FONT, wrec(0x012D, [0]), wrec(0x0209, colour(0x123456)), wrec(0x012E, [24]),
    wrec(0x0521, [5], b"Hello" + b"\0" + struct.pack("<hh", 500, 100)),
    wrec(0x0A32, [700, 100, 3, 6, 90, 650, 400, 720], b"\x80\xe9z\0" + struct.pack("<hhh", 40, 50, 60)),
    wrec(0x012E, [1 | 6]), wrec(0x0521, [2], b"cp" + struct.pack("<hh", 0, 0)),
]))
save(WMF_OUT, "pictures.wmf", wmf([
    wrec(0x0F43, [0x0020, 0x00CC, 0, 3, 4, 0, 0, 300, 400, 100, 100], dib24(4, 3)),
    wrec(0x0B41, [0x0086, 0x00EE, 2, 2, 1, 1, 200, 200, 600, 600], dib24(3, 3, 7)),
    wrec(0x0940, [0x0020, 0x00CC, 0, 0, 8, 8, 10, 10], dib1(8, 8)),
    wrec(0x0D33, [0, 3, 0, 0, 0, 3, 4, 500, 500], dib24(4, 3, 90)),
    wrec(0x0142, [5, 0], dib1(8, 8)), wrec(0x012D, [0]), wrec(0x061D, [0x0021, 0x00F0, 300, 300, 0, 0]),
    wrec(0x0940, [0x0062, 0x00FF, 0, 0, 0, 50, 50, 900, 900]),
]))
save(WMF_OUT, "no-placeable.wmf", wmf([
    wrec(0x0103, [8]), wrec(0x020B, [1000, 0]), wrec(0x020C, [-1000 & 0xFFFF, 1000]), PEN, wrec(0x012D, [0]),
    wrec(0x041B, [900, 900, 100, 100]),
], inch=0))
save(WMF_OUT, "record-past-end.wmf", wmf([BRUSH, wrec(0x012D, [0])])[:-6] + struct.pack("<IH", 0x7FFFFFFF, 0x041B))
save(WMF_OUT, "zero-record.wmf", wmf([struct.pack("<IH", 0, 0x041B), wrec(0x041B, [1, 1, 0, 0])], objects=0))


# ---- enhanced metafiles

def erec(kind, values=(), tail=b""):
    body = b"".join(struct.pack("<I", v & 0xFFFFFFFF) for v in values) + tail
    body += b"\0" * (-len(body) % 4)
    return struct.pack("<II", kind, 8 + len(body)) + body


def f32(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def emf(records, claimed_records=None):
    data = b"".join(records)
    eof = erec(14, [0, 16, 20])
    count = len(records) + 2 if claimed_records is None else claimed_records
    header = struct.pack("<II4i4iIIIIHHIIIiiii", 1, 88, 0, 0, 99, 99, 0, 0, 2640, 2640, 0x464D4520, 0x10000,
                         88 + len(data) + len(eof), count, 8, 0, 0, 0, 0, 1000, 1000, 264, 264)
    return header + data + eof


def points32(*xy):
    return list(xy)


def points16(*xy):
    return [(xy[i] & 0xFFFF) | ((xy[i + 1] & 0xFFFF) << 16) for i in range(0, len(xy), 2)]


def text_record(kind, x, y, chars, data, options=0, dx=()):
    string = data + b"\0" * (-len(data) % 4)
    fixed = [0, 0, 0, 0, 1, f32(1), f32(1), x, y, chars, 76, options, 0, 0, 90, 30]
    offdx = 76 + len(string) if dx else 0
    return erec(kind, fixed + [offdx], string + b"".join(struct.pack("<i", d) for d in dx))


def dib_record_stretch(image, rop=0x00CC0020):
    width, height = struct.unpack("<ii", image[4:12])
    return erec(81, [0, 0, 0, 0, 10, 10, 0, 0, width, abs(height), 80, 40, 120, len(image) - 40, 0, rop, 40, 30],
                image)


save(EMF_OUT, "shapes.emf", emf([
    erec(38, [1, 0, 2, 0, 0x0000FF]), erec(39, [2, 0, 0x00FF00, 0]), erec(37, [1]), erec(37, [2]),
    erec(43, [10, 10, 40, 40]), erec(42, [50, 10, 90, 50]), erec(44, [10, 50, 40, 90, 10, 10]),
    erec(45, [50, 50, 90, 90, 90, 70, 70, 50]), erec(46, [50, 50, 90, 90, 50, 70, 90, 70]),
    erec(47, [50, 50, 90, 90, 70, 50, 50, 70]), erec(55, [0, 0, 20, 20, 20, 10, 10, 0]),
    erec(41, [50, 50, 20, f32(30), f32(270)]),
    erec(3, [0, 0, 0, 0, 3] + points32(0, 0, 50, 0, 0, 50)), erec(4, [0, 0, 0, 0, 2] + points32(0, 0, 99, 99)),
    erec(2, [0, 0, 0, 0, 4] + points32(0, 0, 30, 80, 60, 20, 90, 90)),
    erec(86, [0, 0, 0, 0, 3] + points16(5, 5, 60, 5, 5, 60)),
    erec(87, [0, 0, 0, 0, 3] + points16(5, 5, 60, 60, 90, 5)),
    erec(91, [0, 0, 0, 0, 2, 6, 3, 3] + points16(0, 0, 10, 0, 0, 10, 50, 50, 60, 50, 50, 60)),
    erec(7, [0, 0, 0, 0, 2, 4, 2, 2] + points32(0, 0, 10, 10, 20, 20, 30, 30)),
    erec(27, [5, 5]), erec(54, [95, 95]), erec(6, [0, 0, 0, 0, 2] + points32(10, 90, 90, 10)),
    erec(88, [0, 0, 0, 0, 3] + points16(20, 20, 40, 80, 90, 90)),
    erec(56, [0, 0, 0, 0, 5] + points32(10, 10, 50, 10, 60, 20, 70, 30, 80, 40), bytes([6, 2, 4, 4, 5])),
    erec(15, [3, 3, 0xFF00FF]), erec(40, [1]), erec(37, [0x80000007]), erec(37, [0x80000004]),
]))
save(EMF_OUT, "state-paths-clip.emf", emf([
    erec(17, [8]), erec(9, [200, 200]), erec(10, [-10, -10]), erec(11, [100, 100]), erec(12, [5, 5]),
    erec(31, [1, 2, 1, 2]), erec(32, [3, 2, 3, 2]), erec(33), erec(35, [f32(0.7), f32(0.7), f32(-0.7), f32(0.7),
                                                                        f32(20), f32(0)]),
    erec(36, [f32(2), 0, 0, f32(2), 0, 0, 2]), erec(59), erec(27, [10, 10]), erec(54, [50, 10]),
    erec(54, [30, 40]), erec(61), erec(60), erec(63, [0, 0, 0, 0]), erec(59), erec(42, [0, 0, 60, 60]),
    erec(60), erec(67, [1]), erec(34, [-1]), erec(30, [10, 10, 80, 80]), erec(29, [30, 30, 50, 50]),
    erec(26, [5, 5]), erec(75, [48, 2, 32, 1, 1, 16, 0, 0, 40, 40, 0, 0, 40, 40]),
    erec(71, [0, 0, 0, 0, 48, 0x80000004, 32, 1, 1, 16, 0, 0, 40, 40, 60, 60, 90, 90]),
    erec(74, [0, 0, 0, 0, 48, 32, 1, 1, 16, 0, 0, 40, 40, 5, 5, 15, 15]), erec(75, [0, 5]),
    erec(17, [2]), erec(43, [0, 0, 100, -100]), erec(17, [7]), erec(57, [2]),
    erec(45, [10, 10, 90, 90, 90, 50, 10, 50]), erec(18, [1]), erec(20, [7]), erec(19, [2]),
    erec(70, [8, 0x2B464D45, 0x00000000]),  # an EMF+ comment
    erec(37, [99]), erec(40, [0x10001]),
]))
logfont = struct.pack("<5i8B", -20, 0, 300, 0, 700, 1, 1, 1, 0, 0, 0, 0, 0) + "Arial".encode("utf-16-le")
save(EMF_OUT, "text.emf", emf([
    erec(82, [1], logfont.ljust(92, b"\0")), erec(37, [1]), erec(24, [0x804020]), erec(25, [0xEEEEEE]),
    erec(22, [24]), text_record(84, 10, 40, 5, "Hé €x".encode("utf-16-le"), options=6, dx=(8, 8, 8, 8, 8)),
    text_record(83, 10, 80, 4, b"\x80abc", options=0x100), text_record(84, 0, 0, 2, "AB".encode("utf-16-le"),
                                                                         options=0x2010),
    erec(22, [1]), text_record(84, 0, 0, 1, "C".encode("utf-16-le")),
]))
save(EMF_OUT, "pictures.emf", emf([
    dib_record_stretch(dib24(4, 3)), dib_record_stretch(dib1(8, 8), rop=0x00330008),
    erec(76, [0, 0, 0, 0, 10, 10, 30, 30, 0x00F00021, 0, 0] + [f32(1), 0, 0, f32(1), 0, 0] + [0, 0, 0, 0, 0, 0]),
    erec(94, [3, 0, 32, 48, 80, len(dib1(8, 8)) - 48], dib1(8, 8)),
    erec(37, [3]), erec(43, [50, 50, 90, 90]),
    erec(80, [0, 0, 0, 0, 60, 60, 0, 0, 4, 3, 76, 40, 116, len(dib24(4, 3)) - 40, 0, 0, 3], dib24(4, 3, 9)),
]))
save(EMF_OUT, "header-lies.emf", emf([erec(39, [1, 0, 0xFF, 0]), erec(37, [1]), erec(43, [0, 0, 50, 50])],
                                     claimed_records=1))
bad = bytearray(emf([erec(43, [0, 0, 50, 50]), erec(43, [0, 0, 60, 60])]))
struct.pack_into("<I", bad, 88 + 4, 0x7FFFFFF0)
save(EMF_OUT, "record-past-end.emf", bytes(bad))
