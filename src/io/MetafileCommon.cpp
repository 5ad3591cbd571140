#include "io/MetafileCommon.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/Errors.h"
#include "image/PackedDib.h"

namespace veilora {

namespace {

// Windows-1252 bytes 0x80..0x9F; the rest of the code page is Latin-1. Unassigned bytes stay as
// their Latin-1 control characters.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

float TRecordBytes::F32(std::size_t offset) const {
  const std::uint32_t bits = U32(offset);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool DecodeMetafileDib(const std::uint8_t* info, std::size_t infoSize, const std::uint8_t* bits,
                       std::size_t bitsSize, TBitmap& out) {
  if (info == nullptr || infoSize < 12) return false;
  std::vector<std::uint8_t> packed;
  try {
    packed.reserve(infoSize + bitsSize);
    packed.insert(packed.end(), info, info + infoSize);
    if (bits != nullptr) packed.insert(packed.end(), bits, bits + bitsSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  TBitmap decoded;
  try {
    if (!DecodePackedDib(packed.data(), packed.size(), decoded)) return false;
    if (decoded.PixelFormat() != pf24bit) {
      TBitmap converted;
      ConvertTo24Bit(decoded, converted);
      decoded.Swap(converted);
    }
  } catch (const EImageTooLarge&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  out.Swap(decoded);
  return true;
}

bool CropSource(const TBitmap& source, std::int64_t x, std::int64_t y, std::int64_t width,
                std::int64_t height, TBitmap& out) {
  if (width < 0) {
    x += width;
    width = -width;
  }
  if (height < 0) {
    y += height;
    height = -height;
  }
  const std::int64_t left = std::max<std::int64_t>(x, 0), top = std::max<std::int64_t>(y, 0);
  const std::int64_t right = std::min<std::int64_t>(x + width, source.Width());
  const std::int64_t bottom = std::min<std::int64_t>(y + height, source.Height());
  if (left >= right || top >= bottom || source.PixelFormat() != pf24bit) return false;
  if (left == 0 && top == 0 && right == source.Width() && bottom == source.Height()) {
    CopyBitmap(source, out);
    return true;
  }
  const int w = static_cast<int>(right - left), h = static_cast<int>(bottom - top);
  out.Allocate(w, h, pf24bit);
  for (int row = 0; row < h; ++row) {
    std::memcpy(out.ScanLine(row), source.ScanLine(static_cast<int>(top) + row) + left * 3,
                static_cast<std::size_t>(w) * 3);
  }
  return true;
}

std::u16string AnsiToUtf16(const std::uint8_t* text, std::size_t size) {
  std::u16string out;
  for (std::size_t i = 0; i < size && text[i] != 0; ++i) {
    const std::uint8_t c = text[i];
    out.push_back(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char16_t>(c));
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace veilora
