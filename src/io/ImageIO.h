#pragma once

// The input/output component: moves the attached view's bitmap to and from files and streams.
// It decides the format (by file-name extension for files, by content for streams), hands the
// bitmap, the parameter record and a progress context to that format's codec, and publishes the
// result (file name, file type, resolution) to the view.
//
// Codecs report bad data by setting Aborting and returning; file-system failures (a file that
// cannot be opened or created, a full disk) are EStreamError exceptions.

#include <cstdint>
#include <string>
#include <string_view>

#include "image/ImageComponent.h"
#include "io/Codec.h"
#include "io/IOParams.h"
#include "io/Progress.h"
#include "io/Stream.h"
#include "scan/TwainLink.h"
#include "scan/TwainParams.h"

namespace veilora {

class TImageIO : public TImageComponent {
 public:
  TImageIO() : Params(this) {}

  // Cleared at the start of every load and save; set by a codec when the data is bad or the
  // operation must stop.
  bool Aborting = false;
  // Cleared with Aborting; after a load that set Aborting but kept a usable partial picture, says
  // what was wrong with the data (see TProgressContext::AbortWithPartialImage).
  std::string Damage;
  // Stream saves of TIFF, PCX and JPEG write a 12-byte header (signature, 4 zero bytes, data
  // length) before the data, and stream loads expect it.
  bool StreamHeaders = false;
  TIOParams Params;

  // The context handed to a codec for one operation; it refers to this component's Aborting.
  TProgressContext ProgressContext() { return TProgressContext{OnProgress, this, &Aborting, &Damage}; }

  // Copies the parameters of another TImageIO or a TIOParams; anything else is ignored.
  void AssignParams(const TObject* source);

  // Loads by the file name's extension (any case); an unknown extension sets Aborting.
  void LoadFromFile(const std::string& fileName);
  // Saves by the extension. The file is written beside the old one and replaces it only when the
  // save succeeded, so a failed save leaves an existing file as it was.
  void SaveToFile(const std::string& fileName);
  // Fills Params from the file's header without touching the bitmap; FileType 0 when the content
  // is unknown or does not match the extension.
  void ParamsFromFile(const std::string& fileName);
  void ParamsFromStream(TStream& stream);
  // Loads by content.
  void LoadFromStream(TStream& stream);

  void LoadFromFileBMP(const std::string& fileName);
  void LoadFromFileICO(const std::string& fileName);
  void LoadFromFileCUR(const std::string& fileName);
  void LoadFromFilePCX(const std::string& fileName);
  void LoadFromFileTGA(const std::string& fileName);
  // Flattens transparency onto the component's Background unless the file names its own colour;
  // afterwards Background is the colour used.
  void LoadFromFilePNG(const std::string& fileName);
  void LoadFromFileJPEG(const std::string& fileName);
  // Reads the frame Params.GifImageIndex; the view's background becomes the transparent colour
  // when the frame has one, else the screen background.
  void LoadFromFileGIF(const std::string& fileName);
  // Reads the image Params.TiffImageIndex.
  void LoadFromFileTIFF(const std::string& fileName);
  // Rasterises a Windows or enhanced metafile at width x height (-1: from the picture).
  void LoadFromFileMetafile(const std::string& fileName, int width, int height);

  void LoadFromStreamBMP(TStream& stream);
  void LoadFromStreamICO(TStream& stream);
  void LoadFromStreamCUR(TStream& stream);
  void LoadFromStreamPCX(TStream& stream);
  void LoadFromStreamTGA(TStream& stream);
  void LoadFromStreamPNG(TStream& stream);
  // Reads a "JFIF" stream header when one is there, whatever StreamHeaders says.
  void LoadFromStreamJPEG(TStream& stream);
  void LoadFromStreamGIF(TStream& stream);
  // With StreamHeaders, expects the "TIFF" stream header and leaves the position after its data.
  void LoadFromStreamTIFF(TStream& stream);

  void SaveToFileBMP(const std::string& fileName);
  void SaveToFilePCX(const std::string& fileName);
  void SaveToFileTGA(const std::string& fileName);
  void SaveToFilePNG(const std::string& fileName);
  // JPEG is lossy: hidden text does not survive it.
  void SaveToFileJPEG(const std::string& fileName);
  // GIF is palette-based: hidden text does not survive it.
  void SaveToFileGIF(const std::string& fileName);
  void SaveToFileTIFF(const std::string& fileName);
  void SaveToStreamBMP(TStream& stream);
  void SaveToStreamPCX(TStream& stream);
  void SaveToStreamTGA(TStream& stream);
  void SaveToStreamPNG(TStream& stream);
  void SaveToStreamJPEG(TStream& stream);
  void SaveToStreamGIF(TStream& stream);
  void SaveToStreamTIFF(TStream& stream);

  // Fills the whole bitmap with Background.
  void FillWithBackground();

  // The scanner: the chosen source and what to ask of it.
  TTwainParams TwainParams;
  // The outcome of the last Acquire or SelectAcquireSource.
  TTwainResult TwainResult;
  // Acquires one picture from the chosen source on behalf of `window` (a window of the host, or
  // null); true when one was transferred. The view then takes its resolution.
  bool Acquire(void* window = nullptr);
  // The manager's source dialog; the chosen source becomes current. True when one was chosen.
  bool SelectAcquireSource(void* window = nullptr);

  // Shows the save-options window (see SaveOptions.h) for the pages of `pageMask` over a copy of
  // the image; OK stores the showing page's options in Params. An image that is neither 24-bit nor
  // 1-bit is converted to 24 bits first. Returns true for OK; false without an image, without a
  // page to show or a window installed, and for Cancel. Always ends with ReportImageChange.
  bool ShowSaveOptions(int pageMask);
  // ioppDefaultLockPreview: the window opens with "Lock preview" down.
  std::uint32_t PreviewsParams = 0;
  // Raised just before the save-options window shows.
  TNotifyEvent OnIOPreview;

 private:
  // A codec bound to its extra arguments, run inside the load and save frames.
  using Reader = std::function<void(TStream&, bool paramsOnly)>;
  using Writer = std::function<void(TStream&)>;

  Reader ReaderFor(std::int32_t fileType, std::int64_t byteCount, TBitmap& target);
  Writer WriterFor(std::int32_t fileType);

  bool BeginOperation();
  void RunReader(const Reader& reader, TStream& stream);
  void FinishLoad(const std::string& fileName, std::int32_t fileType, bool setViewResolution);
  void LoadFile(const std::string& fileName, std::int32_t fileType);
  void LoadStream(TStream& stream, std::int32_t fileType, bool setViewResolution);
  // Loads through the reader of the registry record listing the extension.
  void LoadWithRegistry(const std::string& extension, const std::string& fileName);
  void SaveFile(const std::string& fileName, const Writer& writer);
  void SaveStream(TStream& stream, std::int32_t fileType);
  void ConvertForSaving();
  void SetViewResolution();
};

// The format a stream holds, by content (0 when none is recognised). Formats added to the
// registry with a content test are asked first. The position is left where it was.
std::int32_t FindStreamFormat(TStream& stream);
// The format of a file by content; 0 when it cannot be opened. With checkExtension, also 0 when
// the extension names another format or none.
std::int32_t FindFileFormat(const std::string& fileName, bool checkExtension);
// A one-line description of a loaded file for the open dialog, such as "TIFF Bitmap (TIF) LZW".
std::string ParamsDescription(const TIOParams& params);

// The format SaveToFile writes for an extension (lower-case, with its dot); ftUnknown for the
// extensions left to the format registry.
std::int32_t SaveTypeForExtension(const std::string& extension);

// The extension of a file name with its dot, lower-cased ("" when there is none).
std::string LowerExtension(std::string_view fileName);

}  // namespace veilora
