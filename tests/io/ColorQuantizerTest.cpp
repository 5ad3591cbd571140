#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <vector>

#include "io/ColorQuantizer.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

constexpr TRGB kUnused = Rgb(1, 2, 3);  // in no test image, so never a table colour

struct Quantized {
  std::array<TRGB, 256> table;
  std::unique_ptr<TColorQuantizer> quantizer;
};

Quantized Quantize(const TBitmap& image, int n) {
  Quantized result;
  result.table.fill(kUnused);
  result.quantizer = std::make_unique<TColorQuantizer>(image, result.table.data(), n);
  return result;
}

TEST(ColorQuantizerTest, OneColourGivesOneEntryAndIndexZero) {
  TBitmap image(5, 3, pf24bit);
  image.Fill(RGBToColor(100, 150, 205));
  const Quantized q = Quantize(image, 256);
  ASSERT_EQ(q.quantizer->ColorCount(), 1);
  EXPECT_EQ(q.table[0], Rgb(100, 150, 205));
  EXPECT_EQ(q.table[1], kUnused);
  for (TRGB colour : {Rgb(100, 150, 205), Rgb(0, 0, 0), Rgb(255, 255, 255)})
    EXPECT_EQ(q.quantizer->ColorIndex(colour), 0);

  image.Fill(clWhite);
  EXPECT_EQ(Quantize(image, 2).table[0], Rgb(255, 255, 255));
}

TEST(ColorQuantizerTest, FewColoursKeepAnEntryEachEvenWhenTheyShareACell) {
  // Seven colours in five cells; the low three bits of each channel vary inside a cell. Boxes:
  // one a cell. The shared cells (0, 0, 0) and (25, 2, 5) keep their most frequent colour, or the
  // lower one of equally frequent ones, and the others follow the five boxes' entries in red,
  // green, blue order.
  const std::vector<TRGB> pixels = {Rgb(0, 0, 0),   Rgb(7, 7, 7),     Rgb(200, 16, 40), Rgb(207, 23, 47),
                                    Rgb(8, 255, 9), Rgb(90, 90, 250), Rgb(255, 0, 128), Rgb(207, 23, 47)};
  TBitmap image;
  Paint(image, 4, pixels);
  const Quantized q = Quantize(image, 256);
  ASSERT_EQ(q.quantizer->ColorCount(), 7);
  EXPECT_EQ(q.table[7], kUnused);
  for (TRGB pixel : pixels) {
    SCOPED_TRACE(testing::PrintToString(pixel));
    EXPECT_EQ(q.table[q.quantizer->ColorIndex(pixel)], pixel);
  }
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(7, 7, 7)), 5);
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(200, 16, 40)), 6);
  EXPECT_EQ(q.table[q.quantizer->ColorIndex(Rgb(0, 0, 0))], Rgb(0, 0, 0));
  EXPECT_EQ(q.table[q.quantizer->ColorIndex(Rgb(207, 23, 47))], Rgb(207, 23, 47));
  // A colour not in the image takes the entry that stands for its cell.
  EXPECT_EQ(q.table[q.quantizer->ColorIndex(Rgb(201, 17, 41))], Rgb(207, 23, 47));
  EXPECT_EQ(q.table[q.quantizer->ColorIndex(Rgb(3, 3, 3))], Rgb(0, 0, 0));

  // Every grey level: 32 cells of eight levels each, all 256 kept.
  TBitmap greys(256, 1, pf24bit);
  for (int x = 0; x < 256; ++x) SetPixel(greys, x, 0, Rgb(x, x, x));
  const Quantized all = Quantize(greys, 256);
  ASSERT_EQ(all.quantizer->ColorCount(), 256);
  for (int x = 0; x < 256; ++x) EXPECT_EQ(all.table[all.quantizer->ColorIndex(Rgb(x, x, x))], Rgb(x, x, x));
  // One colour more than the table holds: the boxes' means, one entry a cell.
  const Quantized fewer = Quantize(greys, 255);
  ASSERT_EQ(fewer.quantizer->ColorCount(), 32);
  EXPECT_EQ(fewer.table[fewer.quantizer->ColorIndex(Rgb(0, 0, 0))], Rgb(4, 4, 4));  // 28 / 8 = 3.5
}

TEST(ColorQuantizerTest, CutFollowsTheCriterionNotTheGap) {
  // Red cells 0 (two pixels), 4 and 12; P = 4, mean 4. Red search range round(2)..round(18) = 2..18,
  // w starts at 2 (cells 0 and 1). j = 2: criterion 2/2 x (4 - 0)^2 = 16. j = 4: w = 3, u = 4/4 = 1,
  // criterion 3/1 x 3^2 = 27, the best. j = 12: w = 4, stop. Green and blue hold one coordinate and
  // have no cut. So {0, 0, 4} | {12}; the entries are the means of the pixels, (0 + 3 + 32) / 3
  // = 11.7 -> 12 red, 5 / 3 -> 2 green, 7 / 3 -> 2 blue, and the lone (96, 0, 0).
  TBitmap image;
  Paint(image, 4, {Rgb(0, 0, 0), Rgb(3, 5, 7), Rgb(32, 0, 0), Rgb(96, 0, 0)});
  const Quantized q = Quantize(image, 2);
  ASSERT_EQ(q.quantizer->ColorCount(), 2);
  EXPECT_EQ(q.table[0], Rgb(12, 2, 2));
  EXPECT_EQ(q.table[1], Rgb(96, 0, 0));
  EXPECT_EQ(q.table[2], kUnused);
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(32, 0, 0)), 0);
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(100, 7, 7)), 1);
}

TEST(ColorQuantizerTest, EqualTotalsCutOnRedAndEmptyCellsMapToTheirBox) {
  // Cells (red, green) 0 or 10, one pixel each. Red and green cuts both give two boxes of variance
  // (100 - 25 x 2) / 4 = 12.5, total 25; red wins the tie. Box 0 = red 0 with green 0..10 (mean 5),
  // box 1 = red 10 with green 0..10.
  TBitmap image;
  Paint(image, 2, {Rgb(0, 0, 0), Rgb(80, 0, 0), Rgb(0, 80, 0), Rgb(80, 80, 0)});
  const Quantized q = Quantize(image, 2);
  ASSERT_EQ(q.quantizer->ColorCount(), 2);
  EXPECT_EQ(q.table[0], Rgb(0, 40, 0));
  EXPECT_EQ(q.table[1], Rgb(80, 40, 0));
  // Empty cells inside a box's bounds take its index, others 0.
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(80, 40, 0)), 1);
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(87, 87, 7)), 1);
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(40, 0, 0)), 0);
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(88, 0, 0)), 0);
  EXPECT_EQ(q.quantizer->ColorIndex(Rgb(80, 0, 8)), 0);
}

TEST(ColorQuantizerTest, MeansRoundHalfToEven) {
  // Cells (r, g) = (2, 3), (3, 4) and twice (20, 3): the red cut (total 0.25, against 54 on green)
  // leaves a box of the first two pixels, whose means red 21.5, green 28.5 and blue 1.5 round to
  // 22, 28 and 2.
  TBitmap image;
  Paint(image, 4, {Rgb(16, 24, 0), Rgb(27, 33, 3), Rgb(160, 24, 0), Rgb(160, 24, 0)});
  const Quantized q = Quantize(image, 2);
  ASSERT_EQ(q.quantizer->ColorCount(), 2);
  EXPECT_EQ(q.table[0], Rgb(22, 28, 2));
  EXPECT_EQ(q.table[1], Rgb(160, 24, 0));
}

TEST(ColorQuantizerTest, SidesOver65535AreCountedInFull) {
  for (const auto& [width, height] : {std::pair{70000, 1}, std::pair{1, 70000}}) {
    SCOPED_TRACE(testing::Message() << width << " x " << height);
    TBitmap image(width, height, pf24bit);
    // Only pixels past 65536 are white; a 16-bit size would never reach them.
    if (width > 1)
      image.FillRect(65536, 0, width, 1, clWhite);
    else
      image.FillRect(0, 65536, 1, height, clWhite);
    const Quantized q = Quantize(image, 16);
    ASSERT_EQ(q.quantizer->ColorCount(), 2);
    EXPECT_EQ(q.table[0], Rgb(0, 0, 0));
    EXPECT_EQ(q.table[1], Rgb(255, 255, 255));
  }
}

TEST(ColorQuantizerTest, RandomImageFillsExactlyNEntries) {
  TBitmap image(64, 48, pf24bit);
  FillRandom(image, 5);
  for (int n : {2, 16, 256}) {
    const Quantized q = Quantize(image, n);
    ASSERT_EQ(q.quantizer->ColorCount(), n);
    if (n < 256) {
      EXPECT_EQ(q.table[n], kUnused);
    }
    // Every pixel's cell lies in a box, and boxes cover disjoint cells: each index is used, and
    // its entry is the mean of its pixels, rounded half to even.
    std::vector<std::array<long, 4>> sums(static_cast<std::size_t>(n));
    for (int y = 0; y < image.Height(); ++y) {
      for (int x = 0; x < image.Width(); ++x) {
        const TRGB pixel = PixelAt(image, x, y);
        std::array<long, 4>& sum = sums[static_cast<std::size_t>(q.quantizer->ColorIndex(pixel))];
        sum[0] += pixel.r;
        sum[1] += pixel.g;
        sum[2] += pixel.b;
        ++sum[3];
      }
    }
    for (int i = 0; i < n; ++i) {
      const std::array<long, 4>& sum = sums[static_cast<std::size_t>(i)];
      ASSERT_GT(sum[3], 0) << i;
      const auto mean = [&](long total) {
        return static_cast<int>(std::nearbyint(double(total) / double(sum[3])));
      };
      EXPECT_EQ(q.table[i], Rgb(mean(sum[0]), mean(sum[1]), mean(sum[2]))) << i;
    }
  }
}

TEST(ColorQuantizerTest, ImageWithoutTrueColourPixelsGivesOneBlackEntry) {
  TBitmap mono(8, 8, pf1bit);
  mono.Fill(clWhite);
  TBitmap empty;
  for (const TBitmap* image : {&mono, &empty}) {
    const Quantized q = Quantize(*image, 256);
    EXPECT_EQ(q.quantizer->ColorCount(), 1);
    EXPECT_EQ(q.table[0], Rgb(0, 0, 0));
  }
}

TEST(ColorQuantizerLuminanceTest, RoundsHalfToEven) {
  EXPECT_EQ(Luminance(Rgb(10, 0, 20)), 4);        // 350 / 100 = 3.5
  EXPECT_EQ(Luminance(Rgb(10, 2, 14)), 4);        // 450 / 100 = 4.5
  EXPECT_EQ(Luminance(Rgb(255, 255, 255)), 252);  // 252.45
}

class QuantizerTwoColorTo1BitTest : public testing::Test {
 protected:
  TRGB colour0 = kUnused;
  TRGB colour1 = kUnused;
};

TEST_F(QuantizerTwoColorTo1BitTest, EquallyBrightColoursKeepTheFirstMetAsBitZero) {
  const TRGB blue = Rgb(0, 0, 100);  // brightness 7
  const TRGB red = Rgb(33, 0, 0);    // 6.93, also 7
  for (const auto& [first, second] : {std::pair{blue, red}, std::pair{red, blue}}) {
    TBitmap image;
    Paint(image, 3, {first, second, second, first, first, second});
    const auto mono = TwoColorTo1Bit(image, colour0, colour1);
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(mono->PixelFormat(), pf1bit);
    EXPECT_EQ(colour0, first);
    EXPECT_EQ(colour1, second);
    EXPECT_EQ(mono->ScanLine(0)[0], 0b0110'0000);
    EXPECT_EQ(mono->ScanLine(1)[0], 0b0010'0000);
  }
}

TEST_F(QuantizerTwoColorTo1BitTest, DarkerColourBecomesBitZero) {
  // White is met first; the bits are inverted so that black is 0. Eleven columns span two bytes.
  TBitmap image(11, 2, pf24bit);
  image.Fill(clWhite);
  for (int x : {1, 8, 10}) SetPixel(image, x, 1, Rgb(0, 0, 0));
  const auto mono = TwoColorTo1Bit(image, colour0, colour1);
  ASSERT_NE(mono, nullptr);
  EXPECT_EQ(colour0, Rgb(0, 0, 0));
  EXPECT_EQ(colour1, Rgb(255, 255, 255));
  EXPECT_EQ(mono->ScanLine(0)[0], 0xFF);
  EXPECT_EQ(mono->ScanLine(0)[1], 0b1110'0000);
  EXPECT_EQ(mono->ScanLine(1)[0], 0b1011'1111);
  EXPECT_EQ(mono->ScanLine(1)[1], 0b0100'0000);
  EXPECT_EQ(mono->ScanLine(0)[2], 0);  // row padding stays clear

  TBitmap back;
  Expand1BitTo24Bit(*mono, back, {});
  EXPECT_EQ(PixelBytesTopDown(back), PixelBytesTopDown(image));
}

TEST_F(QuantizerTwoColorTo1BitTest, AnythingButExactlyTwoColoursGivesNoImage) {
  TBitmap three(9, 4, pf24bit);
  three.Fill(clWhite);
  SetPixel(three, 0, 0, Rgb(0, 0, 0));
  SetPixel(three, 8, 3, Rgb(1, 0, 0));  // the last pixel is the third colour
  TBitmap one(4, 4, pf24bit);
  TBitmap empty;
  TBitmap mono(8, 2, pf1bit);
  mono.FillRect(0, 0, 4, 2, clWhite);
  for (const TBitmap* image : {&three, &one, &empty, &mono}) {
    EXPECT_EQ(TwoColorTo1Bit(*image, colour0, colour1), nullptr);
    EXPECT_EQ(colour0, kUnused);
    EXPECT_EQ(colour1, kUnused);
  }
}

// The threshold table as printed in the ordered-dither definition: [x mod 8][y mod 8].
constexpr int kMatrix[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

TEST(QuantizerDitherTo1BitTest, UniformGreySetsBitsWhereTheThresholdIsBelowItsBrightness) {
  // Grey 128: 99 x 128 = 12672 -> 126 -> brightness 31. Grey 130: 12870 -> 128 -> 32, half the cells.
  for (const auto& [grey, brightness, whiteCells] : {std::tuple{128, 31, 31}, std::tuple{130, 32, 32}}) {
    SCOPED_TRACE(grey);
    TBitmap image(16, 16, pf24bit);
    image.Fill(RGBToColor(grey, grey, grey));
    DitherTo1Bit(image, {});
    ASSERT_EQ(image.PixelFormat(), pf1bit);
    ASSERT_EQ(image.Width(), 16);
    int white = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(BitAt(image, x, y), kMatrix[x % 8][y % 8] < brightness) << x << ", " << y;
        white += BitAt(image, x, y);
      }
    }
    EXPECT_EQ(white, 4 * whiteCells);
  }
}

TEST(QuantizerDitherTo1BitTest, ColumnSelectsTheMatrixRow) {
  // Brightness 40 (grey 162): at x 1, y 0 the threshold is 48, at x 0, y 1 it is 32.
  TBitmap image(2, 2, pf24bit);
  image.Fill(RGBToColor(162, 162, 162));
  DitherTo1Bit(image, {});
  EXPECT_FALSE(BitAt(image, 1, 0));
  EXPECT_TRUE(BitAt(image, 0, 1));
}

TEST(QuantizerDitherTo1BitTest, RandomColoursFollowTheIntegerBrightness) {
  TBitmap image(19, 11, pf24bit);
  FillRandom(image, 9);
  TBitmap original;
  CopyBitmap(image, original);
  std::vector<int> reported;
  TObject sender;
  DitherTo1Bit(image,
               TProgressContext{[&](TObject&, int per) { reported.push_back(per); }, &sender, nullptr});
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 19; ++x) {
      const TRGB c = PixelAt(original, x, y);
      const int brightness = (21 * c.r + 71 * c.g + 7 * c.b) / 100 / 4;
      EXPECT_EQ(BitAt(image, x, y), brightness > kMatrix[x % 8][y % 8]) << x << ", " << y;
    }
  }
  EXPECT_EQ(image.ScanLine(0)[3], 0);  // padding
  ASSERT_EQ(reported.size(), 11u);
  EXPECT_EQ(reported.front(), 8);  // 100 / 11.5 = 8.69
  EXPECT_EQ(reported.back(), 95);  // 95.65
}

TEST(QuantizerDitherTo1BitTest, LeavesOtherFormatsAlone) {
  TBitmap mono(9, 3, pf1bit);
  mono.FillRect(0, 0, 5, 3, clWhite);
  const std::vector<std::uint8_t> before = PixelBytesTopDown(mono);
  DitherTo1Bit(mono, {});
  EXPECT_EQ(mono.PixelFormat(), pf1bit);
  EXPECT_EQ(PixelBytesTopDown(mono), before);
}

TEST(QuantizerExpand1BitTo24BitTest, WidthsOffTheByteGrid) {
  for (int width : {1, 7, 8, 9, 13, 17}) {
    SCOPED_TRACE(width);
    TBitmap mono(width, 3, pf1bit);
    FillRandom(mono, static_cast<std::uint32_t>(width));  // also sets the unused low bits of the last byte
    TBitmap colour(2, 2, pf8bit);
    std::vector<int> reported;
    TObject sender;
    Expand1BitTo24Bit(
        mono, colour,
        TProgressContext{[&](TObject&, int per) { reported.push_back(per); }, &sender, nullptr});
    ASSERT_EQ(colour.PixelFormat(), pf24bit);
    ASSERT_EQ(colour.Width(), width);
    ASSERT_EQ(colour.Height(), 3);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < width; ++x) {
        EXPECT_EQ(PixelAt(colour, x, y), BitAt(mono, x, y) ? Rgb(255, 255, 255) : Rgb(0, 0, 0))
            << x << ", " << y;
      }
      for (std::size_t i = 3 * static_cast<std::size_t>(width); i < colour.Stride(); ++i) {
        EXPECT_EQ(colour.ScanLine(y)[i], 0);
      }
    }
    EXPECT_EQ(reported, (std::vector<int>{28, 57, 85}));
  }
}

TEST(QuantizerNearestColorIndexTest, SumOfDifferencesFirstEntryWinsTies) {
  const TRGB table[] = {Rgb(10, 0, 0), Rgb(0, 6, 6), Rgb(0, 0, 10), Rgb(0, 0, 10)};
  // Squared distance would prefer entry 1 (72 against 100); the channel sum gives 10 against 12.
  EXPECT_EQ(NearestColorIndex(table, 2, Rgb(0, 0, 0)), 0);
  EXPECT_EQ(NearestColorIndex(table, 4, Rgb(0, 0, 0)), 0);
  // From entry 1 on: 12, 10, 10; the first of the two at 10 wins.
  EXPECT_EQ(NearestColorIndex(table + 1, 3, Rgb(0, 0, 0)), 1);
  EXPECT_EQ(NearestColorIndex(table, 4, Rgb(0, 0, 200)), 2);
  EXPECT_EQ(NearestColorIndex(table, 0, Rgb(0, 0, 0)), 0);
  EXPECT_EQ(NearestColorIndex(nullptr, 0, Rgb(9, 9, 9)), 0);
}

}  // namespace
