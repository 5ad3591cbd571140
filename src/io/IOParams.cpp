#include "io/IOParams.h"

#include <ctime>

#include "image/BaseView.h"
#include "io/ImageIO.h"

namespace veilora {

TLzwHooks& GlobalLzwHooks() {
  static TLzwHooks hooks;
  return hooks;
}

TDefaultResolution& DefaultResolution() {
  static TDefaultResolution resolution;
  return resolution;
}

TDateTime Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // tm_mon counts months from 0.
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

TDateTime EncodeDate(int year, int month, int day) {
  // Days from 1970-01-01 by the proleptic Gregorian day count, in years that begin in March so
  // that the leap day ends a year.
  const long y = static_cast<long>(year) - (month <= 2 ? 1 : 0);
  const long monthFromMarch = (month + 9) % 12;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yearOfEra = y - era * 400;
  const long dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const long daysSince1970 = era * 146097 + dayOfEra - 719468;
  constexpr long kDays1899To1970 = 25569;
  return static_cast<TDateTime>(daysSince1970 + kDays1899To1970);
}

TIOParams::TIOParams(const TImageIO* owner) : owner_(owner) {
  Reset();
}

void TIOParams::Reset() {
  const TBitmap* bitmap = owner_ != nullptr ? owner_->Bitmap() : nullptr;
  const TBaseView* view = owner_ != nullptr ? owner_->AttachedView() : nullptr;
  const TLzwHooks& hooks = GlobalLzwHooks();

  BitsPerSample = 8;
  SamplesPerPixel = 3;
  Width = bitmap != nullptr ? bitmap->Width() : 0;
  Height = bitmap != nullptr ? bitmap->Height() : 0;
  DpiX = view != nullptr ? view->DpiX() : 0;
  DpiY = view != nullptr ? view->DpiY() : 0;
  FileType = ftUnknown;

  TiffCompression = 0;
  TiffImageIndex = 0;
  TiffPhotometric = 2;
  TiffPlanarConfig = 1;
  TiffXPos = 0;
  TiffYPos = 0;
  TiffDocumentName.clear();
  TiffImageDescription.clear();
  TiffPageName.clear();
  TiffPageNumber = 0;
  TiffPageCount = 0;
  TiffLzwDecompress = hooks.tiffDecompress;
  TiffLzwCompress = hooks.tiffCompress;

  GifVersion = "GIF89a";
  GifImageIndex = 0;
  GifXPos = 0;
  GifYPos = 0;
  GifDelayTime = 0;
  GifHasTransparent = false;
  GifTransparentColor = TRGB{};
  GifInterlaced = false;
  GifScreenWidth = 0;
  GifScreenHeight = 0;
  GifBackground = TRGB{};
  GifAspectRatio = 0;
  GifLzwDecompress = hooks.gifDecompress;
  GifLzwCompress = hooks.gifCompress;

  JpegColorSpace = 2;
  JpegQuality = 50;
  JpegDctMethod = 0;
  JpegOptimalHuffman = false;
  JpegSmoothing = 0;
  JpegProgressive = false;
  JpegScale = 1;

  PcxVersion = 5;
  PcxCompression = 1;

  BmpVersion = 1;
  BmpCompression = 0;

  IcoImageIndex = 0;
  IcoBackground = TRGB{255, 255, 255};
  CurImageIndex = 0;
  CurHotSpotX = 0;
  CurHotSpotY = 0;
  CurBackground = TRGB{255, 255, 255};

  PngInterlaced = false;
  PngBackground = TRGB{};
  PngFilter = 0;
  PngCompression = 5;

  TgaXPos = 0;
  TgaYPos = 0;
  TgaCompressed = true;
  TgaDescription.clear();
  TgaAuthor.clear();
  TgaDate = Today();
  TgaName.clear();
  TgaBackground = TRGB{};
  TgaAspectRatio = 1.0;
  TgaGamma = 2.2;
  TgaGrayLevel = false;

  SaveColoursChosen = false;
  FileName.clear();
  FreeColorMap();
}

void TIOParams::Assign(const TIOParams& other) {
  if (&other == this) return;
  const TImageIO* owner = owner_;
  *this = other;
  owner_ = owner;
}

void TIOParams::SetColorMap(std::size_t count) {
  ColorMap.assign(count, TRGB{});
  ColorMapCount = static_cast<std::int32_t>(count);
}

void TIOParams::FreeColorMap() {
  ColorMap.clear();
  ColorMap.shrink_to_fit();
  ColorMapCount = 0;
}

}  // namespace veilora
