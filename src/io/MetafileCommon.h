#pragma once

// Pieces the Windows metafile and enhanced metafile readers share: bounds-checked little-endian
// reads inside one record, colour references, the pictures records carry, and 8-bit text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/Bitmap.h"
#include "image/Colour.h"

namespace veilora {

// The bytes of one record (or of a whole file). Reads past the end give zero and mark the view
// short, so a reader can stop at the first record that is too small for what it says it holds.
class TRecordBytes {
 public:
  TRecordBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Size() const { return size_; }
  const std::uint8_t* Data() const { return data_; }
  bool Has(std::size_t offset, std::size_t bytes) const { return offset <= size_ && bytes <= size_ - offset; }

  std::uint8_t U8(std::size_t offset) const { return Has(offset, 1) ? data_[offset] : 0; }
  std::uint16_t U16(std::size_t offset) const {
    return Has(offset, 2) ? static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8)) : 0;
  }
  std::int16_t S16(std::size_t offset) const { return static_cast<std::int16_t>(U16(offset)); }
  std::uint32_t U32(std::size_t offset) const {
    return static_cast<std::uint32_t>(U16(offset)) | (static_cast<std::uint32_t>(U16(offset + 2)) << 16);
  }
  std::int32_t S32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
  float F32(std::size_t offset) const;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// A COLORREF: red, green, blue, then a flag byte, which names palette entries; those are played as
// the colour bytes they hold.
inline TColor ColourRef(std::uint32_t value) {
  return static_cast<TColor>(value & 0xFFFFFF);
}

// Decodes a device-independent bitmap given as its BITMAPINFO and its pixel bits (which may lie
// apart in a record) into a 24-bit bitmap; 1-bit pictures take the colours of their table. False
// for data the packed-bitmap decoder refuses.
bool DecodeMetafileDib(const std::uint8_t* info, std::size_t infoSize, const std::uint8_t* bits,
                       std::size_t bitsSize, TBitmap& out);

// The part of a decoded bitmap that a record's source rectangle names (x, y from the top-left),
// clipped to the bitmap. False when nothing is left.
bool CropSource(const TBitmap& source, std::int64_t x, std::int64_t y, std::int64_t width,
                std::int64_t height, TBitmap& out);

// Windows-1252 text (the Western code page the 8-bit text records use) as UTF-16, up to the first
// zero byte.
std::u16string AnsiToUtf16(const std::uint8_t* text, std::size_t size);
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace veilora
