#pragma once

// The packed device-independent bitmap that image data takes on the clipboard: a 40-byte header,
// a colour table and the pixel rows in one memory block.
//
// Written by the program: header size 40, width, height (positive: rows bottom-up), 1 plane, 24 or
// 1 bits per pixel, every other field zero; for 1 bit the table black 00 00 00 00, white FF FF FF
// FF; the rows bottom row first, each padded with zero bytes to a multiple of 4. The block is zero
// filled and 4 bytes longer than header, table and rows: 44 + stride x height bytes for 24 bits,
// 52 + stride x height for 1 bit.
//
// Read: 1, 4, 8, 16, 24 and 32 bits per pixel, uncompressed or with bit-field masks (after a
// 40-byte header, or inside a larger one), rows bottom-up or, with a negative height, top-down.
// 1-bit data stays 1-bit with its bits unchanged; everything else becomes 24-bit.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/BaseView.h"
#include "image/Bitmap.h"
#include "image/PixelMemory.h"

namespace veilora {

// Columns x1..x2 and rows y1..y2 (inclusive, inside the bitmap) of a 24-bit or 1-bit bitmap as a
// packed bitmap. Other formats, or an area outside the bitmap, give an empty block.
TByteBlock EncodePackedDib(const TBitmap& bitmap, const TRectInclusive& area);
// The whole bitmap.
TByteBlock EncodePackedDib(const TBitmap& bitmap);

// Decodes a packed bitmap into `target`. False, with the target unchanged, for a block that is cut
// short, declares a size beyond the readers' limits, or uses a depth or compression that is not
// read (run-length, JPEG, PNG, video layouts): pasting such data must change nothing.
bool DecodePackedDib(const std::uint8_t* data, std::size_t size, TBitmap& target);

}  // namespace veilora
