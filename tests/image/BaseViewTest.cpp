#include <gtest/gtest.h>

#include <cstring>

#include "image/BaseView.h"
#include "image/Display.h"
#include "support/HeadlessView.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

constexpr TRGB kButtonFace{240, 240, 240};

class BaseViewTest : public testing::Test {
 protected:
  void SetUp() override {
    view.Bitmap()->Allocate(4, 3, pf24bit);
    FillRandom(*view.Bitmap(), 9);
  }

  HeadlessView view;
  ImageChangeCounter changes{view};
};

using ViewSetBackgroundTest = BaseViewTest;
using ViewFillBackgroundTest = BaseViewTest;
using ViewAssignTest = BaseViewTest;
using ViewNotificationTest = BaseViewTest;

TEST(BaseViewDpi, NewViewsTakeTheScreenResolution) {
  const HeadlessView before;
  EXPECT_EQ(before.DpiX(), 96);
  EXPECT_EQ(before.DpiY(), 96);
  SetScreenDpi(144);
  const HeadlessView after;
  SetScreenDpi(kDefaultScreenDpi);
  EXPECT_EQ(after.DpiX(), 144);
  EXPECT_EQ(after.DpiY(), 144);
  EXPECT_EQ(before.DpiX(), 96);
}

TEST_F(ViewSetBackgroundTest, CountsAsAnImageChange) {
  const std::vector<std::uint8_t> pixels = PixelBytesTopDown(*view.Bitmap());
  view.SetBackground(RGBToColor(1, 2, 3));
  EXPECT_EQ(view.Background(), RGBToColor(1, 2, 3));
  EXPECT_EQ(view.updates, 1);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(PixelBytesTopDown(*view.Bitmap()), pixels);
}

TEST_F(ViewFillBackgroundTest, ResolvesTheButtonFaceColourAndResetsToOnePixel) {
  view.FillBackground();
  EXPECT_EQ(view.Bitmap()->Width(), 4);
  EXPECT_EQ(PixelsOtherThan(*view.Bitmap(), kButtonFace), 0);
  EXPECT_EQ(view.updates, 1);

  view.SetBackground(RGBToColor(10, 20, 30));
  view.ResetToBlank();
  ASSERT_EQ(view.Bitmap()->Width(), 1);
  ASSERT_EQ(view.Bitmap()->Height(), 1);
  EXPECT_EQ(PixelAt(*view.Bitmap(), 0, 0), (TRGB{30, 20, 10}));
}

TEST_F(ViewAssignTest, ViewGivesImageBackgroundAndResolution) {
  HeadlessView source;
  source.Bitmap()->Allocate(5, 2, pf24bit);
  FillRandom(*source.Bitmap(), 4);
  source.SetBackground(RGBToColor(7, 8, 9));
  source.SetDpi(300, 150);

  view.Assign(&source);
  EXPECT_EQ(view.Bitmap()->Width(), 5);
  EXPECT_EQ(view.Bitmap()->Height(), 2);
  EXPECT_EQ(PixelBytesTopDown(*view.Bitmap()), PixelBytesTopDown(*source.Bitmap()));
  EXPECT_EQ(view.Background(), RGBToColor(7, 8, 9));
  EXPECT_EQ(view.DpiX(), 300);
  EXPECT_EQ(view.DpiY(), 150);
  EXPECT_EQ(view.updates, 1);
  EXPECT_EQ(changes.count, 1);
}

TEST_F(ViewAssignTest, BitmapKeepsTrueColourAndMonoFormats) {
  for (const TPixelFormat format : {pf24bit, pf1bit}) {
    SCOPED_TRACE(testing::Message() << BitsPerPixel(format) << " bits");
    TBitmap source(13, 3, format);
    FillRandom(source, 2);
    view.Assign(&source);
    EXPECT_EQ(view.Bitmap()->PixelFormat(), format);
    EXPECT_EQ(view.Bitmap()->Width(), 13);
    EXPECT_EQ(PixelBytesTopDown(*view.Bitmap()), PixelBytesTopDown(source));
  }
  EXPECT_EQ(view.updates, 2);
  EXPECT_EQ(changes.count, 2);
}

TEST_F(ViewAssignTest, BitmapOfOtherFormatsBecomesTrueColour) {
  TBitmap palette(2, 1, pf8bit);
  palette.Palette()[5] = TRGBQuad{50, 60, 70, 0};
  palette.ScanLine(0)[1] = 5;
  view.Assign(&palette);
  ASSERT_EQ(view.Bitmap()->PixelFormat(), pf24bit);
  ASSERT_EQ(view.Bitmap()->Width(), 2);
  EXPECT_EQ(PixelAt(*view.Bitmap(), 0, 0), (TRGB{0, 0, 0}));
  EXPECT_EQ(PixelAt(*view.Bitmap(), 1, 0), (TRGB{50, 60, 70}));

  TBitmap fourBytes(1, 1, pf32bit);
  const std::uint8_t pixel[] = {11, 12, 13, 255};
  std::memcpy(fourBytes.ScanLine(0), pixel, sizeof pixel);
  view.Assign(&fourBytes);
  ASSERT_EQ(view.Bitmap()->PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(*view.Bitmap(), 0, 0), (TRGB{11, 12, 13}));
}

TEST_F(ViewAssignTest, NothingFillsWithBackground) {
  view.Assign(static_cast<const TBitmap*>(nullptr));
  EXPECT_EQ(view.Bitmap()->Width(), 4);
  EXPECT_EQ(PixelsOtherThan(*view.Bitmap(), kButtonFace), 0);

  FillRandom(*view.Bitmap(), 3);
  view.Assign(static_cast<const TBaseView*>(nullptr));
  EXPECT_EQ(PixelsOtherThan(*view.Bitmap(), kButtonFace), 0);
}

struct Receiver {
  int calls = 0;
};
void AddOne(void* receiver, TBaseView&) {
  static_cast<Receiver*>(receiver)->calls += 1;
}
void AddHundred(void* receiver, TBaseView&) {
  static_cast<Receiver*>(receiver)->calls += 100;
}

TEST_F(ViewNotificationTest, RemovalMatchesCallbackAndReceiver) {
  Receiver first;
  Receiver second;
  view.RegisterBitmapChangeEvent(AddOne, &first);
  view.RegisterBitmapChangeEvent(AddHundred, &second);
  view.RegisterBitmapChangeEvent(AddOne, &second);
  view.RemoveBitmapChangeEvent(AddOne, &second);
  EXPECT_EQ(view.BitmapChangeEventCount(), 2u);
  view.CallBitmapChangeEvents();
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(second.calls, 100);
}

}  // namespace
