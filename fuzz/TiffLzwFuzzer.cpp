// Feeds arbitrary bytes to the TIFF LZW decoder as one strip. The first two bytes choose the row
// length (1..4096); the rest is the strip, decoded row by row until the decoder fails or has
// reached the end of the strip (and two rows more, which must be zero), then closed. The strip's bytes are
// also encoded and decoded again, which must give them back.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/Stream.h"
#include "io/TIFLZW.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  if (size < 2) return 0;
  const std::int32_t rowLength = 1 + ((data[0] | data[1] << 8) % 4096);
  const std::uint8_t* strip = data + 2;
  const std::size_t stripBytes = size - 2;

  TTiffLzwDecoder* state = nullptr;
  int rowsAfterEnd = 0;
  while (rowsAfterEnd < 3) {
    const std::uint8_t* row = TiffLzwDecode(stripBytes > 0 ? strip : data, stripBytes, rowLength, state);
    if (row == nullptr) break;
    if (rowsAfterEnd > 0) {
      for (std::int32_t i = 0; i < rowLength; ++i) {
        if (row[i] != 0) std::abort();
      }
    }
    if (state->finished) ++rowsAfterEnd;
  }
  if (TiffLzwDecode(nullptr, 0, rowLength, state) != nullptr || state != nullptr) std::abort();

  if (stripBytes == 0) return 0;
  TMemoryStream encoded;
  TTiffLzwEncoder* encoder = nullptr;
  for (std::size_t at = 0; at < stripBytes; at += static_cast<std::size_t>(rowLength)) {
    const std::size_t n = std::min(stripBytes - at, static_cast<std::size_t>(rowLength));
    TiffLzwEncode(strip + at, static_cast<std::int32_t>(n), encoded, encoder);
  }
  TiffLzwEncode(nullptr, 0, encoded, encoder);
  const std::vector<std::uint8_t>& packed = encoded.Data();
  std::vector<std::uint8_t> back;
  for (std::size_t at = 0; at < stripBytes; at += static_cast<std::size_t>(rowLength)) {
    const std::uint8_t* row = TiffLzwDecode(packed.data(), packed.size(), rowLength, state);
    if (row == nullptr) std::abort();
    back.insert(back.end(), row, row + rowLength);
  }
  TiffLzwDecode(nullptr, 0, rowLength, state);
  back.resize(stripBytes);
  if (std::memcmp(back.data(), strip, stripBytes) != 0) std::abort();
  return 0;
}
