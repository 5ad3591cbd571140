#include "io/JpegCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Smooth gradients, which JPEG keeps well, with one flat block per primary so that a channel
// swapped or dropped anywhere shows at once.
void PaintSmooth(TBitmap& image, int width, int height) {
  image.Allocate(width, height, pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      TRGB colour =
          Rgb(x * 255 / (width - 1), y * 255 / (height - 1), 200 - (x + y) * 150 / (width + height));
      if (y < height / 4) {
        if (x < width / 4)
          colour = Rgb(220, 30, 20);
        else if (x < width / 2)
          colour = Rgb(20, 210, 40);
        else if (x < 3 * width / 4)
          colour = Rgb(30, 40, 230);
      }
      SetPixel(image, x, y, colour);
    }
  }
}

struct TDifference {
  int maximum = 0;
  double mean = 0;
};

TDifference Compare(const TBitmap& a, const TBitmap& b) {
  TDifference result;
  if (a.Width() != b.Width() || a.Height() != b.Height()) return {255, 255};
  std::int64_t sum = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < 3 * a.Width(); ++x) {
      const int d = std::abs(a.ScanLine(y)[x] - b.ScanLine(y)[x]);
      result.maximum = std::max(result.maximum, d);
      sum += d;
    }
  }
  result.mean = static_cast<double>(sum) / (3.0 * a.Width() * a.Height());
  return result;
}

Bytes Encode(TBitmap& image, TIOParams& params, bool* aborting = nullptr) {
  bool ownFlag = false;
  const TProgressContext progress{{}, nullptr, aborting != nullptr ? aborting : &ownFlag};
  TMemoryStream stream;
  JpegWriteStream(stream, image, params, progress);
  EXPECT_FALSE(ownFlag);
  return stream.Data();
}

// Reads `bytes`; returns whether the reader set Aborting. `damage` receives what it said was
// damaged when it kept a partial picture.
bool Decode(const Bytes& bytes, TBitmap& bitmap, TIOParams& params, bool paramsOnly = false,
            std::string* damage = nullptr) {
  bool aborting = false;
  std::string said;
  TMemoryStream stream(bytes);
  JpegReadStream(stream, bitmap, params, paramsOnly, {{}, nullptr, &aborting, &said});
  if (damage != nullptr) *damage = said;
  return aborting;
}

// A JPEG file's marker segments. For a start-of-scan segment `end` lies after its compressed data.
struct TSegment {
  std::size_t at = 0;
  std::uint8_t marker = 0;
  std::size_t end = 0;
};

std::vector<TSegment> Segments(const Bytes& file) {
  std::vector<TSegment> segments;
  std::size_t at = 2;
  while (at + 4 <= file.size() && file[at] == 0xFF) {
    const std::uint8_t marker = file[at + 1];
    if (marker == 0xD9) break;
    std::size_t end = at + 2 + (file[at + 2] << 8 | file[at + 3]);
    if (marker == 0xDA) {
      while (end + 1 < file.size() &&
             !(file[end] == 0xFF && file[end + 1] != 0 && (file[end + 1] < 0xD0 || file[end + 1] > 0xD7))) {
        ++end;
      }
    }
    segments.push_back({at, marker, end});
    at = end;
  }
  return segments;
}

TSegment FindSegment(const Bytes& file, std::uint8_t marker) {
  for (const TSegment& segment : Segments(file)) {
    if (segment.marker == marker) return segment;
  }
  ADD_FAILURE() << "no marker " << int{marker};
  return {};
}

TEST(JpegCodec, SignatureIsThreeBytesAndKeepsThePosition) {
  const Bytes data{0x00, 0xFF, 0xD8, 0xFF, 0xE0};
  TMemoryStream stream(data);
  EXPECT_FALSE(IsJpegStream(stream));
  stream.Seek(1);
  EXPECT_TRUE(IsJpegStream(stream));
  EXPECT_EQ(stream.Position(), 1);
  stream.Seek(3);
  EXPECT_FALSE(IsJpegStream(stream));  // only two bytes left
  EXPECT_EQ(stream.Position(), 3);

  TBitmap bitmap;
  TIOParams params;
  EXPECT_TRUE(Decode(Bytes{'B', 'M', 0, 0}, bitmap, params));
  EXPECT_TRUE(bitmap.Empty());
}

TEST(JpegCodec, ColourRoundTripFillsTheParameters) {
  TBitmap image;
  PaintSmooth(image, 67, 45);  // sizes that are not multiples of the 16-pixel blocks
  TIOParams params;
  params.JpegQuality = 95;
  params.DpiX = 300;
  params.DpiY = 150;
  const Bytes file = Encode(image, params);
  ASSERT_GT(file.size(), 2u);
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file[file.size() - 1], 0xD9);

  TIOParams read;
  read.BitsPerSample = 4;
  read.SamplesPerPixel = 1;
  read.SetColorMap(16);
  read.JpegProgressive = true;
  read.JpegColorSpace = 0;
  TBitmap decoded;
  ASSERT_FALSE(Decode(file, decoded, read));
  EXPECT_EQ(decoded.PixelFormat(), pf24bit);
  EXPECT_EQ(read.Width, 67);
  EXPECT_EQ(read.Height, 45);
  EXPECT_EQ(read.BitsPerSample, 8);
  EXPECT_EQ(read.SamplesPerPixel, 3);
  EXPECT_EQ(read.ColorMapCount, 0);
  EXPECT_TRUE(read.ColorMap.empty());
  EXPECT_FALSE(read.JpegProgressive);
  EXPECT_EQ(read.JpegColorSpace, 2);
  EXPECT_EQ(read.DpiX, 300);
  EXPECT_EQ(read.DpiY, 150);
  const TDifference difference = Compare(image, decoded);
  EXPECT_LT(difference.mean, 4.0);
  EXPECT_NEAR(PixelAt(decoded, 5, 5).r, 220, 8);
  EXPECT_NEAR(PixelAt(decoded, 5, 5).b, 20, 8);

  // Parameters only: the same record, the bitmap untouched.
  TIOParams header;
  TBitmap untouched(3, 2, pf1bit);
  ASSERT_FALSE(Decode(file, untouched, header, true));
  EXPECT_EQ(header.Width, 67);
  EXPECT_EQ(header.Height, 45);
  EXPECT_EQ(header.JpegColorSpace, 2);
  EXPECT_EQ(untouched.Width(), 3);
  EXPECT_EQ(untouched.PixelFormat(), pf1bit);
}

TEST(JpegCodec, EveryTargetColourSpaceRoundTrips) {
  TBitmap image;
  PaintSmooth(image, 48, 40);
  struct TCase {
    std::uint8_t space;
    double meanLimit;
  };
  // RGB, YCbCr, CMYK and YCCK; YCbCr and YCCK halve the chroma resolution, which smears the sharp
  // colour edges, and CMYK adds the integer divisions of its two conversions.
  for (const TCase& c : {TCase{0, 1.5}, TCase{2, 4.0}, TCase{3, 3.0}, TCase{4, 4.0}}) {
    SCOPED_TRACE(int{c.space});
    TIOParams params;
    params.JpegQuality = 95;
    params.JpegColorSpace = c.space;
    const Bytes file = Encode(image, params);
    TIOParams read;
    TBitmap decoded;
    ASSERT_FALSE(Decode(file, decoded, read));
    EXPECT_EQ(read.JpegColorSpace, c.space);
    const TDifference difference = Compare(image, decoded);
    EXPECT_LT(difference.mean, c.meanLimit);
    if (c.space == 0) {
      EXPECT_LE(difference.maximum, 40);
    }
    for (const auto& [x, colour] :
         {std::pair{5, Rgb(220, 30, 20)}, {17, Rgb(20, 210, 40)}, {29, Rgb(30, 40, 230)}}) {
      const TRGB got = PixelAt(decoded, x, 4);
      EXPECT_NEAR(got.r, colour.r, 10) << x;
      EXPECT_NEAR(got.g, colour.g, 10) << x;
      EXPECT_NEAR(got.b, colour.b, 10) << x;
    }
  }
}

TEST(JpegCodec, CmykConversionKeepsBlackAndPureColours) {
  TBitmap image;
  Paint(image, 8, std::vector<TRGB>(64, Rgb(0, 0, 0)));
  TIOParams params;
  params.JpegQuality = 100;
  params.JpegColorSpace = 3;
  TBitmap decoded;
  TIOParams read;
  ASSERT_FALSE(Decode(Encode(image, params), decoded, read));
  EXPECT_EQ(PixelsOtherThan(decoded, Rgb(0, 0, 0)), 0);

  Paint(image, 8, std::vector<TRGB>(64, Rgb(255, 128, 0)));
  ASSERT_FALSE(Decode(Encode(image, params), decoded, read));
  const TRGB got = PixelAt(decoded, 3, 3);
  EXPECT_NEAR(got.r, 255, 1);
  EXPECT_NEAR(got.g, 128, 2);
  EXPECT_NEAR(got.b, 0, 1);
}

TEST(JpegCodec, GreyscaleFileLoadsAs24BitGrey) {
  TBitmap image;
  PaintSmooth(image, 40, 30);
  TIOParams params;
  params.JpegColorSpace = 1;
  params.JpegQuality = 90;
  const Bytes file = Encode(image, params);
  EXPECT_EQ(file[FindSegment(file, 0xC0).at + 9], 1) << "one component";
  TIOParams read;
  TBitmap decoded;
  ASSERT_FALSE(Decode(file, decoded, read));
  EXPECT_EQ(read.JpegColorSpace, 1);
  EXPECT_EQ(read.SamplesPerPixel, 3);
  ASSERT_EQ(decoded.PixelFormat(), pf24bit);
  for (int y = 0; y < decoded.Height(); ++y) {
    for (int x = 0; x < decoded.Width(); ++x) {
      const TRGB p = PixelAt(decoded, x, y);
      ASSERT_TRUE(p.r == p.g && p.g == p.b) << x << "," << y;
    }
  }
  // The grey of pure red is its luma, 0.299 x 220 + 0.587 x 30 + 0.114 x 20.
  EXPECT_NEAR(PixelAt(decoded, 4, 3).g, 86, 6);
}

TEST(JpegCodec, OneBitImagesAreWrittenAsColour) {
  TBitmap image(16, 8, pf1bit);
  for (int y = 0; y < 8; ++y) image.ScanLine(y)[0] = 0xFF;  // left half white
  TIOParams params;
  params.JpegQuality = 100;
  TIOParams read;
  TBitmap decoded;
  ASSERT_FALSE(Decode(Encode(image, params), decoded, read));
  ASSERT_EQ(decoded.Width(), 16);
  EXPECT_GT(PixelAt(decoded, 2, 4).g, 245);
  EXPECT_LT(PixelAt(decoded, 13, 4).g, 10);
  EXPECT_EQ(image.PixelFormat(), pf1bit);  // the caller's image stays as it was
}

TEST(JpegCodec, ScaleChoosesTheReductionNearestTheWantedSize) {
  TBitmap image;
  PaintSmooth(image, 1000, 800);
  TIOParams params;
  const Bytes file = Encode(image, params);
  struct TCase {
    std::uint8_t scale;
    int wantWidth, wantHeight;
    int width, height;
  };
  for (const TCase& c :
       {TCase{0, 250, 200, 250, 200}, TCase{0, 0, 0, 1000, 800}, TCase{0, 0, 5, 1000, 800},
        TCase{0, 480, 420, 500, 400}, TCase{0, 1, 1, 125, 100}, TCase{0, 4000, 4000, 1000, 800},
        TCase{1, 10, 10, 1000, 800}, TCase{2, 0, 0, 500, 400}, TCase{3, 0, 0, 250, 200},
        TCase{4, 0, 0, 125, 100}, TCase{9, 0, 0, 1000, 800}}) {
    SCOPED_TRACE(testing::Message() << int{c.scale} << " " << c.wantWidth << "x" << c.wantHeight);
    TIOParams read;
    read.JpegScale = c.scale;
    read.Width = c.wantWidth;
    read.Height = c.wantHeight;
    TIOParams header;
    header.Assign(read);
    TBitmap decoded;
    ASSERT_FALSE(Decode(file, decoded, read));
    EXPECT_EQ(read.Width, c.width);
    EXPECT_EQ(read.Height, c.height);
    EXPECT_EQ(decoded.Width(), c.width);
    EXPECT_EQ(decoded.Height(), c.height);
    ASSERT_FALSE(Decode(file, decoded, header, true));
    EXPECT_EQ(header.Width, c.width);
    EXPECT_EQ(header.Height, c.height);
  }
  // A reduced picture is still the picture: its top-left block is the red one.
  TIOParams read;
  read.JpegScale = 4;
  TBitmap decoded;
  ASSERT_FALSE(Decode(file, decoded, read));
  EXPECT_NEAR(PixelAt(decoded, 10, 10).r, 220, 6);
  EXPECT_NEAR(PixelAt(decoded, 10, 10).b, 20, 6);
}

TEST(JpegCodec, DensityUnitsGiveDotsPerInch) {
  TBitmap image;
  PaintSmooth(image, 16, 16);
  TIOParams params;
  params.DpiX = 72;
  params.DpiY = 0x1234A;  // only 16 bits are stored
  Bytes file = Encode(image, params);
  const std::size_t app0 = FindSegment(file, 0xE0).at;
  ASSERT_EQ(std::string(file.begin() + app0 + 4, file.begin() + app0 + 8), "JFIF");
  const std::size_t unit = app0 + 11;
  EXPECT_EQ(file[unit], 1);
  EXPECT_EQ(file[unit + 1] << 8 | file[unit + 2], 72);
  EXPECT_EQ(file[unit + 3] << 8 | file[unit + 4], 0x234A);

  struct TCase {
    std::uint8_t unit;
    int x, y;
    int dpiX, dpiY;
  };
  for (const TCase& c : {TCase{2, 118, 40, 299, 101}, TCase{1, 300, 600, 300, 600}, TCase{0, 1, 2, 1, 2},
                         TCase{3, 300, 300, 55, 66}}) {
    SCOPED_TRACE(int{c.unit});
    file[unit] = c.unit;
    file[unit + 1] = static_cast<std::uint8_t>(c.x >> 8);
    file[unit + 2] = static_cast<std::uint8_t>(c.x);
    file[unit + 3] = static_cast<std::uint8_t>(c.y >> 8);
    file[unit + 4] = static_cast<std::uint8_t>(c.y);
    TIOParams read;
    read.DpiX = 55;  // an unknown unit leaves these alone
    read.DpiY = 66;
    TBitmap decoded;
    ASSERT_FALSE(Decode(file, decoded, read, true));
    EXPECT_EQ(read.DpiX, c.dpiX);
    EXPECT_EQ(read.DpiY, c.dpiY);
  }

  // RGB and CMYK files carry an Adobe segment instead of JFIF, so no density at all.
  for (const std::uint8_t space : {0, 3}) {
    params.JpegColorSpace = space;
    const Bytes adobe = Encode(image, params);
    for (const TSegment& segment : Segments(adobe)) EXPECT_NE(segment.marker, 0xE0);
    TIOParams read;
    read.DpiX = 55;
    read.DpiY = 66;
    TBitmap decoded;
    ASSERT_FALSE(Decode(adobe, decoded, read, true));
    EXPECT_EQ(read.DpiX, DefaultResolution().dpiX);
    EXPECT_EQ(read.DpiY, DefaultResolution().dpiY);
    EXPECT_NE(read.DpiX, 1);
  }
}

TEST(JpegCodec, WriterOptionsReachTheFile) {
  TBitmap image;
  PaintSmooth(image, 160, 120);
  FillRandom(image, 3);  // detail, so that the options matter
  TIOParams params;
  std::vector<std::size_t> sizes;
  for (const int quality : {10, 50, 95}) {
    params.JpegQuality = quality;
    sizes.push_back(Encode(image, params).size());
  }
  EXPECT_LT(sizes[0], sizes[1]);
  EXPECT_LT(sizes[1], sizes[2]);

  params.JpegQuality = 75;
  const Bytes plain = Encode(image, params);
  EXPECT_EQ(FindSegment(plain, 0xC0).marker, 0xC0) << "baseline frame";
  params.JpegOptimalHuffman = true;
  const Bytes optimal = Encode(image, params);
  EXPECT_LT(optimal.size(), plain.size());
  params.JpegOptimalHuffman = false;
  params.JpegSmoothing = 60;
  PaintSmooth(image, 160, 120);
  const Bytes unsmoothed = [&] {
    TIOParams p;
    p.JpegQuality = 75;
    return Encode(image, p);
  }();
  EXPECT_NE(Encode(image, params), unsmoothed);
  params.JpegSmoothing = 100;
  const Bytes strongest = Encode(image, params);
  params.JpegSmoothing = 1000;  // beyond the library's range: held at its end
  EXPECT_EQ(Encode(image, params), strongest);
  params.JpegSmoothing = 0;

  params.JpegProgressive = true;
  const Bytes progressive = Encode(image, params);
  int scans = 0;
  for (const TSegment& segment : Segments(progressive)) scans += segment.marker == 0xDA;
  EXPECT_GT(scans, 1);
  EXPECT_EQ(FindSegment(progressive, 0xC2).marker, 0xC2);
  TIOParams read;
  TBitmap decoded;
  ASSERT_FALSE(Decode(progressive, decoded, read));
  EXPECT_TRUE(read.JpegProgressive);
  EXPECT_LT(Compare(image, decoded).mean, 3.0);
}

TEST(JpegCodec, EveryDctMethodWritesAndReads) {
  TBitmap image;
  PaintSmooth(image, 64, 48);
  Bytes previous;
  for (const std::uint8_t method : {0, 1, 2}) {
    SCOPED_TRACE(int{method});
    TIOParams params;
    params.JpegQuality = 90;
    params.JpegDctMethod = method;
    const Bytes file = Encode(image, params);
    TIOParams read;
    read.JpegDctMethod = method;
    TBitmap decoded;
    ASSERT_FALSE(Decode(file, decoded, read));
    EXPECT_LT(Compare(image, decoded).mean, 3.0);
    if (method == 1) {
      EXPECT_NE(file, previous) << "the fast integer transform rounds differently";
    }
    previous = file;
  }
}

TEST(JpegCodec, ProgressHandlerCanStopReadingAndWriting) {
  TBitmap image;
  PaintSmooth(image, 64, 256);
  TIOParams params;
  params.JpegQuality = 90;
  const Bytes file = Encode(image, params);

  TObject sender;
  bool aborting = false;
  std::vector<int> reports;
  TProgressContext stopper{[&](TObject&, int percent) {
                             reports.push_back(percent);
                             if (percent >= 25) aborting = true;
                           },
                           &sender, &aborting};
  TMemoryStream in(file);
  TBitmap decoded;
  TIOParams read;
  JpegReadStream(in, decoded, read, false, stopper);
  EXPECT_TRUE(aborting);
  ASSERT_EQ(decoded.Height(), 256);
  ASSERT_FALSE(reports.empty());
  EXPECT_LT(reports.back(), 50);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  // The rows read before the stop are there, the rest are still black.
  EXPECT_NEAR(PixelAt(decoded, 40, 10).g, PixelAt(image, 40, 10).g, 8);
  EXPECT_EQ(PixelAt(decoded, 40, 250), Rgb(0, 0, 0));

  // Without a stop every row is reported, ending at 100.
  reports.clear();
  aborting = false;
  TProgressContext watcher{[&](TObject&, int percent) { reports.push_back(percent); }, &sender, &aborting};
  in.Seek(0);
  JpegReadStream(in, decoded, read, false, watcher);
  EXPECT_FALSE(aborting);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), 100);

  reports.clear();
  aborting = false;
  TMemoryStream out;
  JpegWriteStream(out, image, params, stopper);
  EXPECT_TRUE(aborting);
  ASSERT_FALSE(reports.empty());
  EXPECT_LT(reports.back(), 50);
  // The file lacks its end.
  const Bytes& written = out.Data();
  EXPECT_LT(written.size(), file.size());
  EXPECT_FALSE(written.size() >= 2 && written[written.size() - 2] == 0xFF && written.back() == 0xD9);
}

TEST(JpegCodec, ReadingStopsRightAfterTheImage) {
  TBitmap first;
  TBitmap second;
  PaintSmooth(first, 20, 10);
  PaintSmooth(second, 12, 30);
  TIOParams params;
  Bytes both = Encode(first, params);
  const std::size_t firstSize = both.size();
  const Bytes more = Encode(second, params);
  both.insert(both.end(), more.begin(), more.end());
  both.resize(both.size() + 200000, 0x55);  // more than one read-ahead chunk of trailing data

  TMemoryStream stream(both);
  TBitmap decoded;
  TIOParams read;
  bool aborting = false;
  JpegReadStream(stream, decoded, read, false, {{}, nullptr, &aborting});
  EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(firstSize));
  JpegReadStream(stream, decoded, read, false, {{}, nullptr, &aborting});
  EXPECT_FALSE(aborting);
  EXPECT_EQ(decoded.Width(), 12);
  EXPECT_EQ(decoded.Height(), 30);
}

Bytes Prefix(const Bytes& file, std::size_t size) {
  return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
}

TEST(JpegTruncated, ASequentialFileKeepsTheRowsOfItsRealDataAndSaysHowMany) {
  TBitmap image;
  PaintSmooth(image, 64, 256);
  // 4:2:0 (upsampled with the rows around) and 4:4:4 chroma.
  for (const int colourSpace : {2, 0}) {
    SCOPED_TRACE(colourSpace);
    TIOParams params;
    params.JpegQuality = 90;
    params.JpegColorSpace = static_cast<std::uint8_t>(colourSpace);
    const Bytes file = Encode(image, params);
    TBitmap full;
    TIOParams read;
    ASSERT_FALSE(Decode(file, full, read));
    const TSegment scan = FindSegment(file, 0xDA);
    for (int eighth = 1; eighth < 8; ++eighth) {
      const std::size_t cut = scan.at + (scan.end - scan.at) * eighth / 8;
      TBitmap decoded;
      std::string damage;
      EXPECT_TRUE(Decode(Prefix(file, cut), decoded, read, false, &damage));
      ASSERT_EQ(decoded.Height(), 256);
      const std::string prefix = "the data ends after row ";
      ASSERT_EQ(damage.rfind(prefix, 0), 0u) << damage;
      EXPECT_EQ(damage.substr(damage.size() - 7), " of 256");
      const int rows = std::stoi(damage.substr(prefix.size()));
      // About the share of the data that is there; every row named is the full file's.
      EXPECT_NEAR(rows, 256 * eighth / 8, 40) << cut;
      for (int y = 0; y < rows; ++y) {
        ASSERT_EQ(std::memcmp(decoded.ScanLine(y), full.ScanLine(y), 3 * 64), 0) << cut << " row " << y;
      }
      for (int y = rows + 1; y < 256; ++y)
        ASSERT_EQ(PixelAt(decoded, 63, y), Rgb(0, 0, 0)) << cut << " row " << y;
    }
  }
}

TEST(JpegTruncated, AProgressiveFileShowsWhatItsScansGiveAndSaysWhereTheyEnd) {
  TBitmap image;
  PaintSmooth(image, 64, 256);
  TIOParams params;
  params.JpegQuality = 90;
  params.JpegProgressive = true;
  const Bytes file = Encode(image, params);
  const std::vector<TSegment> segments = Segments(file);
  std::vector<TSegment> scans;
  for (const TSegment& segment : segments) {
    if (segment.marker == 0xDA) scans.push_back(segment);
  }
  ASSERT_GE(scans.size(), 3u);

  struct Case {
    std::size_t cut;
    std::string damage;
  };
  const Case cases[] = {
      {(scans[0].at + scans[0].end) / 2, "the data ends in scan 1, so the picture lacks detail"},
      {scans[1].end, "the data ends after scan 2, so the picture lacks detail"},
      {(scans[2].at + scans[2].end) / 2, "the data ends in scan 3, so the picture lacks detail"},
  };
  for (const Case& c : cases) {
    TBitmap decoded;
    TIOParams read;
    std::string damage;
    EXPECT_TRUE(Decode(Prefix(file, c.cut), decoded, read, false, &damage)) << c.cut;
    EXPECT_EQ(damage, c.damage);
    ASSERT_EQ(decoded.Height(), 256);
    // Every row holds the picture, only coarser: the bottom row is not left black.
    EXPECT_NE(PixelAt(decoded, 32, 255), Rgb(0, 0, 0));
  }
  // With every scan in, a missing end marker loses nothing.
  TBitmap decoded;
  TIOParams read;
  std::string damage;
  EXPECT_FALSE(Decode(Prefix(file, file.size() - 2), decoded, read, false, &damage));
  EXPECT_EQ(damage, "");
  EXPECT_LT(Compare(image, decoded).mean, 3.0);
}

// Our writer never codes arithmetically; the library's compressor does, for these tests.
Bytes EncodeArithmetic(const TBitmap& image) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(image.Width());
  cinfo.image_height = static_cast<JDIMENSION>(image.Height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  cinfo.arith_code = TRUE;
  jpeg_start_compress(&cinfo, TRUE);
  for (int y = 0; y < image.Height(); ++y) {
    JSAMPROW row = const_cast<JSAMPROW>(image.ScanLine(y));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes file(out, out + size);
  std::free(out);
  return file;
}

TEST(JpegTruncated, AnArithmeticFileStopsWhereItsDataEnds) {
  TBitmap image;
  PaintSmooth(image, 64, 256);
  const Bytes file = EncodeArithmetic(image);
  TBitmap full;
  TIOParams read;
  ASSERT_FALSE(Decode(file, full, read));
  EXPECT_LT(Compare(image, full).mean, 3.0);

  // The arithmetic decoder gives no warning when it runs out of data; the end of the stream tells.
  const TSegment scan = FindSegment(file, 0xDA);
  TBitmap decoded;
  std::string damage;
  EXPECT_TRUE(Decode(Prefix(file, (scan.at + scan.end) / 2), decoded, read, false, &damage));
  const std::string prefix = "the data ends after row ";
  ASSERT_EQ(damage.rfind(prefix, 0), 0u) << damage;
  const int rows = std::stoi(damage.substr(prefix.size()));
  EXPECT_NEAR(rows, 128, 40);
  for (int y = 0; y < rows; ++y)
    ASSERT_EQ(std::memcmp(decoded.ScanLine(y), full.ScanLine(y), 3 * 64), 0) << y;
  for (int y = rows + 1; y < 256; ++y) ASSERT_EQ(PixelAt(decoded, 63, y), Rgb(0, 0, 0)) << y;

  // A header of 44309 x 65292 pixels over a few bytes of data, read at an eighth, is refused at
  // once rather than decoded from made-up zeros for seconds.
  Bytes huge = Prefix(file, scan.at + 20);
  const std::size_t sof = FindSegment(file, 0xC9).at;
  huge[sof + 5] = 0xFF;
  huge[sof + 6] = 0x0C;
  huge[sof + 7] = 0xAD;
  huge[sof + 8] = 0x15;
  read.JpegScale = 4;
  TBitmap small;
  EXPECT_TRUE(Decode(huge, small, read, false, &damage));
  EXPECT_EQ(damage, "");
  EXPECT_EQ(small.Width(), 5539);
}

TEST(JpegCodec, CutOffFilesKeepTheirDecodedRowsAndAbort) {
  TBitmap image;
  PaintSmooth(image, 64, 256);
  for (const bool progressive : {false, true}) {
    SCOPED_TRACE(progressive);
    TIOParams params;
    params.JpegQuality = 90;
    params.JpegProgressive = progressive;
    const Bytes file = Encode(image, params);

    // Only the end-of-image marker missing: nothing of the picture is lost.
    TBitmap decoded;
    TIOParams read;
    EXPECT_FALSE(Decode(Bytes(file.begin(), file.end() - 2), decoded, read));
    EXPECT_LT(Compare(image, decoded).mean, 3.0);

    // A fault after the last scan (here a second frame header) spoils no pixel of a sequential
    // file. A progressive one is read to its end before its first row, so there it fails the load.
    const TSegment frame = FindSegment(file, progressive ? 0xC2 : 0xC0);
    Bytes trailing(file.begin(), file.end() - 2);
    trailing.insert(trailing.end(), file.begin() + static_cast<std::ptrdiff_t>(frame.at),
                    file.begin() + static_cast<std::ptrdiff_t>(frame.end));
    trailing.insert(trailing.end(), {0xFF, 0xD9});
    EXPECT_EQ(Decode(trailing, decoded, read), progressive);
    if (!progressive) {
      EXPECT_LT(Compare(image, decoded).mean, 3.0);
    }

    // Cut inside the headers, or (sequential) before the first row's data is complete: nothing
    // to show.
    const std::size_t scanStart = FindSegment(file, 0xDA).at;
    for (const std::size_t cut : {std::size_t{100}, progressive ? scanStart : scanStart + 20}) {
      TBitmap none;
      std::string damage;
      EXPECT_TRUE(Decode(Prefix(file, cut), none, read, false, &damage)) << cut;
      EXPECT_EQ(damage, "") << cut;
    }
  }
}

TEST(JpegCodec, HostileHeadersAbortWithoutAllocating) {
  TBitmap image;
  PaintSmooth(image, 16, 16);
  TIOParams params;
  const Bytes file = Encode(image, params);
  const std::size_t sof = FindSegment(file, 0xC0).at;

  // 65000 x 8000 pixels would need 1.5 GB.
  Bytes huge = file;
  huge[sof + 5] = 0x1F;
  huge[sof + 6] = 0x40;
  huge[sof + 7] = 0xFD;
  huge[sof + 8] = 0xE8;
  TBitmap decoded(2, 2, pf24bit);
  TIOParams read;
  EXPECT_TRUE(Decode(huge, decoded, read));
  EXPECT_EQ(decoded.Width(), 2) << "refused before the bitmap was touched";
  EXPECT_EQ(read.Width, 65000);
  // Read at an eighth the same file is small enough, and its missing data makes it a cut-off file.
  read.JpegScale = 4;
  EXPECT_TRUE(Decode(huge, decoded, read));
  EXPECT_EQ(decoded.Width(), 8125);

  // A zero width, a frame of two components, and a Huffman table of garbage.
  Bytes zero = file;
  zero[sof + 7] = 0;
  zero[sof + 8] = 0;
  EXPECT_TRUE(Decode(zero, decoded, read));

  Bytes twoComponents = file;
  twoComponents[sof + 9] = 2;
  EXPECT_TRUE(Decode(twoComponents, decoded, read));

  Bytes badTable = file;
  const std::size_t dht = FindSegment(file, 0xC4).at;
  std::fill(badTable.begin() + static_cast<std::ptrdiff_t>(dht + 5),
            badTable.begin() + static_cast<std::ptrdiff_t>(dht + 21), 0xFF);
  EXPECT_TRUE(Decode(badTable, decoded, read));
}

// A progressive file whose first scan is repeated: every repetition is a scan the decoder must walk.
Bytes WithRepeatedScan(const Bytes& file, int copies) {
  const TSegment scan = FindSegment(file, 0xDA);
  Bytes out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(scan.end));
  for (int i = 0; i < copies; ++i) {
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(scan.at),
               file.begin() + static_cast<std::ptrdiff_t>(scan.end));
  }
  out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(scan.end), file.end());
  return out;
}

TEST(JpegCodec, EndlessScansAreRefused) {
  TBitmap image;
  PaintSmooth(image, 32, 32);
  TIOParams params;
  params.JpegProgressive = true;
  const Bytes file = Encode(image, params);
  TBitmap decoded;
  TIOParams read;
  EXPECT_FALSE(Decode(WithRepeatedScan(file, 100), decoded, read));
  EXPECT_TRUE(Decode(WithRepeatedScan(file, 600), decoded, read));
}

TEST(JpegCodec, StreamErrorsReachTheCaller) {
  class TFailingStream final : public TStream {
   public:
    std::size_t Read(void*, std::size_t) override { throw EStreamError("read failed"); }
    void Write(const void*, std::size_t) override { throw EStreamError("disk full"); }
    std::int64_t Position() const override { return 0; }
    void Seek(std::int64_t) override {}
    std::int64_t Size() const override { return 0; }
  };
  TBitmap image;
  PaintSmooth(image, 16, 16);
  TIOParams params;
  TFailingStream failing;
  bool aborting = false;
  EXPECT_THROW(JpegWriteStream(failing, image, params, {{}, nullptr, &aborting}), EStreamError);
  EXPECT_TRUE(aborting);
}

}  // namespace
