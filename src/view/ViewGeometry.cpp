#include "view/ViewGeometry.h"

#include <algorithm>

namespace veilora {

std::int64_t RoundQuotient(std::int64_t numerator, std::int64_t denominator) {
  std::int64_t quotient = numerator / denominator;
  std::int64_t remainder = numerator % denominator;
  // Make the remainder non-negative so that the quotient is the floor.
  if (remainder < 0) {
    remainder += denominator;
    --quotient;
  }
  const std::int64_t twice = 2 * remainder;
  if (twice > denominator || (twice == denominator && (quotient & 1) != 0)) ++quotient;
  return quotient;
}

std::int64_t TruncQuotient(std::int64_t numerator, std::int64_t denominator) {
  return numerator / denominator;  // C++ division already cuts toward zero
}

namespace {

int ToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

void TViewGeometry::SetOuterSize(int width, int height, int border) {
  outer_ = {std::max(width, 0), std::max(height, 0)};
  border_ = std::max(border, 0);
}

void TViewGeometry::SetBitmapSize(int width, int height) {
  bitmap_ = {std::max(width, 0), std::max(height, 0)};
}

bool TViewGeometry::SetZoom(int zoom) {
  if (zoom <= 0 || zoom == zoom_) return false;
  zoom_ = zoom;
  return true;
}

bool TViewGeometry::SetViewOrigin(int x, int y) {
  const TPoint max = MaxViewOrigin();
  const int newX = std::clamp(x, 0, max.x);
  const int newY = std::clamp(y, 0, max.y);
  const bool changed = newX != originX_ || newY != originY_;
  originX_ = newX;
  originY_ = newY;
  if (hBar_.visible) hBar_.position = originX_;
  if (vBar_.visible) vBar_.position = originY_;
  return changed;
}

TSize TViewGeometry::ClientSize() const {
  const int width = outer_.width - 2 * border_ - (vBar_.visible ? barExtent_ : 0);
  const int height = outer_.height - 2 * border_ - (hBar_.visible ? barExtent_ : 0);
  return {std::max(width, 0), std::max(height, 0)};
}

TSize TViewGeometry::ZoomedExtent() const {
  return {ToInt(RoundQuotient(std::int64_t{bitmap_.width} * zoom_, 100)),
          ToInt(RoundQuotient(std::int64_t{bitmap_.height} * zoom_, 100))};
}

TSize TViewGeometry::DrawnExtent() const {
  const TSize zoomed = ZoomedExtent();
  const TSize client = ClientSize();
  return {std::min(zoomed.width, client.width), std::min(zoomed.height, client.height)};
}

TPoint TViewGeometry::ImageOffset() const {
  if (!center_) return {};
  const TSize drawn = DrawnExtent();
  const TSize client = ClientSize();
  return {drawn.width < client.width ? (client.width - drawn.width) / 2 : 0,
          drawn.height < client.height ? (client.height - drawn.height) / 2 : 0};
}

TPoint TViewGeometry::MaxViewOrigin() const {
  const TSize zoomed = ZoomedExtent();
  if (zoomed.width <= 0 || zoomed.height <= 0) return {};
  if (outer_.width >= zoomed.width && outer_.height >= zoomed.height) return {};
  const TSize client = ClientSize();
  return {std::max(zoomed.width - client.width, 0), std::max(zoomed.height - client.height, 0)};
}

bool TViewGeometry::Update() {
  bool lowered = false;
  // Showing one bar narrows the client area, which can call for the other; two more passes settle
  // every case, and the bound keeps a pathological size from looping.
  for (int pass = 0; pass < 4; ++pass) {
    const TPoint max = MaxViewOrigin();
    if (originX_ > max.x || originY_ > max.y) lowered = true;
    originX_ = std::min(originX_, max.x);
    originY_ = std::min(originY_, max.y);

    const TSize before = ClientSize();
    hBar_ = HorizontalAllowed() && max.x >= 1
                ? TScrollBarState{true, before.width + max.x - 1, before.width, originX_}
                : TScrollBarState{};
    vBar_ = VerticalAllowed() && max.y >= 1
                ? TScrollBarState{true, before.height + max.y - 1, before.height, originY_}
                : TScrollBarState{};
    if (ClientSize() == before) break;
  }
  return lowered;
}

int TViewGeometry::FitZoom() const {
  if (bitmap_.width == 0 || bitmap_.height == 0) return 0;
  const std::int64_t byHeight = TruncQuotient(std::int64_t{outer_.height} * 100, bitmap_.height);
  const std::int64_t byWidth = TruncQuotient(std::int64_t{outer_.width} * 100, bitmap_.width);
  return ToInt(std::min(byWidth, byHeight));
}

TPoint TViewGeometry::OriginCentring(int bx, int by) const {
  const TSize client = ClientSize();
  return {ToInt(TruncQuotient(std::int64_t{zoom_} * bx - 100 * std::int64_t{client.width / 2}, 100)),
          ToInt(TruncQuotient(std::int64_t{zoom_} * by - 100 * std::int64_t{client.height / 2}, 100))};
}

int TViewGeometry::ScrollTarget(bool horizontal, TScrollRequest request, int trackPosition) const {
  const int origin = horizontal ? originX_ : originY_;
  const int page = horizontal ? ClientSize().width : ClientSize().height;
  const TPoint max = MaxViewOrigin();
  switch (request) {
    case TScrollRequest::LineBack: return origin - 1;
    case TScrollRequest::LineForward: return origin + 1;
    case TScrollRequest::PageBack: return origin - page;
    case TScrollRequest::PageForward: return origin + page;
    case TScrollRequest::Track: return trackPosition;
    case TScrollRequest::ToStart: return 0;
    case TScrollRequest::ToEnd: return horizontal ? max.x : max.y;
    case TScrollRequest::Other: break;
  }
  return origin;
}

int TViewGeometry::ScreenToBitmapX(int x) const {
  return ToInt(RoundQuotient(100 * (std::int64_t{x} + originX_ - ImageOffset().x), zoom_));
}

int TViewGeometry::ScreenToBitmapY(int y) const {
  return ToInt(RoundQuotient(100 * (std::int64_t{y} + originY_ - ImageOffset().y), zoom_));
}

int TViewGeometry::BitmapToScreenX(int bx) const {
  return ToInt(
      RoundQuotient(std::int64_t{bx} * zoom_ + 100 * (std::int64_t{ImageOffset().x} - originX_), 100));
}

int TViewGeometry::BitmapToScreenY(int by) const {
  return ToInt(
      RoundQuotient(std::int64_t{by} * zoom_ + 100 * (std::int64_t{ImageOffset().y} - originY_), 100));
}

namespace {

// One axis of the source rectangle: the bitmap span behind `drawn` screen pixels from `origin`.
void SourceSpan(int bitmapSide, int zoomedSide, int drawnSide, int origin, int& start, int& length) {
  start = 0;
  length = 0;
  if (zoomedSide <= 0) return;
  length = ToInt(RoundQuotient(std::int64_t{drawnSide} * bitmapSide, zoomedSide));
  start = ToInt(RoundQuotient(std::int64_t{bitmapSide} * origin, zoomedSide));
  if (start + length > bitmapSide) --length;
  // Past about 200 times magnification the span can round to nothing although the client area
  // shows part of a pixel; stretching nothing would leave the area unpainted.
  if (drawnSide > 0 && length < 1 && bitmapSide > 0) {
    length = 1;
    start = std::min(start, bitmapSide - 1);
  }
}

}  // namespace

TExtentRect TViewGeometry::SourceRect() const {
  const TSize zoomed = ZoomedExtent();
  const TSize drawn = DrawnExtent();
  TExtentRect source;
  SourceSpan(bitmap_.width, zoomed.width, drawn.width, originX_, source.x, source.width);
  SourceSpan(bitmap_.height, zoomed.height, drawn.height, originY_, source.y, source.height);
  return source;
}

TExtentRect TViewGeometry::DestinationRect() const {
  const TPoint offset = ImageOffset();
  const TSize drawn = DrawnExtent();
  return {offset.x, offset.y, drawn.width, drawn.height};
}

TColor ComplementColour(TColor background) {
  return static_cast<TColor>(~static_cast<std::uint32_t>(background));
}

void NearestSourceIndexes(int sourceStart, int sourceLength, int destinationLength,
                          std::vector<int>& indexes) {
  indexes.clear();
  if (sourceLength <= 0 || destinationLength <= 0) return;
  indexes.resize(static_cast<std::size_t>(destinationLength));
  const std::int64_t twiceDestination = 2 * std::int64_t{destinationLength};
  for (int i = 0; i < destinationLength; ++i) {
    indexes[static_cast<std::size_t>(i)] =
        sourceStart + static_cast<int>((2 * std::int64_t{i} + 1) * sourceLength / twiceDestination);
  }
}

bool ChessboardSquareIsComplement(int x, int y) {
  return ((x / kChessboardSquare) + (y / kChessboardSquare)) % 2 == 0;
}

}  // namespace veilora
