#pragma once

// Turns the samples of one TIFF row into bitmap pixels: blue-green-red, or packed bits for
// two-colour images (bit 1 = white), by the photometric interpretation of the image.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/Colour.h"

namespace veilora {

// PhotometricInterpretation values.
enum TTiffPhotometric : std::uint16_t {
  kTiffWhiteIsZero = 0,
  kTiffBlackIsZero = 1,
  kTiffRgb = 2,
  kTiffPalette = 3,
  kTiffMask = 4,
  kTiffSeparated = 5,
  kTiffYCbCr = 6,
  kTiffCieLab = 8,
};

struct TSampleLayout {
  std::uint16_t photometric = kTiffRgb;
  int bitsPerSample = 8;
  int samplesPerPixel = 3;
  bool separatePlanes = false;
  bool bigEndian = false;  // byte order of 16-bit samples
  int width = 0;
  // YCbCr: one chroma pair covers subsampleH x subsampleV pixels.
  int subsampleH = 1;
  int subsampleV = 1;
  // Palette: the file's colour map as colour triples; must hold 2^bitsPerSample entries.
  std::vector<TRGB> colorMap;
  // YCbCr: the luma weights of red, green and blue and the codes of black and white of Y, Cb, Cr.
  std::array<double, 3> luma{0.299, 0.587, 0.114};
  std::array<double, 6> referenceBlackWhite{0, 255, 128, 255, 128, 255};
  // CMYK: the sample values of 0 % and 100 % ink, scaled to 8 bits.
  int dotLow = 0;
  int dotHigh = 255;
};

class TSampleConverter {
 public:
  // False when this layout has no decoding here (unknown photometric, too few samples, a depth
  // the interpretation does not have, a colour map that is too short).
  bool Setup(const TSampleLayout& layout);

  // Two-colour output: bits per sample and samples per pixel both 1, and a grey or black-and-white
  // palette interpretation.
  bool OneBitOutput() const { return oneBit_; }
  // Sample planes the rows come in (1 unless planes are separate; then one per channel used).
  int Planes() const { return planes_; }
  // Bytes of one row of a plane as the file stores it. For subsampled YCbCr a "row" is one row of
  // data units, covering PixelRowsPerRow() pixel rows.
  std::size_t RowBytes() const { return rowBytes_; }
  int PixelRowsPerRow() const { return layout_.subsampleV; }
  // Sample values the predictor adds up per pixel within one plane's row, and their size.
  int PredictorStride() const { return layout_.separatePlanes ? 1 : layout_.samplesPerPixel; }

  // Converts one row: planes[p] points at the row of plane p. Writes `rows` pixel rows (1 unless
  // subsampled YCbCr, whose last data row may cover fewer) to out[0..rows-1], each width pixels.
  void Convert(const std::uint8_t* const* planes, std::uint8_t* const* out, int rows);

  // 8-bit RGB in one plane: horizontal differencing can be undone in the same pass as the
  // conversion, which saves two passes over every row of the most common compressed colour TIFF.
  bool ConvertsDifferences() const;
  // Converts one row whose samples are differences from the same sample of the pixel to the left.
  void ConvertDifferences(const std::uint8_t* row, std::uint8_t* out) const;

 private:
  std::uint32_t Sample(const std::uint8_t* const* planes, int channel, int x) const;
  void ConvertGeneral(const std::uint8_t* const* planes, std::uint8_t* out);
  void ConvertSubsampled(const std::uint8_t* row, std::uint8_t* const* out, int rows) const;
  void YCbCrPixel(int y, int cb, int cr, std::uint8_t* bgr) const;

  TSampleLayout layout_;
  bool oneBit_ = false;
  bool invertBits_ = false;
  int channels_ = 1;
  int planes_ = 1;
  std::size_t rowBytes_ = 0;
  std::array<std::uint8_t, 256> scale_{};  // samples of fewer than 8 bits to 0..255
  std::array<std::uint8_t, 256> dot_{};    // CMYK ink values through the dot range
  // YCbCr in 16.16 fixed point.
  std::array<std::int32_t, 256> yTab_{}, crR_{}, cbB_{}, crG_{}, cbG_{};
};

// CIE L*a*b* (L 0..100, a and b about -128..127) relative to the D50 white to an sRGB pixel.
TRGB LabToSrgb(double l, double a, double b);

}  // namespace veilora
