#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "image/ColourSet.h"
#include "image/Errors.h"
#include "image/ImageProc.h"
#include "support/HeadlessView.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

constexpr TRGB kWhite{255, 255, 255};
constexpr TRGB kBlack{0, 0, 0};

class WholeImageTest : public testing::Test {
 protected:
  void SetUp() override { proc.SetAttachedView(&view); }
  TBitmap& Image() { return *view.Bitmap(); }
  void RandomImage(int width, int height) {
    Image().Allocate(width, height, pf24bit);
    FillRandom(Image(), 17);
  }

  HeadlessView view;
  ImageChangeCounter changes{view};
  TImageProc proc;
};

using ClearImageTest = WholeImageTest;
using SetImageSizeTest = WholeImageTest;
using ConvertToTrueColourTest = WholeImageTest;
using CalcColourCountTest = WholeImageTest;

TEST_F(ClearImageTest, FillsEveryPixelWithTheBackgroundAfterAnUndoCopy) {
  RandomImage(7, 5);
  const std::vector<std::uint8_t> original = PixelBytesTopDown(Image());
  view.SetBackground(RGBToColor(10, 20, 30));
  const int changesBefore = changes.count;
  proc.ClearImage();
  EXPECT_EQ(PixelsOtherThan(Image(), (TRGB{30, 20, 10})), 0);
  EXPECT_EQ(changes.count, changesBefore + 1);
  proc.Undo();
  EXPECT_EQ(PixelBytesTopDown(Image()), original);
}

TEST_F(ClearImageTest, WhiteBackgroundWipesHiddenText) {
  RandomImage(20, 20);
  ASSERT_EQ(proc.WriteHiddenText("secret"), 6);
  view.SetBackground(clWhite);
  proc.ClearImage();
  // Every carrier bit is now 1, so the stored length reads as -1.
  EXPECT_EQ(proc.ReadHiddenData(nullptr, 0), -1);
  std::string text = "kept";
  EXPECT_THROW(proc.ReadHiddenText(text), ENoHiddenData);
  EXPECT_EQ(text, "kept");
}

TEST_F(SetImageSizeTest, ZeroOrNegativeSizeChangesNothing) {
  RandomImage(4, 3);
  const std::vector<std::uint8_t> original = PixelBytesTopDown(Image());
  const std::pair<int, int> sizes[] = {{0, 5}, {5, 0}, {0, 0}, {-3, 5}, {5, -3}};
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(testing::Message() << width << " x " << height);
    proc.SetImageSize(width, height);
    EXPECT_EQ(Image().Width(), 4);
    EXPECT_EQ(Image().Height(), 3);
    EXPECT_EQ(PixelBytesTopDown(Image()), original);
    EXPECT_FALSE(proc.CanUndo());
    EXPECT_EQ(changes.count, 0);
  }
}

TEST_F(SetImageSizeTest, SizeOverTheMemoryLimitIsRefusedBeforeTheUndoCopy) {
  RandomImage(4, 3);
  const std::vector<std::uint8_t> original = PixelBytesTopDown(Image());
  EXPECT_THROW(proc.SetImageSize(40000, 40000), EImageTooLarge);
  EXPECT_EQ(PixelBytesTopDown(Image()), original);
  EXPECT_FALSE(proc.CanUndo());
  EXPECT_EQ(changes.count, 0);
}

TEST_F(SetImageSizeTest, KeepsTopLeftPixelsAndFillsTheRestWithBackground) {
  RandomImage(4, 3);
  TBitmap original;
  CopyBitmap(Image(), original);
  view.SetBackground(RGBToColor(1, 2, 3));
  const int changesBefore = changes.count;

  proc.SetImageSize(6, 5);
  ASSERT_EQ(Image().Width(), 6);
  ASSERT_EQ(Image().Height(), 5);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(PixelAt(Image(), x, y), (x < 4 && y < 3 ? PixelAt(original, x, y) : TRGB{3, 2, 1}))
          << "pixel " << x << ", " << y;
    }
  }
  EXPECT_TRUE(proc.CanUndo());
  EXPECT_EQ(changes.count, changesBefore + 1);

  proc.SetImageSize(2, 2);
  ASSERT_EQ(Image().Width(), 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) EXPECT_EQ(PixelAt(Image(), x, y), PixelAt(original, x, y));
  }
}

TEST_F(SetImageSizeTest, NewDocumentIsWhite) {
  ASSERT_TRUE(Image().Empty());
  view.SetBackground(clWhite);
  proc.SetImageSize(300, 300);
  ASSERT_EQ(Image().Width(), 300);
  ASSERT_EQ(Image().Height(), 300);
  EXPECT_EQ(Image().PixelFormat(), pf24bit);
  EXPECT_EQ(PixelsOtherThan(Image(), kWhite), 0);
}

TEST_F(ConvertToTrueColourTest, SetBitsBecomeWhiteClearBitsBlack) {
  // Ten pixels a row: eight in the first byte, two in the top bits of the second. The other bits
  // of the row are padding; they are set here to show that they are never read as pixels.
  const std::uint8_t rows[3][2] = {{0xA5, 0x80}, {0x0F, 0x40}, {0xFF, 0xC0}};
  Image().Allocate(10, 3, pf1bit);
  for (int y = 0; y < 3; ++y) {
    std::uint8_t* row = Image().ScanLine(y);
    row[0] = rows[y][0];
    row[1] = rows[y][1] | 0x3F;
    row[2] = row[3] = 0xFF;
  }
  // An inverted colour table, which the conversion must not consult.
  Image().Palette() = {TRGBQuad{255, 255, 255, 0}, TRGBQuad{0, 0, 0, 0}};
  std::vector<int> progress;
  proc.OnProgress = [&progress](TObject&, int percentage) { progress.push_back(percentage); };

  proc.ConvertToTrueColour();
  ASSERT_EQ(Image().PixelFormat(), pf24bit);
  ASSERT_EQ(Image().Width(), 10);
  ASSERT_EQ(Image().Height(), 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 10; ++x) {
      const bool set = (rows[y][x / 8] << (x % 8)) & 0x80;
      EXPECT_EQ(PixelAt(Image(), x, y), set ? kWhite : kBlack) << "pixel " << x << ", " << y;
    }
  }
  EXPECT_EQ(progress, (std::vector<int>{28, 57, 85}));
  EXPECT_TRUE(proc.CanUndo());
  EXPECT_EQ(changes.count, 1);
}

TEST_F(ConvertToTrueColourTest, TrueColourImageStaysWithoutUndoCopy) {
  RandomImage(4, 4);
  const std::vector<std::uint8_t> original = PixelBytesTopDown(Image());
  proc.ConvertToTrueColour();
  EXPECT_EQ(PixelBytesTopDown(Image()), original);
  EXPECT_FALSE(proc.CanUndo());
  EXPECT_EQ(changes.count, 0);
}

TEST_F(CalcColourCountTest, NewDocumentHasOneColour) {
  view.SetBackground(clWhite);
  proc.SetImageSize(300, 300);
  EXPECT_EQ(proc.CalcColourCount(), 1);
}

TEST_F(CalcColourCountTest, CountsOnlyTheSelectionBox) {
  Image().Allocate(6, 4, pf24bit);  // black
  Image().FillRect(0, 0, 1, 1, clWhite);
  Image().FillRect(1, 1, 2, 2, RGBToColor(255, 0, 0));
  Image().FillRect(2, 1, 3, 2, RGBToColor(0, 255, 0));
  Image().FillRect(5, 3, 6, 4, RGBToColor(0, 0, 255));
  struct Case {
    std::optional<TRectInclusive> selection;
    int colours;
  };
  const Case cases[] = {
      {std::nullopt, 5},
      {TRectInclusive{1, 1, 2, 1}, 2},
      {TRectInclusive{2, 1, 5, 3}, 3},
      {TRectInclusive{1, 1, 40, 30}, 4},  // right and bottom limited to the image
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "expecting " << c.colours);
    view.selection = c.selection;
    EXPECT_EQ(proc.CalcColourCount(), c.colours);
  }
}

TEST_F(CalcColourCountTest, OnlyTrueColourImagesAreCounted) {
  Image().Allocate(9, 2, pf1bit);  // all black, still two colours
  EXPECT_EQ(proc.CalcColourCount(), 2);
  Image().Allocate(9, 2, pf8bit);
  EXPECT_EQ(proc.CalcColourCount(), 0);
  const TImageProc detached;
  EXPECT_EQ(detached.CalcColourCount(), 0);
}

TEST(ColourSet, InsertTellsNewValuesAndCountCountsDistinctOnes) {
  THash1 colours;
  EXPECT_TRUE(colours.Insert(0));
  EXPECT_FALSE(colours.Insert(0));
  EXPECT_TRUE(colours.Insert(0xFFFFFF));
  EXPECT_TRUE(colours.Insert(1 * 65536 + 2 * 256 + 3));
  EXPECT_EQ(colours.Count(), 3);

  // Pixels lie as blue, green, red: the first two are the red 1, green 2, blue 3 inserted above.
  const std::uint8_t pixels[] = {3, 2, 1, 3, 2, 1, 9, 9, 9};
  colours.InsertPixels(pixels, 3);
  EXPECT_EQ(colours.Count(), 4);
}

TEST(ColourSet, CountsEveryDistinctColourOfARandomRow) {
  // Every red and green pair once (the set's layout mixes those two), then random colours with
  // repeats; the count must match an ordinary set's.
  std::vector<std::uint8_t> row;
  for (int red = 0; red < 256; ++red) {
    for (int green = 0; green < 256; ++green)
      row.insert(row.end(), {7, std::uint8_t(green), std::uint8_t(red)});
  }
  std::mt19937 random(11);
  for (int i = 0; i < 100000; ++i) {
    const auto colour = static_cast<std::uint32_t>(random() % 200000);
    row.insert(row.end(), {std::uint8_t(colour), std::uint8_t(colour >> 8), std::uint8_t(colour >> 16)});
  }
  std::set<std::uint32_t> expected;
  for (std::size_t i = 0; i < row.size(); i += 3)
    expected.insert(row[i] | row[i + 1] << 8 | row[i + 2] << 16);

  THash1 colours;
  colours.InsertPixels(row.data(), static_cast<int>(row.size() / 3));
  EXPECT_EQ(colours.Count(), static_cast<std::int32_t>(expected.size()));
  for (std::uint32_t colour : expected) ASSERT_FALSE(colours.Insert(colour)) << colour;
}

}  // namespace
