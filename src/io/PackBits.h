#pragma once

// PackBits run-length coding (TIFF compression 32773): a control byte n, then n + 1 literal bytes
// for n in 0..127, or one byte repeated 1 - n times for n in -127..-1; -128 is a no-op.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veilora {

// Decodes from src until destBytes bytes are produced or the data ends; returns the number of
// source bytes consumed. A run that would pass destBytes is cut there. Bytes of dest not reached
// are left as they were; `produced` receives how many were written.
std::size_t PackBitsDecode(const std::uint8_t* src, std::size_t srcBytes, std::uint8_t* dest,
                           std::size_t destBytes, std::size_t& produced);

// Appends the coding of one row to `out`. Rows are coded separately, as TIFF requires.
void PackBitsEncode(const std::uint8_t* row, std::size_t length, std::vector<std::uint8_t>& out);

}  // namespace veilora
