// The image view's mouse gestures and its selection outline: selecting, resizing, moving,
// polygons, ellipses, the magic wand, click zoom and the hand, and the marching ants drawn over
// the painted picture. The arithmetic of each gesture lives in MouseRules and Outline.

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "image/MagicWand.h"
#include "view/Cursors.h"
#include "view/DirectTarget.h"
#include "view/ImageView.h"

namespace veilora {
namespace {

TPoint ClientPoint(const QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  return TPoint{point.x(), point.y()};
}

QRect ToQRect(const TExtentRect& rect) {
  return QRect(rect.x, rect.y, rect.width, rect.height);
}

const QColor kColour1(Qt::black);
const QColor kColour2(Qt::white);
constexpr std::uint32_t kFirstPixel = 0xFF000000u;   // black, opaque
constexpr std::uint32_t kSecondPixel = 0xFFFFFFFFu;  // white

// Writes the outline's pixels straight into the painter's target, inside its clip. Returns false
// when the target cannot be written directly.
bool WritePixelsDirect(QPainter& painter, const TOutlinePixels& pixels, const QRegion& outlineRegion) {
  const std::optional<TDirectTarget> target = DirectTarget(painter);
  if (!target) return false;
  const auto write = [&](const std::vector<TPoint>& points, std::uint32_t value, const QRect& rect) {
    for (const TPoint& point : points) {
      const int x = point.x + target->shift.x();
      const int y = point.y + target->shift.y();
      if (x < rect.left() || x > rect.right() || y < rect.top() || y > rect.bottom()) continue;
      target->Row(y)[x] = value;
    }
  };
  // An animation tick paints just the outline's own region: then every pixel may be written and
  // one pass over them does.
  if (outlineRegion.translated(target->shift).subtracted(target->allowed).isEmpty()) {
    const QRect all = target->allowed.boundingRect();
    write(pixels.first, kFirstPixel, all);
    write(pixels.second, kSecondPixel, all);
    return true;
  }
  for (const QRect& rect : target->allowed) {
    write(pixels.first, kFirstPixel, rect);
    write(pixels.second, kSecondPixel, rect);
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- properties

void TImageView::SetMouseInteract(TMouseInteract value) {
  if (value == mouseInteract_) return;
  if (polygonInProgress_ && (mouseInteract_ & miSelectPolygon) != 0) FinishPolygon();
  mouseInteract_ = CombineMouseInteract(mouseInteract_, value);
}

void TImageView::SetCursor(int id) {
  cursorId_ = id;
  ShowCursor(id);
}

void TImageView::ShowCursor(int id) {
  if (id == shownCursor_) return;
  shownCursor_ = id;
  viewport()->setCursor(CursorById(id));
}

const TSelectionOutline* TImageView::Selection() const {
  return selected_ && !outline_.Empty() ? &outline_ : nullptr;
}

std::optional<TRectInclusive> TImageView::SelectionBounds() const {
  if (Selection() == nullptr || outline_.Count() < 2) return std::nullopt;
  return outline_.Bounds();
}

// ---------------------------------------------------------------- selection operations

void TImageView::Unselect() {
  if (selected_) {
    selected_ = false;
    outlineVisible_ = false;
  }
  outline_.Clear();
  polygonInProgress_ = false;
  newRectangle_ = false;
  ellipseInProgress_ = false;
  rubberBandShown_ = false;
  grip_ = kNoGrip;
  moveIndex_ = -1;
  RefreshOutline();
}

void TImageView::ShowSelection(bool visible) {
  outlineVisible_ = visible;
  RefreshOutline();
}

void TImageView::SelectRectangle(int x1, int y1, int x2, int y2, bool additive) {
  if (x1 == x2 || y1 == y2) return;
  if (selectionBase_ == selbClientArea) {
    x1 = ScreenToBitmapX(x1);
    y1 = ScreenToBitmapY(y1);
    x2 = ScreenToBitmapX(x2);
    y2 = ScreenToBitmapY(y2);
  }
  // Below 100% two client columns can show one bitmap column, and corners beyond the picture
  // clamp onto one side: a box without width or height would crop to nothing.
  const TSize bitmap = geometry_.BitmapSize();
  const auto clampX = [&](int x) { return std::clamp(x, 0, std::max(bitmap.width - 1, 0)); };
  const auto clampY = [&](int y) { return std::clamp(y, 0, std::max(bitmap.height - 1, 0)); };
  if (clampX(x1) == clampX(x2) || clampY(y1) == clampY(y2)) return;
  selected_ = true;
  AddRectangle(outline_, x1, y1, x2, y2, additive, bitmap);
  outlineVisible_ = true;
  RefreshOutline();
}

void TImageView::AddSelectionPoint(int x, int y) {
  if (selectionBase_ == selbClientArea) {
    x = ScreenToBitmapX(x);
    y = ScreenToBitmapY(y);
  }
  const TSize bitmap = geometry_.BitmapSize();
  outline_.Add(
      {std::clamp(x, 0, std::max(bitmap.width - 1, 0)), std::clamp(y, 0, std::max(bitmap.height - 1, 0))});
  selected_ = true;
  outlineVisible_ = true;
  RefreshOutline();
}

void TImageView::ZoomToSelection() {
  if (!selected_ || outline_.Count() < 2) return;
  const TRectInclusive box = outline_.Bounds();
  LockPaint();
  Unselect();
  SetZoom(ZoomForBox(box, geometry_.OuterSize()));
  const TPoint origin = OriginForBox(box, Zoom(), geometry_.ClientSize());
  SetViewOrigin(origin.x, origin.y);
  UnlockPaint();
}

void TImageView::SelectMagicWand(int x, int y, bool additive) {
  const std::vector<TPoint> region = MagicWandOutline(*Bitmap(), x, y);
  if (region.empty()) return;
  if (additive && !outline_.Empty()) {
    outline_.AddBreak();
  } else {
    outline_.Clear();
  }
  for (const TPoint& point : region) outline_.Add(point);
  selected_ = true;
  outlineVisible_ = true;
  RefreshOutline();
}

void TImageView::FinishPolygon() {
  outline_.FinishPolygon();
  polygonInProgress_ = false;
  rubberBandShown_ = false;
  RefreshOutline();
  RaiseSelectionChange();
}

// ---------------------------------------------------------------- hit tests

bool TImageView::GripsShown() const {
  return (selectionOptions_ & soSizeable) != 0 && outline_.IsRectangle() && !newRectangle_;
}

int TImageView::HitGrip(TPoint client) const {
  if (!selected_ || !outlineVisible_ || !GripsShown()) return kNoGrip;
  return GripAt(outline_, geometry_, client.x, client.y);
}

bool TImageView::HitInside(TPoint client) {
  if (!selected_ || !outlineVisible_ || !outline_.IsRectangle() || newRectangle_) return false;
  if (!InsideSelection(outline_, geometry_, client.x, client.y)) return false;
  savedBox_ = outline_.Bounds();
  return true;
}

// ---------------------------------------------------------------- gestures

void TImageView::mousePressEvent(QMouseEvent* event) {
  const TPoint raw = ClientPoint(event);
  const TSelectionBase savedBase = selectionBase_;
  selectionBase_ = selbClientArea;
  const TPoint point = ClampToDrawnImage(raw, geometry_);
  buttonDown_ = true;
  button_ = event->button();
  gestureModifiers_ = event->modifiers();
  lastRaw_ = raw;
  downPoint_ = point;
  lastPoint_ = point;
  originAtDown_ = TPoint{ViewOriginX(), ViewOriginY()};
  countAtDown_ = outline_.Count();
  grip_ = kNoGrip;
  moveIndex_ = -1;
  const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
  const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;

  if ((mouseInteract_ & miSelectPolygon) != 0) {
    TPoint corner = point;
    if (polygonInProgress_ && !outline_.Empty() && !(outline_.Points().back() == kSelectionBreak)) {
      const TPoint& last = outline_.Points().back();
      if (ctrl) corner = ConstrainCorner({BitmapToScreenX(last.x), BitmapToScreenY(last.y)}, point);
    }
    if (!polygonInProgress_) {
      if (shift) {
        outline_.AddBreak();
      } else {
        Unselect();
      }
    }
    AddSelectionPoint(corner.x, corner.y);
    polygonInProgress_ = true;
    rubberEnd_ = corner;
    RaiseSelectionChanging();
  } else if ((mouseInteract_ & (miSelect | miSelectZoom)) != 0) {
    grip_ = HitGrip(point);
    if (grip_ == kNoGrip && HitInside(point)) moveIndex_ = 0;
    if (grip_ == kNoGrip && moveIndex_ < 0) {
      newRectangle_ = true;
      RaiseSelectionChanging();
    }
  } else if ((mouseInteract_ & miSelectCircle) != 0) {
    ellipseInProgress_ = true;
    outlineVisible_ = true;
    RaiseSelectionChanging();
  }
  selectionBase_ = savedBase;
  event->accept();
}

void TImageView::mouseMoveEvent(QMouseEvent* event) {
  const TPoint raw = ClientPoint(event);
  lastRaw_ = raw;
  gestureModifiers_ = event->modifiers();
  if (buttonDown_) {
    ContinueGesture(raw, event->modifiers());
  } else {
    const TSelectionBase savedBase = selectionBase_;
    selectionBase_ = selbClientArea;
    const TPoint point = ClampToDrawnImage(raw, geometry_);
    if (polygonInProgress_) {
      QRegion old = RubberBandRegion();
      rubberEnd_ = point;
      if ((event->modifiers() & Qt::ControlModifier) != 0 && !outline_.Empty() &&
          !(outline_.Points().back() == kSelectionBreak)) {
        const TPoint& last = outline_.Points().back();
        rubberEnd_ = ConstrainCorner({BitmapToScreenX(last.x), BitmapToScreenY(last.y)}, point);
      }
      rubberBandShown_ = true;
      if (!dirty_) outlineOnly_ = true;
      viewport()->update(old.united(RubberBandRegion()));
      RaiseSelectionChanging();
    } else if ((mouseInteract_ & miSelect) != 0) {
      HoverCursor(point);
    }
    lastPoint_ = point;
    selectionBase_ = savedBase;
  }
  event->accept();
}

void TImageView::ContinueGesture(TPoint raw, Qt::KeyboardModifiers modifiers) {
  const TSelectionBase savedBase = selectionBase_;
  selectionBase_ = selbClientArea;
  const bool shift = (modifiers & Qt::ShiftModifier) != 0;
  const bool ctrl = (modifiers & Qt::ControlModifier) != 0;
  if ((mouseInteract_ & miScroll) != 0) {
    SetViewOrigin(originAtDown_.x + downPoint_.x - raw.x, originAtDown_.y + downPoint_.y - raw.y);
  } else if (grip_ != kNoGrip) {
    AutoScroll(raw);
    ResizeWithGrip(ClampToDrawnImage(raw, geometry_));
    RaiseSelectionChanging();
  } else if (moveIndex_ >= 0) {
    AutoScroll(raw);
    const TPoint point = ClampToDrawnImage(raw, geometry_);
    MoveSelection({point.x - downPoint_.x, point.y - downPoint_.y});
    RaiseSelectionChanging();
  } else if (newRectangle_) {
    AutoScroll(raw);
    DragNewRectangle(ClampToDrawnImage(raw, geometry_), shift);
    RaiseSelectionChanging();
  } else if (polygonInProgress_) {
    AutoScroll(raw);
    const TPoint point = ClampToDrawnImage(raw, geometry_);
    AddSelectionPoint(point.x, point.y);
    rubberEnd_ = point;
    RaiseSelectionChanging();
  } else if (ellipseInProgress_) {
    AutoScroll(raw);
    DragEllipse(ClampToDrawnImage(raw, geometry_), shift, ctrl);
    RaiseSelectionChanging();
  }
  lastPoint_ = ClampToDrawnImage(raw, geometry_);
  selectionBase_ = savedBase;
}

void TImageView::mouseReleaseEvent(QMouseEvent* event) {
  if (!buttonDown_) return;
  const TPoint raw = ClientPoint(event);
  const TPoint point = ClampToDrawnImage(raw, geometry_);
  buttonDown_ = false;
  autoScrollTimer_.stop();
  if ((mouseInteract_ & miZoom) != 0 && point == downPoint_) {
    if (event->button() == Qt::LeftButton) {
      ZoomAt(point.x, point.y, ZoomInStep(Zoom()));
    } else if (event->button() == Qt::RightButton) {
      ZoomAt(point.x, point.y, ZoomOutStep(Zoom()));
    }
  } else if ((mouseInteract_ & miScroll) != 0) {
    SetViewOrigin(originAtDown_.x + downPoint_.x - raw.x, originAtDown_.y + downPoint_.y - raw.y);
  } else if ((mouseInteract_ & miSelectZoom) != 0) {
    newRectangle_ = false;
    ZoomToSelection();
  } else if ((mouseInteract_ & miSelect) != 0) {
    newRectangle_ = false;
    grip_ = kNoGrip;
    moveIndex_ = -1;
    RefreshOutline();  // the grips come back
    RaiseSelectionChange();
  } else if ((mouseInteract_ & miSelectCircle) != 0) {
    ellipseInProgress_ = false;
    RaiseSelectionChange();
  } else if ((mouseInteract_ & miSelectMagicWand) != 0) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SelectMagicWand(ScreenToBitmapX(point.x), ScreenToBitmapY(point.y),
                    (event->modifiers() & Qt::ShiftModifier) != 0);
    QApplication::restoreOverrideCursor();
    RaiseSelectionChange();
  }
  event->accept();
}

void TImageView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (polygonInProgress_) {
    FinishPolygon();
    event->accept();
    return;
  }
  mousePressEvent(event);
}

void TImageView::ResizeWithGrip(TPoint client) {
  if (!outline_.IsRectangle()) return;
  const TGripDrag drag = DragGrip(outline_.Bounds(), grip_, client.x, client.y, geometry_);
  SetRectangle(outline_, drag.box);
  grip_ = drag.grip;
  RefreshOutline();
}

void TImageView::MoveSelection(TPoint delta) {
  if (!outline_.IsRectangle()) return;
  SetRectangle(outline_, MoveBox(savedBox_, delta.x, delta.y, geometry_));
  RefreshOutline();
}

void TImageView::DragNewRectangle(TPoint client, bool shift) {
  if (shift) {
    // Earlier parts stay; this gesture's own part is drawn anew.
    if (outline_.Count() != countAtDown_) outline_.RemoveLastPart();
    SelectRectangle(downPoint_.x, downPoint_.y, client.x, client.y, true);
  } else {
    SelectRectangle(downPoint_.x, downPoint_.y, client.x, client.y, false);
  }
}

void TImageView::DragEllipse(TPoint client, bool shift, bool ctrl) {
  if (shift) {
    if (outline_.Count() != countAtDown_) outline_.RemoveLastPart();
    outline_.AddBreak();
  } else {
    outline_.Clear();
  }
  int rx = std::abs(downPoint_.x - client.x);
  int ry = std::abs(downPoint_.y - client.y);
  if (ctrl) rx = ry = std::max(rx, ry);
  for (const TPoint& point : EllipsePoints(downPoint_, rx, ry, geometry_)) outline_.Add(point);
  selected_ = true;
  RefreshOutline();
}

bool TImageView::AutoScroll(TPoint mouse) {
  const TPoint distance = AutoScrollDistance(mouse, geometry_);
  if (distance.x == 0 && distance.y == 0) {
    autoScrollTimer_.stop();
    return false;
  }
  const TPoint before{ViewOriginX(), ViewOriginY()};
  SetViewOrigin(before.x + distance.x, before.y + distance.y);
  const TPoint moved{ViewOriginX() - before.x, ViewOriginY() - before.y};
  if (moved.x == 0 && moved.y == 0) {
    autoScrollTimer_.stop();
    return false;
  }
  // The press point stays on the image pixel it was made on.
  downPoint_.x -= moved.x;
  downPoint_.y -= moved.y;
  // While the mouse is held outside, the view keeps scrolling at a steady pace.
  if (!autoScrollTimer_.isActive()) autoScrollTimer_.start();
  return true;
}

void TImageView::AutoScrollTick() {
  if (!buttonDown_) {
    autoScrollTimer_.stop();
    return;
  }
  ContinueGesture(lastRaw_, gestureModifiers_);
}

void TImageView::HoverCursor(TPoint client) {
  const int grip = HitGrip(client);
  if (grip != kNoGrip) {
    if (OnMouseInSel) OnMouseInSel(*this);
    emit mouseInSelection();
    ShowCursor(GripCursor(grip));
  } else if (HitInside(client)) {
    if (OnMouseInSel) OnMouseInSel(*this);
    emit mouseInSelection();
    ShowCursor(crMoveSelection);
  } else {
    ShowCursor(cursorId_);
  }
}

void TImageView::RaiseSelectionChanging() {
  if (OnSelectionChanging) OnSelectionChanging(*this);
  emit selectionChanging();
}

void TImageView::RaiseSelectionChange() {
  if (OnSelectionChange) OnSelectionChange(*this);
  emit selectionChanged();
}

// ---------------------------------------------------------------- the outline

QRegion TImageView::OutlineRegion() const {
  QRegion region;
  if (!selected_ || !outlineVisible_ || outline_.Empty()) return region;
  // Qt's region takes a list of rectangles only in its own banded order; the segments' boxes
  // overlap at the corners and come in drawing order, so they are joined one by one.
  for (const TExtentRect& box : OutlineBoxes(outline_, geometry_, IsClosedOutline(), GripsShown())) {
    region += ToQRect(box);
  }
  return region;
}

QRegion TImageView::RubberBandRegion() const {
  if (!polygonInProgress_ || !rubberBandShown_ || outline_.Empty() ||
      outline_.Points().back() == kSelectionBreak) {
    return {};
  }
  const TPoint& last = outline_.Points().back();
  const QPoint anchor(BitmapToScreenX(last.x), BitmapToScreenY(last.y));
  return QRegion(QRect(anchor, QPoint(rubberEnd_.x, rubberEnd_.y)).normalized().adjusted(0, 0, 1, 1));
}

void TImageView::OutlineTick() {
  if (!selected_ || !outlineVisible_) return;
  const bool gesture = polygonInProgress_ || newRectangle_ || ellipseInProgress_;
  if ((selectionOptions_ & soAnimated) != 0 && !gesture) phase_ = phase_ >= kDashPeriod - 1 ? 0 : phase_ + 1;
  RefreshOutline();
}

void TImageView::RefreshOutline() {
  const QRegion now = OutlineRegion().united(RubberBandRegion());
  const QRegion changed = drawnOutline_.united(now);
  const TRectInclusive& box = outline_.Bounds();
  outlineCoversRegion_ = now == drawnOutline_ && outline_.IsRectangle() && box.x1 < box.x2 &&
                         box.y1 < box.y2 && RubberBandRegion().isEmpty();
  drawnOutline_ = now;
  if (changed.isEmpty() || paintLock_ > 0) return;
  if (!dirty_) outlineOnly_ = true;
  viewport()->update(changed);
}

void TImageView::PaintOutline(QPainter& painter) {
  if (!selected_ || !outlineVisible_ || outline_.Empty()) return;
  const TOutlinePixels& pixels = OutlinePixelsNow();
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  // The region last asked for holds the outline as it is now, unless the view moved since.
  if (!WritePixelsDirect(painter, pixels, drawnOutline_)) DrawPixels(painter, pixels);
  if (!GripsShown()) return;
  const std::optional<TDirectTarget> target = DirectTarget(painter);
  for (int corner = 0; corner < 4; ++corner) {
    const QRect grip = ToQRect(GripBox(outline_, geometry_, corner));
    if (target) {
      // Outlined in the first colour, filled with the second, inside the painter's clip.
      for (const QRect& part : QRegion(grip.translated(target->shift)) & target->allowed) {
        for (int y = part.top(); y <= part.bottom(); ++y) {
          std::uint32_t* row = target->Row(y);
          const int gy = y - target->shift.y();
          for (int x = part.left(); x <= part.right(); ++x) {
            const int gx = x - target->shift.x();
            const bool edge =
                gx == grip.left() || gx == grip.right() || gy == grip.top() || gy == grip.bottom();
            row[x] = edge ? kFirstPixel : kSecondPixel;
          }
        }
      }
    } else {
      painter.fillRect(grip, kColour1);
      painter.fillRect(grip.adjusted(1, 1, -1, -1), kColour2);
    }
  }
}

const TOutlinePixels& TImageView::OutlinePixelsNow() {
  TOutlineKey key{
      outline_.Points(),      Zoom(),           {ViewOriginX(), ViewOriginY()}, geometry_.ImageOffset(),
      geometry_.ClientSize(), IsClosedOutline()};
  if (!(key == outlineKey_)) {
    outlineKey_ = std::move(key);
    for (TOutlineCache& cached : outlineCache_) cached.valid = false;
  }
  TOutlineCache& cached = outlineCache_[static_cast<std::size_t>(phase_)];
  if (!cached.valid) {
    CollectOutlinePixels(outline_, geometry_, phase_, IsClosedOutline(), cached.pixels);
    cached.valid = true;
  }
  return cached.pixels;
}

void TImageView::DrawPixels(QPainter& painter, const TOutlinePixels& outlinePixels) {
  std::vector<QPoint> points;
  for (const auto& [pixels, colour] :
       {std::pair{&outlinePixels.first, kColour1}, std::pair{&outlinePixels.second, kColour2}}) {
    points.clear();
    points.reserve(pixels->size());
    for (const TPoint& pixel : *pixels) points.emplace_back(pixel.x, pixel.y);
    painter.setPen(QPen(colour, 0));
    painter.drawPoints(points.data(), static_cast<int>(points.size()));
  }
}

void TImageView::PaintRubberBand(QPainter& painter) {
  if (RubberBandRegion().isEmpty()) return;
  const TPoint& last = outline_.Points().back();
  // Inverting the pixels keeps the line visible on any picture.
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.setPen(QPen(Qt::white, 0));
  painter.drawLine(BitmapToScreenX(last.x), BitmapToScreenY(last.y), rubberEnd_.x, rubberEnd_.y);
}

}  // namespace veilora
