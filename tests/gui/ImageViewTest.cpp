#include "view/ImageView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <set>
#include <vector>

#include "image/Display.h"

using namespace veilora;

namespace {

QRgb Rgb(TColor colour) {
  const TColor rgb = ColorToRGB(colour);
  return qRgb(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

// Sets pixel (x, y), counted from the top-left corner, of a 24-bit bitmap.
void SetPixel(TBitmap& bitmap, int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  std::uint8_t* pixel = bitmap.ScanLine(y) + 3 * x;
  pixel[0] = blue;
  pixel[1] = green;
  pixel[2] = red;
}

// A picture whose every pixel tells where it is: red = x, green = y (both mod 256), blue = 77.
void FillCoordinates(TBitmap& bitmap, int width, int height) {
  bitmap.Allocate(width, height, pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      SetPixel(bitmap, x, y, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 77);
    }
  }
}

QRgb At(int x, int y) {
  return qRgb(x & 0xFF, y & 0xFF, 77);
}

// Renders the viewport the way the window system asks for it (a paint event) into an image that
// starts out magenta, so that a paint that draws nothing leaves it magenta.
QImage Rendered(TImageView& view) {
  QImage image(view.viewport()->size(), QImage::Format_RGB32);
  image.fill(qRgb(255, 0, 255));
  view.viewport()->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
  return image;
}

// A view without a frame, so that the client area is the widget's size while no bar is shown.
class ImageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.SetBorderStyle(bsNone);
    view.SetBackground(clWhite);
    view.resize(200, 150);
    view.Update();
    view.OnViewChange = [this](TObject&, int change) { changes.push_back(change); };
  }

  QImage Painted() {
    QImage image;
    view.PaintTo(image);
    return image;
  }

  TImageView view;
  std::vector<int> changes;
};

// ---------------------------------------------------------------- pixels

TEST_F(ImageViewTest, PaintsTheImageOneToOneWithTheTopRowAtTheTop) {
  FillCoordinates(*view.Bitmap(), 40, 30);
  view.Update();
  const QImage image = Painted();
  ASSERT_EQ(image.size(), QSize(200, 150));
  EXPECT_EQ(image.pixel(0, 0), At(0, 0));
  EXPECT_EQ(image.pixel(39, 29), At(39, 29));
  EXPECT_EQ(image.pixel(12, 7), At(12, 7));
  // Beside and below the image: the solid background.
  EXPECT_EQ(image.pixel(40, 0), Rgb(clWhite));
  EXPECT_EQ(image.pixel(0, 30), Rgb(clWhite));
  EXPECT_EQ(image.pixel(199, 149), Rgb(clWhite));
}

TEST_F(ImageViewTest, MagnifiesAndShrinksByNearestPixel) {
  FillCoordinates(*view.Bitmap(), 300, 200);
  view.SetZoom(200);
  QImage image = Painted();
  for (int y = 0; y < 150; y += 7) {
    for (int x = 0; x < 200; x += 5) ASSERT_EQ(image.pixel(x, y), At(x / 2, y / 2)) << x << "," << y;
  }

  view.SetZoom(50);  // 150 x 100: each screen pixel shows the second of each pair of bitmap pixels
  image = Painted();
  for (int y = 0; y < 100; y += 3) {
    for (int x = 0; x < 150; x += 4) ASSERT_EQ(image.pixel(x, y), At(2 * x + 1, 2 * y + 1)) << x << "," << y;
  }
  EXPECT_EQ(image.pixel(150, 0), Rgb(clWhite));
  EXPECT_EQ(image.pixel(0, 100), Rgb(clWhite));
}

TEST_F(ImageViewTest, ScrolledPaintStartsAtTheOrigin) {
  FillCoordinates(*view.Bitmap(), 600, 500);
  view.Update();
  view.SetViewOrigin(130, 70);
  QImage image = Painted();
  EXPECT_EQ(image.pixel(0, 0), At(130, 70));
  EXPECT_EQ(image.pixel(199, 149), At(329, 219));

  // The origin keeps its value at 300%. The visible source starts at Round(130 / 3), Round(70 / 3)
  // and spans Round(200 / 3) x Round(150 / 3) pixels, stretched over the client area.
  view.SetZoom(300);
  EXPECT_EQ(view.Geometry().SourceRect(), (TExtentRect{43, 23, 67, 50}));
  image = Painted();
  EXPECT_EQ(image.pixel(0, 0), At(43, 23));
  EXPECT_EQ(image.pixel(199, 149), At(43 + 399 * 67 / 400, 23 + 49));
}

// A large client area is painted in bands on several threads; every pixel must still be the one
// the stretch rule picks, across band edges and repeated rows alike.
TEST_F(ImageViewTest, LargeAreasArePaintedWholeAndExact) {
  view.resize(1000, 700);
  FillCoordinates(*view.Bitmap(), 1300, 1000);
  for (const int zoom : {100, 150, 37}) {
    SCOPED_TRACE(zoom);
    view.SetZoom(zoom);
    view.SetViewOrigin(123, 77);
    const TExtentRect source = view.Geometry().SourceRect();
    const TExtentRect destination = view.Geometry().DestinationRect();
    std::vector<int> columns;
    std::vector<int> rows;
    NearestSourceIndexes(source.x, source.width, destination.width, columns);
    NearestSourceIndexes(source.y, source.height, destination.height, rows);
    const QImage image = Painted();
    int wrong = 0;
    for (int y = 0; y < destination.height; ++y) {
      for (int x = 0; x < destination.width; ++x) {
        wrong += image.pixel(destination.x + x, destination.y + y) != At(columns[x], rows[y]) ? 1 : 0;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// Bitmaps given another format by a caller still paint their colours.
TEST_F(ImageViewTest, PalettedAndThirtyTwoBitBitmapsPaintTheirColours) {
  TBitmap& bitmap = *view.Bitmap();
  bitmap.Allocate(3, 1, pf8bit);
  bitmap.Palette()[7] = TRGBQuad{30, 20, 10, 0};
  bitmap.ScanLine(0)[1] = 7;
  view.Update();
  EXPECT_EQ(Painted().pixel(1, 0), qRgb(10, 20, 30));

  bitmap.Allocate(2, 1, pf32bit);
  bitmap.ScanLine(0)[4] = 60;  // blue, green, red, unused
  bitmap.ScanLine(0)[5] = 50;
  bitmap.ScanLine(0)[6] = 40;
  view.Update();
  EXPECT_EQ(Painted().pixel(1, 0), qRgb(40, 50, 60));

  // A target of another format keeps its format.
  QImage target(200, 150, QImage::Format_RGB888);
  view.PaintTo(target);
  EXPECT_EQ(target.format(), QImage::Format_RGB888);
  EXPECT_EQ(target.pixel(1, 0), qRgb(40, 50, 60));
}

TEST_F(ImageViewTest, OneBitImagesShowBlackAndWhite) {
  TBitmap& bitmap = *view.Bitmap();
  bitmap.Allocate(10, 2, pf1bit);
  bitmap.ScanLine(0)[0] = 0b10100000;
  bitmap.ScanLine(0)[1] = 0b01000000;  // pixel 9 is bit 6 of byte 1
  bitmap.ScanLine(1)[0] = 0xFF;
  view.SetBackground(RGBToColor(0, 0, 255));
  view.SetZoom(200);
  const QImage image = Painted();
  const QRgb black = qRgb(0, 0, 0);
  const QRgb white = qRgb(255, 255, 255);
  EXPECT_EQ(image.pixel(0, 0), white);
  EXPECT_EQ(image.pixel(1, 1), white);
  EXPECT_EQ(image.pixel(2, 0), black);
  EXPECT_EQ(image.pixel(4, 0), white);
  EXPECT_EQ(image.pixel(16, 0), black);
  EXPECT_EQ(image.pixel(18, 0), white);
  EXPECT_EQ(image.pixel(19, 1), white);
  EXPECT_EQ(image.pixel(0, 2), white);
  EXPECT_EQ(image.pixel(19, 3), black);
  EXPECT_EQ(image.pixel(20, 0), qRgb(0, 0, 255));
}

TEST_F(ImageViewTest, ASmallImageIsCentred) {
  view.resize(400, 300);
  FillCoordinates(*view.Bitmap(), 100, 50);
  view.SetCenter(true);
  view.SetZoom(50);
  EXPECT_EQ(view.Geometry().ImageOffset(), (TPoint{175, 137}));
  const QImage image = Painted();
  EXPECT_EQ(image.pixel(175, 137), At(1, 1));
  EXPECT_EQ(image.pixel(224, 161), At(99, 49));
  EXPECT_EQ(image.pixel(174, 137), Rgb(clWhite));
  EXPECT_EQ(image.pixel(225, 137), Rgb(clWhite));
  EXPECT_EQ(image.pixel(175, 136), Rgb(clWhite));
  EXPECT_EQ(image.pixel(175, 162), Rgb(clWhite));
  // Conversions see the same offset.
  EXPECT_EQ(view.ScreenToBitmapX(175), 0);
  EXPECT_EQ(view.BitmapToScreenY(50), 162);
}

// A caller that shrinks the bitmap must call Update; a paint before that stays inside the pixels.
TEST_F(ImageViewTest, APaintBeforeTheLayoutPassReadsOnlyTheBitmap) {
  FillCoordinates(*view.Bitmap(), 400, 300);
  view.Update();
  view.SetViewOrigin(150, 100);
  FillCoordinates(*view.Bitmap(), 160, 110);
  const QImage image = Painted();
  EXPECT_EQ(image.pixel(0, 0), At(150, 100));
  // The remaining 10 x 10 pixels fill the area the old layout gave the image.
  int outside = 0;
  for (int y = 0; y < 150; ++y) {
    for (int x = 0; x < 200; ++x) {
      const QRgb pixel = image.pixel(x, y);
      outside += qRed(pixel) < 150 || qRed(pixel) > 159 || qGreen(pixel) < 100 || qGreen(pixel) > 109 ? 1 : 0;
    }
  }
  EXPECT_EQ(outside, 0);
}

TEST_F(ImageViewTest, AnEmptyBitmapPaintsTheBackgroundOnly) {
  view.Bitmap()->Allocate(0, 0, pf24bit);
  view.Update();
  const QImage image = Painted();
  for (int y = 0; y < 150; y += 10) {
    for (int x = 0; x < 200; x += 10) ASSERT_EQ(image.pixel(x, y), Rgb(clWhite));
  }
}

// ---------------------------------------------------------------- background styles

TEST_F(ImageViewTest, ChessboardAlternatesSixteenPixelSquaresOfBackgroundAndScrollBarGrey) {
  InstallSystemColoursFromPalette();
  const QColor midlight = QApplication::palette().color(QPalette::Active, QPalette::Midlight);
  const QRgb grey = qRgb(midlight.red(), midlight.green(), midlight.blue());
  ASSERT_NE(grey, Rgb(clWhite));
  EXPECT_EQ(Rgb(ComplementColour(clWhite)), grey);

  FillCoordinates(*view.Bitmap(), 20, 20);
  view.SetCenter(true);
  view.SetBackgroundStyle(bgsChessboard);
  const QImage image = Painted();
  EXPECT_EQ(image.pixel(0, 0), grey);
  EXPECT_EQ(image.pixel(15, 15), grey);
  EXPECT_EQ(image.pixel(16, 0), Rgb(clWhite));
  EXPECT_EQ(image.pixel(31, 15), Rgb(clWhite));
  EXPECT_EQ(image.pixel(32, 0), grey);
  EXPECT_EQ(image.pixel(0, 16), Rgb(clWhite));  // each row of squares starts with the other colour
  EXPECT_EQ(image.pixel(16, 16), grey);
  EXPECT_EQ(image.pixel(199, 149), ((199 / 16 + 149 / 16) % 2 == 0) ? grey : Rgb(clWhite));
  // The centred image covers the pattern; the pattern is anchored to the client area, not to it.
  EXPECT_EQ(image.pixel(90, 65), At(0, 0));
  EXPECT_EQ(image.pixel(109, 84), At(19, 19));
  EXPECT_EQ(image.pixel(89, 65), ((89 / 16 + 65 / 16) % 2 == 0) ? grey : Rgb(clWhite));
}

TEST_F(ImageViewTest, HatchAndDiagonalBackgroundsDrawBackgroundOverTheComplement) {
  const TColor background = RGBToColor(200, 30, 10);
  const QRgb plain = Rgb(background);
  const QRgb other = Rgb(ComplementColour(background));
  view.SetBackground(background);
  view.Bitmap()->Allocate(0, 0, pf24bit);

  const auto colours = [](const QImage& image) {
    std::set<QRgb> found;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) found.insert(image.pixel(x, y));
    }
    return found;
  };
  const auto rowsUniform = [](const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 1; x < image.width(); ++x) {
        if (image.pixel(x, y) != image.pixel(0, y)) return false;
      }
    }
    return true;
  };
  const auto columnsUniform = [](const QImage& image) {
    for (int x = 0; x < image.width(); ++x) {
      for (int y = 1; y < image.height(); ++y) {
        if (image.pixel(x, y) != image.pixel(x, 0)) return false;
      }
    }
    return true;
  };

  for (const TBackgroundStyle style :
       {bgsHorizontal, bgsVertical, bgsFDiagonal, bgsBDiagonal, bgsCross, bgsDiagCross, bgsDiagonals}) {
    SCOPED_TRACE(static_cast<int>(style));
    view.SetBackgroundStyle(style);
    const QImage image = Painted();
    EXPECT_EQ(colours(image), (std::set<QRgb>{plain, other}));
    EXPECT_EQ(rowsUniform(image), style == bgsHorizontal);
    EXPECT_EQ(columnsUniform(image), style == bgsVertical);
  }

  // Diagonals: two lines from corner to corner on the solid background.
  view.SetBackgroundStyle(bgsDiagonals);
  const QImage image = Painted();
  EXPECT_EQ(image.pixel(0, 0), other);
  EXPECT_EQ(image.pixel(199, 0), other);
  EXPECT_EQ(image.pixel(100, 75), other);
  EXPECT_EQ(image.pixel(100, 0), plain);
  EXPECT_EQ(image.pixel(0, 75), plain);

  // A forward diagonal hatch differs from a backward one.
  view.SetBackgroundStyle(bgsFDiagonal);
  const QImage forward = Painted();
  view.SetBackgroundStyle(bgsBDiagonal);
  EXPECT_NE(Painted(), forward);
}

// ---------------------------------------------------------------- scroll bars

TEST_F(ImageViewTest, ScrollBarsShowTheScrollableRange) {
  view.SetBorderStyle(bsSingle);
  view.SetScrollBars(ssBoth);
  view.show();
  FillCoordinates(*view.Bitmap(), 1000, 800);
  view.Update();
  QScrollBar* horizontal = view.horizontalScrollBar();
  QScrollBar* vertical = view.verticalScrollBar();
  EXPECT_TRUE(horizontal->isVisible());
  EXPECT_TRUE(vertical->isVisible());

  // The geometry's client area is the viewport Qt lays out.
  const TSize client = view.Geometry().ClientSize();
  EXPECT_EQ(QSize(client.width, client.height), view.viewport()->size());
  EXPECT_LT(client.width, 200 - view.frameWidth());
  const TPoint max = view.MaxViewOrigin();
  EXPECT_EQ(max, (TPoint{1000 - client.width, 800 - client.height}));
  EXPECT_EQ(horizontal->minimum(), 0);
  EXPECT_EQ(horizontal->maximum(), max.x);
  EXPECT_EQ(horizontal->pageStep(), client.width);
  EXPECT_EQ(vertical->maximum(), max.y);
  EXPECT_EQ(vertical->pageStep(), client.height);
  EXPECT_EQ(horizontal->singleStep(), 1);

  // The vertical bar only: the horizontal one stays hidden whatever the image.
  view.SetScrollBars(ssVertical);
  EXPECT_FALSE(horizontal->isVisible());
  EXPECT_TRUE(vertical->isVisible());
  view.SetScrollBars(ssNone);
  EXPECT_FALSE(vertical->isVisible());
  EXPECT_EQ(view.viewport()->size(), QSize(200 - 2 * view.frameWidth(), 150 - 2 * view.frameWidth()));
}

TEST_F(ImageViewTest, AnImageAsLargeAsTheControlShowsNoBars) {
  view.SetBorderStyle(bsSingle);
  view.SetScrollBars(ssBoth);
  view.show();
  ASSERT_GT(view.frameWidth(), 0);
  FillCoordinates(*view.Bitmap(), 200, 150);  // the outer size, larger than the client area
  view.Update();
  EXPECT_FALSE(view.horizontalScrollBar()->isVisible());
  EXPECT_FALSE(view.verticalScrollBar()->isVisible());
  EXPECT_EQ(view.MaxViewOrigin(), (TPoint{0, 0}));
  view.SetViewOrigin(10, 10);
  EXPECT_EQ(view.ViewOriginX(), 0);

  // One pixel wider than the control: now it scrolls, across the whole client shortfall.
  FillCoordinates(*view.Bitmap(), 201, 150);
  view.Update();
  EXPECT_TRUE(view.horizontalScrollBar()->isVisible());
  EXPECT_EQ(view.horizontalScrollBar()->maximum(), 201 - view.Geometry().ClientSize().width);

  // Growing the control to hold the image again removes the bars.
  view.resize(260, 220);
  EXPECT_FALSE(view.horizontalScrollBar()->isVisible());
  EXPECT_FALSE(view.verticalScrollBar()->isVisible());
}

TEST_F(ImageViewTest, ScrollBarActionsMoveTheOriginByLinePageAndToTheEnds) {
  view.SetScrollBars(ssBoth);
  view.show();
  FillCoordinates(*view.Bitmap(), 1000, 800);
  view.Update();
  const TSize client = view.Geometry().ClientSize();
  const TPoint max = view.MaxViewOrigin();
  QScrollBar* horizontal = view.horizontalScrollBar();
  QScrollBar* vertical = view.verticalScrollBar();

  horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(view.ViewOriginX(), 1);
  horizontal->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(view.ViewOriginX(), 1 + client.width);
  horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(view.ViewOriginX(), client.width);
  horizontal->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(view.ViewOriginX(), 0);
  horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub);  // never below 0
  EXPECT_EQ(view.ViewOriginX(), 0);
  EXPECT_EQ(horizontal->value(), 0);

  vertical->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(view.ViewOriginY(), max.y);
  vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);  // never above max
  EXPECT_EQ(view.ViewOriginY(), max.y);
  EXPECT_EQ(vertical->value(), max.y);
  vertical->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(view.ViewOriginY(), max.y - client.height);
  vertical->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(view.ViewOriginY(), 0);

  // Dragging the thumb: the slider position is the new origin.
  horizontal->setSliderPosition(321);
  EXPECT_EQ(view.ViewOriginX(), 321);
  EXPECT_EQ(Painted().pixel(0, 0), At(321, 0));

  // Thumb positions are not cut to 16 bits.
  view.SetZoom(10000);
  horizontal->setSliderPosition(70000);
  EXPECT_EQ(view.ViewOriginX(), 70000);
  view.SetZoom(100);

  // Scrolling from code moves the bars.
  view.SetViewOrigin(40, 55);
  EXPECT_EQ(horizontal->value(), 40);
  EXPECT_EQ(vertical->value(), 55);
  // Zooming out lowers the origin to the new maximum and the bar with it.
  view.SetViewOrigin(max.x, max.y);
  view.SetZoom(50);
  EXPECT_EQ(view.ViewOriginX(), 500 - view.Geometry().ClientSize().width);
  EXPECT_EQ(horizontal->value(), view.ViewOriginX());
}

TEST_F(ImageViewTest, TheWheelScrollsByWheelLines) {
  FillCoordinates(*view.Bitmap(), 1000, 800);
  view.Update();
  view.SetViewOrigin(300, 300);
  const auto wheel = [this](QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(QPointF(50, 50), QPointF(50, 50), QPoint(), angle, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &event);
  };
  const int notch = QApplication::wheelScrollLines() * TImageView::kWheelLinePixels;
  wheel(QPoint(0, -120));  // towards the user: down
  EXPECT_EQ(view.ViewOriginY(), 300 + notch);
  wheel(QPoint(0, 240));
  EXPECT_EQ(view.ViewOriginY(), 300 - notch);
  wheel(QPoint(-120, 0));
  EXPECT_EQ(view.ViewOriginX(), 300 + notch);
  wheel(QPoint(0, 120), Qt::AltModifier);
  EXPECT_EQ(view.ViewOriginX(), 300);
  EXPECT_EQ(view.ViewOriginY(), 300 - notch);
  for (int i = 0; i < 100; ++i) wheel(QPoint(0, 120));
  EXPECT_EQ(view.ViewOriginY(), 0);
}

// ---------------------------------------------------------------- zoom and events

TEST_F(ImageViewTest, ZoomToFitTakesTheSmallerRatioOfTheOuterSize) {
  view.resize(454, 240);
  view.SetBorderStyle(bsSingle);
  FillCoordinates(*view.Bitmap(), 1000, 500);
  view.Update();
  changes.clear();
  view.ZoomToFit();
  EXPECT_EQ(view.Zoom(), 45);
  EXPECT_EQ(changes, (std::vector<int>{1}));

  // An image of width 0 changes nothing.
  view.SetZoom(100);
  view.Bitmap()->Allocate(0, 0, pf24bit);
  view.Update();
  changes.clear();
  view.ZoomToFit();
  EXPECT_EQ(view.Zoom(), 100);
  EXPECT_TRUE(changes.empty());
}

TEST_F(ImageViewTest, AutoFitFitsOnEveryLayoutPass) {
  FillCoordinates(*view.Bitmap(), 400, 100);
  view.SetAutoFit(true);
  EXPECT_EQ(view.Zoom(), 50);
  view.resize(100, 150);
  view.Update();
  EXPECT_EQ(view.Zoom(), 25);
  EXPECT_EQ(Painted().pixel(0, 0), At(2, 2));  // the middle one of the four pixels behind it

  // A picture so large that it would fit at 0% keeps the zoom it has.
  FillCoordinates(*view.Bitmap(), 20000, 10);
  view.Update();
  EXPECT_EQ(view.Zoom(), 25);
}

TEST_F(ImageViewTest, ZoomOnlyAcceptsNewPositiveValuesAndReportsChanges) {
  FillCoordinates(*view.Bitmap(), 1000, 800);
  view.Update();
  changes.clear();
  view.SetZoom(0);
  view.SetZoom(-50);
  view.SetZoom(100);
  EXPECT_EQ(view.Zoom(), 100);
  EXPECT_TRUE(changes.empty());

  view.SetZoom(150);
  EXPECT_EQ(changes, (std::vector<int>{1}));
  changes.clear();
  view.SetViewOrigin(30, 20);
  EXPECT_EQ(changes, (std::vector<int>{0}));
  view.SetViewOrigin(30, 20);  // unchanged: no event
  EXPECT_EQ(changes.size(), 1U);

  // Zooming out so far that the origin must come down reports both, as the Qt signal does too.
  std::vector<int> signalled;
  QObject::connect(&view, &TImageView::viewChanged,
                   [&signalled](int change) { signalled.push_back(change); });
  view.SetViewOrigin(1000, 1000);
  changes.clear();
  signalled.clear();
  view.SetZoom(10);
  EXPECT_EQ(view.ViewOriginX(), 0);
  EXPECT_EQ(changes, (std::vector<int>{0, 1}));
  EXPECT_EQ(signalled, changes);

  // A new background is an image change.
  int imageChanges = 0;
  view.OnImageChange = [&imageChanges](TObject&) { ++imageChanges; };
  int imageSignals = 0;
  QObject::connect(&view, &TImageView::imageChanged, [&imageSignals] { ++imageSignals; });
  view.SetBackground(clBlack);
  EXPECT_EQ(imageChanges, 1);
  EXPECT_EQ(imageSignals, 1);
}

TEST_F(ImageViewTest, ZoomAtBringsThePixelUnderThePointToTheCentre) {
  FillCoordinates(*view.Bitmap(), 1000, 1000);
  view.Update();
  const int bx = view.ScreenToBitmapX(150);
  const int by = view.ScreenToBitmapY(60);
  changes.clear();
  view.ZoomAt(150, 60, 400);
  EXPECT_EQ(view.Zoom(), 400);
  EXPECT_EQ(view.ViewOriginX(), 4 * bx - 100);
  EXPECT_EQ(view.ViewOriginY(), 4 * by - 75);
  EXPECT_EQ(view.ScreenToBitmapX(100), bx);
  EXPECT_EQ(view.ScreenToBitmapY(75), by);
  EXPECT_EQ(Painted().pixel(100, 75), At(bx, by));
  EXPECT_EQ(changes, (std::vector<int>{1, 0}));
  EXPECT_EQ(view.PaintLock(), 0);

  // Near the corner the origin the centring asks for is negative and is clamped to 0.
  view.SetViewOrigin(0, 0);
  view.SetZoom(100);
  view.ZoomAt(5, 5, 800);
  EXPECT_EQ(view.ViewOriginX(), 0);
  EXPECT_EQ(view.ViewOriginY(), 0);
  EXPECT_EQ(view.ScreenToBitmapX(40), 5);
}

TEST_F(ImageViewTest, ConversionsFollowZoomAndOrigin) {
  FillCoordinates(*view.Bitmap(), 1000, 1000);
  view.SetZoom(200);
  EXPECT_EQ(view.ScreenToBitmapX(11), 6);  // Round(5.5)
  EXPECT_EQ(view.ScreenToBitmapX(9), 4);   // Round(4.5)
  view.SetViewOrigin(100, 50);
  EXPECT_EQ(view.ScreenToBitmapX(0), 50);
  EXPECT_EQ(view.ScreenToBitmapY(0), 25);
  EXPECT_EQ(view.BitmapToScreenX(50), 0);
  EXPECT_EQ(view.BitmapToScreenY(20), -10);  // no clamping
}

// ---------------------------------------------------------------- painting on screen

TEST_F(ImageViewTest, PaintLockSuppressesPainting) {
  FillCoordinates(*view.Bitmap(), 300, 300);
  view.show();
  view.Update();
  view.LockPaint();
  view.LockPaint();
  EXPECT_EQ(Rendered(view).pixel(5, 5), qRgb(255, 0, 255));
  view.UnlockPaint();
  EXPECT_EQ(Rendered(view).pixel(5, 5), qRgb(255, 0, 255));
  view.UnlockPaintQuiet();
  EXPECT_EQ(view.PaintLock(), 0);
  EXPECT_EQ(Rendered(view).pixel(5, 5), At(5, 5));
  view.UnlockPaintQuiet();  // never below 0
  EXPECT_EQ(view.PaintLock(), 0);
}

TEST_F(ImageViewTest, TheOffScreenBufferIsRedrawnOnlyWhenDirty) {
  FillCoordinates(*view.Bitmap(), 300, 300);
  view.SetDoubleBuffer(true);
  view.show();
  view.Update();
  EXPECT_EQ(Rendered(view).pixel(5, 5), At(5, 5));

  // Pixels changed behind the view's back: a plain repaint copies the buffer.
  SetPixel(*view.Bitmap(), 5, 5, 1, 2, 3);
  EXPECT_EQ(Rendered(view).pixel(5, 5), At(5, 5));
  // A layout pass marks it dirty.
  view.Update();
  EXPECT_EQ(Rendered(view).pixel(5, 5), qRgb(1, 2, 3));
  // So does scrolling.
  SetPixel(*view.Bitmap(), 6, 5, 4, 5, 6);
  view.SetViewOrigin(1, 0);
  EXPECT_EQ(Rendered(view).pixel(5, 5), qRgb(4, 5, 6));
  // And a new client size.
  SetPixel(*view.Bitmap(), 6, 5, 7, 8, 9);
  view.resize(180, 150);
  EXPECT_EQ(Rendered(view).pixel(5, 5), qRgb(7, 8, 9));

  // Without the buffer every paint draws the bitmap again.
  view.SetDoubleBuffer(false);
  SetPixel(*view.Bitmap(), 6, 5, 10, 11, 12);
  EXPECT_EQ(Rendered(view).pixel(5, 5), qRgb(10, 11, 12));
}

TEST_F(ImageViewTest, TheWidgetShowsWhatPaintToDraws) {
  FillCoordinates(*view.Bitmap(), 120, 90);
  view.SetCenter(true);
  view.SetBackgroundStyle(bgsChessboard);
  view.SetZoom(75);
  view.show();
  EXPECT_EQ(view.grab().toImage().convertToFormat(QImage::Format_RGB32), Painted());
}

}  // namespace
