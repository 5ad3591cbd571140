#pragma once

// What a codec or a long image operation needs to report progress and to learn that it must stop.

#include <string>

#include "image/BaseView.h"

namespace veilora {

struct TProgressContext {
  TProgressEvent onProgress;
  TObject* sender = nullptr;
  bool* aborting = nullptr;
  // Where a reader describes the damage it met when it keeps a partial picture; null when nobody
  // listens.
  std::string* damage = nullptr;

  bool HasHandler() const { return onProgress && sender != nullptr; }
  void Report(int percentage) const {
    if (HasHandler()) onProgress(*sender, percentage);
  }
  bool Aborted() const { return aborting != nullptr && *aborting; }
  void Abort() const {
    if (aborting != nullptr) *aborting = true;
  }
  // The data went bad after part of the picture was decoded, and the bitmap holds that part (the
  // rest as the reader left it). The load still counts as failed for every caller that only looks
  // at Aborting; the window opens such a picture with a warning naming `what`, for example "the
  // data ends after row 120 of 300". The first description stands.
  void AbortWithPartialImage(std::string what) const {
    Abort();
    if (damage != nullptr && damage->empty()) *damage = std::move(what);
  }
};

}  // namespace veilora
