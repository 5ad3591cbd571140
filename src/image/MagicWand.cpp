#include "image/MagicWand.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

namespace veilora {
namespace {

// A pixel's colour as 0xRRGGBB; 1-bit pixels show 0 as black and 1 as white.
std::uint32_t PixelColour(const TBitmap& bitmap, int x, int y) {
  const std::uint8_t* row = bitmap.ScanLine(y);
  switch (bitmap.PixelFormat()) {
    case pf24bit:
    case pf32bit: {
      const std::uint8_t* pixel =
          row + static_cast<std::size_t>(x) * (bitmap.PixelFormat() == pf24bit ? 3 : 4);
      return (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
    }
    case pf8bit: {
      const std::uint8_t index = row[x];
      const auto& palette = bitmap.Palette();
      if (index >= palette.size()) return 0;
      return (std::uint32_t{palette[index].red} << 16) | (std::uint32_t{palette[index].green} << 8) |
             palette[index].blue;
    }
    case pf1bit: return ((row[x >> 3] >> (7 - (x & 7))) & 1) != 0 ? 0xFFFFFFu : 0;
  }
  return 0;
}

bool Similar(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance) {
      return false;
    }
  }
  return true;
}

// The grown region as one byte per pixel (1 inside), found with a scan-line fill whose stack
// holds row runs, so that its size follows the region's shape and not its area.
std::vector<std::uint8_t> GrowRegion(const TBitmap& bitmap, int x, int y, int tolerance) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  const std::uint32_t seed = PixelColour(bitmap, x, y);
  const auto at = [&](int px, int py) -> std::uint8_t& {
    return mask[static_cast<std::size_t>(py) * static_cast<std::size_t>(width) +
                static_cast<std::size_t>(px)];
  };
  const auto fits = [&](int px, int py) {
    return at(px, py) == 0 && Similar(PixelColour(bitmap, px, py), seed, tolerance);
  };
  std::vector<TPoint> stack{{x, y}};
  while (!stack.empty()) {
    const TPoint start = stack.back();
    stack.pop_back();
    if (!fits(start.x, start.y)) continue;
    int left = start.x;
    while (left > 0 && fits(left - 1, start.y)) --left;
    int right = start.x;
    while (right + 1 < width && fits(right + 1, start.y)) ++right;
    for (int px = left; px <= right; ++px) at(px, start.y) = 1;
    // One seed per run of fitting pixels in the rows above and below.
    for (const int row : {start.y - 1, start.y + 1}) {
      if (row < 0 || row >= height) continue;
      bool inRun = false;
      for (int px = left; px <= right; ++px) {
        const bool fit = fits(px, row);
        if (fit && !inRun) stack.push_back({px, row});
        inRun = fit;
      }
    }
  }
  return mask;
}

// Directions along pixel edges, turning clockwise on screen (y grows downwards).
constexpr std::array<TPoint, 4> kSteps = {{{1, 0}, {0, 1}, {-1, 0}, {0, -1}}};

class TBoundaryTracer {
 public:
  TBoundaryTracer(const std::vector<std::uint8_t>& mask, int width, int height)
      : mask_(mask),
        width_(width),
        height_(height),
        used_(static_cast<std::size_t>(width + 1) * static_cast<std::size_t>(height + 1), 0) {}

  // Whether the edge leaving corner (x, y) in direction d separates an inside pixel on its right
  // from an outside one on its left.
  bool IsBoundary(int x, int y, int d) const {
    switch (d) {
      case 0: return Inside(x, y) && !Inside(x, y - 1);
      case 1: return Inside(x - 1, y) && !Inside(x, y);
      case 2: return Inside(x - 1, y - 1) && !Inside(x - 1, y);
      default: return Inside(x, y - 1) && !Inside(x - 1, y - 1);
    }
  }
  bool Used(int x, int y, int d) const { return (used_[Corner(x, y)] >> d & 1) != 0; }

  // The loop through the rightward edge leaving (x, y), as the corners where it turns; it ends
  // with (x, y) itself, where the loop turns into that first edge. Turning right first at each
  // corner keeps the inside pixel close, so two pixels that touch only at a corner are passed
  // separately, and each edge has one successor: following them comes back to the first.
  std::vector<TPoint> Trace(int x, int y) {
    std::vector<TPoint> loop;
    const TPoint start{x, y};
    TPoint at = start;
    int d = 0;
    for (;;) {
      used_[Corner(at.x, at.y)] |= static_cast<std::uint8_t>(1u << d);
      at = TPoint{at.x + kSteps[static_cast<std::size_t>(d)].x, at.y + kSteps[static_cast<std::size_t>(d)].y};
      int next = d;
      for (const int turn : {1, 0, 3}) {
        if (IsBoundary(at.x, at.y, (d + turn) % 4)) {
          next = (d + turn) % 4;
          break;
        }
      }
      if (next != d) loop.push_back(at);
      if (at == start && next == 0) return loop;
      d = next;
    }
  }

 private:
  bool Inside(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    return mask_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                 static_cast<std::size_t>(x)] != 0;
  }
  std::size_t Corner(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_ + 1) + static_cast<std::size_t>(x);
  }

  const std::vector<std::uint8_t>& mask_;
  int width_;
  int height_;
  std::vector<std::uint8_t> used_;  // per corner, one bit per direction already walked
};

}  // namespace

std::vector<TPoint> MagicWandOutline(const TBitmap& bitmap, int x, int y, int tolerance) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (x < 0 || y < 0 || x >= width || y >= height) return {};
  const std::vector<std::uint8_t> mask = GrowRegion(bitmap, x, y, tolerance);
  TBoundaryTracer tracer(mask, width, height);
  std::vector<TPoint> outline;
  // Every loop has a rightward edge along the top of an inside pixel; the first one found in
  // reading order belongs to the outer loop, whose last corner is where the holes hang from.
  for (int py = 0; py < height; ++py) {
    for (int px = 0; px < width; ++px) {
      if (!tracer.IsBoundary(px, py, 0) || tracer.Used(px, py, 0)) continue;
      const std::vector<TPoint> loop = tracer.Trace(px, py);
      if (outline.empty()) {
        outline = loop;
        continue;
      }
      const TPoint hub = outline.back();
      outline.push_back(loop.back());
      outline.insert(outline.end(), loop.begin(), loop.end());
      outline.push_back(hub);
    }
  }
  return outline;
}

}  // namespace veilora
