// Metafiles drawn by the program's painter device: hand-built EMF files with known colours at known
// points, and hand-built WMF files compared with libwmf's wmf2gd, an independent player, where
// anti-aliasing and fonts may differ (the colour at sample points, and each colour's share of the
// picture).

#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "io/IOParams.h"
#include "io/ImageIO.h"
#include "io/MetafilePlayer.h"
#include "shell/PainterMetafileDevice.h"
#include "support/HeadlessView.h"
#include "support/MetafileBuilder.h"
#include "support/Pixels.h"

namespace {

using namespace veilora;
using veilora::test::Dib24;
using veilora::test::EmfBuilder;
using veilora::test::Ref;
using veilora::test::WmfBuilder;

class MetafileRender : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = DefaultResolution();
    DefaultResolution() = {96, 96};
  }
  void TearDown() override { DefaultResolution() = saved_; }

  // Plays the bytes at their natural size onto a white bitmap.
  static void Render(std::vector<std::uint8_t> bytes, TBitmap& out) {
    TMetafileData data;
    ASSERT_TRUE(ParseMetafile(std::move(bytes), data));
    out.Allocate(data.width, data.height, pf24bit);
    out.Fill(clWhite);
    std::unique_ptr<TMetafileDevice> device = MakePainterMetafileDevice(out);
    PlayMetafile(data, *device, 0, 0, data.width, data.height);
  }

  static TColor At(const TBitmap& b, int x, int y) {
    const TRGB p = veilora::test::PixelAt(b, x, y);
    return RGBToColor(p.r, p.g, p.b);
  }

  TDefaultResolution saved_;
};

// A 100 x 100 pixel EMF (frame 26.4 mm on a reference device of 1000 pixels over 264 mm).
std::vector<std::uint8_t> Emf(const EmfBuilder& emf) {
  return emf.Bytes(99, 99, 2640, 2640);
}

TEST_F(MetafileRender, EmfShapesPicturesAndClipLandOnTheirPixels) {
  EmfBuilder emf;
  emf.NullPen();
  emf.Brush(1, Ref(255, 0, 0)).Select(1).Rectangle(10, 10, 40, 40);
  emf.Brush(2, Ref(0, 0, 255)).Select(2).Ellipse(50, 10, 90, 50);
  // Polygon16: a green triangle.
  emf.Brush(3, Ref(0, 255, 0))
      .Select(3)
      .Record(86, {10, 60, 40, 90, 3, 10 | (60 << 16), 40 | (60 << 16), 10 | (90 << 16)});
  // StretchDIBits: a 2 x 2 picture stretched over 60..90.
  const std::vector<std::uint8_t> dib =
      Dib24(2, 2, {Ref(255, 0, 0), Ref(0, 255, 0), Ref(0, 0, 255), Ref(255, 255, 0)});
  emf.Record(81,
             {60, 60, 90, 90, 60, 60, 0, 0, 2, 2, 80, 40, 120, static_cast<std::int64_t>(dib.size()) - 40, 0,
              0x00CC0020, 30, 30},
             dib);
  // A magenta band across y 45..55, clipped to the upper half; then the clip goes with RestoreDC.
  emf.Record(33, {}).Record(30, {0, 0, 100, 50});
  emf.Brush(4, Ref(255, 0, 255)).Select(4).Rectangle(0, 45, 100, 55);
  emf.Record(34, {-1}).Rectangle(0, 95, 100, 100);
  TBitmap bitmap;
  Render(Emf(emf), bitmap);
  ASSERT_EQ(bitmap.Width(), 100);
  const std::vector<std::tuple<int, int, TColor>> expected = {
      {25, 25, RGBToColor(255, 0, 0)},  {5, 5, clWhite},
      {70, 30, RGBToColor(0, 0, 255)},  {52, 12, clWhite},  // outside the ellipse's curve
      {15, 65, RGBToColor(0, 255, 0)},  {37, 87, clWhite},  // beyond the triangle's slant
      {67, 67, RGBToColor(255, 0, 0)},  {82, 67, RGBToColor(0, 255, 0)},
      {67, 82, RGBToColor(0, 0, 255)},  {82, 82, RGBToColor(255, 255, 0)},
      {5, 47, RGBToColor(255, 0, 255)}, {5, 52, clWhite},  // the clip cut the band
      {5, 97, RGBToColor(0, 255, 0)},  // after RestoreDC: no clip, and the brush saved with it
  };
  for (const auto& [x, y, colour] : expected) {
    EXPECT_EQ(At(bitmap, x, y), colour) << x << ", " << y;
  }
}

TEST_F(MetafileRender, EmfWorldTransformAndMapModeMoveTheShape) {
  EmfBuilder emf;
  emf.NullPen().Brush(1, Ref(0, 0, 0)).Select(1);
  // Rotate a quarter turn about the origin, then move by (60, 10): the square 0..20 x -20..0 lands
  // on 60..80 x 10..30.
  emf.Record(35, {EmfBuilder::Float(0), EmfBuilder::Float(1), EmfBuilder::Float(-1), EmfBuilder::Float(0),
                  EmfBuilder::Float(60), EmfBuilder::Float(10)});
  emf.Rectangle(0, -20, 20, 0);
  emf.Record(35, {EmfBuilder::Float(1), 0, 0, EmfBuilder::Float(1), 0, 0});
  // MM_LOMETRIC with the origin moved to (0, 100): 0.1 mm units with y upwards from the bottom.
  emf.Record(12, {0, 100}).Record(17, {2}).Rectangle(50, 50, 150, 150);  // 5..15 mm up and right
  TBitmap bitmap;
  Render(Emf(emf), bitmap);
  EXPECT_EQ(At(bitmap, 70, 20), clBlack);
  EXPECT_EQ(At(bitmap, 50, 20), clWhite);
  const int mmPixels = 1000 / 264;  // about 3.8 pixels a millimetre
  EXPECT_EQ(At(bitmap, 10 * mmPixels, 100 - 10 * mmPixels), clBlack);
  EXPECT_EQ(At(bitmap, 10 * mmPixels, 100 - 2 * mmPixels), clWhite);
}

TEST_F(MetafileRender, EmfTextDrawsInsideItsBox) {
  EmfBuilder emf;
  std::vector<std::uint8_t> font(92, 0);
  font[0] = static_cast<std::uint8_t>(-30);  // height -30: 30-pixel characters
  for (int i = 1; i < 4; ++i) font[i] = 0xFF;
  font[16] = 0x90;  // weight 400
  font[17] = 0x01;
  emf.Record(82, {1}, font).Select(1);
  std::vector<std::uint8_t> tail;
  for (const char16_t c : std::u16string(u"HH")) veilora::test::Put16(tail, c);
  emf.Record(18, {1});  // transparent background
  emf.Record(84, {0, 0, 0, 0, 1, 0, 0, 20, 30, 2, 76, 0, 0, 0, 0, 0, 0}, tail);
  TBitmap bitmap;
  Render(Emf(emf), bitmap);
  int inside = 0, outside = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 100; ++x) {
      const bool dark = veilora::test::PixelAt(bitmap, x, y).g < 128;
      const bool inBox = x >= 18 && x < 90 && y >= 28 && y < 66;
      (inBox ? inside : outside) += dark ? 1 : 0;
    }
  }
  EXPECT_GT(inside, 60);
  EXPECT_EQ(outside, 0);
}

// ---- against wmf2gd

// Runs wmf2gd on the file and reads its PNG.
QImage Wmf2Gd(const std::string& wmfName) {
  const std::string pngName = wmfName + ".png";
  const std::string command = "wmf2gd -t png -o '" + pngName + "' '" + wmfName + "' 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << "wmf2gd (Debian libwmf-bin) must be installed";
  QImage image(QString::fromStdString(pngName));
  if (std::getenv("VEILORA_KEEP_WMF2GD") == nullptr) std::remove(pngName.c_str());
  return image.convertToFormat(QImage::Format_RGB32);
}

// The nearest of the test's colours, or -1 for pixels near none of them (edges, anti-aliasing).
int Classify(QRgb c, const std::vector<QRgb>& palette) {
  for (std::size_t i = 0; i < palette.size(); ++i) {
    if (std::abs(qRed(c) - qRed(palette[i])) + std::abs(qGreen(c) - qGreen(palette[i])) +
            std::abs(qBlue(c) - qBlue(palette[i])) <
        60) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::vector<double> Shares(const QImage& image, const std::vector<QRgb>& palette) {
  std::vector<double> counts(palette.size(), 0);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const int k = Classify(image.pixel(x, y), palette);
      if (k >= 0) counts[static_cast<std::size_t>(k)] += 1;
    }
  }
  for (double& c : counts) c /= double(image.width()) * image.height();
  return counts;
}

QImage ToQImage(const TBitmap& b) {
  QImage image(b.Width(), b.Height(), QImage::Format_RGB32);
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB p = veilora::test::PixelAt(b, x, y);
      image.setPixel(x, y, qRgb(p.r, p.g, p.b));
    }
  }
  return image;
}

// Renders the WMF with both players; the two pictures may differ in size (wmf2gd draws at 72 dpi).
void RenderBoth(const std::vector<std::uint8_t>& bytes, const std::string& stem, QImage& ours,
                QImage& reference) {
  const std::string name = ::testing::TempDir() + stem + ".wmf";
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  reference = Wmf2Gd(name);
  if (std::getenv("VEILORA_KEEP_WMF2GD") == nullptr) std::remove(name.c_str());
  TMetafileData data;
  ASSERT_TRUE(ParseMetafile(bytes, data));
  TBitmap bitmap;
  bitmap.Allocate(data.width, data.height, pf24bit);
  bitmap.Fill(clWhite);
  PlayMetafile(data, *MakePainterMetafileDevice(bitmap), 0, 0, data.width, data.height);
  ours = ToQImage(bitmap);
  if (std::getenv("VEILORA_KEEP_WMF2GD") != nullptr) ours.save(QString::fromStdString(name + ".ours.png"));
}

// The box of the pixels of `colour` inside the part (fractions) of the picture, as fractions.
std::array<double, 4> ColourBox(const QImage& image, QRgb colour, double fx0, double fy0, double fx1,
                                double fy1) {
  std::array<double, 4> box{1, 1, 0, 0};
  const std::vector<QRgb> palette{colour};
  for (int y = static_cast<int>(fy0 * image.height()); y < static_cast<int>(fy1 * image.height()); ++y) {
    for (int x = static_cast<int>(fx0 * image.width()); x < static_cast<int>(fx1 * image.width()); ++x) {
      if (Classify(image.pixel(x, y), palette) != 0) continue;
      const double px = (x + 0.5) / image.width(), py = (y + 0.5) / image.height();
      box = {std::min(box[0], px), std::min(box[1], py), std::max(box[2], px), std::max(box[3], py)};
    }
  }
  return box;
}

// The drawing of both wmf2gd comparisons: 1000 x 1000 logical units (the window the records set)
// on 200 x 200 pixels. wmf2gd crops its picture to what is drawn, so a grey ground covers it all.
WmfBuilder Ground() {
  WmfBuilder wmf;
  wmf.MapMode(8).WindowOrg(0, 0).WindowExt(1000, 1000);
  wmf.Pen(5, 0, 0).Select(0);  // null pen: slot 0
  wmf.Brush(0, Ref(192, 192, 192)).Select(1).Rectangle(0, 0, 1000, 1000);
  return wmf;
}

TEST_F(MetafileRender, WmfFilledShapesMatchWmf2Gd) {
  WmfBuilder wmf = Ground();
  wmf.Brush(0, Ref(255, 0, 0)).Select(2).Rectangle(100, 100, 450, 450);
  wmf.Brush(0, Ref(0, 160, 0)).Select(3).Polygon({100, 550, 450, 550, 100, 900});
  // A pie over the box 550..950 from the top to the left: counter-clockwise, the upper-left quarter.
  wmf.Brush(0, Ref(255, 0, 255)).Select(4).Record(0x081A, {750, 550, 550, 750, 950, 950, 550, 550});
  // PolyPolygon: two blue squares in the upper right.
  wmf.Brush(0, Ref(0, 0, 255))
      .Select(5)
      .Record(0x0538,
              {2, 4, 4, 550, 100, 700, 100, 700, 250, 550, 250, 800, 300, 950, 300, 950, 450, 800, 450});
  QImage ours, reference;
  RenderBoth(wmf.Bytes(0, 0, 1000, 1000, 480), "veilora_wmf2gd_fill", ours, reference);
  ASSERT_FALSE(reference.isNull());
  ASSERT_EQ(ours.width(), 200);
  const std::vector<QRgb> palette = {qRgb(192, 192, 192), qRgb(255, 0, 0), qRgb(0, 160, 0), qRgb(255, 0, 255),
                                     qRgb(0, 0, 255)};
  // Sample points as fractions of the picture, so that the two sizes need not agree.
  const std::vector<std::pair<double, double>> samples = {
      {0.27, 0.27}, {0.05, 0.05}, {0.2, 0.65}, {0.4, 0.85},  {0.7, 0.7}, {0.85, 0.85},
      {0.62, 0.17}, {0.87, 0.37}, {0.87, 0.2}, {0.62, 0.37}, {0.5, 0.5}};
  for (const auto& [fx, fy] : samples) {
    const QRgb a = ours.pixel(static_cast<int>(fx * ours.width()), static_cast<int>(fy * ours.height()));
    const QRgb b =
        reference.pixel(static_cast<int>(fx * reference.width()), static_cast<int>(fy * reference.height()));
    EXPECT_GE(Classify(a, palette), 0) << fx << ", " << fy;
    EXPECT_EQ(Classify(a, palette), Classify(b, palette)) << fx << ", " << fy;
  }
  const std::vector<double> ourShares = Shares(ours, palette), theirShares = Shares(reference, palette);
  for (std::size_t i = 0; i < palette.size(); ++i)
    EXPECT_NEAR(ourShares[i], theirShares[i], 0.015) << "colour " << i;
}

TEST_F(MetafileRender, WmfOutlinesMatchWmf2Gd) {
  // wmf2gd outlines ellipses and chords without filling them, so these are compared as outlines:
  // where each shape's pen pixels lie.
  WmfBuilder wmf = Ground();
  wmf.Pen(0, 0, Ref(0, 0, 0)).Select(2).Brush(1, 0).Select(3);  // black cosmetic pen, null brush
  wmf.Ellipse(100, 100, 900, 500);
  // A chord of the box 300..700 x 550..950, counter-clockwise from the left to the right: the
  // lower half.
  wmf.Record(0x0830, {750, 700, 750, 300, 950, 700, 550, 300});
  QImage ours, reference;
  RenderBoth(wmf.Bytes(0, 0, 1000, 1000, 480), "veilora_wmf2gd_outline", ours, reference);
  ASSERT_FALSE(reference.isNull());
  const QRgb black = qRgb(0, 0, 0);
  for (const auto& part : std::vector<std::array<double, 4>>{{0, 0, 1, 0.52}, {0, 0.52, 1, 1}}) {
    const std::array<double, 4> a = ColourBox(ours, black, part[0], part[1], part[2], part[3]);
    const std::array<double, 4> b = ColourBox(reference, black, part[0], part[1], part[2], part[3]);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(a[k], b[k], 0.02) << "part from " << part[1] << ", side " << k;
  }
}

TEST_F(MetafileRender, TheRegisteredPlayerLoadsAFileIntoADocument) {
  InstallMetafilePlayer();
  const std::string name = ::testing::TempDir() + "veilora_document.wmf";
  WmfBuilder wmf;
  wmf.Pen(5, 0, 0).Select(0).Brush(0, Ref(10, 200, 30)).Select(1).Rectangle(0, 0, 50, 100);
  const std::vector<std::uint8_t> bytes = wmf.Bytes(0, 0, 100, 100, 96);
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  veilora::test::HeadlessView view;
  view.Bitmap()->Allocate(3, 3, pf24bit);
  view.SetBackground(RGBToColor(1, 2, 3));
  TImageIO io;
  io.SetAttachedView(&view);
  io.LoadFromFile(name);
  std::remove(name.c_str());
  EXPECT_FALSE(io.Aborting);
  ASSERT_EQ(view.Bitmap()->Width(), 99);
  EXPECT_EQ(At(*view.Bitmap(), 20, 50), RGBToColor(10, 200, 30));
  EXPECT_EQ(At(*view.Bitmap(), 80, 50), RGBToColor(1, 2, 3));  // the background shows through
}

}  // namespace
