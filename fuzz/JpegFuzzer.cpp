// Feeds arbitrary bytes to the JPEG reader: parameters only, then the image at full size and at
// the automatic scale, with a progress handler. A small decoded image is written back with the
// colour space and options the file suggested, which runs the writer on what the reader produced.

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/JpegCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  TObject sender;
  for (const bool paramsOnly : {true, false}) {
    for (const std::uint8_t scale : {1, 0}) {
      TMemoryStream stream(data, size);
      TBitmap bitmap;
      TIOParams params;
      params.JpegScale = scale;
      params.Width = 16;
      params.Height = 16;
      params.JpegDctMethod = static_cast<std::uint8_t>(size % 3);
      bool aborting = false;
      std::string damage;
      TProgressContext progress;
      progress.onProgress = [](TObject&, int) {};
      progress.sender = &sender;
      progress.aborting = &aborting;
      progress.damage = &damage;
      JpegReadStream(stream, bitmap, params, paramsOnly, progress);
      if (!paramsOnly && !bitmap.Empty() && bitmap.Width() <= 64 && bitmap.Height() <= 64) {
        TMemoryStream out;
        aborting = false;
        params.JpegQuality = 75;
        params.JpegSmoothing = static_cast<std::int32_t>(size % 7);
        JpegWriteStream(out, bitmap, params, progress);
      }
    }
  }
  return 0;
}
