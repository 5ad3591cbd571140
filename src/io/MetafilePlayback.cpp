#include "io/MetafilePlayback.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace veilora {

namespace {

constexpr double kPi = std::numbers::pi;
// Coordinates are held within this many pixels of the origin: far-away points still clip at the
// edge, and a painter's fixed-point arithmetic never overflows.
constexpr double kCoordinateLimit = 1 << 20;

double Clamp(double v) {
  if (!std::isfinite(v)) return 0;
  return std::clamp(v, -kCoordinateLimit, kCoordinateLimit);
}

// Angle into (0, 2 pi].
double PositiveTurn(double a) {
  a = std::fmod(a, 2 * kPi);
  if (a <= 1e-12) a += 2 * kPi;
  return a;
}

TColor Invert(TColor c) {
  return static_cast<TColor>(~c & 0xFFFFFF);
}

double Distance(TMfPoint a, TMfPoint b) {
  return std::hypot(a.x - b.x, a.y - b.y);
}

int Segments(double length, int low, int high) {
  if (!std::isfinite(length)) return low;
  return static_cast<int>(std::clamp(length / 3, double(low), double(high)));
}

// A size for the device: finite, not negative, and within the coordinate limit.
double DeviceSize(double v) {
  if (!std::isfinite(v) || v < 0) return 0;
  return std::min(v, kCoordinateLimit);
}

}  // namespace

TMfMatrix TMfMatrix::Then(const TMfMatrix& f, const TMfMatrix& s) {
  TMfMatrix r;
  r.m11 = f.m11 * s.m11 + f.m12 * s.m21;
  r.m12 = f.m11 * s.m12 + f.m12 * s.m22;
  r.m21 = f.m21 * s.m11 + f.m22 * s.m21;
  r.m22 = f.m21 * s.m12 + f.m22 * s.m22;
  r.dx = f.dx * s.m11 + f.dy * s.m21 + s.dx;
  r.dy = f.dx * s.m12 + f.dy * s.m22 + s.dy;
  return r;
}

TGdiPen StockPen(int n) {
  TGdiPen pen;
  if (n == 6) pen.colour = clWhite;  // WHITE_PEN
  if (n == 8) pen.style = 5;         // NULL_PEN
  return pen;                        // BLACK_PEN (7) and DC_PEN (19)
}

TGdiBrush StockBrush(int n) {
  TGdiBrush brush;
  switch (n) {
    case 1: brush.colour = RGBToColor(192, 192, 192); break;  // LTGRAY_BRUSH
    case 2: brush.colour = RGBToColor(128, 128, 128); break;  // GRAY_BRUSH
    case 3: brush.colour = RGBToColor(64, 64, 64); break;     // DKGRAY_BRUSH
    case 4: brush.colour = clBlack; break;                    // BLACK_BRUSH
    case 5: brush.style = 1; break;                           // NULL_BRUSH
    default: break;                                           // WHITE_BRUSH, DC_BRUSH
  }
  return brush;
}

TMetafilePlayback::TMetafilePlayback(TMetafileDevice& device, const TMfMatrix& frame, TMfPoint pixelsPerMm)
    : device_(device), frame_(frame), pixelsPerMm_(pixelsPerMm) {
  if (!(pixelsPerMm_.x > 0) || !(pixelsPerMm_.y > 0)) pixelsPerMm_ = {96 / 25.4, 96 / 25.4};
}

// ---- mapping

void TMetafilePlayback::SetMapMode(int mode) {
  if (mode < kMmText || mode > kMmAnisotropic) return;
  const bool wasScalable = dc_.mapMode >= kMmIsotropic;
  // Moving to a scalable mode keeps the extents the old mode had.
  if (mode >= kMmIsotropic && !wasScalable) {
    if (dc_.mapMode != kMmText) {
      double mm = 1;
      switch (dc_.mapMode) {
        case kMmLoMetric: mm = 0.1; break;
        case kMmHiMetric: mm = 0.01; break;
        case kMmLoEnglish: mm = 0.254; break;
        case kMmHiEnglish: mm = 0.0254; break;
        case kMmTwips: mm = 25.4 / 1440; break;
        default: break;
      }
      dc_.windowExt = {1, 1};
      dc_.viewportExt = {mm * pixelsPerMm_.x, -mm * pixelsPerMm_.y};
    } else {
      dc_.windowExt = {1, 1};
      dc_.viewportExt = {1, 1};
    }
  }
  dc_.mapMode = mode;
  matrixDirty_ = true;
}

void TMetafilePlayback::SetWindowOrg(TMfPoint p) {
  dc_.windowOrg = p;
  matrixDirty_ = true;
}

void TMetafilePlayback::SetViewportOrg(TMfPoint p) {
  dc_.viewportOrg = p;
  matrixDirty_ = true;
}

void TMetafilePlayback::SetWindowExt(TMfPoint e) {
  if (dc_.mapMode < kMmIsotropic || e.x == 0 || e.y == 0 || !std::isfinite(e.x) || !std::isfinite(e.y))
    return;
  dc_.windowExt = e;
  matrixDirty_ = true;
}

void TMetafilePlayback::SetViewportExt(TMfPoint e) {
  if (dc_.mapMode < kMmIsotropic || e.x == 0 || e.y == 0 || !std::isfinite(e.x) || !std::isfinite(e.y))
    return;
  dc_.viewportExt = e;
  matrixDirty_ = true;
}

void TMetafilePlayback::OffsetWindowOrg(TMfPoint d) {
  SetWindowOrg({dc_.windowOrg.x + d.x, dc_.windowOrg.y + d.y});
}

void TMetafilePlayback::OffsetViewportOrg(TMfPoint d) {
  SetViewportOrg({dc_.viewportOrg.x + d.x, dc_.viewportOrg.y + d.y});
}

void TMetafilePlayback::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom) {
  if (xDenom == 0 || yDenom == 0) return;
  SetWindowExt({dc_.windowExt.x * xNum / xDenom, dc_.windowExt.y * yNum / yDenom});
}

void TMetafilePlayback::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom) {
  if (xDenom == 0 || yDenom == 0) return;
  SetViewportExt({dc_.viewportExt.x * xNum / xDenom, dc_.viewportExt.y * yNum / yDenom});
}

void TMetafilePlayback::SetWorldTransform(const TMfMatrix& m) {
  for (const double v : {m.m11, m.m12, m.m21, m.m22, m.dx, m.dy}) {
    if (!std::isfinite(v)) return;
  }
  dc_.world = m;
  matrixDirty_ = true;
}

void TMetafilePlayback::ModifyWorldTransform(const TMfMatrix& m, int mode) {
  switch (mode) {
    case 1: SetWorldTransform(TMfMatrix{}); break;
    case 2: SetWorldTransform(TMfMatrix::Then(m, dc_.world)); break;
    case 3: SetWorldTransform(TMfMatrix::Then(dc_.world, m)); break;
    case 4: SetWorldTransform(m); break;
    default: break;
  }
}

TMfMatrix TMetafilePlayback::Matrix() {
  if (!matrixDirty_) return matrix_;
  TMfPoint scale{1, 1};
  double mm = 0;
  switch (dc_.mapMode) {
    case kMmLoMetric: mm = 0.1; break;
    case kMmHiMetric: mm = 0.01; break;
    case kMmLoEnglish: mm = 0.254; break;
    case kMmHiEnglish: mm = 0.0254; break;
    case kMmTwips: mm = 25.4 / 1440; break;
    case kMmIsotropic:
    case kMmAnisotropic:
      scale = {dc_.viewportExt.x / dc_.windowExt.x, dc_.viewportExt.y / dc_.windowExt.y};
      break;
    default: break;
  }
  if (mm > 0) scale = {mm * pixelsPerMm_.x, -mm * pixelsPerMm_.y};
  if (dc_.mapMode == kMmIsotropic) {
    // Both axes take the smaller scale, each keeping its direction.
    const double s = std::min(std::abs(scale.x), std::abs(scale.y));
    scale = {std::copysign(s, scale.x), std::copysign(s, scale.y)};
  }
  TMfMatrix page;
  page.m11 = scale.x;
  page.m22 = scale.y;
  page.dx = dc_.viewportOrg.x - dc_.windowOrg.x * scale.x;
  page.dy = dc_.viewportOrg.y - dc_.windowOrg.y * scale.y;
  matrix_ = TMfMatrix::Then(TMfMatrix::Then(dc_.world, page), frame_);
  matrixDirty_ = false;
  return matrix_;
}

TMfPoint TMetafilePlayback::ToDevice(TMfPoint p) {
  const TMfPoint d = Matrix().Apply(p);
  return {Clamp(d.x), Clamp(d.y)};
}

TMfPoint TMetafilePlayback::FrameToDevice(TMfPoint p) const {
  const TMfPoint d = frame_.Apply(p);
  return {Clamp(d.x), Clamp(d.y)};
}

std::vector<TMfPoint> TMetafilePlayback::ToDevice(const std::vector<TMfPoint>& points) {
  std::vector<TMfPoint> out;
  out.reserve(points.size());
  for (const TMfPoint& p : points) out.push_back(ToDevice(p));
  return out;
}

double TMetafilePlayback::ScaleLength() {
  const double s = std::sqrt(std::abs(Matrix().Determinant()));
  return std::isfinite(s) ? s : 0;
}

// ---- state stack

void TMetafilePlayback::SaveDc() {
  if (saved_.size() < kMaxSaveDepth) saved_.push_back(dc_);
}

void TMetafilePlayback::RestoreDc(int which) {
  std::size_t keep = 0;
  if (which < 0) {
    const std::size_t back = static_cast<std::size_t>(-static_cast<std::int64_t>(which));
    if (back > saved_.size()) return;
    keep = saved_.size() - back;
  } else if (which > 0) {
    if (static_cast<std::size_t>(which) > saved_.size()) return;
    keep = static_cast<std::size_t>(which) - 1;
  } else {
    return;
  }
  dc_ = saved_[keep];
  saved_.resize(keep);
  matrixDirty_ = true;
  device_.SetClip(dc_.clip);
}

// ---- drawing helpers

bool TMetafilePlayback::Spend(std::size_t points) {
  work_ += static_cast<std::int64_t>(std::min<std::size_t>(points, kMaxWork)) + 1;
  return !Exhausted();
}

bool TMetafilePlayback::Drawing() const {
  return !Exhausted() && dc_.rop2 != 11;  // R2_NOP leaves the pixels alone
}

TMfMix TMetafilePlayback::Mix() const {
  switch (dc_.rop2) {
    case 6: return TMfMix::Invert;  // R2_NOT
    case 7: return TMfMix::Xor;     // R2_XORPEN
    case 9: return TMfMix::And;     // R2_MASKPEN
    case 15: return TMfMix::Or;     // R2_MERGEPEN
    default: return TMfMix::Copy;
  }
}

TColor TMetafilePlayback::PenColour(TColor colour) const {
  switch (dc_.rop2) {
    case 1: return clBlack;         // R2_BLACK
    case 16: return clWhite;        // R2_WHITE
    case 4: return Invert(colour);  // R2_NOTCOPYPEN
    default: return colour & 0xFFFFFF;
  }
}

void TMetafilePlayback::Fill(const TMfPath& path, const TGdiBrush& gdi) {
  if (gdi.style == 1 || path.Empty() || !Drawing()) return;
  std::size_t points = 0;
  for (const TMfFigure& f : path.figures) points += f.points.size();
  if (!Spend(points)) return;
  TMfBrush brush;
  brush.colour = PenColour(gdi.colour);
  if (gdi.style == 2) {
    brush.style = TMfBrushStyle::Hatched;
    brush.hatch = static_cast<TMfHatch>(std::clamp(gdi.hatch, 0, 5));
  } else if ((gdi.style == 3 || gdi.style == 5 || gdi.style == 6) && gdi.pattern) {
    brush.style = TMfBrushStyle::Pattern;
    brush.pattern = gdi.pattern;
  }
  device_.FillPath(path, dc_.windingFill, brush, {dc_.backOpaque, dc_.backColour & 0xFFFFFF}, Mix());
}

void TMetafilePlayback::Stroke(const TMfPath& path) {
  const int kind = dc_.pen.style & 0xF;
  if (kind == 5 || path.Empty() || !Drawing()) return;  // PS_NULL
  std::size_t points = 0;
  for (const TMfFigure& f : path.figures) points += f.points.size();
  if (!Spend(points)) return;
  TMfPen pen;
  pen.colour = PenColour(dc_.pen.colour);
  switch (kind) {
    case 1: pen.style = TMfPenStyle::Dash; break;
    case 2:
    case 8: pen.style = TMfPenStyle::Dot; break;  // PS_ALTERNATE: every other pixel
    case 3: pen.style = TMfPenStyle::DashDot; break;
    case 4: pen.style = TMfPenStyle::DashDotDot; break;
    default: break;  // solid, inside frame, user styles
  }
  switch ((dc_.pen.style >> 8) & 0xF) {
    case 1: pen.cap = TMfLineCap::Square; break;
    case 2: pen.cap = TMfLineCap::Flat; break;
    default: break;
  }
  switch ((dc_.pen.style >> 12) & 0xF) {
    case 1: pen.join = TMfLineJoin::Bevel; break;
    case 2: pen.join = TMfLineJoin::Miter; break;
    default: break;
  }
  if (!dc_.pen.cosmetic && dc_.pen.width > 0) {
    pen.width = dc_.pen.width * ScaleLength();
    if (pen.width < 1.5) pen.width = 0;
    pen.width = DeviceSize(pen.width);
  }
  device_.StrokePath(path, pen, {dc_.backOpaque, dc_.backColour & 0xFFFFFF}, Mix());
}

void TMetafilePlayback::AddToPath(const std::vector<TMfPoint>& points, bool continueFigure, bool close) {
  if (points.empty() || pathPoints_ + points.size() > kMaxPathPoints) return;
  pathPoints_ += points.size();
  if (continueFigure && figureOpen_ && !path_.figures.empty()) {
    std::vector<TMfPoint>& last = path_.figures.back().points;
    last.insert(last.end(), points.begin() + 1, points.end());
  } else {
    path_.figures.push_back({points, close});
  }
  figureOpen_ = !close;
  if (close) path_.figures.back().closed = true;
}

void TMetafilePlayback::Shape(TMfPath path, bool fill, bool stroke) {
  if (inPath_) {
    for (TMfFigure& f : path.figures) AddToPath(f.points, false, f.closed);
    return;
  }
  if (fill) Fill(path, dc_.brush);
  if (stroke) Stroke(path);
}

std::vector<TMfPoint> TMetafilePlayback::ArcPoints(TMfPoint c, double rx, double ry, double a0,
                                                   double sweep) {
  const double perimeter = 2 * kPi * std::max(std::abs(rx), std::abs(ry)) * ScaleLength();
  const int n = Segments(perimeter * std::abs(sweep) / (2 * kPi), 4, 1024);
  std::vector<TMfPoint> points;
  points.reserve(static_cast<std::size_t>(n) + 1);
  for (int i = 0; i <= n; ++i) {
    const double a = a0 + sweep * i / n;
    points.push_back({c.x + rx * std::cos(a), c.y + ry * std::sin(a)});
  }
  return points;
}

TMfPath TMetafilePlayback::RectPath(double l, double t, double r, double b) {
  return TMfPath{{TMfFigure{ToDevice({{l, t}, {r, t}, {r, b}, {l, b}}), true}}};
}

// ---- lines and shapes

void TMetafilePlayback::MoveTo(TMfPoint p) {
  dc_.position = p;
  figureOpen_ = false;
}

void TMetafilePlayback::LineTo(TMfPoint p) {
  const std::vector<TMfPoint> points = ToDevice({dc_.position, p});
  dc_.position = p;
  if (inPath_) {
    AddToPath(points, true, false);
  } else {
    Stroke(TMfPath{{TMfFigure{points, false}}});
  }
}

void TMetafilePlayback::Polyline(const std::vector<TMfPoint>& points, bool continueFigure) {
  if (points.empty()) return;
  std::vector<TMfPoint> logical;
  if (continueFigure) logical.push_back(dc_.position);
  logical.insert(logical.end(), points.begin(), points.end());
  if (continueFigure) dc_.position = points.back();
  if (logical.size() < 2) return;
  const std::vector<TMfPoint> device = ToDevice(logical);
  if (inPath_) {
    AddToPath(device, continueFigure, false);
  } else {
    Stroke(TMfPath{{TMfFigure{device, false}}});
  }
}

void TMetafilePlayback::PolyBezier(const std::vector<TMfPoint>& points, bool continueFigure) {
  std::vector<TMfPoint> control;
  if (continueFigure) control.push_back(dc_.position);
  control.insert(control.end(), points.begin(), points.end());
  if (control.size() < 4) return;
  const std::vector<TMfPoint> device = ToDevice(control);
  std::vector<TMfPoint> flat{device[0]};
  for (std::size_t i = 0; i + 3 < device.size(); i += 3) {
    const TMfPoint p0 = device[i], p1 = device[i + 1], p2 = device[i + 2], p3 = device[i + 3];
    const int n = Segments(Distance(p0, p1) + Distance(p1, p2) + Distance(p2, p3), 4, 256);
    if (flat.size() + static_cast<std::size_t>(n) > kMaxPathPoints) break;
    for (int k = 1; k <= n; ++k) {
      const double t = static_cast<double>(k) / n, u = 1 - t;
      flat.push_back({u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
                      u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y});
    }
    if (continueFigure) dc_.position = control[i + 3];
  }
  if (inPath_) {
    AddToPath(flat, continueFigure, false);
  } else {
    Stroke(TMfPath{{TMfFigure{flat, false}}});
  }
}

void TMetafilePlayback::PolyDraw(const std::vector<TMfPoint>& points,
                                 const std::vector<std::uint8_t>& types) {
  TMfPath path;
  TMfFigure figure{{ToDevice(dc_.position)}, false};
  bool continuing = true;
  auto flush = [&] {
    if (figure.points.size() >= 2) path.figures.push_back(figure);
  };
  for (std::size_t i = 0; i < points.size() && i < types.size(); ++i) {
    const int type = types[i] & ~1;
    if (type == 6) {  // PT_MOVETO
      flush();
      figure = {{ToDevice(points[i])}, false};
      continuing = false;
      dc_.position = points[i];
    } else if (type == 2) {  // PT_LINETO
      figure.points.push_back(ToDevice(points[i]));
      dc_.position = points[i];
    } else if (type == 4 && i + 2 < points.size()) {  // PT_BEZIERTO, three points
      const TMfPoint p0 = figure.points.back();
      const TMfPoint p1 = ToDevice(points[i]), p2 = ToDevice(points[i + 1]), p3 = ToDevice(points[i + 2]);
      const int n = Segments(Distance(p0, p1) + Distance(p1, p2) + Distance(p2, p3), 4, 256);
      for (int k = 1; k <= n; ++k) {
        const double t = static_cast<double>(k) / n, u = 1 - t;
        figure.points.push_back(
            {u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
             u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y});
      }
      dc_.position = points[i + 2];
      i += 2;
    } else {
      continue;
    }
    if ((types[std::min(i, types.size() - 1)] & 1) != 0) {  // PT_CLOSEFIGURE
      figure.closed = true;
      flush();
      figure = {{figure.points.front()}, false};
    }
    if (figure.points.size() > kMaxPathPoints) break;
  }
  flush();
  if (inPath_) {
    for (std::size_t k = 0; k < path.figures.size(); ++k) {
      AddToPath(path.figures[k].points, k == 0 && continuing, path.figures[k].closed);
    }
  } else {
    Stroke(path);
  }
}

void TMetafilePlayback::PolyPolyline(const std::vector<std::vector<TMfPoint>>& lines) {
  TMfPath path;
  for (const std::vector<TMfPoint>& line : lines) {
    if (line.size() >= 2) path.figures.push_back({ToDevice(line), false});
  }
  Shape(std::move(path), false, true);
}

void TMetafilePlayback::PolyPolygon(const std::vector<std::vector<TMfPoint>>& polygons) {
  TMfPath path;
  for (const std::vector<TMfPoint>& polygon : polygons) {
    if (polygon.size() >= 2) path.figures.push_back({ToDevice(polygon), true});
  }
  Shape(std::move(path), true, true);
}

void TMetafilePlayback::Rectangle(double l, double t, double r, double b) {
  Shape(RectPath(l, t, r, b), true, true);
}

void TMetafilePlayback::RoundRect(double l, double t, double r, double b, double width, double height) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  const double rx = std::min(std::abs(width) / 2, (r - l) / 2);
  const double ry = std::min(std::abs(height) / 2, (b - t) / 2);
  std::vector<TMfPoint> logical;
  // Clockwise on the screen from the top-left corner's arc (y grows downwards here).
  const TMfPoint centres[4] = {{l + rx, t + ry}, {r - rx, t + ry}, {r - rx, b - ry}, {l + rx, b - ry}};
  for (int k = 0; k < 4; ++k) {
    const std::vector<TMfPoint> arc = ArcPoints(centres[k], rx, ry, kPi + k * kPi / 2, kPi / 2);
    logical.insert(logical.end(), arc.begin(), arc.end());
  }
  Shape(TMfPath{{TMfFigure{ToDevice(logical), true}}}, true, true);
}

void TMetafilePlayback::Ellipse(double l, double t, double r, double b) {
  const TMfPoint c{(l + r) / 2, (t + b) / 2};
  std::vector<TMfPoint> points = ArcPoints(c, std::abs(r - l) / 2, std::abs(b - t) / 2, 0, 2 * kPi);
  points.pop_back();
  Shape(TMfPath{{TMfFigure{ToDevice(points), true}}}, true, true);
}

void TMetafilePlayback::Arc(TArcKind kind, double l, double t, double r, double b, TMfPoint start,
                            TMfPoint end) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  const double rx = (r - l) / 2, ry = (b - t) / 2;
  if (rx <= 0 || ry <= 0) return;
  const TMfPoint c{(l + r) / 2, (t + b) / 2};
  // The arc runs between the points where the rays from the centre through `start` and `end` cut
  // the ellipse.
  const double a0 = std::atan2((start.y - c.y) * rx, (start.x - c.x) * ry);
  const double a1 = std::atan2((end.y - c.y) * rx, (end.x - c.x) * ry);
  // Counter-clockwise on the screen is a falling angle while logical y grows downwards; a mapping
  // that turns y upwards turns the angles round too.
  const bool rising = dc_.arcClockwise != (Matrix().Determinant() < 0);
  const double sweep = rising ? PositiveTurn(a1 - a0) : -PositiveTurn(a0 - a1);
  std::vector<TMfPoint> points = ArcPoints(c, rx, ry, a0, sweep);
  switch (kind) {
    case TArcKind::Arc: Shape(TMfPath{{TMfFigure{ToDevice(points), false}}}, false, true); break;
    case TArcKind::ArcTo: LineFromPosition(std::move(points)); break;
    case TArcKind::Chord: Shape(TMfPath{{TMfFigure{ToDevice(points), true}}}, true, true); break;
    case TArcKind::Pie:
      points.insert(points.begin(), c);
      Shape(TMfPath{{TMfFigure{ToDevice(points), true}}}, true, true);
      break;
  }
}

void TMetafilePlayback::AngleArc(TMfPoint centre, double radius, double startAngle, double sweepAngle) {
  if (!std::isfinite(startAngle) || !std::isfinite(sweepAngle) || !std::isfinite(radius)) return;
  sweepAngle = std::clamp(sweepAngle, -3600.0, 3600.0);
  const double a0 = -startAngle * kPi / 180, sweep = -sweepAngle * kPi / 180;
  LineFromPosition(ArcPoints(centre, radius, radius, a0, sweep));
}

void TMetafilePlayback::LineFromPosition(std::vector<TMfPoint> points) {
  // A line from the current position to the curve's start, then the curve; the position moves to
  // its end.
  const TMfPoint last = points.back();
  points.insert(points.begin(), dc_.position);
  dc_.position = last;
  const std::vector<TMfPoint> device = ToDevice(points);
  if (inPath_) {
    AddToPath(device, true, false);
  } else {
    Stroke(TMfPath{{TMfFigure{device, false}}});
  }
}

void TMetafilePlayback::SetPixel(TMfPoint p, TColor colour) {
  if (!Drawing() || !Spend(4)) return;
  const TMfPoint d = ToDevice(p);
  const double x = std::floor(d.x), y = std::floor(d.y);
  TMfBrush brush;
  brush.colour = colour & 0xFFFFFF;
  device_.FillPath(TMfPath{{TMfFigure{{{x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y + 1}}, true}}}, false, brush,
                   {}, TMfMix::Copy);
}

// ---- paths

void TMetafilePlayback::BeginPath() {
  path_ = {};
  pathPoints_ = 0;
  inPath_ = true;
  figureOpen_ = false;
}

void TMetafilePlayback::EndPath() {
  inPath_ = false;
  figureOpen_ = false;
}

void TMetafilePlayback::AbortPath() {
  path_ = {};
  pathPoints_ = 0;
  inPath_ = false;
  figureOpen_ = false;
}

void TMetafilePlayback::CloseFigure() {
  if (inPath_ && figureOpen_ && !path_.figures.empty()) path_.figures.back().closed = true;
  figureOpen_ = false;
}

void TMetafilePlayback::FillPath() {
  if (inPath_) return;
  TMfPath path = std::move(path_);
  for (TMfFigure& f : path.figures) f.closed = true;
  Fill(path, dc_.brush);
  AbortPath();
}

void TMetafilePlayback::StrokePath() {
  if (inPath_) return;
  Stroke(path_);
  AbortPath();
}

void TMetafilePlayback::StrokeAndFillPath() {
  if (inPath_) return;
  TMfPath path = std::move(path_);
  for (TMfFigure& f : path.figures) f.closed = true;
  Fill(path, dc_.brush);
  Stroke(path);
  AbortPath();
}

void TMetafilePlayback::SelectClipPath(int mode) {
  if (inPath_ || mode < 1 || mode > 5) return;
  TMfPath path = std::move(path_);
  for (TMfFigure& f : path.figures) f.closed = true;
  PushClip({static_cast<TMfClipOp>(mode - 1), std::move(path), dc_.windingFill});
  AbortPath();
}

// ---- clip

void TMetafilePlayback::PushClip(TMfClipStep step) {
  // Copying drops everything before; the device starts from the whole surface, which a first
  // intersection reduces to the new area.
  if (step.op == TMfClipOp::Copy) {
    dc_.clip.clear();
    step.op = TMfClipOp::And;
  }
  if (dc_.clip.size() >= kMaxClipSteps) return;
  std::size_t points = 0;
  for (const TMfFigure& f : step.area.figures) points += f.points.size();
  if (!Spend(points)) return;
  dc_.clip.push_back(std::move(step));
  device_.SetClip(dc_.clip);
}

void TMetafilePlayback::IntersectClipRect(double l, double t, double r, double b) {
  PushClip({TMfClipOp::And, RectPath(l, t, r, b), false});
}

void TMetafilePlayback::ExcludeClipRect(double l, double t, double r, double b) {
  PushClip({TMfClipOp::Diff, RectPath(l, t, r, b), false});
}

void TMetafilePlayback::OffsetClip(TMfPoint d) {
  if (dc_.clip.empty()) return;
  const TMfMatrix m = Matrix();
  const double dx = Clamp(m.m11 * d.x + m.m21 * d.y), dy = Clamp(m.m12 * d.x + m.m22 * d.y);
  for (TMfClipStep& step : dc_.clip) {
    for (TMfFigure& f : step.area.figures) {
      for (TMfPoint& p : f.points) p = {Clamp(p.x + dx), Clamp(p.y + dy)};
    }
  }
  device_.SetClip(dc_.clip);
}

TMfPath TMetafilePlayback::RegionPath(const std::vector<std::array<double, 4>>& rects, bool logical) {
  TMfPath path;
  for (const auto& r : rects) {
    if (logical) {
      path.figures.push_back(RectPath(r[0], r[1], r[2], r[3]).figures.front());
    } else {
      path.figures.push_back({{FrameToDevice({r[0], r[1]}), FrameToDevice({r[2], r[1]}),
                               FrameToDevice({r[2], r[3]}), FrameToDevice({r[0], r[3]})},
                              true});
    }
  }
  return path;
}

void TMetafilePlayback::SelectClipRegion(int mode, const std::vector<std::array<double, 4>>& rects,
                                         bool logical) {
  if (mode < 1 || mode > 5) return;
  if (rects.empty()) {
    if (mode == 5) {
      dc_.clip.clear();
      device_.SetClip(dc_.clip);
    }
    return;
  }
  PushClip({static_cast<TMfClipOp>(mode - 1), RegionPath(rects, logical), true});
}

void TMetafilePlayback::FillRegion(const std::vector<std::array<double, 4>>& rects, const TGdiBrush& brush,
                                   bool logical) {
  const TMfPath path = RegionPath(rects, logical);
  // A region's rectangles never overlap, so either fill rule covers each once.
  Fill(path, brush);
}

// ---- text

void TMetafilePlayback::Text(TMfPoint origin, const std::u16string& text, const std::vector<double>& advances,
                             bool opaque, bool clipped, const std::array<double, 4>& rect) {
  if (Exhausted()) return;
  const bool updatePosition = (dc_.textAlign & 1) != 0;  // TA_UPDATECP
  if (updatePosition) origin = dc_.position;
  if (opaque && rect[0] != rect[2] && rect[1] != rect[3] && Drawing()) {
    TGdiBrush back;
    back.colour = dc_.backColour;
    Fill(RectPath(rect[0], rect[1], rect[2], rect[3]), back);
  }
  if (text.empty() || !Drawing() || !Spend(text.size() * 8)) return;
  const TMfMatrix m = Matrix();
  const double xScale = std::hypot(m.m11, m.m12), yScale = std::hypot(m.m21, m.m22);
  TMfText t;
  t.text = text;
  t.origin = ToDevice(origin);
  switch (dc_.textAlign & 6) {
    case 2: t.alignX = TMfTextAlignX::Right; break;
    case 6: t.alignX = TMfTextAlignX::Centre; break;
    default: break;
  }
  switch (dc_.textAlign & 24) {
    case 8: t.alignY = TMfTextAlignY::Bottom; break;
    case 24: t.alignY = TMfTextAlignY::Baseline; break;
    default: break;
  }
  const TGdiFont& font = dc_.font;
  if (font.height == 0) {
    // The default font of a fresh device: a 16-pixel cell.
    t.height = 16;
    t.cellHeight = true;
  } else {
    t.height = DeviceSize(std::abs(font.height) * yScale);
    t.cellHeight = font.height > 0;
  }
  t.width = DeviceSize(std::abs(font.width) * xScale);
  double rotation = std::atan2(-m.m12, m.m11) * 180 / kPi;
  if (!std::isfinite(rotation)) rotation = 0;
  t.angle = font.escapement / 10.0 + rotation;
  t.weight = font.weight;
  t.italic = font.italic;
  t.underline = font.underline;
  t.strikeOut = font.strikeOut;
  t.face = font.face;
  t.colour = PenColour(dc_.textColour);
  t.background = {dc_.backOpaque, dc_.backColour & 0xFFFFFF};
  for (const double a : advances) t.advances.push_back(Clamp(a * xScale));
  if (clipped) t.clip = RectPath(rect[0], rect[1], rect[2], rect[3]);
  t.mix = Mix();
  const double advance = device_.DrawText(t);
  if (updatePosition && xScale > 0 && std::isfinite(advance)) dc_.position.x += advance / xScale;
}

// ---- pictures

void TMetafilePlayback::PatBlt(double x, double y, double width, double height, std::uint32_t rop) {
  if (!Drawing()) return;
  const TMfPath rect = RectPath(x, y, x + width, y + height);
  TGdiBrush brush = dc_.brush;
  TMfMix mix = TMfMix::Copy;
  switch ((rop >> 16) & 0xFF) {
    case 0x00: brush = StockBrush(4); break;  // BLACKNESS
    case 0xFF: brush = StockBrush(0); break;  // WHITENESS
    case 0x55: mix = TMfMix::Invert; break;   // DSTINVERT
    case 0x5A: mix = TMfMix::Xor; break;      // PATINVERT
    case 0xAA: return;                        // the destination as it is
    default: break;                           // PATCOPY and the rest
  }
  if (brush.style == 1 || !Spend(4)) return;
  TMfBrush fill;
  fill.colour = brush.colour & 0xFFFFFF;
  if (brush.style == 2) {
    fill.style = TMfBrushStyle::Hatched;
    fill.hatch = static_cast<TMfHatch>(std::clamp(brush.hatch, 0, 5));
  } else if (brush.style != 0 && brush.pattern) {
    fill.style = TMfBrushStyle::Pattern;
    fill.pattern = brush.pattern;
  }
  device_.FillPath(rect, false, fill, {dc_.backOpaque, dc_.backColour & 0xFFFFFF}, mix);
}

void TMetafilePlayback::Image(const TBitmap& image, double x, double y, double width, double height,
                              std::uint32_t rop) {
  const std::uint32_t code = (rop >> 16) & 0xFF;
  // Operations that never look at the source paint like a pattern fill.
  if (code == 0x00 || code == 0xFF || code == 0x55 || code == 0x5A || code == 0xAA || code == 0xF0) {
    PatBlt(x, y, width, height, rop);
    return;
  }
  if (image.Empty() || image.PixelFormat() != pf24bit || Exhausted()) return;
  if (!Spend(4 + static_cast<std::size_t>(image.Width()) * static_cast<std::size_t>(image.Height()) / 64))
    return;
  TMfMix mix = TMfMix::Copy;
  switch (code) {
    case 0xEE: mix = TMfMix::Or; break;   // SRCPAINT
    case 0x88: mix = TMfMix::And; break;  // SRCAND
    case 0x66: mix = TMfMix::Xor; break;  // SRCINVERT
    default: break;
  }
  const TMfPoint topLeft = ToDevice({x, y}), topRight = ToDevice({x + width, y}),
                 bottomLeft = ToDevice({x, y + height});
  if (code == 0x33) {  // NOTSRCCOPY
    TBitmap inverted(image.Width(), image.Height(), pf24bit);
    for (int row = 0; row < image.Height(); ++row) {
      const std::uint8_t* from = image.ScanLine(row);
      std::uint8_t* to = inverted.ScanLine(row);
      for (int i = 0; i < image.Width() * 3; ++i) to[i] = static_cast<std::uint8_t>(~from[i]);
    }
    device_.DrawImage(inverted, topLeft, topRight, bottomLeft, mix);
    return;
  }
  device_.DrawImage(image, topLeft, topRight, bottomLeft, mix);
}

}  // namespace veilora
