#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <zlib.h>

#include "io/JpegCodec.h"
#include "io/PackBits.h"
#include "io/TIFLZW.h"
#include "io/TiffCodec.h"
#include "support/LzwHooks.h"
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
  // Tiles of tileWidth x tileLength, each its own block, in the order the file lists them.
  TiffBuilder& Tiles(const std::vector<Bytes>& tiles, std::uint32_t tileWidth, std::uint32_t tileLength) {
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> counts;
    for (const Bytes& tile : tiles) {
      offsets.push_back(Data(tile));
      counts.push_back(static_cast<std::uint32_t>(tile.size()));
    }
    Remove(273).Remove(278).Remove(279);
    Long(322, {tileWidth}).Long(323, {tileLength});
    Long(324, offsets).Long(325, counts);
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
  const test::TScopedLzwHooks keep;
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

// A zlib stream of the bytes, as Deflate strips and tiles hold them.
Bytes Deflated(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

// A zlib stream of the bytes in which the first `split` of them end on a whole byte (a full
// flush), `flushed` bytes into the stream: the data after that can be broken without touching them.
Bytes DeflatedInTwo(const Bytes& raw, std::size_t split, std::size_t& flushed) {
  z_stream stream{};
  EXPECT_EQ(deflateInit(&stream, 9), Z_OK);
  Bytes out(compressBound(static_cast<uLong>(raw.size())) + 64);
  Bytes input = raw;
  stream.next_in = input.data();
  stream.avail_in = static_cast<uInt>(split);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FULL_FLUSH), Z_OK);
  flushed = out.size() - stream.avail_out;
  stream.avail_in = static_cast<uInt>(raw.size() - split);
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - stream.avail_out);
  deflateEnd(&stream);
  return out;
}

TEST(TiffCompression, DeflateWithAndWithoutDifferencing) {
  // The rows of the LZW case above, stored as differences from the pixel to the left.
  const Bytes differences = {10, 20, 30, 5, 5, 5, 250, 0, 1, /**/ 0, 0, 0, 1, 2, 3, 255, 255, 255};
  const std::vector<TRGB> undone = {Rgb(10, 20, 30), Rgb(15, 25, 35), Rgb(9, 25, 36),
                                    Rgb(0, 0, 0),    Rgb(1, 2, 3),    Rgb(0, 1, 2)};
  // Adobe's code and the older one hold the same zlib stream.
  for (const int compression : {8, 32946}) {
    for (const bool big : {false, true}) {
      const std::string what = std::to_string(compression) + (big ? " big-endian" : " little-endian");
      TiffBuilder plain(big);
      plain.Image(3, 2, {8, 8, 8}, 2, Deflated(kSixBytes), compression);
      Loaded loaded;
      loaded.params.TiffCompression = 5;
      Load(plain.Build(), loaded);
      ASSERT_FALSE(loaded.aborted) << what;
      EXPECT_EQ(Pixels(loaded.bitmap), kSix) << what;
      // The record has no code for Deflate; the writer would save the image uncompressed.
      EXPECT_EQ(loaded.params.TiffCompression, 0) << what;

      TiffBuilder predicted(big);
      predicted.Image(3, 2, {8, 8, 8}, 2, Deflated(differences), compression).Short(317, {2});
      Loaded colour;
      Load(predicted.Build(), colour);
      ASSERT_FALSE(colour.aborted) << what;
      EXPECT_EQ(Pixels(colour.bitmap), undone) << what;

      // 16-bit differences wrap at 16 bits, in the file's byte order; each strip is a stream.
      TiffBuilder wide(big);
      wide.Image(3, 2, {16}, 1, {}, compression).Short(317, {2});
      wide.Strips(
          {Deflated(wide.Samples16({0x7F00, 0x0100, 0xFFFF})), Deflated(wide.Samples16({0, 0x8000, 0}))}, 1);
      Loaded grey;
      Load(wide.Build(), grey);
      ASSERT_FALSE(grey.aborted) << what;
      EXPECT_EQ(Pixels(grey.bitmap),
                (std::vector<TRGB>{Grey(127), Grey(128), Grey(127), Grey(0), Grey(128), Grey(128)}))
          << what;
    }
  }
}

// ---------------------------------------------------------------- tiles

// 5 x 3 picture of fifteen different RGB pixels, and the same as three planes.
Bytes FifteenBytes() {
  Bytes bytes;
  for (int i = 0; i < 15; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(i + 1));
    bytes.push_back(static_cast<std::uint8_t>(100 + 7 * i));
    bytes.push_back(static_cast<std::uint8_t>(250 - 11 * i));
  }
  return bytes;
}

std::vector<TRGB> FifteenPixels() {
  const Bytes bytes = FifteenBytes();
  std::vector<TRGB> pixels;
  for (std::size_t i = 0; i < bytes.size(); i += 3)
    pixels.push_back(Rgb(bytes[i], bytes[i + 1], bytes[i + 2]));
  return pixels;
}

// Cuts a picture of `pixelBytes`-byte pixels into tiles, row of tiles after row of tiles. The
// parts of tiles that lie beyond the picture hold 0xEE, which must never show.
std::vector<Bytes> TilesOf(const Bytes& picture, int width, int height, int pixelBytes, int tileWidth,
                           int tileLength) {
  std::vector<Bytes> tiles;
  for (int top = 0; top < height; top += tileLength) {
    for (int left = 0; left < width; left += tileWidth) {
      Bytes tile;
      for (int y = top; y < top + tileLength; ++y) {
        for (int x = left; x < left + tileWidth; ++x) {
          for (int b = 0; b < pixelBytes; ++b) {
            const bool inside = x < width && y < height;
            tile.push_back(inside ? picture[static_cast<std::size_t>((y * width + x) * pixelBytes + b)]
                                  : 0xEE);
          }
        }
      }
      tiles.push_back(tile);
    }
  }
  return tiles;
}

// Horizontal differencing of 8-bit samples, `stride` samples back, row by row.
Bytes Differenced(Bytes data, std::size_t rowBytes, std::size_t stride) {
  for (std::size_t row = 0; row < data.size(); row += rowBytes) {
    for (std::size_t i = rowBytes - 1; i >= stride; --i) {
      data[row + i] = static_cast<std::uint8_t>(data[row + i] - data[row + i - stride]);
    }
  }
  return data;
}

Bytes PackBitsRows(const Bytes& data, std::size_t rowBytes) {
  Bytes out;
  for (std::size_t at = 0; at < data.size(); at += rowBytes) PackBitsEncode(data.data() + at, rowBytes, out);
  return out;
}

struct TileCoding {
  const char* what;
  int compression;
  bool predictor;
};

class TiffTiles : public ::testing::TestWithParam<bool> {
 protected:
  bool big() const { return GetParam(); }
  // Codes each tile's rows of rowBytes bytes with the coding.
  static std::vector<Bytes> Coded(std::vector<Bytes> tiles, const TileCoding& coding, std::size_t rowBytes,
                                  std::size_t stride) {
    for (Bytes& tile : tiles) {
      if (coding.predictor) tile = Differenced(tile, rowBytes, stride);
      switch (coding.compression) {
        case 32773: tile = PackBitsRows(tile, rowBytes); break;
        case 5: tile = LzwStrip(tile, rowBytes); break;
        case 8:
        case 32946: tile = Deflated(tile); break;
        default: break;
      }
    }
    return tiles;
  }
  static void Read(const TiffBuilder& builder, Loaded& loaded) {
    loaded.params.TiffLzwDecompress = TiffLzwDecode;
    Load(builder.Build(), loaded);
    EXPECT_FALSE(loaded.aborted);
    EXPECT_EQ(loaded.damage, "");
  }
  static std::vector<TRGB> PixelsRead(const TiffBuilder& builder) {
    Loaded loaded;
    Read(builder, loaded);
    return Pixels(loaded.bitmap);
  }
};

const TileCoding kTileCodings[] = {
    {"none", 1, false},           {"PackBits", 32773, false}, {"LZW", 5, false},
    {"LZW differenced", 5, true}, {"Deflate", 8, false},      {"Deflate differenced", 8, true},
    {"old Deflate", 32946, true},
};

TEST_P(TiffTiles, EveryCompressionCropsTilesAtTheEdges) {
  // 5 x 3 in tiles of 2 x 2: three across and two down, the last column and row half off the picture.
  for (const TileCoding& coding : kTileCodings) {
    TiffBuilder b(big());
    b.Image(5, 3, {8, 8, 8}, 2, {}, coding.compression);
    b.Tiles(Coded(TilesOf(FifteenBytes(), 5, 3, 3, 2, 2), coding, 6, 3), 2, 2);
    if (coding.predictor) b.Short(317, {2});
    Loaded loaded;
    Read(b, loaded);
    EXPECT_EQ(loaded.bitmap.Width(), 5) << coding.what;
    EXPECT_EQ(Pixels(loaded.bitmap), FifteenPixels()) << coding.what;
  }
}

TEST_P(TiffTiles, SeparatePlanesHaveTilesOfTheirOwn) {
  const Bytes picture = FifteenBytes();
  std::vector<Bytes> tiles;
  for (int plane = 0; plane < 3; ++plane) {
    Bytes samples;
    for (std::size_t i = static_cast<std::size_t>(plane); i < picture.size(); i += 3)
      samples.push_back(picture[i]);
    // Tiles of 4 x 2: the second column is three quarters off the picture.
    for (Bytes& tile : TilesOf(samples, 5, 3, 1, 4, 2)) tiles.push_back(Deflated(Differenced(tile, 4, 1)));
  }
  TiffBuilder b(big());
  b.Image(5, 3, {8, 8, 8}, 2, {}, 8).Short(284, {2}).Short(317, {2});
  b.Tiles(tiles, 4, 2);
  EXPECT_EQ(PixelsRead(b), FifteenPixels());
}

TEST_P(TiffTiles, OrientationTurnsTiledPicturesAsStrips) {
  for (std::uint32_t orientation = 1; orientation <= 8; ++orientation) {
    TiffBuilder strips(big());
    strips.Image(5, 3, {8, 8, 8}, 2, FifteenBytes()).Short(274, {orientation});
    TiffBuilder tiled(big());
    tiled.Image(5, 3, {8, 8, 8}, 2, {}).Short(274, {orientation});
    tiled.Tiles(TilesOf(FifteenBytes(), 5, 3, 3, 2, 2), 2, 2);
    Loaded expected;
    Read(strips, expected);
    Loaded got;
    Read(tiled, got);
    EXPECT_EQ(got.bitmap.Width(), expected.bitmap.Width()) << orientation;
    EXPECT_EQ(Pixels(got.bitmap), Pixels(expected.bitmap)) << orientation;
  }
}

TEST_P(TiffTiles, TwoColourTilesOfAnyWidth) {
  // 13 x 3 two-colour pixels in tiles that start inside a byte of the bitmap's rows (5), at whole
  // bytes (8) and wider than the picture (16); tile padding bits are set and must not show.
  const int width = 13;
  const int height = 3;
  const auto bit = [](int x, int y) { return (x * 3 + y * 5) % 7 < 3; };
  Bytes rows;
  for (int y = 0; y < height; ++y) {
    Bytes row(2, 0);
    for (int x = 0; x < width; ++x) {
      if (bit(x, y)) row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    rows.insert(rows.end(), row.begin(), row.end());
  }
  for (const int tileWidth : {5, 8, 16}) {
    for (const std::uint32_t orientation : {1u, 4u, 6u}) {
      std::vector<Bytes> tiles;
      const int tileRowBytes = (tileWidth + 7) / 8;
      for (int top = 0; top < height; top += 2) {
        for (int left = 0; left < width; left += tileWidth) {
          Bytes tile(static_cast<std::size_t>(tileRowBytes * 2), 0xFF);
          for (int y = top; y < top + 2 && y < height; ++y) {
            for (int x = left; x < left + tileWidth && x < width; ++x) {
              auto& byte = tile[static_cast<std::size_t>((y - top) * tileRowBytes + (x - left) / 8)];
              const auto mask = static_cast<std::uint8_t>(0x80 >> ((x - left) % 8));
              byte = static_cast<std::uint8_t>(bit(x, y) ? byte | mask : byte & ~mask);
            }
          }
          tiles.push_back(tile);
        }
      }
      TiffBuilder strips(big());
      strips.Image(width, height, {1}, 1, rows).Short(274, {orientation});
      TiffBuilder tiled(big());
      tiled.Image(width, height, {1}, 1, {}).Short(274, {orientation});
      tiled.Tiles(tiles, static_cast<std::uint32_t>(tileWidth), 2);
      Loaded got;
      Read(tiled, got);
      Loaded expected;
      Read(strips, expected);
      ASSERT_EQ(got.bitmap.PixelFormat(), pf1bit);
      EXPECT_EQ(Bits(got.bitmap), Bits(expected.bitmap)) << tileWidth << " " << orientation;
      // The padding bits of each bitmap row stay clear.
      if (orientation == 1) {
        EXPECT_EQ(got.bitmap.ScanLine(0)[1] & 0x07, 0) << tileWidth;
      }
    }
  }
}

TEST_P(TiffTiles, ATileLargerThanThePicture) {
  // Writers give small pictures their usual 256 x 256 tile; only its top left corner is shown.
  Bytes tile(256 * 256 * 3, 0xEE);
  const Bytes picture = FifteenBytes();
  for (std::size_t y = 0; y < 3; ++y) std::copy_n(picture.begin() + 15 * y, 15, tile.begin() + 768 * y);
  TiffBuilder b(big());
  b.Image(5, 3, {8, 8, 8}, 2, {}, 8).Tiles({Deflated(tile)}, 256, 256);
  EXPECT_EQ(PixelsRead(b), FifteenPixels());
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, TiffTiles, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "BigEndian" : "LittleEndian";
                         });

TEST(TiffHostile, TilesThatCannotBeDecoded) {
  struct Case {
    const char* what;
    TiffBuilder builder;
  };
  const std::vector<Bytes> tiles = TilesOf(FifteenBytes(), 5, 3, 3, 2, 2);
  std::vector<Case> cases;
  cases.push_back({"zero tile width", TiffBuilder()});
  cases.back().builder.Image(5, 3, {8, 8, 8}, 2, {}).Tiles(tiles, 2, 2).Long(322, {0});
  cases.push_back({"zero tile length", TiffBuilder()});
  cases.back().builder.Image(5, 3, {8, 8, 8}, 2, {}).Tiles(tiles, 2, 2).Long(323, {0});
  cases.push_back({"no tile length", TiffBuilder()});
  cases.back().builder.Image(5, 3, {8, 8, 8}, 2, {}).Tiles(tiles, 2, 2).Remove(323);
  cases.push_back({"tiles wider than any picture", TiffBuilder()});
  cases.back().builder.Image(5, 3, {8, 8, 8}, 2, {}).Tiles(tiles, 2, 2).Long(322, {0x80000000});
  cases.push_back({"tiles longer than any picture", TiffBuilder()});
  cases.back().builder.Image(5, 3, {8, 8, 8}, 2, {}).Tiles(tiles, 2, 2).Long(323, {70000});
  {
    // Thousands of tiles of a large picture all pointing at the same few hundred bytes of LZW:
    // the data is counted once, and it cannot fill the bitmap.
    cases.push_back({"tiles sharing their data", TiffBuilder()});
    TiffBuilder& b = cases.back().builder;
    b.Image(8000, 8000, {8}, 1, {}, 5);
    const std::uint32_t at = b.Data(LzwStrip(Bytes(400, 7), 400));
    b.Long(322, {64}).Long(323, {64}).Remove(273).Remove(278).Remove(279);
    b.Long(324, std::vector<std::uint32_t>(125 * 125, at));
    b.Long(325, std::vector<std::uint32_t>(125 * 125, 400));
  }
  for (Case& c : cases) {
    Loaded loaded;
    loaded.params.TiffLzwDecompress = TiffLzwDecode;
    Load(c.builder.Build(), loaded);
    EXPECT_TRUE(loaded.aborted) << c.what;
    EXPECT_LE(loaded.bitmap.Width(), 1) << c.what;
    EXPECT_EQ(loaded.damage, "") << c.what;
  }
}

// ---------------------------------------------------------------- damaged data

// The file with its one strip at its very end and only `kept` bytes of it there: a file cut short.
Bytes WithStripCutAtTheEnd(TiffBuilder builder, const Bytes& strip, std::size_t kept) {
  builder.Long(273, {0}).Long(279, {static_cast<std::uint32_t>(strip.size())});
  const std::size_t size = builder.Build().size();
  builder.Long(273, {static_cast<std::uint32_t>(size)});
  Bytes file = builder.Build();
  file.insert(file.end(), strip.begin(), strip.begin() + static_cast<std::ptrdiff_t>(kept));
  return file;
}

// 3 x 8 pixels of RGB, every row different.
Bytes EightRows() {
  Bytes bytes;
  for (int i = 0; i < 3 * 8 * 3; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 37 + i / 9));
  return bytes;
}

TEST(TiffDamage, DecodedRowsStayAndTheDamageIsNamed) {
  const Bytes picture = EightRows();
  // 3 x 200 pixels with repeats for the coders to find (data without any would be stored as it is,
  // where no broken byte can be noticed).
  Bytes tall;
  for (int i = 0; i < 3 * 200 * 3; ++i) tall.push_back(static_cast<std::uint8_t>(i % 37 * 5 + i / 111 % 3));
  struct Case {
    const char* what;
    Bytes file;
    const Bytes* picture;
    // The whole description, or where the decoder decides how far its data goes, the start of it
    // followed by the number of rows kept.
    std::string damage;
    bool exact;
  };
  std::vector<Case> cases;
  {
    TiffBuilder b;
    b.Image(3, 8, {8, 8, 8}, 2, {});
    cases.push_back({"raw strip cut by the file's end", WithStripCutAtTheEnd(b, picture, 9 * 5 + 4), &picture,
                     "the data ends after row 5 of 8", true});
  }
  {
    TiffBuilder b;
    b.Image(3, 200, {8, 8, 8}, 2, {}, 5);
    const Bytes lzw = LzwStrip(tall, 9);
    cases.push_back({"LZW strip cut by the file's end", WithStripCutAtTheEnd(b, lzw, lzw.size() / 2), &tall,
                     "the data ends after row ", false});
  }
  {
    TiffBuilder b;
    b.Image(3, 200, {8, 8, 8}, 2, {}, 8);
    const Bytes deflated = Deflated(tall);
    cases.push_back({"Deflate strip cut by the file's end",
                     WithStripCutAtTheEnd(b, deflated, deflated.size() / 2), &tall,
                     "the data ends after row ", false});
  }
  {
    // The first 100 rows end on a whole byte (a full flush); the bytes after them are broken, and
    // 0xFF starts a block of a type that does not exist.
    std::size_t flushed = 0;
    Bytes deflated = DeflatedInTwo(tall, 9 * 100, flushed);
    std::fill(deflated.begin() + static_cast<std::ptrdiff_t>(flushed), deflated.end(), 0xFF);
    TiffBuilder b;
    b.Image(3, 200, {8, 8, 8}, 2, deflated, 8);
    cases.push_back({"Deflate data broken after a full flush", b.Build(), &tall,
                     "the data is damaged after row 100 of 200", true});
  }
  {
    // An LZW strip whose end code comes after half of its rows.
    TiffBuilder b;
    b.Image(3, 200, {8, 8, 8}, 2, LzwStrip(Bytes(tall.begin(), tall.begin() + 9 * 100), 9), 5);
    cases.push_back(
        {"LZW data ending early", b.Build(), &tall, "the data is damaged after row 100 of 200", true});
  }
  {
    // Strips of two rows; the table has two of the four.
    TiffBuilder b;
    b.Image(3, 8, {8, 8, 8}, 2, {})
        .Strips(
            {Bytes(picture.begin(), picture.begin() + 18), Bytes(picture.begin() + 18, picture.begin() + 36)},
            2);
    cases.push_back({"a strip table shorter than the picture", b.Build(), &picture,
                     "the data ends after row 4 of 8", true});
  }
  {
    // Tiles of 2 x 4: the picture needs four, the table has three.
    std::vector<Bytes> tiles = TilesOf(picture, 3, 8, 3, 2, 4);
    tiles.pop_back();
    TiffBuilder b;
    b.Image(3, 8, {8, 8, 8}, 2, {}).Tiles(tiles, 2, 4);
    cases.push_back({"a tile table shorter than the picture", b.Build(), &picture,
                     "the data ends after tile 3 of 4", true});
  }
  for (const Case& c : cases) {
    Loaded loaded;
    loaded.params.TiffLzwDecompress = TiffLzwDecode;
    Load(c.file, loaded);
    EXPECT_TRUE(loaded.aborted) << c.what;
    int kept = 0;
    if (c.exact) {
      EXPECT_EQ(loaded.damage, c.damage) << c.what;
      // Tiles: the first row of tiles is whole.
      kept = c.damage.find("tile") != std::string::npos
                 ? 4
                 : std::stoi(c.damage.substr(c.damage.rfind("row ") + 4));
    } else {
      ASSERT_EQ(loaded.damage.rfind(c.damage, 0), 0U) << c.what << ": " << loaded.damage;
      kept = std::stoi(loaded.damage.substr(c.damage.size()));
      EXPECT_GT(kept, 0) << c.what;
      EXPECT_LT(kept, 200) << c.what;
    }
    ASSERT_EQ(loaded.bitmap.Width(), 3) << c.what;
    const Bytes& p = *c.picture;
    for (int y = 0; y < kept; ++y) {
      for (int x = 0; x < 3; ++x) {
        const auto at = static_cast<std::size_t>(9 * y + 3 * x);
        ASSERT_EQ(PixelAt(loaded.bitmap, x, y), Rgb(p[at], p[at + 1], p[at + 2])) << c.what << " row " << y;
      }
    }
  }
}

TEST(TiffDamage, NothingDecodedIsOnlyAFailure) {
  const Bytes picture = EightRows();
  std::vector<std::pair<const char*, Bytes>> files;
  {
    TiffBuilder b;
    b.Image(3, 8, {8, 8, 8}, 2, {});
    files.emplace_back("raw strip cut inside its first row", WithStripCutAtTheEnd(b, picture, 5));
  }
  {
    TiffBuilder b;
    b.Image(3, 8, {8, 8, 8}, 2, Bytes(40, 0xFF), 8);
    files.emplace_back("Deflate data broken from its start", b.Build());
  }
  {
    TiffBuilder b;
    b.Image(3, 8, {8, 8, 8}, 2, {}).Tiles({}, 2, 4);
    files.emplace_back("no tiles at all", b.Build());
  }
  for (const auto& [what, file] : files) {
    Loaded loaded;
    Load(file, loaded);
    EXPECT_TRUE(loaded.aborted) << what;
    EXPECT_EQ(loaded.damage, "") << what;
  }
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

TEST(TiffParams, ResolutionUnits) {
  // Resolutions are dots per unit, positions lengths in it; without a unit both are taken as given.
  const struct {
    std::uint32_t unit;
    std::uint32_t resolution;  // per unit
    std::uint32_t position;    // tenths of the unit
    std::int32_t dpi;
    std::int32_t inches;
  } cases[] = {
      {2, 300, 35, 300, 4},    // 3.5 inches, a tie rounded to even
      {3, 118, 254, 300, 10},  // 118 dots per centimetre; 25.4 cm
      {3, 40, 127, 102, 5},    // 12.7 cm
      {1, 72, 50, 72, 5},
  };
  for (const auto& c : cases) {
    TiffBuilder b;
    b.Image(3, 2, {8, 8, 8}, 2, kSixBytes).Short(296, {c.unit});
    b.Rational(282, c.resolution, 1).Rational(283, c.resolution, 1);
    b.Rational(286, c.position, 10).Rational(287, c.position, 10);
    Loaded loaded;
    Load(b.Build(), loaded, true);
    EXPECT_EQ(loaded.params.DpiX, c.dpi) << c.unit;
    EXPECT_EQ(loaded.params.DpiY, c.dpi) << c.unit;
    EXPECT_EQ(loaded.params.TiffXPos, c.inches) << c.unit;
    EXPECT_EQ(loaded.params.TiffYPos, c.inches) << c.unit;
  }
}

TEST(TiffParams, ValuesWithoutACodeResetTheRecord) {
  // A file after one that was LZW and CMYK: a compression or interpretation the record has no
  // code for must not leave the earlier file's code standing.
  const struct {
    std::uint32_t compression;
    std::uint32_t photometric;
    int tiffCompression;
    int tiffPhotometric;
  } cases[] = {
      {34712, 2, 0, 2},                    // JPEG 2000
      {8, 1, 0, 1},                        // Deflate
      {32946, 3, 0, 3}, {1, 32844, 0, 2},  // LogL
      {5, 10, 5, 2},                       // ITU L*a*b*
  };
  for (const auto& c : cases) {
    TiffBuilder b;
    b.Image(3, 2, {8}, static_cast<int>(c.photometric), kSixBytes, static_cast<int>(c.compression));
    Loaded loaded;
    loaded.params.TiffCompression = 5;
    loaded.params.TiffPhotometric = 5;
    Load(b.Build(), loaded, true);
    EXPECT_EQ(loaded.params.TiffCompression, c.tiffCompression) << c.compression << " " << c.photometric;
    EXPECT_EQ(loaded.params.TiffPhotometric, c.tiffPhotometric) << c.compression << " " << c.photometric;
  }
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
