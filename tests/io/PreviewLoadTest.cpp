// The open dialog's preview loads: AVI frames through FFmpeg (videos made by the ffmpeg program),
// GIF frames and TIFF pages (made by Pillow), and pictures too large to decode whole, which come in
// reduced.
#include <gtest/gtest.h>

#include <algorithm>

#include "io/AviFrames.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "io/PngCodec.h"
#include "io/PreviewLoad.h"
#include "support/MediaTools.h"
#include "support/Pillow.h"

namespace veilora {
namespace {

using test::TTempDir;

TEST(AviReadFrames, DecodesEveryCodingAtTheVideosSize) {
  TTempDir dir;
  for (const char* codec : {"rawvideo", "mjpeg", "mpeg4"}) {
    const std::string file = dir.File(std::string(codec) + ".avi");
    ASSERT_TRUE(test::MakeAvi(file, 64, 48, 5, 10, codec)) << codec;
    TAviFrames video;
    std::string failure;
    ASSERT_TRUE(AviReadFrames(file, 100, 1000, video, &failure)) << codec << ": " << failure;
    EXPECT_EQ(video.frames.size(), 5u) << codec;
    EXPECT_EQ(video.frameCount, 5) << codec;
    EXPECT_EQ(video.width, 64);
    EXPECT_EQ(video.height, 48);
    EXPECT_EQ(video.delayMs, 100) << codec;  // 10 frames a second
    EXPECT_EQ(video.frames[0]->Width(), 64);
    EXPECT_EQ(video.frames[0]->Height(), 48);
    EXPECT_EQ(AviFrameCount(file), 5) << codec;
  }
}

TEST(AviReadFrames, MatchesFfmpegsOwnPixels) {
  TTempDir dir;
  const std::string file = dir.File("raw.avi");
  ASSERT_TRUE(test::MakeAvi(file, 32, 24, 2, 5, "rawvideo"));
  // ffmpeg writes the second frame as a plain picture for Pillow to read.
  const std::string png = dir.File("frame2.png");
  ASSERT_TRUE(test::RunShell("ffmpeg -loglevel error -y -i '" + file +
                             "' -vf 'select=eq(n\\,1)' -frames:v 1 '" + png + "'"));
  const test::TRawImage expected = test::PillowDecode(png);
  TAviFrames video;
  ASSERT_TRUE(AviReadFrames(file, 2, 1000, video));
  ASSERT_EQ(video.frames.size(), 2u);
  EXPECT_EQ(test::RawFromBitmap(*video.frames[1]), expected);
}

TEST(AviReadFrames, KeepsToTheLimits) {
  TTempDir dir;
  const std::string file = dir.File("big.avi");
  ASSERT_TRUE(test::MakeAvi(file, 640, 480, 12, 25));
  TAviFrames video;
  ASSERT_TRUE(AviReadFrames(file, 3, 100, video));
  EXPECT_EQ(video.frames.size(), 3u);
  EXPECT_EQ(video.frameCount, 12);
  EXPECT_EQ(video.frames[0]->Width(), 100);
  EXPECT_EQ(video.frames[0]->Height(), 75);
  EXPECT_EQ(video.delayMs, 40);
}

TEST(AviReadFrames, RefusesDataThatIsNoVideo) {
  TTempDir dir;
  const std::string file = dir.File("text.avi");
  test::WriteWholeFile(file, {'R', 'I', 'F', 'F', 1, 0, 0, 0, 'A', 'V', 'I', ' ', 'x'});
  TAviFrames video;
  std::string failure;
  EXPECT_FALSE(AviReadFrames(file, 5, 100, video, &failure));
  EXPECT_FALSE(failure.empty());
  EXPECT_EQ(AviFrameCount(file), 0);
  EXPECT_FALSE(AviReadFrames(dir.File("missing.avi"), 5, 100, video));
  // The same data from memory, and a good video cut in half, which keeps the frames before the cut.
  const std::string good = dir.File("good.avi");
  ASSERT_TRUE(test::MakeAvi(good, 32, 24, 6, 5, "rawvideo"));
  std::vector<std::uint8_t> bytes = test::ReadWholeFile(good);
  ASSERT_TRUE(AviReadFramesFromMemory(bytes.data(), bytes.size(), 10, 100, video));
  EXPECT_EQ(video.frames.size(), 6u);
  bytes.resize(bytes.size() / 2);
  ASSERT_TRUE(AviReadFramesFromMemory(bytes.data(), bytes.size(), 10, 100, video));
  EXPECT_GE(video.frames.size(), 1u);
  EXPECT_LT(video.frames.size(), 6u);
}

class PreviewFramesTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallLzwCoders(); }
  TTempDir dir;
};

TEST_F(PreviewFramesTest, ReadsGifFramesWithTheirDelays) {
  const std::string file = dir.File("anim.gif");
  ASSERT_TRUE(test::MakeFrames(file, "GIF", 20, 10, 3, 250));
  EXPECT_EQ(PreviewFrameCount(file), 3);
  TPreviewFrames frames;
  ASSERT_TRUE(LoadPreviewFrames(file, 10, 100, frames));
  ASSERT_EQ(frames.frames.size(), 3u);
  EXPECT_EQ(frames.frameCount, 3);
  EXPECT_EQ(frames.delaysMs, (std::vector<std::int32_t>{250, 250, 250}));
  EXPECT_EQ(frames.info.Width, 20);
  EXPECT_EQ(frames.info.FileType, ftGIF);
  // Frame i is grey level 40 * i.
  for (int i = 0; i < 3; ++i) {
    TBitmap colour;
    ConvertTo24Bit(*frames.frames[static_cast<std::size_t>(i)], colour);
    EXPECT_EQ(colour.ScanLine(5)[0], 40 * i) << i;
  }
}

TEST_F(PreviewFramesTest, ReadsTiffPagesReducedToThePreview) {
  const std::string file = dir.File("pages.tif");
  ASSERT_TRUE(test::MakeFrames(file, "TIFF", 400, 200, 2));
  EXPECT_EQ(PreviewFrameCount(file), 2);
  TPreviewFrames frames;
  ASSERT_TRUE(LoadPreviewFrames(file, 10, 100, frames));
  ASSERT_EQ(frames.frames.size(), 2u);
  EXPECT_EQ(frames.frames[0]->Width(), 100);
  EXPECT_EQ(frames.frames[0]->Height(), 50);
  EXPECT_EQ(frames.info.Width, 400);  // the file's own size
  EXPECT_EQ(frames.delaysMs[1], 1000);
  EXPECT_EQ(PreviewFrameCount(dir.File("single.png")), 1);
}

// A picture whose every pixel says where it is, for checking which pixels a reduction kept.
test::TRawImage PositionPicture(int width, int height) {
  test::TRawImage raw{width, height, {}};
  raw.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &raw.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>(x >> 8 | (y >> 8) << 4);
    }
  return raw;
}

TEST_F(PreviewFramesTest, ReducesALargePngByKeepingEveryNthPixel) {
  for (const bool interlaced : {false, true}) {
    const std::string file = dir.File(interlaced ? "large-adam7.png" : "large.png");
    const test::TRawImage raw = PositionPicture(2600, 1800);
    TBitmap source;
    test::BitmapFromRaw(raw, source);
    TImageIO writer;
    writer.AttachBitmap(&source);
    writer.Params.PngInterlaced = interlaced;
    writer.Params.PngCompression = 1;
    writer.SaveToFile(file);
    ASSERT_FALSE(writer.Aborting);

    TBitmap preview;
    TImageIO io;
    io.AttachBitmap(&preview);
    LoadPreviewImage(io, file, 500);
    ASSERT_FALSE(io.Aborting) << interlaced;
    EXPECT_EQ(io.Params.Width, 2600);
    EXPECT_EQ(io.Params.Height, 1800);
    const int step = interlaced ? 8 : 6;  // 2600 / 500 rounded up; Adam7 pass 1 holds every 8th
    ASSERT_EQ(preview.Width(), (2600 + step - 1) / step) << interlaced;
    ASSERT_EQ(preview.Height(), (1800 + step - 1) / step);
    for (int y = 0; y < preview.Height(); y += 37)
      for (int x = 0; x < preview.Width(); x += 23) {
        const std::uint8_t* p = preview.ScanLine(y) + 3 * x;
        const int sx = x * step;
        const int sy = y * step;
        EXPECT_EQ(p[2], static_cast<std::uint8_t>(sx)) << interlaced << " " << x << "," << y;
        EXPECT_EQ(p[1], static_cast<std::uint8_t>(sy));
        EXPECT_EQ(p[0], static_cast<std::uint8_t>(sx >> 8 | (sy >> 8) << 4));
      }
  }
}

TEST_F(PreviewFramesTest, ReducesALargeJpegInTheDecoder) {
  const std::string file = dir.File("large.jpg");
  TBitmap source(2400, 2000, pf24bit);
  source.Fill(RGBToColor(200, 100, 50));
  TImageIO writer;
  writer.AttachBitmap(&source);
  writer.SaveToFile(file);
  ASSERT_FALSE(writer.Aborting);
  TBitmap preview;
  TImageIO io;
  io.AttachBitmap(&preview);
  LoadPreviewImage(io, file, 600);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(preview.Width(), 600);  // 1/4
  EXPECT_EQ(preview.Height(), 500);
  EXPECT_EQ(io.Params.Width, 2400);
  EXPECT_EQ(io.Params.JpegScale, 1);  // the record is left for full-size loads
}

TEST_F(PreviewFramesTest, DecodesSmallPicturesWhole) {
  const std::string file = dir.File("small.png");
  TBitmap source(300, 200, pf24bit);
  TImageIO writer;
  writer.AttachBitmap(&source);
  writer.SaveToFile(file);
  TBitmap preview;
  TImageIO io;
  io.AttachBitmap(&preview);
  LoadPreviewImage(io, file, 100);
  EXPECT_EQ(preview.Width(), 300);
}

TEST_F(PreviewFramesTest, AHugePictureWithoutAReducedDecodeGivesOnlyItsDescription) {
  TBitmap source(300, 200, pf24bit);
  TImageIO writer;
  writer.AttachBitmap(&source);
  for (const char* name : {"big.bmp", "big.png"}) {
    const std::string file = dir.File(name);
    writer.SaveToFile(file);
    TBitmap preview(5, 5, pf24bit);
    TImageIO io;
    io.AttachBitmap(&preview);
    LoadPreviewImage(io, file, 100, 10'000);
    EXPECT_EQ(io.Params.Width, 300) << name;
    EXPECT_EQ(io.Params.Height, 200) << name;
    if (std::string(name) == "big.bmp") {
      EXPECT_TRUE(preview.Empty());
    } else {
      EXPECT_EQ(preview.Width(), 300);  // PNG is read reduced: here whole, as it fits
    }
  }
}

TEST(ReduceForPreview, PicksPixelsAndKeepsOneBit) {
  TBitmap source(400, 100, pf1bit);
  source.FillRect(0, 0, 200, 100, clWhite);
  TBitmap target;
  ReduceForPreview(source, target, 100);
  ASSERT_EQ(target.PixelFormat(), pf1bit);
  EXPECT_EQ(target.Width(), 100);
  EXPECT_EQ(target.Height(), 25);
  EXPECT_EQ(target.ScanLine(3)[0] & 0x80, 0x80);  // left half white
  EXPECT_EQ(target.ScanLine(3)[12] & 0x01, 0);    // pixel 99 black
}

}  // namespace
}  // namespace veilora
