#pragma once

// The common ground of the non-visual components that work on a view's bitmap without owning it
// (TImageProc, TImageIO): attachment to a view or to a bare bitmap, the background colour, the
// progress event, and the report of a change.

#include "image/BaseView.h"

namespace veilora {

class TImageComponent : public TObject, public TViewClient {
 public:
  TImageComponent() = default;
  ~TImageComponent() override;
  TImageComponent(const TImageComponent&) = delete;
  TImageComponent& operator=(const TImageComponent&) = delete;

  TBaseView* AttachedView() const { return attachedView_; }
  // Attaches to a view (or detaches with null): the component follows the view's bitmap and is
  // told when the view is destroyed.
  void SetAttachedView(TBaseView* view);

  // Works on a bare bitmap instead of a view's. A null bitmap is ignored while a view is
  // attached; otherwise the view is detached.
  void AttachBitmap(TBitmap* bitmap);

  // The bitmap worked on, or null.
  TBitmap* Bitmap() const { return bitmap_; }

  // The attached view's Background when there is a view, else the component's own (black).
  TColor Background() const;
  void SetBackground(TColor colour);

  // Called after the component changed pixels or size: the attached view updates its display and
  // raises its image-change event; a bare bitmap raises its own change notification.
  void ReportImageChange();

  TProgressEvent OnProgress;

  void Notification(TBaseView& view, TOperation operation) override;

 protected:
  void ReportProgress(int percentage) {
    if (OnProgress) OnProgress(*this, percentage);
  }

 private:
  static void BitmapChanged(void* receiver, TBaseView& view);
  void Detach();

  TBaseView* attachedView_ = nullptr;
  TBitmap* bitmap_ = nullptr;
  TColor background_ = clBlack;
};

}  // namespace veilora
