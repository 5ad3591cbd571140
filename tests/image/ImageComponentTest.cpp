#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "image/ImageComponent.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"
#include "support/HeadlessView.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

// A view that replaces its bitmap object, as a shell does when it loads into a fresh bitmap.
class TwoBitmapView : public TBaseView {
 public:
  ~TwoBitmapView() override { NotifyRemoval(); }
  TBitmap* Bitmap() override { return &bitmaps_[current_]; }
  using TBaseView::Bitmap;
  void Update() override {}
  void SwitchBitmap() {
    current_ = 1 - current_;
    CallBitmapChangeEvents();
  }

 private:
  TBitmap bitmaps_[2];
  int current_ = 0;
};

class ImageComponentTest : public testing::Test {
 protected:
  HeadlessView view;
};

using AttachViewTest = ImageComponentTest;
using AttachBitmapTest = ImageComponentTest;
using ComponentBackgroundTest = ImageComponentTest;

TEST_F(AttachViewTest, RegistersWithOneViewAtATime) {
  HeadlessView other;
  TImageProc proc;
  proc.SetAttachedView(&view);
  EXPECT_EQ(proc.AttachedView(), &view);
  EXPECT_EQ(proc.Bitmap(), view.Bitmap());
  EXPECT_EQ(view.BitmapChangeEventCount(), 1u);

  proc.SetAttachedView(&other);
  EXPECT_EQ(proc.Bitmap(), other.Bitmap());
  EXPECT_EQ(view.BitmapChangeEventCount(), 0u);
  EXPECT_EQ(other.BitmapChangeEventCount(), 1u);
}

TEST_F(AttachViewTest, ComponentsDestroyedFirstLeaveTheListEmpty) {
  {
    TImageProc proc;
    TImageIO io;
    proc.SetAttachedView(&view);
    io.SetAttachedView(&view);
    EXPECT_EQ(view.BitmapChangeEventCount(), 2u);
  }
  EXPECT_EQ(view.BitmapChangeEventCount(), 0u);
}

TEST_F(AttachViewTest, ComponentsOfOneClassOnOneViewStayApart) {
  TwoBitmapView twoBitmaps;
  TImageProc kept;
  kept.SetAttachedView(&twoBitmaps);
  std::optional<TImageProc> dropped(std::in_place);
  dropped->SetAttachedView(&twoBitmaps);
  dropped.reset();

  twoBitmaps.SwitchBitmap();
  EXPECT_EQ(twoBitmaps.BitmapChangeEventCount(), 1u);
  EXPECT_EQ(kept.Bitmap(), twoBitmaps.Bitmap());
}

TEST_F(AttachViewTest, ViewDestroyedFirstLeavesNothingToWorkOn) {
  auto doomed = std::make_unique<HeadlessView>();
  doomed->Bitmap()->Allocate(20, 20, pf24bit);
  TImageProc proc;
  proc.SetAttachedView(doomed.get());
  proc.SaveUndo();
  doomed.reset();
  EXPECT_EQ(proc.AttachedView(), nullptr);
  EXPECT_EQ(proc.Bitmap(), nullptr);

  // None of these may reach the freed view or bitmap.
  EXPECT_EQ(proc.WriteHiddenText("gone"), 0);
  proc.ClearImage();
  proc.SetImageSize(5, 5);
  proc.ConvertToTrueColour();
  proc.SaveUndo();
  proc.Undo();
  proc.ReportImageChange();
  EXPECT_EQ(proc.CalcColourCount(), 0);
  proc.SetBackground(clWhite);
  EXPECT_EQ(proc.Background(), clWhite);
}

TEST_F(AttachBitmapTest, WorksWithoutAViewAndRaisesTheBitmapsChange) {
  TBitmap bitmap(4, 3, pf24bit);
  bitmap.Fill(clWhite);
  int changes = 0;
  bitmap.OnChange = [&changes](TBitmap&) { ++changes; };
  TImageProc proc;
  proc.AttachBitmap(&bitmap);
  EXPECT_EQ(proc.Bitmap(), &bitmap);
  EXPECT_EQ(proc.AttachedView(), nullptr);

  proc.ClearImage();  // with the component's own background, black
  EXPECT_EQ(PixelsOtherThan(bitmap, (TRGB{0, 0, 0})), 0);
  EXPECT_EQ(changes, 1);
  proc.ReportImageChange();
  EXPECT_EQ(changes, 2);
}

TEST_F(AttachBitmapTest, NullBitmapIsIgnoredWhileAViewIsAttached) {
  TImageProc proc;
  proc.SetAttachedView(&view);
  proc.AttachBitmap(nullptr);
  EXPECT_EQ(proc.AttachedView(), &view);
  EXPECT_EQ(proc.Bitmap(), view.Bitmap());
  EXPECT_EQ(view.BitmapChangeEventCount(), 1u);
}

TEST_F(ComponentBackgroundTest, IsTheViewsWhileAttachedElseItsOwn) {
  TImageProc proc;
  EXPECT_EQ(proc.Background(), clBlack);
  proc.SetBackground(RGBToColor(1, 2, 3));
  EXPECT_EQ(proc.Background(), RGBToColor(1, 2, 3));
  EXPECT_EQ(view.Background(), clBtnFace);

  proc.SetAttachedView(&view);
  EXPECT_EQ(proc.Background(), clBtnFace);
  proc.SetBackground(RGBToColor(4, 5, 6));
  EXPECT_EQ(view.Background(), RGBToColor(4, 5, 6));
  view.SetBackground(RGBToColor(7, 8, 9));
  EXPECT_EQ(proc.Background(), RGBToColor(7, 8, 9));
}

}  // namespace
