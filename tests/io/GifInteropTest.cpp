// GIF files checked against independent peers: ours must open in Pillow and in giflib's gif2rgb with
// the same pixels, and every frame of Pillow's files must open in ours as Pillow stored it.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "io/GifCodec.h"
#include "io/LzwCoders.h"
#include "support/LzwHooks.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

namespace veilora {
namespace {

using test::RawFromBitmap;
using test::ReadWholeFile;
using test::TRawImage;
using test::TTempDir;
using test::WriteWholeFile;

class GifInterop : public testing::Test {
 protected:
  test::TScopedLzwHooks hooks_{test::TScopedLzwHooks::kProgramCoders};
};

bool SaveGif(TBitmap& bitmap, TIOParams& params, const std::string& file) {
  bool aborting = false;
  TProgressContext progress;
  progress.aborting = &aborting;
  TFileStream stream(file, TFileStream::Mode::Create);
  GifWriteStream(stream, bitmap, params, progress);
  stream.Close();
  return !aborting;
}

struct Loaded {
  TBitmap bitmap;
  TIOParams params;
  std::int32_t frames = 0;
  bool ok = false;
};

void LoadGif(const std::string& file, int index, Loaded& out) {
  bool aborting = false;
  TProgressContext progress;
  progress.aborting = &aborting;
  out.params.GifImageIndex = index;
  TFileStream stream(file, TFileStream::Mode::Read);
  GifReadStream(stream, out.bitmap, out.params, false, progress, &out.frames);
  out.ok = !aborting;
}

// giflib's reading: gif2rgb paints every image onto the logical screen and writes it as red, green,
// blue bytes. For a one-image file whose image fills the screen that is the image itself.
TRawImage GiflibDecode(const std::string& file, int width, int height) {
  TTempDir dir;
  const std::string out = dir.File("giflib.rgb");
  const std::string command = "gif2rgb -1 -o '" + out + "' '" + file + "' 2>&1";
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run gif2rgb";
    return {};
  }
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  if (pclose(pipe) != 0) {
    ADD_FAILURE() << "gif2rgb failed (giflib-tools must be installed): " << text;
    return {};
  }
  return TRawImage{width, height, ReadWholeFile(out)};
}

// A picture of `colours` colours, each a multiple of 8 in every channel and alone in its quantizer
// cell: a palette of that many entries keeps it exactly. `noise` scatters the colours at random, so
// that the LZW table fills and is cleared again and again.
void PaintColours(TBitmap& image, int width, int height, int colours, bool noise) {
  image.Allocate(width, height, pf24bit);
  std::uint32_t state = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int k = noise ? static_cast<int>(state >> 24) % colours : (x / 3 + y * 5) % colours;
      test::SetPixel(image, x, y, test::Rgb(8 * (k % 8), 8 * ((k / 8) % 8), 8 * (k / 64) + 40));
    }
  }
}

struct OursCase {
  const char* name;
  int bitsPerSample;
  int colours;  // 0: a bilevel image
  bool noise;
  bool interlaced;
  int width;
  int height;
};

class GifOpensInPeers : public GifInterop, public testing::WithParamInterface<OursCase> {};

TEST_P(GifOpensInPeers, WithTheSamePixels) {
  const OursCase& c = GetParam();
  TTempDir dir;
  const std::string file = dir.File("ours.gif");
  TBitmap image;
  if (c.colours == 0) {
    image.Allocate(c.width, c.height, pf1bit);
    test::FillRandom(image, 7);
  } else {
    PaintColours(image, c.width, c.height, c.colours, c.noise);
  }
  TIOParams params;
  params.BitsPerSample = c.bitsPerSample;
  params.GifInterlaced = c.interlaced;
  ASSERT_TRUE(SaveGif(image, params, file));
  const TRawImage expected = RawFromBitmap(image);

  EXPECT_EQ(test::PillowDecode(file), expected);
  EXPECT_EQ(GiflibDecode(file, c.width, c.height), expected);
  Loaded ours;
  LoadGif(file, 0, ours);
  ASSERT_TRUE(ours.ok);
  EXPECT_EQ(RawFromBitmap(ours.bitmap), expected);
}

INSTANTIATE_TEST_SUITE_P(Ours, GifOpensInPeers,
                         testing::Values(OursCase{"Bilevel", 1, 0, false, false, 53, 17},
                                         OursCase{"BilevelInterlaced", 1, 0, false, true, 29, 23},
                                         OursCase{"FourColours", 2, 4, false, false, 31, 7},
                                         OursCase{"SixteenColoursInterlaced", 4, 16, false, true, 37, 29},
                                         OursCase{"Palette", 8, 200, false, false, 57, 19},
                                         OursCase{"NoisyPaletteFillsTheTable", 8, 256, true, false, 300, 200},
                                         OursCase{"NoisyInterlaced", 8, 97, true, true, 211, 133}),
                         [](const auto& row) { return std::string(row.param.name); });

// A file whose colour table is taken away shows its indices as grey levels in ours, as in Pillow.
TEST_F(GifInterop, AFileWithoutColourTableShowsGreyLikePillow) {
  TTempDir dir;
  TBitmap image;
  PaintColours(image, 23, 11, 150, true);
  TIOParams params;
  ASSERT_TRUE(SaveGif(image, params, dir.File("table.gif")));
  std::vector<std::uint8_t> bytes = ReadWholeFile(dir.File("table.gif"));
  ASSERT_EQ(bytes[10] & 0x87, 0x87);
  bytes[10] &= 0x7F;
  bytes.erase(bytes.begin() + 13, bytes.begin() + 13 + 768);
  const std::string file = dir.File("grey.gif");
  WriteWholeFile(file, bytes);

  Loaded ours;
  LoadGif(file, 0, ours);
  ASSERT_TRUE(ours.ok);
  EXPECT_EQ(RawFromBitmap(ours.bitmap), test::PillowDecode(file));
}

void WriteRaw(const TRawImage& image, const std::string& file) {
  std::vector<std::uint8_t> bytes(8);
  for (int i = 0; i < 4; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(image.width >> (8 * i));
    bytes[static_cast<std::size_t>(4 + i)] = static_cast<std::uint8_t>(image.height >> (8 * i));
  }
  bytes.insert(bytes.end(), image.rgb.begin(), image.rgb.end());
  WriteWholeFile(file, bytes);
}

TRawImage ReadRaw(const std::string& file) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(file);
  if (bytes.size() < 8) return {};
  return TRawImage{static_cast<int>(GetLE32(bytes.data())), static_cast<int>(GetLE32(bytes.data() + 4)),
                   std::vector<std::uint8_t>(bytes.begin() + 8, bytes.end())};
}

// What the tool says of one frame as it is stored.
struct StoredFrame {
  TRawImage pixels;
  int left = -1;
  int top = -1;
  int width = -1;
  int height = -1;
  int interlaced = -1;
  int transparent = -2;
  int delay = -1;
};

StoredFrame PillowFrame(const std::string& file, int index) {
  TTempDir dir;
  StoredFrame frame;
  std::string text;
  if (!test::RunPythonTool("gif_tool.py", {"frame", file, std::to_string(index), dir.File("frame.raw")},
                           &text)) {
    return frame;
  }
  std::istringstream(text) >> frame.left >> frame.top >> frame.width >> frame.height >> frame.interlaced >>
      frame.transparent >> frame.delay;
  frame.pixels = ReadRaw(dir.File("frame.raw"));
  return frame;
}

int PillowFrameCount(const std::string& file) {
  std::string text;
  if (!test::RunPythonTool("gif_tool.py", {"count", file}, &text)) return -1;
  return std::stoi(text);
}

// Each of Pillow's frames loads in ours with the pixels, place and control values it was stored with.
void ExpectFramesMatch(const std::string& file, int frameCount) {
  EXPECT_EQ(PillowFrameCount(file), frameCount);
  EXPECT_EQ(GifImageCount(file), frameCount);
  for (int index = 0; index < frameCount; ++index) {
    SCOPED_TRACE(testing::Message() << "frame " << index);
    const StoredFrame expected = PillowFrame(file, index);
    Loaded ours;
    LoadGif(file, index, ours);
    ASSERT_TRUE(ours.ok);
    EXPECT_EQ(ours.frames, frameCount);
    EXPECT_EQ(RawFromBitmap(ours.bitmap), expected.pixels);
    EXPECT_EQ(ours.params.GifXPos, expected.left);
    EXPECT_EQ(ours.params.GifYPos, expected.top);
    EXPECT_EQ(ours.params.Width, expected.width);
    EXPECT_EQ(ours.params.Height, expected.height);
    EXPECT_EQ(ours.params.GifInterlaced, expected.interlaced == 1);
    EXPECT_EQ(ours.params.GifHasTransparent, expected.transparent >= 0);
    EXPECT_EQ(ours.params.GifDelayTime, expected.delay);
    if (expected.transparent >= 0) {
      ASSERT_LT(expected.transparent, ours.params.ColorMapCount);
      EXPECT_EQ(ours.params.GifTransparentColor,
                ours.params.ColorMap[static_cast<std::size_t>(expected.transparent)]);
    }
  }
}

TEST_F(GifInterop, PillowsInterlacedFrameOpensInOurs) {
  TTempDir dir;
  WriteRaw(test::TestPicture(67, 29, 11), dir.File("picture.raw"));
  const std::string file = dir.File("pillow.gif");
  ASSERT_TRUE(test::RunPythonTool("gif_tool.py", {"make", file, "transparency=5", dir.File("picture.raw")}));
  const StoredFrame stored = PillowFrame(file, 0);
  EXPECT_EQ(stored.interlaced, 1);
  ExpectFramesMatch(file, 1);
}

TEST_F(GifInterop, PillowsSmallPalettesOpenInOurs) {
  TTempDir dir;
  WriteRaw(test::TestPicture(13, 40, 3), dir.File("picture.raw"));
  for (const char* colours : {"colors=2", "colors=7", "colors=16"}) {
    SCOPED_TRACE(colours);
    const std::string file = dir.File("small.gif");
    ASSERT_TRUE(
        test::RunPythonTool("gif_tool.py", {"make", file, colours, "interlace=0", dir.File("picture.raw")}));
    ExpectFramesMatch(file, 1);
  }
}

// Later frames change only a patch, in colours of their own: Pillow stores them cropped to the
// patch, at its place, with a local colour table.
TEST_F(GifInterop, PillowsFramesWithLocalTablesOpenInOursOneByOne) {
  TTempDir dir;
  TBitmap base;
  PaintColours(base, 40, 30, 20, false);
  TRawImage frame = RawFromBitmap(base);
  std::vector<std::string> arguments = {"make", dir.File("frames.gif"), "duration=7", "transparency=2"};
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      for (int y = 4 * k; y < 4 * k + 9; ++y) {
        for (int x = 6 * k; x < 6 * k + 11; ++x) {
          std::uint8_t* pixel = frame.rgb.data() + 3 * (static_cast<std::size_t>(y) * 40 + x);
          pixel[0] = static_cast<std::uint8_t>(200 + 8 * k);
          pixel[1] = static_cast<std::uint8_t>(((x + y) % 5) * 40);
          pixel[2] = static_cast<std::uint8_t>(k * 60);
        }
      }
    }
    const std::string raw = dir.File("frame" + std::to_string(k) + ".raw");
    WriteRaw(frame, raw);
    arguments.push_back(raw);
  }
  ASSERT_TRUE(test::RunPythonTool("gif_tool.py", arguments));
  const std::string file = dir.File("frames.gif");
  ExpectFramesMatch(file, 3);
  // The later frames really are patches with tables of their own.
  Loaded second;
  LoadGif(file, 1, second);
  EXPECT_LT(second.params.Width, 40);
  EXPECT_GT(second.params.GifXPos, 0);
}

}  // namespace
}  // namespace veilora
