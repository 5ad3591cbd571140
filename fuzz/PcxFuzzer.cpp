// Feeds arbitrary bytes to the PCX reader, once for the parameters only and once for the image.

#include <cstddef>
#include <cstdint>

#include "io/PcxCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  TObject sender;
  for (const bool paramsOnly : {true, false}) {
    TMemoryStream stream(data, size);
    TBitmap bitmap;
    TIOParams params;
    bool aborting = false;
    TProgressContext progress;
    progress.onProgress = [](TObject&, int) {};
    progress.sender = &sender;
    progress.aborting = &aborting;
    PcxReadStream(stream, bitmap, params, paramsOnly, progress, static_cast<std::int64_t>(size));
  }
  return 0;
}
