#include "image/MagicWand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/Selection.h"

using namespace veilora;

namespace {

// A 24-bit bitmap drawn from rows of characters: '#' dark, '+' nearly dark, '.' light.
void Draw(TBitmap& bitmap, const std::vector<std::string>& rows) {
  bitmap.SetSize(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      const char c = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
      const std::uint8_t value = c == '#' ? 10 : c == '+' ? 40 : 250;
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = value;
    }
  }
}

// What the even-odd fill of the outline covers, drawn as rows.
std::vector<std::string> Covered(const std::vector<TPoint>& outline, int width, int height) {
  std::vector<std::string> rows(static_cast<std::size_t>(height),
                                std::string(static_cast<std::size_t>(width), '.'));
  FillPolygonSpans(outline, width, height, [&](int y, int begin, int end) {
    for (int x = begin; x < end; ++x) rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = '#';
  });
  return rows;
}

TEST(MagicWand, TheFillOfTheOutlineIsExactlyTheGrownRegion) {
  struct Row {
    const char* name;
    std::vector<std::string> picture;
    int x, y;
    std::vector<std::string> region;
  };
  const Row rows[] = {
      {"a ring keeps its hole",
       {"#####", "#...#", "#.#.#", "#...#", "#####"},
       0,
       0,
       {"#####", "#...#", "#...#", "#...#", "#####"}},
      {"corner neighbours are not joined", {"#..", ".#.", "..."}, 0, 0, {"#..", "...", "..."}},
      {"similar shades join, an edge pixel too", {"..+#", "...#", "##.."}, 3, 0, {"..##", "...#", "...."}},
      {"a hole and a notch at the border",
       {"####", "#.##", "###.", "####"},
       1,
       3,
       {"####", "#.##", "###.", "####"}},
  };
  for (const Row& row : rows) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    Draw(bitmap, row.picture);
    const std::vector<TPoint> outline = MagicWandOutline(bitmap, row.x, row.y);
    std::vector<std::string> expected = row.region;
    EXPECT_EQ(Covered(outline, bitmap.Width(), bitmap.Height()), expected) << row.name;
  }
}

TEST(MagicWand, OutsideTheBitmapGivesNothing) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  Draw(bitmap, {"##", "##"});
  EXPECT_TRUE(MagicWandOutline(bitmap, 2, 0).empty());
  EXPECT_EQ(MagicWandOutline(bitmap, 0, 0), (std::vector<TPoint>{{2, 0}, {2, 2}, {0, 2}, {0, 0}}));
}

}  // namespace
