// The open dialog's preview of files holding several images: GIF animations and multi-page TIFF
// files (made by Pillow) and AVI videos (made by the ffmpeg program) go to the multi-image view,
// which plays and stops; single pictures stay in the single-image view.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include "dialogs/MultiImageView.h"
#include "dialogs/OpenImageDialog.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "support/MediaTools.h"
#include "support/Pillow.h"
#include "view/ImageView.h"

namespace veilora {
namespace {

class MultiFramePreviewTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallLzwCoders(); }
  QString Name(const std::string& file) { return QFile::decodeName(QByteArray::fromStdString(file)); }
  bool ShowsFrames() {
    auto* stack = qobject_cast<QStackedWidget*>(dialog.MultiImageView()->parentWidget());
    return stack != nullptr && stack->currentWidget() == dialog.MultiImageView();
  }
  test::TTempDir dir;
  TOpenImageDialog dialog;
};

TEST_F(MultiFramePreviewTest, GifAnimationPlaysAndStops) {
  const std::string file = dir.File("anim.gif");
  ASSERT_TRUE(test::MakeFrames(file, "GIF", 30, 20, 4, 20));
  dialog.ShowFileInfo(Name(file));
  EXPECT_TRUE(ShowsFrames());
  EXPECT_EQ(dialog.FrameCount(), 4);
  EXPECT_EQ(dialog.MultiImageView()->FrameCount(), 4);
  EXPECT_TRUE(dialog.PlayButton()->isEnabled());
  EXPECT_FALSE(dialog.ZoomCombo()->isEnabled());
  EXPECT_EQ(dialog.InfoTexts()[0], "30 x 20 pixel , 4 frames");
  EXPECT_EQ(dialog.MultiImageView()->FrameLabel()->text(), "Frame 1 of 4");

  dialog.PlayButton()->click();
  EXPECT_TRUE(dialog.MultiImageView()->IsPlaying());
  EXPECT_EQ(dialog.PlayButton()->toolTip(), "Stop");
  QTRY_VERIFY_WITH_TIMEOUT(dialog.MultiImageView()->CurrentFrame() == 3, 5000);
  // After the last frame it starts again.
  QTRY_VERIFY_WITH_TIMEOUT(dialog.MultiImageView()->CurrentFrame() == 0, 5000);
  dialog.PlayButton()->click();
  EXPECT_FALSE(dialog.MultiImageView()->IsPlaying());
  EXPECT_EQ(dialog.PlayButton()->toolTip(), "Play");
  const int stoppedAt = dialog.MultiImageView()->CurrentFrame();
  QTest::qWait(100);
  EXPECT_EQ(dialog.MultiImageView()->CurrentFrame(), stoppedAt);
  // The frame shown is the frame's own picture: grey level 40 * frame.
  dialog.MultiImageView()->ShowFrame(2);
  TBitmap shown;
  ConvertTo24Bit(*dialog.MultiImageView()->View()->Bitmap(), shown);
  EXPECT_EQ(shown.ScanLine(10)[0], 80);
  // The larger preview window shows that frame too.
  dialog.ShowPreviewForm();
  auto* large = dialog.PreviewForm()->findChild<TImageView*>(QStringLiteral("PreviewFormView"));
  ASSERT_NE(large, nullptr);
  TBitmap enlarged;
  ConvertTo24Bit(*large->Bitmap(), enlarged);
  ASSERT_EQ(enlarged.Width(), 30);
  EXPECT_EQ(enlarged.ScanLine(10)[0], 80);
  dialog.PreviewForm()->close();
}

TEST_F(MultiFramePreviewTest, TiffPagesAndSinglePictures) {
  const std::string pages = dir.File("pages.tif");
  ASSERT_TRUE(test::MakeFrames(pages, "TIFF", 40, 30, 3));
  dialog.ShowFileInfo(Name(pages));
  EXPECT_TRUE(ShowsFrames());
  EXPECT_EQ(dialog.FrameCount(), 3);
  // A one-page TIFF and a one-frame GIF are single pictures.
  for (const char* format : {"TIFF", "GIF"}) {
    const std::string single = dir.File(std::string("single.") + (format[0] == 'T' ? "tif" : "gif"));
    ASSERT_TRUE(test::MakeFrames(single, format, 40, 30, 1));
    dialog.ShowFileInfo(Name(single));
    EXPECT_FALSE(ShowsFrames()) << format;
    EXPECT_EQ(dialog.FrameCount(), 1) << format;
    EXPECT_FALSE(dialog.PlayButton()->isEnabled()) << format;
    EXPECT_TRUE(dialog.ZoomCombo()->isEnabled()) << format;
    EXPECT_EQ(dialog.PreviewView()->Bitmap()->Width(), 40) << format;
  }
}

TEST_F(MultiFramePreviewTest, AviVideoShowsItsFrames) {
  const std::string file = dir.File("clip.avi");
  ASSERT_TRUE(test::MakeAvi(file, 64, 48, 6, 25));
  dialog.ShowFileInfo(Name(file));
  EXPECT_TRUE(ShowsFrames());
  EXPECT_EQ(dialog.FrameCount(), 6);
  EXPECT_EQ(dialog.MultiImageView()->FrameDelay(0), 40);
  const QStringList texts = dialog.InfoTexts();
  EXPECT_EQ(texts[0], "64 x 48 pixel , 6 frames");
  EXPECT_EQ(texts[2], "16777216 colors (24 bit)");
  EXPECT_EQ(texts[4], "Video for Windows (AVI)");
  dialog.PlayButton()->click();
  QTRY_VERIFY_WITH_TIMEOUT(dialog.MultiImageView()->CurrentFrame() >= 2, 5000);
  // The next file stops the playback and clears the frames.
  dialog.ShowFileInfo(QString());
  EXPECT_FALSE(dialog.MultiImageView()->IsPlaying());
  EXPECT_EQ(dialog.MultiImageView()->FrameCount(), 0);
  EXPECT_FALSE(dialog.PlayButton()->isEnabled());
  // Without the preview, the labels still describe the video.
  dialog.PreviewCheck()->setChecked(false);
  dialog.ShowFileInfo(Name(file));
  EXPECT_EQ(dialog.InfoTexts()[0], "64 x 48 pixel , 6 frames");
  EXPECT_FALSE(ShowsFrames());
}

TEST_F(MultiFramePreviewTest, BrokenVideoShowsNothing) {
  const std::string file = dir.File("broken.avi");
  test::WriteWholeFile(file, {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '});
  dialog.ShowFileInfo(Name(file));
  EXPECT_FALSE(ShowsFrames());
  EXPECT_EQ(dialog.FrameCount(), 0);
  EXPECT_FALSE(dialog.PlayButton()->isEnabled());
}

}  // namespace
}  // namespace veilora
