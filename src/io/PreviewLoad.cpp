#include "io/PreviewLoad.h"

#include <algorithm>
#include <exception>

#include "io/AviFrames.h"
#include "io/GifCodec.h"
#include "io/ImageIO.h"
#include "io/PngCodec.h"
#include "io/TiffCodec.h"

namespace veilora {

namespace {

// Frames a multi-image preview keeps at most, and the time a TIFF page or an undelayed GIF frame
// shows while playing.
constexpr std::int32_t kPageDelayMs = 1000;
constexpr std::int32_t kDefaultGifDelayMs = 100;

bool TooLargeToDecodeWhole(const TIOParams& params) {
  return static_cast<std::int64_t>(params.Width) * params.Height > kPreviewFullDecodePixels;
}

}  // namespace

bool IsAviFileName(const std::string& fileName) {
  return LowerExtension(fileName) == ".avi";
}

void ReduceForPreview(const TBitmap& source, TBitmap& target, int maxSide) {
  const int longest = std::max(source.Width(), source.Height());
  if (maxSide < 1 || longest <= maxSide) {
    CopyBitmap(source, target);
    return;
  }
  const double scale = static_cast<double>(maxSide) / longest;
  const int width = std::max(1, static_cast<int>(source.Width() * scale));
  const int height = std::max(1, static_cast<int>(source.Height() * scale));
  TBitmap converted;
  const TBitmap* from = &source;
  if (source.PixelFormat() != pf24bit && source.PixelFormat() != pf1bit) {
    ConvertTo24Bit(source, converted);
    from = &converted;
  }
  target.Allocate(width, height, from->PixelFormat());
  for (int y = 0; y < height; ++y) {
    const int sy = static_cast<int>(static_cast<std::int64_t>(y) * from->Height() / height);
    const std::uint8_t* in = from->ScanLine(sy);
    std::uint8_t* out = target.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const int sx = static_cast<int>(static_cast<std::int64_t>(x) * from->Width() / width);
      if (from->PixelFormat() == pf1bit) {
        if ((in[sx >> 3] >> (7 - (sx & 7))) & 1) out[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
      } else {
        std::copy_n(in + 3 * static_cast<std::size_t>(sx), 3, out + 3 * static_cast<std::size_t>(x));
      }
    }
  }
}

void LoadPreviewImage(TImageIO& io, const std::string& fileName, int maxSide, std::int64_t wholeDecodeLimit) {
  TImageIO probe;
  probe.ParamsFromFile(fileName);
  const TIOParams& header = probe.Params;
  const bool reducible = header.FileType == ftJPEG || header.FileType == ftPNG;
  if (!probe.Aborting && !reducible && io.Bitmap() != nullptr &&
      static_cast<std::int64_t>(header.Width) * header.Height > wholeDecodeLimit) {
    // Decoding the whole picture for a thumbnail would take as much memory as opening it.
    io.Params = header;
    io.Bitmap()->SetSize(0, 0);
    return;
  }
  if (probe.Aborting || !TooLargeToDecodeWhole(header) || io.Bitmap() == nullptr) {
    io.LoadFromFile(fileName);
    return;
  }
  if (header.FileType == ftJPEG) {
    // The decoder picks the reduction (1/2 to 1/8) nearest the size asked for.
    const double scale = static_cast<double>(maxSide) / std::max(header.Width, header.Height);
    io.Params.JpegScale = 0;
    io.Params.Width = std::max(1, static_cast<int>(header.Width * scale));
    io.Params.Height = std::max(1, static_cast<int>(header.Height * scale));
    io.LoadFromFile(fileName);
    io.Params.JpegScale = 1;
    io.Params.Width = header.Width;
    io.Params.Height = header.Height;
    return;
  }
  if (header.FileType == ftPNG) {
    io.Aborting = false;
    io.Damage.clear();
    TFileStream file(fileName, TFileStream::Mode::Read);
    PngReadStreamReduced(file, *io.Bitmap(), io.Params, maxSide, io.ProgressContext());
    io.Params.FileType = ftPNG;
    io.Params.FileName = fileName;
    io.ReportImageChange();
    return;
  }
  io.LoadFromFile(fileName);
}

std::int32_t PreviewFrameCount(const std::string& fileName) {
  const std::string extension = LowerExtension(fileName);
  if (extension == ".gif") return GifImageCount(fileName);
  if (extension == ".tif" || extension == ".tiff") return TiffImageCount(fileName);
  if (extension == ".avi") return AviFrameCount(fileName);
  return 1;
}

bool LoadPreviewFrames(const std::string& fileName, int maxFrames, int maxSide, TPreviewFrames& result) {
  result.frames.clear();
  result.delaysMs.clear();
  result.frameCount = 0;
  result.info.Reset();
  maxFrames = std::max(1, maxFrames);
  if (IsAviFileName(fileName)) {
    TAviFrames video;
    if (!AviReadFrames(fileName, maxFrames, maxSide, video)) return false;
    result.frameCount = video.frameCount;
    result.frames = std::move(video.frames);
    result.delaysMs.assign(result.frames.size(), video.delayMs);
    result.info.Width = video.width;
    result.info.Height = video.height;
    result.info.BitsPerSample = 8;
    result.info.SamplesPerPixel = 3;
    return true;
  }
  const std::string extension = LowerExtension(fileName);
  const bool gif = extension == ".gif";
  if (!gif && extension != ".tif" && extension != ".tiff") return false;
  const std::int32_t count = gif ? GifImageCount(fileName) : TiffImageCount(fileName);
  if (count <= 0) return false;
  result.frameCount = count;
  for (std::int32_t index = 0; index < count && static_cast<int>(result.frames.size()) < maxFrames; ++index) {
    TBitmap full;
    TImageIO io;
    io.AttachBitmap(&full);
    if (gif) {
      io.Params.GifImageIndex = index;
    } else {
      io.Params.TiffImageIndex = index;
    }
    try {
      // A frame too large to decode for a thumbnail is left out, as a single picture would be.
      TImageIO probe;
      probe.Params.GifImageIndex = io.Params.GifImageIndex;
      probe.Params.TiffImageIndex = io.Params.TiffImageIndex;
      probe.ParamsFromFile(fileName);
      if (static_cast<std::int64_t>(probe.Params.Width) * probe.Params.Height > kPreviewLargestWholeDecode)
        continue;
      io.LoadFromFile(fileName);
    } catch (const std::exception&) {
      continue;
    }
    // A damaged frame shows what it holds; one that gave nothing is left out.
    if (full.Empty()) continue;
    if (result.frames.empty()) result.info.Assign(io.Params);
    auto frame = std::make_unique<TBitmap>();
    ReduceForPreview(full, *frame, maxSide);
    result.frames.push_back(std::move(frame));
    const std::int32_t delay = gif ? io.Params.GifDelayTime * 10 : kPageDelayMs;
    result.delaysMs.push_back(delay > 0 ? delay : kDefaultGifDelayMs);
  }
  return !result.frames.empty();
}

}  // namespace veilora
