#pragma once

// The SANE source's own dialog: the device, the mode, the resolution from the device's range,
// the area (typed in millimetres or dragged on the preview), a low-resolution preview, Scan and
// Cancel, and the progress line by line. The device is read on the source's scanning thread, so
// the dialog stays responsive; Cancel during a scan stops it, Cancel otherwise closes the source.

#include <QDialog>
#include <QImage>
#include <QPointer>

#include "scan/SaneSource.h"
#include "scan/TwainHost.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

// The preview picture with the scan area on it; dragging draws a new area.
class TScanPreview : public QWidget {
 public:
  explicit TScanPreview(QWidget* parent);
  void SetBed(const veilora::scan::TScanArea& bed) { bed_ = bed; }
  void SetPicture(const QImage& picture);
  void SetArea(const veilora::scan::TScanArea& area);
  std::function<void(const veilora::scan::TScanArea&)> OnAreaDragged;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QRectF BedRect() const;
  QPointF ToBed(QPointF point) const;

  veilora::scan::TScanArea bed_;
  veilora::scan::TScanArea area_;
  QImage picture_;
  QPointF dragStart_;
  bool dragging_ = false;
};

class TSaneSourceDialog : public QDialog {
 public:
  TSaneSourceDialog(veilora::scan::TSaneSource& source, QWidget* parent);

  QLabel* DeviceLabel = nullptr;
  QComboBox* ModeBox = nullptr;
  QComboBox* ResolutionList = nullptr;  // a device with a list of resolutions
  QSpinBox* ResolutionBox = nullptr;    // a device with a range
  QDoubleSpinBox* AreaLeft = nullptr;
  QDoubleSpinBox* AreaTop = nullptr;
  QDoubleSpinBox* AreaWidth = nullptr;
  QDoubleSpinBox* AreaHeight = nullptr;
  TScanPreview* Preview = nullptr;
  QPushButton* PreviewButton = nullptr;
  QPushButton* ScanButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QProgressBar* ScanProgress = nullptr;
  QLabel* StatusLabel = nullptr;

  // The settings the controls show.
  veilora::scan::TScanSettings Settings() const;

 protected:
  void reject() override;

 private:
  void StartScan(bool preview);
  void ShowProgress(std::int32_t rows, std::int32_t expected, int frame);
  void ScanEnded(bool preview, const veilora::scan::TScanStatus& status, veilora::scan::TScanImage image);
  void SetBusy(bool busy);
  void AreaTyped();

  veilora::scan::TSaneSource& source_;
  veilora::scan::TDeviceOptions options_;
  bool busy_ = false;
  bool done_ = false;
};

// The dialog as the source holds it: closing it is destroying it.
class TSaneSourceWindow : public veilora::scan::TSourceWindow {
 public:
  TSaneSourceWindow(veilora::scan::TSaneSource& source, QWidget* parent);
  ~TSaneSourceWindow() override;

 private:
  QPointer<TSaneSourceDialog> dialog_;
};

// A scanned picture as a Qt image (grey, black and white or RGB).
QImage ToQImage(const veilora::scan::TScanImage& image);
