#include "io/TiffJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "image/Bitmap.h"
#include "io/JpegErrors.h"

namespace veilora {

namespace {

// A strip made of more scans than this is an attack, not a scanner's output.
constexpr int kMaxScans = 100;
// Handed to the library when a strip's data ends: an end-of-image marker, so that it finishes.
constexpr JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

// Compressed data from memory; past its end, an end-of-image marker.
struct TMemorySource {
  jpeg_source_mgr pub{};
  const JOCTET* data = nullptr;
  std::size_t bytes = 0;
};

void InitSource(j_decompress_ptr) {}
boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* source = reinterpret_cast<TMemorySource*>(cinfo->src);
  source->pub.next_input_byte = kFakeEoi;
  source->pub.bytes_in_buffer = sizeof kFakeEoi;
  return TRUE;
}
void SkipInputData(j_decompress_ptr cinfo, long count) {
  auto* source = reinterpret_cast<TMemorySource*>(cinfo->src);
  if (count <= 0) return;
  if (static_cast<std::size_t>(count) <= source->pub.bytes_in_buffer) {
    source->pub.next_input_byte += count;
    source->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
  } else {
    FillInputBuffer(cinfo);
  }
}
void TermSource(j_decompress_ptr) {}

void LimitScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    (*cinfo->err->error_exit)(cinfo);
  }
}

void SetSource(TMemorySource& source, const std::uint8_t* data, std::size_t bytes) {
  source.data = data;
  source.bytes = bytes;
  source.pub.next_input_byte = data;
  source.pub.bytes_in_buffer = bytes;
}

}  // namespace

struct TTiffJpegDecoder::TJob {
  jpeg_decompress_struct cinfo{};
  TJpegErrorManager error{};
  TMemorySource source;
  jpeg_progress_mgr monitor{};
  bool created = false;
  std::uint16_t photometric = 0;
  int width = 0;
  int maxHeight = 0;
  int components = 3;
  std::vector<std::uint8_t> row;

  TJob() = default;
  TJob(const TJob&) = delete;
  TJob& operator=(const TJob&) = delete;
  ~TJob() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

namespace {

using TJob = TTiffJpegDecoder::TJob;

// Creates the decompressor and takes in the tables. Holds nothing with a destructor across the
// library calls, so that an error may land here.
bool CreateAndLoadTables(TJob& job, const std::uint8_t* tables, std::size_t tablesBytes) {
  jpeg_decompress_struct& cinfo = job.cinfo;
  if (setjmp(job.error.jump) != 0) return false;
  jpeg_create_decompress(&cinfo);
  job.created = true;
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxPixelBytes);
  cinfo.src = &job.source.pub;
  cinfo.progress = &job.monitor;
  if (tablesBytes > 0) {
    SetSource(job.source, tables, tablesBytes);
    // A tables-only stream leaves the tables in the decompressor for every strip that follows.
    if (jpeg_read_header(&cinfo, FALSE) != JPEG_HEADER_TABLES_ONLY) return false;
  }
  return true;
}

J_COLOR_SPACE DataColourSpace(std::uint16_t photometric) {
  switch (photometric) {
    case 0:
    case 1: return JCS_GRAYSCALE;
    case 2: return JCS_RGB;
    case 5: return JCS_CMYK;
    case 6: return JCS_YCbCr;
    default: return JCS_UNKNOWN;
  }
}

// Decodes one strip's rows into the sink; the number of rows delivered.
int DecodeRows(TJob& job, int rows, TTiffJpegRowSink sink, void* context) {
  jpeg_decompress_struct& cinfo = job.cinfo;
  job.error.dataMissing = false;
  // Volatile: a local changed after setjmp must keep its value through the jump.
  volatile int delivered = 0;
  if (setjmp(job.error.jump) != 0) {
    jpeg_abort_decompress(&cinfo);
    return delivered;
  }
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_abort_decompress(&cinfo);
    return 0;
  }
  // The TIFF entry, not the JPEG markers, tells the colour space of the data.
  cinfo.jpeg_color_space = DataColourSpace(job.photometric);
  cinfo.out_color_space = job.components == 1 ? JCS_GRAYSCALE : job.components == 4 ? JCS_CMYK : JCS_RGB;
  // A strip taller than the strips of the image would only make the library buffer rows (a whole
  // progressive image of them) that are never used. And every 8 x 8 block costs at least one bit:
  // a strip claiming more pixels than that is not worth decoding.
  const std::uint64_t pixels = std::uint64_t{cinfo.image_width} * cinfo.image_height;
  if (cinfo.num_components != job.components || cinfo.image_width != static_cast<JDIMENSION>(job.width) ||
      cinfo.image_height == 0 || cinfo.image_height > static_cast<JDIMENSION>(job.maxHeight) ||
      pixels > std::uint64_t{job.source.bytes} * 8 * 64) {
    jpeg_abort_decompress(&cinfo);
    return 0;
  }
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1;
  if (!jpeg_start_decompress(&cinfo) || cinfo.output_components != job.components) {
    jpeg_abort_decompress(&cinfo);
    return 0;
  }
  JSAMPROW row = job.row.data();
  while (delivered < rows && cinfo.output_scanline < cinfo.output_height) {
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1 || job.error.dataMissing) break;
    if (!sink(context, delivered, row)) break;
    delivered = delivered + 1;
  }
  // A strip may hold more rows than the image has left; those are not wanted.
  jpeg_abort_decompress(&cinfo);
  return delivered;
}

}  // namespace

TTiffJpegDecoder::TTiffJpegDecoder() : job_(std::make_unique<TJob>()) {}
TTiffJpegDecoder::~TTiffJpegDecoder() = default;

bool TTiffJpegDecoder::Begin(const std::uint8_t* tables, std::size_t tablesBytes, std::uint16_t photometric,
                             int width, int stripRows) {
  TJob& job = *job_;
  if (job.created || width < 1 || stripRows < 1 || DataColourSpace(photometric) == JCS_UNKNOWN) return false;
  job.photometric = photometric;
  job.width = width;
  // Some encoders fill the last row of blocks of a strip: allow up to a whole 16-row MCU more.
  job.maxHeight = stripRows + 15;
  job.components = photometric <= 1 ? 1 : photometric == 5 ? 4 : 3;
  job.row.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(job.components));

  InitJpegErrorManager(job.error, true);
  job.cinfo.err = &job.error.pub;
  job.source.pub.init_source = InitSource;
  job.source.pub.fill_input_buffer = FillInputBuffer;
  job.source.pub.skip_input_data = SkipInputData;
  job.source.pub.resync_to_restart = jpeg_resync_to_restart;
  job.source.pub.term_source = TermSource;
  job.monitor.progress_monitor = LimitScans;
  return CreateAndLoadTables(job, tables, tablesBytes);
}

int TTiffJpegDecoder::PixelBytes() const {
  return job_->components;
}

int TTiffJpegDecoder::DecodeStrip(const std::uint8_t* data, std::size_t bytes, int rows,
                                  TTiffJpegRowSink sink, void* context) {
  TJob& job = *job_;
  if (!job.created || rows < 1 || bytes == 0) return 0;
  SetSource(job.source, data, bytes);
  return DecodeRows(job, rows, sink, context);
}

}  // namespace veilora
