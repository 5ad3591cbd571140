#include "scan/ui/SaneSourceDialog.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

using veilora::scan::TScanArea;
using veilora::scan::TScanImage;
using veilora::scan::TScanMode;
using veilora::scan::TScanSettings;
using veilora::scan::TScanStatus;

namespace {

constexpr int kPreviewSide = 260;

QString ModeName(TScanMode mode) {
  switch (mode) {
    case TScanMode::BlackWhite: return TSaneSourceDialog::tr("Black and white");
    case TScanMode::Grey: return TSaneSourceDialog::tr("Grey");
    default: return TSaneSourceDialog::tr("Colour");
  }
}

}  // namespace

QImage ToQImage(const TScanImage& image) {
  if (image.Empty()) return {};
  const auto stride = static_cast<qsizetype>(image.RowBytes());
  if (image.bitsPerPixel == 24) {
    return QImage(image.data.data(), image.width, image.height, stride, QImage::Format_RGB888).copy();
  }
  if (image.bitsPerPixel == 8) {
    return QImage(image.data.data(), image.width, image.height, stride, QImage::Format_Grayscale8).copy();
  }
  QImage mono(image.data.data(), image.width, image.height, stride, QImage::Format_Mono);
  // Bit 0 is black.
  mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  return mono.copy();
}

// ---- the preview

TScanPreview::TScanPreview(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Preview"));
  setMinimumSize(kPreviewSide, kPreviewSide);
  setCursor(Qt::CrossCursor);
}

void TScanPreview::SetPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

void TScanPreview::SetArea(const TScanArea& area) {
  area_ = area;
  update();
}

QRectF TScanPreview::BedRect() const {
  const double width = std::max(1.0, bed_.right - bed_.left);
  const double height = std::max(1.0, bed_.bottom - bed_.top);
  const double scale = std::min((this->width() - 8) / width, (this->height() - 8) / height);
  const QSizeF size(width * scale, height * scale);
  return QRectF(QPointF((this->width() - size.width()) / 2, (this->height() - size.height()) / 2), size);
}

QPointF TScanPreview::ToBed(QPointF point) const {
  const QRectF rect = BedRect();
  const double x = bed_.left + (point.x() - rect.left()) / rect.width() * (bed_.right - bed_.left);
  const double y = bed_.top + (point.y() - rect.top()) / rect.height() * (bed_.bottom - bed_.top);
  return {std::clamp(x, bed_.left, bed_.right), std::clamp(y, bed_.top, bed_.bottom)};
}

void TScanPreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const QRectF bed = BedRect();
  painter.fillRect(bed, Qt::white);
  if (!picture_.isNull()) painter.drawImage(bed, picture_);
  painter.setPen(Qt::gray);
  painter.drawRect(bed);
  const double width = std::max(1e-6, bed_.right - bed_.left);
  const double height = std::max(1e-6, bed_.bottom - bed_.top);
  const QRectF area(bed.left() + (area_.left - bed_.left) / width * bed.width(),
                    bed.top() + (area_.top - bed_.top) / height * bed.height(),
                    (area_.right - area_.left) / width * bed.width(),
                    (area_.bottom - area_.top) / height * bed.height());
  painter.setPen(QPen(Qt::blue, 1, Qt::DashLine));
  painter.drawRect(area);
}

void TScanPreview::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  dragging_ = true;
  dragStart_ = ToBed(event->position());
}

void TScanPreview::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  const QPointF end = ToBed(event->position());
  area_ = {std::min(dragStart_.x(), end.x()), std::min(dragStart_.y(), end.y()),
           std::max(dragStart_.x(), end.x()), std::max(dragStart_.y(), end.y())};
  update();
}

void TScanPreview::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_) return;
  mouseMoveEvent(event);
  dragging_ = false;
  // A click without a drag leaves the area as it was.
  if (area_.right - area_.left > 0.5 && area_.bottom - area_.top > 0.5 && OnAreaDragged) OnAreaDragged(area_);
}

// ---- the dialog

TSaneSourceDialog::TSaneSourceDialog(veilora::scan::TSaneSource& source, QWidget* parent)
    : QDialog(nullptr), source_(source), options_(source.Options()) {
  // Not a child of the calling window, which the acquisition disables while this dialog is open.
  setObjectName(QStringLiteral("SaneSourceDialog"));
  const veilora::scan::TDeviceInfo& device = source.Device();
  setWindowTitle(tr("Scan - %1").arg(QString::fromStdString(device.name)));
  setWindowModality(Qt::ApplicationModal);
  const TScanSettings settings = source.Settings();

  auto* layout = new QHBoxLayout(this);
  auto* controls = new QVBoxLayout;
  auto* form = new QFormLayout;
  DeviceLabel = new QLabel(QString::fromStdString(device.vendor + " " + device.model).trimmed() +
                               QStringLiteral("\n") + QString::fromStdString(device.name),
                           this);
  DeviceLabel->setObjectName(QStringLiteral("DeviceLabel"));
  form->addRow(tr("Device:"), DeviceLabel);

  ModeBox = new QComboBox(this);
  ModeBox->setObjectName(QStringLiteral("ModeBox"));
  for (TScanMode mode : options_.modes) {
    ModeBox->addItem(ModeName(mode), static_cast<int>(mode));
    if (mode == settings.mode) ModeBox->setCurrentIndex(ModeBox->count() - 1);
  }
  form->addRow(tr("Mode:"), ModeBox);

  if (!options_.resolutionList.empty()) {
    ResolutionList = new QComboBox(this);
    ResolutionList->setObjectName(QStringLiteral("ResolutionList"));
    for (double value : options_.resolutionList) {
      ResolutionList->addItem(tr("%1 dpi").arg(value), value);
      if (std::fabs(value - settings.resolution) < 0.5)
        ResolutionList->setCurrentIndex(ResolutionList->count() - 1);
    }
    form->addRow(tr("Resolution:"), ResolutionList);
  } else {
    ResolutionBox = new QSpinBox(this);
    ResolutionBox->setObjectName(QStringLiteral("ResolutionBox"));
    ResolutionBox->setRange(
        static_cast<int>(std::ceil(options_.resolutionMin)),
        static_cast<int>(std::floor(std::max(options_.resolutionMin, options_.resolutionMax))));
    ResolutionBox->setSingleStep(std::max(1, static_cast<int>(std::lround(options_.resolutionStep))));
    ResolutionBox->setSuffix(tr(" dpi"));
    ResolutionBox->setValue(static_cast<int>(std::lround(settings.resolution)));
    form->addRow(tr("Resolution:"), ResolutionBox);
  }

  const auto areaBox = [this, &form](const char* name, const QString& label, double maximum, double value) {
    auto* box = new QDoubleSpinBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setDecimals(1);
    box->setRange(0, maximum);
    box->setSuffix(tr(" mm"));
    box->setValue(value);
    box->setEnabled(options_.hasArea);
    form->addRow(label, box);
    connect(box, &QDoubleSpinBox::editingFinished, this, &TSaneSourceDialog::AreaTyped);
    return box;
  };
  const TScanArea& bed = options_.maxArea;
  const TScanArea area = settings.setArea ? settings.area : options_.area;
  AreaLeft = areaBox("AreaLeft", tr("Left:"), bed.right, area.left);
  AreaTop = areaBox("AreaTop", tr("Top:"), bed.bottom, area.top);
  AreaWidth = areaBox("AreaWidth", tr("Width:"), bed.right - bed.left, area.right - area.left);
  AreaHeight = areaBox("AreaHeight", tr("Height:"), bed.bottom - bed.top, area.bottom - area.top);
  controls->addLayout(form);
  controls->addStretch(1);

  ScanProgress = new QProgressBar(this);
  ScanProgress->setObjectName(QStringLiteral("ScanProgress"));
  ScanProgress->setValue(0);
  controls->addWidget(ScanProgress);
  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
  StatusLabel->setWordWrap(true);
  controls->addWidget(StatusLabel);

  auto* buttons = new QHBoxLayout;
  PreviewButton = new QPushButton(tr("Preview"), this);
  PreviewButton->setObjectName(QStringLiteral("PreviewButton"));
  ScanButton = new QPushButton(tr("Scan"), this);
  ScanButton->setObjectName(QStringLiteral("ScanButton"));
  ScanButton->setDefault(true);
  CancelButton = new QPushButton(tr("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  buttons->addWidget(PreviewButton);
  buttons->addWidget(ScanButton);
  buttons->addWidget(CancelButton);
  controls->addLayout(buttons);
  layout->addLayout(controls);

  Preview = new TScanPreview(this);
  Preview->SetBed(bed);
  Preview->SetArea(area);
  Preview->setEnabled(options_.hasArea);
  Preview->OnAreaDragged = [this](const TScanArea& dragged) {
    AreaLeft->setValue(dragged.left);
    AreaTop->setValue(dragged.top);
    AreaWidth->setValue(dragged.right - dragged.left);
    AreaHeight->setValue(dragged.bottom - dragged.top);
  };
  layout->addWidget(Preview, 1);

  connect(PreviewButton, &QPushButton::clicked, this, [this] { StartScan(true); });
  connect(ScanButton, &QPushButton::clicked, this, [this] { StartScan(false); });
  connect(CancelButton, &QPushButton::clicked, this, &TSaneSourceDialog::reject);
  if (parent != nullptr) {
    adjustSize();
    move(parent->geometry().center() - rect().center());
  }
}

TScanSettings TSaneSourceDialog::Settings() const {
  TScanSettings settings;
  settings.mode = static_cast<TScanMode>(ModeBox->currentData().toInt());
  settings.resolution =
      ResolutionList != nullptr ? ResolutionList->currentData().toDouble() : ResolutionBox->value();
  settings.setArea = options_.hasArea;
  settings.area = {AreaLeft->value(), AreaTop->value(), AreaLeft->value() + AreaWidth->value(),
                   AreaTop->value() + AreaHeight->value()};
  return settings;
}

void TSaneSourceDialog::AreaTyped() {
  Preview->SetArea(Settings().area);
}

void TSaneSourceDialog::SetBusy(bool busy) {
  busy_ = busy;
  for (QWidget* widget :
       std::initializer_list<QWidget*>{ModeBox, ResolutionList, ResolutionBox, AreaLeft, AreaTop, AreaWidth,
                                       AreaHeight, PreviewButton, ScanButton}) {
    if (widget != nullptr)
      widget->setEnabled(!busy &&
                         (options_.hasArea || widget == ModeBox || widget == ResolutionList ||
                          widget == ResolutionBox || widget == PreviewButton || widget == ScanButton));
  }
  Preview->setEnabled(!busy && options_.hasArea);
}

void TSaneSourceDialog::StartScan(bool preview) {
  if (busy_ || done_) return;
  TScanSettings settings = Settings();
  if (preview) {
    settings.resolution = source_.PreviewResolution();
    settings.area = options_.maxArea;
  }
  SetBusy(true);
  ScanProgress->setRange(0, 0);
  StatusLabel->setText(preview ? tr("Preview...") : tr("Scanning..."));
  QPointer<TSaneSourceDialog> self = this;
  // Both run on the scanning thread; the dialog hears of them through its own event queue.
  source_.StartScan(
      settings,
      [self](std::int32_t rows, std::int32_t expected, int frame) {
        QMetaObject::invokeMethod(
            self, [self, rows, expected, frame] { self->ShowProgress(rows, expected, frame); },
            Qt::QueuedConnection);
        return true;
      },
      [self, preview](const TScanStatus& status, TScanImage image) {
        auto shared = std::make_shared<TScanImage>(std::move(image));
        QMetaObject::invokeMethod(
            self, [self, preview, status, shared] { self->ScanEnded(preview, status, std::move(*shared)); },
            Qt::QueuedConnection);
      });
}

void TSaneSourceDialog::ShowProgress(std::int32_t rows, std::int32_t expected, int frame) {
  if (!busy_) return;
  if (expected > 0) {
    ScanProgress->setRange(0, expected);
    ScanProgress->setValue(std::min(rows, expected));
    StatusLabel->setText(frame > 0 ? tr("Line %1 of %2, pass %3").arg(rows).arg(expected).arg(frame + 1)
                                   : tr("Line %1 of %2").arg(rows).arg(expected));
  } else {
    ScanProgress->setRange(0, 0);
    StatusLabel->setText(tr("Line %1").arg(rows));
  }
}

void TSaneSourceDialog::ScanEnded(bool preview, const TScanStatus& status, TScanImage image) {
  SetBusy(false);
  ScanProgress->setRange(0, 100);
  ScanProgress->setValue(status.Ok() ? 100 : 0);
  if (!status.Ok()) {
    StatusLabel->setText(QString::fromStdString(status.message));
    return;
  }
  if (preview) {
    Preview->SetPicture(ToQImage(image));
    StatusLabel->setText(tr("Drag on the preview to choose the area."));
    return;
  }
  StatusLabel->setText(tr("Scanned %1 x %2 pixels.").arg(image.width).arg(image.height));
  done_ = true;
  SetBusy(true);
  CancelButton->setEnabled(false);
  source_.ImageReady(std::move(image));
}

void TSaneSourceDialog::reject() {
  // Cancel during a scan stops the scan; otherwise it closes the source without a picture.
  if (busy_) {
    source_.CancelScan();
    StatusLabel->setText(tr("Cancelling..."));
    return;
  }
  if (done_) return;
  done_ = true;
  hide();
  source_.UserCancelled();
}

TSaneSourceWindow::TSaneSourceWindow(veilora::scan::TSaneSource& source, QWidget* parent)
    : dialog_(new TSaneSourceDialog(source, parent)) {
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
}

TSaneSourceWindow::~TSaneSourceWindow() {
  delete dialog_.data();
}
