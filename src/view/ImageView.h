#pragma once

// The image view widget: shows the view's bitmap at a zoom, with scroll bars, optional centring,
// a patterned background around the image and an off-screen buffer. All the arithmetic (zoom,
// extents, scroll range, conversions, the visible source rectangle) lives in TViewGeometry; this
// class feeds it the widget's sizes, paints, and turns scroll-bar actions into origin changes.

#include <QAbstractScrollArea>
#include <QImage>
#include <QRegion>
#include <QTimer>
#include <array>
#include <optional>
#include <vector>

#include "image/BaseView.h"
#include "image/Selection.h"
#include "view/MouseRules.h"
#include "view/Outline.h"
#include "view/ViewGeometry.h"

class QMouseEvent;
class QPainter;
class QPaintEvent;
class QResizeEvent;
class QWheelEvent;

namespace veilora {

// Whether SelectRectangle and AddSelectionPoint take client or bitmap coordinates.
enum TSelectionBase : std::uint8_t { selbClientArea, selbBitmap };

// The selection outline's switches, as a set.
enum TSelectionOptionItems : std::uint8_t { soAnimated = 1, soSizeable = 2, soMoveable = 4 };
using TSelectionOptions = std::uint8_t;

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
  // Paints `region` of the client area with `painter` (clipped to it) as a paint event does: the
  // buffered picture, the selection outline and a polygon's rubber band.
  void PaintClient(QPainter& painter, const QRegion& region);

  const TViewGeometry& Geometry() const { return geometry_; }
  // How many times the picture has been drawn into the buffer; the outline's animation never
  // adds to it.
  int RenderCount() const { return renderCount_; }

  // Besides OnImageChange and OnViewChange, the changes are Qt signals for the shell's connections.
  void ImageChange() override;
  void ViewChange(int change) override;

  // Screen pixels one wheel line scrolls.
  static constexpr int kWheelLinePixels = 20;

  // ---- mouse interaction and the selection
  TMouseInteract MouseInteract() const { return mouseInteract_; }
  // Stores the set CombineMouseInteract gives; a polygon still being drawn is finished first.
  virtual void SetMouseInteract(TMouseInteract value);
  TSelectionBase SelectionBase() const { return selectionBase_; }
  void SetSelectionBase(TSelectionBase base) { selectionBase_ = base; }
  TSelectionOptions SelectionOptions() const { return selectionOptions_; }
  void SetSelectionOptions(TSelectionOptions options) { selectionOptions_ = options; }
  // The view's own cursor, by id in the cursor table; the grips and the inside of a selection
  // show theirs while the mouse is over them.
  int Cursor() const { return cursorId_; }
  void SetCursor(int id);
  // The cursor showing now: the view's own, or a grip's or the inside's while the mouse is there.
  int ShownCursor() const { return shownCursor_; }

  // Removes the selection (outline, points and any gesture in progress).
  void Unselect();
  // Shows the outline and draws it at once, or hides it.
  void ShowSelection(bool visible);
  // Selects the rectangle with corners (x1, y1) and (x2, y2), in client or bitmap coordinates as
  // SelectionBase says; nothing when the two share a column or a row. Additive keeps the earlier
  // parts after a break marker.
  virtual void SelectRectangle(int x1, int y1, int x2, int y2, bool additive);
  // Adds one corner to the selection's points, converted and clamped like SelectRectangle's.
  virtual void AddSelectionPoint(int x, int y);
  // Zooms and scrolls so that the selection's box fills the view, then removes the selection.
  void ZoomToSelection();
  // Selects the region of similar colour around bitmap pixel (x, y).
  void SelectMagicWand(int x, int y, bool additive);

  bool HasSelection() const { return selected_; }
  const TSelectionOutline& Outline() const { return outline_; }
  const TSelectionOutline* Selection() const override;
  std::optional<TRectInclusive> SelectionBounds() const override;
  bool OutlineVisible() const { return outlineVisible_; }
  int OutlinePhase() const { return phase_; }
  // One step of the outline's animation, as the 150 ms timer runs it: the dashes advance (unless
  // a gesture is in progress) and only the outline's own pixels are drawn again.
  void OutlineTick();
  // The client area the outline covers now, grips included.
  QRegion OutlineRegion() const;

  TNotifyEvent OnSelectionChanging;  // during a selection gesture
  TNotifyEvent OnSelectionChange;    // when a selection gesture ends
  TNotifyEvent OnMouseInSel;         // the mouse is over a grip, an edge or the inside

  // The animation's period, and how often a gesture scrolls while the mouse is held outside.
  static constexpr int kOutlineTickMs = 150;
  static constexpr int kAutoScrollMs = 50;

 signals:
  void imageChanged();
  void selectionChanging();
  void selectionChanged();
  void mouseInSelection();
  // 1 when the zoom changed, 0 when the scroll origin changed.
  void viewChanged(int change);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  // The wheel scrolls by the desktop's wheel lines of kWheelLinePixels each, not by the scroll
  // bars' one-pixel line.
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
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

  // Selection gestures.
  bool GripsShown() const;
  bool IsClosedOutline() const { return !polygonInProgress_; }
  int HitGrip(TPoint client) const;
  bool HitInside(TPoint client);
  void FinishPolygon();
  void ResizeWithGrip(TPoint client);
  void MoveSelection(TPoint delta);
  void DragNewRectangle(TPoint client, bool shift);
  void DragEllipse(TPoint client, bool shift, bool ctrl);
  void ContinueGesture(TPoint client, Qt::KeyboardModifiers modifiers);
  // Scrolls while the mouse lies outside the drawn image during a gesture; returns whether the
  // view moved.
  bool AutoScroll(TPoint mouse);
  void AutoScrollTick();
  void HoverCursor(TPoint client);
  void ShowCursor(int id);
  // Asks for the outline to be drawn again where it was and where it is now.
  void RefreshOutline();
  void PaintOutline(QPainter& painter);
  // The outline's pixels through QPainter, for targets that cannot be written directly.
  void DrawPixels(QPainter& painter, const TOutlinePixels& pixels);
  void PaintRubberBand(QPainter& painter);
  void RaiseSelectionChanging();
  void RaiseSelectionChange();
  QRegion RubberBandRegion() const;

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
  // A repaint the animation asked for: the image in the buffer is still right, only the outline's
  // pixels are drawn again.
  bool outlineOnly_ = false;
  int renderCount_ = 0;

  TMouseInteract mouseInteract_ = 0;
  TSelectionBase selectionBase_ = selbClientArea;
  TSelectionOptions selectionOptions_ = soAnimated | soSizeable | soMoveable;
  int cursorId_ = 0;
  int shownCursor_ = 0;

  TSelectionOutline outline_;
  bool selected_ = false;
  bool outlineVisible_ = false;
  int phase_ = 0;
  // The outline's pixels at each phase, kept while the points and the view stay as they were, so
  // that a tick of the animation computes nothing again.
  struct TOutlineKey {
    std::vector<TPoint> points;
    int zoom = 0;
    TPoint origin;
    TPoint offset;
    TSize client;
    bool closed = false;
    bool operator==(const TOutlineKey&) const = default;
  };
  struct TOutlineCache {
    TOutlinePixels pixels;
    bool valid = false;
  };
  TOutlineKey outlineKey_;
  std::array<TOutlineCache, kDashPeriod> outlineCache_;
  const TOutlinePixels& OutlinePixelsNow();
  // The last refresh found the outline where it was drawn, and its pixels and grips cover every
  // pixel of its region: a tick then has nothing under the outline to draw again.
  bool outlineCoversRegion_ = false;
  QRegion drawnOutline_;  // where the outline was last drawn
  QTimer outlineTimer_;
  TSize lastBitmapSize_;

  // The gesture in progress.
  bool polygonInProgress_ = false;
  bool newRectangle_ = false;
  bool ellipseInProgress_ = false;
  bool buttonDown_ = false;
  Qt::MouseButton button_ = Qt::NoButton;
  int grip_ = kNoGrip;
  int moveIndex_ = -1;
  TPoint downPoint_;
  TPoint originAtDown_;
  TPoint lastPoint_;
  int countAtDown_ = 0;
  TRectInclusive savedBox_;
  // The polygon's rubber band: from its last corner to the free end, drawn inverted.
  bool rubberBandShown_ = false;
  TPoint rubberEnd_;
  QTimer autoScrollTimer_;
  TPoint lastRaw_;  // the last mouse position, unclamped
  Qt::KeyboardModifiers gestureModifiers_;
};

// Takes the system colours the views use (colour 0, the scroll-bar grey, the button face and the
// others) from the application's palette.
void InstallSystemColoursFromPalette();

}  // namespace veilora
