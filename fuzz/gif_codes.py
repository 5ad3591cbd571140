"""GIF image data for hand-made codes, shared by the GIF and GIF LZW corpus scripts."""


def pack_codes(code_size, codes):
    """Codes least significant bit first with the decoder's width rule, in sub-blocks."""
    clear = 1 << code_size
    acc = bits = 0
    width = code_size + 1
    next_free = clear + 2
    fresh = True
    out = bytearray()
    for code in codes:
        acc |= code << bits
        bits += width
        while bits >= 8:
            out.append(acc & 255)
            acc >>= 8
            bits -= 8
        if code == clear:
            width, next_free, fresh = code_size + 1, clear + 2, True
        elif code == clear + 1:
            pass
        elif fresh:
            fresh = False
        else:
            next_free += 1
            if next_free >= 1 << width and width < 12:
                width += 1
    if bits:
        out.append(acc & 255)
    data = bytearray([code_size])
    for i in range(0, len(out), 255):
        block = out[i:i + 255]
        data += bytes([len(block)]) + block
    return bytes(data + b"\0")
