#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/ImageProc.h"
#include "support/HeadlessView.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

class UndoTest : public testing::Test {
 protected:
  void SetUp() override {
    view.Bitmap()->Allocate(20, 20, pf24bit);
    FillRandom(*view.Bitmap(), 42);
    proc.SetAttachedView(&view);
  }
  std::vector<std::uint8_t> Pixels() const { return PixelBytesTopDown(*view.Bitmap()); }

  HeadlessView view;
  ImageChangeCounter changes{view};
  TImageProc proc;
};

TEST_F(UndoTest, CopyCountsOnlyWhenWiderAndHigherThanOnePixel) {
  struct Case {
    int width, height;
    bool canUndo;
  };
  const Case cases[] = {{2, 2, true},    {3, 2, true},  {1, 200, false},
                        {200, 1, false}, {1, 1, false}, {0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    view.Bitmap()->Allocate(20, 20, pf24bit);
    proc.SaveUndo();  // an older copy that the new one must replace
    view.Bitmap()->Allocate(c.width, c.height, pf24bit);
    proc.SaveUndo();
    EXPECT_EQ(proc.CanUndo(), c.canUndo);
  }
}

TEST_F(UndoTest, RestoresThePixelsBeforeTheLastHiddenText) {
  ASSERT_EQ(proc.WriteHiddenText("first"), 5);
  const std::vector<std::uint8_t> afterFirst = Pixels();
  ASSERT_EQ(proc.WriteHiddenText("the second"), 10);
  ASSERT_TRUE(proc.CanUndo());

  proc.Undo();
  EXPECT_EQ(Pixels(), afterFirst);
  std::string text;
  EXPECT_EQ(proc.ReadHiddenText(text), 5);
  EXPECT_EQ(text, "first");

  // One level only, and the buffer keeps its copy: a second Undo brings back the same state.
  FillRandom(*view.Bitmap(), 5);
  proc.Undo();
  EXPECT_EQ(Pixels(), afterFirst);
}

TEST_F(UndoTest, RestoresTheSize) {
  const std::vector<std::uint8_t> original = Pixels();
  proc.SetImageSize(31, 7);
  proc.Undo();
  EXPECT_EQ(view.Bitmap()->Width(), 20);
  EXPECT_EQ(view.Bitmap()->Height(), 20);
  EXPECT_EQ(Pixels(), original);
}

TEST_F(UndoTest, OneColumnImageCannotBeUndone) {
  proc.SaveUndo();
  view.Bitmap()->Allocate(1, 200, pf24bit);
  proc.ClearImage();
  const std::vector<std::uint8_t> cleared = Pixels();
  EXPECT_FALSE(proc.CanUndo());
  const int changesBefore = changes.count;
  proc.Undo();
  EXPECT_EQ(view.Bitmap()->Height(), 200);
  EXPECT_EQ(Pixels(), cleared);
  EXPECT_EQ(changes.count, changesBefore);
}

TEST_F(UndoTest, AutoUndoOffTakesNoCopy) {
  proc.AutoUndo = false;
  proc.ClearImage();
  EXPECT_FALSE(proc.CanUndo());

  FillRandom(*view.Bitmap(), 6);
  const std::vector<std::uint8_t> saved = Pixels();
  proc.SaveUndo();
  proc.WriteHiddenText("text");
  proc.ClearImage();
  proc.SetImageSize(8, 8);
  EXPECT_TRUE(proc.CanUndo());
  proc.Undo();
  EXPECT_EQ(Pixels(), saved);
}

TEST_F(UndoTest, UndoReportsTheChangeAndClearUndoEmptiesTheBuffer) {
  proc.ClearImage();
  const int updates = view.updates;
  const int imageChanges = changes.count;
  proc.Undo();
  EXPECT_EQ(view.updates, updates + 1);
  EXPECT_EQ(changes.count, imageChanges + 1);

  proc.ClearUndo();
  EXPECT_FALSE(proc.CanUndo());
  proc.ClearImage();  // AutoUndo takes a fresh copy
  proc.ClearUndo();
  const std::vector<std::uint8_t> cleared = Pixels();
  proc.Undo();
  EXPECT_EQ(Pixels(), cleared);
}

}  // namespace
