#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/Display.h"
#include "io/ImageIO.h"
#include "support/HeadlessView.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::HeadlessView;
using veilora::test::PixelBytesTopDown;
using veilora::test::TTempDir;

namespace {

struct Document {
  Document() {
    view.Bitmap()->Allocate(9, 6, pf24bit);
    veilora::test::FillRandom(*view.Bitmap(), 5);
    io.SetAttachedView(&view);
  }
  HeadlessView view;
  TImageIO io;
};

TEST(ImageIOPng, SavesByExtensionAndKeepsEveryPixelBit) {
  TTempDir dir;
  Document doc;
  doc.io.SaveToFile(dir.File("picture.PNG"));
  ASSERT_FALSE(doc.io.Aborting);
  EXPECT_EQ(FindFileFormat(dir.File("picture.PNG"), true), ftPNG);

  Document other;
  other.io.LoadFromFile(dir.File("picture.PNG"));
  EXPECT_FALSE(other.io.Aborting);
  EXPECT_EQ(other.io.Params.FileType, ftPNG);
  EXPECT_EQ(PixelBytesTopDown(*other.view.Bitmap()), PixelBytesTopDown(*doc.view.Bitmap()));
}

TEST(ImageIOPng, AFileWithoutABackgroundKeepsTheComponentsColour) {
  TTempDir dir;
  const std::string name = dir.File("plain.png");
  ASSERT_TRUE(veilora::test::PillowEncode(veilora::test::TestPicture(4, 3, 1), name, "PNG", "RGB"));
  Document doc;
  doc.view.SetBackground(RGBToColor(10, 20, 30));
  doc.io.LoadFromFile(name);
  EXPECT_FALSE(doc.io.Aborting);
  EXPECT_EQ(doc.io.Params.PngBackground, (TRGB{30, 20, 10}));
  EXPECT_EQ(ColorToRGB(doc.view.Background()), RGBToColor(10, 20, 30));
}

TEST(ImageIOJpeg, LoadsAnUpperCaseExtensionAndFromAStreamByContent) {
  TTempDir dir;
  Document doc;
  doc.io.SaveToFile(dir.File("photo.JPG"));
  ASSERT_FALSE(doc.io.Aborting);

  Document other;
  other.io.LoadFromFile(dir.File("photo.JPG"));
  EXPECT_FALSE(other.io.Aborting);
  EXPECT_EQ(other.io.Params.FileType, ftJPEG);
  EXPECT_EQ(other.view.Bitmap()->Width(), 9);

  TMemoryStream stream;
  doc.io.SaveToStreamJPEG(stream);
  stream.Seek(0);
  Document third;
  third.io.LoadFromStream(stream);
  EXPECT_FALSE(third.io.Aborting);
  EXPECT_EQ(third.io.Params.FileType, ftJPEG);
  EXPECT_EQ(third.view.Bitmap()->Height(), 6);
}

TEST(ImageIOJpeg, StreamHeadersBoundTheDataAndAreReadEvenWhenOff) {
  Document doc;
  doc.io.StreamHeaders = true;
  TMemoryStream stream;
  doc.io.SaveToStreamJPEG(stream);
  ASSERT_FALSE(doc.io.Aborting);
  const std::int64_t end = stream.Position();
  EXPECT_EQ(std::string(stream.Data().begin(), stream.Data().begin() + 4), "JFIF");
  EXPECT_EQ(GetLE32(stream.Data().data() + 8), static_cast<std::uint32_t>(end - 12));
  stream.Write("more", 4);

  Document other;  // StreamHeaders off: the JPEG load looks for the header anyway
  stream.Seek(0);
  EXPECT_EQ(FindStreamFormat(stream), ftJPEG);
  other.io.LoadFromStream(stream);
  EXPECT_FALSE(other.io.Aborting);
  EXPECT_EQ(stream.Position(), end);
  EXPECT_EQ(other.view.Bitmap()->Width(), 9);
}

// A file cut short opens with the rows it holds: the load fails as before, and Damage says why.
// The next load clears it.
TEST(ImageIOCutShort, TheComponentKeepsTheDamageTheReaderReportsUntilTheNextLoad) {
  TTempDir dir;
  for (const char* extension : {".png", ".jpg", ".pcx", ".tga"}) {
    SCOPED_TRACE(extension);
    Document doc;
    doc.view.Bitmap()->Allocate(200, 120, pf24bit);
    veilora::test::FillRandom(*doc.view.Bitmap(), 8);
    const std::string whole = dir.File(std::string("whole") + extension);
    doc.io.SaveToFile(whole);
    ASSERT_FALSE(doc.io.Aborting);
    const std::vector<std::uint8_t> bytes = veilora::test::ReadWholeFile(whole);
    const std::string cut = dir.File(std::string("cut") + extension);
    veilora::test::WriteWholeFile(
        cut, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + bytes.size() * 6 / 10));

    Document other;
    other.io.LoadFromFile(cut);
    EXPECT_TRUE(other.io.Aborting);
    EXPECT_EQ(other.io.Damage.rfind("the data ends after row ", 0), 0u) << other.io.Damage;
    EXPECT_EQ(other.view.Bitmap()->Height(), 120);
    other.io.LoadFromFile(whole);
    EXPECT_FALSE(other.io.Aborting);
    EXPECT_EQ(other.io.Damage, "");
  }
}

}  // namespace
