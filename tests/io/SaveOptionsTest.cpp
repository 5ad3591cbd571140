// The save options without a window: page masks, the colour boxes, the TIFF photometric rule,
// typed numbers, the fields a page writes back, the trial save behind the preview and the hidden
// text's fate, and ShowSaveOptions' frame around the window.
#include <gtest/gtest.h>

#include <string>

#include "hidden/HiddenCarrier.h"
#include "image/BaseView.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "io/SaveOptions.h"

namespace veilora {
namespace {

TEST(SavePagesShown, FollowsTheMaskBits) {
  struct Row {
    int mask;
    std::int32_t fileType;
    int pages;
  };
  const Row rows[] = {
      {spPNG, ftBMP, spPNG},
      {spJPEG | spGIF, ftUnknown, spJPEG | spGIF},
      {spOwnType, ftTIFF, spTIFF},
      {spOwnType, ftTGA, spTGA},
      {spOwnType, ftICO, 0},  // a type without a page shows nothing
      {spOwnType | spBMP, ftPCX, spPCX | spBMP},
      {spAll, ftUnknown, kEveryPage},
      {0, ftPNG, 0},
  };
  for (const Row& row : rows) EXPECT_EQ(SavePagesShown(row.mask, row.fileType), row.pages) << row.mask;
}

TEST(SavePageForExtension, NamesThePageOfEachWrittenFormat) {
  struct Row {
    const char* extension;
    int page;
  };
  const Row rows[] = {{".jpg", spJPEG},  {".jpeg", spJPEG}, {".jpe", spJPEG}, {".tif", spTIFF},
                      {".tiff", spTIFF}, {".gif", spGIF},   {".bmp", spBMP},  {".pcx", spPCX},
                      {".png", spPNG},   {".tga", spTGA},   {".ico", 0},      {"", 0}};
  for (const Row& row : rows) EXPECT_EQ(SavePageForExtension(row.extension), row.page) << row.extension;
}

TEST(ColourItems, MapToDepthsAndBack) {
  struct Row {
    int page;
    int item;
    std::int32_t samples;
    std::int32_t bits;
    int itemBack;  // the item the depth reads back as
  };
  const Row rows[] = {
      {spTIFF, 0, 1, 1, 0}, {spTIFF, 1, 1, 4, 1}, {spTIFF, 2, 1, 8, 2}, {spTIFF, 3, 1, 16, 3},
      {spTIFF, 4, 3, 8, 4}, {spBMP, 0, 1, 1, 0},  {spBMP, 1, 1, 4, 1},  {spBMP, 2, 1, 8, 2},
      {spBMP, 3, 3, 5, 3},  {spBMP, 4, 3, 8, 4},  {spBMP, 5, 3, 8, 4},  {spPCX, 0, 1, 1, 0},
      {spPCX, 1, 1, 4, 1},  {spPCX, 2, 1, 8, 2},  {spPCX, 3, 3, 8, 3},  {spPNG, 0, 1, 1, 0},
      {spPNG, 1, 1, 8, 1},  {spPNG, 2, 3, 8, 2},  {spTGA, 0, 1, 1, 0},  {spTGA, 1, 1, 8, 1},
      {spTGA, 2, 3, 8, 2},  {spGIF, 0, 1, 1, 0},  {spGIF, 7, 1, 8, 7},  {spGIF, 3, 1, 4, 3},
  };
  for (const Row& row : rows) {
    const TColourDepth depth = ColourItemDepth(row.page, row.item, 2);
    EXPECT_EQ(depth.samplesPerPixel, row.samples) << row.page << " item " << row.item;
    EXPECT_EQ(depth.bitsPerSample, row.bits) << row.page << " item " << row.item;
    EXPECT_EQ(ColourItemFromDepth(row.page, row.samples, row.bits), row.itemBack)
        << row.page << " item " << row.item;
  }
  // PNG and TGA read any grey or palette depth as "256".
  EXPECT_EQ(ColourItemFromDepth(spPNG, 1, 4), 1);
  EXPECT_EQ(ColourItemFromDepth(spTGA, 1, 2), 1);
}

TEST(ColourItems, TiffCmykIsAlwaysFourSamplesOfEightBits) {
  for (int item = 0; item < 5; ++item) {
    const TColourDepth depth = ColourItemDepth(spTIFF, item, 5);
    EXPECT_EQ(depth.samplesPerPixel, 4) << item;
    EXPECT_EQ(depth.bitsPerSample, 8) << item;
  }
}

TEST(TiffPhotometricRule, ForcesOrFreesTheColourBox) {
  struct Row {
    int photometric;
    int colourBefore;
    int colourAfter;
    bool enabled;
  };
  const Row rows[] = {
      {5, 0, 4, false}, {6, 2, 4, false}, {7, 1, 4, false},  // CMYK, YCBCR, CIELAB: 16M
      {0, 4, 0, false}, {1, 2, 0, false},                    // WHITEISZERO, BLACKISZERO: B/W
      {2, 0, 4, true},  {3, 2, 2, true},  {4, 3, 3, true},   // the others: free, B/W becomes 16M
  };
  for (const Row& row : rows) {
    const TTiffColourBox box = ApplyTiffPhotometricRule(row.photometric, row.colourBefore);
    EXPECT_EQ(box.colourItem, row.colourAfter) << row.photometric << "/" << row.colourBefore;
    EXPECT_EQ(box.enabled, row.enabled) << row.photometric;
  }
}

TEST(WholeNumber, TakesOnlyAWholeDecimalNumber) {
  struct Row {
    const char* text;
    std::int32_t value;
  };
  const Row rows[] = {{"75", 75}, {" 75 ", 75}, {"+8", 8},   {"-3", -3},         {"abc", -1},
                      {"", -1},   {"12x", -1},  {"1.5", -1}, {"99999999999", -1}};
  for (const Row& row : rows) EXPECT_EQ(WholeNumber(row.text, -1), row.value) << '"' << row.text << '"';
}

TEST(UncompressedImageBytes, CountsPaddedRowsOfOneOrTwentyFourBits) {
  EXPECT_EQ(UncompressedImageBytes(TBitmap(300, 300, pf24bit)), 270000);
  EXPECT_EQ(UncompressedImageBytes(TBitmap(300, 300, pf1bit)), 12000);
  EXPECT_EQ(UncompressedImageBytes(TBitmap(1, 3, pf24bit)), 12);
}

TEST(CopySavePageFields, WritesOnlyThePagesFields) {
  TIOParams from;
  TIOParams to;
  from.JpegQuality = 90;
  from.BitsPerSample = 1;
  from.SamplesPerPixel = 1;
  from.PngFilter = 2;
  from.TgaName = "name";
  CopySavePageFields(spPNG, from, to);
  EXPECT_EQ(to.BitsPerSample, 1);
  EXPECT_EQ(to.SamplesPerPixel, 1);
  EXPECT_EQ(to.PngFilter, 2);
  EXPECT_TRUE(to.SaveColoursChosen);
  EXPECT_EQ(to.JpegQuality, TIOParams().JpegQuality);
  EXPECT_EQ(to.TgaName, "");

  TIOParams jpegTarget;
  CopySavePageFields(spJPEG, from, jpegTarget);
  EXPECT_EQ(jpegTarget.JpegQuality, 90);
  EXPECT_EQ(jpegTarget.BitsPerSample, TIOParams().BitsPerSample);
  EXPECT_FALSE(jpegTarget.SaveColoursChosen);  // JPEG has no colour box
}

// A striped 40 x 30 picture holding a hidden text.
void MakePictureWithText(TBitmap& bitmap, const std::string& text) {
  bitmap.Allocate(40, 30, pf24bit);
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      std::uint8_t* p = bitmap.ScanLine(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(x * 6);
      p[1] = static_cast<std::uint8_t>(y * 8);
      p[2] = static_cast<std::uint8_t>((x + y) * 3);
    }
  if (!text.empty())
    WriteHiddenPayload(bitmap, reinterpret_cast<const std::uint8_t*>(text.data()),
                       static_cast<std::int32_t>(text.size()));
}

class RunSaveTrialTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallLzwCoders(); }
};

TEST_F(RunSaveTrialTest, TellsWhetherTheHiddenTextSurvives) {
  struct Row {
    int page;
    std::int32_t samples;
    std::int32_t bits;
    THiddenTextFate fate;
  };
  const Row rows[] = {
      {spPNG, 3, 8, THiddenTextFate::Kept},  {spBMP, 3, 8, THiddenTextFate::Kept},
      {spTIFF, 3, 8, THiddenTextFate::Kept}, {spPCX, 3, 8, THiddenTextFate::Kept},
      {spTGA, 3, 8, THiddenTextFate::Kept},  {spPNG, 1, 1, THiddenTextFate::Lost},
      {spPNG, 1, 8, THiddenTextFate::Lost},  {spBMP, 1, 4, THiddenTextFate::Lost},
      {spGIF, 1, 8, THiddenTextFate::Lost},  {spJPEG, 3, 8, THiddenTextFate::Lost},
  };
  TBitmap source;
  MakePictureWithText(source, "a secret");
  for (const Row& row : rows) {
    TIOParams values;
    values.SamplesPerPixel = row.samples;
    values.BitsPerSample = row.bits;
    values.JpegQuality = 100;
    TBitmap result;
    const TSaveTrial trial = RunSaveTrial(source, row.page, values, result, nullptr);
    ASSERT_TRUE(trial.ok) << row.page << ": " << trial.failure;
    EXPECT_EQ(trial.hiddenText, row.fate) << row.page << " " << row.samples << "x" << row.bits;
    EXPECT_EQ(result.Width(), 40);
  }
  TBitmap plain;
  MakePictureWithText(plain, "");
  TBitmap result;
  EXPECT_EQ(RunSaveTrial(plain, spPNG, TIOParams(), result, nullptr).hiddenText, THiddenTextFate::NoText);
}

TEST_F(RunSaveTrialTest, CountsTheBytesAWriteGivesAndKeepsThePalette) {
  TBitmap source;
  MakePictureWithText(source, "");
  TIOParams values;
  values.BitsPerSample = 4;
  TBitmap result;
  const TSaveTrial trial = RunSaveTrial(source, spGIF, values, result, nullptr);
  ASSERT_TRUE(trial.ok) << trial.failure;
  TImageIO io;
  io.AttachBitmap(&source);
  io.Params.BitsPerSample = 4;
  io.Params.SamplesPerPixel = 1;
  TMemoryStream direct;
  io.SaveToStreamGIF(direct);
  EXPECT_EQ(trial.bytes, direct.Size());
  EXPECT_EQ(trial.palette.size(), 16u);
  // The result shows the reduced colours: none outside the palette.
  for (int y = 0; y < result.Height(); ++y)
    for (int x = 0; x < result.Width(); ++x) {
      const std::uint8_t* p = result.ScanLine(y) + 3 * x;
      const TRGB colour{p[0], p[1], p[2]};
      EXPECT_NE(std::find(trial.palette.begin(), trial.palette.end(), colour), trial.palette.end());
    }
}

TEST_F(RunSaveTrialTest, ReportsProgressOverBothHalves) {
  TBitmap source;
  MakePictureWithText(source, "");
  std::vector<int> seen;
  TBitmap result;
  RunSaveTrial(source, spJPEG, TIOParams(), result, [&seen](TObject&, int per) { seen.push_back(per); });
  ASSERT_FALSE(seen.empty());
  EXPECT_LE(*std::max_element(seen.begin(), seen.end()), 100);
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](int p) { return p < 50; }));
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](int p) { return p >= 50; }));
}

TEST(HiddenTextFate, AGarbledLengthIsLostWithoutReadingIt) {
  TBitmap original;
  MakePictureWithText(original, "hello");
  TBitmap reloaded;
  CopyBitmap(original, reloaded);
  EXPECT_EQ(HiddenTextFate(original, reloaded), THiddenTextFate::Kept);
  // A length byte changed into a huge value: no buffer of that size may be asked for.
  const std::int32_t huge = 0x7FFFFFF0;
  std::uint8_t header[8] = {0,
                            0,
                            0,
                            0,
                            static_cast<std::uint8_t>(huge),
                            static_cast<std::uint8_t>(huge >> 8),
                            static_cast<std::uint8_t>(huge >> 16),
                            static_cast<std::uint8_t>(huge >> 24)};
  for (int i = 0; i < 64; ++i) {
    std::uint8_t& byte = reloaded.ScanLine(0)[i];
    byte = static_cast<std::uint8_t>((byte & ~1) | ((header[i / 8] >> (i % 8)) & 1));
  }
  EXPECT_EQ(HiddenTextFate(original, reloaded), THiddenTextFate::Lost);
}

// A window that records what it was asked and answers as told.
class TRecordingDialog : public TSaveOptionsDialog {
 public:
  bool Execute(TImageIO& io, int pages, bool lockPreview) override {
    ++calls;
    lastPages = pages;
    lastLock = lockPreview;
    formatSeen = io.Bitmap()->PixelFormat();
    return answer;
  }
  int calls = 0;
  int lastPages = 0;
  bool lastLock = false;
  TPixelFormat formatSeen = pf32bit;
  bool answer = true;
};

class ShowSaveOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSaveOptionsDialog(&dialog); }
  void TearDown() override { SetSaveOptionsDialog(nullptr); }
  TRecordingDialog dialog;
};

TEST_F(ShowSaveOptionsTest, HandsThePagesAndTheLockToTheWindow) {
  TBitmap bitmap(8, 8, pf24bit);
  TImageIO io;
  io.AttachBitmap(&bitmap);
  io.PreviewsParams = ioppDefaultLockPreview;
  int previews = 0;
  io.OnIOPreview = [&previews](TObject&) { ++previews; };
  EXPECT_TRUE(io.ShowSaveOptions(spPNG));
  EXPECT_EQ(dialog.lastPages, spPNG);
  EXPECT_TRUE(dialog.lastLock);
  EXPECT_EQ(previews, 1);
  dialog.answer = false;
  io.PreviewsParams = 0;
  EXPECT_FALSE(io.ShowSaveOptions(spAll));
  EXPECT_EQ(dialog.lastPages, kEveryPage);
  EXPECT_FALSE(dialog.lastLock);
}

TEST_F(ShowSaveOptionsTest, ConvertsOtherDepthsAndReportsAChangeEvenWithoutAPage) {
  TBitmap bitmap(8, 8, pf8bit);
  int changes = 0;
  bitmap.OnChange = [&changes](TBitmap&) { ++changes; };
  TImageIO io;
  io.AttachBitmap(&bitmap);
  io.Params.FileType = ftICO;
  EXPECT_FALSE(io.ShowSaveOptions(spOwnType));  // an icon has no page
  EXPECT_EQ(dialog.calls, 0);
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  EXPECT_GE(changes, 1);
  EXPECT_TRUE(io.ShowSaveOptions(spOwnType | spBMP));
  EXPECT_EQ(dialog.formatSeen, pf24bit);
}

TEST_F(ShowSaveOptionsTest, FalseWithoutImageOrWindow) {
  TImageIO io;
  EXPECT_FALSE(io.ShowSaveOptions(spAll));
  TBitmap bitmap(4, 4, pf24bit);
  io.AttachBitmap(&bitmap);
  SetSaveOptionsDialog(nullptr);
  EXPECT_FALSE(io.ShowSaveOptions(spAll));
  EXPECT_EQ(dialog.calls, 0);
}

}  // namespace
}  // namespace veilora
