#pragma once

// The process-wide LZW hooks outlive every test, so a test that installs or empties them holds a
// guard that puts them back as they were when it ends; tests then pass in any order, in one
// process.

#include "io/IOParams.h"
#include "io/LzwCoders.h"

namespace veilora::test {

class TScopedLzwHooks {
 public:
  enum TStart {
    kAsTheyAre,      // only keep them, for a test that changes them itself
    kProgramCoders,  // install the coders, as the program does at start-up
    kNone,           // empty, as before start-up
  };

  explicit TScopedLzwHooks(TStart start = kAsTheyAre) : saved_(GlobalLzwHooks()) {
    if (start == kProgramCoders) InstallLzwCoders();
    if (start == kNone) GlobalLzwHooks() = TLzwHooks{};
  }
  ~TScopedLzwHooks() { GlobalLzwHooks() = saved_; }
  TScopedLzwHooks(const TScopedLzwHooks&) = delete;
  TScopedLzwHooks& operator=(const TScopedLzwHooks&) = delete;

 private:
  TLzwHooks saved_;
};

}  // namespace veilora::test
