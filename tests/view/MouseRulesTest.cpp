#include "view/MouseRules.h"

#include <gtest/gtest.h>

#include <vector>

using namespace veilora;

namespace {

TViewGeometry View(int zoom = 100, int bitmapWidth = 200, int bitmapHeight = 100) {
  TViewGeometry view;
  view.SetOuterSize(400, 300, 0);
  view.SetBitmapSize(bitmapWidth, bitmapHeight);
  view.SetZoom(zoom);
  view.Update();
  return view;
}

bool Equal(const TRectInclusive& a, const TRectInclusive& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

TEST(CombineMouseInteract, TheNewlyAddedItemKeepsOnlyWhatGoesWithIt) {
  struct Row {
    TMouseInteract current;
    TMouseInteract requested;
    TMouseInteract stored;
  };
  const Row rows[] = {
      {miSelect, miSelect | miScroll, miScroll},
      {miScroll, miZoom | miScroll, miZoom | miScroll},
      {miZoom | miScroll, miSelect | miZoom | miScroll, miZoom | miSelect},
      {miSelect, miSelect | miSelectPolygon, miSelectPolygon},
      {miSelect, miSelect | miZoom, miSelect | miZoom},
      {miScroll, miScroll | miSelectZoom | miSelectCircle, miSelectCircle},
      {miSelect, miSelect | miSelectMagicWand, miSelectMagicWand},
      {miZoom | miScroll, miScroll, miScroll},  // only removing: stored as asked
      {miSelect, 0, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CombineMouseInteract(row.current, row.requested), row.stored)
        << int{row.current} << " + " << int{row.requested};
  }
}

TEST(ZoomSteps, ClicksWalkTheStepsBelow100AndHundredsAbove) {
  std::vector<int> zooms = {75};
  zooms.push_back(ZoomInStep(zooms.back()));
  zooms.push_back(ZoomInStep(zooms.back()));
  for (int i = 0; i < 9; ++i) zooms.push_back(ZoomOutStep(zooms.back()));
  EXPECT_EQ(zooms, (std::vector<int>{75, 100, 200, 100, 75, 50, 33, 25, 10, 5, 2, 2}));
  EXPECT_EQ(ZoomOutStep(150), 100);
  EXPECT_EQ(ZoomOutStep(250), 150);
  EXPECT_EQ(ZoomInStep(99), 100);
  EXPECT_EQ(ZoomInStep(100), 200);
  EXPECT_EQ(ZoomInStep(1), 2);
}

TEST(GripAt, CornersFirstThenEdgesWithinThreePixels) {
  TSelectionOutline selection;
  SetRectangle(selection, TRectInclusive{10, 10, 50, 30});
  const TViewGeometry view = View();
  struct Row {
    int x, y, grip;
  };
  const Row rows[] = {
      {10, 10, 0}, {13, 7, 0},   {50, 10, 1}, {52, 31, 2}, {8, 33, 3},  {14, 10, 6},  {10, 20, 4},
      {12, 20, 4}, {13, 20, -1}, {50, 20, 5}, {30, 30, 7}, {30, 32, 7}, {30, 20, -1}, {70, 20, -1},
  };
  for (const Row& row : rows)
    EXPECT_EQ(GripAt(selection, view, row.x, row.y), row.grip) << row.x << "," << row.y;
  EXPECT_TRUE(InsideSelection(selection, view, 30, 20));
  EXPECT_TRUE(InsideSelection(selection, view, 50, 30));
  EXPECT_FALSE(InsideSelection(selection, view, 51, 30));

  // At 200% the corners lie at twice their bitmap position.
  EXPECT_EQ(GripAt(selection, View(200), 100, 60), 2);
  TSelectionOutline polygon;
  for (const TPoint p : {TPoint{0, 0}, TPoint{9, 0}, TPoint{0, 9}}) polygon.Add(p);
  EXPECT_EQ(GripAt(polygon, view, 0, 0), -1);
}

TEST(DragGrip, CrossingTheOppositeSideFlipsTheGripAndKeepsAWidth) {
  const TViewGeometry view = View();
  const TRectInclusive box{10, 10, 50, 30};
  TGripDrag drag = DragGrip(box, 4, 70, 20, view);  // the left edge, past the right one
  EXPECT_EQ(drag.grip, 5);
  EXPECT_TRUE(Equal(drag.box, TRectInclusive{50, 10, 70, 30}));
  drag = DragGrip(box, 4, 50, 20, view);  // onto the right edge: one pixel stays
  EXPECT_TRUE(Equal(drag.box, TRectInclusive{49, 10, 50, 30}));
  drag = DragGrip(box, 0, 60, 40, view);  // the top-left corner past the bottom-right one
  EXPECT_EQ(drag.grip, 2);
  EXPECT_TRUE(Equal(drag.box, TRectInclusive{50, 30, 60, 40}));
  drag = DragGrip(box, 2, 500, 500, view);  // clamped to the bitmap
  EXPECT_TRUE(Equal(drag.box, TRectInclusive{10, 10, 199, 99}));
  // At 50% a client pixel is two bitmap pixels.
  drag = DragGrip(box, 5, 40, 20, View(50));
  EXPECT_TRUE(Equal(drag.box, TRectInclusive{10, 10, 80, 30}));
}

TEST(MoveBox, AnEdgeShrinksTheSelectionInsteadOfStoppingIt) {
  const TViewGeometry view = View();
  const TRectInclusive saved{10, 10, 50, 30};
  EXPECT_TRUE(Equal(MoveBox(saved, 5, -3, view), TRectInclusive{15, 7, 55, 27}));
  EXPECT_TRUE(Equal(MoveBox(saved, -20, 0, view), TRectInclusive{0, 10, 30, 30}));
  EXPECT_TRUE(Equal(MoveBox(saved, 0, 100, view), TRectInclusive{10, 99, 50, 99}));
  EXPECT_TRUE(Equal(MoveBox(saved, 3, 0, View(200)), TRectInclusive{12, 10, 52, 30}));  // 1.5 rounds to 2
}

TEST(ConstrainCorner, SnapsToVerticalHorizontalOrDiagonal) {
  const TPoint previous{100, 100};
  EXPECT_EQ(ConstrainCorner(previous, {110, 160}), (TPoint{100, 160}));
  EXPECT_EQ(ConstrainCorner(previous, {40, 95}), (TPoint{40, 100}));
  EXPECT_EQ(ConstrainCorner(previous, {120, 80}), (TPoint{120, 80}));
  EXPECT_EQ(ConstrainCorner(previous, {80, 110}), (TPoint{80, 120}));
}

TEST(ZoomToBox, FitsTheBoxAndCentresIt) {
  const TRectInclusive box{100, 50, 199, 99};  // 100 x 50 pixels
  EXPECT_EQ(ZoomForBox(box, TSize{400, 300}), 400);
  EXPECT_EQ(OriginForBox(box, 400, TSize{400, 300}), (TPoint{400, 200 - 50}));
  EXPECT_EQ(ZoomForBox(TRectInclusive{0, 0, 2, 2}, TSize{10, 10}), 333);
  EXPECT_EQ(ZoomForBox(TRectInclusive{5, 5, 4, 5}, TSize{10, 10}), 0);
}

}  // namespace

namespace {

TEST(AddRectangle, ShiftKeepsEarlierPartsAfterABreakMarker) {
  TSelectionOutline selection;
  AddRectangle(selection, 50, 30, 10, 10, false, TSize{200, 100});
  EXPECT_EQ(selection.Points(), (std::vector<TPoint>{{10, 10}, {50, 10}, {50, 30}, {10, 30}}));
  AddRectangle(selection, 60, 40, 300, -5, true, TSize{200, 100});
  ASSERT_EQ(selection.Count(), 9);
  EXPECT_EQ(selection.Points()[4], kSelectionBreak);
  EXPECT_EQ(selection.Points()[5], (TPoint{60, 0}));
  EXPECT_EQ(selection.Points()[7], (TPoint{199, 40}));
  EXPECT_TRUE(Equal(selection.Bounds(), TRectInclusive{10, 0, 199, 40}));

  // Redrawing the gesture's own part keeps the marker and the first part.
  selection.RemoveLastPart();
  EXPECT_EQ(selection.Count(), 5);
  EXPECT_TRUE(Equal(selection.Bounds(), TRectInclusive{10, 10, 50, 30}));
  AddRectangle(selection, 0, 0, 5, 5, false, TSize{200, 100});
  EXPECT_EQ(selection.Count(), 4);
}

TEST(FinishPolygon, DropsTheDoubleClickRepeatAndTrailingBreaks) {
  TSelectionOutline selection;
  for (const TPoint p : {TPoint{1, 1}, TPoint{9, 1}, TPoint{9, 9}, TPoint{9, 9}}) selection.Add(p);
  selection.AddBreak();
  selection.FinishPolygon();
  EXPECT_EQ(selection.Points(), (std::vector<TPoint>{{1, 1}, {9, 1}, {9, 9}}));
}

TEST(EllipsePoints, CountFollowsTheSmallerRadiusAndPointsStayOnTheBitmap) {
  const TViewGeometry view = View();
  std::vector<TPoint> points = EllipsePoints({100, 50}, 40, 20, view);
  EXPECT_EQ(points.size(), 31u);  // trunc(20 x 2 pi) = 125, div 4
  EXPECT_EQ(points[0], (TPoint{140, 50}));
  EXPECT_EQ(EllipsePoints({100, 50}, 1, 0, view).size(), 3u);
  for (const TPoint p : EllipsePoints({190, 95}, 60, 60, view)) {
    EXPECT_TRUE(p.x >= 0 && p.x <= 199 && p.y >= 0 && p.y <= 99) << p.x << "," << p.y;
  }
}

TEST(AutoScrollDistance, CountsHowFarThePointLiesOutsideTheDrawnImage) {
  const TViewGeometry view = View(100, 1000, 1000);  // the drawn image fills the 400 x 300 client
  EXPECT_EQ(AutoScrollDistance({200, 100}, view), (TPoint{0, 0}));
  EXPECT_EQ(AutoScrollDistance({-7, 100}, view), (TPoint{-7, 0}));
  EXPECT_EQ(AutoScrollDistance({400, 310}, view), (TPoint{1, 11}));
  EXPECT_EQ(ClampToDrawnImage({-7, 310}, view), (TPoint{0, 299}));
}

}  // namespace
