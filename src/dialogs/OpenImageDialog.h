#pragma once

// The image open dialog: Qt's own file dialog (never the desktop's native one, so it looks and
// behaves the same everywhere) with a panel beside the file list that previews the selected
// file and shows its size, resolution, colours, file and memory size and format.

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QStackedWidget;
class QToolButton;
class TMultiImageView;
class QWidget;

namespace veilora {
class TImageIO;
class TImageView;
}  // namespace veilora

// The filter of the open dialog: every readable format at once, then one entry per format.
extern const char* const kOpenImageFilter;

class TOpenImageDialog : public QFileDialog {
  Q_OBJECT

 public:
  explicit TOpenImageDialog(QWidget* parent = nullptr);
  ~TOpenImageDialog() override;

  // The filter in its "Description|*.a;*.b|..." form; the first entry becomes the selected one.
  void SetFilter(const QString& filterText);
  // Runs the dialog modally; true when a file was chosen.
  bool Execute();
  // The chosen file (after Execute) or the one selected so far.
  QString FileName() const;
  // The selected filter entry, counted from 1; 0 when the filter is empty.
  int FilterIndex() const;
  void SetFilterIndex(int index);

  // The five information texts, first to fifth (see ImageInfoTexts).
  QStringList InfoTexts() const;
  QCheckBox* PreviewCheck() const { return previewCheck_; }
  QComboBox* ZoomCombo() const { return zoomCombo_; }
  veilora::TImageView* PreviewView() const { return imageView_; }
  // The view of files with several images, the play button that runs it, and the number of
  // images the file shown holds (1 for a single picture, 0 for none).
  TMultiImageView* MultiImageView() const { return multiImageView_; }
  QToolButton* PlayButton() const { return playButton_; }
  int FrameCount() const { return frameCount_; }
  // Longest side, in pixels, a preview decodes a picture or frame at.
  static constexpr int kPreviewSide = 1024;
  // The larger preview window, once it has been opened.
  QWidget* PreviewForm() const { return previewForm_; }
  // What a change of the selected file runs: previews the file (or only reads its header when
  // the preview is off) and fills the labels. An empty name, a folder or an unreadable file
  // clears the preview; nothing here ever shows an error.
  void ShowFileInfo(const QString& fileName);
  // Opens (or raises) the larger preview window with the previewed image.
  void ShowPreviewForm();

 private:
  void BuildPanel();
  void ClearPreview();
  void SetInfoTexts(const std::array<std::string, 5>& texts);
  void ZoomComboChanged(int index);
  void PreviewToggled();
  void PlayButtonClick();
  void PlayingChanged(bool playing);
  bool PreviewFrames(const std::string& name, std::int64_t fileSize);

  QString filterText_;
  QString fileName_;
  QString currentFile_;
  QCheckBox* previewCheck_ = nullptr;
  QComboBox* zoomCombo_ = nullptr;
  QToolButton* previewButton_ = nullptr;
  QToolButton* playButton_ = nullptr;
  QStackedWidget* views_ = nullptr;
  TMultiImageView* multiImageView_ = nullptr;
  int frameCount_ = 0;
  QProgressBar* progressBar_ = nullptr;
  std::array<QLabel*, 5> labels_ = {};
  veilora::TImageView* imageView_ = nullptr;
  std::unique_ptr<veilora::TImageIO> imageIO_;
  QWidget* previewForm_ = nullptr;
  veilora::TImageView* previewFormView_ = nullptr;
};
