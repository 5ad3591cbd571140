#pragma once

// The set of distinct 24-bit colours that the colour count fills. A colour value is
// red * 65536 + green * 256 + blue, so the whole value space is 2^24: one bit per possible colour
// (2 MiB) answers "was it new?" in constant time, however many colours a photo has.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace veilora {

class THash1 {
 public:
  THash1();

  // Adds a colour (only its low 24 bits count); true when it was not in the set yet.
  bool Insert(std::uint32_t colour);

  // Adds the pixels of one 24-bit row (blue, green, red bytes). Only sets bits: the count is
  // brought up to date when it is next asked for, which keeps the loop free of a running sum.
  void InsertPixels(const std::uint8_t* pixels, int count);

  // The number of distinct colours inserted.
  std::int32_t Count() const;

 private:
  // The bit that stands for a colour. Bits are laid out by red, then green XOR red, then blue:
  // with plain red-green-blue order, colours that differ only in red lie 64 KiB apart and all
  // fall into the same cache set, so a photo's cluster of similar colours evicts itself. The
  // XOR spreads them over the sets and is its own inverse, so every colour keeps its own bit.
  static std::uint32_t Slot(std::uint32_t colour) { return colour ^ ((colour >> 8) & 0xFF00u); }
  void SetSlot(std::uint32_t slot) { bits_[slot >> 6] |= std::uint64_t{1} << (slot & 63); }

  static constexpr std::size_t kWords = (std::size_t{1} << 24) / 64;
  struct FreeDeleter {
    void operator()(std::uint64_t* words) const;
  };
  std::unique_ptr<std::uint64_t[], FreeDeleter> bits_;
  mutable std::int32_t count_ = 0;
  mutable bool countStale_ = false;
};

}  // namespace veilora
