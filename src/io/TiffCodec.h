#pragma once

// TIFF images: one image (directory) read, chosen by TiffImageIndex, and single-image files
// written, new or appended to an existing little-endian file. Offsets inside the file count from
// the stream position where the TIFF header starts.

#include <cstdint>
#include <string>

#include "io/Codec.h"

namespace veilora {

// Reads the image TiffImageIndex of the TIFF file starting at the stream's position. imageCount
// (may be null) receives the number of directories in the file.
void TiffReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                    const TProgressContext& progress, std::int32_t* imageCount);
// Writes the bitmap (1-bit or 24-bit) as a TIFF image. With append, the stream holds a TIFF file
// from its position and the image is linked in at position TiffImageIndex of its chain. Returns the
// number of images in the file written (1 for a new file, 0 on failure).
std::int32_t TiffWriteStream(TStream& stream, bool append, TBitmap& bitmap, TIOParams& params,
                             const TProgressContext& progress);

// The number of directories in a TIFF file; 0 when it is not a TIFF or cannot be read.
std::int32_t TiffImageCount(const std::string& fileName);

}  // namespace veilora
