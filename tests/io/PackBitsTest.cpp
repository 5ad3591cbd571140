#include "io/PackBits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using namespace veilora;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const Bytes& row) {
  Bytes out;
  PackBitsEncode(row.data(), row.size(), out);
  return out;
}

struct Decoded {
  Bytes bytes;
  std::size_t consumed = 0;
  std::size_t produced = 0;
};

// Decodes into a buffer of `destBytes` bytes that starts filled with 0xEE, to see what is touched.
Decoded Decode(const Bytes& data, std::size_t destBytes) {
  Decoded d;
  d.bytes.assign(destBytes, 0xEE);
  d.consumed = PackBitsDecode(data.data(), data.size(), d.bytes.data(), destBytes, d.produced);
  return d;
}

// The packet rules written out the plain way, as an independent check of the coder's output.
// Returns false for data that is not exactly a sequence of whole packets.
bool ReferenceDecode(const Bytes& data, Bytes& out) {
  out.clear();
  std::size_t i = 0;
  while (i < data.size()) {
    const int n = static_cast<std::int8_t>(data[i++]);
    if (n >= 0) {
      if (i + n + 1 > data.size()) return false;
      out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                 data.begin() + static_cast<std::ptrdiff_t>(i + n + 1));
      i += n + 1;
    } else if (n != -128) {
      if (i >= data.size()) return false;
      out.insert(out.end(), static_cast<std::size_t>(1 - n), data[i++]);
    }
  }
  return true;
}

// ---------------------------------------------------------------- golden codings

TEST(PackBitsEncode, CodesTheClassicExampleByteForByte) {
  // The example of Apple's technical note on PackBits.
  const Bytes row = {0xAA, 0xAA, 0xAA, 0x80, 0x00, 0x2A, 0xAA, 0xAA, 0xAA, 0xAA, 0x80, 0x00,
                     0x2A, 0x22, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  const Bytes coded = {0xFE, 0xAA, 0x02, 0x80, 0x00, 0x2A, 0xFD, 0xAA,
                       0x03, 0x80, 0x00, 0x2A, 0x22, 0xF7, 0xAA};
  EXPECT_EQ(Encode(row), coded);
  const Decoded d = Decode(coded, row.size());
  EXPECT_EQ(d.bytes, row);
  EXPECT_EQ(d.consumed, coded.size());
}

struct GoldenCase {
  const char* name;
  Bytes row;
  Bytes coded;
};

Bytes Repeat(std::size_t n, std::uint8_t value) {
  return Bytes(n, value);
}

Bytes Counting(std::size_t n) {
  Bytes row(n);
  for (std::size_t i = 0; i < n; ++i) row[i] = static_cast<std::uint8_t>(i);
  return row;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class PackBitsGolden : public testing::TestWithParam<GoldenCase> {};

TEST_P(PackBitsGolden, EncodesAndDecodes) {
  const GoldenCase& c = GetParam();
  EXPECT_EQ(Encode(c.row), c.coded);
  const Decoded d = Decode(c.coded, c.row.size());
  EXPECT_EQ(d.bytes, c.row);
  EXPECT_EQ(d.consumed, c.coded.size());
  EXPECT_EQ(d.produced, c.row.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PackBitsGolden,
    testing::Values(GoldenCase{"Empty", {}, {}}, GoldenCase{"OneByte", {0x42}, {0x00, 0x42}},
                    GoldenCase{"TwoEqualAlone", {7, 7}, {0xFF, 7}},
                    GoldenCase{"TwoDifferent", {1, 2}, {0x01, 1, 2}},
                    // A pair inside literals stays literal: a run packet there would cost more.
                    GoldenCase{"PairInsideLiterals", {1, 5, 5, 2}, {0x03, 1, 5, 5, 2}},
                    GoldenCase{"Run128", Repeat(128, 9), {0x81, 9}},
                    GoldenCase{"Run129", Repeat(129, 9), {0x81, 9, 0x00, 9}},
                    GoldenCase{"Run130", Repeat(130, 9), {0x81, 9, 0xFF, 9}},
                    GoldenCase{"Run300", Repeat(300, 3), {0x81, 3, 0x81, 3, 0xD5, 3}},
                    GoldenCase{"Literal128", Counting(128), Concat({{0x7F}, Counting(128)})},
                    GoldenCase{"Literal129", Counting(129), Concat({{0x7F}, Counting(128), {0x00, 128}})},
                    GoldenCase{"LiteralThenRun", Concat({{1, 2}, Repeat(3, 8)}), {0x01, 1, 2, 0xFE, 8}}),
    [](const auto& row) { return std::string(row.param.name); });

// ---------------------------------------------------------------- differential round trips

// Rows made of runs of random length (1 to 200) over a few values, so that runs meet literals,
// runs of two and the 128-byte limit in every combination.
Bytes RunHeavyRow(std::size_t length, std::mt19937& random) {
  Bytes row;
  while (row.size() < length) {
    const std::size_t run =
        std::min<std::size_t>(length - row.size(), 1 + random() % (random() % 4 == 0 ? 200 : 4));
    row.insert(row.end(), run, static_cast<std::uint8_t>(random() % 3));
  }
  return row;
}

Bytes RandomRow(std::size_t length, std::mt19937& random) {
  Bytes row(length);
  for (std::uint8_t& b : row) b = static_cast<std::uint8_t>(random());
  return row;
}

TEST(PackBitsRoundTrip, EveryLengthUpTo300RandomAndRunHeavy) {
  std::mt19937 random(2024);
  for (std::size_t length = 0; length <= 300; ++length) {
    for (int kind = 0; kind < 2; ++kind) {
      const Bytes row = kind == 0 ? RandomRow(length, random) : RunHeavyRow(length, random);
      const Bytes coded = Encode(row);
      SCOPED_TRACE(testing::Message() << "length " << length << (kind == 0 ? " random" : " runs"));
      // Worst case: one control byte per 128 literals.
      EXPECT_LE(coded.size(), length + (length + 127) / 128);
      Bytes reference;
      ASSERT_TRUE(ReferenceDecode(coded, reference));
      EXPECT_EQ(reference, row);
      const Decoded d = Decode(coded, row.size());
      EXPECT_EQ(d.bytes, row);
      EXPECT_EQ(d.consumed, coded.size());
    }
  }
}

TEST(PackBitsRoundTrip, RowsCodedOneAfterAnotherDecodeRowByRow) {
  // Packets never span two rows, so each row's decode ends exactly where the next row's data starts.
  std::mt19937 random(77);
  std::vector<Bytes> rows;
  Bytes strip;
  for (int i = 0; i < 40; ++i) {
    rows.push_back(i % 2 == 0 ? RunHeavyRow(257, random) : RandomRow(257, random));
    PackBitsEncode(rows.back().data(), rows.back().size(), strip);
  }
  std::size_t at = 0;
  for (const Bytes& row : rows) {
    Bytes out(row.size());
    std::size_t produced = 0;
    at += PackBitsDecode(strip.data() + at, strip.size() - at, out.data(), out.size(), produced);
    ASSERT_EQ(produced, row.size());
    EXPECT_EQ(out, row);
  }
  EXPECT_EQ(at, strip.size());
}

TEST(PackBitsEncode, LongRunsCostTwoBytesPer128) {
  for (std::size_t n : {3u, 127u, 128u, 129u, 255u, 256u, 257u, 1000u}) {
    EXPECT_EQ(Encode(Repeat(n, 0x55)).size(), 2 * ((n + 127) / 128)) << n;
  }
}

// ---------------------------------------------------------------- damaged and odd input

TEST(PackBitsDecode, SkipsTheNoOpControlByte) {
  const Decoded d = Decode({0x80, 0x01, 'a', 'b', 0x80, 0xFE, 'z'}, 5);
  EXPECT_EQ(d.bytes, (Bytes{'a', 'b', 'z', 'z', 'z'}));
  EXPECT_EQ(d.consumed, 7u);
  EXPECT_EQ(d.produced, 5u);
}

TEST(PackBitsDecode, TruncatedLiteralGivesWhatIsThere) {
  const Decoded d = Decode({0x05, 'a', 'b'}, 6);
  EXPECT_EQ(d.produced, 2u);
  EXPECT_EQ(d.consumed, 3u);
  EXPECT_EQ(d.bytes, (Bytes{'a', 'b', 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(PackBitsDecode, RunWithoutItsByteEndsDecoding) {
  const Decoded d = Decode({0x00, 'q', 0xFD}, 6);
  EXPECT_EQ(d.produced, 1u);
  EXPECT_EQ(d.consumed, 3u);
  EXPECT_EQ(d.bytes, (Bytes{'q', 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(PackBitsDecode, PacketsLongerThanTheRowAreCutAndConsumedWhole) {
  // A run of 10 into 4 bytes: the run's two bytes are used up, nothing past dest is written.
  Bytes dest(6, 0xEE);
  std::size_t produced = 0;
  const Bytes run = {0xF7, 'r', 0x00, 'n'};
  EXPECT_EQ(PackBitsDecode(run.data(), run.size(), dest.data(), 4, produced), 2u);
  EXPECT_EQ(produced, 4u);
  EXPECT_EQ(dest, (Bytes{'r', 'r', 'r', 'r', 0xEE, 0xEE}));

  const Bytes literal = {0x04, 'a', 'b', 'c', 'd', 'e', 0x00, 'n'};
  EXPECT_EQ(PackBitsDecode(literal.data(), literal.size(), dest.data(), 3, produced), 6u);
  EXPECT_EQ(produced, 3u);
  EXPECT_EQ(dest, (Bytes{'a', 'b', 'c', 'r', 0xEE, 0xEE}));
}

TEST(PackBitsDecode, NothingInOrNoRoomOut) {
  std::uint8_t dest[4] = {1, 2, 3, 4};
  std::size_t produced = 9;
  EXPECT_EQ(PackBitsDecode(nullptr, 0, dest, 4, produced), 0u);
  EXPECT_EQ(produced, 0u);
  const Bytes data = {0x00, 'x'};
  EXPECT_EQ(PackBitsDecode(data.data(), data.size(), dest, 0, produced), 0u);
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(dest[0], 1);
}

TEST(PackBitsDecode, EveryTruncationOfARealRowStaysInBounds) {
  // Cut a coded row at every length: the decoder never writes past dest and never reports more
  // than it wrote; what it produced is a prefix of the row.
  std::mt19937 random(5);
  const Bytes row = Concat({RunHeavyRow(150, random), RandomRow(150, random)});
  const Bytes coded = Encode(row);
  for (std::size_t cut = 0; cut <= coded.size(); ++cut) {
    const Bytes part(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(cut));
    const Decoded d = Decode(part, row.size());
    ASSERT_LE(d.consumed, cut);
    ASSERT_LE(d.produced, row.size());
    EXPECT_TRUE(
        std::equal(d.bytes.begin(), d.bytes.begin() + static_cast<std::ptrdiff_t>(d.produced), row.begin()))
        << cut;
  }
}

}  // namespace
