#pragma once

// Runs a reader over fuzz input twice, for the parameters only and for the image, with a progress
// handler set and a place for the damage text, so that the reporting paths run too. `read` takes (stream,
// bitmap, params, paramsOnly, progress).

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/Bitmap.h"
#include "io/IOParams.h"
#include "io/Progress.h"
#include "io/Stream.h"

namespace veilora::fuzz {

template <typename Read>
void RunReaderTwice(const std::uint8_t* data, std::size_t size, Read read) {
  TObject sender;
  for (const bool paramsOnly : {true, false}) {
    TMemoryStream stream(data, size);
    TBitmap bitmap;
    TIOParams params;
    bool aborting = false;
    std::string damage;
    const TProgressContext progress{[](TObject&, int) {}, &sender, &aborting, &damage};
    read(stream, bitmap, params, paramsOnly, progress);
  }
}

}  // namespace veilora::fuzz
