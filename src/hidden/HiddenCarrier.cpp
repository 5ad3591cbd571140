#include "hidden/HiddenCarrier.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veilora {
namespace {

constexpr std::int64_t kHeaderCarrierBytes = 8 * kHiddenHeaderBytes;

std::uint8_t ForceBit(std::uint8_t value, unsigned bit) {
  if ((value & 1u) == bit) return value;
  return value == 255 ? 254 : static_cast<std::uint8_t>(value + 1);
}

// Calls visit(carrier, count, sourceBit) for each row's share of the carrier bytes [begin, end):
// `carrier` points at the first of `count` carrier bytes of one row, and `sourceBit` is the
// number of carrier bytes before them, counted from `begin`.
template <class Bitmap, class Visit>
void ForEachCarrierSpan(Bitmap& bitmap, std::int64_t begin, std::int64_t end, Visit visit) {
  const std::int64_t perRow = CarrierBytesPerRow(bitmap);
  end = std::min(end, perRow * bitmap.Height());
  for (std::int64_t n = begin; n < end;) {
    const auto row = static_cast<int>(n / perRow);
    const std::int64_t offset = n % perRow;
    const std::int64_t count = std::min(perRow - offset, end - n);
    visit(bitmap.ScanLine(row) + offset, count, static_cast<std::uint64_t>(n - begin));
    n += count;
  }
}

// Forces the bits sourceBit, sourceBit+1, ... of `source` (LSB first within each byte) into
// `count` consecutive carrier bytes. `sourceBytes` bounds what may be read.
void ForceSpan(std::uint8_t* carrier, std::int64_t count, const std::uint8_t* source,
               std::int64_t sourceBytes, std::uint64_t sourceBit) {
  std::int64_t i = 0;
#if defined(__SSE2__)
  // 16 carrier bytes at a time. Their 16 source bits come from one 4-byte load; each bit is
  // widened to a byte mask (0xFF for 1), and each carrier byte whose LSB differs from its bit
  // steps by +1, or by -1 when it is 255.
  const __m128i bitSelect = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i allOnes = _mm_set1_epi8(-1);
  for (; i + 16 <= count && static_cast<std::int64_t>(sourceBit >> 3) + 4 <= sourceBytes;
       i += 16, sourceBit += 16) {
    std::uint32_t word;
    std::memcpy(&word, source + (sourceBit >> 3), sizeof word);
    const auto bits = static_cast<int>((word >> (sourceBit & 7)) & 0xFFFFu);
    __m128i spread = _mm_cvtsi32_si128(bits);
    spread = _mm_unpacklo_epi8(spread, spread);
    spread = _mm_unpacklo_epi16(spread, spread);
    spread = _mm_unpacklo_epi32(spread, spread);  // bytes 0-7: low source byte, 8-15: high byte
    const __m128i wanted = _mm_cmpeq_epi8(_mm_and_si128(spread, bitSelect), bitSelect);

    __m128i* at = reinterpret_cast<__m128i*>(carrier + i);
    const __m128i value = _mm_loadu_si128(at);
    const __m128i differs = _mm_and_si128(_mm_xor_si128(value, wanted), one);
    const __m128i is255 = _mm_cmpeq_epi8(value, allOnes);
    const __m128i step = _mm_sub_epi8(_mm_xor_si128(differs, is255), is255);
    _mm_storeu_si128(at, _mm_add_epi8(value, step));
  }
#endif
  for (; i < count; ++i, ++sourceBit) {
    carrier[i] = ForceBit(carrier[i], (source[sourceBit >> 3] >> (sourceBit & 7)) & 1u);
  }
}

// Collects carrier LSBs into whole output bytes, LSB first; a last partial byte is never stored.
// Fewer than 8 bits wait in `pending_` between calls.
class BitCollector {
 public:
  BitCollector(std::uint8_t* out, std::int64_t outBytes) : out_(out), outEnd_(out + outBytes) {}

  void CollectSpan(const std::uint8_t* carrier, std::int64_t count) {
    std::int64_t i = 0;
#if defined(__SSE2__)
    // Shifting each byte's LSB up to its top bit lets movemask gather 16 of them in order; 64
    // carrier bytes make 8 whole output bytes next to the pending bits.
    for (; i + 64 <= count && outEnd_ - out_ >= 8; i += 64) {
      std::uint64_t bits = 0;
      for (int part = 0; part < 4; ++part) {
        const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(carrier + i + 16 * part));
        bits |= static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_slli_epi64(value, 7))) << (16 * part);
      }
      const std::uint64_t bytes = pending_ | (bits << pendingBits_);
      std::memcpy(out_, &bytes, sizeof bytes);  // little-endian: the first byte is the lowest
      out_ += 8;
      pending_ = pendingBits_ == 0 ? 0 : bits >> (64 - pendingBits_);
    }
#endif
    for (; i < count; ++i) Put(carrier[i] & 1u);
  }

 private:
  void Put(unsigned bit) {
    pending_ |= static_cast<std::uint64_t>(bit) << pendingBits_;
    if (++pendingBits_ == 8) {
      if (out_ < outEnd_) *out_++ = static_cast<std::uint8_t>(pending_);
      pending_ = 0;
      pendingBits_ = 0;
    }
  }

  std::uint8_t* out_;
  std::uint8_t* const outEnd_;
  std::uint64_t pending_ = 0;
  int pendingBits_ = 0;
};

void CollectBytes(const TBitmap& bitmap, std::int64_t firstCarrier, std::int64_t byteCount,
                  std::uint8_t* out) {
  BitCollector collector(out, byteCount);
  ForEachCarrierSpan(bitmap, firstCarrier, firstCarrier + 8 * byteCount,
                     [&](const std::uint8_t* carrier, std::int64_t count, std::uint64_t) {
                       collector.CollectSpan(carrier, count);
                     });
}

void ForceBytes(TBitmap& bitmap, std::int64_t firstCarrier, const std::uint8_t* source,
                std::int64_t byteCount) {
  ForEachCarrierSpan(bitmap, firstCarrier, firstCarrier + 8 * byteCount,
                     [&](std::uint8_t* carrier, std::int64_t count, std::uint64_t sourceBit) {
                       ForceSpan(carrier, count, source, byteCount, sourceBit);
                     });
}

}  // namespace

std::int64_t CarrierBytesPerRow(const TBitmap& bitmap) {
  return std::max<std::int64_t>(3 * std::int64_t{bitmap.Width()} - 2, 0);
}

std::int64_t CarrierBytes(const TBitmap& bitmap) {
  return CarrierBytesPerRow(bitmap) * bitmap.Height();
}

std::int32_t HiddenCapacity(const TBitmap& bitmap) {
  // The pixel memory limit keeps W*H*3 well inside 32 bits, so the signed 32-bit figure and this
  // 64-bit one agree; division truncates toward zero in both.
  const std::int64_t product = std::int64_t{bitmap.Width()} * bitmap.Height() * 3;
  return static_cast<std::int32_t>(product / 8 - kHiddenHeaderBytes);
}

std::int32_t HiddenPayloadFit(const TBitmap& bitmap) {
  return static_cast<std::int32_t>(std::max<std::int64_t>(CarrierBytes(bitmap) / 8 - kHiddenHeaderBytes, 0));
}

void WriteHiddenPayload(TBitmap& bitmap, const std::uint8_t* data, std::int32_t length) {
  // Four zero bytes, then the length least significant byte first.
  std::uint8_t header[kHiddenHeaderBytes] = {};
  const auto stored = static_cast<std::uint32_t>(length);
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<std::uint8_t>(stored >> (8 * i));
  ForceBytes(bitmap, 0, header, kHiddenHeaderBytes);
  if (length > 0) ForceBytes(bitmap, kHeaderCarrierBytes, data, length);
}

bool HasHiddenText(const TBitmap& bitmap) {
  if (bitmap.PixelFormat() != pf24bit || CarrierBytes(bitmap) < kHeaderCarrierBytes) return false;
  std::uint8_t header[kHiddenHeaderBytes] = {};
  CollectBytes(bitmap, 0, kHiddenHeaderBytes, header);
  if (header[0] != 0 || header[1] != 0 || header[2] != 0 || header[3] != 0) return false;
  const std::uint32_t length =
      header[4] | (header[5] << 8) | (header[6] << 16) | (static_cast<std::uint32_t>(header[7]) << 24);
  return length >= 1 && length <= static_cast<std::uint32_t>(HiddenPayloadFit(bitmap));
}

std::int32_t ReadHiddenPayload(const TBitmap& bitmap, std::uint8_t* buffer, std::int32_t count) {
  std::uint8_t header[kHiddenHeaderBytes] = {};
  CollectBytes(bitmap, 0, kHiddenHeaderBytes, header);
  const auto length = static_cast<std::int32_t>(header[4] | (header[5] << 8) | (header[6] << 16) |
                                                (static_cast<std::uint32_t>(header[7]) << 24));
  if (buffer != nullptr && count > 0 && length > 0) {
    CollectBytes(bitmap, kHeaderCarrierBytes, std::min(count, length), buffer);
  }
  return length;
}

}  // namespace veilora
