// PCX files checked against Pillow: ours must open in it with the same pixels, and its files in ours.

#include <gtest/gtest.h>

#include <string>

#include "io/PcxCodec.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

namespace veilora {
namespace {

using test::BitmapFromRaw;
using test::PillowDecode;
using test::PillowEncode;
using test::RawFromBitmap;
using test::TestPicture;
using test::TRawImage;
using test::TTempDir;

bool SavePcx(TBitmap& bitmap, int bitsPerSample, int samplesPerPixel, int compression,
             const std::string& file) {
  TIOParams params;
  params.BitsPerSample = bitsPerSample;
  params.SamplesPerPixel = samplesPerPixel;
  params.PcxCompression = static_cast<std::uint8_t>(compression);
  params.DpiX = 96;
  params.DpiY = 96;
  bool aborting = false;
  TProgressContext progress;
  progress.aborting = &aborting;
  TFileStream stream(file, TFileStream::Mode::Create);
  PcxWriteStream(stream, bitmap, params, progress);
  stream.Close();
  return !aborting;
}

bool LoadPcx(const std::string& file, TBitmap& bitmap) {
  TIOParams params;
  bool aborting = false;
  TProgressContext progress;
  progress.aborting = &aborting;
  TFileStream stream(file, TFileStream::Mode::Read);
  PcxReadStream(stream, bitmap, params, false, progress, stream.Size());
  return !aborting;
}

struct OursCase {
  const char* name;
  int bitsPerSample;
  int samplesPerPixel;
  int compression;
};

// Pillow 9.4 run-length decodes every PCX file whatever its encoding byte says, so it reads raw
// data correctly only where no byte has both top bits set: the raw cases keep all bytes below 0xC0.
class PcxOpensInPillow : public testing::TestWithParam<OursCase> {};

TEST_P(PcxOpensInPillow, WithTheSamePixels) {
  const OursCase& c = GetParam();
  TTempDir dir;
  const std::string file = dir.File("ours.pcx");
  TBitmap image;
  if (c.bitsPerSample == 1) {
    image.Allocate(53, 17, pf1bit);  // odd width: a padded last byte and an odd line length
    test::FillRandom(image, 7);
  } else if (c.samplesPerPixel == 1) {
    // A palette image the 256-colour mode keeps exactly: 150 colours, multiples of 8 per channel
    // (so indices stay below 0xC0, see below).
    image.Allocate(57, 19, pf24bit);
    for (int y = 0; y < image.Height(); ++y) {
      for (int x = 0; x < image.Width(); ++x) {
        const int k = (x * 7 + y * 3) % 150;
        std::uint8_t* pixel = image.ScanLine(y) + 3 * x;
        pixel[0] = static_cast<std::uint8_t>(8 * (k % 8));
        pixel[1] = static_cast<std::uint8_t>(8 * (k / 8));
        pixel[2] = static_cast<std::uint8_t>(248 - 8 * (k % 5));
      }
    }
  } else {
    TRawImage picture = TestPicture(61, 23, 4);
    if (c.compression == 0) {
      for (std::uint8_t& v : picture.rgb) v %= 0xC0;
    }
    BitmapFromRaw(picture, image);
  }
  ASSERT_TRUE(SavePcx(image, c.bitsPerSample, c.samplesPerPixel, c.compression, file));
  EXPECT_EQ(PillowDecode(file), RawFromBitmap(image));
}

INSTANTIATE_TEST_SUITE_P(Ours, PcxOpensInPillow,
                         testing::Values(OursCase{"TrueColourRle", 8, 3, 1},
                                         OursCase{"TrueColourRaw", 8, 3, 0},
                                         OursCase{"TwoColourRle", 1, 1, 1},
                                         OursCase{"Palette256Rle", 8, 1, 1},
                                         OursCase{"Palette256Raw", 8, 1, 0}),
                         [](const auto& row) { return std::string(row.param.name); });

class PillowPcxOpensInOurs : public testing::TestWithParam<const char*> {};

TEST_P(PillowPcxOpensInOurs, WithTheSamePixels) {
  TTempDir dir;
  const std::string file = dir.File("pillow.pcx");
  const TRawImage picture = TestPicture(67, 29, 11);
  ASSERT_TRUE(PillowEncode(picture, file, "PCX", GetParam()));
  const TRawImage expected = PillowDecode(file);
  ASSERT_EQ(expected.width, 67);

  TBitmap loaded;
  ASSERT_TRUE(LoadPcx(file, loaded));
  EXPECT_EQ(loaded.PixelFormat(), std::string(GetParam()) == "1" ? pf1bit : pf24bit);
  EXPECT_EQ(RawFromBitmap(loaded), expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, PillowPcxOpensInOurs, testing::Values("1", "L", "P", "RGB"),
                         [](const auto& row) { return std::string(row.param); });

}  // namespace
}  // namespace veilora
