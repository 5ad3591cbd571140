#include "io/JpegCodec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "io/ColorQuantizer.h"
#include "io/JpegErrors.h"

namespace veilora {

namespace {

// How much compressed data moves between the stream and the library at a time.
constexpr std::size_t kChunkBytes = 64 * 1024;
// A progressive or multi-scan file may hold any number of scans, and every scan walks the whole
// coefficient buffer. Real encoders write a few dozen at most; more than this is an attack.
constexpr int kMaxScans = 500;
// What the source manager hands over when the stream has no more data: an end-of-image marker,
// so the library finishes the image instead of waiting for bytes that will never come.
constexpr JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

// Compressed data from a TStream. A stream that throws is remembered and the library is stopped
// through the error manager; the exception is raised again once the decompressor is gone.
struct TSourceManager {
  jpeg_source_mgr pub{};
  TStream* stream = nullptr;
  JOCTET* buffer = nullptr;
  bool hitEnd = false;
  std::exception_ptr failure;
};

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* source = reinterpret_cast<TSourceManager*>(cinfo->src);
  std::size_t got = 0;
  bool failed = false;
  if (!source->hitEnd) {
    try {
      got = source->stream->Read(source->buffer, kChunkBytes);
    } catch (...) {
      source->failure = std::current_exception();
      failed = true;
    }
  }
  // Jump only outside the handler, so the exception object is not left half handled.
  if (failed) (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
  if (got == 0) {
    source->hitEnd = true;
    source->pub.next_input_byte = kFakeEoi;
    source->pub.bytes_in_buffer = sizeof kFakeEoi;
  } else {
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = got;
  }
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  auto* source = reinterpret_cast<TSourceManager*>(cinfo->src);
  if (count <= 0) return;
  const auto skip = static_cast<std::size_t>(count);
  if (skip <= source->pub.bytes_in_buffer) {
    source->pub.next_input_byte += skip;
    source->pub.bytes_in_buffer -= skip;
    return;
  }
  if (!source->hitEnd) {
    const std::size_t beyond = skip - source->pub.bytes_in_buffer;
    bool failed = false;
    try {
      source->stream->Seek(source->stream->Position() + static_cast<std::int64_t>(beyond));
    } catch (...) {
      source->failure = std::current_exception();
      failed = true;
    }
    if (failed) (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
  }
  source->pub.bytes_in_buffer = 0;
  FillInputBuffer(cinfo);
}

void TermSource(j_decompress_ptr) {}

// Compressed data to a TStream, gathered in chunks.
struct TDestinationManager {
  jpeg_destination_mgr pub{};
  TStream* stream = nullptr;
  JOCTET* buffer = nullptr;
  std::exception_ptr failure;
};

void WriteOut(j_compress_ptr cinfo, std::size_t count) {
  auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
  bool failed = false;
  try {
    destination->stream->Write(destination->buffer, count);
  } catch (...) {
    destination->failure = std::current_exception();
    failed = true;
  }
  if (failed) (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
  destination->pub.next_output_byte = destination->buffer;
  destination->pub.free_in_buffer = kChunkBytes;
}

void InitDestination(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
  destination->pub.next_output_byte = destination->buffer;
  destination->pub.free_in_buffer = kChunkBytes;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  WriteOut(cinfo, kChunkBytes);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
  WriteOut(cinfo, kChunkBytes - destination->pub.free_in_buffer);
}

// Stops a file that keeps starting new scans. The library calls the monitor once per chunk of
// input it absorbs, so a new scan is seen before it is decoded.
void LimitScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    (*cinfo->err->error_exit)(cinfo);
  }
}

J_DCT_METHOD DctMethod(std::uint8_t method) {
  switch (method) {
    case 1: return JDCT_IFAST;
    case 2: return JDCT_FLOAT;
    default: return JDCT_ISLOW;
  }
}

// The scale denominator. Automatic picks the reduction whose size comes nearest the number of
// pixels the caller asks for (Width x Height), the first of equals winning.
unsigned ScaleDenominator(const TIOParams& params, JDIMENSION width, JDIMENSION height) {
  switch (params.JpegScale) {
    case 0: {
      const std::int64_t wanted = std::int64_t{params.Width} * params.Height;
      if (wanted == 0) return 1;
      unsigned best = 1;
      std::int64_t bestDistance = -1;
      for (unsigned i = 0; i < 4; ++i) {
        const std::int64_t candidate = std::int64_t{width >> i} * std::int64_t{height >> i};
        const std::int64_t distance = candidate > wanted ? candidate - wanted : wanted - candidate;
        if (bestDistance < 0 || distance < bestDistance) {
          bestDistance = distance;
          best = 1u << i;
        }
      }
      return best;
    }
    case 2: return 2;
    case 3: return 4;
    case 4: return 8;
    default: return 1;
  }
}

// Everything the reader shares with the library. It lives in the C++ frame of JpegReadStream, so
// the functions that call setjmp hold nothing that needs destroying.
struct TReadJob {
  jpeg_decompress_struct cinfo{};
  TJpegErrorManager error{};
  TSourceManager source;
  jpeg_progress_mgr monitor{};
  std::vector<JOCTET> chunk;
  std::vector<std::uint8_t> work;  // a CMYK row as delivered, 4 bytes per pixel
  bool cmyk = false;
  bool allRowsRead = false;
  // A picture of one scan whose data gave out: the rows above `goodRows` came from real data.
  bool rowsCut = false;
  int goodRows = 0;
  // A picture of several scans (progressive, or one scan per component) is taken in whole before
  // its first row: its data ended inside scan `lastScan`, or after it with scans still to come.
  bool scansCut = false;
  bool cutInsideScan = false;
  bool progressive = false;
  int lastScan = 0;

  TReadJob() = default;
  TReadJob(const TReadJob&) = delete;
  TReadJob& operator=(const TReadJob&) = delete;
  // Destroying a decompressor that was never created, or was destroyed, does nothing.
  ~TReadJob() { jpeg_destroy_decompress(&cinfo); }
};

// Creates the decompressor, reads the header and fills the parameters. False on a library error
// or a colour space this program cannot show.
bool ReadHeader(TReadJob& job, TIOParams& params) {
  jpeg_decompress_struct& cinfo = job.cinfo;
  if (setjmp(job.error.jump) != 0) return false;
  jpeg_create_decompress(&cinfo);
  // The library's own buffers (whole-image coefficients of progressive files) stay within the
  // limit that pixel memory has.
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxPixelBytes);
  cinfo.src = &job.source.pub;
  cinfo.progress = &job.monitor;
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;

  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      params.JpegColorSpace = 1;
      cinfo.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_RGB:
      params.JpegColorSpace = 0;
      cinfo.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_YCbCr:
      params.JpegColorSpace = 2;
      cinfo.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_CMYK:
      params.JpegColorSpace = 3;
      cinfo.out_color_space = JCS_CMYK;
      break;
    case JCS_YCCK:
      params.JpegColorSpace = 4;
      cinfo.out_color_space = JCS_CMYK;
      break;
    default:
      // Two-component and other unnamed layouts have no colour meaning here.
      return false;
  }
  job.cmyk = cinfo.out_color_space == JCS_CMYK;
  cinfo.dct_method = DctMethod(params.JpegDctMethod);

  // Only a JFIF segment holds a density. Without one (Adobe RGB and CMYK files, which is what this
  // writer makes of those targets) the library reports 1 x 1, which is no resolution: such files
  // get the screen's, as every format without a resolution does.
  const int unit = cinfo.saw_JFIF_marker ? cinfo.density_unit : -1;
  switch (unit) {
    case -1:
      params.DpiX = DefaultResolution().dpiX;
      params.DpiY = DefaultResolution().dpiY;
      break;
    case 0:
    case 1:
      params.DpiX = cinfo.X_density;
      params.DpiY = cinfo.Y_density;
      break;
    case 2:
      // Dots per centimetre, the fraction of an inch cut off.
      params.DpiX = cinfo.X_density * 254 / 100;
      params.DpiY = cinfo.Y_density * 254 / 100;
      break;
    default: break;
  }
  params.BitsPerSample = 8;
  params.SamplesPerPixel = 3;
  params.FreeColorMap();
  params.JpegProgressive = cinfo.progressive_mode != 0;

  cinfo.scale_num = 1;
  cinfo.scale_denom = ScaleDenominator(params, cinfo.image_width, cinfo.image_height);
  // The output size without starting: starting a progressive file would decode all its scans.
  jpeg_calc_output_dimensions(&cinfo);
  params.Width = static_cast<std::int32_t>(cinfo.output_width);
  params.Height = static_cast<std::int32_t>(cinfo.output_height);
  return true;
}

// CMYK samples as delivered, the first three scaled by the fourth: blue-green-red pixels.
void CmykRowToBgr(const std::uint8_t* cmyk, std::uint8_t* bgr, int width) {
  for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    const unsigned k = cmyk[3];
    bgr[0] = static_cast<std::uint8_t>(cmyk[2] * k / 255);
    bgr[1] = static_cast<std::uint8_t>(cmyk[1] * k / 255);
    bgr[2] = static_cast<std::uint8_t>(cmyk[0] * k / 255);
  }
}

// True when pixels had to be made up because their compressed data is missing: a file cut off
// inside a scan, or a scan cut short by a marker. A file that lacks only its end-of-image marker
// loses nothing it holds and loads normally; other warnings (stray bytes between segments and the
// like) do not stop a load either.
bool CutShort(const TReadJob& job) {
  return job.error.dataMissing;
}

// True when every coefficient of every component has come in to its last bit. Only progressive
// files keep this count; a progressive file that stops between two scans lacks the later ones.
bool AllCoefficientsIn(const jpeg_decompress_struct& cinfo) {
  if (cinfo.coef_bits == nullptr) return true;
  for (int c = 0; c < cinfo.num_components; ++c) {
    for (int k = 0; k < DCTSIZE2; ++k) {
      if (cinfo.coef_bits[c][k] != 0) return false;
    }
  }
  return true;
}

// Starts decompressing and reads every row into the prepared bitmap. False on a library error,
// data that gave out inside the rows, or an abort; the job then says which rows are real.
bool DecodeRows(TReadJob& job, TBitmap& bitmap, const TProgressContext& progress) {
  jpeg_decompress_struct& cinfo = job.cinfo;
  if (setjmp(job.error.jump) != 0) return false;
  if (!jpeg_start_decompress(&cinfo)) return false;
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (static_cast<int>(cinfo.output_width) != width || static_cast<int>(cinfo.output_height) != height ||
      cinfo.output_components != (job.cmyk ? 4 : 3)) {
    return false;
  }
  // A file of several scans has been read to its end by now; what is missing of it thins out
  // the whole picture (or leaves components out), so every row is read and the damage noted.
  const bool wholeFileRead = jpeg_has_multiple_scans(&cinfo) != 0;
  if (wholeFileRead) {
    job.lastScan = cinfo.input_scan_number;
    job.progressive = cinfo.progressive_mode != 0;
    job.cutInsideScan = CutShort(job);
    job.scansCut = job.cutInsideScan || (job.source.hitEnd && !AllCoefficientsIn(cinfo));
  }
  // One row a call: the bitmap's rows lie upward in memory, and a warning about missing data
  // then names the first row that holds made-up pixels.
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    JSAMPROW row = job.cmyk ? job.work.data() : bitmap.ScanLine(y);
    const auto got = static_cast<int>(jpeg_read_scanlines(&cinfo, &row, 1));
    if (job.cmyk && got == 1) CmykRowToBgr(row, bitmap.ScanLine(y), width);
    if (progress.HasHandler()) {
      progress.Report(static_cast<int>(std::int64_t{cinfo.output_scanline} * 100 / height));
    }
    // The arithmetic decoder makes up zeros at the end of the data without a warning: for it, the
    // first look past the end of the stream marks the cut.
    const bool cut = CutShort(job) || (cinfo.arith_code && job.source.hitEnd);
    if (!wholeFileRead && cut) {
      job.rowsCut = true;
      job.goodRows = y;
      return false;
    }
    if (progress.Aborted() || got == 0) return false;
  }
  // Every pixel is in: what follows the last scan (trailing markers up to the end marker) cannot
  // spoil the picture any more, so a fault there does not fail the load.
  job.allRowsRead = true;
  if (!job.scansCut) jpeg_finish_decompress(&cinfo);
  return true;
}

// What a read that lost part of its data keeps and says. The texts are for the user.
void ReportDamage(const TReadJob& job, int height, const TProgressContext& progress) {
  const std::string how = job.source.hitEnd ? "the data ends" : "the data is damaged";
  if (job.rowsCut && job.goodRows > 0) {
    progress.AbortWithPartialImage(how + " after row " + std::to_string(job.goodRows) + " of " +
                                   std::to_string(height));
  } else if (job.scansCut && job.allRowsRead) {
    progress.AbortWithPartialImage(
        how + (job.cutInsideScan ? " in scan " : " after scan ") + std::to_string(job.lastScan) +
        (job.progressive ? ", so the picture lacks detail" : ", so part of the picture is missing"));
  } else {
    progress.Abort();
  }
}

// The compressor's share, living in JpegWriteStream's frame like the reader's.
struct TWriteJob {
  jpeg_compress_struct cinfo{};
  TJpegErrorManager error{};
  TDestinationManager destination;
  std::vector<JOCTET> chunk;
  std::vector<std::uint8_t> work;  // one CMYK row

  TWriteJob() = default;
  TWriteJob(const TWriteJob&) = delete;
  TWriteJob& operator=(const TWriteJob&) = delete;
  ~TWriteJob() { jpeg_destroy_compress(&cinfo); }
};

// The inverse of CmykRowToBgr: K is the brightest channel, the others are scaled up by it.
void BgrRowToCmyk(const std::uint8_t* bgr, std::uint8_t* cmyk, int width) {
  for (int x = 0; x < width; ++x, bgr += 3, cmyk += 4) {
    const unsigned blue = bgr[0];
    const unsigned green = bgr[1];
    const unsigned red = bgr[2];
    unsigned k = std::max({red, green, blue});
    if (k == 0) k = 1;
    cmyk[0] = static_cast<std::uint8_t>(red * 255 / k);
    cmyk[1] = static_cast<std::uint8_t>(green * 255 / k);
    cmyk[2] = static_cast<std::uint8_t>(blue * 255 / k);
    cmyk[3] = static_cast<std::uint8_t>(k);
  }
}

// Compresses the 24-bit image. False on a library error or an abort.
bool EncodeRows(TWriteJob& job, const TBitmap& image, const TIOParams& params,
                const TProgressContext& progress) {
  jpeg_compress_struct& cinfo = job.cinfo;
  if (setjmp(job.error.jump) != 0) return false;
  jpeg_create_compress(&cinfo);
  cinfo.dest = &job.destination.pub;
  if (progress.Aborted()) return false;

  cinfo.image_width = static_cast<JDIMENSION>(image.Width());
  cinfo.image_height = static_cast<JDIMENSION>(image.Height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  J_COLOR_SPACE target = JCS_RGB;
  switch (params.JpegColorSpace) {
    case 1: target = JCS_GRAYSCALE; break;
    case 2: target = JCS_YCbCr; break;
    case 3:
    case 4:
      target = params.JpegColorSpace == 3 ? JCS_CMYK : JCS_YCCK;
      cinfo.in_color_space = JCS_CMYK;
      cinfo.input_components = 4;
      break;
    default: break;
  }
  const bool cmyk = cinfo.in_color_space == JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, target);
  cinfo.density_unit = 1;
  cinfo.X_density = static_cast<UINT16>(params.DpiX);
  cinfo.Y_density = static_cast<UINT16>(params.DpiY);
  cinfo.dct_method = DctMethod(params.JpegDctMethod);
  cinfo.optimize_coding = params.JpegOptimalHuffman ? TRUE : FALSE;
  // The library defines smoothing from 0 (none) to 100.
  cinfo.smoothing_factor = std::clamp(params.JpegSmoothing, 0, 100);
  jpeg_set_quality(&cinfo, params.JpegQuality, TRUE);
  if (params.JpegProgressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);

  const int height = image.Height();
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    JSAMPROW row = const_cast<JSAMPROW>(image.ScanLine(y));
    if (cmyk) {
      BgrRowToCmyk(row, job.work.data(), image.Width());
      row = job.work.data();
    }
    jpeg_write_scanlines(&cinfo, &row, 1);
    if (progress.HasHandler()) {
      progress.Report(static_cast<int>(std::int64_t{cinfo.next_scanline} * 100 / height));
    }
    if (progress.Aborted()) return false;
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

}  // namespace

void JpegReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                    const TProgressContext& progress) {
  if (!IsJpegStream(stream)) {
    progress.Abort();
    return;
  }
  TReadJob job;
  InitJpegErrorManager(job.error, false);
  job.cinfo.err = &job.error.pub;
  job.chunk.resize(kChunkBytes);
  job.source.stream = &stream;
  job.source.buffer = job.chunk.data();
  job.source.pub.init_source = InitSource;
  job.source.pub.fill_input_buffer = FillInputBuffer;
  job.source.pub.skip_input_data = SkipInputData;
  job.source.pub.resync_to_restart = jpeg_resync_to_restart;
  job.source.pub.term_source = TermSource;
  job.monitor.progress_monitor = LimitScans;

  bool ok = ReadHeader(job, params);
  if (ok && !paramsOnly) {
    // The output size is checked before anything is allocated for it.
    ok = ImageSizeAllowed(params.Width, params.Height, pf24bit);
    if (ok) {
      PrepareBitmap(bitmap, params.Width, params.Height, pf24bit);
      if (job.cmyk) job.work.resize(static_cast<std::size_t>(params.Width) * 4);
      ok = (DecodeRows(job, bitmap, progress) || job.allRowsRead) && !job.scansCut;
    }
  }
  jpeg_destroy_decompress(&job.cinfo);
  // Leave the stream right after the data the library consumed.
  if (!job.source.hitEnd && job.source.pub.bytes_in_buffer > 0 && !job.source.failure) {
    stream.Seek(stream.Position() - static_cast<std::int64_t>(job.source.pub.bytes_in_buffer));
  }
  if (job.source.failure) {
    progress.Abort();
    std::rethrow_exception(job.source.failure);
  }
  if (!ok && !progress.Aborted()) ReportDamage(job, params.Height, progress);
  if (!ok) progress.Abort();
}

void JpegWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress) {
  // The library takes 24-bit rows; other formats go through a temporary copy.
  TBitmap expanded;
  const TBitmap* image = &bitmap;
  if (bitmap.PixelFormat() != pf24bit) {
    Expand1BitTo24Bit(bitmap, expanded, progress);
    image = &expanded;
  }
  if (image->Empty()) {
    progress.Abort();
    return;
  }
  TWriteJob job;
  InitJpegErrorManager(job.error, false);
  job.cinfo.err = &job.error.pub;
  job.chunk.resize(kChunkBytes);
  job.destination.stream = &stream;
  job.destination.buffer = job.chunk.data();
  job.destination.pub.init_destination = InitDestination;
  job.destination.pub.empty_output_buffer = EmptyOutputBuffer;
  job.destination.pub.term_destination = TermDestination;
  if (params.JpegColorSpace == 3 || params.JpegColorSpace == 4) {
    job.work.resize(static_cast<std::size_t>(image->Width()) * 4);
  }
  const bool ok = EncodeRows(job, *image, params, progress);
  jpeg_destroy_compress(&job.cinfo);
  if (!ok) progress.Abort();
  if (job.destination.failure) std::rethrow_exception(job.destination.failure);
}

bool IsJpegStream(TStream& stream) {
  const std::int64_t start = stream.Position();
  std::uint8_t head[3] = {};
  const bool match =
      stream.Read(head, sizeof head) == sizeof head && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
  stream.Seek(start);
  return match;
}

}  // namespace veilora
