// Feeds arbitrary bytes to the PCX reader, once for the parameters only and once for the image.

#include "FuzzReader.h"
#include "io/PcxCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  fuzz::RunReaderTwice(data, size,
                       [size](TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                              const TProgressContext& progress) {
                         PcxReadStream(stream, bitmap, params, paramsOnly, progress,
                                       static_cast<std::int64_t>(size));
                       });
  return 0;
}
