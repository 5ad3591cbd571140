#include "image/SelectionEditing.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "image/Clipboard.h"
#include "image/ImageProc.h"
#include "image/PackedDib.h"
#include "support/HeadlessView.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::BitAt;
using veilora::test::HeadlessView;
using veilora::test::PixelAt;
using veilora::test::PixelBytesTopDown;
using veilora::test::Rgb;

namespace {

using Cells = std::set<std::pair<int, int>>;

Cells Covered(const std::vector<TPoint>& polygon, int width, int height) {
  Cells cells;
  FillPolygonSpans(polygon, width, height, [&](int y, int begin, int end) {
    for (int x = begin; x < end; ++x) EXPECT_TRUE(cells.insert({x, y}).second) << "twice " << x << "," << y;
  });
  return cells;
}

void SelectRectangle(TSelectionOutline& outline, int x1, int y1, int x2, int y2, bool additive = false) {
  if (additive) {
    outline.AddBreak();
  } else {
    outline.Clear();
  }
  for (const TPoint p : {TPoint{x1, y1}, TPoint{x2, y1}, TPoint{x2, y2}, TPoint{x1, y2}}) outline.Add(p);
}

TEST(SelectionOutline, KeepsItsBoxFromTheSecondPointAndSplitsAtBreaks) {
  TSelectionOutline outline;
  outline.Add({5, 7});
  EXPECT_EQ(outline.Bounds().x2, 0);  // one point has no box yet
  outline.Add({2, 9});
  EXPECT_EQ(outline.Bounds().x1, 2);
  EXPECT_EQ(outline.Bounds().y1, 7);
  EXPECT_EQ(outline.Bounds().x2, 5);
  EXPECT_EQ(outline.Bounds().y2, 9);
  outline.AddBreak();
  outline.AddBreak();  // a second marker in a row is not stored
  outline.Add({20, 1});
  EXPECT_EQ(outline.Count(), 4);
  EXPECT_EQ(outline.Bounds().x2, 20);
  EXPECT_EQ(outline.Bounds().y1, 1);
  EXPECT_EQ(outline.Parts().size(), 2u);
  EXPECT_FALSE(outline.IsRectangle());

  SelectRectangle(outline, 1, 2, 8, 6);
  EXPECT_TRUE(outline.IsRectangle());
  SelectRectangle(outline, 10, 2, 12, 9, true);
  EXPECT_FALSE(outline.IsRectangle());
  EXPECT_EQ(outline.Parts().size(), 2u);
  outline.AddBreak();
  outline.DropTrailingBreaks();
  EXPECT_EQ(outline.Count(), 9);
}

TEST(FillPolygonSpans, CoversPixelCentresByTheEvenOddRule) {
  // A rectangle's right and bottom edges are exclusive.
  const Cells rectangle = Covered({{1, 1}, {4, 1}, {4, 3}, {1, 3}}, 10, 10);
  EXPECT_EQ(rectangle.size(), 6u);
  EXPECT_TRUE(rectangle.count({1, 1}) && rectangle.count({3, 2}));
  EXPECT_FALSE(rectangle.count({4, 1}) || rectangle.count({1, 3}));
  // Two overlapping squares in one polygon: the overlap is crossed twice and stays out.
  const Cells twice =
      Covered({{0, 0}, {4, 0}, {4, 4}, {2, 4}, {2, 2}, {6, 2}, {6, 6}, {0, 6}, {0, 0}}, 10, 10);
  EXPECT_FALSE(twice.count({0, 6}));
  EXPECT_TRUE(twice.count({0, 0}));
  // A triangle, clipped to the image.
  const Cells triangle = Covered({{0, 0}, {8, 0}, {0, 8}}, 3, 3);
  EXPECT_EQ(triangle, (Cells{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}}));
  EXPECT_TRUE(Covered({{0, 0}, {5, 5}}, 10, 10).empty());
  EXPECT_TRUE(Covered({{-5, -5}, {-1, -5}, {-1, -1}}, 10, 10).empty());
}

class ClipboardCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClipboard(&clipboard);
    view.Bitmap()->Allocate(60, 40, pf24bit);
    veilora::test::FillRandom(*view.Bitmap(), 21);
    view.SetBackground(clWhite);
    proc.SetAttachedView(&view);
    proc.ClearUndo();
  }
  void TearDown() override { SetClipboard(nullptr); }

  // The clipboard's bitmap, decoded.
  void Pasted(TBitmap& bitmap) {
    const TByteBlock block = clipboard.PackedDib();
    EXPECT_TRUE(DecodePackedDib(block.data(), block.size(), bitmap));
  }

  TMemoryClipboard clipboard;
  HeadlessView view;
  TImageProc proc;
};

TEST_F(ClipboardCommands, CopyWithoutASelectionTakesTheWholeImageAndCutDoesNothing) {
  proc.CopySelection();
  TBitmap whole;
  Pasted(whole);
  EXPECT_EQ(PixelBytesTopDown(whole), PixelBytesTopDown(*view.Bitmap()));
  clipboard.PutPackedDib(TByteBlock());
  const std::vector<std::uint8_t> before = PixelBytesTopDown(*view.Bitmap());
  proc.CutSelection();
  EXPECT_TRUE(clipboard.PackedDib().empty());
  EXPECT_EQ(PixelBytesTopDown(*view.Bitmap()), before);
  EXPECT_FALSE(proc.CanUndo());
}

TEST_F(ClipboardCommands, ARectangleCopiesAndCutsItsInclusiveAreaAndCropsOneLess) {
  SelectRectangle(view.outline, 10, 10, 50, 30);
  TBitmap original;
  CopyBitmap(*view.Bitmap(), original);
  proc.CopySelection();
  TBitmap copied;
  Pasted(copied);
  ASSERT_EQ(copied.Width(), 41);
  ASSERT_EQ(copied.Height(), 21);
  EXPECT_EQ(PixelAt(copied, 40, 20), PixelAt(original, 50, 30));

  TBitmap cropped;
  CopySelectionTo(view, cropped);
  ASSERT_EQ(cropped.Width(), 40);
  ASSERT_EQ(cropped.Height(), 20);
  EXPECT_EQ(PixelAt(cropped, 0, 0), PixelAt(original, 10, 10));
  EXPECT_EQ(PixelAt(cropped, 39, 19), PixelAt(original, 49, 29));

  proc.CutSelection();
  EXPECT_TRUE(proc.CanUndo());
  TBitmap cut;
  Pasted(cut);
  EXPECT_EQ(cut.Width(), 41);
  int changed = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) changed += PixelAt(*view.Bitmap(), x, y) == PixelAt(original, x, y) ? 0 : 1;
  EXPECT_EQ(changed, 41 * 21);
  EXPECT_EQ(PixelAt(*view.Bitmap(), 50, 30), Rgb(255, 255, 255));
  EXPECT_EQ(PixelAt(*view.Bitmap(), 51, 30), PixelAt(original, 51, 30));
  EXPECT_EQ(PixelAt(*view.Bitmap(), 9, 10), PixelAt(original, 9, 10));
}

TEST_F(ClipboardCommands, TwoRectanglesCopyTheirBoxLessOneWhiteOutsideBoth) {
  SelectRectangle(view.outline, 0, 0, 10, 10);
  SelectRectangle(view.outline, 20, 5, 30, 15, true);
  proc.CopySelection();
  TBitmap copied;
  Pasted(copied);
  ASSERT_EQ(copied.Width(), 30);
  ASSERT_EQ(copied.Height(), 15);
  EXPECT_EQ(PixelAt(copied, 9, 9), PixelAt(*view.Bitmap(), 9, 9));
  EXPECT_EQ(PixelAt(copied, 29, 14), PixelAt(*view.Bitmap(), 29, 14));
  EXPECT_EQ(PixelAt(copied, 15, 2), Rgb(255, 255, 255));  // between the two
  EXPECT_EQ(PixelAt(copied, 10, 0), Rgb(255, 255, 255));  // the first one's right edge

  // Cut clears each part, right and bottom edges excluded.
  TBitmap original;
  CopyBitmap(*view.Bitmap(), original);
  proc.CutSelection();
  EXPECT_EQ(PixelAt(*view.Bitmap(), 9, 9), Rgb(255, 255, 255));
  EXPECT_EQ(PixelAt(*view.Bitmap(), 10, 9), PixelAt(original, 10, 9));
  EXPECT_EQ(PixelAt(*view.Bitmap(), 15, 2), PixelAt(original, 15, 2));
}

TEST_F(ClipboardCommands, ATwoColourImagePastesBackWithIdenticalBits) {
  view.Bitmap()->Allocate(45, 7, pf1bit);
  veilora::test::FillRandom(*view.Bitmap(), 4);
  for (int y = 0; y < 7; ++y) view.Bitmap()->ScanLine(y)[5] &= 0xF8;  // no bits past the width
  const std::vector<std::uint8_t> before = PixelBytesTopDown(*view.Bitmap());
  proc.CopySelection();
  view.Bitmap()->Allocate(3, 3, pf24bit);
  proc.PasteImage();
  EXPECT_EQ(view.Bitmap()->PixelFormat(), pf1bit);
  EXPECT_EQ(PixelBytesTopDown(*view.Bitmap()), before);
  EXPECT_TRUE(proc.CanUndo());
  proc.Undo();
  EXPECT_EQ(view.Bitmap()->Width(), 3);
}

TEST_F(ClipboardCommands, PasteIntoASelectionStretchesOntoItsWholeBox) {
  TBitmap two;
  veilora::test::Paint(two, 2, {Rgb(255, 0, 0), Rgb(0, 0, 255)});
  clipboard.PutPackedDib(EncodePackedDib(two));
  SelectRectangle(view.outline, 10, 10, 13, 12);
  TBitmap original;
  CopyBitmap(*view.Bitmap(), original);
  proc.PasteIntoSelection();
  for (int y = 10; y <= 12; ++y) {
    EXPECT_EQ(PixelAt(*view.Bitmap(), 10, y), Rgb(255, 0, 0));
    EXPECT_EQ(PixelAt(*view.Bitmap(), 11, y), Rgb(255, 0, 0));
    EXPECT_EQ(PixelAt(*view.Bitmap(), 12, y), Rgb(0, 0, 255));
    EXPECT_EQ(PixelAt(*view.Bitmap(), 13, y), Rgb(0, 0, 255));
    EXPECT_EQ(PixelAt(*view.Bitmap(), 14, y), PixelAt(original, 14, y));
  }
  EXPECT_EQ(PixelAt(*view.Bitmap(), 10, 13), PixelAt(original, 10, 13));
  EXPECT_EQ(view.Bitmap()->Width(), 60);
}

TEST_F(ClipboardCommands, AClipboardWithoutAReadableBitmapPastesNothing) {
  const std::vector<std::uint8_t> before = PixelBytesTopDown(*view.Bitmap());
  for (const std::size_t size : {std::size_t{0}, std::size_t{39}}) {
    clipboard.PutPackedDib(TByteBlock(size));
    proc.PasteImage();
    SelectRectangle(view.outline, 1, 1, 5, 5);
    proc.PasteIntoSelection();
    view.outline.Clear();
  }
  EXPECT_EQ(PixelBytesTopDown(*view.Bitmap()), before);
  EXPECT_FALSE(proc.CanUndo());
}

TEST_F(ClipboardCommands, CropIntoAViewTakesBackgroundResolutionAndRaisesTheChange) {
  HeadlessView target;
  int changes = 0;
  target.OnImageChange = [&](TObject&) { ++changes; };
  view.SetDpi(300, 150);
  CopySelectionTo(view, target);
  EXPECT_EQ(PixelBytesTopDown(*target.Bitmap()), PixelBytesTopDown(*view.Bitmap()));
  EXPECT_EQ(target.Background(), clWhite);
  EXPECT_EQ(target.DpiX(), 300);
  EXPECT_EQ(target.DpiY(), 150);
  EXPECT_GE(changes, 1);
}

}  // namespace
