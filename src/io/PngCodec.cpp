#include "io/PngCodec.h"

#include <png.h>

#include <array>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "io/ColorQuantizer.h"

namespace veilora {

// libpng reports errors by calling the error callback, which must not return. The glue below lands
// such a call with setjmp/longjmp: each function that calls setjmp holds only plain locals, and the
// callbacks that may be left by a longjmp hold no C++ object while they call into libpng, so a jump
// never skips a destructor. C++ exceptions never cross libpng's frames either: the stream callbacks
// catch them, keep them, and turn them into a library error; the caller rethrows them once the jump
// has landed and the library structures are gone.

namespace {

// libpng's own limits, set on every structure: the side limit of every reader, and a ceiling on what
// one ancillary chunk (text, profile) may make the library allocate.
constexpr png_uint_32 kMaxSide = static_cast<png_uint_32>(kMaxImageSide);
// The largest side the format itself allows (2^31 - 1).
constexpr png_uint_32 kFormatMaxSide = 0x7FFFFFFF;
constexpr png_alloc_size_t kChunkMallocMax = png_alloc_size_t{64} << 20;

// Filter masks for PngFilter 0 (none), 1 (sub) and 2 (Paeth).
constexpr int kFilterMasks[3] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_PAETH};

void IgnoreWarning(png_structp, png_const_charp) {}

void FlushNothing(png_structp) {}

// ------------------------------------------------------------------ reading

// What one read keeps between the library calls. It lives in PngReadStream's frame, which frees the
// library structures whatever way the read ends; the glue functions see it through a pointer.
struct TReadSession {
  TReadSession(TStream& s, const TProgressContext& p) : stream(&s), progress(&p) {}
  ~TReadSession() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
  TReadSession(const TReadSession&) = delete;
  TReadSession& operator=(const TReadSession&) = delete;

  png_structp png = nullptr;
  png_infop info = nullptr;
  TStream* stream;
  const TProgressContext* progress;
  // The exception the stream raised inside the read callback, raised again once the jump landed.
  std::exception_ptr streamError;
  // The stream held fewer bytes than the library asked for.
  bool dataEnded = false;

  // The header, as png_get_IHDR gives it, and what the transformations make of it.
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int depth = 0;
  int colourType = 0;
  int interlace = 0;
  int passes = 1;
  // Depth 1 stays packed bits only for grey and for a palette of exactly black then white without
  // transparency: the bitmap's bit 0 is black and bit 1 white, whatever a palette says.
  bool oneBitOutput = false;
  std::size_t rowBytes = 0;
  png_uint_32 ppmX = 0;
  png_uint_32 ppmY = 0;
  bool hasBackground = false;
  TRGB fileBackground;

  // The bitmap rows are written to; the glue reaches them through this pointer.
  TBitmap* bitmap = nullptr;

  // Where the rows went when the library gave up: the pass it was in (Adam7 passes 0..6; 7 once
  // the last row of the last pass is in) and the rows of that pass it had finished, as libpng
  // counts them.
  int stoppedInPass = 0;
  png_uint_32 stoppedAfterRow = 0;

  // Fills `data` from the stream; false when the stream has fewer bytes or raised an exception.
  bool Fill(png_bytep data, std::size_t length) {
    try {
      if (stream->Read(data, length) == length) return true;
      dataEnded = true;
      return false;
    } catch (...) {
      streamError = std::current_exception();
      return false;
    }
  }
};

// The glue that called setjmp decides what the failure means for the load.
[[noreturn]] void ReadError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

// A stream that ends before the library has what it asks for is an error: handing over less would
// let it decode whatever the buffer held, and the data would never end. libpng takes image data in
// pieces of at most 8 KiB, so the rows of a last, incomplete piece are lost with it.
void ReadData(png_structp png, png_bytep data, std::size_t length) {
  auto* session = static_cast<TReadSession*>(png_get_io_ptr(png));
  if (!session->Fill(data, length)) png_error(png, "read past the end of the data");
}

// A bKGD colour, given in the file's sample depth (palette files: the entry's 8-bit colour), as the
// 8-bit colour the image is flattened onto.
TRGB BackgroundFromFile(const png_color_16& colour, int depth, int colourType) {
  auto scale = [depth](png_uint_16 value) -> std::uint8_t {
    if (depth == 16) return static_cast<std::uint8_t>(value >> 8);
    if (depth < 8) return static_cast<std::uint8_t>(value * 255 / ((1 << depth) - 1));
    return static_cast<std::uint8_t>(value);
  };
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    return TRGB{static_cast<std::uint8_t>(colour.blue), static_cast<std::uint8_t>(colour.green),
                static_cast<std::uint8_t>(colour.red)};
  }
  if ((colourType & PNG_COLOR_MASK_COLOR) == 0) {
    const std::uint8_t grey = scale(colour.gray);
    return TRGB{grey, grey, grey};
  }
  return TRGB{scale(colour.blue), scale(colour.green), scale(colour.red)};
}

// Steps 3 to 6 of the read: the header, the background, the transformations. False when the
// library gave up.
bool ReadHeaderGlue(TReadSession* s, TRGB background) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_user_limits(s->png, kMaxSide, kMaxSide);
  png_set_chunk_malloc_max(s->png, kChunkMallocMax);
  png_set_read_fn(s->png, s, ReadData);
  png_read_info(s->png, s->info);
  png_get_IHDR(s->png, s->info, &s->width, &s->height, &s->depth, &s->colourType, &s->interlace, nullptr,
               nullptr);
  const int d = s->depth;
  const int t = s->colourType;
  if (d == 1) {
    png_colorp palette = nullptr;
    int count = 0;
    const bool blackThenWhite = t == PNG_COLOR_TYPE_PALETTE &&
                                png_get_PLTE(s->png, s->info, &palette, &count) != 0 && palette != nullptr &&
                                count >= 2 && palette[0].red == 0 && palette[0].green == 0 &&
                                palette[0].blue == 0 && palette[1].red == 255 && palette[1].green == 255 &&
                                palette[1].blue == 255 && png_get_valid(s->png, s->info, PNG_INFO_tRNS) == 0;
    s->oneBitOutput = t == PNG_COLOR_TYPE_GRAY || blackThenWhite;
  }

  // Alpha and transparency are flattened onto the file's background, or else onto PngBackground.
  // libpng 1.6 takes a background given without need-expand in the depth of the rows it hands
  // out, which are 8-bit here (it widens the value itself where it composes 16-bit samples), and a
  // file's bKGD in the file's own depth.
  png_color_16p fileBackground = nullptr;
  if (png_get_bKGD(s->png, s->info, &fileBackground) != 0 && fileBackground != nullptr) {
    s->hasBackground = true;
    s->fileBackground = BackgroundFromFile(*fileBackground, d, t);
    if (t == PNG_COLOR_TYPE_GRAY && d > 1 && d < 8) {
      // libpng 1.6 leaves a 2- or 4-bit grey background unscaled once the grey is widened to
      // colour, so such a file gets its background already brought to 8 bits.
      png_color_16 colour{};
      colour.red = colour.green = colour.blue = colour.gray = s->fileBackground.r;
      png_set_background(s->png, &colour, PNG_BACKGROUND_GAMMA_FILE, 0, 1.0);
    } else {
      png_set_background(s->png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
    }
  } else {
    png_color_16 colour{};
    colour.red = background.r;
    colour.green = background.g;
    colour.blue = background.b;
    png_set_background(s->png, &colour, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  }

  // Everything but a packed-bits picture becomes 8-bit blue-green-red.
  const bool colour = !s->oneBitOutput;
  if (t == PNG_COLOR_TYPE_PALETTE && colour && d <= 8) png_set_expand(s->png);
  if (t == PNG_COLOR_TYPE_GRAY && d > 1 && d < 8) png_set_expand(s->png);
  if (d == 16) png_set_strip_16(s->png);
  if (d > 1 && d < 8) png_set_packing(s->png);
  if ((t == PNG_COLOR_TYPE_GRAY || t == PNG_COLOR_TYPE_GRAY_ALPHA) && d > 1) png_set_gray_to_rgb(s->png);
  if (colour) png_set_bgr(s->png);
  // libpng 1.6 compares the transparent grey of an 8- or 16-bit grey file after widening it to
  // colour, where it no longer matches; as an alpha channel it is flattened like any other.
  if (t == PNG_COLOR_TYPE_GRAY && d >= 8 && png_get_valid(s->png, s->info, PNG_INFO_tRNS) != 0) {
    png_set_tRNS_to_alpha(s->png);
  }

  s->passes = png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  s->rowBytes = png_get_rowbytes(s->png, s->info);
  s->ppmX = png_get_x_pixels_per_meter(s->png, s->info);
  s->ppmY = png_get_y_pixels_per_meter(s->png, s->info);
  return true;
}

// Steps 10 and 11: every pass, every row into the bitmap, then the end of the file. Stops between
// rows when the abort flag is set. False when the library gave up; the session then says where.
// An interlaced picture is read in libpng's "rectangle" mode: each pass also fills the pixels that
// later passes will set with the nearest pixel it has, so a picture whose data ends early shows
// every pass it got as a coarser whole, and the last pass leaves every pixel exact.
bool ReadRowsGlue(TReadSession* s) {
  if (setjmp(png_jmpbuf(s->png))) {
    s->stoppedInPass = png_get_current_pass_number(s->png);
    s->stoppedAfterRow = png_get_current_row_number(s->png);
    return false;
  }
  const std::int64_t height = s->height;
  const bool interlaced = s->passes > 1;
  const double step = 100.0 / (static_cast<double>(height) * s->passes);
  std::int64_t counter = 0;
  for (int pass = 0; pass < s->passes && !s->progress->Aborted(); ++pass) {
    for (std::int64_t y = 0; y < height; ++y) {
      png_bytep row = s->bitmap->ScanLine(static_cast<int>(y));
      if (interlaced)
        png_read_rows(s->png, nullptr, &row, 1);
      else
        png_read_rows(s->png, &row, nullptr, 1);
      ++counter;
      if (s->progress->HasHandler())
        s->progress->Report(static_cast<int>(static_cast<double>(counter) * step));
      if (s->progress->Aborted()) break;
    }
  }
  if (!s->progress->Aborted()) png_read_end(s->png, nullptr);
  return true;
}

// The reduced read: every step-th row and pixel of the picture, one row in memory at a time. An
// interlaced picture is read in its first Adam7 pass only, which holds exactly the pixels at
// multiples of 8 (the caller makes step a multiple of 8), so the later passes are never decoded.
bool ReadReducedRowsGlue(TReadSession* s, int step, png_bytep rowBuffer, TBitmap* target) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  const png_uint_32 height = s->height;
  const png_uint_32 width = s->width;
  for (png_uint_32 y = 0; y < height && !s->progress->Aborted(); ++y) {
    png_read_rows(s->png, &rowBuffer, nullptr, 1);
    if (y % static_cast<png_uint_32>(step) != 0) continue;
    std::uint8_t* out = target->ScanLine(static_cast<int>(y / static_cast<png_uint_32>(step)));
    for (png_uint_32 x = 0; x < width; x += static_cast<png_uint_32>(step), out += 3) {
      if (s->oneBitOutput) {
        const std::uint8_t level = (rowBuffer[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
        out[0] = out[1] = out[2] = level;
      } else {
        std::memcpy(out, rowBuffer + 3 * static_cast<std::size_t>(x), 3);
      }
    }
    if (s->progress->HasHandler()) s->progress->Report(static_cast<int>(100.0 * (y + 1) / height));
  }
  return true;
}

// After the library gave up on the rows: a picture whose every row is in and whose data merely
// ends loads as it is; one that got its rows, or part of them, keeps them and says what is wrong;
// one that got no row at all fails.
void ReportDamage(const TReadSession& s, const TProgressContext& progress) {
  const std::int64_t height = s.height;
  const bool interlaced = s.passes > 1;
  const std::int64_t rows = s.stoppedAfterRow;
  if (interlaced ? s.stoppedInPass >= s.passes : rows >= height) {
    // Every row is in. Data that merely ends (a missing end chunk, or the last checksums) costs
    // nothing; a checksum that fails means a row may have been decoded from wrong data.
    if (!s.dataEnded) {
      progress.AbortWithPartialImage("the data is damaged after the last row, so some rows may be wrong");
    }
    return;
  }
  if (s.stoppedInPass == 0 && rows == 0) {
    progress.Abort();
    return;
  }
  const std::string how = s.dataEnded ? "the data ends" : "the data is damaged";
  const std::string where = "row " + std::to_string(rows) + " of " + std::to_string(height);
  if (interlaced) {
    progress.AbortWithPartialImage(how + " in pass " + std::to_string(s.stoppedInPass + 1) + " of " +
                                   std::to_string(s.passes) + " of the interlaced picture, at " + where +
                                   ", so it lacks detail");
  } else {
    progress.AbortWithPartialImage(how + " after " + where);
  }
}

// Resolution from pixels per metre; 0 gives the screen's.
std::int32_t DpiFromPpm(png_uint_32 ppm, std::int32_t fallback) {
  const std::int32_t dpi = RoundToInt(static_cast<double>(ppm) / 100.0 * 2.54);
  return dpi == 0 ? fallback : dpi;
}

// ------------------------------------------------------------------ writing

struct TWriteSession {
  TWriteSession(TStream& s, const TProgressContext& p) : stream(&s), progress(&p) {}
  ~TWriteSession() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
  TWriteSession(const TWriteSession&) = delete;
  TWriteSession& operator=(const TWriteSession&) = delete;

  png_structp png = nullptr;
  png_infop info = nullptr;
  TStream* stream;
  const TProgressContext* progress;
  std::exception_ptr streamError;

  // The plan the glue carries out; every object it points at belongs to PngWriteStream's frame.
  const TBitmap* source = nullptr;
  int colourType = 0;
  int depth = 0;
  int interlace = 0;
  const png_color* palette = nullptr;  // 256 entries, colour type 3 only
  const TColorQuantizer* quantizer = nullptr;
  std::uint8_t* indexRow = nullptr;  // width bytes, colour type 3 only
  png_uint_32 ppmX = 0;
  png_uint_32 ppmY = 0;
  int filterMask = -1;  // no png_set_filter call when negative
  png_color_16 background{};
  int compression = 5;

  bool Put(png_bytep data, std::size_t length) {
    try {
      stream->Write(data, length);
      return true;
    } catch (...) {
      streamError = std::current_exception();
      return false;
    }
  }
};

[[noreturn]] void WriteError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

void WriteData(png_structp png, png_bytep data, std::size_t length) {
  auto* session = static_cast<TWriteSession*>(png_get_io_ptr(png));
  if (!session->Put(data, length)) png_error(png, "the stream could not be written");
}

// Steps 2 and 4 to 12 of the write. False when the library gave up.
bool WriteGlue(TWriteSession* s) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_write_fn(s->png, s, WriteData, FlushNothing);
  const TBitmap& source = *s->source;
  const auto width = static_cast<png_uint_32>(source.Width());
  const auto height = static_cast<png_uint_32>(source.Height());
  png_set_IHDR(s->png, s->info, width, height, s->depth, s->colourType, s->interlace,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  if (s->colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(s->png, s->info, s->palette, 256);
  png_set_pHYs(s->png, s->info, s->ppmX, s->ppmY, PNG_RESOLUTION_METER);
  if (s->filterMask >= 0) png_set_filter(s->png, PNG_FILTER_TYPE_BASE, s->filterMask);
  png_set_bKGD(s->png, s->info, &s->background);
  png_set_compression_level(s->png, s->compression);
  png_set_bgr(s->png);
  png_write_info(s->png, s->info);
  const int passes = png_set_interlace_handling(s->png);

  const double step = 100.0 / (static_cast<double>(passes) * source.Height());
  std::int64_t counter = 0;
  for (int pass = 0; pass < passes && !s->progress->Aborted(); ++pass) {
    for (int y = 0; y < source.Height(); ++y) {
      // libpng copies each row before transforming it, so the source's own rows can be handed over.
      png_bytep row = const_cast<png_bytep>(source.ScanLine(y));
      if (s->colourType == PNG_COLOR_TYPE_PALETTE) {
        const std::uint8_t* pixel = row;
        for (png_uint_32 x = 0; x < width; ++x, pixel += 3) {
          s->indexRow[x] =
              static_cast<std::uint8_t>(s->quantizer->ColorIndex(TRGB{pixel[0], pixel[1], pixel[2]}));
        }
        row = s->indexRow;
      }
      png_write_rows(s->png, &row, 1);
      ++counter;
      if (s->progress->HasHandler())
        s->progress->Report(static_cast<int>(static_cast<double>(counter) * step));
      if (s->progress->Aborted()) break;
    }
  }
  if (!s->progress->Aborted()) png_write_end(s->png, s->info);
  return true;
}

// Dots per inch to pixels per metre. A negative resolution has no meaning in the file's unsigned
// field and is written as 0 (unknown).
png_uint_32 PpmFromDpi(std::int32_t dpi) {
  const std::int32_t ppm = RoundToInt(static_cast<double>(dpi) * 100.0 / 2.54);
  return ppm > 0 ? static_cast<png_uint_32>(ppm) : 0;
}

// Creates libpng's reader for the session and reads the header; on failure the component aborts
// (a failure of the stream itself is raised) and false is returned.
bool StartReading(TReadSession& session, TRGB background) {
  session.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, ReadError, IgnoreWarning);
  if (session.png != nullptr) session.info = png_create_info_struct(session.png);
  if (session.png == nullptr || session.info == nullptr || !ReadHeaderGlue(&session, background)) {
    session.progress->Abort();
    if (session.streamError) std::rethrow_exception(session.streamError);
    return false;
  }
  return true;
}

}  // namespace

void PngReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress) {
  TReadSession session(stream, progress);
  if (!StartReading(session, params.PngBackground)) return;
  if (session.hasBackground) params.PngBackground = session.fileBackground;

  const int d = session.depth;
  const int t = session.colourType;
  params.Width = static_cast<std::int32_t>(session.width);
  params.Height = static_cast<std::int32_t>(session.height);
  params.BitsPerSample = d;
  params.SamplesPerPixel = t == PNG_COLOR_TYPE_RGB          ? 3
                           : t == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                           : t == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                                                            : 1;
  params.DpiX = DpiFromPpm(session.ppmX, DefaultResolution().dpiX);
  params.DpiY = DpiFromPpm(session.ppmY, DefaultResolution().dpiY);
  params.FreeColorMap();
  png_colorp palette = nullptr;
  int paletteCount = 0;
  if (t == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(session.png, session.info, &palette, &paletteCount) != 0 &&
      palette != nullptr && paletteCount > 0) {
    params.SetColorMap(static_cast<std::size_t>(paletteCount));
    for (int i = 0; i < paletteCount; ++i)
      params.ColorMap[i] = TRGB{palette[i].blue, palette[i].green, palette[i].red};
  }
  params.PngInterlaced = png_get_interlace_type(session.png, session.info) != PNG_INTERLACE_NONE;
  if (paramsOnly) return;

  // The rows the library hands out must be exactly the bitmap's rows: packed bits for a two-colour
  // picture, three bytes a pixel otherwise.
  const TPixelFormat format = session.oneBitOutput ? pf1bit : pf24bit;
  const std::size_t expectedRowBytes = session.oneBitOutput
                                           ? (static_cast<std::size_t>(session.width) + 7) / 8
                                           : 3 * static_cast<std::size_t>(session.width);
  if (!ImageSizeAllowed(session.width, session.height, format) || session.rowBytes != expectedRowBytes) {
    progress.Abort();
    return;
  }
  PrepareBitmap(bitmap, static_cast<int>(session.width), static_cast<int>(session.height), format);
  session.bitmap = &bitmap;
  if (ReadRowsGlue(&session)) return;
  if (session.streamError) {
    progress.Abort();
    std::rethrow_exception(session.streamError);
  }
  ReportDamage(session, progress);
}

void PngWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress) {
  TWriteSession session(stream, progress);
  session.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, WriteError, IgnoreWarning);
  if (session.png == nullptr) throw EPngWriteError();
  session.info = png_create_info_struct(session.png);
  if (session.info == nullptr) throw EPngWriteError();
  // No side limit of the library's own beyond the format's: the bitmap's memory limit is the bound.
  png_set_user_limits(session.png, kFormatMaxSide, kFormatMaxSide);

  // The source (colour reduction): the caller's bitmap is never changed; conversions are copies.
  TBitmap converted;
  const TBitmap* source = &bitmap;
  if (bitmap.PixelFormat() != pf1bit && bitmap.PixelFormat() != pf24bit) {
    ConvertTo24Bit(bitmap, converted);
    source = &converted;
  }
  std::unique_ptr<TBitmap> twoColours;
  if (params.BitsPerSample == 1) {
    if (source->PixelFormat() == pf24bit) {
      TRGB colour0;
      TRGB colour1;
      twoColours = TwoColorTo1Bit(*source, colour0, colour1);
      if (twoColours != nullptr) {
        source = twoColours.get();
      } else {
        if (source != &converted) CopyBitmap(*source, converted);
        DitherTo1Bit(converted, progress);
        source = &converted;
      }
    }
  } else if (source->PixelFormat() == pf1bit) {
    Expand1BitTo24Bit(*source, converted, progress);
    source = &converted;
  }

  // Colour type and depth. A 1-bit source is always written as 1-bit grey: BitsPerSample 1 asks for
  // two colours whatever SamplesPerPixel says.
  if (source->PixelFormat() == pf1bit) {
    session.colourType = PNG_COLOR_TYPE_GRAY;
    session.depth = 1;
  } else if (params.SamplesPerPixel == 1) {
    session.colourType = PNG_COLOR_TYPE_PALETTE;
    session.depth = 8;
  } else {
    session.colourType = PNG_COLOR_TYPE_RGB;
    session.depth = 8;
  }
  session.source = source;
  session.interlace = params.PngInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;

  // The palette: all 256 entries of the quantizer's table; those it did not make stay black.
  std::unique_ptr<TColorQuantizer> quantizer;
  std::array<png_color, 256> palette{};
  std::vector<std::uint8_t> indexRow;
  if (session.colourType == PNG_COLOR_TYPE_PALETTE) {
    std::array<TRGB, 256> table{};
    quantizer = std::make_unique<TColorQuantizer>(*source, table.data(), 256);
    for (std::size_t i = 0; i < table.size(); ++i) palette[i] = png_color{table[i].r, table[i].g, table[i].b};
    indexRow.resize(static_cast<std::size_t>(source->Width()));
    session.palette = palette.data();
    session.quantizer = quantizer.get();
    session.indexRow = indexRow.data();
    session.background.index = static_cast<png_byte>(quantizer->ColorIndex(params.PngBackground));
  } else if (session.colourType == PNG_COLOR_TYPE_RGB) {
    // 8-bit samples: libpng 1.6 refuses (and leaves out) a bKGD value wider than the file's depth.
    session.background.red = params.PngBackground.r;
    session.background.green = params.PngBackground.g;
    session.background.blue = params.PngBackground.b;
  }
  // A grey file's background is black (grey 0).

  session.ppmX = PpmFromDpi(params.DpiX);
  session.ppmY = PpmFromDpi(params.DpiY);
  if (params.PngFilter < 3) session.filterMask = kFilterMasks[params.PngFilter];
  session.compression = params.PngCompression;

  if (!WriteGlue(&session)) {
    if (session.streamError) std::rethrow_exception(session.streamError);
    throw EPngWriteError();
  }
}

}  // namespace veilora

namespace veilora {

void PngReadStreamReduced(TStream& stream, TBitmap& bitmap, TIOParams& params, int maxSide,
                          const TProgressContext& progress) {
  TReadSession session(stream, progress);
  if (!StartReading(session, params.PngBackground)) return;
  params.Width = static_cast<std::int32_t>(session.width);
  params.Height = static_cast<std::int32_t>(session.height);
  params.BitsPerSample = session.depth;
  const int t = session.colourType;
  params.SamplesPerPixel = t == PNG_COLOR_TYPE_RGB          ? 3
                           : t == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                           : t == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                                                            : 1;
  params.DpiX = DpiFromPpm(session.ppmX, DefaultResolution().dpiX);
  params.DpiY = DpiFromPpm(session.ppmY, DefaultResolution().dpiY);
  params.PngInterlaced = session.passes > 1;
  const std::size_t expectedRowBytes = session.oneBitOutput
                                           ? (static_cast<std::size_t>(session.width) + 7) / 8
                                           : 3 * static_cast<std::size_t>(session.width);
  if (session.rowBytes != expectedRowBytes || maxSide < 1) {
    progress.Abort();
    return;
  }
  const png_uint_32 longest = std::max(session.width, session.height);
  std::int64_t step = (static_cast<std::int64_t>(longest) + maxSide - 1) / maxSide;
  if (step < 1) step = 1;
  if (session.passes > 1) step = (step + 7) / 8 * 8;
  const auto reducedWidth = static_cast<int>((session.width + step - 1) / step);
  const auto reducedHeight = static_cast<int>((session.height + step - 1) / step);
  if (!ImageSizeAllowed(static_cast<png_uint_32>(reducedWidth), static_cast<png_uint_32>(reducedHeight),
                        pf24bit)) {
    progress.Abort();
    return;
  }
  std::vector<png_byte> row(expectedRowBytes);
  PrepareBitmap(bitmap, reducedWidth, reducedHeight, pf24bit);
  if (!ReadReducedRowsGlue(&session, static_cast<int>(step), row.data(), &bitmap)) {
    // The rows read so far stay; the rest is the colour the bitmap was prepared with.
    progress.AbortWithPartialImage("the data of the picture is damaged");
    if (session.streamError) std::rethrow_exception(session.streamError);
  }
}

}  // namespace veilora
