#include "cli/CliProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace veilora::cli {
namespace {

constexpr int kDefaultColumns = 80;
constexpr int kMinimumBarCells = 10;
constexpr int kMaximumBarCells = 40;
// The steps' names are padded to one width, so the bar stays in place from step to step.
constexpr std::size_t kStepWidth = 9;

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultColumns;
}

// Keeps the end of a long name, which is the part that tells files apart.
std::string ShortenFromLeft(const std::string& name, std::size_t width) {
  if (name.size() <= width) return name;
  if (width <= 3) return name.substr(name.size() - width);
  return "..." + name.substr(name.size() - (width - 3));
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

TProgressBar::TProgressBar(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}

TProgressBar::~TProgressBar() {
  Clear();
}

void TProgressBar::BeginImage(std::size_t index, std::size_t count, const std::string& name) {
  index_ = index;
  count_ = count;
  name_ = name;
  step_ = "";
  first_ = 0;
  last_ = 100;
  percentage_ = 0;
  drawnPercentage_ = -1;
}

void TProgressBar::BeginStep(const char* what, int first, int last) {
  step_ = what;
  first_ = first;
  last_ = last;
  percentage_ = first;
  Draw();
}

void TProgressBar::StepProgress(int percentage) {
  const int step = std::clamp(percentage, 0, 100);
  percentage_ = first_ + (last_ - first_) * step / 100;
  Draw();
}

void TProgressBar::Clear() {
  if (!enabled_ || !drawn_) return;
  // Back to the start of the line, then erase to its end.
  std::fputs("\r\033[K", stream_);
  std::fflush(stream_);
  drawn_ = false;
  drawnPercentage_ = -1;
}

void TProgressBar::Draw() {
  if (!enabled_) return;
  // A codec reports often; only a visible change is drawn.
  if (drawn_ && percentage_ == drawnPercentage_ && step_ == drawnStep_) return;
  const int columns = TerminalColumns(stream_);
  const std::string counter =
      count_ > 1 ? "[" + std::to_string(index_ + 1) + "/" + std::to_string(count_) + "] " : "";
  std::string tail = " " + std::string(step_);
  tail.resize(std::max(tail.size(), kStepWidth + 1), ' ');
  tail += ' ';
  std::string percent = std::to_string(percentage_) + "%";
  percent.insert(0, 5 - std::min<std::size_t>(percent.size(), 4), ' ');
  // The last column stays free: writing into it makes some terminals wrap.
  const int room = columns - 1 - static_cast<int>(counter.size() + tail.size() + percent.size()) - 2;
  const int cells = std::clamp(room / 2, kMinimumBarCells, kMaximumBarCells);
  const int nameWidth = std::max(room - cells, 8);
  std::string line =
      "\r" + counter + ShortenFromLeft(name_, static_cast<std::size_t>(nameWidth)) + tail + "[";
  const int filled = cells * percentage_ / 100;
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(cells - filled), '-');
  line += "]" + percent + "\033[K";
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
  drawn_ = true;
  drawnPercentage_ = percentage_;
  drawnStep_ = step_;
}

}  // namespace veilora::cli
