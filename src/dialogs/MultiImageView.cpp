#include "dialogs/MultiImageView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "io/PreviewLoad.h"
#include "view/ImageView.h"

TMultiImageView::TMultiImageView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("MultiImageView"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  view_ = new veilora::TImageView(this);
  view_->setObjectName(QStringLiteral("MultiImageFrameView"));
  view_->SetBackground(veilora::clWhite);
  view_->SetBackgroundStyle(veilora::bgsChessboard);
  view_->SetCenter(true);
  view_->SetDoubleBuffer(true);
  // Every frame is fitted: frames of one file may differ in size (GIF frames, TIFF pages).
  view_->SetAutoFit(true);
  layout->addWidget(view_, 1);
  frameLabel_ = new QLabel(this);
  frameLabel_->setObjectName(QStringLiteral("FrameLabel"));
  frameLabel_->setAlignment(Qt::AlignCenter);
  layout->addWidget(frameLabel_);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &TMultiImageView::Advance);
}

TMultiImageView::~TMultiImageView() = default;

void TMultiImageView::SetFrames(veilora::TPreviewFrames&& frames) {
  Stop();
  frames_ = std::move(frames.frames);
  delays_.assign(frames.delaysMs.begin(), frames.delaysMs.end());
  delays_.resize(frames_.size(), 100);
  current_ = 0;
  ShowFrame(0);
}

void TMultiImageView::Clear() {
  Stop();
  frames_.clear();
  delays_.clear();
  current_ = 0;
  veilora::TBitmap empty;
  view_->Assign(&empty);
  frameLabel_->clear();
}

void TMultiImageView::ShowFrame(int index) {
  if (frames_.empty()) return;
  const int count = FrameCount();
  current_ = ((index % count) + count) % count;
  view_->Assign(frames_[static_cast<std::size_t>(current_)].get());
  frameLabel_->setText(tr("Frame %1 of %2").arg(current_ + 1).arg(count));
}

int TMultiImageView::FrameDelay(int index) const {
  if (index < 0 || index >= static_cast<int>(delays_.size())) return 0;
  return delays_[static_cast<std::size_t>(index)];
}

void TMultiImageView::Play() {
  if (FrameCount() < 2 || IsPlaying()) return;
  timer_.start(FrameDelay(current_));
  emit playingChanged(true);
}

void TMultiImageView::Stop() {
  if (!IsPlaying()) return;
  timer_.stop();
  emit playingChanged(false);
}

void TMultiImageView::Advance() {
  ShowFrame(current_ + 1);
  timer_.start(FrameDelay(current_));
}
