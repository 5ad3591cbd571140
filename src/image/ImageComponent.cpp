#include "image/ImageComponent.h"

namespace veilora {

TImageComponent::~TImageComponent() {
  Detach();
}

void TImageComponent::Detach() {
  if (attachedView_ == nullptr) return;
  attachedView_->RemoveBitmapChangeEvent(&TImageComponent::BitmapChanged, this);
  attachedView_->RemoveFreeNotification(*this);
  attachedView_ = nullptr;
}

void TImageComponent::SetAttachedView(TBaseView* view) {
  Detach();
  if (view == nullptr) {
    bitmap_ = nullptr;
    return;
  }
  attachedView_ = view;
  bitmap_ = view->Bitmap();
  view->FreeNotification(*this);
  view->RegisterBitmapChangeEvent(&TImageComponent::BitmapChanged, this);
}

void TImageComponent::AttachBitmap(TBitmap* bitmap) {
  if (bitmap == nullptr && attachedView_ != nullptr) return;
  Detach();
  bitmap_ = bitmap;
}

void TImageComponent::BitmapChanged(void* receiver, TBaseView& view) {
  auto* self = static_cast<TImageComponent*>(receiver);
  if (self->attachedView_ == &view) self->bitmap_ = view.Bitmap();
}

void TImageComponent::Notification(TBaseView& view, TOperation operation) {
  if (operation != opRemove || &view != attachedView_) return;
  Detach();
  // The view frees its bitmap with it; keeping the reference would leave every later operation
  // working on freed memory.
  bitmap_ = nullptr;
}

TColor TImageComponent::Background() const {
  return attachedView_ != nullptr ? attachedView_->Background() : background_;
}

void TImageComponent::SetBackground(TColor colour) {
  if (attachedView_ != nullptr) {
    attachedView_->SetBackground(colour);
  } else {
    background_ = colour;
  }
}

void TImageComponent::ReportImageChange() {
  if (attachedView_ != nullptr) {
    attachedView_->Update();
    attachedView_->ImageChange();
  } else if (bitmap_ != nullptr) {
    bitmap_->Modified();
  }
}

}  // namespace veilora
