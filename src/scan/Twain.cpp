#include "scan/Twain.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace veilora::twain {

TW_FIX32 ToFix32(double value) {
  // The standard's own conversion: whole part and fraction of the value times 65536, rounded.
  const auto scaled = static_cast<std::int32_t>(std::lround(value * 65536.0));
  TW_FIX32 fix{};
  fix.Whole = static_cast<TW_INT16>(scaled >> 16);
  fix.Frac = static_cast<TW_UINT16>(scaled & 0xffff);
  return fix;
}

double FromFix32(TW_FIX32 value) {
  return value.Whole + value.Frac / 65536.0;
}

TW_UINT32 Fix32Bits(TW_FIX32 value) {
  return static_cast<TW_UINT32>(static_cast<TW_UINT16>(value.Whole)) | (TW_UINT32{value.Frac} << 16);
}

TW_FIX32 Fix32FromBits(TW_UINT32 bits) {
  TW_FIX32 fix{};
  fix.Whole = static_cast<TW_INT16>(bits & 0xffff);
  fix.Frac = static_cast<TW_UINT16>(bits >> 16);
  return fix;
}

namespace {

// A handle points at this header; the block follows it, aligned for any data.
struct alignas(std::max_align_t) THandleHeader {
  std::size_t size;
};

}  // namespace

TW_HANDLE HandleAlloc(std::size_t size) {
  if (size > (std::size_t{1} << 31)) return nullptr;
  void* memory = std::calloc(1, sizeof(THandleHeader) + size);
  if (memory == nullptr) return nullptr;
  static_cast<THandleHeader*>(memory)->size = size;
  return memory;
}

void HandleFree(TW_HANDLE handle) {
  std::free(handle);
}

void* HandleLock(TW_HANDLE handle) {
  return handle == nullptr ? nullptr : static_cast<THandleHeader*>(handle) + 1;
}

std::size_t HandleSize(TW_HANDLE handle) {
  return handle == nullptr ? 0 : static_cast<const THandleHeader*>(handle)->size;
}

void SetStr32(TW_STR32& field, const char* text) {
  std::memset(field, 0, sizeof(field));
  if (text != nullptr) std::strncpy(field, text, sizeof(field) - 1);
}

}  // namespace veilora::twain
