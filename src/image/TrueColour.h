#pragma once

#include <cstdint>

namespace veilora {

// Expands one 1-bit row of `width` pixels into 24-bit pixels: a set bit becomes white and a clear
// bit black (the bitmap's palette is never consulted). Whole source bytes are copied from a table
// of the 8 expanded pixels of each byte value instead of testing bits one by one.
void ExpandMonoRow(const std::uint8_t* monoRow, int width, std::uint8_t* trueColourRow);

}  // namespace veilora
