// A picture of at most 256 distinct colours survives a 256-colour palette save unchanged, in every
// format that stores such a palette, whatever cells of the quantizer its colours share.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "io/ImageIO.h"
#include "support/HeadlessView.h"
#include "support/LzwHooks.h"
#include "support/Pixels.h"

namespace veilora {
namespace {

using test::PixelBytesTopDown;
using test::Rgb;

// 32 x 16 pixels, each of the 256 colours twice.
void PaintColours(TBitmap& image, const std::vector<TRGB>& colours) {
  image.Allocate(32, 16, pf24bit);
  for (int k = 0; k < 512; ++k)
    test::SetPixel(image, k % 32, k / 32, colours[static_cast<std::size_t>((k * 37) % 256)]);
}

std::vector<TRGB> Greys() {
  std::vector<TRGB> colours;
  for (int i = 0; i < 256; ++i) colours.push_back(Rgb(i, i, i));
  return colours;
}

// Neighbours that differ only in the low three bits: a few cells hold them all.
std::vector<TRGB> Clustered() {
  std::vector<TRGB> colours;
  for (int k = 0; k < 256; ++k) colours.push_back(Rgb(100 + k % 8, 50 + (k / 8) % 8, 200 + k / 64));
  return colours;
}

std::vector<TRGB> Scattered() {
  std::mt19937 random(7);
  std::set<std::uint32_t> seen;
  std::vector<TRGB> colours;
  while (colours.size() < 256) {
    const std::uint32_t value = random() & 0xFFFFFF;
    if (seen.insert(value).second) colours.push_back(Rgb(value >> 16, (value >> 8) & 255, value & 255));
  }
  return colours;
}

struct Format {
  const char* name;
  std::function<void(TIOParams&)> palette;  // asks the writer for a 256-colour palette
  void (TImageIO::*save)(TStream&);
  void (TImageIO::*load)(TStream&);
};

class PaletteRoundTrip : public testing::TestWithParam<Format> {
 protected:
  test::TScopedLzwHooks hooks_{test::TScopedLzwHooks::kProgramCoders};
};

TEST_P(PaletteRoundTrip, AtMost256ColoursComeBackExactly) {
  const Format& format = GetParam();
  for (const auto& [what, colours] : {std::pair{"greys", Greys()}, std::pair{"clustered", Clustered()},
                                      std::pair{"scattered", Scattered()}}) {
    SCOPED_TRACE(what);
    test::HeadlessView view;
    TImageIO io;
    io.SetAttachedView(&view);
    PaintColours(*view.Bitmap(), colours);
    format.palette(io.Params);
    TMemoryStream stream;
    (io.*format.save)(stream);
    ASSERT_FALSE(io.Aborting);

    test::HeadlessView otherView;
    TImageIO other;
    other.SetAttachedView(&otherView);
    stream.Seek(0);
    (other.*format.load)(stream);
    ASSERT_FALSE(other.Aborting);
    EXPECT_EQ(other.Params.BitsPerSample, 8);
    EXPECT_EQ(PixelBytesTopDown(*otherView.Bitmap()), PixelBytesTopDown(*view.Bitmap()));
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, PaletteRoundTrip,
                         testing::Values(Format{"Gif", [](TIOParams& p) { p.BitsPerSample = 8; },
                                                &TImageIO::SaveToStreamGIF, &TImageIO::LoadFromStreamGIF},
                                         Format{"Png", [](TIOParams& p) { p.SamplesPerPixel = 1; },
                                                &TImageIO::SaveToStreamPNG, &TImageIO::LoadFromStreamPNG},
                                         Format{"Bmp", [](TIOParams& p) { p.SamplesPerPixel = 1; },
                                                &TImageIO::SaveToStreamBMP, &TImageIO::LoadFromStreamBMP}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace veilora
