#pragma once

// The input/output component: moves the attached view's bitmap to and from files. Codecs get the
// bitmap, the component's parameters and a progress context; they report bad data by setting
// Aborting and returning, and stop between rows once it is set.

#include "image/ImageComponent.h"

namespace veilora {

// What a codec needs to report progress and to learn that it must stop.
struct TProgressContext {
  TProgressEvent onProgress;
  TObject* sender = nullptr;
  bool* aborting = nullptr;

  void Report(int percentage) const {
    if (onProgress && sender != nullptr) onProgress(*sender, percentage);
  }
  bool Aborted() const { return aborting != nullptr && *aborting; }
  void Abort() const {
    if (aborting != nullptr) *aborting = true;
  }
};

class TImageIO : public TImageComponent {
 public:
  // Cleared at the start of every load and save; set by a codec when the data is bad or the
  // operation must stop.
  bool Aborting = false;

  // The context handed to a codec for one operation; it refers to this component's Aborting.
  TProgressContext ProgressContext() { return TProgressContext{OnProgress, this, &Aborting}; }
};

}  // namespace veilora
