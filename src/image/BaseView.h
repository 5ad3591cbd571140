#pragma once

// The view side of the image model. A view owns the image bitmap; the processing and I/O
// components attach to it and keep a non-owning reference to that bitmap. The windowing shell
// derives its widget from TBitmapView and gives Update its display work.

#include <functional>
#include <optional>
#include <vector>

#include "image/Bitmap.h"
#include "image/Colour.h"

namespace veilora {

// Root of the objects that appear as the sender of an event.
class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject& sender)>;
// Change is 1 when the zoom changed, 0 when the scroll origin changed.
using TViewChangeEvent = std::function<void(TObject& sender, int change)>;
using TProgressEvent = std::function<void(TObject& sender, int per)>;

enum TBorderStyle : std::uint8_t { bsNone, bsSingle };

// An inclusive rectangle of bitmap coordinates.
struct TRectInclusive {
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
};

class TBaseView;
class TSelectionOutline;

enum TOperation : std::uint8_t { opInsert, opRemove };

// What a view tells the components attached to it.
class TViewClient {
 public:
  virtual ~TViewClient() = default;
  // With opRemove: the view is being destroyed, and the client must forget it and its bitmap.
  virtual void Notification(TBaseView& view, TOperation operation) = 0;
};

class TBaseView : public TObject {
 public:
  TBaseView();
  ~TBaseView() override;
  TBaseView(const TBaseView&) = delete;
  TBaseView& operator=(const TBaseView&) = delete;

  TColor Background() const { return background_; }
  // Stores the colour, then Update, then ImageChange: a new background counts as a change of the
  // image even though no pixel moved.
  virtual void SetBackground(TColor colour);

  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle style);

  int DpiX() const { return dpiX_; }
  int DpiY() const { return dpiY_; }
  virtual void SetDpiX(int dpi) { dpiX_ = dpi; }
  virtual void SetDpiY(int dpi) { dpiY_ = dpi; }
  void SetDpi(int dpiX, int dpiY) {
    SetDpiX(dpiX);
    SetDpiY(dpiY);
  }

  // The image bitmap; a view without one returns null.
  virtual TBitmap* Bitmap() { return nullptr; }
  const TBitmap* Bitmap() const { return const_cast<TBaseView*>(this)->Bitmap(); }

  // Recomputes the display after a change of the bitmap or of display properties.
  virtual void Update() = 0;
  virtual void ImageChange() {}
  virtual void ViewChange(int /*change*/) {}

  // The bounding box of the current selection, when the view has one.
  virtual std::optional<TRectInclusive> SelectionBounds() const { return std::nullopt; }
  // The selection outline, when the view keeps one and it holds points; the clipboard and crop
  // commands work through it.
  virtual const TSelectionOutline* Selection() const { return nullptr; }

  // Fills the whole bitmap with Background, then Update.
  void FillBackground();
  // Makes the bitmap 1x1 and fills it with Background.
  void ResetToBlank();
  // Takes another view's image: its bitmap, Background, DpiX and DpiY; then Update and
  // ImageChange. No source fills the bitmap with Background instead.
  void Assign(const TBaseView* source);
  // Takes a bitmap: 24-bit and 1-bit ones are copied as they are, others converted to 24 bits;
  // then Update and ImageChange. No source fills the bitmap with Background instead.
  void Assign(const TBitmap* source);

  // The notification list: (callback, receiver) pairs called when the view replaces its bitmap
  // object, so that components holding the old bitmap re-read it.
  using TBitmapChangeCallback = void (*)(void* receiver, TBaseView& view);
  void RegisterBitmapChangeEvent(TBitmapChangeCallback callback, void* receiver);
  // Removes the pair registered with this callback for this receiver.
  void RemoveBitmapChangeEvent(TBitmapChangeCallback callback, void* receiver);
  void CallBitmapChangeEvents();
  std::size_t BitmapChangeEventCount() const { return bitmapChangeEvents_.size(); }

  // Asks to be told (Notification with opRemove) when this view is destroyed.
  void FreeNotification(TViewClient& client);
  void RemoveFreeNotification(TViewClient& client);

 protected:
  // Tells every client asking for it that the view goes away; runs once. A view that owns its
  // bitmap calls it before the bitmap is freed.
  void NotifyRemoval();
  // Recreating the window is the shell's business; the core only records the style.
  virtual void BorderStyleChanged() {}

 private:
  struct BitmapChangeEvent {
    TBitmapChangeCallback callback;
    void* receiver;
  };

  TColor background_ = clBtnFace;
  TBorderStyle borderStyle_ = bsSingle;
  int dpiX_;
  int dpiY_;
  std::vector<BitmapChangeEvent> bitmapChangeEvents_;
  std::vector<TViewClient*> freeNotifications_;
};

// A view that owns its image bitmap (24-bit and empty at first) and raises OnImageChange and
// OnViewChange. The display itself (Update) is left to the class that draws.
class TBitmapView : public TBaseView {
 public:
  ~TBitmapView() override { NotifyRemoval(); }

  TBitmap* Bitmap() override { return &bitmap_; }
  using TBaseView::Bitmap;

  void ImageChange() override {
    if (OnImageChange) OnImageChange(*this);
  }
  void ViewChange(int change) override {
    if (OnViewChange) OnViewChange(*this, change);
  }

  TNotifyEvent OnImageChange;
  TViewChangeEvent OnViewChange;

 private:
  TBitmap bitmap_;
};

}  // namespace veilora
