// Feeds arbitrary bytes to the GIF LZW decoder. The first three bytes choose the image (width
// 1..97, height 1..61, interlaced or not); the rest is the image data from the minimum-code-size
// byte on. The count of pixels stored must lie within the image. The decoded indices are then
// encoded and decoded again, which must give them all back.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/GifLZW.h"
#include "io/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  if (size < 3) return 0;
  const int width = 1 + data[0] % 97;
  const int height = 1 + data[1] % 61;
  const bool interlaced = (data[2] & 1) != 0;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);

  TMemoryStream stream(data + 3, size - 3);
  // Exactly the image, so that a write outside it is a fault the sanitizers see.
  std::vector<std::uint8_t> dest(pixels, 0);
  const std::int64_t stored = GifLzwDecode(stream, height, width, interlaced, dest.data());
  const std::int64_t position = stream.Position();
  if (position < 0 || position > stream.Size()) std::abort();
  if (stored < 0 || stored > static_cast<std::int64_t>(pixels)) std::abort();

  TMemoryStream encoded;
  GifLzwEncode(encoded, height, width, interlaced, dest.data(), 8);
  encoded.Seek(0);
  std::vector<std::uint8_t> back(pixels, 0xFF);
  const std::int64_t again = GifLzwDecode(encoded, height, width, interlaced, back.data());
  if (again != static_cast<std::int64_t>(pixels) || encoded.Position() != encoded.Size() || back != dest) {
    std::abort();
  }
  return 0;
}
