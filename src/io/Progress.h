#pragma once

// What a codec or a long image operation needs to report progress and to learn that it must stop.

#include "image/BaseView.h"

namespace veilora {

struct TProgressContext {
  TProgressEvent onProgress;
  TObject* sender = nullptr;
  bool* aborting = nullptr;

  bool HasHandler() const { return onProgress && sender != nullptr; }
  void Report(int percentage) const {
    if (HasHandler()) onProgress(*sender, percentage);
  }
  bool Aborted() const { return aborting != nullptr && *aborting; }
  void Abort() const {
    if (aborting != nullptr) *aborting = true;
  }
};

}  // namespace veilora
