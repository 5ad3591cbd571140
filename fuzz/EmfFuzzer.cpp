// Feeds arbitrary bytes to the enhanced metafile reader, as opening a hostile .emf file does.

#include <cstddef>
#include <cstdint>

#include "MetafileFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veilora::fuzz::PlayInput(data, size, true);
  return 0;
}
