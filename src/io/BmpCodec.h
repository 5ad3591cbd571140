#pragma once

// Windows and OS/2 bitmaps (BMP, DIB, RLE) read and written, and icon and cursor files read.

#include "io/Codec.h"

namespace veilora {

// byteCount: the bytes of the image from the current position (the file size for a whole file);
// 0 or less when unknown.
void BmpReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress, std::int64_t byteCount);
void BmpWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

void IcoReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress,
                   bool paramsOnly);
void CurReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress,
                   bool paramsOnly);

// The icon (type 1) and cursor (type 2) content tests: a 6-byte directory header with reserved
// word 0, the type, at least one entry, and every entry plausible. The position is kept.
bool IsIconDirectory(TStream& stream, std::uint16_t type);

}  // namespace veilora
