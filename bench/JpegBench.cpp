// JPEG reading and writing of a 6000 x 4000 photo-like picture at quality 90, through our codec
// and a memory stream ("/ours") and through libjpeg-turbo called directly with its simplest API
// on the same pixels and the same compressed data ("/peer"). The program prints ours / peer.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include <jpeglib.h>

#include "image/Bitmap.h"
#include "io/JpegCodec.h"

using namespace veilora;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kQuality = 90;

// Smooth gradients with sensor-like noise, as in the other codec benchmarks.
struct TPicture {
  TBitmap image{kWidth, kHeight, pf24bit};
  std::vector<std::uint8_t> topDown;  // the same pixels, blue-green-red, rows from the top
  std::vector<std::uint8_t> jpeg;     // our writer's file of them

  TPicture() {
    std::mt19937 random(1);
    topDown.resize(std::size_t{3} * kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y) {
      std::uint8_t* row = image.ScanLine(y);
      for (int x = 0; x < kWidth; ++x) {
        const unsigned noise = random();
        row[3 * x] = static_cast<std::uint8_t>(x * 255 / kWidth + (noise & 15));
        row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / kHeight + ((noise >> 4) & 15));
        row[3 * x + 2] = static_cast<std::uint8_t>((x + y) * 127 / (kWidth + kHeight) + ((noise >> 8) & 31));
      }
      std::copy_n(row, 3 * kWidth, topDown.data() + std::size_t{3} * kWidth * y);
    }
    TMemoryStream stream;
    bool aborting = false;
    TIOParams params;
    params.JpegQuality = kQuality;
    JpegWriteStream(stream, image, params, {{}, nullptr, &aborting});
    jpeg = stream.Data();
  }
};

TPicture& Picture() {
  static TPicture picture;
  return picture;
}

void WriteOurs(benchmark::State& state) {
  TPicture& picture = Picture();
  TIOParams params;
  params.JpegQuality = kQuality;
  bool aborting = false;
  TMemoryStream stream;
  for (auto _ : state) {
    stream.Seek(0);
    JpegWriteStream(stream, picture.image, params, {{}, nullptr, &aborting});
    benchmark::DoNotOptimize(stream.Data().data());
  }
  if (aborting) state.SkipWithError("the writer gave up");
  state.counters["file_bytes"] = static_cast<double>(stream.Position());
}

void WritePeer(benchmark::State& state) {
  const TPicture& picture = Picture();
  unsigned long size = 0;
  for (auto _ : state) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row =
          const_cast<JSAMPROW>(picture.topDown.data() + std::size_t{3} * kWidth * cinfo.next_scanline);
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    benchmark::DoNotOptimize(buffer);
    std::free(buffer);
  }
  state.counters["file_bytes"] = static_cast<double>(size);
}

void ReadOurs(benchmark::State& state) {
  TPicture& picture = Picture();
  TMemoryStream stream(picture.jpeg);
  TIOParams params;
  bool aborting = false;
  TBitmap decoded;
  for (auto _ : state) {
    stream.Seek(0);
    JpegReadStream(stream, decoded, params, false, {{}, nullptr, &aborting});
    benchmark::DoNotOptimize(decoded.Bits());
  }
  if (aborting || decoded.Width() != kWidth || decoded.Height() != kHeight) {
    state.SkipWithError("the picture did not come back");
  }
}

void ReadPeer(benchmark::State& state) {
  const TPicture& picture = Picture();
  std::vector<std::uint8_t> pixels(std::size_t{3} * kWidth * kHeight);
  for (auto _ : state) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, picture.jpeg.data(), picture.jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels.data() + std::size_t{3} * kWidth * cinfo.output_scanline;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(pixels.data());
  }
}

BENCHMARK(WriteOurs)->Name("JpegWrite/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WritePeer)->Name("JpegWrite/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadOurs)->Name("JpegRead/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadPeer)->Name("JpegRead/peer")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
