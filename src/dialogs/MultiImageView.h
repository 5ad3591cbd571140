#pragma once

// The open dialog's view of a file that holds several images (a GIF animation, a multi-page TIFF,
// an AVI video): one frame at a time, fitted to the view, with its number, stepped through by a
// timer while playing. Each frame shows for its own time (the GIF delay, the video's frame rate).

#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "image/Bitmap.h"

class QLabel;

namespace veilora {
class TImageView;
struct TPreviewFrames;
}  // namespace veilora

class TMultiImageView : public QWidget {
  Q_OBJECT

 public:
  explicit TMultiImageView(QWidget* parent = nullptr);
  ~TMultiImageView() override;

  // Takes the frames (stopping a playback) and shows the first.
  void SetFrames(veilora::TPreviewFrames&& frames);
  void Clear();
  int FrameCount() const { return static_cast<int>(frames_.size()); }
  int CurrentFrame() const { return current_; }
  // Shows frame `index` (wrapped into the frames); nothing without frames.
  void ShowFrame(int index);
  int FrameDelay(int index) const;

  // Plays from the current frame on, starting again after the last; nothing with fewer than two
  // frames.
  void Play();
  void Stop();
  bool IsPlaying() const { return timer_.isActive(); }

  veilora::TImageView* View() const { return view_; }
  QLabel* FrameLabel() const { return frameLabel_; }

 signals:
  void playingChanged(bool playing);

 private:
  void Advance();

  veilora::TImageView* view_ = nullptr;
  QLabel* frameLabel_ = nullptr;
  QTimer timer_;
  std::vector<std::unique_ptr<veilora::TBitmap>> frames_;
  std::vector<int> delays_;
  int current_ = 0;
};
