#pragma once

// PNG images read and written through libpng.

#include "io/Codec.h"

namespace veilora {

// A library error while reading sets Aborting and ends the read quietly; the bitmap may already
// hold part of the image.
void PngReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress);
// A library error while writing raises EPngWriteError("Error on creating PNG").
void PngWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

class EPngWriteError : public EVeiloraError {
 public:
  EPngWriteError() : EVeiloraError("Error on creating PNG") {}
};

}  // namespace veilora
