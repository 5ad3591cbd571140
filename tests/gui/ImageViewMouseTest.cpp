#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <vector>

#include "image/SelectionEditing.h"
#include "view/Cursors.h"
#include "view/ImageView.h"

using namespace veilora;

namespace {

// A 400 x 300 picture in a frameless 200 x 150 view at 100%, not centred: client point (x, y)
// shows bitmap pixel (x, y) until the view scrolls.
class ImageViewMouseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.SetBorderStyle(bsNone);
    view.resize(200, 150);
    view.Bitmap()->Allocate(400, 300, pf24bit);
    view.Bitmap()->FillRect(0, 0, 400, 300, clWhite);
    view.Update();
    view.SetMouseInteract(miSelect);
    view.OnSelectionChanging = [this](TObject&) { ++changing; };
    view.OnSelectionChange = [this](TObject&) { ++changed; };
    view.OnMouseInSel = [this](TObject&) { ++inSelection; };
  }

  void Send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
            Qt::KeyboardModifiers modifiers) {
    QWidget* target = view.viewport();
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held, modifiers);
    QApplication::sendEvent(target, &event);
  }
  void Press(QPoint at, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {}) {
    Send(QEvent::MouseButtonPress, at, button, button, modifiers);
  }
  void Move(QPoint at, Qt::MouseButtons held = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {}) {
    Send(QEvent::MouseMove, at, Qt::NoButton, held, modifiers);
  }
  void Release(QPoint at, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {}) {
    Send(QEvent::MouseButtonRelease, at, button, Qt::NoButton, modifiers);
  }
  void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = {}) {
    Press(from, Qt::LeftButton, modifiers);
    Move(to, Qt::LeftButton, modifiers);
    Release(to, Qt::LeftButton, modifiers);
  }
  void Click(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    Press(at, button);
    Release(at, button);
  }
  std::vector<TPoint> Points() const { return view.Outline().Points(); }

  TImageView view;
  int changing = 0;
  int changed = 0;
  int inSelection = 0;
};

const std::vector<TPoint> kRect10To50{{10, 10}, {50, 10}, {50, 30}, {10, 30}};

TEST_F(ImageViewMouseTest, DraggingSelectsTheRectangleBetweenPressAndRelease) {
  Drag({50, 30}, {10, 10});
  EXPECT_EQ(Points(), kRect10To50);
  EXPECT_TRUE(view.HasSelection());
  EXPECT_TRUE(view.OutlineVisible());
  EXPECT_EQ(changing, 2);  // the press and the move
  EXPECT_EQ(changed, 1);
  // A click without a drag keeps it.
  Click({100, 100});
  EXPECT_EQ(Points(), kRect10To50);
}

TEST_F(ImageViewMouseTest, GripsResizeFlipAndShowTheirCursors) {
  Drag({10, 10}, {50, 30});
  struct Hover {
    QPoint at;
    int cursor;
  };
  for (const Hover& hover :
       {Hover{{10, 10}, crSizeNwse}, Hover{{50, 10}, crSizeNesw}, Hover{{30, 31}, crSizeNs},
        Hover{{11, 20}, crSizeWe}, Hover{{30, 20}, crMoveSelection}, Hover{{90, 90}, crSelect}}) {
    Move(hover.at, Qt::NoButton);
    EXPECT_EQ(view.ShownCursor(), hover.cursor) << hover.at.x() << "," << hover.at.y();
  }
  EXPECT_EQ(inSelection, 5);

  // The left edge dragged past the right one becomes the right edge; a width of 1 stays.
  Press({10, 20});
  Move({50, 20});
  EXPECT_EQ(Points(), (std::vector<TPoint>{{49, 10}, {50, 10}, {50, 30}, {49, 30}}));
  Move({70, 20});
  Release({70, 20});
  EXPECT_EQ(Points(), (std::vector<TPoint>{{50, 10}, {70, 10}, {70, 30}, {50, 30}}));
}

TEST_F(ImageViewMouseTest, MovingAgainstTheLeftEdgeShrinksTheSelection) {
  Drag({10, 10}, {50, 30});
  Press({30, 20});
  Move({10, 25});
  Release({10, 25});
  EXPECT_EQ(Points(), (std::vector<TPoint>{{0, 15}, {30, 15}, {30, 35}, {0, 35}}));
}

TEST_F(ImageViewMouseTest, ShiftAddsAPartAfterABreakMarker) {
  Drag({10, 10}, {50, 30});
  Press({60, 40}, Qt::LeftButton, Qt::ShiftModifier);
  Move({70, 50}, Qt::LeftButton, Qt::ShiftModifier);
  Move({90, 80}, Qt::LeftButton, Qt::ShiftModifier);
  Release({90, 80}, Qt::LeftButton, Qt::ShiftModifier);
  ASSERT_EQ(view.Outline().Count(), 9);
  EXPECT_EQ(Points()[4], kSelectionBreak);
  EXPECT_EQ(Points()[6], (TPoint{90, 40}));
  const TRectInclusive box = view.Outline().Bounds();
  EXPECT_TRUE(box.x1 == 10 && box.y1 == 10 && box.x2 == 90 && box.y2 == 80);
  EXPECT_FALSE(IsPlainRectangle(view.Selection()));
}

TEST_F(ImageViewMouseTest, ZoomClicksStepAndADragMovesTheView) {
  view.SetMouseInteract(miZoom | miScroll);
  view.SetZoom(75);
  std::vector<int> zooms;
  for (const Qt::MouseButton button :
       {Qt::LeftButton, Qt::LeftButton, Qt::RightButton, Qt::RightButton, Qt::RightButton}) {
    Click({100, 75}, button);
    zooms.push_back(view.Zoom());
  }
  EXPECT_EQ(zooms, (std::vector<int>{100, 200, 100, 75, 50}));

  view.SetZoom(100);
  view.SetViewOrigin(100, 100);
  Press({100, 75});
  Move({90, 70});
  Release({80, 60});
  EXPECT_EQ(view.Zoom(), 100);
  EXPECT_EQ(view.ViewOriginX(), 120);
  EXPECT_EQ(view.ViewOriginY(), 115);
}

TEST_F(ImageViewMouseTest, AddingScrollToSelectGivesTheHandAlone) {
  view.SetMouseInteract(miSelect | miScroll);
  EXPECT_EQ(view.MouseInteract(), miScroll);
  Drag({100, 100}, {60, 80});
  EXPECT_EQ(view.ViewOriginX(), 40);
  EXPECT_EQ(view.ViewOriginY(), 20);
  EXPECT_FALSE(view.HasSelection());
}

TEST_F(ImageViewMouseTest, HoldingTheMouseOutsideScrollsAndWidensTheSelection) {
  Press({150, 100});
  Move({230, 120});  // 31 pixels right of the last client column
  EXPECT_EQ(view.ViewOriginX(), 31);
  EXPECT_EQ(Points()[1].x, 199 + 31);
  QTest::qWait(3 * TImageView::kAutoScrollMs + 20);
  EXPECT_GT(view.ViewOriginX(), 31 * 2);  // it keeps going while the mouse stays there
  Release({230, 120});
  const int origin = view.ViewOriginX();
  QTest::qWait(2 * TImageView::kAutoScrollMs);
  EXPECT_EQ(view.ViewOriginX(), origin);
  EXPECT_EQ(Points()[0].x, 150);  // the press point kept its pixel
}

TEST_F(ImageViewMouseTest, PolygonClicksAddCornersAndADoubleClickEndsIt) {
  view.SetMouseInteract(miSelectPolygon);
  Click({10, 10});
  Click({60, 10});
  Move({60, 60}, Qt::NoButton);
  Click({60, 60});
  Send(QEvent::MouseButtonDblClick, {60, 60}, Qt::LeftButton, Qt::LeftButton, {});
  Release({60, 60});
  EXPECT_EQ(Points(), (std::vector<TPoint>{{10, 10}, {60, 10}, {60, 60}}));
  EXPECT_EQ(changed, 1);
  // Ctrl snaps the next polygon's corner onto the vertical.
  Click({100, 100});
  Press({110, 160}, Qt::LeftButton, Qt::ControlModifier);
  Release({110, 160}, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(Points().back(), (TPoint{100, 149}));
  view.SetMouseInteract(miSelect);  // finishes the polygon
  EXPECT_EQ(view.Outline().Count(), 2);
}

TEST_F(ImageViewMouseTest, EllipseAndSelectZoomModes) {
  view.SetMouseInteract(miSelectCircle);
  Drag({100, 75}, {140, 95});
  EXPECT_EQ(view.Outline().Count(), 31);
  EXPECT_EQ(Points()[0], (TPoint{140, 75}));
  EXPECT_EQ(changed, 1);

  view.SetMouseInteract(miSelectZoom);
  Drag({20, 20}, {69, 44});  // a box of 50 x 25 pixels
  EXPECT_EQ(view.Zoom(), 400);
  EXPECT_FALSE(view.HasSelection());
}

TEST_F(ImageViewMouseTest, TheMagicWandSelectsTheRegionOfTheClickedColour) {
  view.Bitmap()->FillRect(20, 20, 60, 50, clBlack);
  view.SetMouseInteract(miSelectMagicWand);
  Click({30, 30});
  ASSERT_TRUE(view.HasSelection());
  TBitmap copy;
  CopyRegion(*view.Bitmap(), view.Outline(), copy);
  EXPECT_EQ(copy.Width(), 40);
  EXPECT_EQ(copy.Height(), 30);
}

TEST_F(ImageViewMouseTest, OutlineTicksAdvanceTheDashesWithoutDrawingThePictureAgain) {
  view.SetDoubleBuffer(false);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  Drag({10, 10}, {50, 30});
  QApplication::processEvents();
  const int renders = view.RenderCount();
  const int phase = view.OutlinePhase();
  view.OutlineTick();
  QApplication::processEvents();
  EXPECT_EQ(view.OutlinePhase(), (phase + 1) % 6);
  EXPECT_EQ(view.RenderCount(), renders);
  const QRegion region = view.OutlineRegion();
  for (const QPoint on : {QPoint(30, 10), QPoint(10, 20), QPoint(50, 20), QPoint(30, 30), QPoint(52, 32)}) {
    EXPECT_TRUE(region.contains(on)) << on.x() << "," << on.y();
  }
  EXPECT_FALSE(region.contains(QPoint(30, 20)));

  // What the window shows: the dashes along the top edge, black and white, grips at the corners.
  const QImage shown = view.viewport()->grab().toImage();
  int black = 0;
  for (int x = 14; x < 44; ++x) black += shown.pixel(x, 10) == qRgb(0, 0, 0) ? 1 : 0;
  EXPECT_EQ(black, 15);
  EXPECT_EQ(shown.pixel(7, 7), qRgb(0, 0, 0));
  EXPECT_EQ(shown.pixel(12, 12), qRgb(0, 0, 0));
  EXPECT_EQ(shown.pixel(10, 10), qRgb(255, 255, 255));
}

TEST_F(ImageViewMouseTest, ANewBitmapSizeOrUnselectRemovesTheSelection) {
  Drag({10, 10}, {50, 30});
  view.Bitmap()->SetSize(100, 100);
  view.Update();
  EXPECT_FALSE(view.HasSelection());
  EXPECT_EQ(view.Selection(), nullptr);
  Drag({10, 10}, {50, 30});
  view.Unselect();
  EXPECT_FALSE(view.HasSelection());
  EXPECT_EQ(view.Outline().Count(), 0);
}

}  // namespace
