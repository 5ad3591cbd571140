#pragma once

// Runs a codec's reader or writer on memory, as the codec tests do over and over.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/Bitmap.h"
#include "io/IOParams.h"
#include "io/Progress.h"
#include "io/Stream.h"

namespace veilora::test {

struct TReadResult {
  TBitmap bitmap;
  TIOParams params;
  bool aborted = false;
  // What the reader said was damaged when it kept a partial picture; empty otherwise.
  std::string damage;
};

// `read` takes (stream, bitmap, params, paramsOnly, progress).
template <typename Read>
void ReadFromMemory(Read read, const std::vector<std::uint8_t>& file, TReadResult& out, bool paramsOnly) {
  TMemoryStream stream(file);
  read(stream, out.bitmap, out.params, paramsOnly, TProgressContext{{}, nullptr, &out.aborted, &out.damage});
}

// `write` takes (stream, bitmap, params, progress); the write is expected to succeed.
template <typename Write>
std::vector<std::uint8_t> WriteToMemory(Write write, TBitmap& bitmap, TIOParams& params) {
  TMemoryStream stream;
  bool aborted = false;
  write(stream, bitmap, params, TProgressContext{{}, nullptr, &aborted});
  EXPECT_FALSE(aborted);
  return stream.Data();
}

}  // namespace veilora::test
