// Bitmaps, icons and cursors exchanged with Pillow, pixel for pixel.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "io/BmpCodec.h"
#include "io/PngCodec.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A picture of `colours` distinct colours, all multiples of 8 (so a 5-bit-per-channel palette holds
// them exactly), laid out in runs of varied length and in single pixels, so that run-length coding
// meets both.
TRawImage FewColours(int width, int height, int colours) {
  TRawImage raw{width, height, {}};
  unsigned state = 12345;
  int current = 0;
  int left = 0;
  for (int i = 0; i < width * height; ++i) {
    if (left == 0) {
      state = state * 1103515245u + 12345u;
      current = static_cast<int>((state >> 16) % colours);
      left = (state >> 8) % 3 == 0 ? 1 + static_cast<int>((state >> 4) % 300) : 1;
    }
    --left;
    raw.rgb.push_back(static_cast<std::uint8_t>(8 * ((current * 7) % 32)));
    raw.rgb.push_back(static_cast<std::uint8_t>(8 * ((current * 13 + 5) % 32)));
    raw.rgb.push_back(static_cast<std::uint8_t>(8 * ((current * 3 + 11) % 32)));
  }
  return raw;
}

// Runs of 2 to 6 equal pixels between groups of 2 or 4 distinct ones, so that every literal group of
// an RLE4 row has an even length. Pillow 9.4 reads odd-length RLE4 absolute runs wrongly (it takes
// n div 2 bytes for n pixels), so files for it must not hold any.
TRawImage EvenLiterals(int width, int height, int colours) {
  TRawImage raw{width, height, {}};
  unsigned state = 777;
  auto next = [&state](unsigned range) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % range;
  };
  auto push = [&](int colour) {
    raw.rgb.push_back(static_cast<std::uint8_t>(8 * ((colour * 7) % 32)));
    raw.rgb.push_back(static_cast<std::uint8_t>(8 * ((colour * 13 + 5) % 32)));
    raw.rgb.push_back(static_cast<std::uint8_t>(8 * ((colour * 3 + 11) % 32)));
  };
  for (int y = 0; y < height; ++y) {
    int colour = static_cast<int>(next(static_cast<unsigned>(colours)));
    int left = width;
    for (;;) {
      const int run = 2 + static_cast<int>(next(5));
      const int literals = next(2) == 0 ? 2 : 4;
      if (left < run + literals + 2) break;
      for (int i = 0; i < run; ++i) push(colour);
      for (int i = 1; i <= literals; ++i) push((colour + i) % colours);
      colour = (colour + literals + 3) % colours;
      left -= run + literals;
    }
    for (int i = 0; i < left; ++i) push(colour);
  }
  return raw;
}

std::string WriteOurs(const TTempDir& dir, TBitmap& bitmap, TIOParams& params, const std::string& name) {
  bool aborting = false;
  TMemoryStream stream;
  BmpWriteStream(stream, bitmap, params, TProgressContext{{}, nullptr, &aborting});
  EXPECT_FALSE(aborting);
  const std::string file = dir.File(name);
  WriteWholeFile(file, stream.Data());
  return file;
}

TRawImage ReadOurs(const std::string& file, bool icon) {
  TMemoryStream stream{ReadWholeFile(file)};
  TBitmap bitmap;
  TIOParams params;
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  if (icon) {
    IcoReadStream(stream, bitmap, params, progress, false);
  } else {
    BmpReadStream(stream, bitmap, params, false, progress, stream.Size());
  }
  EXPECT_FALSE(aborting) << file;
  return RawFromBitmap(bitmap);
}

TEST(BmpInterop, PillowReadsOurTrueColourFilesInEveryHeaderVersion) {
  TTempDir dir;
  TBitmap image;
  BitmapFromRaw(TestPicture(37, 23, 1), image);
  for (const int version : {0, 1, 2, 3}) {
    TIOParams params;
    params.BmpVersion = static_cast<std::uint8_t>(version);
    const std::string file = WriteOurs(dir, image, params, "v" + std::to_string(version) + ".bmp");
    EXPECT_EQ(PillowDecode(file), RawFromBitmap(image)) << "version " << version;
  }
}

TEST(BmpInterop, PillowReadsOurPaletteFilesWithAndWithoutRunLengthCoding) {
  TTempDir dir;
  struct Case {
    int bits;
    int colours;
    int compression;
    int version;
  };
  for (const Case& c : {Case{8, 40, 0, 1}, Case{8, 40, 1, 1}, Case{4, 12, 0, 1}, Case{4, 12, 1, 1},
                        Case{8, 40, 1, 3}, Case{8, 40, 0, 2}, Case{4, 12, 0, 2}}) {
    const TRawImage raw =
        c.bits == 4 && c.compression == 1 ? EvenLiterals(613, 17, c.colours) : FewColours(613, 17, c.colours);
    TBitmap image;
    BitmapFromRaw(raw, image);
    TIOParams params;
    params.BitsPerSample = c.bits;
    params.SamplesPerPixel = 1;
    params.BmpCompression = static_cast<std::uint8_t>(c.compression);
    params.BmpVersion = static_cast<std::uint8_t>(c.version);
    const std::string file = WriteOurs(dir, image, params, "palette.bmp");
    const std::string what = std::to_string(c.bits) + " bits, compression " + std::to_string(c.compression) +
                             ", version " + std::to_string(c.version);
    // The pictures are chosen so that the palette holds every colour exactly.
    ASSERT_EQ(ReadOurs(file, false), raw) << what;
    EXPECT_EQ(PillowDecode(file), raw) << what;
  }
}

TEST(BmpInterop, PillowReadsOurOneBitFiles) {
  TTempDir dir;
  TBitmap mono(45, 9, pf1bit);
  FillRandom(mono, 4);
  TIOParams params;
  params.BitsPerSample = 1;
  EXPECT_EQ(PillowDecode(WriteOurs(dir, mono, params, "mono.bmp")), RawFromBitmap(mono));

  // Two colours of a true-colour image keep their colours in the palette.
  TRawImage two = FewColours(45, 9, 2);
  TBitmap image;
  BitmapFromRaw(two, image);
  EXPECT_EQ(PillowDecode(WriteOurs(dir, image, params, "two.bmp")), two);
}

TEST(BmpInterop, WeReadPillowBitmaps) {
  TTempDir dir;
  struct Case {
    const char* mode;
    TRawImage raw;
  };
  TRawImage blackWhite = FewColours(50, 13, 2);
  for (std::size_t i = 0; i < blackWhite.rgb.size(); i += 3) {
    const std::uint8_t v = blackWhite.rgb[i] == blackWhite.rgb[0] ? 0 : 255;
    std::fill_n(blackWhite.rgb.begin() + static_cast<std::ptrdiff_t>(i), 3, v);
  }
  const Case cases[] = {{"RGB", TestPicture(51, 19, 2)}, {"P", FewColours(51, 19, 60)}, {"1", blackWhite}};
  for (const Case& c : cases) {
    const std::string file = dir.File(std::string("pillow_") + c.mode + ".bmp");
    ASSERT_TRUE(PillowEncode(c.raw, file, "BMP", c.mode));
    EXPECT_EQ(ReadOurs(file, false), c.raw) << c.mode;
  }
}

TEST(BmpInterop, WeReadPillowIconsStoredAsBitmaps) {
  TTempDir dir;
  TRawImage blackWhite = FewColours(16, 16, 2);
  for (std::size_t i = 0; i < blackWhite.rgb.size(); i += 3) {
    const std::uint8_t v = blackWhite.rgb[i] == blackWhite.rgb[0] ? 0 : 255;
    std::fill_n(blackWhite.rgb.begin() + static_cast<std::ptrdiff_t>(i), 3, v);
  }
  struct Case {
    const char* mode;
    TRawImage raw;
  };
  // Pillow writes an all-clear (opaque) mask, so every pixel is compared.
  const Case cases[] = {{"RGB", TestPicture(16, 16, 3)}, {"P", FewColours(16, 16, 50)}, {"1", blackWhite}};
  for (const Case& c : cases) {
    const std::string file = dir.File(std::string("pillow_") + c.mode + ".ico");
    ASSERT_TRUE(PillowEncode(c.raw, file, "ICO", c.mode, {"bitmap_format=bmp"}));
    EXPECT_EQ(ReadOurs(file, true), c.raw) << c.mode;
  }
}

// Pixels as red, green, blue, alpha bytes, rows from the top, as bmp_alpha_tool.py writes them.
struct RgbaImage {
  int width = 0;
  int height = 0;
  Bytes rgba;
};

RgbaImage ReadRgba(const std::string& file) {
  const Bytes bytes = ReadWholeFile(file);
  RgbaImage image;
  if (bytes.size() < 8) return image;
  image.width = static_cast<int>(GetLE32(bytes.data()));
  image.height = static_cast<int>(GetLE32(bytes.data() + 4));
  image.rgba.assign(bytes.begin() + 8, bytes.end());
  return image;
}

// The picture flattened onto `background` with exact rounding: (fg a + bg (255 - a)) / 255.
TRawImage Flattened(const RgbaImage& image, TRGB background) {
  TRawImage raw{image.width, image.height, {}};
  const int bg[3] = {background.r, background.g, background.b};
  for (std::size_t i = 0; i + 4 <= image.rgba.size(); i += 4) {
    const int a = image.rgba[i + 3];
    for (int c = 0; c < 3; ++c) {
      raw.rgb.push_back(static_cast<std::uint8_t>((image.rgba[i + c] * a + bg[c] * (255 - a) + 127) / 255));
    }
  }
  return raw;
}

TEST(BmpInterop, WeReadPillowIconsWithAlphaFlattenedOntoTheIconBackground) {
  TTempDir dir;
  ASSERT_TRUE(RunPythonTool("bmp_alpha_tool.py", {dir.File("")}));
  const TRGB background = Rgb(30, 160, 250);
  const RgbaImage image = ReadRgba(dir.File("rgba.raw"));
  ASSERT_EQ(image.width, 32);
  for (const char* name : {"png.ico", "bmp.ico"}) {
    TMemoryStream stream{ReadWholeFile(dir.File(name))};
    TBitmap bitmap;
    TIOParams params;
    params.IcoBackground = background;
    bool aborting = false;
    IcoReadStream(stream, bitmap, params, TProgressContext{{}, nullptr, &aborting}, false);
    EXPECT_FALSE(aborting) << name;
    EXPECT_EQ(RawFromBitmap(bitmap), Flattened(image, background)) << name;
  }
  // 256 x 256: the directory stores 0 for the size.
  TMemoryStream stream{ReadWholeFile(dir.File("big.ico"))};
  TBitmap bitmap;
  TIOParams params;
  bool aborting = false;
  IcoReadStream(stream, bitmap, params, TProgressContext{{}, nullptr, &aborting}, false);
  EXPECT_FALSE(aborting);
  EXPECT_EQ(bitmap.Width(), 256);
  EXPECT_EQ(bitmap.Height(), 256);
}

TEST(BmpInterop, AnAlphaBitmapLooksLikeTheSamePictureAsPng) {
  TTempDir dir;
  ASSERT_TRUE(RunPythonTool("bmp_alpha_tool.py", {dir.File("")}));
  const TRGB background = Rgb(200, 10, 90);
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};

  TMemoryStream png{ReadWholeFile(dir.File("rgba.png"))};
  TBitmap fromPng;
  TIOParams pngParams;
  pngParams.PngBackground = background;
  PngReadStream(png, fromPng, pngParams, false, progress);
  ASSERT_FALSE(aborting);

  TMemoryStream bmp{ReadWholeFile(dir.File("v5.bmp"))};
  TBitmap fromBmp;
  TIOParams bmpParams;
  bmpParams.PngBackground = background;
  BmpReadStream(bmp, fromBmp, bmpParams, false, progress, bmp.Size());
  ASSERT_FALSE(aborting);

  EXPECT_EQ(RawFromBitmap(fromBmp), RawFromBitmap(fromPng));
  EXPECT_EQ(RawFromBitmap(fromBmp), Flattened(ReadRgba(dir.File("rgba.raw")), background));
}

}  // namespace
