#pragma once

#include <cstdint>

namespace veilora {

// A colour value as the image components store it: red in the low byte, then green, then blue.
// A value whose top byte is non-zero names a system colour by its low byte (see Display.h).
using TColor = std::int32_t;

constexpr TColor kSystemColourFlag = static_cast<TColor>(0xFF000000u);

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
// The face colour of buttons, the default background of a view.
constexpr TColor clBtnFace = kSystemColourFlag | 15;

constexpr TColor RGBToColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<TColor>(red | (green << 8) | (blue << 16));
}

// One 24-bit pixel as it lies in memory: blue, green, red.
struct TRGB {
  std::uint8_t b = 0;
  std::uint8_t g = 0;
  std::uint8_t r = 0;

  friend bool operator==(const TRGB&, const TRGB&) = default;
};

}  // namespace veilora
