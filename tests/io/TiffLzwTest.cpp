#include "io/TIFLZW.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/Pillow.h"

namespace veilora {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kClear = 256;
constexpr int kEnd = 257;

// Packs codes most significant bit first with the width a TIFF decoder expects at each point: 9
// bits after a clear, one more when the table count reaches 511, 1023 and 2047. The first code of
// the strip and the first after a clear add no entry; every other code adds one.
Bytes PackCodes(const std::vector<int>& codes) {
  Bytes out;
  std::uint64_t accumulator = 0;
  int bits = 0;
  int width = 9;
  int count = 258;
  bool fresh = true;
  for (const int code : codes) {
    accumulator = (accumulator << width) | static_cast<std::uint64_t>(code);
    bits += width;
    while (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(accumulator >> bits));
    }
    if (code == kClear) {
      width = 9;
      count = 258;
      fresh = true;
    } else if (fresh) {
      fresh = false;
    } else {
      ++count;
      if (count == 511 || count == 1023 || count == 2047) ++width;
    }
  }
  if (bits > 0) out.push_back(static_cast<std::uint8_t>(accumulator << (8 - bits)));
  return out;
}

// Reads back the code sequence of a strip with the same width rule (until the end code).
std::vector<int> UnpackCodes(const Bytes& data) {
  std::vector<int> codes;
  std::size_t position = 0;
  int width = 9;
  int count = 258;
  bool fresh = true;
  while (position + static_cast<std::size_t>(width) <= data.size() * 8) {
    int code = 0;
    for (int i = 0; i < width; ++i, ++position) {
      code = (code << 1) | ((data[position / 8] >> (7 - position % 8)) & 1);
    }
    codes.push_back(code);
    if (code == kEnd) break;
    if (code == kClear) {
      width = 9;
      count = 258;
      fresh = true;
    } else if (fresh) {
      fresh = false;
    } else {
      ++count;
      if (count == 511 || count == 1023 || count == 2047) ++width;
    }
  }
  return codes;
}

Bytes Encode(const std::vector<Bytes>& rows) {
  TMemoryStream stream;
  TTiffLzwEncoder* state = nullptr;
  for (const Bytes& row : rows)
    TiffLzwEncode(row.data(), static_cast<std::int32_t>(row.size()), stream, state);
  TiffLzwEncode(nullptr, 0, stream, state);
  EXPECT_EQ(state, nullptr);
  return stream.Data();
}

// Decodes `rows` rows from a copy of the strip that holds exactly its bytes, so that a read past
// the end is a fault the sanitizer build sees. A failing row ends the list early.
std::vector<Bytes> Decode(const Bytes& strip, int rowLength, int rows, bool* failed = nullptr) {
  const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[strip.size() + 1]);
  std::copy(strip.begin(), strip.end(), exact.get());
  std::vector<Bytes> out;
  TTiffLzwDecoder* state = nullptr;
  if (failed != nullptr) *failed = false;
  for (int r = 0; r < rows; ++r) {
    const std::uint8_t* row = TiffLzwDecode(exact.get(), strip.size(), rowLength, state);
    if (row == nullptr) {
      if (failed != nullptr) *failed = true;
      break;
    }
    out.emplace_back(row, row + rowLength);
  }
  EXPECT_EQ(TiffLzwDecode(nullptr, 0, rowLength, state), nullptr);
  EXPECT_EQ(state, nullptr);
  return out;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes RandomBytes(std::size_t count, unsigned seed, int range = 256) {
  std::mt19937 random(seed);
  Bytes out(count);
  for (auto& b : out) b = static_cast<std::uint8_t>(random() % static_cast<unsigned>(range));
  return out;
}

// ---------------------------------------------------------------- exact bytes

TEST(TiffLzwGolden, RowOfLiteralsBetweenClearAndEnd) {
  // 256, 'A', 'B', 'C', 257 in 9 bits each, most significant bit first, padded with zero bits:
  // 100000000 001000001 001000010 001000011 100000001 000
  const Bytes strip{0x80, 0x10, 0x48, 0x44, 0x38, 0x08};
  EXPECT_EQ(Encode({Text("ABC")}), strip);
  EXPECT_EQ(Decode(strip, 3, 1), std::vector<Bytes>{Text("ABC")});
}

TEST(TiffLzwGolden, RepeatedPairUsesTableCodes) {
  // "ABABABA": A, B, then AB (258), ABA (260), then the end. Hand-packed:
  // 100000000 001000001 001000010 100000010 100000100 100000001 -> 54 bits, 2 bits of padding.
  const Bytes strip{0x80, 0x10, 0x48, 0x50, 0x28, 0x24, 0x04};
  EXPECT_EQ(Encode({Text("ABABABA")}), strip);
  EXPECT_EQ(PackCodes({kClear, 'A', 'B', 258, 260, kEnd}), strip);
  EXPECT_EQ(Decode(strip, 7, 1), std::vector<Bytes>{Text("ABABABA")});
}

// ---------------------------------------------------------------- decoder rules

TEST(TiffLzwDecode, WidthGrowsWhenTheCountReaches511) {
  std::vector<int> codes{kClear};
  Bytes row;
  for (int i = 0; i < 256; ++i) {  // the count reaches 511 after the 254th code
    codes.push_back(i % 200);
    row.push_back(static_cast<std::uint8_t>(i % 200));
  }
  codes.push_back(kEnd);
  const Bytes strip = PackCodes(codes);
  // 255 codes of 9 bits (clear and 254 literals), then two literals and the end in 10 bits.
  ASSERT_EQ(strip.size(), (255 * 9 + 3 * 10 + 7) / 8);
  EXPECT_EQ(Decode(strip, static_cast<int>(row.size()), 1), std::vector<Bytes>{row});
}

TEST(TiffLzwDecode, StripWithoutClearBeginsWithALiteral) {
  EXPECT_EQ(Decode(PackCodes({'A', 'B', 258, kEnd}), 4, 1), std::vector<Bytes>{Text("ABAB")});
  bool failed = false;
  Decode(PackCodes({258, kEnd}), 2, 1, &failed);
  EXPECT_TRUE(failed);
}

TEST(TiffLzwDecode, CodeEqualToTheCountRepeatsThePreviousString) {
  EXPECT_EQ(Decode(PackCodes({kClear, 'x', 258, 259, 260, kEnd}), 10, 1),
            std::vector<Bytes>{Text("xxxxxxxxxx")});
}

TEST(TiffLzwDecode, SeveralClearsActAsOne) {
  EXPECT_EQ(Decode(PackCodes({kClear, kClear, kClear, 'A', 'B', kClear, kClear, 'C', kEnd}), 3, 1),
            std::vector<Bytes>{Text("ABC")});
}

TEST(TiffLzwDecode, UndefinedCodesFail) {
  struct Case {
    const char* what;
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"above the count", {kClear, 'A', 'B', 260, kEnd}},
      {"table code right after a clear", {kClear, 258, kEnd}},
      {"table code after a second clear", {kClear, 'A', 'B', kClear, 259, kEnd}},
  };
  for (const Case& c : cases) {
    bool failed = false;
    const auto rows = Decode(PackCodes(c.codes), 4, 1, &failed);
    EXPECT_TRUE(failed) << c.what;
    EXPECT_TRUE(rows.empty()) << c.what;
  }
}

TEST(TiffLzwDecode, AFailedStripKeepsFailingUntilClosed) {
  const Bytes strip = PackCodes({kClear, 'A', 'B', 'C', 'D', 300, kEnd});
  TTiffLzwDecoder* state = nullptr;
  const std::uint8_t* row = TiffLzwDecode(strip.data(), strip.size(), 2, state);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(Bytes(row, row + 2), Text("AB"));
  row = TiffLzwDecode(strip.data(), strip.size(), 2, state);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(Bytes(row, row + 2), Text("CD"));
  EXPECT_EQ(TiffLzwDecode(strip.data(), strip.size(), 2, state), nullptr);
  EXPECT_EQ(TiffLzwDecode(strip.data(), strip.size(), 2, state), nullptr);
  EXPECT_EQ(TiffLzwDecode(nullptr, 0, 2, state), nullptr);
  EXPECT_EQ(state, nullptr);
}

TEST(TiffLzwDecode, TableHoldsAtMost4096Entries) {
  // After the clear, the first literal adds nothing and each later one adds an entry: 3839 literals
  // fill entries 258..4095; a 3840th would need entry 4096.
  std::vector<int> codes{kClear};
  for (int i = 0; i < 3839; ++i) codes.push_back(i % 251);
  std::vector<int> full = codes;
  full.push_back(kEnd);
  bool failed = false;
  const auto rows = Decode(PackCodes(full), 3839, 1, &failed);
  EXPECT_FALSE(failed);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][3838], 3838 % 251);

  codes.push_back(7);
  codes.push_back(kEnd);
  Decode(PackCodes(codes), 3840, 1, &failed);
  EXPECT_TRUE(failed);
}

TEST(TiffLzwDecode, StripEndingWithoutEndCodeGivesZerosAfterward) {
  const Bytes row = RandomBytes(100, 3);
  Bytes strip = Encode({row, row, row});
  // Cut the strip in the middle of the second row (and so without its end code).
  const Bytes full = strip;
  strip.resize(strip.size() * 2 / 3);
  const auto rows = Decode(strip, 100, 5);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0], row);
  const auto complete = Decode(full, 100, 3);
  // The second row is right up to where the data stop, then zero.
  std::size_t same = 0;
  while (same < 100 && rows[1][same] == complete[1][same]) ++same;
  EXPECT_GT(same, 0u);
  for (std::size_t i = same; i < 100; ++i) EXPECT_EQ(rows[1][i], 0) << i;
  EXPECT_EQ(rows[2], Bytes(100, 0));
  EXPECT_EQ(rows[4], Bytes(100, 0));
}

TEST(TiffLzwDecode, RowsPastTheEndCodeAreZero) {
  const Bytes strip = PackCodes({kClear, 'A', 'B', kEnd, 'C', 'D', 'E', 'F'});
  EXPECT_EQ(Decode(strip, 2, 3), (std::vector<Bytes>{Text("AB"), Bytes(2, 0), Bytes(2, 0)}));
}

TEST(TiffLzwDecode, PartialLastCodeIsNotRead) {
  // The last byte holds only 7 of the end code's 9 bits: the data end there.
  Bytes strip = PackCodes({kClear, 'A', 'B', 'C', kEnd});
  strip.pop_back();
  EXPECT_EQ(Decode(strip, 4, 1), (std::vector<Bytes>{Bytes{'A', 'B', 'C', 0}}));
  EXPECT_EQ(Decode({}, 3, 2), (std::vector<Bytes>{Bytes(3, 0), Bytes(3, 0)}));
}

TEST(TiffLzwDecode, ShortRowsHoldTheLongestString) {
  // One run of 5000 equal bytes is coded with strings up to 99 bytes; with a row length of 1 every
  // string but the first runs far past the row.
  const Bytes run(5000, 0x5A);
  const Bytes strip = Encode({run});
  TTiffLzwDecoder* state = nullptr;
  for (int r = 0; r < 5000; ++r) {
    const std::uint8_t* row = TiffLzwDecode(strip.data(), strip.size(), 1, state);
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(row[0], 0x5A) << r;
    if (r == 0) {
      ASSERT_GE(state->buffer.size(), 1 + kTiffLzwLongestString);
    }
  }
  const std::uint8_t* after = TiffLzwDecode(strip.data(), strip.size(), 1, state);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after[0], 0);
  TiffLzwDecode(nullptr, 0, 1, state);

  // The longest string a table can hold: one byte value repeated, each code one byte longer,
  // until entry 4095 holds 3839 bytes; a 1-byte row then carries 3838 bytes into the next calls.
  std::vector<int> codes{kClear, 'q'};
  std::size_t total = 1;
  for (int code = 258; code < 4096; ++code) {
    codes.push_back(code);
    total += static_cast<std::size_t>(code - 256);
  }
  codes.push_back(kEnd);
  const Bytes longest = PackCodes(codes);
  std::size_t decoded = 0;
  for (std::size_t r = 0; r < total; ++r) {
    const std::uint8_t* row = TiffLzwDecode(longest.data(), longest.size(), 1, state);
    ASSERT_NE(row, nullptr);
    if (row[0] != 'q') break;
    ++decoded;
  }
  EXPECT_EQ(decoded, total);
  EXPECT_EQ(state->count, 4096);
  TiffLzwDecode(nullptr, 0, 1, state);
}

TEST(TiffLzwDecode, TableChainsAlwaysEndAtALiteral) {
  // Whatever the codes, an entry's prefix is a smaller code, so walking a chain ends at a literal
  // within the entry's length; check it over the table random data leave behind.
  const Bytes strip = Encode({RandomBytes(20000, 5, 4)});
  TTiffLzwDecoder* state = nullptr;
  ASSERT_NE(TiffLzwDecode(strip.data(), strip.size(), 20000, state), nullptr);
  for (int entry = 258; entry < state->count; ++entry) {
    ASSERT_LT(state->prefix[entry], entry);
    ASSERT_TRUE(state->prefix[entry] < 256 || state->prefix[entry] >= 258);
    int steps = 1;
    for (int c = entry; c >= 258; c = state->prefix[c]) ++steps;
    ASSERT_EQ(steps, state->length[entry]);
  }
  TiffLzwDecode(nullptr, 0, 0, state);
}

// ---------------------------------------------------------------- round trips and the encoder

TEST(TiffLzwRoundTrip, RowsComeBack) {
  struct Case {
    const char* what;
    std::vector<Bytes> rows;
  };
  std::vector<Case> cases;
  cases.push_back({"1000 equal bytes", {Bytes(1000, 7)}});
  cases.push_back({"one byte", {Bytes{42}}});
  std::vector<Bytes> random;
  for (int r = 0; r < 40; ++r) random.push_back(RandomBytes(777, 10 + r));
  cases.push_back({"random rows", random});
  std::vector<Bytes> smooth;
  for (int r = 0; r < 60; ++r) {
    Bytes row(500);
    for (int x = 0; x < 500; ++x) row[x] = static_cast<std::uint8_t>((x + r) / 9 + (x * r) % 3);
    smooth.push_back(row);
  }
  cases.push_back({"smooth rows", smooth});
  for (const Case& c : cases) {
    const int rowLength = static_cast<int>(c.rows[0].size());
    EXPECT_EQ(Decode(Encode(c.rows), rowLength, static_cast<int>(c.rows.size())), c.rows) << c.what;
  }
}

TEST(TiffLzwEncode, ClearsAfter4094CodesAndGoesBackToNineBits) {
  // Random bytes rarely repeat a pair, so almost every byte is a code: each block between clears
  // holds exactly 3837 codes (entries 258..4093 are assigned, then one more code, then the clear).
  const Bytes data = RandomBytes(12000, 21);
  const std::vector<int> codes = UnpackCodes(Encode({data}));
  ASSERT_GT(codes.size(), 2u * 3838 + 2);
  EXPECT_EQ(codes[0], kClear);
  EXPECT_EQ(codes[3838], kClear);
  EXPECT_EQ(codes[2 * 3838], kClear);
  EXPECT_EQ(codes.back(), kEnd);
  for (std::size_t i = 1; i < codes.size(); ++i) {
    if (i % 3838 != 0) {
      EXPECT_NE(codes[i], kClear) << i;
    }
  }
  EXPECT_EQ(Decode(Encode({data}), 12000, 1), std::vector<Bytes>{data});
}

TEST(TiffLzwEncode, EmptyImageIsClearAndEnd) {
  TMemoryStream stream;
  TTiffLzwEncoder* state = nullptr;
  TiffLzwEncode(Bytes{1}.data(), 0, stream, state);
  TiffLzwEncode(nullptr, 0, stream, state);
  EXPECT_EQ(UnpackCodes(stream.Data()), (std::vector<int>{kClear, kEnd}));
}

// ---------------------------------------------------------------- libtiff on the same strips

// A little-endian TIFF of 8-bit grey pixels in one strip.
Bytes GreyTiff(int width, int height, int compression, const Bytes& strip) {
  Bytes file{'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put16 = [&file](unsigned v) {
    file.push_back(static_cast<std::uint8_t>(v));
    file.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto put32 = [&](unsigned v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  const unsigned dataOffset = 8 + 2 + 9 * 12 + 4;
  put16(9);
  auto entry = [&](unsigned tag, unsigned type, unsigned value) {
    put16(tag);
    put16(type);
    put32(1);
    if (type == 3) {
      put16(value);
      put16(0);
    } else {
      put32(value);
    }
  };
  entry(256, 4, static_cast<unsigned>(width));
  entry(257, 4, static_cast<unsigned>(height));
  entry(258, 3, 8);
  entry(259, 3, static_cast<unsigned>(compression));
  entry(262, 3, 1);
  entry(273, 4, dataOffset);
  entry(277, 3, 1);
  entry(278, 4, static_cast<unsigned>(height));
  entry(279, 4, static_cast<unsigned>(strip.size()));
  put32(0);
  file.insert(file.end(), strip.begin(), strip.end());
  return file;
}

// The single strip of a little-endian TIFF (offset and byte count from the first directory).
Bytes FirstStrip(const Bytes& file) {
  auto get16 = [&file](std::size_t at) { return static_cast<unsigned>(file.at(at) | file.at(at + 1) << 8); };
  auto get32 = [&](std::size_t at) { return get16(at) | get16(at + 2) << 16; };
  const std::size_t ifd = get32(4);
  const unsigned entries = get16(ifd);
  std::size_t offset = 0;
  std::size_t count = 0;
  for (unsigned i = 0; i < entries; ++i) {
    const std::size_t at = ifd + 2 + 12 * i;
    const unsigned tag = get16(at);
    const unsigned value = get16(at + 2) == 3 ? get16(at + 8) : get32(at + 8);
    EXPECT_TRUE(tag != 273 || get32(at + 4) == 1) << "more than one strip";
    if (tag == 273) offset = value;
    if (tag == 279) count = value;
  }
  return Bytes(file.begin() + static_cast<std::ptrdiff_t>(offset),
               file.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

std::vector<Bytes> GreyPicture(int width, int height) {
  std::vector<Bytes> rows;
  std::mt19937 random(99);
  for (int y = 0; y < height; ++y) {
    Bytes row(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
      row[x] =
          static_cast<std::uint8_t>(((x * 3 + y * 2) / 7) + (((x / 16 + y / 16) % 2) ? random() % 4 : 0));
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(TiffLzwInterop, LibtiffReadsOurStrip) {
  // Large enough to pass every code width and several clears.
  const int width = 301;
  const int height = 260;
  const std::vector<Bytes> rows = GreyPicture(width, height);
  test::TTempDir dir;
  const std::string file = dir.File("ours.tif");
  test::WriteWholeFile(file, GreyTiff(width, height, 5, Encode(rows)));
  const std::string plain = dir.File("plain.tif");
  const std::string command = "tiffcp -c none '" + file + "' '" + plain + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const Bytes pixels = FirstStrip(test::ReadWholeFile(plain));
  ASSERT_EQ(pixels.size(), static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    ASSERT_EQ(Bytes(pixels.begin() + y * width, pixels.begin() + (y + 1) * width), rows[y]) << y;
  }
  const test::TRawImage decoded = test::PillowDecode(file);
  ASSERT_EQ(decoded.width, width);
  ASSERT_EQ(decoded.height, height);
  EXPECT_EQ(decoded.rgb[3 * (width * 100 + 17)], rows[100][17]);
}

TEST(TiffLzwInterop, WeReadLibtiffStrips) {
  const int width = 333;
  const int height = 250;
  const std::vector<Bytes> rows = GreyPicture(width, height);
  Bytes raw;
  for (const Bytes& row : rows) raw.insert(raw.end(), row.begin(), row.end());
  test::TTempDir dir;
  const std::string plain = dir.File("plain.tif");
  const std::string packed = dir.File("lzw.tif");
  test::WriteWholeFile(plain, GreyTiff(width, height, 1, raw));
  const std::string command =
      "tiffcp -c lzw -r " + std::to_string(height) + " '" + plain + "' '" + packed + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const Bytes strip = FirstStrip(test::ReadWholeFile(packed));
  ASSERT_LT(strip.size(), raw.size());
  EXPECT_EQ(Decode(strip, width, height), rows);
}

}  // namespace
}  // namespace veilora
