// Feeds arbitrary bytes to the PNG reader (parameters only, then the image).

#include "FuzzReader.h"
#include "io/PngCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veilora::fuzz::RunReaderTwice(data, size, veilora::PngReadStream);
  return 0;
}
