#pragma once

// The cursors of the image views: thirteen images loaded by resource name into a table of the
// application, under fixed ids that the windows use to pick them.

#include <QCursor>

namespace veilora {

enum TViewCursor : int {
  crZoomOut = 1778,       // ZOOMMENO
  crZoomIn = 1779,        // ZOOMPIU: zoom mode
  crCross = 1780,         // CROCE
  crEraser = 1781,        // GOMMA
  crHand = 1782,          // MANO: hand mode
  crPen = 1783,           // PENNA
  crCircleCross = 1784,   // CROCE1
  crSelect = 1785,        // CROCE2: a view's own cursor at first
  crSizeNwse = 1786,      // MOVE2: over the top-left or bottom-right grip
  crSizeNs = 1787,        // MOVEY: over the top or bottom edge
  crSizeNesw = 1788,      // MOVE1: over the top-right or bottom-left grip
  crSizeWe = 1789,        // MOVEX: over the left or right edge
  crMoveSelection = 1790  // MOVE: inside the selection
};

// Loads the thirteen cursors into the table; later calls find them there.
void RegisterViewCursors();
// The cursor registered under `id`; the platform's arrow for an id nobody registered.
QCursor CursorById(int id);
// The cursor a grip (0..3 corners, 4..7 edges) shows.
int GripCursor(int grip);

}  // namespace veilora
