#pragma once

// The calling convention every codec follows, and the limits every reader enforces.
//
// A reader starts at the stream's current position. With paramsOnly clear it fills the bitmap
// (24-bit, or 1-bit for two-colour images) and the parameter record; with it set it fills only the
// record. Bad data sets Aborting through the progress context; the bitmap keeps what was decoded
// so far. A writer writes at the current position and takes its choices from the record.

#include <cstdint>
#include <functional>

#include "image/Bitmap.h"
#include "io/IOParams.h"
#include "io/Progress.h"
#include "io/Stream.h"

namespace veilora {

using TReadFunction = std::function<void(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                                         const TProgressContext& progress)>;
using TWriteFunction = std::function<void(TStream& stream, TBitmap& bitmap, TIOParams& params,
                                          const TProgressContext& progress)>;
// True when the stream holds the format; the position is left where it was.
using TContentTestFunction = std::function<bool(TStream& stream)>;

// The largest width or height a reader accepts. Together with the pixel-memory limit of the
// bitmap (kMaxPixelBytes) it bounds what a file header can make a reader allocate.
constexpr std::int64_t kMaxImageSide = 65535;

// True when a reader may make a bitmap of this size and format: both sides 1..kMaxImageSide and
// the pixel memory within kMaxPixelBytes. Readers call it before they allocate anything.
bool ImageSizeAllowed(std::int64_t width, std::int64_t height, TPixelFormat format);

// Makes `bitmap` a zero-filled image of the given size and format, as readers do before decoding:
// 1x1 first, so that the old pixels are released before the new block is taken.
void PrepareBitmap(TBitmap& bitmap, int width, int height, TPixelFormat format);

// A buffer a reader fills from the stream. It never takes more than the stream still holds, so a
// lying length field costs nothing.
bool ReadAvailable(TStream& stream, std::int64_t count, std::vector<std::uint8_t>& buffer);

// Rounds to nearest with ties to even, as the file formats' integer fields are computed.
std::int32_t RoundToInt(double value);

}  // namespace veilora
