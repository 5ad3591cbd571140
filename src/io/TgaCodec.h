#pragma once

// Truevision TGA images read and written.

#include "io/Codec.h"

namespace veilora {

void TgaReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress);
void TgaWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

// The content test: an image type TGA defines and a pixel depth it allows. Data that starts like
// a portable pixmap header ("P2".."P6") is judged by its third byte instead. The position is kept.
bool IsTgaStream(TStream& stream);

}  // namespace veilora
