#pragma once

// The arithmetic of the image view, free of any window system: zoom, the zoomed and drawn
// extents, centring, the scroll range and origin, scroll-bar requests, coordinate conversion, the
// visible source rectangle and the background patterns. The Qt widget holds one of these, feeds it
// the widget's sizes, and only paints and forwards events.
//
// Rounding is to the nearest integer with ties to even unless a value is said to be truncated
// (cut toward zero). Values are computed exactly, as fractions of integers, so that a tie such as
// 5.5 is a tie and not 5.4999.

#include <cstdint>
#include <vector>

#include "image/Colour.h"
#include "image/Point.h"

namespace veilora {

enum TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

enum TBackgroundStyle : std::uint8_t {
  bgsSolid,
  bgsHorizontal,
  bgsVertical,
  bgsFDiagonal,
  bgsBDiagonal,
  bgsCross,
  bgsDiagCross,
  bgsChessboard,
  bgsDiagonals,
};

// What a scroll bar asks for.
enum class TScrollRequest : std::uint8_t {
  LineBack,     // line left / up
  LineForward,  // line right / down
  PageBack,
  PageForward,
  Track,    // thumb tracking, with a position
  ToStart,  // to the left / top end
  ToEnd,    // to the right / bottom end
  Other,    // thumb released, end of scroll
};

struct TSize {
  int width = 0;
  int height = 0;
  bool operator==(const TSize&) const = default;
};

// A rectangle as origin and extent.
struct TExtentRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const TExtentRect&) const = default;
};

// One scroll bar's settings: shown or hidden, range 0..maximum, page size and position.
struct TScrollBarState {
  bool visible = false;
  int maximum = 0;
  int page = 0;
  int position = 0;
  bool operator==(const TScrollBarState&) const = default;

  // The range above counts the page in (its end is the last visible pixel); toolkits whose bar
  // range is the positions the bar's start can take want maximum - page + 1, the largest origin.
  int LastPosition() const { return visible ? maximum - page + 1 : 0; }
};

// Round(numerator / denominator), ties to even; the denominator must be positive.
std::int64_t RoundQuotient(std::int64_t numerator, std::int64_t denominator);
// numerator / denominator cut toward zero; the denominator must be positive.
std::int64_t TruncQuotient(std::int64_t numerator, std::int64_t denominator);

class TViewGeometry {
 public:
  // ---- inputs
  // The control's outer size (border included) and the width of its border on each side.
  void SetOuterSize(int width, int height, int border);
  // The thickness of a scroll bar, taken from the client area when the bar is shown.
  void SetScrollBarExtent(int thickness) { barExtent_ = thickness; }
  void SetBitmapSize(int width, int height);
  void SetScrollBars(TScrollStyle style) { scrollBars_ = style; }
  void SetCenter(bool center) { center_ = center; }
  // Stores the zoom when it is above 0; returns whether it changed.
  bool SetZoom(int zoom);
  // Clamps to 0..MaxViewOrigin; returns whether either coordinate changed.
  bool SetViewOrigin(int x, int y);

  int Zoom() const { return zoom_; }
  int ViewOriginX() const { return originX_; }
  int ViewOriginY() const { return originY_; }
  TScrollStyle ScrollBars() const { return scrollBars_; }
  bool Center() const { return center_; }
  TSize BitmapSize() const { return bitmap_; }
  TSize OuterSize() const { return outer_; }

  // ---- layout
  // The client area: the outer size less the border and the scroll bars shown.
  TSize ClientSize() const;
  // Round(bitmap side x Zoom / 100).
  TSize ZoomedExtent() const;
  // The zoomed extent cut to the client area.
  TSize DrawnExtent() const;
  // Where the drawn image starts in the client area: centred when Center is set and the image is
  // smaller than the client area, else 0.
  TPoint ImageOffset() const;
  // The largest scroll origin. Zero on both axes when the control's outer size holds the whole
  // zoomed image, so an image that fits the control but not its client area cannot be scrolled.
  TPoint MaxViewOrigin() const;

  // The layout pass after any change of image, size or display property: lowers the origin to
  // the maximum, then shows or hides each allowed scroll bar by whether there is anything to
  // scroll, repeating while showing a bar changes the client area. Returns true when the origin
  // was lowered.
  bool Update();
  TScrollBarState HorizontalBar() const { return hBar_; }
  TScrollBarState VerticalBar() const { return vBar_; }

  // The zoom that fits the bitmap into the outer size (the smaller of the two sides' truncated
  // ratios); 0 when the bitmap has no area.
  int FitZoom() const;
  // The origin that puts bitmap pixel (bx, by) at the centre of the client area at the current
  // zoom (before clamping).
  TPoint OriginCentring(int bx, int by) const;
  // The new origin a scroll-bar request asks for on one axis (before clamping).
  int ScrollTarget(bool horizontal, TScrollRequest request, int trackPosition) const;

  // ---- coordinates (no clamping)
  int ScreenToBitmapX(int x) const;
  int ScreenToBitmapY(int y) const;
  int BitmapToScreenX(int bx) const;
  int BitmapToScreenY(int by) const;

  // ---- painting
  // The part of the bitmap shown, in bitmap pixels, rows counted from the top. When something is
  // drawn at all the source is at least one pixel wide and high, even at a zoom so large that the
  // client area shows less than half a bitmap pixel.
  TExtentRect SourceRect() const;
  // Where that part is drawn in the client area.
  TExtentRect DestinationRect() const;

 private:
  TSize outer_{105, 105};
  int border_ = 0;
  int barExtent_ = 0;
  TSize bitmap_;
  TScrollStyle scrollBars_ = ssNone;
  bool center_ = false;
  int zoom_ = 100;
  int originX_ = 0;
  int originY_ = 0;
  TScrollBarState hBar_;
  TScrollBarState vBar_;

  bool HorizontalAllowed() const { return scrollBars_ == ssHorizontal || scrollBars_ == ssBoth; }
  bool VerticalAllowed() const { return scrollBars_ == ssVertical || scrollBars_ == ssBoth; }
};

// The colour drawn against Background in the patterns: the bitwise complement of the 32-bit
// colour value. For an ordinary colour the top byte becomes non-zero, so the complement names a
// system colour (white gives system colour 0, the scroll-bar grey).
TColor ComplementColour(TColor background);

// The nearest-pixel stretch of `sourceLength` pixels from `sourceStart` onto `destinationLength`
// pixels: destination pixel i shows the source pixel under its centre,
// sourceStart + floor((2i + 1) x sourceLength / (2 x destinationLength)). Fills `indexes` with one
// entry per destination pixel (reusing its memory); empty when either length is not above 0.
void NearestSourceIndexes(int sourceStart, int sourceLength, int destinationLength,
                          std::vector<int>& indexes);
// Whether the 16 x 16 chessboard square holding client pixel (x, y) takes the complement colour:
// the top-left square does, and the colours alternate along rows and columns.
bool ChessboardSquareIsComplement(int x, int y);
constexpr int kChessboardSquare = 16;

}  // namespace veilora
