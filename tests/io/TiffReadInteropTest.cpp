// TIFF files made by independent writers (libtiff's tiffcp and raw2tiff, Pillow) read by our reader,
// compared with the pixels those libraries decode: exactly where the data is lossless, within a
// small tolerance where decoders may round differently (JPEG, 16-bit, YCbCr, CIELab).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/LzwCoders.h"
#include "io/TiffCodec.h"
#include "support/LzwHooks.h"
#include "support/Pillow.h"

using namespace veilora;
using veilora::test::PillowDecode;
using veilora::test::PillowEncode;
using veilora::test::RawFromBitmap;
using veilora::test::ReadWholeFile;
using veilora::test::TestPicture;
using veilora::test::TRawImage;
using veilora::test::TTempDir;
using veilora::test::WriteWholeFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Runs a libtiff tool; a missing tool or a failure fails the test.
bool RunTool(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  EXPECT_EQ(status, 0) << command;
  return status == 0;
}

std::string Quote(const std::string& path) {
  return "'" + path + "'";
}

// libtiff's rendering of one directory of a file (tiff2rgba draws the first directory; tiffcp
// picks the one wanted first).
TRawImage LibtiffDecode(const std::string& file, int index = 0) {
  TTempDir dir;
  std::string source = file;
  if (index != 0) {
    source = dir.File("page.tif");
    if (!RunTool("tiffcp " + Quote(file + "," + std::to_string(index)) + " " + Quote(source))) return {};
  }
  const std::string out = dir.File("rgb.tif");
  if (!RunTool("tiff2rgba -n -c none " + Quote(source) + " " + Quote(out))) return {};
  return PillowDecode(out);
}

struct Ours {
  TRawImage image;
  TPixelFormat format = pf24bit;
  bool empty = true;
  bool aborted = false;
  std::string damage;
  std::int32_t count = -1;
  TIOParams params;
};

Ours Read(const std::string& file, int index = 0) {
  Ours ours;
  ours.params.TiffImageIndex = index;
  TFileStream stream(file, TFileStream::Mode::Read);
  TBitmap bitmap;
  TiffReadStream(stream, bitmap, ours.params, false,
                 TProgressContext{{}, nullptr, &ours.aborted, &ours.damage}, &ours.count);
  ours.format = bitmap.PixelFormat();
  ours.empty = bitmap.Empty();
  ours.image = RawFromBitmap(bitmap);
  return ours;
}

// The largest difference of one channel between two pictures of the same size.
int MaxDifference(const TRawImage& a, const TRawImage& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 256;
  int most = 0;
  for (std::size_t i = 0; i < a.rgb.size(); ++i) most = std::max(most, std::abs(a.rgb[i] - b.rgb[i]));
  return most;
}

class TiffReadInterop : public ::testing::Test {
 protected:
  test::TScopedLzwHooks hooks_{test::TScopedLzwHooks::kProgramCoders};

  // An RGB picture written uncompressed by Pillow, the source of the tiffcp copies.
  std::string Source(const TRawImage& picture, const std::string& mode = "RGB") {
    const std::string file = dir_.File("source-" + mode + ".tif");
    EXPECT_TRUE(PillowEncode(picture, file, "TIFF", mode));
    return file;
  }
  std::string Copy(const std::string& source, const std::string& options, const std::string& name) {
    const std::string out = dir_.File(name + ".tif");
    RunTool("tiffcp " + options + " " + Quote(source) + " " + Quote(out));
    return out;
  }

  TTempDir dir_;
};

TEST_F(TiffReadInterop, LosslessCopiesGiveThePixelsBack) {
  const TRawImage picture = TestPicture(67, 45, 5);
  const std::string source = Source(picture);
  const struct {
    const char* options;
    int compression;
  } cases[] = {
      {"-c none", 0},
      {"-c lzw", 5},
      {"-c lzw:2", 5},
      {"-c lzw:2 -r 4", 5},
      {"-c packbits -r 7", 8},
      {"-B -c lzw:2", 5},
      {"-B -c none -r 3", 0},
      {"-p separate -c lzw:2", 5},
      {"-p separate -c packbits -r 10", 8},
      // Deflate has no code in the record: it reads as the writer would save it, uncompressed.
      {"-c zip", 0},
      {"-c zip:2", 0},
      {"-c zip:p2", 0},
      {"-B -c zip:2 -r 5", 0},
      {"-p separate -c zip:2 -r 9", 0},
      // Tiles: 67 x 45 leaves a part of a tile over the right and the bottom edge.
      {"-t -w 16 -l 16 -c none", 0},
      {"-t -w 16 -l 16 -c lzw:2", 5},
      {"-t -w 32 -l 16 -c zip:2", 0},
      {"-t -w 16 -l 32 -c packbits", 8},
      {"-B -t -w 16 -l 16 -c zip", 0},
      {"-t -p separate -w 16 -l 16 -c zip:2", 0},
      {"-t -p separate -w 48 -l 16 -c lzw", 5},
      {"-t -c zip", 0},  // one 256 x 256 tile, most of it off the picture
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string file = Copy(source, c.options, "copy" + std::to_string(n++));
    const Ours ours = Read(file);
    EXPECT_FALSE(ours.aborted) << c.options;
    EXPECT_EQ(ours.params.TiffCompression, c.compression) << c.options;
    EXPECT_TRUE(ours.image == picture) << c.options;
  }
}

TEST_F(TiffReadInterop, JpegStripsMatchLibtiffsDecoding) {
  const TRawImage picture = TestPicture(83, 61, 9);
  const std::string source = Source(picture);
  // YCbCr data subsampled by libjpeg, RGB data, and strips that leave their tables to JPEGTables.
  for (const char* options : {"-c jpeg", "-c jpeg:r", "-c jpeg:90 -r 16", "-c jpeg:r -r 8",
                              "-t -w 16 -l 16 -c jpeg", "-t -w 32 -l 16 -c jpeg:r", "-t -c jpeg"}) {
    const std::string file = Copy(source, options, "jpeg");
    const Ours ours = Read(file);
    EXPECT_FALSE(ours.aborted) << options;
    EXPECT_EQ(ours.params.TiffCompression, 7) << options;
    EXPECT_LE(MaxDifference(ours.image, LibtiffDecode(file)), 2) << options;
  }
  // Greyscale JPEG.
  const std::string grey = Copy(Source(picture, "L"), "-c jpeg -r 16", "jpeg-grey");
  const Ours ours = Read(grey);
  EXPECT_FALSE(ours.aborted);
  EXPECT_LE(MaxDifference(ours.image, LibtiffDecode(grey)), 2);
}

TEST_F(TiffReadInterop, FaxStripsGiveTheTwoColourImage) {
  TRawImage picture = TestPicture(150, 41, 2);
  const std::string source = Source(picture, "1");
  const TRawImage expected = PillowDecode(source);
  const struct {
    const char* options;
    int compression;
  } cases[] = {
      {"-c g3", 2},
      {"-c g3:2d", 3},
      {"-c g3:2d:fill", 3},
      {"-c g4", 4},
      {"-c g4 -r 5", 4},
      {"-f lsb2msb -c g3", 2},
      {"-f lsb2msb -c g4", 4},
      {"-B -c g3:2d", 3},
      // Tiles of two-colour data: 150 x 41 in tiles of 32 x 16, 48 x 32 and 16 x 16.
      {"-t -w 32 -l 16 -c g4", 4},
      {"-t -w 48 -l 32 -c g3:2d", 3},
      {"-t -w 16 -l 16 -c none", 0},
      {"-t -w 16 -l 16 -c zip", 0},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string file = Copy(source, c.options, "fax" + std::to_string(n++));
    const Ours ours = Read(file);
    EXPECT_FALSE(ours.aborted) << c.options;
    EXPECT_EQ(ours.format, pf1bit) << c.options;
    EXPECT_EQ(ours.params.TiffCompression, c.compression) << c.options;
    EXPECT_TRUE(ours.image == expected) << c.options;
  }
}

TEST_F(TiffReadInterop, ACutShortFileKeepsTheRowsItHolds) {
  // Pillow puts the directory of an uncompressed picture first and its one strip last, so cutting
  // the file cuts the strip: 20 whole rows of 201 bytes and a part of the next stay.
  const TRawImage picture = TestPicture(67, 45, 3);
  Bytes file = ReadWholeFile(Source(picture));
  const std::size_t rowBytes = 67 * 3;
  const std::size_t stripAt = file.size() - rowBytes * 45;
  file.resize(stripAt + rowBytes * 20 + 100);
  const std::string cut = dir_.File("cut.tif");
  WriteWholeFile(cut, file);
  const Ours ours = Read(cut);
  EXPECT_TRUE(ours.aborted);
  EXPECT_EQ(ours.damage, "the data ends after row 20 of 45");
  ASSERT_EQ(ours.image.rgb.size(), picture.rgb.size());
  EXPECT_TRUE(std::equal(picture.rgb.begin(),
                         picture.rgb.begin() + static_cast<std::ptrdiff_t>(rowBytes * 20),
                         ours.image.rgb.begin()));
}

TEST_F(TiffReadInterop, EveryPageOfAMultiPageFile) {
  const TRawImage colour = TestPicture(30, 20, 1);
  const TRawImage other = TestPicture(17, 33, 7);
  const std::string a = Copy(Source(colour), "-c lzw:2", "a");
  const std::string b = Copy(Source(other, "1"), "-c g4", "b");
  const std::string c = Copy(Source(other, "P"), "-c packbits", "c");
  const std::string pages = dir_.File("pages.tif");
  RunTool("tiffcp " + Quote(a) + " " + Quote(b) + " " + Quote(c) + " " + Quote(pages));
  EXPECT_EQ(TiffImageCount(pages), 3);
  const std::string sources[] = {a, b, c};
  for (int index = 0; index < 3; ++index) {
    const Ours ours = Read(pages, index);
    EXPECT_EQ(ours.count, 3);
    EXPECT_FALSE(ours.aborted) << index;
    EXPECT_TRUE(ours.image == PillowDecode(sources[index])) << index;
    EXPECT_TRUE(ours.image == LibtiffDecode(pages, index)) << index;
  }
  const Ours past = Read(pages, 3);
  EXPECT_EQ(past.count, 3);
  EXPECT_FALSE(past.aborted);
  EXPECT_TRUE(past.empty);
}

TEST_F(TiffReadInterop, PillowsModes) {
  const TRawImage picture = TestPicture(45, 38, 4);
  const struct {
    const char* mode;
    const char* compression;
    int tolerance;  // against libtiff; 0 also means exactly Pillow's pixels
  } cases[] = {
      {"L", "raw", 0},
      {"L", "tiff_lzw", 0},
      {"P", "raw", 0},
      {"P", "packbits", 0},
      {"P16", "raw", 0},
      {"RGBA", "tiff_lzw", 0},
      {"1", "raw", 0},
      {"CMYK", "raw", 1},
      {"CMYK", "tiff_lzw", 1},
      // Pillow writes compression 8 for "tiff_adobe_deflate" and the older 32946 for "tiff_deflate".
      {"RGB", "tiff_adobe_deflate", 0},
      {"L", "tiff_deflate", 0},
      {"P", "tiff_adobe_deflate", 0},
  };
  for (const auto& c : cases) {
    const std::string file = dir_.File(std::string("pillow-") + c.mode + "-" + c.compression + ".tif");
    ASSERT_TRUE(PillowEncode(picture, file, "TIFF", c.mode, {std::string("compression=") + c.compression}));
    const Ours ours = Read(file);
    EXPECT_FALSE(ours.aborted) << c.mode << " " << c.compression;
    EXPECT_LE(MaxDifference(ours.image, LibtiffDecode(file)), c.tolerance) << c.mode << " " << c.compression;
    if (c.tolerance == 0) {
      EXPECT_TRUE(ours.image == PillowDecode(file)) << c.mode << " " << c.compression;
    }
  }
}

TEST_F(TiffReadInterop, CieLabComesBackAsTheSrgbItWasMadeFrom) {
  // Pillow converts through LittleCMS with the D50 white of the profile connection space, as
  // graphic arts software does. 8-bit L*a*b* steps cost a few levels of sRGB, many more for dark
  // saturated colours at the edge of the gamut, so the check is on the typical error; a wrong
  // white or matrix shifts every pixel. (libtiff's own rendering is no reference here: it draws
  // neutral greys yellowish.)
  const TRawImage picture = TestPicture(45, 38, 4);
  const std::string file = dir_.File("pillow-lab.tif");
  ASSERT_TRUE(PillowEncode(picture, file, "TIFF", "LAB"));
  const Ours ours = Read(file);
  EXPECT_FALSE(ours.aborted);
  EXPECT_EQ(ours.params.TiffPhotometric, 7);
  ASSERT_EQ(ours.image.rgb.size(), picture.rgb.size());
  std::vector<int> differences;
  for (std::size_t i = 0; i < picture.rgb.size(); ++i) {
    differences.push_back(std::abs(ours.image.rgb[i] - picture.rgb[i]));
  }
  std::sort(differences.begin(), differences.end());
  double sum = 0;
  for (const int d : differences) sum += d;
  EXPECT_LE(sum / static_cast<double>(differences.size()), 1.0);
  EXPECT_LE(differences[differences.size() * 99 / 100], 6);
}

TEST_F(TiffReadInterop, SixteenBitSamplesInEitherByteOrder) {
  // raw2tiff makes 16-bit grey and RGB images from samples written here.
  Bytes samples;
  const int width = 23;
  const int height = 9;
  for (int i = 0; i < width * height * 3; ++i) {
    const auto value = static_cast<std::uint16_t>(i * 977 + (i % 7) * 40);
    samples.push_back(static_cast<std::uint8_t>(value >> 8));
    samples.push_back(static_cast<std::uint8_t>(value));
  }
  const std::string raw = dir_.File("samples.raw");
  WriteWholeFile(raw, samples);
  for (const int bands : {1, 3}) {
    const std::string made = dir_.File("made.tif");
    // The samples are big-endian; raw2tiff swaps them where the machine is not.
    RunTool("raw2tiff -M -s -w " + std::to_string(width) + " -l " + std::to_string(height) + " -b " +
            std::to_string(bands) + " -d short -p " + (bands == 1 ? "minisblack" : "rgb") + " -c none " +
            Quote(raw) + " " + Quote(made));
    const TRawImage reference = LibtiffDecode(made);
    for (const char* options :
         {"-c none", "-B -c none", "-c lzw:2", "-B -c lzw:2 -r 2", "-c zip:2", "-B -c zip:2 -r 3",
          "-t -w 16 -l 16 -c zip:2", "-B -t -w 16 -l 16 -c lzw:2"}) {
      const std::string file = Copy(made, options, "sixteen");
      const Ours ours = Read(file);
      EXPECT_FALSE(ours.aborted) << bands << " " << options;
      EXPECT_EQ(ours.params.BitsPerSample, 16);
      // libtiff rounds RGB samples to 8 bits but cuts grey ones off. The copies are lossless, so
      // libtiff's rendering of the uncompressed strips is the reference for all of them: its
      // tiff2rgba draws the tiles of 16-bit grey that hang over the right edge wrongly (tiffcp and
      // Pillow read those tiles back as they were made).
      EXPECT_LE(MaxDifference(ours.image, reference), bands == 1 ? 1 : 0) << bands << " " << options;
    }
  }
}

TEST_F(TiffReadInterop, SubsampledYCbCrMatchesLibtiff) {
  // Uncompressed YCbCr in units of h x v luma samples and one chroma pair, made here since the
  // tools write subsampled data only inside JPEG.
  for (const auto& [h, v] : {std::pair{2, 2}, std::pair{2, 1}, std::pair{4, 2}, std::pair{1, 1}}) {
    const int width = 13;
    const int height = 10;
    Bytes data;
    const int unitsAcross = (width + h - 1) / h;
    const int unitRows = (height + v - 1) / v;
    for (int u = 0; u < unitsAcross * unitRows; ++u) {
      for (int i = 0; i < h * v; ++i) data.push_back(static_cast<std::uint8_t>(30 + (u * 13 + i * 29) % 200));
      data.push_back(static_cast<std::uint8_t>(60 + u * 7 % 140));
      data.push_back(static_cast<std::uint8_t>(200 - u * 11 % 150));
    }
    Bytes file = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put16 = [&](std::uint32_t x) {
      file.push_back(static_cast<std::uint8_t>(x));
      file.push_back(static_cast<std::uint8_t>(x >> 8));
    };
    const auto put32 = [&](std::uint32_t x) {
      put16(x & 0xFFFF);
      put16(x >> 16);
    };
    const std::uint32_t entries = 11;
    const std::uint32_t bitsAt = 8 + 2 + 12 * entries + 4;
    const std::uint32_t dataAt = bitsAt + 6;
    put16(entries);
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
      put16(tag);
      put16(type);
      put32(count);
      if (type == 3 && count <= 2) {
        put16(value & 0xFFFF);
        put16(value >> 16);
      } else {
        put32(value);
      }
    };
    entry(256, 4, 1, width);
    entry(257, 4, 1, height);
    entry(258, 3, 3, bitsAt);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 6);
    entry(273, 4, 1, dataAt);
    entry(277, 3, 1, 3);
    entry(278, 4, 1, height);
    entry(279, 4, 1, static_cast<std::uint32_t>(data.size()));
    entry(284, 3, 1, 1);
    entry(530, 3, 2, static_cast<std::uint32_t>(h | v << 16));
    put32(0);
    put16(8);
    put16(8);
    put16(8);
    file.insert(file.end(), data.begin(), data.end());
    const std::string path = dir_.File("ycbcr.tif");
    WriteWholeFile(path, file);
    const Ours ours = Read(path);
    EXPECT_FALSE(ours.aborted) << h << "x" << v;
    EXPECT_LE(MaxDifference(ours.image, LibtiffDecode(path)), 2) << h << "x" << v;
  }
}

}  // namespace
