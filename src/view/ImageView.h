#pragma once

// The image view widget: shows the view's bitmap at a zoom, with scroll bars, optional centring,
// a patterned background around the image and an off-screen buffer. All the arithmetic (zoom,
// extents, scroll range, conversions, the visible source rectangle) lives in TViewGeometry; this
// class feeds it the widget's sizes, paints, and turns scroll-bar actions into origin changes.

#include <QAbstractScrollArea>
#include <QImage>
#include <vector>

#include "image/BaseView.h"
#include "view/ViewGeometry.h"

class QPaintEvent;
class QResizeEvent;
class QWheelEvent;

namespace veilora {

class TImageView : public QAbstractScrollArea, public TBitmapView {
  Q_OBJECT

 public:
  explicit TImageView(QWidget* parent = nullptr);
  ~TImageView() override;

  // Magnification in percent. SetZoom ignores values not above 0 and the current value;
  // otherwise it lays the view out again, paints at once and raises ViewChange(1). The origin
  // keeps its value, lowered to the new maximum where needed.
  int Zoom() const { return geometry_.Zoom(); }
  void SetZoom(int value);
  // The zoom that fits the bitmap into the control's outer size; nothing for an empty bitmap.
  void ZoomToFit();
  // Zooms to newZoom and scrolls so that the bitmap pixel under client point (x, y) comes to the
  // centre of the client area, as far as the scroll range allows.
  void ZoomAt(int x, int y, int newZoom);

  // The scroll origin in screen pixels over the zoomed image, 0..MaxViewOrigin. A change paints at
  // once, raises ViewChange(0) and moves the scroll bars.
  int ViewOriginX() const { return geometry_.ViewOriginX(); }
  int ViewOriginY() const { return geometry_.ViewOriginY(); }
  void SetViewOrigin(int x, int y);
  void SetViewOriginX(int x) { SetViewOrigin(x, ViewOriginY()); }
  void SetViewOriginY(int y) { SetViewOrigin(ViewOriginX(), y); }
  TPoint MaxViewOrigin() const { return geometry_.MaxViewOrigin(); }

  // Client point to bitmap pixel and back; no clamping.
  int ScreenToBitmapX(int x) const { return geometry_.ScreenToBitmapX(x); }
  int ScreenToBitmapY(int y) const { return geometry_.ScreenToBitmapY(y); }
  int BitmapToScreenX(int bx) const { return geometry_.BitmapToScreenX(bx); }
  int BitmapToScreenY(int by) const { return geometry_.BitmapToScreenY(by); }

  // While the paint lock is above 0 paint requests draw nothing. UnlockPaint lays the view out
  // again when the lock reaches 0; UnlockPaintQuiet only lowers it.
  void LockPaint() { ++paintLock_; }
  void UnlockPaint();
  void UnlockPaintQuiet();
  int PaintLock() const { return paintLock_; }

  TScrollStyle ScrollBars() const { return geometry_.ScrollBars(); }
  void SetScrollBars(TScrollStyle style);
  bool Center() const { return geometry_.Center(); }
  void SetCenter(bool center);
  // With the off-screen buffer the image is drawn again only when the layout, origin, zoom or
  // client size changed; other repaints copy the buffer.
  bool DoubleBuffer() const { return doubleBuffer_; }
  void SetDoubleBuffer(bool value);
  // Every layout pass fits the zoom to the control.
  bool AutoFit() const { return autoFit_; }
  void SetAutoFit(bool value);
  TBackgroundStyle BackgroundStyle() const { return backgroundStyle_; }
  void SetBackgroundStyle(TBackgroundStyle style);

  // The layout pass after any change of the image, the size or a display property: fits the zoom
  // (AutoFit), clamps the origin, sets up the scroll bars, and schedules a full redraw.
  void Update() override;

  // Paints the view (background and the visible part of the bitmap) into a client-size image;
  // a target of another size is replaced by a client-size 32-bit one.
  void PaintTo(QImage& target);

  const TViewGeometry& Geometry() const { return geometry_; }

  // Besides OnImageChange and OnViewChange, the changes are Qt signals for the shell's connections.
  void ImageChange() override;
  void ViewChange(int change) override;

  // Screen pixels one wheel line scrolls.
  static constexpr int kWheelLinePixels = 20;

 signals:
  void imageChanged();
  // 1 when the zoom changed, 0 when the scroll origin changed.
  void viewChanged(int change);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  // The wheel scrolls by the desktop's wheel lines of kWheelLinePixels each, not by the scroll
  // bars' one-pixel line.
  void wheelEvent(QWheelEvent* event) override;
  // The view paints from its own origin; Qt's scrolling of the viewport's pixels is not used.
  void scrollContentsBy(int dx, int dy) override;
  void BorderStyleChanged() override;

 private:
  void ScrollBarAction(bool horizontal, int action);
  void ScrollBarValueChanged(bool horizontal, int value);
  void ApplyScrollBars();
  // The thickness a shown scroll bar takes from the client area.
  int ScrollBarExtent() const;
  void PaintBackground(QImage& target, const TExtentRect& image);
  void PaintBitmap(QImage& target, const TExtentRect& source, const TExtentRect& destination);

  TViewGeometry geometry_;
  int paintLock_ = 0;
  bool dirty_ = true;
  bool doubleBuffer_ = false;
  bool autoFit_ = false;
  bool inUpdate_ = false;
  bool destroying_ = false;
  TBackgroundStyle backgroundStyle_ = bgsSolid;
  // The off-screen buffer, or the scratch image of an unbuffered paint.
  QImage buffer_;
  // Per paint: the source column and row behind each destination column and row.
  std::vector<int> columns_;
  std::vector<int> rows_;
};

// Takes the system colours the views use (colour 0, the scroll-bar grey, the button face and the
// others) from the application's palette.
void InstallSystemColoursFromPalette();

}  // namespace veilora
