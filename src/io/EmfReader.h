#pragma once

// Enhanced metafiles (EMF): records of a 32-bit type and a 32-bit size in bytes (a multiple of 4),
// the first of them the header (signature " EMF" at byte 40) with the picture's bounds in device
// pixels, its frame in hundredths of a millimetre and the reference device's size in pixels and
// millimetres.
//
// The records are walked by their own sizes up to the end of the file or the end record; the
// header's byte, record and handle counts are not trusted. Object indexes above kMaxEmfObjectIndex
// are ignored. EMF+ records travel in comment records and are skipped: the plain records that dual
// files carry beside them draw the picture.

#include <cstddef>
#include <cstdint>

#include "io/MetafilePlayback.h"

namespace veilora {

constexpr std::uint32_t kMaxEmfObjectIndex = 0xFFFF;

struct TEmfHeader {
  // Inclusive rectangles: bounds in the reference device's pixels, frame in 0.01 mm.
  std::int32_t boundsLeft = 0, boundsTop = 0, boundsRight = 0, boundsBottom = 0;
  std::int32_t frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
  // The reference device: size in pixels and in millimetres.
  std::int32_t devicePixelsX = 0, devicePixelsY = 0, deviceMmX = 0, deviceMmY = 0;

  // Pixels per millimetre of the reference device (96 dpi when the header gives no usable size).
  TMfPoint PixelsPerMm() const;
  // The frame in the reference device's pixels: left, top, right, bottom.
  void FramePixels(double& left, double& top, double& right, double& bottom) const;
};

bool ReadEmfHeader(const std::uint8_t* data, std::size_t size, TEmfHeader& header);

void PlayEmf(const std::uint8_t* data, std::size_t size, TMetafilePlayback& playback);

}  // namespace veilora
