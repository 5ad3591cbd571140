// Feeds arbitrary strips to the fax decoder. The first four bytes choose the coding and the size:
//   byte 0: bits 0-1 scheme (0 modified Huffman, 1 Group 3, 2 Group 4, 3 Group 3 too), bit 2
//           two-dimensional, bit 3 byte-aligned end-of-lines, bit 4 bits stored reversed
//   bytes 1-2: width - 1 modulo 4000 (little-endian); byte 3: rows - 1 modulo 64
// The rest is the strip. Whatever rows decode must survive our encoder and decoder unchanged.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/FaxCodec.h"
#include "io/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  if (size < 4) return 0;
  TFaxOptions options;
  const int schemeBits = data[0] & 3;
  options.scheme = schemeBits == 0   ? TFaxScheme::ModifiedHuffman
                   : schemeBits == 2 ? TFaxScheme::Group4
                                     : TFaxScheme::Group3;
  options.twoDimensional = (data[0] & 4) != 0;
  options.alignedEol = (data[0] & 8) != 0;
  options.lsbFirst = (data[0] & 16) != 0;
  const std::int32_t width = 1 + (data[1] | data[2] << 8) % 4000;
  const std::int32_t rows = 1 + data[3] % 64;
  const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;

  // Exactly sized, so that the sanitizers see any write past the rows.
  std::vector<std::uint8_t> decoded(rowBytes * static_cast<std::size_t>(rows));
  const std::int32_t count = FaxDecodeStrip(data + 4, size - 4, options, width, rows, decoded.data());
  if (count < 0 || count > rows) __builtin_trap();
  if (count == 0) return 0;

  TFaxOptions plain = options;
  plain.lsbFirst = false;
  TMemoryStream stream;
  TFaxEncoder encoder(stream, plain, width);
  for (std::int32_t row = 0; row < count; ++row) encoder.EncodeRow(decoded.data() + row * rowBytes);
  encoder.Finish();
  const std::vector<std::uint8_t> coded = stream.Data();
  std::vector<std::uint8_t> again(rowBytes * static_cast<std::size_t>(count));
  if (FaxDecodeStrip(coded.data(), coded.size(), plain, width, count, again.data()) != count)
    __builtin_trap();
  for (std::size_t i = 0; i < again.size(); ++i) {
    if (again[i] != decoded[i]) __builtin_trap();
  }
  return 0;
}
