#include "view/ViewGeometry.h"

#include <gtest/gtest.h>

#include <vector>

using namespace veilora;

namespace {

// A view with no border and no scroll bars, so the client area is the outer size.
TViewGeometry PlainView(int clientWidth, int clientHeight, int bitmapWidth, int bitmapHeight) {
  TViewGeometry view;
  view.SetOuterSize(clientWidth, clientHeight, 0);
  view.SetBitmapSize(bitmapWidth, bitmapHeight);
  view.Update();
  return view;
}

TEST(RoundQuotient, RoundsHalvesToEvenAndCutsTowardZero) {
  EXPECT_EQ(RoundQuotient(11, 2), 6);   // 5.5
  EXPECT_EQ(RoundQuotient(9, 2), 4);    // 4.5
  EXPECT_EQ(RoundQuotient(-9, 2), -4);  // -4.5
  EXPECT_EQ(RoundQuotient(-11, 2), -6);
  EXPECT_EQ(RoundQuotient(7, 3), 2);
  EXPECT_EQ(RoundQuotient(-7, 3), -2);
  EXPECT_EQ(TruncQuotient(-7, 2), -3);
  EXPECT_EQ(TruncQuotient(7, 2), 3);
}

TEST(ViewLayout, ASmallImageIsCentredInTheClientArea) {
  TViewGeometry view = PlainView(400, 300, 100, 50);
  view.SetCenter(true);
  view.SetZoom(50);
  view.Update();
  EXPECT_EQ(view.ZoomedExtent(), (TSize{50, 25}));
  EXPECT_EQ(view.DrawnExtent(), (TSize{50, 25}));
  EXPECT_EQ(view.ImageOffset(), (TPoint{175, 137}));
  view.SetCenter(false);
  EXPECT_EQ(view.ImageOffset(), (TPoint{0, 0}));
}

TEST(ViewLayout, ZoomedExtentsRoundHalvesToEven) {
  TViewGeometry view = PlainView(100, 100, 5, 7);
  view.SetZoom(50);
  EXPECT_EQ(view.ZoomedExtent(), (TSize{2, 4}));  // 2.5 and 3.5
  EXPECT_FALSE(view.SetZoom(0));
  EXPECT_FALSE(view.SetZoom(-20));
  EXPECT_FALSE(view.SetZoom(50));
  EXPECT_EQ(view.Zoom(), 50);
}

TEST(ViewLayout, FitZoomTakesTheSmallerTruncatedRatio) {
  TViewGeometry view = PlainView(454, 240, 1000, 500);
  EXPECT_EQ(view.FitZoom(), 45);
  view.SetBitmapSize(0, 500);
  EXPECT_EQ(view.FitZoom(), 0);
}

TEST(ViewScrolling, OriginIsClampedAndBarsFollowTheScrollableRange) {
  TViewGeometry view;
  view.SetOuterSize(204, 154, 2);
  view.SetScrollBarExtent(17);
  view.SetScrollBars(ssBoth);
  view.SetBitmapSize(1000, 800);
  view.Update();
  const TSize client = view.ClientSize();
  EXPECT_EQ(client, (TSize{200 - 17, 150 - 17}));
  EXPECT_EQ(view.MaxViewOrigin(), (TPoint{1000 - client.width, 800 - client.height}));
  EXPECT_EQ(view.HorizontalBar(),
            (TScrollBarState{true, client.width + 1000 - client.width - 1, client.width, 0}));

  EXPECT_TRUE(view.SetViewOrigin(5000, -3));
  EXPECT_EQ(view.ViewOriginX(), 1000 - client.width);
  EXPECT_EQ(view.ViewOriginY(), 0);
  EXPECT_EQ(view.HorizontalBar().position, view.ViewOriginX());
  EXPECT_FALSE(view.SetViewOrigin(5000, 0));

  // Zooming out lowers the origin to the new maximum.
  view.SetZoom(25);
  EXPECT_TRUE(view.Update());
  EXPECT_EQ(view.ViewOriginX(), 250 - client.width);
}

TEST(ViewScrolling, RequestsMoveByLinePageOrToTheEnds) {
  TViewGeometry view = PlainView(100, 80, 1000, 1000);
  view.SetScrollBars(ssBoth);
  view.Update();
  view.SetViewOrigin(300, 300);
  const TSize client = view.ClientSize();
  EXPECT_EQ(view.ScrollTarget(true, TScrollRequest::LineBack, 0), 299);
  EXPECT_EQ(view.ScrollTarget(true, TScrollRequest::LineForward, 0), 301);
  EXPECT_EQ(view.ScrollTarget(true, TScrollRequest::PageBack, 0), 300 - client.width);
  EXPECT_EQ(view.ScrollTarget(false, TScrollRequest::PageForward, 0), 300 + client.height);
  EXPECT_EQ(view.ScrollTarget(true, TScrollRequest::Track, 42), 42);
  EXPECT_EQ(view.ScrollTarget(true, TScrollRequest::ToStart, 0), 0);
  EXPECT_EQ(view.ScrollTarget(false, TScrollRequest::ToEnd, 0), view.MaxViewOrigin().y);
  EXPECT_EQ(view.ScrollTarget(true, TScrollRequest::Other, 0), 300);
}

TEST(ViewScrolling, AnImageAsLargeAsTheControlCannotBeScrolled) {
  TViewGeometry view;
  view.SetOuterSize(300, 200, 2);
  view.SetScrollBarExtent(17);
  view.SetScrollBars(ssBoth);
  view.SetBitmapSize(300, 200);  // larger than the client area, not than the control
  view.Update();
  EXPECT_EQ(view.MaxViewOrigin(), (TPoint{0, 0}));
  EXPECT_FALSE(view.HorizontalBar().visible);
  EXPECT_FALSE(view.VerticalBar().visible);
  EXPECT_FALSE(view.SetViewOrigin(10, 10));
}

TEST(ViewScrolling, ABarThatNarrowsTheClientAreaCanCallForTheOther) {
  TViewGeometry view;
  view.SetOuterSize(200, 200, 0);
  view.SetScrollBarExtent(20);
  view.SetScrollBars(ssBoth);
  // Taller than the control, and wider than the client area once the vertical bar is shown.
  view.SetBitmapSize(190, 400);
  view.Update();
  EXPECT_TRUE(view.VerticalBar().visible);
  EXPECT_TRUE(view.HorizontalBar().visible);
  EXPECT_EQ(view.ClientSize(), (TSize{180, 180}));
  EXPECT_EQ(view.MaxViewOrigin(), (TPoint{10, 220}));
  EXPECT_EQ(view.VerticalBar(), (TScrollBarState{true, 180 + 220 - 1, 180, 0}));
  // A bar whose range holds only the positions its start can take ends at the largest origin.
  EXPECT_EQ(view.VerticalBar().LastPosition(), 220);
  EXPECT_EQ(view.HorizontalBar().LastPosition(), 10);
  EXPECT_EQ(TScrollBarState{}.LastPosition(), 0);

  // Bars not allowed by the style stay hidden.
  view.SetScrollBars(ssVertical);
  view.Update();
  EXPECT_FALSE(view.HorizontalBar().visible);
  EXPECT_TRUE(view.VerticalBar().visible);
}

TEST(ViewCoordinates, ConvertBothWaysWithOffsetOriginAndZoom) {
  TViewGeometry view = PlainView(1000, 1000, 100, 100);
  view.SetZoom(200);
  view.Update();
  EXPECT_EQ(view.ScreenToBitmapX(11), 6);  // 5.5 rounds to 6
  EXPECT_EQ(view.ScreenToBitmapX(9), 4);   // 4.5 rounds to 4
  EXPECT_EQ(view.BitmapToScreenX(6), 12);

  view.SetCenter(true);
  view.Update();  // 200 x 200 in 1000 x 1000: offset 400, 400
  EXPECT_EQ(view.ScreenToBitmapY(400), 0);
  EXPECT_EQ(view.ScreenToBitmapY(398), -1);  // outside the image: no clamping
  EXPECT_EQ(view.BitmapToScreenY(100), 600);

  TViewGeometry scrolled = PlainView(50, 50, 100, 100);
  scrolled.SetZoom(300);
  scrolled.Update();
  scrolled.SetViewOrigin(30, 60);
  EXPECT_EQ(scrolled.ScreenToBitmapX(0), 10);
  EXPECT_EQ(scrolled.ScreenToBitmapY(0), 20);
  EXPECT_EQ(scrolled.BitmapToScreenX(10), 0);
}

TEST(ViewCoordinates, ZoomingAtAPointCentresThatPixel) {
  TViewGeometry view = PlainView(200, 100, 1000, 1000);
  const int bx = view.ScreenToBitmapX(150);
  const int by = view.ScreenToBitmapY(60);
  view.SetZoom(400);
  view.Update();
  const TPoint origin = view.OriginCentring(bx, by);
  EXPECT_EQ(origin, (TPoint{4 * 150 - 100, 4 * 60 - 50}));
  view.SetViewOrigin(origin.x, origin.y);
  EXPECT_EQ(view.ScreenToBitmapX(100), bx);
  EXPECT_EQ(view.ScreenToBitmapY(50), by);
  // Near the top-left corner the origin would be negative and is clamped.
  EXPECT_EQ(view.OriginCentring(0, 0), (TPoint{-100, -50}));
}

TEST(ViewPainting, OnlyTheVisiblePartOfTheBitmapIsStretched) {
  // 12000 x 9000 at the zoom that fits 1000 x 800: everything visible, shrunk.
  TViewGeometry fit = PlainView(1000, 800, 12000, 9000);
  fit.SetZoom(fit.FitZoom());
  fit.Update();
  EXPECT_EQ(fit.Zoom(), 8);
  EXPECT_EQ(fit.SourceRect(), (TExtentRect{0, 0, 12000, 9000}));
  EXPECT_EQ(fit.DestinationRect(), (TExtentRect{0, 0, 960, 720}));

  // At 400% from origin (4000, 2000) the client shows 250 x 200 bitmap pixels.
  TViewGeometry close = PlainView(1000, 800, 12000, 9000);
  close.SetZoom(400);
  close.Update();
  close.SetViewOrigin(4000, 2000);
  EXPECT_EQ(close.SourceRect(), (TExtentRect{1000, 500, 250, 200}));
  EXPECT_EQ(close.DestinationRect(), (TExtentRect{0, 0, 1000, 800}));

  // A span that would run past the bitmap's edge by rounding is cut by one pixel: 3 x 3 at 50%
  // is 2 x 2 zoomed; from origin (1, 1) a 1-pixel client gives start Round(1.5) = 2 and length
  // Round(1.5) = 2, which would end at 4.
  TViewGeometry edge = PlainView(1, 1, 3, 3);
  edge.SetZoom(50);
  edge.Update();
  EXPECT_TRUE(edge.SetViewOrigin(1, 1));
  EXPECT_EQ(edge.SourceRect(), (TExtentRect{2, 2, 1, 1}));
  TViewGeometry empty = PlainView(10, 10, 0, 0);
  EXPECT_EQ(empty.SourceRect(), (TExtentRect{0, 0, 0, 0}));

  // At 100,000% a 3-pixel client shows 0.003 bitmap pixels, which rounds to none; one pixel is
  // stretched instead, so the client area is still painted, also at the far edge.
  TViewGeometry huge = PlainView(3, 3, 10, 10);
  huge.SetZoom(100000);
  huge.Update();
  EXPECT_EQ(huge.SourceRect(), (TExtentRect{0, 0, 1, 1}));
  huge.SetViewOrigin(huge.MaxViewOrigin().x, huge.MaxViewOrigin().y);
  EXPECT_EQ(huge.SourceRect(), (TExtentRect{9, 9, 1, 1}));
}

TEST(ViewPainting, NearestPixelTakesTheSourcePixelUnderEachDestinationCentre) {
  std::vector<int> indexes;
  NearestSourceIndexes(10, 3, 6, indexes);  // 200%: every pixel twice
  EXPECT_EQ(indexes, (std::vector<int>{10, 10, 11, 11, 12, 12}));
  NearestSourceIndexes(0, 6, 3, indexes);  // 50%: the second pixel of each pair
  EXPECT_EQ(indexes, (std::vector<int>{1, 3, 5}));
  NearestSourceIndexes(5, 4, 4, indexes);  // 100%: one to one
  EXPECT_EQ(indexes, (std::vector<int>{5, 6, 7, 8}));
  NearestSourceIndexes(0, 3, 4, indexes);  // 133%: never past the last source pixel
  EXPECT_EQ(indexes, (std::vector<int>{0, 1, 1, 2}));
  NearestSourceIndexes(0, 0, 4, indexes);
  EXPECT_TRUE(indexes.empty());
  NearestSourceIndexes(0, 4, 0, indexes);
  EXPECT_TRUE(indexes.empty());
}

TEST(ViewBackground, ChessboardAndComplementColour) {
  EXPECT_EQ(ComplementColour(clWhite), static_cast<TColor>(kSystemColourFlag | 0));
  EXPECT_EQ(ComplementColour(ComplementColour(0x123456)), 0x123456);
  EXPECT_TRUE(ChessboardSquareIsComplement(0, 0));
  EXPECT_TRUE(ChessboardSquareIsComplement(15, 15));
  EXPECT_FALSE(ChessboardSquareIsComplement(16, 0));
  EXPECT_FALSE(ChessboardSquareIsComplement(0, 16));  // each row starts where the last did not
  EXPECT_TRUE(ChessboardSquareIsComplement(16, 16));
  EXPECT_TRUE(ChessboardSquareIsComplement(40, 8));
}

}  // namespace
