#pragma once

// Direct access to the pixels a QPainter paints on, where that is a 32-bit image reached by a plain
// translation (what painting a widget on the raster engine gives). The view's outline and its
// repaints of thin strips write there themselves: Qt hands a tall one-pixel strip to its thread
// pool band by band and draws single points through its line stroker, both far slower than
// writing the pixels.

#include <QPainter>
#include <QRegion>
#include <cstdint>
#include <optional>

namespace veilora {

struct TDirectTarget {
  std::uint8_t* bits = nullptr;
  qsizetype stride = 0;
  QPoint shift;     // the painter's origin in the image
  QRegion allowed;  // the window system's clip and the painter's own, in image pixels

  std::uint32_t* Row(int y) const { return reinterpret_cast<std::uint32_t*>(bits + y * stride); }
};

// The painter's target, when it can be written directly.
std::optional<TDirectTarget> DirectTarget(QPainter& painter);

// Copies `region` (painter coordinates) of `source`, a 32-bit image placed at the painter's
// origin, onto the painter's target; directly where possible.
void CopyImageRegion(QPainter& painter, const QImage& source, const QRegion& region);

}  // namespace veilora
