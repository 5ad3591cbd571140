#include "io/PcxCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/ImageProc.h"
#include "support/HeadlessView.h"
#include "support/Pixels.h"

namespace veilora {
namespace {

using test::BitAt;
using test::FillRandom;
using test::PixelAt;
using test::PixelBytesTopDown;

// Runs the codec on memory streams and keeps the flag it sets.
struct PcxRunner {
  bool aborting = false;
  std::string damage;  // what the last load said was damaged
  TObject sender;
  std::vector<int> reports;
  int abortAtRow = -1;  // the handler sets Aborting when this percentage is reported

  TProgressContext Context() {
    TProgressContext context;
    context.onProgress = [this](TObject&, int percentage) {
      reports.push_back(percentage);
      if (percentage == abortAtRow) aborting = true;
    };
    context.sender = &sender;
    context.aborting = &aborting;
    context.damage = &damage;
    return context;
  }

  std::vector<std::uint8_t> Save(TBitmap& bitmap, TIOParams& params) {
    TMemoryStream stream;
    PcxWriteStream(stream, bitmap, params, Context());
    return stream.Data();
  }

  void Load(const std::vector<std::uint8_t>& bytes, TBitmap& bitmap, TIOParams& params,
            bool paramsOnly = false, std::int64_t byteCount = -1) {
    TMemoryStream stream(bytes);
    damage.clear();
    PcxReadStream(stream, bitmap, params, paramsOnly, Context(),
                  byteCount < 0 ? static_cast<std::int64_t>(bytes.size()) : byteCount);
  }
};

TIOParams ParamsFor(int bitsPerSample, int samplesPerPixel, int compression) {
  TIOParams params;
  params.BitsPerSample = bitsPerSample;
  params.SamplesPerPixel = samplesPerPixel;
  params.PcxCompression = static_cast<std::uint8_t>(compression);
  params.DpiX = 300;
  params.DpiY = 150;
  return params;
}

// A hand-made file: header fields as given, the data appended as it is.
struct PcxFile {
  std::array<std::uint8_t, 128> header{};
  std::vector<std::uint8_t> data;

  PcxFile(int bits, int planes, int width, int height, int bytesPerLine, bool runLength) {
    header[0] = 10;
    header[1] = 5;
    header[2] = runLength ? 1 : 0;
    header[3] = static_cast<std::uint8_t>(bits);
    PutLE16(&header[8], static_cast<std::uint32_t>(width - 1));
    PutLE16(&header[10], static_cast<std::uint32_t>(height - 1));
    PutLE16(&header[12], 72);
    PutLE16(&header[14], 72);
    header[65] = static_cast<std::uint8_t>(planes);
    PutLE16(&header[66], static_cast<std::uint32_t>(bytesPerLine));
  }
  void HeaderColour(int index, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    header[16 + 3 * index] = r;
    header[17 + 3 * index] = g;
    header[18 + 3 * index] = b;
  }
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
  }
};

// --- Writing: exact bytes ---

TEST(PcxWriteBytes, TrueColourHeaderAndRunsOfAtMost63) {
  TBitmap image(100, 2, pf24bit);
  image.Fill(RGBToColor(0x10, 0x20, 0x30));
  TIOParams params = ParamsFor(8, 3, 1);
  PcxRunner runner;
  const std::vector<std::uint8_t> bytes = runner.Save(image, params);

  ASSERT_FALSE(runner.aborting);
  const std::vector<std::uint8_t> expectedHeader = {10, 5, 1, 8, 0, 0, 0, 0, 99, 0, 1, 0, 0x2C, 1, 150, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 16), expectedHeader);
  EXPECT_EQ(bytes[64], 0);
  EXPECT_EQ(bytes[65], 3);              // planes
  EXPECT_EQ(GetLE16(&bytes[66]), 100);  // bytes per line
  EXPECT_EQ(GetLE16(&bytes[68]), 0);    // palette information: none for true colour
  for (std::size_t i = 70; i < 128; ++i) EXPECT_EQ(bytes[i], 0) << i;
  // Each row: red, green and blue lines of 100 bytes, each 63 + 37.
  const std::vector<std::uint8_t> row = {0xFF, 0x10, 0xE5, 0x10, 0xFF, 0x20,
                                         0xE5, 0x20, 0xFF, 0x30, 0xE5, 0x30};
  std::vector<std::uint8_t> expectedData = row;
  expectedData.insert(expectedData.end(), row.begin(), row.end());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 128, bytes.end()), expectedData);
}

TEST(PcxWriteBytes, HighBytesAreCodedAsRunsAndOddLinesArePadded) {
  TBitmap image(3, 1, pf24bit);
  // Red line C5 C5 41: a run of two; green 07 C5 07: the lone C5 needs a count; blue all zero.
  const std::uint8_t pixels[] = {0x00, 0x07, 0xC5, 0x00, 0xC5, 0xC5, 0x00, 0x07, 0x41};
  std::copy(std::begin(pixels), std::end(pixels), image.ScanLine(0));
  TIOParams params = ParamsFor(8, 3, 1);
  PcxRunner runner;
  const std::vector<std::uint8_t> bytes = runner.Save(image, params);

  EXPECT_EQ(GetLE16(&bytes[66]), 4);  // 3 rounded up to even
  const std::vector<std::uint8_t> expected = {0xC2, 0xC5, 0x41, 0x00, 0x07, 0xC1,
                                              0xC5, 0x07, 0x00, 0xC3, 0x00, 0x00};
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 128, bytes.end()), expected);

  params.PcxCompression = 0;
  const std::vector<std::uint8_t> raw = runner.Save(image, params);
  const std::vector<std::uint8_t> expectedRaw = {0xC5, 0xC5, 0x41, 0, 0x07, 0xC5, 0x07, 0, 0, 0, 0, 0};
  EXPECT_EQ(raw[2], 0);
  EXPECT_EQ(std::vector<std::uint8_t>(raw.begin() + 128, raw.end()), expectedRaw);
}

TEST(PcxWriteBytes, PaletteImageEndsWithMarkerAndPalette) {
  TBitmap image(5, 3, pf24bit);
  image.Fill(RGBToColor(200, 96, 40));  // multiples of 8: the quantizer keeps them
  TIOParams params = ParamsFor(8, 1, 1);
  PcxRunner runner;
  const std::vector<std::uint8_t> bytes = runner.Save(image, params);

  ASSERT_GT(bytes.size(), 128u + 769u);
  EXPECT_EQ(bytes[3], 8);
  EXPECT_EQ(bytes[65], 1);
  EXPECT_EQ(GetLE16(&bytes[66]), 6);
  EXPECT_EQ(GetLE16(&bytes[68]), 1);
  const std::size_t tail = bytes.size() - 769;
  EXPECT_EQ(bytes[tail], 12);
  EXPECT_EQ(bytes[tail + 1], 200);  // entry 0, red first
  EXPECT_EQ(bytes[tail + 2], 96);
  EXPECT_EQ(bytes[tail + 3], 40);
  ASSERT_EQ(params.ColorMapCount, 256);
  EXPECT_EQ(params.ColorMap[0], (TRGB{40, 96, 200}));
}

TEST(PcxWriteBytes, TwoColourImageKeepsItsColoursDarkerFirst) {
  TBitmap image(17, 2, pf24bit);
  image.Fill(RGBToColor(250, 240, 10));
  image.FillRect(3, 0, 4, 1, RGBToColor(0, 0, 128));
  TIOParams params = ParamsFor(1, 1, 0);
  PcxRunner runner;
  const std::vector<std::uint8_t> bytes = runner.Save(image, params);

  EXPECT_EQ(bytes[3], 1);
  EXPECT_EQ(GetLE16(&bytes[66]), 4);  // 3 bytes for 17 pixels, rounded up to even
  EXPECT_EQ(GetLE16(&bytes[68]), 1);
  const std::vector<std::uint8_t> palette(bytes.begin() + 16, bytes.begin() + 22);
  EXPECT_EQ(palette, (std::vector<std::uint8_t>{0, 0, 128, 250, 240, 10}));
  // The dark pixel is bit 0; every other pixel bit 1, the padding 0.
  const std::vector<std::uint8_t> rows = {0xEF, 0xFF, 0x80, 0, 0xFF, 0xFF, 0x80, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 128, bytes.end()), rows);
}

// --- Writing and reading back ---

struct RoundTripCase {
  const char* name;
  int bitsPerSample;
  int samplesPerPixel;
  int compression;
};

class PcxRoundTrip : public testing::TestWithParam<RoundTripCase> {};

// Sixteen colours, each alone in its cell of the quantizer and a multiple of 8 in every channel,
// so that every mode can keep them.
void PaintSixteenColours(TBitmap& image) {
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const int k = (x / 3 + y * 5) % 16;
      std::uint8_t* pixel = image.ScanLine(y) + 3 * x;
      pixel[0] = static_cast<std::uint8_t>(16 * k);
      pixel[1] = static_cast<std::uint8_t>(248 - 16 * k);
      pixel[2] = static_cast<std::uint8_t>(k % 2 ? 200 : 40);
    }
  }
}

TEST_P(PcxRoundTrip, KeepsThePixels) {
  const RoundTripCase& c = GetParam();
  TBitmap image(37, 11, pf24bit);  // odd width: padding in every mode
  if (c.bitsPerSample == 8 && c.samplesPerPixel == 3) {
    FillRandom(image, 5);
  } else {
    PaintSixteenColours(image);
  }
  TIOParams params = ParamsFor(c.bitsPerSample, c.samplesPerPixel, c.compression);
  PcxRunner runner;
  const std::vector<std::uint8_t> bytes = runner.Save(image, params);
  ASSERT_FALSE(runner.aborting);

  TBitmap loaded;
  TIOParams read;
  runner.Load(bytes, loaded, read);
  ASSERT_FALSE(runner.aborting);
  ASSERT_EQ(loaded.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelBytesTopDown(loaded), PixelBytesTopDown(image));
  EXPECT_EQ(read.Width, 37);
  EXPECT_EQ(read.Height, 11);
  EXPECT_EQ(read.DpiX, 300);
  EXPECT_EQ(read.DpiY, 150);
  EXPECT_EQ(read.PcxCompression, c.compression);
  EXPECT_EQ(read.BitsPerSample * read.SamplesPerPixel, c.bitsPerSample * c.samplesPerPixel);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PcxRoundTrip,
    testing::Values(RoundTripCase{"TrueColourRle", 8, 3, 1}, RoundTripCase{"TrueColourRaw", 8, 3, 0},
                    RoundTripCase{"Palette256Rle", 8, 1, 1}, RoundTripCase{"Palette256Raw", 8, 1, 0},
                    RoundTripCase{"SixteenRle", 4, 1, 1}, RoundTripCase{"SixteenRaw", 4, 1, 0}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(PcxWriteChoices, OneBitImagesRoundTripBitForBit) {
  TBitmap image(45, 9, pf1bit);
  FillRandom(image, 9);
  for (int compression : {0, 1}) {
    TIOParams params = ParamsFor(1, 1, compression);
    PcxRunner runner;
    TBitmap loaded;
    TIOParams read;
    runner.Load(runner.Save(image, params), loaded, read);
    ASSERT_EQ(loaded.PixelFormat(), pf1bit);
    ASSERT_EQ(loaded.Width(), 45);
    int differing = 0;
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 45; ++x) differing += BitAt(loaded, x, y) != BitAt(image, x, y);
    }
    EXPECT_EQ(differing, 0) << compression;
    // The three bits past the width are not pixels and come back clear.
    EXPECT_EQ(loaded.ScanLine(0)[5] & 0x07, 0);
    EXPECT_EQ(read.ColorMapCount, 2);
  }
}

TEST(PcxWriteChoices, ConversionsLeaveTheCallersBitmapAlone) {
  TBitmap colour(20, 6, pf24bit);
  FillRandom(colour, 3);
  const std::vector<std::uint8_t> before = PixelBytesTopDown(colour);
  TIOParams twoColours = ParamsFor(1, 1, 1);
  PcxRunner runner;
  runner.Save(colour, twoColours);  // dithered
  EXPECT_EQ(colour.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelBytesTopDown(colour), before);

  TBitmap mono(20, 6, pf1bit);
  FillRandom(mono, 4);
  const std::vector<std::uint8_t> monoBefore = PixelBytesTopDown(mono);
  TIOParams trueColour = ParamsFor(8, 3, 1);
  TBitmap loaded;
  TIOParams read;
  runner.Load(runner.Save(mono, trueColour), loaded, read);
  EXPECT_EQ(mono.PixelFormat(), pf1bit);
  EXPECT_EQ(PixelBytesTopDown(mono), monoBefore);
  EXPECT_EQ(loaded.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(loaded, 7, 2), BitAt(mono, 7, 2) ? (TRGB{255, 255, 255}) : (TRGB{0, 0, 0}));
}

TEST(PcxWriteChoices, UnnamedDepthsAreWrittenAsTrueColour) {
  TBitmap image(4, 4, pf24bit);
  FillRandom(image, 8);
  for (const auto& [bits, samples] : {std::pair{16, 1}, std::pair{8, 4}, std::pair{5, 3}}) {
    TIOParams params = ParamsFor(bits, samples, 1);
    PcxRunner runner;
    const std::vector<std::uint8_t> bytes = runner.Save(image, params);
    EXPECT_EQ(bytes[3], 8);
    EXPECT_EQ(bytes[65], 3);
  }
}

TEST(PcxWriteChoices, RefusesImagesTheHeaderCannotDescribe) {
  TBitmap wide(65535, 1, pf24bit);  // 65535 bytes per line would round up to 65536
  TIOParams params = ParamsFor(8, 3, 1);
  PcxRunner runner;
  EXPECT_TRUE(runner.Save(wide, params).empty());
  EXPECT_TRUE(runner.aborting);

  PcxRunner mono;
  TIOParams twoColours = ParamsFor(1, 1, 1);
  TBitmap wideMono(65535, 1, pf1bit);
  const std::vector<std::uint8_t> bytes = mono.Save(wideMono, twoColours);
  EXPECT_FALSE(mono.aborting);
  ASSERT_EQ(bytes.size(), 128u + 2 * 131u);  // 8192 zero bytes: 130 runs of 63 and one of 2
  EXPECT_EQ(GetLE16(&bytes[8]), 65534);
  EXPECT_EQ(GetLE16(&bytes[66]), 8192);
}

TEST(PcxWriteChoices, AbortBetweenRowsLeavesOutTheTrailingPalette) {
  TBitmap image(8, 4, pf24bit);
  image.Fill(clWhite);
  TIOParams params = ParamsFor(8, 1, 0);
  PcxRunner runner;
  runner.abortAtRow = 50;
  const std::vector<std::uint8_t> bytes = runner.Save(image, params);
  EXPECT_TRUE(runner.aborting);
  EXPECT_EQ(bytes.size(), 128u + 2 * 8u);  // rows 0 and 1 only
  EXPECT_EQ(runner.reports, (std::vector<int>{0, 25, 50}));
}

// --- Reading ---

TEST(PcxRead, RunsCarryAcrossPlaneLinesAndRows) {
  PcxFile file(8, 3, 3, 2, 4, true);
  file.data = {1,    2,    3,    0xC5, 9,  // red 1 2 3 9, and the run goes on: green 9 9 9 9
               4,    5,    6,    0xC3, 7,  // blue 4 5 6 7, and into the next row: red 7 7 ...
               8,    0,                    // ... 8 0
               0xC4, 0x20,                 // green
               0x30, 0x31, 0x32, 0};
  PcxRunner runner;
  TBitmap image;
  TIOParams params;
  runner.Load(file.Bytes(), image, params);
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(PixelAt(image, 0, 0), (TRGB{4, 9, 1}));
  EXPECT_EQ(PixelAt(image, 2, 0), (TRGB{6, 9, 3}));
  EXPECT_EQ(PixelAt(image, 0, 1), (TRGB{0x30, 0x20, 7}));
  EXPECT_EQ(PixelAt(image, 2, 1), (TRGB{0x32, 0x20, 8}));
}

TEST(PcxRead, SixteenColourLayouts) {
  // Four planes of one bit: pixel x's index has bit p from plane p.
  PcxFile ega(1, 4, 4, 1, 2, false);
  for (int i = 0; i < 16; ++i)
    ega.HeaderColour(i, static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(15 - i));
  ega.data = {0x80, 0, 0x40, 0, 0x20, 0, 0xF0, 0};  // indices 9, 10, 12, 8
  PcxRunner runner;
  TBitmap image;
  TIOParams params;
  runner.Load(ega.Bytes(), image, params);
  EXPECT_EQ(PixelAt(image, 0, 0), (TRGB{6, 0, 9}));
  EXPECT_EQ(PixelAt(image, 1, 0), (TRGB{5, 0, 10}));
  EXPECT_EQ(PixelAt(image, 2, 0), (TRGB{3, 0, 12}));
  EXPECT_EQ(PixelAt(image, 3, 0), (TRGB{7, 0, 8}));
  EXPECT_EQ(params.BitsPerSample, 4);
  EXPECT_EQ(params.SamplesPerPixel, 1);
  EXPECT_EQ(params.ColorMapCount, 16);

  // One plane of four bits, high nibble first; and of two bits, four pixels a byte.
  PcxFile nibbles(4, 1, 3, 1, 2, false);
  nibbles.HeaderColour(0xA, 1, 2, 3);
  nibbles.HeaderColour(0x5, 4, 5, 6);
  nibbles.data = {0xA5, 0x50};
  runner.Load(nibbles.Bytes(), image, params);
  EXPECT_EQ(PixelAt(image, 0, 0), (TRGB{3, 2, 1}));
  EXPECT_EQ(PixelAt(image, 1, 0), (TRGB{6, 5, 4}));
  EXPECT_EQ(PixelAt(image, 2, 0), (TRGB{6, 5, 4}));

  PcxFile pairs(2, 1, 4, 1, 2, false);
  pairs.HeaderColour(3, 30, 31, 32);
  pairs.data = {0x0C, 0};  // indices 0 0 3 0
  runner.Load(pairs.Bytes(), image, params);
  EXPECT_EQ(PixelAt(image, 2, 0), (TRGB{32, 31, 30}));
  EXPECT_EQ(PixelAt(image, 3, 0), (TRGB{0, 0, 0}));
  EXPECT_EQ(params.ColorMapCount, 4);
  EXPECT_FALSE(runner.aborting);
}

TEST(PcxRead, ZeroResolutionInOneDirectionGivesTheDefaultForBoth) {
  PcxFile file(8, 3, 1, 1, 2, false);
  PutLE16(&file.header[12], 300);
  PutLE16(&file.header[14], 0);
  file.data.assign(6, 0);
  PcxRunner runner;
  TBitmap image;
  TIOParams params;
  runner.Load(file.Bytes(), image, params, true);
  EXPECT_EQ(params.DpiX, DefaultResolution().dpiX);
  EXPECT_EQ(params.DpiY, DefaultResolution().dpiY);
  EXPECT_TRUE(image.Empty());  // parameters only
}

TEST(PcxRead, TrailingPaletteIsTakenFromTheEndOfTheGivenBytes) {
  PcxFile file(8, 1, 2, 1, 2, true);
  file.data = {0xC2, 1};
  std::vector<std::uint8_t> bytes = file.Bytes();
  bytes.push_back(12);
  std::vector<std::uint8_t> palette(768, 0);
  palette[3] = 11;
  palette[4] = 22;
  palette[5] = 33;
  bytes.insert(bytes.end(), palette.begin(), palette.end());
  const std::size_t pcxBytes = bytes.size();
  bytes.insert(bytes.end(), 1000, 0xEE);  // what follows in the stream is not ours

  PcxRunner runner;
  TBitmap image;
  TIOParams params;
  runner.Load(bytes, image, params, false, static_cast<std::int64_t>(pcxBytes));
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(PixelAt(image, 1, 0), (TRGB{33, 22, 11}));
  EXPECT_EQ(params.ColorMap[1], (TRGB{33, 22, 11}));
}

TEST(PcxRead, ShortLinesAndLongLines) {
  // Bytes per line 2 for a width of 4: the two missing bytes of each line read as zero.
  PcxFile shortLines(8, 3, 4, 1, 2, false);
  shortLines.data = {1, 2, 3, 4, 5, 6};
  PcxRunner runner;
  TBitmap image;
  TIOParams params;
  runner.Load(shortLines.Bytes(), image, params);
  EXPECT_FALSE(runner.aborting);
  EXPECT_EQ(PixelAt(image, 1, 0), (TRGB{6, 4, 2}));
  EXPECT_EQ(PixelAt(image, 3, 0), (TRGB{0, 0, 0}));

  // Bytes per line 6 for a width of 1: the extra bytes are skipped.
  PcxFile longLines(8, 3, 1, 2, 6, false);
  for (int i = 0; i < 36; ++i) longLines.data.push_back(static_cast<std::uint8_t>(i));
  runner.Load(longLines.Bytes(), image, params);
  EXPECT_EQ(PixelAt(image, 0, 1), (TRGB{30, 24, 18}));
}

TEST(PcxRead, TruncatedDataKeepsTheRowsBeforeAndSaysWhereItEnds) {
  TBitmap source(37, 23, pf24bit);
  FillRandom(source, 2);
  source.FillRect(0, 5, 36, 9, RGBToColor(200, 100, 50));
  for (const int compression : {1, 0}) {
    SCOPED_TRACE(compression);
    TIOParams params = ParamsFor(8, 3, compression);
    PcxRunner writer;
    const std::vector<std::uint8_t> bytes = writer.Save(source, params);
    for (std::size_t n = 128; n < bytes.size(); n += 7) {
      PcxRunner runner;
      TBitmap loaded;
      TIOParams ignored;
      runner.Load(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)),
                  loaded, ignored);
      ASSERT_TRUE(runner.aborting) << n;
      ASSERT_EQ(loaded.Height(), 23);
      int whole = 0;
      while (whole < 23 && std::memcmp(loaded.ScanLine(whole), source.ScanLine(whole), 3 * 37) == 0) ++whole;
      ASSERT_LT(whole, 23) << n;
      if (compression == 0) {
        // Each row holds 3 lines of 38 bytes; the last byte of each line is padding.
        EXPECT_EQ(whole, static_cast<int>((n - 128 + 1) / (3 * 38))) << n;
      }
      EXPECT_EQ(runner.damage,
                whole == 0 ? "" : "the data ends after row " + std::to_string(whole) + " of 23")
          << n;
      // Below the row the data ended in, nothing was decoded.
      for (int y = whole + 1; y < 23; ++y) {
        const std::uint8_t* row = loaded.ScanLine(y);
        EXPECT_EQ(std::count(row, row + 3 * 37, 0), 3 * 37) << n << " row " << y;
      }
    }
    PcxRunner whole;
    TBitmap loaded;
    TIOParams ignored;
    whole.Load(bytes, loaded, ignored);
    EXPECT_FALSE(whole.aborting);
    EXPECT_EQ(whole.damage, "");
  }
}

TEST(PcxRead, ACutTwoHundredFiftySixColourFileSaysItsColourTableIsGone) {
  TBitmap source(80, 60, pf24bit);
  FillRandom(source, 5);
  TIOParams params = ParamsFor(8, 1, 1);
  PcxRunner runner;
  std::vector<std::uint8_t> bytes = runner.Save(source, params);
  const std::size_t dataEnd = bytes.size() - 769;
  // Cut half way through the rows: the last 768 bytes are row data, not the table.
  bytes.resize(128 + (dataEnd - 128) / 2);
  TBitmap loaded;
  TIOParams read;
  runner.Load(bytes, loaded, read);
  EXPECT_TRUE(runner.aborting);
  EXPECT_NE(runner.damage.find("the data ends after row "), std::string::npos);
  EXPECT_NE(runner.damage.find(" of 60, and the colour table with it, so the colours are wrong"),
            std::string::npos);
}

struct HostileCase {
  const char* name;
  void (*spoil)(PcxFile& file);
};

class PcxHostileHeader : public testing::TestWithParam<HostileCase> {};

TEST_P(PcxHostileHeader, SetsAbortingAndLeavesTheBitmap) {
  PcxFile file(8, 3, 4, 4, 4, true);
  file.data.assign(200, 0xC1);
  PcxRunner runner;
  TBitmap image(2, 2, pf1bit);
  TIOParams params;
  runner.Load(file.Bytes(), image, params, true);
  ASSERT_FALSE(runner.aborting) << "the unspoilt file must load";

  GetParam().spoil(file);
  runner.Load(file.Bytes(), image, params);
  EXPECT_TRUE(runner.aborting);
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(image.PixelFormat(), pf1bit);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, PcxHostileHeader,
    testing::Values(HostileCase{"Manufacturer", [](PcxFile& f) { f.header[0] = 11; }},
                    HostileCase{"NineBits", [](PcxFile& f) { f.header[3] = 9; }},
                    HostileCase{"Encoding2", [](PcxFile& f) { f.header[2] = 2; }},
                    HostileCase{"TwoPlanes", [](PcxFile& f) { f.header[65] = 2; }},
                    HostileCase{"FivePlanes", [](PcxFile& f) { f.header[65] = 5; }},
                    HostileCase{"ThreePlanesOfOneBit", [](PcxFile& f) { f.header[3] = 1; }},
                    HostileCase{"BytesPerLineZero", [](PcxFile& f) { PutLE16(&f.header[66], 0); }},
                    HostileCase{"XMaxBelowXMin", [](PcxFile& f) { PutLE16(&f.header[4], 10); }},
                    HostileCase{"YMaxBelowYMin", [](PcxFile& f) { PutLE16(&f.header[6], 10); }},
                    HostileCase{"WidthOverTheLimit", [](PcxFile& f) { PutLE16(&f.header[8], 0xFFFF); }},
                    HostileCase{"PixelsOverTheLimit",
                                [](PcxFile& f) {
                                  PutLE16(&f.header[8], 0xFFFE);
                                  PutLE16(&f.header[10], 0xFFFE);
                                }},
                    HostileCase{"PaletteImageWithoutRoomForPalette",
                                [](PcxFile& f) {
                                  f.header[65] = 1;
                                  f.data.resize(700);
                                }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(PcxRead, TooFewBytesForAHeader) {
  PcxFile file(8, 3, 1, 1, 2, false);
  file.data.assign(6, 1);
  for (std::int64_t count : {std::int64_t{0}, std::int64_t{127}, std::int64_t{-1}}) {
    PcxRunner runner;
    TBitmap image;
    TIOParams params;
    TMemoryStream stream(file.Bytes());
    PcxReadStream(stream, image, params, false, runner.Context(), count);
    EXPECT_TRUE(runner.aborting) << count;
    EXPECT_TRUE(image.Empty());
  }
}

TEST(PcxRead, ReportsProgressAndStopsWhenAborted) {
  TBitmap source(3, 4, pf24bit);
  TIOParams params = ParamsFor(8, 3, 1);
  PcxRunner runner;
  const std::vector<std::uint8_t> bytes = runner.Save(source, params);
  runner.reports.clear();
  runner.abortAtRow = 25;
  TBitmap image;
  runner.Load(bytes, image, params);
  EXPECT_EQ(runner.reports, (std::vector<int>{0, 25}));
  EXPECT_EQ(image.Height(), 4);  // the rows not read stay black
}

// --- The run-length code against a plain model of it ---

// The line code written the simplest way: each run of 1 to 63 equal bytes in turn; a lone byte
// below 0xC0 stands for itself, anything else takes a count byte before the value.
void PlainEncodeLine(const std::uint8_t* line, std::size_t count, std::vector<std::uint8_t>& out) {
  for (std::size_t i = 0; i < count;) {
    std::size_t run = 1;
    while (i + run < count && run < 63 && line[i + run] == line[i]) ++run;
    if (run > 1 || line[i] >= 0xC0) out.push_back(static_cast<std::uint8_t>(0xC0 | run));
    out.push_back(line[i]);
    i += run;
  }
}

// Runs of 1 to 300 equal bytes, many of them at or above the count flag.
std::vector<std::uint8_t> RunsOfBytes(std::size_t count, std::mt19937& random) {
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < count) {
    const unsigned shape = random() % 8;
    const std::size_t run = shape < 4 ? 1 : shape < 6 ? 2 + random() % 5 : 1 + random() % 300;
    const auto value = static_cast<std::uint8_t>(random() % 3 == 0 ? 0xC0 + random() % 64 : random());
    bytes.insert(bytes.end(), std::min(run, count - bytes.size()), value);
  }
  return bytes;
}

// Bytes that each differ from the one before and stay below 0xC0: a long stretch of bytes that
// stand for themselves.
std::vector<std::uint8_t> LoneBytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 % 0xC0);
  return bytes;
}

TEST(PcxRunLengthModel, WriterMatchesThePlainCodeForEveryWidthUpTo70AndLongLines) {
  std::mt19937 random(5);
  // Every width to 70, then lines that cross several 64-byte words, end on and just past them, and
  // hold runs and stretches of lone bytes longer than a word.
  std::vector<int> widths;
  for (int width = 1; width <= 70; ++width) widths.push_back(width);
  for (const int width : {127, 128, 129, 191, 192, 193, 640, 3001}) widths.push_back(width);
  for (const int width : widths) {
    const int height = 1 + width % 4;
    // True colour: each channel runs on its own, across rows. Two colours: the packed bits.
    TBitmap colour(width, height, pf24bit);
    TBitmap bits(width, height, pf1bit);
    std::vector<std::uint8_t> channels[3];
    for (auto& c : channels) c = RunsOfBytes(static_cast<std::size_t>(width * height), random);
    if (width > 70) channels[1] = LoneBytes(static_cast<std::size_t>(width * height));
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 3; ++c) colour.ScanLine(y)[3 * x + c] = channels[c][y * width + x];
      }
      const std::vector<std::uint8_t> packed = RunsOfBytes((width + 7) / 8, random);
      std::copy(packed.begin(), packed.end(), bits.ScanLine(y));
      if (width % 8 != 0) bits.ScanLine(y)[width / 8] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
    }
    for (const bool oneBit : {false, true}) {
      TBitmap& image = oneBit ? bits : colour;
      TIOParams params = oneBit ? ParamsFor(1, 1, 1) : ParamsFor(8, 3, 1);
      PcxRunner runner;
      const std::vector<std::uint8_t> bytes = runner.Save(image, params);
      ASSERT_FALSE(runner.aborting);
      const std::size_t lineBytes = oneBit ? (width + 7) / 8 : width;
      std::vector<std::uint8_t> expected;
      std::vector<std::uint8_t> line(lineBytes);
      for (int y = 0; y < height; ++y) {
        for (int plane = 0; plane < (oneBit ? 1 : 3); ++plane) {
          const std::uint8_t* row = image.ScanLine(y);
          for (std::size_t i = 0; i < lineBytes; ++i) line[i] = oneBit ? row[i] : row[3 * i + 2 - plane];
          PlainEncodeLine(line.data(), lineBytes, expected);
          if (lineBytes % 2 != 0) expected.push_back(0);
        }
      }
      ASSERT_EQ(std::vector<std::uint8_t>(bytes.begin() + 128, bytes.end()), expected)
          << "width " << width << (oneBit ? ", one bit" : ", true colour");
    }
  }
}

// Gives a file's bytes in pieces of random size, as a pipe or a slow device may: a reader must
// not count on one read giving all it asks for. Reads of a header's size are given whole, as the
// reader needs its header in one read.
class TTrickleStream final : public TStream {
 public:
  TTrickleStream(std::vector<std::uint8_t> bytes, unsigned seed) : bytes_(std::move(bytes)), random_(seed) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t piece = count <= 128 ? count : 1 + random_() % 3000;
    const std::size_t n = std::min({count, piece, bytes_.size() - position_});
    std::copy_n(bytes_.data() + position_, n, static_cast<std::uint8_t*>(buffer));
    position_ += n;
    return n;
  }
  void Write(const void*, std::size_t) override {}
  std::int64_t Position() const override { return static_cast<std::int64_t>(position_); }
  void Seek(std::int64_t position) override {
    position_ = static_cast<std::size_t>(std::clamp<std::int64_t>(position, 0, Size()));
  }
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::mt19937 random_;
  std::size_t position_ = 0;
};

TEST(PcxRunLengthModel, ReaderMatchesAPlainDecoderOnRandomCodes) {
  std::mt19937 random(6);
  for (int trial = 0; trial < 400; ++trial) {
    // Mostly small pictures; a few whose code spans several of the reader's input chunks, wide
    // or tall, so that many rows are decoded at once.
    const bool large = trial % 25 == 0;
    const bool wide = trial % 50 == 0;
    const int width =
        large ? (wide ? 3000 : 100) + static_cast<int>(random() % 500) : 1 + static_cast<int>(random() % 70);
    const int height = large ? (wide ? 20 : 150) : 1 + static_cast<int>(random() % 5);
    const bool oneBit = trial % 4 == 1;
    const int planes = oneBit ? 1 : 3;
    const int needed = oneBit ? (width + 7) / 8 : width;
    // Lines as long as the width needs, or a little shorter or longer.
    const int bytesPerLine = std::max(1, needed + static_cast<int>(random() % 5) - 2);
    const std::size_t total = static_cast<std::size_t>(bytesPerLine) * planes * height;

    // Literals and runs (of 0 to 63), until about the bytes the picture needs or a bit fewer.
    PcxFile file(oneBit ? 1 : 8, planes, width, height, bytesPerLine, true);
    const std::size_t target = total * (70 + random() % 50) / 100;
    for (std::size_t decoded = 0; decoded < target;) {
      if (random() % 3 == 0) {
        const std::uint8_t code = 0xC0 + random() % 64;
        file.data.push_back(code);
        file.data.push_back(static_cast<std::uint8_t>(random()));
        decoded += code & 0x3F;
      } else {
        file.data.push_back(static_cast<std::uint8_t>(random() % 0xC0));
        ++decoded;
      }
    }
    if (random() % 4 == 0 && !file.data.empty()) file.data.pop_back();  // may leave a count without its value

    // The plain decoder: one byte at a time; runs carry across lines, missing bytes are zero.
    std::vector<std::uint8_t> flat;
    for (std::size_t i = 0; i < file.data.size() && flat.size() < total;) {
      const std::uint8_t code = file.data[i++];
      if (code < 0xC0) {
        flat.push_back(code);
      } else if (i < file.data.size()) {
        flat.insert(flat.end(), std::min<std::size_t>(code & 0x3F, total - flat.size()), file.data[i++]);
      }
    }
    // A row's pixels are in once its last plane holds the bytes the width needs.
    const std::size_t rowPixelsEnd =
        static_cast<std::size_t>((planes - 1) * bytesPerLine + std::min(needed, bytesPerLine));
    const std::size_t rowBytes = static_cast<std::size_t>(planes * bytesPerLine);
    const bool complete = flat.size() >= total - rowBytes + rowPixelsEnd;
    const bool someRow = flat.size() >= rowPixelsEnd;
    flat.resize(total, 0);
    const auto lineByte = [&](int y, int plane, int at) -> std::uint8_t {
      return at < bytesPerLine ? flat[static_cast<std::size_t>((y * planes + plane) * bytesPerLine + at)] : 0;
    };

    PcxRunner runner;
    TBitmap loaded;
    TIOParams read;
    runner.Load(file.Bytes(), loaded, read);
    ASSERT_EQ(runner.aborting, !complete) << "trial " << trial;
    ASSERT_EQ(runner.damage.empty(), complete || !someRow) << "trial " << trial;
    ASSERT_EQ(loaded.Width(), width);
    // A stream that is not in memory, read in pieces of any size, gives the same picture.
    TTrickleStream trickle(file.Bytes(), static_cast<unsigned>(trial));
    TBitmap trickled;
    bool trickleAborting = false;
    TProgressContext trickleContext;
    trickleContext.aborting = &trickleAborting;
    PcxReadStream(trickle, trickled, read, false, trickleContext, trickle.Size());
    ASSERT_EQ(trickleAborting, !complete) << "trial " << trial;
    ASSERT_EQ(PixelBytesTopDown(trickled), PixelBytesTopDown(loaded)) << "trial " << trial;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (oneBit) {
          ASSERT_EQ(BitAt(loaded, x, y), ((lineByte(y, 0, x / 8) >> (7 - x % 8)) & 1) != 0)
              << "trial " << trial << " at " << x << ", " << y;
        } else {
          ASSERT_EQ(PixelAt(loaded, x, y), (TRGB{lineByte(y, 2, x), lineByte(y, 1, x), lineByte(y, 0, x)}))
              << "trial " << trial << " at " << x << ", " << y;
        }
      }
    }
  }
}

// --- Hidden text through a save and a reload ---

void HiddenTextSurvives(int compression) {
  test::HeadlessView view;
  view.Bitmap()->Allocate(64, 40, pf24bit);
  FillRandom(*view.Bitmap(), 21);
  TImageProc writer;
  writer.SetAttachedView(&view);
  const std::string message = "Meet at the old mill, half past nine.\x01\xFF";
  ASSERT_EQ(writer.WriteHiddenText(message), static_cast<std::int32_t>(message.size()));

  TIOParams params = ParamsFor(8, 3, compression);
  PcxRunner runner;
  const std::vector<std::uint8_t> bytes = runner.Save(*view.Bitmap(), params);
  test::HeadlessView reloaded;
  TIOParams read;
  runner.Load(bytes, *reloaded.Bitmap(), read);
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(PixelBytesTopDown(*reloaded.Bitmap()), PixelBytesTopDown(*view.Bitmap()));
  TImageProc reader;
  reader.SetAttachedView(&reloaded);
  std::string text;
  reader.ReadHiddenText(text);
  EXPECT_EQ(text, message);
}

TEST(PcxHiddenText, SurvivesRunLengthTrueColour) {
  HiddenTextSurvives(1);
}
TEST(PcxHiddenText, SurvivesRawTrueColour) {
  HiddenTextSurvives(0);
}

}  // namespace
}  // namespace veilora
