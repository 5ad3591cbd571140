#include "io/ColorQuantizer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace veilora {

// The per-cell counters are 32-bit. The bitmap refuses pixel memory over kMaxPixelBytes, so a
// 24-bit image holds fewer than 2^31 pixels and no counter can overflow; pixel count, weights and
// moments are 64-bit all the same.
static_assert(kMaxPixelBytes / 3 <= std::numeric_limits<std::int32_t>::max());

namespace {

constexpr int kAxes = 3;   // red 0, green 1, blue 2: this order decides every tie
constexpr int kSide = 32;  // cell coordinates per axis (5 bits)

// The total that marks an axis without a cut; above any real total, which cannot exceed
// 3 x 15.5^2 for coordinates 0 to 31.
constexpr double kNoCut = 17523.6;

int RoundHalfEven(double value) {
  // Default floating-point environment: round to nearest, ties to even.
  return static_cast<int>(std::nearbyint(value));
}

int CellIndex(int r5, int g5, int b5) {
  return r5 << 10 | g5 << 5 | b5;
}

// The standard 8 x 8 Bayer matrix, indexed [column mod 8][row mod 8].
constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

// Progress after `rowsDone` rows: the integer part of 100 / (height + 0.5) x rows done.
void ReportRow(const TProgressContext& progress, int height, int rowsDone) {
  if (!progress.HasHandler()) return;
  progress.Report(static_cast<int>(100.0 / (height + 0.5) * rowsDone));
}

// A 24-bit pixel as one number, red x 65536 + green x 256 + blue.
std::uint32_t PixelKey(const std::uint8_t* pixel) {
  return static_cast<std::uint32_t>(pixel[2]) << 16 | static_cast<std::uint32_t>(pixel[1]) << 8 | pixel[0];
}

TRGB KeyColour(std::uint32_t key) {
  return TRGB{static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(key >> 8),
              static_cast<std::uint8_t>(key >> 16)};
}

// The slots of the distinct-colour tables: a power of two above twice the largest table, so
// linear probing always finds an empty slot and stays short.
constexpr std::size_t kExactSlots = 1024;

std::size_t SlotOf(std::uint32_t key) {
  return (key * 2654435761u) >> 22;  // the top 10 bits of a multiplicative hash
}

// The slot holding `key`, or the empty slot where it belongs.
template <typename Slot>
std::size_t FindSlot(const std::vector<Slot>& slots, std::uint32_t key) {
  std::size_t slot = SlotOf(key);
  while (slots[slot].key != 0 && slots[slot].key != key) slot = (slot + 1) % kExactSlots;
  return slot;
}

// sum / count rounded to the nearest integer, ties to even; 0 for no pixels.
std::uint8_t MeanByte(std::int64_t sum, std::int64_t count) {
  if (count == 0) return 0;
  std::int64_t quotient = sum / count;
  const std::int64_t twice = 2 * (sum % count);
  if (twice > count || (twice == count && (quotient & 1) != 0)) ++quotient;
  return static_cast<std::uint8_t>(quotient);
}

// Inverts the pixel bits of a 1-bit image; the bits past the width stay zero.
void InvertBits(TBitmap& image) {
  const int width = image.Width();
  const std::size_t wholeBytes = static_cast<std::size_t>(width) / 8;
  const int rest = width % 8;
  const auto lastMask = static_cast<std::uint8_t>(0xFF00u >> rest);
  for (int y = 0; y < image.Height(); ++y) {
    std::uint8_t* row = image.ScanLine(y);
    for (std::size_t i = 0; i < wholeBytes; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
    if (rest != 0) row[wholeBytes] = static_cast<std::uint8_t>(~row[wholeBytes] & lastMask);
  }
}

}  // namespace

struct TColorQuantizer::Box {
  double variance = 0;                   // the box's spread, normalised by the image's pixel count
  double mean[kAxes] = {};               // mean cell coordinate per axis
  std::int64_t weight = 0;               // pixels in the box
  std::int32_t hist[kAxes][kSide] = {};  // pixel counts per coordinate, per axis
  int low[kAxes] = {};                   // inclusive
  int high[kAxes] = {};                  // exclusive
};

TColorQuantizer::TColorQuantizer(const TBitmap& source24, TRGB* table, int n)
    : histogram_(new std::int32_t[kCells]()),
      boxes_(new Box[kMaxColors]),
      cellMap_(new std::uint8_t[kCells]()) {
  if (table == nullptr || n < 1) return;
  const int wanted = std::min(n, kMaxColors);

  if (source24.PixelFormat() == pf24bit && !source24.Empty()) BuildHistogram(source24);

  Box& whole = boxes_[0];
  for (int axis = 0; axis < kAxes; ++axis) {
    whole.low[axis] = 0;
    whole.high[axis] = kSide;
  }
  for (int cell = 0; cell < kCells; ++cell) {
    const std::int32_t count = histogram_[cell];
    if (count == 0) continue;
    whole.hist[0][cell >> 10] += count;
    whole.hist[1][(cell >> 5) & 31] += count;
    whole.hist[2][cell & 31] += count;
  }
  whole.weight = pixelCount_;
  ComputeStatistics(whole);

  int made = 1;
  while (made < wanted) {
    int pick = -1;
    double largest = 0;
    for (int i = 0; i < made; ++i) {
      if (boxes_[i].variance > largest) {
        largest = boxes_[i].variance;
        pick = i;
      }
    }
    if (pick < 0) break;
    if (CutBox(boxes_[pick], boxes_[made])) ++made;
  }
  boxCount_ = made;

  for (int i = 0; i < made; ++i) {
    const Box& box = boxes_[i];
    for (int r = box.low[0]; r < box.high[0]; ++r) {
      for (int g = box.low[1]; g < box.high[1]; ++g) {
        std::memset(&cellMap_[CellIndex(r, g, box.low[2])], i,
                    static_cast<std::size_t>(box.high[2] - box.low[2]));
      }
    }
  }
  FillTable(source24, table, wanted);
}

void TColorQuantizer::FillTable(const TBitmap& source, TRGB* table, int wanted) {
  // Per box: its pixels and their channel sums (blue, green, red). Every occupied cell lies in
  // exactly one box, so the cell map sends each pixel to the box it was counted in.
  std::array<std::array<std::int64_t, 3>, kMaxColors> sums{};
  std::array<std::int64_t, kMaxColors> counts{};
  // The image's distinct colours and their pixel counts, while there are at most `wanted`.
  struct Seen {
    std::uint32_t key = 0;  // PixelKey + 1; 0 is an empty slot
    std::int64_t count = 0;
  };
  std::vector<Seen> seen(kExactSlots);
  int distinct = 0;
  bool few = true;
  if (source.PixelFormat() == pf24bit && !source.Empty()) {
    const std::size_t width = static_cast<std::size_t>(source.Width());
    for (int y = 0; y < source.Height(); ++y) {
      const std::uint8_t* pixel = source.ScanLine(y);
      std::uint32_t lastKey = 0;
      std::size_t lastSlot = 0;
      for (std::size_t x = 0; x < width; ++x, pixel += 3) {
        const int box = cellMap_[CellOf(TRGB{pixel[0], pixel[1], pixel[2]})];
        ++counts[static_cast<std::size_t>(box)];
        for (std::size_t c = 0; c < 3; ++c) sums[static_cast<std::size_t>(box)][c] += pixel[c];
        if (!few) continue;
        const std::uint32_t key = PixelKey(pixel) + 1;
        if (key != lastKey) {
          lastSlot = FindSlot(seen, key);
          if (seen[lastSlot].key == 0) {
            if (++distinct > wanted) {
              few = false;
              continue;
            }
            seen[lastSlot].key = key;
          }
          lastKey = key;
        }
        ++seen[lastSlot].count;
      }
    }
  }

  for (int i = 0; i < boxCount_; ++i) {
    const auto box = static_cast<std::size_t>(i);
    const auto channel = [&](std::size_t c) { return MeanByte(sums[box][c], counts[box]); };
    table[i] = TRGB{channel(0), channel(1), channel(2)};
  }
  entryCount_ = boxCount_;
  if (!few || distinct == 0) return;

  // A few-colour image: where a box holds several colours, the most frequent one stands for the
  // box and the others get entries of their own.
  struct Colour {
    int box;
    std::uint32_t key;
    std::int64_t count;
  };
  std::vector<Colour> colours;
  for (const Seen& slot : seen) {
    if (slot.key == 0) continue;
    const std::uint32_t key = slot.key - 1;
    colours.push_back({cellMap_[CellOf(KeyColour(key))], key, slot.count});
  }
  if (static_cast<int>(colours.size()) == boxCount_) return;  // one colour a box: the means are exact
  std::sort(colours.begin(), colours.end(), [](const Colour& a, const Colour& b) {
    if (a.box != b.box) return a.box < b.box;
    if (a.count != b.count) return a.count > b.count;
    return a.key < b.key;
  });
  std::vector<std::uint32_t> extras;
  exactSlots_ = std::make_unique<ExactSlot[]>(kExactSlots);
  for (std::size_t k = 0; k < colours.size(); ++k) {
    if (k == 0 || colours[k].box != colours[k - 1].box) {
      table[colours[k].box] = KeyColour(colours[k].key);
      PutExact(colours[k].key, colours[k].box);
    } else {
      extras.push_back(colours[k].key);
    }
  }
  std::sort(extras.begin(), extras.end());
  for (const std::uint32_t key : extras) {
    table[entryCount_] = KeyColour(key);
    PutExact(key, entryCount_++);
  }
}

void TColorQuantizer::PutExact(std::uint32_t key, int index) {
  ExactSlot* slots = exactSlots_.get();
  std::size_t slot = SlotOf(key + 1);
  while (slots[slot].key != 0) slot = (slot + 1) % kExactSlots;
  slots[slot].key = key + 1;
  slots[slot].index = static_cast<std::uint8_t>(index);
}

int TColorQuantizer::ExactIndex(TRGB colour) const {
  const std::uint32_t key = (static_cast<std::uint32_t>(colour.r) << 16 | colour.g << 8 | colour.b) + 1;
  const ExactSlot* slots = exactSlots_.get();
  for (std::size_t slot = SlotOf(key); slots[slot].key != 0; slot = (slot + 1) % kExactSlots) {
    if (slots[slot].key == key) return slots[slot].index;
  }
  return cellMap_[CellOf(colour)];
}

TColorQuantizer::~TColorQuantizer() = default;

void TColorQuantizer::BuildHistogram(const TBitmap& source) {
  const int width = source.Width();
  const int height = source.Height();
  pixelCount_ = static_cast<std::int64_t>(width) * height;
  std::int32_t* counts = histogram_.get();
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* pixel = source.ScanLine(y);
    // All but the last pixel of a row are read as four bytes (blue, green, red and the next
    // pixel's blue), which one load and three masks turn into the cell number; the last is read
    // bytewise, as its fourth byte may lie past the pixel block.
    const std::uint8_t* const last = pixel + 3 * (static_cast<std::size_t>(width) - 1);
    for (; pixel != last; pixel += 3) {
      std::uint32_t word;
      std::memcpy(&word, pixel, sizeof word);
      if constexpr (std::endian::native == std::endian::little) {
        ++counts[(word >> 3 & 0x1F) | (word >> 6 & 0x3E0) | (word >> 9 & 0x7C00)];
      } else {
        ++counts[CellOf(TRGB{pixel[0], pixel[1], pixel[2]})];
      }
    }
    ++counts[CellOf(TRGB{pixel[0], pixel[1], pixel[2]})];
  }
}

void TColorQuantizer::ComputeStatistics(Box& box) const {
  if (box.weight == 0) {
    box.variance = 0;
    return;
  }
  const auto weight = static_cast<double>(box.weight);
  double total = 0;
  for (int axis = 0; axis < kAxes; ++axis) {
    std::int64_t s1 = 0;
    std::int64_t s2 = 0;
    for (int j = box.low[axis]; j < box.high[axis]; ++j) {
      const std::int64_t count = box.hist[axis][j];
      s1 += j * count;
      s2 += j * j * count;
    }
    const double mean = static_cast<double>(s1) / weight;
    box.mean[axis] = mean;
    total += static_cast<double>(s2) - mean * mean * weight;
  }
  box.variance = total / static_cast<double>(pixelCount_);
}

void TColorQuantizer::RebuildAxisHistograms(Box& box) const {
  std::memset(box.hist, 0, sizeof box.hist);
  for (int r = box.low[0]; r < box.high[0]; ++r) {
    for (int g = box.low[1]; g < box.high[1]; ++g) {
      const std::int32_t* counts = &histogram_[CellIndex(r, g, 0)];
      std::int32_t line = 0;
      for (int b = box.low[2]; b < box.high[2]; ++b) {
        line += counts[b];
        box.hist[2][b] += counts[b];
      }
      box.hist[0][r] += line;
      box.hist[1][g] += line;
    }
  }
}

bool TColorQuantizer::TryCutOnAxis(const Box& box, int axis, Box& first, Box& second) const {
  const int low = box.low[axis];
  const int high = box.high[axis];
  if (high - low == 1) return false;

  const double mean = box.mean[axis];
  const std::int32_t* hist = box.hist[axis];
  const int start = RoundHalfEven((low + mean) * 0.5);
  const int end = RoundHalfEven((mean + high) * 0.5);
  const std::int64_t weight = box.weight;

  std::int64_t w = 0;
  for (int j = low; j < start; ++j) w += hist[j];
  // u sums only the coordinates from the range start on; the criterion is the one the method
  // defines, not a textbook between-class variance.
  double u = 0;
  double best = -1;
  int cut = start;
  std::int64_t bestWeight = weight;
  // The last occupied coordinate lies inside the range or beyond it, and there w reaches the
  // weight, so j never passes high - 1; the bound on high only guards the histogram.
  for (int j = start; j <= end && j < high; ++j) {
    w += hist[j];
    if (w == weight) break;
    u += static_cast<double>(hist[j] * static_cast<std::int64_t>(j)) / static_cast<double>(weight);
    const double criterion =
        static_cast<double>(w) / static_cast<double>(weight - w) * ((mean - u) * (mean - u));
    if (criterion > best) {
      best = criterion;
      cut = j;
      bestWeight = w;
    }
  }
  if (bestWeight == 0 || bestWeight == weight) return false;

  first = box;
  second = box;
  first.weight = bestWeight;
  first.high[axis] = cut + 1;
  second.weight = weight - bestWeight;
  second.low[axis] = cut + 1;

  RebuildAxisHistograms(first);
  for (int a = 0; a < kAxes; ++a) {
    for (int j = 0; j < kSide; ++j) second.hist[a][j] -= first.hist[a][j];
  }
  for (Box* part : {&first, &second}) {
    for (int a = 0; a < kAxes; ++a) {
      int lo = part->low[a];
      int hi = part->high[a];
      while (lo < hi && part->hist[a][lo] == 0) ++lo;
      while (hi > lo && part->hist[a][hi - 1] == 0) --hi;
      part->low[a] = lo;
      part->high[a] = hi;
    }
    ComputeStatistics(*part);
  }
  return true;
}

bool TColorQuantizer::CutBox(Box& box, Box& second) const {
  if (box.variance == 0 || box.weight == 0) {
    box.variance = 0;
    return false;
  }
  Box parts[kAxes][2];
  double total[kAxes];
  for (int axis = 0; axis < kAxes; ++axis) {
    total[axis] = TryCutOnAxis(box, axis, parts[axis][0], parts[axis][1])
                      ? parts[axis][0].variance + parts[axis][1].variance
                      : kNoCut;
  }
  int chosen = -1;
  for (int axis = 0; axis < kAxes && chosen < 0; ++axis) {
    if (total[axis] < kNoCut && total[axis] <= total[(axis + 1) % kAxes] &&
        total[axis] <= total[(axis + 2) % kAxes]) {
      chosen = axis;
    }
  }
  if (chosen < 0) {
    box.variance = 0;
    return false;
  }
  box = parts[chosen][0];
  second = parts[chosen][1];
  return true;
}

int Luminance(TRGB colour) {
  const int sum = 21 * colour.r + 71 * colour.g + 7 * colour.b;
  int quotient = sum / 100;
  const int remainder = sum % 100;
  if (remainder > 50 || (remainder == 50 && (quotient & 1) != 0)) ++quotient;
  return quotient;
}

std::unique_ptr<TBitmap> TwoColorTo1Bit(const TBitmap& image, TRGB& colour0, TRGB& colour1) {
  if (image.PixelFormat() != pf24bit) return nullptr;
  const int width = image.Width();
  const int height = image.Height();
  auto result = std::make_unique<TBitmap>(width, height, pf1bit);

  // Distinct colours are counted exactly by comparing with the first two met: any pixel equal to
  // neither is a third. The count is checked at the start of each row, as the walk stops there.
  int distinct = 0;
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  for (int y = 0; y < height && distinct <= 2; ++y) {
    const std::uint8_t* pixel = image.ScanLine(y);
    std::uint8_t* out = result->ScanLine(y);
    bool third = false;
    int x = 0;
    // Until both colours are known, pixel by pixel.
    for (; x < width && distinct < 2; ++x, pixel += 3) {
      const std::uint32_t key = PixelKey(pixel);
      if (distinct == 0) {
        first = key;
        distinct = 1;
      } else if (key != first) {
        second = key;
        distinct = 2;
        out[x >> 3] |= static_cast<std::uint8_t>(0x80u >> (x & 7));
      }
    }
    // Then eight pixels to a byte where the row allows it.
    for (; x < width && (x & 7) != 0; ++x, pixel += 3) {
      const std::uint32_t key = PixelKey(pixel);
      third |= key != first && key != second;
      out[x >> 3] |= static_cast<std::uint8_t>((key != first ? 0x80u : 0u) >> (x & 7));
    }
    for (; x + 8 <= width; x += 8) {
      unsigned bits = 0;
      for (int k = 0; k < 8; ++k, pixel += 3) {
        const std::uint32_t key = PixelKey(pixel);
        third |= key != first && key != second;
        bits = bits << 1 | static_cast<unsigned>(key != first);
      }
      out[x >> 3] = static_cast<std::uint8_t>(bits);
    }
    for (; x < width; ++x, pixel += 3) {
      const std::uint32_t key = PixelKey(pixel);
      third |= key != first && key != second;
      out[x >> 3] |= static_cast<std::uint8_t>((key != first ? 0x80u : 0u) >> (x & 7));
    }
    if (third) distinct = 3;
  }
  if (distinct != 2) return nullptr;

  TRGB colourA = KeyColour(first);
  TRGB colourB = KeyColour(second);
  if (Luminance(colourB) < Luminance(colourA)) {
    InvertBits(*result);
    std::swap(colourA, colourB);
  }
  colour0 = colourA;
  colour1 = colourB;
  return result;
}

void DitherTo1Bit(TBitmap& image, const TProgressContext& progress) {
  if (image.PixelFormat() != pf24bit) return;
  const int width = image.Width();
  const int height = image.Height();

  // Brightness 0 to 63: ((21 red + 71 green + 7 blue) div 100) div 4, which is the sum div 400.
  static const auto kWeighted = [] {
    std::array<std::array<std::uint16_t, 256>, 3> weighted{};
    for (int v = 0; v < 256; ++v) {
      weighted[0][v] = static_cast<std::uint16_t>(7 * v);   // blue
      weighted[1][v] = static_cast<std::uint16_t>(71 * v);  // green
      weighted[2][v] = static_cast<std::uint16_t>(21 * v);  // red
    }
    return weighted;
  }();

  TBitmap result(width, height, pf1bit);
  for (int y = 0; y < height; ++y) {
    std::uint8_t threshold[8];
    for (int k = 0; k < 8; ++k) threshold[k] = kBayer[k][y & 7];
    const std::uint8_t* pixel = image.ScanLine(y);
    std::uint8_t* out = result.ScanLine(y);
    for (int x = 0; x < width; x += 8) {
      const int count = std::min(8, width - x);
      unsigned bits = 0;
      for (int k = 0; k < count; ++k, pixel += 3) {
        const unsigned brightness =
            (kWeighted[0][pixel[0]] + kWeighted[1][pixel[1]] + kWeighted[2][pixel[2]]) / 400u;
        bits |= static_cast<unsigned>(brightness > threshold[k]) << (7 - k);
      }
      out[x >> 3] = static_cast<std::uint8_t>(bits);
    }
    ReportRow(progress, height, y + 1);
  }
  image.Swap(result);
}

void Expand1BitTo24Bit(const TBitmap& source, TBitmap& destination, const TProgressContext& progress) {
  TBitmap result;
  if (source.PixelFormat() != pf1bit) {
    ConvertTo24Bit(source, result);
    destination.Swap(result);
    return;
  }

  // Eight ready-made pixels per byte value, the most significant bit first.
  static const auto kPixels = [] {
    std::array<std::array<std::uint8_t, 24>, 256> pixels{};
    for (int value = 0; value < 256; ++value) {
      for (int k = 0; k < 8; ++k) {
        const std::uint8_t level = (value >> (7 - k)) & 1 ? 255 : 0;
        std::memset(&pixels[value][3 * k], level, 3);
      }
    }
    return pixels;
  }();

  const int width = source.Width();
  const int height = source.Height();
  result.Allocate(width, height, pf24bit);
  const std::size_t wholeBytes = static_cast<std::size_t>(width) / 8;
  const std::size_t rest = static_cast<std::size_t>(width) % 8;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = source.ScanLine(y);
    std::uint8_t* out = result.ScanLine(y);
    for (std::size_t i = 0; i < wholeBytes; ++i, out += 24) std::memcpy(out, kPixels[in[i]].data(), 24);
    if (rest != 0) std::memcpy(out, kPixels[in[wholeBytes]].data(), 3 * rest);
    ReportRow(progress, height, y + 1);
  }
  destination.Swap(result);
}

int NearestColorIndex(const TRGB* table, int count, TRGB colour) {
  int best = 0;
  int bestDistance = 1000;  // above the largest distance, 3 x 255
  for (int i = 0; i < count; ++i) {
    const int distance =
        std::abs(table[i].r - colour.r) + std::abs(table[i].g - colour.g) + std::abs(table[i].b - colour.b);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

}  // namespace veilora
