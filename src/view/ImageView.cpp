#include "view/ImageView.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QRegion>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalBlocker>
#include <QStyle>
#include <QThread>
#include <QThreadPool>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cstring>

#include "image/Display.h"
#include "view/Cursors.h"
#include "view/DirectTarget.h"

namespace veilora {
namespace {

// 32-bit pixels of QImage::Format_RGB32 and the ARGB formats: 0xAARRGGBB, opaque.
std::uint32_t OpaquePixel(TColor colour) {
  const TColor rgb = ColorToRGB(colour);
  return 0xFF000000u | (static_cast<std::uint32_t>(rgb & 0xFF) << 16) |
         (static_cast<std::uint32_t>(rgb) & 0xFF00u) | ((static_cast<std::uint32_t>(rgb) >> 16) & 0xFFu);
}

QColor ToQColor(TColor colour) {
  const TColor rgb = ColorToRGB(colour);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

bool IsDirect32(QImage::Format format) {
  return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
         format == QImage::Format_ARGB32_Premultiplied;
}

Qt::BrushStyle HatchOf(TBackgroundStyle style) {
  switch (style) {
    case bgsHorizontal: return Qt::HorPattern;
    case bgsVertical: return Qt::VerPattern;
    case bgsFDiagonal: return Qt::FDiagPattern;
    case bgsBDiagonal: return Qt::BDiagPattern;
    case bgsCross: return Qt::CrossPattern;
    case bgsDiagCross: return Qt::DiagCrossPattern;
    default: return Qt::SolidPattern;
  }
}

// Fills row `row` of a 32-bit image from `pattern` (one pixel per column), leaving the columns
// left..right-1 alone.
void FillRowAround(std::uint32_t* row, const std::uint32_t* pattern, int width, int left, int right) {
  if (left >= right) {
    std::memcpy(row, pattern, sizeof(std::uint32_t) * static_cast<std::size_t>(width));
    return;
  }
  std::memcpy(row, pattern, sizeof(std::uint32_t) * static_cast<std::size_t>(left));
  std::memcpy(row + right, pattern + right, sizeof(std::uint32_t) * static_cast<std::size_t>(width - right));
}

// Runs paint(first, last) over the rows top..bottom-1. A large area is split into bands of about
// 64 rows painted on the application's thread pool while this thread waits, as Qt's own raster
// engine does with its fills; a thread that is itself one of the pool's paints alone, so that it
// cannot wait for work queued behind it. The bands write disjoint rows and only read the bitmap.
template <typename Paint>
void InBands(int top, int bottom, int width, const Paint& paint) {
  constexpr int kRowsPerBand = 64;
  constexpr std::int64_t kSmallArea = 64 * 1024;  // pixels not worth handing over
  QThreadPool* pool = QThreadPool::globalInstance();
  const int rows = bottom - top;
  const int bands = (rows + kRowsPerBand / 2) / kRowsPerBand;
  if (bands < 2 || std::int64_t{rows} * width < kSmallArea || pool->maxThreadCount() < 2 ||
      pool->contains(QThread::currentThread())) {
    paint(top, bottom);
    return;
  }
  QSemaphore done;
  for (int band = 0; band < bands; ++band) {
    const int first = top + static_cast<int>(std::int64_t{rows} * band / bands);
    const int last = top + static_cast<int>(std::int64_t{rows} * (band + 1) / bands);
    pool->start([&paint, &done, first, last] {
      paint(first, last);
      done.release();
    });
  }
  done.acquire(bands);
}

}  // namespace

TImageView::TImageView(QWidget* parent) : QAbstractScrollArea(parent) {
  // The view paints every pixel of its client area itself; erasing first would only flicker.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAttribute(Qt::WA_NoSystemBackground);
  viewport()->setAutoFillBackground(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (const bool horizontal : {true, false}) {
    QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
    connect(bar, &QAbstractSlider::actionTriggered, this,
            [this, horizontal](int action) { ScrollBarAction(horizontal, action); });
    connect(bar, &QAbstractSlider::valueChanged, this,
            [this, horizontal](int value) { ScrollBarValueChanged(horizontal, value); });
  }
  RegisterViewCursors();
  SetCursor(crSelect);
  viewport()->setMouseTracking(true);
  outlineTimer_.setInterval(kOutlineTickMs);
  connect(&outlineTimer_, &QTimer::timeout, this, &TImageView::OutlineTick);
  outlineTimer_.start();
  autoScrollTimer_.setInterval(kAutoScrollMs);
  connect(&autoScrollTimer_, &QTimer::timeout, this, &TImageView::AutoScrollTick);
  resize(105, 105);
  Update();
}

TImageView::~TImageView() {
  destroying_ = true;
  horizontalScrollBar()->disconnect(this);
  verticalScrollBar()->disconnect(this);
}

void TImageView::ImageChange() {
  TBitmapView::ImageChange();
  emit imageChanged();
}

void TImageView::ViewChange(int change) {
  TBitmapView::ViewChange(change);
  emit viewChanged(change);
}

// ---------------------------------------------------------------- zoom and origin

void TImageView::SetZoom(int value) {
  if (value <= 0 || value == Zoom()) return;
  LockPaint();
  geometry_.SetZoom(value);
  Update();
  UnlockPaintQuiet();
  if (paintLock_ == 0) viewport()->repaint();
  ViewChange(1);
}

void TImageView::ZoomToFit() {
  const TBitmap& bitmap = *Bitmap();
  if (bitmap.Width() == 0 || bitmap.Height() == 0) return;
  geometry_.SetOuterSize(width(), height(), frameWidth());
  geometry_.SetBitmapSize(bitmap.Width(), bitmap.Height());
  SetZoom(geometry_.FitZoom());
}

void TImageView::ZoomAt(int x, int y, int newZoom) {
  LockPaint();
  const int bx = ScreenToBitmapX(x);
  const int by = ScreenToBitmapY(y);
  SetZoom(newZoom);
  const TPoint origin = geometry_.OriginCentring(bx, by);
  SetViewOrigin(origin.x, origin.y);
  UnlockPaint();
}

void TImageView::SetViewOrigin(int x, int y) {
  if (x == ViewOriginX() && y == ViewOriginY()) return;
  geometry_.SetViewOrigin(x, y);
  dirty_ = true;
  if (paintLock_ == 0) viewport()->repaint();
  ViewChange(0);
  const TScrollStyle bars = ScrollBars();
  if (bars == ssHorizontal || bars == ssBoth) {
    const QSignalBlocker blocker(horizontalScrollBar());
    horizontalScrollBar()->setValue(ViewOriginX());
  }
  if (bars == ssVertical || bars == ssBoth) {
    const QSignalBlocker blocker(verticalScrollBar());
    verticalScrollBar()->setValue(ViewOriginY());
  }
}

void TImageView::UnlockPaint() {
  if (paintLock_ > 0) --paintLock_;
  if (paintLock_ == 0) Update();
}

void TImageView::UnlockPaintQuiet() {
  if (paintLock_ > 0) --paintLock_;
}

// ---------------------------------------------------------------- display properties

void TImageView::SetScrollBars(TScrollStyle style) {
  geometry_.SetScrollBars(style);
  Update();
}

void TImageView::SetCenter(bool center) {
  if (center == Center()) return;
  geometry_.SetCenter(center);
  Update();
}

void TImageView::SetDoubleBuffer(bool value) {
  if (value == doubleBuffer_) return;
  doubleBuffer_ = value;
  dirty_ = true;
  viewport()->update();
}

void TImageView::SetAutoFit(bool value) {
  if (value == autoFit_) return;
  autoFit_ = value;
  Update();
}

void TImageView::SetBackgroundStyle(TBackgroundStyle style) {
  backgroundStyle_ = style;
  Update();
}

void TImageView::BorderStyleChanged() {
  setFrameShape(BorderStyle() == bsNone ? QFrame::NoFrame : QFrame::StyledPanel);
  Update();
}

// ---------------------------------------------------------------- layout

int TImageView::ScrollBarExtent() const {
  // Overlay bars take nothing from the client area.
  if (style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this) != 0) return 0;
  int extent = verticalScrollBar()->sizeHint().width();
  if (style()->styleHint(QStyle::SH_ScrollView_FrameOnlyAroundContents, nullptr, this) != 0) {
    extent += style()->pixelMetric(QStyle::PM_ScrollView_ScrollBarSpacing, nullptr, this);
  }
  return extent;
}

void TImageView::Update() {
  if (destroying_) return;
  const TBitmap& bitmap = *Bitmap();
  geometry_.SetOuterSize(width(), height(), frameWidth());
  geometry_.SetScrollBarExtent(ScrollBarExtent());
  geometry_.SetBitmapSize(bitmap.Width(), bitmap.Height());
  // A selection belongs to the picture it was made on; one of another size cannot keep it.
  if (!(geometry_.BitmapSize() == lastBitmapSize_)) {
    lastBitmapSize_ = geometry_.BitmapSize();
    if (selected_) Unselect();
  }

  if (autoFit_ && bitmap.Width() != 0 && bitmap.Height() != 0) {
    // A control far smaller than the image would fit it at 0%, which is no zoom at all.
    const int fit = geometry_.FitZoom();
    if (fit > 0) {
      geometry_.SetZoom(fit);
      ViewChange(1);
    }
  }

  const bool lowered = geometry_.Update();
  if (lowered) ViewChange(0);
  ApplyScrollBars();
  if (selected_) outlineVisible_ = true;
  dirty_ = true;
  viewport()->update();
}

void TImageView::ApplyScrollBars() {
  // Showing or hiding a bar resizes the viewport at once; the geometry has already settled the
  // client area, so that resize must not start another pass.
  const bool wasInUpdate = inUpdate_;
  inUpdate_ = true;
  for (const bool horizontal : {true, false}) {
    const TScrollBarState state = horizontal ? geometry_.HorizontalBar() : geometry_.VerticalBar();
    QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
    {
      const QSignalBlocker blocker(bar);
      if (state.visible) {
        // Qt's range is the positions the origin can take, its page the client size, so line and
        // page steps from the bar itself agree with the view's own.
        bar->setRange(0, state.LastPosition());
        bar->setSingleStep(1);
        bar->setPageStep(state.page);
        bar->setValue(state.position);
      }
    }
    const Qt::ScrollBarPolicy policy = state.visible ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (horizontal && horizontalScrollBarPolicy() != policy) setHorizontalScrollBarPolicy(policy);
    if (!horizontal && verticalScrollBarPolicy() != policy) setVerticalScrollBarPolicy(policy);
  }
  inUpdate_ = wasInUpdate;
}

void TImageView::resizeEvent(QResizeEvent* /*event*/) {
  if (!inUpdate_) Update();
}

void TImageView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange: Update(); break;
    default: break;
  }
}

void TImageView::scrollContentsBy(int /*dx*/, int /*dy*/) {}

void TImageView::wheelEvent(QWheelEvent* event) {
  // Touch pads report pixels; wheels report eighths of a degree, 120 to a notch.
  QPoint step = event->pixelDelta();
  if (step.isNull()) {
    const int linePixels = QApplication::wheelScrollLines() * kWheelLinePixels;
    step = event->angleDelta() * linePixels / 120;
  }
  // Alt turns an upright wheel sideways, as in Qt's own scroll areas.
  if ((event->modifiers() & Qt::AltModifier) != 0 && step.x() == 0) step = QPoint(step.y(), 0);
  if (step.isNull()) {
    event->ignore();
    return;
  }
  SetViewOrigin(ViewOriginX() - step.x(), ViewOriginY() - step.y());
  event->accept();
}

// ---------------------------------------------------------------- scroll bars

void TImageView::ScrollBarAction(bool horizontal, int action) {
  QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
  TScrollRequest request = TScrollRequest::Other;
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: request = TScrollRequest::LineBack; break;
    case QAbstractSlider::SliderSingleStepAdd: request = TScrollRequest::LineForward; break;
    case QAbstractSlider::SliderPageStepSub: request = TScrollRequest::PageBack; break;
    case QAbstractSlider::SliderPageStepAdd: request = TScrollRequest::PageForward; break;
    case QAbstractSlider::SliderMove: request = TScrollRequest::Track; break;
    case QAbstractSlider::SliderToMinimum: request = TScrollRequest::ToStart; break;
    case QAbstractSlider::SliderToMaximum: request = TScrollRequest::ToEnd; break;
    default: return;
  }
  const int target = geometry_.ScrollTarget(horizontal, request, bar->sliderPosition());
  if (horizontal) {
    SetViewOriginX(target);
  } else {
    SetViewOriginY(target);
  }
  // The bar takes its slider position as its value once this signal returns.
  bar->setSliderPosition(horizontal ? ViewOriginX() : ViewOriginY());
}

void TImageView::ScrollBarValueChanged(bool horizontal, int value) {
  if (inUpdate_) return;
  if (horizontal) {
    SetViewOriginX(value);
  } else {
    SetViewOriginY(value);
  }
}

// ---------------------------------------------------------------- painting

void TImageView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  PaintClient(painter, event->region());
}

void TImageView::PaintClient(QPainter& painter, const QRegion& region) {
  if (paintLock_ > 0) return;
  const TSize client = geometry_.ClientSize();
  if (buffer_.size() != QSize(client.width, client.height)) dirty_ = true;
  // Without the off-screen buffer every paint draws the image again; with it only a change does.
  // A tick of the outline's animation never does: the last picture is still right under it.
  const bool outlineOnly = outlineOnly_ && !dirty_;
  outlineOnly_ = false;
  if (dirty_ || (!doubleBuffer_ && !outlineOnly)) {
    ++renderCount_;
    PaintTo(buffer_);
    dirty_ = false;
  }
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  // Rectangle by rectangle: the outline's thin boxes span the window but hold few pixels.
  // On a tick the outline and its grips cover their own region, so only what lies beside it is
  // copied (nothing, unless the window system asked for more at the same time).
  CopyImageRegion(painter, buffer_,
                  outlineOnly && outlineCoversRegion_ && selected_ && outlineVisible_
                      ? region.subtracted(drawnOutline_)
                      : region);
  PaintOutline(painter);
  PaintRubberBand(painter);
}

void TImageView::PaintTo(QImage& target) {
  const TSize client = geometry_.ClientSize();
  const QSize size(client.width, client.height);
  if (target.size() != size) target = QImage(size, QImage::Format_RGB32);
  if (target.isNull()) return;
  if (!IsDirect32(target.format())) {
    QImage direct(size, QImage::Format_RGB32);
    PaintTo(direct);
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, direct);
    return;
  }
  const TExtentRect destination = geometry_.DestinationRect();
  PaintBackground(target, destination);
  const TBitmap& bitmap = *Bitmap();
  if (bitmap.Height() < 1 || destination.width <= 0 || destination.height <= 0) return;
  PaintBitmap(target, geometry_.SourceRect(), destination);
}

void TImageView::PaintBackground(QImage& target, const TExtentRect& image) {
  const int width = target.width();
  const int height = target.height();
  const TColor background = Background();
  const TColor complement = ComplementColour(background);

  if (backgroundStyle_ == bgsSolid || backgroundStyle_ == bgsChessboard) {
    // Row patterns for square rows that start with the complement and for those that do not.
    std::vector<std::uint32_t> patterns(2 * static_cast<std::size_t>(width));
    const std::uint32_t plain = OpaquePixel(background);
    const std::uint32_t other = OpaquePixel(complement);
    const bool chess = backgroundStyle_ == bgsChessboard;
    for (int x = 0; x < width; ++x) {
      patterns[static_cast<std::size_t>(x)] = chess && ChessboardSquareIsComplement(x, 0) ? other : plain;
      patterns[static_cast<std::size_t>(width + x)] =
          chess && ChessboardSquareIsComplement(x, kChessboardSquare) ? other : plain;
    }
    std::uint8_t* bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    for (int y = 0; y < height; ++y) {
      const std::uint32_t* pattern = patterns.data() + ((y / kChessboardSquare) % 2 == 0 ? 0 : width);
      const bool besideImage = y >= image.y && y < image.y + image.height;
      auto* row = reinterpret_cast<std::uint32_t*>(bits + y * stride);
      if (besideImage) {
        FillRowAround(row, pattern, width, std::clamp(image.x, 0, width),
                      std::clamp(image.x + image.width, 0, width));
      } else {
        FillRowAround(row, pattern, width, 0, 0);
      }
    }
    return;
  }

  QPainter painter(&target);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  QRegion around(0, 0, width, height);
  if (image.width > 0 && image.height > 0) around -= QRegion(image.x, image.y, image.width, image.height);
  painter.setClipRegion(around);
  if (backgroundStyle_ == bgsDiagonals) {
    painter.fillRect(0, 0, width, height, ToQColor(background));
    painter.setPen(QPen(ToQColor(complement), 0));
    painter.drawLine(0, 0, width, height);
    painter.drawLine(width, 0, 0, height);
    return;
  }
  // A hatch draws its lines in Background; the gaps between them take the complement, so the
  // pattern looks the same whatever was in the buffer before.
  painter.fillRect(0, 0, width, height, ToQColor(complement));
  painter.fillRect(0, 0, width, height, QBrush(ToQColor(background), HatchOf(backgroundStyle_)));
}

void TImageView::PaintBitmap(QImage& target, const TExtentRect& sourceRect, const TExtentRect& destination) {
  const TBitmap& bitmap = *Bitmap();
  // The geometry follows the bitmap only through Update; a caller that resized the bitmap and has
  // not called it yet must not make the paint read outside the pixels.
  TExtentRect source = sourceRect;
  source.x = std::clamp(source.x, 0, std::max(bitmap.Width() - 1, 0));
  source.y = std::clamp(source.y, 0, std::max(bitmap.Height() - 1, 0));
  source.width = std::min(source.width, bitmap.Width() - source.x);
  source.height = std::min(source.height, bitmap.Height() - source.y);
  if (source.width <= 0 || source.height <= 0) return;
  const int left = std::clamp(destination.x, 0, target.width());
  const int right = std::clamp(destination.x + destination.width, 0, target.width());
  const int top = std::clamp(destination.y, 0, target.height());
  const int bottom = std::clamp(destination.y + destination.height, 0, target.height());
  if (left >= right || top >= bottom) return;

  NearestSourceIndexes(source.x, source.width, destination.width, columns_);
  NearestSourceIndexes(source.y, source.height, destination.height, rows_);

  const TPixelFormat format = bitmap.PixelFormat();
  std::array<std::uint32_t, 256> palette{};
  if (format == pf8bit) {
    const auto& entries = bitmap.Palette();
    for (std::size_t i = 0; i < entries.size() && i < palette.size(); ++i) {
      palette[i] = 0xFF000000u | (std::uint32_t{entries[i].red} << 16) |
                   (std::uint32_t{entries[i].green} << 8) | entries[i].blue;
    }
  }
  const int bytesPerPixel = format == pf24bit ? 3 : format == pf32bit ? 4 : 1;
  // Byte offsets for the whole-byte formats; the 1-bit one keeps pixel indexes.
  if (format != pf1bit) {
    for (int& column : columns_) column *= bytesPerPixel;
  }
  const bool identityColumns = source.width == destination.width && format == pf24bit;

  std::uint8_t* bits = target.bits();
  const qsizetype stride = target.bytesPerLine();
  const int count = right - left;
  const int skip = left - destination.x;  // destination columns cut off at the left edge
  const int* columns = columns_.data() + skip;
  const std::vector<int>& rows = rows_;
  const auto paintRows = [&](int first, int last) {
    int previousSourceRow = -1;
    std::uint32_t* previousRow = nullptr;
    for (int y = first; y < last; ++y) {
      const int sourceRow = rows[static_cast<std::size_t>(y - destination.y)];
      auto* out = reinterpret_cast<std::uint32_t*>(bits + y * stride) + left;
      if (sourceRow == previousSourceRow) {
        // Magnified rows repeat: copy the one just made.
        std::memcpy(out, previousRow, sizeof(std::uint32_t) * static_cast<std::size_t>(count));
        continue;
      }
      const std::uint8_t* in = bitmap.ScanLine(sourceRow);
      const int nextSourceRow =
          y + 1 < last ? rows[static_cast<std::size_t>(y + 1 - destination.y)] : sourceRow;
      const std::uint8_t* next =
          nextSourceRow != sourceRow && !identityColumns ? bitmap.ScanLine(nextSourceRow) : nullptr;
      switch (format) {
        case pf24bit:
          if (identityColumns) {
            const std::uint8_t* pixel = in + 3 * static_cast<std::size_t>(source.x + skip);
            for (int i = 0; i < count; ++i, pixel += 3) {
              out[i] =
                  0xFF000000u | (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
            }
          } else if (next != nullptr) {
            for (int i = 0; i < count; ++i) {
              __builtin_prefetch(next + columns[i]);
              const std::uint8_t* pixel = in + columns[i];
              out[i] =
                  0xFF000000u | (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
            }
          } else {
            for (int i = 0; i < count; ++i) {
              const std::uint8_t* pixel = in + columns[i];
              out[i] =
                  0xFF000000u | (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
            }
          }
          break;
        case pf32bit:
          for (int i = 0; i < count; ++i) {
            const std::uint8_t* pixel = in + columns[i];
            out[i] =
                0xFF000000u | (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
          }
          break;
        case pf8bit:
          for (int i = 0; i < count; ++i) out[i] = palette[in[columns[i]]];
          break;
        case pf1bit:
          // Bit value 0 shows black and 1 white, whatever palette the file had.
          for (int i = 0; i < count; ++i) {
            const int x = columns[i];
            out[i] = ((in[x >> 3] >> (7 - (x & 7))) & 1) != 0 ? 0xFFFFFFFFu : 0xFF000000u;
          }
          break;
      }
      previousSourceRow = sourceRow;
      previousRow = out;
    }
  };
  InBands(top, bottom, count, paintRows);
}

// ---------------------------------------------------------------- system colours

void InstallSystemColoursFromPalette() {
  const QPalette palette = QApplication::palette();
  const auto set = [](int index, const QColor& colour) {
    SetSystemColour(
        index, RGBToColor(static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
                          static_cast<std::uint8_t>(colour.blue())));
  };
  // Qt has no scroll-bar colour of its own; its styles draw the bar's groove in the mid-light
  // shade, the grey the other desktops give their scroll bars.
  set(0, palette.color(QPalette::Active, QPalette::Midlight));
  set(2, palette.color(QPalette::Active, QPalette::Highlight));
  set(3, palette.color(QPalette::Inactive, QPalette::Highlight));
  set(4, palette.color(QPalette::Active, QPalette::Window));
  set(5, palette.color(QPalette::Active, QPalette::Base));
  set(6, palette.color(QPalette::Active, QPalette::Shadow));
  set(7, palette.color(QPalette::Active, QPalette::WindowText));
  set(8, palette.color(QPalette::Active, QPalette::Text));
  set(9, palette.color(QPalette::Active, QPalette::HighlightedText));
  set(10, palette.color(QPalette::Active, QPalette::Mid));
  set(11, palette.color(QPalette::Inactive, QPalette::Mid));
  set(12, palette.color(QPalette::Active, QPalette::Dark));
  set(13, palette.color(QPalette::Active, QPalette::Highlight));
  set(14, palette.color(QPalette::Active, QPalette::HighlightedText));
  set(15, palette.color(QPalette::Active, QPalette::Button));
  set(16, palette.color(QPalette::Active, QPalette::Dark));
  set(17, palette.color(QPalette::Disabled, QPalette::Text));
  set(18, palette.color(QPalette::Active, QPalette::ButtonText));
  set(19, palette.color(QPalette::Inactive, QPalette::HighlightedText));
  set(20, palette.color(QPalette::Active, QPalette::Light));
  set(21, palette.color(QPalette::Active, QPalette::Shadow));
  set(22, palette.color(QPalette::Active, QPalette::Midlight));
  set(23, palette.color(QPalette::Active, QPalette::ToolTipText));
  set(24, palette.color(QPalette::Active, QPalette::ToolTipBase));
  set(26, palette.color(QPalette::Active, QPalette::Link));
  set(29, palette.color(QPalette::Active, QPalette::Highlight));
  set(30, palette.color(QPalette::Active, QPalette::Window));
}

}  // namespace veilora
