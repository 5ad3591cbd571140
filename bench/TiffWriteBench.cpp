// TIFF writing of a 6000 x 4000 true-colour photo-like picture with LZW compression and the
// horizontal predictor, into memory, beside libtiff called directly on the same pixels in the same
// run:
//   TiffLzwWrite/ours   TiffWriteStream into a memory stream whose memory was taken by an untimed
//                       first pass (so no pass pays for growing it);
//   TiffLzwWrite/peer   TIFFClientOpen over a memory buffer kept the same way, COMPRESSION_LZW,
//                       PREDICTOR_HORIZONTAL, one strip for the whole image (RowsPerStrip = height,
//                       as ours writes), rows given with TIFFWriteScanline. libtiff is handed
//                       red-green-blue rows, so the peer turns each blue-green-red bitmap row into
//                       a row buffer first, as our writer does.
// The file_bytes counters show both sizes: close sizes say both sides did the same work.
//   TiffRawWrite/ours and /peer: the same without compression or predictor, which leaves the row
//   loop, the byte-order swap and the memory writes of each side: the part of the LZW figure that
//   is not the LZW coder.

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "CodecBench.h"
#include "image/Bitmap.h"
#include "io/LzwCoders.h"
#include "io/TiffCodec.h"

using namespace veilora;

namespace {

constexpr int kWidth = bench::kPhotoWidth;
constexpr int kHeight = bench::kPhotoHeight;

TIOParams WriteParams(std::uint8_t compression) {
  InstallLzwCoders();
  TIOParams params;
  params.TiffCompression = compression;
  params.DpiX = 300;
  params.DpiY = 300;
  return params;
}

void TimeOurWrite(benchmark::State& state, TIOParams& params) {
  if (params.TiffCompression == 5 && params.TiffLzwCompress == nullptr) {
    state.SkipWithError("no TIFF LZW coder installed");
    return;
  }
  bench::TimeEncode(state, bench::PhotoLikePicture(),
                    [&params](TStream& s, TBitmap& b, const TProgressContext& p) {
                      TiffWriteStream(s, false, b, params, p);
                    });
}

void TiffLzwWriteOurs(benchmark::State& state) {
  static TIOParams params = WriteParams(5);
  TimeOurWrite(state, params);
}

void TiffRawWriteOurs(benchmark::State& state) {
  static TIOParams params = WriteParams(0);
  TimeOurWrite(state, params);
}

// ---------------------------------------------------------------- libtiff over memory

struct TMemoryFile {
  std::vector<std::uint8_t> data;
  std::size_t size = 0;  // bytes of the file; data may hold more from an earlier pass
  std::size_t position = 0;
};

tmsize_t MemoryRead(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<TMemoryFile*>(handle);
  const std::size_t n =
      std::min(static_cast<std::size_t>(count), file->size - std::min(file->size, file->position));
  std::memcpy(buffer, file->data.data() + file->position, n);
  file->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t MemoryWrite(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<TMemoryFile*>(handle);
  const std::size_t end = file->position + static_cast<std::size_t>(count);
  if (end > file->data.size()) file->data.resize(end);
  std::memcpy(file->data.data() + file->position, buffer, static_cast<std::size_t>(count));
  file->position = end;
  file->size = std::max(file->size, end);
  return count;
}

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<TMemoryFile*>(handle);
  const std::size_t base = whence == SEEK_CUR ? file->position : whence == SEEK_END ? file->size : 0;
  file->position = base + static_cast<std::size_t>(offset);
  return file->position;
}

int MemoryClose(thandle_t) {
  return 0;
}

toff_t MemorySize(thandle_t handle) {
  return static_cast<TMemoryFile*>(handle)->size;
}

int MemoryMap(thandle_t, void**, toff_t*) {
  return 0;
}

void MemoryUnmap(thandle_t, void*, toff_t) {}

// Writes the picture as libtiff would for our settings; false on any libtiff error.
bool LibtiffWrite(const TBitmap& image, bool lzw, TMemoryFile& file, std::vector<std::uint8_t>& row) {
  file.size = 0;
  file.position = 0;
  TIFF* tiff = TIFFClientOpen("memory", "w", &file, MemoryRead, MemoryWrite, MemorySeek, MemoryClose,
                              MemorySize, MemoryMap, MemoryUnmap);
  if (tiff == nullptr) return false;
  const auto width = static_cast<std::uint32_t>(image.Width());
  const auto height = static_cast<std::uint32_t>(image.Height());
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (lzw) {
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  } else {
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  }
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
  bool ok = true;
  for (int y = 0; y < image.Height() && ok; ++y) {
    const std::uint8_t* source = image.ScanLine(y);
    std::uint8_t* out = row.data();
    for (int x = 0; x < image.Width(); ++x, source += 3, out += 3) {
      out[0] = source[2];
      out[1] = source[1];
      out[2] = source[0];
    }
    // libtiff differences the row in place, which is why each row is built afresh.
    ok = TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0) == 1;
  }
  TIFFClose(tiff);
  return ok;
}

void TimePeerWrite(benchmark::State& state, bool lzw) {
  const TBitmap& image = bench::PhotoLikePicture();
  TMemoryFile file;
  std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(kWidth));
  if (!LibtiffWrite(image, lzw, file, row)) state.SkipWithError("libtiff gave up");
  for (auto _ : state) {
    if (!LibtiffWrite(image, lzw, file, row)) state.SkipWithError("libtiff gave up");
    benchmark::DoNotOptimize(file.data.data());
    benchmark::ClobberMemory();
  }
  state.counters["file_bytes"] = static_cast<double>(file.size);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

void TiffLzwWritePeer(benchmark::State& state) {
  TimePeerWrite(state, true);
}

void TiffRawWritePeer(benchmark::State& state) {
  TimePeerWrite(state, false);
}

BENCHMARK(TiffLzwWriteOurs)->Name("TiffLzwWrite/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TiffLzwWritePeer)->Name("TiffLzwWrite/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TiffRawWriteOurs)->Name("TiffRawWrite/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TiffRawWritePeer)->Name("TiffRawWrite/peer")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
