#include "image/BaseView.h"

#include <algorithm>

#include "image/Display.h"

namespace veilora {

TBaseView::TBaseView() : dpiX_(ScreenDpi()), dpiY_(ScreenDpi()) {}

TBaseView::~TBaseView() {
  NotifyRemoval();
}

void TBaseView::NotifyRemoval() {
  // A client removes itself from the list while it is told, so walk a copy.
  const std::vector<TViewClient*> clients = std::move(freeNotifications_);
  freeNotifications_.clear();
  for (TViewClient* client : clients) client->Notification(*this, opRemove);
}

void TBaseView::SetBackground(TColor colour) {
  background_ = colour;
  Update();
  ImageChange();
}

void TBaseView::SetBorderStyle(TBorderStyle style) {
  if (style == borderStyle_) return;
  borderStyle_ = style;
  BorderStyleChanged();
}

void TBaseView::FillBackground() {
  if (TBitmap* bitmap = Bitmap()) bitmap->Fill(background_);
  Update();
}

void TBaseView::ResetToBlank() {
  if (TBitmap* bitmap = Bitmap()) bitmap->SetSize(1, 1);
  FillBackground();
}

void TBaseView::Assign(const TBaseView* source) {
  if (source == nullptr) {
    FillBackground();
    return;
  }
  TBitmap* bitmap = Bitmap();
  const TBitmap* sourceBitmap = source->Bitmap();
  if (bitmap == nullptr || sourceBitmap == nullptr || source == this) return;
  CopyBitmap(*sourceBitmap, *bitmap);
  background_ = source->Background();
  SetDpi(source->DpiX(), source->DpiY());
  Update();
  ImageChange();
}

void TBaseView::Assign(const TBitmap* source) {
  if (source == nullptr) {
    FillBackground();
    return;
  }
  TBitmap* bitmap = Bitmap();
  if (bitmap == nullptr || bitmap == source) return;
  if (source->PixelFormat() == pf24bit || source->PixelFormat() == pf1bit) {
    CopyBitmap(*source, *bitmap);
  } else {
    ConvertTo24Bit(*source, *bitmap);
  }
  Update();
  ImageChange();
}

void TBaseView::RegisterBitmapChangeEvent(TBitmapChangeCallback callback, void* receiver) {
  bitmapChangeEvents_.push_back({callback, receiver});
}

void TBaseView::RemoveBitmapChangeEvent(TBitmapChangeCallback callback, void* receiver) {
  // Matching the receiver too keeps two components of one class on one view apart.
  const auto found = std::find_if(
      bitmapChangeEvents_.begin(), bitmapChangeEvents_.end(),
      [&](const BitmapChangeEvent& e) { return e.callback == callback && e.receiver == receiver; });
  if (found != bitmapChangeEvents_.end()) bitmapChangeEvents_.erase(found);
}

void TBaseView::CallBitmapChangeEvents() {
  const std::vector<BitmapChangeEvent> events = bitmapChangeEvents_;
  for (const BitmapChangeEvent& e : events) e.callback(e.receiver, *this);
}

void TBaseView::FreeNotification(TViewClient& client) {
  if (std::find(freeNotifications_.begin(), freeNotifications_.end(), &client) == freeNotifications_.end()) {
    freeNotifications_.push_back(&client);
  }
}

void TBaseView::RemoveFreeNotification(TViewClient& client) {
  std::erase(freeNotifications_, &client);
}

}  // namespace veilora
