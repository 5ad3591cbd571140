#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "io/ColorQuantizer.h"
#include "io/FaxCodec.h"
#include "io/LzwCoders.h"
#include "io/PackBits.h"
#include "io/TiffCodec.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::BitAt;
using veilora::test::FillRandom;
using veilora::test::Paint;
using veilora::test::PixelBytesTopDown;
using veilora::test::Rgb;
using veilora::test::SetPixel;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------- reading what was written

// A little-endian TIFF taken apart the plain way, to check the writer against.
struct Entry {
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t value = 0;  // the raw 4-byte value field
};

struct Directory {
  std::uint32_t offset = 0;
  std::vector<std::uint16_t> tags;  // in file order
  std::map<std::uint16_t, Entry> entries;
  std::uint32_t next = 0;

  bool Has(std::uint16_t tag) const { return entries.count(tag) != 0; }
};

struct Parsed {
  std::vector<Directory> directories;
  bool loops = false;
};

// Walks the chain; fails the test on anything that reaches outside the file.
Parsed Parse(const Bytes& file, std::size_t start = 0) {
  Parsed parsed;
  EXPECT_GE(file.size(), start + 8);
  if (file.size() < start + 8) return parsed;
  const std::uint8_t* base = file.data() + start;
  const std::size_t size = file.size() - start;
  EXPECT_EQ(base[0], 'I');
  EXPECT_EQ(base[1], 'I');
  EXPECT_EQ(GetLE16(base + 2), 42);
  std::uint32_t offset = GetLE32(base + 4);
  std::set<std::uint32_t> seen;
  while (offset != 0) {
    if (!seen.insert(offset).second) {
      parsed.loops = true;
      break;
    }
    EXPECT_LE(std::size_t{offset} + 2, size);
    if (std::size_t{offset} + 2 > size) break;
    Directory d;
    d.offset = offset;
    const std::size_t n = GetLE16(base + offset);
    EXPECT_LE(offset + 2 + 12 * n + 4, size);
    if (offset + 2 + 12 * n + 4 > size) break;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t* e = base + offset + 2 + 12 * i;
      d.tags.push_back(GetLE16(e));
      d.entries[GetLE16(e)] = Entry{GetLE16(e + 2), GetLE32(e + 4), GetLE32(e + 8)};
    }
    d.next = GetLE32(base + offset + 2 + 12 * n);
    // Entries must come in ascending tag order, each tag once.
    for (std::size_t i = 1; i < d.tags.size(); ++i) EXPECT_LT(d.tags[i - 1], d.tags[i]);
    parsed.directories.push_back(d);
    offset = d.next;
  }
  return parsed;
}

std::size_t TypeBytes(std::uint16_t type) {
  return type == 3 ? 2 : type == 5 ? 8 : type == 4 ? 4 : 1;
}

// The bytes of an entry's values, wherever they are.
Bytes ValueBytes(const Bytes& file, const Entry& e, std::size_t start = 0) {
  const std::size_t bytes = TypeBytes(e.type) * e.count;
  Bytes out;
  if (bytes <= 4) {
    for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(e.value >> (8 * i)));
    return out;
  }
  EXPECT_LE(start + e.value + bytes, file.size());
  if (start + e.value + bytes > file.size()) return out;
  return Bytes(file.begin() + static_cast<std::ptrdiff_t>(start + e.value),
               file.begin() + static_cast<std::ptrdiff_t>(start + e.value + bytes));
}

// Value i of a SHORT or LONG entry.
std::uint32_t Number(const Bytes& file, const Directory& d, std::uint16_t tag, std::size_t i = 0,
                     std::size_t start = 0) {
  const auto it = d.entries.find(tag);
  EXPECT_NE(it, d.entries.end()) << "tag " << tag;
  if (it == d.entries.end()) return 0;
  const Bytes v = ValueBytes(file, it->second, start);
  if (it->second.type == 3) return v.size() >= 2 * i + 2 ? GetLE16(v.data() + 2 * i) : 0;
  return v.size() >= 4 * i + 4 ? GetLE32(v.data() + 4 * i) : 0;
}

std::string Text(const Bytes& file, const Directory& d, std::uint16_t tag) {
  const Bytes v = ValueBytes(file, d.entries.at(tag));
  EXPECT_FALSE(v.empty());
  EXPECT_EQ(v.back(), 0);
  return std::string(v.begin(), v.end() - 1);
}

Bytes Strip(const Bytes& file, const Directory& d, std::size_t start = 0) {
  const std::size_t offset = start + Number(file, d, 273);
  const std::size_t count = Number(file, d, 279);
  EXPECT_LE(offset + count, file.size());
  if (offset + count > file.size()) return {};
  return Bytes(file.begin() + static_cast<std::ptrdiff_t>(offset),
               file.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

// The image's rows in file order: red, green, blue for 24-bit, the packed rows for 1-bit.
Bytes FileRows(const TBitmap& bitmap) {
  if (bitmap.PixelFormat() == pf1bit) return PixelBytesTopDown(bitmap);
  Bytes rows = PixelBytesTopDown(bitmap);
  for (std::size_t i = 0; i + 2 < rows.size(); i += 3) std::swap(rows[i], rows[i + 2]);
  return rows;
}

// ---------------------------------------------------------------- running the writer

struct WriteResult {
  Bytes file;
  std::int32_t count = 0;
  bool aborted = false;
};

WriteResult Write(TBitmap& bitmap, TIOParams& params, bool append = false, Bytes existing = {}) {
  WriteResult r;
  TMemoryStream stream(std::move(existing));
  r.count = TiffWriteStream(stream, append, bitmap, params, TProgressContext{{}, nullptr, &r.aborted});
  r.file = stream.Data();
  return r;
}

// A record with fixed resolution, as a saved document has, and no LZW coder unless a test sets one.
TIOParams Params() {
  TIOParams params;
  params.DpiX = 72;
  params.DpiY = 300;
  params.TiffLzwCompress = nullptr;
  return params;
}

// Takes the process-wide TIFF LZW coder out (or puts a fake one in) for one test.
struct ScopedGlobalLzw {
  explicit ScopedGlobalLzw(TTiffLzwCompress coder) : saved(GlobalLzwHooks().tiffCompress) {
    GlobalLzwHooks().tiffCompress = coder;
  }
  ~ScopedGlobalLzw() { GlobalLzwHooks().tiffCompress = saved; }
  TTiffLzwCompress saved;
};

void PutLE(Bytes& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutEntry(Bytes& out, std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
  PutLE(out, tag, 2);
  PutLE(out, type, 2);
  PutLE(out, count, 4);
  PutLE(out, value, 4);
}

// ---------------------------------------------------------------- golden files

TEST(TiffWriteGolden, TwoByTwoTrueColourWithDefaultParameters) {
  TBitmap image;
  Paint(image, 2, {Rgb(1, 2, 3), Rgb(4, 5, 6), Rgb(7, 8, 9), Rgb(10, 11, 12)});
  TIOParams params = Params();
  const WriteResult r = Write(image, params);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(r.count, 1);

  Bytes expected = {'I', 'I', 42, 0};
  PutLE(expected, 64, 4);                                                          // the directory at 64
  for (int i = 0; i < 3; ++i) PutLE(expected, 8, 4);                               // 8: BitsPerSample 8, 8, 8
  for (int v = 1; v <= 12; ++v) expected.push_back(static_cast<std::uint8_t>(v));  // 20: the strip
  PutLE(expected, 72, 4);                                                          // 32: XResolution 72/1
  PutLE(expected, 1, 4);
  PutLE(expected, 300, 4);  // 40: YResolution 300/1
  PutLE(expected, 1, 4);
  PutLE(expected, 0, 4);  // 48: XPosition 0/10000
  PutLE(expected, 10000, 4);
  PutLE(expected, 0, 4);  // 56: YPosition 0/10000
  PutLE(expected, 10000, 4);
  PutLE(expected, 14, 2);  // 64: the directory
  PutEntry(expected, 256, 4, 1, 2);
  PutEntry(expected, 257, 4, 1, 2);
  PutEntry(expected, 258, 4, 3, 8);
  PutEntry(expected, 259, 3, 1, 1);
  PutEntry(expected, 262, 3, 1, 2);
  PutEntry(expected, 273, 4, 1, 20);
  PutEntry(expected, 277, 3, 1, 3);
  PutEntry(expected, 278, 4, 1, 2);
  PutEntry(expected, 279, 4, 1, 12);
  PutEntry(expected, 282, 5, 1, 32);
  PutEntry(expected, 283, 5, 1, 40);
  PutEntry(expected, 286, 5, 1, 48);
  PutEntry(expected, 287, 5, 1, 56);
  PutEntry(expected, 296, 3, 1, 2);
  PutLE(expected, 0, 4);
  EXPECT_EQ(r.file, expected);
}

TEST(TiffWriteGolden, TwoColourWithTextsPositionsAndPageNumbers) {
  // A text of up to 4 bytes with its zero sits in its entry; a 7-byte page name leaves the
  // directory one byte short of even.
  TBitmap image(10, 2, pf1bit);
  image.ScanLine(0)[0] = 0xA5;
  image.ScanLine(0)[1] = 0xFF;  // only the top two bits are pixels
  image.ScanLine(1)[0] = 0x0F;
  image.ScanLine(1)[1] = 0x40;
  TIOParams params = Params();
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  params.TiffPhotometric = 1;
  params.TiffDocumentName = "Doc";
  params.TiffPageName = "Page 1";
  params.TiffXPos = 2;
  params.TiffYPos = 3;
  params.TiffPageNumber = 1;
  params.TiffPageCount = 4;
  const WriteResult r = Write(image, params);
  ASSERT_FALSE(r.aborted);

  Bytes expected = {'I', 'I', 42, 0};
  PutLE(expected, 52, 4);
  expected.insert(expected.end(), {0xA5, 0xC0, 0x0F, 0x40});  // 8: the strip, spare bits clear
  PutLE(expected, 72, 4);                                     // 12: XResolution
  PutLE(expected, 1, 4);
  PutLE(expected, 300, 4);  // 20: YResolution
  PutLE(expected, 1, 4);
  expected.insert(expected.end(), {'P', 'a', 'g', 'e', ' ', '1', 0});  // 28: PageName
  PutLE(expected, 20000, 4);                                           // 35: XPosition 2 inches
  PutLE(expected, 10000, 4);
  PutLE(expected, 30000, 4);  // 43: YPosition 3 inches
  PutLE(expected, 10000, 4);
  expected.push_back(0);   // 51: pad to even
  PutLE(expected, 17, 2);  // 52: the directory
  PutEntry(expected, 256, 4, 1, 10);
  PutEntry(expected, 257, 4, 1, 2);
  PutEntry(expected, 258, 3, 1, 1);
  PutEntry(expected, 259, 3, 1, 1);
  PutEntry(expected, 262, 3, 1, 1);
  PutEntry(expected, 269, 2, 4, 'D' | 'o' << 8 | 'c' << 16);
  PutEntry(expected, 273, 4, 1, 8);
  PutEntry(expected, 277, 3, 1, 1);
  PutEntry(expected, 278, 4, 1, 2);
  PutEntry(expected, 279, 4, 1, 4);
  PutEntry(expected, 282, 5, 1, 12);
  PutEntry(expected, 283, 5, 1, 20);
  PutEntry(expected, 285, 2, 7, 28);
  PutEntry(expected, 286, 5, 1, 35);
  PutEntry(expected, 287, 5, 1, 43);
  PutEntry(expected, 296, 3, 1, 2);
  PutEntry(expected, 297, 3, 2, 1 | 4 << 16);
  PutLE(expected, 0, 4);
  EXPECT_EQ(r.file, expected);
}

TEST(TiffWriteLayout, ValuesBeforeTheStripAreBitsPerSampleThenTheTwoTexts) {
  TBitmap image(3, 3, pf24bit);
  FillRandom(image, 3);
  TIOParams params = Params();
  params.TiffDocumentName = "document";
  params.TiffImageDescription = "a description";
  params.TiffPhotometric = 5;
  const WriteResult r = Write(image, params);
  const Parsed p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  const Directory& d = p.directories[0];
  const Entry& bits = d.entries.at(258);
  EXPECT_EQ(bits.type, 4);
  EXPECT_EQ(bits.count, 4u);
  EXPECT_EQ(bits.value, 8u);
  EXPECT_EQ(d.entries.at(269).value, 8u + 16);
  EXPECT_EQ(d.entries.at(270).value, 8u + 16 + 9);
  EXPECT_EQ(Number(r.file, d, 273), 8u + 16 + 9 + 14);
  EXPECT_EQ(Text(r.file, d, 269), "document");
  EXPECT_EQ(Text(r.file, d, 270), "a description");
  EXPECT_FALSE(d.Has(285));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Number(r.file, d, 258, i), 8u);
  EXPECT_EQ(d.offset % 2, 0u);
}

TEST(TiffWriteLayout, ValuesOutsideTheirFieldsAreHeldAtTheEnds) {
  // RATIONAL and SHORT fields hold no negative numbers; wrapping would write nonsense resolutions.
  TBitmap image(2, 2, pf24bit);
  TIOParams params = Params();
  params.DpiX = -5;
  params.TiffXPos = -1;
  params.TiffYPos = 1000000;
  params.TiffPageNumber = -3;
  params.TiffPageCount = 70000;
  const WriteResult r = Write(image, params);
  const Parsed p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  const Directory& d = p.directories[0];
  EXPECT_EQ(ValueBytes(r.file, d.entries.at(282)), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(ValueBytes(r.file, d.entries.at(286)), (Bytes{0, 0, 0, 0, 0x10, 0x27, 0, 0}));
  EXPECT_EQ(ValueBytes(r.file, d.entries.at(287)), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x27, 0, 0}));
  EXPECT_EQ(Number(r.file, d, 297, 0), 0u);
  EXPECT_EQ(Number(r.file, d, 297, 1), 65535u);
}

// ---------------------------------------------------------------- compression and photometric choices

struct ChoiceCase {
  const char* name;
  int compression;  // TiffCompression
  int photometric;  // TiffPhotometric
  bool twoColour;   // BitsPerSample 1, SamplesPerPixel 1 and a 1-bit bitmap
  std::uint16_t fileCompression;
  std::uint16_t filePhotometric;
};

class TiffWriteChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(TiffWriteChoice, WritesTheTagsAndAStripThatDecodesToTheImage) {
  const ChoiceCase& c = GetParam();
  TBitmap image(23, 7, c.twoColour ? pf1bit : pf24bit);
  FillRandom(image, 9);
  const Bytes before = PixelBytesTopDown(image);
  TIOParams params = Params();
  params.TiffCompression = static_cast<std::uint8_t>(c.compression);
  params.TiffPhotometric = static_cast<std::uint8_t>(c.photometric);
  if (c.twoColour) {
    params.BitsPerSample = 1;
    params.SamplesPerPixel = 1;
  }
  ScopedGlobalLzw noLzw(nullptr);
  const WriteResult r = Write(image, params);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(PixelBytesTopDown(image), before) << "the caller's bitmap changed";
  const Parsed p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  const Directory& d = p.directories[0];
  EXPECT_EQ(Number(r.file, d, 259), c.fileCompression);
  EXPECT_EQ(Number(r.file, d, 262), c.filePhotometric);
  EXPECT_FALSE(d.Has(317)) << "no predictor without LZW";
  EXPECT_EQ(d.Has(292), c.fileCompression == 3);
  EXPECT_EQ(Number(r.file, d, 277), c.twoColour ? 1u : 3u);
  EXPECT_EQ(Number(r.file, d, 278), 7u);

  Bytes rows = FileRows(image);
  if (c.twoColour) {
    // Spare bits past the width are written clear; WhiteIsZero stores every bit inverted.
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (c.filePhotometric == 0) rows[i] = static_cast<std::uint8_t>(~rows[i]);
      if (i % 3 == 2) rows[i] &= 0xFE;
    }
  }
  Bytes strip = Strip(r.file, d);
  if (c.fileCompression == 2 || c.fileCompression == 3 || c.fileCompression == 4) {
    // The fax coder's own output for the same (inverted) rows.
    TMemoryStream expected;
    TFaxOptions options;
    options.scheme = c.fileCompression == 2   ? TFaxScheme::ModifiedHuffman
                     : c.fileCompression == 3 ? TFaxScheme::Group3
                                              : TFaxScheme::Group4;
    options.twoDimensional = c.compression == 3;
    TFaxEncoder encoder(expected, options, 23);
    for (int y = 0; y < 7; ++y) encoder.EncodeRow(rows.data() + 3 * y);
    encoder.Finish();
    EXPECT_EQ(strip, expected.Data());
    // And it decodes to the rows, black as the set bit.
    Bytes decoded(rows.size(), 0);
    EXPECT_EQ(FaxDecodeStrip(strip.data(), strip.size(), options, 23, 7, decoded.data()), 7);
    EXPECT_EQ(decoded, rows);
    if (c.fileCompression == 3) {
      EXPECT_EQ(Number(r.file, d, 292), c.compression == 3 ? 1u : 0u);
    }
    return;
  }
  if (c.fileCompression == 32773) {
    Bytes decoded(rows.size());
    std::size_t produced = 0;
    EXPECT_EQ(PackBitsDecode(strip.data(), strip.size(), decoded.data(), decoded.size(), produced),
              strip.size());
    strip = decoded;
  }
  EXPECT_EQ(strip, rows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TiffWriteChoice,
    testing::Values(
        // True colour: only PackBits and LZW compress it; everything else is stored raw as RGB.
        ChoiceCase{"ColourDefault", 0, 2, false, 1, 2},
        ChoiceCase{"ColourLzwWithoutCoder", 5, 2, false, 1, 2}, ChoiceCase{"ColourGroup4", 4, 2, false, 1, 2},
        ChoiceCase{"ColourGroup3", 2, 2, false, 1, 2}, ChoiceCase{"ColourGroup3TwoD", 3, 2, false, 1, 2},
        ChoiceCase{"ColourHuffman", 1, 2, false, 1, 2}, ChoiceCase{"ColourOldJpeg", 6, 2, false, 1, 2},
        ChoiceCase{"ColourJpeg", 7, 2, false, 1, 2}, ChoiceCase{"ColourNine", 9, 2, false, 1, 2},
        ChoiceCase{"ColourPackBits", 8, 2, false, 32773, 2},
        ChoiceCase{"ColourWhiteIsZeroIsRgb", 0, 0, false, 1, 2},
        ChoiceCase{"ColourBlackIsZeroIsRgb", 0, 1, false, 1, 2},
        ChoiceCase{"ColourPaletteIsRgb", 0, 3, false, 1, 2},
        ChoiceCase{"ColourLabIsRgb", 8, 7, false, 32773, 2},
        // Two colours.
        ChoiceCase{"BilevelBlackIsZero", 0, 1, true, 1, 1},
        ChoiceCase{"BilevelWhiteIsZero", 0, 0, true, 1, 0},
        ChoiceCase{"BilevelRgbBecomesGrey", 0, 2, true, 1, 1},
        ChoiceCase{"BilevelCmykBecomesGrey", 0, 5, true, 1, 1},
        ChoiceCase{"BilevelPackBits", 8, 1, true, 32773, 1},
        ChoiceCase{"BilevelPackBitsWhiteIsZero", 8, 0, true, 32773, 0},
        ChoiceCase{"BilevelLzwWithoutCoder", 5, 1, true, 1, 1},
        ChoiceCase{"BilevelHuffman", 1, 1, true, 2, 0}, ChoiceCase{"BilevelGroup3", 2, 1, true, 3, 0},
        ChoiceCase{"BilevelGroup3TwoD", 3, 2, true, 3, 0}, ChoiceCase{"BilevelGroup4", 4, 0, true, 4, 0}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TiffWriteCmyk, BlackIsWhatTheBrightestChannelLacks) {
  TBitmap image;
  Paint(image, 3,
        {Rgb(255, 0, 0), Rgb(10, 20, 30), Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(200, 100, 50), Rgb(7, 7, 7)});
  TIOParams params = Params();
  params.TiffPhotometric = 5;
  const WriteResult r = Write(image, params);
  const Parsed p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  const Directory& d = p.directories[0];
  EXPECT_EQ(Number(r.file, d, 262), 5u);
  EXPECT_EQ(Number(r.file, d, 277), 4u);
  EXPECT_EQ(d.entries.at(258).count, 4u);
  // K = 255 - max, C = 255 (max - R) / max truncated, likewise M and Y; black has no colour ink.
  const Bytes expected = {0, 255, 255, 0, 170, 85,  0,   225, 0, 0, 0, 255,
                          0, 0,   0,   0, 0,   127, 191, 55,  0, 0, 0, 248};
  EXPECT_EQ(Strip(r.file, d), expected);
}

TEST(TiffWriteTwoColour, TwoColoursMapDarkerToBlackOtherImagesAreDithered) {
  TIOParams params = Params();
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  params.TiffPhotometric = 1;

  // Exactly two colours: the darker one becomes black, whichever is met first.
  TBitmap twoColours;
  Paint(twoColours, 4, {Rgb(250, 250, 0), Rgb(20, 0, 90), Rgb(20, 0, 90), Rgb(250, 250, 0)});
  const Bytes before = PixelBytesTopDown(twoColours);
  WriteResult r = Write(twoColours, params);
  Parsed p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  EXPECT_EQ(Number(r.file, p.directories[0], 258), 1u);
  EXPECT_EQ(Strip(r.file, p.directories[0]), Bytes{0x90});
  EXPECT_EQ(PixelBytesTopDown(twoColours), before);

  // Many colours: the ordered dither of the shared colour reduction.
  TBitmap photo(19, 6, pf24bit);
  FillRandom(photo, 4);
  TBitmap dithered;
  CopyBitmap(photo, dithered);
  DitherTo1Bit(dithered, TProgressContext{});
  r = Write(photo, params);
  p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  Bytes rows = PixelBytesTopDown(dithered);
  for (std::size_t i = 2; i < rows.size(); i += 3) rows[i] &= 0xE0;
  EXPECT_EQ(Strip(r.file, p.directories[0]), rows);
  EXPECT_EQ(photo.PixelFormat(), pf24bit);
}

TEST(TiffWriteTwoColour, AOneBitBitmapWithColourParametersIsWrittenAsRgb) {
  TBitmap image(9, 2, pf1bit);
  image.ScanLine(0)[0] = 0x80;
  TIOParams params = Params();  // 8 bits, 3 samples
  const WriteResult r = Write(image, params);
  const Parsed p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  const Bytes strip = Strip(r.file, p.directories[0]);
  ASSERT_EQ(strip.size(), 9u * 2 * 3);
  EXPECT_EQ(strip[0], 255);
  EXPECT_EQ(strip[3], 0);
  EXPECT_EQ(Number(r.file, p.directories[0], 262), 2u);
}

// ---------------------------------------------------------------- LZW through the hooks

// A stand-in coder that keeps each row it is given and stores it raw, then "END" when closed; its
// state pointer counts the calls, so that a missing closing call shows.
struct FakeLzw {
  static inline std::vector<Bytes> rows;
  static inline int opened = 0;
  static inline int closed = 0;
  static inline int other = 0;  // calls of the second coder

  static void Reset() {
    rows.clear();
    opened = closed = other = 0;
  }
  static void Code(const std::uint8_t* row, std::int32_t length, TStream& output, TTiffLzwEncoder*& state) {
    if (row == nullptr) {
      output.Write("END", 3);
      ++closed;
      state = nullptr;
      return;
    }
    if (state == nullptr) {
      ++opened;
      state = reinterpret_cast<TTiffLzwEncoder*>(&opened);
    }
    rows.emplace_back(row, row + length);
    output.Write(row, static_cast<std::size_t>(length));
  }
  static void Other(const std::uint8_t* row, std::int32_t length, TStream& output, TTiffLzwEncoder*& state) {
    ++other;
    Code(row, length, output, state);
  }
};

// Horizontal differencing: each sample minus the same sample of the pixel to its left.
Bytes Differences(const Bytes& rows, std::size_t rowBytes, std::size_t samples) {
  Bytes out = rows;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i % rowBytes >= samples) out[i] = static_cast<std::uint8_t>(rows[i] - rows[i - samples]);
  }
  return out;
}

struct LzwCase {
  const char* name;
  int bitsPerSample;
  int samplesPerPixel;
  int photometric;
  bool predictor;
  std::size_t samples;  // in the file
};

class TiffWriteLzw : public testing::TestWithParam<LzwCase> {};

TEST_P(TiffWriteLzw, CodesRowByRowWithThePredictorWhereItApplies) {
  const LzwCase& c = GetParam();
  const bool bilevel = c.bitsPerSample == 1 && c.samplesPerPixel == 1;
  TBitmap image(13, 5, bilevel ? pf1bit : pf24bit);
  FillRandom(image, 21);
  TIOParams params = Params();
  params.BitsPerSample = c.bitsPerSample;
  params.SamplesPerPixel = c.samplesPerPixel;
  params.TiffPhotometric = static_cast<std::uint8_t>(c.photometric);
  params.TiffCompression = 5;
  params.TiffLzwCompress = &FakeLzw::Code;
  FakeLzw::Reset();
  const WriteResult r = Write(image, params);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(FakeLzw::opened, 1);
  EXPECT_EQ(FakeLzw::closed, 1);
  ASSERT_EQ(FakeLzw::rows.size(), 5u);

  const Parsed p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  const Directory& d = p.directories[0];
  EXPECT_EQ(Number(r.file, d, 259), 5u);
  EXPECT_EQ(d.Has(317), c.predictor);
  if (c.predictor) {
    EXPECT_EQ(Number(r.file, d, 317), 2u);
  }

  Bytes rows;
  if (c.samples == 4) {
    const Bytes rgb = FileRows(image);
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
      const int max = std::max({rgb[i], rgb[i + 1], rgb[i + 2]});
      for (int k = 0; k < 3; ++k) {
        rows.push_back(static_cast<std::uint8_t>(max == 0 ? 0 : 255 * (max - rgb[i + k]) / max));
      }
      rows.push_back(static_cast<std::uint8_t>(255 - max));
    }
  } else {
    rows = FileRows(image);
    if (bilevel) {
      for (std::size_t i = 1; i < rows.size(); i += 2) rows[i] &= 0xF8;
    }
  }
  const std::size_t rowBytes = bilevel ? 2 : 13 * c.samples;
  if (c.predictor) rows = Differences(rows, rowBytes, c.samples);
  Bytes given;
  for (const Bytes& row : FakeLzw::rows) {
    EXPECT_EQ(row.size(), rowBytes);
    given.insert(given.end(), row.begin(), row.end());
  }
  EXPECT_EQ(given, rows);
  // The strip is everything the coder wrote, its closing bytes included.
  Bytes strip = Strip(r.file, d);
  EXPECT_EQ(Bytes(strip.end() - 3, strip.end()), (Bytes{'E', 'N', 'D'}));
  EXPECT_EQ(strip.size(), rows.size() + 3);
}

INSTANTIATE_TEST_SUITE_P(Cases, TiffWriteLzw,
                         testing::Values(LzwCase{"Rgb", 8, 3, 2, true, 3},
                                         LzwCase{"PaletteDepthStillRgbWithPredictor", 8, 1, 2, true, 3},
                                         LzwCase{"SixteenBitsNoPredictor", 16, 3, 2, false, 3},
                                         LzwCase{"FourBitsNoPredictor", 4, 1, 2, false, 3},
                                         LzwCase{"CmykWithPredictor", 8, 3, 5, true, 4},
                                         LzwCase{"BilevelNoPredictor", 1, 1, 1, false, 1}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(TiffWriteLzwHooks, TheRecordsCoderComesFirstThenTheGlobalOne) {
  TBitmap image(4, 2, pf24bit);
  FillRandom(image, 1);
  TIOParams params = Params();
  params.TiffCompression = 5;

  ScopedGlobalLzw global(&FakeLzw::Other);
  params.TiffLzwCompress = &FakeLzw::Code;
  FakeLzw::Reset();
  WriteResult r = Write(image, params);
  EXPECT_EQ(FakeLzw::other, 0);
  EXPECT_EQ(FakeLzw::rows.size(), 2u);

  params.TiffLzwCompress = nullptr;
  FakeLzw::Reset();
  r = Write(image, params);
  EXPECT_EQ(FakeLzw::other, 3);  // two rows and the closing call
  const Parsed p = Parse(r.file);
  ASSERT_EQ(p.directories.size(), 1u);
  EXPECT_EQ(Number(r.file, p.directories[0], 259), 5u);
}

// ---------------------------------------------------------------- progress and Aborting

TEST(TiffWriteProgress, ReportsEveryRowAndStopsWhenAborted) {
  TBitmap image(8, 10, pf24bit);
  FillRandom(image, 2);
  TIOParams params = Params();
  TObject sender;
  std::vector<int> reported;
  bool aborting = false;
  TProgressContext progress{[&](TObject&, int percent) { reported.push_back(percent); }, &sender, &aborting};
  TMemoryStream stream;
  EXPECT_EQ(TiffWriteStream(stream, false, image, params, progress), 1);
  EXPECT_EQ(reported, (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}));

  // Aborted at the fourth row, with an LZW strip open: the coder is still closed, no directory is
  // written and the header stays a placeholder.
  for (const bool lzw : {false, true}) {
    reported.clear();
    FakeLzw::Reset();
    params.TiffCompression = lzw ? 5 : 0;
    params.TiffLzwCompress = &FakeLzw::Code;
    progress.onProgress = [&](TObject&, int percent) {
      reported.push_back(percent);
      if (reported.size() == 4) aborting = true;
    };
    aborting = false;
    TMemoryStream cut;
    EXPECT_EQ(TiffWriteStream(cut, false, image, params, progress), 0);
    EXPECT_TRUE(aborting);
    EXPECT_EQ(reported.size(), 4u);
    EXPECT_EQ(cut.Size(), 8 + 12 + 3 * 24 + (lzw ? 3 : 0));
    EXPECT_EQ(GetLE32(cut.Data().data()), 0u);
    EXPECT_EQ(FakeLzw::closed, lzw ? 1 : 0);
  }
}

TEST(TiffWriteProgress, AnEmptyBitmapIsRefused) {
  TBitmap empty;
  TIOParams params = Params();
  const WriteResult r = Write(empty, params);
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(r.count, 0);
  EXPECT_TRUE(r.file.empty());
}

// ---------------------------------------------------------------- append

// A file of `n` images of different widths (1..n), written the way a user builds one.
Bytes FileOf(int n) {
  Bytes file;
  for (int i = 0; i < n; ++i) {
    TBitmap image(i + 1, 2, pf24bit);
    FillRandom(image, static_cast<std::uint32_t>(i));
    TIOParams params = Params();
    params.TiffImageIndex = 1000;
    const WriteResult r = Write(image, params, i > 0, file);
    EXPECT_EQ(r.count, i + 1);
    file = r.file;
  }
  return file;
}

std::vector<std::uint32_t> Widths(const Bytes& file, std::size_t start = 0) {
  const Parsed p = Parse(file, start);
  EXPECT_FALSE(p.loops);
  std::vector<std::uint32_t> widths;
  for (const Directory& d : p.directories) widths.push_back(Number(file, d, 256, 0, start));
  return widths;
}

struct AppendCase {
  const char* name;
  int existing;
  int index;
  std::vector<std::uint32_t> widths;  // of the chain afterwards; the new image is 99 wide
};

class TiffAppend : public testing::TestWithParam<AppendCase> {};

TEST_P(TiffAppend, LinksTheImageInAtItsIndex) {
  const AppendCase& c = GetParam();
  // A file whose header links to no directory holds no images.
  const Bytes existing = c.existing > 0 ? FileOf(c.existing) : Bytes{'I', 'I', 42, 0, 0, 0, 0, 0};
  TBitmap image(99, 3, pf24bit);
  FillRandom(image, 99);
  TIOParams params = Params();
  params.TiffImageIndex = c.index;
  params.TiffCompression = 8;
  const WriteResult r = Write(image, params, true, existing);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(r.count, c.existing + 1);
  EXPECT_EQ(Widths(r.file), c.widths);
  // The old images' bytes stay where they were; only one link changed.
  std::size_t changed = 0;
  for (std::size_t i = 0; i < existing.size(); ++i) changed += existing[i] != r.file[i];
  EXPECT_LE(changed, 4u);
  // And the new image's pixels are there.
  const Parsed p = Parse(r.file);
  for (const Directory& d : p.directories) {
    if (Number(r.file, d, 256) != 99) continue;
    const Bytes strip = Strip(r.file, d);
    Bytes decoded(99 * 3 * 3);
    std::size_t produced = 0;
    PackBitsDecode(strip.data(), strip.size(), decoded.data(), decoded.size(), produced);
    EXPECT_EQ(decoded, FileRows(image));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TiffAppend,
                         testing::Values(AppendCase{"FirstOfOne", 1, 0, {99, 1}},
                                         AppendCase{"AfterOne", 1, 1, {1, 99}},
                                         AppendCase{"BeyondOne", 1, 7, {1, 99}},
                                         AppendCase{"FirstOfThree", 3, 0, {99, 1, 2, 3}},
                                         AppendCase{"MiddleOfThree", 3, 1, {1, 99, 2, 3}},
                                         AppendCase{"SecondToLast", 3, 2, {1, 2, 99, 3}},
                                         AppendCase{"LastOfThree", 3, 3, {1, 2, 3, 99}},
                                         AppendCase{"NegativeGoesLast", 3, -1, {1, 2, 3, 99}},
                                         AppendCase{"EmptyChain", 0, 0, {99}}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(TiffAppendRefused, BigEndianOrForeignFilesAreLeftAlone) {
  TBitmap image(5, 5, pf24bit);
  FillRandom(image, 5);
  for (const Bytes& existing : {Bytes{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0},        // big-endian
                                Bytes{'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // BigTIFF
                                Bytes{'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8}, Bytes{'I', 'I', 42}, Bytes{}}) {
    TIOParams params = Params();
    TMemoryStream stream(existing);
    bool aborted = false;
    EXPECT_EQ(TiffWriteStream(stream, true, image, params, TProgressContext{{}, nullptr, &aborted}), 0);
    EXPECT_TRUE(aborted);
    EXPECT_EQ(stream.Data(), existing);
    EXPECT_EQ(stream.Position(), 0);
  }
}

TEST(TiffAppendChain, ALoopingChainIsWalkedOnceAndEndsAtTheNewImage) {
  Bytes file = FileOf(3);
  Parsed p = Parse(file);
  ASSERT_EQ(p.directories.size(), 3u);
  // The third directory's link points back to the second.
  const std::uint32_t third = p.directories[2].offset;
  PutLE32(file.data() + third + 2 + 12 * p.directories[2].tags.size(), p.directories[1].offset);
  p = Parse(file);
  ASSERT_TRUE(p.loops);

  TBitmap image(99, 1, pf24bit);
  TIOParams params = Params();
  params.TiffImageIndex = 50;
  const WriteResult r = Write(image, params, true, file);
  EXPECT_EQ(r.count, 4);
  EXPECT_EQ(Widths(r.file), (std::vector<std::uint32_t>{1, 2, 3, 99}));
}

TEST(TiffAppendChain, ALinkToAMissingDirectoryIsReplaced) {
  Bytes file = FileOf(2);
  PutLE32(file.data() + 4, 0x7FFFFFF0);  // the header's link points far past the end
  TBitmap image(99, 1, pf24bit);
  TIOParams params = Params();
  params.TiffImageIndex = 3;
  const WriteResult r = Write(image, params, true, file);
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(Widths(r.file), (std::vector<std::uint32_t>{99}));
}

TEST(TiffAppendChain, DamagedChainsNeverLeadOutsideTheFile) {
  // Random directories and links, many pointing nowhere, at odd places or at each other: the walk
  // stays inside the stream, ends, changes one link at most and always leaves the new image
  // reachable from the header within the count it returns.
  std::mt19937 random(8);
  for (int trial = 0; trial < 300; ++trial) {
    Bytes file(16 + random() % 120);
    for (std::uint8_t& b : file) b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : random() % 3);
    file[0] = 'I';
    file[1] = 'I';
    file[2] = 42;
    file[3] = 0;
    // Links that mostly land inside the file.
    for (int k = 0; k < 6; ++k) {
      const std::size_t at = 8 + random() % (file.size() - 11);
      PutLE32(file.data() + at, static_cast<std::uint32_t>(random() % (file.size() + 8)));
    }
    PutLE32(file.data() + 4, static_cast<std::uint32_t>(8 + random() % (file.size() - 8)));
    TBitmap image(99, 1, pf24bit);
    TIOParams params = Params();
    params.TiffImageIndex = static_cast<std::int32_t>(random() % 5) - 1;
    const WriteResult r = Write(image, params, true, file);
    ASSERT_FALSE(r.aborted);
    ASSERT_GE(r.count, 1);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < file.size(); ++i) changed += file[i] != r.file[i];
    EXPECT_LE(changed, 4u);
    // Follow the links from the header, r.count steps at most, to the new directory.
    std::uint32_t offset = GetLE32(r.file.data() + 4);
    bool found = false;
    for (int step = 0; step < r.count && !found; ++step) {
      ASSERT_LE(std::size_t{offset} + 2, r.file.size());
      found = offset >= file.size();
      const std::size_t next = offset + 2 + 12 * std::size_t{GetLE16(r.file.data() + offset)};
      ASSERT_LE(next + 4, r.file.size());
      offset = GetLE32(r.file.data() + next);
    }
    EXPECT_TRUE(found) << "trial " << trial;
  }
}

TEST(TiffAppendChain, OffsetsCountFromWhereTheFileStarts) {
  // A file that sits behind 12 other bytes in the stream, as after a stream header.
  Bytes prefix(12, 0x5A);
  TBitmap first(3, 2, pf24bit);
  FillRandom(first, 1);
  TIOParams params = Params();
  TMemoryStream stream(prefix);
  stream.Seek(12);
  bool aborted = false;
  const TProgressContext progress{{}, nullptr, &aborted};
  EXPECT_EQ(TiffWriteStream(stream, false, first, params, progress), 1);
  TBitmap second(4, 2, pf24bit);
  stream.Seek(12);
  params.TiffImageIndex = 1;
  EXPECT_EQ(TiffWriteStream(stream, true, second, params, progress), 2);
  EXPECT_FALSE(aborted);
  EXPECT_EQ(Widths(stream.Data(), 12), (std::vector<std::uint32_t>{3, 4}));
  EXPECT_EQ(Bytes(stream.Data().begin(), stream.Data().begin() + 12), prefix);
  const Parsed p = Parse(stream.Data(), 12);
  ASSERT_EQ(p.directories.size(), 2u);
  EXPECT_EQ(Strip(stream.Data(), p.directories[0], 12), FileRows(first));
}

// ---------------------------------------------------------------- back through our reader

// Clears the bits past the width in a 1-bit image's rows: they are not pixels, and no file keeps them.
void ClearSpareBits(TBitmap& image) {
  if (image.PixelFormat() != pf1bit || image.Width() % 8 == 0) return;
  for (int y = 0; y < image.Height(); ++y) {
    image.ScanLine(y)[image.Width() / 8] &= static_cast<std::uint8_t>(0xFF00u >> (image.Width() % 8));
  }
}

struct ReadBack {
  TBitmap bitmap;
  TIOParams params;
  std::int32_t count = 0;
  bool aborted = false;
};

void ReadTiff(const Bytes& file, ReadBack& out, std::int32_t index = 0) {
  TMemoryStream stream(file);
  out.params.TiffImageIndex = index;
  TiffReadStream(stream, out.bitmap, out.params, false, TProgressContext{{}, nullptr, &out.aborted},
                 &out.count);
}

// Puts the program's LZW coders into the process-wide hooks for one test, as start-up does.
struct ScopedLzwCoders {
  ScopedLzwCoders() : saved(GlobalLzwHooks()) { InstallLzwCoders(); }
  ~ScopedLzwCoders() { GlobalLzwHooks() = saved; }
  TLzwHooks saved;
};

struct RoundTripCase {
  const char* name;
  int compression;
  int photometric;
  bool bilevel;
};

class TiffRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(TiffRoundTrip, ReloadsIdenticalWithItsParameters) {
  const RoundTripCase& c = GetParam();
  ScopedLzwCoders lzw;
  TBitmap image(45, 19, c.bilevel ? pf1bit : pf24bit);
  FillRandom(image, 31);
  ClearSpareBits(image);
  image.FillRect(3, 2, 30, 9, c.bilevel ? clWhite : RGBToColor(12, 200, 77));
  TIOParams params;
  params.DpiX = 200;
  params.DpiY = 100;
  params.TiffCompression = static_cast<std::uint8_t>(c.compression);
  params.TiffPhotometric = static_cast<std::uint8_t>(c.photometric);
  params.TiffDocumentName = "doc";
  params.TiffImageDescription = "what it shows";
  params.TiffPageName = "page";
  params.TiffXPos = 2;
  params.TiffYPos = 5;
  params.TiffPageNumber = 3;
  params.TiffPageCount = 9;
  if (c.bilevel) {
    params.BitsPerSample = 1;
    params.SamplesPerPixel = 1;
  }
  const WriteResult w = Write(image, params);
  ASSERT_FALSE(w.aborted);

  ReadBack r;
  ReadTiff(w.file, r);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(r.count, 1);
  ASSERT_EQ(r.bitmap.PixelFormat(), image.PixelFormat());
  ASSERT_EQ(r.bitmap.Width(), 45);
  ASSERT_EQ(r.bitmap.Height(), 19);
  EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(image));
  EXPECT_EQ(r.params.TiffCompression, c.compression);
  EXPECT_EQ(r.params.DpiX, 200);
  EXPECT_EQ(r.params.DpiY, 100);
  EXPECT_EQ(r.params.TiffDocumentName, "doc");
  EXPECT_EQ(r.params.TiffImageDescription, "what it shows");
  EXPECT_EQ(r.params.TiffPageName, "page");
  EXPECT_EQ(r.params.TiffXPos, 2);
  EXPECT_EQ(r.params.TiffYPos, 5);
  EXPECT_EQ(r.params.TiffPageNumber, 3);
  EXPECT_EQ(r.params.TiffPageCount, 9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TiffRoundTrip,
    testing::Values(RoundTripCase{"Rgb", 0, 2, false}, RoundTripCase{"RgbLzw", 5, 2, false},
                    RoundTripCase{"RgbPackBits", 8, 2, false}, RoundTripCase{"Cmyk", 0, 5, false},
                    RoundTripCase{"CmykLzw", 5, 5, false}, RoundTripCase{"Bilevel", 0, 1, true},
                    RoundTripCase{"BilevelWhiteIsZero", 0, 0, true}, RoundTripCase{"BilevelLzw", 5, 0, true},
                    RoundTripCase{"BilevelPackBits", 8, 1, true},
                    RoundTripCase{"ModifiedHuffman", 1, 1, true}, RoundTripCase{"Group3", 2, 1, true},
                    RoundTripCase{"Group3TwoD", 3, 1, true}, RoundTripCase{"Group4", 4, 1, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TiffRoundTripCmyk, EveryColourComesBack) {
  // All 2^24 colours would be slow; every red and green with a spread of blues covers each max.
  TBitmap image(256, 256, pf24bit);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      SetPixel(image, x, y, Rgb(x, y, (x * 7 + y * 13) & 255));
    }
  }
  TIOParams params = Params();
  params.TiffPhotometric = 5;
  const WriteResult w = Write(image, params);
  ReadBack r;
  ReadTiff(w.file, r);
  ASSERT_FALSE(r.aborted);
  EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(image));
}

TEST(TiffRoundTripPages, AppendedImagesReadBackByIndex) {
  ScopedLzwCoders lzw;
  std::vector<std::unique_ptr<TBitmap>> images;
  Bytes file;
  // Pages written in the order 0, then inserted at 0, then appended, then inserted at 1: the
  // chain holds [1, 3, 0, 2].
  const int insertAt[4] = {0, 0, 10, 1};
  for (int i = 0; i < 4; ++i) {
    images.push_back(std::make_unique<TBitmap>(10 + i, 5 + i, i == 2 ? pf1bit : pf24bit));
    FillRandom(*images.back(), static_cast<std::uint32_t>(40 + i));
    ClearSpareBits(*images.back());
    TIOParams params = Params();
    params.TiffImageIndex = insertAt[i];
    params.TiffCompression = static_cast<std::uint8_t>(i == 2 ? 4 : i == 1 ? 5 : 8);
    if (i == 2) {
      params.BitsPerSample = 1;
      params.SamplesPerPixel = 1;
    }
    const WriteResult w = Write(*images.back(), params, i > 0, file);
    ASSERT_EQ(w.count, i + 1);
    file = w.file;
  }
  const int order[4] = {1, 3, 0, 2};
  for (int index = 0; index < 4; ++index) {
    ReadBack r;
    ReadTiff(file, r, index);
    ASSERT_FALSE(r.aborted);
    EXPECT_EQ(r.count, 4);
    const TBitmap& expected = *images[static_cast<std::size_t>(order[index])];
    ASSERT_EQ(r.bitmap.Width(), expected.Width());
    EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(expected)) << "index " << index;
  }
}

TEST(TiffRoundTripAnyParameters, OurReaderTakesEveryFileTheWriterMakes) {
  ScopedLzwCoders lzw;
  for (const TPixelFormat format : {pf1bit, pf8bit, pf24bit, pf32bit}) {
    TBitmap image(13, 4, format);
    FillRandom(image, 23);
    ClearSpareBits(image);
    for (int compression = 0; compression <= 9; ++compression) {
      for (int photometric = 0; photometric <= 7; ++photometric) {
        for (const auto& [bits, samples] :
             std::vector<std::pair<int, int>>{{1, 1}, {8, 3}, {8, 1}, {16, 3}, {0, 0}}) {
          TIOParams params = Params();
          params.TiffLzwCompress = GlobalLzwHooks().tiffCompress;
          params.TiffCompression = static_cast<std::uint8_t>(compression);
          params.TiffPhotometric = static_cast<std::uint8_t>(photometric);
          params.BitsPerSample = bits;
          params.SamplesPerPixel = samples;
          const WriteResult w = Write(image, params);
          ASSERT_FALSE(w.aborted);
          ReadBack r;
          ReadTiff(w.file, r);
          SCOPED_TRACE(testing::Message()
                       << "format " << int{format} << " compression " << compression << " photometric "
                       << photometric << " depth " << bits << "/" << samples);
          ASSERT_FALSE(r.aborted);
          const bool bilevel = bits == 1 && samples == 1;
          ASSERT_EQ(r.bitmap.PixelFormat(), bilevel ? pf1bit : pf24bit);
          ASSERT_EQ(r.bitmap.Width(), 13);
          // A true-colour picture comes back as the writer's 24-bit copy of it.
          if (!bilevel) {
            TBitmap colour;
            ConvertTo24Bit(image, colour);
            EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(colour));
          } else if (format == pf1bit) {
            EXPECT_EQ(PixelBytesTopDown(r.bitmap), PixelBytesTopDown(image));
          }
        }
      }
    }
  }
}

}  // namespace
