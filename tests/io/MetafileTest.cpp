// The metafile record readers against a device that records what it is asked to draw: the
// coordinate mapping, the object table, the state stack, the clip, text and pictures, and the
// limits that keep a hostile file from running away.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "io/IOParams.h"
#include "io/ImageIO.h"
#include "io/MetafilePlayer.h"
#include "support/HeadlessView.h"
#include "support/MetafileBuilder.h"

namespace {

using namespace veilora;
using veilora::test::Dib24;
using veilora::test::EmfBuilder;
using veilora::test::Ref;
using veilora::test::WmfBuilder;

struct Call {
  std::string kind;  // fill, stroke, text, image, clip
  TMfPath path;
  TColor colour = 0;
  double width = 0;
  TMfText text;
  TMfPoint corners[3];
  int imageWidth = 0;
  TColor imageTopLeft = 0;
  std::size_t clipSteps = 0;
};

Call MakeCall(const char* kind, const TMfPath& path = {}, TColor colour = 0) {
  Call c;
  c.kind = kind;
  c.path = path;
  c.colour = colour;
  return c;
}

class RecordingDevice : public TMetafileDevice {
 public:
  void FillPath(const TMfPath& path, bool, const TMfBrush& brush, const TMfBackground&, TMfMix) override {
    calls.push_back(MakeCall("fill", path, brush.colour));
  }
  void StrokePath(const TMfPath& path, const TMfPen& pen, const TMfBackground&, TMfMix) override {
    Call c = MakeCall("stroke", path, pen.colour);
    c.width = pen.width;
    calls.push_back(c);
  }
  double DrawText(const TMfText& text) override {
    Call c = MakeCall("text");
    c.text = text;
    calls.push_back(c);
    return 10;
  }
  void DrawImage(const TBitmap& image, const TMfPoint& a, const TMfPoint& b, const TMfPoint& d,
                 TMfMix) override {
    Call c = MakeCall("image");
    c.corners[0] = a;
    c.corners[1] = b;
    c.corners[2] = d;
    c.imageWidth = image.Width();
    const std::uint8_t* p = image.ScanLine(0);
    c.imageTopLeft = RGBToColor(p[2], p[1], p[0]);
    calls.push_back(c);
  }
  void SetClip(const std::vector<TMfClipStep>& steps) override {
    Call c = MakeCall("clip");
    c.clipSteps = steps.size();
    if (!steps.empty()) c.path = steps.back().area;
    calls.push_back(c);
  }

  std::vector<Call> Of(const std::string& kind) const {
    std::vector<Call> out;
    for (const Call& c : calls) {
      if (c.kind == kind) out.push_back(c);
    }
    return out;
  }
  std::vector<Call> calls;
};

// Plays the bytes at their natural size onto a recording device.
RecordingDevice Play(std::vector<std::uint8_t> bytes, TMetafileData* parsed = nullptr) {
  RecordingDevice device;
  TMetafileData data;
  EXPECT_TRUE(ParseMetafile(std::move(bytes), data));
  PlayMetafile(data, device, 0, 0, data.width, data.height);
  if (parsed != nullptr) *parsed = data;
  return device;
}

// Bounding box of a call's path: left, top, right, bottom.
std::array<double, 4> Box(const Call& c) {
  std::array<double, 4> b{1e9, 1e9, -1e9, -1e9};
  for (const TMfFigure& f : c.path.figures) {
    for (const TMfPoint& p : f.points) {
      b = {std::min(b[0], p.x), std::min(b[1], p.y), std::max(b[2], p.x), std::max(b[3], p.y)};
    }
  }
  return b;
}

class MetafileResolution : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = DefaultResolution();
    DefaultResolution() = {96, 96};
  }
  void TearDown() override { DefaultResolution() = saved_; }
  TDefaultResolution saved_;
};

// ---- recognising and sizing

using MetafileSize = MetafileResolution;

TEST_F(MetafileSize, ComesFromPlaceableBoundsWindowExtentOrEmfFrame) {
  TMetafileData data;
  // 2880 units at 1440 per inch: two inches, 192 pixels at 96 dpi.
  ASSERT_TRUE(ParseMetafile(WmfBuilder().Bytes(0, 0, 2880, 1440, 1440), data));
  EXPECT_FALSE(data.enhanced);
  EXPECT_EQ(data.width, 192);
  EXPECT_EQ(data.height, 96);
  // Without placeable bounds the first window counts, a logical unit to a pixel.
  ASSERT_TRUE(ParseMetafile(
      WmfBuilder().MapMode(8).WindowOrg(10, 20).WindowExt(300, 200).Bytes(0, 0, 0, 0, 0), data));
  EXPECT_EQ(data.width, 300);
  EXPECT_EQ(data.height, 200);
  EXPECT_EQ(data.wmf.left, 10);
  // 5080 hundredths of a millimetre are two inches.
  ASSERT_TRUE(ParseMetafile(EmfBuilder().Bytes(99, 49, 5080, 2540), data));
  EXPECT_TRUE(data.enhanced);
  EXPECT_EQ(data.width, 192);
  EXPECT_EQ(data.height, 96);
}

TEST_F(MetafileSize, RefusesOtherData) {
  TMetafileData data;
  const std::vector<std::vector<std::uint8_t>> refused = {
      {},
      {'B', 'M', 0, 0},
      WmfBuilder().Rectangle(0, 0, 5, 5).Bytes(0, 0, 0, 0, 0),  // no placeable bounds and no window
      WmfBuilder().Bytes(0, 0, 100, 100, 0x10000),              // units per inch of 0 (the 16 bits wrap)
  };
  for (const auto& bytes : refused) EXPECT_FALSE(ParseMetafile(bytes, data)) << bytes.size();
  std::vector<std::uint8_t> emf = EmfBuilder().Bytes(9, 9, 100, 100);
  emf[4] = 0xFF;  // a header record longer than the file
  emf[5] = 0xFF;
  EXPECT_FALSE(ParseMetafile(emf, data));
}

// ---- Windows metafile records

using WmfPlayback = MetafileResolution;

TEST_F(WmfPlayback, MapsTheBoundsOntoTheTargetAndFollowsTheRecordsWindow) {
  // Bounds 0..1000 at 1000 per inch: 96 x 96 pixels; a logical unit is 0.096 pixels.
  RecordingDevice d = Play(WmfBuilder().Rectangle(0, 0, 500, 250).Bytes(0, 0, 1000, 1000, 1000));
  ASSERT_EQ(d.Of("fill").size(), 1u);
  EXPECT_EQ(Box(d.Of("fill")[0]), (std::array<double, 4>{0, 0, 48, 24}));
  // The records set their own window: 100 units now span the picture.
  d = Play(WmfBuilder()
               .MapMode(8)
               .WindowOrg(-50, 0)
               .WindowExt(100, 100)
               .Rectangle(-50, 0, 0, 50)
               .Bytes(0, 0, 1000, 1000, 1000));
  EXPECT_EQ(Box(d.Of("fill").at(0)), (std::array<double, 4>{0, 0, 48, 48}));
}

TEST_F(WmfPlayback, ObjectsTakeTheLowestFreeSlot) {
  // Slots: 0 red, 1 a palette, 2 blue; 0 is freed and the green brush made next takes it.
  WmfBuilder wmf;
  wmf.Brush(0, Ref(255, 0, 0)).Record(0x00F7, {0x300, 0}).Brush(0, Ref(0, 0, 255)).Delete(0);
  wmf.Brush(0, Ref(0, 255, 0)).Select(0).Rectangle(0, 0, 10, 10).Select(2).Rectangle(0, 0, 10, 10);
  wmf.Select(1).Select(7).Rectangle(0, 0, 10, 10);  // a palette and an empty slot change nothing
  // The header says there are no objects; the table does not believe it.
  const RecordingDevice d = Play(wmf.Bytes(0, 0, 100, 100, 96, 0));
  const std::vector<Call> fills = d.Of("fill");
  ASSERT_EQ(fills.size(), 3u);
  EXPECT_EQ(fills[0].colour, RGBToColor(0, 255, 0));
  EXPECT_EQ(fills[1].colour, RGBToColor(0, 0, 255));
  EXPECT_EQ(fills[2].colour, RGBToColor(0, 0, 255));
}

TEST_F(WmfPlayback, RecordsAreWalkedByTheirOwnSizes) {
  // The header claims a tiny file; every record still plays. A record whose size runs past the end
  // of the file ends the walk without reading beyond it.
  std::vector<std::uint8_t> bytes =
      WmfBuilder().Rectangle(0, 0, 10, 10).Rectangle(0, 0, 20, 20).Bytes(0, 0, 96, 96, 96);
  bytes[22 + 6] = 1;  // file size in words
  EXPECT_EQ(Play(bytes).Of("fill").size(), 2u);
  WmfBuilder cut;
  cut.Rectangle(0, 0, 10, 10).Raw({0xFF, 0xFF, 0, 0, 0x1B, 0x04, 1, 2}).Rectangle(0, 0, 20, 20);
  EXPECT_EQ(Play(cut.Bytes(0, 0, 96, 96, 96)).Of("fill").size(), 1u);
  WmfBuilder zero;
  zero.Raw({0, 0, 0, 0, 0x1B, 0x04}).Rectangle(0, 0, 20, 20);  // a record of size 0
  EXPECT_EQ(Play(zero.Bytes(0, 0, 96, 96, 96)).Of("fill").size(), 0u);
}

TEST_F(WmfPlayback, TheObjectTableIsCapped) {
  WmfBuilder wmf;
  for (std::size_t i = 0; i < kMaxWmfObjects + 10; ++i) wmf.Brush(0, Ref(1, 2, 3));
  wmf.Select(static_cast<int>(kMaxWmfObjects + 5)).Rectangle(0, 0, 10, 10);
  const RecordingDevice d = Play(wmf.Bytes(0, 0, 96, 96, 96));
  ASSERT_EQ(d.Of("fill").size(), 1u);
  EXPECT_EQ(d.Of("fill")[0].colour, clWhite);  // the slot past the cap was never made
}

TEST_F(WmfPlayback, SaveAndRestoreBringBackPenBrushAndClip) {
  WmfBuilder wmf;
  wmf.Brush(0, Ref(9, 9, 9)).Select(0).Record(0x001E, {});                 // SaveDC
  wmf.Brush(0, Ref(200, 0, 0)).Select(1).Record(0x0416, {50, 50, 0, 0});   // IntersectClipRect
  wmf.Record(0x0127, {static_cast<int>(0xFFFF)}).Rectangle(0, 0, 10, 10);  // RestoreDC(-1)
  const RecordingDevice d = Play(wmf.Bytes(0, 0, 96, 96, 96));
  EXPECT_EQ(d.Of("fill").at(0).colour, RGBToColor(9, 9, 9));
  const std::vector<Call> clips = d.Of("clip");
  ASSERT_EQ(clips.size(), 2u);
  EXPECT_EQ(clips[0].clipSteps, 1u);
  EXPECT_EQ(clips[1].clipSteps, 0u);
}

TEST_F(WmfPlayback, TextRecordsDecodeTheWesternCodePage) {
  WmfBuilder wmf;
  wmf.Colour(0x0209, Ref(0, 0, 200));                          // SetTextColor
  wmf.Record(0x0521, {3}, {'A', 0x80, 'z', 0, 20, 0, 10, 0});  // TextOut "A€z" at (10, 20)
  // ExtTextOut at (30, 40) with per-character advances of 5 and 7 units.
  wmf.Record(0x0A32, {40, 30, 2, 0}, {'o', 'k', 5, 0, 7, 0});
  const RecordingDevice d = Play(wmf.Bytes(0, 0, 96, 96, 96));
  const std::vector<Call> texts = d.Of("text");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text.text, u"A\u20ACz");
  EXPECT_EQ(texts[0].text.colour, RGBToColor(0, 0, 200));
  EXPECT_DOUBLE_EQ(texts[0].text.origin.x, 10);
  EXPECT_DOUBLE_EQ(texts[0].text.origin.y, 20);
  EXPECT_EQ(texts[1].text.text, u"ok");
  EXPECT_EQ(texts[1].text.advances, (std::vector<double>{5, 7}));
}

TEST_F(WmfPlayback, StretchDibDrawsTheSourceRectangleCountedFromTheBottom) {
  // A 2 x 2 picture: top row red, green; bottom row blue, white. Source (0, 0) of 1 x 1 in a
  // bottom-up bitmap is the bottom-left pixel.
  const std::vector<std::uint8_t> dib =
      Dib24(2, 2, {Ref(255, 0, 0), Ref(0, 255, 0), Ref(0, 0, 255), Ref(255, 255, 255)});
  WmfBuilder wmf;
  wmf.Record(0x0F43, {0x0020, 0x00CC, 0, 1, 1, 0, 0, 40, 30, 10, 20}, dib);
  wmf.Record(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 40, 30, 10, 20}, dib);
  const RecordingDevice d = Play(wmf.Bytes(0, 0, 96, 96, 96));
  const std::vector<Call> images = d.Of("image");
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].imageWidth, 1);
  EXPECT_EQ(images[0].imageTopLeft, RGBToColor(0, 0, 255));
  EXPECT_EQ(images[1].imageTopLeft, RGBToColor(255, 0, 0));
  EXPECT_DOUBLE_EQ(images[1].corners[0].x, 20);
  EXPECT_DOUBLE_EQ(images[1].corners[0].y, 10);
  EXPECT_DOUBLE_EQ(images[1].corners[1].x, 50);  // 30 wide
  EXPECT_DOUBLE_EQ(images[1].corners[2].y, 50);  // 40 high
}

TEST_F(WmfPlayback, ArcsRunCounterClockwiseOnTheScreen) {
  // A pie over the box 0..100 from the right (100, 50) to the top (50, 0): counter-clockwise that
  // is the top-right quarter, so every point lies up and to the right of the centre.
  const RecordingDevice d =
      Play(WmfBuilder().Record(0x081A, {0, 50, 50, 100, 100, 100, 0, 0}).Bytes(0, 0, 96, 96, 96));
  const Call fill = d.Of("fill").at(0);
  for (const TMfPoint& p : fill.path.figures.at(0).points) {
    EXPECT_GE(p.x, 50 - 1e-9);
    EXPECT_LE(p.y, 50 + 1e-9);
  }
}

// ---- enhanced metafile records

using EmfPlayback = MetafileResolution;

TEST_F(EmfPlayback, MapModesWorldTransformAndTheFrame) {
  // A reference device of 1000 pixels over 264 mm; the frame 0..2640 hundredths of a mm is 26.4 mm,
  // 100 reference pixels, drawn at its natural 100 x 100 pixels.
  EmfBuilder emf;
  emf.Brush(1, Ref(1, 1, 1)).Select(1).NullPen();
  emf.Rectangle(0, 0, 10, 10);
  emf.Record(17, {2});           // MM_LOMETRIC: 0.1 mm, y upwards
  emf.Rectangle(0, 0, 10, -10);  // 1 mm square below the origin
  emf.Record(17, {1});           // back to MM_TEXT
  emf.Record(
      36, {EmfBuilder::Float(2), 0, 0, EmfBuilder::Float(2), EmfBuilder::Float(5), 0, 2});  // left multiply
  emf.Rectangle(0, 0, 10, 10);
  TMetafileData data;
  const RecordingDevice d = Play(emf.Bytes(37, 37, 2640, 2640), &data);
  ASSERT_EQ(data.width, 100);
  const std::vector<Call> fills = d.Of("fill");
  ASSERT_EQ(fills.size(), 3u);
  const double scale = 100 / (2640 * (1000.0 / 264) / 100);  // target pixels per reference pixel
  const std::array<double, 4> plain = Box(fills[0]);
  EXPECT_NEAR(plain[2], 10 * scale, 1e-6);
  const std::array<double, 4> metric = Box(fills[1]);
  EXPECT_NEAR(metric[2], 1000.0 / 264 * scale, 1e-6);  // 1 mm
  EXPECT_NEAR(metric[3], 1000.0 / 264 * scale, 1e-6);
  const std::array<double, 4> world = Box(fills[2]);
  EXPECT_NEAR(world[0], 5 * scale, 1e-6);
  EXPECT_NEAR(world[2], 25 * scale, 1e-6);
}

TEST_F(EmfPlayback, HeaderCountsAreNotTrustedAndBadRecordsEndTheWalk) {
  EmfBuilder emf;
  emf.Brush(1, Ref(5, 5, 5)).Select(1).Rectangle(0, 0, 5, 5).Rectangle(0, 0, 6, 6);
  EXPECT_EQ(Play(emf.Bytes(99, 99, 2640, 2640, 1000, 264, 1)).Of("fill").size(), 2u);
  // A rectangle record too short for its fields reads zeros for the missing ones; the walk goes on.
  emf.Record(43, {0, 0}).Rectangle(0, 0, 7, 7);
  EXPECT_EQ(Play(emf.Bytes(99, 99, 2640, 2640)).Of("fill").size(), 4u);
  std::vector<std::uint8_t> bytes = emf.Bytes(99, 99, 2640, 2640);
  bytes[88 + 4] = 6;  // the first record's size is no multiple of 4
  EXPECT_EQ(Play(bytes).Of("fill").size(), 0u);
}

TEST_F(EmfPlayback, StockObjectsAndIndexesOutOfRange) {
  EmfBuilder emf;
  emf.Brush(0x10000, Ref(7, 7, 7)).Select(0x10000);  // past the index limit: never stored
  emf.Select(0x80000004u).Rectangle(0, 0, 5, 5);     // BLACK_BRUSH
  emf.Select(0x80000005u).Rectangle(0, 0, 5, 5);     // NULL_BRUSH fills nothing
  const RecordingDevice d = Play(emf.Bytes(99, 99, 2640, 2640));
  ASSERT_EQ(d.Of("fill").size(), 1u);
  EXPECT_EQ(d.Of("fill")[0].colour, clBlack);
  EXPECT_EQ(d.Of("stroke").size(), 2u);  // the default black pen outlines both
}

TEST_F(EmfPlayback, PathsBecomeFillsAndClips) {
  EmfBuilder emf;
  emf.Record(59, {});  // BeginPath
  emf.Record(27, {10, 10}).Record(54, {20, 10}).Record(54, {20, 20});
  emf.Record(61, {}).Record(60, {});  // CloseFigure, EndPath
  emf.Record(67, {5});                // SelectClipPath(RGN_COPY)
  emf.Record(59, {}).Rectangle(0, 0, 4, 4).Record(60, {}).Record(62, {0, 0, 0, 0});  // FillPath
  emf.Record(75, {0, 5});  // ExtSelectClipRgn(RGN_COPY, none): no clip
  const RecordingDevice d = Play(emf.Bytes(99, 99, 2640, 2640));
  const std::vector<Call> clips = d.Of("clip");
  ASSERT_EQ(clips.size(), 2u);
  EXPECT_EQ(clips[0].clipSteps, 1u);
  ASSERT_EQ(clips[0].path.figures.size(), 1u);
  EXPECT_EQ(clips[0].path.figures[0].points.size(), 3u);
  EXPECT_EQ(clips[1].clipSteps, 0u);
  EXPECT_EQ(d.Of("fill").size(), 1u);
  EXPECT_EQ(d.Of("stroke").size(), 0u);  // drawing inside a path bracket only records
}

TEST_F(EmfPlayback, ExtTextOutWCarriesTextAdvancesAndAlignment) {
  EmfBuilder emf;
  emf.Record(22, {24});  // TA_BASELINE
  std::vector<std::uint8_t> tail;
  for (const char16_t c : std::u16string(u"Hi\u00E9")) veilora::test::Put16(tail, c);
  veilora::test::Put16(tail, 0);
  for (const int dx : {3, 4, 5}) veilora::test::Put32(tail, static_cast<std::uint32_t>(dx));
  // Bounds, graphics mode, scales; then the text: reference (30, 40), 3 characters at 76, no
  // options, a rectangle, advances at 84.
  emf.Record(84, {0, 0, 0, 0, 1, 0, 0, 30, 40, 3, 76, 0, 0, 0, 0, 0, 84}, tail);
  TMetafileData data;
  RecordingDevice d;
  ASSERT_TRUE(ParseMetafile(emf.Bytes(99, 99, 2640, 2640), data));
  PlayMetafile(data, d, 0, 0, 100, 100);  // the frame is 100 reference pixels: one to a target pixel
  const std::vector<Call> texts = d.Of("text");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].text.text, u"Hi\u00E9");
  EXPECT_EQ(texts[0].text.alignY, TMfTextAlignY::Baseline);
  EXPECT_NEAR(texts[0].text.origin.x, 30, 1e-9);
  ASSERT_EQ(texts[0].text.advances.size(), 3u);
  EXPECT_NEAR(texts[0].text.advances[2], 5, 1e-9);
}

// ---- limits

TEST(MetafileLimits, DrawingStopsOnceTheWorkBudgetIsSpent) {
  // A 14-byte ellipse record over a large picture flattens to over a thousand points, filled and
  // outlined: a small file asks for far more work than the budget allows.
  struct CountingDevice : TMetafileDevice {
    void FillPath(const TMfPath&, bool, const TMfBrush&, const TMfBackground&, TMfMix) override { ++fills; }
    void StrokePath(const TMfPath&, const TMfPen&, const TMfBackground&, TMfMix) override {}
    double DrawText(const TMfText&) override { return 0; }
    void DrawImage(const TBitmap&, const TMfPoint&, const TMfPoint&, const TMfPoint&, TMfMix) override {}
    void SetClip(const std::vector<TMfClipStep>&) override {}
    std::size_t fills = 0;
  };
  constexpr int kRecords = 20000;
  WmfBuilder wmf;
  for (int i = 0; i < kRecords; ++i) wmf.Ellipse(0, 0, 30000, 30000);
  TMetafileData data;
  ASSERT_TRUE(ParseMetafile(wmf.Bytes(0, 0, 30000, 30000, 96), data));
  CountingDevice device;
  PlayMetafile(data, device, 0, 0, data.width, data.height);
  EXPECT_GT(device.fills, static_cast<std::size_t>(TMetafilePlayback::kMaxWork / 4200));
  EXPECT_LT(device.fills, static_cast<std::size_t>(kRecords / 2));
}

TEST(MetafileLimits, TheSaveStackAndClipListStayBounded) {
  EmfBuilder emf;
  for (std::size_t i = 0; i < TMetafilePlayback::kMaxSaveDepth + 50; ++i) emf.Record(33, {});
  for (std::size_t i = 0; i < TMetafilePlayback::kMaxClipSteps + 50; ++i) emf.Record(30, {0, 0, 50, 50});
  emf.Record(34, {-100000});  // further back than anything saved: ignored
  const RecordingDevice d = Play(emf.Bytes(99, 99, 2640, 2640));
  std::size_t most = 0;
  for (const Call& c : d.Of("clip")) most = std::max(most, c.clipSteps);
  EXPECT_EQ(most, TMetafilePlayback::kMaxClipSteps);
}

TEST(MetafileLimits, ExtremeNumbersGiveFiniteDeviceCoordinates) {
  const std::vector<std::uint8_t> dib = Dib24(2, 2, {0, 0, 0, 0});
  EmfBuilder emf;
  // A source row offset at the bottom of the 32-bit range, counted from the bottom of the picture.
  emf.Record(81,
             {0, 0, 0, 0, 0, 0, 0, -2147483647 - 1, 2, 2147483647, 80, 40, 120,
              static_cast<std::int64_t>(dib.size()) - 40, 0, 0x00CC0020, 30, 30},
             dib);
  // A world transform scaling by 1e38, then shapes, text and an arc at the far ends of the range.
  emf.Record(35, {EmfBuilder::Float(1e38f), 0, 0, EmfBuilder::Float(1e38f), EmfBuilder::Float(-1e38f), 0});
  emf.Ellipse(-2147483647, -2147483647, 2147483647, 2147483647);
  emf.Record(44, {-2147483647, 0, 2147483647, 10, 2147483647, 2147483647});
  emf.Record(41, {0, 0, 2147483647, EmfBuilder::Float(1e30f), EmfBuilder::Float(-1e30f)});
  std::vector<std::uint8_t> font(92, 0);
  font[0] = font[1] = font[2] = 0xFF;
  font[3] = 0x7F;
  emf.Record(82, {1}, font).Select(1);
  std::vector<std::uint8_t> tail{'x', 0, 0, 0};
  emf.Record(84, {0, 0, 0, 0, 1, 0, 0, 2147483647, 5, 1, 76, 0, 0, 0, 0, 0, 0}, tail);
  const RecordingDevice d = Play(emf.Bytes(99, 99, 2640, 2640));
  EXPECT_FALSE(d.calls.empty());
  for (const Call& c : d.calls) {
    for (const TMfFigure& f : c.path.figures) {
      for (const TMfPoint& p : f.points) {
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::abs(p.x) <= 1e7 && std::abs(p.y) <= 1e7)
            << c.kind;
      }
    }
    EXPECT_TRUE(std::isfinite(c.width) && std::isfinite(c.text.height) && std::abs(c.text.height) <= 1e7)
        << c.kind;
  }
}

// ---- through the load operation

class FrameRecorder {
 public:
  static std::vector<Call>& Calls() {
    static std::vector<Call> calls;
    return calls;
  }
};

class ForwardingDevice : public RecordingDevice {
 public:
  ~ForwardingDevice() override { FrameRecorder::Calls() = calls; }
};

TEST_F(MetafileResolution, LoadFromFileSizesTheBitmapAndReportsTheType) {
  const std::string wmfName = ::testing::TempDir() + "veilora_drawing.wmf";
  const std::string emfName = ::testing::TempDir() + "veilora_drawing.emf";
  {
    const std::vector<std::uint8_t> wmf = WmfBuilder().Rectangle(0, 0, 10, 10).Bytes(0, 0, 1440, 720, 1440);
    std::ofstream(wmfName, std::ios::binary)
        .write(reinterpret_cast<const char*>(wmf.data()), static_cast<std::streamsize>(wmf.size()));
    const std::vector<std::uint8_t> emf = EmfBuilder().Rectangle(0, 0, 10, 10).Bytes(99, 49, 2540, 1270);
    std::ofstream(emfName, std::ios::binary)
        .write(reinterpret_cast<const char*>(emf.data()), static_cast<std::streamsize>(emf.size()));
  }
  SetMetafilePlayer(
      std::make_unique<TRecordMetafilePlayer>([](TBitmap&) { return std::make_unique<ForwardingDevice>(); }));
  veilora::test::HeadlessView view;
  view.Bitmap()->Allocate(5, 5, pf24bit);
  TImageIO io;
  io.SetAttachedView(&view);
  io.LoadFromFile(wmfName);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, ftWMF);
  EXPECT_EQ(view.Bitmap()->Width(), 95);  // one inch at 96 dpi, one pixel less
  EXPECT_EQ(view.Bitmap()->Height(), 47);
  EXPECT_EQ(FrameRecorder::Calls().size(), 2u);  // the rectangle's fill and outline
  io.LoadFromFile(emfName);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, ftEMF);
  EXPECT_EQ(view.Bitmap()->Width(), 95);
  SetMetafilePlayer(nullptr);
  std::remove(wmfName.c_str());
  std::remove(emfName.c_str());
}

}  // namespace
