#include "io/BmpCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/Colour.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"
#include "io/JpegCodec.h"
#include "io/PngCodec.h"
#include "support/HeadlessView.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr TRGB kWhite = Rgb(255, 255, 255);
constexpr TRGB kBlack = Rgb(0, 0, 0);

void Put16(Bytes& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
std::uint32_t Get32(const Bytes& bytes, std::size_t at) {
  return GetLE32(bytes.data() + at);
}
std::uint16_t Get16(const Bytes& bytes, std::size_t at) {
  return GetLE16(bytes.data() + at);
}

// What a hand-made BMP file holds; the builder computes the sizes and the pixel-data offset.
struct BmpLayout {
  std::uint32_t headerSize = 40;
  std::int32_t width = 1;
  std::int32_t height = 1;
  int bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t coloursUsed = 0;
  std::int32_t ppmX = 0;
  std::int32_t ppmY = 0;
  std::vector<TRGB> palette;
  Bytes pixels;
};

Bytes BuildBmp(const BmpLayout& layout) {
  Bytes out{'B', 'M'};
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  if (layout.headerSize == 12) {
    Put32(out, 12);
    Put16(out, static_cast<unsigned>(layout.width));
    Put16(out, static_cast<unsigned>(layout.height));
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(layout.bits));
  } else {
    const std::size_t headerStart = out.size();
    Put32(out, layout.headerSize);
    Put32(out, static_cast<std::uint32_t>(layout.width));
    Put32(out, static_cast<std::uint32_t>(layout.height));
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(layout.bits));
    Put32(out, layout.compression);
    Put32(out, static_cast<std::uint32_t>(layout.pixels.size()));
    Put32(out, static_cast<std::uint32_t>(layout.ppmX));
    Put32(out, static_cast<std::uint32_t>(layout.ppmY));
    Put32(out, layout.coloursUsed);
    Put32(out, 0);
    out.resize(headerStart + layout.headerSize, 0);
  }
  for (const TRGB& colour : layout.palette) {
    out.insert(out.end(), {colour.b, colour.g, colour.r});
    if (layout.headerSize != 12) out.push_back(0);
  }
  const std::size_t offset = out.size();
  out.insert(out.end(), layout.pixels.begin(), layout.pixels.end());
  PutLE32(out.data() + 2, static_cast<std::uint32_t>(out.size()));
  PutLE32(out.data() + 10, static_cast<std::uint32_t>(offset));
  return out;
}

// Runs a reader on `bytes`; returns whether it set Aborting.
template <typename Reader>
bool RunReader(const Bytes& bytes, Reader reader, std::string* damage = nullptr) {
  bool aborting = false;
  TMemoryStream stream{Bytes(bytes)};
  reader(stream, TProgressContext{{}, nullptr, &aborting, damage});
  return aborting;
}

bool ReadBmp(const Bytes& bytes, TBitmap& bitmap, TIOParams& params, std::int64_t byteCount = 0,
             bool paramsOnly = false) {
  return RunReader(bytes, [&](TStream& stream, const TProgressContext& progress) {
    BmpReadStream(stream, bitmap, params, paramsOnly, progress, byteCount == 0 ? stream.Size() : byteCount);
  });
}

// How a load ended: Aborting, and the damage a reader that kept a partial picture described.
struct Outcome {
  bool aborted = false;
  std::string damage;
};

Outcome LoadBmp(const Bytes& bytes, TBitmap& bitmap, TIOParams& params) {
  Outcome outcome;
  outcome.aborted = RunReader(
      bytes,
      [&](TStream& stream, const TProgressContext& progress) {
        BmpReadStream(stream, bitmap, params, false, progress, stream.Size());
      },
      &outcome.damage);
  return outcome;
}

Bytes WriteBmp(TBitmap& bitmap, TIOParams& params, bool* aborted = nullptr) {
  bool aborting = false;
  TMemoryStream stream;
  BmpWriteStream(stream, bitmap, params, TProgressContext{{}, nullptr, &aborting});
  if (aborted != nullptr) *aborted = aborting;
  return stream.Data();
}

std::uint8_t IndexOf(const TIOParams& params, TRGB colour) {
  const auto found = std::find(params.ColorMap.begin(), params.ColorMap.end(), colour);
  EXPECT_NE(found, params.ColorMap.end()) << "the palette lacks a colour of the image";
  return static_cast<std::uint8_t>(found - params.ColorMap.begin());
}

Bytes PixelData(const Bytes& file) {
  return Bytes(file.begin() + Get32(file, 10), file.end());
}

// A marker image that a reader must not have replaced.
void MakeMarker(TBitmap& bitmap) {
  bitmap.Allocate(3, 3, pf24bit);
  SetPixel(bitmap, 1, 1, Rgb(9, 9, 9));
}
bool IsMarker(const TBitmap& bitmap) {
  return bitmap.Width() == 3 && bitmap.Height() == 3 && PixelAt(bitmap, 1, 1) == Rgb(9, 9, 9);
}

const TRGB kA = Rgb(8, 16, 24), kB = Rgb(200, 0, 40), kC = Rgb(0, 248, 8), kD = Rgb(96, 96, 96),
           kE = Rgb(248, 248, 0), kF = Rgb(40, 80, 160), kG = Rgb(16, 200, 120);

// ---------------------------------------------------------------- writing

TEST(BmpWrite, DefaultParametersWriteTheHeaderThenTheRowsUnchanged) {
  TBitmap image(5, 3, pf24bit);  // 15 bytes of pixels and 1 of padding per row
  FillRandom(image, 7);
  const Bytes before(image.Bits(), image.Bits() + image.ImageBytes());
  TIOParams params;
  params.DpiX = 96;
  params.DpiY = 300;
  const Bytes file = WriteBmp(image, params);

  ASSERT_EQ(file.size(), 54 + image.ImageBytes());
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Get32(file, 2), file.size());
  EXPECT_EQ(Get32(file, 10), 54u);
  EXPECT_EQ(Get32(file, 14), 40u);
  EXPECT_EQ(Get32(file, 18), 5u);
  EXPECT_EQ(Get32(file, 22), 3u);
  EXPECT_EQ(Get16(file, 26), 1);
  EXPECT_EQ(Get16(file, 28), 24);
  EXPECT_EQ(Get32(file, 30), 0u);
  EXPECT_EQ(Get32(file, 34), image.ImageBytes());
  EXPECT_EQ(Get32(file, 38), 3780u);   // round(96 / 2.54 x 100)
  EXPECT_EQ(Get32(file, 42), 11811u);  // round(300 / 2.54 x 100)
  EXPECT_EQ(Get32(file, 46), 0u);
  EXPECT_EQ(Get32(file, 50), 1u << 24);
  EXPECT_EQ(PixelData(file), before);

  TBitmap back;
  TIOParams readParams;
  EXPECT_FALSE(ReadBmp(file, back, readParams));
  EXPECT_EQ(PixelBytesTopDown(back), PixelBytesTopDown(image));
  EXPECT_EQ(readParams.DpiX, 96);
  EXPECT_EQ(readParams.DpiY, 300);
  EXPECT_EQ(readParams.BmpVersion, 1);
}

TEST(BmpWrite, HiddenTextSurvivesADefaultSaveAndReload) {
  HeadlessView view;
  view.Bitmap()->Allocate(61, 37, pf24bit);
  FillRandom(*view.Bitmap(), 3);
  TImageProc proc;
  proc.SetAttachedView(&view);
  std::string secret;
  for (int i = 0; i < 200; ++i) secret += static_cast<char>(1 + (i * 37) % 255);
  ASSERT_EQ(proc.WriteHiddenText(secret), 200);

  TIOParams params;
  const Bytes file = WriteBmp(*view.Bitmap(), params);

  HeadlessView loaded;
  TIOParams readParams;
  ASSERT_FALSE(ReadBmp(file, *loaded.Bitmap(), readParams));
  TImageProc reader;
  reader.SetAttachedView(&loaded);
  std::string text;
  EXPECT_EQ(reader.ReadHiddenText(text), 200);
  EXPECT_EQ(text, secret);
}

TEST(BmpWrite, Rle8SplitsLongRunsAndLongLiteralCollections) {
  TBitmap image;
  std::vector<TRGB> pixels(300, kC);                                // bottom row: 300 equal pixels
  for (int x = 0; x < 300; ++x) pixels.push_back(x % 2 ? kA : kB);  // top row: no two neighbours equal
  std::rotate(pixels.begin(), pixels.begin() + 300, pixels.end());
  Paint(image, 300, pixels);
  TIOParams params;
  params.SamplesPerPixel = 1;
  params.BmpCompression = 1;
  const Bytes file = WriteBmp(image, params);

  EXPECT_EQ(Get32(file, 30), 1u);  // RLE8
  EXPECT_EQ(Get32(file, 46), 256u);
  EXPECT_EQ(Get32(file, 10), 54u + 256 * 4);
  EXPECT_EQ(params.ColorMapCount, 256);
  const std::uint8_t a = IndexOf(params, kA), b = IndexOf(params, kB), c = IndexOf(params, kC);
  Bytes expected{255, c, 45, c, 0, 0, 0, 255};
  for (int x = 0; x < 255; ++x) expected.push_back(x % 2 ? a : b);
  expected.push_back(0);  // 255 index bytes padded to an even count
  expected.insert(expected.end(), {0, 45});
  for (int x = 255; x < 300; ++x) expected.push_back(x % 2 ? a : b);
  expected.push_back(0);
  expected.insert(expected.end(), {0, 0, 0, 1});
  EXPECT_EQ(PixelData(file), expected);
  EXPECT_EQ(Get32(file, 2), file.size());
  EXPECT_EQ(Get32(file, 34), expected.size());

  TBitmap back;
  TIOParams readParams;
  EXPECT_FALSE(ReadBmp(file, back, readParams));
  EXPECT_EQ(PixelBytesTopDown(back), PixelBytesTopDown(image));
  EXPECT_EQ(readParams.BmpCompression, 1);
}

TEST(BmpWrite, Rle8ShortLiteralsUseEncodedPairs) {
  TBitmap image;
  Paint(image, 5,
        {kC, kC, kC, kC, kA,  //
         kA, kB, kC, kC, kC,  //
         kA, kB, kC, kD, kE});
  TIOParams params;
  params.SamplesPerPixel = 1;
  params.BmpCompression = 1;
  const Bytes file = WriteBmp(image, params);
  const std::uint8_t a = IndexOf(params, kA), b = IndexOf(params, kB), c = IndexOf(params, kC),
                     d = IndexOf(params, kD), e = IndexOf(params, kE);
  const Bytes expected{0, 5, a, b, c, d, e, 0, 0, 0,  // bottom row: 5 literals, padded
                       1, a, 1, b, 3, c, 0, 0,        // two literals as two pairs, then a run
                       4, c, 1, a, 0, 0,              // a run, then one literal
                       0, 1};
  EXPECT_EQ(PixelData(file), expected);
}

TEST(BmpWrite, Rle4PacksNibblesHighFirst) {
  TBitmap image;
  Paint(image, 7,
        {kA, kB, kC, kD, kE, kF, kF,  //
         kA, kB, kG, kG, kG, kG, kG});
  TIOParams params;
  params.BitsPerSample = 4;
  params.SamplesPerPixel = 1;
  params.BmpCompression = 1;
  const Bytes file = WriteBmp(image, params);
  EXPECT_EQ(Get16(file, 28), 4);
  EXPECT_EQ(Get32(file, 30), 2u);  // RLE4
  EXPECT_EQ(Get32(file, 46), 16u);
  EXPECT_EQ(Get32(file, 10), 54u + 16 * 4);
  const auto nib = [&](TRGB colour) { return IndexOf(params, colour); };
  const auto pack = [](int high, int low) { return static_cast<std::uint8_t>(high << 4 | low); };
  const Bytes expected{2,
                       pack(nib(kA), nib(kB)),
                       5,
                       pack(nib(kG), nib(kG)),
                       0,
                       0,
                       0,
                       5,
                       pack(nib(kA), nib(kB)),
                       pack(nib(kC), nib(kD)),
                       pack(nib(kE), 0),
                       0,
                       2,
                       pack(nib(kF), nib(kF)),
                       0,
                       0,
                       0,
                       1};
  EXPECT_EQ(PixelData(file), expected);

  TBitmap back;
  TIOParams readParams;
  EXPECT_FALSE(ReadBmp(file, back, readParams));
  EXPECT_EQ(PixelBytesTopDown(back), PixelBytesTopDown(image));
}

TEST(BmpWrite, UncompressedPaletteRowsArePaddedAndPacked) {
  TBitmap image;
  Paint(image, 3, {kA, kB, kC, kC, kB, kA});
  for (const int bits : {4, 8}) {
    TIOParams params;
    params.BitsPerSample = bits;
    params.SamplesPerPixel = 1;
    const Bytes file = WriteBmp(image, params);
    const std::uint8_t a = IndexOf(params, kA), b = IndexOf(params, kB), c = IndexOf(params, kC);
    const Bytes expected =
        bits == 8 ? Bytes{c, b, a, 0, a, b, c, 0}
                  : Bytes{static_cast<std::uint8_t>(c << 4 | b), static_cast<std::uint8_t>(a << 4), 0, 0,
                          static_cast<std::uint8_t>(a << 4 | b), static_cast<std::uint8_t>(c << 4), 0, 0};
    EXPECT_EQ(PixelData(file), expected) << bits << " bits";
    EXPECT_EQ(Get32(file, 30), 0u);
    TBitmap back;
    TIOParams readParams;
    EXPECT_FALSE(ReadBmp(file, back, readParams));
    EXPECT_EQ(PixelBytesTopDown(back), PixelBytesTopDown(image)) << bits << " bits";
    EXPECT_EQ(readParams.BitsPerSample, bits);
    EXPECT_EQ(readParams.SamplesPerPixel, 1);
  }
}

TEST(BmpWrite, Os2VersionOneHasAShortHeaderThreeBytePaletteAndNoCompression) {
  TBitmap image;
  Paint(image, 3, {kA, kB, kC, kC, kB, kA});
  TIOParams params;
  params.SamplesPerPixel = 1;
  params.BmpVersion = 2;
  params.BmpCompression = 1;
  const Bytes file = WriteBmp(image, params);
  EXPECT_EQ(Get32(file, 14), 12u);
  EXPECT_EQ(Get16(file, 18), 3);
  EXPECT_EQ(Get16(file, 20), 2);
  EXPECT_EQ(Get16(file, 22), 1);
  EXPECT_EQ(Get16(file, 24), 8);
  EXPECT_EQ(Get32(file, 10), 26u + 256 * 3);
  EXPECT_EQ(file.size(), 26u + 256 * 3 + 8);  // two rows of 4 bytes: no run-length coding
  EXPECT_EQ(Get32(file, 2), file.size());
  const std::uint8_t b = IndexOf(params, kB);
  EXPECT_EQ(file[26 + 3 * b], kB.b);
  EXPECT_EQ(file[26 + 3 * b + 2], kB.r);

  TBitmap back;
  TIOParams readParams;
  EXPECT_FALSE(ReadBmp(file, back, readParams));
  EXPECT_EQ(readParams.BmpVersion, 2);
  EXPECT_EQ(readParams.BmpCompression, 0);
  EXPECT_EQ(PixelBytesTopDown(back), PixelBytesTopDown(image));
}

TEST(BmpWrite, Os2VersionTwoWritesA64ByteHeader) {
  TBitmap image(2, 2, pf24bit);
  FillRandom(image, 5);
  TIOParams params;
  params.BmpVersion = 3;
  const Bytes file = WriteBmp(image, params);
  EXPECT_EQ(Get32(file, 14), 64u);
  EXPECT_EQ(Get32(file, 10), 78u);
  EXPECT_EQ(Get16(file, 28), 24);
  EXPECT_TRUE(std::all_of(file.begin() + 54, file.begin() + 78, [](std::uint8_t v) { return v == 0; }));
  TBitmap back;
  TIOParams readParams;
  EXPECT_FALSE(ReadBmp(file, back, readParams));
  EXPECT_EQ(readParams.BmpVersion, 3);
  EXPECT_EQ(PixelBytesTopDown(back), PixelBytesTopDown(image));
}

TEST(BmpWrite, OneBitOfTwoColoursPutsTheDarkerFirst) {
  TBitmap image;
  const TRGB light = Rgb(200, 190, 180), dark = Rgb(10, 20, 30);
  Paint(image, 3, {light, dark, dark, dark, light, light});
  const Bytes before(image.Bits(), image.Bits() + image.ImageBytes());
  TIOParams params;
  params.BitsPerSample = 1;
  const Bytes file = WriteBmp(image, params);
  EXPECT_EQ(Bytes(image.Bits(), image.Bits() + image.ImageBytes()), before);  // the caller's image is kept
  EXPECT_EQ(Get16(file, 28), 1);
  EXPECT_EQ(Get32(file, 10), 54u + 8);
  ASSERT_EQ(params.ColorMap.size(), 2u);
  EXPECT_EQ(params.ColorMap[0], dark);
  EXPECT_EQ(params.ColorMap[1], light);
  EXPECT_EQ(PixelData(file), (Bytes{0b01100000, 0, 0, 0, 0b10000000, 0, 0, 0}));

  TBitmap back;
  TIOParams readParams;
  EXPECT_FALSE(ReadBmp(file, back, readParams));
  // Read back with its own colours, not as black and white.
  ASSERT_EQ(back.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(back, 0, 0), light);
  EXPECT_EQ(PixelAt(back, 1, 0), dark);
  EXPECT_EQ(PixelAt(back, 2, 1), light);
}

TEST(BmpWrite, OneBitBitmapIsWrittenAsItIsAndManyColoursAreDithered) {
  TBitmap mono(10, 2, pf1bit);
  mono.ScanLine(0)[0] = 0xA5;
  mono.ScanLine(1)[1] = 0xC0;
  TIOParams params;
  params.BitsPerSample = 1;
  Bytes file = WriteBmp(mono, params);
  EXPECT_EQ(PixelData(file), Bytes(mono.Bits(), mono.Bits() + mono.ImageBytes()));
  EXPECT_EQ(params.ColorMap, (std::vector<TRGB>{kBlack, kWhite}));

  TBitmap colour;
  Paint(colour, 4, {kBlack, kBlack, kA, kB, kC, kD, kBlack, kBlack});
  const Bytes before(colour.Bits(), colour.Bits() + colour.ImageBytes());
  file = WriteBmp(colour, params);
  EXPECT_EQ(Bytes(colour.Bits(), colour.Bits() + colour.ImageBytes()), before);
  EXPECT_EQ(params.ColorMap, (std::vector<TRGB>{kBlack, kWhite}));
  TBitmap back;
  TIOParams readParams;
  EXPECT_FALSE(ReadBmp(file, back, readParams));
  ASSERT_EQ(back.PixelFormat(), pf1bit);
  EXPECT_FALSE(BitAt(back, 0, 0));
  EXPECT_FALSE(BitAt(back, 3, 1));
}

TEST(BmpWrite, AbortingStopsAndLeavesThePlaceholderHeaders) {
  TBitmap image;
  Paint(image, 2, {kA, kB, kB, kA, kA, kA});
  TIOParams params;
  params.SamplesPerPixel = 1;
  bool aborting = false;
  TObject sender;
  int reports = 0;
  TMemoryStream stream;
  BmpWriteStream(stream, image, params,
                 TProgressContext{[&](TObject&, int) { aborting = ++reports == 2; }, &sender, &aborting});
  EXPECT_TRUE(aborting);
  EXPECT_EQ(Get32(stream.Data(), 2), 0u);   // no file size
  EXPECT_EQ(Get32(stream.Data(), 10), 0u);  // no pixel offset
  EXPECT_EQ(stream.Size(), 54 + 1024 + 4);  // one row was written
}

// ---------------------------------------------------------------- reading

TEST(BmpRead, OneBitWithWhiteFirstPaletteIsInverted) {
  for (const bool whiteFirst : {true, false}) {
    BmpLayout layout;
    layout.width = 10;
    layout.height = 2;
    layout.bits = 1;
    layout.palette = whiteFirst ? std::vector<TRGB>{kWhite, kBlack} : std::vector<TRGB>{kBlack, kWhite};
    layout.pixels = {0b10110000, 0b01111111, 0xFF, 0xFF,   // bottom row; padding bits set in the file
                     0b00000001, 0b10000000, 0xFF, 0xFF};  // top row
    TBitmap bitmap;
    TIOParams params;
    ASSERT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params));
    ASSERT_EQ(bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(params.BitsPerSample, 1);
    EXPECT_EQ(params.SamplesPerPixel, 1);
    const std::uint8_t flip = whiteFirst ? 0xFF : 0;
    EXPECT_EQ(bitmap.ScanLine(1)[0], 0b10110000 ^ flip);
    EXPECT_EQ(bitmap.ScanLine(1)[1], (0b01111111 ^ flip) & 0xC0);  // only 10 pixels are kept
    EXPECT_EQ(bitmap.ScanLine(0)[0], 0b00000001 ^ flip);
    EXPECT_EQ(bitmap.ScanLine(0)[2], 0);
  }
}

// Rows the file does not hold stay black, also under an inverting palette: a tiny file that
// declares a huge picture must cost work for the rows it holds, not for the rows it declares.
TEST(BmpRead, RowsMissingFromAShortFileStayBlack) {
  for (const bool fromAReusedBitmap : {false, true}) {
    BmpLayout layout;
    layout.width = 16;
    layout.height = 3;
    layout.bits = 1;
    layout.palette = {kWhite, kBlack};
    layout.pixels = {0x0F, 0xF0, 0x00, 0x00};  // the bottom row only
    TBitmap bitmap;
    if (fromAReusedBitmap) {
      bitmap.Allocate(16, 3, pf1bit);
      bitmap.Fill(clWhite);
    }
    TIOParams params;
    ReadBmp(BuildBmp(layout), bitmap, params);
    ASSERT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.ScanLine(2)[0], 0xF0);
    EXPECT_EQ(bitmap.ScanLine(2)[1], 0x0F);
    for (int y = 0; y < 2; ++y) {
      EXPECT_EQ(bitmap.ScanLine(y)[0], 0) << y;
      EXPECT_EQ(bitmap.ScanLine(y)[1], 0) << y;
    }
  }
}

TEST(BmpRead, SixteenBitPixelsAreFiveFiveFiveWidenedToFullRange) {
  BmpLayout layout;
  layout.width = 4;
  layout.bits = 16;
  for (const unsigned v : {0x7C00u, 0x03E0u, 0x001Fu, 0xC210u}) Put16(layout.pixels, v);
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params));
  EXPECT_EQ(PixelAt(bitmap, 0, 0), Rgb(255, 0, 0));
  EXPECT_EQ(PixelAt(bitmap, 1, 0), Rgb(0, 255, 0));
  EXPECT_EQ(PixelAt(bitmap, 2, 0), Rgb(0, 0, 255));
  EXPECT_EQ(PixelAt(bitmap, 3, 0), Rgb(132, 132, 132));  // 16 of 31 in each; the top bit is not a colour
  EXPECT_EQ(params.BitsPerSample, 5);
  EXPECT_EQ(params.SamplesPerPixel, 3);
}

TEST(BmpRead, PaletteDepthsAndHeaderVersions) {
  struct Case {
    std::uint32_t headerSize;
    int bits;
    std::uint8_t version;
  };
  for (const Case& c : {Case{12, 8, 2}, Case{40, 4, 1}, Case{64, 8, 3}, Case{108, 4, 0}, Case{124, 8, 0}}) {
    BmpLayout layout;
    layout.headerSize = c.headerSize;
    layout.width = 3;
    layout.height = 2;
    layout.bits = c.bits;
    layout.palette.assign(std::size_t{1} << c.bits, kBlack);
    layout.palette[1] = kA;
    layout.palette[2] = kB;
    layout.palette[5] = kC;
    layout.pixels = c.bits == 8 ? Bytes{5, 1, 2, 0, 2, 2, 1, 0} : Bytes{0x51, 0x2F, 0, 0, 0x22, 0x1F, 0, 0};
    TBitmap bitmap;
    TIOParams params;
    ASSERT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params)) << c.headerSize;
    EXPECT_EQ(params.BmpVersion, c.version);
    EXPECT_EQ(params.ColorMapCount, 1 << c.bits);
    EXPECT_EQ(params.BitsPerSample, c.bits);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(PixelAt(bitmap, 0, 1), kC) << c.headerSize;
    EXPECT_EQ(PixelAt(bitmap, 1, 1), kA);
    EXPECT_EQ(PixelAt(bitmap, 2, 1), kB);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), kB);
    EXPECT_EQ(PixelAt(bitmap, 1, 0), kB);
    EXPECT_EQ(PixelAt(bitmap, 2, 0), kA);
  }
}

TEST(BmpRead, NegativeHeightMeansRowsFromTheTop) {
  BmpLayout layout;
  layout.width = 1;
  layout.height = -2;
  layout.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params));
  EXPECT_EQ(params.Height, 2);
  EXPECT_EQ(PixelAt(bitmap, 0, 0), Rgb(3, 2, 1));
  EXPECT_EQ(PixelAt(bitmap, 0, 1), Rgb(6, 5, 4));
}

TEST(BmpRead, ResolutionComesFromPixelsPerMetreOrTheDefault) {
  BmpLayout layout;
  layout.pixels = {0, 0, 0, 0};
  layout.ppmX = 2835;  // 72 dpi
  layout.ppmY = 0;
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params));
  EXPECT_EQ(params.DpiX, 72);
  EXPECT_EQ(params.DpiY, DefaultResolution().dpiY);
}

TEST(BmpRead, ParamsOnlyLeavesTheBitmapAlone) {
  BmpLayout layout;
  layout.width = 7;
  layout.height = 5;
  layout.bits = 8;
  layout.palette.assign(256, kA);
  layout.pixels.assign(8 * 5, 0);
  TBitmap bitmap;
  MakeMarker(bitmap);
  TIOParams params;
  ASSERT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params, 0, true));
  EXPECT_TRUE(IsMarker(bitmap));
  EXPECT_EQ(params.Width, 7);
  EXPECT_EQ(params.Height, 5);
  EXPECT_EQ(params.BitsPerSample, 8);
  EXPECT_EQ(params.SamplesPerPixel, 1);
  EXPECT_EQ(params.ColorMapCount, 256);
}

// An 8-bit RLE file of `width` x `height` whose palette maps index i to grey i.
Bytes RleFile(int width, int height, bool rle4, const Bytes& data) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  layout.bits = rle4 ? 4 : 8;
  layout.compression = rle4 ? 2 : 1;
  for (int i = 0; i < (rle4 ? 16 : 256); ++i) layout.palette.push_back(Rgb(i, i, i));
  layout.pixels = data;
  return BuildBmp(layout);
}
TRGB Grey(int i) {
  return Rgb(i, i, i);
}

TEST(BmpRead, RleDeltaMovesRightAndUpFromTheCursor) {
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(
      ReadBmp(RleFile(6, 3, false, {2, 7, 0, 2, 1, 1, 1, 9, 0, 0, 0, 3, 4, 5, 6, 0, 0, 1}), bitmap, params));
  EXPECT_EQ(PixelAt(bitmap, 0, 2), Grey(7));
  EXPECT_EQ(PixelAt(bitmap, 1, 2), Grey(7));
  EXPECT_EQ(PixelAt(bitmap, 3, 1), Grey(9));  // two pixels in, one right, one row up
  EXPECT_EQ(PixelAt(bitmap, 0, 0), Grey(4));
  EXPECT_EQ(PixelAt(bitmap, 2, 0), Grey(6));
  EXPECT_EQ(PixelsOtherThan(bitmap, kBlack), 6);
}

TEST(BmpRead, Rle4RunsAlternateNibbles) {
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(ReadBmp(RleFile(7, 1, true, {3, 0x12, 0, 3, 0x34, 0x50, 1, 0x60, 0, 1}), bitmap, params));
  const int expected[] = {1, 2, 1, 3, 4, 5, 6};
  for (int x = 0; x < 7; ++x) EXPECT_EQ(PixelAt(bitmap, x, 0), Grey(expected[x])) << x;
}

// ---------------------------------------------------------------- hostile input

TEST(BmpHostile, WrongSignatureOrCutHeaderAborts) {
  TBitmap image(4, 4, pf24bit);
  TIOParams params;
  const Bytes good = WriteBmp(image, params);
  Bytes wrong = good;
  wrong[1] = 'X';
  TBitmap bitmap;
  MakeMarker(bitmap);
  EXPECT_TRUE(ReadBmp(wrong, bitmap, params));
  for (const std::size_t cut : {0, 10, 14, 16, 30, 53}) {
    EXPECT_TRUE(ReadBmp(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)), bitmap, params))
        << cut;
  }
  EXPECT_TRUE(IsMarker(bitmap));
}

TEST(BmpHostile, TruncatedPixelsKeepTheRowsReadAndReportTheDamage) {
  TBitmap image(4, 4, pf24bit);
  FillRandom(image, 11);
  TIOParams params;
  const Bytes good = WriteBmp(image, params);
  for (const bool topDown : {false, true}) {
    Bytes cut(good.begin(), good.begin() + 54 + 12 * 2 + 5);  // two rows and five bytes
    if (topDown) PutLE32(cut.data() + 22, static_cast<std::uint32_t>(-4));
    TBitmap bitmap(4, 4, pf24bit);  // same size: its block is reused, and its old pixels must go
    FillRandom(bitmap, 99);
    const Outcome outcome = LoadBmp(cut, bitmap, params);
    EXPECT_TRUE(outcome.aborted);
    EXPECT_EQ(outcome.damage, "the pixel data ends after row 2 of 4");
    ASSERT_EQ(bitmap.Height(), 4);
    const int firstRow = topDown ? 0 : 3, step = topDown ? 1 : -1;
    for (int k = 0; k < 2; ++k) {
      EXPECT_TRUE(std::equal(bitmap.ScanLine(firstRow + step * k), bitmap.ScanLine(firstRow + step * k) + 12,
                             image.ScanLine(3 - k)));
    }
    EXPECT_LE(PixelsOtherThan(bitmap, kBlack), 8 + 2);
  }
  // Palette pixels: a short row keeps only its whole pixels.
  BmpLayout layout;
  layout.width = 3;
  layout.height = 2;
  layout.bits = 8;
  layout.palette = {kA, kB};
  layout.pixels = {1, 1};
  TBitmap bitmap;
  EXPECT_EQ(LoadBmp(BuildBmp(layout), bitmap, params).damage, "the pixel data ends inside row 1 of 2");
  EXPECT_EQ(PixelAt(bitmap, 1, 1), kB);
  EXPECT_EQ(PixelAt(bitmap, 2, 1), kBlack);

  // No pixel data at all: refused, with nothing to show.
  layout.pixels.clear();
  MakeMarker(bitmap);
  const Outcome empty = LoadBmp(BuildBmp(layout), bitmap, params);
  EXPECT_TRUE(empty.aborted);
  EXPECT_EQ(empty.damage, "");
  EXPECT_TRUE(IsMarker(bitmap));
}

TEST(BmpHostile, SizesBeyondTheLimitAbortBeforeAllocating) {
  struct Case {
    std::int32_t width, height;
    int bits;
  };
  for (const Case& c : {Case{65536, 1, 24}, Case{1, 65536, 8}, Case{60000, 60000, 24}, Case{-5, 5, 24},
                        Case{5, INT32_MIN, 24}, Case{0, 5, 1}, Case{5, 0, 4}, Case{65535, 65535, 32}}) {
    BmpLayout layout;
    layout.width = c.width;
    layout.height = c.height;
    layout.bits = c.bits;
    layout.pixels = {1, 2, 3, 4};
    TBitmap bitmap;
    MakeMarker(bitmap);
    TIOParams params;
    EXPECT_TRUE(ReadBmp(BuildBmp(layout), bitmap, params)) << c.width << " x " << c.height;
    EXPECT_TRUE(IsMarker(bitmap));
  }
}

TEST(BmpHostile, OffsetsAndPalettesPastTheEndAreRefusedOrBounded) {
  BmpLayout layout;
  layout.width = 4;
  layout.height = 3;
  layout.bits = 8;
  layout.palette = {kA, kB};
  layout.pixels.assign(12, 1);
  Bytes file = BuildBmp(layout);
  PutLE32(file.data() + 10, 0x7FFFFFF0);
  TBitmap bitmap;
  MakeMarker(bitmap);
  TIOParams params;
  EXPECT_EQ(LoadBmp(file, bitmap, params).aborted, true);  // no pixel data there
  EXPECT_TRUE(IsMarker(bitmap));

  // Four billion colours claimed: the palette takes at most the 256 entries an 8-bit index can
  // reach, and no more than the file holds (here its 2 entries and the 12 pixel bytes).
  file = BuildBmp(layout);
  PutLE32(file.data() + 46, 0xFFFFFFFF);
  EXPECT_FALSE(ReadBmp(file, bitmap, params));
  EXPECT_EQ(params.ColorMapCount, 5);
  EXPECT_EQ(PixelAt(bitmap, 0, 0), kB);
  PutLE32(file.data() + 10, 0);  // the pixels then start after the claimed palette: none left
  MakeMarker(bitmap);
  EXPECT_TRUE(ReadBmp(file, bitmap, params));
  EXPECT_TRUE(IsMarker(bitmap));

  // A header that claims to be four gigabytes long is cut short by the end of the file.
  file = BuildBmp(layout);
  PutLE32(file.data() + 14, 0xFFFFFFF0);
  EXPECT_TRUE(ReadBmp(file, bitmap, params));

  // An index beyond the palette reads as black.
  layout.pixels.assign(12, 200);
  EXPECT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params));
  EXPECT_EQ(PixelsOtherThan(bitmap, kBlack), 0);
}

TEST(BmpHostile, RleStreamsThatRunOffTheImageStayInside) {
  struct Case {
    const char* what;
    Bytes data;
    int painted;         // pixels that end up other than black
    const char* damage;  // the data ends before the picture does
  };
  const Case cases[] = {
      {"run past the row end is clipped", {200, 5, 0, 0, 1, 6, 0, 1}, 4 + 1, ""},
      {"absolute run past the row end",
       {0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 2, 7},
       4 + 2,
       "the run-length data ends in row 2 of 3"},
      {"delta above the top ends decoding", {1, 5, 0, 2, 0, 9, 1, 5}, 1, ""},
      {"delta right of the row ends decoding", {1, 5, 0, 2, 200, 0, 1, 5}, 1, ""},
      {"end of line past the last row", {1, 5, 0, 0, 0, 0, 0, 0, 0, 0, 3, 5}, 1, ""},
      {"absolute run longer than the data", {0, 250, 1, 2, 3}, 3, "the run-length data ends in row 1 of 3"},
      {"delta cut short", {1, 5, 0, 2, 1}, 1, "the run-length data ends in row 1 of 3"},
      {"odd trailing byte", {2, 5, 3}, 2, "the run-length data ends in row 1 of 3"},
      {"last row without an end marker", {1, 5, 0, 0, 1, 5, 0, 0, 3, 5}, 1 + 1 + 3, ""},
  };
  for (const bool rle4 : {false, true}) {
    for (const Case& c : cases) {
      TBitmap bitmap;
      TIOParams params;
      const Outcome outcome = LoadBmp(RleFile(4, 3, rle4, c.data), bitmap, params);
      if (!rle4) {
        EXPECT_EQ(outcome.damage, c.damage) << c.what;
        EXPECT_EQ(outcome.aborted, *c.damage != 0) << c.what;
        EXPECT_EQ(PixelsOtherThan(bitmap, kBlack), c.painted) << c.what;
      }
    }
  }
  // Data that paints nothing before it ends is no picture at all.
  TBitmap nothing;
  TIOParams nothingParams;
  const Outcome none = LoadBmp(RleFile(4, 3, false, {0, 0, 7}), nothing, nothingParams);
  EXPECT_TRUE(none.aborted);
  EXPECT_EQ(none.damage, "");
  // A byte count far beyond the stream costs nothing.
  TBitmap bitmap;
  TIOParams params;
  EXPECT_FALSE(ReadBmp(RleFile(4, 3, false, {4, 5, 0, 1}), bitmap, params, std::int64_t{1} << 40));
  EXPECT_EQ(PixelsOtherThan(bitmap, kBlack), 4);
}

TEST(BmpHostile, RandomDamageNeverEscapesTheBuffers) {
  std::vector<Bytes> seeds;
  TBitmap image;
  Paint(image, 5, {kA, kB, kC, kC, kC, kD, kE, kE, kA, kA});
  for (const int bits : {1, 4, 8, 24}) {
    for (const std::uint8_t compression : {0, 1}) {
      TIOParams params;
      params.BitsPerSample = bits == 24 ? 8 : bits;
      params.SamplesPerPixel = bits == 24 ? 3 : 1;
      params.BmpCompression = compression;
      seeds.push_back(WriteBmp(image, params));
    }
  }
  std::mt19937 random(42);
  for (int round = 0; round < 400; ++round) {
    Bytes file = seeds[round % seeds.size()];
    const int damage = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < damage; ++i) file[random() % file.size()] = static_cast<std::uint8_t>(random());
    if (random() % 4 == 0) file.resize(random() % file.size());
    TBitmap bitmap;
    TIOParams params;
    ReadBmp(file, bitmap, params);
    EXPECT_LE(bitmap.ImageBytes(), static_cast<std::size_t>(kMaxPixelBytes));
    RunReader(file, [&](TStream& stream, const TProgressContext& progress) {
      BmpReadStream(stream, bitmap, params, false, progress, 0);
    });
  }
}

// ---------------------------------------------------------------- icons and cursors

struct IconImage {
  std::uint8_t entryWidth = 0, entryHeight = 0, entryColours = 0;
  std::uint16_t word4 = 0, word6 = 0;  // planes and bits for icons, the hot spot for cursors
  std::int32_t headerWidth = 0, headerHeight = 0;
  std::uint16_t headerBits = 0;
  std::vector<TRGB> palette;
  Bytes colourRows;
  Bytes maskRows;
};

// A 1-bit icon of one row of four pixels 0 1 0 1 in the given two colours, with the mask given.
IconImage FourPixelIcon(const std::vector<TRGB>& palette, std::uint8_t maskBits) {
  IconImage icon;
  icon.entryWidth = 4;
  icon.entryHeight = 1;
  icon.word6 = 1;
  icon.headerWidth = 4;
  icon.headerHeight = 2;
  icon.palette = palette;
  icon.colourRows = {0b01010000, 0, 0, 0};
  icon.maskRows = {maskBits, 0, 0, 0};
  return icon;
}

Bytes BuildIcon(std::uint16_t type, const std::vector<IconImage>& images) {
  Bytes out;
  Put16(out, 0);
  Put16(out, type);
  Put16(out, static_cast<unsigned>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  std::vector<Bytes> bodies;
  for (const IconImage& image : images) {
    Bytes body;
    Put32(body, 40);
    Put32(body, static_cast<std::uint32_t>(image.headerWidth));
    Put32(body, static_cast<std::uint32_t>(image.headerHeight));
    Put16(body, 1);
    Put16(body, image.headerBits);
    body.resize(40, 0);
    for (const TRGB& colour : image.palette) body.insert(body.end(), {colour.b, colour.g, colour.r, 0});
    body.insert(body.end(), image.colourRows.begin(), image.colourRows.end());
    body.insert(body.end(), image.maskRows.begin(), image.maskRows.end());
    out.insert(out.end(), {image.entryWidth, image.entryHeight, image.entryColours, 0});
    Put16(out, image.word4);
    Put16(out, image.word6);
    Put32(out, static_cast<std::uint32_t>(body.size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(body.size());
    bodies.push_back(std::move(body));
  }
  for (const Bytes& body : bodies) out.insert(out.end(), body.begin(), body.end());
  return out;
}

bool ReadIco(const Bytes& bytes, TBitmap& bitmap, TIOParams& params, bool paramsOnly = false) {
  return RunReader(bytes, [&](TStream& stream, const TProgressContext& progress) {
    IcoReadStream(stream, bitmap, params, progress, paramsOnly);
  });
}
bool ReadCur(const Bytes& bytes, TBitmap& bitmap, TIOParams& params) {
  return RunReader(bytes, [&](TStream& stream, const TProgressContext& progress) {
    CurReadStream(stream, bitmap, params, progress, false);
  });
}

// A 16 x 16 icon at 4 bits: pixel (x, y) has index x % 16, and the mask covers the left half.
IconImage SixteenColourIcon() {
  IconImage image;
  image.entryWidth = 16;
  image.entryHeight = 16;
  image.entryColours = 16;
  image.word4 = 1;
  image.word6 = 4;
  image.headerWidth = 16;
  image.headerHeight = 32;
  image.headerBits = 4;
  for (int i = 0; i < 16; ++i) image.palette.push_back(Rgb(16 * i, 100, 255 - 16 * i));
  for (int row = 0; row < 16; ++row) {
    for (int x = 0; x < 16; x += 2) image.colourRows.push_back(static_cast<std::uint8_t>(x << 4 | (x + 1)));
    image.maskRows.insert(image.maskRows.end(), {0xFF, 0x00, 0, 0});
  }
  return image;
}

TEST(IcoRead, SixteenColourIconShowsTransparentPixelsInTheBackground) {
  const IconImage icon = SixteenColourIcon();
  for (const TRGB background : {kWhite, Rgb(255, 0, 0)}) {
    TBitmap bitmap;
    TIOParams params;
    params.IcoBackground = background;
    ASSERT_FALSE(ReadIco(BuildIcon(1, {icon}), bitmap, params));
    ASSERT_EQ(bitmap.Width(), 16);
    ASSERT_EQ(bitmap.Height(), 16);
    EXPECT_EQ(params.BitsPerSample, 4);
    EXPECT_EQ(params.SamplesPerPixel, 1);
    EXPECT_EQ(params.ColorMapCount, 16);
    for (const int y : {0, 15}) {
      for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(PixelAt(bitmap, x, y), x < 8 ? background : icon.palette[x]) << x << ", " << y;
      }
    }
  }
}

TEST(IcoRead, OneBitMaskShowsTheBackgroundOrInverts) {
  const IconImage icon = FourPixelIcon({kBlack, kWhite}, 0b00110000);  // the last two are masked
  for (const bool white : {true, false}) {
    TBitmap bitmap;
    TIOParams params;
    params.IcoBackground = white ? kWhite : Rgb(0, 0, 255);
    ASSERT_FALSE(ReadIco(BuildIcon(1, {icon}), bitmap, params));
    ASSERT_EQ(bitmap.PixelFormat(), pf1bit);
    EXPECT_FALSE(BitAt(bitmap, 0, 0));
    EXPECT_TRUE(BitAt(bitmap, 1, 0));
    EXPECT_EQ(BitAt(bitmap, 2, 0), white);
    EXPECT_EQ(BitAt(bitmap, 3, 0), !white);
  }
}

TEST(IcoRead, TrueColourDepths) {
  IconImage icon;
  icon.entryWidth = 2;
  icon.entryHeight = 1;
  icon.headerWidth = 2;
  icon.headerHeight = 2;
  icon.maskRows = {0b01000000, 0, 0, 0};
  icon.headerBits = 24;
  icon.colourRows = {1, 2, 3, 4, 5, 6, 0, 0};
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(ReadIco(BuildIcon(1, {icon}), bitmap, params));
  EXPECT_EQ(PixelAt(bitmap, 1, 0), Rgb(6, 5, 4));  // a 24-bit icon ignores its mask
  EXPECT_EQ(params.BitsPerSample, 8);
  EXPECT_EQ(params.SamplesPerPixel, 3);

  icon.headerBits = 32;
  icon.colourRows = {1, 2, 3, 255, 4, 5, 6, 0};
  ASSERT_FALSE(ReadIco(BuildIcon(1, {icon}), bitmap, params));
  EXPECT_EQ(PixelAt(bitmap, 0, 0), Rgb(3, 2, 1));
  EXPECT_EQ(PixelAt(bitmap, 1, 0), params.IcoBackground);
}

TEST(IcoRead, SizeComesFromTheEntryOrTheHeader) {
  IconImage icon = SixteenColourIcon();
  icon.entryWidth = 0;
  icon.entryHeight = 0;
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(ReadIco(BuildIcon(1, {icon}), bitmap, params));
  EXPECT_EQ(params.Width, 16);
  EXPECT_EQ(params.Height, 16);

  icon.entryWidth = 32;  // disagrees with the header, which wins
  icon.entryHeight = 32;
  ASSERT_FALSE(ReadIco(BuildIcon(1, {icon}), bitmap, params, true));
  EXPECT_EQ(params.Width, 16);
  EXPECT_EQ(params.Height, 16);
}

TEST(IcoRead, IndexChoosesTheImageAndAMissingIndexGivesNothing) {
  IconImage second = SixteenColourIcon();
  second.entryWidth = 8;
  second.headerWidth = 8;
  second.entryHeight = 4;
  second.headerHeight = 8;
  const Bytes file = BuildIcon(1, {SixteenColourIcon(), second});
  TBitmap bitmap;
  TIOParams params;
  params.IcoImageIndex = 1;
  ASSERT_FALSE(ReadIco(file, bitmap, params));
  EXPECT_EQ(bitmap.Width(), 8);
  EXPECT_EQ(bitmap.Height(), 4);

  for (const int index : {2, -1, 1000}) {
    MakeMarker(bitmap);
    params.IcoImageIndex = index;
    params.Width = 77;
    EXPECT_FALSE(ReadIco(file, bitmap, params)) << index;
    EXPECT_TRUE(IsMarker(bitmap));
    EXPECT_EQ(params.Width, 77);
  }
}

TEST(IcoRead, ABitmapUnderAnIconNameIsReadAsABitmap) {
  TBitmap image(3, 2, pf24bit);
  FillRandom(image, 9);
  TIOParams params;
  const Bytes file = WriteBmp(image, params);
  TBitmap bitmap;
  ASSERT_FALSE(ReadIco(file, bitmap, params));
  EXPECT_EQ(PixelBytesTopDown(bitmap), PixelBytesTopDown(image));
  // A cursor file gets no such second chance.
  EXPECT_FALSE(ReadCur(file, bitmap, params));
}

TEST(IcoRead, BadIconsAbort) {
  TBitmap bitmap;
  TIOParams params;
  IconImage noDepth = SixteenColourIcon();
  noDepth.word6 = 0;
  noDepth.headerBits = 0;
  noDepth.entryColours = 0;
  EXPECT_TRUE(ReadIco(BuildIcon(1, {noDepth}), bitmap, params));

  Bytes png = BuildIcon(1, {SixteenColourIcon()});
  const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::copy(signature, signature + 8, png.begin() + 22);
  EXPECT_TRUE(ReadIco(png, bitmap, params));

  Bytes farAway = BuildIcon(1, {SixteenColourIcon()});
  PutLE32(farAway.data() + 18, 0x70000000);
  EXPECT_TRUE(ReadIco(farAway, bitmap, params));

  const Bytes good = BuildIcon(1, {SixteenColourIcon()});
  EXPECT_TRUE(ReadIco(Bytes(good.begin(), good.begin() + 4), bitmap, params));
  EXPECT_TRUE(ReadIco(Bytes(good.begin(), good.begin() + 12), bitmap, params));
  // Colour rows cut short: what is there is shown, and the damage is named.
  std::string damage;
  EXPECT_TRUE(RunReader(
      Bytes(good.begin(), good.begin() + 22 + 40 + 64 + 20),
      [&](TStream& stream, const TProgressContext& progress) {
        IcoReadStream(stream, bitmap, params, progress, false);
      },
      &damage));
  EXPECT_EQ(damage, "the pixel data ends after row 2 of 16");
  EXPECT_EQ(PixelAt(bitmap, 15, 15), SixteenColourIcon().palette[15]);

  IconImage huge = SixteenColourIcon();
  huge.entryWidth = 0;
  huge.entryHeight = 0;
  huge.headerWidth = 1 << 20;
  huge.headerHeight = 1 << 20;
  MakeMarker(bitmap);
  EXPECT_TRUE(ReadIco(BuildIcon(1, {huge}), bitmap, params));
  EXPECT_TRUE(IsMarker(bitmap));
}

TEST(CurRead, HotSpotBackgroundAndDepthFromTheHeader) {
  IconImage cursor = SixteenColourIcon();
  cursor.word4 = 5;  // hot spot x
  cursor.word6 = 7;  // hot spot y: not a depth
  cursor.entryHeight = 0;
  TBitmap bitmap;
  TIOParams params;
  params.CurBackground = Rgb(1, 2, 3);
  params.IcoBackground = kWhite;
  ASSERT_FALSE(ReadCur(BuildIcon(2, {cursor}), bitmap, params));
  EXPECT_EQ(params.CurHotSpotX, 5);
  EXPECT_EQ(params.CurHotSpotY, 7);
  EXPECT_EQ(params.BitsPerSample, 4);
  EXPECT_EQ(params.SamplesPerPixel, 1);
  EXPECT_EQ(bitmap.Height(), 16);
  EXPECT_EQ(PixelAt(bitmap, 0, 3), Rgb(1, 2, 3));
  EXPECT_EQ(PixelAt(bitmap, 9, 3), cursor.palette[9]);

  cursor.headerBits = 0;
  cursor.entryColours = 0;
  EXPECT_TRUE(ReadCur(BuildIcon(2, {cursor}), bitmap, params));
}

TEST(IconDirectory, ContentTestChecksEveryEntryAndKeepsThePosition) {
  const Bytes icon = BuildIcon(1, {SixteenColourIcon(), SixteenColourIcon()});
  auto test = [](Bytes bytes, std::uint16_t type) {
    Bytes prefixed{0xEE, 0xEE, 0xEE};
    prefixed.insert(prefixed.end(), bytes.begin(), bytes.end());
    TMemoryStream stream{prefixed};
    stream.Seek(3);
    const bool result = IsIconDirectory(stream, type);
    EXPECT_EQ(stream.Position(), 3);
    return result;
  };
  EXPECT_TRUE(test(icon, 1));
  EXPECT_FALSE(test(icon, 2));
  EXPECT_TRUE(test(BuildIcon(2, {SixteenColourIcon()}), 2));
  Bytes bad = icon;
  bad[22 + 3] = 1;  // the second entry's reserved byte
  EXPECT_FALSE(test(bad, 1));
  bad = icon;
  PutLE32(bad.data() + 6 + 8, 0);  // size 0
  EXPECT_FALSE(test(bad, 1));
  bad = icon;
  PutLE32(bad.data() + 22 + 12, 30);  // offset inside the directory
  EXPECT_FALSE(test(bad, 1));
  bad = icon;
  PutLE16(bad.data() + 4, 0);
  EXPECT_FALSE(test(bad, 1));
  bad = icon;
  PutLE16(bad.data() + 4, 500);  // more entries than the file holds
  EXPECT_FALSE(test(bad, 1));
  EXPECT_FALSE(test(Bytes(icon.begin(), icon.begin() + 22), 1));
}

// ---------------------------------------------------------------- bit fields and alpha

// Red, green, blue and alpha masks.
using Masks = std::array<std::uint32_t, 4>;

// Pixels of 16, 24 or 32 bits in a BMP whose masks sit where a header of `headerSize` bytes keeps
// them: inside it from 52 bytes on (alpha from 56), else right after it (three masks, four with the
// alpha-bit-fields compression), before any palette.
Bytes FieldsBmp(std::uint32_t headerSize, std::uint32_t compression, int bits, const Masks& masks,
                const std::vector<std::uint32_t>& pixels, int width, std::vector<TRGB> palette = {}) {
  BmpLayout layout;
  layout.headerSize = headerSize;
  layout.width = width;
  layout.height = static_cast<std::int32_t>(pixels.size()) / width;
  layout.bits = bits;
  layout.compression = compression;
  layout.coloursUsed = static_cast<std::uint32_t>(palette.size());
  layout.palette = std::move(palette);
  for (int y = layout.height - 1; y >= 0; --y) {  // stored from the bottom row up
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = pixels[static_cast<std::size_t>(y * width + x)];
      for (int i = 0; i < bits / 8; ++i) layout.pixels.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    while (layout.pixels.size() % 4 != 0) layout.pixels.push_back(0);
  }
  Bytes file = BuildBmp(layout);
  if (headerSize >= 52) {
    for (int i = 0; i < (headerSize >= 56 ? 4 : 3); ++i) PutLE32(file.data() + 14 + 40 + 4 * i, masks[i]);
  } else {
    Bytes after;
    for (int i = 0; i < (compression == 6 ? 4 : 3); ++i) Put32(after, masks[i]);
    file.insert(file.begin() + 14 + headerSize, after.begin(), after.end());
    PutLE32(file.data() + 2, static_cast<std::uint32_t>(file.size()));
    PutLE32(file.data() + 10, Get32(file, 10) + static_cast<std::uint32_t>(after.size()));
  }
  return file;
}

class BmpBitFieldsRead : public ::testing::Test {
 protected:
  // The colours of a one-row file; the load must succeed.
  std::vector<TRGB> Row(const Bytes& file) {
    TBitmap bitmap;
    TIOParams params;
    const Outcome outcome = LoadBmp(file, bitmap, params);
    EXPECT_FALSE(outcome.aborted) << outcome.damage;
    std::vector<TRGB> colours;
    for (int x = 0; x < bitmap.Width(); ++x) colours.push_back(PixelAt(bitmap, x, 0));
    return colours;
  }
};

TEST_F(BmpBitFieldsRead, ChannelsOfAnyWidthWidenToTheFullByteRange) {
  struct Case {
    const char* what;
    int bits;
    Masks masks;
    std::uint32_t pixel;
    TRGB expected;
  };
  const Case cases[] = {
      {"5-6-5 white", 16, {0xF800, 0x07E0, 0x001F, 0}, 0xFFFF, kWhite},
      {"5-6-5 middle", 16, {0xF800, 0x07E0, 0x001F, 0}, 0x8410, Rgb(132, 130, 132)},
      {"5-5-5 through masks", 16, {0x7C00, 0x03E0, 0x001F, 0}, 0x7FFF, kWhite},
      {"4-4-4", 16, {0x0F00, 0x00F0, 0x000F, 0}, 0x0821, Rgb(0x88, 0x22, 0x11)},
      {"3-3-2", 16, {0xE0, 0x1C, 0x03, 0}, 0x92, Rgb(146, 146, 170)},
      {"1-1-1", 16, {0x4, 0x2, 0x1, 0}, 0x5, Rgb(255, 0, 255)},
      {"7-bit channels", 32, {0x7F << 14, 0x7F << 7, 0x7F, 0}, 0x40u << 14 | 0x7F, Rgb(129, 0, 255)},
      {"8 bits, blue high", 32, {0xFF, 0xFF00, 0xFF0000, 0}, 0x00332211, Rgb(0x11, 0x22, 0x33)},
      {"10-10-10 keeps the top 8 bits", 32, {0x3FF00000, 0xFFC00, 0x3FF, 0}, 0x20080201, Rgb(128, 128, 128)},
      {"10-10-10 white", 32, {0x3FF00000, 0xFFC00, 0x3FF, 0}, 0x3FFFFFFF, kWhite},
      {"24-bit pixels through masks", 24, {0xFF, 0xFF00, 0xFF0000, 0}, 0x0A0B0C, Rgb(0x0C, 0x0B, 0x0A)},
      {"byte masks on 16-bit pixels", 16, {0xFF0000, 0xFF00, 0xFF, 0}, 0x1234, Rgb(0, 0x12, 0x34)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Row(FieldsBmp(40, 3, c.bits, c.masks, {c.pixel}, 1)), std::vector<TRGB>{c.expected}) << c.what;
  }
}

TEST_F(BmpBitFieldsRead, MasksAreTakenFromWhereEachHeaderKeepsThem) {
  const Masks rgb565{0xF800, 0x07E0, 0x001F, 0};
  const std::vector<std::uint32_t> pixels{0xF800, 0x07E0, 0x001F, 0xFFFF};
  const std::vector<TRGB> expected{Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255), kWhite};
  for (const std::uint32_t headerSize : {40u, 52u, 56u, 108u, 124u}) {
    EXPECT_EQ(Row(FieldsBmp(headerSize, 3, 16, rgb565, pixels, 4)), expected) << headerSize;
  }
  // Four masks after a 40-byte header with the alpha-bit-fields compression.
  EXPECT_EQ(Row(FieldsBmp(40, 6, 16, rgb565, pixels, 4)), expected);
  // The masks come before a palette (a display hint beside true-colour pixels).
  EXPECT_EQ(Row(FieldsBmp(40, 3, 16, rgb565, pixels, 4, {kA, kB, kC})), expected);
  // Without bit-field compression a header's colour masks do not apply: 5-5-5 it is.
  EXPECT_EQ(Row(FieldsBmp(124, 0, 16, rgb565, {0x7C00}, 1)), std::vector<TRGB>{Rgb(255, 0, 0)});
}

TEST_F(BmpBitFieldsRead, EmptyOverlappingAndGappedMasksStayDefined) {
  struct Case {
    const char* what;
    Masks masks;
    std::uint32_t pixel;
    TRGB expected;
  };
  const Case cases[] = {
      {"empty masks give black", {0, 0, 0, 0}, 0xFFFFFFFF, kBlack},
      {"one mask for all three channels", {0xFF00, 0xFF00, 0xFF00, 0}, 0x4200, Rgb(0x42, 0x42, 0x42)},
      {"a whole-word mask keeps its top byte", {0xFFFFFFFF, 0, 0, 0}, 0xAB000000, Rgb(0xAB, 0, 0)},
      {"a mask with a gap spans its lowest to highest bit", {0x0F0F, 0, 0, 0}, 0x0F0F, Rgb(0xF0, 0, 0)},
      {"a mask in the top bit only", {0x80000000, 0, 0, 0}, 0x80000000, Rgb(255, 0, 0)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Row(FieldsBmp(40, 3, 32, c.masks, {c.pixel}, 1)), std::vector<TRGB>{c.expected}) << c.what;
  }
}

class BmpAlphaRead : public ::testing::Test {
 protected:
  static constexpr Masks kArgb{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  static constexpr TRGB kBackground = Rgb(0, 0, 255);

  static std::uint32_t Argb(int a, int r, int g, int b) {
    return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(r) << 16 |
           static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b);
  }
  // (fg a + bg (255 - a)) / 255 rounded, channel by channel.
  static TRGB Over(TRGB fg, int a, TRGB bg) {
    auto mix = [a](int f, int b) { return static_cast<std::uint8_t>((f * a + b * (255 - a) + 127) / 255); };
    TRGB out;
    out.r = mix(fg.r, bg.r);
    out.g = mix(fg.g, bg.g);
    out.b = mix(fg.b, bg.b);
    return out;
  }
  std::vector<TRGB> Row(const Bytes& file) {
    TBitmap bitmap;
    TIOParams params;
    params.PngBackground = kBackground;
    EXPECT_FALSE(ReadBmp(file, bitmap, params));
    EXPECT_EQ(params.PngBackground, kBackground);
    std::vector<TRGB> colours;
    for (int x = 0; x < bitmap.Width(); ++x) colours.push_back(PixelAt(bitmap, x, 0));
    return colours;
  }
};

TEST_F(BmpAlphaRead, AlphaIsFlattenedOntoThePngBackground) {
  const std::vector<std::uint32_t> pixels{Argb(255, 200, 100, 0), Argb(0, 200, 100, 0),
                                          Argb(128, 200, 100, 0), Argb(1, 255, 255, 255)};
  const TRGB colour = Rgb(200, 100, 0);
  const std::vector<TRGB> expected{colour, kBackground, Over(colour, 128, kBackground),
                                   Over(kWhite, 1, kBackground)};
  struct Case {
    const char* what;
    std::uint32_t headerSize;
    std::uint32_t compression;
  };
  for (const Case& c :
       {Case{"v5 header, bit fields", 124, 3}, Case{"v4 header, no compression", 108, 0},
        Case{"56-byte header, bit fields", 56, 3}, Case{"40-byte header, alpha bit fields", 40, 6}}) {
    EXPECT_EQ(Row(FieldsBmp(c.headerSize, c.compression, 32, kArgb, pixels, 4)), expected) << c.what;
  }
  // 4-4-4-4 in 16 bits: alpha 8 of 15 is 0x88.
  EXPECT_EQ(Row(FieldsBmp(124, 3, 16, {0x0F00, 0x00F0, 0x000F, 0xF000}, {0x8F00, 0xF0F0}, 2)),
            (std::vector<TRGB>{Over(Rgb(255, 0, 0), 0x88, kBackground), Rgb(0, 255, 0)}));
}

TEST_F(BmpAlphaRead, FilesWithoutRealAlphaShowOpaque) {
  // Alpha zero everywhere: writers that leave the fourth byte zero mean no alpha at all.
  EXPECT_EQ(Row(FieldsBmp(124, 3, 32, kArgb, {Argb(0, 1, 2, 3), Argb(0, 4, 5, 6)}, 2)),
            (std::vector<TRGB>{Rgb(1, 2, 3), Rgb(4, 5, 6)}));
  // A 40-byte header without alpha bit fields has no alpha channel, whatever the fourth byte holds.
  EXPECT_EQ(Row(FieldsBmp(40, 0, 32, kArgb, {Argb(7, 1, 2, 3), Argb(0, 4, 5, 6)}, 2)),
            (std::vector<TRGB>{Rgb(1, 2, 3), Rgb(4, 5, 6)}));
  EXPECT_EQ(Row(FieldsBmp(40, 3, 32, kArgb, {Argb(7, 1, 2, 3)}, 1)), std::vector<TRGB>{Rgb(1, 2, 3)});
}

TEST_F(BmpAlphaRead, AFileLoadFlattensOntoTheViewBackground) {
  TTempDir dir;
  const std::string name = dir.File("alpha.bmp");
  WriteWholeFile(name,
                 FieldsBmp(124, 3, 32, kArgb, {Argb(0, 9, 9, 9), Argb(255, 9, 9, 9), Argb(1, 0, 0, 0)}, 3));
  HeadlessView view;
  view.SetBackground(RGBToColor(10, 200, 30));
  TImageIO io;
  io.SetAttachedView(&view);
  io.LoadFromFile(name);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(PixelAt(*view.Bitmap(), 0, 0), Rgb(10, 200, 30));
  EXPECT_EQ(PixelAt(*view.Bitmap(), 1, 0), Rgb(9, 9, 9));
}

// ---------------------------------------------------------------- depths and compressions

TEST(BmpRead, DepthsAndCompressionsThatCannotBeDecodedAreRefused) {
  struct Case {
    int bits;
    std::uint32_t compression;
    std::uint32_t headerSize;
  };
  const Case cases[] = {
      {30000, 0, 40}, {64, 0, 40}, {0, 0, 40},   {3, 0, 40},   {8, 3, 40},   {4, 1, 40},          {8, 2, 40},
      {24, 1, 40},    {1, 3, 64},  {32, 11, 40}, {16, 7, 124}, {24, 99, 40}, {8, 0xFFFFFFFF, 40},
  };
  for (const Case& c : cases) {
    BmpLayout layout;
    layout.headerSize = c.headerSize;
    layout.width = 2;
    layout.height = 2;
    layout.bits = c.bits;
    layout.compression = c.compression;
    layout.pixels.assign(64, 0x11);
    for (const bool paramsOnly : {false, true}) {
      TBitmap bitmap;
      MakeMarker(bitmap);
      TIOParams params;
      EXPECT_TRUE(ReadBmp(BuildBmp(layout), bitmap, params, 0, paramsOnly))
          << c.bits << " bits, compression " << c.compression;
      EXPECT_TRUE(IsMarker(bitmap));
    }
  }
}

TEST(BmpRead, TwoBitPixelsIndexAFourColourPalette) {
  BmpLayout layout;
  layout.width = 5;
  layout.bits = 2;
  layout.palette = {kA, kB, kC, kD};
  layout.pixels = {0b00011011, 0b01000000, 0, 0};
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params));
  EXPECT_EQ(params.BitsPerSample, 2);
  const TRGB expected[] = {kA, kB, kC, kD, kB};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelAt(bitmap, x, 0), expected[x]) << x;
}

// A PNG or a JPEG as the pixel data of a bitmap file (compression 5 or 4, bit count 0).
Bytes EmbeddingBmp(const Bytes& image, std::uint32_t compression, int width, int height) {
  BmpLayout layout;
  layout.headerSize = 124;
  layout.width = width;
  layout.height = height;
  layout.bits = 0;
  layout.compression = compression;
  layout.ppmX = 3780;
  layout.ppmY = 3780;
  layout.pixels = image;
  return BuildBmp(layout);
}

class BmpEmbeddedRead : public ::testing::Test {
 protected:
  void SetUp() override { BitmapFromRaw(TestPicture(21, 13, 5), picture); }
  Bytes Png() {
    TIOParams params;
    TMemoryStream stream;
    bool aborting = false;
    PngWriteStream(stream, picture, params, TProgressContext{{}, nullptr, &aborting});
    return stream.Data();
  }
  Bytes Jpeg() {
    TIOParams params;
    params.JpegQuality = 90;
    TMemoryStream stream;
    bool aborting = false;
    JpegWriteStream(stream, picture, params, TProgressContext{{}, nullptr, &aborting});
    return stream.Data();
  }
  TBitmap picture;
};

TEST_F(BmpEmbeddedRead, PngAndJpegPixelDataAreDecodedByTheirOwnReaders) {
  TBitmap bitmap;
  TIOParams params;
  params.JpegScale = 3;
  params.PngBackground = kC;
  ASSERT_FALSE(ReadBmp(EmbeddingBmp(Png(), 5, 21, 13), bitmap, params));
  EXPECT_EQ(PixelBytesTopDown(bitmap), PixelBytesTopDown(picture));
  EXPECT_EQ(params.Width, 21);
  EXPECT_EQ(params.DpiX, 96);  // the bitmap header's resolution
  EXPECT_EQ(params.PngBackground, kC);

  // The JPEG comes out as the JPEG reader decodes it, at full size whatever the JPEG scale says.
  const Bytes jpeg = Jpeg();
  TBitmap direct;
  TIOParams directParams;
  TMemoryStream stream(jpeg);
  bool aborting = false;
  JpegReadStream(stream, direct, directParams, false, TProgressContext{{}, nullptr, &aborting});
  ASSERT_FALSE(aborting);
  ASSERT_FALSE(ReadBmp(EmbeddingBmp(jpeg, 4, 21, 13), bitmap, params));
  EXPECT_EQ(bitmap.Width(), 21);
  EXPECT_EQ(PixelBytesTopDown(bitmap), PixelBytesTopDown(direct));
  EXPECT_EQ(params.JpegScale, 3);

  TBitmap untouched;
  MakeMarker(untouched);
  TIOParams onlyParams;
  ASSERT_FALSE(ReadBmp(EmbeddingBmp(Png(), 5, 21, 13), untouched, onlyParams, 0, true));
  EXPECT_TRUE(IsMarker(untouched));
  EXPECT_EQ(onlyParams.Height, 13);
}

TEST_F(BmpEmbeddedRead, DataThatIsNotTheNamedFormatIsRefused) {
  const Bytes png = Png();
  const Bytes cases[] = {EmbeddingBmp(Bytes(png.begin() + 8, png.end()), 5, 21, 13),
                         EmbeddingBmp(png, 4, 21, 13), EmbeddingBmp({}, 5, 21, 13),
                         EmbeddingBmp(Bytes(300, 0x42), 4, 21, 13)};
  for (const Bytes& file : cases) {
    TBitmap bitmap;
    TIOParams params;
    EXPECT_TRUE(ReadBmp(file, bitmap, params));
  }
}

// ---------------------------------------------------------------- palettes

TEST(BmpRead, PaletteIsReadByItsCountAndPixelsFromTheOffset) {
  // The offset points into the palette's last two entries, which the pixel bytes share.
  BmpLayout layout;
  layout.width = 4;
  layout.bits = 8;
  layout.coloursUsed = 4;
  layout.palette = {kA, kB, Rgb(1, 3, 2), Rgb(0, 0, 0)};  // entry 2 is stored 2, 3, 1, 0
  Bytes file = BuildBmp(layout);
  PutLE32(file.data() + 10, 54 + 8);
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(ReadBmp(file, bitmap, params));
  EXPECT_EQ(params.ColorMapCount, 4);
  const TRGB expected[] = {Rgb(1, 3, 2), Rgb(0, 0, 0), kB, kA};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(bitmap, x, 0), expected[x]) << x;
}

TEST(BmpRead, OneBitStaysOneBitOnlyForBlackAndWhite) {
  struct Case {
    const char* what;
    std::vector<TRGB> palette;
    bool oneBit;
    TRGB zero, one;  // the colours of bits 0 and 1
  };
  const Case cases[] = {
      {"black, white", {kBlack, kWhite}, true, kBlack, kWhite},
      {"white, black", {kWhite, kBlack}, true, kWhite, kBlack},
      {"two colours", {Rgb(255, 0, 0), Rgb(0, 0, 255)}, false, Rgb(255, 0, 0), Rgb(0, 0, 255)},
      {"white, white", {kWhite, kWhite}, false, kWhite, kWhite},
      {"near black, white", {Rgb(0, 0, 1), kWhite}, false, Rgb(0, 0, 1), kWhite},
      {"one entry", {kA}, false, kA, kBlack},
  };
  for (const Case& c : cases) {
    BmpLayout layout;
    layout.width = 2;
    layout.bits = 1;
    layout.coloursUsed = static_cast<std::uint32_t>(c.palette.size());
    layout.palette = c.palette;
    layout.pixels = {0b01000000, 0, 0, 0};
    TBitmap bitmap;
    TIOParams params;
    ASSERT_FALSE(ReadBmp(BuildBmp(layout), bitmap, params)) << c.what;
    EXPECT_EQ(bitmap.PixelFormat() == pf1bit, c.oneBit) << c.what;
    EXPECT_EQ(params.BitsPerSample, 1);
    TBitmap colour;
    ConvertTo24Bit(bitmap, colour);
    EXPECT_EQ(PixelAt(colour, 0, 0), c.zero) << c.what;
    EXPECT_EQ(PixelAt(colour, 1, 0), c.one) << c.what;
  }
}

// ---------------------------------------------------------------- icons: PNG, alpha, sizes

// An icon file whose one image is `body` (a PNG, or a bitmap header with its rows).
Bytes IconWithBody(std::uint16_t type, const Bytes& body, std::uint8_t entryWidth = 0,
                   std::uint8_t entryHeight = 0) {
  Bytes out;
  Put16(out, 0);
  Put16(out, type);
  Put16(out, 1);
  out.insert(out.end(), {entryWidth, entryHeight, 0, 0});
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, static_cast<std::uint32_t>(body.size()));
  Put32(out, 22);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

class IcoModernRead : public ::testing::Test {
 protected:
  Outcome Load(const Bytes& file, TBitmap& bitmap, TIOParams& params, bool cursor = false) {
    Outcome outcome;
    outcome.aborted = RunReader(
        file,
        [&](TStream& stream, const TProgressContext& progress) {
          if (cursor) {
            CurReadStream(stream, bitmap, params, progress, false);
          } else {
            IcoReadStream(stream, bitmap, params, progress, false);
          }
        },
        &outcome.damage);
    return outcome;
  }
};

TEST_F(IcoModernRead, PngImagesAreDecodedByThePngReader) {
  TBitmap picture;
  BitmapFromRaw(TestPicture(20, 10, 8), picture);
  TIOParams writeParams;
  TMemoryStream png;
  bool aborting = false;
  PngWriteStream(png, picture, writeParams, TProgressContext{{}, nullptr, &aborting});
  for (const bool cursor : {false, true}) {
    TBitmap bitmap;
    TIOParams params;
    params.PngBackground = kD;
    ASSERT_FALSE(Load(IconWithBody(cursor ? 2 : 1, png.Data()), bitmap, params, cursor).aborted);
    EXPECT_EQ(PixelBytesTopDown(bitmap), PixelBytesTopDown(picture));
    EXPECT_EQ(params.Width, 20);  // from the PNG, though the directory says 0
    EXPECT_EQ(params.Height, 10);
    EXPECT_EQ(params.PngBackground, kD);
  }
  // A PNG cut short fails in the PNG reader.
  TBitmap bitmap;
  TIOParams params;
  EXPECT_TRUE(
      Load(IconWithBody(1, Bytes(png.Data().begin(), png.Data().begin() + 40)), bitmap, params).aborted);
}

// A 32-bit icon image: header, blue-green-red-alpha rows from the bottom, then the mask rows.
Bytes ThirtyTwoBitIconBody(int width, int height, const std::vector<std::uint32_t>& argbTopDown,
                           const Bytes& mask) {
  Bytes body;
  Put32(body, 40);
  Put32(body, static_cast<std::uint32_t>(width));
  Put32(body, static_cast<std::uint32_t>(2 * height));
  Put16(body, 1);
  Put16(body, 32);
  body.resize(40, 0);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) Put32(body, argbTopDown[static_cast<std::size_t>(y * width + x)]);
  }
  body.insert(body.end(), mask.begin(), mask.end());
  return body;
}

TEST_F(IcoModernRead, ThirtyTwoBitAlphaIsFlattenedOntoTheIconBackground) {
  const TRGB background = Rgb(0, 255, 0);
  // The mask would hide the first pixel; with real alpha it is not used, and it may be missing.
  const std::vector<std::uint32_t> pixels{0xFF102030, 0x80FF0000, 0x00123456};
  for (const Bytes& mask : {Bytes{0b10000000, 0, 0, 0}, Bytes{}}) {
    TBitmap bitmap;
    TIOParams params;
    params.IcoBackground = background;
    const Outcome outcome =
        Load(IconWithBody(1, ThirtyTwoBitIconBody(3, 1, pixels, mask), 3, 1), bitmap, params);
    EXPECT_FALSE(outcome.aborted) << outcome.damage;
    EXPECT_EQ(PixelAt(bitmap, 0, 0), Rgb(0x10, 0x20, 0x30));
    EXPECT_EQ(PixelAt(bitmap, 1, 0), Rgb(128, 127, 0));
    EXPECT_EQ(PixelAt(bitmap, 2, 0), background);
  }
  // Alpha zero everywhere: an older icon, whose mask gives the transparency.
  TBitmap bitmap;
  TIOParams params;
  params.IcoBackground = background;
  ASSERT_FALSE(
      Load(IconWithBody(1, ThirtyTwoBitIconBody(2, 1, {0x00102030, 0x00405060}, {0b01000000, 0, 0, 0})),
           bitmap, params)
          .aborted);
  EXPECT_EQ(PixelAt(bitmap, 0, 0), Rgb(0x10, 0x20, 0x30));
  EXPECT_EQ(PixelAt(bitmap, 1, 0), background);
}

TEST_F(IcoModernRead, SizeComesFromTheBitmapHeader) {
  // 256 x 256 is stored as 0 in the directory; a header of 256 x 512 says 256 x 256.
  const std::vector<std::uint32_t> pixels(256 * 256, 0xFF0000FF);
  TBitmap bitmap;
  TIOParams params;
  ASSERT_FALSE(Load(IconWithBody(1, ThirtyTwoBitIconBody(256, 256, pixels, {})), bitmap, params).aborted);
  EXPECT_EQ(bitmap.Width(), 256);
  EXPECT_EQ(bitmap.Height(), 256);
  EXPECT_EQ(PixelAt(bitmap, 255, 255), Rgb(0, 0, 255));
  // A directory entry that disagrees in height only.
  ASSERT_FALSE(
      Load(IconWithBody(1, ThirtyTwoBitIconBody(2, 3, std::vector<std::uint32_t>(6, 0xFF000000), {}), 2, 9),
           bitmap, params)
          .aborted);
  EXPECT_EQ(params.Height, 3);
}

TEST_F(IcoModernRead, OneBitIconsWithColoursKeepThem) {
  const IconImage icon = FourPixelIcon({kA, kB}, 0b00010000);
  TBitmap bitmap;
  TIOParams params;
  params.IcoBackground = kE;
  ASSERT_FALSE(Load(BuildIcon(1, {icon}), bitmap, params).aborted);
  ASSERT_EQ(bitmap.PixelFormat(), pf24bit);
  const TRGB expected[] = {kA, kB, kA, kE};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(bitmap, x, 0), expected[x]) << x;
}

TEST_F(IcoModernRead, ShortDataIsDamageAndNoDataOrAnUnknownDepthIsRefused) {
  const Bytes good = BuildIcon(1, {SixteenColourIcon()});
  struct Case {
    const char* what;
    std::size_t keep;  // bytes of the file kept
    bool aborted;
    const char* damage;
  };
  const std::size_t pixels = 22 + 40 + 64;  // where the colour rows start
  const Case cases[] = {
      {"whole file", good.size(), false, ""},
      {"no colour rows", pixels, true, ""},
      {"half a mask", pixels + 128 + 32, true, "the transparency mask ends after row 8 of 16"},
      {"colour rows end in a row", pixels + 8 * 16 + 0 - 5, true, "the pixel data ends after row 15 of 16"},
  };
  for (const Case& c : cases) {
    TBitmap bitmap;
    TIOParams params;
    const Outcome outcome =
        Load(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(c.keep)), bitmap, params);
    EXPECT_EQ(outcome.aborted, c.aborted) << c.what;
    EXPECT_EQ(outcome.damage, c.damage) << c.what;
  }
  IconImage odd = SixteenColourIcon();
  odd.headerBits = 3;
  TBitmap bitmap;
  MakeMarker(bitmap);
  TIOParams params;
  EXPECT_TRUE(Load(BuildIcon(1, {odd}), bitmap, params).aborted);
  EXPECT_TRUE(IsMarker(bitmap));
}

}  // namespace
