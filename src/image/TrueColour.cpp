#include "image/TrueColour.h"

#include <array>
#include <cstring>

namespace veilora {
namespace {

constexpr int kExpandedBytes = 24;  // 8 pixels of 3 bytes

using ExpansionTable = std::array<std::array<std::uint8_t, kExpandedBytes>, 256>;

// Entry b holds the 8 pixels of byte value b: pixel k is white when bit (128 >> k) is set.
constexpr ExpansionTable BuildExpansionTable() {
  ExpansionTable table{};
  for (int value = 0; value < 256; ++value) {
    for (int k = 0; k < 8; ++k) {
      const std::uint8_t level = (value & (0x80 >> k)) ? 0xFF : 0x00;
      table[value][3 * k] = table[value][3 * k + 1] = table[value][3 * k + 2] = level;
    }
  }
  return table;
}

constexpr ExpansionTable kExpansionTable = BuildExpansionTable();

}  // namespace

void ExpandMonoRow(const std::uint8_t* monoRow, int width, std::uint8_t* trueColourRow) {
  const int wholeBytes = width / 8;
  for (int i = 0; i < wholeBytes; ++i) {
    std::memcpy(trueColourRow, kExpansionTable[monoRow[i]].data(), kExpandedBytes);
    trueColourRow += kExpandedBytes;
  }
  if (const int rest = width % 8; rest != 0) {
    std::memcpy(trueColourRow, kExpansionTable[monoRow[wholeBytes]].data(),
                static_cast<std::size_t>(3 * rest));
  }
}

}  // namespace veilora
