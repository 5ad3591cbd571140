#pragma once

// JPEG images read and written through libjpeg (libjpeg-turbo's jpeglib interface).

#include "io/Codec.h"

namespace veilora {

// Any library error sets Aborting; rows already decoded stay in the bitmap. Data that ends early
// keeps the rows made from real data (a file of several scans: the whole picture its scans give)
// and describes what is missing.
void JpegReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                    const TProgressContext& progress);
// A library error sets Aborting; the caller's safe save then keeps any older file.
void JpegWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

// True when the stream's next three bytes are FF D8 FF; the position is kept.
bool IsJpegStream(TStream& stream);

}  // namespace veilora
