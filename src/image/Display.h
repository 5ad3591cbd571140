#pragma once

// What the core knows of the screen: its logical resolution and the system colours. Both start
// with fixed defaults so the core runs headless; the desktop shell overrides them at start-up.

#include "image/Colour.h"

namespace veilora {

constexpr int kDefaultScreenDpi = 96;

// The logical pixels per inch that new views take as their DpiX and DpiY.
int ScreenDpi();
void SetScreenDpi(int dpi);

// Number of system colour slots (indexes 0..30, as the classic desktop colour list).
constexpr int kSystemColourCount = 31;

// Sets the RGB colour (red in the low byte) that system colour slot index stands for.
// Indexes outside 0..kSystemColourCount-1 are ignored.
void SetSystemColour(int index, TColor rgb);

// Resolves a colour to plain RGB: system colours through the table, others unchanged
// (the top byte cleared).
TColor ColorToRGB(TColor colour);

// The colour as a 24-bit pixel.
TRGB ColorToPixel(TColor colour);

}  // namespace veilora
