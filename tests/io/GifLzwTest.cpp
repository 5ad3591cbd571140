#include "io/GifLZW.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "io/IOParams.h"
#include "io/LzwCoders.h"
#include "io/TIFLZW.h"
#include "support/LzwHooks.h"
#include "support/Pillow.h"

namespace veilora {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Codes packed least significant bit first with the width a GIF decoder expects at each point
// (S + 1 bits after a clear, one more each time the next free code reaches a power of two, at
// most 12), put into sub-blocks of up to 255 bytes after the minimum code size and followed by
// the terminator.
Bytes PackCodes(int codeSize, const std::vector<int>& codes, std::size_t blockSize = 255) {
  const int clear = 1 << codeSize;
  Bytes packed;
  std::uint64_t accumulator = 0;
  int bits = 0;
  int width = codeSize + 1;
  int nextFree = clear + 2;
  bool fresh = true;
  for (const int code : codes) {
    accumulator |= static_cast<std::uint64_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      packed.push_back(static_cast<std::uint8_t>(accumulator));
      accumulator >>= 8;
      bits -= 8;
    }
    if (code == clear) {
      width = codeSize + 1;
      nextFree = clear + 2;
      fresh = true;
    } else if (code == clear + 1) {
    } else if (fresh) {
      fresh = false;
    } else if (++nextFree >= (1 << width) && width < 12) {
      ++width;
    }
  }
  if (bits > 0) packed.push_back(static_cast<std::uint8_t>(accumulator));
  Bytes out{static_cast<std::uint8_t>(codeSize)};
  for (std::size_t at = 0; at < packed.size(); at += blockSize) {
    const std::size_t n = std::min(blockSize, packed.size() - at);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
               packed.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  out.push_back(0);
  return out;
}

// The code sequence of encoded image data, read back with the same width rule, and the sizes of
// its sub-blocks.
struct TUnpacked {
  std::vector<int> codes;
  std::vector<int> widths;
  std::vector<std::size_t> blocks;
};

TUnpacked UnpackCodes(const Bytes& file) {
  TUnpacked result;
  const int codeSize = file.at(0);
  Bytes data;
  std::size_t at = 1;
  while (file.at(at) != 0) {
    result.blocks.push_back(file[at]);
    data.insert(data.end(), file.begin() + static_cast<std::ptrdiff_t>(at + 1),
                file.begin() + static_cast<std::ptrdiff_t>(at + 1 + file[at]));
    at += 1 + file[at];
  }
  EXPECT_EQ(at + 1, file.size()) << "bytes after the terminator";
  const int clear = 1 << codeSize;
  int width = codeSize + 1;
  int nextFree = clear + 2;
  bool fresh = true;
  std::size_t position = 0;
  while (position + static_cast<std::size_t>(width) <= data.size() * 8) {
    int code = 0;
    for (int i = 0; i < width; ++i, ++position) code |= ((data[position / 8] >> (position % 8)) & 1) << i;
    result.codes.push_back(code);
    result.widths.push_back(width);
    if (code == clear + 1) break;
    if (code == clear) {
      width = codeSize + 1;
      nextFree = clear + 2;
      fresh = true;
    } else if (fresh) {
      fresh = false;
    } else if (++nextFree >= (1 << width) && width < 12) {
      ++width;
    }
  }
  return result;
}

Bytes Encode(const Bytes& pixels, int width, int height, bool interlaced, int bitsPerPixel) {
  TMemoryStream stream;
  GifLzwEncode(stream, height, width, interlaced, pixels.data(), bitsPerPixel);
  return stream.Data();
}

// Decodes image data that stand after `lead` filler bytes into a buffer of exactly width x height
// bytes filled with `fill` beforehand; `ok` tells whether the stream moved (no bad code), `count`
// is the decoder's count of pixels stored.
struct TDecoded {
  Bytes pixels;
  bool ok = false;
  std::int64_t position = 0;
  std::int64_t count = -1;
};

TDecoded Decode(const Bytes& data, int width, int height, bool interlaced, std::uint8_t fill = 0xEE) {
  const std::int64_t lead = 3;
  Bytes file(static_cast<std::size_t>(lead), 0x21);
  file.insert(file.end(), data.begin(), data.end());
  TMemoryStream stream(file);
  stream.Seek(lead);
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[count == 0 ? 1 : count]);
  std::fill(exact.get(), exact.get() + count, fill);
  TDecoded result;
  result.count = GifLzwDecode(stream, height, width, interlaced, exact.get());
  result.pixels.assign(exact.get(), exact.get() + count);
  result.position = stream.Position() - lead;
  result.ok = result.position != 0;
  return result;
}

Bytes RandomIndices(std::size_t count, int bitsPerPixel, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out(count);
  const unsigned range = 1u << std::max(bitsPerPixel, 2);
  for (auto& b : out) b = static_cast<std::uint8_t>(random() % range);
  return out;
}

// Indices like a picture's: smooth areas with some texture.
Bytes PictureIndices(int width, int height, int bitsPerPixel, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out(static_cast<std::size_t>(width) * height);
  const int levels = 1 << std::max(bitsPerPixel, 2);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int base = (x + 2 * y) * levels / (width + 2 * height);
      const int texture = ((x / 5 + y / 3) % 4 == 0) ? static_cast<int>(random() % 3) : 0;
      out[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>((base + texture) % levels);
    }
  }
  return out;
}

// ---------------------------------------------------------------- exact bytes

TEST(GifLzwGolden, RunOfFivePixelsAtTheSmallestCodeSize) {
  // S = 2: clear 4, end 5, codes of 3 bits. Five pixels of index 1 are coded as clear, 1, 6 ("11"),
  // 6 again, and the end code, which comes at 4 bits because the next free code has passed 7:
  // 4 | 1 << 3 | 6 << 6 | 6 << 9 | 5 << 12 = 0x5D8C.
  const Bytes expected{0x02, 0x02, 0x8C, 0x5D, 0x00};
  EXPECT_EQ(Encode(Bytes(5, 1), 5, 1, false, 1), expected);
  const TDecoded decoded = Decode(expected, 5, 1, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.pixels, Bytes(5, 1));
  EXPECT_EQ(decoded.position, static_cast<std::int64_t>(expected.size()));
}

TEST(GifLzwGolden, EightBitLiterals) {
  // S = 8: "ABAB" is clear 256, 'A', 'B', 258 ("AB") and end 257, 9 bits each.
  const Bytes expected = PackCodes(8, {256, 'A', 'B', 258, 257});
  EXPECT_EQ(expected, (Bytes{0x08, 0x06, 0x00, 0x83, 0x08, 0x11, 0x18, 0x10, 0x00}));
  EXPECT_EQ(Encode(Bytes{'A', 'B', 'A', 'B'}, 2, 2, false, 8), expected);
}

TEST(GifLzwGolden, SubBlocksHold254BytesButTheLast) {
  // The larger picture's data run to several hundred kilobytes.
  for (const int side : {45, 700}) {
    const Bytes pixels = RandomIndices(static_cast<std::size_t>(side) * side, 8, 4);
    const Bytes data = Encode(pixels, side, side, false, 8);
    const TUnpacked unpacked = UnpackCodes(data);
    ASSERT_GE(unpacked.blocks.size(), 3u);
    for (std::size_t i = 0; i + 1 < unpacked.blocks.size(); ++i) ASSERT_EQ(unpacked.blocks[i], 254u) << i;
    EXPECT_GT(unpacked.blocks.back(), 0u);
    EXPECT_LE(unpacked.blocks.back(), 254u);
    EXPECT_EQ(unpacked.codes.back(), 257);
    EXPECT_EQ(Decode(data, side, side, false).pixels, pixels);
  }
}

// ---------------------------------------------------------------- round trips

TEST(GifLzwRoundTrip, EveryHeightAndDepthPlainAndInterlaced) {
  for (int bitsPerPixel = 1; bitsPerPixel <= 8; ++bitsPerPixel) {
    for (int height = 1; height <= 9; ++height) {
      for (const bool interlaced : {false, true}) {
        for (const int width : {1, 7}) {
          const Bytes pixels = RandomIndices(static_cast<std::size_t>(width) * height, bitsPerPixel,
                                             static_cast<unsigned>(bitsPerPixel * 100 + height));
          const Bytes data = Encode(pixels, width, height, interlaced, bitsPerPixel);
          EXPECT_EQ(data[0], std::max(bitsPerPixel, 2));
          const TDecoded decoded = Decode(data, width, height, interlaced);
          EXPECT_TRUE(decoded.ok);
          EXPECT_EQ(decoded.position, static_cast<std::int64_t>(data.size()));
          EXPECT_EQ(decoded.pixels, pixels)
              << "bits " << bitsPerPixel << " height " << height << " interlaced " << interlaced;
        }
      }
    }
  }
}

TEST(GifLzwRoundTrip, LargerPicturesFillTheTable) {
  for (int bitsPerPixel = 1; bitsPerPixel <= 8; ++bitsPerPixel) {
    for (const bool interlaced : {false, true}) {
      const Bytes random = RandomIndices(300 * 211, bitsPerPixel, 7u + static_cast<unsigned>(bitsPerPixel));
      const Bytes picture = PictureIndices(300, 211, bitsPerPixel, 9);
      for (const Bytes& pixels : {random, picture}) {
        const Bytes data = Encode(pixels, 300, 211, interlaced, bitsPerPixel);
        const TDecoded decoded = Decode(data, 300, 211, interlaced);
        EXPECT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.pixels, pixels) << "bits " << bitsPerPixel << " interlaced " << interlaced;
      }
    }
  }
}

TEST(GifLzwRoundTrip, InterlacedRowsFollowThePassOrder) {
  // Data row k (in the order the data carry them) is filled with k; the decoder must put it at
  // the k-th row of the interlace order, and the encoder must read rows in that same order.
  const std::vector<std::vector<int>> orders{
      {0},
      {0, 1},
      {0, 2, 1},
      {0, 2, 1, 3},
      {0, 4, 2, 1, 3},
      {0, 4, 2, 1, 3, 5},
      {0, 4, 2, 6, 1, 3, 5},
      {0, 4, 2, 6, 1, 3, 5, 7},
      {0, 8, 4, 2, 6, 1, 3, 5, 7},
  };
  const int width = 3;
  for (int height = 1; height <= 9; ++height) {
    const std::vector<int>& order = orders[static_cast<std::size_t>(height - 1)];
    Bytes inDataOrder;
    Bytes picture(static_cast<std::size_t>(width) * height);
    for (int k = 0; k < height; ++k) {
      inDataOrder.insert(inDataOrder.end(), width, static_cast<std::uint8_t>(k));
      std::fill_n(picture.begin() + order[static_cast<std::size_t>(k)] * width, width,
                  static_cast<std::uint8_t>(k));
    }
    const TDecoded decoded = Decode(Encode(inDataOrder, width, height, false, 4), width, height, true);
    EXPECT_EQ(decoded.pixels, picture) << "height " << height;
    EXPECT_EQ(Encode(picture, width, height, true, 4), Encode(inDataOrder, width, height, false, 4))
        << "height " << height;
  }
}

TEST(GifLzwRoundTrip, ZeroPixelsGiveEmptyData) {
  const Bytes data = Encode({}, 0, 0, false, 8);
  const TUnpacked unpacked = UnpackCodes(data);
  EXPECT_EQ(unpacked.codes, std::vector<int>{257});
  EXPECT_TRUE(Decode(data, 0, 0, false).ok);
}

// ---------------------------------------------------------------- the encoder's table

TEST(GifLzwEncode, LongRunFillsTheTableThenClearsBackToNineBits) {
  // A run of one index makes strings of 1, 2, 3, ... pixels: 3839 codes fill entries 258..4095,
  // and the code after that is followed by a clear code at 12 bits, then 9-bit codes again.
  const int width = 3000;
  const int height = 2500;
  const Bytes pixels(static_cast<std::size_t>(width) * height, 77);
  const Bytes data = Encode(pixels, width, height, false, 8);
  const TUnpacked unpacked = UnpackCodes(data);
  ASSERT_GT(unpacked.codes.size(), 3845u);
  EXPECT_EQ(unpacked.codes[0], 256);
  for (std::size_t i = 1; i < 3840; ++i) ASSERT_NE(unpacked.codes[i], 256) << i;
  EXPECT_EQ(unpacked.codes[3840], 256);
  EXPECT_EQ(unpacked.widths[3840], 12);
  EXPECT_EQ(unpacked.codes[3841], 77);
  EXPECT_EQ(unpacked.widths[3841], 9);
  EXPECT_EQ(unpacked.widths[3842], 9);
  const TDecoded decoded = Decode(data, width, height, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_TRUE(decoded.pixels == pixels);
}

TEST(GifLzwEncode, IndicesBeyondTheTableAreWrapped) {
  // With one bit per pixel the table has four literals; index 6 is coded as 2.
  const TDecoded decoded = Decode(Encode(Bytes{6, 1, 0, 3}, 4, 1, false, 1), 4, 1, false);
  EXPECT_EQ(decoded.pixels, (Bytes{2, 1, 0, 3}));
}

// ---------------------------------------------------------------- decoder rules

TEST(GifLzwDecode, DataWithoutALeadingClearReadAsIfOneCameFirst) {
  // Without the clear the first code adds no entry, so 6 is the string the second code makes: "11".
  const TDecoded decoded = Decode(PackCodes(2, {1, 1, 6, 5}), 4, 1, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.pixels, (Bytes{1, 1, 1, 1}));
}

TEST(GifLzwDecode, SeveralClearsInARowAreOne) {
  const TDecoded decoded = Decode(PackCodes(2, {4, 4, 4, 1, 2, 4, 4, 3, 0, 6, 5}), 6, 1, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.pixels, (Bytes{1, 2, 3, 0, 3, 0}));
}

TEST(GifLzwDecode, CodeEqualToNextFreeRepeatsThePreviousString) {
  const TDecoded decoded = Decode(PackCodes(2, {4, 3, 6, 7, 5}), 6, 1, false);
  EXPECT_EQ(decoded.pixels, (Bytes{3, 3, 3, 3, 3, 3}));
}

TEST(GifLzwDecode, FirstCodeOfATableAboveTheLiteralsStandsForZero) {
  const TDecoded decoded = Decode(PackCodes(2, {4, 7, 1, 5}), 2, 1, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.pixels, (Bytes{0, 1}));
}

TEST(GifLzwDecode, FailuresPutTheStreamBack) {
  struct Case {
    const char* what;
    Bytes data;
  };
  const Case cases[] = {
      {"minimum code size 1", Bytes{0x01, 0x01, 0x05, 0x00}},
      {"minimum code size 10", Bytes{0x0A, 0x01, 0x05, 0x00}},
      {"minimum code size 0", Bytes{0x00, 0x01, 0x05, 0x00}},
      {"clear then end", PackCodes(2, {4, 5})},
      {"clears then end", PackCodes(2, {4, 4, 4, 5})},
      {"clear then end later", PackCodes(2, {4, 1, 2, 4, 5})},
      {"code above next free", PackCodes(3, {8, 1, 2, 13, 9})},
      {"no data at all", Bytes{}},
  };
  for (const Case& c : cases) {
    const TDecoded decoded = Decode(c.data, 4100, 1, false);
    EXPECT_FALSE(decoded.ok) << c.what;
    EXPECT_EQ(decoded.position, 0) << c.what;
  }
  EXPECT_EQ(Decode(Bytes{0x0A, 0x01, 0x05, 0x00}, 4, 1, false).count, 0);
  // Pixels decoded before the failure stay, and are counted.
  const TDecoded partial = Decode(PackCodes(3, {8, 1, 2, 13, 9}), 4, 1, false);
  EXPECT_EQ(partial.pixels, (Bytes{1, 2, 0xEE, 0xEE}));
  EXPECT_EQ(partial.count, 2);
  EXPECT_EQ(Decode(PackCodes(2, {4, 1, 2, 4, 5}), 4, 1, false).count, 2);
}

TEST(GifLzwDecode, AFullTableGoesOnAtTwelveBitsUntilAClear) {
  // After clear, 1 the codes i % 4 fill entries 6..4095, entry 6 + j being the pixels of codes
  // j - 1 and j: 6 is "1 0", 7 is "0 1". Then the table is full: codes stay 12 bits wide, name
  // existing strings and add none, until the clear.
  std::vector<int> codes{4, 1};
  for (int i = 0; i < 4090; ++i) codes.push_back(i % 4);
  const std::size_t filled = 1 + 4090;
  for (const int code : {2, 6, 7, 4095, 4, 3, 6, 5}) codes.push_back(code);
  const Bytes data = PackCodes(2, codes);
  // 4095 is "0 1" too (codes 4088 and 4089 of the run: 4088 % 4 = 0, 4089 % 4 = 1); after the
  // clear, 3 and then entry 6 made anew: "3 3".
  const Bytes tail{2, 1, 0, 0, 1, 0, 1, 3, 3, 3};
  const int width = static_cast<int>(filled + tail.size());
  const TDecoded decoded = Decode(data, width, 1, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.count, width);
  EXPECT_EQ(decoded.position, static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(Bytes(decoded.pixels.begin() + static_cast<std::ptrdiff_t>(filled), decoded.pixels.end()), tail);
  EXPECT_EQ(decoded.pixels[filled - 1], 4089 % 4);
}

TEST(GifLzwDecode, MinimumCodeSizeNineIsAccepted) {
  // Literal codes 0..511 are stored by their low 8 bits.
  const TDecoded decoded = Decode(PackCodes(9, {512, 300, 7, 514, 513}), 4, 1, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.pixels, (Bytes{300 & 0xFF, 7, 300 & 0xFF, 7}));
}

TEST(GifLzwDecode, ExtraPixelsAreDropped) {
  const Bytes pixels = PictureIndices(10, 6, 8, 1);
  const Bytes data = Encode(pixels, 10, 6, false, 8);
  for (const bool interlaced : {false, true}) {
    // Read as an image of fewer rows; rows beyond are dropped, and the interlaced order does
    // not come back to the top row once its passes are done.
    TDecoded decoded = Decode(data, 10, 4, interlaced);
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.count, 40);  // stored, not emitted
    const Bytes sequential = Decode(data, 10, 4, false).pixels;
    if (interlaced) {
      EXPECT_EQ(Bytes(decoded.pixels.begin(), decoded.pixels.begin() + 10),
                Bytes(pixels.begin(), pixels.begin() + 10));
      EXPECT_EQ(Bytes(decoded.pixels.begin() + 10, decoded.pixels.begin() + 20),
                Bytes(pixels.begin() + 20, pixels.begin() + 30));
      EXPECT_EQ(Bytes(decoded.pixels.begin() + 20, decoded.pixels.begin() + 30),
                Bytes(pixels.begin() + 10, pixels.begin() + 20));
    } else {
      EXPECT_EQ(sequential, Bytes(pixels.begin(), pixels.begin() + 40));
    }
  }
  // One row of 3 from data of 12 pixels; a single pixel from a longer string.
  EXPECT_EQ(Decode(Encode(Bytes(12, 9), 12, 1, false, 4), 3, 1, false).pixels, Bytes(3, 9));
  EXPECT_EQ(Decode(Encode(Bytes(12, 9), 12, 1, true, 4), 1, 1, true).pixels, Bytes(1, 9));
}

TEST(GifLzwDecode, DataThatStopEarlyCountThePixelsThatCame) {
  const Bytes pixels = RandomIndices(200, 8, 11);
  Bytes data = Encode(pixels, 20, 10, false, 8);
  // Drop the terminator and the last sub-block's tail: the data stop with no end code.
  data.resize(data.size() - 40);
  TDecoded decoded = Decode(data, 20, 10, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.position, static_cast<std::int64_t>(data.size()));
  std::size_t same = 0;
  while (same < pixels.size() && decoded.pixels[same] == pixels[same]) ++same;
  EXPECT_GT(same, 100u);
  for (std::size_t i = same; i < pixels.size(); ++i) ASSERT_EQ(decoded.pixels[i], 0xEE) << i;
  EXPECT_EQ(decoded.count, static_cast<std::int64_t>(same));

  // A sub-block count larger than what remains ends the data with what is there.
  Bytes lying = PackCodes(2, {4, 1, 2, 3, 5});
  lying[1] = 200;
  lying.pop_back();
  decoded = Decode(lying, 3, 1, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.pixels, (Bytes{1, 2, 3}));
  EXPECT_EQ(decoded.count, 3);
  EXPECT_EQ(decoded.position, static_cast<std::int64_t>(lying.size()));
}

TEST(GifLzwDecode, SmallSubBlocksAndTheLastCodeInTheLastByte) {
  // Three-bit codes: the end code may share the last byte with a data code; both are read.
  const Bytes pixels{1, 2, 3};
  const Bytes data = Encode(pixels, 3, 1, false, 2);
  EXPECT_EQ(Decode(data, 3, 1, false).pixels, pixels);
  const Bytes oneByteBlocks = PackCodes(3, {8, 1, 2, 3, 10, 11, 9}, 1);
  const TDecoded decoded = Decode(oneByteBlocks, 7, 1, false);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.pixels, (Bytes{1, 2, 3, 1, 2, 2, 3}));
  EXPECT_EQ(decoded.position, static_cast<std::int64_t>(oneByteBlocks.size()));
}

// ---------------------------------------------------------------- Pillow's coder

struct TIndexPicture {
  int width = 0;
  int height = 0;
  Bytes indices;
};

Bytes IndexFile(const TIndexPicture& picture) {
  Bytes bytes(8);
  PutLE32(bytes.data(), static_cast<std::uint32_t>(picture.width));
  PutLE32(bytes.data() + 4, static_cast<std::uint32_t>(picture.height));
  bytes.insert(bytes.end(), picture.indices.begin(), picture.indices.end());
  return bytes;
}

// The image data of the first image of a GIF file, and whether it is interlaced.
Bytes FirstImageData(const Bytes& file, bool& interlaced) {
  std::size_t at = 13;
  if (file.at(10) & 0x80) at += 3u << ((file[10] & 7) + 1);
  while (file.at(at) == 0x21) {
    at += 2;
    while (file.at(at) != 0) at += 1 + file[at];
    ++at;
  }
  EXPECT_EQ(file.at(at), 0x2C);
  const std::uint8_t flags = file.at(at + 9);
  interlaced = (flags & 0x40) != 0;
  at += 10;
  if (flags & 0x80) at += 3u << ((flags & 7) + 1);
  return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.end());
}

// A one-image GIF around our image data, with a colour table of 2^bits entries.
Bytes GifAround(const Bytes& data, int width, int height, int bits, bool interlaced) {
  Bytes file{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, static_cast<std::uint8_t>(0x80 | (bits - 1)), 0, 0};
  PutLE16(file.data() + 6, static_cast<std::uint32_t>(width));
  PutLE16(file.data() + 8, static_cast<std::uint32_t>(height));
  for (int i = 0; i < (1 << bits); ++i) {
    file.push_back(static_cast<std::uint8_t>(i));
    file.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    file.push_back(static_cast<std::uint8_t>(255 - i));
  }
  Bytes descriptor{0x2C, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(interlaced ? 0x40 : 0)};
  PutLE16(descriptor.data() + 5, static_cast<std::uint32_t>(width));
  PutLE16(descriptor.data() + 7, static_cast<std::uint32_t>(height));
  file.insert(file.end(), descriptor.begin(), descriptor.end());
  file.insert(file.end(), data.begin(), data.end());
  file.push_back(0x3B);
  return file;
}

TIndexPicture ReadIndexFile(const std::string& path) {
  const Bytes bytes = test::ReadWholeFile(path);
  TIndexPicture picture;
  if (bytes.size() < 8) return picture;
  picture.width = static_cast<int>(GetLE32(bytes.data()));
  picture.height = static_cast<int>(GetLE32(bytes.data() + 4));
  picture.indices.assign(bytes.begin() + 8, bytes.end());
  return picture;
}

struct TPillowCase {
  int width;
  int height;
  int bits;
  bool interlaced;
};

const TPillowCase kPillowCases[] = {
    {1, 1, 1, false},     {5, 3, 2, false},    {17, 9, 3, true},    {64, 40, 4, true},
    {257, 130, 8, false}, {300, 203, 8, true}, {123, 77, 5, false}, {400, 300, 7, true},
};

TEST(GifLzwInterop, WeDecodePillowsData) {
  test::TTempDir dir;
  for (const TPillowCase& c : kPillowCases) {
    const TIndexPicture source{c.width, c.height,
                               (c.width * c.height) % 2
                                   ? RandomIndices(static_cast<std::size_t>(c.width) * c.height, c.bits, 5)
                                   : PictureIndices(c.width, c.height, c.bits, 5)};
    test::WriteWholeFile(dir.File("in.idx"), IndexFile(source));
    ASSERT_TRUE(test::RunPythonTool("lzw_tool.py", {"encode", dir.File("in.idx"), dir.File("pillow.gif"),
                                                    std::to_string(c.bits), c.interlaced ? "1" : "0"}));
    ASSERT_TRUE(test::RunPythonTool("lzw_tool.py", {"decode", dir.File("pillow.gif"), dir.File("back.idx")}));
    const TIndexPicture pillows = ReadIndexFile(dir.File("back.idx"));
    ASSERT_EQ(pillows.indices.size(), source.indices.size());
    bool interlaced = false;
    const Bytes data = FirstImageData(test::ReadWholeFile(dir.File("pillow.gif")), interlaced);
    const TDecoded decoded = Decode(data, c.width, c.height, interlaced);
    EXPECT_TRUE(decoded.ok) << c.width << "x" << c.height;
    EXPECT_EQ(decoded.pixels, pillows.indices) << c.width << "x" << c.height;
    EXPECT_EQ(decoded.pixels, source.indices) << c.width << "x" << c.height;
  }
}

TEST(GifLzwInterop, PillowDecodesOurData) {
  test::TTempDir dir;
  for (const TPillowCase& c : kPillowCases) {
    const Bytes indices = (c.width + c.height) % 2
                              ? RandomIndices(static_cast<std::size_t>(c.width) * c.height, c.bits, 6)
                              : PictureIndices(c.width, c.height, c.bits, 6);
    const int bits = std::max(c.bits, 2);
    test::WriteWholeFile(dir.File("ours.gif"),
                         GifAround(Encode(indices, c.width, c.height, c.interlaced, c.bits), c.width,
                                   c.height, bits, c.interlaced));
    ASSERT_TRUE(test::RunPythonTool("lzw_tool.py", {"decode", dir.File("ours.gif"), dir.File("back.idx")}));
    const TIndexPicture back = ReadIndexFile(dir.File("back.idx"));
    EXPECT_EQ(back.width, c.width);
    EXPECT_EQ(back.height, c.height);
    EXPECT_EQ(back.indices, indices) << c.width << "x" << c.height;
  }
}

// ---------------------------------------------------------------- start-up wiring

TEST(LzwCoders, InstallFillsTheHooksThatNewParameterRecordsCopy) {
  const test::TScopedLzwHooks none(test::TScopedLzwHooks::kNone);
  const TIOParams before;
  EXPECT_EQ(before.GifLzwDecompress, nullptr);
  InstallLzwCoders();
  const TLzwHooks& hooks = GlobalLzwHooks();
  EXPECT_EQ(hooks.gifDecompress, &GifLzwDecode);
  EXPECT_EQ(hooks.gifCompress, &GifLzwEncode);
  EXPECT_EQ(hooks.tiffDecompress, &TiffLzwDecode);
  EXPECT_EQ(hooks.tiffCompress, &TiffLzwEncode);
  const TIOParams after;
  EXPECT_EQ(after.GifLzwDecompress, &GifLzwDecode);
  EXPECT_EQ(after.GifLzwCompress, &GifLzwEncode);
  EXPECT_EQ(after.TiffLzwDecompress, &TiffLzwDecode);
  EXPECT_EQ(after.TiffLzwCompress, &TiffLzwEncode);
  EXPECT_EQ(before.TiffLzwDecompress, nullptr);
}

}  // namespace
}  // namespace veilora
