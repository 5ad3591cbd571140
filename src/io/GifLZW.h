#pragma once

// The variable-length-code LZW of GIF image data: codes of minimum code size + 1 up to 12 bits,
// packed least significant bit first, carried in data sub-blocks of at most 255 bytes. For a
// minimum code size S, codes below 2^S are palette indices, 2^S clears the table and 2^S + 1 ends
// the data. The encoder clears as soon as its table is full; the decoder also takes a full table
// that goes on being used at 12 bits without new entries until a clear code comes (the "deferred
// clear" that many encoders use).

#include <cstdint>

#include "io/Stream.h"

namespace veilora {

// Reads an image's data from the minimum-code-size byte through the block terminator and fills
// dest, height rows of width indices, top row first (rows arrive in GIF interlace order when
// `interlaced`). Nothing is written outside width x height; codes beyond the image are dropped.
// Returns the number of pixels stored, in the order the data fill the image; pixels not reached
// keep their values. Data that stop before an end code leave the stream after what was read. On a
// bad code (minimum code size outside 2..9, a code above the next free one, a clear code followed
// by the end code) the stream is put back where it was, and the pixels decoded before it stay.
std::int64_t GifLzwDecode(TStream& stream, std::int32_t height, std::int32_t width, bool interlaced,
                          std::uint8_t* dest);

// Writes the minimum-code-size byte (bitsPerPixel, at least 2 and at most 8), the data sub-blocks
// (all but the last holding 254 bytes) and the block terminator. Indices are taken modulo the
// table size 2^S. Stream errors raise EStreamError.
void GifLzwEncode(TStream& stream, std::int32_t height, std::int32_t width, bool interlaced,
                  const std::uint8_t* source, std::int32_t bitsPerPixel);

}  // namespace veilora
