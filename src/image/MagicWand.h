#pragma once

// The magic wand: the region of similar colour around a pixel, as an outline that the even-odd
// fill turns back into exactly that region.

#include <vector>

#include "image/Bitmap.h"
#include "image/Point.h"

namespace veilora {

// Two colours are similar when none of their red, green and blue values differs by more than this.
constexpr int kMagicWandTolerance = 32;

// The pixels similar to pixel (x, y) and joined to it through similar pixels left, right, above or
// below, traced along pixel edges: one polygon whose corners are pixel corners (0..width,
// 0..height). Each hole of the region is a loop of its own, reached from the first corner of the
// outer loop and back along the same line, so that the way there and the way back cancel in the
// even-odd fill. Empty for a point outside the bitmap or an empty bitmap.
std::vector<TPoint> MagicWandOutline(const TBitmap& bitmap, int x, int y,
                                     int tolerance = kMagicWandTolerance);

}  // namespace veilora
