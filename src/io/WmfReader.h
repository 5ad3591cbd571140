#pragma once

// Windows metafiles (WMF): an optional 22-byte placeable header (key 9AC6CDD7, the picture's
// bounds in logical units and the units per inch), an 18-byte header, then records of a 32-bit size
// in 16-bit words, a 16-bit function and its parameters (most stored last argument first).
//
// The records are walked by their own sizes up to the end of the file or the end record; the
// header's size, object count and largest record are not trusted. Objects take the lowest free slot
// of a table that holds at most kMaxWmfObjects.

#include <cstddef>
#include <cstdint>

#include "io/MetafilePlayback.h"

namespace veilora {

constexpr std::size_t kMaxWmfObjects = 4096;

struct TWmfHeader {
  bool placeable = false;
  // The picture's logical rectangle: the placeable bounds, or else the first window origin and
  // extent the records set.
  double left = 0, top = 0, right = 0, bottom = 0;
  // Logical units per inch (placeable files only; 0 otherwise).
  int unitsPerInch = 0;
  std::size_t firstRecord = 0;
};

// Recognises a Windows metafile and reads its picture rectangle. False for data that is not one,
// or a file without placeable bounds whose records never set a window extent.
bool ReadWmfHeader(const std::uint8_t* data, std::size_t size, TWmfHeader& header);

// Plays the records onto `playback`, whose window and viewport the caller has set up to map the
// picture rectangle onto the target.
void PlayWmf(const std::uint8_t* data, std::size_t size, const TWmfHeader& header,
             TMetafilePlayback& playback);

}  // namespace veilora
