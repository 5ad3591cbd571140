#pragma once

// The desktop program's TWAIN host: the manager's source dialog and the SANE source's own dialog
// as Qt windows, and Qt's event loop as the message loop the acquisition runs while the source is
// enabled.

#include <QObject>
#include <QTimer>

#include "scan/TwainHost.h"

class TQtTwainHost : public QObject, public veilora::scan::TTwainHost {
 public:
  // Installs itself as the process's host; the destructor removes it again.
  TQtTwainHost();
  ~TQtTwainHost() override;

  int SelectSource(const std::vector<veilora::scan::TSourceChoice>& sources, int current,
                   void* window) override;
  std::unique_ptr<veilora::scan::TSourceWindow> ShowSourceDialog(veilora::scan::TSaneSource& source,
                                                                 void* window) override;
  bool ScanProgress(std::int32_t rows, std::int32_t expected) override;
  void ProcessEvents(int timeoutMs) override;
  void Wake() override;
  void EnableWindow(void* window, bool enable) override;
  void FocusWindow(void* window) override;

 private:
  QTimer tick_;
};
