#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "io/JpegCodec.h"
#include "io/TIFLZW.h"
#include "io/TiffCodec.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::BitAt;
using veilora::test::PixelAt;
using veilora::test::Rgb;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------- TIFF files made by hand

enum : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

struct Field {
  std::uint16_t type = kShort;
  std::vector<std::uint32_t> values;  // rationals as numerator, denominator pairs
  Bytes bytes;                        // ASCII and UNDEFINED
  std::uint32_t countOverride = 0;    // a count that lies, when not 0
};

// Builds a TIFF file in either byte order: the header, the data blocks in the order added, then
// each directory followed by its out-of-line values.
class TiffBuilder {
 public:
  explicit TiffBuilder(bool bigEndian = false) : big_(bigEndian) { directories_.emplace_back(); }

  // Appends a block (strip data and the like) and returns its offset.
  std::uint32_t Data(const Bytes& bytes) {
    const auto offset = static_cast<std::uint32_t>(8 + data_.size());
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    if (data_.size() % 2 != 0) data_.push_back(0);
    return offset;
  }

  TiffBuilder& Short(std::uint16_t tag, std::vector<std::uint32_t> values) {
    return Set(tag, Field{kShort, std::move(values), {}, 0});
  }
  TiffBuilder& Long(std::uint16_t tag, std::vector<std::uint32_t> values) {
    return Set(tag, Field{kLong, std::move(values), {}, 0});
  }
  TiffBuilder& Rational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator) {
    return Set(tag, Field{kRational, {numerator, denominator}, {}, 0});
  }
  TiffBuilder& Ascii(std::uint16_t tag, const std::string& text) {
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return Set(tag, Field{kAscii, {}, bytes, 0});
  }
  TiffBuilder& Undefined(std::uint16_t tag, const Bytes& bytes) {
    return Set(tag, Field{kUndefined, {}, bytes, 0});
  }
  TiffBuilder& Set(std::uint16_t tag, Field field) {
    directories_.back()[tag] = std::move(field);
    return *this;
  }
  TiffBuilder& Remove(std::uint16_t tag) {
    directories_.back().erase(tag);
    return *this;
  }
  // The usual entries of a one-strip image over `data`.
  TiffBuilder& Image(int width, int height, std::vector<std::uint32_t> bits, int photometric,
                     const Bytes& data, int compression = 1) {
    const std::uint32_t at = Data(data);
    const auto samples = static_cast<std::uint32_t>(bits.size());
    Long(256, {static_cast<std::uint32_t>(width)});
    Long(257, {static_cast<std::uint32_t>(height)});
    Short(258, std::move(bits));
    Short(259, {static_cast<std::uint32_t>(compression)});
    Short(262, {static_cast<std::uint32_t>(photometric)});
    Long(273, {at});
    Short(277, {samples});
    Long(278, {static_cast<std::uint32_t>(height)});
    Long(279, {static_cast<std::uint32_t>(data.size())});
    return *this;
  }
  // Strips of `rowsPerStrip` rows, each its own block.
  TiffBuilder& Strips(const std::vector<Bytes>& strips, std::uint32_t rowsPerStrip) {
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> counts;
    for (const Bytes& strip : strips) {
      offsets.push_back(Data(strip));
      counts.push_back(static_cast<std::uint32_t>(strip.size()));
    }
    Long(273, offsets);
    Long(279, counts);
    Long(278, {rowsPerStrip});
    return *this;
  }
  TiffBuilder& NextDirectory() {
    directories_.emplace_back();
    return *this;
  }
  // The last directory's next offset points at directory `index` instead of ending the chain.
  TiffBuilder& LoopTo(std::size_t index) {
    loopTo_ = static_cast<int>(index);
    return *this;
  }

  Bytes Build() const {
    Bytes file = {big_ ? std::uint8_t{'M'} : std::uint8_t{'I'}, big_ ? std::uint8_t{'M'} : std::uint8_t{'I'}};
    Put16(file, 42);
    Put32(file, 0);
    file.insert(file.end(), data_.begin(), data_.end());
    std::vector<std::size_t> starts;
    std::vector<std::size_t> nextFields;
    for (const auto& directory : directories_) {
      if (file.size() % 2 != 0) file.push_back(0);
      starts.push_back(file.size());
      Put16(file, static_cast<std::uint32_t>(directory.size()));
      const std::size_t entriesAt = file.size();
      file.resize(file.size() + 12 * directory.size() + 4);
      nextFields.push_back(entriesAt + 12 * directory.size());
      std::size_t i = 0;
      for (const auto& [tag, field] : directory) {
        Bytes value = ValueBytes(field);
        const std::size_t size = field.type == kShort      ? 2
                                 : field.type == kLong     ? 4
                                 : field.type == kRational ? 8
                                                           : 1;
        const std::uint32_t count =
            field.countOverride != 0 ? field.countOverride : static_cast<std::uint32_t>(value.size() / size);
        Bytes entry;
        Put16(entry, tag);
        Put16(entry, field.type);
        Put32(entry, count);
        if (value.size() <= 4) {
          value.resize(4);
          entry.insert(entry.end(), value.begin(), value.end());
        } else {
          if (file.size() % 2 != 0) file.push_back(0);
          Put32(entry, static_cast<std::uint32_t>(file.size()));
          file.insert(file.end(), value.begin(), value.end());
        }
        std::memcpy(&file[entriesAt + 12 * i], entry.data(), 12);
        ++i;
      }
    }
    Bytes link;
    Put32(link, static_cast<std::uint32_t>(starts[0]));
    std::memcpy(&file[4], link.data(), 4);
    for (std::size_t d = 0; d < starts.size(); ++d) {
      link.clear();
      std::uint32_t next = d + 1 < starts.size() ? static_cast<std::uint32_t>(starts[d + 1]) : 0;
      if (d + 1 == starts.size() && loopTo_ >= 0)
        next = static_cast<std::uint32_t>(starts[static_cast<std::size_t>(loopTo_)]);
      Put32(link, next);
      std::memcpy(&file[nextFields[d]], link.data(), 4);
    }
    return file;
  }

  // A value as the file stores it: 16-bit samples and such in this builder's byte order.
  Bytes Samples16(const std::vector<std::uint32_t>& values) const {
    Bytes bytes;
    for (const std::uint32_t v : values) Put16(bytes, v);
    return bytes;
  }

 private:
  Bytes ValueBytes(const Field& field) const {
    Bytes bytes;
    switch (field.type) {
      case kShort:
        for (const std::uint32_t v : field.values) Put16(bytes, v);
        break;
      case kLong:
      case kRational:
        for (const std::uint32_t v : field.values) Put32(bytes, v);
        break;
      default: bytes = field.bytes; break;
    }
    return bytes;
  }
  void Put16(Bytes& out, std::uint32_t v) const {
    if (big_) {
      out.push_back(static_cast<std::uint8_t>(v >> 8));
      out.push_back(static_cast<std::uint8_t>(v));
    } else {
      out.push_back(static_cast<std::uint8_t>(v));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  void Put32(Bytes& out, std::uint32_t v) const {
    if (big_) {
      Put16(out, v >> 16);
      Put16(out, v & 0xFFFF);
    } else {
      Put16(out, v & 0xFFFF);
      Put16(out, v >> 16);
    }
  }

  bool big_;
  Bytes data_;
  std::vector<std::map<std::uint16_t, Field>> directories_;
  int loopTo_ = -1;
};

struct Loaded {
  TBitmap bitmap;
  TIOParams params;
  bool aborted = false;
  std::string damage;  // what a partial picture lacks
  std::int32_t count = -1;
};

void Load(const Bytes& file, Loaded& out, bool paramsOnly = false) {
  TMemoryStream stream(file);
  TiffReadStream(stream, out.bitmap, out.params, paramsOnly,
                 TProgressContext{{}, nullptr, &out.aborted, &out.damage}, &out.count);
}

std::vector<TRGB> Pixels(const TBitmap& bitmap) {
  std::vector<TRGB> pixels;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) pixels.push_back(PixelAt(bitmap, x, y));
  }
  return pixels;
}

std::string Bits(const TBitmap& bitmap) {
  std::string bits;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) bits += BitAt(bitmap, x, y) ? '1' : '0';
    if (y + 1 < bitmap.Height()) bits += '/';
  }
  return bits;
}

TRGB Grey(int v) {
  return Rgb(v, v, v);
}

// ---------------------------------------------------------------- pixels by interpretation

class TiffPixels : public ::testing::TestWithParam<bool> {
 protected:
  bool big() const { return GetParam(); }
  std::vector<TRGB> Decode(const TiffBuilder& builder) {
    Load(builder.Build(), loaded_);
    EXPECT_FALSE(loaded_.aborted);
    EXPECT_EQ(loaded_.bitmap.PixelFormat(), pf24bit);
    return Pixels(loaded_.bitmap);
  }
  Loaded loaded_;
};

TEST_P(TiffPixels, GreyAtEveryDepth) {
  {
    TiffBuilder b(big());
    b.Image(3, 1, {8}, 1, {0, 0x80, 0xFF});
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Grey(0), Grey(0x80), Grey(255)}));
  }
  {
    TiffBuilder b(big());
    b.Image(3, 1, {8}, 0, {0, 0x80, 0xFF});
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Grey(255), Grey(0x7F), Grey(0)}));
  }
  {
    // 4-bit: 0, 5, 15 then padding; 2-bit: 0, 1, 2, 3, 3 over two bytes.
    TiffBuilder b(big());
    b.Image(3, 1, {4}, 1, {0x05, 0xF0});
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Grey(0), Grey(85), Grey(255)}));
    TiffBuilder c(big());
    c.Image(5, 1, {2}, 1, {0x1B, 0xC0});
    EXPECT_EQ(Decode(c), (std::vector<TRGB>{Grey(0), Grey(85), Grey(170), Grey(255), Grey(255)}));
  }
  {
    // 16-bit samples in the file's byte order; scaled with rounding.
    TiffBuilder b(big());
    b.Image(3, 1, {16}, 1, b.Samples16({0, 0x8000, 0xFFFF}));
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Grey(0), Grey(128), Grey(255)}));
    TiffBuilder c(big());
    c.Image(2, 1, {16}, 0, c.Samples16({0x0101, 0xFEFF}));
    EXPECT_EQ(Decode(c), (std::vector<TRGB>{Grey(254), Grey(1)}));
  }
}

TEST_P(TiffPixels, ColourModels) {
  {
    TiffBuilder b(big());
    b.Image(2, 1, {8, 8, 8}, 2, {10, 20, 30, 200, 150, 100});
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Rgb(10, 20, 30), Rgb(200, 150, 100)}));
  }
  {
    // Alpha and any other extra sample are dropped.
    TiffBuilder b(big());
    b.Image(2, 1, {8, 8, 8, 8}, 2, {10, 20, 30, 0, 200, 150, 100, 77}).Short(338, {2});
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Rgb(10, 20, 30), Rgb(200, 150, 100)}));
  }
  {
    TiffBuilder b(big());
    b.Image(2, 1, {16, 16, 16}, 2, b.Samples16({0xFFFF, 0, 0x8080, 0x0100, 0x2000, 0xC000}));
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Rgb(255, 0, 128), Rgb(1, 32, 191)}));
  }
  {
    // CMYK: light passes each ink and the black.
    TiffBuilder b(big());
    b.Image(3, 1, {8, 8, 8, 8}, 5, {0, 0, 0, 0, 255, 0, 255, 0, 0, 0, 0, 128});
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Rgb(255, 255, 255), Rgb(0, 255, 0), Rgb(127, 127, 127)}));
  }
  {
    // YCbCr without subsampling: grey, then the coding of pure red and pure blue.
    TiffBuilder b(big());
    b.Image(3, 1, {8, 8, 8}, 6, {128, 128, 128, 76, 85, 255, 29, 255, 107}).Short(530, {1, 1});
    const std::vector<TRGB> pixels = Decode(b);
    EXPECT_EQ(pixels[0], Grey(128));
    EXPECT_NEAR(pixels[1].r, 254, 2);
    EXPECT_LE(pixels[1].g, 1);
    EXPECT_LE(pixels[1].b, 1);
    EXPECT_NEAR(pixels[2].b, 254, 2);
    EXPECT_LE(pixels[2].r, 1);
    EXPECT_LE(pixels[2].g, 1);
  }
  {
    // CIE L*a*b*: white, black, and a strong red (L 54, a 81, b 70 is about sRGB 255, 0, 0 at D50).
    TiffBuilder b(big());
    b.Image(3, 1, {8, 8, 8}, 8, {255, 0, 0, 0, 0, 0, 138, 81, 70});
    const std::vector<TRGB> pixels = Decode(b);
    EXPECT_EQ(pixels[0], Grey(255));
    EXPECT_EQ(pixels[1], Grey(0));
    EXPECT_GE(pixels[2].r, 240);
    EXPECT_LE(pixels[2].g, 30);
    EXPECT_LE(pixels[2].b, 30);
    EXPECT_EQ(loaded_.params.TiffPhotometric, 7);
  }
}

TEST_P(TiffPixels, SubsampledYCbCrUnitsCoverTheirPixels) {
  // 3 x 3 pixels in 2 x 2 units: two units per data row, the second cut at the right edge, and the
  // second data row cut at the bottom. Cb = Cr = 128 keeps every pixel grey at its Y.
  TiffBuilder b(big());
  const Bytes data = {10, 20, 30, 40, 128, 128, 50,  60,  70,  80,  128, 128,
                      90, 91, 92, 93, 128, 128, 100, 101, 102, 103, 128, 128};
  b.Image(3, 3, {8, 8, 8}, 6, data).Short(530, {2, 2});
  EXPECT_EQ(Decode(b), (std::vector<TRGB>{Grey(10), Grey(20), Grey(50), Grey(30), Grey(40), Grey(70),
                                          Grey(90), Grey(91), Grey(100)}));
}

TEST_P(TiffPixels, Palettes) {
  {
    // 2-bit palette: 16-bit entries, reds then greens then blues.
    TiffBuilder b(big());
    b.Image(4, 1, {2}, 3, {0x1B});
    b.Short(320, {0xFFFF, 0, 0, 0x8000, 0, 0xFFFF, 0, 0x4000, 0, 0, 0xFFFF, 0xC000});
    EXPECT_EQ(Decode(b),
              (std::vector<TRGB>{Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255), Rgb(128, 64, 192)}));
    EXPECT_EQ(loaded_.params.ColorMapCount, 4);
    EXPECT_EQ(loaded_.params.ColorMap[3], Rgb(128, 64, 192));
  }
  {
    // A map whose values all fit in 8 bits was written as 8-bit.
    TiffBuilder b(big());
    b.Image(2, 1, {1}, 3, {0x40});
    b.Short(320, {200, 10, 100, 20, 50, 30});
    EXPECT_EQ(Decode(b), (std::vector<TRGB>{Rgb(200, 100, 50), Rgb(10, 20, 30)}));
  }
}

TEST_P(TiffPixels, TwoColourImagesStayOneBit) {
  const Bytes row = {0xA0};  // 1 0 1 0 0
  for (const int photometric : {0, 1}) {
    TiffBuilder b(big());
    b.Image(5, 1, {1}, photometric, row);
    Load(b.Build(), loaded_);
    ASSERT_EQ(loaded_.bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(Bits(loaded_.bitmap), photometric == 1 ? "10100" : "01011");
    // The padding bits of the last byte stay clear.
    EXPECT_EQ(loaded_.bitmap.ScanLine(0)[0] & 0x07, 0);
  }
  // A black-and-white palette (either way round) is a two-colour image too.
  TiffBuilder b(big());
  b.Image(5, 1, {1}, 3, row).Short(320, {0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0});
  Load(b.Build(), loaded_);
  ASSERT_EQ(loaded_.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(Bits(loaded_.bitmap), "01011");
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, TiffPixels, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "BigEndian" : "LittleEndian";
                         });

// ---------------------------------------------------------------- layout of the rows

// 3 x 2 picture with six different pixels: a b c / d e f.
const std::vector<TRGB> kSix = {Rgb(1, 0, 0), Rgb(2, 0, 0), Rgb(3, 0, 0),
                                Rgb(4, 0, 0), Rgb(5, 0, 0), Rgb(6, 0, 0)};
const Bytes kSixBytes = {1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0, 6, 0, 0};

TEST(TiffLayout, OrientationPlacesTheFirstRowAndColumn) {
  struct Case {
    std::uint32_t orientation;
    int width;
    std::vector<int> order;  // which file pixel (1..6) shows at each place, rows from the top
  };
  const Case cases[] = {
      {1, 3, {1, 2, 3, 4, 5, 6}}, {2, 3, {3, 2, 1, 6, 5, 4}}, {3, 3, {6, 5, 4, 3, 2, 1}},
      {4, 3, {4, 5, 6, 1, 2, 3}}, {5, 2, {1, 4, 2, 5, 3, 6}}, {6, 2, {4, 1, 5, 2, 6, 3}},
      {7, 2, {6, 3, 5, 2, 4, 1}}, {8, 2, {3, 6, 2, 5, 1, 4}},
  };
  for (const Case& c : cases) {
    TiffBuilder b;
    b.Image(3, 2, {8, 8, 8}, 2, kSixBytes).Short(274, {c.orientation});
    Loaded loaded;
    Load(b.Build(), loaded);
    ASSERT_FALSE(loaded.aborted);
    EXPECT_EQ(loaded.bitmap.Width(), c.width) << c.orientation;
    std::vector<TRGB> expected;
    for (const int i : c.order) expected.push_back(kSix[static_cast<std::size_t>(i - 1)]);
    EXPECT_EQ(Pixels(loaded.bitmap), expected) << "orientation " << c.orientation;
  }
  // Two-colour images turn the same way.
  TiffBuilder b;
  b.Image(3, 2, {1}, 1, {0xC0, 0x20}).Short(274, {6});  // 110 / 001
  Loaded loaded;
  Load(b.Build(), loaded);
  ASSERT_EQ(loaded.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(Bits(loaded.bitmap), "01/01/10");
}

TEST(TiffLayout, SeparatePlanesAndSeveralStrips) {
  // Planes of red, green and blue, each in two strips (rows per strip 1).
  TiffBuilder b;
  b.Image(3, 2, {8, 8, 8}, 2, {}).Short(284, {2});
  b.Strips({{1, 2, 3}, {4, 5, 6}, {0, 0, 0}, {9, 9, 9}, {7, 7, 7}, {0, 0, 0}}, 1);
  Loaded loaded;
  Load(b.Build(), loaded);
  ASSERT_FALSE(loaded.aborted);
  EXPECT_EQ(loaded.params.TiffPlanarConfig, 2);
  EXPECT_EQ(Pixels(loaded.bitmap), (std::vector<TRGB>{Rgb(1, 0, 7), Rgb(2, 0, 7), Rgb(3, 0, 7), Rgb(4, 9, 0),
                                                      Rgb(5, 9, 0), Rgb(6, 9, 0)}));
}

TEST(TiffLayout, FillOrderTwoReversesTheBitsOfRawData) {
  TiffBuilder b;
  b.Image(8, 1, {1}, 1, {0x05}).Short(266, {2});  // 0000 0101 read from the low bit: 1010 0000
  Loaded loaded;
  Load(b.Build(), loaded);
  EXPECT_EQ(Bits(loaded.bitmap), "10100000");
}

// ---------------------------------------------------------------- compressions

// Runs through the LZW coder, the way a TIFF writer stores one strip.
Bytes LzwStrip(const Bytes& raw, std::size_t rowBytes) {
  TMemoryStream out;
  TTiffLzwEncoder* state = nullptr;
  for (std::size_t at = 0; at < raw.size(); at += rowBytes) {
    TiffLzwEncode(raw.data() + at, static_cast<std::int32_t>(rowBytes), out, state);
  }
  TiffLzwEncode(nullptr, 0, out, state);
  return out.Data();
}

TEST(TiffCompression, LzwWithHorizontalDifferencing) {
  // Two rows of RGB, stored as differences from the pixel to the left.
  const Bytes differences = {10, 20, 30, 5, 5, 5, 250, 0, 1, /**/ 0, 0, 0, 1, 2, 3, 255, 255, 255};
  for (const bool big : {false, true}) {
    TiffBuilder b(big);
    b.Image(3, 2, {8, 8, 8}, 2, LzwStrip(differences, 9), 5).Short(317, {2});
    Loaded loaded;
    loaded.params.TiffLzwDecompress = TiffLzwDecode;
    Load(b.Build(), loaded);
    ASSERT_FALSE(loaded.aborted);
    EXPECT_EQ(loaded.params.TiffCompression, 5);
    EXPECT_EQ(Pixels(loaded.bitmap), (std::vector<TRGB>{Rgb(10, 20, 30), Rgb(15, 25, 35), Rgb(9, 25, 36),
                                                        Rgb(0, 0, 0), Rgb(1, 2, 3), Rgb(0, 1, 2)}));
  }
  // 16-bit differences wrap at 16 bits, in the file's byte order.
  for (const bool big : {false, true}) {
    TiffBuilder b(big);
    b.Image(3, 1, {16}, 1, LzwStrip(b.Samples16({0x7F00, 0x0100, 0xFFFF}), 6), 5).Short(317, {2});
    Loaded loaded;
    loaded.params.TiffLzwDecompress = TiffLzwDecode;
    Load(b.Build(), loaded);
    ASSERT_FALSE(loaded.aborted);
    EXPECT_EQ(Pixels(loaded.bitmap), (std::vector<TRGB>{Grey(127), Grey(128), Grey(127)}));
  }
}

TEST(TiffCompression, LzwNeedsADecoder) {
  TiffBuilder b;
  b.Image(3, 2, {8, 8, 8}, 2, LzwStrip(kSixBytes, 9), 5);
  Loaded loaded;
  loaded.params.TiffLzwDecompress = nullptr;
  const TLzwHooks saved = GlobalLzwHooks();
  GlobalLzwHooks().tiffDecompress = nullptr;
  Load(b.Build(), loaded);
  EXPECT_TRUE(loaded.aborted);
  EXPECT_EQ(loaded.params.TiffCompression, 5);
  EXPECT_TRUE(loaded.bitmap.Empty());
  // The global hook serves a record without one.
  GlobalLzwHooks().tiffDecompress = TiffLzwDecode;
  Loaded again;
  again.params.TiffLzwDecompress = nullptr;
  Load(b.Build(), again);
  GlobalLzwHooks() = saved;
  EXPECT_FALSE(again.aborted);
  EXPECT_EQ(Pixels(again.bitmap), kSix);
}

TEST(TiffCompression, PackBitsRunsMayCrossRows) {
  // Row 1: literal 1 2 3 then a run of three 9s of which one belongs to row 2.
  TiffBuilder b;
  b.Image(4, 2, {8}, 1, {2, 1, 2, 3, 0xFE, 9, 0x80, 1, 7, 8}, 32773);
  Loaded loaded;
  Load(b.Build(), loaded);
  ASSERT_FALSE(loaded.aborted);
  EXPECT_EQ(loaded.params.TiffCompression, 8);
  EXPECT_EQ(Pixels(loaded.bitmap),
            (std::vector<TRGB>{Grey(1), Grey(2), Grey(3), Grey(9), Grey(9), Grey(9), Grey(7), Grey(8)}));
}

TEST(TiffCompression, JpegStripsDecodeAsTheirJpegData) {
  // A YCbCr JPEG made by our JPEG writer, stored as the single strip of a TIFF image.
  TBitmap picture;
  test::BitmapFromRaw(test::TestPicture(40, 128, 3), picture);
  TIOParams jpegParams;
  jpegParams.JpegColorSpace = 2;
  jpegParams.JpegQuality = 90;
  TMemoryStream jpeg;
  bool aborted = false;
  JpegWriteStream(jpeg, picture, jpegParams, TProgressContext{{}, nullptr, &aborted});
  TBitmap expected;
  jpeg.Seek(0);
  JpegReadStream(jpeg, expected, jpegParams, false, TProgressContext{{}, nullptr, &aborted});
  ASSERT_FALSE(aborted);

  TiffBuilder b;
  b.Image(40, 128, {8, 8, 8}, 6, jpeg.Data(), 7);
  Loaded loaded;
  Load(b.Build(), loaded);
  ASSERT_FALSE(loaded.aborted);
  EXPECT_EQ(loaded.params.TiffCompression, 7);
  EXPECT_EQ(Pixels(loaded.bitmap), Pixels(expected));

  // Cut short, the rows decoded so far stay and the load fails.
  Bytes cut(jpeg.Data().begin(), jpeg.Data().begin() + static_cast<std::ptrdiff_t>(jpeg.Data().size() / 2));
  TiffBuilder c;
  c.Image(40, 128, {8, 8, 8}, 6, cut, 7);
  Loaded partial;
  Load(c.Build(), partial);
  EXPECT_TRUE(partial.aborted);
  EXPECT_EQ(PixelAt(partial.bitmap, 5, 0), PixelAt(expected, 5, 0));

  // A strip holding far more rows than the image's strips have is refused before it is decoded.
  TiffBuilder tall;
  tall.Image(40, 128, {8, 8, 8}, 6, jpeg.Data(), 7).Long(278, {16});
  Loaded refused;
  Load(tall.Build(), refused);
  EXPECT_TRUE(refused.aborted);

  // Old-style JPEG is refused.
  TiffBuilder d;
  d.Image(40, 128, {8, 8, 8}, 6, jpeg.Data(), 6);
  Loaded old;
  Load(d.Build(), old);
  EXPECT_TRUE(old.aborted);
  EXPECT_EQ(old.params.TiffCompression, 6);
}

// ---------------------------------------------------------------- parameters

TEST(TiffParams, TagsFillTheRecord) {
  TiffBuilder b(true);
  b.Image(3, 2, {8, 8, 8}, 2, kSixBytes);
  b.Rational(282, 118, 1).Rational(283, 0, 1).Short(296, {3});
  b.Rational(286, 254, 10).Rational(287, 1, 1);
  b.Ascii(269, "doc").Ascii(270, "a description").Ascii(285, "page");
  b.Short(297, {2, 5});
  Loaded loaded;
  loaded.params.ColorMap.assign(2, TRGB{});
  loaded.params.ColorMapCount = 2;
  Load(b.Build(), loaded, true);
  const TIOParams& p = loaded.params;
  EXPECT_FALSE(loaded.aborted);
  EXPECT_EQ(p.DpiX, 300);  // 118 dots per centimetre
  EXPECT_EQ(p.DpiY, DefaultResolution().dpiY);
  EXPECT_EQ(p.TiffXPos, 10);  // 25.4 cm
  EXPECT_EQ(p.TiffYPos, 0);   // 1 cm is 0.39 inch
  EXPECT_EQ(p.TiffDocumentName, "doc");
  EXPECT_EQ(p.TiffImageDescription, "a description");
  EXPECT_EQ(p.TiffPageName, "page");
  EXPECT_EQ(p.TiffPageNumber, 2);
  EXPECT_EQ(p.TiffPageCount, 5);
  EXPECT_EQ(p.Width, 3);
  EXPECT_EQ(p.Height, 2);
  EXPECT_EQ(p.BitsPerSample, 8);
  EXPECT_EQ(p.SamplesPerPixel, 3);
  EXPECT_EQ(p.TiffPhotometric, 2);
  EXPECT_EQ(p.TiffCompression, 0);
  EXPECT_EQ(p.ColorMapCount, 0);  // an image without a map leaves none from an earlier load
  EXPECT_EQ(loaded.count, 1);
  // Parameters only: the bitmap is not touched.
  EXPECT_TRUE(loaded.bitmap.Empty());
}

TEST(TiffParams, CompressionCodes) {
  const std::pair<std::uint32_t, int> cases[] = {{1, 0}, {2, 1}, {3, 2}, {4, 4},
                                                 {5, 5}, {6, 6}, {7, 7}, {32773, 8}};
  for (const auto& [compression, code] : cases) {
    TiffBuilder b;
    b.Image(8, 1, {1}, 0, {0}, static_cast<int>(compression));
    Loaded loaded;
    Load(b.Build(), loaded, true);
    EXPECT_EQ(loaded.params.TiffCompression, code) << compression;
  }
  TiffBuilder b;
  b.Image(8, 1, {1}, 0, {0}, 3).Long(292, {1});
  Loaded loaded;
  Load(b.Build(), loaded, true);
  EXPECT_EQ(loaded.params.TiffCompression, 3);
}

// ---------------------------------------------------------------- the directory chain

TEST(TiffChain, ImagesAreChosenByIndex) {
  TiffBuilder b;
  b.Image(1, 1, {8}, 1, {11});
  b.NextDirectory().Image(1, 1, {8}, 1, {22});
  b.NextDirectory().Image(1, 1, {8}, 1, {33}).Ascii(285, "third");
  const Bytes file = b.Build();
  for (int index = 0; index < 3; ++index) {
    Loaded loaded;
    loaded.params.TiffImageIndex = index;
    Load(file, loaded);
    EXPECT_EQ(loaded.count, 3);
    EXPECT_EQ(Pixels(loaded.bitmap), std::vector<TRGB>{Grey(11 * (index + 1))});
  }
  // Index 3: the count, and nothing else changes.
  Loaded past;
  past.bitmap.Allocate(2, 2, pf24bit);
  past.params.TiffImageIndex = 3;
  past.params.TiffPageName = "kept";
  Load(file, past);
  EXPECT_EQ(past.count, 3);
  EXPECT_FALSE(past.aborted);
  EXPECT_EQ(past.bitmap.Width(), 2);
  EXPECT_EQ(past.params.TiffPageName, "kept");

  test::TTempDir dir;
  test::WriteWholeFile(dir.File("three.tif"), file);
  EXPECT_EQ(TiffImageCount(dir.File("three.tif")), 3);
  EXPECT_EQ(TiffImageCount(dir.File("missing.tif")), 0);
  test::WriteWholeFile(dir.File("not.tif"), Bytes{'X', 'X', 42, 0, 8, 0, 0, 0, 0, 0});
  EXPECT_EQ(TiffImageCount(dir.File("not.tif")), 0);
}

TEST(TiffChain, OffsetsCountFromWhereTheHeaderStarts) {
  // A TIFF inside a larger stream (after a stream header, say): its offsets are relative to it.
  TiffBuilder b(true);
  b.Image(3, 2, {8, 8, 8}, 2, kSixBytes);
  Bytes file = {'j', 'u', 'n', 'k', '!'};
  const Bytes tiff = b.Build();
  file.insert(file.end(), tiff.begin(), tiff.end());
  TMemoryStream stream(file);
  stream.Seek(5);
  Loaded loaded;
  TiffReadStream(stream, loaded.bitmap, loaded.params, false, TProgressContext{{}, nullptr, &loaded.aborted},
                 &loaded.count);
  EXPECT_FALSE(loaded.aborted);
  EXPECT_EQ(Pixels(loaded.bitmap), kSix);
}

TEST(TiffChain, LoopsEndTheWalk) {
  // A -> B -> A, and a directory pointing at itself.
  TiffBuilder loop;
  loop.Image(1, 1, {8}, 1, {1});
  loop.NextDirectory().Image(1, 1, {8}, 1, {2});
  loop.LoopTo(0);
  Loaded a;
  a.params.TiffImageIndex = 1;
  Load(loop.Build(), a);
  EXPECT_EQ(a.count, 2);
  EXPECT_EQ(Pixels(a.bitmap), std::vector<TRGB>{Grey(2)});

  TiffBuilder self;
  self.Image(1, 1, {8}, 1, {1});
  self.LoopTo(0);
  Loaded s;
  s.params.TiffImageIndex = 5;
  Load(self.Build(), s);
  EXPECT_EQ(s.count, 1);
  EXPECT_FALSE(s.aborted);
}

TEST(TiffChain, HeadersThatAreNotTiff) {
  const Bytes cases[] = {
      {'I', 'I', 43, 0, 8, 0, 0, 0},    // BigTIFF's number
      {'M', 'I', 0, 42, 0, 0, 0, 8},    // mixed byte order
      {'I', 'I', 42},                   // cut off
      {'I', 'I', 42, 0, 0, 0, 0, 0},    // no directory at all
      {'I', 'I', 42, 0, 200, 0, 0, 0},  // a directory beyond the end
  };
  for (const Bytes& file : cases) {
    Loaded loaded;
    Load(file, loaded);
    EXPECT_TRUE(loaded.aborted);
    EXPECT_EQ(loaded.count, 0);
  }
}

// ---------------------------------------------------------------- hostile files

TEST(TiffHostile, StripsBeyondTheData) {
  {
    // Offset past the end: nothing to decode.
    TiffBuilder b;
    b.Image(3, 2, {8, 8, 8}, 2, kSixBytes).Long(273, {100000});
    Loaded loaded;
    Load(b.Build(), loaded);
    EXPECT_TRUE(loaded.aborted);
  }
  {
    // A byte count past the end: what is there is used.
    TiffBuilder b;
    b.Image(3, 2, {8, 8, 8}, 2, kSixBytes).Long(279, {0xFFFFFFF0});
    Bytes file = b.Build();
    Loaded loaded;
    Load(file, loaded);
    EXPECT_FALSE(loaded.aborted);
    EXPECT_EQ(Pixels(loaded.bitmap), kSix);
  }
  {
    // The data ends inside the second row: the first row stays, the load fails.
    TiffBuilder b;
    b.Image(3, 2, {8, 8, 8}, 2, Bytes(kSixBytes.begin(), kSixBytes.begin() + 12));
    Loaded loaded;
    Load(b.Build(), loaded);
    EXPECT_TRUE(loaded.aborted);
    EXPECT_EQ(PixelAt(loaded.bitmap, 2, 0), kSix[2]);
    EXPECT_EQ(PixelAt(loaded.bitmap, 0, 1), Rgb(0, 0, 0));
  }
}

TEST(TiffHostile, CompressedStripsGiveNoMoreRowsThanTheirBytesCode) {
  // One row of LZW data in a strip said to hold 1000 rows: the rows the data cannot hold are not
  // made up, whatever the decoder gives after its data.
  TiffBuilder b;
  b.Image(3, 1000, {8, 8, 8}, 2, LzwStrip(Bytes(kSixBytes.begin(), kSixBytes.begin() + 9), 9), 5);
  Loaded loaded;
  loaded.params.TiffLzwDecompress = TiffLzwDecode;
  Load(b.Build(), loaded);
  EXPECT_TRUE(loaded.aborted);
  EXPECT_EQ(PixelAt(loaded.bitmap, 2, 0), kSix[2]);
}

TEST(TiffHostile, StripTablesThatDoNotFit) {
  {
    // Fewer strips than the rows need: the rows that have one load.
    TiffBuilder b;
    b.Image(3, 2, {8, 8, 8}, 2, {}).Strips({{1, 0, 0, 2, 0, 0, 3, 0, 0}}, 1);
    Loaded loaded;
    Load(b.Build(), loaded);
    EXPECT_TRUE(loaded.aborted);
    EXPECT_EQ(PixelAt(loaded.bitmap, 1, 0), kSix[1]);
  }
  {
    // A count whose size in bytes overflows 32 bits (so the values cannot sit in the entry), and no
    // byte counts at all.
    TiffBuilder b;
    b.Image(3, 2, {8, 8, 8}, 2, kSixBytes).Remove(279);
    Field offsets{kLong, {0}, {}, 0x40000001};
    b.Set(273, offsets);
    Bytes file = b.Build();
    Loaded loaded;
    Load(file, loaded);
    EXPECT_TRUE(loaded.aborted);  // the offsets' values lie outside the file
  }
  {
    // RowsPerStrip 0 means the whole image.
    TiffBuilder b;
    b.Image(3, 2, {8, 8, 8}, 2, kSixBytes).Long(278, {0});
    Loaded loaded;
    Load(b.Build(), loaded);
    EXPECT_FALSE(loaded.aborted);
    EXPECT_EQ(Pixels(loaded.bitmap), kSix);
  }
}

TEST(TiffHostile, ImagesThatHaveNoDecoding) {
  struct Case {
    const char* what;
    TiffBuilder builder;
  };
  std::vector<Case> cases;
  cases.push_back({"huge", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8, 8, 8}, 2, kSixBytes).Long(256, {60000}).Long(257, {60000});
  cases.push_back({"wider than allowed", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 1, kSixBytes).Long(256, {70000});
  cases.push_back({"a large picture over a few bytes", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 1, kSixBytes).Long(256, {10000}).Long(257, {10000});
  cases.push_back({"zero height", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 1, kSixBytes).Long(257, {0});
  cases.push_back({"short colour map", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 3, kSixBytes).Short(320, {0, 0, 0, 0, 0, 0});
  cases.push_back({"palette without map", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 3, kSixBytes);
  cases.push_back({"three bits", TiffBuilder()});
  cases.back().builder.Image(3, 2, {3}, 1, kSixBytes);
  cases.push_back({"32 bits", TiffBuilder()});
  cases.back().builder.Image(1, 1, {32}, 1, {0, 0, 0, 0});
  cases.push_back({"RGB of two samples", TiffBuilder()});
  cases.back().builder.Image(3, 1, {8, 8}, 2, kSixBytes);
  cases.push_back({"mixed depths", TiffBuilder()});
  cases.back().builder.Image(3, 1, {8, 8, 16}, 2, kSixBytes);
  cases.push_back({"tiles without tile offsets", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 1, kSixBytes).Long(322, {16}).Long(323, {16});
  cases.push_back({"float samples", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 1, kSixBytes).Short(339, {3});
  cases.push_back({"fax of grey", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 1, kSixBytes, 4);
  cases.push_back({"floating-point predictor", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 1, kSixBytes, 8).Short(317, {3});
  cases.push_back({"unknown compression", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 1, kSixBytes, 34712);
  cases.push_back({"unknown photometric", TiffBuilder()});
  cases.back().builder.Image(3, 2, {8}, 9, kSixBytes);
  for (Case& c : cases) {
    Loaded loaded;
    Load(c.builder.Build(), loaded);
    EXPECT_TRUE(loaded.aborted) << c.what;
    EXPECT_LE(loaded.bitmap.Width(), 1) << c.what;
    EXPECT_EQ(loaded.damage, "") << c.what;
  }
}

TEST(TiffHostile, DirectoryCutOff) {
  // The table is cut inside its entries: the whole entries are read, and without strip offsets
  // there is nothing to decode.
  TiffBuilder b;
  b.Image(3, 2, {8, 8, 8}, 2, kSixBytes);
  Bytes file = b.Build();
  file.resize(file.size() - 60);
  Loaded loaded;
  Load(file, loaded);
  EXPECT_TRUE(loaded.aborted);
  EXPECT_EQ(loaded.params.Width, 3);
}

// ---------------------------------------------------------------- progress

TEST(TiffProgress, ReportsEveryRowAndStopsWhenAborted) {
  TiffBuilder b;
  Bytes data(3 * 10);
  b.Image(3, 10, {8}, 1, data).Long(278, {3});
  b.Strips({Bytes(9), Bytes(9), Bytes(9), Bytes(3)}, 3);
  bool aborting = false;
  std::vector<int> reports;
  TObject sender;
  TProgressContext progress{[&](TObject&, int percentage) {
                              reports.push_back(percentage);
                              if (percentage == 50) aborting = true;
                            },
                            &sender, &aborting};
  TMemoryStream stream(b.Build());
  TBitmap bitmap;
  TIOParams params;
  TiffReadStream(stream, bitmap, params, false, progress, nullptr);
  EXPECT_EQ(reports, (std::vector<int>{10, 20, 30, 40, 50}));
}

}  // namespace
