#pragma once

// The per-file parameter record: what a reader found in a file and what a writer is asked to
// produce. Every codec reads and writes its own fields; fields a reader does not touch keep the
// values of earlier loads or of the save options.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/BaseView.h"
#include "image/Colour.h"

namespace veilora {

class TStream;
class TImageIO;

// File-type codes, stored in FileType and in the format registry.
enum TFileTypeCode : std::int32_t {
  ftUnknown = 0,
  ftTIFF = 1,
  ftGIF = 2,
  ftJPEG = 3,
  ftPCX = 4,
  ftBMP = 5,
  ftICO = 6,
  ftCUR = 7,
  ftPNG = 8,
  ftWMF = 9,
  ftEMF = 10,
  ftTGA = 11,
};

// The LZW coders are installed at start-up into process-wide hooks (empty until then), and every
// new parameter record copies them.
//
// GIF decoder: the stream stands on the minimum-code-size byte; fills height x width indices.
// Returns how many pixels it stored, counted in the order the data fill the image (rows top to
// bottom, or the interlace passes): height x width for a whole image, fewer when the data end or
// go bad part-way, and those pixels are good. After a bad code (or a minimum code size it cannot
// use) the stream is put back where it was; otherwise it is left after the block terminator.
using TGifLzwDecompress = std::int64_t (*)(TStream& stream, std::int32_t height, std::int32_t width,
                                           bool interlaced, std::uint8_t* dest);
// GIF encoder: writes the minimum-code-size byte, the sub-blocks and the terminator.
using TGifLzwCompress = void (*)(TStream& stream, std::int32_t height, std::int32_t width, bool interlaced,
                                 const std::uint8_t* source, std::int32_t bitsPerPixel);
// TIFF decoder, called once per row of a strip with the strip's data (the state is created on
// the first call) and once with null data to free the state. Returns the decoded row, or null on
// error.
struct TTiffLzwDecoder;
using TTiffLzwDecompress = const std::uint8_t* (*)(const std::uint8_t* data, std::size_t dataBytes,
                                                   std::int32_t rowLength, TTiffLzwDecoder*& state);
// TIFF encoder, called once per row and once with null data to finish the strip.
struct TTiffLzwEncoder;
using TTiffLzwCompress = void (*)(const std::uint8_t* row, std::int32_t length, TStream& output,
                                  TTiffLzwEncoder*& state);

struct TLzwHooks {
  TGifLzwDecompress gifDecompress = nullptr;
  TGifLzwCompress gifCompress = nullptr;
  TTiffLzwDecompress tiffDecompress = nullptr;
  TTiffLzwCompress tiffCompress = nullptr;
};
// The process-wide hooks. Written at start-up, read when a parameter record is reset.
TLzwHooks& GlobalLzwHooks();

// The resolution given to images whose file holds none: the screen's logical dots per inch,
// set at start-up (96 until then).
struct TDefaultResolution {
  std::int32_t dpiX = 96;
  std::int32_t dpiY = 96;
};
TDefaultResolution& DefaultResolution();

// A date and time as days since 30 December 1899, the fraction being the time of day.
using TDateTime = double;
// Today's local date at 00:00.
TDateTime Today();
// The civil date (proleptic Gregorian; month 1..12, day 1..31) at 00:00.
TDateTime EncodeDate(int year, int month, int day);

class TIOParams : public TObject {
 public:
  // `owner` gives the defaults of Width, Height and the resolution (its bitmap and view).
  explicit TIOParams(const TImageIO* owner = nullptr);

  // Every field back to its default.
  void Reset();
  // Copies every field, the colour map included.
  void Assign(const TIOParams& other);

  const TImageIO* Owner() const { return owner_; }

  std::int32_t BitsPerSample;
  std::int32_t SamplesPerPixel;
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t DpiX;
  std::int32_t DpiY;
  std::int32_t FileType;

  std::uint8_t TiffCompression;
  std::int32_t TiffImageIndex;
  std::uint8_t TiffPhotometric;
  std::int32_t TiffPlanarConfig;
  std::int32_t TiffXPos;
  std::int32_t TiffYPos;
  std::string TiffDocumentName;
  std::string TiffImageDescription;
  std::string TiffPageName;
  std::int32_t TiffPageNumber;
  std::int32_t TiffPageCount;
  TTiffLzwDecompress TiffLzwDecompress;
  TTiffLzwCompress TiffLzwCompress;

  std::string GifVersion;
  std::int32_t GifImageIndex;
  std::int32_t GifXPos;
  std::int32_t GifYPos;
  std::int32_t GifDelayTime;
  bool GifHasTransparent;
  TRGB GifTransparentColor;
  bool GifInterlaced;
  std::int32_t GifScreenWidth;
  std::int32_t GifScreenHeight;
  TRGB GifBackground;
  std::int32_t GifAspectRatio;
  TGifLzwDecompress GifLzwDecompress;
  TGifLzwCompress GifLzwCompress;

  std::uint8_t JpegColorSpace;
  std::int32_t JpegQuality;
  std::uint8_t JpegDctMethod;
  bool JpegOptimalHuffman;
  std::int32_t JpegSmoothing;
  bool JpegProgressive;
  std::uint8_t JpegScale;

  std::int32_t PcxVersion;
  std::uint8_t PcxCompression;

  std::uint8_t BmpVersion;
  std::uint8_t BmpCompression;

  std::int32_t IcoImageIndex;
  TRGB IcoBackground;
  std::int32_t CurImageIndex;
  std::int32_t CurHotSpotX;
  std::int32_t CurHotSpotY;
  TRGB CurBackground;

  bool PngInterlaced;
  TRGB PngBackground;
  std::uint8_t PngFilter;
  std::int32_t PngCompression;

  std::int32_t TgaXPos;
  std::int32_t TgaYPos;
  bool TgaCompressed;
  std::string TgaDescription;
  std::string TgaAuthor;
  TDateTime TgaDate;
  std::string TgaName;
  TRGB TgaBackground;
  double TgaAspectRatio;
  double TgaGamma;
  bool TgaGrayLevel;

  // Set when the user chose the colours of the next save (the save options); a load clears it.
  // Without it, a save of an image that holds a hidden text uses true colour where the format has it.
  bool SaveColoursChosen;

  std::string FileName;
  // The palette of the last palette image loaded or written; empty for none.
  std::vector<TRGB> ColorMap;
  std::int32_t ColorMapCount;

  // Sets ColorMap to `count` entries (all black) and ColorMapCount to match.
  void SetColorMap(std::size_t count);
  void FreeColorMap();

 private:
  const TImageIO* owner_;
};

}  // namespace veilora
