#include "image/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "image/Display.h"
#include "image/Errors.h"
#include "image/TrueColour.h"

namespace veilora {
namespace {

// 1-bit rows hold the leftmost pixel in the most significant bit.
constexpr std::uint8_t PixelMask(int x) {
  return static_cast<std::uint8_t>(0x80u >> (x & 7));
}

std::uint8_t& BitByte(std::uint8_t* row, int x) {
  return row[x >> 3];
}

void SetBitSpan(std::uint8_t* row, int x1, int x2, bool white) {
  // Partial bytes pixel by pixel, whole bytes in one move.
  int x = x1;
  for (; x < x2 && (x & 7) != 0; ++x) {
    white ? BitByte(row, x) |= PixelMask(x) : BitByte(row, x) &= static_cast<std::uint8_t>(~PixelMask(x));
  }
  const int wholeBytes = (x2 - x) / 8;
  std::memset(row + (x >> 3), white ? 0xFF : 0x00, static_cast<std::size_t>(wholeBytes));
  for (x += wholeBytes * 8; x < x2; ++x) {
    white ? BitByte(row, x) |= PixelMask(x) : BitByte(row, x) &= static_cast<std::uint8_t>(~PixelMask(x));
  }
}

// A 1-bit bitmap shows only black and white; a colour becomes the nearer of the two. The squared
// distances differ by 3*255^2 - 2*255*(r+g+b), so white wins from a channel sum of 383 on.
bool NearerToWhite(TRGB pixel) {
  return pixel.r + pixel.g + pixel.b >= 383;
}

std::uint8_t NearestPaletteIndex(const std::vector<TRGBQuad>& palette, TRGB pixel) {
  std::size_t best = 0;
  int bestDistance = 1 << 30;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const int dr = palette[i].red - pixel.r;
    const int dg = palette[i].green - pixel.g;
    const int db = palette[i].blue - pixel.b;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return static_cast<std::uint8_t>(best);
}

// Fills columns x1..x2-1 of one row with a pixel pattern of `bytesPerPixel` bytes.
void FillByteSpan(std::uint8_t* row, int x1, int x2, const std::uint8_t* pattern, std::size_t bytesPerPixel) {
  std::uint8_t* out = row + static_cast<std::size_t>(x1) * bytesPerPixel;
  for (int x = x1; x < x2; ++x, out += bytesPerPixel) std::memcpy(out, pattern, bytesPerPixel);
}

}  // namespace

int BitsPerPixel(TPixelFormat format) {
  switch (format) {
    case pf1bit: return 1;
    case pf8bit: return 8;
    case pf24bit: return 24;
    case pf32bit: return 32;
  }
  return 24;
}

std::int64_t RowStride(std::int64_t width, TPixelFormat format) {
  if (width < 0 || width > kMaxPixelBytes) return -1;
  const std::int64_t stride = (width * BitsPerPixel(format) + 31) / 32 * 4;
  return stride > kMaxPixelBytes ? -1 : stride;
}

std::int64_t PixelBytes(std::int64_t width, std::int64_t height, TPixelFormat format) {
  const std::int64_t stride = RowStride(width, format);
  if (stride < 0 || height < 0 || height > kMaxPixelBytes) return -1;
  const std::int64_t bytes = stride * height;  // both factors are at most 2^30
  return bytes > kMaxPixelBytes ? -1 : bytes;
}

TBitmap::TBitmap(int width, int height, TPixelFormat format) {
  Allocate(width, height, format);
}

void TBitmap::Allocate(int width, int height, TPixelFormat format) {
  const std::int64_t bytes = PixelBytes(width, height, format);
  if (bytes < 0) {
    throw EImageTooLarge("An image of " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels at " + std::to_string(BitsPerPixel(format)) +
                         " bits is larger than this program allows");
  }
  PixelBlock block = AllocatePixelMemory(static_cast<std::size_t>(bytes));
  pixels_ = std::move(block);
  width_ = width;
  height_ = height;
  format_ = format;
  stride_ = static_cast<std::size_t>(RowStride(width, format));
  if (format == pf8bit) {
    palette_.resize(256);
  } else {
    palette_.clear();
  }
}

void TBitmap::Swap(TBitmap& other) noexcept {
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(format_, other.format_);
  std::swap(stride_, other.stride_);
  std::swap(pixels_, other.pixels_);
  std::swap(palette_, other.palette_);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  Allocate(width_, height_, format);
}

void TBitmap::SetSize(int width, int height, TColor fill) {
  if (width == width_ && height == height_) return;
  TBitmap resized(width, height, format_);
  resized.palette_ = palette_;
  const int keptWidth = std::min(width, width_);
  const int keptHeight = std::min(height, height_);
  const std::size_t keptBytes =
      (static_cast<std::size_t>(keptWidth) * static_cast<std::size_t>(BitsPerPixel(format_)) + 7) / 8;
  for (int y = 0; y < keptHeight && keptBytes > 0; ++y) {
    std::uint8_t* row = resized.ScanLine(y);
    std::memcpy(row, ScanLine(y), keptBytes);
    // Bits of the last byte beyond the kept width belong to the cut-off columns, or to padding.
    if (format_ == pf1bit && (keptWidth & 7) != 0) {
      row[keptBytes - 1] &= static_cast<std::uint8_t>(0xFF00u >> (keptWidth & 7));
    }
  }
  if (!resized.FillIsZero(fill)) {
    resized.FillRect(keptWidth, 0, width, keptHeight, fill);
    resized.FillRect(0, keptHeight, width, height, fill);
  }
  pixels_ = std::move(resized.pixels_);
  width_ = width;
  height_ = height;
  stride_ = resized.stride_;
}

// New pixel memory starts zeroed, so a fill that stores zero bytes can be skipped.
bool TBitmap::FillIsZero(TColor colour) const {
  const TRGB pixel = ColorToPixel(colour);
  switch (format_) {
    case pf1bit: return !NearerToWhite(pixel);
    case pf8bit: return NearestPaletteIndex(palette_, pixel) == 0;
    case pf24bit:
    case pf32bit: return pixel == TRGB{};
  }
  return false;
}

void TBitmap::Fill(TColor colour) {
  FillRect(0, 0, width_, height_, colour);
}

void TBitmap::FillRect(int x1, int y1, int x2, int y2, TColor colour) {
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width_);
  y2 = std::min(y2, height_);
  if (x1 >= x2 || y1 >= y2) return;
  const TRGB pixel = ColorToPixel(colour);
  if (format_ == pf1bit) {
    for (int y = y1; y < y2; ++y) SetBitSpan(ScanLine(y), x1, x2, NearerToWhite(pixel));
    return;
  }
  const std::size_t bytesPerPixel = static_cast<std::size_t>(BitsPerPixel(format_)) / 8;
  std::uint8_t pattern[4] = {pixel.b, pixel.g, pixel.r, 0};
  if (format_ == pf8bit) pattern[0] = NearestPaletteIndex(palette_, pixel);
  FillByteSpan(ScanLine(y1), x1, x2, pattern, bytesPerPixel);
  // The other rows copy the first one's span.
  const std::size_t offset = static_cast<std::size_t>(x1) * bytesPerPixel;
  const std::size_t spanBytes = static_cast<std::size_t>(x2 - x1) * bytesPerPixel;
  for (int y = y1 + 1; y < y2; ++y) std::memcpy(ScanLine(y) + offset, ScanLine(y1) + offset, spanBytes);
}

void CopyBitmap(const TBitmap& source, TBitmap& target) {
  if (&source == &target) return;
  target.Allocate(1, 1, source.PixelFormat());
  if (source.Empty()) return;
  target.Allocate(source.Width(), source.Height(), source.PixelFormat());
  target.Palette() = source.Palette();
  std::memcpy(target.Bits(), source.Bits(), source.ImageBytes());
}

void CropBitmap(const TBitmap& source, TBitmap& target, int x1, int y1, int x2, int y2) {
  const int lastColumn = source.Width() - 1;
  const int lastRow = source.Height() - 1;
  if (x2 == 0 || x2 > lastColumn) x2 = lastColumn;
  if (y2 == 0 || y2 > lastRow) y2 = lastRow;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  const int width = std::max(x2 - x1 + 1, 0);
  const int height = std::max(y2 - y1 + 1, 0);

  target.Allocate(width, height, source.PixelFormat());
  target.Palette() = source.Palette();
  if (width == 0 || height == 0) return;

  if (source.PixelFormat() == pf1bit) {
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = source.ScanLine(y1 + y);
      std::uint8_t* out = target.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        if (in[(x1 + x) >> 3] & PixelMask(x1 + x)) out[x >> 3] |= PixelMask(x);
      }
    }
    return;
  }
  const std::size_t bytesPerPixel = static_cast<std::size_t>(BitsPerPixel(source.PixelFormat())) / 8;
  for (int y = 0; y < height; ++y) {
    std::memcpy(target.ScanLine(y), source.ScanLine(y1 + y) + static_cast<std::size_t>(x1) * bytesPerPixel,
                static_cast<std::size_t>(width) * bytesPerPixel);
  }
}

void ConvertTo24Bit(const TBitmap& source, TBitmap& target) {
  if (&source == &target) return;
  if (source.PixelFormat() == pf24bit) {
    CopyBitmap(source, target);
    return;
  }
  target.Allocate(source.Width(), source.Height(), pf24bit);
  const int width = source.Width();
  for (int y = 0; y < source.Height(); ++y) {
    const std::uint8_t* in = source.ScanLine(y);
    std::uint8_t* out = target.ScanLine(y);
    switch (source.PixelFormat()) {
      case pf1bit: ExpandMonoRow(in, width, out); break;
      case pf8bit: {
        const std::vector<TRGBQuad>& palette = source.Palette();
        for (int x = 0; x < width; ++x, out += 3) {
          if (in[x] >= palette.size()) continue;  // no entry: stays black
          const TRGBQuad& entry = palette[in[x]];
          out[0] = entry.blue;
          out[1] = entry.green;
          out[2] = entry.red;
        }
        break;
      }
      case pf32bit:
        for (int x = 0; x < width; ++x, out += 3, in += 4) std::memcpy(out, in, 3);
        break;
      case pf24bit: break;
    }
  }
}

}  // namespace veilora
