#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "image/Bitmap.h"
#include "image/Errors.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

constexpr TRGB kWhite{255, 255, 255};
constexpr TRGB kBlack{0, 0, 0};

TEST(BitmapLayout, RowsLieBottomUpInWordAlignedStrides) {
  struct Case {
    int width;
    TPixelFormat format;
    std::size_t stride;
  };
  const Case cases[] = {{5, pf24bit, 16}, {3, pf24bit, 12}, {10, pf1bit, 4},
                        {33, pf1bit, 8},  {5, pf8bit, 8},   {3, pf32bit, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " pixels of " << BitsPerPixel(c.format) << " bits");
    TBitmap bitmap(c.width, 4, c.format);
    EXPECT_EQ(bitmap.Stride(), c.stride);
    EXPECT_EQ(bitmap.ImageBytes(), 4 * c.stride);
    EXPECT_EQ(bitmap.ScanLine(0), bitmap.Bits() + 3 * c.stride);
    EXPECT_EQ(bitmap.ScanLine(3), bitmap.Bits());
  }
}

TEST(BitmapLayout, PixelsLieWithinARowAsStored) {
  TBitmap colour(5, 2, pf24bit);
  colour.Fill(clWhite);
  colour.FillRect(2, 1, 3, 2, RGBToColor(10, 20, 30));
  const std::uint8_t* row = colour.ScanLine(1);
  EXPECT_EQ(row[6], 30);  // blue first
  EXPECT_EQ(row[7], 20);
  EXPECT_EQ(row[8], 10);
  EXPECT_EQ(row[15], 0);  // padding, not a pixel
  EXPECT_EQ(colour.ScanLine(0)[15], 0);

  TBitmap mono(10, 1, pf1bit);
  mono.FillRect(9, 0, 10, 1, clWhite);
  EXPECT_EQ(mono.ScanLine(0)[0], 0x00);
  EXPECT_EQ(mono.ScanLine(0)[1], 0x40);
}

TEST(BitmapSizeLimit, RefusesNegativeOversizedAndOverflowingSizesWithoutChange) {
  struct Case {
    int width;
    int height;
    TPixelFormat format;
  };
  const Case cases[] = {{-1, 4, pf24bit},       {4, -1, pf24bit},      {70000, 70000, pf24bit},
                        {INT_MAX, 2, pf24bit},  {2, INT_MAX, pf24bit}, {INT_MAX, 2, pf8bit},
                        {16384, 21846, pf24bit}};  // one row of 48 KiB over 1 GiB
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    TBitmap bitmap(3, 2, pf24bit);
    FillRandom(bitmap, 1);
    const std::vector<std::uint8_t> before = PixelBytesTopDown(bitmap);
    const std::uint8_t* bits = bitmap.Bits();

    EXPECT_THROW(bitmap.SetSize(c.width, c.height), EImageTooLarge);
    EXPECT_THROW(bitmap.Allocate(c.width, c.height, c.format), EImageTooLarge);
    EXPECT_THROW(TBitmap refused(c.width, c.height, c.format), EImageTooLarge);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(bitmap.Bits(), bits);
    EXPECT_EQ(PixelBytesTopDown(bitmap), before);
  }
  // Exactly 1 GiB is still allowed; one more row is not.
  EXPECT_EQ(PixelBytes(32768, 262144, pf1bit), kMaxPixelBytes);
  EXPECT_EQ(PixelBytes(32768, 262145, pf1bit), -1);
}

TEST(BitmapSetSize, KeepsTopLeftPixelsAndFillsTheNewArea) {
  TBitmap original(3, 2, pf24bit);
  FillRandom(original, 7);
  TBitmap bitmap;
  CopyBitmap(original, bitmap);

  bitmap.SetSize(5, 4, RGBToColor(1, 2, 3));
  ASSERT_EQ(bitmap.Width(), 5);
  ASSERT_EQ(bitmap.Height(), 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) {
      SCOPED_TRACE(testing::Message() << "pixel " << x << ", " << y);
      EXPECT_EQ(PixelAt(bitmap, x, y), (x < 3 && y < 2 ? PixelAt(original, x, y) : TRGB{3, 2, 1}));
    }
  }

  bitmap.SetSize(2, 1);
  ASSERT_EQ(bitmap.Width(), 2);
  ASSERT_EQ(bitmap.Height(), 1);
  EXPECT_EQ(PixelAt(bitmap, 0, 0), PixelAt(original, 0, 0));
  EXPECT_EQ(PixelAt(bitmap, 1, 0), PixelAt(original, 1, 0));
}

TEST(BitmapSetSize, MonoFillTakesTheNearerOfBlackAndWhite) {
  struct Case {
    std::uint8_t r, g, b;
    bool white;
  };
  const Case cases[] = {
      {128, 128, 127, true}, {128, 127, 127, false}, {255, 128, 0, true}, {255, 127, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.r} << ", " << int{c.g} << ", " << int{c.b});
    TBitmap bitmap(0, 0, pf1bit);
    bitmap.SetSize(11, 2, RGBToColor(c.r, c.g, c.b));
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 11; ++x) EXPECT_EQ(BitAt(bitmap, x, y), c.white) << "pixel " << x << ", " << y;
    }
  }
}

TEST(BitmapSetSize, MonoKeepsNoBitsBeyondItsWidth) {
  TBitmap bitmap(16, 2, pf1bit);
  bitmap.Fill(clWhite);
  bitmap.SetSize(10, 2);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(bitmap.ScanLine(y)[0], 0xFF);
    EXPECT_EQ(bitmap.ScanLine(y)[1], 0xC0);
  }

  // Stray bits after the last pixel (as a file may carry them) must not turn into pixels either.
  bitmap.ScanLine(0)[1] = 0xFF;
  bitmap.SetSize(16, 3, clBlack);
  EXPECT_EQ(bitmap.ScanLine(0)[1], 0xC0);
}

TEST(BitmapSetSize, LargeBlockKeepsItsPixelsThroughResizeCopyAndRelease) {
  // Over 9 MiB: a block that comes straight from the system rather than from the heap.
  TBitmap big(1800, 1800, pf24bit);
  big.FillRect(1799, 1799, 1800, 1800, RGBToColor(1, 2, 3));
  TBitmap copy;
  CopyBitmap(big, copy);
  EXPECT_EQ(PixelAt(copy, 1799, 1799), (TRGB{3, 2, 1}));

  big.SetSize(1801, 1800, clWhite);
  EXPECT_EQ(PixelAt(big, 1799, 1799), (TRGB{3, 2, 1}));
  EXPECT_EQ(PixelAt(big, 1800, 0), kWhite);

  // Each block must go back the way it came, whichever bitmap ends up holding it.
  TBitmap small(2, 2, pf24bit);
  small.Swap(big);
  EXPECT_EQ(small.Width(), 1801);
  EXPECT_EQ(PixelAt(small, 1799, 1799), (TRGB{3, 2, 1}));
  EXPECT_EQ(big.Width(), 2);
}

TEST(BitmapCopy, TakesSizeFormatPixelBlockAndPalette) {
  TBitmap source(7, 3, pf8bit);
  FillRandom(source, 3);
  source.Palette()[200] = TRGBQuad{1, 2, 3, 0};
  TBitmap target(2, 2, pf24bit);
  CopyBitmap(source, target);
  ASSERT_EQ(target.Width(), 7);
  ASSERT_EQ(target.Height(), 3);
  ASSERT_EQ(target.PixelFormat(), pf8bit);
  EXPECT_EQ(std::memcmp(target.Bits(), source.Bits(), source.ImageBytes()), 0);
  ASSERT_EQ(target.Palette().size(), 256u);
  EXPECT_EQ(target.Palette()[200].blue, 1);
  EXPECT_EQ(target.Palette()[200].red, 3);

  // An empty source leaves one pixel in its format.
  CopyBitmap(TBitmap(0, 0, pf1bit), target);
  EXPECT_EQ(target.Width(), 1);
  EXPECT_EQ(target.Height(), 1);
  EXPECT_EQ(target.PixelFormat(), pf1bit);
}

TEST(BitmapCrop, CopiesTheInclusiveRectangleLimitedToTheImage) {
  TBitmap source(6, 5, pf24bit);
  FillRandom(source, 11);
  struct Case {
    int x1, y1, x2, y2;
    int width, height;
  };
  const Case cases[] = {
      {1, 1, 3, 2, 3, 2}, {2, 1, 0, 0, 4, 4},  // 0 stands for the last column and row
      {0, 0, 9, 9, 6, 5},                      // limited to the last column and row
      {5, 4, 5, 4, 1, 1}, {0, 3, 5, 1, 6, 0},  // bottom above top: no rows
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << ", " << c.y1 << " to " << c.x2 << ", " << c.y2);
    TBitmap target(2, 2, pf1bit);
    CropBitmap(source, target, c.x1, c.y1, c.x2, c.y2);
    ASSERT_EQ(target.Width(), c.width);
    ASSERT_EQ(target.Height(), c.height);
    EXPECT_EQ(target.PixelFormat(), pf24bit);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        EXPECT_EQ(PixelAt(target, x, y), PixelAt(source, c.x1 + x, c.y1 + y)) << "pixel " << x << ", " << y;
      }
    }
  }
}

TEST(BitmapCrop, NegativeOriginStartsAtTheFirstColumnAndRow) {
  TBitmap source(6, 5, pf24bit);
  FillRandom(source, 12);
  TBitmap target;
  CropBitmap(source, target, -2, -1, 2, 1);
  ASSERT_EQ(target.Width(), 3);
  ASSERT_EQ(target.Height(), 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelAt(target, x, y), PixelAt(source, x, y));
  }
}

TEST(BitmapCrop, MonoCopiesBitByBitFromAColumnInsideAByte) {
  TBitmap source(21, 3, pf1bit);
  FillRandom(source, 5);
  TBitmap target;
  CropBitmap(source, target, 3, 1, 14, 2);
  ASSERT_EQ(target.Width(), 12);
  ASSERT_EQ(target.Height(), 2);
  ASSERT_EQ(target.PixelFormat(), pf1bit);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 12; ++x) {
      EXPECT_EQ(BitAt(target, x, y), BitAt(source, 3 + x, 1 + y)) << "pixel " << x << ", " << y;
    }
    EXPECT_EQ(target.ScanLine(y)[1] & 0x0F, 0) << "bits after the last pixel, row " << y;
  }
}

TEST(BitmapConvertTo24Bit, PaletteImageTakesItsEntryColours) {
  TBitmap source(3, 1, pf8bit);
  source.Palette()[7] = TRGBQuad{1, 2, 3, 0};
  source.Palette()[255] = TRGBQuad{9, 8, 7, 0};
  source.ScanLine(0)[0] = 7;
  source.ScanLine(0)[2] = 255;
  TBitmap target;
  ConvertTo24Bit(source, target);
  ASSERT_EQ(target.PixelFormat(), pf24bit);
  ASSERT_EQ(target.Width(), 3);
  EXPECT_EQ(PixelAt(target, 0, 0), (TRGB{1, 2, 3}));
  EXPECT_EQ(PixelAt(target, 1, 0), kBlack);
  EXPECT_EQ(PixelAt(target, 2, 0), (TRGB{9, 8, 7}));
}

TEST(BitmapConvertTo24Bit, FourByteImageKeepsTheFirstThreeBytes) {
  TBitmap source(2, 1, pf32bit);
  const std::uint8_t pixels[] = {1, 2, 3, 99, 4, 5, 6, 77};
  std::memcpy(source.ScanLine(0), pixels, sizeof pixels);
  TBitmap target;
  ConvertTo24Bit(source, target);
  ASSERT_EQ(target.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(target, 0, 0), (TRGB{1, 2, 3}));
  EXPECT_EQ(PixelAt(target, 1, 0), (TRGB{4, 5, 6}));
}

TEST(BitmapConvertTo24Bit, MonoImageBecomesBlackAndWhite) {
  TBitmap source(10, 1, pf1bit);
  source.ScanLine(0)[0] = 0xA0;  // pixels 0 and 2
  source.ScanLine(0)[1] = 0x7F;  // pixel 9, and padding
  TBitmap target;
  ConvertTo24Bit(source, target);
  ASSERT_EQ(target.PixelFormat(), pf24bit);
  ASSERT_EQ(target.Width(), 10);
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(PixelAt(target, x, 0), x == 0 || x == 2 || x == 9 ? kWhite : kBlack) << "pixel " << x;
  }
}

}  // namespace
