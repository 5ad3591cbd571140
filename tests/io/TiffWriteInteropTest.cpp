// TIFF files we write, checked against independent readers: libtiff's tools (tiffinfo reads every
// strip without a complaint, tiffcp copies the file, tiff2rgba renders the same pixels) and Pillow
// (the same pixels, every page). Hidden text must survive the lossless settings.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "image/ImageProc.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "io/TiffCodec.h"
#include "support/HeadlessView.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::BitmapFromRaw;
using veilora::test::FillRandom;
using veilora::test::RawFromBitmap;
using veilora::test::ReadWholeFile;
using veilora::test::RunPythonTool;
using veilora::test::TestPicture;
using veilora::test::TTempDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Page {
  int width = 0;
  int height = 0;
  Bytes bytes;
};

// Pillow's reading of every page: RGB rows, or with `native` the page's own samples.
std::vector<Page> PillowPages(const std::string& file, bool native,
                              std::vector<std::string>* modes = nullptr) {
  TTempDir dir;
  const std::string out = dir.File("pages.raw");
  std::vector<std::string> arguments{"pages", file, out};
  if (native) arguments.push_back("native");
  std::string printed;
  std::vector<Page> pages;
  if (!RunPythonTool("tiff_write_tool.py", arguments, &printed)) return pages;
  if (modes != nullptr) {
    modes->clear();
    std::size_t at = 0;
    for (std::size_t end; (end = printed.find('\n', at)) != std::string::npos; at = end + 1) {
      modes->push_back(printed.substr(at, end - at));
    }
  }
  const Bytes data = ReadWholeFile(out);
  std::size_t at = 0;
  while (at + 12 <= data.size()) {
    Page page;
    page.width = static_cast<int>(GetLE32(data.data() + at));
    page.height = static_cast<int>(GetLE32(data.data() + at + 4));
    const std::size_t count = GetLE32(data.data() + at + 8);
    at += 12;
    if (at + count > data.size()) break;
    page.bytes.assign(data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(at + count));
    at += count;
    pages.push_back(std::move(page));
  }
  return pages;
}

// Runs a shell command; returns its exit status and what it wrote to standard error.
int RunCommand(const std::string& command, std::string& errors) {
  TTempDir dir;
  const std::string errorFile = dir.File("stderr.txt");
  const std::string full = command + " >/dev/null 2>'" + errorFile + "'";
  const int status = std::system(full.c_str());
  const Bytes text = ReadWholeFile(errorFile);
  errors.assign(text.begin(), text.end());
  return status;
}

// libtiff reads every directory and every strip without an error or a warning, counts `pages`
// directories, and copies the file without complaint.
void ExpectLibtiffAccepts(const std::string& file, int pages) {
  std::string errors;
  EXPECT_EQ(RunCommand("tiffinfo -D '" + file + "'", errors), 0);
  EXPECT_EQ(errors, "") << "tiffinfo";
  FILE* pipe = popen(("tiffinfo '" + file + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  int directories = 0;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    directories += std::string(line).rfind("TIFF Directory at offset", 0) == 0;
  }
  pclose(pipe);
  EXPECT_EQ(directories, pages);
  TTempDir dir;
  EXPECT_EQ(RunCommand("tiffcp '" + file + "' '" + dir.File("copy.tif") + "'", errors), 0);
  EXPECT_EQ(errors, "") << "tiffcp";
}

// libtiff's own rendering of every page (tiff2rgba), read back as RGB.
std::vector<Page> LibtiffPages(const std::string& file) {
  TTempDir dir;
  const std::string out = dir.File("rgba.tif");
  std::string errors;
  EXPECT_EQ(RunCommand("tiff2rgba -c none '" + file + "' '" + out + "'", errors), 0);
  EXPECT_EQ(errors, "") << "tiff2rgba";
  return PillowPages(out, false);
}

// Puts the program's LZW coders into the process-wide hooks for one test, as start-up does, and
// takes back what was there before.
struct ScopedLzwCoders {
  ScopedLzwCoders() : saved(GlobalLzwHooks()) { InstallLzwCoders(); }
  ~ScopedLzwCoders() { GlobalLzwHooks() = saved; }
  TLzwHooks saved;
};

Bytes Rgb(const TBitmap& bitmap) {
  return RawFromBitmap(bitmap).rgb;
}

// The CMYK samples we write for each pixel: K = 255 - max, C = 255 (max - R) / max, and so on.
Bytes CmykOf(const TBitmap& bitmap) {
  const Bytes rgb = Rgb(bitmap);
  Bytes cmyk;
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    const int max = std::max({rgb[i], rgb[i + 1], rgb[i + 2]});
    for (int k = 0; k < 3; ++k) {
      cmyk.push_back(static_cast<std::uint8_t>(max == 0 ? 0 : 255 * (max - rgb[i + k]) / max));
    }
    cmyk.push_back(static_cast<std::uint8_t>(255 - max));
  }
  return cmyk;
}

bool Save(TBitmap& bitmap, TIOParams& params, const std::string& file, bool append = false) {
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  std::int32_t count = 0;
  if (append) {
    TMemoryStream stream(ReadWholeFile(file));
    count = TiffWriteStream(stream, true, bitmap, params, progress);
    test::WriteWholeFile(file, stream.Data());
  } else {
    TFileStream stream(file, TFileStream::Mode::Create);
    count = TiffWriteStream(stream, false, bitmap, params, progress);
    stream.Close();
  }
  return !aborting && count > 0;
}

struct PeerCase {
  const char* name;
  int compression;  // TiffCompression
  int photometric;  // TiffPhotometric
  bool bilevel;
};

class TiffOpensInPeers : public testing::TestWithParam<PeerCase> {};

TEST_P(TiffOpensInPeers, WithTheSamePixels) {
  const PeerCase& c = GetParam();
  ScopedLzwCoders lzw;
  TTempDir dir;
  const std::string file = dir.File("ours.tif");
  TBitmap image;
  TIOParams params;
  params.DpiX = 150;
  params.DpiY = 150;
  params.TiffCompression = static_cast<std::uint8_t>(c.compression);
  params.TiffPhotometric = static_cast<std::uint8_t>(c.photometric);
  if (c.bilevel) {
    image.Allocate(61, 23, pf1bit);  // odd width: spare bits in every row's last byte
    FillRandom(image, 3);
    image.FillRect(5, 3, 40, 12, clWhite);  // long runs, as fax pages have
    image.FillRect(20, 14, 55, 20, clBlack);
    params.BitsPerSample = 1;
    params.SamplesPerPixel = 1;
  } else {
    BitmapFromRaw(TestPicture(61, 23, 5), image);
  }
  ASSERT_TRUE(Save(image, params, file));
  ExpectLibtiffAccepts(file, 1);

  std::vector<std::string> modes;
  const std::vector<Page> pillow = PillowPages(file, c.photometric == 5, &modes);
  const std::vector<Page> libtiff = LibtiffPages(file);
  ASSERT_EQ(pillow.size(), 1u);
  ASSERT_EQ(libtiff.size(), 1u);
  EXPECT_EQ(pillow[0].width, 61);
  EXPECT_EQ(pillow[0].height, 23);
  if (c.photometric == 5) {
    EXPECT_EQ(modes[0], "CMYK");
    EXPECT_EQ(pillow[0].bytes, CmykOf(image));
    // libtiff renders CMYK as (255 - C) x (255 - K) / 255, which gives every colour back.
    EXPECT_EQ(libtiff[0].bytes, Rgb(image));
  } else {
    EXPECT_EQ(modes[0], c.bilevel ? "1" : "RGB");
    EXPECT_EQ(pillow[0].bytes, Rgb(image));
    EXPECT_EQ(libtiff[0].bytes, Rgb(image));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ours, TiffOpensInPeers,
    testing::Values(PeerCase{"RgbRaw", 0, 2, false}, PeerCase{"RgbPackBits", 8, 2, false},
                    PeerCase{"RgbLzwPredictor", 5, 2, false}, PeerCase{"CmykLzwPredictor", 5, 5, false},
                    PeerCase{"BilevelLzw", 5, 1, true}, PeerCase{"CmykRaw", 0, 5, false},
                    PeerCase{"CmykPackBits", 8, 5, false}, PeerCase{"BilevelBlackIsZero", 0, 1, true},
                    PeerCase{"BilevelWhiteIsZero", 0, 0, true}, PeerCase{"BilevelPackBits", 8, 1, true},
                    PeerCase{"BilevelModifiedHuffman", 1, 1, true}, PeerCase{"BilevelGroup3OneD", 2, 1, true},
                    PeerCase{"BilevelGroup3TwoD", 3, 0, true}, PeerCase{"BilevelGroup4", 4, 2, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TiffAppendedPages, OpenInPeersInChainOrder) {
  TTempDir dir;
  const std::string file = dir.File("pages.tif");
  TBitmap first;
  TBitmap second;
  TBitmap third(37, 11, pf1bit);
  TBitmap fourth;
  BitmapFromRaw(TestPicture(31, 17, 1), first);
  BitmapFromRaw(TestPicture(19, 29, 2), second);
  FillRandom(third, 3);
  BitmapFromRaw(TestPicture(8, 8, 4), fourth);

  ScopedLzwCoders lzw;
  TIOParams params;
  params.DpiX = 96;
  params.DpiY = 96;
  params.TiffCompression = 5;
  ASSERT_TRUE(Save(first, params, file));
  params.TiffCompression = 8;
  params.TiffImageIndex = 1;
  params.TiffPageName = "second";
  ASSERT_TRUE(Save(second, params, file, true));
  TIOParams bilevel = params;
  bilevel.BitsPerSample = 1;
  bilevel.SamplesPerPixel = 1;
  bilevel.TiffPhotometric = 0;
  bilevel.TiffImageIndex = 99;
  ASSERT_TRUE(Save(third, bilevel, file, true));
  // In front of everything.
  params.TiffImageIndex = 0;
  params.TiffCompression = 0;
  params.TiffPageName = "";
  ASSERT_TRUE(Save(fourth, params, file, true));

  ExpectLibtiffAccepts(file, 4);
  const std::vector<Bytes> expected = {Rgb(fourth), Rgb(first), Rgb(second), Rgb(third)};
  const std::vector<Page> pillow = PillowPages(file, false);
  const std::vector<Page> libtiff = LibtiffPages(file);
  ASSERT_EQ(pillow.size(), 4u);
  ASSERT_EQ(libtiff.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(pillow[i].bytes, expected[i]) << "page " << i;
    EXPECT_EQ(libtiff[i].bytes, expected[i]) << "page " << i;
  }
}

// ---------------------------------------------------------------- any parameters

// Every combination of compression 0..9, photometric 0..7 and the depths a record can hold, on
// bitmaps of every pixel format: each write succeeds and libtiff reads every strip of every
// distinct file without a complaint.
TEST(TiffWriteAnyParameters, EveryCombinationGivesAFileLibtiffReads) {
  const std::vector<std::pair<int, int>> depths = {{1, 1},  {8, 3}, {8, 1}, {4, 1},
                                                   {16, 3}, {1, 3}, {8, 4}, {0, 0}};
  ScopedLzwCoders lzw;
  std::set<Bytes> files;
  for (const TPixelFormat format : {pf1bit, pf8bit, pf24bit, pf32bit}) {
    TBitmap image(11, 3, format);
    FillRandom(image, 17);
    if (format == pf8bit) {
      for (std::size_t i = 0; i < image.Palette().size(); ++i) {
        image.Palette()[i] = TRGBQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                      static_cast<std::uint8_t>(i * 7), 0};
      }
    }
    for (int compression = 0; compression <= 9; ++compression) {
      for (int photometric = 0; photometric <= 7; ++photometric) {
        for (const auto& [bits, samples] : depths) {
          TIOParams params;
          params.DpiX = 96;
          params.DpiY = 96;
          params.TiffCompression = static_cast<std::uint8_t>(compression);
          params.TiffPhotometric = static_cast<std::uint8_t>(photometric);
          params.BitsPerSample = bits;
          params.SamplesPerPixel = samples;
          TMemoryStream stream;
          bool aborting = false;
          ASSERT_EQ(TiffWriteStream(stream, false, image, params, TProgressContext{{}, nullptr, &aborting}),
                    1);
          ASSERT_FALSE(aborting);
          files.insert(stream.Data());
        }
      }
    }
  }
  TTempDir dir;
  // tiffinfo decodes the strips; tiff2rgba also has to make sense of the photometric
  // interpretation, depth and samples together.
  std::string names;
  int n = 0;
  for (const Bytes& file : files) {
    const std::string name = dir.File("f" + std::to_string(n++) + ".tif");
    test::WriteWholeFile(name, file);
    names += " '" + name + "'";
  }
  std::string errors;
  EXPECT_EQ(RunCommand("tiffinfo -D" + names, errors), 0);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(
      RunCommand("for f in" + names + "; do tiff2rgba -c none \"$f\" \"$f.rgba\" || exit 1; done", errors),
      0);
  EXPECT_EQ(errors, "");
}

// ---------------------------------------------------------------- hidden text

class TiffHiddenText : public testing::TestWithParam<int> {};

TEST_P(TiffHiddenText, SurvivesASaveToATifFile) {
  TTempDir dir;
  const std::string file = dir.File("secret.tif");
  test::HeadlessView view;
  view.Bitmap()->Allocate(151, 67, pf24bit);
  FillRandom(*view.Bitmap(), 8);
  view.Bitmap()->FillRect(10, 10, 90, 40, RGBToColor(200, 30, 60));  // runs for the coders
  TImageProc proc;
  proc.SetAttachedView(&view);
  proc.AutoUndo = false;
  std::mt19937 random(12);
  std::string secret(2000, '\0');
  for (char& ch : secret) ch = static_cast<char>(random());
  ASSERT_EQ(proc.WriteHiddenText(secret), 2000);
  const Bytes pixels = Rgb(*view.Bitmap());

  ScopedLzwCoders lzw;
  TImageIO io;
  io.SetAttachedView(&view);
  io.Params.TiffCompression = static_cast<std::uint8_t>(GetParam());
  io.SaveToFile(file);
  ASSERT_FALSE(io.Aborting);

  // Pillow sees the same pixel bytes.
  const std::vector<Page> pages = PillowPages(file, false);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].bytes, pixels);

  // And a document that opens the file gets the text back byte for byte.
  test::HeadlessView other;
  TImageIO reader;
  reader.SetAttachedView(&other);
  reader.LoadFromFile(file);
  ASSERT_FALSE(reader.Aborting);
  EXPECT_EQ(reader.Params.TiffCompression, GetParam());
  EXPECT_EQ(Rgb(*other.Bitmap()), pixels);
  TImageProc otherProc;
  otherProc.SetAttachedView(&other);
  std::string back;
  EXPECT_EQ(otherProc.ReadHiddenText(back), 2000);
  EXPECT_EQ(back, secret);
}

INSTANTIATE_TEST_SUITE_P(Compressions, TiffHiddenText, testing::Values(0, 5, 8), [](const auto& row) {
  return std::string(row.param == 0 ? "Uncompressed" : row.param == 5 ? "LzwWithPredictor" : "PackBits");
});

}  // namespace
