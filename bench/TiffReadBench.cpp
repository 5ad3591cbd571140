// Reading a 6000 x 4000 photo-like RGB TIFF compressed with LZW and horizontal differencing
// (predictor 2), written once by libtiff (TIFFWriteScanline, libtiff's own rows per strip), in the
// same run as libtiff decoding the same file bytes:
//   TiffLzwRead/ours   TiffReadStream from a memory stream into a fresh bitmap (blue-green-red);
//   TiffLzwRead/peer   TIFFClientOpen over the same bytes in memory, TIFFReadEncodedStrip of every
//                      strip into fresh memory of the picture's size (red-green-blue as stored, so
//                      libtiff is spared the byte-order turn our bitmap needs).
// The program prints "ours" as a ratio to "peer".

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CodecBench.h"
#include "image/Bitmap.h"
#include "image/PixelMemory.h"
#include "io/TIFLZW.h"
#include "io/TiffCodec.h"

using namespace veilora;

namespace {

constexpr int kWidth = bench::kPhotoWidth;
constexpr int kHeight = bench::kPhotoHeight;

void QuietHandler(const char*, const char*, va_list) {}

// The file libtiff writes of the picture, made once.
const std::vector<std::uint8_t>& LibtiffFile() {
  static std::vector<std::uint8_t> file;
  if (!file.empty()) return file;
  TIFFSetWarningHandler(QuietHandler);
  const std::string path = (std::filesystem::temp_directory_path() / "veilora-bench-lzw.tif").string();
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return file;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  const TBitmap& image = bench::PhotoLikePicture();
  std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(kWidth));
  for (int y = 0; y < kHeight; ++y) {
    const std::uint8_t* pixels = image.ScanLine(y);
    for (int x = 0; x < kWidth; ++x) {
      row[3 * x] = pixels[3 * x + 2];
      row[3 * x + 1] = pixels[3 * x + 1];
      row[3 * x + 2] = pixels[3 * x];
    }
    TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
  }
  TIFFClose(tif);
  std::ifstream in(path, std::ios::binary);
  file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  return file;
}

// ---------------------------------------------------------------- libtiff over memory

struct TMemoryFile {
  const std::vector<std::uint8_t>* data;
  toff_t position;
};

tsize_t MemoryRead(thandle_t handle, tdata_t buffer, tsize_t size) {
  auto* file = static_cast<TMemoryFile*>(handle);
  const toff_t end = file->data->size();
  const toff_t take =
      file->position >= end ? 0 : std::min<toff_t>(static_cast<toff_t>(size), end - file->position);
  std::memcpy(buffer, file->data->data() + file->position, take);
  file->position += take;
  return static_cast<tsize_t>(take);
}
tsize_t MemoryWrite(thandle_t, tdata_t, tsize_t) {
  return 0;
}
toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<TMemoryFile*>(handle);
  switch (whence) {
    case SEEK_SET: file->position = offset; break;
    case SEEK_CUR: file->position += offset; break;
    case SEEK_END: file->position = file->data->size() + offset; break;
    default: break;
  }
  return file->position;
}
int MemoryClose(thandle_t) {
  return 0;
}
toff_t MemorySize(thandle_t handle) {
  return static_cast<TMemoryFile*>(handle)->data->size();
}
int MemoryMap(thandle_t, tdata_t*, toff_t*) {
  return 0;
}
void MemoryUnmap(thandle_t, tdata_t, toff_t) {}

// Decodes every strip of `file` into `pixels`; false on any error.
bool LibtiffRead(const std::vector<std::uint8_t>& file, PixelBlock& pixels) {
  TMemoryFile memory{&file, 0};
  TIFF* tif = TIFFClientOpen("memory", "r", &memory, MemoryRead, MemoryWrite, MemorySeek, MemoryClose,
                             MemorySize, MemoryMap, MemoryUnmap);
  if (tif == nullptr) return false;
  const tmsize_t total = static_cast<tmsize_t>(kWidth) * kHeight * 3;
  pixels = AllocatePixelMemory(static_cast<std::size_t>(total));
  const tstrip_t strips = TIFFNumberOfStrips(tif);
  tmsize_t at = 0;
  bool ok = true;
  for (tstrip_t strip = 0; strip < strips && ok; ++strip) {
    const tmsize_t got = TIFFReadEncodedStrip(tif, strip, pixels.get() + at, total - at);
    ok = got > 0;
    at += got;
  }
  TIFFClose(tif);
  return ok && at == total;
}

void TiffLzwReadOurs(benchmark::State& state) {
  const std::vector<std::uint8_t>& file = LibtiffFile();
  TBitmap& image = bench::PhotoLikePicture();
  TMemoryStream stream(file);
  TIOParams params;
  params.TiffLzwDecompress = TiffLzwDecode;
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  for (auto _ : state) {
    stream.Seek(0);
    TBitmap fresh;
    TiffReadStream(stream, fresh, params, false, progress, nullptr);
    benchmark::DoNotOptimize(fresh.Bits());
    benchmark::ClobberMemory();
  }
  TBitmap decoded;
  stream.Seek(0);
  TiffReadStream(stream, decoded, params, false, progress, nullptr);
  const int middle = kHeight / 2;
  if (aborting || decoded.Width() != kWidth || decoded.Height() != kHeight ||
      std::memcmp(decoded.ScanLine(middle), image.ScanLine(middle), 3 * static_cast<std::size_t>(kWidth)) !=
          0) {
    state.SkipWithError("the picture did not come back");
  }
  state.counters["file_bytes"] = static_cast<double>(file.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

void TiffLzwReadPeer(benchmark::State& state) {
  const std::vector<std::uint8_t>& file = LibtiffFile();
  const TBitmap& image = bench::PhotoLikePicture();
  for (auto _ : state) {
    PixelBlock pixels;
    if (!LibtiffRead(file, pixels)) state.SkipWithError("libtiff gave up");
    benchmark::DoNotOptimize(pixels.get());
    benchmark::ClobberMemory();
  }
  PixelBlock pixels;
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(kWidth);
  const std::uint8_t* expected = image.ScanLine(kHeight / 2);
  bool same = LibtiffRead(file, pixels);
  for (int x = 0; same && x < kWidth; ++x) {
    const std::uint8_t* got = pixels.get() + rowBytes * (kHeight / 2) + 3 * static_cast<std::size_t>(x);
    same = got[0] == expected[3 * x + 2] && got[1] == expected[3 * x + 1] && got[2] == expected[3 * x];
  }
  if (!same) state.SkipWithError("the picture did not come back");
  state.counters["file_bytes"] = static_cast<double>(file.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

BENCHMARK(TiffLzwReadOurs)->Name("TiffLzwRead/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TiffLzwReadPeer)->Name("TiffLzwRead/peer")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
