#include "io/SaveOptions.h"

#include <charconv>
#include <exception>
#include <new>

#include "hidden/HiddenCarrier.h"
#include "io/ImageIO.h"

namespace veilora {

namespace {

constexpr std::uint8_t kTiffPhotometricCmyk = 5;

TSaveOptionsDialog* installedDialog = nullptr;

bool HasColourBox(int page) {
  return page == spTIFF || page == spGIF || page == spBMP || page == spPCX || page == spPNG || page == spTGA;
}

// The first `length` data bytes of the hidden text (the caller knows the length fits the carrier).
std::vector<std::uint8_t> HiddenPayload(const TBitmap& bitmap, std::int32_t length) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
  ReadHiddenPayload(bitmap, data.data(), length);
  return data;
}

}  // namespace

int SavePageForFileType(std::int32_t fileType) {
  switch (fileType) {
    case ftTIFF: return spTIFF;
    case ftGIF: return spGIF;
    case ftJPEG: return spJPEG;
    case ftPCX: return spPCX;
    case ftBMP: return spBMP;
    case ftPNG: return spPNG;
    case ftTGA: return spTGA;
    default: return 0;
  }
}

std::int32_t FileTypeForSavePage(int page) {
  switch (page) {
    case spTIFF: return ftTIFF;
    case spGIF: return ftGIF;
    case spJPEG: return ftJPEG;
    case spPCX: return ftPCX;
    case spBMP: return ftBMP;
    case spPNG: return ftPNG;
    case spTGA: return ftTGA;
    default: return ftUnknown;
  }
}

int SavePageForExtension(std::string_view extension) {
  if (extension == ".jpg" || extension == ".jpeg" || extension == ".jpe") return spJPEG;
  if (extension == ".tif" || extension == ".tiff") return spTIFF;
  if (extension == ".gif") return spGIF;
  if (extension == ".bmp") return spBMP;
  if (extension == ".pcx") return spPCX;
  if (extension == ".png") return spPNG;
  // The program writes TGA too; its save dialog does not offer it, but a typed name may say it.
  if (extension == ".tga") return spTGA;
  return 0;
}

int SavePagesShown(int pageMask, std::int32_t fileType) {
  int pages = pageMask & kEveryPage;
  if ((pageMask & spAll) != 0) pages |= kEveryPage;
  if ((pageMask & spOwnType) != 0) pages |= SavePageForFileType(fileType);
  return pages;
}

std::int64_t UncompressedImageBytes(const TBitmap& bitmap) {
  const std::int64_t depth = bitmap.PixelFormat() == pf1bit ? 1 : 24;
  return (depth * bitmap.Width() + 31) / 32 * 4 * bitmap.Height();
}

TColourDepth ColourItemDepth(int page, int item, int tiffPhotometricItem) {
  switch (page) {
    case spTIFF:
      if (tiffPhotometricItem == kTiffPhotometricCmyk) return {4, 8};
      switch (item) {
        case 0: return {1, 1};
        case 1: return {1, 4};
        case 2: return {1, 8};
        case 3: return {1, 16};
        default: return {3, 8};
      }
    case spGIF: return {1, item < 0 ? 1 : item > 7 ? 8 : item + 1};
    case spBMP:
      switch (item) {
        case 0: return {1, 1};
        case 1: return {1, 4};
        case 2: return {1, 8};
        case 3: return {3, 5};
        default: return {3, 8};
      }
    case spPCX:
      switch (item) {
        case 0: return {1, 1};
        case 1: return {1, 4};
        case 2: return {1, 8};
        default: return {3, 8};
      }
    case spPNG:
    case spTGA:
      switch (item) {
        case 0: return {1, 1};
        case 1: return {1, 8};
        default: return {3, 8};
      }
    default: return {3, 8};
  }
}

int ColourItemFromDepth(int page, std::int32_t samplesPerPixel, std::int32_t bitsPerSample) {
  const auto greyItem = [&](int fallback) {
    switch (bitsPerSample) {
      case 1: return 0;
      case 4: return 1;
      case 8: return 2;
      default: return fallback;
    }
  };
  switch (page) {
    case spTIFF:
      if (samplesPerPixel == 1) return bitsPerSample == 16 ? 3 : greyItem(4);
      return 4;
    case spGIF: return bitsPerSample < 1 ? 0 : bitsPerSample > 8 ? 7 : bitsPerSample - 1;
    case spBMP:
      if (samplesPerPixel == 1) return greyItem(4);
      return bitsPerSample == 5 ? 3 : 4;
    case spPCX:
      if (samplesPerPixel == 1) return greyItem(3);
      return 3;
    case spPNG:
    case spTGA:
      if (samplesPerPixel == 1) return bitsPerSample == 1 ? 0 : 1;
      return 2;
    default: return 0;
  }
}

TTiffColourBox ApplyTiffPhotometricRule(int photometricItem, int colourItem) {
  constexpr int kBlackWhite = 0;
  constexpr int kTrueColour = 4;
  if (photometricItem >= 5 && photometricItem <= 7) return {kTrueColour, false};
  if (photometricItem == 0 || photometricItem == 1) return {kBlackWhite, false};
  return {colourItem == kBlackWhite ? kTrueColour : colourItem, true};
}

std::int32_t WholeNumber(std::string_view text, std::int32_t fallback) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end) return fallback;
  return value;
}

void CopySavePageFields(int page, const TIOParams& from, TIOParams& to) {
  switch (page) {
    case spJPEG:
      to.JpegQuality = from.JpegQuality;
      to.JpegColorSpace = from.JpegColorSpace;
      to.JpegDctMethod = from.JpegDctMethod;
      to.JpegOptimalHuffman = from.JpegOptimalHuffman;
      to.JpegSmoothing = from.JpegSmoothing;
      to.JpegProgressive = from.JpegProgressive;
      return;
    case spTIFF:
      to.TiffCompression = from.TiffCompression;
      to.TiffImageIndex = from.TiffImageIndex;
      to.TiffPhotometric = from.TiffPhotometric;
      to.SamplesPerPixel = from.SamplesPerPixel;
      to.BitsPerSample = from.BitsPerSample;
      to.TiffXPos = from.TiffXPos;
      to.TiffYPos = from.TiffYPos;
      to.TiffDocumentName = from.TiffDocumentName;
      to.TiffImageDescription = from.TiffImageDescription;
      to.TiffPageName = from.TiffPageName;
      to.TiffPageNumber = from.TiffPageNumber;
      to.TiffPageCount = from.TiffPageCount;
      break;
    case spGIF:
      to.GifImageIndex = from.GifImageIndex;
      to.BitsPerSample = from.BitsPerSample;
      to.GifHasTransparent = from.GifHasTransparent;
      to.GifTransparentColor = from.GifTransparentColor;
      to.GifInterlaced = from.GifInterlaced;
      to.GifXPos = from.GifXPos;
      to.GifYPos = from.GifYPos;
      to.GifDelayTime = from.GifDelayTime;
      to.GifBackground = from.GifBackground;
      break;
    case spBMP:
      to.BmpCompression = from.BmpCompression;
      to.BitsPerSample = from.BitsPerSample;
      to.SamplesPerPixel = from.SamplesPerPixel;
      break;
    case spPCX:
      to.PcxCompression = from.PcxCompression;
      to.BitsPerSample = from.BitsPerSample;
      to.SamplesPerPixel = from.SamplesPerPixel;
      break;
    case spPNG:
      to.BitsPerSample = from.BitsPerSample;
      to.SamplesPerPixel = from.SamplesPerPixel;
      to.PngInterlaced = from.PngInterlaced;
      to.PngBackground = from.PngBackground;
      to.PngFilter = from.PngFilter;
      to.PngCompression = from.PngCompression;
      break;
    case spTGA:
      to.BitsPerSample = from.BitsPerSample;
      to.SamplesPerPixel = from.SamplesPerPixel;
      to.TgaBackground = from.TgaBackground;
      to.TgaCompressed = from.TgaCompressed;
      to.TgaName = from.TgaName;
      to.TgaDescription = from.TgaDescription;
      break;
    default: return;
  }
  if (HasColourBox(page)) to.SaveColoursChosen = true;
}

THiddenTextFate HiddenTextFate(const TBitmap& original, const TBitmap& reloaded) {
  if (!HasHiddenText(original)) return THiddenTextFate::NoText;
  if (reloaded.PixelFormat() != pf24bit || reloaded.Width() != original.Width() ||
      reloaded.Height() != original.Height())
    return THiddenTextFate::Lost;
  // The reloaded length is compared before anything is read, so a garbled header never sizes a buffer.
  const std::int32_t length = ReadHiddenPayload(original, nullptr, 0);
  if (ReadHiddenPayload(reloaded, nullptr, 0) != length || !HasHiddenText(reloaded))
    return THiddenTextFate::Lost;
  return HiddenPayload(original, length) == HiddenPayload(reloaded, length) ? THiddenTextFate::Kept
                                                                            : THiddenTextFate::Lost;
}

TSaveTrial RunSaveTrial(TBitmap& source, int page, const TIOParams& values, TBitmap& result,
                        const TProgressEvent& progress) {
  TSaveTrial trial;
  const std::int32_t fileType = FileTypeForSavePage(page);
  if (fileType == ftUnknown) {
    trial.failure = "no format";
    return trial;
  }
  TImageIO writer;
  writer.AttachBitmap(&source);
  CopySavePageFields(page, values, writer.Params);
  writer.Params.TiffLzwCompress = values.TiffLzwCompress;
  writer.Params.TiffLzwDecompress = values.TiffLzwDecompress;
  writer.Params.GifLzwCompress = values.GifLzwCompress;
  writer.Params.GifLzwDecompress = values.GifLzwDecompress;
  if (page == spGIF) writer.Params.SamplesPerPixel = 1;
  if (progress) writer.OnProgress = [&progress](TObject& sender, int per) { progress(sender, per / 2); };

  TImageIO reader;
  reader.AttachBitmap(&result);
  reader.Params.TiffLzwDecompress = values.TiffLzwDecompress;
  reader.Params.GifLzwDecompress = values.GifLzwDecompress;
  if (progress) reader.OnProgress = [&progress](TObject& sender, int per) { progress(sender, 50 + per / 2); };

  TMemoryStream data;
  try {
    switch (fileType) {
      case ftJPEG: writer.SaveToStreamJPEG(data); break;
      case ftTIFF: writer.SaveToStreamTIFF(data); break;
      case ftGIF: writer.SaveToStreamGIF(data); break;
      case ftBMP: writer.SaveToStreamBMP(data); break;
      case ftPCX: writer.SaveToStreamPCX(data); break;
      case ftPNG: writer.SaveToStreamPNG(data); break;
      default: writer.SaveToStreamTGA(data); break;
    }
    trial.bytes = data.Size();
    if (writer.Aborting) {
      trial.failure = "the image cannot be written with these options";
      return trial;
    }
    data.Seek(0);
    reader.LoadFromStream(data);
    if (reader.Aborting) {
      trial.failure = "the saved data cannot be read back";
      return trial;
    }
  } catch (const std::bad_alloc&) {
    trial.failure = "not enough memory";
    return trial;
  } catch (const std::exception& error) {
    trial.failure = error.what();
    return trial;
  }
  trial.ok = true;
  trial.palette = !reader.Params.ColorMap.empty() ? reader.Params.ColorMap : writer.Params.ColorMap;
  trial.hiddenText = HiddenTextFate(source, result);
  return trial;
}

void SetSaveOptionsDialog(TSaveOptionsDialog* dialog) {
  installedDialog = dialog;
}

TSaveOptionsDialog* SaveOptionsDialog() {
  return installedDialog;
}

bool TImageIO::ShowSaveOptions(int pageMask) {
  TBitmap* bitmap = Bitmap();
  if (bitmap == nullptr) return false;
  if (bitmap->PixelFormat() != pf24bit && bitmap->PixelFormat() != pf1bit) {
    TBitmap converted;
    ConvertTo24Bit(*bitmap, converted);
    bitmap->Swap(converted);
  }
  const int pages = SavePagesShown(pageMask, Params.FileType);
  bool confirmed = false;
  if (pages != 0 && installedDialog != nullptr) {
    if (OnIOPreview) OnIOPreview(*this);
    confirmed = installedDialog->Execute(*this, pages, (PreviewsParams & ioppDefaultLockPreview) != 0);
  }
  // The document counts as changed even after Cancel: its image may have been converted above.
  ReportImageChange();
  return confirmed;
}

}  // namespace veilora
