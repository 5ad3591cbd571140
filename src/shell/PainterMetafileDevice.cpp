#include "shell/PainterMetafileDevice.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <cmath>

#include "io/MetafilePlayer.h"

namespace {

using namespace veilora;

QColor ToQColor(TColor c) {
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QPainter::CompositionMode Composition(TMfMix mix) {
  switch (mix) {
    case TMfMix::Xor: return QPainter::RasterOp_SourceXorDestination;
    case TMfMix::Or: return QPainter::RasterOp_SourceOrDestination;
    case TMfMix::And: return QPainter::RasterOp_SourceAndDestination;
    case TMfMix::Invert: return QPainter::RasterOp_NotDestination;
    case TMfMix::Copy: break;
  }
  return QPainter::CompositionMode_SourceOver;
}

QPainterPath ToPainterPath(const TMfPath& path, bool winding) {
  QPainterPath out;
  out.setFillRule(winding ? Qt::WindingFill : Qt::OddEvenFill);
  for (const TMfFigure& figure : path.figures) {
    if (figure.points.empty()) continue;
    out.moveTo(figure.points.front().x, figure.points.front().y);
    for (std::size_t i = 1; i < figure.points.size(); ++i) out.lineTo(figure.points[i].x, figure.points[i].y);
    if (figure.closed) out.closeSubpath();
  }
  return out;
}

QImage ToQImage(const TBitmap& bitmap) {
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* from = bitmap.ScanLine(y);
    auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x) to[x] = qRgb(from[x * 3 + 2], from[x * 3 + 1], from[x * 3]);
  }
  return image;
}

class TPainterDevice final : public TMetafileDevice {
 public:
  explicit TPainterDevice(TBitmap& target) : target_(target), image_(ToQImage(target)) {
    painter_.begin(&image_);
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
  }

  ~TPainterDevice() override {
    painter_.end();
    for (int y = 0; y < target_.Height() && y < image_.height(); ++y) {
      const auto* from = reinterpret_cast<const QRgb*>(image_.constScanLine(y));
      std::uint8_t* to = target_.ScanLine(y);
      for (int x = 0; x < target_.Width() && x < image_.width(); ++x) {
        to[x * 3] = static_cast<std::uint8_t>(qBlue(from[x]));
        to[x * 3 + 1] = static_cast<std::uint8_t>(qGreen(from[x]));
        to[x * 3 + 2] = static_cast<std::uint8_t>(qRed(from[x]));
      }
    }
  }

  TPainterDevice(const TPainterDevice&) = delete;
  TPainterDevice& operator=(const TPainterDevice&) = delete;

  void FillPath(const TMfPath& path, bool winding, const TMfBrush& brush, const TMfBackground& background,
                TMfMix mix) override {
    const QPainterPath shape = ToPainterPath(path, winding);
    painter_.setCompositionMode(Composition(mix));
    switch (brush.style) {
      case TMfBrushStyle::Solid: painter_.fillPath(shape, ToQColor(brush.colour)); break;
      case TMfBrushStyle::Hatched: {
        static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                      Qt::FDiagPattern, Qt::BDiagPattern,
                                                      Qt::CrossPattern, Qt::DiagCrossPattern};
        if (background.opaque) painter_.fillPath(shape, ToQColor(background.colour));
        painter_.fillPath(shape, QBrush(ToQColor(brush.colour), kHatches[static_cast<int>(brush.hatch)]));
        break;
      }
      case TMfBrushStyle::Pattern:
        if (brush.pattern && !brush.pattern->Empty()) {
          painter_.fillPath(shape, QBrush(ToQImage(*brush.pattern)));
        }
        break;
    }
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }

  void StrokePath(const TMfPath& path, const TMfPen& pen, const TMfBackground& background,
                  TMfMix mix) override {
    const QPainterPath shape = ToPainterPath(path, false);
    QPen qpen(ToQColor(pen.colour));
    // Wider than any picture drawn here is as good as this wide, and stays in the painter's range.
    qpen.setWidthF(std::min(pen.width, 16384.0));
    qpen.setCosmetic(pen.width == 0);
    switch (pen.cap) {
      case TMfLineCap::Round: qpen.setCapStyle(Qt::RoundCap); break;
      case TMfLineCap::Square: qpen.setCapStyle(Qt::SquareCap); break;
      case TMfLineCap::Flat: qpen.setCapStyle(Qt::FlatCap); break;
    }
    switch (pen.join) {
      case TMfLineJoin::Round: qpen.setJoinStyle(Qt::RoundJoin); break;
      case TMfLineJoin::Bevel: qpen.setJoinStyle(Qt::BevelJoin); break;
      case TMfLineJoin::Miter: qpen.setJoinStyle(Qt::MiterJoin); break;
    }
    painter_.setCompositionMode(Composition(mix));
    painter_.setBrush(Qt::NoBrush);
    if (pen.style != TMfPenStyle::Solid) {
      if (background.opaque) {
        QPen gaps = qpen;
        gaps.setColor(ToQColor(background.colour));
        painter_.setPen(gaps);
        painter_.drawPath(shape);
      }
      static constexpr Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                                 Qt::DashDotDotLine};
      qpen.setStyle(kStyles[static_cast<int>(pen.style)]);
    }
    painter_.setPen(qpen);
    painter_.drawPath(shape);
    painter_.setPen(Qt::NoPen);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }

  double DrawText(const TMfText& text) override {
    QFont font;
    if (!text.face.empty()) font.setFamily(QString::fromStdString(text.face));
    const double height = std::clamp(text.height, 1.0, 10000.0);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(height))));
    if (text.cellHeight) {
      // The cell holds the character height plus the font's internal leading.
      const QFontMetricsF cell(font);
      const double full = cell.ascent() + cell.descent();
      if (full > 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(height * height / full))));
    }
    font.setWeight(static_cast<QFont::Weight>(std::clamp(text.weight == 0 ? 400 : text.weight, 1, 1000)));
    font.setItalic(text.italic);
    font.setUnderline(text.underline);
    font.setStrikeOut(text.strikeOut);
    if (text.width > 0) {
      const double average = QFontMetricsF(font).averageCharWidth();
      if (average > 0)
        font.setStretch(std::clamp(static_cast<int>(std::lround(text.width / average * 100)), 1, 4000));
    }
    const QFontMetricsF metrics(font, &image_);
    const QString string = QString::fromStdU16String(text.text);
    double width = 0;
    std::vector<double> starts;
    if (!text.advances.empty()) {
      for (qsizetype i = 0; i < string.size(); ++i) {
        starts.push_back(width);
        width += i < static_cast<qsizetype>(text.advances.size()) ? text.advances[static_cast<std::size_t>(i)]
                                                                  : metrics.horizontalAdvance(string.at(i));
      }
    } else {
      width = metrics.horizontalAdvance(string);
    }
    double x = 0;
    if (text.alignX == TMfTextAlignX::Right) x = -width;
    if (text.alignX == TMfTextAlignX::Centre) x = -width / 2;
    double baseline = 0;
    if (text.alignY == TMfTextAlignY::Top) baseline = metrics.ascent();
    if (text.alignY == TMfTextAlignY::Bottom) baseline = -metrics.descent();

    painter_.save();
    if (!text.clip.Empty()) painter_.setClipPath(ToPainterPath(text.clip, false), Qt::IntersectClip);
    painter_.translate(text.origin.x, text.origin.y);
    painter_.rotate(-text.angle);
    painter_.setCompositionMode(Composition(text.mix));
    if (text.background.opaque) {
      painter_.fillRect(QRectF(x, baseline - metrics.ascent(), width, metrics.ascent() + metrics.descent()),
                        ToQColor(text.background.colour));
    }
    painter_.setFont(font);
    painter_.setPen(ToQColor(text.colour));
    if (starts.empty()) {
      painter_.drawText(QPointF(x, baseline), string);
    } else {
      for (qsizetype i = 0; i < string.size(); ++i) {
        painter_.drawText(QPointF(x + starts[static_cast<std::size_t>(i)], baseline), QString(string.at(i)));
      }
    }
    painter_.restore();
    return width;
  }

  void DrawImage(const TBitmap& image, const TMfPoint& topLeft, const TMfPoint& topRight,
                 const TMfPoint& bottomLeft, TMfMix mix) override {
    if (image.Empty()) return;
    const double w = image.Width(), h = image.Height();
    const QTransform place((topRight.x - topLeft.x) / w, (topRight.y - topLeft.y) / w,
                           (bottomLeft.x - topLeft.x) / h, (bottomLeft.y - topLeft.y) / h, topLeft.x,
                           topLeft.y);
    if (!place.isInvertible()) return;
    painter_.save();
    painter_.setTransform(place);
    painter_.setCompositionMode(Composition(mix));
    painter_.drawImage(QPointF(0, 0), ToQImage(image));
    painter_.restore();
  }

  void SetClip(const std::vector<TMfClipStep>& steps) override {
    if (steps.empty()) {
      painter_.setClipping(false);
      return;
    }
    QPainterPath area;
    area.addRect(QRectF(image_.rect()));
    for (const TMfClipStep& step : steps) {
      const QPainterPath next = ToPainterPath(step.area, step.winding);
      switch (step.op) {
        case TMfClipOp::And:
        case TMfClipOp::Copy: area = area.intersected(next); break;
        case TMfClipOp::Or: area = area.united(next); break;
        case TMfClipOp::Xor: area = area.united(next).subtracted(area.intersected(next)); break;
        case TMfClipOp::Diff: area = area.subtracted(next); break;
      }
    }
    painter_.setClipPath(area);
  }

 private:
  TBitmap& target_;
  QImage image_;
  QPainter painter_;
};

}  // namespace

std::unique_ptr<veilora::TMetafileDevice> MakePainterMetafileDevice(veilora::TBitmap& target) {
  return std::make_unique<TPainterDevice>(target);
}

void InstallMetafilePlayer() {
  veilora::SetMetafilePlayer(std::make_unique<veilora::TRecordMetafilePlayer>(
      [](veilora::TBitmap& target) { return MakePainterMetafileDevice(target); }));
}
