// 24-bit BMP reading and writing of a 6000 x 4000 picture through a memory stream. The ratio
// reporter of this program shows each as a multiple of a memcpy of the same pixel block. Reading
// is measured into a bitmap that already has the size (a reload) and into a new one. 32-bit
// reading is measured for the plain layout (the fourth byte unused) and for a v5 header with
// bit-field masks and an alpha channel (opaque everywhere, so that the picture comes back and
// every pixel still goes through the masks and the flattening).

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

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

// A 32-bit file of the picture: a 40-byte header without masks, or a v5 header with red, green,
// blue and alpha masks; every alpha byte is 255.
bench::CodecCall ThirtyTwoBitWriter(bool v5) {
  return [v5](TStream& s, TBitmap& b, const TProgressContext&) {
    const std::uint32_t headerSize = v5 ? 124 : 40;
    const std::uint32_t rowBytes = 4 * static_cast<std::uint32_t>(b.Width());
    const std::uint32_t pixelBytes = rowBytes * static_cast<std::uint32_t>(b.Height());
    std::vector<std::uint8_t> header(14 + headerSize, 0);
    header[0] = 'B';
    header[1] = 'M';
    PutLE32(header.data() + 2, 14 + headerSize + pixelBytes);
    PutLE32(header.data() + 10, 14 + headerSize);
    std::uint8_t* info = header.data() + 14;
    PutLE32(info, headerSize);
    PutLE32(info + 4, static_cast<std::uint32_t>(b.Width()));
    PutLE32(info + 8, static_cast<std::uint32_t>(b.Height()));
    PutLE16(info + 12, 1);
    PutLE16(info + 14, 32);
    if (v5) {
      PutLE32(info + 16, 3);
      PutLE32(info + 40, 0x00FF0000);
      PutLE32(info + 44, 0x0000FF00);
      PutLE32(info + 48, 0x000000FF);
      PutLE32(info + 52, 0xFF000000);
    }
    s.Write(header.data(), header.size());
    std::vector<std::uint8_t> row(rowBytes);
    for (int y = b.Height() - 1; y >= 0; --y) {
      const std::uint8_t* in = b.ScanLine(y);
      for (int x = 0; x < b.Width(); ++x) {
        std::memcpy(row.data() + 4 * x, in + 3 * x, 3);
        row[4 * x + 3] = 255;
      }
      s.Write(row.data(), row.size());
    }
  };
}

void BmpRead32(benchmark::State& state) {
  bench::TimeDecode(state, Noise(), ThirtyTwoBitWriter(false), kRead, false);
}
void BmpRead32Alpha(benchmark::State& state) {
  bench::TimeDecode(state, Noise(), ThirtyTwoBitWriter(true), kRead, false);
}

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
BENCHMARK(BmpRead32)->Name("BmpRead/32bit")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BmpRead32Alpha)->Name("BmpRead/32bitV5AlphaMasks")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
