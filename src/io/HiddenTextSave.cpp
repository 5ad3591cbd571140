#include "io/HiddenTextSave.h"

#include "hidden/HiddenCarrier.h"

namespace veilora {

namespace {

constexpr std::uint8_t kTiffRgb = 2;
constexpr std::uint8_t kTiffCmyk = 5;

// The number of colours a writer reduces to with these depth fields; 0 for true colour. Each
// writer reads the fields its own way: BitsPerSample 1 always means two colours, and one sample
// per pixel means a palette (or grey) of 2^bits entries.
int PaletteColours(std::int32_t fileType, const TIOParams& params) {
  if (params.BitsPerSample == 1) return 2;
  switch (fileType) {
    case ftBMP:
      if (params.BitsPerSample == 4) return 16;
      return params.SamplesPerPixel == 1 ? 256 : 0;
    case ftPCX: {
      const std::int64_t bits = static_cast<std::int64_t>(params.BitsPerSample) * params.SamplesPerPixel;
      return bits == 4 ? 16 : bits == 8 ? 256 : 0;
    }
    case ftTGA:
      if (params.SamplesPerPixel != 1) return 0;
      return params.BitsPerSample == 4 && !params.TgaGrayLevel ? 16 : 256;
    case ftPNG: return params.SamplesPerPixel == 1 ? 256 : 0;
    case ftTIFF: return params.SamplesPerPixel == 1 && params.BitsPerSample == 1 ? 2 : 0;
    default: return 0;
  }
}

bool HasTrueColourMode(std::int32_t fileType) {
  return fileType == ftBMP || fileType == ftPCX || fileType == ftPNG || fileType == ftTGA ||
         fileType == ftTIFF;
}

const char* FormatName(std::int32_t fileType) {
  switch (fileType) {
    case ftTIFF: return "TIFF";
    case ftGIF: return "GIF";
    case ftJPEG: return "JPEG";
    case ftPCX: return "PCX";
    case ftBMP: return "BMP";
    case ftPNG: return "PNG";
    case ftTGA: return "TGA";
    default: return "this format";
  }
}

}  // namespace

bool SaveKeepsPixels(std::int32_t fileType, const TIOParams& params) {
  if (!HasTrueColourMode(fileType)) return false;
  return PaletteColours(fileType, params) == 0;
}

THiddenTextSave PrepareHiddenTextSave(const TBitmap& bitmap, std::int32_t fileType, TIOParams& params) {
  if (!HasHiddenText(bitmap)) return THiddenTextSave::NoText;
  if (!params.SaveColoursChosen && HasTrueColourMode(fileType)) {
    params.BitsPerSample = 8;
    params.SamplesPerPixel = 3;
    if (fileType == ftTIFF && params.TiffPhotometric != kTiffCmyk) params.TiffPhotometric = kTiffRgb;
  }
  return SaveKeepsPixels(fileType, params) ? THiddenTextSave::Kept : THiddenTextSave::Destroyed;
}

std::string SaveModeName(std::int32_t fileType, const TIOParams& params) {
  std::string name = FormatName(fileType);
  if (!HasTrueColourMode(fileType)) return name;
  const int colours = PaletteColours(fileType, params);
  if (colours == 2) return name + " in two colours";
  if (colours > 0) return name + " with " + std::to_string(colours) + " colours";
  return name;
}

}  // namespace veilora
