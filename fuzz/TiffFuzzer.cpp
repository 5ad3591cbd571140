// Feeds arbitrary bytes to the TIFF reader: the parameters only and the image of the first
// directory, with the LZW decoder installed, then the image of the second directory.

#include "FuzzReader.h"
#include "io/LzwCoders.h"
#include "io/TiffCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  static const bool installed = [] {
    InstallLzwCoders();
    return true;
  }();
  (void)installed;
  const auto read = [](TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                       const TProgressContext& progress) {
    std::int32_t count = 0;
    TiffReadStream(stream, bitmap, params, paramsOnly, progress, &count);
  };
  fuzz::RunReaderTwice(data, size, read);

  TObject sender;
  TMemoryStream stream(data, size);
  TBitmap bitmap;
  TIOParams params;
  params.TiffImageIndex = 1;
  bool aborting = false;
  read(stream, bitmap, params, false, TProgressContext{[](TObject&, int) {}, &sender, &aborting});
  return 0;
}
