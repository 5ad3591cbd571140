// Feeds arbitrary bytes to the clipboard bitmap decoder, as a paste of hostile clipboard data does.
// A decoded image is encoded again and must decode to the same size and format.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/PackedDib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  TBitmap pasted;
  if (!DecodePackedDib(data, size, pasted)) return 0;
  if (pasted.Width() > 256 || pasted.Height() > 256) return 0;
  const TByteBlock block = EncodePackedDib(pasted);
  TBitmap again;
  if (!DecodePackedDib(block.data(), block.size(), again) || again.Width() != pasted.Width() ||
      again.Height() != pasted.Height() || again.PixelFormat() != pasted.PixelFormat())
    std::abort();
  return 0;
}
