#pragma once

// The graphics state that Windows metafile and enhanced metafile records act on, shared by the two
// record readers: the device context (mapping mode, window and viewport, world transform, selected
// pen, brush and font, colours and modes, current position, clip, the open path) with its save
// stack, and the drawing operations, which take logical coordinates and reach the device in device
// pixels.
//
// Coordinates: device = frame(viewport(world(logical))). Per axis the viewport mapping is
// (logical - window origin) x viewport extent / window extent + viewport origin; the fixed mapping
// modes set the extents from the device's pixels per millimetre, with y growing upwards.
//
// Limits against hostile files: a path holds at most kMaxPathPoints points, the save stack is
// kMaxSaveDepth deep, the clip keeps kMaxClipSteps steps, and once kMaxWork points (plus one per
// call) have gone to the device, drawing stops (Exhausted).

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/MetafileDevice.h"

namespace veilora {

// An affine transform: x' = m11 x + m21 y + dx, y' = m12 x + m22 y + dy (the XFORM layout).
struct TMfMatrix {
  double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;

  TMfPoint Apply(TMfPoint p) const { return {m11 * p.x + m21 * p.y + dx, m12 * p.x + m22 * p.y + dy}; }
  // The transform that applies `first`, then `second`.
  static TMfMatrix Then(const TMfMatrix& first, const TMfMatrix& second);
  double Determinant() const { return m11 * m22 - m12 * m21; }
};

// Mapping modes, as the files number them.
enum : int {
  kMmText = 1,
  kMmLoMetric = 2,
  kMmHiMetric = 3,
  kMmLoEnglish = 4,
  kMmHiEnglish = 5,
  kMmTwips = 6,
  kMmIsotropic = 7,
  kMmAnisotropic = 8,
};

// Logical objects as created by the records; sizes in logical units.
struct TGdiPen {
  int style = 0;  // PS_* in the low byte, end cap and join in the bits above
  double width = 0;
  bool cosmetic = true;
  TColor colour = clBlack;
};

struct TGdiBrush {
  int style = 0;  // BS_*: 0 solid, 1 null, 2 hatched, 3 and 5/6 pattern
  TColor colour = clWhite;
  int hatch = 0;
  std::shared_ptr<const TBitmap> pattern;
};

struct TGdiFont {
  double height = 0;
  double width = 0;
  int escapement = 0;  // tenths of a degree
  int weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  int charset = 0;
  std::string face;  // UTF-8
};

// The stock objects of an enhanced metafile (index 0x80000000 + n), also the device's defaults.
TGdiPen StockPen(int n);
TGdiBrush StockBrush(int n);

struct TMfDcState {
  int mapMode = kMmText;
  TMfPoint windowOrg, viewportOrg;
  TMfPoint windowExt{1, 1}, viewportExt{1, 1};
  TMfMatrix world;
  bool advancedGraphics = false;
  TGdiPen pen;
  TGdiBrush brush;
  TGdiFont font;
  TColor textColour = clBlack;
  TColor backColour = clWhite;
  bool backOpaque = true;
  bool windingFill = false;
  int rop2 = 13;  // R2_COPYPEN
  int textAlign = 0;
  bool arcClockwise = false;
  TMfPoint position;
  std::vector<TMfClipStep> clip;
};

class TMetafilePlayback {
 public:
  static constexpr std::size_t kMaxPathPoints = 1 << 20;
  static constexpr std::size_t kMaxSaveDepth = 1024;
  static constexpr std::size_t kMaxClipSteps = 256;
  static constexpr std::int64_t kMaxWork = std::int64_t{16} << 20;

  // `frame` maps the metafile's device space onto the target; `pixelsPerMm` is the metafile's
  // device resolution, used by the fixed mapping modes.
  TMetafilePlayback(TMetafileDevice& device, const TMfMatrix& frame, TMfPoint pixelsPerMm);

  TMfDcState& Dc() { return dc_; }
  bool Exhausted() const { return work_ > kMaxWork; }

  // Mapping.
  void SetMapMode(int mode);
  void SetWindowOrg(TMfPoint p);
  void SetWindowExt(TMfPoint e);
  void SetViewportOrg(TMfPoint p);
  void SetViewportExt(TMfPoint e);
  void OffsetWindowOrg(TMfPoint d);
  void OffsetViewportOrg(TMfPoint d);
  void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
  void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
  void SetWorldTransform(const TMfMatrix& m);
  // 1 identity, 2 left multiply (m first), 3 right multiply (m last), 4 set.
  void ModifyWorldTransform(const TMfMatrix& m, int mode);
  // Logical to target device pixels.
  TMfPoint ToDevice(TMfPoint p);
  // The metafile's device pixels to the target (regions are stored in device units).
  TMfPoint FrameToDevice(TMfPoint p) const;

  void SaveDc();
  // Negative: that many levels back; positive: the state saved by that SaveDc (counted from 1).
  void RestoreDc(int which);

  void SelectPen(const TGdiPen& pen) { dc_.pen = pen; }
  void SelectBrush(const TGdiBrush& brush) { dc_.brush = brush; }
  void SelectFont(const TGdiFont& font) { dc_.font = font; }

  // Lines and shapes, logical coordinates.
  void MoveTo(TMfPoint p);
  void LineTo(TMfPoint p);
  // `continueFigure`: the -To forms, which start at the current position and move it.
  void Polyline(const std::vector<TMfPoint>& points, bool continueFigure);
  void PolyBezier(const std::vector<TMfPoint>& points, bool continueFigure);
  // Types as in PolyDraw: 6 move, 2 line, 4 Bézier, with bit 1 closing the figure.
  void PolyDraw(const std::vector<TMfPoint>& points, const std::vector<std::uint8_t>& types);
  void PolyPolyline(const std::vector<std::vector<TMfPoint>>& lines);
  void PolyPolygon(const std::vector<std::vector<TMfPoint>>& polygons);
  void Rectangle(double left, double top, double right, double bottom);
  void RoundRect(double left, double top, double right, double bottom, double width, double height);
  void Ellipse(double left, double top, double right, double bottom);
  enum class TArcKind : std::uint8_t { Arc, ArcTo, Chord, Pie };
  void Arc(TArcKind kind, double left, double top, double right, double bottom, TMfPoint start, TMfPoint end);
  // Degrees, counter-clockwise from the x axis.
  void AngleArc(TMfPoint centre, double radius, double startAngle, double sweepAngle);
  void SetPixel(TMfPoint p, TColor colour);

  // Paths.
  void BeginPath();
  void EndPath();
  void AbortPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  // Mode as in the files: 1 and, 2 or, 3 xor, 4 diff, 5 copy.
  void SelectClipPath(int mode);

  // Clip, logical coordinates unless said otherwise.
  void IntersectClipRect(double left, double top, double right, double bottom);
  void ExcludeClipRect(double left, double top, double right, double bottom);
  void OffsetClip(TMfPoint d);
  // Rectangles (left, top, right, bottom) in the metafile's device pixels, or in logical units when
  // `logical`; an empty list with mode 5 removes the clip.
  void SelectClipRegion(int mode, const std::vector<std::array<double, 4>>& rects, bool logical = false);
  void FillRegion(const std::vector<std::array<double, 4>>& rects, const TGdiBrush& brush,
                  bool logical = false);

  // Text at `origin` (logical; ignored when the alignment asks for the current position). `rect`
  // (logical) is painted with the background colour when `opaque` and cuts the text off when
  // `clipped`. `advances` are logical distances between characters (may be empty).
  void Text(TMfPoint origin, const std::u16string& text, const std::vector<double>& advances, bool opaque,
            bool clipped, const std::array<double, 4>& rect);

  // Pictures and pattern fills. `rop` is the ternary raster operation of the record.
  void Image(const TBitmap& image, double x, double y, double width, double height, std::uint32_t rop);
  void PatBlt(double x, double y, double width, double height, std::uint32_t rop);

 private:
  void UpdateMatrix();
  TMfMatrix Matrix();
  double ScaleLength();
  bool Spend(std::size_t points);
  TMfMix Mix() const;
  TColor PenColour(TColor colour) const;
  bool Drawing() const;
  std::vector<TMfPoint> ToDevice(const std::vector<TMfPoint>& points);
  // The points of an elliptic arc in logical coordinates, from angle a0 sweeping by `sweep`
  // (radians, y pointing down, positive sweep clockwise on the screen).
  std::vector<TMfPoint> ArcPoints(TMfPoint centre, double rx, double ry, double a0, double sweep);
  // Draws or records a figure set in device pixels.
  void Shape(TMfPath path, bool fill, bool stroke);
  void AddToPath(const std::vector<TMfPoint>& devicePoints, bool continueFigure, bool close);
  // Strokes (or adds to the path) a line from the current position through `points`, and moves the
  // position to the last of them.
  void LineFromPosition(std::vector<TMfPoint> points);
  void Fill(const TMfPath& path, const TGdiBrush& brush);
  void Stroke(const TMfPath& path);
  void PushClip(TMfClipStep step);
  TMfPath RectPath(double left, double top, double right, double bottom);
  TMfPath RegionPath(const std::vector<std::array<double, 4>>& rects, bool logical);

  TMetafileDevice& device_;
  TMfMatrix frame_;
  TMfPoint pixelsPerMm_;
  TMfDcState dc_;
  std::vector<TMfDcState> saved_;
  TMfMatrix matrix_;
  bool matrixDirty_ = true;
  bool inPath_ = false;
  bool figureOpen_ = false;
  TMfPath path_;
  std::size_t pathPoints_ = 0;
  std::int64_t work_ = 0;
};

}  // namespace veilora
