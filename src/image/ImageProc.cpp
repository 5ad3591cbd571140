#include "image/ImageProc.h"

#include <algorithm>
#include <limits>

#include "hidden/HiddenCarrier.h"
#include "image/ColourSet.h"
#include "image/Errors.h"
#include "image/TrueColour.h"

namespace veilora {

// ---------------------------------------------------------------- undo

void TImageProc::SaveUndo() {
  TBitmap* image = Bitmap();
  if (image == nullptr) return;
  ClearUndo();
  if (image->Width() >= 1 && image->Height() >= 1) CopyBitmap(*image, undo_);
}

void TImageProc::Undo() {
  TBitmap* image = Bitmap();
  if (image == nullptr || !CanUndo()) return;
  CopyBitmap(undo_, *image);
  ReportImageChange();
}

bool TImageProc::CanUndo() const {
  return undo_.Width() > 1 && undo_.Height() > 1;
}

void TImageProc::ClearUndo() {
  undo_.Allocate(1, 1, undo_.PixelFormat());
}

// ---------------------------------------------------------------- hidden text

bool TImageProc::HasTrueColourImage() const {
  return Bitmap() != nullptr && Bitmap()->PixelFormat() == pf24bit;
}

std::int32_t TImageProc::WriteHiddenData(const void* data, std::int32_t length) {
  if (!HasTrueColourImage()) return 0;
  // A negative length would make the walk run on through memory that is not the caller's.
  if (length < 0 || (length > 0 && data == nullptr)) return 0;
  SaveUndoIfAuto();
  WriteHiddenPayload(*Bitmap(), static_cast<const std::uint8_t*>(data), length);
  ReportImageChange();
  return length;
}

std::int32_t TImageProc::WriteHiddenText(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return 0;
  return WriteHiddenData(text.data(), static_cast<std::int32_t>(text.size()));
}

std::int32_t TImageProc::HiddenTextSpace() const {
  return HasTrueColourImage() ? HiddenCapacity(*Bitmap()) : 0;
}

std::int32_t TImageProc::HiddenTextFit() const {
  return HasTrueColourImage() ? HiddenPayloadFit(*Bitmap()) : 0;
}

std::int32_t TImageProc::ReadHiddenData(void* buffer, std::int32_t count) const {
  if (!HasTrueColourImage()) return 0;
  return ReadHiddenPayload(*Bitmap(), static_cast<std::uint8_t*>(buffer), count);
}

std::int32_t TImageProc::ReadHiddenText(std::string& text) const {
  if (!HasTrueColourImage()) {
    text.clear();
    return 0;
  }
  if (CarrierBytes(*Bitmap()) < 8 * kHiddenHeaderBytes) {
    throw ENoHiddenData("The image is too small to hold a hidden-text header");
  }
  const std::int32_t length = ReadHiddenData(nullptr, 0);
  if (length < 0 || length > HiddenTextSpace()) {
    throw ENoHiddenData("The image holds no hidden text (stored length " + std::to_string(length) + ")");
  }
  // Sized with zero bytes: the positions of a cut text that no carrier byte holds stay zero.
  std::string result(static_cast<std::size_t>(length), '\0');
  ReadHiddenData(result.data(), length);
  text = std::move(result);
  return length;
}

// ---------------------------------------------------------------- whole-image commands

void TImageProc::ClearImage() {
  TBitmap* image = Bitmap();
  if (image == nullptr) return;
  SaveUndoIfAuto();
  image->Fill(Background());
  ReportImageChange();
}

void TImageProc::SetImageSize(int width, int height) {
  TBitmap* image = Bitmap();
  if (image == nullptr || width <= 0 || height <= 0) return;
  // Refuse an impossible size before the undo copy, so a failure leaves undo as it was.
  if (PixelBytes(width, height, image->PixelFormat()) < 0) {
    throw EImageTooLarge("An image of " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels is larger than this program allows");
  }
  SaveUndoIfAuto();
  image->SetSize(width, height, Background());
  ReportImageChange();
}

void TImageProc::ConvertToTrueColour() {
  TBitmap* image = Bitmap();
  if (image == nullptr || image->PixelFormat() != pf1bit) return;
  const int width = image->Width();
  const int height = image->Height();
  if (PixelBytes(width, height, pf24bit) < 0) {
    throw EImageTooLarge("The image is too large to convert to true colour");
  }
  SaveUndoIfAuto();
  TBitmap mono;
  mono.Swap(*image);
  try {
    image->Allocate(width, height, pf24bit);
  } catch (...) {
    image->Swap(mono);
    throw;
  }
  for (int row = 0; row < height; ++row) {
    ExpandMonoRow(mono.ScanLine(row), width, image->ScanLine(row));
    if (OnProgress) {
      // Rises to just below 100: for 3 rows 28, 57, 85.
      ReportProgress(static_cast<int>(100.0 / (height + 0.5) * (row + 1)));
    }
  }
  ReportImageChange();
}

std::int32_t TImageProc::CalcColourCount() const {
  const TBitmap* image = Bitmap();
  if (image == nullptr) return 0;
  if (image->PixelFormat() == pf1bit) return 2;
  if (image->PixelFormat() != pf24bit) return 0;

  TRectInclusive box{0, 0, image->Width() - 1, image->Height() - 1};
  if (AttachedView() != nullptr) {
    if (const auto selection = AttachedView()->SelectionBounds()) box = *selection;
  }
  box.x1 = std::max(box.x1, 0);
  box.y1 = std::max(box.y1, 0);
  box.x2 = std::min(box.x2, image->Width() - 1);
  box.y2 = std::min(box.y2, image->Height() - 1);
  if (box.x1 > box.x2 || box.y1 > box.y2) return 0;

  THash1 colours;
  for (int y = box.y1; y <= box.y2; ++y) {
    colours.InsertPixels(image->ScanLine(y) + 3 * static_cast<std::size_t>(box.x1), box.x2 - box.x1 + 1);
  }
  return colours.Count();
}

}  // namespace veilora
