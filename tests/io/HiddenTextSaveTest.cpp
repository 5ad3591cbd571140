#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hidden/HiddenCarrier.h"
#include "image/Colour.h"
#include "io/HiddenTextSave.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "support/HeadlessView.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::HeadlessView;
using veilora::test::TTempDir;

namespace {

const std::string kMessage = "meet at the mill";

void Hide(TBitmap& bitmap, const std::string& text) {
  WriteHiddenPayload(bitmap, reinterpret_cast<const std::uint8_t*>(text.data()),
                     static_cast<std::int32_t>(text.size()));
}

std::string Reveal(const TBitmap& bitmap) {
  std::vector<std::uint8_t> buffer(kMessage.size());
  const std::int32_t length =
      ReadHiddenPayload(bitmap, buffer.data(), static_cast<std::int32_t>(buffer.size()));
  if (length != static_cast<std::int32_t>(kMessage.size())) return {};
  return std::string(buffer.begin(), buffer.end());
}

TEST(HasHiddenText, NeedsTheZeroPrefixAndALengthThatFits) {
  TBitmap bitmap;
  bitmap.Allocate(40, 10, pf24bit);        // 10 x 118 carrier bytes: 139 bytes fit after the header
  bitmap.Fill(RGBToColor(255, 255, 255));  // every low bit set: the prefix is not zero
  EXPECT_FALSE(HasHiddenText(bitmap));
  bitmap.Fill(RGBToColor(0, 0, 0));  // every low bit clear: a length of 0
  EXPECT_FALSE(HasHiddenText(bitmap));
  Hide(bitmap, "x");
  EXPECT_TRUE(HasHiddenText(bitmap));
  WriteHiddenPayload(bitmap, nullptr, 0);
  EXPECT_FALSE(HasHiddenText(bitmap));
  const std::string longest(139, 'a');
  Hide(bitmap, longest);
  EXPECT_TRUE(HasHiddenText(bitmap));
  // A header claiming one byte more than fits is not a text this image can hold.
  const std::uint8_t tooLong[] = {0, 0, 0, 0, 140, 0, 0, 0};
  bitmap.Fill(RGBToColor(0, 0, 0));
  for (int bit = 0; bit < 64; ++bit) {
    if ((tooLong[bit / 8] >> (bit % 8)) & 1) bitmap.ScanLine(0)[bit] |= 1;
  }
  EXPECT_FALSE(HasHiddenText(bitmap));

  TBitmap twoColours;
  twoColours.Allocate(40, 10, pf1bit);
  EXPECT_FALSE(HasHiddenText(twoColours));
}

// The depth fields as a palette, grey or two-colour file leaves them, or as the user chose them.
struct SaveCase {
  const char* extension;
  std::int32_t bitsPerSample;
  std::int32_t samplesPerPixel;
  bool chosen;
  THiddenTextSave expected;
  const char* modeName;  // what the question would call the save
  std::uint8_t tiffPhotometric = 2;
};

class HiddenTextSaveRule : public ::testing::TestWithParam<SaveCase> {
 protected:
  // GIF and TIFF LZW need the coders; the hooks are process-wide, so they are put back after.
  void SetUp() override {
    saved_ = GlobalLzwHooks();
    InstallLzwCoders();
  }
  void TearDown() override { GlobalLzwHooks() = saved_; }

 private:
  TLzwHooks saved_;
};

// The rule's verdict is checked against what really happens: the file is written and read back,
// and the message must come back exactly when the rule says it is kept, and not when it says lost.
TEST_P(HiddenTextSaveRule, ItsVerdictIsWhatTheFileReallyKeeps) {
  const SaveCase& c = GetParam();
  TTempDir dir;
  HeadlessView view;
  TImageIO io;
  io.SetAttachedView(&view);
  view.Bitmap()->Allocate(37, 23, pf24bit);
  veilora::test::FillRandom(*view.Bitmap(), 11);
  Hide(*view.Bitmap(), kMessage);
  io.Params.BitsPerSample = c.bitsPerSample;
  io.Params.SamplesPerPixel = c.samplesPerPixel;
  io.Params.SaveColoursChosen = c.chosen;
  io.Params.TiffPhotometric = c.tiffPhotometric;

  const std::string name = dir.File(std::string("picture") + c.extension);
  const std::int32_t type = SaveTypeForExtension(c.extension);
  EXPECT_EQ(PrepareHiddenTextSave(*view.Bitmap(), type, io.Params), c.expected);
  EXPECT_EQ(SaveModeName(type, io.Params), c.modeName);
  io.SaveToFile(name);
  ASSERT_FALSE(io.Aborting);

  HeadlessView reopened;
  TImageIO reader;
  reader.SetAttachedView(&reopened);
  reader.LoadFromFile(name);
  ASSERT_FALSE(reader.Aborting);
  const bool kept = reopened.Bitmap()->PixelFormat() == pf24bit && Reveal(*reopened.Bitmap()) == kMessage;
  EXPECT_EQ(kept, c.expected == THiddenTextSave::Kept);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, HiddenTextSaveRule,
    ::testing::Values(SaveCase{".png", 8, 1, false, THiddenTextSave::Kept, "PNG"},
                      SaveCase{".png", 1, 1, false, THiddenTextSave::Kept, "PNG"},
                      SaveCase{".bmp", 4, 1, false, THiddenTextSave::Kept, "BMP"},
                      SaveCase{".pcx", 8, 1, false, THiddenTextSave::Kept, "PCX"},
                      SaveCase{".tga", 8, 1, false, THiddenTextSave::Kept, "TGA"},
                      SaveCase{".tif", 1, 1, false, THiddenTextSave::Kept, "TIFF"},
                      SaveCase{".tif", 8, 3, true, THiddenTextSave::Kept, "TIFF", 5},  // CMYK
                      SaveCase{".jpg", 8, 3, false, THiddenTextSave::Destroyed, "JPEG"},
                      SaveCase{".gif", 8, 1, false, THiddenTextSave::Destroyed, "GIF"},
                      SaveCase{".png", 8, 1, true, THiddenTextSave::Destroyed, "PNG with 256 colours"},
                      SaveCase{".bmp", 1, 1, true, THiddenTextSave::Destroyed, "BMP in two colours"},
                      SaveCase{".pcx", 4, 1, true, THiddenTextSave::Destroyed, "PCX with 16 colours"}));

TEST(HiddenTextSave, AnImageWithoutATextKeepsTheModeItCameWith) {
  TBitmap bitmap;
  bitmap.Allocate(30, 30, pf24bit);
  bitmap.Fill(RGBToColor(255, 255, 255));
  TIOParams params;
  params.BitsPerSample = 8;
  params.SamplesPerPixel = 1;
  EXPECT_EQ(PrepareHiddenTextSave(bitmap, ftPNG, params), THiddenTextSave::NoText);
  EXPECT_EQ(params.SamplesPerPixel, 1);
}

TEST(HiddenTextSave, ALoadForgetsAChoiceOfColours) {
  TTempDir dir;
  HeadlessView view;
  TImageIO io;
  io.SetAttachedView(&view);
  view.Bitmap()->Allocate(8, 8, pf24bit);
  io.SaveToFile(dir.File("plain.bmp"));
  io.Params.SaveColoursChosen = true;
  io.LoadFromFile(dir.File("plain.bmp"));
  ASSERT_FALSE(io.Aborting);
  EXPECT_FALSE(io.Params.SaveColoursChosen);
}

}  // namespace
