#pragma once

// The clipboard as the image commands see it: one packed bitmap (see PackedDib.h) in, one out.
// The windowing shell installs the system's clipboard; until then, and in tests, a clipboard that
// lives in this process stands in.

#include "image/PixelMemory.h"

namespace veilora {

class TClipboard {
 public:
  virtual ~TClipboard() = default;
  // Empties the clipboard and puts the block on it; false when the clipboard cannot be opened.
  virtual bool PutPackedDib(TByteBlock block) = 0;
  // The packed bitmap the clipboard holds; empty when it holds none or cannot be opened.
  virtual TByteBlock PackedDib() = 0;
};

// Keeps the last block in memory.
class TMemoryClipboard final : public TClipboard {
 public:
  bool PutPackedDib(TByteBlock block) override {
    block_ = std::move(block);
    return true;
  }
  TByteBlock PackedDib() override { return block_.Copy(); }

 private:
  TByteBlock block_;
};

// The clipboard in force, and the way to install another (not owned; null restores the one in
// memory).
TClipboard& Clipboard();
void SetClipboard(TClipboard* clipboard);

}  // namespace veilora
