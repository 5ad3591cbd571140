#pragma once

// The save-options window: one page per output format, the image as it is ("Source:") beside the
// image as the chosen options render it ("Result:"), the uncompressed and compressed sizes, and
// whether the hidden text survives those options. The controls edit a working copy of the
// caller's parameter record, filled from the record whenever a page is shown; OK writes back only
// the fields of the page that is showing.

#include <QDialog>
#include <QString>
#include <array>
#include <memory>
#include <vector>

#include "image/Colour.h"
#include "io/IOParams.h"
#include "io/SaveOptions.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QWidget;

namespace veilora {
class TBitmap;
class TImageView;
}  // namespace veilora

class TSaveOptionsForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSaveOptionsForm(QWidget* parent = nullptr);
  ~TSaveOptionsForm() override;

  // The record OK writes to (not owned), a copy of the image for SourceView, the pages to show
  // (spJPEG ... spTGA bits) and the starting state of "Lock preview". Takes effect when the
  // window is shown.
  void SetUp(veilora::TIOParams& params, const veilora::TBitmap& image, int pages, bool lockPreview);

  veilora::TImageView* SourceView() const { return sourceView_; }
  veilora::TImageView* ResultView() const { return resultView_; }
  QTabWidget* PageControl() const { return pageControl_; }
  // The page showing, as its TSavePage bit; 0 when none is.
  int ShowingPage() const;
  const veilora::TIOParams& WorkingCopy() const { return working_; }
  // The colour table of the last preview, which the swatch dialogs offer.
  const std::vector<veilora::TRGB>& PreviewPalette() const { return previewPalette_; }
  // The value texts of a page: the uncompressed size, the compressed size, the hidden-text fate.
  QString OriginalSizeText(int page) const;
  QString CompressedSizeText(int page) const;
  QString HiddenTextText(int page) const;
  // Renders the showing page's options into ResultView.
  void RenderPreview();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct Page;
  Page& PageFor(int page);
  const Page* FindPage(int page) const;
  void BuildPages();
  QWidget* BuildJpegPage();
  QWidget* BuildTiffPage();
  QWidget* BuildGifPage();
  QWidget* BuildBmpPage();
  QWidget* BuildPcxPage();
  QWidget* BuildPngPage();
  QWidget* BuildTgaPage();
  void AddSizeLabels(int page, QWidget* widget, class QGridLayout* grid, int row);
  QToolButton* AddSwatch(QWidget* widget, const char* name);
  QComboBox* AddCombo(QWidget* widget, const char* name, const QStringList& items);
  QLineEdit* AddEdit(QWidget* widget, const char* name);
  QSpinBox* AddSpin(QWidget* widget, const char* name, int maximum);
  QCheckBox* AddCheck(QWidget* widget, const char* name, const QString& text);

  void Activate();
  void PageChanged();
  void FillPage();
  void ReadPage();
  void ControlChanged();
  void QualityTrackChanged(int value);
  void TiffPhotometricChanged();
  void LockToggled(bool down);
  void SwatchClicked(QToolButton* swatch);
  void SyncResultView();
  void Accept();

  veilora::TIOParams* callerParams_ = nullptr;
  veilora::TIOParams working_;
  int pages_ = 0;
  bool lockPreview_ = false;
  bool filling_ = false;
  std::vector<veilora::TRGB> previewPalette_;
  std::vector<std::unique_ptr<Page>> pageList_;

  QTabWidget* pageControl_ = nullptr;
  veilora::TImageView* sourceView_ = nullptr;
  veilora::TImageView* resultView_ = nullptr;
  QProgressBar* progressBar1_ = nullptr;
  QPushButton* button1_ = nullptr;
  QPushButton* button2_ = nullptr;
  QPushButton* button3_ = nullptr;
  QToolButton* speedButton1_ = nullptr;

  // JPEG
  QLineEdit* edit22_ = nullptr;
  QSlider* trackBar13_ = nullptr;
  QComboBox* comboBox13_ = nullptr;
  QComboBox* comboBox1_ = nullptr;
  QCheckBox* checkBox2_ = nullptr;
  QSpinBox* edit23_ = nullptr;
  QCheckBox* checkBox3_ = nullptr;
  // TIFF
  QComboBox* comboBox2_ = nullptr;
  QSpinBox* edit1_ = nullptr;
  QComboBox* comboBox3_ = nullptr;
  QComboBox* comboBox4_ = nullptr;
  std::array<QLineEdit*, 7> tiffEdits_ = {};  // Edit2 .. Edit8
  // GIF
  QSpinBox* edit9_ = nullptr;
  QComboBox* comboBox5_ = nullptr;
  QCheckBox* checkBox4_ = nullptr;
  QToolButton* panel3_ = nullptr;
  QCheckBox* checkBox5_ = nullptr;
  QLineEdit* edit10_ = nullptr;
  QLineEdit* edit11_ = nullptr;
  QLineEdit* edit12_ = nullptr;
  QToolButton* panel4_ = nullptr;
  // BMP, PCX
  QComboBox* comboBox6_ = nullptr;
  QComboBox* comboBox7_ = nullptr;
  QComboBox* comboBox8_ = nullptr;
  QComboBox* comboBox9_ = nullptr;
  // PNG
  QComboBox* comboBox10_ = nullptr;
  QCheckBox* checkBox6_ = nullptr;
  QToolButton* panel1_ = nullptr;
  QComboBox* comboBox11_ = nullptr;
  QComboBox* comboBox12_ = nullptr;
  // TGA
  QComboBox* comboBox14_ = nullptr;
  QToolButton* panel5_ = nullptr;
  QCheckBox* checkBox1_ = nullptr;
  QLineEdit* edit13_ = nullptr;
  QLineEdit* edit14_ = nullptr;
};

// The window the core's TImageIO::ShowSaveOptions reaches; the shell installs it at start-up
// with veilora::SetSaveOptionsDialog(&SaveOptionsFormDialog()).
veilora::TSaveOptionsDialog& SaveOptionsFormDialog();
