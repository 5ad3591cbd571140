// Feeds arbitrary bytes to the BMP reader: parameters only and the image, with the byte count given
// and unknown, with and without a progress handler. A small decoded image is written back in the
// depth and compression the file asked for, which runs the writer on whatever the reader produced.

#include <cstddef>
#include <cstdint>

#include "io/BmpCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  TObject sender;
  for (const bool paramsOnly : {true, false}) {
    for (const bool sizeKnown : {true, false}) {
      TMemoryStream stream(data, size);
      TBitmap bitmap;
      TIOParams params;
      bool aborting = false;
      TProgressContext progress;
      if (sizeKnown) {
        progress.onProgress = [](TObject&, int) {};
        progress.sender = &sender;
      }
      progress.aborting = &aborting;
      BmpReadStream(stream, bitmap, params, paramsOnly, progress,
                    sizeKnown ? static_cast<std::int64_t>(size) : 0);
      if (!paramsOnly && sizeKnown && !bitmap.Empty() && bitmap.Width() <= 64 && bitmap.Height() <= 64) {
        TMemoryStream out;
        aborting = false;
        BmpWriteStream(out, bitmap, params, progress);
      }
    }
  }
  return 0;
}
