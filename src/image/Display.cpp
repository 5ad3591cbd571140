#include "image/Display.h"

#include <array>

namespace veilora {
namespace {

int screenDpi = kDefaultScreenDpi;

// Defaults of a current desktop theme, red in the low byte; slot 25 is unused.
std::array<TColor, kSystemColourCount> systemColours = {
    RGBToColor(200, 200, 200),  //  0 scroll bar
    RGBToColor(0, 0, 0),        //  1 desktop
    RGBToColor(153, 180, 209),  //  2 active caption
    RGBToColor(191, 205, 219),  //  3 inactive caption
    RGBToColor(240, 240, 240),  //  4 menu
    RGBToColor(255, 255, 255),  //  5 window
    RGBToColor(100, 100, 100),  //  6 window frame
    RGBToColor(0, 0, 0),        //  7 menu text
    RGBToColor(0, 0, 0),        //  8 window text
    RGBToColor(0, 0, 0),        //  9 caption text
    RGBToColor(180, 180, 180),  // 10 active border
    RGBToColor(244, 247, 252),  // 11 inactive border
    RGBToColor(171, 171, 171),  // 12 application workspace
    RGBToColor(0, 120, 215),    // 13 highlight
    RGBToColor(255, 255, 255),  // 14 highlight text
    RGBToColor(240, 240, 240),  // 15 button face
    RGBToColor(160, 160, 160),  // 16 button shadow
    RGBToColor(109, 109, 109),  // 17 grey text
    RGBToColor(0, 0, 0),        // 18 button text
    RGBToColor(0, 0, 0),        // 19 inactive caption text
    RGBToColor(255, 255, 255),  // 20 button highlight
    RGBToColor(105, 105, 105),  // 21 3-D dark shadow
    RGBToColor(227, 227, 227),  // 22 3-D light
    RGBToColor(0, 0, 0),        // 23 tooltip text
    RGBToColor(255, 255, 225),  // 24 tooltip background
    RGBToColor(0, 0, 0),        // 25 unused
    RGBToColor(0, 102, 204),    // 26 hot-tracked item
    RGBToColor(185, 209, 234),  // 27 active caption gradient
    RGBToColor(215, 228, 242),  // 28 inactive caption gradient
    RGBToColor(51, 153, 255),   // 29 menu highlight
    RGBToColor(240, 240, 240),  // 30 menu bar
};

}  // namespace

int ScreenDpi() {
  return screenDpi;
}

void SetScreenDpi(int dpi) {
  if (dpi > 0) screenDpi = dpi;
}

void SetSystemColour(int index, TColor rgb) {
  if (index >= 0 && index < kSystemColourCount) systemColours[index] = rgb & 0xFFFFFF;
}

TColor ColorToRGB(TColor colour) {
  if ((colour & kSystemColourFlag) == 0) return colour;
  const int index = colour & 0xFF;
  return index < kSystemColourCount ? systemColours[index] : clBlack;
}

TRGB ColorToPixel(TColor colour) {
  const TColor rgb = ColorToRGB(colour);
  return TRGB{static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
              static_cast<std::uint8_t>(rgb)};
}

}  // namespace veilora
