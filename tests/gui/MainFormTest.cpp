#include "shell/Main.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QSlider>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "gui/ScriptedPrompter.h"
#include "io/IOParams.h"
#include "shell/FlatMemo.h"
#include "shell/SystemClipboard.h"
#include "view/Cursors.h"
#include "view/ImageView.h"

namespace veilora::test {
namespace {

using Kind = ScriptedPrompter::Kind;

void Flush() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

QByteArray Pixels(const TMDIChild& child) {
  const TBitmap& bitmap = *child.ImageView1->Bitmap();
  return QByteArray(reinterpret_cast<const char*>(bitmap.Bits()),
                    static_cast<qsizetype>(bitmap.ImageBytes()));
}

QByteArray FileStart(const QString& fileName, int count) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(count);
}

// The commands that need a document, disabled while none is open.
const std::vector<const char*> kDocumentActions = {
    "FileCloseItem",      "FileSaveItem", "FileSaveAsItem",    "CutItem",        "CopyItem",
    "PasteItem",          "PastetoRect1", "WindowCascadeItem", "WindowTileItem", "WindowArrangeItem",
    "WindowMinimizeItem", "Undo1",        "Resize1",           "Resample1",      "Clear1",
    "Selectscanner1",     "Acquire1",     "Unselect1"};
const std::vector<const char*> kDocumentWidgets = {"SaveBtn",      "CutBtn",       "CopyBtn",
                                                   "PasteBtn",     "ComboBox1",    "TrackBar1",
                                                   "SpeedButton3", "SpeedButton6", "SpeedButton7"};
const std::vector<const char*> kAlwaysActions = {"FileNewItem",    "FileOpenItem",          "FileExitItem",
                                                 "Crop1",          "Converttotruecolours1", "CalcColours1",
                                                 "Zoomproperties1"};

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TMainForm>();
    form->show();
    Flush();
  }

  void TearDown() override {
    if (form) {
      for (TMDIChild* child : form->MDIChildren()) child->Modified = false;
      form.reset();
    }
    Flush();
  }

  TMDIChild* New() {
    form->FileNewItemClick();
    Flush();
    return form->ActiveMDIChild();
  }

  QString TempPath(const QString& name) const { return dir.filePath(name); }

  bool ActionEnabled(const char* name) const {
    auto* action = form->findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(action, nullptr) << name;
    return action != nullptr && action->isEnabled();
  }
  bool WidgetEnabled(const char* name) const {
    auto* widget = form->findChild<QWidget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget != nullptr && widget->isEnabled();
  }

  // Saves a new document as a PNG file through Save As and closes it; returns the file's name.
  QString MakePng(const QString& name, const char* hiddenText = nullptr) {
    TMDIChild* child = New();
    if (hiddenText != nullptr) child->ImageProc1.WriteHiddenText(hiddenText);
    const QString fileName = TempPath(name);
    prompter.fileNames.push_back(fileName);
    form->FileSaveAsItemClick();
    form->FileCloseItemClick();
    Flush();
    return fileName;
  }

  ScriptedPrompter prompter;
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> form;
};

// --- Start-up and layout ---

TEST_F(MainFormTest, StartsWithTheScreenResolutionTheCodersAndTheCaption) {
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Veilora - https://veilora.org"));
  EXPECT_FALSE(form->windowIcon().isNull());
  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(DefaultResolution().dpiX, std::lround(screen->logicalDotsPerInchX()));
  EXPECT_EQ(DefaultResolution().dpiY, std::lround(screen->logicalDotsPerInchY()));
  const TLzwHooks& hooks = GlobalLzwHooks();
  EXPECT_NE(hooks.gifDecompress, nullptr);
  EXPECT_NE(hooks.gifCompress, nullptr);
  EXPECT_NE(hooks.tiffDecompress, nullptr);
  EXPECT_NE(hooks.tiffCompress, nullptr);
}

TEST_F(MainFormTest, LaysOutTheSpeedPanelAndTheProgressStrip) {
  EXPECT_EQ(form->SpeedPanel->height(), 30);
  for (QToolButton* button : {form->SpeedButton1, form->OpenBtn, form->SaveBtn, form->CutBtn, form->CopyBtn,
                              form->PasteBtn, form->SpeedButton6, form->SpeedButton7, form->SpeedButton3}) {
    EXPECT_EQ(button->size(), QSize(25, 25)) << button->objectName().toStdString();
    EXPECT_TRUE(button->autoRaise());
    EXPECT_FALSE(button->icon().isNull()) << button->objectName().toStdString();
    // The glyph must come out at both scales, which an SVG without its icon engine does not.
    EXPECT_FALSE(button->icon().pixmap(QSize(16, 16), 1.0).isNull());
    EXPECT_FALSE(button->icon().pixmap(QSize(16, 16), 2.0).isNull());
  }
  // Left to right as the bar shows them.
  std::vector<QWidget*> order = {form->SpeedButton1, form->OpenBtn,      form->SaveBtn,
                                 form->CutBtn,       form->CopyBtn,      form->PasteBtn,
                                 form->ComboBox1,    form->TrackBar1,    form->SpeedButton6,
                                 form->SpeedButton7, form->SpeedButton3, form->WarningLabel};
  for (std::size_t i = 1; i < order.size(); ++i) EXPECT_LT(order[i - 1]->x(), order[i]->x()) << i;
  EXPECT_EQ(form->WarningLabel->text(), QStringLiteral("Avoid saving files as JPG you will lose your data"));

  QStringList items;
  for (int i = 0; i < form->ComboBox1->count(); ++i) items << form->ComboBox1->itemText(i);
  EXPECT_EQ(items, QStringList({"Fit", "25", "33", "50", "100", "200", "300", "400", "600", "1600"}));
  EXPECT_TRUE(form->ComboBox1->isEditable());
  EXPECT_EQ(form->TrackBar1->minimum(), 1);
  EXPECT_EQ(form->TrackBar1->maximum(), 2000);
  EXPECT_EQ(form->TrackBar1->value(), 1);
  EXPECT_EQ(form->TrackBar1->tickInterval(), 100);

  EXPECT_EQ(form->Panel1->height(), 16);
  EXPECT_EQ(form->ProgressBar1->minimum(), 0);
  EXPECT_EQ(form->ProgressBar1->maximum(), 100);
  EXPECT_EQ(form->MakerLabel->width(), 172);
  EXPECT_TRUE(form->MakerLabel->alignment() & Qt::AlignRight);
  EXPECT_TRUE(form->MakerLabel->font().bold());
  EXPECT_TRUE(form->MakerLabel->font().italic());
  EXPECT_EQ(form->MakerLabel->font().family(), QStringLiteral("Times New Roman"));
  EXPECT_GT(form->Panel1->y(), form->ClientArea->y());
  EXPECT_GT(form->ClientArea->y(), form->SpeedPanel->y());
}

TEST_F(MainFormTest, MenusHoldTheirItemsShortcutsHintsAndSeparatorsInOrder) {
  struct Entry {
    const char* name;  // "-" for a separator
    const char* caption;
    const char* shortcut;
    const char* hint;
  };
  const std::vector<std::pair<QMenu*, std::vector<Entry>>> menus = {
      {form->File1,
       {{"FileNewItem", "&New", "Ctrl+N", "Create a new file"},
        {"-", "", "", ""},
        {"Selectscanner1", "&Select scanner", "", ""},
        {"Acquire1", "&Acquire", "", ""},
        {"-", "", "", ""},
        {"FileOpenItem", "&Open", "Ctrl+O", "Open an existing file"},
        {"FileCloseItem", "&Close", "", "Close current file"},
        {"FileSaveItem", "&Save", "Ctrl+S", "Save current file"},
        {"FileSaveAsItem", "Save &As...", "", "Save current file as..."},
        {"-", "", "", ""},
        {"FileExitItem", "E&xit", "Alt+F4", "Exit the application"}}},
      {form->Edit1,
       {{"Undo1", "&Undo", "", ""},
        {"-", "", "", ""},
        {"CutItem", "Cu&t", "Ctrl+X", "Cut to clipboard"},
        {"CopyItem", "&Copy", "Ctrl+C", "Copy to clipboard"},
        {"PasteItem", "&Paste", "Ctrl+V", "Paste from clipboard"},
        {"PastetoRect1", "P&aste to Rect", "", ""},
        {"-", "", "", ""},
        {"Crop1", "Crop", "", ""},
        {"Unselect1", "&Unselect", "", "Remove the selection"}}},
      {form->Image1,
       {{"Converttotruecolours1", "Convert to True Colours", "", ""},
        {"CalcColours1", "Calc Colours", "", ""},
        {"-", "", "", ""},
        {"Resize1", "&Resize", "", ""},
        {"Resample1", "Re&sample", "", ""},
        {"Clear1", "&Clear", "", ""}}},
      {form->Tools1, {{"Zoomproperties1", "Zoom properties...", "", ""}}},
      {form->Window1,
       {{"WindowCascadeItem", "&Cascade", "", "Arrange windows to overlap"},
        {"WindowTileItem", "&Tile", "", "Arrange windows without overlap"},
        {"WindowArrangeItem", "&Arrange Icons", "", "Arrange window icons at bottom of main window"},
        {"WindowMinimizeItem", "&Minimize All", "", "Minimize all windows"}}}};

  QStringList titles;
  for (QAction* action : form->menuBar()->actions()) titles << action->text();
  EXPECT_EQ(titles, QStringList({"&File", "&Edit", "&Image", "&Tools", "&Window"}));
  EXPECT_EQ(form->File1->menuAction()->statusTip(), QStringLiteral("File related commands"));
  EXPECT_EQ(form->Window1->menuAction()->statusTip(),
            QStringLiteral("Window related commands such as Tile and Cascade"));

  for (const auto& [menu, entries] : menus) {
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(entries.size())) << menu->objectName().toStdString();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Entry& entry = entries[i];
      QAction* action = actions[static_cast<qsizetype>(i)];
      SCOPED_TRACE(std::string(menu->objectName().toStdString()) + " row " + std::to_string(i));
      if (std::string(entry.name) == "-") {
        EXPECT_TRUE(action->isSeparator());
        continue;
      }
      EXPECT_EQ(action->objectName(), QString::fromLatin1(entry.name));
      EXPECT_EQ(action->text(), QString::fromLatin1(entry.caption));
      EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(entry.shortcut)));
      EXPECT_EQ(action->statusTip(), QString::fromLatin1(entry.hint));
    }
  }
}

// --- Enabling ---

TEST_F(MainFormTest, WithoutADocumentTheDocumentCommandsAreDisabled) {
  for (const char* name : kDocumentActions) EXPECT_FALSE(ActionEnabled(name)) << name;
  for (const char* name : kDocumentWidgets) EXPECT_FALSE(WidgetEnabled(name)) << name;
  for (const char* name : kAlwaysActions) EXPECT_TRUE(ActionEnabled(name)) << name;
  EXPECT_TRUE(WidgetEnabled("SpeedButton1"));
  EXPECT_TRUE(WidgetEnabled("OpenBtn"));

  New();
  for (const char* name : kDocumentActions) {
    if (std::string(name) != "Undo1") {
      EXPECT_TRUE(ActionEnabled(name)) << name;
    }
  }
  for (const char* name : kDocumentWidgets) {
    if (std::string(name) != "SpeedButton3") {
      EXPECT_TRUE(WidgetEnabled(name)) << name;
    }
  }

  // Closing the last document disables them again.
  form->FileCloseItemClick();
  Flush();
  EXPECT_EQ(form->MDIChildCount(), 0);
  for (const char* name : kDocumentActions) EXPECT_FALSE(ActionEnabled(name)) << name;
  for (const char* name : kDocumentWidgets) EXPECT_FALSE(WidgetEnabled(name)) << name;
}

// --- New ---

TEST_F(MainFormTest, NewMakesAWhite300SquareWithItsCapacityAndNoUndo) {
  TMDIChild* child = New();
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->Caption(), QStringLiteral("New1.jpg"));
  const TBitmap& bitmap = *child->ImageView1->Bitmap();
  EXPECT_EQ(bitmap.Width(), 300);
  EXPECT_EQ(bitmap.Height(), 300);
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  for (int row = 0; row < bitmap.Height(); ++row) {
    const std::uint8_t* line = bitmap.ScanLine(row);
    for (int i = 0; i < bitmap.Width() * 3; ++i) ASSERT_EQ(line[i], 0xFF) << "row " << row << " byte " << i;
  }
  EXPECT_EQ(child->StatusText(), QStringLiteral("Hidden text space in bytes: 33742"));
  EXPECT_FALSE(form->Undo1->isEnabled());
  EXPECT_FALSE(form->SpeedButton3->isEnabled());
  EXPECT_FALSE(child->ImageProc1.CanUndo());
  EXPECT_FALSE(child->Modified);
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(MainFormTest, NewCountsTheOpenDocuments) {
  New();
  New();
  TMDIChild* third = New();
  EXPECT_EQ(third->Caption(), QStringLiteral("New3.jpg"));
  EXPECT_EQ(form->MDIChildCount(), 3);

  // The Window menu lists them below its own items.
  emit form->Window1->aboutToShow();
  QStringList listed;
  const QList<QAction*> actions = form->Window1->actions();
  for (qsizetype i = 4; i < actions.size(); ++i) {
    if (!actions[i]->isSeparator()) listed << actions[i]->text();
  }
  EXPECT_EQ(listed, QStringList({"&1 New1.jpg", "&2 New2.jpg", "&3 New3.jpg"}));
  EXPECT_TRUE(actions.back()->isChecked());

  form->WindowMinimizeItemClick();
  for (QMdiSubWindow* sub : form->ClientArea->subWindowList()) EXPECT_TRUE(sub->isMinimized());
  form->WindowArrangeItemClick();
  const int bottom = form->ClientArea->viewport()->height();
  for (QMdiSubWindow* sub : form->ClientArea->subWindowList())
    EXPECT_EQ(sub->geometry().bottom() + 1, bottom);
}

// --- Zoom controls ---

TEST_F(MainFormTest, TypedZoomFallsBackTo100AndClampsTo2000) {
  TMDIChild* child = New();
  form->TrackBar1->setValue(50);
  EXPECT_EQ(child->ImageView1->Zoom(), 50);
  EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("50"));

  form->ComboBox1->lineEdit()->clear();
  QTest::keyClicks(form->ComboBox1->lineEdit(), QStringLiteral("abc"));
  EXPECT_EQ(child->ImageView1->Zoom(), 100);
  EXPECT_EQ(form->TrackBar1->value(), 100);

  form->ComboBox1->lineEdit()->clear();
  QTest::keyClicks(form->ComboBox1->lineEdit(), QStringLiteral("5000"));
  EXPECT_EQ(form->TrackBar1->value(), 2000);
  EXPECT_EQ(child->ImageView1->Zoom(), 2000);
  // The typed text stays until Enter, which shows the zoom the view took.
  EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("5000"));
  QTest::keyClick(form->ComboBox1->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("2000"));
}

TEST_F(MainFormTest, TypingIntoTheZoomBoxKeepsTheTextAndTheCursor) {
  TMDIChild* child = New();
  QLineEdit* edit = form->ComboBox1->lineEdit();
  edit->clear();
  QTest::keyClick(edit, Qt::Key_3);
  EXPECT_EQ(child->ImageView1->Zoom(), 3);
  QTest::keyClick(edit, Qt::Key_3);
  EXPECT_EQ(edit->text(), QStringLiteral("33"));
  EXPECT_EQ(edit->cursorPosition(), 2);
  EXPECT_EQ(child->ImageView1->Zoom(), 33);
  EXPECT_EQ(form->TrackBar1->value(), 33);
  // A digit typed in front of the others goes where the cursor is.
  edit->setCursorPosition(0);
  QTest::keyClick(edit, Qt::Key_1);
  EXPECT_EQ(edit->text(), QStringLiteral("133"));
  EXPECT_EQ(child->ImageView1->Zoom(), 133);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("133"));
}

TEST_F(MainFormTest, FitFitsTheImageAndMovesTheTrackBar) {
  TMDIChild* child = New();
  QMdiSubWindow* sub = form->ClientArea->currentSubWindow();
  ASSERT_NE(sub, nullptr);
  sub->resize(260, 330);
  Flush();
  form->ComboBox1->setCurrentIndex(0);
  emit form->ComboBox1->textActivated(QStringLiteral("Fit"));
  const int fitted = child->ImageView1->Zoom();
  EXPECT_LT(fitted, 100);
  EXPECT_EQ(form->TrackBar1->value(), fitted);
  // The same zoom as the view's own fit.
  child->ImageView1->SetZoom(100);
  child->ImageView1->ZoomToFit();
  EXPECT_EQ(child->ImageView1->Zoom(), fitted);
}

TEST_F(MainFormTest, ActivatingADocumentShowsItsZoom) {
  TMDIChild* first = New();
  form->TrackBar1->setValue(300);
  TMDIChild* second = New();
  EXPECT_EQ(second->ImageView1->Zoom(), 100);
  EXPECT_EQ(form->TrackBar1->value(), 100);
  form->ClientArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(first->parentWidget()));
  EXPECT_EQ(form->TrackBar1->value(), 300);
  EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("300"));
  EXPECT_EQ(second->ImageView1->Zoom(), 100);

  // A zoom set on the active view by other ways shows in the controls; one of another view does not.
  first->ImageView1->SetZoom(250);
  EXPECT_EQ(form->TrackBar1->value(), 250);
  EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("250"));
  second->ImageView1->SetZoom(40);
  EXPECT_EQ(form->TrackBar1->value(), 250);
  EXPECT_EQ(first->ImageView1->Zoom(), 250);
}

// --- Save, Save As, Open ---

TEST_F(MainFormTest, SaveWritesTheFormatOfTheCaptionAndClearsModified) {
  TMDIChild* child = New();
  const QString fileName = TempPath(QStringLiteral("New1.jpg"));
  child->SetCaption(fileName);
  child->NeverSaved = false;  // as after an Open or a save
  form->Clear1Click();
  EXPECT_TRUE(child->Modified);
  form->FileSaveItemClick();
  EXPECT_TRUE(prompter.Texts(Kind::Error).isEmpty()) << prompter.Texts(Kind::Error).join(' ').toStdString();
  EXPECT_EQ(FileStart(fileName, 3), QByteArray("\xFF\xD8\xFF"));
  EXPECT_FALSE(child->Modified);
  EXPECT_EQ(form->ProgressBar1->value(), 0);
}

TEST_F(MainFormTest, SaveAsAsksWithTheCaptionAndSavesUnderTheNewName) {
  TMDIChild* child = New();
  const QString fileName = TempPath(QStringLiteral("picture.png"));
  prompter.fileNames.push_back(fileName);
  form->FileSaveAsItemClick();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].kind, Kind::SaveImage);
  // A document never saved is offered its name as a PNG, which keeps a hidden text.
  EXPECT_EQ(prompter.asked[0].text, QStringLiteral("New1.png"));
  EXPECT_EQ(prompter.asked[0].attached, &child->ImageIO1);
  EXPECT_EQ(child->Caption(), fileName);
  EXPECT_EQ(FileStart(fileName, 8), QByteArray("\x89PNG\r\n\x1A\n"));

  // A cancelled dialog changes nothing; a saved document is offered its own name.
  prompter.fileNames.push_back(std::nullopt);
  form->FileSaveAsItemClick();
  EXPECT_EQ(prompter.asked.back().text, fileName);
  EXPECT_EQ(child->Caption(), fileName);

  // A failed save keeps the caption: it names the file the document really is in.
  prompter.fileNames.push_back(TempPath(QStringLiteral("missing/picture.png")));
  form->FileSaveAsItemClick();
  EXPECT_EQ(prompter.Texts(Kind::Error).size(), 1);
  EXPECT_EQ(child->Caption(), fileName);
}

TEST_F(MainFormTest, SaveOfANeverSavedDocumentAsksForAName) {
  TMDIChild* child = New();
  const QString working = QDir::currentPath() + QStringLiteral("/New1.jpg");
  ASSERT_FALSE(QFileInfo::exists(working));
  const QString fileName = TempPath(QStringLiteral("first.png"));
  prompter.fileNames.push_back(fileName);
  form->FileSaveItemClick();
  EXPECT_EQ(prompter.Texts(Kind::SaveImage), QStringList{QStringLiteral("New1.png")});
  EXPECT_FALSE(QFileInfo::exists(working));
  EXPECT_EQ(child->Caption(), fileName);
  EXPECT_EQ(FileStart(fileName, 4), QByteArray("\x89PNG"));

  // From then on Save writes to that file without asking.
  prompter.asked.clear();
  form->Clear1Click();
  form->FileSaveItemClick();
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_FALSE(child->Modified);

  // Cancelling the name leaves the document as it was.
  TMDIChild* second = New();
  form->Clear1Click();
  prompter.fileNames.push_back(std::nullopt);
  form->FileSaveItemClick();
  EXPECT_TRUE(second->Modified);
  EXPECT_TRUE(second->NeverSaved);
}

TEST_F(MainFormTest, ASaveThatWouldDestroyTheHiddenTextAsksFirst) {
  TMDIChild* child = New();
  child->ImageProc1.WriteHiddenText("the plan");
  const QString jpeg = TempPath(QStringLiteral("shot.jpg"));
  prompter.fileNames = {jpeg, jpeg};
  prompter.answers = {TAnswer::No, TAnswer::Yes};
  form->FileSaveAsItemClick();
  const QStringList questions = prompter.Texts(Kind::YesNo);
  ASSERT_EQ(questions.size(), 1);
  EXPECT_EQ(questions[0],
            QStringLiteral("Saving as JPEG will destroy the hidden text in this image. Save anyway?"));
  EXPECT_FALSE(QFileInfo::exists(jpeg));
  EXPECT_TRUE(child->Modified);
  EXPECT_NE(child->Caption(), jpeg);

  form->FileSaveAsItemClick();
  EXPECT_EQ(FileStart(jpeg, 3), QByteArray("\xFF\xD8\xFF"));
  EXPECT_EQ(child->Caption(), jpeg);

  // A format that keeps the text asks nothing.
  prompter.asked.clear();
  prompter.fileNames = {TempPath(QStringLiteral("shot.bmp"))};
  form->FileSaveAsItemClick();
  EXPECT_TRUE(prompter.Texts(Kind::YesNo).isEmpty());
}

TEST_F(MainFormTest, AFailedSaveShowsTheErrorAndKeepsTheDocumentModified) {
  TMDIChild* child = New();
  QDir(dir.path()).mkdir(QStringLiteral("taken.png"));
  std::vector<QString> targets = {
      TempPath(QStringLiteral("taken.png")),         // a folder holds the name
      TempPath(QStringLiteral("missing/New1.png")),  // no such folder
      TempPath(QStringLiteral("New1.unknown")),      // no format writes this extension
  };
  if (geteuid() != 0) {
    // A read-only folder stops everyone but the superuser.
    QDir(dir.path()).mkdir(QStringLiteral("locked"));
    QFile::setPermissions(TempPath(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner);
    targets.push_back(TempPath(QStringLiteral("locked/New1.png")));
  }
  child->NeverSaved = false;
  for (const QString& target : targets) {
    SCOPED_TRACE(target.toStdString());
    prompter.asked.clear();
    child->SetCaption(target);
    form->Clear1Click();
    form->FileSaveItemClick();
    const QStringList errors = prompter.Texts(Kind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_FALSE(errors[0].isEmpty());
    EXPECT_TRUE(child->Modified);
    EXPECT_FALSE(QFileInfo(target).isFile());
  }
  QFile::setPermissions(TempPath(QStringLiteral("locked")),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(MainFormTest, OpenLoadsTheFileIntoAWindowOfTheStatedSize) {
  const QString fileName = MakePng(QStringLiteral("hidden.png"), "secret");
  ASSERT_EQ(form->MDIChildCount(), 0);
  prompter.asked.clear();
  prompter.fileNames.push_back(fileName);
  form->FileOpenItemClick();
  Flush();
  TMDIChild* child = form->ActiveMDIChild();
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(prompter.Texts(Kind::Error).isEmpty());
  EXPECT_EQ(child->Caption(), fileName);
  EXPECT_FALSE(child->Modified);
  EXPECT_EQ(child->size(), QSize(454, 412));
  std::string text;
  child->ImageProc1.ReadHiddenText(text);
  EXPECT_EQ(text, "secret");
  EXPECT_EQ(form->ProgressBar1->value(), 0);
}

TEST_F(MainFormTest, AFileThatCannotBeLoadedLeavesNoDocumentAndSaysWhy) {
  const QString damaged = TempPath(QStringLiteral("damaged.png"));
  {
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1A\nthis is no PNG stream at all");
  }
  const QString unknown = TempPath(QStringLiteral("notes.txt"));
  {
    QFile file(unknown);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("plain words");
  }
  for (const QString& fileName : {damaged, unknown}) {
    SCOPED_TRACE(fileName.toStdString());
    prompter.asked.clear();
    prompter.fileNames.push_back(fileName);
    form->FileOpenItemClick();
    Flush();
    EXPECT_EQ(form->MDIChildCount(), 0);
    const QStringList errors = prompter.Texts(Kind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Cannot open ") + fileName + QStringLiteral(": ")))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("damaged or not in a format Veilora reads")));
    EXPECT_FALSE(form->FileSaveItem->isEnabled());
  }
  // The file is left as it was.
  EXPECT_EQ(FileStart(damaged, 100), QByteArray("\x89PNG\r\n\x1A\nthis is no PNG stream at all"));
}

TEST_F(MainFormTest, ADamagedFileOpensWithAWarningAndSaveCannotOverwriteIt) {
  // A 24-bit BMP cut off after a third of its rows (the bottom ones, which BMP stores first).
  const QString whole = TempPath(QStringLiteral("whole.bmp"));
  {
    TMDIChild* child = New();
    child->SetCaption(whole);
    child->NeverSaved = false;
    form->FileSaveItemClick();
    form->FileCloseItemClick();
    Flush();
  }
  QFile source(whole);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray bytes = source.readAll();
  const QString damaged = TempPath(QStringLiteral("damaged.bmp"));
  const QByteArray cut = bytes.left(bytes.size() / 3);
  {
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(cut);
  }

  prompter.asked.clear();
  prompter.fileNames.push_back(damaged);
  form->FileOpenItemClick();
  Flush();
  TMDIChild* child = form->ActiveMDIChild();
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(prompter.Texts(Kind::Error).isEmpty());
  const QStringList warnings = prompter.Texts(Kind::Warning);
  ASSERT_EQ(warnings.size(), 1);
  EXPECT_TRUE(warnings[0].startsWith(damaged + QStringLiteral(" is damaged: "))) << warnings[0].toStdString();
  EXPECT_EQ(child->ImageView1->Bitmap()->Width(), 300);
  EXPECT_FALSE(child->Modified);

  // Save asks for a name instead of writing over the damaged original.
  prompter.fileNames.push_back(std::nullopt);
  form->FileSaveItemClick();
  EXPECT_EQ(prompter.Texts(Kind::SaveImage), QStringList{TempPath(QStringLiteral("damaged.png"))});
  EXPECT_EQ(FileStart(damaged, static_cast<int>(cut.size()) + 1), cut);
}

TEST_F(MainFormTest, OpeningANameThatIsNoFileMakesANewImageUnderThatName) {
  const QString fileName = TempPath(QStringLiteral("fresh.bmp"));
  prompter.fileNames.push_back(fileName);
  form->FileOpenItemClick();
  Flush();
  TMDIChild* child = form->ActiveMDIChild();
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->Caption(), fileName);
  EXPECT_EQ(child->ImageView1->Bitmap()->Width(), 300);
  EXPECT_TRUE(prompter.Texts(Kind::Error).isEmpty());
}

TEST_F(MainFormTest, DroppedImageFilesOpenAsDocuments) {
  const QString fileName = MakePng(QStringLiteral("dropped.png"));
  auto mime = std::make_unique<QMimeData>();
  mime->setUrls({QUrl::fromLocalFile(fileName)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form.get(), &drop);
  Flush();
  ASSERT_EQ(form->MDIChildCount(), 1);
  EXPECT_EQ(form->ActiveMDIChild()->Caption(), fileName);

  // Text without file names is not taken.
  QMimeData text;
  text.setText(QStringLiteral("hello"));
  QDragEnterEvent textEnter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  textEnter.setAccepted(false);
  QCoreApplication::sendEvent(form.get(), &textEnter);
  EXPECT_FALSE(textEnter.isAccepted());
}

// --- Closing ---

TEST_F(MainFormTest, ExitAsksEveryModifiedDocumentAndOneCancelKeepsAllOpen) {
  TMDIChild* first = New();
  form->Clear1Click();
  TMDIChild* second = New();
  form->Clear1Click();
  ASSERT_TRUE(first->Modified && second->Modified);

  prompter.answers = {TAnswer::No, TAnswer::Cancel};
  form->FileExitItemClick();
  Flush();
  EXPECT_EQ(prompter.Texts(Kind::Question),
            QStringList({"Save Changes to New2.jpg?", "Save Changes to New1.jpg?"}));
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->MDIChildCount(), 2);

  prompter.asked.clear();
  prompter.answers = {TAnswer::No, TAnswer::No};
  form->FileExitItemClick();
  Flush();
  EXPECT_EQ(prompter.Texts(Kind::Question).size(), 2);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->MDIChildCount(), 0);
}

TEST_F(MainFormTest, ClosingAModifiedDocumentAndAnsweringYesSavesIt) {
  TMDIChild* child = New();
  const QString fileName = TempPath(QStringLiteral("kept.bmp"));
  child->SetCaption(fileName);
  child->NeverSaved = false;
  form->Clear1Click();
  prompter.answers = {TAnswer::Yes};
  form->FileCloseItemClick();
  Flush();
  EXPECT_EQ(form->MDIChildCount(), 0);
  EXPECT_EQ(FileStart(fileName, 2), QByteArray("BM"));
}

// --- Edit and Image commands ---

TEST_F(MainFormTest, CopyOffersTheBlockAsItsOwnTypeAsABmpFileAndAsAnImage) {
  TMDIChild* child = New();
  child->ImageProc1.WriteHiddenText("copied along");
  form->CopyItemClick();
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  const QByteArray block = data->data(QString::fromLatin1(TSystemClipboard::kPrivateType));
  // 300 pixels are 900 bytes a row: 44 + 900 x 300 bytes.
  EXPECT_EQ(block.size(), 44 + 900 * 300);
  const QByteArray bmp = data->data(QString::fromLatin1(TSystemClipboard::kBmpType));
  ASSERT_EQ(bmp.size(), 14 + block.size());
  EXPECT_TRUE(bmp.startsWith("BM"));
  EXPECT_EQ(static_cast<uchar>(bmp[10]), 54);  // the pixels follow the two headers
  EXPECT_EQ(bmp.mid(14), block);
  const QImage image = qvariant_cast<QImage>(data->imageData());
  EXPECT_EQ(image.size(), QSize(300, 300));

  // Pasted into another document, every bit comes back, the hidden text with it.
  TMDIChild* other = New();
  other->ImageProc1.SetImageSize(10, 10);
  form->PasteItemClick();
  EXPECT_EQ(other->ImageView1->Bitmap()->Width(), 300);
  std::string text;
  other->ImageProc1.ReadHiddenText(text);
  EXPECT_EQ(text, "copied along");
  EXPECT_TRUE(form->Undo1->isEnabled());
}

TEST_F(MainFormTest, PasteTakesAnImageOfAnotherProgramAndRefusesABrokenBitmap) {
  TMDIChild* child = New();
  QImage picture(4, 3, QImage::Format_RGB32);
  picture.fill(QColor(10, 20, 30));
  picture.setPixelColor(3, 2, QColor(200, 100, 50));
  QGuiApplication::clipboard()->setImage(picture);
  form->PasteItemClick();
  const veilora::TBitmap& bitmap = *child->ImageView1->Bitmap();
  ASSERT_EQ(bitmap.Width(), 4);
  ASSERT_EQ(bitmap.Height(), 3);
  EXPECT_EQ(bitmap.ScanLine(0)[0], 30);  // blue, green, red
  EXPECT_EQ(bitmap.ScanLine(2)[9], 50);
  EXPECT_EQ(bitmap.ScanLine(2)[11], 200);

  // A BMP whose rows are cut off pastes nothing.
  auto* broken = new QMimeData;
  QByteArray file = BmpFileFromPackedDib(veilora::TByteBlock(44 + 12 * 5));
  file[14 + 4] = 3;   // 3 pixels wide
  file[14 + 8] = 50;  // but 50 rows
  file[14 + 12] = 1;
  file[14 + 14] = 24;
  broken->setData(QString::fromLatin1(TSystemClipboard::kBmpType), file);
  QGuiApplication::clipboard()->setMimeData(broken);
  form->PasteItemClick();
  EXPECT_EQ(child->ImageView1->Bitmap()->Width(), 4);
}

TEST_F(MainFormTest, CropMakesADocumentNamedByTheCountWithTheImage) {
  New();
  TMDIChild* second = New();
  second->ImageProc1.SetImageSize(40, 30);
  form->Crop1Click();
  Flush();
  TMDIChild* crop = form->ActiveMDIChild();
  ASSERT_NE(crop, second);
  EXPECT_EQ(crop->Caption(), QStringLiteral("3.jpg"));
  EXPECT_EQ(crop->ImageView1->Bitmap()->Width(), 40);
  EXPECT_EQ(crop->ImageView1->Bitmap()->Height(), 30);
  EXPECT_TRUE(crop->NeverSaved);
}

TEST_F(MainFormTest, UndoRestoresOnceAndThenIsDisabled) {
  TMDIChild* child = New();
  const QByteArray before = Pixels(*child);
  child->ImageProc1.WriteHiddenText("undo me");
  EXPECT_TRUE(form->Undo1->isEnabled());
  EXPECT_TRUE(form->SpeedButton3->isEnabled());
  const QByteArray written = Pixels(*child);
  ASSERT_NE(written, before);

  form->Undo1Click();
  EXPECT_EQ(Pixels(*child), before);
  EXPECT_FALSE(form->Undo1->isEnabled());
  EXPECT_FALSE(form->SpeedButton3->isEnabled());

  form->Undo1Click();
  EXPECT_EQ(Pixels(*child), before);
  EXPECT_FALSE(form->Undo1->isEnabled());
}

TEST_F(MainFormTest, ClearWhitensAndCalcColoursCountsTheColours) {
  TMDIChild* child = New();
  child->ImageView1->Bitmap()->FillRect(0, 0, 10, 10, clBlack);
  form->CalcColours1Click();
  form->Clear1Click();
  form->CalcColours1Click();
  EXPECT_EQ(prompter.Texts(Kind::Message),
            QStringList({"The active images has 2 colors.", "The active images has 1 colors."}));
  EXPECT_TRUE(child->Modified);
}

TEST_F(MainFormTest, ConvertToTrueColoursLeavesTheProgressAtZero) {
  TMDIChild* child = New();
  child->ImageView1->Bitmap()->SetPixelFormat(pf1bit);
  form->Converttotruecolours1Click();
  EXPECT_EQ(child->ImageView1->Bitmap()->PixelFormat(), pf24bit);
  EXPECT_EQ(form->ProgressBar1->value(), 0);
}

TEST_F(MainFormTest, ACommandThatFailsReportsTheErrorAndChangesNothing) {
  TMDIChild* child = New();
  // One bit per pixel fits; three bytes per pixel would pass the pixel-memory limit.
  child->ImageView1->Bitmap()->Allocate(20000, 18000, pf1bit);
  form->Converttotruecolours1Click();
  const QStringList errors = prompter.Texts(Kind::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("too large")));
  EXPECT_EQ(child->ImageView1->Bitmap()->PixelFormat(), pf1bit);
  EXPECT_EQ(form->ProgressBar1->value(), 0);
}

TEST_F(MainFormTest, DocumentCommandsWithoutADocumentDoNothing) {
  form->CalcColours1Click();
  form->Converttotruecolours1Click();
  form->Undo1Click();
  form->Clear1Click();
  form->FileSaveItemClick();
  form->FileCloseItemClick();
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_EQ(form->MDIChildCount(), 0);
}

// --- Hints and the mouse-mode buttons ---

TEST_F(MainFormTest, HintsShowTheirLongPartOnTheStatusLine) {
  form->FileNewItem->hover();
  EXPECT_EQ(form->StatusText(), QStringLiteral("Create a new file"));
  emit form->menuBar()->hovered(form->Window1->menuAction());
  EXPECT_EQ(form->StatusText(), QStringLiteral("Window related commands such as Tile and Cascade"));

  // Speed buttons carry "Short|": the tool tip is the short part and the status line goes empty.
  EXPECT_EQ(form->SpeedButton1->toolTip(), QStringLiteral("New"));
  EXPECT_EQ(form->ComboBox1->toolTip(), QStringLiteral("Zoom"));
  QEvent enter(QEvent::Enter);
  QCoreApplication::sendEvent(form->SpeedButton1, &enter);
  EXPECT_EQ(form->StatusText(), QString());

  QStatusTipEvent tip(QStringLiteral("Open an existing file"));
  QCoreApplication::sendEvent(form.get(), &tip);
  EXPECT_EQ(form->StatusText(), QStringLiteral("Open an existing file"));
  form->ShowHint(QStringLiteral("Short|Long part"));
  EXPECT_EQ(form->StatusText(), QStringLiteral("Long part"));
}

TEST_F(MainFormTest, ASelectionLimitsCropAndCalcColoursAndUnselectEndsIt) {
  TMDIChild* child = New();
  TImageView& view = *child->ImageView1;
  view.Bitmap()->FillRect(0, 0, 300, 20, clBlack);  // rows 0..19 black, the rest white
  view.SetZoom(100);
  view.SetViewOrigin(0, 0);
  view.SetSelectionBase(selbBitmap);
  view.SelectRectangle(10, 10, 50, 30, false);
  form->CalcColours1Click();
  form->Crop1Click();
  Flush();
  TMDIChild* crop = form->ActiveMDIChild();
  ASSERT_NE(crop, child);
  EXPECT_EQ(crop->ImageView1->Bitmap()->Width(), 40);
  EXPECT_EQ(crop->ImageView1->Bitmap()->Height(), 20);

  form->ClientArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(child->parentWidget()));
  Flush();
  form->Unselect1Click();
  EXPECT_FALSE(view.HasSelection());
  form->CalcColours1Click();
  EXPECT_EQ(prompter.Texts(Kind::Message),
            QStringList({"The active images has 2 colors.", "The active images has 2 colors."}));
}

TEST_F(MainFormTest, HandAndZoomSetTheViewsModeAndCursorAndBothUpSelectsAgain) {
  TMDIChild* child = New();
  TImageView& view = *child->ImageView1;
  EXPECT_EQ(view.MouseInteract(), miSelect);
  EXPECT_EQ(view.Cursor(), crSelect);
  form->SpeedButton6->click();
  EXPECT_EQ(view.MouseInteract(), miScroll);
  EXPECT_EQ(view.Cursor(), crHand);
  form->SpeedButton7->click();
  EXPECT_EQ(view.MouseInteract(), miZoom | miScroll);
  EXPECT_EQ(view.Cursor(), crZoomIn);

  // A document opened while Zoom is down takes its mode from the update of items.
  TMDIChild* second = New();
  EXPECT_EQ(second->ImageView1->MouseInteract(), miZoom | miScroll);

  form->SpeedButton7->click();
  EXPECT_EQ(second->ImageView1->MouseInteract(), miSelect);
  EXPECT_EQ(second->ImageView1->Cursor(), crSelect);
}

TEST_F(MainFormTest, WithBothButtonsUpActivatingADocumentHidesItsOutline) {
  TMDIChild* first = New();
  first->ImageView1->SetSelectionBase(selbBitmap);
  first->ImageView1->SelectRectangle(10, 10, 50, 30, false);
  EXPECT_TRUE(first->ImageView1->OutlineVisible());
  New();
  form->ClientArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(first->parentWidget()));
  Flush();
  EXPECT_FALSE(first->ImageView1->OutlineVisible());
  EXPECT_TRUE(first->ImageView1->HasSelection());
  EXPECT_EQ(first->ImageView1->MouseInteract(), miSelect);
}

TEST_F(MainFormTest, HandAndZoomAreAtMostOneDown) {
  New();
  form->SpeedButton6->click();
  EXPECT_TRUE(form->SpeedButton6->isChecked());
  form->SpeedButton7->click();
  EXPECT_TRUE(form->SpeedButton7->isChecked());
  EXPECT_FALSE(form->SpeedButton6->isChecked());
  form->SpeedButton7->click();
  EXPECT_FALSE(form->SpeedButton6->isChecked());
  EXPECT_FALSE(form->SpeedButton7->isChecked());
}

}  // namespace
}  // namespace veilora::test
