#pragma once

// GIF images: one frame read (chosen by GifImageIndex) and one-frame files written. The LZW coding
// goes through the record's hooks (GifLzwDecompress, GifLzwCompress), else the global ones.

#include <cstdint>
#include <string>

#include "io/Codec.h"

namespace veilora {

// Reads the frame GifImageIndex from the stream's position. frameCount (may be null) receives the
// number of image descriptors met while walking the whole file.
void GifReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress, std::int32_t* frameCount);
// Writes a file holding one image. The bitmap is 1-bit or 24-bit.
void GifWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

// The number of frames in a GIF file; 0 when it is not a GIF or cannot be read.
std::int32_t GifImageCount(const std::string& fileName);

}  // namespace veilora
