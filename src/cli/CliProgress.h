#pragma once

// The progress bar of veilora-cli: one line on standard error, redrawn in place, that names the
// image, what is being done to it, and how far the whole image has come. It is drawn only on a
// terminal; into a pipe or a file it writes nothing, so logs stay clean.

#include <cstddef>
#include <cstdio>
#include <string>

namespace veilora::cli {

class TProgressBar {
 public:
  // Draws on `stream` when `enabled` (the caller decides: a terminal, and not --quiet).
  TProgressBar(std::FILE* stream, bool enabled);
  ~TProgressBar();
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;

  bool Enabled() const { return enabled_; }

  // Starts image `index` (from 0) of `count`.
  void BeginImage(std::size_t index, std::size_t count,
                  const std::string& name);  // drawn from its first step
  // A step of the current image that covers [first, last] percent of it; `what` is shown
  // ("reading", "hiding", "writing").
  void BeginStep(const char* what, int first, int last);
  // How far the current step has come, 0 to 100.
  void StepProgress(int percentage);
  // Erases the line, so that a message can be written; the next update draws it again.
  void Clear();

 private:
  void Draw();

  std::FILE* stream_;
  bool enabled_;
  bool drawn_ = false;
  std::size_t index_ = 0;
  std::size_t count_ = 0;
  std::string name_;
  const char* step_ = "";
  int first_ = 0;
  int last_ = 100;
  int percentage_ = 0;
  int drawnPercentage_ = -1;
  const char* drawnStep_ = nullptr;
};

// Whether the stream is a terminal.
bool IsTerminal(std::FILE* stream);

}  // namespace veilora::cli
