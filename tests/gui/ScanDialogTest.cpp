// The SANE source's own dialog, driven through the data-source manager as an application would,
// on the SANE test backend.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "scan/SaneTestBackend.h"
#include "scan/Twain.h"
#include "scan/TwainDsm.h"
#include "scan/ui/QtTwainHost.h"
#include "scan/ui/SaneSourceDialog.h"

namespace veilora {
namespace {

using namespace twain;

constexpr int kScanWait = 20000;

class ScanDialog : public test::SaneTestBackend {
 protected:
  void Open() {
    host = std::make_unique<TQtTwainHost>();
    ASSERT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window), TWRC_SUCCESS);
    SetStr32(source.ProductName, "test:0");
    ASSERT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    TW_USERINTERFACE ui{1, 0, nullptr};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* found = dynamic_cast<TSaneSourceDialog*>(widget); found != nullptr && found->isVisible())
        dialog = found;
    }
    ASSERT_NE(dialog, nullptr);
  }
  void TearDown() override {
    if (host != nullptr) {
      TW_PENDINGXFERS pending{};
      Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
      TW_USERINTERFACE ui{1, 0, nullptr};
      Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
      DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
      DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window);
      host.reset();
    }
  }
  TW_UINT16 Call(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message, void* data) {
    return DSM_Entry(&app, &source, group, dat, message, data);
  }
  // The application's message loop until the source has an event for it.
  TW_UINT16 NextEvent() {
    TW_UINT16 message = MSG_NULL;
    static_cast<void>(QTest::qWaitFor(
        [this, &message] {
          TW_EVENT event{nullptr, MSG_NULL};
          if (Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT)
            message = event.TWMessage;
          return message != MSG_NULL;
        },
        kScanWait));
    return message;
  }
  bool WaitForStatus(const QString& part) {
    return QTest::qWaitFor([this, &part] { return dialog->StatusLabel->text().contains(part); }, kScanWait);
  }

  std::unique_ptr<TQtTwainHost> host;
  TW_IDENTITY app{};
  TW_IDENTITY source{};
  void* window = nullptr;
  TSaneSourceDialog* dialog = nullptr;
};

TEST_F(ScanDialog, OffersTheDevicesModesResolutionRangeAndArea) {
  Open();
  QStringList modes;
  for (int i = 0; i < dialog->ModeBox->count(); ++i) modes << dialog->ModeBox->itemText(i);
  EXPECT_EQ(modes, (QStringList{"Black and white", "Grey", "Colour"}));
  EXPECT_EQ(dialog->ModeBox->currentText(), "Colour");
  ASSERT_NE(dialog->ResolutionBox, nullptr);
  EXPECT_EQ(dialog->ResolutionBox->minimum(), 1);
  EXPECT_EQ(dialog->ResolutionBox->maximum(), 1200);
  EXPECT_EQ(dialog->ResolutionBox->value(), 50);
  EXPECT_DOUBLE_EQ(dialog->AreaWidth->value(), 80);
  EXPECT_DOUBLE_EQ(dialog->AreaHeight->value(), 100);
  EXPECT_DOUBLE_EQ(dialog->AreaWidth->maximum(), 200);
}

TEST_F(ScanDialog, PreviewsThenScansTheChosenAreaModeAndResolution) {
  Open();
  QTest::mouseClick(dialog->PreviewButton, Qt::LeftButton);
  ASSERT_TRUE(WaitForStatus("Drag on the preview"));
  dialog->ModeBox->setCurrentIndex(dialog->ModeBox->findText("Grey"));
  dialog->ResolutionBox->setValue(100);
  dialog->AreaLeft->setValue(10);
  dialog->AreaTop->setValue(20);
  dialog->AreaWidth->setValue(40);
  dialog->AreaHeight->setValue(30);
  QTest::mouseClick(dialog->ScanButton, Qt::LeftButton);
  ASSERT_EQ(NextEvent(), MSG_XFERREADY);
  TW_IMAGEINFO info{};
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
  const test::Pnm reference = ScanImage("--mode Gray --resolution 100 -l 10 -t 20 -x 40 -y 30");
  // Copied out: a packed field cannot bind to the reference a check takes.
  const TW_INT32 width = info.ImageWidth;
  const TW_INT32 length = info.ImageLength;
  const TW_INT16 pixelType = info.PixelType;
  EXPECT_EQ(width, reference.width);
  EXPECT_EQ(length, reference.height);
  EXPECT_EQ(pixelType, TWPT_GRAY);
  EXPECT_DOUBLE_EQ(FromFix32(info.XResolution), 100);
  EXPECT_EQ(dialog->ScanProgress->value(), 100);
}

TEST_F(ScanDialog, CancelStopsAScanAndThenClosesTheSource) {
  Configure({{"read-limit", "true"},
             {"read-limit-size", "500"},
             {"read-delay", "true"},
             {"read-delay-duration", "20000"}});
  Open();
  QTest::mouseClick(dialog->ScanButton, Qt::LeftButton);
  // Line by line: the bar counts rows of the announced height.
  ASSERT_TRUE(QTest::qWaitFor([this] { return dialog->ScanProgress->value() > 0; }, kScanWait));
  EXPECT_EQ(dialog->ScanProgress->maximum(), 196);
  EXPECT_TRUE(dialog->StatusLabel->text().startsWith("Line "));
  QTest::mouseClick(dialog->CancelButton, Qt::LeftButton);
  ASSERT_TRUE(WaitForStatus("cancelled"));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->ScanButton->isEnabled());
  QTest::mouseClick(dialog->CancelButton, Qt::LeftButton);
  ASSERT_EQ(NextEvent(), MSG_CLOSEDSREQ);
  TW_STATUS status{};
  Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  const TW_UINT16 condition = status.ConditionCode;
  EXPECT_EQ(condition, TWCC_SUCCESS);
}

TEST_F(ScanDialog, ShowsAJammedFeederAndStaysOpen) {
  Configure({{"read-status-code", "\"SANE_STATUS_JAMMED\""}});
  Open();
  QTest::mouseClick(dialog->ScanButton, Qt::LeftButton);
  ASSERT_TRUE(WaitForStatus("jammed"));
  EXPECT_TRUE(dialog->isVisible());
  TW_EVENT event{nullptr, MSG_NULL};
  EXPECT_EQ(Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
}

}  // namespace
}  // namespace veilora
