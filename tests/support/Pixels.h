#pragma once

#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "image/Bitmap.h"

namespace veilora::test {

// The bytes of a 24-bit image in row order from the top, padding excluded.
inline std::vector<std::uint8_t> PixelBytesTopDown(const TBitmap& bitmap) {
  std::vector<std::uint8_t> bytes;
  const std::size_t rowBytes =
      (static_cast<std::size_t>(bitmap.Width()) * BitsPerPixel(bitmap.PixelFormat()) + 7) / 8;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    bytes.insert(bytes.end(), row, row + rowBytes);
  }
  return bytes;
}

// Fills every pixel byte (not the padding) with random values.
inline void FillRandom(TBitmap& bitmap, std::uint32_t seed) {
  std::mt19937 random(seed);
  const std::size_t rowBytes =
      (static_cast<std::size_t>(bitmap.Width()) * BitsPerPixel(bitmap.PixelFormat()) + 7) / 8;
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (std::size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(random());
  }
}

// The colour of pixel (x, y) of a 24-bit image.
inline TRGB PixelAt(const TBitmap& bitmap, int x, int y) {
  const std::uint8_t* pixel = bitmap.ScanLine(y) + 3 * static_cast<std::size_t>(x);
  return TRGB{pixel[0], pixel[1], pixel[2]};
}

// Whether pixel (x, y) of a 1-bit image is set (white): the leftmost pixel is the top bit of a byte.
inline bool BitAt(const TBitmap& bitmap, int x, int y) {
  return (bitmap.ScanLine(y)[x / 8] >> (7 - x % 8)) & 1;
}

// A colour triple from red, green and blue, in the order people write them.
constexpr TRGB Rgb(int r, int g, int b) {
  return TRGB{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r)};
}

inline void SetPixel(TBitmap& image, int x, int y, TRGB colour) {
  std::uint8_t* pixel = image.ScanLine(y) + 3 * static_cast<std::size_t>(x);
  pixel[0] = colour.b;
  pixel[1] = colour.g;
  pixel[2] = colour.r;
}

// Makes a 24-bit image `width` pixels wide holding `pixels` row by row from the top.
inline void Paint(TBitmap& image, int width, const std::vector<TRGB>& pixels) {
  image.Allocate(width, static_cast<int>(pixels.size()) / width, pf24bit);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    SetPixel(image, static_cast<int>(i) % width, static_cast<int>(i) / width, pixels[i]);
  }
}

// The number of pixels of a 24-bit image that differ from `colour`.
inline int PixelsOtherThan(const TBitmap& bitmap, TRGB colour) {
  int count = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) count += PixelAt(bitmap, x, y) != colour;
  }
  return count;
}

}  // namespace veilora::test

namespace veilora {
// Lets test failures show a pixel as its three channels.
inline void PrintTo(const TRGB& pixel, std::ostream* out) {
  *out << "(r " << int{pixel.r} << ", g " << int{pixel.g} << ", b " << int{pixel.b} << ")";
}
}  // namespace veilora
