// Hot loops of the core on a 6000 x 4000 true-colour picture (72 MB of pixels), each reported as a
// ratio to a memcpy of the same pixel block measured in the same run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "image/Bitmap.h"
#include "image/ImageProc.h"
#include "image/PackedDib.h"
#include "image/PixelMemory.h"
#include "io/ColorQuantizer.h"

using namespace veilora;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr const char* kReference = "Memcpy/PixelBlock";

// A smooth picture with sensor-like noise: gradients in all three channels keep neighbouring
// pixels close, as in a photo, while the noise makes well over 500,000 distinct colours.
void PaintPhotoLike(TBitmap& bitmap) {
  std::mt19937 random(1);
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      const unsigned noise = random();
      row[3 * x] = static_cast<std::uint8_t>((x * 255 / kWidth + (noise & 15)));
      row[3 * x + 1] = static_cast<std::uint8_t>((y * 255 / kHeight + ((noise >> 4) & 15)));
      row[3 * x + 2] = static_cast<std::uint8_t>(((x + y) * 127 / (kWidth + kHeight) + ((noise >> 8) & 31)));
    }
  }
}

class Picture {
 public:
  static Picture& Get() {
    static Picture picture;
    return picture;
  }
  TBitmap image{kWidth, kHeight, pf24bit};

 private:
  Picture() { PaintPhotoLike(image); }
};

void Memcpy(benchmark::State& state) {
  const TBitmap& source = Picture::Get().image;
  // The target is pixel memory like every bitmap's, touched once before timing starts.
  const PixelBlock target = AllocatePixelMemory(source.ImageBytes());
  std::memset(target.get(), 1, source.ImageBytes());
  for (auto _ : state) {
    std::memcpy(target.get(), source.Bits(), source.ImageBytes());
    benchmark::DoNotOptimize(target.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.ImageBytes()));
}

void WriteHiddenData(benchmark::State& state) {
  TBitmap& image = Picture::Get().image;
  TImageProc proc;
  proc.AttachBitmap(&image);
  proc.AutoUndo = false;
  std::mt19937 random(2);
  std::string payload(static_cast<std::size_t>(proc.HiddenTextFit()), '\0');
  for (char& c : payload) c = static_cast<char>(random());
  for (auto _ : state) {
    proc.WriteHiddenText(payload);
    benchmark::ClobberMemory();
  }
  state.counters["payload_bytes"] = static_cast<double>(payload.size());
}

void ReadHiddenData(benchmark::State& state) {
  TBitmap& image = Picture::Get().image;
  TImageProc proc;
  proc.AttachBitmap(&image);
  proc.AutoUndo = false;
  std::string payload(static_cast<std::size_t>(proc.HiddenTextFit()), 'x');
  proc.WriteHiddenText(payload);
  std::string read(payload.size(), '\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(proc.ReadHiddenData(read.data(), static_cast<std::int32_t>(read.size())));
    benchmark::ClobberMemory();
  }
  if (read != payload) state.SkipWithError("the payload did not read back");
}

void CalcColourCount(benchmark::State& state) {
  // A picture of its own: the hidden-text benchmarks change the shared one's low bits.
  TBitmap image(kWidth, kHeight, pf24bit);
  PaintPhotoLike(image);
  TImageProc proc;
  proc.AttachBitmap(&image);
  std::int32_t colours = 0;
  for (auto _ : state) {
    colours = proc.CalcColourCount();
    benchmark::DoNotOptimize(colours);
  }
  state.counters["colours"] = colours;
}

void ConvertToTrueColour(benchmark::State& state) {
  TBitmap mono(kWidth, kHeight, pf1bit);
  std::mt19937 random(3);
  for (std::size_t i = 0; i < mono.ImageBytes(); ++i) mono.Bits()[i] = static_cast<std::uint8_t>(random());
  TBitmap image;
  TImageProc proc;
  proc.AttachBitmap(&image);
  proc.AutoUndo = false;
  for (auto _ : state) {
    state.PauseTiming();
    CopyBitmap(mono, image);
    state.ResumeTiming();
    proc.ConvertToTrueColour();
    benchmark::ClobberMemory();
  }
}

void QuantizeTable(benchmark::State& state) {
  // A picture of its own, the same pixels --picture_out writes for the peer comparison.
  TBitmap image(kWidth, kHeight, pf24bit);
  PaintPhotoLike(image);
  std::vector<TRGB> table(256);
  int colours = 0;
  for (auto _ : state) {
    const TColorQuantizer quantizer(image, table.data(), 256);
    colours = quantizer.ColorCount();
    benchmark::DoNotOptimize(table.data());
  }
  state.counters["colours"] = colours;
}

// The table and then an index per pixel: what a palette writer does, and what Pillow's
// Image.quantize returns.
void QuantizeAndMap(benchmark::State& state) {
  TBitmap image(kWidth, kHeight, pf24bit);
  PaintPhotoLike(image);
  std::vector<TRGB> table(256);
  TBitmap indexed(kWidth, kHeight, pf8bit);
  for (auto _ : state) {
    const TColorQuantizer quantizer(image, table.data(), 256);
    for (int y = 0; y < kHeight; ++y) {
      const std::uint8_t* pixel = image.ScanLine(y);
      std::uint8_t* out = indexed.ScanLine(y);
      for (int x = 0; x < kWidth; ++x, pixel += 3) {
        out[x] = static_cast<std::uint8_t>(quantizer.ColorIndex(TRGB{pixel[0], pixel[1], pixel[2]}));
      }
    }
    benchmark::ClobberMemory();
  }
}

// A 6000 x 4000 rectangle selection out of a larger picture onto the clipboard's packed bitmap,
// the block allocated afresh each time, as a copy does.
void CopySelectionBlock(benchmark::State& state) {
  TBitmap image(kWidth + 100, kHeight + 100, pf24bit);
  PaintPhotoLike(image);
  const TRectInclusive area{50, 50, 50 + kWidth - 1, 50 + kHeight - 1};
  std::size_t bytes = 0;
  for (auto _ : state) {
    const TByteBlock block = EncodePackedDib(image, area);
    bytes = block.size();
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  state.counters["block_bytes"] = static_cast<double>(bytes);
}

BENCHMARK(Memcpy)->Name(kReference)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteHiddenData)->Name("WriteHiddenData/FullFit")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadHiddenData)->Name("ReadHiddenData/FullFit")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CalcColourCount)->Name("CalcColourCount/PhotoLike")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ConvertToTrueColour)
    ->Name("ConvertToTrueColour/1bit")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(QuantizeTable)->Name("ColorQuantizer256/PhotoLike")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QuantizeAndMap)
    ->Name("ColorQuantizer256+Map/PhotoLike")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(CopySelectionBlock)->Name("CopySelection/6000x4000")->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the usual table, then every benchmark's time as a multiple of the memcpy reference. With
// repetitions the medians are compared, which keeps one disturbed run from moving a ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medianSeconds_[name] = run.GetAdjustedRealTime();
      } else {
        seconds_[name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    const auto& times = medianSeconds_.empty() ? seconds_ : medianSeconds_;
    const auto reference = times.find(kReference);
    if (reference == times.end()) return;
    std::printf("\nRatio to memcpy of the %d x %d 24-bit pixel block (%.2f ms%s):\n", kWidth, kHeight,
                reference->second, medianSeconds_.empty() ? "" : ", medians");
    for (const auto& [name, time] : times) {
      if (name != kReference) std::printf("  %-32s %6.2fx\n", name.c_str(), time / reference->second);
    }
  }

  // Benchmarks named "<what>/ours" and "<what>/peer" time our codec and the same library called
  // directly; this prints each pair's ratio.
  void PrintPeerRatios() const {
    const auto& times = medianSeconds_.empty() ? seconds_ : medianSeconds_;
    constexpr std::string_view kOurs = "/ours";
    bool first = true;
    for (const auto& [name, time] : times) {
      if (!name.ends_with(kOurs)) continue;
      const std::string what = name.substr(0, name.size() - kOurs.size());
      const auto peer = times.find(what + "/peer");
      if (peer == times.end()) continue;
      if (first) std::printf("\nOurs / peer (the library called directly):\n");
      first = false;
      std::printf("  %-32s %6.2fx\n", what.c_str(), time / peer->second);
    }
  }

 private:
  std::map<std::string, double> seconds_;
  std::map<std::string, double> medianSeconds_;
};

// --picture_out=PATH writes the photo-like picture as raw blue-green-red bytes, rows from the top,
// so that a peer library can be timed on exactly the same pixels (bench/pillow_quantize.py).
bool WritePicture(const char* path) {
  TBitmap image(kWidth, kHeight, pf24bit);
  PaintPhotoLike(image);
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = true;
  for (int y = 0; y < kHeight && ok; ++y) {
    ok = std::fwrite(image.ScanLine(y), 3, kWidth, file) == static_cast<std::size_t>(kWidth);
  }
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr std::string_view kPictureOut = "--picture_out=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.substr(0, kPictureOut.size()) != kPictureOut) continue;
    if (!WritePicture(argv[i] + kPictureOut.size())) {
      std::fprintf(stderr, "cannot write %s\n", argv[i] + kPictureOut.size());
      return 1;
    }
    for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
    --i;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  reporter.PrintPeerRatios();
  benchmark::Shutdown();
  return 0;
}
