#pragma once

// The drawing surface a metafile is played onto. The record readers turn every drawing record into
// a few plain calls in device pixels: the coordinate mapping, the curves (flattened to polylines),
// the selected objects and the clip bookkeeping are all done before a call is made, so a device
// only fills and strokes polygons, draws text and stretches pictures.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/Bitmap.h"
#include "image/Colour.h"

namespace veilora {

struct TMfPoint {
  double x = 0;
  double y = 0;
};

// One figure of a path: a polyline, closed back to its first point or left open.
struct TMfFigure {
  std::vector<TMfPoint> points;
  bool closed = false;
};

struct TMfPath {
  std::vector<TMfFigure> figures;
  bool Empty() const { return figures.empty(); }
};

// How drawn colour meets the pixels already there (the binary raster operations that a painter can
// do; the others are played as a plain copy).
enum class TMfMix : std::uint8_t { Copy, Xor, Or, And, Invert };

enum class TMfPenStyle : std::uint8_t { Solid, Dash, Dot, DashDot, DashDotDot };
enum class TMfLineCap : std::uint8_t { Round, Square, Flat };
enum class TMfLineJoin : std::uint8_t { Round, Bevel, Miter };

struct TMfPen {
  TMfPenStyle style = TMfPenStyle::Solid;
  // Device pixels; 0 is the one-pixel cosmetic line.
  double width = 0;
  TColor colour = clBlack;
  TMfLineCap cap = TMfLineCap::Round;
  TMfLineJoin join = TMfLineJoin::Round;
};

enum class TMfBrushStyle : std::uint8_t { Solid, Hatched, Pattern };
enum class TMfHatch : std::uint8_t {
  Horizontal,
  Vertical,
  ForwardDiagonal,
  BackwardDiagonal,
  Cross,
  DiagonalCross
};

struct TMfBrush {
  TMfBrushStyle style = TMfBrushStyle::Solid;
  TColor colour = clWhite;
  TMfHatch hatch = TMfHatch::Horizontal;
  // A 24-bit tile for Pattern, repeated from the device's origin.
  std::shared_ptr<const TBitmap> pattern;
};

// The gaps of hatches and dashed lines, and the box behind text, are painted only when opaque.
struct TMfBackground {
  bool opaque = true;
  TColor colour = clWhite;
};

enum class TMfTextAlignX : std::uint8_t { Left, Centre, Right };
enum class TMfTextAlignY : std::uint8_t { Top, Baseline, Bottom };

struct TMfText {
  std::u16string text;
  // The reference point in device pixels; the alignment says which point of the text lies there.
  TMfPoint origin;
  TMfTextAlignX alignX = TMfTextAlignX::Left;
  TMfTextAlignY alignY = TMfTextAlignY::Top;
  // Degrees, counter-clockwise on the screen.
  double angle = 0;
  // Device pixels: the character height (em) or, when `cellHeight`, the whole cell height.
  double height = 16;
  bool cellHeight = false;
  // Device pixels; 0 lets the device choose the width from the height.
  double width = 0;
  int weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  std::string face;  // UTF-8
  TColor colour = clBlack;
  TMfBackground background;
  // Distances in device pixels from each character's start to the next one's along the baseline;
  // empty when the device's own spacing applies.
  std::vector<double> advances;
  // Text outside this area (device pixels) is cut off; empty for none.
  TMfPath clip;
  TMfMix mix = TMfMix::Copy;
};

enum class TMfClipOp : std::uint8_t { And, Or, Xor, Diff, Copy };

// One step of the clip: the area so far (all of the device before the first step) combined with
// `area` (filled with the winding rule when `winding`, else even-odd).
struct TMfClipStep {
  TMfClipOp op = TMfClipOp::And;
  TMfPath area;
  bool winding = false;
};

class TMetafileDevice {
 public:
  virtual ~TMetafileDevice() = default;
  virtual void FillPath(const TMfPath& path, bool winding, const TMfBrush& brush,
                        const TMfBackground& background, TMfMix mix) = 0;
  virtual void StrokePath(const TMfPath& path, const TMfPen& pen, const TMfBackground& background,
                          TMfMix mix) = 0;
  // Returns the text's advance along its baseline in device pixels.
  virtual double DrawText(const TMfText& text) = 0;
  // Stretches the whole 24-bit `image` so that its top-left, top-right and bottom-left corners land
  // on the three points (device pixels).
  virtual void DrawImage(const TBitmap& image, const TMfPoint& topLeft, const TMfPoint& topRight,
                         const TMfPoint& bottomLeft, TMfMix mix) = 0;
  // The clip in force from now on, as the whole list of its steps (empty: no clip).
  virtual void SetClip(const std::vector<TMfClipStep>& steps) = 0;
};

}  // namespace veilora
