#include "io/Codec.h"

#include <algorithm>
#include <cmath>

namespace veilora {

bool ImageSizeAllowed(std::int64_t width, std::int64_t height, TPixelFormat format) {
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return false;
  return PixelBytes(width, height, format) >= 0;
}

void PrepareBitmap(TBitmap& bitmap, int width, int height, TPixelFormat format) {
  bitmap.Allocate(1, 1, format);
  bitmap.Allocate(width, height, format);
}

bool ReadAvailable(TStream& stream, std::int64_t count, std::vector<std::uint8_t>& buffer) {
  const std::int64_t take = std::clamp<std::int64_t>(count, 0, stream.Remaining());
  buffer.resize(static_cast<std::size_t>(take));
  const std::size_t got = stream.Read(buffer.data(), buffer.size());
  buffer.resize(got);
  return static_cast<std::int64_t>(got) == count;
}

std::int32_t RoundToInt(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -2147483648.0)) return INT32_MIN;
  if (rounded > 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace veilora
