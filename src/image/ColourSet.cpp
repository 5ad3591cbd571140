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

void THash1::InsertPixels(const std::uint8_t* pixels, int count) {
  std::uint64_t* bits = bits_.get();
  const auto set = [bits](std::uint32_t colour) { bits[colour >> 6] |= std::uint64_t{1} << (colour & 63); };
  // A little-endian 4-byte load of blue, green, red and the next byte, masked to 24 bits, is
  // exactly red * 65536 + green * 256 + blue. The last pixel is read bytewise so that no load
  // reaches past the row.
  const auto colourAt = [](const std::uint8_t* pixel) {
    std::uint32_t word;
    std::memcpy(&word, pixel, sizeof word);
    return word & 0xFFFFFFu;
  };
  // Photo colours scatter over the 2 MiB set, so most insertions miss the first-level cache;
  // asking for the set word of the pixel kPrefetchAhead places on hides most of that wait. That
  // pixel is never the last one, whose 4-byte load would pass the row.
  constexpr int kPrefetchAhead = 16;
  // A run of one colour would chain each update to the store before it; skipping repeats of the
  // previous pixel breaks that chain in flat areas.
  std::uint32_t previous = 0xFFFFFFFFu;
  int x = 0;
  for (; x + kPrefetchAhead + 1 < count; ++x, pixels += 3) {
    __builtin_prefetch(&bits[colourAt(pixels + 3 * kPrefetchAhead) >> 6], 1);
    const std::uint32_t colour = colourAt(pixels);
    if (colour != previous) set(colour);
    previous = colour;
  }
  for (; x + 1 < count; ++x, pixels += 3) set(colourAt(pixels));
  if (x < count) set(std::uint32_t{pixels[2]} << 16 | std::uint32_t{pixels[1]} << 8 | pixels[0]);
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
