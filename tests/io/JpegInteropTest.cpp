// JPEG files exchanged with Pillow (which decodes with its own libjpeg build).
//
// Both sides run the same integer inverse transform and "fancy" chroma upsampling, so for grey,
// RGB and YCbCr files the pictures agree within 3 per channel (room for a different libjpeg
// build's SIMD rounding). CMYK: Pillow, like Photoshop, stores Adobe-inverted CMYK, that is the
// samples 255 - C, 255 - M, 255 - Y, 255 - K, and shows R = (255 - C) x (255 - K) / 255. Our reader
// takes the samples as delivered, R = s0 x s3 div 255, which is the same product of the same
// samples: the two agree within 1 (Pillow rounds, we cut the fraction off). Our writer stores
// s0 = R x 255 div K, s3 = K = max(R, G, B), which Pillow reads back by that same product.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/JpegCodec.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using namespace veilora::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A photo-like picture: smooth gradients, a few flat colour fields, mild noise.
TRawImage Photo(int width, int height) {
  TRawImage raw{width, height, {}};
  unsigned state = 99;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      const int noise = static_cast<int>((state >> 16) % 9) - 4;
      int r = x * 255 / (width - 1) + noise;
      int g = y * 255 / (height - 1) - noise;
      int b = 180 - (x + y) * 120 / (width + height) + noise;
      if (y > height / 2 && x < width / 3) {
        r = 200;
        g = 40;
        b = 60;
      }
      raw.rgb.push_back(static_cast<std::uint8_t>(std::clamp(r, 0, 255)));
      raw.rgb.push_back(static_cast<std::uint8_t>(std::clamp(g, 0, 255)));
      raw.rgb.push_back(static_cast<std::uint8_t>(std::clamp(b, 0, 255)));
    }
  }
  return raw;
}

int MaxDifference(const TRawImage& a, const TRawImage& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 256;
  int most = 0;
  for (std::size_t i = 0; i < a.rgb.size(); ++i) most = std::max(most, std::abs(a.rgb[i] - b.rgb[i]));
  return most;
}

std::string PillowMode(const std::string& file) {
  std::string output;
  RunPillowTool({"mode", file}, &output);
  return output.substr(0, output.find('\n'));
}

TRawImage ReadOurs(const std::string& file, TIOParams& params) {
  TFileStream stream(file, TFileStream::Mode::Read);
  TBitmap bitmap;
  bool aborting = false;
  JpegReadStream(stream, bitmap, params, false, {{}, nullptr, &aborting});
  EXPECT_FALSE(aborting);
  return RawFromBitmap(bitmap);
}

TEST(JpegInterop, PillowFilesLoadAsPillowShowsThem) {
  struct TCase {
    const char* mode;
    std::vector<std::string> options;
    std::uint8_t colorSpace;
    bool progressive;
    int tolerance;
  };
  const TRawImage picture = Photo(83, 61);
  TTempDir dir;
  for (const TCase& c : {TCase{"L", {"quality=90"}, 1, false, 3}, TCase{"RGB", {"quality=90"}, 2, false, 3},
                         TCase{"RGB", {"quality=80", "subsampling=0"}, 2, false, 3},
                         TCase{"RGB", {"quality=85", "progressive=1"}, 2, true, 3},
                         TCase{"CMYK", {"quality=95"}, 3, false, 1}}) {
    SCOPED_TRACE(testing::Message() << c.mode << (c.progressive ? " progressive" : ""));
    const std::string file = dir.File(std::string(c.mode) + (c.progressive ? "p" : "") + ".jpg");
    ASSERT_TRUE(PillowEncode(picture, file, "JPEG", c.mode, c.options));
    TIOParams params;
    const TRawImage ours = ReadOurs(file, params);
    EXPECT_EQ(params.JpegColorSpace, c.colorSpace);
    EXPECT_EQ(params.JpegProgressive, c.progressive);
    EXPECT_EQ(params.Width, 83);
    EXPECT_EQ(params.Height, 61);
    const TRawImage pillow = PillowDecode(file);
    EXPECT_LE(MaxDifference(ours, pillow), c.tolerance);
    // And both are the picture, within what the compression costs.
    if (std::string(c.mode) != "L") {
      EXPECT_LE(MaxDifference(ours, picture), 90);
    }
  }
}

TEST(JpegInterop, OurFilesLoadInPillow) {
  struct TCase {
    std::uint8_t colorSpace;
    bool progressive;
    const char* pillowMode;
    int tolerance;
  };
  TBitmap image;
  BitmapFromRaw(Photo(70, 52), image);
  TTempDir dir;
  for (const TCase& c :
       {TCase{0, false, "RGB JPEG", 3}, TCase{1, false, "L JPEG", 3}, TCase{2, false, "RGB JPEG", 3},
        TCase{2, true, "RGB JPEG", 3}, TCase{3, false, "CMYK JPEG", 1}, TCase{4, false, "CMYK JPEG", 1}}) {
    SCOPED_TRACE(testing::Message() << int{c.colorSpace} << (c.progressive ? " progressive" : ""));
    const std::string file = dir.File("ours.jpg");
    TIOParams params;
    params.JpegQuality = 90;
    params.JpegColorSpace = c.colorSpace;
    params.JpegProgressive = c.progressive;
    params.DpiX = 200;
    {
      TFileStream out(file, TFileStream::Mode::Create);
      bool aborting = false;
      JpegWriteStream(out, image, params, {{}, nullptr, &aborting});
      out.Close();
      ASSERT_FALSE(aborting);
    }
    EXPECT_EQ(PillowMode(file), c.pillowMode);
    TIOParams read;
    const TRawImage ours = ReadOurs(file, read);
    EXPECT_EQ(read.JpegColorSpace, c.colorSpace);
    EXPECT_LE(MaxDifference(ours, PillowDecode(file)), c.tolerance);
  }
}

}  // namespace
