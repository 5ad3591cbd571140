// TGA run-length coding of a 6000 x 4000 true-colour photo-like picture through memory streams.
// The figures are printed as ratios to the memcpy reference of the same binary.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "CodecBench.h"
#include "image/Bitmap.h"
#include "io/TgaCodec.h"

using namespace veilora;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Gradients with sensor-like noise. A TGA run needs all three channels equal, so the noise is held
// for a few pixels at a time (as in a smooth, slightly posterised photo): the coder meets short
// runs between raw packets.
TBitmap& PhotoLike() {
  static TBitmap picture;
  if (picture.Empty()) {
    picture.Allocate(kWidth, kHeight, pf24bit);
    std::mt19937 random(11);
    for (int y = 0; y < kHeight; ++y) {
      std::uint8_t* row = picture.ScanLine(y);
      unsigned noise = 0;
      for (int x = 0; x < kWidth; ++x) {
        const unsigned draw = random();
        if ((draw & 3) == 0 || x % 16 == 0) noise = draw >> 8;
        row[3 * x] = static_cast<std::uint8_t>(x * 255 / kWidth + (noise & 7));
        row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / kHeight + ((noise >> 3) & 7));
        row[3 * x + 2] = static_cast<std::uint8_t>((x + y) * 127 / (kWidth + kHeight) + ((noise >> 6) & 15));
      }
    }
  }
  return picture;
}

TIOParams RleParams() {
  TIOParams params;
  params.TgaCompressed = true;
  return params;
}

TIOParams rle = RleParams();
const bench::CodecCall kWrite = [](TStream& s, TBitmap& b, const TProgressContext& p) {
  TgaWriteStream(s, b, rle, p);
};
const bench::CodecCall kRead = [](TStream& s, TBitmap& b, const TProgressContext& p) {
  TgaReadStream(s, b, rle, false, p);
};

void TgaEncode(benchmark::State& state) {
  bench::TimeEncode(state, PhotoLike(), kWrite);
}
void TgaDecode(benchmark::State& state) {
  bench::TimeDecode(state, PhotoLike(), kWrite, kRead);
}

BENCHMARK(TgaEncode)->Name("TgaEncode/Rle24")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TgaDecode)->Name("TgaDecode/Rle24")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
