#pragma once

// The marching-ants outline of a selection as client pixels: which pixels each segment covers and
// which of the two dash colours each one takes at a given phase, and the small boxes that hold
// them, so that the window can redraw exactly those pixels on every tick of the animation.

#include <vector>

#include "image/Point.h"
#include "image/Selection.h"
#include "view/ViewGeometry.h"

namespace veilora {

// Dash pixels come in runs of three: counter 0, 1, 2 take the first colour, 3, 4, 5 the second.
constexpr int kDashPeriod = 6;
// Half the side of a grip: a grip covers (sx - 3, sy - 3) to (sx + 3, sy + 3), right and bottom
// exclusive, around a corner's client position.
constexpr int kGripHalf = 3;

struct TOutlinePixels {
  std::vector<TPoint> first;   // pixels of the first dash colour (black)
  std::vector<TPoint> second;  // pixels of the second dash colour (white)
  void Clear() {
    first.clear();
    second.clear();
  }
};

// The outline's pixels inside the client area. Each segment between consecutive points, in client
// positions, covers its start pixel and not its end pixel; every part is closed from its last
// point back to its first, except the last part when `closeLast` is false (a polygon still being
// drawn). The dash counter starts at `phase` and advances by one per pixel across all segments,
// also over pixels outside the client area, so that scrolling does not shift the dashes.
void CollectOutlinePixels(const TSelectionOutline& selection, const TViewGeometry& geometry, int phase,
                          bool closeLast, TOutlinePixels& pixels);

// The client rectangles that hold the outline's pixels (one per segment, cut to the client area),
// and the grips when `grips` is set: what must be drawn again when the outline moves or its
// dashes advance.
std::vector<TExtentRect> OutlineBoxes(const TSelectionOutline& selection, const TViewGeometry& geometry,
                                      bool closeLast, bool grips);

// The client rectangle of the grip at a rectangle selection's corner `corner` (0..3).
TExtentRect GripBox(const TSelectionOutline& selection, const TViewGeometry& geometry, int corner);

}  // namespace veilora
