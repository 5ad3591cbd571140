#pragma once

// LZW as TIFF compression 5 uses it: codes 9 to 12 bits wide, packed most significant bit first;
// 0..255 stand for themselves, 256 clears the table, 257 ends the strip, 258..4095 are table
// strings. The code width grows one code early ("early change"): at 10 bits when the table count
// reaches 511, 11 at 1023, 12 at 2047.
//
// Both coders work one row per call over a state object that the caller keeps and that the coders
// create on the first call and free on the closing call (the one with no data).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/IOParams.h"
#include "io/Stream.h"

namespace veilora {

// The longest string a table entry can hold is 3839 bytes (entry 258 holds two, each later entry at
// most one more than an earlier one); the decoder's buffer keeps this much room behind a row.
constexpr std::size_t kTiffLzwLongestString = 4096;

// The decoding state of one strip.
struct TTiffLzwDecoder {
  TTiffLzwDecoder(const std::uint8_t* stripData, std::size_t stripBytes, std::int32_t row);

  const std::uint8_t* data;
  std::size_t dataBytes;
  std::size_t bitPosition = 0;
  std::size_t rowLength;
  // A row plus the longest string, so that the last code of a row always fits; the bytes past the
  // row are the start of the next one.
  std::vector<std::uint8_t> buffer;
  std::size_t held = 0;
  int width = 9;
  int previous = -1;  // -1: no code yet in this strip or since the last clear
  int count = 258;
  bool finished = false;  // end code seen or data used up: the remaining rows are zero
  bool zeroRow = false;   // finished, and the buffer holds a row of zeros
  bool failed = false;
  // The table as prefix chains: entry k is the string of prefix[k] followed by suffix[k]. A prefix is
  // always a smaller code than its entry, so every chain ends at a literal within `length` steps.
  // The first (up to) 8 bytes of every string are also kept in the entry, so that a string of at
  // most 8 bytes is one copy, and a longer one a walk down to its 8-byte prefix.
  std::uint16_t prefix[4096];
  std::uint8_t suffix[4096];
  std::uint16_t length[4096];
  std::uint8_t head[4096][8];
};

// The encoding state of one image.
struct TTiffLzwEncoder {
  explicit TTiffLzwEncoder(TStream& stream);

  TStream* output;
  // Coded bytes not yet written to the stream: the first `used` bytes.
  std::vector<std::uint8_t> buffer;
  std::size_t used = 0;
  std::uint32_t accumulator = 0;
  int bits = 0;
  int width = 9;
  int largest = 511;
  int nextFree = 258;
  bool pendingReset = false;
  int prefix = -1;  // -1 until the first byte arrives
  // Open addressing over a prime number of slots. A slot holds the key (byte * 4096 + prefix code)
  // in its upper 20 bits and the key's code in the lower 12; all bits set when empty (the codes
  // stay below 4094, so no entry looks empty).
  static constexpr int kSlots = 5003;
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  std::uint32_t slots[kSlots];
};

// Called once per row of a strip with the strip's data and its byte count (the state is created on
// the first call, and data and dataBytes are only looked at then), and once with null data to free
// the state. Returns a buffer whose first rowLength bytes are the row, or null when the data refer
// to a code not yet defined or overfill the table. A strip whose data end, with or without an end
// code, gives zero bytes for the rest of the row and for every later row; no read goes past
// dataBytes.
const std::uint8_t* TiffLzwDecode(const std::uint8_t* data, std::size_t dataBytes, std::int32_t rowLength,
                                  TTiffLzwDecoder*& state);

// Called once per row (the first call creates the state on `output` and writes the clear code) and
// once with null data, which writes the last code and the end code, flushes and frees the state.
// Stream errors raise EStreamError.
void TiffLzwEncode(const std::uint8_t* row, std::int32_t length, TStream& output, TTiffLzwEncoder*& state);

}  // namespace veilora
