#pragma once

// Copying the selected part of an image: the pixels a selection covers, as the clipboard commands
// and the crop command take them.

#include "image/BaseView.h"
#include "image/Bitmap.h"
#include "image/Selection.h"

namespace veilora {

// The selection of `view` that the commands work on: its outline when it has points, else null
// (the whole image).
const TSelectionOutline* ActiveSelection(const TBaseView* view);

// True for no selection and for a rectangle selection; false for a region.
bool IsPlainRectangle(const TSelectionOutline* selection);

// Makes `target` the region's copy: (x2 - x1) x (y2 - y1) pixels in the source's format, white
// where no part covers it, the source's pixels where one does (each part shifted by (-x1, -y1) and
// filled by the even-odd rule). So a rectangle from (x1, y1) to (x2, y2) gives columns x1..x2-1 and
// rows y1..y2-1.
void CopyRegion(const TBitmap& source, const TSelectionOutline& selection, TBitmap& target);

// Calls fill(x1, y, x2) for every run of pixels (x2 exclusive) the selection's parts cover inside
// the image.
void ForEachRegionSpan(const TSelectionOutline& selection, int width, int height,
                       const std::function<void(int y, int xBegin, int xEnd)>& fill);

// The crop command: the target bitmap becomes the copy of the selected area (CopyRegion), or of
// the whole image without a selection. A view target also takes the source's Background and
// resolution, then updates and raises its image change.
void CopySelectionTo(const TBaseView& source, TBitmap& target);
void CopySelectionTo(const TBaseView& source, TBaseView& target);

}  // namespace veilora
