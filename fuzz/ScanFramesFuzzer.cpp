// The assembly of scanner frames: the first bytes say how each frame is laid out (as a scanner's
// parameters would), the rest is its data.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scan/ScanImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora::scan;
  TFrameAssembler assembler;
  for (int frame = 0; frame < 3 && size >= 12; ++frame) {
    TFrameFormat format;
    format.kind = static_cast<TFrameKind>(data[0] % 5);
    format.lastFrame = (data[1] & 1) != 0;
    const int depths[4] = {1, 8, 16, data[1] >> 1};
    format.depth = depths[(data[1] >> 1) % 4];
    std::int16_t pixels;
    std::int16_t lines;
    std::int32_t bytesPerLine;
    std::memcpy(&pixels, data + 2, 2);
    std::memcpy(&lines, data + 4, 2);
    std::memcpy(&bytesPerLine, data + 6, 4);
    std::uint16_t length;
    std::memcpy(&length, data + 10, 2);
    format.pixelsPerLine = pixels;
    format.lines = lines;
    format.bytesPerLine = bytesPerLine;
    data += 12;
    size -= 12;
    if (!assembler.BeginFrame(format)) break;
    const std::size_t take = length < size ? length : size;
    // In two pieces, so that a row may straddle them.
    assembler.Add(data, take / 2);
    assembler.Add(data + take / 2, take - take / 2);
    data += take;
    size -= take;
    assembler.EndFrame();
    if (format.lastFrame) break;
  }
  TScanImage image;
  if (assembler.Finish(image)) {
    // Every row the picture claims is there.
    if (image.data.size() != image.RowBytes() * static_cast<std::size_t>(image.height)) __builtin_trap();
  }
  return 0;
}
