#include "image/Selection.h"

#include <algorithm>
#include <cmath>

namespace veilora {

void TSelectionOutline::Clear() {
  points_.clear();
  bounds_ = TRectInclusive{};
  boxPoints_ = 0;
}

void TSelectionOutline::Add(TPoint point) {
  points_.push_back(point);
  if (point == kSelectionBreak) return;
  // The box counts from the second point on; a single point has none.
  if (++boxPoints_ == 1) {
    first_ = point;
    return;
  }
  if (boxPoints_ == 2) bounds_ = TRectInclusive{first_.x, first_.y, first_.x, first_.y};
  bounds_.x1 = std::min(bounds_.x1, point.x);
  bounds_.y1 = std::min(bounds_.y1, point.y);
  bounds_.x2 = std::max(bounds_.x2, point.x);
  bounds_.y2 = std::max(bounds_.y2, point.y);
}

void TSelectionOutline::AddBreak() {
  if (!points_.empty() && !(points_.back() == kSelectionBreak)) points_.push_back(kSelectionBreak);
}

void TSelectionOutline::DropTrailingBreaks() {
  while (!points_.empty() && points_.back() == kSelectionBreak) points_.pop_back();
}

void TSelectionOutline::RemoveLastPart() {
  std::vector<TPoint> kept = points_;
  while (!kept.empty() && !(kept.back() == kSelectionBreak)) kept.pop_back();
  Reset(kept);
}

void TSelectionOutline::FinishPolygon() {
  std::vector<TPoint> kept = points_;
  while (!kept.empty() && kept.back() == kSelectionBreak) kept.pop_back();
  // A double click presses twice at one place, which adds its corner twice.
  if (kept.size() >= 2 && kept[kept.size() - 1] == kept[kept.size() - 2]) kept.pop_back();
  Reset(kept);
}

void TSelectionOutline::Reset(const std::vector<TPoint>& points) {
  // The box only widens as points come, so fewer points need it built again.
  Clear();
  for (const TPoint& point : points) Add(point);
}

bool TSelectionOutline::IsRectangle() const {
  if (points_.size() != 4) return false;
  const TPoint& a = points_[0];
  const TPoint& b = points_[1];
  const TPoint& c = points_[2];
  const TPoint& d = points_[3];
  return a.y == b.y && b.x == c.x && c.y == d.y && d.x == a.x && a.x <= b.x && a.y <= d.y &&
         !(a == kSelectionBreak);
}

std::vector<std::vector<TPoint>> TSelectionOutline::Parts() const {
  std::vector<std::vector<TPoint>> parts(1);
  for (const TPoint& point : points_) {
    if (point == kSelectionBreak) {
      if (!parts.back().empty()) parts.emplace_back();
    } else {
      parts.back().push_back(point);
    }
  }
  if (parts.back().empty()) parts.pop_back();
  return parts;
}

void FillPolygonSpans(const std::vector<TPoint>& polygon, int width, int height,
                      const std::function<void(int y, int xBegin, int xEnd)>& span) {
  if (polygon.size() < 3 || width <= 0 || height <= 0) return;
  int top = polygon[0].y;
  int bottom = polygon[0].y;
  for (const TPoint& p : polygon) {
    top = std::min(top, p.y);
    bottom = std::max(bottom, p.y);
  }
  top = std::max(top, 0);
  bottom = std::min(bottom, height);
  std::vector<double> crossings;
  crossings.reserve(polygon.size());
  for (int y = top; y < bottom; ++y) {
    // Rows are sampled through their pixel centres, so a horizontal edge is never crossed.
    const double centre = y + 0.5;
    crossings.clear();
    for (std::size_t i = 0; i < polygon.size(); ++i) {
      const TPoint& p = polygon[i];
      const TPoint& q = polygon[(i + 1) % polygon.size()];
      if ((p.y <= centre) == (q.y <= centre)) continue;
      const double t = (centre - p.y) / (q.y - p.y);
      crossings.push_back(p.x + t * (q.x - p.x));
    }
    std::sort(crossings.begin(), crossings.end());
    for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
      // Pixel x is inside when its centre x + 0.5 lies in [left, right).
      const double left = std::ceil(crossings[i] - 0.5);
      const double right = std::ceil(crossings[i + 1] - 0.5);
      const int begin = static_cast<int>(std::clamp(left, 0.0, static_cast<double>(width)));
      const int end = static_cast<int>(std::clamp(right, 0.0, static_cast<double>(width)));
      if (begin < end) span(y, begin, end);
    }
  }
}

}  // namespace veilora
