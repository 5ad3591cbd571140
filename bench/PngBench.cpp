// PNG reading and writing of a 6000 x 4000 true-colour photo-like picture at compression level 5
// through memory streams, each beside libpng called directly on the same data in the same run:
//   PngDecode/peer   (both decode the same file, made once by our writer)
//                    the simplified API (png_image_begin_read_from_memory, png_image_finish_read)
//                    with PNG_FORMAT_BGR into a buffer of fresh pixel memory, as our reader fills a
//                    fresh bitmap;
//   PngEncode/peer   the plain png_write_* API with the same level, filter and byte order, since
//                    the simplified writer (png_image_write_to_memory) cannot be given a
//                    compression level; it is timed too, at its own settings, as
//                    PngEncode/simplified-own-level.
// The program prints each "ours" as a ratio to its "peer".

#include <benchmark/benchmark.h>
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

#include "CodecBench.h"
#include "image/Bitmap.h"
#include "image/PixelMemory.h"
#include "io/PngCodec.h"

using namespace veilora;

namespace {

constexpr int kWidth = bench::kPhotoWidth;
constexpr int kHeight = bench::kPhotoHeight;
constexpr int kLevel = 5;

TIOParams Params(std::uint8_t filter) {
  TIOParams params;
  params.PngCompression = kLevel;
  params.PngFilter = filter;
  return params;
}

TIOParams noFilter = Params(0);
TIOParams paeth = Params(2);

const bench::CodecCall kWrite = [](TStream& s, TBitmap& b, const TProgressContext& p) {
  PngWriteStream(s, b, noFilter, p);
};
const bench::CodecCall kWritePaeth = [](TStream& s, TBitmap& b, const TProgressContext& p) {
  PngWriteStream(s, b, paeth, p);
};

// ---------------------------------------------------------------- libpng called directly

// The file our writer makes, which both readers decode.
const std::vector<std::uint8_t>& EncodedFile(const bench::CodecCall& write) {
  static std::vector<std::uint8_t> files[2];
  std::vector<std::uint8_t>& file = files[&write == &kWrite ? 0 : 1];
  if (file.empty()) {
    bool aborting = false;
    TMemoryStream stream;
    write(stream, bench::PhotoLikePicture(), TProgressContext{{}, nullptr, &aborting});
    file = stream.Data();
  }
  return file;
}

// Decodes `file` with the simplified API into fresh pixel memory; false on any error.
bool SimplifiedRead(const std::vector<std::uint8_t>& file, PixelBlock& pixels) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) return false;
  image.format = PNG_FORMAT_BGR;
  pixels = AllocatePixelMemory(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, pixels.get(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

struct TPlainWriter {
  std::vector<std::uint8_t>* out;
};

void PlainWriteData(png_structp png, png_bytep data, std::size_t length) {
  auto* out = static_cast<TPlainWriter*>(png_get_io_ptr(png))->out;
  out->insert(out->end(), data, data + length);
}

void PlainFlush(png_structp) {}

// The plain write API with our writer's settings: 8-bit RGB from blue-green-red rows, the given
// filter, level 5. The locals are plain, so a library error can land here.
bool PlainWrite(const TBitmap& image, int filterMask, TPlainWriter* writer) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, writer, PlainWriteData, PlainFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width()), static_cast<png_uint_32>(image.Height()),
               8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filterMask);
  png_set_compression_level(png, kLevel);
  png_set_bgr(png);
  png_write_info(png, info);
  for (int y = 0; y < image.Height(); ++y) png_write_row(png, image.ScanLine(y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

// ---------------------------------------------------------------- the benchmarks

void PngEncodeOurs(benchmark::State& state) {
  bench::TimeEncode(state, bench::PhotoLikePicture(), kWrite);
}

void PngEncodePeer(benchmark::State& state) {
  const TBitmap& image = bench::PhotoLikePicture();
  std::vector<std::uint8_t> out;
  TPlainWriter writer{&out};
  if (!PlainWrite(image, PNG_FILTER_NONE, &writer)) state.SkipWithError("libpng gave up");
  for (auto _ : state) {
    out.clear();
    if (!PlainWrite(image, PNG_FILTER_NONE, &writer)) state.SkipWithError("libpng gave up");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.counters["file_bytes"] = static_cast<double>(out.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

void PngEncodeSimplified(benchmark::State& state) {
  TBitmap& image = bench::PhotoLikePicture();
  png_image description;
  std::memset(&description, 0, sizeof description);
  description.version = PNG_IMAGE_VERSION;
  description.width = kWidth;
  description.height = kHeight;
  description.format = PNG_FORMAT_BGR;
  // The bitmap's rows run bottom-up in memory: a negative stride (in components, here bytes) tells
  // libpng that the block's first row is the picture's last.
  const auto stride = -static_cast<png_int_32>(image.Stride());
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&description, nullptr, &size, 0, image.Bits(), stride, nullptr);
  std::vector<std::uint8_t> out(size);
  for (auto _ : state) {
    png_alloc_size_t bytes = out.size();
    if (png_image_write_to_memory(&description, out.data(), &bytes, 0, image.Bits(), stride, nullptr) == 0) {
      state.SkipWithError("libpng gave up");
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["file_bytes"] = static_cast<double>(size);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

// Both readers decode the same file, made once by our writer, into fresh memory each pass.
void TimeOurDecode(benchmark::State& state, const std::vector<std::uint8_t>& file) {
  TBitmap& image = bench::PhotoLikePicture();
  TMemoryStream stream(file);
  bool aborting = false;
  const TProgressContext progress{{}, nullptr, &aborting};
  for (auto _ : state) {
    stream.Seek(0);
    TBitmap fresh;
    PngReadStream(stream, fresh, noFilter, false, progress);
    benchmark::DoNotOptimize(fresh.Bits());
    benchmark::ClobberMemory();
  }
  TBitmap decoded;
  stream.Seek(0);
  PngReadStream(stream, decoded, noFilter, false, progress);
  const int middle = kHeight / 2;
  if (aborting || decoded.Width() != kWidth || decoded.Height() != kHeight ||
      std::memcmp(decoded.ScanLine(middle), image.ScanLine(middle), 3 * static_cast<std::size_t>(kWidth)) !=
          0) {
    state.SkipWithError("the picture did not come back");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

void PngDecodeOurs(benchmark::State& state) {
  TimeOurDecode(state, EncodedFile(kWrite));
}

void PngDecodePaethOurs(benchmark::State& state) {
  TimeOurDecode(state, EncodedFile(kWritePaeth));
}

// Each pass decodes into fresh pixel memory and releases it, as a pass of our reader does with its
// bitmap; one more decode after the timing checks the picture.
void TimeSimplifiedDecode(benchmark::State& state, const std::vector<std::uint8_t>& file) {
  const TBitmap& image = bench::PhotoLikePicture();
  for (auto _ : state) {
    PixelBlock pixels;
    if (!SimplifiedRead(file, pixels)) state.SkipWithError("libpng gave up");
    benchmark::DoNotOptimize(pixels.get());
    benchmark::ClobberMemory();
  }
  PixelBlock pixels;
  // Top row first: the middle row of the picture is row kHeight / 2 from the top.
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(kWidth);
  if (!SimplifiedRead(file, pixels) ||
      std::memcmp(pixels.get() + rowBytes * (kHeight / 2), image.ScanLine(kHeight / 2), rowBytes) != 0) {
    state.SkipWithError("the picture did not come back");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.ImageBytes()));
}

void PngDecodePeer(benchmark::State& state) {
  TimeSimplifiedDecode(state, EncodedFile(kWrite));
}

void PngDecodePaethPeer(benchmark::State& state) {
  TimeSimplifiedDecode(state, EncodedFile(kWritePaeth));
}

BENCHMARK(PngEncodeOurs)->Name("PngEncode/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngEncodePeer)->Name("PngEncode/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngEncodeSimplified)
    ->Name("PngEncode/simplified-own-level")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(PngDecodeOurs)->Name("PngDecode/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngDecodePeer)->Name("PngDecode/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngDecodePaethOurs)->Name("PngDecodePaeth/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngDecodePaethPeer)->Name("PngDecodePaeth/peer")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
