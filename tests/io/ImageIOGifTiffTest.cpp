#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/Display.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "support/HeadlessView.h"
#include "support/LzwHooks.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::HeadlessView;
using veilora::test::PixelAt;
using veilora::test::PixelBytesTopDown;
using veilora::test::TTempDir;

namespace {

// The program installs the LZW coders at start-up; a document made afterwards copies them.
struct Document {
  Document() {
    view.Bitmap()->Allocate(7, 5, pf24bit);
    veilora::test::FillRandom(*view.Bitmap(), 11);
    io.SetAttachedView(&view);
  }
  veilora::test::TScopedLzwHooks hooks{veilora::test::TScopedLzwHooks::kProgramCoders};
  HeadlessView view;
  TImageIO io;
};

TEST(ImageIOTiff, SavesByEitherExtensionAndReloadsEveryPixelBit) {
  TTempDir dir;
  Document doc;
  for (const char* name : {"scan.tif", "scan.TIFF"}) {
    doc.io.SaveToFile(dir.File(name));
    ASSERT_FALSE(doc.io.Aborting) << name;
    EXPECT_EQ(FindFileFormat(dir.File(name), true), ftTIFF) << name;

    Document other;
    other.io.LoadFromFile(dir.File(name));
    EXPECT_FALSE(other.io.Aborting) << name;
    EXPECT_EQ(other.io.Params.FileType, ftTIFF);
    EXPECT_EQ(PixelBytesTopDown(*other.view.Bitmap()), PixelBytesTopDown(*doc.view.Bitmap())) << name;
  }
}

TEST(ImageIOTiff, StreamHeadersBoundTheDataAndAreReadEvenWhenOff) {
  Document doc;
  doc.io.StreamHeaders = true;
  TMemoryStream stream;
  doc.io.SaveToStreamTIFF(stream);
  ASSERT_FALSE(doc.io.Aborting);
  const std::int64_t end = stream.Position();
  EXPECT_EQ(std::string(stream.Data().begin(), stream.Data().begin() + 4), "TIFF");
  EXPECT_EQ(GetLE32(stream.Data().data() + 8), static_cast<std::uint32_t>(end - 12));
  stream.Write("more", 4);

  // Loading by content finds the header; the load leaves the position after the image's data.
  Document other;
  stream.Seek(0);
  other.io.LoadFromStream(stream);
  EXPECT_FALSE(other.io.Aborting);
  EXPECT_EQ(stream.Position(), end);
  EXPECT_EQ(PixelBytesTopDown(*other.view.Bitmap()), PixelBytesTopDown(*doc.view.Bitmap()));

  // With StreamHeaders on, data without the header is refused.
  TMemoryStream bare;
  doc.io.StreamHeaders = false;
  doc.io.SaveToStreamTIFF(bare);
  bare.Seek(0);
  Document third;
  third.view.Bitmap()->Allocate(3, 2, pf24bit);
  third.io.StreamHeaders = true;
  third.io.LoadFromStreamTIFF(bare);
  EXPECT_TRUE(third.io.Aborting);
  EXPECT_EQ(third.view.Bitmap()->Width(), 3);
}

TEST(ImageIOGif, LoadsByContentAndShowsTheTransparentColourAround) {
  Document doc;
  doc.io.Params.GifHasTransparent = true;
  doc.io.Params.GifTransparentColor = PixelAt(*doc.view.Bitmap(), 2, 3);
  TMemoryStream stream;
  doc.io.SaveToStreamGIF(stream);
  ASSERT_FALSE(doc.io.Aborting);

  Document other;
  stream.Seek(0);
  other.io.LoadFromStream(stream);
  ASSERT_FALSE(other.io.Aborting);
  EXPECT_EQ(other.io.Params.FileType, ftGIF);
  EXPECT_TRUE(other.io.Params.GifHasTransparent);
  const TRGB shown = other.io.Params.GifTransparentColor;
  EXPECT_EQ(other.view.Background(), RGBToColor(shown.r, shown.g, shown.b));
  // Seven by five pixels hold at most 35 colours: the 256-colour table keeps every one exactly.
  EXPECT_EQ(PixelBytesTopDown(*other.view.Bitmap()), PixelBytesTopDown(*doc.view.Bitmap()));
  EXPECT_EQ(shown, PixelAt(*doc.view.Bitmap(), 2, 3));
}

TEST(ImageIOGif, WithoutATransparentColourTheScreenBackgroundIsShown) {
  TTempDir dir;
  Document doc;
  doc.io.Params.GifBackground = PixelAt(*doc.view.Bitmap(), 0, 0);
  doc.io.SaveToFile(dir.File("anim.gif"));
  ASSERT_FALSE(doc.io.Aborting);

  Document other;
  other.io.LoadFromFile(dir.File("anim.gif"));
  ASSERT_FALSE(other.io.Aborting);
  EXPECT_FALSE(other.io.Params.GifHasTransparent);
  const TRGB shown = other.io.Params.GifBackground;
  EXPECT_EQ(shown, PixelAt(*doc.view.Bitmap(), 0, 0));
  EXPECT_EQ(other.view.Background(), RGBToColor(shown.r, shown.g, shown.b));
}

}  // namespace
