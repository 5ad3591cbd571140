// Feeds arbitrary bytes to the TGA content test and reader (parameters only, then the image).

#include "FuzzReader.h"
#include "io/TgaCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  {
    TMemoryStream stream(data, size);
    IsTgaStream(stream);
  }
  fuzz::RunReaderTwice(data, size, TgaReadStream);
  return 0;
}
