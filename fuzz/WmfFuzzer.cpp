// Feeds arbitrary bytes to the Windows metafile reader, as opening a hostile .wmf file does.

#include <cstddef>
#include <cstdint>

#include "MetafileFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veilora::fuzz::PlayInput(data, size, false);
  return 0;
}
