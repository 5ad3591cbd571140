#pragma once

// Builds Windows metafiles and enhanced metafiles record by record, for tests that need a drawing
// whose every record they know.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace veilora::test {

inline void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A COLORREF: red in the low byte.
constexpr std::uint32_t Ref(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return r | (g << 8) | (b << 16);
}

// A bottom-up 24-bit BITMAPINFOHEADER and rows for `pixels` (top row first, COLORREFs).
inline std::vector<std::uint8_t> Dib24(int width, int height, const std::vector<std::uint32_t>& pixels) {
  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(width));
  Put32(out, static_cast<std::uint32_t>(height));
  Put16(out, 1);
  Put16(out, 24);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  const int stride = (width * 3 + 3) & ~3;
  for (int row = height - 1; row >= 0; --row) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = pixels[static_cast<std::size_t>(row * width + x)];
      out.push_back(static_cast<std::uint8_t>(c >> 16));
      out.push_back(static_cast<std::uint8_t>(c >> 8));
      out.push_back(static_cast<std::uint8_t>(c));
    }
    for (int pad = width * 3; pad < stride; ++pad) out.push_back(0);
  }
  return out;
}

class WmfBuilder {
 public:
  // Parameters as 16-bit words, in the order the file stores them.
  WmfBuilder& Record(std::uint16_t function, const std::vector<int>& words,
                     const std::vector<std::uint8_t>& tail = {}) {
    std::vector<std::uint8_t> body;
    for (const int w : words) Put16(body, static_cast<std::uint32_t>(w) & 0xFFFF);
    body.insert(body.end(), tail.begin(), tail.end());
    if (body.size() % 2 != 0) body.push_back(0);
    largest_ = std::max<std::uint32_t>(largest_, static_cast<std::uint32_t>(3 + body.size() / 2));
    Put32(records_, static_cast<std::uint32_t>(3 + body.size() / 2));
    Put16(records_, function);
    records_.insert(records_.end(), body.begin(), body.end());
    return *this;
  }
  // Raw bytes of a record with a size field that may lie.
  WmfBuilder& Raw(const std::vector<std::uint8_t>& bytes) {
    records_.insert(records_.end(), bytes.begin(), bytes.end());
    return *this;
  }

  WmfBuilder& Colour(std::uint16_t function, std::uint32_t c) {
    return Record(function, {static_cast<int>(c & 0xFFFF), static_cast<int>(c >> 16)});
  }
  WmfBuilder& Pen(int style, int width, std::uint32_t c) {
    return Record(0x02FA, {style, width, 0, static_cast<int>(c & 0xFFFF), static_cast<int>(c >> 16)});
  }
  WmfBuilder& Brush(int style, std::uint32_t c, int hatch = 0) {
    return Record(0x02FC, {style, static_cast<int>(c & 0xFFFF), static_cast<int>(c >> 16), hatch});
  }
  WmfBuilder& Select(int index) { return Record(0x012D, {index}); }
  WmfBuilder& Delete(int index) { return Record(0x01F0, {index}); }
  WmfBuilder& Rectangle(int l, int t, int r, int b) { return Record(0x041B, {b, r, t, l}); }
  WmfBuilder& Ellipse(int l, int t, int r, int b) { return Record(0x0418, {b, r, t, l}); }
  WmfBuilder& Polygon(const std::vector<int>& xy) {
    std::vector<int> words{static_cast<int>(xy.size() / 2)};
    words.insert(words.end(), xy.begin(), xy.end());
    return Record(0x0324, words);
  }
  WmfBuilder& WindowOrg(int x, int y) { return Record(0x020B, {y, x}); }
  WmfBuilder& WindowExt(int x, int y) { return Record(0x020C, {y, x}); }
  WmfBuilder& MapMode(int mode) { return Record(0x0103, {mode}); }

  // The file: a placeable header when `inch` is not 0, the standard header (whose size and
  // object count say what `headerObjects` says), the records and the end record.
  std::vector<std::uint8_t> Bytes(int left, int top, int right, int bottom, int inch,
                                  int headerObjects = 16) const {
    std::vector<std::uint8_t> out;
    if (inch != 0) {
      Put32(out, 0x9AC6CDD7);
      Put16(out, 0);
      for (const int v : {left, top, right, bottom}) Put16(out, static_cast<std::uint32_t>(v) & 0xFFFF);
      Put16(out, static_cast<std::uint32_t>(inch));
      Put32(out, 0);
      std::uint16_t checksum = 0;
      for (std::size_t i = 0; i < 20; i += 2)
        checksum ^= static_cast<std::uint16_t>(out[i] | (out[i + 1] << 8));
      Put16(out, checksum);
    }
    Put16(out, 1);
    Put16(out, 9);
    Put16(out, 0x0300);
    Put32(out, static_cast<std::uint32_t>((18 + records_.size() + 6) / 2));
    Put16(out, static_cast<std::uint32_t>(headerObjects));
    Put32(out, largest_);  // libwmf refuses a file whose largest record is not the one stated
    Put16(out, 0);
    out.insert(out.end(), records_.begin(), records_.end());
    Put32(out, 3);
    Put16(out, 0);
    return out;
  }

 private:
  std::vector<std::uint8_t> records_;
  std::uint32_t largest_ = 3;
};

class EmfBuilder {
 public:
  // The record's fields after type and size, as 32-bit values, then raw bytes.
  EmfBuilder& Record(std::uint32_t type, const std::vector<std::int64_t>& values,
                     const std::vector<std::uint8_t>& tail = {}) {
    std::vector<std::uint8_t> body;
    for (const std::int64_t v : values) Put32(body, static_cast<std::uint32_t>(v));
    body.insert(body.end(), tail.begin(), tail.end());
    while (body.size() % 4 != 0) body.push_back(0);
    Put32(records_, type);
    Put32(records_, static_cast<std::uint32_t>(8 + body.size()));
    records_.insert(records_.end(), body.begin(), body.end());
    ++count_;
    return *this;
  }
  static std::int64_t Float(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
  }

  EmfBuilder& Brush(std::uint32_t index, std::uint32_t c, int style = 0, int hatch = 0) {
    return Record(39, {index, style, c, hatch});
  }
  EmfBuilder& Pen(std::uint32_t index, int style, int width, std::uint32_t c) {
    return Record(38, {index, style, width, 0, c});
  }
  EmfBuilder& Select(std::uint32_t index) { return Record(37, {index}); }
  EmfBuilder& Rectangle(int l, int t, int r, int b) { return Record(43, {l, t, r, b}); }
  EmfBuilder& Ellipse(int l, int t, int r, int b) { return Record(42, {l, t, r, b}); }
  EmfBuilder& NullPen() { return Select(0x80000008u); }

  // Header with bounds (device pixels, inclusive), frame (0.01 mm, inclusive) and the reference
  // device (pixels and millimetres); `headerRecords` is the record count the header claims.
  std::vector<std::uint8_t> Bytes(int boundsRight, int boundsBottom, int frameRight, int frameBottom,
                                  int devicePixels = 1000, int deviceMm = 264, int headerRecords = -1) const {
    std::vector<std::uint8_t> out;
    Put32(out, 1);
    Put32(out, 88);
    for (const int v : {0, 0, boundsRight, boundsBottom, 0, 0, frameRight, frameBottom}) {
      Put32(out, static_cast<std::uint32_t>(v));
    }
    Put32(out, 0x464D4520);
    Put32(out, 0x10000);
    Put32(out, static_cast<std::uint32_t>(88 + records_.size() + 20));
    Put32(out, static_cast<std::uint32_t>(headerRecords < 0 ? count_ + 2 : headerRecords));
    Put16(out, 16);
    Put16(out, 0);
    for (const int v : {0, 0, 0, devicePixels, devicePixels, deviceMm, deviceMm})
      Put32(out, static_cast<std::uint32_t>(v));
    out.insert(out.end(), records_.begin(), records_.end());
    for (const std::uint32_t v : {14u, 20u, 0u, 16u, 20u}) Put32(out, v);
    return out;
  }

 private:
  std::vector<std::uint8_t> records_;
  int count_ = 0;
};

}  // namespace veilora::test
