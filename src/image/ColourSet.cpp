#include "image/ColourSet.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

namespace veilora {

void THash1::FreeDeleter::operator()(std::uint64_t* words) const {
  std::free(words);
}

THash1::THash1() {
  // Fresh zero pages from calloc: a set that sees few colours touches little of its memory.
  auto* words = static_cast<std::uint64_t*>(std::calloc(kWords, sizeof(std::uint64_t)));
  if (words == nullptr) throw std::bad_alloc();
  bits_.reset(words);
}

bool THash1::Insert(std::uint32_t colour) {
  const std::uint32_t slot = Slot(colour & 0xFFFFFFu);
  const bool isNew = (bits_[slot >> 6] & (std::uint64_t{1} << (slot & 63))) == 0;
  if (isNew) {
    const std::int32_t before = Count();
    SetSlot(slot);
    count_ = before + 1;
  }
  return isNew;
}

void THash1::InsertPixels(const std::uint8_t* pixels, int count) {
  // A little-endian 4-byte load of blue, green, red and the next byte, masked to 24 bits, is
  // exactly red * 65536 + green * 256 + blue. The last pixel is read bytewise so that no load
  // reaches past the row.
  const auto colourAt = [](const std::uint8_t* pixel) {
    std::uint32_t word;
    std::memcpy(&word, pixel, sizeof word);
    return word & 0xFFFFFFu;
  };
  // A run of one colour would chain each update to the store before it; skipping repeats of the
  // previous pixel breaks that chain in flat areas.
  std::uint32_t previous = 0xFFFFFFFFu;
  int x = 0;
  // Unrolled: the loop's own counting is a good share of the few instructions per pixel.
#pragma GCC unroll 4
  for (; x + 1 < count; ++x, pixels += 3) {
    const std::uint32_t colour = colourAt(pixels);
    if (colour != previous) SetSlot(Slot(colour));
    previous = colour;
  }
  if (x < count) SetSlot(Slot(std::uint32_t{pixels[2]} << 16 | std::uint32_t{pixels[1]} << 8 | pixels[0]));
  countStale_ = countStale_ || count > 0;
}

std::int32_t THash1::Count() const {
  if (countStale_) {
    std::int64_t total = 0;
    for (std::size_t i = 0; i < kWords; ++i) total += std::popcount(bits_[i]);
    count_ = static_cast<std::int32_t>(total);
    countStale_ = false;
  }
  return count_;
}

}  // namespace veilora
