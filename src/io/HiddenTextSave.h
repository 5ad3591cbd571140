#pragma once

// What a save does to the hidden text of the image it writes. The text lives in the low bits of
// the 24-bit pixels, so it survives only a format and mode that store those bytes unchanged; a
// picture that was loaded from a palette or grey file keeps that file's depth in its parameter
// record, and saving it as it came would quietly drop the message the user has since written.

#include <cstdint>
#include <string>

#include "image/Bitmap.h"
#include "io/IOParams.h"

namespace veilora {

enum class THiddenTextSave {
  NoText,     // the image holds no hidden text: nothing to keep
  Kept,       // the save stores the pixels unchanged, and the text with them
  Destroyed,  // the format or the chosen mode changes the pixels: the text will be lost
};

// Whether writing `fileType` with these parameters stores a 24-bit image's bytes unchanged: BMP,
// PCX, PNG and TGA in true colour, TIFF in RGB or CMYK (whose conversion reverses exactly). JPEG is
// lossy and GIF holds 256 colours; formats added through the registry are not known to keep them.
bool SaveKeepsPixels(std::int32_t fileType, const TIOParams& params);

// Run before a save of `bitmap` in `fileType`. When the bitmap holds a hidden text and the user has
// not chosen the save's colours (params.SaveColoursChosen), the parameters are set to true colour
// where the format has it. Then says whether the text survives the save.
THiddenTextSave PrepareHiddenTextSave(const TBitmap& bitmap, std::int32_t fileType, TIOParams& params);

// The format and mode a save would write, as a user reads it in a question: "JPEG", "GIF",
// "PNG with 256 colours", "BMP in two colours".
std::string SaveModeName(std::int32_t fileType, const TIOParams& params);

}  // namespace veilora
