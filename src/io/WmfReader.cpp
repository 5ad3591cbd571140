#include "io/WmfReader.h"

#include <array>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "io/MetafileCommon.h"

namespace veilora {

namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::size_t kPlaceableBytes = 22;
constexpr std::size_t kHeaderBytes = 18;
constexpr std::size_t kRecordHeaderBytes = 6;

// Record functions.
enum : std::uint16_t {
  kEof = 0x0000,
  kSaveDc = 0x001E,
  kSetBkMode = 0x0102,
  kSetMapMode = 0x0103,
  kSetRop2 = 0x0104,
  kSetPolyFillMode = 0x0106,
  kRestoreDc = 0x0127,
  kInvertRegion = 0x012A,
  kPaintRegion = 0x012B,
  kSelectClipRegion = 0x012C,
  kSelectObject = 0x012D,
  kSetTextAlign = 0x012E,
  kDibCreatePatternBrush = 0x0142,
  kDeleteObject = 0x01F0,
  kCreatePatternBrush = 0x01F9,
  kSetBkColor = 0x0201,
  kSetTextColor = 0x0209,
  kSetWindowOrg = 0x020B,
  kSetWindowExt = 0x020C,
  kSetViewportOrg = 0x020D,
  kSetViewportExt = 0x020E,
  kOffsetWindowOrg = 0x020F,
  kOffsetViewportOrg = 0x0211,
  kLineTo = 0x0213,
  kMoveTo = 0x0214,
  kOffsetClipRgn = 0x0220,
  kFillRegion = 0x0228,
  kCreatePenIndirect = 0x02FA,
  kCreateFontIndirect = 0x02FB,
  kCreateBrushIndirect = 0x02FC,
  kCreatePalette = 0x00F7,
  kPolygon = 0x0324,
  kPolyline = 0x0325,
  kScaleWindowExt = 0x0410,
  kScaleViewportExt = 0x0412,
  kExcludeClipRect = 0x0415,
  kIntersectClipRect = 0x0416,
  kEllipse = 0x0418,
  kRectangle = 0x041B,
  kSetPixel = 0x041F,
  kTextOut = 0x0521,
  kPolyPolygon = 0x0538,
  kRoundRect = 0x061C,
  kPatBlt = 0x061D,
  kCreateRegion = 0x06FF,
  kArc = 0x0817,
  kPie = 0x081A,
  kChord = 0x0830,
  kBitBlt = 0x0922,
  kDibBitBlt = 0x0940,
  kExtTextOut = 0x0A32,
  kStretchBlt = 0x0B23,
  kDibStretchBlt = 0x0B41,
  kSetDibToDev = 0x0D33,
  kStretchDib = 0x0F43,
};

using TRects = std::vector<std::array<double, 4>>;
// A slot of the object table; palettes and the like only hold their slot.
using TObject = std::variant<std::monostate, TGdiPen, TGdiBrush, TGdiFont, TRects>;

class TWmfPlayer {
 public:
  explicit TWmfPlayer(TMetafilePlayback& playback) : pb_(playback) {}

  void Record(std::uint16_t function, const TRecordBytes& p);

 private:
  void Create(TObject object);
  const TObject* Object(std::size_t index) const {
    return index < objects_.size() && objects_[index] ? &*objects_[index] : nullptr;
  }
  std::vector<TMfPoint> Points(const TRecordBytes& p, std::size_t offset, std::size_t count) const;
  void Dib(const TRecordBytes& p, std::size_t dibOffset, std::uint32_t rop, int xSrc, int ySrc, int srcWidth,
           int srcHeight, double x, double y, double width, double height);
  void Text(const TRecordBytes& p, bool extended);

  TMetafilePlayback& pb_;
  std::vector<std::optional<TObject>> objects_;
};

std::vector<TMfPoint> TWmfPlayer::Points(const TRecordBytes& p, std::size_t offset, std::size_t count) const {
  std::vector<TMfPoint> points;
  if (!p.Has(offset, count * 4)) return points;
  points.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    points.push_back({double(p.S16(offset + i * 4)), double(p.S16(offset + i * 4 + 2))});
  return points;
}

void TWmfPlayer::Create(TObject object) {
  // Every creating record takes the lowest free slot, whether or not its object is drawn with.
  for (std::optional<TObject>& slot : objects_) {
    if (!slot) {
      slot = std::move(object);
      return;
    }
  }
  if (objects_.size() < kMaxWmfObjects) objects_.emplace_back(std::move(object));
}

// A Region object: its scans, each a band of rows with pairs of left and right edges.
TRects ReadRegion(const TRecordBytes& p) {
  TRects rects;
  const int scans = p.S16(10);
  std::size_t at = 22;
  for (int s = 0; s < scans && p.Has(at, 6); ++s) {
    const std::size_t count = p.U16(at);
    const double top = p.S16(at + 2), bottom = p.S16(at + 4);
    std::size_t edge = at + 6;
    for (std::size_t pair = 0; pair < count / 2 && p.Has(edge, 4); ++pair, edge += 4) {
      rects.push_back({double(p.S16(edge)), top, double(p.S16(edge + 2)), bottom});
    }
    at += 6 + count * 2 + 2;
  }
  return rects;
}

TGdiBrush PatternBrush(const TRecordBytes& p) {
  TGdiBrush brush;
  brush.style = 1;
  // BS_PATTERN with a device-dependent bitmap is not kept; a packed DIB follows in the other forms.
  if (p.U16(0) == 3 || p.Size() <= 4) return brush;
  auto pattern = std::make_shared<TBitmap>();
  if (DecodeMetafileDib(p.Data() + 4, p.Size() - 4, nullptr, 0, *pattern)) {
    brush.style = 6;
    brush.pattern = std::move(pattern);
  }
  return brush;
}

TGdiFont ReadFont(const TRecordBytes& p) {
  TGdiFont font;
  font.height = p.S16(0);
  font.width = p.S16(2);
  font.escapement = p.S16(4);
  font.weight = p.S16(8);
  font.italic = p.U8(10) != 0;
  font.underline = p.U8(11) != 0;
  font.strikeOut = p.U8(12) != 0;
  font.charset = p.U8(13);
  std::size_t length = 0;
  while (length < 32 && p.Has(18 + length, 1) && p.U8(18 + length) != 0) ++length;
  font.face = Utf16ToUtf8(AnsiToUtf16(p.Data() + 18, length));
  return font;
}

void TWmfPlayer::Dib(const TRecordBytes& p, std::size_t dibOffset, std::uint32_t rop, int xSrc, int ySrc,
                     int srcWidth, int srcHeight, double x, double y, double width, double height) {
  if (!p.Has(dibOffset, 12)) return;
  TBitmap whole;
  if (!DecodeMetafileDib(p.Data() + dibOffset, p.Size() - dibOffset, nullptr, 0, whole)) return;
  // Source rows count from the bottom of a bottom-up bitmap.
  const TRecordBytes info(p.Data() + dibOffset, p.Size() - dibOffset);
  const bool bottomUp = info.U32(0) == 12 || info.S32(8) > 0;
  const int top = bottomUp ? whole.Height() - ySrc - srcHeight : ySrc;
  TBitmap part;
  if (!CropSource(whole, xSrc, top, srcWidth, srcHeight, part)) return;
  pb_.Image(part, x, y, width, height, rop);
}

void TWmfPlayer::Text(const TRecordBytes& p, bool extended) {
  if (!extended) {
    const std::size_t length = p.U16(0);
    const std::size_t padded = (length + 1) & ~std::size_t{1};
    if (!p.Has(2, padded + 4)) return;
    const TMfPoint origin{double(p.S16(2 + padded + 2)), double(p.S16(2 + padded))};
    pb_.Text(origin, AnsiToUtf16(p.Data() + 2, length), {}, false, false, {});
    return;
  }
  const TMfPoint origin{double(p.S16(2)), double(p.S16(0))};
  const std::size_t length = static_cast<std::size_t>(std::max<int>(p.S16(4), 0));
  const std::uint16_t options = p.U16(6);
  std::size_t at = 8;
  std::array<double, 4> rect{};
  const bool opaque = (options & 0x0002) != 0, clipped = (options & 0x0004) != 0;
  if (opaque || clipped) {
    rect = {double(p.S16(8)), double(p.S16(10)), double(p.S16(12)), double(p.S16(14))};
    at += 8;
  }
  if (!p.Has(at, length)) return;
  const std::u16string text = AnsiToUtf16(p.Data() + at, length);
  std::vector<double> advances;
  const std::size_t dx = at + ((length + 1) & ~std::size_t{1});
  if (p.Has(dx, length * 2)) {
    for (std::size_t i = 0; i < text.size(); ++i) advances.push_back(p.S16(dx + i * 2));
  }
  pb_.Text(origin, text, advances, opaque, clipped, rect);
}

void TWmfPlayer::Record(std::uint16_t function, const TRecordBytes& p) {
  TMfDcState& dc = pb_.Dc();
  auto s = [&](std::size_t i) { return double(p.S16(i * 2)); };  // the i-th 16-bit parameter
  switch (function) {
    case kSaveDc: pb_.SaveDc(); break;
    case kRestoreDc: pb_.RestoreDc(p.S16(0)); break;
    case kSetBkMode: dc.backOpaque = p.U16(0) == 2; break;
    case kSetMapMode: pb_.SetMapMode(p.U16(0)); break;
    case kSetRop2: dc.rop2 = p.U16(0); break;
    case kSetPolyFillMode: dc.windingFill = p.U16(0) == 2; break;
    case kSetTextAlign: dc.textAlign = p.U16(0); break;
    case kSetBkColor: dc.backColour = ColourRef(p.U32(0)); break;
    case kSetTextColor: dc.textColour = ColourRef(p.U32(0)); break;
    case kSetWindowOrg: pb_.SetWindowOrg({s(1), s(0)}); break;
    case kSetWindowExt: pb_.SetWindowExt({s(1), s(0)}); break;
    case kSetViewportOrg: pb_.SetViewportOrg({s(1), s(0)}); break;
    case kSetViewportExt: pb_.SetViewportExt({s(1), s(0)}); break;
    case kOffsetWindowOrg: pb_.OffsetWindowOrg({s(1), s(0)}); break;
    case kOffsetViewportOrg: pb_.OffsetViewportOrg({s(1), s(0)}); break;
    case kScaleWindowExt: pb_.ScaleWindowExt(s(3), s(2), s(1), s(0)); break;
    case kScaleViewportExt: pb_.ScaleViewportExt(s(3), s(2), s(1), s(0)); break;
    case kOffsetClipRgn: pb_.OffsetClip({s(1), s(0)}); break;
    case kIntersectClipRect: pb_.IntersectClipRect(s(3), s(2), s(1), s(0)); break;
    case kExcludeClipRect: pb_.ExcludeClipRect(s(3), s(2), s(1), s(0)); break;

    case kCreatePenIndirect: {
      TGdiPen pen;
      pen.style = p.U16(0);
      pen.width = p.S16(2);
      pen.cosmetic = pen.width <= 0;
      pen.colour = ColourRef(p.U32(6));
      Create(pen);
      break;
    }
    case kCreateBrushIndirect: {
      TGdiBrush brush;
      brush.style = p.U16(0);
      brush.colour = ColourRef(p.U32(2));
      brush.hatch = p.U16(6);
      // A pattern named without its bitmap cannot be painted.
      if (brush.style != 0 && brush.style != 2) brush.style = 1;
      Create(brush);
      break;
    }
    case kCreateFontIndirect: Create(ReadFont(p)); break;
    case kDibCreatePatternBrush: Create(PatternBrush(p)); break;
    case kCreateRegion: Create(ReadRegion(p)); break;
    case kCreatePatternBrush: {
      TGdiBrush none;
      none.style = 1;
      Create(none);
      break;
    }
    case kCreatePalette: Create(std::monostate{}); break;
    case kDeleteObject:
      if (p.U16(0) < objects_.size()) objects_[p.U16(0)].reset();
      break;
    case kSelectObject:
      if (const TObject* object = Object(p.U16(0))) {
        if (const auto* pen = std::get_if<TGdiPen>(object)) pb_.SelectPen(*pen);
        if (const auto* brush = std::get_if<TGdiBrush>(object)) pb_.SelectBrush(*brush);
        if (const auto* font = std::get_if<TGdiFont>(object)) pb_.SelectFont(*font);
        if (const auto* region = std::get_if<TRects>(object)) pb_.SelectClipRegion(5, *region, true);
      }
      break;
    case kSelectClipRegion: {
      const TObject* object = Object(p.U16(0));
      const auto* region = object != nullptr ? std::get_if<TRects>(object) : nullptr;
      pb_.SelectClipRegion(5, region != nullptr ? *region : TRects{}, true);
      break;
    }
    case kFillRegion:
    case kPaintRegion: {
      const TObject* object = Object(p.U16(0));
      const auto* region = object != nullptr ? std::get_if<TRects>(object) : nullptr;
      if (region == nullptr) break;
      if (function == kPaintRegion) {
        pb_.FillRegion(*region, dc.brush, true);
      } else if (const TObject* brush = Object(p.U16(2));
                 brush != nullptr && std::holds_alternative<TGdiBrush>(*brush)) {
        pb_.FillRegion(*region, std::get<TGdiBrush>(*brush), true);
      }
      break;
    }
    case kInvertRegion: break;

    case kMoveTo: pb_.MoveTo({s(1), s(0)}); break;
    case kLineTo: pb_.LineTo({s(1), s(0)}); break;
    case kPolyline:
    case kPolygon: {
      const std::vector<TMfPoint> points = Points(p, 2, static_cast<std::size_t>(std::max<int>(p.S16(0), 0)));
      if (function == kPolyline) {
        pb_.Polyline(points, false);
      } else {
        pb_.PolyPolygon({points});
      }
      break;
    }
    case kPolyPolygon: {
      const std::size_t polygons = p.U16(0);
      if (!p.Has(2, polygons * 2)) break;
      std::vector<std::vector<TMfPoint>> all;
      std::size_t at = 2 + polygons * 2;
      for (std::size_t i = 0; i < polygons; ++i) {
        const std::size_t count = p.U16(2 + i * 2);
        if (!p.Has(at, count * 4)) break;
        all.push_back(Points(p, at, count));
        at += count * 4;
      }
      pb_.PolyPolygon(all);
      break;
    }
    case kRectangle: pb_.Rectangle(s(3), s(2), s(1), s(0)); break;
    case kEllipse: pb_.Ellipse(s(3), s(2), s(1), s(0)); break;
    case kRoundRect: pb_.RoundRect(s(5), s(4), s(3), s(2), s(1), s(0)); break;
    case kArc:
    case kChord:
    case kPie: {
      using K = TMetafilePlayback::TArcKind;
      const K kind = function == kArc ? K::Arc : function == kChord ? K::Chord : K::Pie;
      pb_.Arc(kind, s(7), s(6), s(5), s(4), {s(3), s(2)}, {s(1), s(0)});
      break;
    }
    case kSetPixel: pb_.SetPixel({s(3), s(2)}, ColourRef(p.U32(0))); break;

    case kTextOut: Text(p, false); break;
    case kExtTextOut: Text(p, true); break;

    case kPatBlt: pb_.PatBlt(s(5), s(4), s(3), s(2), p.U32(0)); break;
    case kBitBlt:
    case kDibBitBlt:
      if (p.Size() == 18) {  // no bitmap: a reserved word sits before the destination
        pb_.PatBlt(s(8), s(7), s(6), s(5), p.U32(0));
      } else if (function == kDibBitBlt) {
        Dib(p, 16, p.U32(0), p.S16(6), p.S16(4), p.S16(10), p.S16(8), s(7), s(6), s(5), s(4));
      }
      break;
    case kStretchBlt:
    case kDibStretchBlt:
      if (p.Size() == 22) {
        pb_.PatBlt(s(10), s(9), s(8), s(7), p.U32(0));
      } else if (function == kDibStretchBlt) {
        Dib(p, 20, p.U32(0), p.S16(10), p.S16(8), p.S16(6), p.S16(4), s(9), s(8), s(7), s(6));
      }
      break;
    case kStretchDib:
      Dib(p, 22, p.U32(0), p.S16(12), p.S16(10), p.S16(8), p.S16(6), s(10), s(9), s(8), s(7));
      break;
    case kSetDibToDev:
      Dib(p, 18, 0x00CC0020, p.S16(8), p.S16(6), p.S16(12), p.S16(10), s(8), s(7), s(6), s(5));
      break;
    default: break;  // palettes, escapes, flood fills and the like change nothing drawn here
  }
}

// Walks the records from `first`, calling `visit` with each function and its parameters, until the
// end record, the end of the data, or a record whose size does not fit.
template <typename Visit>
void WalkRecords(const std::uint8_t* data, std::size_t size, std::size_t first, Visit visit) {
  std::size_t at = first;
  while (at <= size && size - at >= kRecordHeaderBytes) {
    const TRecordBytes head(data + at, size - at);
    const std::uint64_t bytes = std::uint64_t{head.U32(0)} * 2;
    if (bytes < kRecordHeaderBytes || bytes > size - at) return;
    const std::uint16_t function = head.U16(4);
    if (function == kEof) return;
    if (!visit(function, TRecordBytes(data + at + kRecordHeaderBytes,
                                      static_cast<std::size_t>(bytes) - kRecordHeaderBytes))) {
      return;
    }
    at += static_cast<std::size_t>(bytes);
  }
}

}  // namespace

bool ReadWmfHeader(const std::uint8_t* data, std::size_t size, TWmfHeader& header) {
  const TRecordBytes file(data, size);
  header = {};
  std::size_t at = 0;
  if (file.Has(0, kPlaceableBytes) && file.U32(0) == kPlaceableKey) {
    header.placeable = true;
    header.left = file.S16(6);
    header.top = file.S16(8);
    header.right = file.S16(10);
    header.bottom = file.S16(12);
    header.unitsPerInch = file.U16(14);
    at = kPlaceableBytes;
  }
  // The standard header: type 1 (memory) or 2 (disk), a header of 9 words, version 1.0 or 3.0.
  if (!file.Has(at, kHeaderBytes)) return false;
  const std::uint16_t type = file.U16(at), words = file.U16(at + 2), version = file.U16(at + 4);
  if ((type != 1 && type != 2) || words != 9 || (version != 0x0100 && version != 0x0300)) return false;
  header.firstRecord = at + kHeaderBytes;
  if (header.placeable) return header.unitsPerInch != 0;

  // Without placeable bounds the picture is what the records' first window covers.
  bool haveExtent = false;
  double orgX = 0, orgY = 0;
  WalkRecords(data, size, header.firstRecord, [&](std::uint16_t function, const TRecordBytes& p) {
    if (function == kSetWindowOrg) {
      orgX = p.S16(2);
      orgY = p.S16(0);
    } else if (function == kSetWindowExt) {
      header.right = p.S16(2);
      header.bottom = p.S16(0);
      haveExtent = true;
    }
    return !haveExtent;
  });
  if (!haveExtent) return false;
  header.left = orgX;
  header.top = orgY;
  header.right += orgX;
  header.bottom += orgY;
  return true;
}

void PlayWmf(const std::uint8_t* data, std::size_t size, const TWmfHeader& header,
             TMetafilePlayback& playback) {
  TWmfPlayer player(playback);
  WalkRecords(data, size, header.firstRecord, [&](std::uint16_t function, const TRecordBytes& p) {
    player.Record(function, p);
    return !playback.Exhausted();
  });
}

}  // namespace veilora
