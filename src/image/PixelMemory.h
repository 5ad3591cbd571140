#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace veilora {

// Frees a pixel block the way it was obtained.
struct PixelMemoryDeleter {
  std::size_t mappedBytes = 0;  // non-zero for a block mapped straight from the system
  void operator()(std::uint8_t* block) const;
};

using PixelBlock = std::unique_ptr<std::uint8_t[], PixelMemoryDeleter>;

// A zero-filled block of `bytes` bytes (null for 0). Large blocks are mapped from the system as
// fresh zero pages backed by huge pages where the system allows, so neither the zero fill nor the
// first touch of a photo-sized bitmap costs a page fault every 4 KiB. Raises std::bad_alloc.
PixelBlock AllocatePixelMemory(std::size_t bytes);

}  // namespace veilora
