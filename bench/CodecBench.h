#pragma once

// The timing loops shared by the codec benchmarks: encode a picture into a memory stream, or
// decode it back. One untimed pass comes first, so the stream's memory is taken once and the
// timing is the coder's own. Decoding checks that the picture came back.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>

#include "image/Bitmap.h"
#include "io/Progress.h"
#include "io/Stream.h"

namespace veilora::bench {

constexpr int kPhotoWidth = 6000;
constexpr int kPhotoHeight = 4000;

// A 6000 x 4000 24-bit picture made once: gradients with sensor-like noise in every pixel, as a
// photo's low bits are, so that the coders meet neither flat runs nor pure noise.
inline TBitmap& PhotoLikePicture() {
  static TBitmap picture;
  if (picture.Empty()) {
    picture.Allocate(kPhotoWidth, kPhotoHeight, pf24bit);
    std::mt19937 random(13);
    for (int y = 0; y < kPhotoHeight; ++y) {
      std::uint8_t* row = picture.ScanLine(y);
      for (int x = 0; x < kPhotoWidth; ++x) {
        const unsigned noise = random();
        row[3 * x] = static_cast<std::uint8_t>(x * 255 / kPhotoWidth + (noise & 7));
        row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / kPhotoHeight + ((noise >> 3) & 7));
        row[3 * x + 2] =
            static_cast<std::uint8_t>((x + y) * 127 / (kPhotoWidth + kPhotoHeight) + ((noise >> 6) & 15));
      }
    }
  }
  return picture;
}

using CodecCall = std::function<void(TStream& stream, TBitmap& bitmap, const TProgressContext& progress)>;

inline void TimeEncode(benchmark::State& state, TBitmap& image, const CodecCall& write) {
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  TMemoryStream stream;
  write(stream, image, progress);
  for (auto _ : state) {
    stream.Seek(0);
    write(stream, image, progress);
    benchmark::DoNotOptimize(stream.Data().data());
    benchmark::ClobberMemory();
  }
  if (aborting) state.SkipWithError("the writer gave up");
  state.counters["file_bytes"] = static_cast<double>(stream.Position());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

// With `freshBitmap` every pass decodes into a new bitmap, paying for new pixel memory; otherwise
// into one that already has the size, as a reload does.
inline void TimeDecode(benchmark::State& state, TBitmap& image, const CodecCall& write, const CodecCall& read,
                       bool freshBitmap = true) {
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  TMemoryStream stream;
  write(stream, image, progress);
  TBitmap decoded;
  for (auto _ : state) {
    stream.Seek(0);
    if (freshBitmap) {
      TBitmap fresh;
      read(stream, fresh, progress);
      benchmark::DoNotOptimize(fresh.Bits());
    } else {
      read(stream, decoded, progress);
      benchmark::DoNotOptimize(decoded.Bits());
    }
    benchmark::ClobberMemory();
  }
  if (freshBitmap) {
    stream.Seek(0);
    read(stream, decoded, progress);
  }
  const int middle = image.Height() / 2;
  if (aborting || decoded.Width() != image.Width() || decoded.Height() != image.Height() ||
      std::memcmp(decoded.ScanLine(middle), image.ScanLine(middle),
                  3 * static_cast<std::size_t>(image.Width())) != 0) {
    state.SkipWithError("the picture did not come back");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

}  // namespace veilora::bench
