#pragma once

// PNG images read and written through libpng.

#include "io/Codec.h"

namespace veilora {

// A library error while reading sets Aborting and ends the read quietly. Rows decoded before it
// stay in the bitmap and the damage is described (an interlaced picture keeps its finished passes
// as a coarser whole); an error after the last row only fails the load when data was damaged.
// Depth 1 loads as 1-bit for grey and for a black-then-white palette, as 24-bit otherwise.
void PngReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress);
// Reads a picture reduced to fit maxSide pixels a side by keeping every n-th row and pixel, with
// one row of the picture in memory at a time (an interlaced picture decodes its first pass only):
// a preview of a picture far too large to decode whole. Params get the picture's full size. The
// bitmap is always 24-bit.
void PngReadStreamReduced(TStream& stream, TBitmap& bitmap, TIOParams& params, int maxSide,
                          const TProgressContext& progress);
// A library error while writing raises EPngWriteError("Error on creating PNG").
void PngWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

class EPngWriteError : public EVeiloraError {
 public:
  EPngWriteError() : EVeiloraError("Error on creating PNG") {}
};

}  // namespace veilora
