#include "io/EmfReader.h"

#include <array>
#include <memory>
#include <unordered_map>
#include <variant>
#include <vector>

#include "io/MetafileCommon.h"

namespace veilora {

namespace {

constexpr std::uint32_t kSignature = 0x464D4520;  // " EMF"
constexpr std::size_t kMinHeaderBytes = 88;

// Record types.
enum : std::uint32_t {
  kHeader = 1,
  kPolyBezier = 2,
  kPolygon = 3,
  kPolyline = 4,
  kPolyBezierTo = 5,
  kPolylineTo = 6,
  kPolyPolyline = 7,
  kPolyPolygon = 8,
  kSetWindowExtEx = 9,
  kSetWindowOrgEx = 10,
  kSetViewportExtEx = 11,
  kSetViewportOrgEx = 12,
  kEof = 14,
  kSetPixelV = 15,
  kSetMapMode = 17,
  kSetBkMode = 18,
  kSetPolyFillMode = 19,
  kSetRop2 = 20,
  kSetTextAlign = 22,
  kSetTextColor = 24,
  kSetBkColor = 25,
  kOffsetClipRgn = 26,
  kMoveToEx = 27,
  kExcludeClipRect = 29,
  kIntersectClipRect = 30,
  kScaleViewportExtEx = 31,
  kScaleWindowExtEx = 32,
  kSaveDc = 33,
  kRestoreDc = 34,
  kSetWorldTransform = 35,
  kModifyWorldTransform = 36,
  kSelectObject = 37,
  kCreatePen = 38,
  kCreateBrushIndirect = 39,
  kDeleteObject = 40,
  kAngleArc = 41,
  kEllipse = 42,
  kRectangle = 43,
  kRoundRect = 44,
  kArc = 45,
  kChord = 46,
  kPie = 47,
  kCreatePalette = 49,
  kLineTo = 54,
  kArcTo = 55,
  kPolyDraw = 56,
  kSetArcDirection = 57,
  kBeginPath = 59,
  kEndPath = 60,
  kCloseFigure = 61,
  kFillPath = 62,
  kStrokeAndFillPath = 63,
  kStrokePath = 64,
  kSelectClipPath = 67,
  kAbortPath = 68,
  kFillRgn = 71,
  kPaintRgn = 74,
  kExtSelectClipRgn = 75,
  kBitBlt = 76,
  kStretchBlt = 77,
  kSetDiBitsToDevice = 80,
  kStretchDiBits = 81,
  kExtCreateFontIndirectW = 82,
  kExtTextOutA = 83,
  kExtTextOutW = 84,
  kPolyBezier16 = 85,
  kPolygon16 = 86,
  kPolyline16 = 87,
  kPolyBezierTo16 = 88,
  kPolylineTo16 = 89,
  kPolyPolyline16 = 90,
  kPolyPolygon16 = 91,
  kPolyDraw16 = 92,
  kCreateMonoBrush = 93,
  kCreateDibPatternBrushPt = 94,
  kExtCreatePen = 95,
};

using TObject = std::variant<std::monostate, TGdiPen, TGdiBrush, TGdiFont>;
using TRects = std::vector<std::array<double, 4>>;

class TEmfPlayer {
 public:
  explicit TEmfPlayer(TMetafilePlayback& playback) : pb_(playback) {}
  // `r` is the whole record, its type and size included, so offsets read as the format gives them.
  void Record(std::uint32_t type, const TRecordBytes& r);

 private:
  void Store(std::uint32_t index, TObject object) {
    if (index == 0 || index > kMaxEmfObjectIndex) return;
    objects_[index] = std::move(object);
  }
  std::vector<TMfPoint> Points(const TRecordBytes& r, std::size_t offset, std::size_t count,
                               bool small) const;
  std::vector<std::vector<TMfPoint>> PolyPoints(const TRecordBytes& r, bool small) const;
  static TRects Region(const TRecordBytes& r, std::size_t offset, std::size_t bytes);
  // The DIB of a record given the offsets of its BITMAPINFO and bits fields' offset/size pairs.
  static bool RecordDib(const TRecordBytes& r, std::size_t fields, TBitmap& out, bool& bottomUp);
  void Blit(const TRecordBytes& r, std::size_t fields, std::uint32_t rop, int xSrc, int ySrc, int srcWidth,
            int srcHeight, bool dibCoordinates, double x, double y, double width, double height);
  TGdiBrush DibBrush(const TRecordBytes& r) const;
  void Text(const TRecordBytes& r, bool wide);

  TMetafilePlayback& pb_;
  std::unordered_map<std::uint32_t, TObject> objects_;
};

std::vector<TMfPoint> TEmfPlayer::Points(const TRecordBytes& r, std::size_t offset, std::size_t count,
                                         bool small) const {
  std::vector<TMfPoint> points;
  const std::size_t step = small ? 4 : 8;
  if (count > r.Size() / step || !r.Has(offset, count * step)) return points;
  points.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = offset + i * step;
    if (small) {
      points.push_back({double(r.S16(at)), double(r.S16(at + 2))});
    } else {
      points.push_back({double(r.S32(at)), double(r.S32(at + 4))});
    }
  }
  return points;
}

std::vector<std::vector<TMfPoint>> TEmfPlayer::PolyPoints(const TRecordBytes& r, bool small) const {
  std::vector<std::vector<TMfPoint>> all;
  const std::size_t polys = r.U32(24), total = r.U32(28);
  if (polys > r.Size() / 4 || !r.Has(32, polys * 4)) return all;
  std::size_t at = 32 + polys * 4, used = 0;
  const std::size_t step = small ? 4 : 8;
  for (std::size_t i = 0; i < polys; ++i) {
    const std::size_t count = r.U32(32 + i * 4);
    if (count > total - used || count > r.Size() / step || !r.Has(at, count * step)) break;
    all.push_back(Points(r, at, count, small));
    at += count * step;
    used += count;
  }
  return all;
}

TRects TEmfPlayer::Region(const TRecordBytes& r, std::size_t offset, std::size_t bytes) {
  TRects rects;
  if (!r.Has(offset, bytes) || bytes < 32) return rects;
  const std::size_t count = r.U32(offset + 8);
  for (std::size_t i = 0; i < count && (i + 1) * 16 + 32 <= bytes; ++i) {
    const std::size_t at = offset + 32 + i * 16;
    rects.push_back(
        {double(r.S32(at)), double(r.S32(at + 4)), double(r.S32(at + 8)), double(r.S32(at + 12))});
  }
  return rects;
}

bool TEmfPlayer::RecordDib(const TRecordBytes& r, std::size_t fields, TBitmap& out, bool& bottomUp) {
  const std::size_t offInfo = r.U32(fields), infoBytes = r.U32(fields + 4);
  const std::size_t offBits = r.U32(fields + 8), bitsBytes = r.U32(fields + 12);
  if (infoBytes < 12 || !r.Has(offInfo, infoBytes) || !r.Has(offBits, bitsBytes)) return false;
  const TRecordBytes info(r.Data() + offInfo, infoBytes);
  bottomUp = info.U32(0) == 12 || info.S32(8) > 0;
  return DecodeMetafileDib(r.Data() + offInfo, infoBytes, r.Data() + offBits, bitsBytes, out);
}

void TEmfPlayer::Blit(const TRecordBytes& r, std::size_t fields, std::uint32_t rop, int xSrc, int ySrc,
                      int srcWidth, int srcHeight, bool dibCoordinates, double x, double y, double width,
                      double height) {
  TBitmap whole;
  bool bottomUp = false;
  if (r.U32(fields + 4) == 0) {  // no source bitmap: the operation uses only brush and destination
    pb_.PatBlt(x, y, width, height, rop);
    return;
  }
  if (!RecordDib(r, fields, whole, bottomUp)) return;
  // StretchDIBits counts source rows from the bottom of a bottom-up bitmap.
  const std::int64_t top =
      dibCoordinates && bottomUp ? std::int64_t{whole.Height()} - ySrc - srcHeight : std::int64_t{ySrc};
  TBitmap part;
  if (!CropSource(whole, xSrc, top, srcWidth, srcHeight, part)) return;
  pb_.Image(part, x, y, width, height, rop);
}

TGdiBrush TEmfPlayer::DibBrush(const TRecordBytes& r) const {
  TGdiBrush brush;
  brush.style = 1;
  auto pattern = std::make_shared<TBitmap>();
  bool bottomUp = false;
  if (RecordDib(r, 16, *pattern, bottomUp)) {
    brush.style = 6;
    brush.pattern = std::move(pattern);
  }
  return brush;
}

void TEmfPlayer::Text(const TRecordBytes& r, bool wide) {
  const TMfPoint origin{double(r.S32(36)), double(r.S32(40))};
  const std::size_t chars = r.U32(44), offString = r.U32(48);
  const std::uint32_t options = r.U32(52);
  std::array<double, 4> rect{};
  std::size_t offDxField = 72;
  if ((options & 0x100) != 0) {  // ETO_NO_RECT: the rectangle is left out
    offDxField = 56;
  } else {
    rect = {double(r.S32(56)), double(r.S32(60)), double(r.S32(64)), double(r.S32(68))};
  }
  const bool opaque = (options & 0x2) != 0, clipped = (options & 0x4) != 0;
  const std::size_t unit = wide ? 2 : 1;
  std::u16string text;
  // Glyph indexes name shapes of a particular font, not characters; only the box is painted.
  if ((options & 0x10) == 0 && chars <= r.Size() && r.Has(offString, chars * unit)) {
    if (wide) {
      for (std::size_t i = 0; i < chars; ++i) text.push_back(static_cast<char16_t>(r.U16(offString + i * 2)));
      while (!text.empty() && text.back() == 0) text.pop_back();
    } else {
      text = AnsiToUtf16(r.Data() + offString, chars);
    }
  }
  std::vector<double> advances;
  const std::size_t offDx = r.U32(offDxField);
  const std::size_t dxStep = (options & 0x2000) != 0 ? 8 : 4;  // ETO_PDY: x and y for each character
  if (offDx != 0 && text.size() <= r.Size() && r.Has(offDx, text.size() * dxStep)) {
    for (std::size_t i = 0; i < text.size(); ++i) advances.push_back(r.S32(offDx + i * dxStep));
  }
  pb_.Text(origin, text, advances, opaque, clipped, rect);
}

void TEmfPlayer::Record(std::uint32_t type, const TRecordBytes& r) {
  TMfDcState& dc = pb_.Dc();
  auto i32 = [&](std::size_t at) { return double(r.S32(at)); };
  auto point = [&](std::size_t at) { return TMfPoint{i32(at), i32(at + 4)}; };
  switch (type) {
    case kPolyBezier:
    case kPolygon:
    case kPolyline:
    case kPolyBezierTo:
    case kPolylineTo:
    case kPolyBezier16:
    case kPolygon16:
    case kPolyline16:
    case kPolyBezierTo16:
    case kPolylineTo16: {
      const bool small = type >= kPolyBezier16;
      const std::uint32_t kind = small ? type - kPolyBezier16 + kPolyBezier : type;
      const std::vector<TMfPoint> points = Points(r, 28, r.U32(24), small);
      if (kind == kPolygon) {
        pb_.PolyPolygon({points});
      } else if (kind == kPolyline || kind == kPolylineTo) {
        pb_.Polyline(points, kind == kPolylineTo);
      } else {
        pb_.PolyBezier(points, kind == kPolyBezierTo);
      }
      break;
    }
    case kPolyPolyline:
    case kPolyPolyline16: pb_.PolyPolyline(PolyPoints(r, type == kPolyPolyline16)); break;
    case kPolyPolygon:
    case kPolyPolygon16: pb_.PolyPolygon(PolyPoints(r, type == kPolyPolygon16)); break;
    case kPolyDraw:
    case kPolyDraw16: {
      const bool small = type == kPolyDraw16;
      const std::size_t count = r.U32(24);
      const std::vector<TMfPoint> points = Points(r, 28, count, small);
      const std::size_t typesAt = 28 + points.size() * (small ? 4 : 8);
      if (points.size() != count || !r.Has(typesAt, count)) break;
      pb_.PolyDraw(points, std::vector<std::uint8_t>(r.Data() + typesAt, r.Data() + typesAt + count));
      break;
    }
    case kSetWindowExtEx: pb_.SetWindowExt(point(8)); break;
    case kSetWindowOrgEx: pb_.SetWindowOrg(point(8)); break;
    case kSetViewportExtEx: pb_.SetViewportExt(point(8)); break;
    case kSetViewportOrgEx: pb_.SetViewportOrg(point(8)); break;
    case kScaleViewportExtEx: pb_.ScaleViewportExt(i32(8), i32(12), i32(16), i32(20)); break;
    case kScaleWindowExtEx: pb_.ScaleWindowExt(i32(8), i32(12), i32(16), i32(20)); break;
    case kSetMapMode: pb_.SetMapMode(r.S32(8)); break;
    case kSetWorldTransform:
    case kModifyWorldTransform: {
      const TMfMatrix m{r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28)};
      if (type == kSetWorldTransform) {
        pb_.SetWorldTransform(m);
      } else {
        pb_.ModifyWorldTransform(m, r.S32(32));
      }
      break;
    }
    case kSaveDc: pb_.SaveDc(); break;
    case kRestoreDc: pb_.RestoreDc(r.S32(8)); break;

    case kSetPixelV: pb_.SetPixel(point(8), ColourRef(r.U32(16))); break;
    case kSetBkMode: dc.backOpaque = r.U32(8) == 2; break;
    case kSetPolyFillMode: dc.windingFill = r.U32(8) == 2; break;
    case kSetRop2: dc.rop2 = r.S32(8); break;
    case kSetTextAlign: dc.textAlign = r.S32(8); break;
    case kSetTextColor: dc.textColour = ColourRef(r.U32(8)); break;
    case kSetBkColor: dc.backColour = ColourRef(r.U32(8)); break;
    case kSetArcDirection: dc.arcClockwise = r.U32(8) == 2; break;

    case kOffsetClipRgn: pb_.OffsetClip(point(8)); break;
    case kExcludeClipRect: pb_.ExcludeClipRect(i32(8), i32(12), i32(16), i32(20)); break;
    case kIntersectClipRect: pb_.IntersectClipRect(i32(8), i32(12), i32(16), i32(20)); break;
    case kExtSelectClipRgn: pb_.SelectClipRegion(r.S32(12), Region(r, 16, r.U32(8))); break;
    case kSelectClipPath: pb_.SelectClipPath(r.S32(8)); break;
    case kFillRgn: {
      const auto it = objects_.find(r.U32(28));
      const TGdiBrush* brush = it != objects_.end() ? std::get_if<TGdiBrush>(&it->second) : nullptr;
      TGdiBrush stock;
      if ((r.U32(28) & 0x80000000u) != 0) {
        stock = StockBrush(static_cast<int>(r.U32(28) & 0x7FFFFFFF));
        brush = &stock;
      }
      if (brush != nullptr) pb_.FillRegion(Region(r, 32, r.U32(24)), *brush);
      break;
    }
    case kPaintRgn: pb_.FillRegion(Region(r, 28, r.U32(24)), dc.brush); break;

    case kCreatePen: {
      TGdiPen pen;
      pen.style = r.S32(12);
      pen.width = r.S32(16);
      pen.cosmetic = pen.width <= 0;
      pen.colour = ColourRef(r.U32(24));
      Store(r.U32(8), pen);
      break;
    }
    case kExtCreatePen: {
      TGdiPen pen;
      const std::uint32_t style = r.U32(28);
      pen.style = static_cast<int>(style & 0xFFFF);
      pen.width = r.U32(32) > 0x7FFFFFFF ? 0 : double(r.U32(32));
      pen.cosmetic = (style & 0x000F0000) == 0;  // PS_COSMETIC
      pen.colour = ColourRef(r.U32(40));
      if (r.U32(36) == 1) pen.style = 5;  // drawn with a null brush: nothing shows
      Store(r.U32(8), pen);
      break;
    }
    case kCreateBrushIndirect: {
      TGdiBrush brush;
      brush.style = r.S32(12);
      brush.colour = ColourRef(r.U32(16));
      brush.hatch = r.S32(20);
      if (brush.style != 0 && brush.style != 2) brush.style = 1;
      Store(r.U32(8), brush);
      break;
    }
    case kCreateMonoBrush:
    case kCreateDibPatternBrushPt: Store(r.U32(8), DibBrush(r)); break;
    case kExtCreateFontIndirectW: {
      TGdiFont font;
      font.height = r.S32(12);
      font.width = r.S32(16);
      font.escapement = r.S32(20);
      font.weight = r.S32(28);
      font.italic = r.U8(32) != 0;
      font.underline = r.U8(33) != 0;
      font.strikeOut = r.U8(34) != 0;
      font.charset = r.U8(35);
      std::u16string face;
      for (std::size_t i = 0; i < 32 && r.Has(40 + i * 2, 2) && r.U16(40 + i * 2) != 0; ++i) {
        face.push_back(static_cast<char16_t>(r.U16(40 + i * 2)));
      }
      font.face = Utf16ToUtf8(face);
      Store(r.U32(8), font);
      break;
    }
    case kCreatePalette: Store(r.U32(8), std::monostate{}); break;
    case kDeleteObject: objects_.erase(r.U32(8)); break;
    case kSelectObject: {
      const std::uint32_t index = r.U32(8);
      if ((index & 0x80000000u) != 0) {
        const int stock = static_cast<int>(index & 0x7FFFFFFF);
        if (stock <= 5 || stock == 18) pb_.SelectBrush(StockBrush(stock));
        if ((stock >= 6 && stock <= 8) || stock == 19) pb_.SelectPen(StockPen(stock));
        if (stock >= 10 && stock <= 17 && stock != 15) pb_.SelectFont(TGdiFont{});
        break;
      }
      const auto it = objects_.find(index);
      if (it == objects_.end()) break;
      if (const auto* pen = std::get_if<TGdiPen>(&it->second)) pb_.SelectPen(*pen);
      if (const auto* brush = std::get_if<TGdiBrush>(&it->second)) pb_.SelectBrush(*brush);
      if (const auto* font = std::get_if<TGdiFont>(&it->second)) pb_.SelectFont(*font);
      break;
    }

    case kMoveToEx: pb_.MoveTo(point(8)); break;
    case kLineTo: pb_.LineTo(point(8)); break;
    case kRectangle: pb_.Rectangle(i32(8), i32(12), i32(16), i32(20)); break;
    case kEllipse: pb_.Ellipse(i32(8), i32(12), i32(16), i32(20)); break;
    case kRoundRect: pb_.RoundRect(i32(8), i32(12), i32(16), i32(20), i32(24), i32(28)); break;
    case kArc:
    case kChord:
    case kPie:
    case kArcTo: {
      using K = TMetafilePlayback::TArcKind;
      const K kind = type == kArc ? K::Arc : type == kChord ? K::Chord : type == kPie ? K::Pie : K::ArcTo;
      pb_.Arc(kind, i32(8), i32(12), i32(16), i32(20), point(24), point(32));
      break;
    }
    case kAngleArc: pb_.AngleArc(point(8), double(r.U32(16)), r.F32(20), r.F32(24)); break;

    case kBeginPath: pb_.BeginPath(); break;
    case kEndPath: pb_.EndPath(); break;
    case kCloseFigure: pb_.CloseFigure(); break;
    case kFillPath: pb_.FillPath(); break;
    case kStrokeAndFillPath: pb_.StrokeAndFillPath(); break;
    case kStrokePath: pb_.StrokePath(); break;
    case kAbortPath: pb_.AbortPath(); break;

    case kExtTextOutA: Text(r, false); break;
    case kExtTextOutW: Text(r, true); break;

    case kBitBlt:
      Blit(r, 84, r.U32(40), r.S32(44), r.S32(48), r.S32(32), r.S32(36), false, i32(24), i32(28), i32(32),
           i32(36));
      break;
    case kStretchBlt:
      Blit(r, 84, r.U32(40), r.S32(44), r.S32(48), r.S32(100), r.S32(104), false, i32(24), i32(28), i32(32),
           i32(36));
      break;
    case kStretchDiBits:
      Blit(r, 48, r.U32(68), r.S32(32), r.S32(36), r.S32(40), r.S32(44), true, i32(24), i32(28), i32(72),
           i32(76));
      break;
    case kSetDiBitsToDevice:
      Blit(r, 48, 0x00CC0020, r.S32(32), r.S32(36), r.S32(40), r.S32(44), true, i32(24), i32(28), i32(40),
           i32(44));
      break;
    default: break;  // comments (EMF+ among them), palettes, colour management, layout and the like
  }
}

}  // namespace

TMfPoint TEmfHeader::PixelsPerMm() const {
  if (devicePixelsX > 0 && devicePixelsY > 0 && deviceMmX > 0 && deviceMmY > 0) {
    return {double(devicePixelsX) / deviceMmX, double(devicePixelsY) / deviceMmY};
  }
  return {96 / 25.4, 96 / 25.4};
}

void TEmfHeader::FramePixels(double& left, double& top, double& right, double& bottom) const {
  const TMfPoint perMm = PixelsPerMm();
  left = frameLeft * perMm.x / 100;
  top = frameTop * perMm.y / 100;
  right = frameRight * perMm.x / 100;
  bottom = frameBottom * perMm.y / 100;
}

bool ReadEmfHeader(const std::uint8_t* data, std::size_t size, TEmfHeader& header) {
  const TRecordBytes file(data, size);
  header = {};
  if (!file.Has(0, kMinHeaderBytes) || file.U32(0) != kHeader || file.U32(40) != kSignature) return false;
  const std::uint32_t bytes = file.U32(4);
  if (bytes < kMinHeaderBytes || bytes > size) return false;
  header.boundsLeft = file.S32(8);
  header.boundsTop = file.S32(12);
  header.boundsRight = file.S32(16);
  header.boundsBottom = file.S32(20);
  header.frameLeft = file.S32(24);
  header.frameTop = file.S32(28);
  header.frameRight = file.S32(32);
  header.frameBottom = file.S32(36);
  header.devicePixelsX = file.S32(72);
  header.devicePixelsY = file.S32(76);
  header.deviceMmX = file.S32(80);
  header.deviceMmY = file.S32(84);
  return true;
}

void PlayEmf(const std::uint8_t* data, std::size_t size, TMetafilePlayback& playback) {
  TEmfPlayer player(playback);
  std::size_t at = 0;
  while (at <= size && size - at >= 8 && !playback.Exhausted()) {
    const TRecordBytes head(data + at, size - at);
    const std::uint32_t type = head.U32(0), bytes = head.U32(4);
    if (bytes < 8 || bytes % 4 != 0 || bytes > size - at || type == kEof) return;
    player.Record(type, TRecordBytes(data + at, bytes));
    at += bytes;
  }
}

}  // namespace veilora
