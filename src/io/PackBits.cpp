#include "io/PackBits.h"

#include <algorithm>
#include <cstring>

namespace veilora {

std::size_t PackBitsDecode(const std::uint8_t* src, std::size_t srcBytes, std::uint8_t* dest,
                           std::size_t destBytes, std::size_t& produced) {
  std::size_t in = 0;
  produced = 0;
  while (produced < destBytes && in < srcBytes) {
    const auto control = static_cast<std::int8_t>(src[in++]);
    if (control >= 0) {
      const std::size_t count = static_cast<std::size_t>(control) + 1;
      const std::size_t available = std::min(count, srcBytes - in);
      const std::size_t taken = std::min(available, destBytes - produced);
      std::memcpy(dest + produced, src + in, taken);
      produced += taken;
      in += available;
    } else if (control != -128) {
      if (in >= srcBytes) break;
      const std::size_t count = static_cast<std::size_t>(1 - control);
      const std::size_t taken = std::min(count, destBytes - produced);
      std::memset(dest + produced, src[in++], taken);
      produced += taken;
    }
  }
  return in;
}

namespace {

constexpr std::size_t kMaxPacket = 128;

// Length of the run of equal bytes starting at `at`, at most kMaxPacket.
std::size_t RunLength(const std::uint8_t* row, std::size_t at, std::size_t length) {
  const std::size_t limit = std::min(length, at + kMaxPacket);
  std::size_t end = at + 1;
  while (end < limit && row[end] == row[at]) ++end;
  return end - at;
}

}  // namespace

void PackBitsEncode(const std::uint8_t* row, std::size_t length, std::vector<std::uint8_t>& out) {
  std::size_t at = 0;
  while (at < length) {
    const std::size_t run = RunLength(row, at, length);
    // A run of two costs as much as two literals; it pays only where no literal packet is open.
    if (run >= 3 || (run == 2 && (at + 2 == length || RunLength(row, at + 2, length) >= 2))) {
      out.push_back(static_cast<std::uint8_t>(1 - static_cast<int>(run)));
      out.push_back(row[at]);
      at += run;
      continue;
    }
    // Literal packet: up to the next run of three or more, at most kMaxPacket bytes.
    std::size_t end = at;
    while (end < length && end - at < kMaxPacket) {
      if (end + 2 < length && row[end] == row[end + 1] && row[end] == row[end + 2]) break;
      ++end;
    }
    out.push_back(static_cast<std::uint8_t>(end - at - 1));
    out.insert(out.end(), row + at, row + end);
    at = end;
  }
}

}  // namespace veilora
