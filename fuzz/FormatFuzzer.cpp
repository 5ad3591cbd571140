// Content recognition on arbitrary bytes, then a load by content through the component, which
// runs whichever reader the bytes claim to be for. The LZW coders are installed as the program
// installs them at start-up, so GIF and TIFF data reach their decoders.

#include <cstdint>

#include "io/ImageIO.h"
#include "io/LzwCoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  static const bool installed = (InstallLzwCoders(), true);
  (void)installed;
  TMemoryStream stream(data, size);
  const std::int32_t code = FindStreamFormat(stream);
  if (stream.Position() != 0 || code < 0) __builtin_trap();

  TBitmap bitmap;
  TImageIO io;
  io.AttachBitmap(&bitmap);
  io.LoadFromStream(stream);
  stream.Seek(0);
  io.ParamsFromStream(stream);
  return 0;
}
