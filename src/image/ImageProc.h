#pragma once

// The image-processing component: hidden text, undo and the whole-image commands, working on the
// bitmap of the view it is attached to. Every operation that changes the image follows one frame:
// an undo copy first when AutoUndo is on, then the change, then ReportImageChange.

#include <cstdint>
#include <string>
#include <string_view>

#include "image/ImageComponent.h"

namespace veilora {

class TImageProc : public TImageComponent {
 public:
  // --- Undo: one level, no redo ---

  // When on, every image-changing operation saves an undo copy before it changes anything.
  bool AutoUndo = true;

  // Copies the current image into the undo buffer, replacing what it held.
  virtual void SaveUndo();
  // Copies the undo buffer back into the image; the buffer keeps its copy.
  virtual void Undo();
  // True when the undo buffer holds a copy: it is wider and higher than 1 pixel.
  bool CanUndo() const;
  // Empties the undo buffer (makes it 1x1).
  void ClearUndo();
  const TBitmap& UndoBitmap() const { return undo_; }

  // --- Hidden text (24-bit images only; other images give 0 and stay unchanged) ---

  // Embeds the header with L = length and the data bytes; bits that find no carrier byte are cut.
  // Returns length. A negative length, or no data for a positive one, changes nothing and
  // returns 0.
  std::int32_t WriteHiddenData(const void* data, std::int32_t length);
  std::int32_t WriteHiddenText(std::string_view text);
  // The capacity the status line shows (larger than what fits; see HiddenTextFit).
  std::int32_t HiddenTextSpace() const;
  // The number of data bytes that really fit, so a caller can refuse a text before it is cut.
  std::int32_t HiddenTextFit() const;
  // Returns the stored length L and copies at most min(count, L) data bytes into buffer.
  std::int32_t ReadHiddenData(void* buffer, std::int32_t count) const;
  // Reads the hidden text into `text` and returns its length. Raises ENoHiddenData when the image
  // holds no complete header or a length below 0 or above HiddenTextSpace(); `text` is then left
  // as it was. A non-24-bit image gives an empty text. Positions of a cut text that were never
  // stored read as zero bytes.
  std::int32_t ReadHiddenText(std::string& text) const;

  // --- Selection and clipboard ---
  //
  // The selection is the attached view's outline. A rectangle (or no selection, meaning the whole
  // image) is a plain rectangle x1..x2, y1..y2 inclusive; anything else is a region: the union of
  // its parts, each filled by the even-odd rule inside the bounding box.

  // Puts the whole image on the clipboard.
  void CopyWholeImage();
  // Puts the selection on the clipboard (the whole image without one): a plain rectangle at its
  // inclusive size, a region as its box less one column and row, white outside the parts.
  void CopySelection();
  // With a selection: an undo copy, the selection onto the clipboard (when it can be opened), then
  // the selected area filled with Background. Without one, nothing happens.
  void CutSelection();
  // Replaces the whole image with the clipboard's bitmap (1-bit stays 1-bit, the rest becomes
  // 24-bit). A clipboard without a bitmap it can read changes nothing and saves no undo copy.
  void PasteImage();
  // Stretches the clipboard's bitmap onto the selection's box, last column and row included,
  // picking pixels without blending; without a selection, PasteImage.
  void PasteIntoSelection();

  // --- Whole-image commands ---

  // Fills every pixel with Background (which also wipes any hidden text).
  void ClearImage();
  // Resizes the image, keeping the pixels at the top-left corner and filling new area with
  // Background. A width or height of 0 or less changes nothing.
  void SetImageSize(int width, int height);
  // Turns a 1-bit image into a 24-bit one (set bits white, clear bits black), reporting progress
  // after each row. Other images stay as they are.
  void ConvertToTrueColour();
  // The number of distinct colours in the view's selection box, or the whole image without one.
  // 2 for any 1-bit image, 0 without an image or for other formats.
  std::int32_t CalcColourCount() const;

 private:
  bool HasTrueColourImage() const;
  void SaveUndoIfAuto() {
    if (AutoUndo) SaveUndo();
  }

  TBitmap undo_;
};

}  // namespace veilora
