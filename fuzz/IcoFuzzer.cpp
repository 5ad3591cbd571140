// Feeds arbitrary bytes to the icon content test and the icon reader (first and second image,
// parameters only and the image).

#include <cstddef>
#include <cstdint>

#include "io/BmpCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  TMemoryStream probe(data, size);
  IsIconDirectory(probe, 1);
  for (const bool paramsOnly : {true, false}) {
    for (const int index : {0, 1}) {
      TMemoryStream stream(data, size);
      TBitmap bitmap;
      TIOParams params;
      params.IcoImageIndex = index;
      params.IcoBackground = TRGB{255, 255, 255};
      bool aborting = false;
      TProgressContext progress;
      progress.aborting = &aborting;
      IcoReadStream(stream, bitmap, params, progress, paramsOnly);
    }
  }
  return 0;
}
