#pragma once

// CCITT fax coding of two-colour rows as TIFF stores it: modified Huffman (TIFF compression 2),
// Group 3 one- or two-dimensional (compression 3, T4 options) and Group 4 (compression 4).
//
// Rows are packed one bit per pixel, most significant bit first, (width + 7) / 8 bytes, and a set
// bit is black: the samples of a WhiteIsZero image. Each TIFF strip is coded on its own, so one
// decoder call handles one strip.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "io/Stream.h"

namespace veilora {

enum class TFaxScheme {
  ModifiedHuffman,  // one-dimensional rows, each starting on a byte boundary, no end-of-line codes
  Group3,           // end-of-line code before each row; 2D rows when twoDimensional is set
  Group4,           // two-dimensional rows against the previous row, no end-of-line codes
};

struct TFaxOptions {
  TFaxScheme scheme = TFaxScheme::ModifiedHuffman;
  bool twoDimensional = false;  // Group 3 only: T4Options bit 0
  bool alignedEol = false;      // Group 3 only: T4Options bit 2, fill bits before each end-of-line
  bool lsbFirst = false;        // FillOrder 2: the bits of each data byte are stored reversed
};

// Decodes up to `rows` rows of `width` pixels from one strip into dest (rows x rowBytes, rowBytes
// = (width + 7) / 8). Never reads past data + bytes. Returns the number of rows decoded completely;
// a bad code or the end of the data stops decoding and leaves the remaining rows as they were.
std::int32_t FaxDecodeStrip(const std::uint8_t* data, std::size_t bytes, const TFaxOptions& options,
                            std::int32_t width, std::int32_t rows, std::uint8_t* dest);

// Encodes rows one at a time into a stream, most significant bit first.
class TFaxEncoder {
 public:
  TFaxEncoder(TStream& output, const TFaxOptions& options, std::int32_t width);
  ~TFaxEncoder();
  TFaxEncoder(const TFaxEncoder&) = delete;
  TFaxEncoder& operator=(const TFaxEncoder&) = delete;

  void EncodeRow(const std::uint8_t* row);
  // Writes any closing codes (Group 4's end of facsimile block) and the last partial byte.
  void Finish();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace veilora
