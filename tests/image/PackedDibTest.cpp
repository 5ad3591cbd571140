#include "image/PackedDib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/Pixels.h"

using namespace veilora;
using veilora::test::BitAt;
using veilora::test::PixelAt;
using veilora::test::PixelBytesTopDown;
using veilora::test::Rgb;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v);
  Put16(b, v >> 16);
}

// A packed bitmap as other programs put it on the clipboard: a header of `headerBytes` (40 or
// larger, with the masks inside), then `extra` (masks, table), then the rows.
Bytes Dib(std::int32_t width, std::int32_t height, int bits, std::uint32_t compression, const Bytes& extra,
          const Bytes& rows, std::uint32_t coloursUsed = 0, std::uint32_t headerBytes = 40,
          const Bytes& headerMasks = {}) {
  Bytes b;
  Put32(b, headerBytes);
  Put32(b, static_cast<std::uint32_t>(width));
  Put32(b, static_cast<std::uint32_t>(height));
  Put16(b, 1);
  Put16(b, static_cast<std::uint32_t>(bits));
  Put32(b, compression);
  for (int i = 0; i < 3; ++i) Put32(b, 0);
  Put32(b, coloursUsed);
  Put32(b, 0);
  b.insert(b.end(), headerMasks.begin(), headerMasks.end());
  b.resize(headerBytes, 0);
  b.insert(b.end(), extra.begin(), extra.end());
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

Bytes Masks(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  Bytes b;
  Put32(b, red);
  Put32(b, green);
  Put32(b, blue);
  return b;
}

bool Decode(const Bytes& block, TBitmap& target) {
  return DecodePackedDib(block.data(), block.size(), target);
}
bool Decode(const TByteBlock& block, TBitmap& target) {
  return DecodePackedDib(block.data(), block.size(), target);
}

Bytes ToBytes(const TByteBlock& block) {
  return Bytes(block.begin(), block.end());
}

TEST(EncodePackedDib, WritesTheExactBlockForTrueColour) {
  TBitmap image;
  veilora::test::Paint(
      image, 3,
      {Rgb(1, 2, 3), Rgb(4, 5, 6), Rgb(7, 8, 9), Rgb(10, 11, 12), Rgb(13, 14, 15), Rgb(16, 17, 18)});
  const Bytes block = ToBytes(EncodePackedDib(image));
  // 3 pixels are 9 bytes, padded to a stride of 12; the block is 44 + 12 x 2 bytes.
  Bytes expected = {40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
  expected.resize(40, 0);
  const Bytes bottom = {12, 11, 10, 15, 14, 13, 18, 17, 16, 0, 0, 0};
  const Bytes top = {3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0};
  expected.insert(expected.end(), bottom.begin(), bottom.end());
  expected.insert(expected.end(), top.begin(), top.end());
  expected.resize(expected.size() + 4, 0);
  EXPECT_EQ(block, expected);
}

TEST(EncodePackedDib, WritesTheTwoColourTableAndShiftsTheBitsOfAnArea) {
  TBitmap image;
  image.Allocate(20, 2, pf1bit);
  image.ScanLine(0)[0] = 0b10110011;
  image.ScanLine(0)[1] = 0b01011100;
  image.ScanLine(1)[0] = 0b11111111;
  image.ScanLine(1)[1] = 0b00000000;
  // Columns 3..12 are 10 pixels: two bytes, a stride of 4; the block is 52 + 4 x 2.
  const Bytes block = ToBytes(EncodePackedDib(image, TRectInclusive{3, 0, 12, 1}));
  ASSERT_EQ(block.size(), 60u);
  EXPECT_EQ(Bytes(block.begin() + 14, block.begin() + 16), (Bytes{1, 0}));
  EXPECT_EQ(Bytes(block.begin() + 40, block.begin() + 48), (Bytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(block.begin() + 48, block.begin() + 52), (Bytes{0b11111000, 0b00000000, 0, 0}));  // row 1
  EXPECT_EQ(Bytes(block.begin() + 52, block.begin() + 56), (Bytes{0b10011010, 0b11000000, 0, 0}));  // row 0
}

TEST(EncodePackedDib, ASelectionGivesItsInclusiveSizeAndNothingOutsideIsWritten) {
  TBitmap image;
  image.Allocate(60, 40, pf24bit);
  veilora::test::FillRandom(image, 3);
  const TByteBlock block = EncodePackedDib(image, TRectInclusive{10, 10, 50, 30});
  TBitmap pasted;
  ASSERT_TRUE(Decode(block, pasted));
  ASSERT_EQ(pasted.Width(), 41);
  ASSERT_EQ(pasted.Height(), 21);
  for (int y : {0, 20})
    for (int x : {0, 40}) EXPECT_EQ(PixelAt(pasted, x, y), PixelAt(image, x + 10, y + 10));
  EXPECT_TRUE(EncodePackedDib(image, TRectInclusive{10, 10, 60, 30}).empty());
  EXPECT_TRUE(EncodePackedDib(image, TRectInclusive{-1, 0, 5, 5}).empty());
}

TEST(DecodePackedDib, RoundTripsBothFormatsExactly) {
  for (const TPixelFormat format : {pf24bit, pf1bit}) {
    TBitmap image;
    image.Allocate(40, 5, format);  // whole bytes: a 1-bit row has no bits past its width
    veilora::test::FillRandom(image, 9);
    TBitmap pasted;
    ASSERT_TRUE(Decode(EncodePackedDib(image), pasted));
    EXPECT_EQ(pasted.PixelFormat(), format);
    EXPECT_EQ(PixelBytesTopDown(pasted), PixelBytesTopDown(image));
  }
}

TEST(DecodePackedDib, LooksUpPaletteColoursInTrueColour) {
  const Bytes table = {10, 20, 30, 0, 40, 50, 60, 0};  // blue, green, red, reserved
  TBitmap pasted;
  // 8 bits, two entries named by the colours-used count; index 7 lies past the table: black.
  ASSERT_TRUE(Decode(Dib(3, 1, 8, 0, table, {1, 0, 7, 0}, 2), pasted));
  EXPECT_EQ(pasted.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(pasted, 0, 0), Rgb(60, 50, 40));
  EXPECT_EQ(PixelAt(pasted, 1, 0), Rgb(30, 20, 10));
  EXPECT_EQ(PixelAt(pasted, 2, 0), Rgb(0, 0, 0));
  // 4 bits: the high nibble is the left pixel; a count of 0 means the full 16 entries.
  Bytes table16(64, 0);
  table16[4 * 15 + 2] = 255;
  ASSERT_TRUE(Decode(Dib(2, 1, 4, 0, table16, {0xF0, 0, 0, 0}), pasted));
  EXPECT_EQ(PixelAt(pasted, 0, 0), Rgb(255, 0, 0));
  EXPECT_EQ(PixelAt(pasted, 1, 0), Rgb(0, 0, 0));
}

TEST(DecodePackedDib, TwoColoursStay1BitOnlyForBlackThenWhite) {
  TBitmap pasted;
  ASSERT_TRUE(Decode(Dib(8, 1, 1, 0, {0, 0, 0, 0, 255, 255, 255, 0}, {0b10100000, 0, 0, 0}), pasted));
  EXPECT_EQ(pasted.PixelFormat(), pf1bit);
  EXPECT_TRUE(BitAt(pasted, 0, 0));
  EXPECT_FALSE(BitAt(pasted, 1, 0));
  // White then black, or real colours, would be shown wrongly as bits: they become true colour.
  ASSERT_TRUE(Decode(Dib(8, 1, 1, 0, {255, 255, 255, 0, 0, 0, 200, 0}, {0b10000000, 0, 0, 0}), pasted));
  EXPECT_EQ(pasted.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(pasted, 0, 0), Rgb(200, 0, 0));
  EXPECT_EQ(PixelAt(pasted, 1, 0), Rgb(255, 255, 255));
}

TEST(DecodePackedDib, ScalesBitFieldChannelsToFullRange) {
  struct Row {
    const char* name;
    Bytes block;
    TRGB white;
    TRGB sample;
  };
  // 16 bits: 0x7FFF is white in 5-5-5; 0x4210 has every channel at 16 of 31, which scales to 132.
  const Row rows[] = {
      {"555 by default", Dib(2, 1, 16, 0, {}, {0xFF, 0x7F, 0x10, 0x42}), Rgb(255, 255, 255),
       Rgb(132, 132, 132)},
      {"565 masks", Dib(2, 1, 16, 3, Masks(0xF800, 0x07E0, 0x001F), {0xFF, 0xFF, 0x00, 0xF8}),
       Rgb(255, 255, 255), Rgb(255, 0, 0)},
      {"32-bit masks in red-green-blue-alpha order",
       Dib(2, 1, 32, 3, Masks(0x000000FF, 0x0000FF00, 0x00FF0000), {9, 8, 7, 0xFF, 255, 255, 255, 0}),
       Rgb(9, 8, 7), Rgb(255, 255, 255)},
      {"masks inside a version 5 header",
       Dib(2, 1, 16, 3, {}, {0xFF, 0xFF, 0x00, 0xF8}, 0, 124, Masks(0xF800, 0x07E0, 0x001F)),
       Rgb(255, 255, 255), Rgb(255, 0, 0)},
      {"32 bits without masks", Dib(2, 1, 32, 0, {}, {1, 2, 3, 99, 255, 255, 255, 0}), Rgb(3, 2, 1),
       Rgb(255, 255, 255)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TBitmap pasted;
    ASSERT_TRUE(Decode(row.block, pasted));
    EXPECT_EQ(PixelAt(pasted, 0, 0), row.white);
    EXPECT_EQ(PixelAt(pasted, 1, 0), row.sample);
  }
}

TEST(DecodePackedDib, ATopDownBitmapComesOutUpright) {
  const Bytes rows = {0, 0, 255, 0, 0, 255, 0, 0};  // first row red, second green
  TBitmap pasted;
  ASSERT_TRUE(Decode(Dib(1, -2, 24, 0, {}, rows), pasted));
  EXPECT_EQ(PixelAt(pasted, 0, 0), Rgb(255, 0, 0));
  EXPECT_EQ(PixelAt(pasted, 0, 1), Rgb(0, 255, 0));
  ASSERT_TRUE(Decode(Dib(1, 2, 24, 0, {}, rows), pasted));
  EXPECT_EQ(PixelAt(pasted, 0, 0), Rgb(0, 255, 0));
}

TEST(DecodePackedDib, HostileOrUnreadBlocksPasteNothing) {
  const Bytes good = Dib(2, 2, 24, 0, {}, Bytes(16, 7));
  struct Row {
    const char* name;
    Bytes block;
  };
  Bytes huge = Dib(65536, 1, 24, 0, {}, {});
  Bytes tooManyColours = Dib(1, 1, 8, 0, {}, {0, 0, 0, 0}, 0x40000000);
  const Row rows[] = {
      {"cut short", Bytes(good.begin(), good.end() - 1)},
      {"header only", Bytes(good.begin(), good.begin() + 40)},
      {"too short for a header", Bytes(good.begin(), good.begin() + 12)},
      {"unknown header size", Dib(2, 2, 24, 0, {}, Bytes(16, 7), 0, 44)},
      {"zero width", Dib(0, 2, 24, 0, {}, {})},
      {"negative width", Dib(-2, 2, 24, 0, {}, Bytes(16, 7))},
      {"wider than a reader accepts", huge},
      {"a colour table beyond the block", tooManyColours},
      {"run-length compression", Dib(2, 2, 8, 1, Bytes(1024, 0), Bytes(16, 0))},
      {"2 bits per pixel", Dib(2, 2, 2, 0, Bytes(16, 0), Bytes(8, 0))},
      {"a video layout", Dib(2, 2, 16, 0x32595559, {}, Bytes(16, 0))},
      {"bit fields whose masks are missing", Dib(1, 1, 16, 3, {}, {})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TBitmap target;
    target.Allocate(5, 4, pf24bit);
    target.Fill(RGBToColor(1, 2, 3));
    EXPECT_FALSE(Decode(row.block, target));
    EXPECT_EQ(target.Width(), 5);
    EXPECT_EQ(PixelAt(target, 4, 3), Rgb(1, 2, 3));
  }
  TBitmap target;
  EXPECT_FALSE(DecodePackedDib(nullptr, 0, target));
}

}  // namespace
