#pragma once

// Loading a file for the open dialog's preview: a picture far larger than the preview is decoded
// at a reduced size (JPEG by the decoder's own scaling, PNG by keeping every n-th row and pixel
// while reading one row at a time), and a file of several images (a GIF animation, a multi-page
// TIFF, an AVI video) gives its frames, each reduced to the preview's size.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/Bitmap.h"
#include "io/IOParams.h"

namespace veilora {

class TImageIO;

// Pictures with no more pixels than this are decoded whole.
constexpr std::int64_t kPreviewFullDecodePixels = 4'000'000;
// The largest picture of a format without a reduced decode (BMP, TIFF, TGA, PCX, GIF, ...) that a
// preview decodes whole: 48 MB at 24 bits. A larger one gives no picture, only its description.
constexpr std::int64_t kPreviewLargestWholeDecode = 16'000'000;

// Loads the file into io's bitmap for a preview no larger than maxSide pixels a side; io.Params
// describe the file (its full size, not the reduced one). Failures as TImageIO::LoadFromFile.
// A picture above `wholeDecodeLimit` pixels in a format without a reduced decode leaves the bitmap
// empty and io.Params as the file's header gives them.
void LoadPreviewImage(TImageIO& io, const std::string& fileName, int maxSide,
                      std::int64_t wholeDecodeLimit = kPreviewLargestWholeDecode);

// The number of images in a file by its extension: GIF frames, TIFF pages, AVI video frames; 1
// for any other file (0 for a GIF, TIFF or AVI that cannot be read).
std::int32_t PreviewFrameCount(const std::string& fileName);
bool IsAviFileName(const std::string& fileName);

struct TPreviewFrames {
  std::vector<std::unique_ptr<TBitmap>> frames;  // 24-bit or 1-bit, each fitting maxSide
  std::vector<std::int32_t> delaysMs;            // display time of each frame
  std::int32_t frameCount = 0;                   // images in the file (may exceed frames.size())
  TIOParams info;                                // the first image's parameters (for AVI: its size)
};

// Loads up to maxFrames images of a GIF, TIFF or AVI file. False when none could be read.
bool LoadPreviewFrames(const std::string& fileName, int maxFrames, int maxSide, TPreviewFrames& result);

// A copy of `source` reduced by picking pixels to fit maxSide pixels a side; a picture that fits
// is copied as it is. 1-bit pictures stay 1-bit.
void ReduceForPreview(const TBitmap& source, TBitmap& target, int maxSide);

}  // namespace veilora
