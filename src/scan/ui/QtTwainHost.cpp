#include "scan/ui/QtTwainHost.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QWidget>

#include "scan/ui/SaneSourceDialog.h"
#include "scan/ui/SourceSelectDialog.h"

TQtTwainHost::TQtTwainHost() {
  veilora::scan::SetTwainHost(this);
}

TQtTwainHost::~TQtTwainHost() {
  veilora::scan::SetTwainHost(nullptr);
}

int TQtTwainHost::SelectSource(const std::vector<veilora::scan::TSourceChoice>& sources, int current,
                               void* window) {
  TSourceSelectDialog dialog(sources, current, static_cast<QWidget*>(window));
  return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : -1;
}

std::unique_ptr<veilora::scan::TSourceWindow> TQtTwainHost::ShowSourceDialog(
    veilora::scan::TSaneSource& source, void* window) {
  return std::make_unique<TSaneSourceWindow>(source, static_cast<QWidget*>(window));
}

bool TQtTwainHost::ScanProgress(std::int32_t, std::int32_t) {
  return true;
}

void TQtTwainHost::ProcessEvents(int timeoutMs) {
  // The timer bounds the wait; Wake() posts an event that ends it sooner.
  if (!tick_.isActive()) tick_.start(timeoutMs);
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TQtTwainHost::Wake() {
  QMetaObject::invokeMethod(
      this, [] {}, Qt::QueuedConnection);
}

void TQtTwainHost::EnableWindow(void* window, bool enable) {
  if (enable) tick_.stop();
  if (auto* widget = static_cast<QWidget*>(window)) widget->setEnabled(enable);
}

void TQtTwainHost::FocusWindow(void* window) {
  if (auto* widget = static_cast<QWidget*>(window)) {
    widget->activateWindow();
    widget->setFocus();
  }
}
