#include "image/PixelMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace veilora {
namespace {

// From this size on a bitmap (or an undo copy) is mapped on its own: 8 MiB is a 1,600 x 1,600
// true-colour picture.
constexpr std::size_t kMappedFrom = std::size_t{8} << 20;

}  // namespace

void PixelMemoryDeleter::operator()(std::uint8_t* block) const {
#if defined(__linux__)
  if (mappedBytes != 0) {
    munmap(block, mappedBytes);
    return;
  }
#endif
  std::free(block);
}

PixelBlock AllocatePixelMemory(std::size_t bytes) {
  if (bytes == 0) return PixelBlock();
#if defined(__linux__)
  if (bytes >= kMappedFrom) {
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    madvise(block, bytes, MADV_HUGEPAGE);  // a hint: refused where huge pages are off
    return PixelBlock(static_cast<std::uint8_t*>(block), PixelMemoryDeleter{bytes});
  }
#endif
  auto* block = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
  if (block == nullptr) throw std::bad_alloc();
  return PixelBlock(block);
}

TByteBlock::TByteBlock(const std::uint8_t* data, std::size_t size) : TByteBlock(size) {
  if (size != 0) std::memcpy(data_.get(), data, size);
}

}  // namespace veilora
