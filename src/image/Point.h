#pragma once

namespace veilora {

// A point in pixels: bitmap coordinates, client coordinates or a scroll origin, as the user says.
struct TPoint {
  int x = 0;
  int y = 0;
  bool operator==(const TPoint&) const = default;
};

}  // namespace veilora
