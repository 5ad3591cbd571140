// Feeds arbitrary bytes to the PNG reader (parameters only, then the image), and to the reduced
// reader the open dialog's preview uses for pictures too large to decode whole.

#include "FuzzReader.h"
#include "io/PngCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veilora::fuzz::RunReaderTwice(data, size, veilora::PngReadStream);
  veilora::fuzz::RunReaderTwice(
      data, size,
      [](veilora::TStream& stream, veilora::TBitmap& bitmap, veilora::TIOParams& params, bool paramsOnly,
         const veilora::TProgressContext& progress) {
        // A side of 1 or 7 pixels makes the row and pixel steps large and odd.
        veilora::PngReadStreamReduced(stream, bitmap, params, paramsOnly ? 1 : 7, progress);
      });
  return 0;
}
