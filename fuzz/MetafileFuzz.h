#pragma once

// Plays fuzz input as a metafile onto a device that draws nothing but checks what it is given:
// every coordinate finite and held near the picture, pictures non-empty. Both record readers and
// the shared drawing state run; only the painter is left out.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "io/MetafilePlayer.h"

namespace veilora::fuzz {

class CheckingDevice final : public TMetafileDevice {
 public:
  void FillPath(const TMfPath& path, bool, const TMfBrush& brush, const TMfBackground&, TMfMix) override {
    Check(path);
    if (brush.style == TMfBrushStyle::Pattern && (!brush.pattern || brush.pattern->Empty())) std::abort();
  }
  void StrokePath(const TMfPath& path, const TMfPen& pen, const TMfBackground&, TMfMix) override {
    Check(path);
    if (!std::isfinite(pen.width) || pen.width < 0) std::abort();
  }
  double DrawText(const TMfText& text) override {
    Check(text.origin);
    Check(text.clip);
    if (!std::isfinite(text.height) || !std::isfinite(text.angle)) std::abort();
    for (const double a : text.advances) {
      if (!std::isfinite(a)) std::abort();
    }
    return 0;
  }
  void DrawImage(const TBitmap& image, const TMfPoint& a, const TMfPoint& b, const TMfPoint& c,
                 TMfMix) override {
    if (image.Empty() || image.PixelFormat() != pf24bit) std::abort();
    Check(a);
    Check(b);
    Check(c);
  }
  void SetClip(const std::vector<TMfClipStep>& steps) override {
    if (steps.size() > TMetafilePlayback::kMaxClipSteps) std::abort();
    for (const TMfClipStep& step : steps) Check(step.area);
  }

 private:
  static void Check(const TMfPoint& p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::abs(p.x) > 1e7 || std::abs(p.y) > 1e7)
      std::abort();
  }
  static void Check(const TMfPath& path) {
    for (const TMfFigure& f : path.figures) {
      for (const TMfPoint& p : f.points) Check(p);
    }
  }
};

// Plays the input onto a 64 x 64 target when it is a metafile of the wanted kind.
inline void PlayInput(const std::uint8_t* data, std::size_t size, bool enhanced) {
  TMetafileData parsed;
  if (!ParseMetafile(std::vector<std::uint8_t>(data, data + size), parsed) || parsed.enhanced != enhanced)
    return;
  CheckingDevice device;
  PlayMetafile(parsed, device, 0, 0, 64, 64);
}

}  // namespace veilora::fuzz
