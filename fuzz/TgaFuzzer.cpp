// Feeds arbitrary bytes to the TGA content test and reader (parameters only, then the image).

#include <cstddef>
#include <cstdint>

#include "io/TgaCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  TObject sender;
  {
    TMemoryStream stream(data, size);
    IsTgaStream(stream);
  }
  for (const bool paramsOnly : {true, false}) {
    TMemoryStream stream(data, size);
    TBitmap bitmap;
    TIOParams params;
    bool aborting = false;
    TProgressContext progress;
    progress.onProgress = [](TObject&, int) {};
    progress.sender = &sender;
    progress.aborting = &aborting;
    TgaReadStream(stream, bitmap, params, paramsOnly, progress);
  }
  return 0;
}
