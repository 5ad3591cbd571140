#include "io/PngCodec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "image/ImageProc.h"
#include "support/CodecRun.h"
#include "support/HeadlessView.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::BitAt;
using veilora::test::FillRandom;
using veilora::test::PixelAt;
using veilora::test::PixelBytesTopDown;
using veilora::test::Rgb;
using veilora::test::SetPixel;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------- building files by hand

void PutBE32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t GetBE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

Bytes Chunk(const char* type, const Bytes& data) {
  Bytes out;
  PutBE32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const std::uint32_t crc =
      static_cast<std::uint32_t>(crc32(0, out.data() + 4, static_cast<uInt>(data.size() + 4)));
  PutBE32(out, crc);
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

Bytes Ihdr(std::uint32_t width, std::uint32_t height, int depth, int colourType, int interlace = 0) {
  Bytes data;
  PutBE32(data, width);
  PutBE32(data, height);
  data.push_back(static_cast<std::uint8_t>(depth));
  data.push_back(static_cast<std::uint8_t>(colourType));
  data.push_back(0);
  data.push_back(0);
  data.push_back(static_cast<std::uint8_t>(interlace));
  return Chunk("IHDR", data);
}

// An IDAT of unfiltered rows (each row gets filter byte 0).
Bytes Idat(const std::vector<Bytes>& rows) {
  Bytes raw;
  for (const Bytes& row : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(size);
  compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(size);
  return Chunk("IDAT", packed);
}

Bytes Png(const Bytes& ihdr, const Bytes& middle, const std::vector<Bytes>& rows) {
  return kSignature + ihdr + middle + Idat(rows) + Chunk("IEND", {});
}

Bytes Be16(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return out;
}

// The chunks of a file: type and data, in file order.
struct ChunkView {
  std::string type;
  Bytes data;
};

std::vector<ChunkView> Chunks(const Bytes& file) {
  std::vector<ChunkView> chunks;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint32_t length = GetBE32(&file[at]);
    if (at + 12 + length > file.size()) break;
    chunks.push_back({std::string(file.begin() + at + 4, file.begin() + at + 8),
                      Bytes(file.begin() + at + 8, file.begin() + at + 8 + length)});
    at += 12 + length;
  }
  return chunks;
}

// The first chunk of a type, copied out (so that it outlives a temporary chunk list).
std::optional<ChunkView> Find(const std::vector<ChunkView>& chunks, const std::string& type) {
  for (const ChunkView& c : chunks) {
    if (c.type == type) return c;
  }
  return std::nullopt;
}

// The inflated image data of a file: every row with its filter byte in front.
Bytes InflatedImageData(const Bytes& file, std::size_t expectedBytes) {
  Bytes packed;
  for (const ChunkView& c : Chunks(file)) {
    if (c.type == "IDAT") packed.insert(packed.end(), c.data.begin(), c.data.end());
  }
  Bytes raw(expectedBytes + 16);
  uLongf size = static_cast<uLongf>(raw.size());
  EXPECT_EQ(uncompress(raw.data(), &size, packed.data(), static_cast<uLong>(packed.size())), Z_OK);
  raw.resize(size);
  return raw;
}

// ---------------------------------------------------------------- running the codec

using ReadResult = veilora::test::TReadResult;

void Read(const Bytes& file, ReadResult& out, bool paramsOnly = false) {
  veilora::test::ReadFromMemory(PngReadStream, file, out, paramsOnly);
}

Bytes Write(TBitmap& bitmap, TIOParams& params) {
  return veilora::test::WriteToMemory(PngWriteStream, bitmap, params);
}

// ---------------------------------------------------------------- depths and colour types

TEST(PngRead, SixteenBitRgbKeepsTheHighBytesAndReportsItsDepth) {
  const Bytes file = Png(Ihdr(2, 1, 16, 2), {}, {Be16({0x1234, 0xABCD, 0xFF01, 0x00FF, 0x8000, 0x7FFF})});
  ReadResult r;
  Read(file, r);
  ASSERT_FALSE(r.aborted);
  ASSERT_EQ(r.bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(r.bitmap, 0, 0), Rgb(0x12, 0xAB, 0xFF));
  EXPECT_EQ(PixelAt(r.bitmap, 1, 0), Rgb(0x00, 0x80, 0x7F));
  EXPECT_EQ(r.params.BitsPerSample, 16);
  EXPECT_EQ(r.params.SamplesPerPixel, 3);
  EXPECT_EQ(r.params.Width, 2);
  EXPECT_EQ(r.params.Height, 1);
  EXPECT_EQ(r.params.ColorMapCount, 0);
}

TEST(PngRead, FourBitPaletteExpandsToTrueColourAndPublishesThePalette) {
  const Bytes plte{10, 20, 30, 40, 50, 60, 70, 80, 90};
  // Indices 2, 0, 1 in the high and low nibbles; width 3 leaves the last nibble unused.
  const Bytes file = Png(Ihdr(3, 2, 4, 3), Chunk("PLTE", plte), {{0x20, 0x10}, {0x12, 0x00}});
  ReadResult r;
  r.params.SetColorMap(7);
  Read(file, r);
  ASSERT_FALSE(r.aborted);
  ASSERT_EQ(r.bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(r.bitmap, 0, 0), Rgb(70, 80, 90));
  EXPECT_EQ(PixelAt(r.bitmap, 1, 0), Rgb(10, 20, 30));
  EXPECT_EQ(PixelAt(r.bitmap, 2, 0), Rgb(40, 50, 60));
  EXPECT_EQ(PixelAt(r.bitmap, 0, 1), Rgb(40, 50, 60));
  EXPECT_EQ(PixelAt(r.bitmap, 1, 1), Rgb(70, 80, 90));
  EXPECT_EQ(r.params.BitsPerSample, 4);
  EXPECT_EQ(r.params.SamplesPerPixel, 1);
  ASSERT_EQ(r.params.ColorMapCount, 3);
  EXPECT_EQ(r.params.ColorMap, (std::vector<TRGB>{Rgb(10, 20, 30), Rgb(40, 50, 60), Rgb(70, 80, 90)}));
}

// Width 10: the six bits after the last pixel are set in the file and must not reach the bitmap.
const std::vector<Bytes> kOneBitRows{{0b10110010, 0b01111111}, {0b01001101, 0b10111111}};

TEST(PngRead, OneBitGreyAndBlackThenWhitePalettesKeepTheirBits) {
  const Bytes grey = Png(Ihdr(10, 2, 1, 0), {}, kOneBitRows);
  const Bytes blackWhite = Png(Ihdr(10, 2, 1, 3), Chunk("PLTE", {0, 0, 0, 255, 255, 255}), kOneBitRows);
  // Entries past the second cannot be reached by a 1-bit value.
  const Bytes longer = Png(Ihdr(10, 2, 1, 3), Chunk("PLTE", {0, 0, 0, 255, 255, 255, 9, 9, 9}), kOneBitRows);
  for (const Bytes* file : {&grey, &blackWhite, &longer}) {
    ReadResult r;
    r.params.SetColorMap(5);
    Read(*file, r);
    ASSERT_FALSE(r.aborted);
    ASSERT_EQ(r.bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(r.bitmap.ScanLine(0)[0], 0b10110010);
    EXPECT_EQ(r.bitmap.ScanLine(0)[1], 0b01000000);
    EXPECT_EQ(r.bitmap.ScanLine(1)[0], 0b01001101);
    EXPECT_EQ(r.bitmap.ScanLine(1)[1], 0b10000000);
    EXPECT_EQ(r.params.BitsPerSample, 1);
    EXPECT_EQ(r.params.SamplesPerPixel, 1);
    // libpng keeps no more palette entries than the depth can reach.
    EXPECT_EQ(r.params.ColorMapCount, file == &grey ? 0 : 2);
  }
}

TEST(PngRead, OtherOneBitPalettesLoadInTheirOwnColours) {
  struct Case {
    const char* what;
    Bytes palette;  // red, green, blue
    Bytes transparency;
    TRGB zero;  // the colour of a 0 bit, and of a 1 bit
    TRGB one;
  };
  const TRGB background = Rgb(10, 20, 30);
  const Case cases[] = {
      {"white then black", {255, 255, 255, 0, 0, 0}, {}, Rgb(255, 255, 255), Rgb(0, 0, 0)},
      {"two colours", {255, 255, 255, 200, 0, 0}, {}, Rgb(255, 255, 255), Rgb(200, 0, 0)},
      {"nearly white", {0, 0, 0, 254, 255, 255}, {}, Rgb(0, 0, 0), Rgb(254, 255, 255)},
      {"black and white, black transparent", {0, 0, 0, 255, 255, 255}, {0}, background, Rgb(255, 255, 255)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes middle =
        Chunk("PLTE", c.palette) + (c.transparency.empty() ? Bytes{} : Chunk("tRNS", c.transparency));
    ReadResult r;
    r.params.PngBackground = background;
    Read(Png(Ihdr(10, 2, 1, 3), middle, kOneBitRows), r);
    ASSERT_FALSE(r.aborted);
    ASSERT_EQ(r.bitmap.PixelFormat(), pf24bit);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 10; ++x) {
        const bool set = (kOneBitRows[y][x / 8] >> (7 - x % 8)) & 1;
        EXPECT_EQ(PixelAt(r.bitmap, x, y), set ? c.one : c.zero) << x << ", " << y;
      }
    }
    EXPECT_EQ(r.params.BitsPerSample, 1);
    EXPECT_EQ(r.params.SamplesPerPixel, 1);
    ASSERT_EQ(r.params.ColorMapCount, 2);
    EXPECT_EQ(r.params.ColorMap[1], Rgb(c.palette[3], c.palette[4], c.palette[5]));
  }
}

TEST(PngRead, GreyDepthsSpreadOverTheFullRange) {
  struct Case {
    int depth;
    Bytes row;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {2, {0b00011011}, {0, 85, 170, 255}},
      {4, {0x0F, 0x58}, {0, 255, 85, 136}},
      {8, {0, 7, 200, 255}, {0, 7, 200, 255}},
      {16, Be16({0x0000, 0x07FF, 0xC800, 0xFFFF}), {0, 7, 200, 255}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.depth);
    ReadResult r;
    Read(Png(Ihdr(4, 1, k.depth, 0), {}, {k.row}), r);
    ASSERT_FALSE(r.aborted);
    for (int x = 0; x < 4; ++x) {
      const int v = k.expected[static_cast<std::size_t>(x)];
      EXPECT_EQ(PixelAt(r.bitmap, x, 0), Rgb(v, v, v)) << x;
    }
    EXPECT_EQ(r.params.BitsPerSample, k.depth);
    EXPECT_EQ(r.params.SamplesPerPixel, 1);
  }
}

// ---------------------------------------------------------------- background and alpha

// round((fg x a + bg x (255 - a)) / 255), the blend of an 8-bit sample.
int Blend(int foreground, int alpha, int background) {
  return (foreground * alpha + background * (255 - alpha) + 127) / 255;
}

TEST(PngRead, AlphaWithoutABackgroundChunkIsFlattenedOntoPngBackground) {
  const Bytes file =
      Png(Ihdr(4, 1, 8, 6), {}, {{255, 0, 0, 0, 0, 255, 0, 128, 0, 0, 255, 255, 9, 99, 199, 1}});
  ReadResult r;
  r.params.PngBackground = Rgb(100, 150, 200);
  Read(file, r);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(PixelAt(r.bitmap, 0, 0), Rgb(100, 150, 200));
  EXPECT_EQ(PixelAt(r.bitmap, 1, 0), Rgb(Blend(0, 128, 100), Blend(255, 128, 150), Blend(0, 128, 200)));
  EXPECT_EQ(PixelAt(r.bitmap, 2, 0), Rgb(0, 0, 255));
  EXPECT_EQ(PixelAt(r.bitmap, 3, 0), Rgb(Blend(9, 1, 100), Blend(99, 1, 150), Blend(199, 1, 200)));
  EXPECT_EQ(r.params.PngBackground, Rgb(100, 150, 200));
  EXPECT_EQ(r.params.SamplesPerPixel, 4);
  EXPECT_EQ(r.params.BitsPerSample, 8);
}

TEST(PngRead, SixteenBitAlphaAndGreyAlphaAndTransparencyUseTheSameBackground) {
  const TRGB background = Rgb(100, 150, 200);
  struct Case {
    const char* name;
    Bytes file;
    TRGB transparent;  // the first pixel, fully transparent
    TRGB opaque;       // the second pixel, fully opaque
    int samples;
  };
  const Case cases[] = {
      {"rgba16", Png(Ihdr(2, 1, 16, 6), {}, {Be16({0xFFFF, 0, 0, 0, 0x1200, 0x3400, 0x5600, 0xFFFF})}),
       background, Rgb(0x12, 0x34, 0x56), 4},
      {"grey-alpha8", Png(Ihdr(2, 1, 8, 4), {}, {{50, 0, 60, 255}}), background, Rgb(60, 60, 60), 2},
      {"grey-alpha16", Png(Ihdr(2, 1, 16, 4), {}, {Be16({0x5000, 0, 0x3C00, 0xFFFF})}), background,
       Rgb(60, 60, 60), 2},
      {"rgb-trns", Png(Ihdr(2, 1, 8, 2), Chunk("tRNS", Be16({1, 2, 3})), {{1, 2, 3, 1, 2, 4}}), background,
       Rgb(1, 2, 4), 3},
      {"grey8-trns", Png(Ihdr(2, 1, 8, 0), Chunk("tRNS", Be16({11})), {{11, 12}}), background,
       Rgb(12, 12, 12), 1},
      {"grey16-trns", Png(Ihdr(2, 1, 16, 0), Chunk("tRNS", Be16({0x0B00})), {Be16({0x0B00, 0x0B01})}),
       background, Rgb(11, 11, 11), 1},
      {"grey2-trns", Png(Ihdr(2, 1, 2, 0), Chunk("tRNS", Be16({1})), {{0b01100000}}), background,
       Rgb(170, 170, 170), 1},
      {"palette-trns",
       Png(Ihdr(2, 1, 8, 3), Chunk("PLTE", {1, 2, 3, 4, 5, 6}) + Chunk("tRNS", {0}), {{0, 1}}), background,
       Rgb(4, 5, 6), 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ReadResult r;
    r.params.PngBackground = background;
    Read(k.file, r);
    ASSERT_FALSE(r.aborted);
    EXPECT_EQ(PixelAt(r.bitmap, 0, 0), k.transparent);
    EXPECT_EQ(PixelAt(r.bitmap, 1, 0), k.opaque);
    EXPECT_EQ(r.params.SamplesPerPixel, k.samples);
  }
}

TEST(PngRead, ABackgroundChunkIsUsedAndBecomesPngBackground) {
  struct Case {
    const char* name;
    Bytes file;
    TRGB expected;
  };
  const Bytes rgbaRow{255, 0, 0, 0, 0, 255, 0, 255};
  const Case cases[] = {
      {"rgba8", Png(Ihdr(2, 1, 8, 6), Chunk("bKGD", Be16({10, 20, 30})), {rgbaRow}), Rgb(10, 20, 30)},
      {"rgba16",
       Png(Ihdr(2, 1, 16, 6), Chunk("bKGD", Be16({0x1000, 0x2000, 0x3000})),
           {Be16({0xFFFF, 0, 0, 0, 0, 0xFFFF, 0, 0xFFFF})}),
       Rgb(0x10, 0x20, 0x30)},
      {"grey-alpha8", Png(Ihdr(2, 1, 8, 4), Chunk("bKGD", Be16({77})), {{9, 0, 255, 255}}), Rgb(77, 77, 77)},
      {"grey4-trns", Png(Ihdr(2, 1, 4, 0), Chunk("bKGD", Be16({3})) + Chunk("tRNS", Be16({2})), {{0x2F}}),
       Rgb(51, 51, 51)},
      {"palette",
       Png(Ihdr(2, 1, 8, 3),
           Chunk("PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9}) + Chunk("tRNS", {0}) + Chunk("bKGD", {2}), {{0, 1}}),
       Rgb(7, 8, 9)},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ReadResult r;
    r.params.PngBackground = Rgb(200, 201, 202);
    Read(k.file, r);
    ASSERT_FALSE(r.aborted);
    EXPECT_EQ(PixelAt(r.bitmap, 0, 0), k.expected);
    EXPECT_EQ(r.params.PngBackground, k.expected);
  }
}

// ---------------------------------------------------------------- parameters

TEST(PngParams, ParamsOnlyFillsTheRecordAndLeavesTheBitmap) {
  const Bytes file =
      Png(Ihdr(3, 2, 4, 3, 0), Chunk("PLTE", {1, 2, 3, 4, 5, 6}), {{0x01, 0x00}, {0x10, 0x00}});
  ReadResult r;
  r.bitmap.Allocate(5, 5, pf24bit);
  r.bitmap.Fill(RGBToColor(1, 2, 3));
  Read(file, r, true);
  EXPECT_FALSE(r.aborted);
  EXPECT_EQ(r.params.Width, 3);
  EXPECT_EQ(r.params.Height, 2);
  EXPECT_EQ(r.params.BitsPerSample, 4);
  EXPECT_EQ(r.params.ColorMapCount, 2);
  EXPECT_FALSE(r.params.PngInterlaced);
  EXPECT_EQ(r.bitmap.Width(), 5);
  EXPECT_EQ(PixelAt(r.bitmap, 4, 4), Rgb(1, 2, 3));
}

TEST(PngParams, NinetySixDpiIs3780PixelsPerMetreBothWays) {
  TBitmap image(3, 2, pf24bit);
  TIOParams params;
  params.DpiX = 96;
  params.DpiY = 300;
  const Bytes file = Write(image, params);
  const std::optional<ChunkView> phys = Find(Chunks(file), "pHYs");
  ASSERT_NE(phys, std::nullopt);
  EXPECT_EQ(GetBE32(phys->data.data()), 3780u);
  EXPECT_EQ(GetBE32(phys->data.data() + 4), 11811u);
  EXPECT_EQ(phys->data[8], 1);
  ReadResult r;
  Read(file, r);
  EXPECT_EQ(r.params.DpiX, 96);
  EXPECT_EQ(r.params.DpiY, 300);

  // No pHYs chunk, or zero pixels per metre: the screen's resolution. The unit byte is not looked at.
  const TDefaultResolution saved = DefaultResolution();
  DefaultResolution() = TDefaultResolution{120, 72};
  ReadResult none;
  Read(Png(Ihdr(1, 1, 8, 0), {}, {{0}}), none);
  EXPECT_EQ(none.params.DpiX, 120);
  EXPECT_EQ(none.params.DpiY, 72);
  Bytes physData;
  PutBE32(physData, 0);
  PutBE32(physData, 2835);
  physData.push_back(0);
  ReadResult zero;
  Read(Png(Ihdr(1, 1, 8, 0), Chunk("pHYs", physData), {{0}}), zero);
  EXPECT_EQ(zero.params.DpiX, 120);
  EXPECT_EQ(zero.params.DpiY, 72);
  DefaultResolution() = saved;
}

// ---------------------------------------------------------------- writing

TEST(PngWrite, DefaultsWriteEightBitRgbWithTheBackgroundAndNoFilter) {
  TBitmap image(3, 2, pf24bit);
  SetPixel(image, 0, 0, Rgb(1, 2, 3));
  SetPixel(image, 2, 1, Rgb(250, 251, 252));
  TIOParams params;
  params.PngBackground = Rgb(10, 20, 30);
  const Bytes file = Write(image, params);
  ASSERT_GE(file.size(), 8u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), kSignature);
  const auto chunks = Chunks(file);
  ASSERT_FALSE(chunks.empty());
  EXPECT_EQ(chunks.front().type, "IHDR");
  EXPECT_EQ(chunks.back().type, "IEND");
  const Bytes& ihdr = chunks.front().data;
  EXPECT_EQ(GetBE32(&ihdr[0]), 3u);
  EXPECT_EQ(GetBE32(&ihdr[4]), 2u);
  EXPECT_EQ(Bytes(ihdr.begin() + 8, ihdr.end()), (Bytes{8, 2, 0, 0, 0}));
  const std::optional<ChunkView> bkgd = Find(chunks, "bKGD");
  ASSERT_NE(bkgd, std::nullopt);
  EXPECT_EQ(bkgd->data, Be16({10, 20, 30}));
  // Rows red first, each with filter byte 0.
  const Bytes raw = InflatedImageData(file, 2 * 10);
  EXPECT_EQ(raw, (Bytes{0, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 250, 251, 252}));
}

TEST(PngWrite, FilterChoiceShowsInEveryRowAndCompressionLevelInTheSize) {
  TBitmap image(64, 40, pf24bit);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 64; ++x) SetPixel(image, x, y, Rgb(x * 4, y * 6, (x + y) % 7));
  }
  const std::uint8_t filterBytes[] = {0, 1, 4};
  for (std::uint8_t filter = 0; filter < 3; ++filter) {
    TIOParams params;
    params.PngFilter = filter;
    const Bytes file = Write(image, params);
    const Bytes raw = InflatedImageData(file, 40 * (1 + 64 * 3));
    ASSERT_EQ(raw.size(), 40u * (1 + 64 * 3));
    for (int y = 0; y < 40; ++y) {
      EXPECT_EQ(raw[static_cast<std::size_t>(y) * (1 + 64 * 3)], filterBytes[filter])
          << int{filter} << " row " << y;
    }
    ReadResult r;
    Read(file, r);
    EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(image));
  }
  // A value outside 0..2 leaves libpng's own choice, which varies by row on this picture.
  TIOParams other;
  other.PngFilter = 7;
  const Bytes raw = InflatedImageData(Write(image, other), 40 * (1 + 64 * 3));
  std::set<std::uint8_t> seen;
  for (int y = 0; y < 40; ++y) seen.insert(raw[static_cast<std::size_t>(y) * (1 + 64 * 3)]);
  EXPECT_GT(seen.size(), 1u);

  TIOParams stored;
  stored.PngCompression = 0;
  TIOParams best;
  best.PngCompression = 9;
  const std::size_t storedSize = Write(image, stored).size();
  const std::size_t bestSize = Write(image, best).size();
  EXPECT_GT(storedSize, 40u * (1 + 64 * 3));
  EXPECT_LT(bestSize * 5, storedSize * 4);
}

TEST(PngWrite, OneSampleAtFourBitsWritesAFullEightBitPalette) {
  TBitmap image(5, 3, pf24bit);
  const TRGB colours[3] = {Rgb(200, 8, 8), Rgb(8, 200, 8), Rgb(8, 8, 200)};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) SetPixel(image, x, y, colours[(x + y) % 3]);
  }
  TIOParams params;
  params.SamplesPerPixel = 1;
  params.BitsPerSample = 4;
  params.PngBackground = Rgb(8, 200, 8);
  const Bytes file = Write(image, params);
  const auto chunks = Chunks(file);
  EXPECT_EQ(Bytes(chunks.front().data.begin() + 8, chunks.front().data.begin() + 10), (Bytes{8, 3}));
  const std::optional<ChunkView> plte = Find(chunks, "PLTE");
  ASSERT_NE(plte, std::nullopt);
  EXPECT_EQ(plte->data.size(), 768u);
  const std::optional<ChunkView> bkgd = Find(chunks, "bKGD");
  ASSERT_NE(bkgd, std::nullopt);
  ASSERT_EQ(bkgd->data.size(), 1u);
  const std::size_t index = bkgd->data[0];
  EXPECT_EQ(Bytes(plte->data.begin() + 3 * index, plte->data.begin() + 3 * index + 3), (Bytes{8, 200, 8}));

  ReadResult r;
  Read(file, r);
  ASSERT_FALSE(r.aborted);
  // Three colours fit the palette exactly.
  EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(image));
  EXPECT_EQ(r.params.ColorMapCount, 256);
  EXPECT_EQ(r.params.BitsPerSample, 8);
}

TEST(PngWrite, OneBitChoicesFollowTheRecord) {
  // A 1-bit bitmap goes out as its bits; two colours become black and white, darker as black; many
  // colours are dithered.
  TBitmap mono(11, 2, pf1bit);
  mono.ScanLine(0)[0] = 0b10100101;
  mono.ScanLine(0)[1] = 0b11000000;
  mono.ScanLine(1)[0] = 0b00011000;
  TIOParams params;
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  ReadResult r;
  Read(Write(mono, params), r);
  ASSERT_EQ(r.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(mono));

  TBitmap two(4, 1, pf24bit);
  for (int x = 0; x < 4; ++x) SetPixel(two, x, 0, x % 2 ? Rgb(250, 240, 0) : Rgb(0, 20, 90));
  const Bytes twoFile = Write(two, params);
  const Bytes twoHeader = Chunks(twoFile).front().data;
  EXPECT_EQ(Bytes(twoHeader.begin() + 8, twoHeader.begin() + 10), (Bytes{1, 0}));
  ReadResult t;
  Read(twoFile, t);
  ASSERT_EQ(t.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(t.bitmap.ScanLine(0)[0], 0b01010000);

  // BitsPerSample 1 asks for two colours even when SamplesPerPixel says RGB.
  TIOParams rgbOne;
  rgbOne.BitsPerSample = 1;
  rgbOne.SamplesPerPixel = 3;
  TBitmap many(16, 16, pf24bit);
  FillRandom(many, 3);
  ReadResult d;
  Read(Write(many, rgbOne), d);
  EXPECT_EQ(d.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(many.PixelFormat(), pf24bit);  // the caller's bitmap is not changed

  // A 1-bit bitmap saved with the defaults is written as true colour.
  TIOParams defaults;
  ReadResult e;
  Read(Write(mono, defaults), e);
  ASSERT_EQ(e.bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(e.bitmap, 0, 0), Rgb(255, 255, 255));
  EXPECT_EQ(PixelAt(e.bitmap, 1, 0), Rgb(0, 0, 0));
}

TEST(PngWrite, LibraryErrorsRaiseEPngWriteErrorAndStreamErrorsPassThrough) {
  TBitmap empty;
  TIOParams params;
  TMemoryStream stream;
  bool aborted = false;
  EXPECT_THROW(PngWriteStream(stream, empty, params, TProgressContext{{}, nullptr, &aborted}),
               EPngWriteError);

  class TFailingStream final : public TStream {
   public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    void Write(const void*, std::size_t) override { throw EStreamError("disk full"); }
    std::int64_t Position() const override { return 0; }
    void Seek(std::int64_t) override {}
    std::int64_t Size() const override { return 0; }
  } failing;
  TBitmap image(4, 4, pf24bit);
  EXPECT_THROW(PngWriteStream(failing, image, params, TProgressContext{{}, nullptr, &aborted}), EStreamError);
}

// ---------------------------------------------------------------- interlacing and progress

TEST(PngProgress, InterlacedFilesReportOverPassesTimesRowsAndFillEveryRow) {
  TBitmap image(13, 11, pf24bit);
  FillRandom(image, 7);
  TIOParams params;
  params.PngInterlaced = true;
  TObject sender;
  std::vector<int> written;
  bool aborted = false;
  TProgressContext writing{[&](TObject&, int p) { written.push_back(p); }, &sender, &aborted};
  TMemoryStream stream;
  PngWriteStream(stream, image, params, writing);
  ASSERT_EQ(written.size(), 7u * 11);
  EXPECT_EQ(written.back(), 100);
  EXPECT_EQ(stream.Data()[8 + 8 + 12], 1);  // the IHDR's interlace byte

  std::vector<int> read;
  TProgressContext reading{[&](TObject&, int p) { read.push_back(p); }, &sender, &aborted};
  stream.Seek(0);
  TBitmap back;
  TIOParams backParams;
  PngReadStream(stream, back, backParams, false, reading);
  ASSERT_FALSE(aborted);
  EXPECT_TRUE(backParams.PngInterlaced);
  EXPECT_EQ(PixelBytesTopDown(back), PixelBytesTopDown(image));
  ASSERT_EQ(read.size(), 7u * 11);
  // The integer part of counter x 100 / 77.
  for (std::size_t i = 0; i < read.size(); ++i) EXPECT_EQ(read[i], static_cast<int>((i + 1) * (100.0 / 77)));
}

TEST(PngProgress, AnAbortStopsBetweenRowsOnBothSides) {
  TBitmap image(8, 20, pf24bit);
  FillRandom(image, 8);
  TObject sender;
  bool aborted = false;
  int calls = 0;
  TProgressContext stopAtFive{[&](TObject&, int) {
                                if (++calls == 5) aborted = true;
                              },
                              &sender, &aborted};
  TIOParams params;
  TMemoryStream stream;
  PngWriteStream(stream, image, params, stopAtFive);
  EXPECT_EQ(calls, 5);
  // The file has no end: no IEND.
  EXPECT_FALSE(Find(Chunks(stream.Data()), "IEND").has_value());

  TMemoryStream full;
  aborted = false;
  PngWriteStream(full, image, params, TProgressContext{{}, nullptr, &aborted});
  full.Seek(0);
  calls = 0;
  TBitmap back;
  PngReadStream(full, back, params, false, stopAtFive);
  EXPECT_EQ(calls, 5);
  EXPECT_TRUE(aborted);
  EXPECT_EQ(std::memcmp(back.ScanLine(4), image.ScanLine(4), 24), 0);
  EXPECT_EQ(PixelAt(back, 0, 5), Rgb(0, 0, 0));
}

// ---------------------------------------------------------------- hidden text

TEST(PngHiddenText, SurvivesADefaultSaveAndReloadByteForByte) {
  test::HeadlessView view;
  view.Bitmap()->Allocate(203, 97, pf24bit);
  FillRandom(*view.Bitmap(), 11);
  view.Bitmap()->FillRect(20, 10, 120, 60, RGBToColor(40, 50, 60));
  TImageProc proc;
  proc.SetAttachedView(&view);
  proc.AutoUndo = false;
  std::mt19937 random(5);
  std::string secret(3000, '\0');
  for (char& c : secret) c = static_cast<char>(random());
  ASSERT_EQ(proc.WriteHiddenText(secret), 3000);
  const Bytes pixels = PixelBytesTopDown(*view.Bitmap());

  TIOParams params;
  const Bytes file = Write(*view.Bitmap(), params);
  view.Bitmap()->Allocate(1, 1, pf24bit);
  ReadResult r;
  Read(file, r);
  ASSERT_FALSE(r.aborted);
  view.Bitmap()->Swap(r.bitmap);
  EXPECT_EQ(PixelBytesTopDown(*view.Bitmap()), pixels);
  std::string back;
  EXPECT_EQ(proc.ReadHiddenText(back), 3000);
  EXPECT_EQ(back, secret);
}

// ---------------------------------------------------------------- hostile input

Bytes SmallPicture() {
  TBitmap image(17, 9, pf24bit);
  FillRandom(image, 12);
  TIOParams params;
  return Write(image, params);
}

TEST(PngHostile, ACutBeforeTheFirstRowAbortsWithoutDamage) {
  // The whole image data of this picture fits in one piece of compressed data, so no cut inside it
  // leaves a decodable row.
  const Bytes file = SmallPicture();
  const std::size_t iendAt = file.size() - 12;
  for (std::size_t size = 0; size < iendAt - 4; ++size) {
    ReadResult r;
    Read(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)), r);
    EXPECT_TRUE(r.aborted) << size;
    EXPECT_EQ(r.damage, "") << size;
  }
}

TEST(PngHostile, AFileCutAfterItsImageDataLosesNoRowAndLoads) {
  TBitmap image(17, 9, pf24bit);
  FillRandom(image, 12);
  TIOParams params;
  const Bytes file = Write(image, params);
  // Without the end chunk, and without the last image chunk's checksum as well.
  for (const std::size_t cut : {12, 13, 16}) {
    ReadResult r;
    Read(Bytes(file.begin(), file.end() - static_cast<std::ptrdiff_t>(cut)), r);
    EXPECT_FALSE(r.aborted) << cut;
    EXPECT_EQ(r.damage, "") << cut;
    EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(image)) << cut;
  }
}

// A picture whose compressed rows span many of libpng's 8 KiB input pieces: noise, which does not
// compress, at 601 bytes a row.
Bytes NoisePicture(TBitmap& image, bool interlaced) {
  image.Allocate(200, 120, pf24bit);
  FillRandom(image, 21);
  TIOParams params;
  params.PngInterlaced = interlaced;
  return Write(image, params);
}

TEST(PngTruncated, ACutKeepsEveryWholeRowBeforeItAndSaysHowMany) {
  TBitmap image;
  const Bytes file = NoisePicture(image, false);
  for (std::size_t size = 9000; size < file.size() - 100; size += 4567) {
    ReadResult r;
    Read(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)), r);
    ASSERT_TRUE(r.aborted) << size;
    ASSERT_EQ(r.bitmap.Height(), 120);
    int whole = 0;
    while (whole < 120 && std::memcmp(r.bitmap.ScanLine(whole), image.ScanLine(whole), 600) == 0) ++whole;
    // At most one input piece (and a chunk header) of data is lost with the cut.
    EXPECT_GE(whole, static_cast<int>((size - 8192 - 200) / 602)) << size;
    EXPECT_EQ(r.damage, "the data ends after row " + std::to_string(whole) + " of 120") << size;
    for (int y = whole; y < 120; ++y) {
      const std::uint8_t* row = r.bitmap.ScanLine(y);
      ASSERT_EQ(std::count(row, row + 600, 0), 600) << size << " row " << y;
    }
  }
}

TEST(PngTruncated, ACutInterlacedFileKeepsTheFinishedPassesAsACoarserPicture) {
  TBitmap image;
  const Bytes file = NoisePicture(image, true);
  // Adam7: the pass (0..6) that sets each pixel.
  const auto passOf = [](int x, int y) {
    if (y % 8 == 0 && x % 8 == 0) return 0;
    if (y % 8 == 0 && x % 8 == 4) return 1;
    if (y % 8 == 4 && x % 4 == 0) return 2;
    if (y % 4 == 0 && x % 4 == 2) return 3;
    if (y % 4 == 2 && x % 2 == 0) return 4;
    if (y % 2 == 0) return 5;
    return 6;
  };
  // The passes hold 1/64, 1/64, 1/32, 1/16, 1/8, 1/4 and 1/2 of the pixels, so the sixth pass
  // takes the data from 25% to 50% and the seventh the rest; a cut loses up to 8 KiB (11%) more.
  for (const double share : {0.45, 0.8}) {
    ReadResult r;
    Read(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(share * file.size())), r);
    ASSERT_TRUE(r.aborted);
    const int pass = share < 0.5 ? 5 : 6;
    EXPECT_EQ(r.damage.rfind("the data ends in pass " + std::to_string(pass + 1) +
                                 " of 7 of the interlaced picture, at row ",
                             0),
              0u)
        << r.damage;
    int wrong = 0;
    int black = 0;
    for (int y = 0; y < 120; ++y) {
      for (int x = 0; x < 200; ++x) {
        if (passOf(x, y) < pass) wrong += PixelAt(r.bitmap, x, y) != PixelAt(image, x, y);
        black += PixelAt(r.bitmap, x, y) == Rgb(0, 0, 0);
      }
    }
    EXPECT_EQ(wrong, 0) << share;
    // Every pixel holds a colour of the finished passes: none is left unset.
    EXPECT_EQ(black, 0) << share;
  }
  // A cut inside the first pass's first rows: nothing to show.
  ReadResult early;
  Read(Bytes(file.begin(), file.begin() + 200), early);
  EXPECT_TRUE(early.aborted);
  EXPECT_EQ(early.damage, "");
}

TEST(PngHostile, BadChecksumsAbortAndAreReportedOnceRowsAreIn) {
  const Bytes file = SmallPicture();
  // The IHDR's CRC: nothing decoded.
  Bytes badHeader = file;
  badHeader[8 + 8 + 13] ^= 0x55;
  ReadResult r;
  Read(badHeader, r);
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(r.damage, "");
  // The IDAT's CRC, checked once its rows are in: they stay, and the picture is marked damaged.
  Bytes badData = file;
  for (std::size_t i = 8; i + 8 < badData.size(); i += 12 + GetBE32(&badData[i])) {
    if (std::memcmp(&badData[i + 4], "IDAT", 4) == 0) {
      badData[i + 8 + GetBE32(&badData[i])] ^= 0x55;
      break;
    }
  }
  ReadResult rows;
  Read(badData, rows);
  EXPECT_TRUE(rows.aborted);
  EXPECT_EQ(rows.damage, "the data is damaged after the last row, so some rows may be wrong");
  ReadResult good;
  Read(file, good);
  EXPECT_EQ(PixelBytesTopDown(rows.bitmap), PixelBytesTopDown(good.bitmap));
  // Not a PNG at all.
  ReadResult other;
  Read(Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, other);
  EXPECT_TRUE(other.aborted);
  EXPECT_EQ(other.damage, "");
}

TEST(PngHostile, HugeDeclaredSizesAbortBeforeAllocating) {
  struct Case {
    std::uint32_t width;
    std::uint32_t height;
    int depth;
    int colourType;
  };
  // Past the side limit; within it but past the pixel-memory limit; a 1-bit image of the same size
  // is within both and simply runs out of data.
  const Case cases[] = {
      {70000, 1, 8, 2}, {1, 70000, 8, 2}, {0x7FFFFFFF, 0x7FFFFFFF, 8, 6}, {65535, 65535, 8, 2}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.width) + " x " + std::to_string(k.height));
    ReadResult r;
    r.bitmap.Allocate(2, 2, pf24bit);
    Read(Png(Ihdr(k.width, k.height, k.depth, k.colourType), {}, {{0, 0, 0}}), r);
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(r.bitmap.Width(), 2);
  }
  ReadResult mono;
  Read(Png(Ihdr(65535, 65535, 1, 0), {}, {Bytes(8192, 0xFF)}), mono);
  EXPECT_TRUE(mono.aborted);
  EXPECT_EQ(mono.bitmap.Width(), 65535);
  EXPECT_EQ(mono.bitmap.ScanLine(0)[0], 0xFF);
}

TEST(PngHostile, AStreamThatFailsPassesItsErrorThroughTheLibrary) {
  class TFailingStream final : public TStream {
   public:
    explicit TFailingStream(Bytes data) : data_(std::move(data)) {}
    std::size_t Read(void* buffer, std::size_t count) override {
      if (position_ + count > 60) throw EStreamError("read error");
      std::memcpy(buffer, data_.data() + position_, count);
      position_ += count;
      return count;
    }
    void Write(const void*, std::size_t) override {}
    std::int64_t Position() const override { return static_cast<std::int64_t>(position_); }
    void Seek(std::int64_t) override {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }

   private:
    Bytes data_;
    std::size_t position_ = 0;
  } failing(SmallPicture());
  TBitmap bitmap;
  TIOParams params;
  bool aborted = false;
  EXPECT_THROW(PngReadStream(failing, bitmap, params, false, TProgressContext{{}, nullptr, &aborted}),
               EStreamError);
}

TEST(PngHostile, ReadsFromThePositionAndStopsAfterTheEndChunk) {
  const Bytes file = SmallPicture();
  const Bytes padded = Bytes{1, 2, 3} + file + Bytes{9, 9};
  TMemoryStream stream(padded);
  stream.Seek(3);
  TBitmap bitmap;
  TIOParams params;
  bool aborted = false;
  PngReadStream(stream, bitmap, params, false, TProgressContext{{}, nullptr, &aborted});
  EXPECT_FALSE(aborted);
  EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(3 + file.size()));
}

}  // namespace
