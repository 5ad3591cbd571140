// GIF LZW coding of a 4000 x 3000 picture of 8-bit palette indices, beside giflib on the same data
// in the same run:
//   GifLzwDecode/ours   our decoder on the image data of a GIF file that giflib wrote once
//                       (EGifPutLine), into fresh memory each pass;
//   GifLzwDecode/peer   giflib reading that same file from memory (DGifOpen with a read callback,
//                       DGifSlurp, which decodes into memory it allocates, DGifCloseFile);
//   GifLzwEncode/ours   our encoder writing the image data into a memory stream;
//   GifLzwEncode/peer   giflib writing a whole one-image file through a write callback into
//                       memory (EGifOpen, screen and image descriptors, one EGifPutLine per row).
// giflib's timings include its few header bytes; ours are the image data alone.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "io/GifLZW.h"
#include "io/Stream.h"

using namespace veilora;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photo quantised to 256 palette entries: smooth gradients and soft waves, with fine texture in
// about half of the picture, as a dithered-free quantiser leaves it.
const std::vector<std::uint8_t>& Indices() {
  static std::vector<std::uint8_t> pixels;
  if (pixels.empty()) {
    pixels.resize(static_cast<std::size_t>(kWidth) * kHeight);
    std::mt19937 random(17);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const double smooth =
            150.0 * x / kWidth + 80.0 * y / kHeight + 18.0 * std::sin(x / 90.0) * std::cos(y / 130.0);
        const bool textured = ((x / 200) + (y / 150)) % 2 == 0;
        const int noise = textured ? static_cast<int>(random() % 4) - 1 : 0;
        pixels[static_cast<std::size_t>(y) * kWidth + x] =
            static_cast<std::uint8_t>(static_cast<int>(smooth) + noise);
      }
    }
  }
  return pixels;
}

// ---------------------------------------------------------------- giflib through memory

struct TMemoryReader {
  const std::vector<std::uint8_t>* file;
  std::size_t at;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int count) {
  auto* reader = static_cast<TMemoryReader*>(gif->UserData);
  const std::size_t n = std::min(static_cast<std::size_t>(count), reader->file->size() - reader->at);
  std::memcpy(buffer, reader->file->data() + reader->at, n);
  reader->at += n;
  return static_cast<int>(n);
}

int WriteToMemory(GifFileType* gif, const GifByteType* buffer, int count) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out->insert(out->end(), buffer, buffer + count);
  return count;
}

// A one-image GIF with a 256-entry grey palette; false when giflib gives up.
bool GiflibWrite(const std::vector<std::uint8_t>& pixels, std::vector<std::uint8_t>& out) {
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToMemory, &error);
  if (gif == nullptr) return false;
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i) {
    colours[i].Red = colours[i].Green = colours[i].Blue = static_cast<GifByteType>(i);
  }
  ColorMapObject* map = GifMakeMapObject(256, colours);
  bool ok = map != nullptr && EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < kHeight; ++y) {
    auto* row = const_cast<GifPixelType*>(pixels.data() + static_cast<std::size_t>(y) * kWidth);
    ok = EGifPutLine(gif, row, kWidth) == GIF_OK;
  }
  GifFreeMapObject(map);
  return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

// Decodes the first image with DGifSlurp; compares it with `expected` when given.
bool GiflibRead(const std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>* expected) {
  int error = 0;
  TMemoryReader reader{&file, 0};
  GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
  if (gif == nullptr) return false;
  bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1;
  if (ok) benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
  if (ok && expected != nullptr) {
    ok = gif->SavedImages[0].ImageDesc.Width == kWidth && gif->SavedImages[0].ImageDesc.Height == kHeight &&
         std::memcmp(gif->SavedImages[0].RasterBits, expected->data(), expected->size()) == 0;
  }
  return DGifCloseFile(gif, &error) == GIF_OK && ok;
}

const std::vector<std::uint8_t>& GiflibFile() {
  static std::vector<std::uint8_t> file;
  if (file.empty()) GiflibWrite(Indices(), file);
  return file;
}

// Where the image data of a one-image GIF without extensions begin: after the header, the global
// colour table and the image descriptor.
std::size_t ImageDataOffset(const std::vector<std::uint8_t>& file) {
  std::size_t at = 13;
  if (file.size() > 10 && (file[10] & 0x80)) at += 3u << ((file[10] & 7) + 1);
  while (at < file.size() && file[at] == 0x21) {
    at += 2;
    while (at < file.size() && file[at] != 0) at += 1u + file[at];
    ++at;
  }
  if (at + 10 > file.size() || file[at] != 0x2C) return 0;
  const std::uint8_t flags = file[at + 9];
  at += 10;
  if (flags & 0x80) at += 3u << ((flags & 7) + 1);
  return at;
}

// ---------------------------------------------------------------- the benchmarks

constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

void GifLzwDecodeOurs(benchmark::State& state) {
  const std::vector<std::uint8_t>& file = GiflibFile();
  const std::size_t offset = ImageDataOffset(file);
  if (offset == 0) state.SkipWithError("giflib's file has no image");
  TMemoryStream stream(file);
  for (auto _ : state) {
    stream.Seek(static_cast<std::int64_t>(offset));
    const std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[kPixels]);
    GifLzwDecode(stream, kHeight, kWidth, false, pixels.get());
    benchmark::DoNotOptimize(pixels.get());
    benchmark::ClobberMemory();
  }
  stream.Seek(static_cast<std::int64_t>(offset));
  std::vector<std::uint8_t> pixels(kPixels);
  GifLzwDecode(stream, kHeight, kWidth, false, pixels.data());
  if (stream.Position() == static_cast<std::int64_t>(offset) || pixels != Indices()) {
    state.SkipWithError("the picture did not come back");
  }
  state.counters["file_bytes"] = static_cast<double>(file.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPixels));
}

void GifLzwDecodePeer(benchmark::State& state) {
  const std::vector<std::uint8_t>& file = GiflibFile();
  for (auto _ : state) {
    if (!GiflibRead(file, nullptr)) state.SkipWithError("giflib gave up");
    benchmark::ClobberMemory();
  }
  if (!GiflibRead(file, &Indices())) state.SkipWithError("the picture did not come back");
  state.counters["file_bytes"] = static_cast<double>(file.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPixels));
}

void GifLzwEncodeOurs(benchmark::State& state) {
  const std::vector<std::uint8_t>& pixels = Indices();
  TMemoryStream stream;
  GifLzwEncode(stream, kHeight, kWidth, false, pixels.data(), 8);
  for (auto _ : state) {
    stream.Seek(0);
    GifLzwEncode(stream, kHeight, kWidth, false, pixels.data(), 8);
    benchmark::DoNotOptimize(stream.Data().data());
    benchmark::ClobberMemory();
  }
  // giflib must read our data back to the same indices.
  const std::vector<std::uint8_t>& reference = GiflibFile();
  std::vector<std::uint8_t> file(reference.begin(),
                                 reference.begin() + static_cast<std::ptrdiff_t>(ImageDataOffset(reference)));
  file.insert(file.end(), stream.Data().begin(), stream.Data().begin() + stream.Position());
  file.push_back(0x3B);
  if (!GiflibRead(file, &pixels)) state.SkipWithError("giflib does not read our data back");
  state.counters["file_bytes"] = static_cast<double>(stream.Position());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPixels));
}

void GifLzwEncodePeer(benchmark::State& state) {
  const std::vector<std::uint8_t>& pixels = Indices();
  std::vector<std::uint8_t> out;
  if (!GiflibWrite(pixels, out)) state.SkipWithError("giflib gave up");
  for (auto _ : state) {
    out.clear();
    if (!GiflibWrite(pixels, out)) state.SkipWithError("giflib gave up");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.counters["file_bytes"] = static_cast<double>(out.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPixels));
}

BENCHMARK(GifLzwDecodeOurs)->Name("GifLzwDecode/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(GifLzwDecodePeer)->Name("GifLzwDecode/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(GifLzwEncodeOurs)->Name("GifLzwEncode/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(GifLzwEncodePeer)->Name("GifLzwEncode/peer")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
