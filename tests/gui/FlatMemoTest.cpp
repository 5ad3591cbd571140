#include "shell/FlatMemo.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QTextDocument>
#include <random>
#include <string>

#include "hidden/PaneText.h"

namespace veilora::test {
namespace {

QByteArray Normalised(const QByteArray& bytes) {
  const std::string normal = NormalisePaneBytes(std::string_view(bytes.constData(), bytes.size()));
  return QByteArray(normal.data(), static_cast<qsizetype>(normal.size()));
}

QByteArray Raw(std::initializer_list<int> values) {
  QByteArray bytes;
  for (int value : values) bytes.append(static_cast<char>(value));
  return bytes;
}

TEST(FlatMemoBytes, EveryByteValueSurvivesTheRealControl) {
  TFlatMemo memo;
  QByteArray all;
  for (int value = 1; value <= 255; ++value) {
    const QByteArray single(1, static_cast<char>(value));
    all += single;
    memo.SetBytes(single);
    EXPECT_EQ(memo.Bytes(), Normalised(single)) << value;
  }
  memo.SetBytes(all);
  EXPECT_EQ(memo.Bytes(), Normalised(all));
}

TEST(FlatMemoBytes, CharactersTheDocumentWouldChangeComeBackAsTheirBytes) {
  // No-break space, line and paragraph separators, the document's frame marks, a byte-order mark,
  // an object replacement character, an escape's own encoding, and a character beyond the BMP.
  const QByteArray samples[] = {
      Raw({0xC2, 0xA0}),       Raw({0xE2, 0x80, 0xA8}), Raw({0xE2, 0x80, 0xA9}),
      Raw({0xEF, 0xB7, 0x90}), Raw({0xEF, 0xB7, 0x91}), Raw({0xEF, 0xBB, 0xBF}),
      Raw({0xEF, 0xBF, 0xBC}), Raw({0xEF, 0x9E, 0x80}), Raw({0xF0, 0x9F, 0x98, 0x80})};
  TFlatMemo memo;
  for (const QByteArray& sample : samples) {
    const QByteArray bytes = "a" + sample + "b\r\n" + sample;
    memo.SetBytes(bytes);
    EXPECT_EQ(memo.Bytes(), bytes) << bytes.toHex().toStdString();
  }
}

TEST(FlatMemoBytes, RandomByteStringsSurviveTheRealControl) {
  std::mt19937 random(6);
  TFlatMemo memo;
  for (int round = 0; round < 100; ++round) {
    QByteArray bytes;
    const int length = static_cast<int>(random() % 300);
    for (int i = 0; i < length; ++i) bytes.append(static_cast<char>(1 + random() % 255));
    memo.SetBytes(bytes);
    ASSERT_EQ(memo.Bytes(), Normalised(bytes)) << "round " << round;
  }
}

TEST(FlatMemoBytes, LineBreaksAndTheZeroByteFollowThePaneRules) {
  TFlatMemo memo;
  memo.SetBytes(QByteArray("a\rb\nc\r\nd\0tail", 13));
  EXPECT_EQ(memo.Bytes(), QByteArray("a\r\nb\r\nc\r\nd"));
  EXPECT_EQ(memo.document()->blockCount(), 4);
  memo.SetBytes({});
  EXPECT_TRUE(memo.Bytes().isEmpty());
}

TEST(FlatMemoBytes, TypedTextIsStoredAsUtf8WithCrLf) {
  TFlatMemo memo;
  memo.show();
  QTest::keyClicks(&memo, QStringLiteral("h"));
  // Test's key tables know only ASCII, so the accented letter comes as an event with its text.
  QKeyEvent accented(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("\xC3\xA9"));
  QApplication::sendEvent(&memo, &accented);
  QTest::keyClick(&memo, Qt::Key_Return);
  QTest::keyClicks(&memo, QStringLiteral("x"));
  EXPECT_EQ(memo.Bytes(), QByteArray("h\xC3\xA9\r\nx"));
}

TEST(FlatMemoColours, DefaultsAndTheParentColour) {
  QWidget parent;
  QPalette palette = parent.palette();
  palette.setColor(QPalette::Window, QColor(10, 20, 30));
  parent.setPalette(palette);
  auto* memo = new TFlatMemo(&parent);
  EXPECT_EQ(memo->ColorFocused(), QColor(255, 255, 255));
  EXPECT_EQ(memo->ColorBorder(), QColor(160, 150, 131));
  EXPECT_TRUE(memo->ParentColor());
  EXPECT_FALSE(memo->UseAdvColors());
  EXPECT_EQ(memo->AdvColorFocused(), 10);
  EXPECT_EQ(memo->AdvColorBorder(), 50);
  EXPECT_EQ(memo->ColorFlat(), QColor(10, 20, 30));
  EXPECT_EQ(memo->palette().color(QPalette::Base), QColor(10, 20, 30));

  palette.setColor(QPalette::Window, QColor(40, 50, 60));
  parent.setPalette(palette);
  EXPECT_EQ(memo->ColorFlat(), QColor(40, 50, 60));

  memo->SetColorFlat(QColor(235, 234, 225));
  EXPECT_FALSE(memo->ParentColor());
  parent.setPalette(QPalette(QColor(1, 2, 3)));
  EXPECT_EQ(memo->ColorFlat(), QColor(235, 234, 225));
}

TEST(FlatMemoColours, AdvancedColoursDeriveFromTheFlatColour) {
  TFlatMemo memo;
  memo.SetColorFlat(QColor(200, 100, 50));
  memo.SetUseAdvColors(true);
  EXPECT_EQ(memo.EffectiveColorFocused(), QColor(205, 115, 70));
  EXPECT_EQ(memo.EffectiveColorBorder(), QColor(100, 50, 25));
  memo.SetUseAdvColors(false);
  EXPECT_EQ(memo.EffectiveColorBorder(), QColor(160, 150, 131));
}

class FlatMemoFocusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    first = new TFlatMemo(&window);
    second = new TFlatMemo(&window);
    first->SetColorFlat(QColor(235, 234, 225));
    second->SetColorFlat(QColor(235, 234, 225));
    other = new QLineEdit(&window);
    auto* layout = new QHBoxLayout(&window);
    layout->addWidget(other);
    layout->addWidget(first);
    layout->addWidget(second);
    window.resize(300, 120);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // Focus on a control that is not a memo blocks no hover.
    other->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(other->hasFocus());
  }

  static void Hover(TFlatMemo* memo, bool inside) {
    QEvent event(inside ? QEvent::Enter : QEvent::Leave);
    QApplication::sendEvent(memo, &event);
  }

  static QColor MarginPixel(TFlatMemo* memo, int inset) {
    const QImage image = memo->grab().toImage();
    return image.pixelColor(inset, image.height() / 2);
  }

  QWidget window;
  TFlatMemo* first = nullptr;
  TFlatMemo* second = nullptr;
  QLineEdit* other = nullptr;
};

TEST_F(FlatMemoFocusTest, HoverHighlightsUnlessAnotherMemoHasTheFocus) {
  EXPECT_FALSE(first->Highlighted());
  Hover(first, true);
  EXPECT_TRUE(first->Highlighted());
  EXPECT_EQ(first->palette().color(QPalette::Base), QColor(255, 255, 255));

  second->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(second->hasFocus());
  EXPECT_FALSE(first->Highlighted());
  EXPECT_EQ(first->palette().color(QPalette::Base), QColor(235, 234, 225));
  EXPECT_TRUE(second->Highlighted());

  Hover(first, false);
  first->setFocus();
  QApplication::processEvents();
  EXPECT_TRUE(first->Highlighted());
  EXPECT_FALSE(second->Highlighted());
}

TEST_F(FlatMemoFocusTest, TheMarginIsPaintedInTheMemosColours) {
  EXPECT_EQ(MarginPixel(first, 0), QColor(160, 150, 131));
  EXPECT_EQ(MarginPixel(first, 1), QColor(235, 234, 225));
  EXPECT_EQ(MarginPixel(first, 2), QColor(235, 234, 225));
  first->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(MarginPixel(first, 0), QColor(160, 150, 131));
  EXPECT_EQ(MarginPixel(first, 1), QColor(255, 255, 255));
  EXPECT_EQ(MarginPixel(first, 2), QColor(255, 255, 255));
}

}  // namespace
}  // namespace veilora::test
