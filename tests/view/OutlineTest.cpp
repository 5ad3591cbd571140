#include "view/Outline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

#include "view/MouseRules.h"

using namespace veilora;

namespace {

TViewGeometry View(int originX = 0) {
  TViewGeometry view;
  view.SetOuterSize(100, 80, 0);
  view.SetBitmapSize(1000, 1000);
  view.Update();
  view.SetViewOrigin(originX, 0);
  return view;
}

// The dash colour of each pixel as a string, '1' for the first colour and '2' for the second,
// along the top edge of a rectangle from x1 to x2 on row y.
std::string TopEdge(const TOutlinePixels& pixels, int y, int x1, int x2) {
  std::string text;
  for (int x = x1; x <= x2; ++x) {
    const auto has = [&](const std::vector<TPoint>& set) {
      return std::find(set.begin(), set.end(), TPoint{x, y}) != set.end();
    };
    text += has(pixels.first) ? '1' : has(pixels.second) ? '2' : '.';
  }
  return text;
}

TEST(OutlinePixels, DashesOfThreeCrawlOnePixelPerPhase) {
  TSelectionOutline selection;
  SetRectangle(selection, TRectInclusive{10, 10, 20, 15});
  TOutlinePixels pixels;
  CollectOutlinePixels(selection, View(), 0, true, pixels);
  // The top edge covers 10..19; the right edge starts at 20 and goes on counting.
  EXPECT_EQ(TopEdge(pixels, 10, 10, 20), "11122211122");
  CollectOutlinePixels(selection, View(), 1, true, pixels);
  EXPECT_EQ(TopEdge(pixels, 10, 10, 20), "11222111222");
  // Every perimeter pixel once: 2 x (10 + 5).
  EXPECT_EQ(pixels.first.size() + pixels.second.size(), 30u);
}

TEST(OutlinePixels, ScrollingKeepsTheDashesOnTheirImagePixels) {
  TSelectionOutline selection;
  SetRectangle(selection, TRectInclusive{0, 5, 500, 50});
  TOutlinePixels still;
  TOutlinePixels scrolled;
  CollectOutlinePixels(selection, View(0), 0, true, still);
  CollectOutlinePixels(selection, View(7), 0, true, scrolled);
  // Client x in the scrolled view shows image x + 7.
  EXPECT_EQ(TopEdge(scrolled, 5, 0, 20), TopEdge(still, 5, 7, 27));
  for (const TPoint p : scrolled.first) EXPECT_TRUE(p.x >= 0 && p.x < 100 && p.y >= 0 && p.y < 80);
}

TEST(OutlinePixels, PartsCloseAndAnOpenPolygonDoesNot) {
  TSelectionOutline selection;
  for (const TPoint p : {TPoint{0, 0}, TPoint{4, 0}, TPoint{4, 4}}) selection.Add(p);
  TOutlinePixels pixels;
  CollectOutlinePixels(selection, View(), 0, false, pixels);
  EXPECT_EQ(pixels.first.size() + pixels.second.size(), 8u);
  CollectOutlinePixels(selection, View(), 0, true, pixels);
  EXPECT_EQ(pixels.first.size() + pixels.second.size(), 12u);  // the diagonal back: 4 more
  std::set<std::pair<int, int>> diagonal;
  for (const auto* set : {&pixels.first, &pixels.second}) {
    for (const TPoint p : *set) diagonal.insert({p.x, p.y});
  }
  EXPECT_TRUE(diagonal.count({2, 2}) == 1 && diagonal.count({3, 3}) == 1);
}

TEST(OutlineBoxes, ThinBoxesPerSegmentAndTheGrips) {
  TSelectionOutline selection;
  SetRectangle(selection, TRectInclusive{10, 10, 20, 15});
  const std::vector<TExtentRect> boxes = OutlineBoxes(selection, View(), true, true);
  ASSERT_EQ(boxes.size(), 8u);
  EXPECT_EQ(boxes[0], (TExtentRect{10, 10, 11, 1}));
  EXPECT_EQ(boxes[1], (TExtentRect{20, 10, 1, 6}));
  EXPECT_EQ(boxes[4], (TExtentRect{7, 7, 6, 6}));
  EXPECT_EQ(OutlineBoxes(selection, View(), true, false).size(), 4u);
}

}  // namespace
