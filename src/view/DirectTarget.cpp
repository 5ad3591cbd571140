#include "view/DirectTarget.h"

#include <QPaintEngine>
#include <algorithm>
#include <cstring>

namespace veilora {

std::optional<TDirectTarget> DirectTarget(QPainter& painter) {
  QPaintEngine* engine = painter.paintEngine();
  if (engine == nullptr || engine->type() != QPaintEngine::Raster) return std::nullopt;
  QPaintDevice* device = engine->paintDevice();
  if (device == nullptr || device->devType() != QInternal::Image) return std::nullopt;
  auto* image = static_cast<QImage*>(device);
  const QImage::Format format = image->format();
  if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
      format != QImage::Format_ARGB32_Premultiplied) {
    return std::nullopt;
  }
  const QTransform transform = painter.deviceTransform();
  if (transform.type() > QTransform::TxTranslate) return std::nullopt;
  TDirectTarget target;
  target.shift = QPoint(static_cast<int>(transform.dx()), static_cast<int>(transform.dy()));
  target.allowed = engine->systemClip().isEmpty() ? QRegion(image->rect()) : engine->systemClip();
  if (painter.hasClipping()) target.allowed &= painter.clipRegion().translated(target.shift);
  target.allowed &= QRegion(image->rect());
  target.bits = image->bits();
  target.stride = image->bytesPerLine();
  return target;
}

void CopyImageRegion(QPainter& painter, const QImage& source, const QRegion& region) {
  const std::optional<TDirectTarget> target = DirectTarget(painter);
  if (!target || source.depth() != 32) {
    for (const QRect& rect : region) {
      const QRect area = rect & source.rect();
      if (!area.isEmpty()) painter.drawImage(area.topLeft(), source, area);
    }
    return;
  }
  const QRegion wanted = (region & QRegion(source.rect())).translated(target->shift) & target->allowed;
  const std::uint8_t* sourceBits = source.constBits();
  const qsizetype sourceStride = source.bytesPerLine();
  for (const QRect& rect : wanted) {
    const auto bytes = static_cast<std::size_t>(rect.width()) * sizeof(std::uint32_t);
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
      const auto* from =
          reinterpret_cast<const std::uint32_t*>(sourceBits + (y - target->shift.y()) * sourceStride) +
          (rect.left() - target->shift.x());
      std::memcpy(target->Row(y) + rect.left(), from, bytes);
    }
  }
}

}  // namespace veilora
