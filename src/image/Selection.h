#pragma once

// The selection outline a view keeps: polygons of bitmap points, parts separated by a break
// marker, with their bounding box; and the even-odd fill that turns a polygon into the pixels it
// covers, which the clipboard, crop and clear commands work through.

#include <cstdint>
#include <functional>
#include <vector>

#include "image/BaseView.h"
#include "image/Point.h"

namespace veilora {

// Stored between two parts of a selection (each Shift-dragged rectangle is one part).
constexpr TPoint kSelectionBreak{1048575, 1048575};

class TSelectionOutline {
 public:
  const std::vector<TPoint>& Points() const { return points_; }
  int Count() const { return static_cast<int>(points_.size()); }
  bool Empty() const { return points_.empty(); }

  // The box of every point but the break markers; set from the first two points when the second
  // is added and widened by each later one. All zero while fewer than two points exist.
  const TRectInclusive& Bounds() const { return bounds_; }

  void Clear();
  // Appends a point (a break marker too, which leaves the box alone).
  void Add(TPoint point);
  // Appends a break marker unless there are no points or the last one already is one.
  void AddBreak();
  // Drops trailing break markers, as an unfinished part leaves them.
  void DropTrailingBreaks();
  // Removes the points after the last break marker (all of them when there is none), keeping the
  // marker: a Shift gesture redraws its own part this way while earlier parts stay.
  void RemoveLastPart();
  // Ends a polygon drawn click by click: the point a double click repeats and any trailing break
  // markers go.
  void FinishPolygon();

  // Exactly four points forming an axis-aligned rectangle: top-left, top-right, bottom-right,
  // bottom-left. Grips, resizing and moving exist only for these.
  bool IsRectangle() const;
  // The parts: the runs of points between break markers, each at least one point long.
  std::vector<std::vector<TPoint>> Parts() const;

 private:
  void Reset(const std::vector<TPoint>& points);

  std::vector<TPoint> points_;
  TRectInclusive bounds_;
  int boxPoints_ = 0;  // points other than break markers
  TPoint first_;
};

// Calls span(y, xBegin, xEnd) for every run of pixels in rows 0..height-1 and columns
// 0..width-1 whose centre lies inside the polygon by the even-odd rule, with xBegin < xEnd
// (xEnd exclusive). So the right and bottom edges are exclusive: a rectangle with corners (x1, y1)
// and (x2, y2) covers columns x1..x2-1 and rows y1..y2-1. Fewer than three points cover nothing.
void FillPolygonSpans(const std::vector<TPoint>& polygon, int width, int height,
                      const std::function<void(int y, int xBegin, int xEnd)>& span);

}  // namespace veilora
