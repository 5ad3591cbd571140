// PCX run-length coding of a 6000 x 4000 true-colour photo-like picture through memory streams.
// The figures are printed as ratios to the memcpy reference of the same binary.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "CodecBench.h"
#include "image/Bitmap.h"
#include "io/PcxCodec.h"

using namespace veilora;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Gradients with sensor-like noise: neighbours are close but rarely equal, so the coder meets
// mostly short runs and literals, as it does with real photographs.
TBitmap& PhotoLike() {
  static TBitmap picture;
  if (picture.Empty()) {
    picture.Allocate(kWidth, kHeight, pf24bit);
    std::mt19937 random(7);
    for (int y = 0; y < kHeight; ++y) {
      std::uint8_t* row = picture.ScanLine(y);
      for (int x = 0; x < kWidth; ++x) {
        const unsigned noise = random();
        // Three pixels in four keep the gradient's blue and green: some runs to find.
        const bool keep = ((noise >> 16) & 3) != 0;
        row[3 * x] = static_cast<std::uint8_t>(x * 255 / kWidth + (keep ? 0 : noise & 7));
        row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / kHeight + (keep ? 0 : (noise >> 3) & 7));
        row[3 * x + 2] = static_cast<std::uint8_t>((x + y) * 127 / (kWidth + kHeight) + ((noise >> 6) & 15));
      }
    }
  }
  return picture;
}

TIOParams RleTrueColour() {
  TIOParams params;
  params.BitsPerSample = 8;
  params.SamplesPerPixel = 3;
  params.PcxCompression = 1;
  return params;
}

TIOParams rleTrueColour = RleTrueColour();
const bench::CodecCall kWrite = [](TStream& s, TBitmap& b, const TProgressContext& p) {
  PcxWriteStream(s, b, rleTrueColour, p);
};
const bench::CodecCall kRead = [](TStream& s, TBitmap& b, const TProgressContext& p) {
  PcxReadStream(s, b, rleTrueColour, false, p, s.Size());
};

void PcxEncode(benchmark::State& state) {
  bench::TimeEncode(state, PhotoLike(), kWrite);
}
void PcxDecode(benchmark::State& state) {
  bench::TimeDecode(state, PhotoLike(), kWrite, kRead);
}

BENCHMARK(PcxEncode)->Name("PcxEncode/Rle24")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PcxDecode)->Name("PcxDecode/Rle24")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
