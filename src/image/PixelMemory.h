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

namespace veilora {

// A block of bytes in pixel memory, for data as large as a picture (the clipboard's packed
// bitmap): zero-filled when made, movable, copied only on purpose.
class TByteBlock {
 public:
  TByteBlock() = default;
  explicit TByteBlock(std::size_t size) : data_(AllocatePixelMemory(size)), size_(size) {}
  TByteBlock(const std::uint8_t* data, std::size_t size);

  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::uint8_t* begin() const { return data_.get(); }
  const std::uint8_t* end() const { return data_.get() + size_; }

  TByteBlock Copy() const { return TByteBlock(data(), size()); }

 private:
  PixelBlock data_;
  std::size_t size_ = 0;
};

}  // namespace veilora
