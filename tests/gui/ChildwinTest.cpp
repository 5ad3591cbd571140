#include "shell/Childwin.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "gui/ScriptedPrompter.h"
#include "hidden/Crypt32.h"
#include "hidden/Envelope.h"
#include "io/ImageIO.h"
#include "shell/FlatMemo.h"
#include "view/ImageView.h"

namespace veilora::test {
namespace {

using Kind = ScriptedPrompter::Kind;

class FakeHost : public TDocumentHost {
 public:
  void SetUndoEnabled(bool enabled) override { undo.push_back(enabled); }
  void SetProgress(int percentage) override { progress.push_back(percentage); }
  bool SaveDocument(TMDIChild& child) override {
    ++saves;
    savedCaption = child.Caption();
    if (saveResult) child.Modified = false;
    return saveResult;
  }

  std::vector<bool> undo;
  std::vector<int> progress;
  int saves = 0;
  bool saveResult = true;
  QString savedCaption;
};

QByteArray Bytes(const char* text) {
  return QByteArray(text);
}

QByteArray Pixels(const TMDIChild& child) {
  const TBitmap& bitmap = *child.ImageView1->Bitmap();
  return QByteArray(reinterpret_cast<const char*>(bitmap.Bits()),
                    static_cast<qsizetype>(bitmap.ImageBytes()));
}

void FlushDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A document as the main window makes one: a white 300 x 300 image, undo empty, not modified, shown.
class ChildwinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    child = new TMDIChild(&host);
    child->SetCaption(QStringLiteral("picture.bmp"));
    child->ImageProc1.SetImageSize(300, 300);
    child->ImageProc1.ClearUndo();
    child->Modified = false;
    host.undo.clear();
    child->show();
  }

  void TearDown() override {
    if (child) {
      child->Modified = false;
      delete child.data();
    }
    FlushDeletes();
  }

  void Click(QToolButton* button) {
    ASSERT_TRUE(button->isEnabled());
    button->click();
  }

  FakeHost host;
  ScriptedPrompter prompter;
  QPointer<TMDIChild> child;
};

TEST_F(ChildwinTest, ShowsTheCapacityAndStartsReadyToEncrypt) {
  EXPECT_EQ(child->StatusText(), QStringLiteral("Hidden text space in bytes: 33742"));
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  EXPECT_TRUE(child->ToolButton7->isEnabled());
  EXPECT_FALSE(child->ToolButton8->isEnabled());
  EXPECT_EQ(child->windowTitle(), QStringLiteral("picture.bmp[*]"));
  EXPECT_FALSE(child->isWindowModified());
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ChildwinTest, ANewImageIsSavedWithTheViewsResolutionAndBackground) {
  QTemporaryDir dir;
  const std::string name = (dir.path() + QStringLiteral("/new.png")).toStdString();
  child->ImageIO1.SaveToFile(name);
  ASSERT_FALSE(child->ImageIO1.Aborting);

  veilora::TImageView view;
  veilora::TImageIO reader;
  reader.SetAttachedView(&view);
  reader.LoadFromFile(name);
  ASSERT_FALSE(reader.Aborting);
  EXPECT_GT(reader.Params.DpiX, 0);
  EXPECT_EQ(reader.Params.DpiX, child->ImageView1->DpiX());
  EXPECT_EQ(reader.Params.PngBackground, (veilora::TRGB{255, 255, 255}));
}

TEST_F(ChildwinTest, LaysOutTheToolBarPaneAndMenu) {
  const std::vector<std::pair<QToolButton*, const char*>> buttons = {
      {child->ToolButton2, "Read"},    {child->ToolButton3, "Write"},   {child->ToolButton4, "Clear"},
      {child->ToolButton7, "Encrypt"}, {child->ToolButton8, "Decrypt"}, {child->ToolButton9, "Protect"}};
  for (const auto& [button, caption] : buttons) {
    EXPECT_EQ(button->text(), QString::fromLatin1(caption));
    EXPECT_EQ(button->size(), QSize(52, 39)) << caption;
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(button->font().pixelSize(), 13);
  }
  for (const char* icon : {"read", "write", "clear", "encrypt", "decrypt", "protect"}) {
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/icons/child-%1.svg").arg(QLatin1String(icon)))) << icon;
  }
  EXPECT_EQ(child->Splitter1->handleWidth(), 3);
  EXPECT_EQ(child->Hiddenmemo->height(), 109);
  EXPECT_EQ(child->Hiddenmemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(child->ImageView1->BackgroundStyle(), bgsChessboard);
  EXPECT_EQ(child->ImageView1->Background(), clWhite);
  EXPECT_EQ(child->ImageView1->ScrollBars(), ssBoth);
  EXPECT_TRUE(child->ImageView1->Center());
  EXPECT_TRUE(child->ImageView1->DoubleBuffer());
  ASSERT_EQ(child->PopupMenu1->actions().size(), 2);
  EXPECT_EQ(child->LoadFile1->text(), QStringLiteral("Load File"));
  EXPECT_EQ(child->Saveas1->text(), QStringLiteral("Save as"));
}

TEST_F(ChildwinTest, WriteWithAnEmptyPaneChangesNothing) {
  const QByteArray before = Pixels(*child);
  Click(child->ToolButton3);
  EXPECT_EQ(Pixels(*child), before);
  EXPECT_FALSE(child->Modified);
  EXPECT_TRUE(host.undo.empty());
  EXPECT_FALSE(child->ImageProc1.CanUndo());
}

TEST_F(ChildwinTest, WriteThenReadShowsTheTextReadyToDecrypt) {
  const QByteArray text = Bytes("Meet at noon\r\nbring the map \xC3\xA9");
  child->SetPaneBytes(text);
  Click(child->ToolButton3);
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  EXPECT_TRUE(child->Modified);
  EXPECT_TRUE(child->isWindowModified());
  ASSERT_FALSE(host.undo.empty());
  EXPECT_TRUE(host.undo.back());
  EXPECT_EQ(child->StatusText(), QStringLiteral("Hidden text space in bytes: 33742"));

  Click(child->ToolButton2);
  EXPECT_EQ(child->PaneBytes(), text);
  EXPECT_TRUE(child->ToolButton8->isEnabled());
  EXPECT_FALSE(child->ToolButton7->isEnabled());
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ChildwinTest, ClearThenReadShowsAnEmptyPaneWithoutMessage) {
  child->SetPaneBytes(Bytes("something hidden"));
  Click(child->ToolButton3);
  child->SetPaneBytes(Bytes("left in the pane"));
  Click(child->ToolButton4);
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  Click(child->ToolButton2);
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_TRUE(child->ToolButton8->isEnabled());
}

TEST_F(ChildwinTest, ReadingAnImageWithoutHiddenTextSaysSo) {
  // Every carrier bit of a white image is 1, so the stored length reads as -1.
  child->SetPaneBytes(Bytes("typed"));
  Click(child->ToolButton2);
  EXPECT_EQ(prompter.Texts(Kind::Message), QStringList{QStringLiteral("No Data in this Image")});
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  EXPECT_TRUE(child->ToolButton8->isEnabled());
  EXPECT_FALSE(child->ToolButton7->isEnabled());
  EXPECT_EQ(child->StatusText(), QStringLiteral("Hidden text space in bytes: 33742"));
  EXPECT_FALSE(child->Modified);
}

TEST_F(ChildwinTest, AnImageThatIsNotTrueColourReadsAsEmpty) {
  child->ImageView1->Bitmap()->Allocate(40, 40, pf1bit);
  Click(child->ToolButton2);
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ChildwinTest, ATextThatDoesNotFitIsRefusedAndKept) {
  const std::int32_t fit = child->ImageProc1.HiddenTextFit();
  ASSERT_EQ(fit, 33667);
  const QByteArray tooLong(fit + 1, 'x');
  const QByteArray before = Pixels(*child);
  child->SetPaneBytes(tooLong);
  Click(child->ToolButton3);
  EXPECT_EQ(prompter.Texts(Kind::Error),
            QStringList{QStringLiteral("The text is too long for this image: 33667 bytes fit.")});
  EXPECT_EQ(Pixels(*child), before);
  EXPECT_FALSE(child->Modified);
  EXPECT_EQ(child->PaneBytes(), tooLong);

  // The largest text that fits is written whole and reads back whole.
  const QByteArray fits(fit, 'y');
  child->SetPaneBytes(fits);
  Click(child->ToolButton3);
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  EXPECT_TRUE(child->Modified);
  Click(child->ToolButton2);
  EXPECT_EQ(child->PaneBytes(), fits);
  EXPECT_EQ(prompter.asked.size(), 1u);
}

TEST_F(ChildwinTest, EncryptAndDecryptToggleAndRestoreEveryByte) {
  const QByteArray text = Bytes("caf\xE9 \xFF\xFE ok \xC3\xA9\r\nnext line");
  child->SetPaneBytes(text);
  Click(child->ToolButton7);
  EXPECT_FALSE(child->ToolButton7->isEnabled());
  EXPECT_TRUE(child->ToolButton8->isEnabled());
  EXPECT_NE(child->PaneBytes(), text);
  Click(child->ToolButton8);
  EXPECT_TRUE(child->ToolButton7->isEnabled());
  EXPECT_FALSE(child->ToolButton8->isEnabled());
  EXPECT_EQ(child->PaneBytes(), text);
  EXPECT_FALSE(child->Modified);
}

// A cipher text may hold zero and line-break bytes, which the pane's rules would cut or double;
// the message must still survive Encrypt, Write, Read and Decrypt.
TEST_F(ChildwinTest, CipherTextWithZeroAndLineBreakBytesSurvivesWriteAndRead) {
  std::string plain;
  for (int n = 0;; ++n) {
    plain = "message number " + std::to_string(n);
    const std::string cipher = EncryptText(plain, kTextStartKey, kTextMultiplierKey, kTextAdditiveKey);
    if (cipher.find('\0') != std::string::npos && cipher.find_first_of("\r\n") != std::string::npos) break;
    ASSERT_LT(n, 100000);
  }
  child->SetPaneBytes(QByteArray::fromStdString(plain));
  Click(child->ToolButton7);
  Click(child->ToolButton3);
  Click(child->ToolButton2);
  Click(child->ToolButton8);
  EXPECT_EQ(child->PaneBytes().toStdString(), plain);

  // Once the user edits the pane, what it shows is the message.
  Click(child->ToolButton7);
  child->Hiddenmemo->setPlainText(QStringLiteral("typed over"));
  Click(child->ToolButton3);
  Click(child->ToolButton2);
  EXPECT_EQ(child->PaneBytes(), Bytes("typed over"));
}

TEST_F(ChildwinTest, EveryImageChangeMarksTheDocumentAndUpdatesUndo) {
  child->ImageProc1.ClearImage();
  EXPECT_TRUE(child->Modified);
  EXPECT_TRUE(child->isWindowModified());
  ASSERT_EQ(host.undo.size(), 1u);
  EXPECT_TRUE(host.undo.back());
  child->Modified = false;
  EXPECT_FALSE(child->isWindowModified());

  child->ImageProc1.ClearUndo();
  child->ImageProc1.AutoUndo = false;
  Click(child->ToolButton4);
  EXPECT_TRUE(child->Modified);
  EXPECT_FALSE(host.undo.back());

  child->ImageProc1.OnProgress(child->ImageProc1, 40);
  child->ImageIO1.OnProgress(child->ImageIO1, 70);
  EXPECT_EQ(host.progress, (std::vector<int>{40, 70}));
}

TEST_F(ChildwinTest, TheCaptionIsTheTitleWithItsModifiedMark) {
  child->SetCaption(QStringLiteral("/tmp/odd [*] name.png"));
  EXPECT_EQ(child->Caption(), QStringLiteral("/tmp/odd [*] name.png"));
  child->Modified = true;
  EXPECT_TRUE(child->isWindowModified());
  EXPECT_TRUE(child->windowTitle().endsWith(QStringLiteral("[*]")));
}

TEST_F(ChildwinTest, CloseAsksOnlyWhenModified) {
  EXPECT_TRUE(child->close());
  FlushDeletes();
  EXPECT_TRUE(child.isNull());
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ChildwinTest, CancelKeepsTheWindowOpenAndModified) {
  child->SetPaneBytes(Bytes("secret"));
  Click(child->ToolButton3);
  prompter.answers = {TAnswer::Cancel};
  EXPECT_FALSE(child->close());
  FlushDeletes();
  ASSERT_FALSE(child.isNull());
  EXPECT_TRUE(child->Modified);
  EXPECT_EQ(prompter.Texts(Kind::Question), QStringList{QStringLiteral("Save Changes to picture.bmp?")});
  EXPECT_EQ(host.saves, 0);
}

TEST_F(ChildwinTest, NoClosesWithoutSaving) {
  child->Modified = true;
  prompter.answers = {TAnswer::No};
  EXPECT_TRUE(child->close());
  FlushDeletes();
  EXPECT_TRUE(child.isNull());
  EXPECT_EQ(host.saves, 0);
}

TEST_F(ChildwinTest, YesSavesThroughTheHostAndAFailedSaveKeepsTheWindow) {
  child->Modified = true;
  host.saveResult = false;
  prompter.answers = {TAnswer::Yes};
  EXPECT_FALSE(child->close());
  FlushDeletes();
  ASSERT_FALSE(child.isNull());
  EXPECT_EQ(host.saves, 1);
  EXPECT_TRUE(child->Modified);

  host.saveResult = true;
  prompter.answers = {TAnswer::Yes};
  EXPECT_TRUE(child->close());
  FlushDeletes();
  EXPECT_TRUE(child.isNull());
  EXPECT_EQ(host.saves, 2);
  EXPECT_EQ(host.savedCaption, QStringLiteral("picture.bmp"));
}

TEST_F(ChildwinTest, TheStatusLineShowsWhatTheMessageNeedsAndWhatFits) {
  EXPECT_EQ(child->StatusText(), QStringLiteral("Hidden text space in bytes: 33742"));
  EXPECT_EQ(child->FitText(), QStringLiteral("Message: 0 of 33667 bytes that fit"));
  child->SetPaneBytes(Bytes("h\xC3\xA9llo"));
  EXPECT_EQ(child->FitText(), QStringLiteral("Message: 6 of 33667 bytes that fit"));
  // Typing counts too, line breaks as the two bytes they are stored as.
  QTest::keyClicks(child->Hiddenmemo, QStringLiteral("ab"));
  QTest::keyClick(child->Hiddenmemo, Qt::Key_Return);
  EXPECT_EQ(child->FitText(), QStringLiteral("Message: 10 of 33667 bytes that fit"));
  // Cipher text is counted as the bytes Write stores, also when the pane cannot show them: this one
  // starts with a zero byte, where the pane's text ends.
  child->SetPaneBytes(
      Bytes("\x02"
            "abc"));
  Click(child->ToolButton7);
  ASSERT_EQ(EncryptText("\x02", kTextStartKey, kTextMultiplierKey, kTextAdditiveKey), std::string(1, '\0'));
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  EXPECT_EQ(child->FitText(), QStringLiteral("Message: 4 of 33667 bytes that fit"));

  // A new size changes what fits at once; the capacity part keeps its value until Read or Write.
  child->ImageProc1.SetImageSize(100, 50);
  EXPECT_EQ(child->FitText(), QStringLiteral("Message: 4 of 1854 bytes that fit"));
  EXPECT_EQ(child->StatusText(), QStringLiteral("Hidden text space in bytes: 33742"));
  Click(child->ToolButton2);
  EXPECT_EQ(child->StatusText(), QStringLiteral("Hidden text space in bytes: 1867"));
}

TEST_F(ChildwinTest, ProtectWritesASealedTextThatReadOpensWithThePassphrase) {
  const QByteArray text = Bytes("the key is under the mat \xC3\xA9");
  child->SetPaneBytes(text);
  prompter.passwords = {QStringLiteral("s\u00e9same"), QStringLiteral("s\u00e9same")};
  Click(child->ToolButton9);
  EXPECT_EQ(prompter.Texts(Kind::Password).size(), 2);
  EXPECT_TRUE(prompter.Texts(Kind::Error).isEmpty());
  EXPECT_TRUE(child->PaneBytes().isEmpty());
  EXPECT_TRUE(child->Modified);
  EXPECT_TRUE(child->ImageProc1.CanUndo());

  // What the image holds is the envelope, not the text.
  std::string stored;
  child->ImageProc1.ReadHiddenText(stored);
  EXPECT_TRUE(IsEnvelope(stored));
  EXPECT_EQ(stored.size(), static_cast<std::size_t>(text.size()) + kEnvelopeOverhead);
  EXPECT_EQ(stored.find("the key"), std::string::npos);

  // The same word in decomposed form is the same passphrase.
  prompter.passwords = {QStringLiteral("se\u0301same")};
  Click(child->ToolButton2);
  EXPECT_EQ(child->PaneBytes(), text);
  EXPECT_TRUE(prompter.Texts(Kind::Error).isEmpty());
  EXPECT_TRUE(child->ToolButton8->isEnabled());
}

TEST_F(ChildwinTest, ProtectWritesNothingUnlessBothPassphrasesAgree) {
  const struct {
    std::deque<std::optional<QString>> passwords;
    const char* error;  // nullptr: cancelled without a word
  } rows[] = {
      {{std::nullopt}, nullptr},
      {{QStringLiteral("one"), std::nullopt}, nullptr},
      {{QStringLiteral("one"), QStringLiteral("two")}, "The two passphrases differ; nothing was written."},
      {{QString()}, "The passphrase is empty; nothing was written."},
  };
  const QByteArray before = Pixels(*child);
  for (const auto& row : rows) {
    prompter.asked.clear();
    child->SetPaneBytes(Bytes("kept"));
    prompter.passwords = row.passwords;
    Click(child->ToolButton9);
    EXPECT_TRUE(prompter.passwords.empty());
    EXPECT_EQ(prompter.Texts(Kind::Error),
              row.error ? QStringList{QString::fromLatin1(row.error)} : QStringList{});
    EXPECT_EQ(child->PaneBytes(), Bytes("kept"));
  }
  EXPECT_EQ(Pixels(*child), before);
  EXPECT_FALSE(child->Modified);

  // An empty pane asks nothing, and a text that fits plainly but not with the envelope's 74 bytes
  // is refused before any question.
  prompter.asked.clear();
  child->SetPaneBytes({});
  Click(child->ToolButton9);
  child->SetPaneBytes(QByteArray(33667 - 73, 'x'));
  Click(child->ToolButton9);
  EXPECT_EQ(
      prompter.Texts(Kind::Error),
      QStringList{QStringLiteral("The text is too long for this image: 33593 bytes fit with a passphrase.")});
  EXPECT_TRUE(prompter.Texts(Kind::Password).isEmpty());
  EXPECT_EQ(Pixels(*child), before);
}

TEST_F(ChildwinTest, ReadingASealedTextNeverShowsItWithoutThePassphrase) {
  // A cheap envelope, as the core seals it: reading takes its cost from the stored bytes.
  const std::string sealed = SealEnvelope("only for you", "right", kMinimumPassphraseCost);
  std::string newer = sealed;
  newer[8] = 2;
  const struct {
    std::string stored;
    std::deque<std::optional<QString>> passphrases;  // none: a damaged envelope asks nothing
    const char* error;                               // nullptr: no error box
    QByteArray pane;
  } rows[] = {
      {sealed, {QStringLiteral("wrong")}, "Wrong passphrase, or the protected text was changed.", {}},
      {sealed, {std::nullopt}, nullptr, {}},
      {sealed.substr(0, 60), {}, "The protected text in this image is damaged.", {}},
      {newer, {}, "The protected text was made by a newer version of Veilora.", {}},
      {sealed, {QStringLiteral("right")}, nullptr, Bytes("only for you")},
  };
  for (const auto& row : rows) {
    prompter.asked.clear();
    child->ImageProc1.WriteHiddenText(row.stored);
    child->SetPaneBytes(Bytes("typed before"));
    prompter.passwords = row.passphrases;
    Click(child->ToolButton2);
    EXPECT_EQ(prompter.Texts(Kind::Password).size(), static_cast<qsizetype>(row.passphrases.size()));
    EXPECT_EQ(prompter.Texts(Kind::Error),
              row.error ? QStringList{QString::fromLatin1(row.error)} : QStringList{});
    EXPECT_EQ(child->PaneBytes(), row.pane) << (row.error ? row.error : "");
    EXPECT_TRUE(prompter.Texts(Kind::Message).isEmpty());
  }
}

class ChildwinTextFileTest : public ChildwinTest {
 protected:
  QString Path(const char* name) const { return directory.filePath(QString::fromLatin1(name)); }

  static void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
  }

  static QByteArray ReadFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
  }

  QTemporaryDir directory;
};

TEST_F(ChildwinTextFileTest, LoadFileAndSaveAsKeepTheBytesExactly) {
  const QByteArray bytes = Bytes("line one\r\nline two \xC3\xA9 \xFF\xF7 end");
  WriteFile(Path("in.txt"), bytes);
  prompter.fileNames = {Path("in.txt"), Path("out.txt")};
  child->LoadFile1->trigger();
  EXPECT_EQ(child->PaneBytes(), bytes);
  child->Saveas1->trigger();
  EXPECT_EQ(ReadFile(Path("out.txt")), bytes);
  EXPECT_TRUE(prompter.Texts(Kind::Error).isEmpty());
  EXPECT_FALSE(child->Modified);
}

TEST_F(ChildwinTextFileTest, LoadingAppliesThePaneRules) {
  WriteFile(Path("rules.txt"), QByteArray("a\rb\nc\0tail", 10));
  prompter.fileNames = {Path("rules.txt")};
  child->LoadFile1->trigger();
  EXPECT_EQ(child->PaneBytes(), Bytes("a\r\nb\r\nc"));
}

TEST_F(ChildwinTextFileTest, CancelledDialogsAndFailuresLeaveThePaneAsItWas) {
  child->SetPaneBytes(Bytes("keep me"));
  WriteFile(Path("old.txt"), Bytes("old content"));
  prompter.fileNames = {std::nullopt, std::nullopt, Path("missing.txt"), Path("no/such/folder/out.txt")};
  child->LoadFile1->trigger();
  child->Saveas1->trigger();
  EXPECT_TRUE(prompter.Texts(Kind::Error).isEmpty());
  child->LoadFile1->trigger();
  child->Saveas1->trigger();
  const QStringList errors = prompter.Texts(Kind::Error);
  ASSERT_EQ(errors.size(), 2);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("missing.txt")));
  EXPECT_TRUE(errors[1].contains(QStringLiteral("out.txt")));
  EXPECT_EQ(child->PaneBytes(), Bytes("keep me"));
  EXPECT_FALSE(QFile::exists(Path("no/such/folder/out.txt")));
  EXPECT_EQ(ReadFile(Path("old.txt")), Bytes("old content"));
}

}  // namespace
}  // namespace veilora::test
