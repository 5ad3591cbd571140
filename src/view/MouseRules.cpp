#include "view/MouseRules.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace veilora {

namespace {

constexpr std::array<int, 8> kZoomSteps = {2, 5, 10, 25, 33, 50, 75, 100};
constexpr int kGripReach = 3;
constexpr int kCornerGrips = 4;
constexpr int kLeftEdge = 4;
constexpr int kRightEdge = 5;
constexpr int kTopEdge = 6;
constexpr int kBottomEdge = 7;
// How much further one way than the other a Ctrl-held corner must lie to snap straight.
constexpr int kStraightSlack = 30;

// The distance from (x, y) to the segment from (ax, ay) to (bx, by).
double DistanceToSegment(double x, double y, double ax, double ay, double bx, double by) {
  const double dx = bx - ax;
  const double dy = by - ay;
  const double length = dx * dx + dy * dy;
  double t = length == 0 ? 0 : ((x - ax) * dx + (y - ay) * dy) / length;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(x - (ax + t * dx), y - (ay + t * dy));
}

// Client distance to bitmap distance at the zoom: Round(100 / Zoom x d).
int ToBitmapDistance(int distance, const TViewGeometry& geometry) {
  return static_cast<int>(RoundQuotient(std::int64_t{100} * distance, geometry.Zoom()));
}

TRectInclusive ClampedOrdered(int x1, int y1, int x2, int y2, TSize bitmap) {
  const int right = std::max(bitmap.width - 1, 0);
  const int bottom = std::max(bitmap.height - 1, 0);
  x1 = std::clamp(x1, 0, right);
  x2 = std::clamp(x2, 0, right);
  y1 = std::clamp(y1, 0, bottom);
  y2 = std::clamp(y2, 0, bottom);
  return TRectInclusive{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

}  // namespace

TMouseInteract CombineMouseInteract(TMouseInteract current, TMouseInteract requested) {
  struct Rule {
    TMouseInteract item;
    TMouseInteract kept;
  };
  static constexpr std::array<Rule, 7> kRules = {{
      {miScroll, miZoom | miScroll},
      {miSelect, miZoom | miSelect},
      {miSelectPolygon, miSelectPolygon},
      {miSelectCircle, miSelectCircle},
      {miSelectZoom, miZoom | miSelectZoom},
      {miZoom, miZoom | miScroll | miSelect | miSelectZoom},
      {miSelectMagicWand, miSelectMagicWand},
  }};
  for (const Rule& rule : kRules) {
    if ((requested & rule.item) != 0 && (current & rule.item) == 0) {
      return static_cast<TMouseInteract>(requested & rule.kept);
    }
  }
  return requested;
}

int ZoomInStep(int zoom) {
  if (zoom >= 100) return zoom + 100;
  for (const int step : kZoomSteps) {
    if (step > zoom) return step;
  }
  return 100;
}

int ZoomOutStep(int zoom) {
  if (zoom >= 200) return zoom - 100;
  for (auto step = kZoomSteps.rbegin(); step != kZoomSteps.rend(); ++step) {
    if (*step < zoom) return *step;
  }
  return kZoomSteps.front();
}

int GripAt(const TSelectionOutline& selection, const TViewGeometry& geometry, int x, int y) {
  if (!selection.IsRectangle()) return kNoGrip;
  for (int i = 0; i < kCornerGrips; ++i) {
    const TPoint& corner = selection.Points()[static_cast<std::size_t>(i)];
    const int sx = geometry.BitmapToScreenX(corner.x);
    const int sy = geometry.BitmapToScreenY(corner.y);
    if (std::abs(x - sx) <= kGripReach && std::abs(y - sy) <= kGripReach) return i;
  }
  const TRectInclusive& box = selection.Bounds();
  const double left = geometry.BitmapToScreenX(box.x1);
  const double right = geometry.BitmapToScreenX(box.x2);
  const double top = geometry.BitmapToScreenY(box.y1);
  const double bottom = geometry.BitmapToScreenY(box.y2);
  if (DistanceToSegment(x, y, left, top, left, bottom) < kGripReach) return kLeftEdge;
  if (DistanceToSegment(x, y, right, top, right, bottom) < kGripReach) return kRightEdge;
  if (DistanceToSegment(x, y, left, top, right, top) < kGripReach) return kTopEdge;
  if (DistanceToSegment(x, y, left, bottom, right, bottom) < kGripReach) return kBottomEdge;
  return kNoGrip;
}

bool InsideSelection(const TSelectionOutline& selection, const TViewGeometry& geometry, int x, int y) {
  const TRectInclusive& box = selection.Bounds();
  return x >= geometry.BitmapToScreenX(box.x1) && x <= geometry.BitmapToScreenX(box.x2) &&
         y >= geometry.BitmapToScreenY(box.y1) && y <= geometry.BitmapToScreenY(box.y2);
}

TGripDrag DragGrip(const TRectInclusive& box, int grip, int x, int y, const TViewGeometry& geometry) {
  const TPoint offset = geometry.ImageOffset();
  const int bx = ToBitmapDistance(x + geometry.ViewOriginX() - offset.x, geometry);
  const int by = ToBitmapDistance(y + geometry.ViewOriginY() - offset.y, geometry);
  int x1 = box.x1;
  int y1 = box.y1;
  int x2 = box.x2;
  int y2 = box.y2;
  if (grip == 0 || grip == 3 || grip == kLeftEdge) {
    x1 = bx;
    if (x1 == x2) x1 = bx - 1;
  } else if (grip == 1 || grip == 2 || grip == kRightEdge) {
    x2 = bx;
    if (x1 == x2) x2 = bx + 1;
  }
  if (grip == 0 || grip == 1 || grip == kTopEdge) {
    y1 = by;
    if (y1 == y2) y1 = by - 1;
  } else if (grip == 2 || grip == 3 || grip == kBottomEdge) {
    y2 = by;
    if (y1 == y2) y2 = by + 1;
  }
  // Crossing the opposite side hands the drag to the grip on the other side.
  if (x2 < x1) {
    static constexpr std::array<int, 8> kMirrorX = {1, 0, 3, 2, 5, 4, 6, 7};
    grip = kMirrorX[static_cast<std::size_t>(grip)];
  }
  if (y2 < y1) {
    static constexpr std::array<int, 8> kMirrorY = {3, 2, 1, 0, 4, 5, 7, 6};
    grip = kMirrorY[static_cast<std::size_t>(grip)];
  }
  return TGripDrag{ClampedOrdered(x1, y1, x2, y2, geometry.BitmapSize()), grip};
}

TRectInclusive MoveBox(const TRectInclusive& saved, int dx, int dy, const TViewGeometry& geometry) {
  const int ddx = ToBitmapDistance(dx, geometry);
  const int ddy = ToBitmapDistance(dy, geometry);
  return ClampedOrdered(saved.x1 + ddx, saved.y1 + ddy, saved.x2 + ddx, saved.y2 + ddy,
                        geometry.BitmapSize());
}

TPoint ConstrainCorner(TPoint previous, TPoint point) {
  const int dx = std::abs(point.x - previous.x);
  const int dy = std::abs(point.y - previous.y);
  if (dy > dx + kStraightSlack) return TPoint{previous.x, point.y};
  if (dy < dx - kStraightSlack) return TPoint{point.x, previous.y};
  // The diagonal: as far along as the longer of the two distances, on the point's side.
  const int reach = std::max(dx, dy);
  return TPoint{previous.x + (point.x < previous.x ? -reach : reach),
                previous.y + (point.y < previous.y ? -reach : reach)};
}

void SetRectangle(TSelectionOutline& selection, const TRectInclusive& box) {
  selection.Clear();
  selection.Add({box.x1, box.y1});
  selection.Add({box.x2, box.y1});
  selection.Add({box.x2, box.y2});
  selection.Add({box.x1, box.y2});
}

void AddRectangle(TSelectionOutline& selection, int x1, int y1, int x2, int y2, bool additive, TSize bitmap) {
  if (additive && !selection.Empty()) {
    selection.AddBreak();
  } else {
    selection.Clear();
  }
  const TRectInclusive box = ClampedOrdered(x1, y1, x2, y2, bitmap);
  selection.Add({box.x1, box.y1});
  selection.Add({box.x2, box.y1});
  selection.Add({box.x2, box.y2});
  selection.Add({box.x1, box.y2});
}

std::vector<TPoint> EllipsePoints(TPoint centre, int rx, int ry, const TViewGeometry& geometry) {
  const TSize bitmap = geometry.BitmapSize();
  const int count = std::max(static_cast<int>(std::min(rx, ry) * 2 * M_PI) / 4, 3);
  std::vector<TPoint> points;
  points.reserve(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    const double angle = 2 * M_PI / count * k;
    const int x = static_cast<int>(std::cos(angle) * rx + centre.x);
    const int y = static_cast<int>(std::sin(angle) * ry + centre.y);
    points.push_back({std::clamp(geometry.ScreenToBitmapX(x), 0, std::max(bitmap.width - 1, 0)),
                      std::clamp(geometry.ScreenToBitmapY(y), 0, std::max(bitmap.height - 1, 0))});
  }
  return points;
}

TPoint ClampToDrawnImage(TPoint point, const TViewGeometry& geometry) {
  const TPoint offset = geometry.ImageOffset();
  const TSize drawn = geometry.DrawnExtent();
  return TPoint{std::clamp(point.x, offset.x, offset.x + std::max(drawn.width - 1, 0)),
                std::clamp(point.y, offset.y, offset.y + std::max(drawn.height - 1, 0))};
}

TPoint AutoScrollDistance(TPoint point, const TViewGeometry& geometry) {
  const TPoint inside = ClampToDrawnImage(point, geometry);
  return TPoint{point.x - inside.x, point.y - inside.y};
}

int ZoomForBox(const TRectInclusive& box, TSize outer) {
  const std::int64_t width = std::int64_t{box.x2} - box.x1 + 1;
  const std::int64_t height = std::int64_t{box.y2} - box.y1 + 1;
  if (width <= 0 || height <= 0) return 0;
  return static_cast<int>(std::min(TruncQuotient(std::int64_t{outer.height} * 100, height),
                                   TruncQuotient(std::int64_t{outer.width} * 100, width)));
}

TPoint OriginForBox(const TRectInclusive& box, int zoom, TSize client) {
  const std::int64_t width = std::int64_t{box.x2} - box.x1 + 1;
  const std::int64_t height = std::int64_t{box.y2} - box.y1 + 1;
  const std::int64_t x = TruncQuotient(std::int64_t{box.x1} * zoom, 100) -
                         TruncQuotient(client.width - TruncQuotient(width * zoom, 100), 2);
  const std::int64_t y = TruncQuotient(std::int64_t{box.y1} * zoom, 100) -
                         TruncQuotient(client.height - TruncQuotient(height * zoom, 100), 2);
  return TPoint{static_cast<int>(x), static_cast<int>(y)};
}

}  // namespace veilora
