#pragma once

// GIF images: one frame read (chosen by GifImageIndex) and one-frame files written. The LZW coding
// goes through the record's hooks (GifLzwDecompress, GifLzwCompress), else the global ones.

#include <cstdint>
#include <string>

#include "io/Codec.h"

namespace veilora {

// Reads the frame GifImageIndex from the stream's position, as it is stored (not composed onto the
// logical screen). frameCount (may be null) receives the number of image descriptors met while
// walking the whole file. A frame whose table is exactly black then white loads as 1-bit, any other
// as 24-bit; indices beyond the frame's colour table show black, and a frame with no colour table
// at all shows its indices as grey levels. A frame the size limits or the remaining data cannot
// back, data that decode to no pixel at all, or a missing decoder set Aborting and leave the bitmap
// as it was. A frame whose data end early or hold a bad code after some pixels is kept: the bitmap
// holds the pixels decoded (entry 0 elsewhere) and the damage is reported as a partial picture. A
// frame index past the last frame reads the screen values only and is no failure.
void GifReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress, std::int32_t* frameCount);
// Writes a file holding one image at BitsPerSample bits (limited to 1..8) with a global colour
// table, one graphic control extension and one image descriptor. The bitmap is 1-bit or 24-bit
// (other formats are converted on a copy); GifVersion is used when it is six characters or more
// beginning with "GIF", else GIF89a is written. The frame stands at GifXPos, GifYPos (pulled into
// 0..65535 minus its size) on a logical screen just large enough to hold it there.
void GifWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

// The number of frames in a GIF file; 0 when it is not a GIF or cannot be read.
std::int32_t GifImageCount(const std::string& fileName);

}  // namespace veilora
