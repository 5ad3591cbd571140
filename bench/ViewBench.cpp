// The image view's painting and the time from opening a picture to its first paint.
//
//   ViewPaint/<zoom>/ours   the view (1000 x 800 client, white chessboard, centred, as the document
//                           window sets it) paints a 12000 x 9000 24-bit bitmap into its 32-bit
//                           off-screen buffer: background around the image and the visible part
//                           stretched by nearest pixel;
//   ViewPaint/<zoom>/peer   one QPainter::drawImage of the same visible source rectangle onto the
//                           same 1000 x 800 target, smooth transformation off, from a QImage that
//                           wraps the bitmap's own memory (made once, outside the timing).
//   at the zoom that fits the whole picture (8%), at 100% and at 400%, scrolled to the middle.
//
//   PngOpen/ours            a 6000 x 4000 PNG (made once by our writer) loaded through TImageIO
//                           into a new view and painted once;
//   PngOpen/peer            the same load into a plain bitmap view that does not paint.
//
//   OutlineTick/ours        one tick of the selection's marching ants on a shown 1000 x 800 view
//                           (100%, no off-screen buffer) whose rectangle selection runs 3 pixels
//                           inside the window's edges: the dashes advance and the window repaints
//                           only the outline's pixels;
//   OutlineTick/peer        one full repaint of the same window, which draws the picture again.
//
//   OutlineTick/ours        one tick of the selection's marching ants on a 1000 x 800 view (100%,
//                           no off-screen buffer, the document window's other settings) whose
//                           rectangle selection runs 3 pixels inside the client's edges: the
//                           dashes advance and only the outline's region is painted again, into a
//                           client-sized image as the window's paint would;
//   OutlineTick/peer        one paint of the whole client area of the same view, which draws the
//                           picture again.
//
// The program prints each "ours" as a ratio to its "peer".

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "image/BaseView.h"
#include "io/ImageIO.h"
#include "view/ImageView.h"

using namespace veilora;

namespace {

constexpr int kClientWidth = 1000;
constexpr int kClientHeight = 800;
constexpr int kBigWidth = 12000;
constexpr int kBigHeight = 9000;
constexpr int kPngWidth = 6000;
constexpr int kPngHeight = 4000;

// The widgets need an application object; the benchmark program has none of its own, so the first
// view benchmark makes one on the offscreen platform and keeps it for the rest of the run.
void EnsureApplication() {
  static std::unique_ptr<QApplication> application = [] {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "veilora_bench";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QApplication>(argc, argv);
  }();
}

// Gradients with some noise, so that neighbouring pixels differ as in a photo.
void PaintPhotoLike(TBitmap& bitmap) {
  std::uint32_t noise = 12345;
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      noise = noise * 1664525u + 1013904223u;
      row[3 * x] = static_cast<std::uint8_t>(x * 255 / bitmap.Width() + ((noise >> 24) & 7));
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / bitmap.Height() + ((noise >> 20) & 7));
      row[3 * x + 2] = static_cast<std::uint8_t>((x + y) / 64 + ((noise >> 16) & 15));
    }
  }
}

void ConfigureAsDocument(TImageView& view) {
  view.SetBorderStyle(bsNone);
  view.SetBackground(clWhite);
  view.SetCenter(true);
  view.SetDoubleBuffer(true);
  view.SetBackgroundStyle(bgsChessboard);
}

// One view with the big picture, made once.
TImageView& BigView() {
  EnsureApplication();
  static TImageView* view = [] {
    auto* made = new TImageView;
    ConfigureAsDocument(*made);
    made->resize(kClientWidth, kClientHeight);
    made->Bitmap()->Allocate(kBigWidth, kBigHeight, pf24bit);
    PaintPhotoLike(*made->Bitmap());
    made->Update();
    return made;
  }();
  return *view;
}

// zoom 0 stands for the fitting zoom.
void SetUpView(TImageView& view, int zoom) {
  view.SetZoom(100);
  if (zoom == 0) {
    view.ZoomToFit();
  } else {
    view.SetZoom(zoom);
  }
  const TPoint max = view.MaxViewOrigin();
  view.SetViewOrigin(max.x / 2, max.y / 2);
}

template <int Zoom>
void ViewPaintOurs(benchmark::State& state) {
  TImageView& view = BigView();
  SetUpView(view, Zoom);
  QImage buffer(kClientWidth, kClientHeight, QImage::Format_RGB32);
  view.PaintTo(buffer);
  if (buffer.size() != QSize(kClientWidth, kClientHeight))
    state.SkipWithError("the client area is not 1000 x 800");
  for (auto _ : state) {
    view.PaintTo(buffer);
    benchmark::DoNotOptimize(buffer.constBits());
    benchmark::ClobberMemory();
  }
  state.counters["zoom"] = view.Zoom();
}

template <int Zoom>
void ViewPaintPeer(benchmark::State& state) {
  TImageView& view = BigView();
  SetUpView(view, Zoom);
  const TBitmap& bitmap = *view.Bitmap();
  // The bitmap's rows lie bottom row first, so the wrapped image is upside down; the source
  // rectangle is turned the same way, which costs drawImage nothing.
  const QImage source(bitmap.Bits(), bitmap.Width(), bitmap.Height(), static_cast<qsizetype>(bitmap.Stride()),
                      QImage::Format_BGR888);
  const TExtentRect from = view.Geometry().SourceRect();
  const TExtentRect to = view.Geometry().DestinationRect();
  const QRect sourceRect(from.x, bitmap.Height() - from.y - from.height, from.width, from.height);
  const QRect targetRect(to.x, to.y, to.width, to.height);
  QImage target(kClientWidth, kClientHeight, QImage::Format_RGB32);
  target.fill(Qt::white);
  for (auto _ : state) {
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(targetRect, source, sourceRect);
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
    benchmark::ClobberMemory();
  }
  state.counters["zoom"] = view.Zoom();
}

// ---------------------------------------------------------------- opening a PNG

class THeadlessView : public TBitmapView {
 public:
  void Update() override {}
};

const std::string& PngFile() {
  static const std::string path = [] {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("veilora_viewbench_" + std::to_string(getpid()) + ".png");
    THeadlessView source;
    source.Bitmap()->Allocate(kPngWidth, kPngHeight, pf24bit);
    PaintPhotoLike(*source.Bitmap());
    TImageIO io;
    io.SetAttachedView(&source);
    io.SaveToFile(file.string());
    std::atexit([] { std::filesystem::remove(PngFile()); });
    return file.string();
  }();
  return path;
}

// The opening times are shown in seconds as a counter, while the table stays in milliseconds like
// the memcpy reference that the program's ratio table divides by.
class Seconds {
 public:
  class Lap {
   public:
    explicit Lap(Seconds& total) : total_(total), start_(std::chrono::steady_clock::now()) {}
    ~Lap() { total_.elapsed_ += std::chrono::steady_clock::now() - start_; }
    Lap(const Lap&) = delete;
    Lap& operator=(const Lap&) = delete;

   private:
    Seconds& total_;
    std::chrono::steady_clock::time_point start_;
  };

  void Report(benchmark::State& state) const {
    if (state.iterations() > 0)
      state.counters["seconds"] = elapsed_.count() / static_cast<double>(state.iterations());
  }

 private:
  std::chrono::duration<double> elapsed_{0};
};

void PngOpenOurs(benchmark::State& state) {
  EnsureApplication();
  const std::string& file = PngFile();
  QImage buffer;
  Seconds seconds;
  for (auto _ : state) {
    const Seconds::Lap lap(seconds);
    TImageView view;
    ConfigureAsDocument(view);
    view.SetScrollBars(ssBoth);
    view.resize(kClientWidth, kClientHeight);
    TImageIO io;
    io.SetAttachedView(&view);
    io.LoadFromFile(file);
    if (io.Aborting || view.Bitmap()->Width() != kPngWidth) state.SkipWithError("the PNG did not load");
    view.PaintTo(buffer);
    benchmark::DoNotOptimize(buffer.constBits());
    benchmark::ClobberMemory();
  }
  seconds.Report(state);
}

void PngOpenPeer(benchmark::State& state) {
  const std::string& file = PngFile();
  Seconds seconds;
  for (auto _ : state) {
    const Seconds::Lap lap(seconds);
    THeadlessView view;
    TImageIO io;
    io.SetAttachedView(&view);
    io.LoadFromFile(file);
    if (io.Aborting || view.Bitmap()->Width() != kPngWidth) state.SkipWithError("the PNG did not load");
    benchmark::DoNotOptimize(view.Bitmap()->Bits());
    benchmark::ClobberMemory();
  }
  seconds.Report(state);
}

// ---------------------------------------------------------------- the selection outline

TImageView& OutlineView() {
  EnsureApplication();
  static TImageView* view = [] {
    auto* made = new TImageView;
    ConfigureAsDocument(*made);
    made->SetDoubleBuffer(false);
    made->resize(kClientWidth, kClientHeight);
    made->Bitmap()->Allocate(kBigWidth, kBigHeight, pf24bit);
    PaintPhotoLike(*made->Bitmap());
    made->Update();
    made->show();
    made->SetSelectionBase(selbClientArea);
    made->SelectRectangle(3, 3, kClientWidth - 4, kClientHeight - 4, false);
    QApplication::processEvents();
    return made;
  }();
  return *view;
}

void OutlineTickOurs(benchmark::State& state) {
  TImageView& view = OutlineView();
  const int renders = view.RenderCount();
  for (auto _ : state) {
    view.OutlineTick();
    QApplication::processEvents();
  }
  if (view.RenderCount() != renders) state.SkipWithError("a tick drew the picture again");
}

void OutlineTickPeer(benchmark::State& state) {
  TImageView& view = OutlineView();
  const int renders = view.RenderCount();
  for (auto _ : state) {
    view.viewport()->update();
    QApplication::processEvents();
  }
  if (view.RenderCount() == renders) state.SkipWithError("the full repaint drew nothing");
}

}  // namespace

BENCHMARK(OutlineTickOurs)->Name("OutlineTick/ours")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(OutlineTickPeer)->Name("OutlineTick/peer")->Unit(benchmark::kMicrosecond)->UseRealTime();

// Process CPU time is shown beside the real time: both sides hand work to Qt's thread pool.
#define VIEW_PAINT(zoom, name)          \
  BENCHMARK(ViewPaintOurs<zoom>)        \
      ->Name("ViewPaint/" name "/ours") \
      ->Unit(benchmark::kMillisecond)   \
      ->MeasureProcessCPUTime()         \
      ->UseRealTime();                  \
  BENCHMARK(ViewPaintPeer<zoom>)        \
      ->Name("ViewPaint/" name "/peer") \
      ->Unit(benchmark::kMillisecond)   \
      ->MeasureProcessCPUTime()         \
      ->UseRealTime();
VIEW_PAINT(0, "Fit")
VIEW_PAINT(100, "100")
VIEW_PAINT(400, "400")
BENCHMARK(PngOpenOurs)
    ->Name("PngOpen/ours")
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(PngOpenPeer)
    ->Name("PngOpen/peer")
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
