// 24-bit BMP reading and writing of a 6000 x 4000 picture through a memory stream. The ratio
// reporter of this program shows each as a multiple of a memcpy of the same pixel block. Reading
// is measured into a bitmap that already has the size (a reload) and into a new one.

#include <benchmark/benchmark.h>

#include <random>

#include "CodecBench.h"
#include "image/Bitmap.h"
#include "io/BmpCodec.h"

using namespace veilora;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

void PaintNoise(TBitmap& bitmap) {
  std::mt19937 random(5);
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < 3 * bitmap.Width(); ++x) row[x] = static_cast<std::uint8_t>(random());
  }
}

TBitmap& Noise() {
  static TBitmap image;
  if (image.Empty()) {
    image.Allocate(kWidth, kHeight, pf24bit);
    PaintNoise(image);
  }
  return image;
}

TIOParams defaults;
const bench::CodecCall kWrite = [](TStream& s, TBitmap& b, const TProgressContext& p) {
  BmpWriteStream(s, b, defaults, p);
};
const bench::CodecCall kRead = [](TStream& s, TBitmap& b, const TProgressContext& p) {
  BmpReadStream(s, b, defaults, false, p, s.Size());
};

void BmpWrite24(benchmark::State& state) {
  bench::TimeEncode(state, Noise(), kWrite);
}
void BmpRead24(benchmark::State& state) {
  bench::TimeDecode(state, Noise(), kWrite, kRead, false);
}
// The same read into a new bitmap each time: the pixel memory is taken from the system afresh.
void BmpRead24Fresh(benchmark::State& state) {
  bench::TimeDecode(state, Noise(), kWrite, kRead, true);
}

BENCHMARK(BmpWrite24)->Name("BmpWrite/24bit")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BmpRead24)->Name("BmpRead/24bit")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BmpRead24Fresh)->Name("BmpRead/24bitNewBitmap")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
