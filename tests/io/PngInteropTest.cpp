// PNG files exchanged with Pillow, an independent reader and writer. Pillow writes what it can
// (1, L, LA, 16-bit grey, palettes at 1, 2, 4 and 8 bits, RGB, RGBA, tRNS, bKGD); the layouts it
// cannot write (2- and 4-bit grey, 16-bit colour and alpha, Adam7) are put together by
// tests/interop/png_tool.py, and Pillow reads every file for the expected pixels.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "io/PngCodec.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr TRGB kBackground{200, 150, 100};  // blue, green, red

bool RunPngTool(const std::vector<std::string>& arguments) {
  return veilora::test::RunPythonTool("png_tool.py", arguments);
}

// Pillow's pixels of a file: red, green, blue, alpha (or one palette index) a pixel.
struct TPillowPixels {
  int width = 0;
  int height = 0;
  Bytes values;
};

TPillowPixels PillowPixels(const std::string& file, const char* command) {
  TTempDir dir;
  const std::string out = dir.File("pixels.raw");
  TPillowPixels pixels;
  if (!RunPngTool({command, file, out})) return pixels;
  const Bytes bytes = ReadWholeFile(out);
  if (bytes.size() < 8) return pixels;
  pixels.width = static_cast<int>(GetLE32(bytes.data()));
  pixels.height = static_cast<int>(GetLE32(bytes.data() + 4));
  pixels.values.assign(bytes.begin() + 8, bytes.end());
  return pixels;
}

std::uint32_t GetBE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The data of the first chunk of a type, or nothing.
std::optional<Bytes> ChunkData(const Bytes& file, const char* type) {
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint32_t length = GetBE32(&file[at]);
    if (at + 12 + length > file.size()) break;
    if (std::memcmp(&file[at + 4], type, 4) == 0) {
      return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                   file.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
    }
    at += 12 + length;
  }
  return std::nullopt;
}

// The colour a file's bKGD chunk names, brought to 8 bits, or PngBackground when there is none.
TRGB ExpectedBackground(const Bytes& file) {
  const int depth = file[24];
  const int type = file[25];
  const std::optional<Bytes> bkgd = ChunkData(file, "bKGD");
  if (!bkgd) return kBackground;
  auto scale = [depth](int v) { return depth == 16 ? v >> 8 : depth < 8 ? v * 255 / ((1 << depth) - 1) : v; };
  const Bytes& b = *bkgd;
  if (type == 3) {
    const Bytes plte = *ChunkData(file, "PLTE");
    return Rgb(plte[3 * b[0]], plte[3 * b[0] + 1], plte[3 * b[0] + 2]);
  }
  if (type == 0 || type == 4) {
    const int grey = scale(b[0] << 8 | b[1]);
    return Rgb(grey, grey, grey);
  }
  return Rgb(scale(b[0] << 8 | b[1]), scale(b[2] << 8 | b[3]), scale(b[4] << 8 | b[5]));
}

int Blend(int foreground, int alpha, int background) {
  return (foreground * alpha + background * (255 - alpha) + 127) / 255;
}

// Reads `file` with our reader and compares with Pillow: 1-bit files bit for bit (grey level or
// palette index 1 is a set bit), every other file as Pillow's colour flattened onto the expected
// background. libpng flattens 16-bit samples before it drops their low bytes while Pillow gives the
// high bytes, so 16-bit files may differ by one step of rounding.
void CheckAgainstPillow(const std::string& file) {
  SCOPED_TRACE(file);
  const Bytes bytes = ReadWholeFile(file);
  ASSERT_GT(bytes.size(), 26u);
  const int depth = bytes[24];
  const int type = bytes[25];

  TBitmap ours;
  TIOParams params;
  params.PngBackground = kBackground;
  bool aborted = false;
  {
    TFileStream stream(file, TFileStream::Mode::Read);
    PngReadStream(stream, ours, params, false, TProgressContext{{}, nullptr, &aborted});
  }
  ASSERT_FALSE(aborted);
  EXPECT_EQ(params.BitsPerSample, depth);
  EXPECT_EQ(params.PngInterlaced, bytes[28] == 1);
  const TRGB background = ExpectedBackground(bytes);
  EXPECT_EQ(params.PngBackground, background);

  // A 1-bit file stays bits when its values mean black and white: grey, or a palette of black
  // then white without transparency. Any other 1-bit palette loads in its own colours.
  const std::optional<Bytes> plte = ChunkData(bytes, "PLTE");
  const bool blackThenWhite =
      plte && plte->size() >= 6 &&
      std::equal(plte->begin(), plte->begin() + 6, Bytes{0, 0, 0, 255, 255, 255}.begin()) &&
      !ChunkData(bytes, "tRNS");
  if (depth == 1 && (type == 0 || blackThenWhite)) {
    ASSERT_EQ(ours.PixelFormat(), pf1bit);
    const TPillowPixels pillow = PillowPixels(file, type == 3 ? "indices" : "decode");
    ASSERT_EQ(pillow.width, ours.Width());
    ASSERT_EQ(pillow.height, ours.Height());
    const std::size_t step = type == 3 ? 1 : 4;
    int wrong = 0;
    for (int y = 0; y < ours.Height(); ++y) {
      for (int x = 0; x < ours.Width(); ++x) {
        const std::uint8_t value = pillow.values[(static_cast<std::size_t>(y) * pillow.width + x) * step];
        wrong += BitAt(ours, x, y) != (type == 3 ? value == 1 : value == 255);
      }
    }
    EXPECT_EQ(wrong, 0);
    return;
  }

  ASSERT_EQ(ours.PixelFormat(), pf24bit);
  const TPillowPixels pillow = PillowPixels(file, "decode");
  ASSERT_EQ(pillow.width, ours.Width());
  ASSERT_EQ(pillow.height, ours.Height());
  const int tolerance = depth == 16 ? 1 : 0;
  int wrong = 0;
  for (int y = 0; y < ours.Height(); ++y) {
    for (int x = 0; x < ours.Width(); ++x) {
      const std::uint8_t* p = &pillow.values[(static_cast<std::size_t>(y) * pillow.width + x) * 4];
      const TRGB expected = Rgb(Blend(p[0], p[3], background.r), Blend(p[1], p[3], background.g),
                                Blend(p[2], p[3], background.b));
      const TRGB got = PixelAt(ours, x, y);
      if (std::abs(got.r - expected.r) > tolerance || std::abs(got.g - expected.g) > tolerance ||
          std::abs(got.b - expected.b) > tolerance) {
        if (++wrong <= 3)
          ADD_FAILURE() << "pixel " << x << ", " << y << ": " << testing::PrintToString(got) << " vs "
                        << testing::PrintToString(expected);
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST(PngInterop, WeReadEveryKindOfFilePillowWritesAsPillowDoes) {
  TTempDir dir;
  for (const char* kind :
       {"1", "L", "Lt", "LA", "I16", "P1", "P2", "P4", "P8", "Pt", "RGB", "RGBt", "RGBA"}) {
    for (const bool background : {false, true}) {
      const std::string file = dir.File(std::string(kind) + (background ? "-bkgd.png" : ".png"));
      std::vector<std::string> arguments{"pillow", file, kind, "37", "23", "5"};
      if (background) arguments.push_back("bkgd");
      ASSERT_TRUE(RunPngTool(arguments));
      CheckAgainstPillow(file);
    }
  }
}

TEST(PngInterop, WeReadTheLayoutsPillowCannotWriteAsPillowReadsThem) {
  TTempDir dir;
  struct Case {
    int depth;
    int type;
    int interlace;
    std::vector<std::string> flags;
  };
  const Case cases[] = {
      {2, 0, 0, {"trns"}},
      {2, 0, 0, {"trns", "bkgd"}},
      {4, 0, 0, {"trns", "bkgd"}},
      {16, 2, 0, {}},
      {16, 2, 0, {"bkgd"}},
      {16, 6, 0, {}},
      {16, 6, 0, {"bkgd"}},
      {16, 4, 0, {"bkgd"}},
      {16, 0, 0, {"trns"}},
      {8, 2, 1, {}},
      {8, 6, 1, {"bkgd"}},
      {8, 4, 1, {}},
      {1, 0, 1, {}},
      {1, 3, 1, {}},
      {2, 3, 1, {"trns", "bkgd"}},
      {4, 3, 1, {"trns"}},
      {8, 3, 1, {"trns"}},
      {16, 6, 1, {}},
      {4, 0, 1, {}},
  };
  int n = 0;
  for (const Case& k : cases) {
    const std::string file = dir.File("raw" + std::to_string(n++) + ".png");
    std::vector<std::string> arguments{"raw",
                                       file,
                                       "29",
                                       "21",
                                       std::to_string(k.depth),
                                       std::to_string(k.type),
                                       std::to_string(k.interlace),
                                       std::to_string(n)};
    arguments.insert(arguments.end(), k.flags.begin(), k.flags.end());
    ASSERT_TRUE(RunPngTool(arguments));
    CheckAgainstPillow(file);
  }
}

void WriteOurs(const std::string& file, TBitmap& bitmap, TIOParams& params) {
  TFileStream stream(file, TFileStream::Mode::Create);
  bool aborted = false;
  PngWriteStream(stream, bitmap, params, TProgressContext{{}, nullptr, &aborted});
  stream.Close();
  ASSERT_FALSE(aborted);
}

TEST(PngInterop, PillowReadsOurTrueColourFilesExactly) {
  TTempDir dir;
  const TRawImage picture = TestPicture(301, 77, 1);
  for (const bool interlaced : {false, true}) {
    for (std::uint8_t filter = 0; filter < 3; ++filter) {
      TBitmap image;
      BitmapFromRaw(picture, image);
      TIOParams params;
      params.PngInterlaced = interlaced;
      params.PngFilter = filter;
      const std::string file = dir.File("rgb" + std::to_string(interlaced) + std::to_string(filter) + ".png");
      WriteOurs(file, image, params);
      EXPECT_EQ(PillowDecode(file), picture) << file;
    }
  }
}

TEST(PngInterop, PillowReadsOurOneBitAndPaletteFilesAsWeDo) {
  TTempDir dir;
  TBitmap mono(67, 31, pf1bit);
  FillRandom(mono, 9);
  TIOParams oneBit;
  oneBit.BitsPerSample = 1;
  oneBit.SamplesPerPixel = 1;
  const std::string monoFile = dir.File("mono.png");
  WriteOurs(monoFile, mono, oneBit);
  EXPECT_EQ(PillowDecode(monoFile), RawFromBitmap(mono));

  // Colours on multiples of 8 fit the quantizer's 5-bit cells, so the palette holds them exactly.
  TRawImage few = TestPicture(53, 29, 2);
  for (std::size_t i = 0; i < few.rgb.size(); ++i)
    few.rgb[i] = static_cast<std::uint8_t>((few.rgb[i] & 0xC0) | 8);
  TBitmap image;
  BitmapFromRaw(few, image);
  TIOParams palette;
  palette.SamplesPerPixel = 1;
  const std::string paletteFile = dir.File("palette.png");
  WriteOurs(paletteFile, image, palette);
  EXPECT_EQ(ReadWholeFile(paletteFile)[25], 3);
  EXPECT_EQ(PillowDecode(paletteFile), few);
}

}  // namespace
