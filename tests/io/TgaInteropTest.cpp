// TGA files exchanged with Pillow, an independent reader and writer: pixels must agree exactly.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/TgaCodec.h"
#include "support/Pillow.h"

using namespace veilora;
using namespace veilora::test;

namespace {

bool ReadOurs(const std::string& file, TBitmap& bitmap) {
  TFileStream stream(file, TFileStream::Mode::Read);
  TIOParams params;
  bool aborted = false;
  TgaReadStream(stream, bitmap, params, false, TProgressContext{{}, nullptr, &aborted});
  return !aborted;
}

void WriteOurs(const std::string& file, TBitmap& bitmap, TIOParams& params) {
  TFileStream stream(file, TFileStream::Mode::Create);
  bool aborted = false;
  TgaWriteStream(stream, bitmap, params, TProgressContext{{}, nullptr, &aborted});
  stream.Close();
  ASSERT_FALSE(aborted);
}

std::string PillowMode(const std::string& file) {
  std::string output;
  RunPillowTool({"mode", file}, &output);
  return output.substr(0, output.find('\n'));
}

// A grey picture, so that our grey file has one exact expected value per pixel.
TRawImage GreyPicture(int width, int height) {
  TRawImage raw = TestPicture(width, height, 4);
  for (std::size_t i = 0; i < raw.rgb.size(); i += 3) raw.rgb[i + 1] = raw.rgb[i + 2] = raw.rgb[i];
  return raw;
}

TEST(TgaInterop, PillowReadsOurTrueColourFilesExactly) {
  TTempDir dir;
  const TRawImage picture = TestPicture(301, 77, 1);
  for (bool compressed : {true, false}) {
    TBitmap image;
    BitmapFromRaw(picture, image);
    TIOParams params;
    params.TgaCompressed = compressed;
    const std::string file = dir.File(compressed ? "rle.tga" : "raw.tga");
    WriteOurs(file, image, params);
    EXPECT_EQ(PillowMode(file), "RGB TGA");
    EXPECT_EQ(PillowDecode(file), picture) << file;
  }
}

TEST(TgaInterop, PillowReadsOurGreyAndColourMappedFilesAsWeDo) {
  TTempDir dir;
  struct Case {
    const char* name;
    int bits;
    int samples;
    bool grey;
    const char* pillowMode;
  };
  const Case cases[] = {
      {"grey", 8, 1, true, "L TGA"},
      {"palette", 8, 1, false, "P TGA"},
      {"two-colour", 1, 1, false, "P TGA"},
  };
  const TRawImage grey = GreyPicture(133, 41);
  for (const Case& k : cases) {
    for (bool compressed : {true, false}) {
      TBitmap image;
      BitmapFromRaw(k.grey ? grey : TestPicture(133, 41, 2), image);
      TIOParams params;
      params.BitsPerSample = k.bits;
      params.SamplesPerPixel = k.samples;
      params.TgaGrayLevel = k.grey;
      params.TgaCompressed = compressed;
      const std::string file = dir.File(std::string(k.name) + (compressed ? "-rle.tga" : ".tga"));
      WriteOurs(file, image, params);
      SCOPED_TRACE(file);
      EXPECT_EQ(PillowMode(file), k.pillowMode);
      TBitmap ours;
      ASSERT_TRUE(ReadOurs(file, ours));
      EXPECT_EQ(PillowDecode(file), RawFromBitmap(ours));
      if (k.grey) {
        EXPECT_EQ(RawFromBitmap(ours), grey);
      }
    }
  }
}

TEST(TgaInterop, WeReadPillowsFilesAsPillowDoes) {
  TTempDir dir;
  const TRawImage picture = TestPicture(157, 63, 3);
  for (const char* mode : {"RGB", "RGBA", "L", "P", "1"}) {
    for (bool compressed : {false, true}) {
      // Pillow has no run-length form for 1-bit grey.
      if (std::string(mode) == "1" && compressed) continue;
      const std::string file = dir.File(std::string(mode) + (compressed ? "-rle.tga" : ".tga"));
      std::vector<std::string> options;
      if (compressed) options.push_back("compression=tga_rle");
      ASSERT_TRUE(PillowEncode(picture, file, "TGA", mode, options));
      SCOPED_TRACE(file);
      TBitmap ours;
      ASSERT_TRUE(ReadOurs(file, ours));
      const TRawImage expected = PillowDecode(file);
      EXPECT_EQ(RawFromBitmap(ours), expected);
      if (std::string(mode).starts_with("RGB")) {
        EXPECT_EQ(expected, picture);
      }
    }
  }
}

}  // namespace
