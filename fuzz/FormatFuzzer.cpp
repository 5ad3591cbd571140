// Content recognition on arbitrary bytes, then a load by content through the component, which
// runs whichever reader the bytes claim to be for.

#include <cstdint>

#include "io/ImageIO.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
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
