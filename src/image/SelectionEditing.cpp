#include "image/SelectionEditing.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/Clipboard.h"
#include "image/Errors.h"
#include "image/ImageProc.h"
#include "image/PackedDib.h"
#include "image/TrueColour.h"

namespace veilora {

namespace {

TMemoryClipboard& MemoryClipboard() {
  static TMemoryClipboard clipboard;
  return clipboard;
}

TClipboard* installedClipboard = nullptr;

bool GetBit(const std::uint8_t* row, int x) {
  return (row[x / 8] >> (7 - x % 8)) & 1;
}

void SetBit(std::uint8_t* row, int x, bool value) {
  const auto mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
  if (value) {
    row[x / 8] |= mask;
  } else {
    row[x / 8] &= static_cast<std::uint8_t>(~mask);
  }
}

// Copies `count` pixels from (sx, sy) of `source` to (dx, dy) of `target`, both of one format.
void CopySpan(const TBitmap& source, int sx, int sy, TBitmap& target, int dx, int dy, int count) {
  const std::uint8_t* in = source.ScanLine(sy);
  std::uint8_t* out = target.ScanLine(dy);
  if (source.PixelFormat() == pf24bit) {
    std::memcpy(out + 3 * static_cast<std::size_t>(dx), in + 3 * static_cast<std::size_t>(sx),
                3 * static_cast<std::size_t>(count));
  } else {
    for (int i = 0; i < count; ++i) SetBit(out, dx + i, GetBit(in, sx + i));
  }
}

std::vector<TPoint> Shifted(const std::vector<TPoint>& part, int dx, int dy) {
  std::vector<TPoint> shifted;
  shifted.reserve(part.size());
  for (const TPoint& p : part) shifted.push_back(TPoint{p.x + dx, p.y + dy});
  return shifted;
}

// The clipboard's bitmap, decoded; null when it holds none this program reads.
std::unique_ptr<TBitmap> ClipboardBitmap() {
  const TByteBlock block = Clipboard().PackedDib();
  if (block.empty()) return nullptr;
  auto bitmap = std::make_unique<TBitmap>();
  if (!DecodePackedDib(block.data(), block.size(), *bitmap)) return nullptr;
  return bitmap;
}

// Brings a pasted bitmap to the format of the image it goes into. Colour becomes black or white
// by its brightness when the image has two colours.
void MatchFormat(TBitmap& pasted, TPixelFormat format) {
  if (pasted.PixelFormat() == format) return;
  TBitmap converted;
  if (format == pf24bit) {
    ConvertTo24Bit(pasted, converted);
  } else {
    converted.Allocate(pasted.Width(), pasted.Height(), pf1bit);
    for (int y = 0; y < pasted.Height(); ++y) {
      const std::uint8_t* in = pasted.ScanLine(y);
      std::uint8_t* out = converted.ScanLine(y);
      for (int x = 0; x < pasted.Width(); ++x) {
        const int sum = in[3 * x] + in[3 * x + 1] + in[3 * x + 2];
        SetBit(out, x, sum >= 3 * 128);
      }
    }
  }
  pasted.Swap(converted);
}

// Nearest-pixel stretch of `source` onto columns x1..x2-1, rows y1..y2-1 of `target` (same format),
// clipped to the target: rows and columns are dropped or repeated, never blended.
void StretchOnto(const TBitmap& source, TBitmap& target, int x1, int y1, int x2, int y2) {
  const int width = x2 - x1;
  const int height = y2 - y1;
  if (width <= 0 || height <= 0 || source.Empty()) return;
  std::vector<int> columns;
  for (int tx = std::max(x1, 0); tx < std::min(x2, target.Width()); ++tx) {
    columns.push_back(static_cast<int>(static_cast<std::int64_t>(tx - x1) * source.Width() / width));
  }
  const int firstColumn = std::max(x1, 0);
  for (int ty = std::max(y1, 0); ty < std::min(y2, target.Height()); ++ty) {
    const int sy = static_cast<int>(static_cast<std::int64_t>(ty - y1) * source.Height() / height);
    const std::uint8_t* in = source.ScanLine(sy);
    std::uint8_t* out = target.ScanLine(ty);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const int tx = firstColumn + static_cast<int>(i);
      if (target.PixelFormat() == pf24bit) {
        std::memcpy(out + 3 * static_cast<std::size_t>(tx), in + 3 * static_cast<std::size_t>(columns[i]), 3);
      } else {
        SetBit(out, tx, GetBit(in, columns[i]));
      }
    }
  }
}

}  // namespace

TClipboard& Clipboard() {
  return installedClipboard != nullptr ? *installedClipboard : MemoryClipboard();
}

void SetClipboard(TClipboard* clipboard) {
  installedClipboard = clipboard;
}

const TSelectionOutline* ActiveSelection(const TBaseView* view) {
  if (view == nullptr) return nullptr;
  const TSelectionOutline* selection = view->Selection();
  return selection != nullptr && !selection->Empty() ? selection : nullptr;
}

bool IsPlainRectangle(const TSelectionOutline* selection) {
  return selection == nullptr || selection->IsRectangle();
}

void ForEachRegionSpan(const TSelectionOutline& selection, int width, int height,
                       const std::function<void(int y, int xBegin, int xEnd)>& fill) {
  for (const std::vector<TPoint>& part : selection.Parts()) FillPolygonSpans(part, width, height, fill);
}

void CopyRegion(const TBitmap& source, const TSelectionOutline& selection, TBitmap& target) {
  const TRectInclusive& box = selection.Bounds();
  TBitmap region;
  region.Allocate(std::max(box.x2 - box.x1, 0), std::max(box.y2 - box.y1, 0), source.PixelFormat());
  region.Fill(clWhite);
  for (const std::vector<TPoint>& part : selection.Parts()) {
    FillPolygonSpans(Shifted(part, -box.x1, -box.y1), region.Width(), region.Height(),
                     [&](int y, int xBegin, int xEnd) {
                       // The part may reach past the image; only pixels the source has are copied.
                       const int sy = y + box.y1;
                       const int begin = std::max(xBegin, -box.x1);
                       const int end = std::min(xEnd, source.Width() - box.x1);
                       if (sy < 0 || sy >= source.Height() || begin >= end) return;
                       CopySpan(source, begin + box.x1, sy, region, begin, y, end - begin);
                     });
  }
  target.Swap(region);
}

void CopySelectionTo(const TBaseView& source, TBitmap& target) {
  const TBitmap* image = source.Bitmap();
  if (image == nullptr) return;
  if (const TSelectionOutline* selection = ActiveSelection(&source)) {
    CopyRegion(*image, *selection, target);
  } else {
    CopyBitmap(*image, target);
  }
  target.Modified();
}

void CopySelectionTo(const TBaseView& source, TBaseView& target) {
  TBitmap* bitmap = target.Bitmap();
  if (bitmap == nullptr || source.Bitmap() == nullptr) return;
  const TSelectionOutline* selection = ActiveSelection(&source);
  if (selection != nullptr) {
    CopyRegion(*source.Bitmap(), *selection, *bitmap);
  } else {
    CopyBitmap(*source.Bitmap(), *bitmap);
  }
  target.SetBackground(source.Background());
  target.SetDpi(source.DpiX(), source.DpiY());
  target.Update();
  target.ImageChange();
}

// ---------------------------------------------------------------- TImageProc's clipboard commands

namespace {

// The packed bitmap of the selection as the copy and cut commands put it on the clipboard.
TByteBlock SelectionBlock(const TBitmap& image, const TSelectionOutline* selection) {
  if (selection == nullptr) return EncodePackedDib(image);
  if (selection->IsRectangle()) {
    TRectInclusive box = selection->Bounds();
    box.x1 = std::max(box.x1, 0);
    box.y1 = std::max(box.y1, 0);
    box.x2 = std::min(box.x2, image.Width() - 1);
    box.y2 = std::min(box.y2, image.Height() - 1);
    return EncodePackedDib(image, box);
  }
  TBitmap region;
  CopyRegion(image, *selection, region);
  return EncodePackedDib(region);
}

}  // namespace

void TImageProc::CopyWholeImage() {
  const TBitmap* image = Bitmap();
  if (image == nullptr || image->Empty()) return;
  TByteBlock block = EncodePackedDib(*image);
  if (!block.empty()) Clipboard().PutPackedDib(std::move(block));
}

void TImageProc::CopySelection() {
  const TBitmap* image = Bitmap();
  if (image == nullptr || image->Empty()) return;
  TByteBlock block = SelectionBlock(*image, ActiveSelection(AttachedView()));
  if (!block.empty()) Clipboard().PutPackedDib(std::move(block));
}

void TImageProc::CutSelection() {
  TBitmap* image = Bitmap();
  const TSelectionOutline* selection = ActiveSelection(AttachedView());
  if (image == nullptr || image->Empty() || selection == nullptr) return;
  SaveUndoIfAuto();
  TByteBlock block = SelectionBlock(*image, selection);
  if (!block.empty()) Clipboard().PutPackedDib(std::move(block));
  const TColor colour = Background();
  if (selection->IsRectangle()) {
    const TRectInclusive& box = selection->Bounds();
    image->FillRect(box.x1, box.y1, box.x2 + 1, box.y2 + 1, colour);
  } else {
    ForEachRegionSpan(*selection, image->Width(), image->Height(),
                      [&](int y, int xBegin, int xEnd) { image->FillRect(xBegin, y, xEnd, y + 1, colour); });
  }
  ReportImageChange();
}

void TImageProc::PasteImage() {
  TBitmap* image = Bitmap();
  if (image == nullptr) return;
  std::unique_ptr<TBitmap> pasted = ClipboardBitmap();
  if (!pasted) return;
  SaveUndoIfAuto();
  image->Swap(*pasted);
  ReportImageChange();
}

void TImageProc::PasteIntoSelection() {
  TBitmap* image = Bitmap();
  if (image == nullptr) return;
  const TSelectionOutline* selection = ActiveSelection(AttachedView());
  if (selection == nullptr) return PasteImage();
  if (image->PixelFormat() != pf24bit && image->PixelFormat() != pf1bit) return;
  std::unique_ptr<TBitmap> pasted = ClipboardBitmap();
  if (!pasted) return;
  MatchFormat(*pasted, image->PixelFormat());
  SaveUndoIfAuto();
  const TRectInclusive& box = selection->Bounds();
  StretchOnto(*pasted, *image, box.x1, box.y1, box.x2 + 1, box.y2 + 1);
  ReportImageChange();
}

}  // namespace veilora
