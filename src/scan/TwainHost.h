#pragma once

// What the data-source manager and its sources need from the application's windowing: the
// manager's source-selection dialog, a source's own dialog, the application's message loop while
// a source is enabled, and enabling of the calling window. The desktop program installs a Qt host;
// without one a headless host stands in (no dialogs: the first source, scanning without a user
// interface).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veilora::scan {

class TSaneSource;

// A source's open dialog; destroying it closes the dialog.
class TSourceWindow {
 public:
  virtual ~TSourceWindow() = default;
};

struct TSourceChoice {
  std::string productName;
  std::string manufacturer;
  std::string productFamily;
};

class TTwainHost {
 public:
  virtual ~TTwainHost() = default;
  // The manager's dialog: the sources and the current one; the chosen index, or -1 when the user
  // cancelled.
  virtual int SelectSource(const std::vector<TSourceChoice>& sources, int current, void* window) = 0;
  // Opens the source's own dialog without waiting for it; null when the host shows none (the
  // source then scans at once without a user interface).
  virtual std::unique_ptr<TSourceWindow> ShowSourceDialog(TSaneSource& source, void* window) = 0;
  // Called from the scanning thread while a source without a dialog scans with its indicators on;
  // false cancels the scan.
  virtual bool ScanProgress(std::int32_t rows, std::int32_t expected) = 0;
  // One turn of the application's message loop: handles what is waiting, or waits for the next
  // event or Wake() for at most `timeoutMs` milliseconds.
  virtual void ProcessEvents(int timeoutMs) = 0;
  // Ends a ProcessEvents wait; callable from any thread.
  virtual void Wake() = 0;
  virtual void EnableWindow(void* window, bool enable) = 0;
  // Gives the keyboard focus back to the window after an acquisition.
  virtual void FocusWindow(void* window) = 0;
};

// The installed host, or the headless one.
TTwainHost& TwainHost();
// Installs a host (null: the headless one again). The host must outlive its use.
void SetTwainHost(TTwainHost* host);

}  // namespace veilora::scan
