// The save-options window driven as the user drives it: the pages a mask shows, the controls and
// the working copy, OK writing only the showing page, Cancel writing nothing, the preview and its
// sizes, "Lock preview", the swatches with their palette and colour dialogs, the hidden text's
// fate, and the save dialog's advanced button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "dialogs/PaletteDialog.h"
#include "dialogs/SaveImageDialog.h"
#include "dialogs/SaveOptionsForm.h"
#include "hidden/HiddenCarrier.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "io/SaveOptions.h"
#include "view/ImageView.h"

namespace veilora {
namespace {

// A 300 x 300 picture of a few colour bands, optionally holding a hidden text.
void MakePicture(TBitmap& bitmap, bool withText) {
  bitmap.Allocate(300, 300, pf24bit);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 300; ++x) {
      std::uint8_t* p = bitmap.ScanLine(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>(x ^ y);
    }
  if (withText) {
    const std::string text = "meet at noon";
    WriteHiddenPayload(bitmap, reinterpret_cast<const std::uint8_t*>(text.data()),
                       static_cast<std::int32_t>(text.size()));
  }
}

template <typename T>
T* Child(QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

// Runs `step` on the next modal window that opens (a palette or colour dialog over the form).
void OnNextModal(std::function<void(QWidget*)> step) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, step = std::move(step)] {
    if (QWidget* modal = QApplication::activeModalWidget();
        modal != nullptr && modal->isVisible() && modal->objectName() != "SaveOptionsForm") {
      poll->stop();
      poll->deleteLater();
      step(modal);
    }
  });
  poll->start();
}

class SaveOptionsFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallLzwCoders();
    MakePicture(image, false);
  }
  // Shows the form for these pages; the form renders its first preview while it shows.
  void Show(int pages, bool lock = false) {
    form.SetUp(params, image, pages, lock);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  }
  int VisibleTabs() {
    int count = 0;
    for (int i = 0; i < form.PageControl()->count(); ++i)
      count += form.PageControl()->isTabVisible(i) ? 1 : 0;
    return count;
  }

  TBitmap image;
  TIOParams params;
  TSaveOptionsForm form;
};

TEST_F(SaveOptionsFormTest, PngPageAloneStoresBlackAndWhite) {
  params.FileType = ftBMP;
  Show(SavePagesShown(spPNG, params.FileType));
  EXPECT_EQ(form.windowTitle(), "Paramters preview");
  EXPECT_EQ(VisibleTabs(), 1);
  EXPECT_EQ(form.ShowingPage(), spPNG);
  auto* colours = Child<QComboBox>(form, "ComboBox10");
  EXPECT_EQ(colours->currentText(), "16M");
  colours->setCurrentIndex(0);
  Child<QPushButton>(form, "Button1")->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(params.BitsPerSample, 1);
  EXPECT_EQ(params.SamplesPerPixel, 1);
  EXPECT_TRUE(params.SaveColoursChosen);
}

TEST_F(SaveOptionsFormTest, TiffCmykStoresFourSamplesWhateverTheColourBoxShows) {
  Show(spTIFF);
  auto* photometric = Child<QComboBox>(form, "ComboBox3");
  auto* colours = Child<QComboBox>(form, "ComboBox4");
  EXPECT_TRUE(colours->isEnabled());
  photometric->setCurrentIndex(5);  // CMYK
  EXPECT_EQ(colours->currentText(), "16M");
  EXPECT_FALSE(colours->isEnabled());
  colours->setCurrentIndex(1);  // a change the disabled box cannot make, forced here
  Child<QPushButton>(form, "Button1")->click();
  EXPECT_EQ(params.TiffPhotometric, 5);
  EXPECT_EQ(params.SamplesPerPixel, 4);
  EXPECT_EQ(params.BitsPerSample, 8);
}

TEST_F(SaveOptionsFormTest, TiffGreyPhotometricForcesBlackAndWhite) {
  Show(spTIFF);
  auto* photometric = Child<QComboBox>(form, "ComboBox3");
  auto* colours = Child<QComboBox>(form, "ComboBox4");
  photometric->setCurrentIndex(1);  // BLACKISZERO
  EXPECT_EQ(colours->currentText(), "B/W");
  EXPECT_FALSE(colours->isEnabled());
  photometric->setCurrentIndex(2);  // RGB frees the box and leaves B/W for true colour
  EXPECT_TRUE(colours->isEnabled());
  EXPECT_EQ(colours->currentText(), "16M");
}

TEST_F(SaveOptionsFormTest, TypedQualityIsANumberOrFifty) {
  params.JpegQuality = 80;
  Show(spJPEG);
  auto* quality = Child<QLineEdit>(form, "Edit22");
  auto* track = Child<QSlider>(form, "TrackBar13");
  EXPECT_EQ(quality->text(), "80");
  EXPECT_EQ(track->value(), 80);
  quality->setText("35");
  EXPECT_EQ(track->value(), 35);  // the track bar follows the typed quality
  EXPECT_EQ(form.WorkingCopy().JpegQuality, 35);
  quality->setText("abc");
  EXPECT_EQ(form.WorkingCopy().JpegQuality, 50);
  track->setValue(70);
  EXPECT_EQ(quality->text(), "70");
  quality->setText("abc");
  Child<QPushButton>(form, "Button1")->click();
  EXPECT_EQ(params.JpegQuality, 50);
}

TEST_F(SaveOptionsFormTest, ShowsTheSizesAndTheJpegResultsSize) {
  Show(spJPEG, true);
  EXPECT_EQ(form.OriginalSizeText(spJPEG), "270000 bytes");
  // The compressed size is what a JPEG save of the picture with these options writes.
  TImageIO io;
  io.AttachBitmap(&image);
  io.Params.JpegQuality = params.JpegQuality;
  TMemoryStream stream;
  io.SaveToStreamJPEG(stream);
  EXPECT_EQ(form.CompressedSizeText(spJPEG), QString::number(stream.Size()) + " bytes");
  EXPECT_EQ(form.ResultView()->Bitmap()->Width(), 300);
  EXPECT_EQ(form.ResultView()->Zoom(), form.SourceView()->Zoom());
}

TEST_F(SaveOptionsFormTest, OneBitImageCountsOneBitRows) {
  image.Allocate(300, 300, pf1bit);
  Show(spBMP);
  EXPECT_EQ(form.OriginalSizeText(spBMP), "12000 bytes");
}

TEST_F(SaveOptionsFormTest, CancelLeavesTheRecordAlone) {
  Show(spPNG);
  Child<QComboBox>(form, "ComboBox10")->setCurrentIndex(0);
  Child<QComboBox>(form, "ComboBox11")->setCurrentIndex(2);
  Child<QPushButton>(form, "Button2")->click();
  EXPECT_EQ(form.result(), QDialog::Rejected);
  const TIOParams defaults;
  EXPECT_EQ(params.BitsPerSample, defaults.BitsPerSample);
  EXPECT_EQ(params.PngFilter, defaults.PngFilter);
  EXPECT_FALSE(params.SaveColoursChosen);
}

TEST_F(SaveOptionsFormTest, OkWritesOnlyTheShowingPage) {
  Show(spJPEG | spPCX);
  EXPECT_EQ(VisibleTabs(), 2);
  EXPECT_EQ(form.ShowingPage(), spJPEG);  // the first visible page
  Child<QLineEdit>(form, "Edit22")->setText("12");
  form.PageControl()->setCurrentIndex(4);  // PCX: the working copy is filled again from the record
  ASSERT_EQ(form.ShowingPage(), spPCX);
  EXPECT_EQ(form.WorkingCopy().JpegQuality, TIOParams().JpegQuality);
  Child<QComboBox>(form, "ComboBox8")->setCurrentIndex(0);
  Child<QComboBox>(form, "ComboBox9")->setCurrentIndex(1);
  Child<QPushButton>(form, "Button1")->click();
  EXPECT_EQ(params.JpegQuality, TIOParams().JpegQuality);
  EXPECT_EQ(params.PcxCompression, 0);
  EXPECT_EQ(params.SamplesPerPixel, 1);
  EXPECT_EQ(params.BitsPerSample, 4);
}

TEST_F(SaveOptionsFormTest, BmpThirtyTwoBitWritesTrueColour) {
  Show(spBMP);
  Child<QComboBox>(form, "ComboBox7")->setCurrentIndex(5);
  Child<QPushButton>(form, "Button1")->click();
  EXPECT_EQ(params.SamplesPerPixel, 3);
  EXPECT_EQ(params.BitsPerSample, 8);
}

TEST_F(SaveOptionsFormTest, LockPreviewRendersAtOnceAndUnlockedWaitsForPreview) {
  Show(spPNG, false);
  auto* lock = Child<QToolButton>(form, "SpeedButton1");
  auto* preview = Child<QPushButton>(form, "Button3");
  EXPECT_FALSE(lock->isChecked());
  EXPECT_TRUE(preview->isEnabled());
  const QString trueColour = form.CompressedSizeText(spPNG);
  Child<QComboBox>(form, "ComboBox10")->setCurrentIndex(0);
  EXPECT_EQ(form.CompressedSizeText(spPNG), trueColour);  // not rendered yet
  preview->click();
  const QString blackWhite = form.CompressedSizeText(spPNG);
  EXPECT_NE(blackWhite, trueColour);
  lock->click();
  EXPECT_FALSE(preview->isEnabled());
  Child<QComboBox>(form, "ComboBox10")->setCurrentIndex(2);
  EXPECT_EQ(form.CompressedSizeText(spPNG), trueColour);  // rendered at once
  EXPECT_EQ(form.ResultView()->Bitmap()->PixelFormat(), pf24bit);
}

TEST_F(SaveOptionsFormTest, SaysWhetherTheHiddenTextSurvives) {
  MakePicture(image, true);
  Show(spPNG | spGIF, true);
  form.PageControl()->setCurrentIndex(5);  // PNG
  EXPECT_EQ(form.HiddenTextText(spPNG), "Hidden text: kept with these options");
  Child<QComboBox>(form, "ComboBox10")->setCurrentIndex(1);  // 256 colours
  EXPECT_EQ(form.HiddenTextText(spPNG), "Hidden text: lost with these options");
  form.PageControl()->setCurrentIndex(2);  // GIF
  EXPECT_EQ(form.HiddenTextText(spGIF), "Hidden text: lost with these options");
}

TEST_F(SaveOptionsFormTest, GifSwatchChoosesFromThePreviewsPalette) {
  params.BitsPerSample = 2;
  Show(spGIF, true);
  ASSERT_EQ(form.PreviewPalette().size(), 4u);
  const TRGB wanted = form.PreviewPalette()[2];
  int entries = 0;
  OnNextModal([&entries](QWidget* modal) {
    auto* palette = qobject_cast<TPaletteDialog*>(modal);
    ASSERT_NE(palette, nullptr);
    entries = palette->EntryCount();
    palette->Cell(2)->click();
    EXPECT_EQ(palette->findChild<QPushButton*>("PaletteCancel")->text(), "&Cancel");
    palette->findChild<QPushButton*>("PaletteOK")->click();
  });
  Child<QToolButton>(form, "Panel4")->click();
  EXPECT_EQ(entries, 4);  // 2^bits entries
  EXPECT_EQ(form.WorkingCopy().GifBackground, wanted);
  Child<QPushButton>(form, "Button1")->click();
  EXPECT_EQ(params.GifBackground, wanted);
}

TEST_F(SaveOptionsFormTest, PngSwatchUsesTheColourDialogForTrueColour) {
  Show(spPNG, true);
  ASSERT_TRUE(form.PreviewPalette().empty());
  bool colourDialog = false;
  OnNextModal([&colourDialog](QWidget* modal) {
    auto* dialog = qobject_cast<QColorDialog*>(modal);
    colourDialog = dialog != nullptr;
    if (dialog == nullptr) {
      modal->close();
      return;
    }
    dialog->setCurrentColor(QColor(10, 20, 30));
    dialog->accept();
  });
  Child<QToolButton>(form, "Panel1")->click();
  EXPECT_TRUE(colourDialog);
  EXPECT_EQ(form.WorkingCopy().PngBackground, (TRGB{30, 20, 10}));
  // With a palette the palette dialog answers instead; Cancel changes nothing.
  Child<QComboBox>(form, "ComboBox10")->setCurrentIndex(1);
  ASSERT_FALSE(form.PreviewPalette().empty());
  bool paletteDialog = false;
  OnNextModal([&paletteDialog](QWidget* modal) {
    paletteDialog = qobject_cast<TPaletteDialog*>(modal) != nullptr;
    qobject_cast<QDialog*>(modal)->reject();
  });
  Child<QToolButton>(form, "Panel1")->click();
  EXPECT_TRUE(paletteDialog);
  EXPECT_EQ(form.WorkingCopy().PngBackground, (TRGB{30, 20, 10}));
}

TEST_F(SaveOptionsFormTest, ShowSaveOptionsRunsTheWindowModally) {
  SetSaveOptionsDialog(&SaveOptionsFormDialog());
  TImageIO io;
  io.AttachBitmap(&image);
  bool lockShown = false;
  QTimer::singleShot(50, [&lockShown] {
    auto* shown = qobject_cast<TSaveOptionsForm*>(QApplication::activeModalWidget());
    ASSERT_NE(shown, nullptr);
    lockShown = shown->findChild<QToolButton*>("SpeedButton1")->isChecked();
    shown->findChild<QComboBox*>("ComboBox14")->setCurrentIndex(1);
    shown->findChild<QPushButton*>("Button1")->click();
  });
  io.PreviewsParams = ioppDefaultLockPreview;
  EXPECT_TRUE(io.ShowSaveOptions(spTGA));
  EXPECT_TRUE(lockShown);
  EXPECT_EQ(io.Params.SamplesPerPixel, 1);
  EXPECT_EQ(io.Params.BitsPerSample, 8);
  SetSaveOptionsDialog(nullptr);
}

// Records what the advanced button asks for.
class TPageRecorder : public TSaveOptionsDialog {
 public:
  bool Execute(TImageIO&, int pages, bool) override {
    shown.push_back(pages);
    return true;
  }
  std::vector<int> shown;
};

TEST(SaveDialogAdvancedButton, OpensTheOptionsOfTheNamedFormat) {
  TPageRecorder recorder;
  SetSaveOptionsDialog(&recorder);
  TBitmap bitmap(4, 4, pf24bit);
  TImageIO io;
  io.AttachBitmap(&bitmap);
  TSaveImageDialog dialog;
  dialog.SetFilter(QString::fromLatin1(kSaveImageFilter));
  ASSERT_NE(dialog.AdvancedButton(), nullptr);
  auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(name, nullptr);
  dialog.AdvancedButton()->click();  // no component: nothing
  EXPECT_TRUE(recorder.shown.empty());
  dialog.SetAttachedImageIO(&io);
  struct Row {
    const char* typed;
    int page;
  };
  const Row rows[] = {
      {"a.png", spPNG}, {"b.JPEG", spJPEG}, {"c.tiff", spTIFF}, {"d.pcx", spPCX},
      {"e.gif", spGIF}, {"f.bmp", spBMP},   {"g", spJPEG}};  // no extension: the filter's (.jpg)
  for (const Row& row : rows) {
    recorder.shown.clear();
    name->setText(QString::fromLatin1(row.typed));
    dialog.AdvancedButton()->click();
    ASSERT_EQ(recorder.shown.size(), 1u) << row.typed;
    EXPECT_EQ(recorder.shown[0], row.page) << row.typed;
  }
  dialog.SetOptions(sdShowPreview);
  EXPECT_TRUE(dialog.AdvancedButton()->isHidden());
  dialog.SetAttachedImageIO(nullptr);
  SetSaveOptionsDialog(nullptr);
}

}  // namespace
}  // namespace veilora
