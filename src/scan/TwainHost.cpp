#include "scan/TwainHost.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace veilora::scan {

namespace {

class THeadlessHost final : public TTwainHost {
 public:
  int SelectSource(const std::vector<TSourceChoice>& sources, int current, void*) override {
    if (sources.empty()) return -1;
    return current >= 0 && current < static_cast<int>(sources.size()) ? current : 0;
  }
  std::unique_ptr<TSourceWindow> ShowSourceDialog(TSaneSource&, void*) override { return nullptr; }
  bool ScanProgress(std::int32_t, std::int32_t) override { return true; }
  void ProcessEvents(int timeoutMs) override {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return woken_; });
    woken_ = false;
  }
  void Wake() override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      woken_ = true;
    }
    wake_.notify_all();
  }
  void EnableWindow(void*, bool) override {}
  void FocusWindow(void*) override {}

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
};

THeadlessHost& Headless() {
  static THeadlessHost host;
  return host;
}

TTwainHost* installed = nullptr;

}  // namespace

TTwainHost& TwainHost() {
  return installed != nullptr ? *installed : Headless();
}

void SetTwainHost(TTwainHost* host) {
  installed = host;
}

}  // namespace veilora::scan
