#include "image/PackedDib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

#include "image/Errors.h"
#include "io/Codec.h"

namespace veilora {

namespace {

constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kTwoColourTableBytes = 8;
// The block the program writes is this much longer than its header, table and rows.
constexpr std::size_t kTrailingBytes = 4;

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitFields = 3;
constexpr std::uint32_t kBiAlphaBitFields = 6;

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

std::uint32_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}

std::uint32_t Get32(const std::uint8_t* p) {
  return Get16(p) | (Get16(p + 2) << 16);
}

// Copies `width` pixels of a 1-bit row starting at pixel `x`, so that pixel x becomes the most
// significant bit of the first byte; bits past the width are cleared, as row padding must be.
void CopyBitRow(const std::uint8_t* source, std::size_t sourceBytes, int x, int width, std::uint8_t* out) {
  const std::size_t first = static_cast<std::size_t>(x) / 8;
  const int shift = x % 8;
  const std::size_t outBytes = (static_cast<std::size_t>(width) + 7) / 8;
  for (std::size_t j = 0; j < outBytes; ++j) {
    const std::size_t at = first + j;
    unsigned value = static_cast<unsigned>(source[at]) << shift;
    if (shift != 0 && at + 1 < sourceBytes) value |= source[at + 1] >> (8 - shift);
    out[j] = static_cast<std::uint8_t>(value);
  }
  if (width % 8 != 0) out[outBytes - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
}

// One colour channel of a bit-field pixel: the bits of its mask, scaled to 0..255 so that a
// channel of all ones is 255 whatever its width (5 bits: (v << 3) | (v >> 2)).
class TChannel {
 public:
  explicit TChannel(std::uint32_t mask)
      : mask_(mask), shift_(mask == 0 ? 0 : std::countr_zero(mask)), bits_(std::popcount(mask)) {
    if (bits_ == 0 || bits_ > 8) return;
    for (unsigned v = 0; v < (1u << bits_); ++v) {
      const unsigned top = v << (8 - bits_);
      unsigned value = top;
      for (int s = bits_; s < 8; s += bits_) value |= top >> s;
      scale_[v] = static_cast<std::uint8_t>(value);
    }
  }

  std::uint8_t Of(std::uint32_t pixel) const {
    if (bits_ == 0) return 0;
    // A mask with gaps keeps its lowest bits up to its width; nothing reads past the table.
    const std::uint32_t value = (pixel & mask_) >> shift_;
    if (bits_ > 8) return static_cast<std::uint8_t>(value >> (bits_ - 8));
    return scale_[value & ((1u << bits_) - 1)];
  }

 private:
  std::uint32_t mask_;
  int shift_;
  int bits_;
  std::array<std::uint8_t, 256> scale_{};
};

struct TDibLayout {
  int width = 0;
  int height = 0;
  bool topDown = false;
  int bits = 0;
  std::uint32_t compression = kBiRgb;
  std::array<std::uint32_t, 3> masks{};  // red, green, blue
  std::vector<TRGBQuad> table;
  std::size_t pixelOffset = 0;
  std::size_t stride = 0;
};

bool KnownHeaderSize(std::uint32_t size) {
  // BITMAPINFOHEADER, its two extensions with masks, BITMAPV4HEADER and BITMAPV5HEADER: all begin
  // with the same 40 bytes.
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool CompressionAccepted(int bits, std::uint32_t compression) {
  switch (bits) {
    // Two-colour rows are copied as they are whatever the first four codes say.
    case 1: return compression <= 3;
    case 4:
    case 8:
    case 24: return compression == kBiRgb;
    case 16:
    case 32: return compression == kBiRgb || compression == kBiBitFields || compression == kBiAlphaBitFields;
    default: return false;
  }
}

// Reads the header, masks and table, and checks that the rows lie wholly inside the block.
bool ReadLayout(const std::uint8_t* data, std::size_t size, TDibLayout& layout) {
  if (data == nullptr || size < kInfoHeaderBytes) return false;
  const std::uint32_t headerBytes = Get32(data);
  if (!KnownHeaderSize(headerBytes) || headerBytes > size) return false;
  const auto width = static_cast<std::int32_t>(Get32(data + 4));
  const auto height = static_cast<std::int32_t>(Get32(data + 8));
  layout.bits = static_cast<int>(Get16(data + 14));
  layout.compression = Get32(data + 16);
  const std::uint32_t coloursUsed = Get32(data + 32);
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  if (!CompressionAccepted(layout.bits, layout.compression)) return false;
  layout.width = width;
  layout.topDown = height < 0;
  layout.height = layout.topDown ? -height : height;
  const TPixelFormat format = layout.bits == 1 ? pf1bit : pf24bit;
  if (!ImageSizeAllowed(layout.width, layout.height, format)) return false;

  std::uint64_t offset = headerBytes;
  const bool bitFields = layout.bits >= 16 && layout.compression != kBiRgb;
  if (bitFields) {
    // After a plain 40-byte header the masks follow it; larger headers hold them.
    const std::uint64_t maskAt = headerBytes == kInfoHeaderBytes ? offset : kInfoHeaderBytes;
    if (maskAt + 12 > size) return false;
    for (std::size_t i = 0; i < 3; ++i) layout.masks[i] = Get32(data + maskAt + 4 * i);
    if (headerBytes == kInfoHeaderBytes) offset += layout.compression == kBiAlphaBitFields ? 16 : 12;
  } else if (layout.bits == 16) {
    layout.masks = {0x7C00, 0x03E0, 0x001F};
  }
  const std::uint64_t entries = coloursUsed != 0 ? coloursUsed : layout.bits <= 8 ? (1u << layout.bits) : 0;
  const std::uint64_t tableAt = offset;
  offset += entries * 4;
  layout.stride =
      static_cast<std::size_t>((static_cast<std::uint64_t>(layout.width) * layout.bits + 31) / 32 * 4);
  const std::uint64_t end = offset + static_cast<std::uint64_t>(layout.stride) * layout.height;
  if (end > size) return false;
  layout.pixelOffset = static_cast<std::size_t>(offset);
  if (layout.bits <= 8) {
    // Pixels past the table's end look up black; the table cannot outgrow what the depth names.
    layout.table.resize(static_cast<std::size_t>(std::min<std::uint64_t>(entries, 1u << layout.bits)));
    for (std::size_t i = 0; i < layout.table.size(); ++i) {
      const std::uint8_t* entry = data + tableAt + 4 * i;
      layout.table[i] = TRGBQuad{entry[0], entry[1], entry[2], entry[3]};
    }
  }
  return true;
}

// A two-colour table other than black then white holds real colours, which a 1-bit bitmap (always
// black for 0 and white for 1) cannot show: such data becomes true colour.
bool IsBlackWhite(const std::vector<TRGBQuad>& table) {
  if (table.size() < 2) return true;
  const TRGBQuad& black = table[0];
  const TRGBQuad& white = table[1];
  return black.blue == 0 && black.green == 0 && black.red == 0 && white.blue == 255 && white.green == 255 &&
         white.red == 255;
}

void PutColour(std::uint8_t* out, const TRGBQuad& entry) {
  out[0] = entry.blue;
  out[1] = entry.green;
  out[2] = entry.red;
}

void DecodeIndexedRow(const std::uint8_t* in, const TDibLayout& layout, std::uint8_t* out) {
  static const TRGBQuad kBlack{};
  const int perByte = 8 / layout.bits;
  const unsigned mask = (1u << layout.bits) - 1;
  for (int x = 0; x < layout.width; ++x) {
    const int shift = 8 - layout.bits * (x % perByte + 1);
    const unsigned index = (in[x / perByte] >> shift) & mask;
    PutColour(out + 3 * x, index < layout.table.size() ? layout.table[index] : kBlack);
  }
}

void DecodeMaskedRow(const std::uint8_t* in, const TDibLayout& layout,
                     const std::array<TChannel, 3>& channels, std::uint8_t* out) {
  const int bytes = layout.bits / 8;
  for (int x = 0; x < layout.width; ++x) {
    const std::uint32_t pixel = bytes == 2 ? Get16(in + 2 * x) : Get32(in + 4 * x);
    out[3 * x] = channels[2].Of(pixel);
    out[3 * x + 1] = channels[1].Of(pixel);
    out[3 * x + 2] = channels[0].Of(pixel);
  }
}

void DecodeRows(const std::uint8_t* data, const TDibLayout& layout, TBitmap& image) {
  const bool keepBits = image.PixelFormat() == pf1bit;
  const std::array<TChannel, 3> channels = {TChannel(layout.masks[0]), TChannel(layout.masks[1]),
                                            TChannel(layout.masks[2])};
  const bool masked = layout.bits == 16 || (layout.bits == 32 && layout.compression != kBiRgb);
  for (int i = 0; i < layout.height; ++i) {
    const std::uint8_t* in = data + layout.pixelOffset + static_cast<std::size_t>(i) * layout.stride;
    std::uint8_t* out = image.ScanLine(layout.topDown ? i : layout.height - 1 - i);
    if (keepBits) {
      CopyBitRow(in, layout.stride, 0, layout.width, out);
    } else if (layout.bits <= 8) {
      DecodeIndexedRow(in, layout, out);
    } else if (layout.bits == 24) {
      std::memcpy(out, in, static_cast<std::size_t>(layout.width) * 3);
    } else if (masked) {
      DecodeMaskedRow(in, layout, channels, out);
    } else {
      // 32 bits without masks: blue, green, red and a byte that is no colour.
      for (int x = 0; x < layout.width; ++x) std::memcpy(out + 3 * x, in + 4 * x, 3);
    }
  }
}

}  // namespace

TByteBlock EncodePackedDib(const TBitmap& bitmap, const TRectInclusive& area) {
  const TPixelFormat format = bitmap.PixelFormat();
  if (format != pf24bit && format != pf1bit) return {};
  if (area.x1 < 0 || area.y1 < 0 || area.x1 > area.x2 || area.y1 > area.y2 || area.x2 >= bitmap.Width() ||
      area.y2 >= bitmap.Height())
    return {};
  const int width = area.x2 - area.x1 + 1;
  const int height = area.y2 - area.y1 + 1;
  const auto stride = static_cast<std::size_t>(RowStride(width, format));
  const std::size_t tableBytes = format == pf1bit ? kTwoColourTableBytes : 0;
  const std::size_t rowsAt = kInfoHeaderBytes + tableBytes;
  // Zero-filled: the padding, the unused fields and the trailing bytes stay 0.
  TByteBlock block(rowsAt + stride * static_cast<std::size_t>(height) + kTrailingBytes);

  std::uint8_t* header = block.data();
  Put32(header, kInfoHeaderBytes);
  Put32(header + 4, static_cast<std::uint32_t>(width));
  Put32(header + 8, static_cast<std::uint32_t>(height));
  Put16(header + 12, 1);
  Put16(header + 14, format == pf1bit ? 1 : 24);
  if (format == pf1bit) std::fill_n(block.data() + kInfoHeaderBytes + 4, 4, std::uint8_t{0xFF});

  // The bitmap is stored bottom-up like the block, so each row is one straight copy.
  for (int i = 0; i < height; ++i) {
    const std::uint8_t* source = bitmap.ScanLine(area.y2 - i);
    std::uint8_t* out = block.data() + rowsAt + static_cast<std::size_t>(i) * stride;
    if (format == pf24bit) {
      std::memcpy(out, source + static_cast<std::size_t>(area.x1) * 3, static_cast<std::size_t>(width) * 3);
    } else {
      CopyBitRow(source, bitmap.Stride(), area.x1, width, out);
    }
  }
  return block;
}

TByteBlock EncodePackedDib(const TBitmap& bitmap) {
  if (bitmap.Empty()) return {};
  return EncodePackedDib(bitmap, TRectInclusive{0, 0, bitmap.Width() - 1, bitmap.Height() - 1});
}

bool DecodePackedDib(const std::uint8_t* data, std::size_t size, TBitmap& target) {
  TDibLayout layout;
  if (!ReadLayout(data, size, layout)) return false;
  const TPixelFormat format = layout.bits == 1 && IsBlackWhite(layout.table) ? pf1bit : pf24bit;
  TBitmap image;
  try {
    image.Allocate(layout.width, layout.height, format);
  } catch (const EImageTooLarge&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  DecodeRows(data, layout, image);
  target.Swap(image);
  return true;
}

}  // namespace veilora
