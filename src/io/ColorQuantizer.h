#pragma once

// Colour reduction shared by the file writers: a palette of at most 256 colours for a true-colour
// image, and the conversions between true colour and the bilevel (1-bit) model, in which bit 0 is
// black and bit 1 white.

#include <cstdint>
#include <memory>

#include "image/Bitmap.h"
#include "image/Colour.h"
#include "io/Progress.h"

namespace veilora {

// Builds a colour table of at most `n` entries (2 to 256) for a 24-bit image by variance-based box
// splitting (Wan, Wong and Prusinkiewicz) of a histogram with 5 bits per channel, and maps any
// colour to an index of that table. All the work is done by the constructor, which fills the first
// ColorCount() entries of `table`; the entries after those are left untouched.
//
// Each box's entry is the mean of the image's pixels that fell into it (per channel, rounded half
// to even), so a box holding one colour gets that colour exactly. An image of at most `n` distinct
// colours keeps every one of them: where several share a box (their 5-bit cells coincide), the
// box's entry is its most frequent colour (the lowest red, green, blue of equally frequent ones)
// and the others get entries after the boxes', in increasing red, green, blue order.
class TColorQuantizer {
 public:
  static constexpr int kCells = 32 * 32 * 32;
  static constexpr int kMaxColors = 256;

  // `table` must have room for `n` entries. A source that is not 24-bit counts as an image without
  // pixels: one black entry.
  TColorQuantizer(const TBitmap& source24, TRGB* table, int n);
  ~TColorQuantizer();
  TColorQuantizer(const TColorQuantizer&) = delete;
  TColorQuantizer& operator=(const TColorQuantizer&) = delete;

  // The table index for a colour: its own entry when it has one past the boxes' entries, else the
  // index of the box holding its cell, or 0 for a cell outside every box.
  int ColorIndex(TRGB colour) const {
    return exactSlots_ != nullptr ? ExactIndex(colour) : cellMap_[CellOf(colour)];
  }

  // The number of table entries made: the number of boxes, plus the entries of colours that
  // share a box with another colour of a few-colour image.
  int ColorCount() const { return entryCount_; }

  // A colour's cell: its channels reduced to 5 bits, red highest.
  static int CellOf(TRGB colour) { return (colour.r >> 3) << 10 | (colour.g >> 3) << 5 | colour.b >> 3; }

 private:
  struct Box;

  void BuildHistogram(const TBitmap& source);
  void ComputeStatistics(Box& box) const;
  bool CutBox(Box& box, Box& second) const;
  bool TryCutOnAxis(const Box& box, int axis, Box& first, Box& second) const;
  void RebuildAxisHistograms(Box& box) const;
  void FillTable(const TBitmap& source, TRGB* table, int wanted);
  int ExactIndex(TRGB colour) const;
  void PutExact(std::uint32_t key, int index);

  std::unique_ptr<std::int32_t[]> histogram_;
  std::unique_ptr<Box[]> boxes_;
  std::unique_ptr<std::uint8_t[]> cellMap_;
  // Pixel count of the image. 64-bit, as are box weights and moments: the image's full width and
  // height are used (not 16-bit truncations), so any image the bitmap accepts is counted in full.
  std::int64_t pixelCount_ = 0;
  int boxCount_ = 0;
  int entryCount_ = 0;
  // For a few-colour image whose colours share boxes: an open-addressing table of the image's
  // colours (key red << 16 | green << 8 | blue, plus one; 0 is an empty slot) and their entries.
  // Null otherwise, and then the cell map alone gives every index.
  struct ExactSlot {
    std::uint32_t key = 0;
    std::uint8_t index = 0;
  };
  std::unique_ptr<ExactSlot[]> exactSlots_;
};

// round((21 red + 71 green + 7 blue) / 100), ties to even: the brightness that decides which of two
// colours becomes black in a bilevel image.
int Luminance(TRGB colour);

// For a 24-bit image holding exactly two distinct colours: a new 1-bit image of the same size and
// the two colours, bit 0's first. Bit 0 is the darker colour, or the one met first (rows from the
// top, pixels from the left) when both are equally bright. Any other image gives null and leaves
// the colours as they were.
std::unique_ptr<TBitmap> TwoColorTo1Bit(const TBitmap& image, TRGB& colour0, TRGB& colour1);

// Converts a 24-bit image in place to 1 bit per pixel with an 8 x 8 ordered dither; other formats
// are left as they are. Reports progress after every row when the context has a handler.
void DitherTo1Bit(TBitmap& image, const TProgressContext& progress);

// Makes `destination` a 24-bit image of the source's size: bit 1 white, bit 0 black. A source that is
// not 1-bit is converted as ConvertTo24Bit does. Reports progress after every row.
void Expand1BitTo24Bit(const TBitmap& source, TBitmap& destination, const TProgressContext& progress);

// The index of the entry nearest to `colour` by the sum of the channel differences; the first of
// equally near entries wins, and an empty table gives 0.
int NearestColorIndex(const TRGB* table, int count, TRGB colour);

}  // namespace veilora
