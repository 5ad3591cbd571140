#pragma once

#include <optional>

#include "image/BaseView.h"
#include "image/Selection.h"

namespace veilora::test {

// A view with no window: it counts display updates and can pretend to have a selection.
class HeadlessView : public TBitmapView {
 public:
  void Update() override { ++updates; }
  std::optional<TRectInclusive> SelectionBounds() const override {
    if (!outline.Empty()) return outline.Bounds();
    return selection;
  }
  const TSelectionOutline* Selection() const override { return outline.Empty() ? nullptr : &outline; }

  int updates = 0;
  std::optional<TRectInclusive> selection;
  TSelectionOutline outline;
};

// Counts the image-change events of a view.
struct ImageChangeCounter {
  explicit ImageChangeCounter(TBitmapView& view) {
    view.OnImageChange = [this](TObject&) { ++count; };
  }
  int count = 0;
};

}  // namespace veilora::test
