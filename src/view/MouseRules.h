#pragma once

// The rules of mouse interaction that need no window: which mouse modes combine, the zoom steps of
// a click, where a point hits a rectangle selection's grips, and how resizing and moving change
// the rectangle. The view widget feeds them client points and its geometry.

#include <cstdint>
#include <vector>

#include "image/BaseView.h"
#include "image/Point.h"
#include "image/Selection.h"
#include "view/ViewGeometry.h"

namespace veilora {

// What the mouse does, as a set: bit value n is item n.
enum TMouseInteractItems : std::uint8_t {
  miZoom = 1,             // left click zooms in, right click out, at the clicked point
  miScroll = 2,           // dragging moves the view (hand)
  miSelect = 4,           // dragging draws a rectangle; grips resize it; dragging inside moves it
  miSelectPolygon = 8,    // clicks add polygon corners
  miSelectCircle = 16,    // dragging draws an ellipse
  miSelectZoom = 32,      // dragging draws a rectangle, and releasing zooms to it
  miSelectMagicWand = 64  // a click selects the region of similar colour around the pixel
};
using TMouseInteract = std::uint8_t;

// The set SetMouseInteract stores for a request: the first item (in the order scroll, select,
// polygon, circle, select-zoom, zoom, magic wand) that the request adds to the current set keeps
// only the items compatible with it. So asking for [miSelect, miScroll] while [miSelect] holds
// gives [miScroll]. A request equal to the current set, or adding nothing, is stored as it is.
TMouseInteract CombineMouseInteract(TMouseInteract current, TMouseInteract requested);

// The zoom a click gives: in, 100 more from 100 on, else the next of 2, 5, 10, 25, 33, 50, 75, 100;
// out, 100 less from 200 on, else the previous step (2 at the lowest).
int ZoomInStep(int zoom);
int ZoomOutStep(int zoom);

// Grip indexes: 0..3 the corners top-left, top-right, bottom-right, bottom-left; 4 left edge,
// 5 right edge, 6 top edge, 7 bottom edge; -1 none.
constexpr int kNoGrip = -1;

// The grip under client point (x, y) of a rectangle selection: a corner within 3 pixels on both
// axes, else an edge closer than 3 pixels (left, right, top, bottom in that order). The caller
// checks that the outline is visible, sizeable and a rectangle, with no new rectangle in progress.
int GripAt(const TSelectionOutline& selection, const TViewGeometry& geometry, int x, int y);
// Whether client point (x, y) lies inside the selection's bounding box, edges included.
bool InsideSelection(const TSelectionOutline& selection, const TViewGeometry& geometry, int x, int y);

// The result of dragging a grip: the new box (ordered and clamped to the bitmap) and the grip,
// which flips when the drag crosses the opposite side.
struct TGripDrag {
  TRectInclusive box;
  int grip = kNoGrip;
};
// Dragging grip `grip` of `box` to client point (x, y). The bitmap point is
// Round(100 / Zoom x (x + origin - image offset)); a side dragged onto its opposite stays one
// pixel away from it.
TGripDrag DragGrip(const TRectInclusive& box, int grip, int x, int y, const TViewGeometry& geometry);

// The box `saved` moved by (dx, dy) client pixels (Round(100 / Zoom x d) bitmap pixels), each side
// clamped to the bitmap on its own: pushed against an edge the selection shrinks.
TRectInclusive MoveBox(const TRectInclusive& saved, int dx, int dy, const TViewGeometry& geometry);

// The polygon corner a Ctrl-held click gives after the corner (px, py): onto the vertical through it
// when the point lies more than 30 pixels further away vertically than horizontally, onto the
// horizontal in the opposite case, else onto the 45-degree diagonal on the point's side.
TPoint ConstrainCorner(TPoint previous, TPoint point);

// The four corners of a box in the order of a rectangle selection.
void SetRectangle(TSelectionOutline& selection, const TRectInclusive& box);

// Adds the rectangle with corners (x1, y1) and (x2, y2), bitmap coordinates in any order, clamped
// to the bitmap: after a break marker when additive and points exist, else in place of them.
void AddRectangle(TSelectionOutline& selection, int x1, int y1, int x2, int y2, bool additive, TSize bitmap);

// The points of the ellipse a drag draws around client point `centre` with radii rx and ry (client
// pixels): n = trunc(min(rx, ry) x 2 pi) div 4 of them, at least 3, at equal angles from 0,
// each turned into a bitmap point and clamped to the bitmap.
std::vector<TPoint> EllipsePoints(TPoint centre, int rx, int ry, const TViewGeometry& geometry);

// The client point moved into the drawn image (origin ImageOffset, extent DrawnExtent).
TPoint ClampToDrawnImage(TPoint point, const TViewGeometry& geometry);
// How far a client point lies outside the drawn image on each axis: negative left of or above
// it, positive right of or below it, 0 within. A selection gesture scrolls the view by this much.
TPoint AutoScrollDistance(TPoint point, const TViewGeometry& geometry);

// The zoom that shows the box whole in the control's outer size, as the select-zoom mode asks:
// min(outer height / (box height / 100), outer width / (box width / 100)), truncated.
int ZoomForBox(const TRectInclusive& box, TSize outer);
// The origin that centres the box in the client area at `zoom`.
TPoint OriginForBox(const TRectInclusive& box, int zoom, TSize client);

}  // namespace veilora
