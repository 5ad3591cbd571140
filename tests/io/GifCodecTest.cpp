#include "io/GifCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "image/Display.h"
#include "io/ColorQuantizer.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "support/HeadlessView.h"
#include "support/LzwHooks.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

namespace veilora {
namespace {

using test::BitAt;
using test::FillRandom;
using test::PixelAt;
using test::PixelBytesTopDown;
using test::PixelsOtherThan;
using test::Rgb;

using Bytes = std::vector<std::uint8_t>;
using Palette = std::vector<TRGB>;

constexpr TRGB kBlack = Rgb(0, 0, 0);
constexpr TRGB kWhite = Rgb(255, 255, 255);
constexpr TRGB kRed = Rgb(255, 0, 0);
constexpr TRGB kGreen = Rgb(0, 200, 0);
constexpr TRGB kBlue = Rgb(0, 0, 255);

// The rows of an image in the order an interlaced GIF stores them: every 8th row from 0, every 8th
// from 4, every 4th from 2, every 2nd from 1.
std::vector<int> InterlacedRowOrder(int height) {
  std::vector<int> rows;
  constexpr std::pair<int, int> kPasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
  for (const auto& [first, step] : kPasses) {
    for (int y = first; y < height; y += step) rows.push_back(y);
  }
  return rows;
}

// LZW image data made of literal codes only, with a clear code often enough that the code width
// never grows: any GIF decoder reads it, and it can hold what our encoder never writes (indices
// beyond the colour table, for one).
Bytes LiteralImageData(const Bytes& indices, int codeSize) {
  const unsigned clear = 1u << codeSize;
  const int width = codeSize + 1;
  const std::size_t perClear = clear - 2;  // the table stays below the next width
  Bytes packed;
  std::uint32_t bits = 0;
  int held = 0;
  const auto put = [&](unsigned code) {
    bits |= code << held;
    held += width;
    for (; held >= 8; held -= 8, bits >>= 8) packed.push_back(static_cast<std::uint8_t>(bits));
  };
  for (std::size_t i = 0; i < indices.size(); ++i) {
    if (i % perClear == 0) put(clear);
    put(indices[i]);
  }
  put(clear + 1);
  if (held > 0) packed.push_back(static_cast<std::uint8_t>(bits));
  Bytes out{static_cast<std::uint8_t>(codeSize)};
  for (std::size_t at = 0; at < packed.size(); at += 255) {
    const std::size_t count = std::min<std::size_t>(255, packed.size() - at);
    out.push_back(static_cast<std::uint8_t>(count));
    out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
               packed.begin() + static_cast<std::ptrdiff_t>(at + count));
  }
  out.push_back(0);
  return out;
}

int TableBits(std::size_t entries) {
  int bits = 1;
  while ((std::size_t{1} << bits) < entries) ++bits;
  return bits;
}

// A GIF file put together block by block.
struct GifFile {
  Bytes bytes;

  explicit GifFile(int screenWidth, int screenHeight, const Palette& global = {}, int background = 0,
                   const char* version = "GIF89a", int aspect = 0) {
    bytes.assign(version, version + 6);
    PutWord(screenWidth);
    PutWord(screenHeight);
    bytes.push_back(global.empty() ? 0 : static_cast<std::uint8_t>(0xF0 | (TableBits(global.size()) - 1)));
    bytes.push_back(static_cast<std::uint8_t>(background));
    bytes.push_back(static_cast<std::uint8_t>(aspect));
    PutTable(global);
  }
  GifFile& Control(int flags, int delay, int transparentIndex) {
    Append({0x21, 0xF9, 4, static_cast<std::uint8_t>(flags), static_cast<std::uint8_t>(delay),
            static_cast<std::uint8_t>(delay >> 8), static_cast<std::uint8_t>(transparentIndex), 0});
    return *this;
  }
  // A frame; `indices` row by row from the top. The code size fits the table and the indices.
  GifFile& Frame(int left, int top, int width, int height, const Bytes& indices, const Palette& local = {},
                 bool interlaced = false) {
    bytes.push_back(0x2C);
    PutWord(left);
    PutWord(top);
    PutWord(width);
    PutWord(height);
    std::uint8_t flags = interlaced ? 0x40 : 0;
    if (!local.empty()) flags |= static_cast<std::uint8_t>(0x80 | (TableBits(local.size()) - 1));
    bytes.push_back(flags);
    PutTable(local);
    Bytes stored;
    const std::vector<int> rows = interlaced ? InterlacedRowOrder(height) : [height] {
      std::vector<int> all(static_cast<std::size_t>(height));
      for (int y = 0; y < height; ++y) all[static_cast<std::size_t>(y)] = y;
      return all;
    }();
    for (const int y : rows) {
      const auto row = indices.begin() + static_cast<std::ptrdiff_t>(y) * width;
      stored.insert(stored.end(), row, row + width);
    }
    const int largest = indices.empty() ? 0 : *std::max_element(indices.begin(), indices.end());
    const int codeSize = std::max(
        {2, TableBits(static_cast<std::size_t>(largest) + 1), local.empty() ? 0 : TableBits(local.size())});
    Append(LiteralImageData(stored, codeSize));
    return *this;
  }
  GifFile& Append(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  GifFile& Trailer() {
    bytes.push_back(0x3B);
    return *this;
  }

 private:
  void PutWord(int value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  void PutTable(const Palette& table) {
    if (table.empty()) return;
    for (std::size_t i = 0; i < (std::size_t{1} << TableBits(table.size())); ++i) {
      const TRGB colour = i < table.size() ? table[i] : TRGB{};
      bytes.insert(bytes.end(), {colour.r, colour.g, colour.b});
    }
  }
};

const Bytes kFourPixels = {0, 1, 1, 0, 1, 0, 0, 1};  // a 4 x 2 frame

// Reads and writes on memory, recording the progress reports; the handler can abort at a value.
struct GifRunner {
  TBitmap bitmap;
  TIOParams params;
  bool aborting = false;
  std::int32_t frames = -1;
  std::vector<int> reports;
  int abortAt = -1;
  std::string damage;
  TObject sender;

  TProgressContext Context() {
    TProgressContext context;
    context.onProgress = [this](TObject&, int percentage) {
      reports.push_back(percentage);
      if (percentage == abortAt) aborting = true;
    };
    context.sender = &sender;
    context.aborting = &aborting;
    context.damage = &damage;
    return context;
  }
  void Read(const Bytes& file, bool paramsOnly = false) {
    TMemoryStream stream(file);
    GifReadStream(stream, bitmap, params, paramsOnly, Context(), &frames);
  }
  Bytes Write(TBitmap& image) {
    TMemoryStream stream;
    GifWriteStream(stream, image, params, Context());
    return stream.Data();
  }
};

class GifTest : public testing::Test {
 protected:
  test::TScopedLzwHooks hooks_{test::TScopedLzwHooks::kProgramCoders};
};

// Walks a written file: one letter per block (E extension with its label, I image, ; trailer), and
// checks that every sub-block chain is whole and nothing follows the trailer.
std::string BlockSequence(const Bytes& file) {
  std::size_t at = 13;
  if (file[10] & 0x80) at += 3u << ((file[10] & 7) + 1);
  std::string blocks;
  const auto subBlocks = [&] {
    while (at < file.size() && file[at] != 0) at += file[at] + 1u;
    ++at;
  };
  while (at < file.size()) {
    const std::uint8_t introducer = file[at++];
    if (introducer == 0x3B) {
      blocks += ';';
      if (at != file.size()) blocks += "+garbage";
      break;
    }
    if (introducer == 0x21) {
      blocks += file[at] == 0xF9 ? "G" : "E";
      ++at;
      subBlocks();
    } else if (introducer == 0x2C) {
      blocks += 'I';
      const std::uint8_t flags = file[at + 8];
      at += 9;
      if (flags & 0x80) at += 3u << ((flags & 7) + 1);
      ++at;  // minimum code size
      subBlocks();
    } else {
      blocks += '?';
    }
  }
  return blocks;
}

// A 24-bit picture of exactly `colours` colours, each a multiple of 8 in every channel and alone in
// its quantizer cell, so that a palette of that many entries keeps every pixel.
void PaintExactColours(TBitmap& image, int width, int height, int colours) {
  image.Allocate(width, height, pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int k = (x * 7 + y * 13) % colours;
      test::SetPixel(image, x, y, Rgb(8 * (k % 8), 8 * ((k / 8) % 8), 8 * (k / 64) + 40));
    }
  }
}

// --- Writing: exact bytes and layout ---

TEST_F(GifTest, WritesASmallBilevelFileByteForByte) {
  TBitmap image(2, 1, pf1bit);
  image.ScanLine(0)[0] = 0x80;  // white, black
  GifRunner runner;
  runner.params.BitsPerSample = 1;
  runner.params.GifDelayTime = 0x10203;  // only the low 16 bits are stored
  runner.params.GifHasTransparent = true;
  runner.params.GifTransparentColor = kWhite;
  runner.params.GifBackground = Rgb(20, 20, 20);  // nearest to black
  runner.params.GifXPos = 5;
  runner.params.GifYPos = 7;
  const Bytes file = runner.Write(image);

  const Bytes expected = {
      'G',  'I',  'F',  '8',  '9',  'a',  7, 0, 8, 0, 0x80, 0, 0,  // header: screen to the frame's corner
      0,    0,    0,    255,  255,  255,                           // black, white
      0x21, 0xF9, 4,    0x09, 0x03, 0x02, 1, 0,                    // disposal 2, transparent, delay, index 1
      0x2C, 5,    0,    7,    0,    2,    0, 1, 0, 0,              // descriptor
      2,    2,    0x0C, 0x0A, 0,  // code size 2: clear, 1, 0, end in 3-bit codes
      0x3B};
  EXPECT_EQ(file, expected);
  EXPECT_FALSE(runner.aborting);
  EXPECT_EQ(runner.reports, (std::vector<int>{0, 30, 70, 100}));
}

TEST_F(GifTest, TheScreenHoldsTheWholeFrameAtItsPlace) {
  struct Case {
    int x, y;       // GifXPos, GifYPos
    int left, top;  // as written
  };
  const TBitmap image(300, 2, pf24bit);
  for (const Case& c : {Case{0, 0, 0, 0}, Case{40, 9, 40, 9}, Case{-3, -70000, 0, 0},
                        Case{65300, 0x10005, 65235, 65533}, Case{1 << 30, 1, 65235, 1}}) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
    TBitmap copy;
    CopyBitmap(image, copy);
    GifRunner runner;
    runner.params.GifXPos = c.x;
    runner.params.GifYPos = c.y;
    const Bytes file = runner.Write(copy);
    const std::size_t descriptor = 13 + 768 + 8;
    ASSERT_EQ(file.at(descriptor), 0x2C);
    EXPECT_EQ(GetLE16(&file[descriptor + 1]), c.left);
    EXPECT_EQ(GetLE16(&file[descriptor + 3]), c.top);
    EXPECT_EQ(GetLE16(&file[6]), c.left + 300);
    EXPECT_EQ(GetLE16(&file[8]), c.top + 2);
  }
}

TEST_F(GifTest, SixteenColoursGiveAFourBitTableAndCodeSize) {
  TBitmap image;
  test::Paint(image, 5,
              {Rgb(200, 96, 40), Rgb(8, 16, 248), kBlack, Rgb(200, 96, 40), kBlack,  //
               kBlack, kBlack, Rgb(8, 16, 248), Rgb(8, 16, 248), kBlack});
  GifRunner runner;
  runner.params.BitsPerSample = 4;
  runner.params.GifBackground = Rgb(8, 16, 248);
  runner.params.GifTransparentColor = Rgb(200, 96, 40);
  runner.params.GifInterlaced = true;
  const Bytes file = runner.Write(image);

  ASSERT_GT(file.size(), 80u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
  EXPECT_EQ(GetLE16(&file[6]), 5);
  EXPECT_EQ(GetLE16(&file[8]), 2);
  EXPECT_EQ(file[10], 0xB3);
  EXPECT_EQ(file[12], 0);
  // The three colours come first in the table; the other 13 entries are zero.
  Palette table;
  for (int i = 0; i < 16; ++i) table.push_back(Rgb(file[13 + 3 * i], file[14 + 3 * i], file[15 + 3 * i]));
  Palette made(table.begin(), table.begin() + 3);
  std::sort(made.begin(), made.end(), [](TRGB a, TRGB b) { return a.r + a.g + a.b < b.r + b.g + b.b; });
  EXPECT_EQ(made, (Palette{kBlack, Rgb(8, 16, 248), Rgb(200, 96, 40)}));
  EXPECT_TRUE(std::all_of(table.begin() + 3, table.end(), [](TRGB c) { return c == kBlack; }));
  EXPECT_EQ(table[file[11]], Rgb(8, 16, 248));  // background index

  const std::size_t control = 13 + 48;
  EXPECT_EQ(Bytes(file.begin() + control, file.begin() + control + 4), (Bytes{0x21, 0xF9, 4, 0x08}));
  EXPECT_EQ(table[file[control + 6]], Rgb(200, 96, 40));  // transparent index, flag clear
  EXPECT_EQ(file[control + 8], 0x2C);
  EXPECT_EQ(file[control + 8 + 9], 0x40);  // interlaced, no local table
  EXPECT_EQ(file[control + 8 + 10], 4);    // minimum code size
  EXPECT_EQ(BlockSequence(file), "GI;");
}

TEST_F(GifTest, DepthsOutsideOneToEightAreClamped) {
  TBitmap image;
  PaintExactColours(image, 6, 4, 5);
  struct Case {
    int bitsPerSample;
    int flags;
    int codeSize;
    std::size_t tableBytes;
  };
  for (const auto& [bitsPerSample, flags, codeSize, tableBytes] :
       {Case{16, 0xF7, 8, 768}, Case{9, 0xF7, 8, 768}, Case{8, 0xF7, 8, 768}, Case{0, 0x80, 2, 6},
        Case{-3, 0x80, 2, 6}}) {
    SCOPED_TRACE(bitsPerSample);
    GifRunner runner;
    runner.params.BitsPerSample = bitsPerSample;
    const Bytes file = runner.Write(image);
    ASSERT_GT(file.size(), 13u + tableBytes + 19u);
    EXPECT_EQ(file[10], flags);
    EXPECT_EQ(file[13 + tableBytes + 18], codeSize);
    EXPECT_EQ(BlockSequence(file), "GI;");
  }
}

TEST_F(GifTest, TheSignatureIsTheVersionOrGif89a) {
  TBitmap image(3, 3, pf24bit);
  const std::pair<const char*, const char*> cases[] = {{"GIF87a", "GIF87a"},   {"GIF89a", "GIF89a"},
                                                       {"GIF87aXY", "GIF87a"}, {"GIF8", "GIF89a"},
                                                       {"", "GIF89a"},         {"JFIF89", "GIF89a"}};
  for (const auto& [version, written] : cases) {
    GifRunner runner;
    runner.params.GifVersion = version;
    const Bytes file = runner.Write(image);
    ASSERT_GE(file.size(), 6u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), written) << "GifVersion \"" << version << '"';
  }
}

// --- Writing and reading back ---

TEST_F(GifTest, PalettePicturesComeBackExactlyPlainAndInterlaced) {
  for (const bool interlaced : {false, true}) {
    constexpr std::pair<int, int> kSizes[] = {{1, 1}, {7, 2}, {5, 3}, {3, 5}, {9, 7}, {4, 9}, {131, 67}};
    for (const auto& [width, height] : kSizes) {
      SCOPED_TRACE(testing::Message() << width << " x " << height << (interlaced ? " interlaced" : ""));
      TBitmap image;
      PaintExactColours(image, width, height, std::min(200, width * height));
      GifRunner writer;
      writer.params.GifInterlaced = interlaced;
      writer.params.GifXPos = 3;
      const Bytes file = writer.Write(image);

      GifRunner reader;
      reader.Read(file);
      ASSERT_FALSE(reader.aborting);
      EXPECT_EQ(reader.frames, 1);
      EXPECT_EQ(reader.bitmap.PixelFormat(), pf24bit);
      EXPECT_EQ(PixelBytesTopDown(reader.bitmap), PixelBytesTopDown(image));
      EXPECT_EQ(reader.params.GifInterlaced, interlaced);
      EXPECT_EQ(reader.params.GifXPos, 3);
      EXPECT_EQ(reader.params.BitsPerSample, 8);
      EXPECT_EQ(reader.params.ColorMapCount, 256);
      EXPECT_EQ(reader.params.Width, width);
      EXPECT_EQ(reader.params.GifScreenHeight, height);
    }
  }
}

TEST_F(GifTest, TwoColoursAtOneBitBecomeBlackForTheDarkerAndWhiteForTheLighter) {
  TBitmap image(11, 3, pf24bit);
  image.Fill(RGBToColor(250, 240, 10));  // light
  image.FillRect(2, 1, 7, 3, RGBToColor(0, 0, 128));
  GifRunner writer;
  writer.params.BitsPerSample = 1;
  const Bytes file = writer.Write(image);

  GifRunner reader;
  reader.Read(file);
  ASSERT_FALSE(reader.aborting);
  ASSERT_EQ(reader.bitmap.PixelFormat(), pf1bit);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 11; ++x)
      EXPECT_EQ(BitAt(reader.bitmap, x, y), !(y >= 1 && x >= 2 && x < 7)) << x << "," << y;
  }
}

TEST_F(GifTest, ManyColoursAtOneBitAreDithered) {
  TBitmap image;
  PaintExactColours(image, 21, 10, 150);
  const Bytes source = PixelBytesTopDown(image);
  TBitmap dithered;
  CopyBitmap(image, dithered);
  DitherTo1Bit(dithered, TProgressContext{});
  GifRunner writer;
  writer.params.BitsPerSample = 1;
  const Bytes file = writer.Write(image);
  EXPECT_EQ(image.PixelFormat(), pf24bit);  // the caller's image stays as it was
  EXPECT_EQ(PixelBytesTopDown(image), source);

  GifRunner reader;
  reader.Read(file);
  ASSERT_FALSE(reader.aborting);
  EXPECT_EQ(reader.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(PixelBytesTopDown(reader.bitmap), PixelBytesTopDown(dithered));
}

// --- Reading hand-made files ---

struct TwoColourCase {
  const char* name;
  Palette table;
  bool bilevel;
};

class GifTwoColourTable : public GifTest, public testing::WithParamInterface<TwoColourCase> {};

TEST_P(GifTwoColourTable, OnlyBlackThenWhiteLoadsAsOneBit) {
  const TwoColourCase& c = GetParam();
  GifRunner runner;
  runner.Read(GifFile(4, 2, c.table).Frame(0, 0, 4, 2, kFourPixels).Trailer().bytes);
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(runner.bitmap.PixelFormat(), c.bilevel ? pf1bit : pf24bit);
  EXPECT_EQ(runner.params.ColorMapCount, static_cast<int>(c.table.size()));
  EXPECT_EQ(runner.params.BitsPerSample, TableBits(c.table.size()));
  for (int i = 0; i < 8; ++i) {
    const int x = i % 4;
    const int y = i / 4;
    if (c.bilevel) {
      EXPECT_EQ(BitAt(runner.bitmap, x, y), kFourPixels[i] == 1);
    } else {
      EXPECT_EQ(PixelAt(runner.bitmap, x, y), c.table[kFourPixels[i]]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, GifTwoColourTable,
                         testing::Values(TwoColourCase{"BlackWhite", {kBlack, kWhite}, true},
                                         TwoColourCase{"WhiteBlack", {kWhite, kBlack}, false},
                                         TwoColourCase{"RedBlue", {kRed, kBlue}, false},
                                         TwoColourCase{"NearlyWhite", {kBlack, Rgb(255, 255, 254)}, false},
                                         TwoColourCase{
                                             "BlackWhiteOfFour", {kBlack, kWhite, kBlack, kBlack}, false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(GifTest, ALocalTableGivesPixelsColourMapDepthAndTransparentColour) {
  const Palette global = {Rgb(10, 10, 10), Rgb(20, 20, 20), Rgb(30, 30, 30), Rgb(40, 40, 40)};
  const Palette local = {kRed, kGreen};
  GifRunner runner;
  runner.Read(
      GifFile(4, 2, global, 2).Control(0x09, 5, 1).Frame(0, 0, 4, 2, kFourPixels, local).Trailer().bytes);
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(runner.bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelAt(runner.bitmap, 0, 0), kRed);
  EXPECT_EQ(PixelAt(runner.bitmap, 1, 0), kGreen);
  EXPECT_EQ(runner.params.ColorMap, local);
  EXPECT_EQ(runner.params.BitsPerSample, 1);
  EXPECT_TRUE(runner.params.GifHasTransparent);
  EXPECT_EQ(runner.params.GifTransparentColor, kGreen);
  EXPECT_EQ(runner.params.GifBackground, Rgb(30, 30, 30));  // the screen's, from the global table
}

// Frame 0 has a control block, frame 1 none, frame 2 its own.
GifFile ThreeFrames() {
  const Palette global = {kBlack, kRed, kGreen, kBlue};
  GifFile file(6, 5, global, 3);
  file.Control(0x09, 11, 2).Frame(0, 0, 4, 2, kFourPixels);
  file.Frame(1, 2, 3, 3, {3, 3, 3, 2, 2, 2, 1, 1, 1}, {kWhite, kRed, kBlue, kGreen});
  file.Control(0x08, 33, 3).Frame(2, 0, 2, 1, {2, 3});
  return file.Trailer();
}

TEST_F(GifTest, AControlBlockBelongsToTheFrameAfterIt) {
  const Bytes file = ThreeFrames().bytes;
  struct Expected {
    bool transparent;
    int delay;
    TRGB transparentColour;
  };
  const Expected expected[] = {{true, 11, kGreen}, {false, 0, kWhite}, {false, 33, kBlue}};
  for (int index = 0; index < 3; ++index) {
    SCOPED_TRACE(index);
    GifRunner runner;
    runner.params.GifImageIndex = index;
    runner.Read(file);
    ASSERT_FALSE(runner.aborting);
    EXPECT_EQ(runner.frames, 3);
    EXPECT_EQ(runner.params.GifHasTransparent, expected[index].transparent);
    EXPECT_EQ(runner.params.GifDelayTime, expected[index].delay);
    EXPECT_EQ(runner.params.GifTransparentColor, expected[index].transparentColour);
  }
}

TEST_F(GifTest, EachFrameLoadsAsStoredWithItsPlace) {
  const Bytes file = ThreeFrames().bytes;
  GifRunner runner;
  runner.params.GifImageIndex = 1;
  runner.Read(file);
  ASSERT_FALSE(runner.aborting);
  ASSERT_EQ(runner.bitmap.Width(), 3);
  ASSERT_EQ(runner.bitmap.Height(), 3);
  EXPECT_EQ(PixelAt(runner.bitmap, 0, 0), kGreen);
  EXPECT_EQ(PixelAt(runner.bitmap, 2, 1), kBlue);
  EXPECT_EQ(PixelAt(runner.bitmap, 1, 2), kRed);
  EXPECT_EQ(runner.params.GifXPos, 1);
  EXPECT_EQ(runner.params.GifYPos, 2);
  EXPECT_EQ(runner.params.GifScreenWidth, 6);
  EXPECT_EQ(runner.params.GifBackground, kBlue);

  runner.params.GifImageIndex = 2;
  runner.Read(file);
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(PixelAt(runner.bitmap, 0, 0), kGreen);
  EXPECT_EQ(PixelAt(runner.bitmap, 1, 0), kBlue);
  EXPECT_EQ(runner.params.Width, 2);
  EXPECT_EQ(runner.params.GifXPos, 2);
  EXPECT_EQ(runner.params.ColorMapCount, 4);
}

TEST_F(GifTest, AFrameBeyondTheLastLeavesImageAndFrameParametersAlone) {
  GifFile file(4, 2, {kBlack, kRed});
  file.Frame(0, 0, 4, 2, kFourPixels).Frame(0, 0, 4, 2, kFourPixels).Trailer();
  GifRunner runner;
  runner.bitmap.Allocate(3, 3, pf24bit);
  FillRandom(runner.bitmap, 9);
  const Bytes before = PixelBytesTopDown(runner.bitmap);
  runner.params.GifImageIndex = 3;
  runner.params.Width = 77;
  runner.params.GifDelayTime = 5;
  runner.Read(file.bytes);
  EXPECT_FALSE(runner.aborting);
  EXPECT_EQ(runner.frames, 2);
  EXPECT_EQ(PixelBytesTopDown(runner.bitmap), before);
  EXPECT_EQ(runner.params.Width, 77);
  EXPECT_EQ(runner.params.GifDelayTime, 5);
  EXPECT_EQ(runner.params.GifScreenWidth, 4);  // the screen was read
}

TEST_F(GifTest, ParametersOnlyLeaveTheImageAlone) {
  GifFile file(40, 30, {kBlack, kRed, kGreen, kBlue}, 1, "GIF87a", 49);
  file.Frame(0, 0, 4, 2, kFourPixels)
      .Control(0x01, 70, 1)
      .Frame(7, 8, 4, 2, kFourPixels, {kWhite, kGreen}, true);
  file.Trailer();
  GifRunner runner;
  runner.bitmap.Allocate(2, 2, pf24bit);
  runner.params.GifImageIndex = 1;
  runner.Read(file.bytes, true);
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(runner.bitmap.Width(), 2);
  EXPECT_EQ(PixelsOtherThan(runner.bitmap, kBlack), 0);
  EXPECT_EQ(runner.frames, 2);
  const TIOParams& p = runner.params;
  EXPECT_EQ(p.GifVersion, "GIF87a");
  EXPECT_EQ(p.GifScreenWidth, 40);
  EXPECT_EQ(p.GifScreenHeight, 30);
  EXPECT_EQ(p.GifAspectRatio, 49);
  EXPECT_EQ(p.GifBackground, kRed);
  EXPECT_EQ(p.Width, 4);
  EXPECT_EQ(p.Height, 2);
  EXPECT_EQ(p.GifXPos, 7);
  EXPECT_EQ(p.GifYPos, 8);
  EXPECT_TRUE(p.GifInterlaced);
  EXPECT_TRUE(p.GifHasTransparent);
  EXPECT_EQ(p.GifDelayTime, 70);
  EXPECT_EQ(p.GifTransparentColor, kGreen);
  EXPECT_EQ(p.ColorMap, (Palette{kWhite, kGreen}));
  EXPECT_EQ(p.BitsPerSample, 1);
  EXPECT_EQ(p.SamplesPerPixel, 1);
  EXPECT_EQ(p.DpiX, DefaultResolution().dpiX);
  EXPECT_EQ(p.DpiY, DefaultResolution().dpiY);
}

TEST_F(GifTest, IndicesBeyondTheTableShowBlack) {
  GifRunner colour;
  colour.Read(GifFile(4, 1, {kRed, kGreen}).Frame(0, 0, 4, 1, {0, 1, 2, 3}).Trailer().bytes);
  ASSERT_FALSE(colour.aborting);
  EXPECT_EQ(PixelAt(colour.bitmap, 0, 0), kRed);
  EXPECT_EQ(PixelAt(colour.bitmap, 1, 0), kGreen);
  EXPECT_EQ(PixelAt(colour.bitmap, 2, 0), kBlack);
  EXPECT_EQ(PixelAt(colour.bitmap, 3, 0), kBlack);

  GifRunner bilevel;
  bilevel.Read(
      GifFile(4, 1, {kBlack, kWhite}).Control(1, 0, 3).Frame(0, 0, 4, 1, {3, 1, 2, 0}).Trailer().bytes);
  ASSERT_FALSE(bilevel.aborting);
  ASSERT_EQ(bilevel.bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(bilevel.bitmap.ScanLine(0)[0], 0x40);
  EXPECT_EQ(bilevel.params.GifTransparentColor, kBlack);
}

TEST_F(GifTest, AFrameWithoutAnyColourTableShowsGreyLevels) {
  GifRunner runner;
  runner.params.GifBackground = kRed;  // from an earlier file
  runner.Read(GifFile(4, 1).Frame(0, 0, 4, 1, {0, 7, 128, 255}).Trailer().bytes);
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(PixelAt(runner.bitmap, 0, 0), kBlack);
  EXPECT_EQ(PixelAt(runner.bitmap, 1, 0), Rgb(7, 7, 7));
  EXPECT_EQ(PixelAt(runner.bitmap, 2, 0), Rgb(128, 128, 128));
  EXPECT_EQ(PixelAt(runner.bitmap, 3, 0), kWhite);
  EXPECT_EQ(runner.params.BitsPerSample, 8);
  EXPECT_EQ(runner.params.ColorMapCount, 256);
  EXPECT_EQ(runner.params.GifBackground, kBlack);
}

TEST_F(GifTest, InterlacedFramesAndFramesBeyondTheScreenLoad) {
  Bytes indices;
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 5; ++x) indices.push_back(static_cast<std::uint8_t>(y % 4));
  }
  GifRunner runner;
  runner.Read(
      GifFile(3, 3, {kBlack, kRed, kGreen, kBlue}).Frame(2, 2, 5, 9, indices, {}, true).Trailer().bytes);
  ASSERT_FALSE(runner.aborting);
  EXPECT_TRUE(runner.params.GifInterlaced);
  const Palette table = {kBlack, kRed, kGreen, kBlue};
  for (int y = 0; y < 9; ++y) EXPECT_EQ(PixelAt(runner.bitmap, 4, y), table[y % 4]) << y;
}

TEST_F(GifTest, ExtensionsAndStrayBytesBetweenBlocksArePassedOver) {
  GifFile file(4, 2, {kBlack, kRed});
  file.Append({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0});
  file.Append({0x00, 0x17});
  file.Append({0x21, 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0});
  file.Frame(0, 0, 4, 2, kFourPixels).Trailer();
  file.Frame(0, 0, 4, 2, kFourPixels);  // after the trailer: not a frame
  GifRunner runner;
  runner.Read(file.bytes);
  ASSERT_FALSE(runner.aborting);
  EXPECT_EQ(runner.frames, 1);
  EXPECT_EQ(PixelAt(runner.bitmap, 1, 0), kRed);
}

Bytes Cut(Bytes file, std::size_t size) {
  file.resize(size);
  return file;
}

// Image data of code size 2 (3-bit codes: clear 4, end 5) from the codes given.
Bytes ThreeBitCodes(const std::vector<unsigned>& codes) {
  Bytes packed;
  std::uint32_t bits = 0;
  int held = 0;
  for (const unsigned code : codes) {
    bits |= code << held;
    for (held += 3; held >= 8; held -= 8, bits >>= 8) packed.push_back(static_cast<std::uint8_t>(bits));
  }
  if (held > 0) packed.push_back(static_cast<std::uint8_t>(bits));
  Bytes out{2, static_cast<std::uint8_t>(packed.size())};
  out.insert(out.end(), packed.begin(), packed.end());
  out.push_back(0);
  return out;
}

// `pairs` times clear, 1, 1: two red pixels each, and no table entry reaches a wider code.
std::vector<unsigned> RedPairs(int pairs) {
  std::vector<unsigned> codes;
  for (int i = 0; i < pairs; ++i) codes.insert(codes.end(), {4, 1, 1});
  return codes;
}

std::vector<unsigned> Then(std::vector<unsigned> codes, std::initializer_list<unsigned> more) {
  codes.insert(codes.end(), more);
  return codes;
}

struct ShortFrameCase {
  const char* name;
  Bytes data;
  bool interlaced;
  const char* damage;
  int goodPixels;  // how many pixels, in the order the data fill the frame, came
};

class GifShortFrame : public GifTest, public testing::WithParamInterface<ShortFrameCase> {};

// A 4 x 6 frame of red (index 1) whose data stop early or break: the pixels that came are kept,
// the rest show entry 0, and the damage is named. The file ends after the data.
TEST_P(GifShortFrame, KeepsThePixelsDecodedAndNamesTheDamage) {
  const ShortFrameCase& c = GetParam();
  GifFile file(4, 6, {kGreen, kRed});
  file.bytes.insert(file.bytes.end(),
                    {0x2C, 0, 0, 0, 0, 4, 0, 6, 0, static_cast<std::uint8_t>(c.interlaced ? 0x40 : 0)});
  file.Append(c.data);
  GifRunner runner;
  runner.bitmap.Allocate(2, 2, pf1bit);
  runner.Read(file.bytes);
  EXPECT_EQ(runner.aborting, c.damage[0] != '\0');
  EXPECT_EQ(runner.damage, c.damage);
  ASSERT_EQ(runner.bitmap.Width(), 4);
  ASSERT_EQ(runner.bitmap.Height(), 6);
  EXPECT_EQ(runner.bitmap.PixelFormat(), pf24bit);
  const std::vector<int> order = c.interlaced ? InterlacedRowOrder(6) : std::vector<int>{0, 1, 2, 3, 4, 5};
  for (int k = 0; k < 24; ++k) {
    const int x = k % 4;
    const int y = order[static_cast<std::size_t>(k / 4)];
    EXPECT_EQ(PixelAt(runner.bitmap, x, y), k < c.goodPixels ? kRed : kGreen) << x << ", " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, GifShortFrame,
    testing::Values(ShortFrameCase{"Whole", ThreeBitCodes(Then(RedPairs(12), {5})), false, "", 24},
                    ShortFrameCase{"NoEndCode", ThreeBitCodes(RedPairs(12)), false, "", 24},
                    ShortFrameCase{"BadCodeAfterTheLastPixel",
                                   ThreeBitCodes(Then(RedPairs(12), {4, 1, 7, 5})), false, "", 24},
                    ShortFrameCase{"EndsAfterThreeRows", ThreeBitCodes(Then(RedPairs(6), {5})), false,
                                   "the image data ends after row 3 of 6", 12},
                    // Five bytes hold 13 codes: four pairs and a clear.
                    ShortFrameCase{"SubBlockCut", Cut(ThreeBitCodes(RedPairs(12)), 2 + 5), false,
                                   "the image data ends after row 2 of 6", 8},
                    ShortFrameCase{"CutInsideTheFirstRow", Cut(ThreeBitCodes(RedPairs(12)), 2 + 1), false,
                                   "the image data ends inside the first of 6 rows", 1},
                    // After clear, 1 the next free code is 6: 7 is undefined.
                    ShortFrameCase{"UndefinedCode", ThreeBitCodes(Then(RedPairs(4), {4, 1, 7, 1, 5})), false,
                                   "the image data has a bad code after row 2 of 6", 9},
                    ShortFrameCase{"ClearThenEnd", ThreeBitCodes(Then(RedPairs(5), {4, 5})), false,
                                   "the image data has a bad code after row 2 of 6", 10},
                    ShortFrameCase{"InterlacedEnds", ThreeBitCodes(Then(RedPairs(8), {5})), true,
                                   "the interlaced image data ends after 4 of 6 rows", 16}),
    [](const auto& row) { return std::string(row.param.name); });

struct DamagedCase {
  const char* name;
  Bytes file;
};

class GifDamaged : public GifTest, public testing::WithParamInterface<DamagedCase> {};

TEST_P(GifDamaged, FailsAndLeavesTheImageAsItWas) {
  GifRunner runner;
  runner.bitmap.Allocate(5, 4, pf24bit);
  FillRandom(runner.bitmap, 3);
  const Bytes before = PixelBytesTopDown(runner.bitmap);
  runner.Read(GetParam().file);
  EXPECT_TRUE(runner.aborting);
  EXPECT_EQ(runner.bitmap.Width(), 5);
  EXPECT_EQ(runner.bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(PixelBytesTopDown(runner.bitmap), before);
  EXPECT_EQ(std::count(runner.reports.begin(), runner.reports.end(), 100), 0);
  EXPECT_EQ(runner.damage, "");  // nothing decoded, nothing kept
}

const Bytes kGood = GifFile(4, 2, {kBlack, kRed}).Frame(0, 0, 4, 2, kFourPixels).Trailer().bytes;

Bytes WithCodeSize(int codeSize) {
  Bytes file = kGood;
  file[13 + 6 + 10] = static_cast<std::uint8_t>(codeSize);
  return file;
}

Bytes HugeFrame() {
  GifFile file(4, 2, {kBlack, kRed});
  file.Frame(0, 0, 4, 2, kFourPixels).Trailer();
  PutLE16(&file.bytes[13 + 6 + 5], 0xFFFF);
  PutLE16(&file.bytes[13 + 6 + 7], 0xFFFF);
  return file.bytes;
}

// Sizes the bitmap limit allows, but far more pixels than a few bytes of LZW data can make.
Bytes LargeFrame(const Palette& table) {
  GifFile file(4, 2, table);
  file.Frame(0, 0, 4, 2, kFourPixels).Trailer();
  PutLE16(&file.bytes[13 + 3 * (std::size_t{1} << TableBits(table.size())) + 5], 4000);
  PutLE16(&file.bytes[13 + 3 * (std::size_t{1} << TableBits(table.size())) + 7], 4000);
  return file.bytes;
}

// A bilevel frame the bitmap limit allows (512 MiB), whose index buffer would take 4 GiB.
Bytes HugeBilevelFrame() {
  Bytes file = GifFile(4, 2, {kBlack, kWhite}).Frame(0, 0, 4, 2, kFourPixels).Trailer().bytes;
  PutLE16(&file[13 + 6 + 5], 0xFFFF);
  PutLE16(&file[13 + 6 + 7], 0xFFFF);
  return file;
}

Bytes EmptyFrame() {
  Bytes file = kGood;
  PutLE16(&file[13 + 6 + 5], 0);
  return file;
}

INSTANTIATE_TEST_SUITE_P(
    Files, GifDamaged,
    testing::Values(
        DamagedCase{"NotAGif",
                    [] {
                      Bytes file = kGood;
                      file[2] = 'X';
                      return file;
                    }()},
        DamagedCase{"ShortHeader", Cut(kGood, 10)}, DamagedCase{"HeaderOnly", Cut(kGood, 13)},
        DamagedCase{"TableOnly", Cut(kGood, 19)}, DamagedCase{"DescriptorCut", Cut(kGood, 24)},
        DamagedCase{"LocalTableCut",
                    Cut(GifFile(4, 2).Frame(0, 0, 4, 2, kFourPixels, {kRed, kBlue}).bytes, 27)},
        DamagedCase{"CodeSizeTooLarge", WithCodeSize(12)}, DamagedCase{"CodeSizeZero", WithCodeSize(0)},
        DamagedCase{"HugeFrameOverLittleData", HugeFrame()},
        DamagedCase{"LargeFrameOverLittleData", LargeFrame({kBlack, kRed})},
        DamagedCase{"LargeBilevelFrameOverLittleData", LargeFrame({kBlack, kWhite})},
        DamagedCase{"HugeBilevelFrame", HugeBilevelFrame()}, DamagedCase{"EmptyFrame", EmptyFrame()},
        DamagedCase{"NoImageData", Cut(kGood, 13 + 6 + 10 + 1)},
        DamagedCase{
            "EmptyImageData",
            GifFile(4, 2, {kBlack, kRed}).Append({0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0, 2, 0}).Trailer().bytes},
        DamagedCase{"EndCodeFirst", GifFile(4, 2, {kBlack, kRed})
                                        .Append({0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0})
                                        .Append(ThreeBitCodes({5}))
                                        .Trailer()
                                        .bytes}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Progress, abort and missing coders ---

TEST_F(GifTest, AbortAtThirtyOrSeventyLeavesTheImageAsItWas) {
  for (const int at : {30, 70}) {
    SCOPED_TRACE(at);
    GifRunner runner;
    runner.bitmap.Allocate(2, 2, pf24bit);
    runner.abortAt = at;
    runner.Read(kGood);
    EXPECT_TRUE(runner.aborting);
    EXPECT_EQ(runner.bitmap.Width(), 2);
    EXPECT_EQ(runner.reports.back(), at);
  }
  GifRunner whole;
  whole.Read(kGood);
  EXPECT_EQ(whole.reports, (std::vector<int>{0, 30, 70, 100}));
}

TEST_F(GifTest, AbortWhileWritingStopsBeforeTheHeaderOrAfterTheDescriptor) {
  TBitmap image;
  PaintExactColours(image, 6, 3, 9);
  GifRunner at30;
  at30.abortAt = 30;
  EXPECT_TRUE(at30.Write(image).empty());
  GifRunner at70;
  at70.abortAt = 70;
  EXPECT_EQ(at70.Write(image).size(), 13u + 768u + 8u + 10u);
  EXPECT_TRUE(at70.aborting);
}

TEST_F(GifTest, WithoutCodersReadingAndWritingFail) {
  const test::TScopedLzwHooks none(test::TScopedLzwHooks::kNone);
  GifRunner reader;
  reader.params.GifLzwDecompress = nullptr;
  reader.bitmap.Allocate(2, 2, pf24bit);
  reader.Read(kGood);
  EXPECT_TRUE(reader.aborting);
  EXPECT_EQ(reader.bitmap.Width(), 2);

  // The parameters alone need no decoder.
  GifRunner params;
  params.params.GifLzwDecompress = nullptr;
  params.Read(kGood, true);
  EXPECT_FALSE(params.aborting);
  EXPECT_EQ(params.params.Width, 4);

  TBitmap image(3, 2, pf24bit);
  GifRunner writer;
  writer.params.GifLzwCompress = nullptr;
  const Bytes file = writer.Write(image);
  EXPECT_TRUE(writer.aborting);
  EXPECT_EQ(file.size(), 13u + 768u + 8u + 10u);  // cut off after the descriptor
}

TEST_F(GifTest, TheRecordsOwnCodersComeBeforeTheGlobalOnes) {
  const test::TScopedLzwHooks none(test::TScopedLzwHooks::kNone);
  static int decodes;
  decodes = 0;
  GifRunner runner;
  runner.params.GifLzwDecompress = [](TStream& stream, std::int32_t height, std::int32_t width, bool,
                                      std::uint8_t* dest) -> std::int64_t {
    ++decodes;
    dest[0] = 1;
    stream.Seek(stream.Size() - 1);  // to the trailer
    return std::int64_t{width} * height;
  };
  runner.Read(kGood);
  EXPECT_FALSE(runner.aborting);
  EXPECT_EQ(decodes, 1);
  EXPECT_EQ(PixelAt(runner.bitmap, 0, 0), kRed);
  EXPECT_EQ(PixelAt(runner.bitmap, 1, 0), kBlack);
}

// --- Counting frames ---

TEST_F(GifTest, CountingFramesWalksTheWholeFileAndNeverFails) {
  test::TTempDir dir;
  const Bytes three = ThreeFrames().bytes;
  const auto count = [&](const Bytes& bytes) {
    const std::string name = dir.File("count.gif");
    test::WriteWholeFile(name, bytes);
    return GifImageCount(name);
  };
  EXPECT_EQ(count(three), 3);
  // The third descriptor starts 10 bytes before its 5 bytes of data, terminator and the trailer.
  const std::size_t third = three.size() - 1 - LiteralImageData({2, 3}, 2).size() - 10;
  ASSERT_EQ(three[third], 0x2C);
  EXPECT_EQ(count(Cut(three, third + 12)), 3);  // inside its data
  EXPECT_EQ(count(Cut(three, third + 5)), 2);   // inside its descriptor
  EXPECT_EQ(count(Cut(three, 13 + 12 + 4)), 0);
  Bytes notGif = three;
  notGif[0] = 'g';
  EXPECT_EQ(count(notGif), 0);
  EXPECT_EQ(count({}), 0);
  EXPECT_EQ(GifImageCount(dir.File("missing.gif")), 0);

  // The reader counts alike.
  for (const std::size_t size : {three.size(), third + 12, third + 5}) {
    GifRunner runner;
    runner.Read(Cut(three, size), true);
    EXPECT_EQ(runner.frames, count(Cut(three, size))) << size;
  }
}

// --- Through the image component ---

struct Document {
  Document() {
    io.SetAttachedView(&view);
    view.Bitmap()->Allocate(2, 2, pf24bit);
  }
  test::HeadlessView view;
  TImageIO io;
};

TEST_F(GifTest, TheComponentSavesLoadsAndShowsTheBackground) {
  test::TTempDir dir;
  Document doc;
  PaintExactColours(*doc.view.Bitmap(), 13, 7, 40);
  doc.io.Params.GifBackground = PixelAt(*doc.view.Bitmap(), 3, 3);
  doc.io.SaveToFile(dir.File("picture.GIF"));
  ASSERT_FALSE(doc.io.Aborting);

  Document other;
  other.io.LoadFromFile(dir.File("picture.GIF"));
  ASSERT_FALSE(other.io.Aborting);
  EXPECT_EQ(other.io.Params.FileType, ftGIF);
  EXPECT_EQ(PixelBytesTopDown(*other.view.Bitmap()), PixelBytesTopDown(*doc.view.Bitmap()));
  const TRGB background = PixelAt(*doc.view.Bitmap(), 3, 3);
  EXPECT_EQ(ColorToRGB(other.view.Background()), RGBToColor(background.r, background.g, background.b));

  TMemoryStream stream(test::ReadWholeFile(dir.File("picture.GIF")));
  Document third;
  third.io.LoadFromStream(stream);
  EXPECT_FALSE(third.io.Aborting);
  EXPECT_EQ(third.io.Params.FileType, ftGIF);
  EXPECT_EQ(third.view.Bitmap()->Width(), 13);
}

TEST_F(GifTest, TheComponentLoadsTheChosenFrameAndItsTransparentColourAsBackground) {
  test::TTempDir dir;
  test::WriteWholeFile(dir.File("frames.gif"), ThreeFrames().bytes);
  Document doc;
  doc.io.LoadFromFile(dir.File("frames.gif"));
  ASSERT_FALSE(doc.io.Aborting);
  EXPECT_EQ(doc.view.Bitmap()->Width(), 4);
  EXPECT_EQ(ColorToRGB(doc.view.Background()), RGBToColor(0, 200, 0));  // transparent: entry 2

  doc.io.Params.GifImageIndex = 1;
  doc.io.LoadFromFile(dir.File("frames.gif"));
  ASSERT_FALSE(doc.io.Aborting);
  EXPECT_EQ(doc.view.Bitmap()->Width(), 3);
  EXPECT_EQ(PixelAt(*doc.view.Bitmap(), 0, 0), kGreen);
  EXPECT_EQ(ColorToRGB(doc.view.Background()), RGBToColor(0, 0, 255));  // no transparency: screen's
}

}  // namespace
}  // namespace veilora
