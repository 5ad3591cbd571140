#pragma once

// The image bitmap: a bottom-up device-independent bitmap. The pixel rows form one block, the
// bottom row first; rows are reached by a row index from the top (row 0 is the top row of the
// picture), so consecutive row indexes lie a negative stride apart in memory. Every row is padded
// to a multiple of 4 bytes; the padding is not part of the image and is kept zero.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "image/Colour.h"
#include "image/PixelMemory.h"

namespace veilora {

enum TPixelFormat : std::uint8_t {
  pf1bit,   // most significant bit = leftmost pixel; 0 is black and 1 white, whatever the file said
  pf8bit,   // one byte per pixel, an index into Palette()
  pf24bit,  // blue, green, red
  pf32bit,  // blue, green, red, and a fourth byte that is not a colour
};

int BitsPerPixel(TPixelFormat format);

// Pixel memory (stride x height) a single bitmap may hold: 1 GiB, a 18,000 x 18,000 true-colour
// photo. Larger requests raise EImageTooLarge instead of exhausting memory; readers compare a
// declared size against it before they allocate anything.
constexpr std::int64_t kMaxPixelBytes = std::int64_t{1} << 30;

// Bytes per row: width x bits rounded up to whole 32-bit words. -1 for a negative width, a width
// over 2^30 pixels, or a row that alone would exceed kMaxPixelBytes.
std::int64_t RowStride(std::int64_t width, TPixelFormat format);

// Stride x height, or -1 when it exceeds kMaxPixelBytes or a dimension is negative.
std::int64_t PixelBytes(std::int64_t width, std::int64_t height, TPixelFormat format);

// A palette entry of an 8-bit bitmap, in the order the entries are stored in files.
struct TRGBQuad {
  std::uint8_t blue = 0;
  std::uint8_t green = 0;
  std::uint8_t red = 0;
  std::uint8_t reserved = 0;
};

class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(int width, int height, TPixelFormat format);
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  TPixelFormat PixelFormat() const { return format_; }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  std::size_t Stride() const { return stride_; }
  // The whole pixel block, bottom row first: Stride() x Height() bytes.
  std::size_t ImageBytes() const { return stride_ * static_cast<std::size_t>(height_); }
  std::uint8_t* Bits() { return pixels_.get(); }
  const std::uint8_t* Bits() const { return pixels_.get(); }

  // Row `row` counted from the top. The row index must lie in 0..Height()-1.
  std::uint8_t* ScanLine(int row) {
    return pixels_.get() + static_cast<std::size_t>(height_ - 1 - row) * stride_;
  }
  const std::uint8_t* ScanLine(int row) const {
    return pixels_.get() + static_cast<std::size_t>(height_ - 1 - row) * stride_;
  }

  // Discards the content and makes a zero-filled bitmap of the given size and format (black, or
  // palette entry 0). Raises EImageTooLarge as SetSize does.
  void Allocate(int width, int height, TPixelFormat format);

  // Exchanges size, format, pixels and palette with another bitmap; change handlers stay put.
  void Swap(TBitmap& other) noexcept;

  // Changes the pixel format; the size stays and every pixel becomes zero (black, or palette
  // entry 0). Raises EImageTooLarge when the new format would not fit the memory limit.
  void SetPixelFormat(TPixelFormat format);

  // Changes the size; the pixels that remain keep their place at the top-left corner and every
  // added pixel takes `fill`. Raises EImageTooLarge for a negative size or one over the limit;
  // the bitmap is then unchanged.
  void SetSize(int width, int height, TColor fill = clBlack);

  // Sets every pixel to `colour`. A 1-bit bitmap takes the nearer of black and white, an 8-bit one
  // the nearest palette entry.
  void Fill(TColor colour);

  // Sets the rectangle of columns x1..x2-1 and rows y1..y2-1 (clipped to the bitmap) to `colour`,
  // with the same rule as Fill.
  void FillRect(int x1, int y1, int x2, int y2, TColor colour);

  // The colour table of an 8-bit bitmap (256 entries); empty for other formats.
  std::vector<TRGBQuad>& Palette() { return palette_; }
  const std::vector<TRGBQuad>& Palette() const { return palette_; }

  // Raised by Modified(): tells a holder that the pixels changed behind its back.
  std::function<void(TBitmap&)> OnChange;
  void Modified() {
    if (OnChange) OnChange(*this);
  }

 private:
  bool FillIsZero(TColor colour) const;

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = pf24bit;
  std::size_t stride_ = 0;
  PixelBlock pixels_;
  std::vector<TRGBQuad> palette_;
};

// Makes `target` a copy of `source`: 1x1 in the source's format first, then, when the source has
// a positive size, the same size and the whole pixel block in one move (palette included).
void CopyBitmap(const TBitmap& source, TBitmap& target);

// Copies the rectangle x1..x2, y1..y2 (inclusive) of `source` into `target`, which takes the
// source's format and the rectangle's size. x2 or y2 of 0 stand for the last column or row; both
// are limited to the last column and row, and negative x1, y1 to 0. An empty rectangle leaves
// the target with no pixels in that direction.
void CropBitmap(const TBitmap& source, TBitmap& target, int x1, int y1, int x2, int y2);

// Makes `target` a 24-bit copy of `source`, whatever the source format: palette entries are looked
// up, 1-bit pixels become black or white, the fourth byte of 32-bit pixels is dropped.
void ConvertTo24Bit(const TBitmap& source, TBitmap& target);

}  // namespace veilora
