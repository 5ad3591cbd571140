#pragma once

// The frames of an AVI video for a preview, decoded by FFmpeg's libraries (libavformat demuxes,
// libavcodec decodes, libswscale turns each picture into blue-green-red rows at a reduced size).
// Only the AVI demuxer is used, whatever the data hold, and every count the file declares is
// bounded by the caller's limits, so a hostile file costs at most `maxFrames` small pictures.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/Bitmap.h"

namespace veilora {

struct TAviFrames {
  std::int32_t width = 0;  // the video's own size
  std::int32_t height = 0;
  std::int32_t frameCount = 0;                   // frames the file declares (at least the frames decoded)
  std::int32_t delayMs = 100;                    // display time of one frame
  std::vector<std::unique_ptr<TBitmap>> frames;  // 24-bit, each fitting maxSide x maxSide
};

// Decodes up to maxFrames frames (at least 1), each scaled down to fit maxSide pixels a side (a
// smaller video keeps its size). False, with `failure` saying why, when no frame could be decoded.
bool AviReadFrames(const std::string& fileName, int maxFrames, int maxSide, TAviFrames& result,
                   std::string* failure = nullptr);
// The same over AVI data in memory.
bool AviReadFramesFromMemory(const std::uint8_t* data, std::size_t size, int maxFrames, int maxSide,
                             TAviFrames& result, std::string* failure = nullptr);
// The number of frames an AVI file declares (its video stream's count, else the frames its
// index or data hold); 0 when it is no AVI video that can be decoded.
std::int32_t AviFrameCount(const std::string& fileName);

}  // namespace veilora
