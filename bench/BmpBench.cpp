// 24-bit BMP reading and writing of a 6000 x 4000 picture through a memory stream. The ratio
// reporter of this program shows each as a multiple of a memcpy of the same pixel block. Reading
// is measured into a bitmap that already has the size (a reload) and into a new one.

#include <benchmark/benchmark.h>

#include <random>

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

void BmpWrite24(benchmark::State& state) {
  TBitmap image(kWidth, kHeight, pf24bit);
  PaintNoise(image);
  TIOParams params;
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  TMemoryStream stream;
  BmpWriteStream(stream, image, params, progress);  // the stream's memory is taken once, here
  for (auto _ : state) {
    stream.Seek(0);
    BmpWriteStream(stream, image, params, progress);
    benchmark::ClobberMemory();
  }
  if (aborting || stream.Size() != 54 + static_cast<std::int64_t>(image.ImageBytes()))
    state.SkipWithError("the file was not written");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

void BmpRead24(benchmark::State& state) {
  TBitmap image(kWidth, kHeight, pf24bit);
  PaintNoise(image);
  TIOParams params;
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  TMemoryStream stream;
  BmpWriteStream(stream, image, params, progress);
  TBitmap loaded;
  for (auto _ : state) {
    stream.Seek(0);
    BmpReadStream(stream, loaded, params, false, progress, stream.Size());
    benchmark::DoNotOptimize(loaded.Bits());
    benchmark::ClobberMemory();
  }
  if (aborting || loaded.Width() != kWidth || loaded.ScanLine(17)[100] != image.ScanLine(17)[100])
    state.SkipWithError("the file was not read back");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

// The same read into a new bitmap each time: the pixel memory is taken from the system afresh.
void BmpRead24Fresh(benchmark::State& state) {
  TBitmap image(kWidth, kHeight, pf24bit);
  PaintNoise(image);
  TIOParams params;
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  TMemoryStream stream;
  BmpWriteStream(stream, image, params, progress);
  for (auto _ : state) {
    stream.Seek(0);
    TBitmap loaded;
    BmpReadStream(stream, loaded, params, false, progress, stream.Size());
    benchmark::DoNotOptimize(loaded.Bits());
    benchmark::ClobberMemory();
  }
  if (aborting) state.SkipWithError("the file was not read back");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

BENCHMARK(BmpWrite24)->Name("BmpWrite/24bit")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BmpRead24)->Name("BmpRead/24bit")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BmpRead24Fresh)->Name("BmpRead/24bitNewBitmap")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
