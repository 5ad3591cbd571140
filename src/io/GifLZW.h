#pragma once

// The variable-length-code LZW of GIF image data: codes of minimum code size + 1 up to 12 bits,
// packed least significant bit first, carried in data sub-blocks of at most 255 bytes. For a
// minimum code size S, codes below 2^S are palette indices, 2^S clears the table and 2^S + 1 ends
// the data. The encoder clears as soon as its table is full, and the decoder insists on that clear.

#include <cstdint>

#include "io/Stream.h"

namespace veilora {

// Reads an image's data from the minimum-code-size byte through the block terminator and fills
// dest, height rows of width indices, top row first (rows arrive in GIF interlace order when
// `interlaced`). Nothing is written outside width x height; codes beyond the image are dropped.
// Data that stop before an end code are a success, and pixels not reached keep their values. On
// failure (minimum code size outside 2..9, a code above the next free one, a clear code followed
// by the end code, a full table used without a clear) the stream is put back where it was, which
// is how the caller learns of it.
void GifLzwDecode(TStream& stream, std::int32_t height, std::int32_t width, bool interlaced,
                  std::uint8_t* dest);

// Writes the minimum-code-size byte (bitsPerPixel, at least 2 and at most 8), the data sub-blocks
// (all but the last holding 254 bytes) and the block terminator. Indices are taken modulo the
// table size 2^S. Stream errors raise EStreamError.
void GifLzwEncode(TStream& stream, std::int32_t height, std::int32_t width, bool interlaced,
                  const std::uint8_t* source, std::int32_t bitsPerPixel);

}  // namespace veilora
