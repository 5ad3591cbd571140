// The image open and save dialogs: the filter texts and their Qt form, the extension rules, the
// five information texts for real files, the preview paths, and whole runs of the dialogs with a
// timer playing the user.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include "dialogs/DialogFilter.h"
#include "dialogs/OpenImageDialog.h"
#include "dialogs/SaveImageDialog.h"
#include "io/ImageIO.h"
#include "view/ImageView.h"

namespace veilora {
namespace {

// ---- helpers ----

// Writes a width x height image in the given format through the input/output component.
void WriteImage(const QString& fileName, int width, int height, TPixelFormat format, int bitsPerSample,
                int samplesPerPixel, int dpi) {
  TBitmap bitmap(width, height, format);
  bitmap.Fill(RGBToColor(40, 90, 200));
  TImageIO io;
  io.AttachBitmap(&bitmap);
  io.Params.BitsPerSample = bitsPerSample;
  io.Params.SamplesPerPixel = samplesPerPixel;
  io.Params.DpiX = dpi;
  io.Params.DpiY = dpi;
  io.SaveToFile(QFile::encodeName(fileName).toStdString());
  ASSERT_FALSE(io.Aborting) << fileName.toStdString();
}

void WriteBytes(const QString& fileName, const QByteArray& bytes) {
  QFile file(fileName);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QStringList Empty5() {
  return QStringList(5, QString());
}

QComboBox* TypeCombo(QFileDialog& dialog) {
  return dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
}
QLineEdit* NameEdit(QFileDialog& dialog) {
  return dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

// What the user's click on Open or Save does, checks included.
void PressAccept(QFileDialog& dialog) {
  auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  ASSERT_NE(buttons, nullptr);
  for (QAbstractButton* button : buttons->buttons()) {
    if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) {
      EXPECT_TRUE(button->isEnabled());
      button->click();
      return;
    }
  }
  ADD_FAILURE() << "no accept button";
}

// Types a name into the name box as the user does: with the box focused, which also makes Qt
// forget a file selected in the list.
void TypeName(QFileDialog& dialog, const QString& name) {
  QLineEdit* edit = NameEdit(dialog);
  ASSERT_NE(edit, nullptr);
  dialog.activateWindow();
  QApplication::setActiveWindow(&dialog);
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
  QTest::keyClicks(edit, name);
  EXPECT_EQ(edit->text(), name);
}

// The visible message box, if any.
QMessageBox* OpenMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

// Runs `step` once the dialog's own event loop is running; a stuck run is rejected rather than
// left hanging (the test then fails on its expectations).
void WhenShown(QDialog& dialog, std::function<void()> step) {
  QTimer::singleShot(0, &dialog, [&dialog, step = std::move(step)] {
    EXPECT_TRUE(dialog.isVisible());
    step();
  });
  auto* guard = new QTimer(&dialog);
  guard->setSingleShot(true);
  QObject::connect(guard, &QTimer::timeout, &dialog, [&dialog] {
    if (QMessageBox* box = OpenMessageBox()) {
      ADD_FAILURE() << "unanswered question: " << box->text().toStdString();
      box->reject();
    }
    if (dialog.isVisible()) {
      ADD_FAILURE() << "dialog still open";
      dialog.reject();
    }
  });
  QObject::connect(&dialog, &QDialog::finished, guard, &QObject::deleteLater);
  guard->start(20000);
}

// Answers the next message box with `button` and records its text.
void AnswerMessageBox(QMessageBox::StandardButton button, QString* text) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, button, text] {
    if (QMessageBox* box = OpenMessageBox()) {
      poll->stop();
      poll->deleteLater();
      *text = box->text();
      box->button(button)->click();
    }
  });
  poll->start();
}

QString ExpectedSizeText(qint64 bytes) {
  return bytes >= 1024 ? QString::number(bytes / 1024) + " Kb" : QString::number(bytes) + " bytes";
}

// ---- filter texts ----

TEST(DialogFilterTest, ParseKeepsDescriptionsAndSplitsPatterns) {
  const std::vector<TFilterEntry> entries = ParseFilter("JPEG Bitmap (JPG;JPEG)|*.jpg; *.jpeg|All|*.*|Bare");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (TFilterEntry{"JPEG Bitmap (JPG;JPEG)", {"*.jpg", "*.jpeg"}}));
  EXPECT_EQ(entries[1], (TFilterEntry{"All", {"*.*"}}));
  EXPECT_EQ(entries[2], (TFilterEntry{"Bare", {"*"}}));
  EXPECT_TRUE(ParseFilter("").empty());
  EXPECT_EQ(ParseFilter("A|*.a|").size(), 1u);
}

TEST(DialogFilterTest, QtNameFiltersOfTheProgramsFilters) {
  const std::vector<std::string> open = QtNameFilters(kOpenImageFilter);
  ASSERT_EQ(open.size(), 14u);
  EXPECT_EQ(open[0],
            "All graphics (*.jpg *.jpeg *.gif *.tif *.tiff *.pcx *.png *.bmp *.wmf *.emf *.ico *.cur *.tga "
            "*.targa *.vda *.icb *.vst *.win *.avi)");
  EXPECT_EQ(open[1], "JPEG Bitmap (JPG;JPEG) (*.jpg *.jpeg)");
  EXPECT_EQ(open[7], "OS/2 Bitmap (BMP) (*.bmp)");
  EXPECT_EQ(open[12], "Truevision Targa (TGA) (*.tga *.targa *.vda *.icb *.vst *.win)");
  EXPECT_EQ(open[13], "Video for Windows (AVI) (*.avi)");
  const std::vector<std::string> save = QtNameFilters(kSaveImageFilter);
  ASSERT_EQ(save.size(), 7u);
  EXPECT_EQ(save[0], "JPEG Bitmap (JPG) No Data (*.jpg)");
  EXPECT_EQ(save[6], "OS/2 Bitmap (BMP) (*.bmp)");
  EXPECT_EQ(QtNameFilters("Everything|*.*"), std::vector<std::string>{"Everything (*)"});
}

TEST(DialogFilterTest, ExtensionOfAnEntry) {
  EXPECT_EQ(FilterExtension(TFilterEntry{"J", {"*.jpg", "*.jpeg"}}), ".jpg");
  EXPECT_EQ(FilterExtension(TFilterEntry{"A", {"*"}}), "");
  EXPECT_EQ(FilterExtension(TFilterEntry{"A", {"*.*"}}), "");
  EXPECT_EQ(FilterExtension(TFilterEntry{"A", {"*.jp?"}}), "");
  EXPECT_EQ(FilterExtension(TFilterEntry{"A", {"photo.jpg"}}), "");
  EXPECT_EQ(FilterExtension(kSaveImageFilter, 5), ".png");
  EXPECT_EQ(FilterExtension(kSaveImageFilter, 7), ".bmp");
  EXPECT_EQ(FilterExtension(kSaveImageFilter, 0), "");
  EXPECT_EQ(FilterExtension(kSaveImageFilter, 8), "");
  EXPECT_EQ(FilterIndexForExtension(kSaveImageFilter, ".PNG"), 5);
  EXPECT_EQ(FilterIndexForExtension(kSaveImageFilter, ".bmp"), 6);
  EXPECT_EQ(FilterIndexForExtension(kSaveImageFilter, ".jpeg"), 0);
  EXPECT_EQ(FilterIndexForExtension(kOpenImageFilter, ".jpeg"), 1);
}

TEST(DialogFilterTest, AppendAndReplaceExtensions) {
  struct Row {
    const char* name;
    const char* appended;
    const char* replaced;
  };
  const Row rows[] = {
      {"photo", "photo.png", "photo"},
      {"photo.jpg", "photo.jpg", "photo.png"},
      {"photo.tar.gz", "photo.tar.gz", "photo.tar.png"},
      {"/tmp/dir.d/photo", "/tmp/dir.d/photo.png", "/tmp/dir.d/photo"},
      {"/tmp/dir.d/photo.JPG", "/tmp/dir.d/photo.JPG", "/tmp/dir.d/photo.png"},
      {"PHOTO.PNG", "PHOTO.PNG", "PHOTO.PNG"},
      {"photo.", "photo.", "photo.png"},
      {"", "", ""},
      {"/tmp/", "/tmp/", "/tmp/"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(AppendExtension(row.name, ".png"), row.appended) << row.name;
    EXPECT_EQ(ReplaceExtension(row.name, ".png"), row.replaced) << row.name;
    EXPECT_EQ(AppendExtension(row.name, ""), row.name);
    EXPECT_EQ(ReplaceExtension(row.name, ""), row.name);
  }
  EXPECT_EQ(FileExtension("a.b/c"), "");
  EXPECT_EQ(FileExtension("a.b/c.Tif"), ".Tif");
}

// ---- information texts ----

TEST(DialogInfoTextTest, SizesColoursAndFrames) {
  EXPECT_EQ(SizeText(0), "0 bytes");
  EXPECT_EQ(SizeText(1023), "1023 bytes");
  EXPECT_EQ(SizeText(1024), "1 Kb");
  EXPECT_EQ(SizeText(180054), "175 Kb");

  EXPECT_EQ(ColourCountText(1, 1), "2");
  EXPECT_EQ(ColourCountText(1, 8), "256");
  EXPECT_EQ(ColourCountText(3, 5), "32768");
  EXPECT_EQ(ColourCountText(3, 8), "16777216");
  EXPECT_EQ(ColourCountText(4, 8), "16777216");
  EXPECT_EQ(ColourCountText(3, 16), "281474976710656");
  // Beyond 63 bits a machine shift would overflow.
  EXPECT_EQ(ColourCountText(4, 16), "18446744073709551616");

  TIOParams params;
  params.FileType = ftGIF;
  params.Width = 10;
  params.Height = 10;
  params.DpiX = 72;
  params.DpiY = 300;
  params.SamplesPerPixel = 1;
  params.BitsPerSample = 8;
  // Three frames of 10 rows of 32 bytes (240 bits padded to 256).
  const std::array<std::string, 5> texts = ImageInfoTexts(params, 3, 2000);
  EXPECT_EQ(texts[0], "10 x 10 pixel , 3 frames");
  EXPECT_EQ(texts[1], "72 x 300 dpi");
  EXPECT_EQ(texts[2], "256 colors (8 bit)");
  EXPECT_EQ(texts[3], "File: 1 Kb   Mem: 960 bytes");
  EXPECT_EQ(texts[4], "CompuServe Bitmap (GIF)");

  params.Width = 33;
  params.BitsPerSample = 1;
  EXPECT_EQ(ImageMemory(params, 1), 80);  // 33 bits pad to 64: 8 bytes a row
  params.Width = -5;
  EXPECT_EQ(ImageMemory(params, 1), 0);

  params.FileType = ftUnknown;
  const std::array<std::string, 5> none = ImageInfoTexts(params, 1, 2000);
  for (const std::string& text : none) EXPECT_EQ(text, "");
}

// ---- the open dialog ----

class OpenImageDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    bmp24 = dir.filePath("photo.bmp");
    WriteImage(bmp24, 300, 200, pf24bit, 8, 3, 96);
    bmp1 = dir.filePath("line art.bmp");
    WriteImage(bmp1, 33, 10, pf1bit, 1, 1, 300);
    png = dir.filePath("small.png");
    WriteImage(png, 40, 30, pf24bit, 8, 3, 72);
  }

  QTemporaryDir dir;
  QString bmp24, bmp1, png;
};

TEST_F(OpenImageDialogTest, UsesTheOpenFilterWithTheDescriptionsShownExactly) {
  TOpenImageDialog dialog;
  EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
  QStringList expected;
  for (const std::string& filter : QtNameFilters(kOpenImageFilter))
    expected << QString::fromStdString(filter);
  EXPECT_EQ(dialog.nameFilters(), expected);
  QComboBox* combo = TypeCombo(dialog);
  ASSERT_NE(combo, nullptr);
  const std::vector<TFilterEntry> entries = ParseFilter(kOpenImageFilter);
  ASSERT_EQ(combo->count(), static_cast<int>(entries.size()));
  for (int i = 0; i < combo->count(); ++i)
    EXPECT_EQ(combo->itemText(i).toStdString(), entries[static_cast<std::size_t>(i)].Description);

  EXPECT_EQ(dialog.FilterIndex(), 1);
  dialog.SetFilterIndex(8);
  EXPECT_EQ(dialog.FilterIndex(), 8);  // OS/2, not the Windows entry of the same pattern
  dialog.SetFilterIndex(99);
  EXPECT_EQ(dialog.FilterIndex(), 8);
  dialog.SetFilter("Only PNG|*.png");
  EXPECT_EQ(dialog.nameFilters(), QStringList{"Only PNG (*.png)"});
  EXPECT_EQ(dialog.FilterIndex(), 1);
}

TEST_F(OpenImageDialogTest, PanelHasTheZoomBoxAndNoTextsWithoutAFile) {
  TOpenImageDialog dialog;
  ASSERT_NE(dialog.PreviewCheck(), nullptr);
  EXPECT_EQ(dialog.PreviewCheck()->text(), "Preview");
  QStringList zooms;
  for (int i = 0; i < dialog.ZoomCombo()->count(); ++i) zooms << dialog.ZoomCombo()->itemText(i);
  EXPECT_EQ(zooms.mid(0, 11), (QStringList{"Fit", "25%", "50%", "75%", "100%", "125%", "150%", "175%", "200%",
                                           "300%", "400%"}));
  ASSERT_NE(dialog.PreviewView(), nullptr);
  EXPECT_EQ(dialog.PreviewView()->BackgroundStyle(), bgsChessboard);
  EXPECT_EQ(dialog.InfoTexts(), Empty5());
  dialog.ShowFileInfo(QString());
  EXPECT_EQ(dialog.InfoTexts(), Empty5());
  // The panel is part of the dialog's own layout.
  EXPECT_TRUE(dialog.isAncestorOf(dialog.PreviewView()));
  EXPECT_NE(dialog.findChild<QWidget*>("InfoPanel"), nullptr);
}

TEST_F(OpenImageDialogTest, InfoTextsOfRealFiles) {
  TOpenImageDialog dialog;
  for (bool preview : {true, false}) {
    SCOPED_TRACE(preview ? "preview on" : "preview off");
    dialog.PreviewCheck()->setChecked(preview);

    // 300 x 200 x 24 bits: rows of 900 bytes, 180000 bytes of pixels behind a 54-byte header.
    dialog.ShowFileInfo(bmp24);
    EXPECT_EQ(dialog.InfoTexts(), (QStringList{"300 x 200 pixel", "96 x 96 dpi", "16777216 colors (24 bit)",
                                               "File: 175 Kb   Mem: 175 Kb", "Windows Bitmap (BMP) ver.3"}));

    // 33 x 10 x 1 bit: rows of 8 bytes; the file adds a 54-byte header and a two-entry palette.
    dialog.ShowFileInfo(bmp1);
    EXPECT_EQ(dialog.InfoTexts(),
              (QStringList{"33 x 10 pixel", "300 x 300 dpi", "2 colors (1 bit)",
                           "File: 142 bytes   Mem: 80 bytes", "Windows Bitmap (BMP) ver.3"}));

    // 40 x 30 x 24 bits: rows of 120 bytes.
    dialog.ShowFileInfo(png);
    EXPECT_EQ(dialog.InfoTexts(),
              (QStringList{"40 x 30 pixel", "72 x 72 dpi", "16777216 colors (24 bit)",
                           "File: " + ExpectedSizeText(QFileInfo(png).size()) + "   Mem: 3 Kb",
                           "Portable Network Graphics (PNG)"}));
  }
}

TEST_F(OpenImageDialogTest, PreviewOnLoadsAndFitsPreviewOffOnlyReadsTheHeader) {
  TOpenImageDialog dialog;
  dialog.resize(900, 500);
  TImageView* view = dialog.PreviewView();
  ASSERT_TRUE(dialog.PreviewCheck()->isChecked());

  dialog.ZoomCombo()->setCurrentIndex(4);  // 100%, so that the fit below is a change
  dialog.ShowFileInfo(bmp24);
  ASSERT_NE(view->Bitmap(), nullptr);
  EXPECT_EQ(view->Bitmap()->Width(), 300);
  EXPECT_EQ(view->Bitmap()->Height(), 200);
  EXPECT_EQ(dialog.ZoomCombo()->currentText(), "Fit");
  EXPECT_TRUE(dialog.ZoomCombo()->isEnabled());
  // Fitted into the view's outer size.
  EXPECT_LE(300 * view->Zoom() / 100, view->width());
  EXPECT_LE(200 * view->Zoom() / 100, view->height());
  EXPECT_TRUE(300 * (view->Zoom() + 1) / 100 > view->width() ||
              200 * (view->Zoom() + 1) / 100 > view->height());

  dialog.ZoomCombo()->setCurrentIndex(2);
  emit dialog.ZoomCombo()->activated(2);
  EXPECT_EQ(view->Zoom(), 50);

  dialog.PreviewCheck()->setChecked(false);
  EXPECT_TRUE(view->Bitmap()->Empty());
  EXPECT_FALSE(dialog.ZoomCombo()->isEnabled());
  dialog.ShowFileInfo(png);
  EXPECT_TRUE(view->Bitmap()->Empty());
  EXPECT_EQ(dialog.InfoTexts().at(0), "40 x 30 pixel");

  // Turning the preview back on previews the file already selected.
  dialog.PreviewCheck()->setChecked(true);
  EXPECT_EQ(view->Bitmap()->Width(), 40);
}

TEST_F(OpenImageDialogTest, FilesThatCannotBePreviewedClearThePreviewQuietly) {
  const QString broken = dir.filePath("broken.bmp");
  WriteBytes(broken, QByteArray("BM") + QByteArray(40, '\x7f'));
  const QString liar = dir.filePath("liar.bmp");  // a PNG under a bitmap's name
  QFile::copy(png, liar);
  const QString text = dir.filePath("notes.txt");
  WriteBytes(text, "not an image");
  const QString missing = dir.filePath("missing.png");

  TOpenImageDialog dialog;
  for (bool preview : {true, false}) {
    SCOPED_TRACE(preview ? "preview on" : "preview off");
    dialog.PreviewCheck()->setChecked(preview);
    for (const QString& file : {broken, liar, text, missing, dir.path()}) {
      SCOPED_TRACE(file.toStdString());
      dialog.ShowFileInfo(bmp24);  // the labels and preview of a good file must not linger
      dialog.ShowFileInfo(file);
      EXPECT_TRUE(dialog.PreviewView()->Bitmap()->Empty());
      EXPECT_NE(dialog.InfoTexts().at(0), "300 x 200 pixel");
      EXPECT_EQ(OpenMessageBox(), nullptr);
    }
    dialog.ShowFileInfo(text);
    EXPECT_EQ(dialog.InfoTexts(), Empty5());
    dialog.ShowFileInfo(liar);
    EXPECT_EQ(dialog.InfoTexts(), Empty5());
  }
}

TEST_F(OpenImageDialogTest, LargerPreviewWindowShowsTheImage) {
  TOpenImageDialog dialog;
  dialog.ShowFileInfo(bmp24);
  QTest::mouseClick(dialog.findChild<QWidget*>("PreviewButton"), Qt::LeftButton);
  QWidget* form = dialog.PreviewForm();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isWindow());
  EXPECT_EQ(form->windowType(), Qt::Tool);
  auto* formView = form->findChild<TImageView*>();
  ASSERT_NE(formView, nullptr);
  EXPECT_EQ(formView->BackgroundStyle(), bgsChessboard);
  EXPECT_EQ(formView->Bitmap()->Width(), 300);
  // It follows the selection while open.
  dialog.ShowFileInfo(png);
  EXPECT_EQ(formView->Bitmap()->Width(), 40);
  dialog.ShowFileInfo(QString());
  EXPECT_TRUE(formView->Bitmap()->Empty());
}

TEST_F(OpenImageDialogTest, ExecuteReturnsTheChosenFile) {
  TOpenImageDialog dialog;
  dialog.setDirectory(dir.path());
  WhenShown(dialog, [&] {
    TypeName(dialog, bmp1);
    PressAccept(dialog);
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(QFileInfo(dialog.FileName()).canonicalFilePath(), QFileInfo(bmp1).canonicalFilePath());

  WhenShown(dialog, [&] { dialog.reject(); });
  EXPECT_FALSE(dialog.Execute());
}

// ---- the save dialog ----

class SaveImageDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QTemporaryDir dir;
};

TEST_F(SaveImageDialogTest, Defaults) {
  TSaveImageDialog dialog;
  EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
  EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog.Options(), sdShowPreview | sdShowAdvanced);
  EXPECT_EQ(dialog.AttachedImageIO(), nullptr);
  EXPECT_EQ(dialog.nameFilters(), (QStringList{"JPEG Bitmap (JPG) (*.jpg)", "CompuServe Bitmap (GIF) (*.gif)",
                                               "TIFF Bitmap (TIF) (*.tif)", "PaintBrush (PCX) (*.pcx)",
                                               "Portable Network Graphics (PNG) (*.png)",
                                               "Windows Bitmap (BMP) (*.bmp)", "OS/2 Bitmap (BMP) (*.bmp)"}));
  EXPECT_EQ(dialog.FilterIndex(), 1);
  EXPECT_EQ(dialog.defaultSuffix(), "jpg");
  dialog.SetOptions(sdShowAdvanced);
  EXPECT_EQ(dialog.Options(), sdShowAdvanced);
  dialog.SetFilter(kSaveImageFilter);
  EXPECT_EQ(TypeCombo(dialog)->itemText(0), "JPEG Bitmap (JPG) No Data");
}

TEST_F(SaveImageDialogTest, ChangingTheFilterReplacesTheExtensionInTheNameBox) {
  TSaveImageDialog dialog;
  dialog.SetFilter(kSaveImageFilter);
  QComboBox* combo = TypeCombo(dialog);
  QLineEdit* edit = NameEdit(dialog);
  ASSERT_NE(combo, nullptr);
  ASSERT_NE(edit, nullptr);
  edit->setText("holiday.photo.jpg");
  // Down arrow on the type box is the user choosing the next entry.
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(dialog.FilterIndex(), 2);
  EXPECT_EQ(edit->text(), "holiday.photo.gif");
  EXPECT_EQ(dialog.defaultSuffix(), "gif");

  edit->setText("untitled");
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(dialog.FilterIndex(), 3);
  EXPECT_EQ(edit->text(), "untitled");
  EXPECT_EQ(dialog.defaultSuffix(), "tif");
}

TEST_F(SaveImageDialogTest, AppendsTheFilterExtensionToANameWithoutOne) {
  TSaveImageDialog dialog;
  dialog.SetFilter(kSaveImageFilter);
  dialog.setDirectory(dir.path());
  dialog.SetFilterIndex(5);
  WhenShown(dialog, [&] {
    TypeName(dialog, "shot");
    PressAccept(dialog);
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(QFileInfo(dialog.FileName()).fileName(), "shot.png");
  EXPECT_EQ(QFileInfo(dialog.FileName()).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
  EXPECT_EQ(dialog.FilterIndex(), 5);

  // A name with its own extension keeps it.
  WhenShown(dialog, [&] {
    TypeName(dialog, "shot.v2.bmp");
    PressAccept(dialog);
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(QFileInfo(dialog.FileName()).fileName(), "shot.v2.bmp");
}

TEST_F(SaveImageDialogTest, AsksBeforeReplacingTheNameWithItsAppendedExtension) {
  const QString existing = dir.filePath("shot.png");
  WriteBytes(existing, "old");
  TSaveImageDialog dialog;
  dialog.setDirectory(dir.path());
  dialog.SetFilterIndex(5);

  QString question;
  bool stillOpenAfterNo = false;
  WhenShown(dialog, [&] {
    TypeName(dialog, "shot");
    AnswerMessageBox(QMessageBox::No, &question);
    PressAccept(dialog);  // returns once the question is answered
    stillOpenAfterNo = dialog.isVisible();
    dialog.reject();
  });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_TRUE(stillOpenAfterNo);
  EXPECT_TRUE(question.contains("shot.png")) << question.toStdString();

  question.clear();
  WhenShown(dialog, [&] {
    TypeName(dialog, "shot");
    AnswerMessageBox(QMessageBox::Yes, &question);
    PressAccept(dialog);
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_TRUE(question.contains("shot.png"));
  EXPECT_EQ(QFileInfo(dialog.FileName()).canonicalFilePath(), QFileInfo(existing).canonicalFilePath());

  // A new name is not asked about.
  question.clear();
  WhenShown(dialog, [&] {
    TypeName(dialog, "fresh");
    PressAccept(dialog);
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_TRUE(question.isEmpty());
}

TEST_F(SaveImageDialogTest, TheOfferedNamePicksItsFilter) {
  TSaveImageDialog dialog;
  dialog.SetFilter(kSaveImageFilter);
  dialog.SetFileName(dir.filePath("scan.png"));
  WhenShown(dialog, [&] {
    EXPECT_EQ(dialog.FilterIndex(), 5);
    EXPECT_EQ(NameEdit(dialog)->text(), "scan.png");
    PressAccept(dialog);
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.FileName(), QDir(dir.path()).filePath("scan.png"));

  // The name keeps the case the user gave it, extension included.
  dialog.SetFilterIndex(1);
  dialog.SetFileName(dir.filePath("PHOTO.PNG"));
  WhenShown(dialog, [&] {
    EXPECT_EQ(dialog.FilterIndex(), 5);
    EXPECT_EQ(NameEdit(dialog)->text(), "PHOTO.PNG");
    PressAccept(dialog);
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.FileName(), QDir(dir.path()).filePath("PHOTO.PNG"));

  // Either bitmap entry fits a ".bmp" name: the chosen one stays.
  dialog.SetFilterIndex(7);
  dialog.SetFileName(dir.filePath("scan.bmp"));
  WhenShown(dialog, [&] {
    EXPECT_EQ(dialog.FilterIndex(), 7);
    dialog.reject();
  });
  EXPECT_FALSE(dialog.Execute());
}

TEST_F(SaveImageDialogTest, ParametersAreRestoredOnCancelAndKeptOnAccept) {
  TImageIO io;
  io.Params.JpegQuality = 75;
  io.Params.TiffImageDescription = "before";
  io.Params.SetColorMap(2);
  TSaveImageDialog dialog;
  dialog.setDirectory(dir.path());
  dialog.SetAttachedImageIO(&io);
  EXPECT_EQ(dialog.AttachedImageIO(), &io);

  // What the advanced options would do while the dialog is open.
  const auto editParams = [&io] {
    io.Params.JpegQuality = 20;
    io.Params.TiffImageDescription = "after";
    io.Params.FreeColorMap();
  };
  WhenShown(dialog, [&] {
    editParams();
    dialog.reject();
  });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(io.Params.JpegQuality, 75);
  EXPECT_EQ(io.Params.TiffImageDescription, "before");
  EXPECT_EQ(io.Params.ColorMapCount, 2);

  WhenShown(dialog, [&] {
    editParams();
    TypeName(dialog, "kept");
    PressAccept(dialog);
  });
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(io.Params.JpegQuality, 20);
  EXPECT_EQ(io.Params.TiffImageDescription, "after");

  dialog.SetAttachedImageIO(nullptr);
  WhenShown(dialog, [&] { dialog.reject(); });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(io.Params.JpegQuality, 20);
}

}  // namespace
}  // namespace veilora
