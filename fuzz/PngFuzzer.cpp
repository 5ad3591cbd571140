// Feeds arbitrary bytes to the PNG reader (parameters only, then the image).

#include <cstddef>
#include <cstdint>

#include "io/PngCodec.h"

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
    PngReadStream(stream, bitmap, params, paramsOnly, progress);
  }
  return 0;
}
