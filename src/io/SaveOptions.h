#pragma once

// The rules of the save-options dialog that need no window: which pages a page mask shows, how the
// colour boxes map to (samples per pixel, bits per sample), the TIFF photometric rule, the fields
// each page writes back, and the trial save that gives the preview, the compressed size and
// whether the hidden text survives. The dialog itself is a window of the shell; the core reaches
// it through TSaveOptionsDialog, which the shell installs at start-up.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/Bitmap.h"
#include "io/IOParams.h"

namespace veilora {

// Page-mask bits. spAll shows every page, spOwnType the page of the record's own FileType.
enum TSavePage : int {
  spAll = 1,
  spOwnType = 2,
  spJPEG = 4,
  spTIFF = 8,
  spGIF = 16,
  spBMP = 32,
  spPCX = 64,
  spPNG = 128,
  spTGA = 256,
};
constexpr int kEveryPage = spJPEG | spTIFF | spGIF | spBMP | spPCX | spPNG | spTGA;

// TImageIO::PreviewsParams: the dialog opens with "Lock preview" down.
constexpr std::uint32_t ioppDefaultLockPreview = 1;

// The page of a file type (0 for a type without one) and the file type of a page.
int SavePageForFileType(std::int32_t fileType);
std::int32_t FileTypeForSavePage(int page);
// The page for a file name's extension (lower-case, with its dot); 0 when none matches.
int SavePageForExtension(std::string_view extension);
// The pages (spJPEG ... spTGA bits) a mask shows for a record of this file type.
int SavePagesShown(int pageMask, std::int32_t fileType);

// The image's size as a device-independent bitmap: rows of 1 or 24 bits padded to 32 bits.
std::int64_t UncompressedImageBytes(const TBitmap& bitmap);

// The colour box of a page (TIFF, BMP, PCX, PNG, TGA; GIF by bits) and the record's depth fields.
struct TColourDepth {
  std::int32_t samplesPerPixel;
  std::int32_t bitsPerSample;
};
// The depth an item stands for. On the TIFF page a CMYK photometric (item 5) is always four 8-bit
// samples; on the GIF page the item is the bit count less one.
TColourDepth ColourItemDepth(int page, int item, int tiffPhotometricItem);
// The item that shows a record's depth.
int ColourItemFromDepth(int page, std::int32_t samplesPerPixel, std::int32_t bitsPerSample);

// The TIFF colour box after a photometric choice: CMYK, YCbCr and CIELAB force "16M", the two grey
// interpretations force "B/W", both with the box disabled; the others enable it and turn "B/W"
// into "16M".
struct TTiffColourBox {
  int colourItem;
  bool enabled;
};
TTiffColourBox ApplyTiffPhotometricRule(int photometricItem, int colourItem);

// A number typed into an edit: the whole decimal number the text holds (spaces around it allowed),
// else `fallback`.
std::int32_t WholeNumber(std::string_view text, std::int32_t fallback);

// Copies the fields a page edits from one record into another. A page with a colour box also marks
// the target's colours as chosen, so a later save keeps them.
void CopySavePageFields(int page, const TIOParams& from, TIOParams& to);

// What becomes of the image's hidden text when it is saved with a page's options and read again.
enum class THiddenTextFate {
  NoText,  // the image holds no hidden text
  Kept,    // the reloaded picture gives the same message back
  Lost,    // the message is gone or changed
};

// The result of saving an image into memory with one page's options and loading it back.
struct TSaveTrial {
  bool ok = false;         // saved and loaded back
  std::string failure;     // why not, when !ok
  std::int64_t bytes = 0;  // the size of the saved data
  THiddenTextFate hiddenText = THiddenTextFate::NoText;
  std::vector<TRGB> palette;  // the colour table of the saved file; empty for true colour
};

// Saves `source` in the page's format with the page's fields of `values` (and the LZW coders of
// `values`), then loads the data back into `result`. `progress` hears 0..100 over both halves.
// Never throws: a failure is reported in the trial.
TSaveTrial RunSaveTrial(TBitmap& source, int page, const TIOParams& values, TBitmap& result,
                        const TProgressEvent& progress);

// Compares the hidden text of an image with that of its reloaded copy.
THiddenTextFate HiddenTextFate(const TBitmap& original, const TBitmap& reloaded);

class TImageIO;

// The save-options window. Execute shows it modally over `io`'s image and record for the pages
// given (spJPEG ... spTGA bits, at least one) and returns true when the user pressed OK.
class TSaveOptionsDialog {
 public:
  virtual ~TSaveOptionsDialog() = default;
  virtual bool Execute(TImageIO& io, int pages, bool lockPreview) = 0;
};

// The dialog in force (not owned); null until the shell installs one, and then ShowSaveOptions
// returns false.
void SetSaveOptionsDialog(TSaveOptionsDialog* dialog);
TSaveOptionsDialog* SaveOptionsDialog();

}  // namespace veilora
