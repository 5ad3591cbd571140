#include "io/TgaCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <random>
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

// The fields of an 18-byte header that the tests vary.
struct Header {
  std::uint8_t idLength = 0;
  std::uint8_t mapType = 0;
  std::uint8_t type = 2;
  std::uint16_t mapFirst = 0;
  std::uint16_t mapLength = 0;
  std::uint8_t mapBits = 0;
  std::uint16_t width = 1;
  std::uint16_t height = 1;
  std::uint8_t depth = 24;
  std::uint8_t descriptor = 0;
};

Bytes HeaderBytes(const Header& h) {
  Bytes b(18, 0);
  b[0] = h.idLength;
  b[1] = h.mapType;
  b[2] = h.type;
  PutLE16(&b[3], h.mapFirst);
  PutLE16(&b[5], h.mapLength);
  b[7] = h.mapBits;
  PutLE16(&b[12], h.width);
  PutLE16(&b[14], h.height);
  b[16] = h.depth;
  b[17] = h.descriptor;
  return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using ReadResult = veilora::test::TReadResult;

void Read(const Bytes& file, ReadResult& out, bool paramsOnly = false) {
  veilora::test::ReadFromMemory(TgaReadStream, file, out, paramsOnly);
}

Bytes Write(TBitmap& bitmap, TIOParams& params) {
  return veilora::test::WriteToMemory(TgaWriteStream, bitmap, params);
}

// ---------------------------------------------------------------- writer layout

TEST(TgaWrite, RawTrueColourHeaderRowsAndFooterAreExact) {
  TBitmap image(2, 2, pf24bit);
  SetPixel(image, 0, 0, Rgb(1, 2, 3));
  SetPixel(image, 1, 0, Rgb(4, 5, 6));
  SetPixel(image, 0, 1, Rgb(7, 8, 9));
  SetPixel(image, 1, 1, Rgb(10, 11, 12));
  TIOParams params;
  params.TgaCompressed = false;
  params.TgaDescription = "hi";
  params.TgaXPos = 5;
  params.TgaYPos = 300;
  const Bytes file = Write(image, params);

  const Bytes head{2, 0, 2, 0, 0, 0, 0, 0, 5, 0, 44, 1, 2, 0, 2, 0, 24, 0};
  ASSERT_EQ(file.size(), 18u + 2 + 12 + 495 + 26);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), head);
  EXPECT_EQ(std::string(file.begin() + 18, file.begin() + 20), "hi");
  // Bottom row first, blue-green-red, no row padding.
  EXPECT_EQ(Bytes(file.begin() + 20, file.begin() + 32), (Bytes{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
  const std::uint8_t* footer = file.data() + file.size() - 26;
  EXPECT_EQ(GetLE32(footer), 32u);  // the extension area follows the pixels
  EXPECT_EQ(GetLE32(footer + 4), 0u);
  EXPECT_EQ(std::memcmp(footer + 8, "TRUEVISION-XFILE.\0", 18), 0);
  EXPECT_EQ(GetLE16(file.data() + 32), 495);
}

TEST(TgaWrite, RunLengthPacketsStopAt128PixelsAndAtTheRowEnd) {
  // Row of 131: 130 equal pixels, then one different; a second row of 3 distinct pixels.
  TBitmap image(131, 2, pf24bit);
  for (int x = 0; x < 130; ++x) SetPixel(image, x, 1, Rgb(9, 8, 7));
  SetPixel(image, 130, 1, Rgb(1, 1, 1));
  for (int x = 0; x < 131; ++x) SetPixel(image, x, 0, Rgb(9, 8, 7));
  SetPixel(image, 0, 0, Rgb(1, 2, 3));
  SetPixel(image, 1, 0, Rgb(4, 5, 6));
  TIOParams params;
  const Bytes file = Write(image, params);
  ASSERT_EQ(file[2], 10);
  // Bottom row (row 1): run of 128, run of 2, raw of 1. It must not run into the next row.
  const Bytes bottom{0xFF, 7, 8, 9, 0x81, 7, 8, 9, 0x00, 1, 1, 1};
  EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 30), bottom);
  // Top row: a raw packet of 2 distinct pixels, a run of 128, and the lone last pixel as raw.
  const Bytes top{0x01, 3, 2, 1, 6, 5, 4, 0xFF, 7, 8, 9, 0x00, 7, 8, 9};
  EXPECT_EQ(Bytes(file.begin() + 30, file.begin() + 45), top);
}

TEST(TgaWrite, GreyRunsOfTwoStayInsideRawPackets) {
  TBitmap image(6, 1, pf24bit);
  const std::uint8_t levels[6] = {10, 10, 20, 30, 30, 30};
  for (int x = 0; x < 6; ++x) SetPixel(image, x, 0, Rgb(levels[x], levels[x], levels[x]));
  TIOParams params;
  params.SamplesPerPixel = 1;
  params.TgaGrayLevel = true;
  const Bytes file = Write(image, params);
  EXPECT_EQ(file[2], 11);
  EXPECT_EQ(file[16], 8);
  EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 24), (Bytes{0x02, 10, 10, 20, 0x82, 30}));
}

// ---------------------------------------------------------------- reader layouts

// A 2 x 2 picture A B / C D stored in each row order and pixel direction.
TEST(TgaRead, BothOriginsAndRightToLeftPutPixelsInPlace) {
  const TRGB a = Rgb(1, 0, 0), b = Rgb(2, 0, 0), c = Rgb(3, 0, 0), d = Rgb(4, 0, 0);
  auto px = [](TRGB p) { return Bytes{p.b, p.g, p.r}; };
  struct Case {
    std::uint8_t descriptor;
    Bytes data;
  };
  const Case cases[] = {
      {0x00, px(c) + px(d) + px(a) + px(b)},  // bottom-left
      {0x20, px(a) + px(b) + px(c) + px(d)},  // top-left
      {0x10, px(d) + px(c) + px(b) + px(a)},  // bottom-right
      {0x30, px(b) + px(a) + px(d) + px(c)},  // top-right
  };
  for (const Case& k : cases) {
    for (std::uint8_t type : {2, 10}) {
      Header h{.type = type, .width = 2, .height = 2, .descriptor = k.descriptor};
      Bytes data = k.data;
      if (type == 10) {  // all four pixels in one raw packet, which crosses the row boundary
        data.insert(data.begin(), 0x03);
      }
      ReadResult r;
      Read(HeaderBytes(h) + data, r);
      SCOPED_TRACE(testing::Message() << "descriptor " << int{k.descriptor} << " type " << int{type});
      ASSERT_FALSE(r.aborted);
      EXPECT_EQ(PixelAt(r.bitmap, 0, 0), a);
      EXPECT_EQ(PixelAt(r.bitmap, 1, 0), b);
      EXPECT_EQ(PixelAt(r.bitmap, 0, 1), c);
      EXPECT_EQ(PixelAt(r.bitmap, 1, 1), d);
    }
  }
}

TEST(TgaRead, FifteenAndSixteenBitChannelsScaleFiveBitsToEight) {
  // Channels as v << 3 | v >> 2: 0 -> 0, 1 -> 8, 16 -> 132, 31 -> 255. The top bit is ignored.
  for (std::uint8_t depth : {15, 16}) {
    Header h{.type = 2, .width = 4, .height = 1, .depth = depth};
    Bytes data(8);
    PutLE16(&data[0], 0x7FFF);
    PutLE16(&data[2], 0x801F);                     // blue 31, attribute bit set
    PutLE16(&data[4], (1 << 10) | (16 << 5) | 0);  // red 1, green 16
    PutLE16(&data[6], 0);
    ReadResult r;
    Read(HeaderBytes(h) + data, r);
    ASSERT_FALSE(r.aborted);
    EXPECT_EQ(PixelAt(r.bitmap, 0, 0), Rgb(255, 255, 255));
    EXPECT_EQ(PixelAt(r.bitmap, 1, 0), Rgb(0, 0, 255));
    EXPECT_EQ(PixelAt(r.bitmap, 2, 0), Rgb(8, 132, 0));
    EXPECT_EQ(PixelAt(r.bitmap, 3, 0), Rgb(0, 0, 0));
    EXPECT_EQ(r.params.BitsPerSample, 5);
    EXPECT_EQ(r.params.SamplesPerPixel, 3);
  }
}

TEST(TgaRead, ThirtyTwoBitDropsAlphaAndGreyFillsAllChannels) {
  ReadResult rgba;
  Read(HeaderBytes({.type = 2, .width = 1, .height = 1, .depth = 32}) + Bytes{3, 2, 1, 0}, rgba);
  EXPECT_EQ(PixelAt(rgba.bitmap, 0, 0), Rgb(1, 2, 3));
  ReadResult grey;
  Read(HeaderBytes({.type = 11, .width = 3, .height = 1, .depth = 8}) + Bytes{0x82, 77}, grey);
  EXPECT_EQ(PixelAt(grey.bitmap, 2, 0), Rgb(77, 77, 77));
  EXPECT_TRUE(grey.params.TgaGrayLevel);
  EXPECT_TRUE(grey.params.TgaCompressed);
  EXPECT_EQ(grey.params.SamplesPerPixel, 1);
}

TEST(TgaRead, ColourMapStartsAtItsFirstEntryIndexAndOtherIndicesAreBlack) {
  // Three 24-bit entries for indices 10, 11, 12; one 16-bit map as well.
  Header h{.mapType = 1, .type = 1, .mapFirst = 10, .mapLength = 3, .mapBits = 24, .width = 5, .depth = 8};
  const Bytes map{0, 0, 200, 0, 200, 0, 200, 0, 0};  // red, green, blue
  ReadResult r;
  Read(HeaderBytes(h) + map + Bytes{10, 11, 12, 3, 255}, r);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(PixelAt(r.bitmap, 0, 0), Rgb(200, 0, 0));
  EXPECT_EQ(PixelAt(r.bitmap, 1, 0), Rgb(0, 200, 0));
  EXPECT_EQ(PixelAt(r.bitmap, 2, 0), Rgb(0, 0, 200));
  EXPECT_EQ(PixelAt(r.bitmap, 3, 0), Rgb(0, 0, 0));  // below the first entry
  EXPECT_EQ(PixelAt(r.bitmap, 4, 0), Rgb(0, 0, 0));  // past the map
  ASSERT_EQ(r.params.ColorMapCount, 13);
  EXPECT_EQ(r.params.ColorMap[11], Rgb(0, 200, 0));
  EXPECT_EQ(r.params.BitsPerSample, 8);

  Header h16{.mapType = 1, .type = 9, .mapFirst = 0, .mapLength = 3, .mapBits = 16, .width = 3, .depth = 8};
  ReadResult r16;
  Read(HeaderBytes(h16) + Bytes{0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00} + Bytes{0x02, 0, 1, 2}, r16);
  EXPECT_EQ(PixelAt(r16.bitmap, 0, 0), Rgb(255, 0, 0));
  EXPECT_EQ(PixelAt(r16.bitmap, 1, 0), Rgb(0, 255, 0));
  EXPECT_EQ(PixelAt(r16.bitmap, 2, 0), Rgb(0, 0, 255));
}

TEST(TgaRead, BlackAndWhiteMapsAndOneBitGreyLoadAsOneBit) {
  // Entry 0 white, entry 1 black: bits follow the colour, not the index.
  Header h{.mapType = 1, .type = 1, .mapLength = 2, .mapBits = 24, .width = 3, .depth = 8};
  ReadResult r;
  Read(HeaderBytes(h) + Bytes{255, 255, 255, 0, 0, 0} + Bytes{0, 1, 0}, r);
  ASSERT_EQ(r.bitmap.PixelFormat(), pf1bit);
  EXPECT_TRUE(BitAt(r.bitmap, 0, 0));
  EXPECT_FALSE(BitAt(r.bitmap, 1, 0));
  EXPECT_TRUE(BitAt(r.bitmap, 2, 0));
  EXPECT_EQ(r.params.BitsPerSample, 1);

  // Two other colours stay 24-bit (but still count as a two-colour file).
  ReadResult coloured;
  Read(HeaderBytes(h) + Bytes{0, 0, 255, 0, 255, 0} + Bytes{0, 1, 0}, coloured);
  EXPECT_EQ(coloured.bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(coloured.params.BitsPerSample, 1);

  // 1-bit grey, rows padded to whole bytes, leftmost pixel in the top bit.
  ReadResult bits;
  Read(HeaderBytes({.type = 3, .width = 10, .height = 1, .depth = 1}) + Bytes{0b10100000, 0b01000000}, bits);
  ASSERT_EQ(bits.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(bits.bitmap.ScanLine(0)[0], 0b10100000);
  EXPECT_EQ(bits.bitmap.ScanLine(0)[1], 0b01000000);
}

// ---------------------------------------------------------------- writer depth choices

class TgaWriteDepth : public ::testing::Test {
 protected:
  void SetUp() override {
    image.Allocate(37, 11, pf24bit);
    FillRandom(image, 7);
    before = PixelBytesTopDown(image);
  }
  TBitmap image;
  Bytes before;
  TIOParams params;
};

TEST_F(TgaWriteDepth, TwoColourPictureKeepsItsColoursDarkerFirst) {
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 37; ++x) SetPixel(image, x, y, (x + y) % 3 ? Rgb(250, 240, 10) : Rgb(20, 30, 90));
  }
  before = PixelBytesTopDown(image);
  params.BitsPerSample = 1;
  const Bytes file = Write(image, params);
  EXPECT_EQ(file[2], 9);
  EXPECT_EQ(file[16], 8);
  EXPECT_EQ(GetLE16(&file[5]), 2);
  ASSERT_EQ(params.ColorMapCount, 2);
  EXPECT_EQ(params.ColorMap[0], Rgb(20, 30, 90));
  ReadResult r;
  Read(file, r);
  EXPECT_EQ(PixelBytesTopDown(r.bitmap), before);
  EXPECT_EQ(PixelBytesTopDown(image), before);
}

TEST_F(TgaWriteDepth, OneBitBitmapComesBackAsTheSameBits) {
  TBitmap bits(37, 11, pf1bit);
  FillRandom(bits, 3);
  // The padding bits of the last byte of each row are not image.
  for (int y = 0; y < 11; ++y) bits.ScanLine(y)[4] &= 0xE0;
  params.BitsPerSample = 1;
  params.TgaCompressed = false;
  ReadResult r;
  Read(Write(bits, params), r);
  ASSERT_EQ(r.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(bits));
}

TEST_F(TgaWriteDepth, ManyColoursAtOneBitAreDitheredToBlackAndWhite) {
  params.BitsPerSample = 1;
  ReadResult r;
  Read(Write(image, params), r);
  EXPECT_EQ(r.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(PixelBytesTopDown(image), before);
}

TEST_F(TgaWriteDepth, GreyAndPaletteChoicesFollowTheRecord) {
  params.SamplesPerPixel = 1;
  params.TgaGrayLevel = true;
  Bytes file = Write(image, params);
  EXPECT_EQ(file[2], 11);
  ReadResult grey;
  Read(file, grey);
  const TRGB p = PixelAt(image, 5, 5);
  const int level = (299 * p.r + 587 * p.g + 114 * p.b + 500) / 1000;
  EXPECT_EQ(PixelAt(grey.bitmap, 5, 5), Rgb(level, level, level));

  params.TgaGrayLevel = false;
  file = Write(image, params);
  EXPECT_EQ(file[2], 9);
  EXPECT_EQ(file[1], 1);
  EXPECT_EQ(GetLE16(&file[5]), params.ColorMapCount);
  EXPECT_LE(params.ColorMapCount, 256);
  params.BitsPerSample = 4;
  file = Write(image, params);
  EXPECT_LE(GetLE16(&file[5]), 16);

  // A stale grey flag alone does not turn a colour save grey.
  params.BitsPerSample = 8;
  params.SamplesPerPixel = 3;
  params.TgaGrayLevel = true;
  file = Write(image, params);
  EXPECT_EQ(file[2], 10);
  EXPECT_EQ(PixelBytesTopDown(image), before);
}

// ---------------------------------------------------------------- extension area

TEST(TgaExtension, EveryFieldSurvivesASaveAndReload) {
  TBitmap image(3, 2, pf24bit);
  TIOParams params;
  params.TgaDescription = "A picture with a description";
  params.TgaAuthor = "Ada";
  params.TgaName = "Job 7";
  params.TgaDate = 45000.0 + (13 * 3600 + 14 * 60 + 15) / 86400.0;  // 15 March 2023 13:14:15
  params.TgaBackground = Rgb(10, 20, 30);
  params.TgaAspectRatio = 0.9;
  params.TgaGamma = 2.2;
  params.TgaXPos = 12;
  params.TgaYPos = 34;
  const Bytes file = Write(image, params);

  const std::uint8_t* area = file.data() + GetLE32(file.data() + file.size() - 26);
  EXPECT_EQ(GetLE16(area + 367), 3);  // month
  EXPECT_EQ(GetLE16(area + 369), 15);
  EXPECT_EQ(GetLE16(area + 371), 2023);
  EXPECT_EQ(GetLE16(area + 373), 13);
  EXPECT_EQ(GetLE16(area + 377), 15);
  EXPECT_EQ(Bytes(area + 470, area + 474), (Bytes{30, 20, 10, 0}));
  EXPECT_EQ(GetLE16(area + 474), 9);  // aspect 9/10
  EXPECT_EQ(GetLE16(area + 476), 10);
  EXPECT_EQ(GetLE16(area + 478), 11);  // gamma 11/5
  EXPECT_EQ(GetLE16(area + 480), 5);

  ReadResult r;
  Read(file, r, true);
  EXPECT_FALSE(r.aborted);
  EXPECT_EQ(r.params.TgaDescription, params.TgaDescription);
  EXPECT_EQ(r.params.TgaAuthor, "Ada");
  EXPECT_EQ(r.params.TgaName, "Job 7");
  EXPECT_NEAR(r.params.TgaDate, params.TgaDate, 0.5 / 86400);
  EXPECT_EQ(r.params.TgaBackground, Rgb(10, 20, 30));
  EXPECT_DOUBLE_EQ(r.params.TgaAspectRatio, 0.9);
  EXPECT_DOUBLE_EQ(r.params.TgaGamma, 2.2);
  EXPECT_EQ(r.params.TgaXPos, 12);
  EXPECT_EQ(r.params.TgaYPos, 34);
  EXPECT_EQ(r.params.Width, 3);
  EXPECT_EQ(r.params.Height, 2);
  EXPECT_EQ(r.params.BitsPerSample, 8);
  EXPECT_EQ(r.params.SamplesPerPixel, 3);
  EXPECT_TRUE(r.params.TgaCompressed);
  EXPECT_TRUE(r.bitmap.Empty());  // parameters only
}

TEST(TgaExtension, LongTextsAreCutAndOddValuesMeanNotGiven) {
  TBitmap image(1, 1, pf24bit);
  TIOParams params;
  params.TgaAuthor = std::string(39, 'a') + "\xC3\xA9";  // a two-byte character across the limit
  params.TgaName = std::string(60, 'n');
  params.TgaDescription = std::string(300, 'd');
  params.TgaDate = 0;
  params.TgaGamma = -1;
  params.TgaAspectRatio = 3.14159265358979;
  const Bytes file = Write(image, params);
  EXPECT_EQ(file[0], 255);
  ReadResult r;
  Read(file, r);
  EXPECT_EQ(r.params.TgaAuthor, std::string(39, 'a'));
  EXPECT_EQ(r.params.TgaName, std::string(40, 'n'));
  EXPECT_EQ(r.params.TgaDescription, std::string(255, 'd'));
  EXPECT_EQ(r.params.TgaDate, 0);
  EXPECT_EQ(r.params.TgaGamma, 0);
  // 16-bit terms: 65298/20785, within 2e-7 of pi.
  EXPECT_EQ(GetLE16(file.data() + GetLE32(file.data() + file.size() - 26) + 474), 65298);
  EXPECT_NEAR(r.params.TgaAspectRatio, 3.14159265358979, 2e-7);
}

TEST(TgaExtension, FilesWithoutAValidAreaClearTheFields) {
  TBitmap image(1, 1, pf24bit);
  TIOParams writer;
  writer.TgaAuthor = "someone";
  const Bytes good = Write(image, writer);
  const std::size_t footer = good.size() - 26;

  // The header, and the one pixel in a packet of its own.
  Bytes noFooter(good.begin(), good.begin() + 18 + 4);
  Bytes pastEnd = good;
  PutLE32(&pastEnd[footer], 0xFFFFFFF0u);
  Bytes intoFooter = good;
  PutLE32(&intoFooter[footer], static_cast<std::uint32_t>(footer - 400));
  Bytes intoHeader = good;
  PutLE32(&intoHeader[footer], 3);
  for (const Bytes* file : {&noFooter, &pastEnd, &intoFooter, &intoHeader}) {
    ReadResult r;
    r.params.TgaAuthor = "stale";
    r.params.TgaAspectRatio = 5;
    Read(*file, r);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(r.params.TgaAuthor, "");
    EXPECT_EQ(r.params.TgaAspectRatio, 0);
    EXPECT_EQ(r.params.TgaDate, 0);
  }
}

// The six 16-bit values of the date stamp: month 1..12, day, year, hour, minute, second.
Bytes DateStamp(const Bytes& file) {
  const std::uint8_t* stamp = file.data() + GetLE32(file.data() + file.size() - 26) + 367;
  return Bytes(stamp, stamp + 12);
}

TEST(TgaDate, TheStampHoldsTheCalendarMonthFromJanuaryToDecember) {
  struct Case {
    int year, month, day;
    TDateTime days;  // since 30 December 1899
  };
  const Case cases[] = {{1899, 12, 30, 0},    {1900, 3, 1, 61},    {1970, 1, 1, 25569},  {2024, 2, 29, 45351},
                        {2026, 1, 31, 46053}, {2026, 3, 1, 46082}, {2026, 12, 31, 46387}};
  TBitmap image(1, 1, pf24bit);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day));
    EXPECT_EQ(EncodeDate(c.year, c.month, c.day), c.days);
    if (c.days == 0) continue;  // 0 is "no date" in the record
    TIOParams params;
    params.TgaDate = EncodeDate(c.year, c.month, c.day) + 0.75;  // 18:00
    const Bytes file = Write(image, params);
    Bytes expected(12, 0);
    PutLE16(&expected[0], static_cast<std::uint32_t>(c.month));
    PutLE16(&expected[2], static_cast<std::uint32_t>(c.day));
    PutLE16(&expected[4], static_cast<std::uint32_t>(c.year));
    PutLE16(&expected[6], 18);
    EXPECT_EQ(DateStamp(file), expected);
    ReadResult r;
    Read(file, r, true);
    EXPECT_DOUBLE_EQ(r.params.TgaDate, params.TgaDate);
  }
}

TEST(TgaDate, AFreshRecordStampsTodaysLocalDate) {
  const auto localDate = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    Bytes stamp(12, 0);
    PutLE16(&stamp[0], static_cast<std::uint32_t>(local.tm_mon + 1));
    PutLE16(&stamp[2], static_cast<std::uint32_t>(local.tm_mday));
    PutLE16(&stamp[4], static_cast<std::uint32_t>(local.tm_year + 1900));
    return stamp;
  };
  const Bytes before = localDate();
  TBitmap image(1, 1, pf24bit);
  TIOParams params;
  const Bytes stamp = DateStamp(Write(image, params));
  const Bytes after = localDate();
  // Midnight may pass between the two looks at the clock.
  EXPECT_TRUE(stamp == before || stamp == after);
}

// ---------------------------------------------------------------- data that ends early

TEST(TgaTruncated, EveryCutKeepsTheRowsBeforeItAndSaysWhereTheDataEnds) {
  TBitmap image(29, 13, pf24bit);
  FillRandom(image, 9);
  image.FillRect(0, 3, 29, 7, clWhite);
  const auto sameRow = [](const TBitmap& a, const TBitmap& b, int y) {
    return std::memcmp(a.ScanLine(y), b.ScanLine(y), 3 * static_cast<std::size_t>(a.Width())) == 0;
  };
  for (bool compressed : {true, false}) {
    SCOPED_TRACE(compressed);
    TIOParams params;
    params.TgaCompressed = compressed;
    const Bytes file = Write(image, params);
    // The pixel data ends where the extension area begins.
    const std::size_t dataEnd = GetLE32(file.data() + file.size() - 26);
    for (std::size_t n = 0; n < file.size(); n += (n < 600 ? 1 : 37)) {
      ReadResult r;
      Read(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n)), r);
      if (n < 18) {
        EXPECT_TRUE(r.aborted) << n;
        EXPECT_EQ(r.damage, "") << n;
        continue;
      }
      if (n >= dataEnd) {
        // Only the extension area or the footer is missing.
        ASSERT_FALSE(r.aborted) << n;
        EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(image)) << n;
        continue;
      }
      ASSERT_TRUE(r.aborted) << n;
      ASSERT_EQ(r.bitmap.Height(), 13);
      // The file holds the bottom row first.
      int whole = 0;
      while (whole < 13 && sameRow(r.bitmap, image, 12 - whole)) ++whole;
      ASSERT_LT(whole, 13) << n;
      EXPECT_EQ(r.damage, whole == 0 ? ""
                                     : "the data ends after row " + std::to_string(whole) +
                                           " of 13, counted from the bottom")
          << n;
      // Above the row the data ended in, nothing was decoded.
      for (int y = 0; y < 12 - whole; ++y) {
        const std::uint8_t* row = r.bitmap.ScanLine(y);
        EXPECT_EQ(std::count(row, row + 3 * 29, 0), 3 * 29) << n << " row " << y;
      }
    }
  }

  // A file that stores its top row first counts from the top: 2 whole rows of 3, and a pixel.
  Bytes topFirst = HeaderBytes({.type = 2, .width = 2, .height = 3, .descriptor = 0x20});
  for (int i = 0; i < 15; ++i) topFirst.push_back(static_cast<std::uint8_t>(10 + i));
  ReadResult r;
  Read(topFirst, r);
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(r.damage, "the data ends after row 2 of 3");
  EXPECT_EQ(PixelAt(r.bitmap, 1, 1), (TRGB{19, 20, 21}));
  EXPECT_EQ(PixelAt(r.bitmap, 0, 2), (TRGB{22, 23, 24}));
  EXPECT_EQ(PixelAt(r.bitmap, 1, 2), Rgb(0, 0, 0));
}

// ---------------------------------------------------------------- content test

TEST(TgaContentTest, TypeAndDepthDecideAndPortablePixmapsByTheirThirdByte) {
  struct Case {
    Bytes head;
    bool expected;
  };
  auto tga = [](std::uint8_t type, std::uint8_t depth) {
    return HeaderBytes({.type = type, .depth = depth});
  };
  auto text = [](const char* s) {
    Bytes b(s, s + std::strlen(s));
    b.resize(40, ' ');
    return b;
  };
  const Case cases[] = {
      {tga(1, 8), true},
      {tga(2, 24), true},
      {tga(3, 1), true},
      {tga(9, 4), true},
      {tga(10, 32), true},
      {tga(11, 16), true},
      {tga(0, 24), false},
      {tga(4, 24), false},
      {tga(2, 15), false},
      {tga(2, 0), false},
      {tga(32, 24), false},
      {text("P6 640 480 255"), true},
      {text("P2#comment"), true},
      {text("P5\n10 10\n255"), true},
      {text("P6\r\n10 10"), false},
      {text("P7 WIDTH 4"), false},
      {text("P1 2 2"), false},
      {text("P3x"), false},
  };
  for (const Case& k : cases) {
    Bytes data = k.head;
    data.resize(std::max<std::size_t>(data.size(), 40), 0);
    TMemoryStream stream(Bytes(5, 0) + data);
    stream.Seek(5);
    EXPECT_EQ(IsTgaStream(stream), k.expected)
        << int{k.head[0]} << " " << int{k.head[1]} << " " << int{k.head[2]} << " depth " << int{k.head[16]};
    EXPECT_EQ(stream.Position(), 5);
  }
  TMemoryStream shortStream(Bytes{'P', '6', ' ', 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 24});
  EXPECT_FALSE(IsTgaStream(shortStream));
}

// ---------------------------------------------------------------- hidden text

class TgaHiddenText : public ::testing::TestWithParam<bool> {};

TEST_P(TgaHiddenText, SurvivesSaveAndReloadByteForByte) {
  test::HeadlessView view;
  view.Bitmap()->Allocate(203, 97, pf24bit);
  FillRandom(*view.Bitmap(), 11);
  // Flat areas as well, so that the run-length coder meets runs.
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
  params.TgaCompressed = GetParam();
  const Bytes file = Write(*view.Bitmap(), params);
  EXPECT_EQ(file[2], GetParam() ? 10 : 2);

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

INSTANTIATE_TEST_SUITE_P(RleAndRaw, TgaHiddenText, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Rle" : "Raw"; });

// ---------------------------------------------------------------- run-length code against a plain model

// The packets of one row written the simplest way: a run packet from kMinRun equal pixels on, a
// raw packet up to where such a run starts; no packet longer than 128 pixels.
Bytes PlainEncodeRow(const std::uint8_t* pixels, std::size_t width, std::size_t n) {
  const std::size_t minRun = n == 1 ? 3 : 2;
  const auto same = [&](std::size_t a, std::size_t b) {
    return std::memcmp(pixels + a * n, pixels + b * n, n) == 0;
  };
  const auto runAt = [&](std::size_t i) {
    std::size_t run = 1;
    while (i + run < width && run < 128 && same(i, i + run)) ++run;
    return run;
  };
  Bytes out;
  for (std::size_t i = 0; i < width;) {
    std::size_t count = runAt(i);
    const bool run = count >= minRun;
    if (!run) {
      count = 1;
      while (i + count < width && count < 128 && runAt(i + count) < minRun) ++count;
    }
    out.push_back(static_cast<std::uint8_t>((run ? 0x80 : 0) | (count - 1)));
    out.insert(out.end(), pixels + i * n, pixels + (i + (run ? 1 : count)) * n);
    i += count;
  }
  return out;
}

TEST(TgaRunLengthModel, WriterMatchesThePlainCodeForEveryWidthUpTo70) {
  std::mt19937 random(3);
  for (std::size_t width = 1; width <= 70; ++width) {
    const int height = 1 + static_cast<int>(width % 4);
    // Runs of 1 to 300 pixels that cross rows, from colours that differ in one channel only.
    TBitmap image(static_cast<int>(width), height, pf24bit);
    const std::uint8_t base = static_cast<std::uint8_t>(random());
    std::size_t left = 0;
    TRGB colour{};
    for (int y = 0; y < height; ++y) {
      for (std::size_t x = 0; x < width; ++x, --left) {
        if (left == 0) {
          const unsigned shape = random() % 8;
          left = shape < 4 ? 1 : shape < 6 ? 2 + random() % 3 : 1 + random() % 300;
          std::uint8_t channels[3] = {base, base, base};
          channels[random() % 3] ^= static_cast<std::uint8_t>(random() % 4);
          colour = TRGB{channels[0], channels[1], channels[2]};
        }
        SetPixel(image, static_cast<int>(x), y, colour);
      }
    }
    for (const bool grey : {false, true}) {
      // Grey output is tested on a grey copy, whose level the writer keeps exactly.
      TBitmap picture(static_cast<int>(width), height, pf24bit);
      for (int y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < 3 * width; ++x) {
          picture.ScanLine(y)[x] = grey ? image.ScanLine(y)[x - x % 3 + 1] : image.ScanLine(y)[x];
        }
      }
      TIOParams params;
      params.SamplesPerPixel = grey ? 1 : 3;
      params.TgaGrayLevel = grey;
      const Bytes file = Write(picture, params);
      Bytes expected;
      Bytes levels(width);
      for (int y = height - 1; y >= 0; --y) {
        const std::uint8_t* row = picture.ScanLine(y);
        for (std::size_t x = 0; x < width; ++x) levels[x] = row[3 * x];
        const Bytes packets = grey ? PlainEncodeRow(levels.data(), width, 1) : PlainEncodeRow(row, width, 3);
        expected.insert(expected.end(), packets.begin(), packets.end());
      }
      ASSERT_EQ(Bytes(file.begin() + 18, file.end() - 495 - 26), expected)
          << "width " << width << " grey " << grey;
    }
  }
}

TEST(TgaRunLengthModel, WriterMatchesThePlainCodeOnLongRowsAndPacketLimits) {
  std::mt19937 random(12);
  // Rows that cross several 64-pixel words and end on or just past one, built from raw stretches
  // and runs of lengths about a word and about the 128-pixel packet limit.
  const std::size_t lengths[] = {1, 2, 3, 5, 6, 63, 64, 65, 127, 128, 129, 130, 200, 256, 257, 300};
  for (const std::size_t width : {64u, 65u, 127u, 128u, 129u, 256u, 257u, 1000u, 3001u}) {
    TBitmap image(static_cast<int>(width), 3, pf24bit);
    for (int y = 0; y < 3; ++y) {
      std::uint8_t* row = image.ScanLine(y);
      for (std::size_t x = 0; x < width;) {
        const std::size_t raw = std::min(lengths[random() % std::size(lengths)] - 1, width - x);
        // Raw pixels that differ from their neighbours in one channel only.
        for (std::size_t k = 0; k < raw; ++k, ++x) {
          row[3 * x] = 40;
          row[3 * x + 1] = static_cast<std::uint8_t>(x % 2);
          row[3 * x + 2] = static_cast<std::uint8_t>(x % 251);
        }
        const std::size_t run = std::min(lengths[random() % std::size(lengths)], width - x);
        const auto value = static_cast<std::uint8_t>(random());
        for (std::size_t k = 0; k < run; ++k, ++x) {
          row[3 * x] = value;
          row[3 * x + 1] = value;
          row[3 * x + 2] = 7;
        }
      }
    }
    TIOParams params;
    const Bytes file = Write(image, params);
    Bytes expected;
    for (int y = 2; y >= 0; --y) {
      const Bytes packets = PlainEncodeRow(image.ScanLine(y), width, 3);
      expected.insert(expected.end(), packets.begin(), packets.end());
    }
    ASSERT_EQ(Bytes(file.begin() + 18, file.end() - 495 - 26), expected) << "width " << width;
  }
}

TEST(TgaRunLengthModel, ReaderMatchesAPlainDecoderOnRandomPackets) {
  std::mt19937 random(4);
  const std::uint8_t depths[] = {8, 16, 24, 32};
  for (int trial = 0; trial < 400; ++trial) {
    // Mostly small pictures; a few whose packets span several of the reader's input chunks.
    const bool large = trial % 50 == 0;
    const std::size_t width = large ? 3000 + random() % 500 : 1 + random() % 70;
    const std::size_t height = large ? 20 : 1 + random() % 5;
    const std::uint8_t depth = depths[random() % 4];
    const std::size_t n = depth / 8;
    const std::uint8_t descriptor = std::array<std::uint8_t, 3>{0, 0x20, 0x10}[random() % 3];
    const std::size_t total = width * height;

    // Random packets for about the pixels the picture has, and sometimes fewer; the last may be cut.
    Bytes data;
    const std::size_t target = total * (70 + random() % 50) / 100;
    for (std::size_t pixels = 0; pixels < target;) {
      const std::uint8_t header = static_cast<std::uint8_t>(random());
      const std::size_t count = (header & 0x7Fu) + 1;
      data.push_back(header);
      for (std::size_t i = 0; i < ((header & 0x80) ? 1 : count) * n; ++i)
        data.push_back(static_cast<std::uint8_t>(random()));
      pixels += count;
    }
    data.resize(data.size() - std::min<std::size_t>(data.size(), random() % 4));

    // The plain decoder: whole pixels in file order; packets carry across rows.
    std::vector<TRGB> decoded;
    const auto colour = [&](std::size_t at) {
      const std::uint8_t* p = data.data() + at;
      if (n == 1) return TRGB{p[0], p[0], p[0]};
      if (n >= 3) return TRGB{p[0], p[1], p[2]};
      const unsigned v = GetLE16(p);
      const auto expand = [](unsigned c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); };
      return TRGB{expand(v & 31), expand((v >> 5) & 31), expand((v >> 10) & 31)};
    };
    for (std::size_t i = 0; i < data.size() && decoded.size() < total;) {
      const std::uint8_t header = data[i++];
      const std::size_t count = std::min<std::size_t>((header & 0x7Fu) + 1, total - decoded.size());
      if (header & 0x80) {
        if (i + n > data.size()) break;
        decoded.insert(decoded.end(), count, colour(i));
        i += n;
      } else {
        for (std::size_t k = 0; k < count && i + n <= data.size(); ++k, i += n) decoded.push_back(colour(i));
        if (decoded.size() < total && i + n > data.size()) break;
      }
    }
    TBitmap expected(static_cast<int>(width), static_cast<int>(height), pf24bit);
    for (std::size_t k = 0; k < decoded.size(); ++k) {
      const std::size_t row = k / width;
      const std::size_t column = k % width;
      SetPixel(expected, static_cast<int>((descriptor & 0x10) ? width - 1 - column : column),
               static_cast<int>((descriptor & 0x20) ? row : height - 1 - row), decoded[k]);
    }

    ReadResult r;
    Read(HeaderBytes({.type = static_cast<std::uint8_t>(depth == 8 ? 11 : 10),
                      .width = static_cast<std::uint16_t>(width),
                      .height = static_cast<std::uint16_t>(height),
                      .depth = depth,
                      .descriptor = descriptor}) +
             data,
         r);
    // Data for fewer pixels than the picture has fails the load; it keeps a partial picture once a
    // whole row is in.
    ASSERT_EQ(r.aborted, decoded.size() < total) << "trial " << trial;
    ASSERT_EQ(r.damage.empty(), decoded.size() == total || decoded.size() < width) << "trial " << trial;
    ASSERT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(expected)) << "trial " << trial;
  }
}

// ---------------------------------------------------------------- hostile input

TEST(TgaHostile, PacketsPastTheImageAreCutAndRunsCrossRows) {
  // 3 x 2: a run of 128 red pixels covers the whole image and more.
  ReadResult r;
  Read(HeaderBytes({.type = 10, .width = 3, .height = 2}) + Bytes{0xFF, 0, 0, 255, 0x85, 1, 2, 3}, r);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(test::PixelsOtherThan(r.bitmap, Rgb(255, 0, 0)), 0);
  // A raw packet that claims 128 pixels with data for 2: the rest stays black.
  ReadResult raw;
  Read(HeaderBytes({.type = 10, .width = 3, .height = 2}) + Bytes{0x7F, 9, 9, 9, 8, 8, 8, 7}, raw);
  EXPECT_EQ(PixelAt(raw.bitmap, 1, 1), Rgb(8, 8, 8));
  EXPECT_EQ(test::PixelsOtherThan(raw.bitmap, Rgb(0, 0, 0)), 2);
}

TEST(TgaHostile, ImpossibleHeadersAbortBeforeAllocating) {
  struct Case {
    Header header;
    const char* what;
  };
  const Case cases[] = {
      {{.type = 2, .width = 65535, .height = 65535}, "over the pixel-memory limit"},
      {{.type = 2, .width = 0, .height = 10}, "no width"},
      {{.type = 2, .width = 10, .height = 0}, "no height"},
      {{.type = 1, .width = 4, .height = 4, .depth = 8}, "colour-mapped without a map"},
      {{.mapType = 1, .type = 1, .mapLength = 4, .mapBits = 7, .width = 4, .depth = 8},
       "map entries of 7 bits"},
      {{.type = 2, .width = 4, .height = 4, .depth = 12}, "12-bit true colour"},
      {{.type = 11, .width = 4, .height = 4, .depth = 1}, "run-length 1-bit"},
      {{.type = 7, .width = 4, .height = 4}, "unknown type"},
  };
  for (const Case& k : cases) {
    ReadResult r;
    r.bitmap.Allocate(2, 2, pf24bit);
    Read(HeaderBytes(k.header) + Bytes(64, 0x55), r);
    EXPECT_TRUE(r.aborted) << k.what;
    EXPECT_LE(r.bitmap.Width(), 2) << k.what;
  }
}

TEST(TgaHostile, LongMapsAndIndicesPastTheMapStayInBounds) {
  // A 16-bit-index image with a map of 65535 entries declared but 2 present, starting at 65534.
  Header h{
      .mapType = 1, .type = 9, .mapFirst = 65534, .mapLength = 65535, .mapBits = 32, .width = 4, .depth = 16};
  ReadResult r;
  Read(HeaderBytes(h) + Bytes{1, 2, 3, 0, 4, 5, 6, 0}, r);
  // The map takes all the data: no row to show.
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(r.damage, "");
  EXPECT_EQ(r.params.ColorMapCount, 65536);
  ReadResult r8;
  Header h8{.mapType = 1, .type = 1, .mapFirst = 250, .mapLength = 20, .mapBits = 24, .width = 4, .depth = 8};
  Bytes map(60, 200);
  Read(HeaderBytes(h8) + map + Bytes{249, 250, 255, 0}, r8);
  EXPECT_EQ(PixelAt(r8.bitmap, 0, 0), Rgb(0, 0, 0));
  EXPECT_EQ(PixelAt(r8.bitmap, 1, 0), Rgb(200, 200, 200));
  EXPECT_EQ(PixelAt(r8.bitmap, 2, 0), Rgb(200, 200, 200));
  EXPECT_EQ(r8.params.ColorMapCount, 256);
}

TEST(TgaProgress, ReportsPerRowAndStopsWhenAborted) {
  TBitmap image(4, 50, pf24bit);
  image.Fill(clWhite);
  TIOParams params;
  params.TgaCompressed = false;
  const Bytes file = Write(image, params);
  bool aborting = false;
  std::vector<int> reports;
  TObject sender;
  TProgressContext progress{[&](TObject&, int pct) {
                              reports.push_back(pct);
                              if (pct >= 50) aborting = true;
                            },
                            &sender, &aborting};
  TMemoryStream stream(file);
  TBitmap out;
  TIOParams read;
  TgaReadStream(stream, out, read, false, progress);
  EXPECT_EQ(reports.front(), 0);
  EXPECT_EQ(reports.back(), 50);
  // Rows arrive bottom first; the top 25 rows were never decoded.
  EXPECT_EQ(PixelAt(out, 0, 24), Rgb(0, 0, 0));
  EXPECT_EQ(PixelAt(out, 0, 25), Rgb(255, 255, 255));
}

}  // namespace
