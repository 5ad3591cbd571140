// Feeds arbitrary bytes to the AVI frame reader of the open dialog's preview (FFmpeg's AVI
// demuxer and the decoders it picks, reading from memory), a few small frames at a time.

#include <cstddef>
#include <cstdint>

#include "io/AviFrames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veilora::TAviFrames frames;
  if (veilora::AviReadFramesFromMemory(data, size, 4, 32, frames)) {
    // Every frame the reader hands out fits the size asked for.
    for (const auto& frame : frames.frames)
      if (frame->Width() > 32 || frame->Height() > 32 || frame->PixelFormat() != veilora::pf24bit)
        __builtin_trap();
  }
  return 0;
}
