#include "view/Outline.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace veilora {
namespace {

// floor(a / b) for b > 0.
std::int64_t FloorQuotient(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// One segment from a to b in client pixels, walked along its longer axis: pixel k (0 <= k < n,
// n = the longer side) lies k steps along that axis and Round(k x minor / n) along the other.
struct TSegment {
  TPoint a;
  TPoint b;
  int Length() const { return std::max(std::abs(b.x - a.x), std::abs(b.y - a.y)); }
  TPoint Pixel(int k) const {
    const int n = Length();
    const bool alongX = std::abs(b.x - a.x) >= std::abs(b.y - a.y);
    const int major = alongX ? b.x - a.x : b.y - a.y;
    const int minor = alongX ? b.y - a.y : b.x - a.x;
    const int step = major < 0 ? -k : k;
    const auto across = static_cast<int>(FloorQuotient(std::int64_t{2} * k * minor + n, std::int64_t{2} * n));
    return alongX ? TPoint{a.x + step, a.y + across} : TPoint{a.x + across, a.y + step};
  }
  // The steps k whose pixel can lie inside 0..limit-1 on the longer axis.
  void VisibleSteps(TSize client, int& first, int& last) const {
    const int n = Length();
    const bool alongX = std::abs(b.x - a.x) >= std::abs(b.y - a.y);
    const int start = alongX ? a.x : a.y;
    const int major = alongX ? b.x - a.x : b.y - a.y;
    const int limit = alongX ? client.width : client.height;
    if (major >= 0) {
      first = std::max(0, -start);
      last = std::min(n, limit - start);
    } else {
      first = std::max(0, start - (limit - 1));
      last = std::min(n, start + 1);
    }
  }
};

// Calls segment(a, b) for every segment the outline draws, in order, in client positions.
template <typename Visit>
void ForEachSegment(const TSelectionOutline& selection, const TViewGeometry& geometry, bool closeLast,
                    const Visit& segment) {
  const auto toClient = [&](TPoint point) {
    return TPoint{geometry.BitmapToScreenX(point.x), geometry.BitmapToScreenY(point.y)};
  };
  const std::vector<TPoint>& points = selection.Points();
  std::size_t partStart = 0;
  while (partStart < points.size()) {
    std::size_t partEnd = partStart;
    while (partEnd < points.size() && !(points[partEnd] == kSelectionBreak)) ++partEnd;
    if (partEnd > partStart) {
      for (std::size_t i = partStart + 1; i < partEnd; ++i)
        segment(toClient(points[i - 1]), toClient(points[i]));
      const bool lastPart = partEnd >= points.size();
      if (!lastPart || closeLast) segment(toClient(points[partEnd - 1]), toClient(points[partStart]));
    }
    partStart = partEnd + 1;
  }
}

}  // namespace

void CollectOutlinePixels(const TSelectionOutline& selection, const TViewGeometry& geometry, int phase,
                          bool closeLast, TOutlinePixels& pixels) {
  pixels.Clear();
  const TSize client = geometry.ClientSize();
  std::int64_t counter = phase;
  ForEachSegment(selection, geometry, closeLast, [&](TPoint a, TPoint b) {
    const TSegment segment{a, b};
    int first = 0;
    int last = 0;
    segment.VisibleSteps(client, first, last);
    int dash = static_cast<int>((counter + std::max(first, 0)) % kDashPeriod);
    const bool straight = a.x == b.x || a.y == b.y;
    const TPoint step{b.x > a.x ? 1 : b.x < a.x ? -1 : 0, b.y > a.y ? 1 : b.y < a.y ? -1 : 0};
    for (int k = first; k < last; ++k) {
      // Most outlines are rectangles: their pixels need no rounding along the other axis.
      const TPoint pixel = straight ? TPoint{a.x + k * step.x, a.y + k * step.y} : segment.Pixel(k);
      if (pixel.x >= 0 && pixel.y >= 0 && pixel.x < client.width && pixel.y < client.height) {
        (dash < kDashPeriod / 2 ? pixels.first : pixels.second).push_back(pixel);
      }
      if (++dash == kDashPeriod) dash = 0;
    }
    counter += segment.Length();
  });
}

TExtentRect GripBox(const TSelectionOutline& selection, const TViewGeometry& geometry, int corner) {
  const TPoint& point = selection.Points()[static_cast<std::size_t>(corner)];
  return TExtentRect{geometry.BitmapToScreenX(point.x) - kGripHalf,
                     geometry.BitmapToScreenY(point.y) - kGripHalf, 2 * kGripHalf, 2 * kGripHalf};
}

std::vector<TExtentRect> OutlineBoxes(const TSelectionOutline& selection, const TViewGeometry& geometry,
                                      bool closeLast, bool grips) {
  const TSize client = geometry.ClientSize();
  std::vector<TExtentRect> boxes;
  const auto addCut = [&](int left, int top, int right, int bottom) {  // right and bottom exclusive
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, client.width);
    bottom = std::min(bottom, client.height);
    if (left < right && top < bottom) boxes.push_back({left, top, right - left, bottom - top});
  };
  ForEachSegment(selection, geometry, closeLast, [&](TPoint a, TPoint b) {
    addCut(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1);
  });
  if (grips && selection.IsRectangle()) {
    for (int corner = 0; corner < 4; ++corner) {
      const TExtentRect grip = GripBox(selection, geometry, corner);
      addCut(grip.x, grip.y, grip.x + grip.width, grip.y + grip.height);
    }
  }
  return boxes;
}

}  // namespace veilora
