#include "dialogs/OpenImageDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <string>

#include "dialogs/DialogFilter.h"
#include "dialogs/FilterChoice.h"
#include "dialogs/MultiImageView.h"
#include "io/FormatRegistry.h"
#include "io/ImageIO.h"
#include "io/PreviewLoad.h"
#include "view/ImageView.h"

const char* const kOpenImageFilter =
    "All "
    "graphics|*.jpg;*.jpeg;*.gif;*.tif;*.tiff;*.pcx;*.png;*.bmp;*.wmf;*.emf;*.ico;*.cur;*.tga;*.targa;*.vda;*"
    ".icb;*.vst;*.win;*.avi|"
    "JPEG Bitmap (JPG;JPEG)|*.jpg;*.jpeg|CompuServe Bitmap (GIF)|*.gif|TIFF Bitmap (TIF;TIFF)|*.tif;*.tiff|"
    "PaintBrush (PCX)|*.pcx|Portable Network Graphics (PNG)|*.png|Windows Bitmap (BMP)|*.bmp|"
    "OS/2 Bitmap (BMP)|*.bmp|Enhanced Windows Metafile (EMF)|*.emf|Windows Metafile (WMF)|*.wmf|"
    "Icon resource (ICO)|*.ico|Cursor Resource (CUR)|*.cur|"
    "Truevision Targa (TGA)|*.tga;*.targa;*.vda;*.icb;*.vst;*.win|Video for Windows (AVI)|*.avi";

namespace {

// The zoom box of the preview: fit first, then fixed magnifications in percent.
constexpr std::array<int, 12> kZoomSteps = {25, 50, 75, 100, 125, 150, 175, 200, 300, 400, 600, 800};

// The labels by their names, first to fifth text: the picture's size, resolution and colours
// under the preview, the file and memory sizes and the format in the information panel.
constexpr std::array<const char*, 5> kLabelNames = {"PicLabel1", "PicLabel2", "PicLabel3", "InfoLabel1",
                                                    "InfoLabel2"};

std::string LocalName(const QString& fileName) {
  return QFile::encodeName(fileName).toStdString();
}

// The busy cursor for as long as a preview loads.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

void SetUpPreviewView(veilora::TImageView& view) {
  view.SetBackground(veilora::clWhite);
  view.SetBackgroundStyle(veilora::bgsChessboard);
  view.SetCenter(true);
  view.SetDoubleBuffer(true);
  view.SetScrollBars(veilora::ssBoth);
}

// An empty bitmap paints the background only.
void ClearView(veilora::TImageView& view) {
  view.SetBackground(veilora::clWhite);
  view.Bitmap()->Allocate(0, 0, veilora::pf24bit);
  view.Update();
  view.ImageChange();
}

// The information texts of a file of several images.
std::array<std::string, 5> FrameInfoTexts(const veilora::TPreviewFrames& frames, const std::string& name,
                                          std::int64_t fileSize) {
  if (!veilora::IsAviFileName(name)) return veilora::ImageInfoTexts(frames.info, frames.frameCount, fileSize);
  // A video has no file type among the picture formats and no resolution; its frames are true colour.
  veilora::TIOParams info;
  info.Assign(frames.info);
  info.FileType = veilora::ftBMP;
  std::array<std::string, 5> texts = veilora::ImageInfoTexts(info, frames.frameCount, fileSize);
  texts[1].clear();
  texts[4] = "Video for Windows (AVI)";
  return texts;
}

QStringList ToQtNameFilters(const QString& filterText) {
  QStringList filters;
  for (const std::string& filter : veilora::QtNameFilters(filterText.toStdString()))
    filters << QString::fromStdString(filter);
  return filters;
}

}  // namespace

TOpenImageDialog::TOpenImageDialog(QWidget* parent)
    : QFileDialog(parent), imageIO_(std::make_unique<veilora::TImageIO>()) {
  // Qt's own dialog must be chosen before anything else is set: only it can carry the panel.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptOpen);
  setFileMode(QFileDialog::ExistingFile);
  // The list shows the descriptions exactly as written; the patterns still filter the files.
  setOption(QFileDialog::HideNameFilterDetails, true);
  BuildPanel();
  imageIO_->SetAttachedView(imageView_);
  imageIO_->OnProgress = [this](veilora::TObject&, int percentage) { progressBar_->setValue(percentage); };
  connect(this, &QFileDialog::currentChanged, this, &TOpenImageDialog::ShowFileInfo);
  SetFilter(QString::fromLatin1(kOpenImageFilter));
}

TOpenImageDialog::~TOpenImageDialog() {
  // The component lets go of the view before the view (a child widget) goes away.
  imageIO_.reset();
}

void TOpenImageDialog::BuildPanel() {
  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("ImagePanel"));
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(0, 0, 0, 0);

  auto* controls = new QHBoxLayout;
  previewCheck_ = new QCheckBox(tr("Preview"), panel);
  previewCheck_->setObjectName(QStringLiteral("PreviewCheck"));
  previewCheck_->setChecked(true);
  zoomCombo_ = new QComboBox(panel);
  zoomCombo_->setObjectName(QStringLiteral("ZoomCombo"));
  zoomCombo_->addItem(QStringLiteral("Fit"));
  for (int step : kZoomSteps) zoomCombo_->addItem(QStringLiteral("%1%").arg(step));
  previewButton_ = new QToolButton(panel);
  previewButton_->setObjectName(QStringLiteral("PreviewButton"));
  previewButton_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
  previewButton_->setToolTip(tr("Larger preview"));
  playButton_ = new QToolButton(panel);
  playButton_->setObjectName(QStringLiteral("PlayButton"));
  playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  playButton_->setToolTip(tr("Play"));
  playButton_->setEnabled(false);
  controls->addWidget(previewCheck_);
  controls->addStretch(1);
  controls->addWidget(playButton_);
  controls->addWidget(zoomCombo_);
  controls->addWidget(previewButton_);
  panelLayout->addLayout(controls);

  auto* picturePanel = new QFrame(panel);
  picturePanel->setObjectName(QStringLiteral("PicturePanel"));
  picturePanel->setFrameShape(QFrame::StyledPanel);
  auto* pictureLayout = new QVBoxLayout(picturePanel);
  views_ = new QStackedWidget(picturePanel);
  imageView_ = new veilora::TImageView(views_);
  imageView_->setObjectName(QStringLiteral("ImageView"));
  imageView_->setMinimumSize(220, 180);
  SetUpPreviewView(*imageView_);
  multiImageView_ = new TMultiImageView(views_);
  views_->addWidget(imageView_);
  views_->addWidget(multiImageView_);
  pictureLayout->addWidget(views_, 1);
  progressBar_ = new QProgressBar(picturePanel);
  progressBar_->setObjectName(QStringLiteral("ProgressBar"));
  progressBar_->setRange(0, 100);
  progressBar_->setVisible(false);
  pictureLayout->addWidget(progressBar_);
  for (std::size_t i = 0; i < 3; ++i) {
    labels_[i] = new QLabel(picturePanel);
    pictureLayout->addWidget(labels_[i]);
  }
  panelLayout->addWidget(picturePanel, 1);

  auto* infoPanel = new QFrame(panel);
  infoPanel->setObjectName(QStringLiteral("InfoPanel"));
  infoPanel->setFrameShape(QFrame::StyledPanel);
  auto* infoLayout = new QVBoxLayout(infoPanel);
  for (std::size_t i = 3; i < 5; ++i) {
    labels_[i] = new QLabel(infoPanel);
    infoLayout->addWidget(labels_[i]);
  }
  panelLayout->addWidget(infoPanel);
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    labels_[i]->setObjectName(QString::fromLatin1(kLabelNames[i]));
    labels_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }

  // Qt's own dialog lays its controls out on a grid; the panel takes a new column on the right,
  // beside all of them.
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    grid->addWidget(panel, 0, grid->columnCount(), grid->rowCount(), 1);
  } else if (layout() != nullptr) {
    layout()->addWidget(panel);
  }

  connect(previewCheck_, &QCheckBox::toggled, this, &TOpenImageDialog::PreviewToggled);
  connect(zoomCombo_, &QComboBox::activated, this, &TOpenImageDialog::ZoomComboChanged);
  connect(previewButton_, &QToolButton::clicked, this, &TOpenImageDialog::ShowPreviewForm);
  connect(playButton_, &QToolButton::clicked, this, &TOpenImageDialog::PlayButtonClick);
  connect(multiImageView_, &TMultiImageView::playingChanged, this, &TOpenImageDialog::PlayingChanged);
}

void TOpenImageDialog::PlayButtonClick() {
  if (multiImageView_->IsPlaying()) {
    multiImageView_->Stop();
  } else {
    multiImageView_->Play();
  }
}

void TOpenImageDialog::PlayingChanged(bool playing) {
  playButton_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
  playButton_->setToolTip(playing ? tr("Stop") : tr("Play"));
}

bool TOpenImageDialog::PreviewFrames(const std::string& name, std::int64_t fileSize) {
  // Frames beyond these are not kept: a long video would otherwise fill the memory.
  constexpr int kMaxPreviewFrames = 200;
  veilora::TPreviewFrames frames;
  try {
    if (!veilora::LoadPreviewFrames(name, kMaxPreviewFrames, kPreviewSide, frames)) return false;
  } catch (...) {
    return false;
  }
  frameCount_ = frames.frameCount;
  const std::array<std::string, 5> texts = FrameInfoTexts(frames, name, fileSize);
  multiImageView_->SetFrames(std::move(frames));
  views_->setCurrentWidget(multiImageView_);
  playButton_->setEnabled(true);
  zoomCombo_->setEnabled(false);
  SetInfoTexts(texts);
  return true;
}

void TOpenImageDialog::SetFilter(const QString& filterText) {
  filterText_ = filterText;
  setNameFilters(ToQtNameFilters(filterText));
}

bool TOpenImageDialog::Execute() {
  if (exec() != QDialog::Accepted) return false;
  const QStringList files = selectedFiles();
  fileName_ = files.isEmpty() ? QString() : files.first();
  return !fileName_.isEmpty();
}

QString TOpenImageDialog::FileName() const {
  if (!fileName_.isEmpty()) return fileName_;
  const QStringList files = selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

int TOpenImageDialog::FilterIndex() const {
  return veilora::SelectedFilterIndex(*this);
}

void TOpenImageDialog::SetFilterIndex(int index) {
  veilora::SelectFilterIndex(*this, index);
}

QStringList TOpenImageDialog::InfoTexts() const {
  QStringList texts;
  for (const QLabel* label : labels_) texts << label->text();
  return texts;
}

void TOpenImageDialog::SetInfoTexts(const std::array<std::string, 5>& texts) {
  for (std::size_t i = 0; i < labels_.size(); ++i) labels_[i]->setText(QString::fromStdString(texts[i]));
}

void TOpenImageDialog::ClearPreview() {
  multiImageView_->Clear();
  views_->setCurrentWidget(imageView_);
  playButton_->setEnabled(false);
  frameCount_ = 0;
  ClearView(*imageView_);
  if (previewFormView_ != nullptr) ClearView(*previewFormView_);
}

void TOpenImageDialog::ShowFileInfo(const QString& fileName) {
  currentFile_ = fileName;
  const QFileInfo info(fileName);
  if (fileName.isEmpty() || !info.isFile()) {
    ClearPreview();
    SetInfoTexts({});
    return;
  }
  const std::string name = LocalName(fileName);
  // Only a file whose extension names an image format counts as one; its size is shown.
  const std::string extension = veilora::LowerExtension(name);
  const bool knownImage = extension.size() > 1 && veilora::FormatByExtension(extension.substr(1)) != nullptr;
  const std::int64_t fileSize = knownImage ? info.size() : 0;
  int frames = 1;

  bool previewed = false;
  if (previewCheck_->isChecked()) {
    const BusyCursor busy;
    ClearPreview();
    progressBar_->setValue(0);
    progressBar_->setVisible(true);
    // A GIF of several frames, a TIFF of several pages and any video show in the multi-image view.
    const bool video = veilora::IsAviFileName(name);
    if (video || veilora::PreviewFrameCount(name) > 1) {
      const bool shown = PreviewFrames(name, fileSize);
      progressBar_->setVisible(false);
      if (shown) return;
      ClearPreview();
    }
    // Stale fields of the last file must not show up in this one's labels.
    imageIO_->Params.Reset();
    try {
      veilora::LoadPreviewImage(*imageIO_, name, kPreviewSide);
      previewed = !imageIO_->Aborting && imageView_->Bitmap() != nullptr && !imageView_->Bitmap()->Empty();
    } catch (...) {
      // A preview never stops the dialog: whatever went wrong, the view stays empty.
      previewed = false;
    }
    progressBar_->setVisible(false);
    if (previewed) {
      zoomCombo_->setEnabled(true);
      zoomCombo_->setCurrentIndex(0);
      ZoomComboChanged(0);
      if (previewFormView_ != nullptr && previewForm_->isVisible()) previewFormView_->Assign(imageView_);
    } else {
      ClearPreview();
    }
  }
  if (previewed) {
    frameCount_ = frames;
    SetInfoTexts(veilora::ImageInfoTexts(imageIO_->Params, frames, fileSize));
    return;
  }
  if (veilora::IsAviFileName(name)) {
    // Without a preview a video still says what it holds; one tiny frame gives its size.
    veilora::TPreviewFrames video;
    bool read = false;
    try {
      read = veilora::LoadPreviewFrames(name, 1, 1, video);
    } catch (...) {
      read = false;
    }
    if (read) {
      frameCount_ = video.frameCount;
      SetInfoTexts(FrameInfoTexts(video, name, fileSize));
      return;
    }
  }
  // Without a preview, or when the image itself could not be read, the header says what is
  // known. A fresh record keeps the last file's values out.
  veilora::TImageIO probe;
  try {
    probe.ParamsFromFile(name);
  } catch (...) {
    probe.Params.FileType = veilora::ftUnknown;
  }
  SetInfoTexts(veilora::ImageInfoTexts(probe.Params, frames, fileSize));
}

void TOpenImageDialog::ZoomComboChanged(int index) {
  if (index < 0 || index >= zoomCombo_->count()) return;
  if (index == 0) {
    imageView_->ZoomToFit();
    return;
  }
  imageView_->SetZoom(kZoomSteps[static_cast<std::size_t>(index) - 1]);
}

void TOpenImageDialog::PreviewToggled() {
  zoomCombo_->setEnabled(previewCheck_->isChecked());
  previewButton_->setEnabled(previewCheck_->isChecked());
  if (!previewCheck_->isChecked()) ClearPreview();
  ShowFileInfo(currentFile_);
}

void TOpenImageDialog::ShowPreviewForm() {
  if (previewForm_ == nullptr) {
    // A tool window of its own that the user can size; the image always fills it.
    previewForm_ = new QWidget(this, Qt::Tool);
    previewForm_->setObjectName(QStringLiteral("PreviewForm"));
    previewForm_->setWindowTitle(tr("Preview"));
    auto* formLayout = new QVBoxLayout(previewForm_);
    formLayout->setContentsMargins(0, 0, 0, 0);
    previewFormView_ = new veilora::TImageView(previewForm_);
    previewFormView_->setObjectName(QStringLiteral("PreviewFormView"));
    SetUpPreviewView(*previewFormView_);
    previewFormView_->SetAutoFit(true);
    formLayout->addWidget(previewFormView_);
    const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize size(available.width() * 2 / 3, available.height() * 2 / 3);
    previewForm_->resize(size);
    previewForm_->move(available.center() - QPoint(size.width() / 2, size.height() / 2));
  }
  // A file of several images shows the frame the preview stands on.
  if (views_->currentWidget() == multiImageView_) {
    previewFormView_->Assign(multiImageView_->View());
  } else {
    previewFormView_->Assign(imageView_);
  }
  previewForm_->show();
  previewForm_->raise();
}
