// The CCITT fax coders: codes checked bit by bit against the T.4 / T.6 tables, round trips of every
// scheme, data made by libtiff (through tiffcp and Pillow) decoded by ours and ours decoded by
// libtiff, and hostile data.

#include "io/FaxCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/Pillow.h"

namespace veilora {
namespace {

using test::ReadWholeFile;
using test::RunPythonTool;
using test::TTempDir;
using test::WriteWholeFile;

// Packed rows, a set bit black.
struct TRows {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> bits;

  TRows() = default;
  TRows(std::int32_t w, std::int32_t h) : width(w), height(h), bits(RowBytes() * h) {}
  std::size_t RowBytes() const { return (static_cast<std::size_t>(width) + 7) / 8; }
  std::uint8_t* Row(std::int32_t y) { return bits.data() + y * RowBytes(); }
  const std::uint8_t* Row(std::int32_t y) const { return bits.data() + y * RowBytes(); }
  void Set(std::int32_t x, std::int32_t y, bool black = true) {
    const auto mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
    Row(y)[x >> 3] = static_cast<std::uint8_t>(black ? Row(y)[x >> 3] | mask : Row(y)[x >> 3] & ~mask);
  }
  void Span(std::int32_t from, std::int32_t to, std::int32_t y) {
    for (std::int32_t x = from; x < to; ++x) Set(x, y);
  }
};

TFaxOptions Options(TFaxScheme scheme, bool twoD = false, bool aligned = false, bool lsb = false) {
  TFaxOptions options;
  options.scheme = scheme;
  options.twoDimensional = twoD;
  options.alignedEol = aligned;
  options.lsbFirst = lsb;
  return options;
}

std::vector<std::uint8_t> Encode(const TRows& rows, const TFaxOptions& options) {
  TMemoryStream stream;
  TFaxEncoder encoder(stream, options, rows.width);
  for (std::int32_t y = 0; y < rows.height; ++y) encoder.EncodeRow(rows.Row(y));
  encoder.Finish();
  return stream.Data();
}

// Decodes into rows prefilled with 0xA5 (so that rows left alone show) and returns the count.
std::int32_t Decode(const std::vector<std::uint8_t>& data, const TFaxOptions& options, TRows& rows) {
  std::fill(rows.bits.begin(), rows.bits.end(), 0xA5);
  // An exactly sized copy, so that the sanitizer build catches any read past the end.
  const std::vector<std::uint8_t> exact(data);
  return FaxDecodeStrip(exact.data(), exact.size(), options, rows.width, rows.height, rows.bits.data());
}

// Bits written as text ("0011 0101"; spaces ignored), packed most significant first, zero-padded.
std::vector<std::uint8_t> FromBits(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  int count = 0;
  for (const char c : text) {
    if (c != '0' && c != '1') continue;
    if (count % 8 == 0) bytes.push_back(0);
    if (c == '1') bytes.back() |= static_cast<std::uint8_t>(0x80 >> (count % 8));
    ++count;
  }
  return bytes;
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

const std::string kEol = "000000000001";

std::vector<std::uint8_t> Reversed(std::vector<std::uint8_t> data) {
  for (std::uint8_t& byte : data) {
    std::uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit) out |= static_cast<std::uint8_t>(((byte >> bit) & 1) << (7 - bit));
    byte = out;
  }
  return data;
}

// ---------------------------------------------------------------------------------------------
// Codes written out by hand from the T.4 tables.

TEST(FaxGolden, ModifiedHuffmanRowsAreRunCodesPaddedToBytes) {
  TRows white(8, 1);
  EXPECT_EQ(Encode(white, Options(TFaxScheme::ModifiedHuffman)), FromBits("10011 000"));  // white 8

  TRows black(8, 1);
  black.Span(0, 8, 0);
  // white 0, black 8
  EXPECT_EQ(Encode(black, Options(TFaxScheme::ModifiedHuffman)), FromBits("00110101 000101 00"));

  TRows mixed(8, 2);
  mixed.Span(3, 5, 0);  // white 3, black 2, white 3
  mixed.Span(7, 8, 1);  // white 7, black 1
  EXPECT_EQ(Encode(mixed, Options(TFaxScheme::ModifiedHuffman)), FromBits("1000 11 1000 000000"
                                                                          "1111 010 0"));
}

TEST(FaxGolden, LongRunsUseMakeUpAndExtendedMakeUpCodes) {
  TRows rows(5300, 2);
  rows.Span(0, 5300, 1);
  // White 5300 = 2560 + 2560 + 128 + 52; black 5300 after a white run of 0.
  const std::string whiteRow = "000000011111 000000011111 10010 01010101";
  const std::string blackRow = "00110101 000000011111 000000011111 000011001000 000000100100";
  EXPECT_EQ(Encode(rows, Options(TFaxScheme::ModifiedHuffman)), FromBits(whiteRow + "000" + blackRow));

  TRows exact(2560 + 1792 + 5, 1);
  exact.Span(0, exact.width, 0);
  // Black 4357 = 2560 + 1792 + 5.
  EXPECT_EQ(Encode(exact, Options(TFaxScheme::ModifiedHuffman)),
            FromBits("00110101 000000011111 00000001000 0011 00000"));
}

TEST(FaxGolden, Group3OneDimensionalPutsAnEolBeforeEveryRowAndEndsWithRtc) {
  TRows rows(8, 2);
  rows.Span(3, 5, 1);
  EXPECT_EQ(Encode(rows, Options(TFaxScheme::Group3)),
            FromBits(kEol + "10011" + kEol + "1000 11 1000" + Repeat(kEol, 6)));
  // Byte-aligned: fill bits so that every end-of-line code ends on a byte boundary.
  EXPECT_EQ(Encode(rows, Options(TFaxScheme::Group3, false, true)),
            FromBits("0000" + kEol + "10011" + "0000000" + kEol + "1000111000" + "00" + kEol +
                     Repeat("0000" + kEol, 5)));
}

TEST(FaxGolden, Group3TwoDimensionalTagsRowsAndCodesEveryFourthRowOneDimensionally) {
  TRows rows(8, 5);
  for (int y = 0; y < 5; ++y) rows.Span(2, 5, y);
  const std::string oneD = "0111 10 1000";  // white 2, black 3, white 3
  const std::string sameAsAbove = "111";    // V0 three times
  EXPECT_EQ(Encode(rows, Options(TFaxScheme::Group3, true)),
            FromBits(kEol + "1" + oneD + Repeat(kEol + "0" + sameAsAbove, 3) + kEol + "1" + oneD +
                     Repeat(kEol + "1", 6)));
}

TEST(FaxGolden, Group4ModesAgainstTheRowAbove) {
  TRows rows(8, 4);
  rows.Span(2, 5, 0);  // horizontal: white 2, black 3; then V0 at the end of the row
  rows.Span(2, 5, 1);  // V0 three times
  rows.Span(1, 6, 2);  // VL1, VR1, V0
  // Row 3 all white: pass over the black span above, then V0.
  const std::string expected =
      "001 0111 10 1"
      "111"
      "010 011 1"
      "0001 1" +
      kEol + kEol;
  EXPECT_EQ(Encode(rows, Options(TFaxScheme::Group4)), FromBits(expected));

  TRows far(16, 2);
  far.Span(0, 3, 0);
  far.Span(12, 16, 1);  // pass over the span above, then horizontal white 9, black 4
  EXPECT_EQ(Encode(far, Options(TFaxScheme::Group4)), FromBits("001 00110101 10 1"
                                                               "0001 001 10100 011" +
                                                               kEol + kEol));

  TRows wide(16, 2);
  wide.Span(4, 8, 0);
  wide.Span(2, 11, 1);  // VL2 at 2 (b1 = 4), VR3 at 11 (b1 = 8), V0 at the end
  EXPECT_EQ(Encode(wide, Options(TFaxScheme::Group4)), FromBits("001 1011 011 1"
                                                                "000010 0000011 1" +
                                                                kEol + kEol));
}

TEST(FaxGolden, DecoderAcceptsWhatOtherWritersDo) {
  TRows rows(8, 2);
  const TFaxOptions mh = Options(TFaxScheme::ModifiedHuffman);
  // A row closed by a zero-length run of the next colour (white 8, black 0), in both schemes.
  EXPECT_EQ(Decode(FromBits("10011 0000110111 0"
                            "10011 000"),
                   mh, rows),
            2);
  EXPECT_EQ(rows.bits, std::vector<std::uint8_t>(2, 0));
  const TFaxOptions g3 = Options(TFaxScheme::Group3);
  EXPECT_EQ(Decode(FromBits(kEol + "10011 0000110111" + kEol + "10011" + kEol), g3, rows), 2);
  EXPECT_EQ(rows.bits, std::vector<std::uint8_t>(2, 0));
  // Extra leading end-of-lines, fill bits of any length, no end-of-line at all.
  EXPECT_EQ(Decode(FromBits(kEol + kEol + "000" + kEol + "1000 11 1000" + "0000000000000000000" + kEol +
                            "0111 10 1000"),
                   g3, rows),
            2);
  EXPECT_EQ(rows.bits, (std::vector<std::uint8_t>{0x18, 0x38}));
  EXPECT_EQ(Decode(FromBits("1000 11 1000"
                            "0111 10 1000"),
                   g3, rows),
            2);
  EXPECT_EQ(rows.bits, (std::vector<std::uint8_t>{0x18, 0x38}));
  // Two-dimensional Group 3 whose first row has no end-of-line.
  EXPECT_EQ(Decode(FromBits("1000 11 1000" + kEol +
                            "0"
                            "010 1 1"),
                   Options(TFaxScheme::Group3, true), rows),
            2);
  EXPECT_EQ(rows.bits, (std::vector<std::uint8_t>{0x18, 0x38}));
  // Six end-of-lines end the page even when more rows were asked for.
  EXPECT_EQ(Decode(FromBits(kEol + "10011" + Repeat(kEol, 6) + "10011"), g3, rows), 1);
}

// ---------------------------------------------------------------------------------------------
// Round trips.

// Random runs of both colours with lengths spread over a wide range, so that rows share edges
// with the rows above (vertical modes), pass over them and need horizontal mode.
TRows RandomRuns(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  TRows rows(width, height);
  std::mt19937 random(seed);
  for (std::int32_t y = 0; y < height; ++y) {
    if (y > 0 && random() % 3 == 0) {
      // The row above with its edges moved by up to four pixels.
      std::copy(rows.Row(y - 1), rows.Row(y - 1) + rows.RowBytes(), rows.Row(y));
      for (int i = 0; i < 6; ++i) {
        const std::int32_t x = static_cast<std::int32_t>(random() % width);
        const std::int32_t span = static_cast<std::int32_t>(random() % 5);
        for (std::int32_t k = x; k < std::min(width, x + span); ++k) rows.Set(k, y, random() & 1);
      }
      continue;
    }
    std::int32_t x = 0;
    bool black = random() & 1;
    while (x < width) {
      const int scale = static_cast<int>(random() % 4);
      const std::int32_t run = 1 + static_cast<std::int32_t>(random() % (scale == 3   ? 3000
                                                                         : scale == 2 ? 200
                                                                                      : 9));
      if (black) rows.Span(x, std::min(width, x + run), y);
      x += run;
      black = !black;
    }
  }
  return rows;
}

// Rows that meet the edge cases: all white, all black, single pixels at both ends, alternating
// pixels, a checkerboard and a diagonal.
TRows Structured(std::int32_t width) {
  TRows rows(width, 10);
  rows.Span(0, width, 1);
  rows.Set(0, 2);
  rows.Set(width - 1, 3);
  for (std::int32_t x = 0; x < width; x += 2) rows.Set(x, 4);
  for (std::int32_t x = 1; x < width; x += 2) rows.Set(x, 5);
  for (std::int32_t x = 0; x < width; x += 2) rows.Set(x, 6);
  rows.Span(0, width / 2, 7);
  rows.Span(width / 3, width, 8);
  for (std::int32_t y = 0; y < 10; ++y) rows.Set(std::min(width - 1, y * 3), 9 - y);
  return rows;
}

struct SchemeCase {
  const char* name;
  TFaxOptions options;
};

const SchemeCase kSchemes[] = {
    {"ModifiedHuffman", Options(TFaxScheme::ModifiedHuffman)},
    {"Group3OneD", Options(TFaxScheme::Group3)},
    {"Group3OneDAligned", Options(TFaxScheme::Group3, false, true)},
    {"Group3TwoD", Options(TFaxScheme::Group3, true)},
    {"Group3TwoDAligned", Options(TFaxScheme::Group3, true, true)},
    {"Group4", Options(TFaxScheme::Group4)},
};

class FaxRoundTrip : public testing::TestWithParam<SchemeCase> {};

TEST_P(FaxRoundTrip, EveryWidthAndPattern) {
  const TFaxOptions options = GetParam().options;
  TFaxOptions reversed = options;
  reversed.lsbFirst = true;
  for (const std::int32_t width : {1, 2, 7, 8, 9, 63, 64, 65, 1728, 2000, 2561, 2624, 5300}) {
    for (int pattern = 0; pattern < 3; ++pattern) {
      const TRows source = pattern == 0 ? Structured(width) : RandomRuns(width, 24, width * 3 + pattern);
      const std::vector<std::uint8_t> data = Encode(source, options);
      TRows decoded(source.width, source.height);
      ASSERT_EQ(Decode(data, options, decoded), source.height) << "width " << width << " pattern " << pattern;
      // Padding bits of the last byte of a row come back clear.
      TRows clean = source;
      if (width % 8 != 0) {
        for (std::int32_t y = 0; y < clean.height; ++y) {
          clean.Row(y)[clean.RowBytes() - 1] &= static_cast<std::uint8_t>(0xFF00 >> (width % 8));
        }
      }
      ASSERT_EQ(decoded.bits, clean.bits) << "width " << width << " pattern " << pattern;
      ASSERT_EQ(Decode(Reversed(data), reversed, decoded), source.height);
      ASSERT_EQ(decoded.bits, clean.bits) << "reversed, width " << width << " pattern " << pattern;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Schemes, FaxRoundTrip, testing::ValuesIn(kSchemes),
                         [](const testing::TestParamInfo<SchemeCase>& tested) { return tested.param.name; });

TEST(FaxEncoder, IgnoresPaddingBitsAndRowsAfterFinish) {
  TRows clean(5, 2);
  clean.Span(1, 3, 0);
  TRows dirty = clean;
  dirty.Row(0)[0] |= 0x07;
  dirty.Row(1)[0] |= 0x03;
  for (const SchemeCase& scheme : kSchemes) {
    EXPECT_EQ(Encode(dirty, scheme.options), Encode(clean, scheme.options)) << scheme.name;
  }
  TMemoryStream stream;
  TFaxEncoder encoder(stream, Options(TFaxScheme::Group4), 5);
  encoder.EncodeRow(clean.Row(0));
  encoder.Finish();
  const std::size_t size = stream.Data().size();
  encoder.EncodeRow(clean.Row(1));
  encoder.Finish();
  EXPECT_EQ(stream.Data().size(), size);
}

// ---------------------------------------------------------------------------------------------
// Hostile data: every case stops at the first bad row and reports the rows completed.

TEST(FaxHostile, BadRowsStopDecodingWithTheCompletedRows) {
  TRows rows(8, 3);
  const TFaxOptions mh = Options(TFaxScheme::ModifiedHuffman);
  const TFaxOptions g3 = Options(TFaxScheme::Group3);
  const TFaxOptions g4 = Options(TFaxScheme::Group4);
  // A white run of 9 in a row of 8, after one good row.
  EXPECT_EQ(Decode(FromBits("10011 000"
                            "10100"),
                   mh, rows),
            1);
  EXPECT_EQ(rows.Row(0)[0], 0);
  EXPECT_EQ(rows.Row(1)[0], 0xA5);
  // Runs that add up past the row: white 5, black 4.
  EXPECT_EQ(Decode(FromBits("1100 011"), mh, rows), 0);
  // Codes that do not exist: eight zeros then a one in a white run; seven zeros as a mode code.
  EXPECT_EQ(Decode(FromBits("000000001 0000000"), mh, rows), 0);
  EXPECT_EQ(Decode(FromBits("1"
                            "0000000 1111"),
                   g4, rows),
            1);
  EXPECT_EQ(Decode(FromBits("0000001111 1111"), g4, rows), 0);  // the uncompressed-mode extension
  // A row cut short by an end-of-line: white 4 then EOL in a row of 8.
  EXPECT_EQ(Decode(FromBits(kEol + "10011" + kEol + "1011" + kEol + "10011"), g3, rows), 1);
  // b1 + 3 past the end of the row (VR3 against the white row above); b1 - 3 before its start.
  EXPECT_EQ(Decode(FromBits("0000011"), g4, rows), 0);
  EXPECT_EQ(Decode(FromBits("001 000111 11 1"
                            "0000010"),
                   g4, rows),
            1);
  EXPECT_EQ(rows.Row(0)[0], 0x60);
  // VR1 to 3 then VL1 back onto a0 itself: no progress along the row.
  EXPECT_EQ(Decode(FromBits("001 0111 011 1"
                            "011 010"),
                   g4, rows),
            1);
  // Pass mode with no changing element below b2.
  EXPECT_EQ(Decode(FromBits("1"
                            "0001"),
                   g4, rows),
            1);
  // A two-dimensional Group 3 row without its end-of-line has no tag bit.
  EXPECT_EQ(Decode(FromBits(kEol + "1"
                                   "10011"
                                   "1"),
                   Options(TFaxScheme::Group3, true), rows),
            1);
}

TEST(FaxHostile, TruncatedDataKeepsTheRowsBeforeTheCut) {
  const TRows source = RandomRuns(300, 40, 99);
  for (const SchemeCase& scheme : kSchemes) {
    const std::vector<std::uint8_t> data = Encode(source, scheme.options);
    for (const std::size_t keep : {std::size_t{0}, std::size_t{1}, data.size() / 3, data.size() - 40}) {
      const std::vector<std::uint8_t> cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(keep));
      TRows decoded(source.width, source.height);
      const std::int32_t count = Decode(cut, scheme.options, decoded);
      ASSERT_LT(count, source.height) << scheme.name << " " << keep;
      if (keep > data.size() / 2) {
        EXPECT_GT(count, 0) << scheme.name;
      }
      const std::size_t done = static_cast<std::size_t>(count) * source.RowBytes();
      EXPECT_TRUE(std::equal(decoded.bits.begin(), decoded.bits.begin() + static_cast<std::ptrdiff_t>(done),
                             source.bits.begin()))
          << scheme.name;
      EXPECT_TRUE(std::all_of(decoded.bits.begin() + static_cast<std::ptrdiff_t>(done), decoded.bits.end(),
                              [](std::uint8_t b) { return b == 0xA5; }))
          << scheme.name;
    }
  }
}

TEST(FaxHostile, EndlessCodesAndZerosEndQuickly) {
  TRows rows(1728, 64);
  // A megabyte of end-of-lines, with and without tag bits, and a megabyte of zeros.
  std::vector<std::uint8_t> eols(3 << 18);
  for (std::size_t i = 0; i < eols.size(); i += 3) {
    eols[i] = 0x00;
    eols[i + 1] = 0x10;
    if (i + 2 < eols.size()) eols[i + 2] = 0x01;
  }
  for (const SchemeCase& scheme : kSchemes) {
    EXPECT_EQ(Decode(eols, scheme.options, rows), 0) << scheme.name;
    EXPECT_EQ(Decode(std::vector<std::uint8_t>(1 << 20), scheme.options, rows), 0) << scheme.name;
  }
  // Zero-length runs repeated without end (white 0, black 0, ...) never fill a row.
  EXPECT_EQ(Decode(FromBits(Repeat("00110101 0000110111", 4000)), Options(TFaxScheme::ModifiedHuffman), rows),
            0);
  // Horizontal codes of two zero-length runs make no progress until the data ends.
  EXPECT_EQ(Decode(FromBits(Repeat("001 00110101 0000110111", 4000)), Options(TFaxScheme::Group4), rows), 0);
}

TEST(FaxHostile, SizesOutsideTheLimitsDecodeNothing) {
  std::vector<std::uint8_t> dest(16, 0x5A);
  const std::vector<std::uint8_t> data = FromBits("10011 000");
  const TFaxOptions mh = Options(TFaxScheme::ModifiedHuffman);
  EXPECT_EQ(FaxDecodeStrip(data.data(), data.size(), mh, 0, 1, dest.data()), 0);
  EXPECT_EQ(FaxDecodeStrip(data.data(), data.size(), mh, -8, 1, dest.data()), 0);
  EXPECT_EQ(FaxDecodeStrip(data.data(), data.size(), mh, 8, 0, dest.data()), 0);
  EXPECT_EQ(FaxDecodeStrip(data.data(), data.size(), mh, 70000, 1, dest.data()), 0);
  EXPECT_EQ(FaxDecodeStrip(nullptr, 0, mh, 8, 1, dest.data()), 0);
  EXPECT_EQ(dest, std::vector<std::uint8_t>(16, 0x5A));
}

// ---------------------------------------------------------------------------------------------
// libtiff as the independent coder (tests/interop/fax_tool.py).

void WriteBits(const std::string& path, const TRows& rows) {
  std::vector<std::uint8_t> bytes(8);
  PutLE32(bytes.data(), static_cast<std::uint32_t>(rows.width));
  PutLE32(bytes.data() + 4, static_cast<std::uint32_t>(rows.height));
  bytes.insert(bytes.end(), rows.bits.begin(), rows.bits.end());
  WriteWholeFile(path, bytes);
}

// A picture with text-like strokes, long runs and noise, as a fax page has; at widths of 5300 and
// more the first rows hold a run of every length 1..2560 of both colours, so every code appears.
TRows Page(std::int32_t width, std::int32_t height) {
  TRows rows = RandomRuns(width, height, 7);
  for (std::int32_t y = 0; y < height; y += 9) rows.Span(width / 4, width / 4 + 3, y);
  if (width >= 5300) {
    std::int32_t y = 0;
    std::int32_t x = 0;
    auto put = [&](std::int32_t white, std::int32_t black) {
      if (x + white + black > width) {
        ++y;
        x = 0;
      }
      if (y >= height) return;
      std::fill(rows.Row(y) + x / 8, rows.Row(y) + rows.RowBytes(), 0);
      rows.Span(x + white, x + white + black, y);
      x += white + black;
    };
    for (std::int32_t run = 1; run < 64; ++run) put(run, 64 - run);
    for (std::int32_t run = 64; run <= 2560; run += 64) put(run + run / 64 % 64, run + 63 - run / 64 % 64);
    for (std::int32_t run = 64; run <= 2560; run += 64) put(run + 63 - run / 64 % 64, run + run / 64 % 64);
  }
  return rows;
}

struct LibtiffCase {
  const char* mode;
  std::int32_t width;
};

constexpr std::int32_t kLibtiffRows = 90;

class FaxFromLibtiff : public testing::TestWithParam<LibtiffCase> {};

TEST_P(FaxFromLibtiff, DecodesEveryStripLikeLibtiffAndEncodesItAlike) {
  const LibtiffCase& c = GetParam();
  TTempDir dir;
  const TRows source = Page(c.width, kLibtiffRows);
  WriteBits(dir.File("in.bits"), source);
  ASSERT_TRUE(RunPythonTool("fax_tool.py", {"make", dir.File("in.bits"), dir.File("fax.tif"), c.mode, "16"}));
  ASSERT_TRUE(RunPythonTool("fax_tool.py", {"dump", dir.File("fax.tif"), dir.File("dump.bin")}));
  const std::vector<std::uint8_t> dump = ReadWholeFile(dir.File("dump.bin"));
  ASSERT_GE(dump.size(), 28u);
  const std::uint8_t* p = dump.data();
  const std::uint32_t width = GetLE32(p), height = GetLE32(p + 4), compression = GetLE32(p + 8),
                      t4 = GetLE32(p + 12), fillOrder = GetLE32(p + 16), perStrip = GetLE32(p + 20),
                      strips = GetLE32(p + 24);
  ASSERT_EQ(width, static_cast<std::uint32_t>(c.width));
  ASSERT_EQ(height, static_cast<std::uint32_t>(kLibtiffRows));
  ASSERT_EQ(perStrip, 16u);
  ASSERT_EQ(strips, (kLibtiffRows + 15) / 16u);
  TFaxOptions options;
  options.scheme = compression == 2   ? TFaxScheme::ModifiedHuffman
                   : compression == 3 ? TFaxScheme::Group3
                                      : TFaxScheme::Group4;
  ASSERT_TRUE(compression >= 2 && compression <= 4);
  options.twoDimensional = (t4 & 1) != 0;
  options.alignedEol = (t4 & 4) != 0;
  options.lsbFirst = fillOrder == 2;
  std::size_t at = 28;
  TRows decoded(c.width, kLibtiffRows);
  for (std::uint32_t strip = 0; strip < strips; ++strip) {
    ASSERT_LE(at + 4, dump.size());
    const std::uint32_t bytes = GetLE32(dump.data() + at);
    ASSERT_LE(at + 4 + bytes, dump.size());
    const std::vector<std::uint8_t> data(dump.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                         dump.begin() + static_cast<std::ptrdiff_t>(at + 4 + bytes));
    at += 4 + bytes;
    const auto first = static_cast<std::int32_t>(strip * perStrip);
    const std::int32_t count = std::min<std::int32_t>(16, kLibtiffRows - first);
    EXPECT_EQ(FaxDecodeStrip(data.data(), data.size(), options, c.width, count, decoded.Row(first)), count)
        << "strip " << strip;
    // Modified Huffman and Group 4 codes are fully determined by the rows, and libtiff writes
    // Group 3 one-dimensional rows as we do but leaves out the return-to-control codes at the end.
    if (!options.lsbFirst && !options.twoDimensional) {
      TRows part(c.width, count);
      std::copy(source.Row(first), source.Row(first) + part.bits.size(), part.bits.begin());
      const std::vector<std::uint8_t> ours = Encode(part, options);
      if (options.scheme == TFaxScheme::Group3) {
        ASSERT_GE(ours.size(), data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), ours.begin())) << "strip " << strip;
      } else {
        EXPECT_EQ(ours, data) << "strip " << strip;
      }
    }
  }
  const std::vector<std::uint8_t> libtiffPixels(dump.begin() + static_cast<std::ptrdiff_t>(at), dump.end());
  ASSERT_EQ(libtiffPixels.size(), decoded.bits.size());
  EXPECT_EQ(libtiffPixels, source.bits);  // the tools kept the picture
  EXPECT_EQ(decoded.bits, libtiffPixels);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FaxFromLibtiff,
    testing::Values(LibtiffCase{"mh", 1728}, LibtiffCase{"mh", 37}, LibtiffCase{"g3", 1728},
                    LibtiffCase{"g3", 2700}, LibtiffCase{"g3:2d", 1728}, LibtiffCase{"g3:2d", 61},
                    LibtiffCase{"g3:fill", 203}, LibtiffCase{"g3:2d:fill", 1728}, LibtiffCase{"g4", 1728},
                    LibtiffCase{"g4", 5300}, LibtiffCase{"mh", 5300}, LibtiffCase{"g3:2d", 5300},
                    LibtiffCase{"g4-lsb", 999}, LibtiffCase{"g3:2d-lsb", 64}, LibtiffCase{"mh-lsb", 300}),
    [](const testing::TestParamInfo<LibtiffCase>& tested) {
      std::string name = tested.param.mode;
      for (char& ch : name) {
        if (ch == ':' || ch == '-') ch = '_';
      }
      return name + "_" + std::to_string(tested.param.width);
    });

class FaxIntoLibtiff : public testing::TestWithParam<SchemeCase> {};

TEST_P(FaxIntoLibtiff, DecodesOurStripToTheSamePixels) {
  const TFaxOptions& options = GetParam().options;
  for (const std::int32_t width : {13, 1728, 5300}) {
    TTempDir dir;
    const TRows source = Page(width, 90);
    std::vector<std::uint8_t> file(16);
    const int compression = options.scheme == TFaxScheme::ModifiedHuffman ? 2
                            : options.scheme == TFaxScheme::Group3        ? 3
                                                                          : 4;
    PutLE32(file.data(), static_cast<std::uint32_t>(width));
    PutLE32(file.data() + 4, 90);
    PutLE32(file.data() + 8, static_cast<std::uint32_t>(compression));
    PutLE32(file.data() + 12, (options.twoDimensional ? 1u : 0u) | (options.alignedEol ? 4u : 0u));
    const std::vector<std::uint8_t> strip = Encode(source, options);
    file.insert(file.end(), strip.begin(), strip.end());
    WriteWholeFile(dir.File("strip.bin"), file);
    ASSERT_TRUE(RunPythonTool("fax_tool.py", {"wrap", dir.File("strip.bin"), dir.File("ours.tif")}));
    const std::vector<std::uint8_t> bits = ReadWholeFile(dir.File("ours.tif.bits"));
    ASSERT_EQ(bits.size(), 8 + source.bits.size());
    EXPECT_TRUE(std::equal(source.bits.begin(), source.bits.end(), bits.begin() + 8)) << "width " << width;
  }
}

INSTANTIATE_TEST_SUITE_P(Schemes, FaxIntoLibtiff, testing::ValuesIn(kSchemes),
                         [](const testing::TestParamInfo<SchemeCase>& tested) { return tested.param.name; });

}  // namespace
}  // namespace veilora
