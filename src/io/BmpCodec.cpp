#include "io/BmpCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io/ColorQuantizer.h"
#include "io/JpegCodec.h"
#include "io/PngCodec.h"

namespace veilora {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kWindowsHeaderBytes = 40;
constexpr std::size_t kLongestHeaderRead = 64;
constexpr TRGB kWhite{255, 255, 255};
constexpr TRGB kBlack{0, 0, 0};

// The compression field of a Windows header.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitFields = 3;
constexpr std::uint32_t kBiJpeg = 4;
constexpr std::uint32_t kBiPng = 5;
constexpr std::uint32_t kBiAlphaBitFields = 6;

// Bytes of one stored row: width x bits rounded up to whole 32-bit words, as in every DIB.
std::int64_t FileStride(std::int64_t width, int bits) {
  return (width * bits + 31) / 32 * 4;
}

// Pixels per metre to dots per inch; files without a usable value get the screen's resolution.
std::int32_t ResolutionFromPpm(std::int32_t pixelsPerMetre, std::int32_t fallback) {
  const std::int32_t dpi = RoundToInt(pixelsPerMetre / 100.0 * 2.54);
  return dpi > 0 ? dpi : fallback;
}

void ReportRows(const TProgressContext& progress, std::int64_t done, std::int64_t total) {
  if (progress.HasHandler()) progress.Report(RoundToInt(static_cast<double>(done) * 100.0 / total));
}

// How far the stored rows of a file reached: whole rows, and whether a further row got at least one
// pixel.
struct TRowsRead {
  int complete = 0;
  bool partial = false;
};

// Rows that end before the declared height keep what the file held and are reported as damage; a
// file that held no pixel at all is simply refused. A stop asked for through the progress context
// is not damage.
void ReportShortRows(const TProgressContext& progress, const TRowsRead& rows, int height, const char* what) {
  if (progress.Aborted() || rows.complete >= height) return;
  if (rows.complete == 0 && !rows.partial) {
    progress.Abort();
    return;
  }
  const std::string total = std::to_string(height);
  progress.AbortWithPartialImage(rows.complete == 0
                                     ? std::string("the ") + what + " ends inside row 1 of " + total
                                     : std::string("the ") + what + " ends after row " +
                                           std::to_string(rows.complete) + " of " + total);
}

// Reads up to `count` palette entries of `entryBytes` bytes (blue, green, red first) into ColorMap,
// never more than `limit` bytes: a colours-used field of four billion costs no more than the file.
void ReadPalette(TStream& stream, std::uint64_t count, int entryBytes, std::int64_t limit,
                 TIOParams& params) {
  const std::uint64_t fits = static_cast<std::uint64_t>(std::max<std::int64_t>(0, limit) / entryBytes);
  const std::int64_t entries = static_cast<std::int64_t>(std::min(count, fits));
  std::vector<std::uint8_t> raw;
  ReadAvailable(stream, entries * entryBytes, raw);
  const std::size_t got = raw.size() / static_cast<std::size_t>(entryBytes);
  params.SetColorMap(got);
  for (std::size_t i = 0; i < got; ++i) {
    const std::uint8_t* entry = raw.data() + i * static_cast<std::size_t>(entryBytes);
    params.ColorMap[i] = TRGB{entry[0], entry[1], entry[2]};
  }
}

// The palette as a full 256-entry table: indexes the file has no entry for give black, so no pixel
// index can reach outside it.
std::array<TRGB, 256> PaletteTable(const TIOParams& params) {
  std::array<TRGB, 256> table{};
  const std::size_t count = std::min<std::size_t>(table.size(), params.ColorMap.size());
  std::copy_n(params.ColorMap.begin(), count, table.begin());
  return table;
}

// The bilevel model itself: a two-entry table of black then white. A (white, black) table is the
// same model with the bits stored inverted.
bool IsBlackWhite(const std::vector<TRGB>& palette) {
  return palette.size() == 2 && palette[0] == kBlack && palette[1] == kWhite;
}
bool IsWhiteBlack(const std::vector<TRGB>& palette) {
  return palette.size() == 2 && palette[0] == kWhite && palette[1] == kBlack;
}

void PutPixel(std::uint8_t* row, std::int64_t x, TRGB colour) {
  std::uint8_t* pixel = row + 3 * x;
  pixel[0] = colour.b;
  pixel[1] = colour.g;
  pixel[2] = colour.r;
}

// The palette index of pixel x in a row of 1, 2, 4 or 8 bits per pixel, leftmost pixel in the high
// bits of a byte.
unsigned PackedIndex(const std::uint8_t* row, int x, int bits) {
  const int perByte = 8 / bits;
  const int shift = 8 - bits * (x % perByte + 1);
  return (row[x / perByte] >> shift) & ((1u << bits) - 1);
}

// Alpha compositing onto the background with libpng's rounding, so that transparency in a BMP or
// an icon looks exactly as the same transparency in a PNG: (fg a + bg (255 - a)) / 255.
std::uint8_t Composite(std::uint8_t foreground, std::uint8_t alpha, std::uint8_t background) {
  const unsigned t = foreground * alpha + background * (255u - alpha) + 128u;
  return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

void CompositePixel(std::uint8_t* pixel, std::uint8_t alpha, TRGB background) {
  if (alpha == 255) return;  // opaque, the common case
  pixel[0] = Composite(pixel[0], alpha, background.b);
  pixel[1] = Composite(pixel[1], alpha, background.g);
  pixel[2] = Composite(pixel[2], alpha, background.r);
}

// A channel of fewer than 8 bits becomes a byte by repeating its bits from the top down, so that
// zero stays 0 and the largest value becomes 255: five bits abcde give abcdeabc.
std::uint8_t WidenChannel(std::uint32_t value, int bits) {
  std::uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += bits) {
    const int shift = 8 - filled - bits;
    out |= shift >= 0 ? value << shift : value >> -shift;
  }
  return static_cast<std::uint8_t>(out);
}

// One channel of a bit-field pixel. The mask may be anything a file holds: empty (the channel is
// 0), with gaps (its bits are taken from the lowest set bit to the highest), overlapping another
// channel's, or wider than a byte (only its top 8 bits count).
class TChannel {
 public:
  TChannel() = default;
  explicit TChannel(std::uint32_t mask) : mask_(mask) {
    if (mask == 0) return;
    shift_ = std::countr_zero(mask);
    int bits = std::bit_width(mask >> shift_);
    if (bits > 8) {
      drop_ = bits - 8;
      bits = 8;
    }
    for (std::uint32_t v = 0; v < (1u << bits); ++v) table_[v] = WidenChannel(v, bits);
  }
  bool Empty() const { return mask_ == 0; }
  std::uint8_t operator()(std::uint32_t pixel) const { return table_[((pixel & mask_) >> shift_) >> drop_]; }

 private:
  std::uint32_t mask_ = 0;
  int shift_ = 0;
  int drop_ = 0;
  std::array<std::uint8_t, 256> table_{};
};

// Red, green, blue and alpha masks of a 16-, 24- or 32-bit pixel.
using Masks = std::array<std::uint32_t, 4>;
struct TBitFields {
  Masks masks{};

  // The layouts a file without masks has: 5-5-5 in 16 bits, a byte a channel in 24 and 32 (the
  // fourth byte of a 32-bit pixel unused).
  static TBitFields Default(int bits) {
    if (bits == 16) return TBitFields{{0x7C00, 0x03E0, 0x001F, 0}};
    return TBitFields{{0xFF0000, 0x00FF00, 0x0000FF, 0}};
  }
  bool IsPlainBytes() const { return masks == std::array<std::uint32_t, 4>{0xFF0000, 0x00FF00, 0x0000FF, 0}; }
};

// Where the k-th stored row goes: stored rows run from the bottom up, or from the top down when the
// file's height was negative.
int BitmapRow(const TBitmap& bitmap, std::int64_t storedRow, bool topDown) {
  return static_cast<int>(topDown ? storedRow : bitmap.Height() - 1 - storedRow);
}

// Zeroes the bits after the last pixel of the first `rows` stored rows. Rows read straight from a
// file bring the file's padding along, and the bitmap keeps its padding zero.
void ClearRowPadding(TBitmap& bitmap, int rows, bool topDown) {
  const std::size_t usedBits = static_cast<std::size_t>(bitmap.Width()) * BitsPerPixel(bitmap.PixelFormat());
  if (usedBits == bitmap.Stride() * 8) return;
  const std::size_t fullBytes = usedBits / 8;
  const unsigned restBits = usedBits % 8;
  for (int k = 0; k < rows; ++k) {
    std::uint8_t* row = bitmap.ScanLine(BitmapRow(bitmap, k, topDown));
    std::size_t clearFrom = fullBytes;
    if (restBits != 0) row[clearFrom++] &= static_cast<std::uint8_t>(0xFF << (8 - restBits));
    std::memset(row + clearFrom, 0, bitmap.Stride() - clearFrom);
  }
}

// Rows whose stored layout is the bitmap's own (1 and 24 bits): straight into the rows. Bottom-up
// rows without a progress handler go in one read, since the file block is the bitmap block.
// Rows past the data are cleared only when the block was reused (`zeroed` false): a fresh block is
// zero already, and leaving its pages untouched keeps a short file that declares a huge picture
// from costing time or memory.
TRowsRead ReadRowsDirect(TStream& stream, TBitmap& bitmap, bool topDown, bool zeroed,
                         const TProgressContext& progress) {
  const std::size_t stride = bitmap.Stride();
  const int height = bitmap.Height();
  const int bits = BitsPerPixel(bitmap.PixelFormat());
  TRowsRead result;
  int rowsWithData = 0;
  if (!topDown && !progress.HasHandler()) {
    const std::size_t got = stream.Read(bitmap.Bits(), bitmap.ImageBytes());
    if (!zeroed) std::memset(bitmap.Bits() + got, 0, bitmap.ImageBytes() - got);
    result.complete = static_cast<int>(got / stride);
    result.partial = (got % stride) * 8 >= static_cast<std::size_t>(bits);
    rowsWithData = static_cast<int>((got + stride - 1) / stride);
  } else {
    std::size_t got = 0;
    int k = 0;
    for (; k < height; ++k) {
      ReportRows(progress, k, height);
      if (progress.Aborted()) break;
      got = stream.Read(bitmap.ScanLine(BitmapRow(bitmap, k, topDown)), stride);
      if (got < stride) break;
    }
    result.complete = k;
    rowsWithData = k;
    if (k < height && got > 0 && !progress.Aborted()) {
      std::uint8_t* row = bitmap.ScanLine(BitmapRow(bitmap, k, topDown));
      std::memset(row + got, 0, stride - got);
      result.partial = got * 8 >= static_cast<std::size_t>(bits);
      rowsWithData = ++k;
    }
    for (; !zeroed && k < height; ++k) std::memset(bitmap.ScanLine(BitmapRow(bitmap, k, topDown)), 0, stride);
  }
  ClearRowPadding(bitmap, rowsWithData, topDown);
  return result;
}

// Stored rows of `bits` per pixel decoded into a 24-bit bitmap one at a time:
// decode(stored bytes, whole pixels present, bitmap row, stored row index). A short read keeps the
// whole pixels it got and leaves the rest unset.
template <typename DecodeRow>
TRowsRead ReadRowsConverted(TStream& stream, TBitmap& bitmap, int bits, bool topDown,
                            const TProgressContext& progress, DecodeRow decode) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const std::size_t stride = static_cast<std::size_t>(FileStride(width, bits));
  std::vector<std::uint8_t> buffer(stride);
  TRowsRead result;
  for (int k = 0; k < height; ++k) {
    ReportRows(progress, k, height);
    if (progress.Aborted()) return result;
    const std::size_t got = stream.Read(buffer.data(), stride);
    const int pixels =
        static_cast<int>(std::min<std::size_t>(width, got * 8 / static_cast<std::size_t>(bits)));
    if (pixels > 0) decode(buffer.data(), pixels, bitmap.ScanLine(BitmapRow(bitmap, k, topDown)), k);
    if (got < stride) {
      result.partial = pixels > 0;
      return result;
    }
    result.complete = k + 1;
  }
  return result;
}

// Run-length decoding of 8-bit (or 4-bit) palette indexes. The data may be anything: runs past the
// end of a row are clipped, a move that leaves the bitmap ends decoding, and so does the end of the
// data; only the last counts as damage (the picture did not reach its end), unless the data ran out
// in the last row after some of its pixels, which is how writers that leave out the end-of-bitmap
// pair end their data.
void DecodeRle(const std::vector<std::uint8_t>& data, bool rle4, TBitmap& bitmap,
               const std::array<TRGB, 256>& palette, bool topDown, const TProgressContext& progress) {
  const std::int64_t width = bitmap.Width();
  const std::int64_t height = bitmap.Height();
  const std::size_t size = data.size();
  std::int64_t line = 0;  // stored rows from the first
  std::int64_t x = 0;
  std::size_t pos = 0;
  bool painted = false;
  auto index = [rle4](const std::uint8_t* bytes, std::int64_t i) -> std::uint8_t {
    if (!rle4) return bytes[i];
    return (bytes[i / 2] >> (i % 2 == 0 ? 4 : 0)) & 15;
  };
  while (pos + 2 <= size) {
    const std::uint8_t first = data[pos];
    const std::uint8_t second = data[pos + 1];
    pos += 2;
    std::uint8_t* row = bitmap.ScanLine(BitmapRow(bitmap, line, topDown));
    if (first > 0) {
      // An encoded run: RLE8 repeats one index, RLE4 alternates the two nibbles, high first.
      const std::int64_t end = std::min<std::int64_t>(x + first, width);
      for (std::int64_t i = 0; x + i < end; ++i) {
        const std::uint8_t value =
            rle4 ? static_cast<std::uint8_t>(i % 2 == 0 ? second >> 4 : second & 15) : second;
        PutPixel(row, x + i, palette[value]);
        painted = true;
      }
      x += first;
      continue;
    }
    switch (second) {
      case 0:  // end of line
        ++line;
        x = 0;
        if (line >= height) return;
        ReportRows(progress, line + 1, height);
        if (progress.Aborted()) return;
        break;
      case 1: return;  // end of bitmap
      case 2:          // delta: right and up from the current position
        if (pos + 2 > size) {
          pos = size;
          break;
        }
        x += data[pos];
        line += data[pos + 1];
        pos += 2;
        if (line >= height || x > width) return;
        break;
      default: {  // an absolute run of `second` indexes, padded to an even byte count
        const std::int64_t count = second;
        const std::size_t bytes = static_cast<std::size_t>(rle4 ? (count + 1) / 2 : count);
        const std::size_t available = std::min(bytes, size - pos);
        const std::int64_t pixels = std::min<std::int64_t>(
            count, rle4 ? static_cast<std::int64_t>(available) * 2 : static_cast<std::int64_t>(available));
        const std::int64_t end = std::min(x + pixels, width);
        for (std::int64_t i = 0; x + i < end; ++i) {
          PutPixel(row, x + i, palette[index(data.data() + pos, i)]);
          painted = true;
        }
        x += count;
        pos = std::min(size, pos + bytes + (bytes & 1));
        break;
      }
    }
  }
  if (line == height - 1 && x > 0) return;
  if (!painted) {
    progress.Abort();
    return;
  }
  progress.AbortWithPartialImage("the run-length data ends in row " + std::to_string(line + 1) + " of " +
                                 std::to_string(height));
}

// A PNG or JPEG image stored whole inside a bitmap file or an icon: its own reader decodes it from
// a memory stream over the `size` bytes at the position. The container's resolution and the
// caller's PNG background and JPEG scale stay as they were; `background` is what transparency is
// flattened onto, unless the PNG names its own colour.
void ReadEmbedded(TStream& stream, std::int64_t size, bool png, TRGB background, TBitmap& bitmap,
                  TIOParams& params, bool paramsOnly, const TProgressContext& progress, bool keepResolution) {
  std::vector<std::uint8_t> data;
  ReadAvailable(stream, size, data);
  if (data.empty()) {
    progress.Abort();
    return;
  }
  TMemoryStream embedded(std::move(data));
  const std::int32_t dpiX = params.DpiX;
  const std::int32_t dpiY = params.DpiY;
  const TRGB pngBackground = params.PngBackground;
  const std::uint8_t jpegScale = params.JpegScale;
  params.PngBackground = background;
  params.JpegScale = 1;  // the container's size is the full size
  if (png) {
    PngReadStream(embedded, bitmap, params, paramsOnly, progress);
  } else {
    JpegReadStream(embedded, bitmap, params, paramsOnly, progress);
  }
  params.PngBackground = pngBackground;
  params.JpegScale = jpegScale;
  if (keepResolution) {
    params.DpiX = dpiX;
    params.DpiY = dpiY;
  }
}

// --- Writing ---

void WritePalette(TStream& stream, const std::vector<TRGB>& colours, bool threeByteEntries) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(colours.size() * 4);
  for (const TRGB& colour : colours) {
    bytes.insert(bytes.end(), {colour.b, colour.g, colour.r});
    if (!threeByteEntries) bytes.push_back(0);
  }
  stream.Write(bytes.data(), bytes.size());
}

// One row of palette indexes as RLE8 or RLE4 byte pairs, ended by the end-of-line pair.
void EncodeRleRow(const std::uint8_t* pixels, int width, bool rle4, std::vector<std::uint8_t>& out) {
  int literalStart = 0;
  int literalCount = 0;
  auto flushLiterals = [&] {
    const std::uint8_t* p = pixels + literalStart;
    if (literalCount == 1) {
      out.insert(out.end(), {1, static_cast<std::uint8_t>(rle4 ? p[0] << 4 : p[0])});
    } else if (literalCount == 2) {
      if (rle4) {
        out.insert(out.end(), {2, static_cast<std::uint8_t>(p[0] << 4 | p[1])});
      } else {
        out.insert(out.end(), {1, p[0], 1, p[1]});
      }
    } else if (literalCount >= 3) {
      out.insert(out.end(), {0, static_cast<std::uint8_t>(literalCount)});
      std::size_t bytes = 0;
      if (rle4) {
        for (int i = 0; i < literalCount; i += 2, ++bytes) {
          out.push_back(static_cast<std::uint8_t>(p[i] << 4 | (i + 1 < literalCount ? p[i + 1] : 0)));
        }
      } else {
        out.insert(out.end(), p, p + literalCount);
        bytes = static_cast<std::size_t>(literalCount);
      }
      if (bytes % 2 != 0) out.push_back(0);
    }
    literalCount = 0;
  };

  int x = 0;
  while (x < width) {
    if (x + 1 < width && pixels[x] == pixels[x + 1]) {
      int end = x + 1;
      while (end < width && pixels[end] == pixels[x] && end - x < 255) ++end;
      flushLiterals();
      out.insert(out.end(), {static_cast<std::uint8_t>(end - x),
                             static_cast<std::uint8_t>(rle4 ? pixels[x] << 4 | pixels[x] : pixels[x])});
      x = end;
    } else {
      if (literalCount == 0) literalStart = x;
      ++literalCount;
      ++x;
      if (literalCount == 255) flushLiterals();
    }
  }
  flushLiterals();
  out.insert(out.end(), {0, 0});
}

// Writes 4- or 8-bit palette pixels: quantizer palette, then the rows from the bottom up.
void WritePaletteRows(TStream& stream, const TBitmap& image24, TIOParams& params, int bits, bool os2,
                      bool compressed, const TProgressContext& progress, std::int64_t& pixelStart) {
  const int colours = 1 << bits;
  params.SetColorMap(static_cast<std::size_t>(colours));
  const TColorQuantizer quantizer(image24, params.ColorMap.data(), colours);
  WritePalette(stream, params.ColorMap, os2);
  pixelStart = stream.Position();

  const int width = image24.Width();
  const int height = image24.Height();
  const std::size_t stride = static_cast<std::size_t>(FileStride(width, bits));
  std::vector<std::uint8_t> indexes(static_cast<std::size_t>(width));
  std::vector<std::uint8_t> out;
  for (int k = 0; k < height; ++k) {
    ReportRows(progress, k, height);
    if (progress.Aborted()) return;
    const std::uint8_t* row = image24.ScanLine(height - 1 - k);
    for (int x = 0; x < width; ++x, row += 3) {
      indexes[x] = static_cast<std::uint8_t>(quantizer.ColorIndex(TRGB{row[0], row[1], row[2]}));
    }
    out.clear();
    if (compressed) {
      EncodeRleRow(indexes.data(), width, bits == 4, out);
    } else if (bits == 8) {
      out.assign(indexes.begin(), indexes.end());
      out.resize(stride, 0);
    } else {
      out.assign(stride, 0);
      for (int x = 0; x < width; ++x)
        out[x / 2] |= static_cast<std::uint8_t>(indexes[x] << (x % 2 == 0 ? 4 : 0));
    }
    stream.Write(out.data(), out.size());
  }
  if (compressed) {
    const std::uint8_t endOfBitmap[2] = {0, 1};
    stream.Write(endOfBitmap, 2);
  }
}

// --- Icons and cursors ---

bool IsPngSignature(const std::uint8_t* bytes) {
  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

int Log2(unsigned value) {
  int result = 0;
  while (value > 1) {
    value >>= 1;
    ++result;
  }
  return result;
}

void ReadIconImage(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress,
                   bool paramsOnly, bool cursor) {
  const std::int64_t start = stream.Position();
  const TRGB background = cursor ? params.CurBackground : params.IcoBackground;
  std::uint8_t directory[6] = {};
  const bool complete = stream.ReadExact(directory, sizeof directory);
  if (!cursor && stream.Position() - start >= 2 && directory[0] == 'B' && directory[1] == 'M') {
    // Some programs save a plain bitmap under an icon name. Its transparency shows the icon
    // background, as in any icon.
    stream.Seek(start);
    const TRGB pngBackground = params.PngBackground;
    params.PngBackground = background;
    BmpReadStream(stream, bitmap, params, paramsOnly, progress, stream.Size() - start);
    params.PngBackground = pngBackground;
    return;
  }
  if (!complete) {
    progress.Abort();
    return;
  }
  const int count = GetLE16(directory + 4);
  const std::int32_t index = cursor ? params.CurImageIndex : params.IcoImageIndex;
  if (index < 0 || index >= count) return;

  std::uint8_t entry[16];
  stream.Seek(start + 6 + 16 * static_cast<std::int64_t>(index));
  if (!stream.ReadExact(entry, sizeof entry)) {
    progress.Abort();
    return;
  }
  const int entryWidth = entry[0];
  const int entryHeight = entry[1];
  const int entryColours = entry[2];
  if (cursor) {
    params.CurHotSpotX = GetLE16(entry + 4);
    params.CurHotSpotY = GetLE16(entry + 6);
    params.SamplesPerPixel = 1;
  }

  const std::int64_t imageStart = start + GetLE32(entry + 12);
  stream.Seek(imageStart);
  std::uint8_t header[kWindowsHeaderBytes] = {};
  const std::size_t headerGot = stream.Read(header, sizeof header);
  if (headerGot >= 8 && IsPngSignature(header)) {
    // Icons from Windows Vista on store large images (256 x 256 above all) as whole PNG files,
    // whose size the entry gives.
    stream.Seek(imageStart);
    const std::uint32_t declared = GetLE32(entry + 8);
    const std::int64_t size = declared >= 8 && declared <= stream.Remaining() ? declared : stream.Remaining();
    ReadEmbedded(stream, size, true, background, bitmap, params, paramsOnly, progress, false);
    return;
  }
  if (headerGot < sizeof header) {
    progress.Abort();
    return;
  }
  // A longer header (a later bitmap header version) puts the palette further on.
  const std::uint32_t headerSize = GetLE32(header);
  if (headerSize > kWindowsHeaderBytes) stream.Skip(headerSize - kWindowsHeaderBytes);
  const TDefaultResolution& fallback = DefaultResolution();
  params.DpiX = ResolutionFromPpm(static_cast<std::int32_t>(GetLE32(header + 24)), fallback.dpiX);
  params.DpiY = ResolutionFromPpm(static_cast<std::int32_t>(GetLE32(header + 28)), fallback.dpiY);

  const int headerBits = GetLE16(header + 14);
  int bits = cursor ? headerBits : (headerBits != 0 ? headerBits : GetLE16(entry + 6));
  if (bits == 0) bits = Log2(static_cast<unsigned>(entryColours));
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    progress.Abort();
    return;
  }
  const int paletteSize = std::min(entryColours != 0 ? entryColours : 256, bits <= 8 ? 1 << bits : 0);
  params.BitsPerSample = bits > 8 ? 8 : bits;
  params.SamplesPerPixel = bits > 8 ? 3 : 1;

  // The bitmap header's height counts the colour rows and the mask rows. Its sizes are the image's
  // own; the directory's bytes cannot say 256 (they store 0) and may disagree with the image.
  const std::int64_t headerWidth = static_cast<std::int32_t>(GetLE32(header + 4));
  const std::int64_t headerHeight = static_cast<std::int32_t>(GetLE32(header + 8));
  const std::int64_t width = headerWidth > 0 ? headerWidth : entryWidth;
  const std::int64_t height = headerHeight > 0 ? headerHeight / 2 : entryHeight;

  params.FreeColorMap();
  if (bits <= 8) ReadPalette(stream, static_cast<std::uint64_t>(paletteSize), 4, stream.Remaining(), params);
  params.Width = static_cast<std::int32_t>(std::clamp<std::int64_t>(width, INT32_MIN, INT32_MAX));
  params.Height = static_cast<std::int32_t>(std::clamp<std::int64_t>(height, INT32_MIN, INT32_MAX));
  if (paramsOnly) return;

  // A 1-bit bitmap only for black-and-white 1-bit pixels: other depths and colours are decoded
  // into 24-bit rows.
  const bool bilevel = bits == 1 && (params.ColorMap.empty() || IsBlackWhite(params.ColorMap));
  const TPixelFormat format = bilevel ? pf1bit : pf24bit;
  if (!ImageSizeAllowed(width, height, format)) {
    progress.Abort();
    return;
  }
  const std::size_t colourStride = static_cast<std::size_t>(FileStride(width, bits));
  const std::size_t maskStride = static_cast<std::size_t>(FileStride(width, 1));
  std::vector<std::uint8_t> colour;
  std::vector<std::uint8_t> mask;
  ReadAvailable(stream, static_cast<std::int64_t>(colourStride) * height, colour);
  ReadAvailable(stream, static_cast<std::int64_t>(maskStride) * height, mask);
  if (colour.empty()) {
    progress.Abort();
    return;
  }
  PrepareBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), format);
  const std::array<TRGB, 256> palette = PaletteTable(params);

  // A 32-bit image whose fourth bytes are all zero is an older icon that has no alpha channel and
  // relies on its mask; otherwise the alpha channel is the transparency and the mask is not used.
  bool alpha = false;
  if (bits == 32) {
    for (std::size_t i = 3; i < colour.size() && !alpha; i += 4) alpha = colour[i] != 0;
  }
  const TBitFields fields = TBitFields::Default(16);
  const TChannel red(fields.masks[0]), green(fields.masks[1]), blue(fields.masks[2]);

  // A missing mask byte counts as opaque.
  auto masked = [&](std::size_t storedRow, int x) {
    const std::size_t at = storedRow * maskStride + static_cast<std::size_t>(x / 8);
    return at < mask.size() && ((mask[at] >> (7 - x % 8)) & 1) != 0;
  };
  TRowsRead rows;
  for (std::size_t k = 0; k < static_cast<std::size_t>(height); ++k) {
    const std::size_t rowStart = k * colourStride;
    if (rowStart >= colour.size()) break;
    const std::size_t got = std::min(colourStride, colour.size() - rowStart);
    const std::uint8_t* in = colour.data() + rowStart;
    std::uint8_t* row = bitmap.ScanLine(static_cast<int>(height - 1 - static_cast<std::int64_t>(k)));
    const int pixels =
        static_cast<int>(std::min<std::size_t>(width, got * 8 / static_cast<std::size_t>(bits)));
    if (got < colourStride) {
      rows.partial = pixels > 0;
    } else {
      rows.complete = static_cast<int>(k) + 1;
    }
    if (bilevel) {
      // Transparent pixels show the background; a set colour bit under the mask inverts it.
      std::memcpy(row, in, std::min(got, bitmap.Stride()));
      const std::uint8_t backgroundBit = background == kWhite ? 1 : 0;
      for (int x = 0; x < pixels; ++x) {
        if (!masked(k, x)) continue;
        const std::uint8_t bit = static_cast<std::uint8_t>(((in[x / 8] >> (7 - x % 8)) & 1) ^ backgroundBit);
        const std::uint8_t flag = static_cast<std::uint8_t>(0x80 >> (x % 8));
        row[x / 8] = static_cast<std::uint8_t>(bit != 0 ? row[x / 8] | flag : row[x / 8] & ~flag);
      }
      continue;
    }
    switch (bits) {
      case 1:
      case 2:
      case 4:
      case 8:
        for (int x = 0; x < pixels; ++x) {
          PutPixel(row, x, masked(k, x) ? background : palette[PackedIndex(in, x, bits)]);
        }
        break;
      case 16:
        for (int x = 0; x < pixels; ++x) {
          const std::uint32_t v = GetLE16(in + 2 * x);
          PutPixel(row, x, masked(k, x) ? background : TRGB{blue(v), green(v), red(v)});
        }
        break;
      case 24: std::memcpy(row, in, static_cast<std::size_t>(pixels) * 3); break;
      default:  // 32
        for (int x = 0; x < pixels; ++x) {
          const std::uint8_t* p = in + 4 * x;
          if (alpha) {
            std::memcpy(row + 3 * x, p, 3);
            CompositePixel(row + 3 * x, p[3], background);
          } else {
            PutPixel(row, x, masked(k, x) ? background : TRGB{p[0], p[1], p[2]});
          }
        }
        break;
    }
  }
  if (format == pf1bit) ClearRowPadding(bitmap, rows.complete + (rows.partial ? 1 : 0), false);
  ReportShortRows(progress, rows, static_cast<int>(height), "pixel data");
  // The mask matters wherever it gives the transparency: not for 24 bits, nor beside an alpha channel.
  const bool maskUsed = bits != 24 && !alpha;
  if (maskUsed && mask.size() < maskStride * static_cast<std::size_t>(height)) {
    const TRowsRead maskRows{static_cast<int>(mask.size() / maskStride), mask.size() % maskStride != 0};
    ReportShortRows(progress, maskRows, static_cast<int>(height), "transparency mask");
  }
}

}  // namespace

void BmpReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress, std::int64_t byteCount) {
  const std::int64_t start = stream.Position();
  std::uint8_t fileHeader[kFileHeaderBytes];
  if (!stream.ReadExact(fileHeader, sizeof fileHeader) || fileHeader[0] != 'B' || fileHeader[1] != 'M') {
    progress.Abort();
    return;
  }
  const std::uint32_t fileSize = GetLE32(fileHeader + 2);
  if (fileSize != 0 && byteCount <= 0) byteCount = fileSize;
  const std::uint32_t pixelOffset = GetLE32(fileHeader + 10);

  params.FreeColorMap();
  std::uint8_t sizeField[4];
  if (!stream.ReadExact(sizeField, sizeof sizeField)) {
    progress.Abort();
    return;
  }
  stream.Seek(stream.Position() - 4);
  const std::uint32_t headerSize = GetLE32(sizeField);

  // The palette is read by its declared count; it can be no longer than the rest of the file. The
  // pixels start at the pixel-data offset whatever the palette's length, so an offset inside the
  // palette (a palette that claims more entries than were written) costs no colours.
  auto paletteLimit = [&] {
    std::int64_t limit = stream.Remaining();
    if (byteCount > 0) limit = std::min(limit, start + byteCount - stream.Position());
    return limit;
  };

  std::int64_t width = 0;
  std::int64_t height = 0;
  bool topDown = false;
  int bits = 0;
  std::uint32_t compression = kBiRgb;
  TBitFields fields;
  const TDefaultResolution& fallback = DefaultResolution();
  if (headerSize == 12) {
    // OS/2 1.x: 16-bit sizes, no compression, no resolution, 3-byte palette entries.
    std::uint8_t header[12];
    if (!stream.ReadExact(header, sizeof header)) {
      progress.Abort();
      return;
    }
    params.BmpVersion = 2;
    width = GetLE16(header + 4);
    height = GetLE16(header + 6);
    bits = GetLE16(header + 10);
    fields = TBitFields::Default(bits);
    params.DpiX = fallback.dpiX;
    params.DpiY = fallback.dpiY;
    if (bits >= 1 && bits <= 8) ReadPalette(stream, std::uint64_t{1} << bits, 3, paletteLimit(), params);
  } else {
    // Windows headers: the first 64 bytes hold every field read here; longer ones add colour
    // space data, which is skipped.
    std::uint8_t header[kLongestHeaderRead] = {};
    if (!stream.ReadExact(header, std::min<std::size_t>(kLongestHeaderRead, headerSize))) {
      progress.Abort();
      return;
    }
    if (headerSize > kLongestHeaderRead) stream.Skip(headerSize - kLongestHeaderRead);
    params.BmpVersion = headerSize == 64 ? 3 : headerSize == 40 ? 1 : 0;
    width = static_cast<std::int32_t>(GetLE32(header + 4));
    const std::int32_t storedHeight = static_cast<std::int32_t>(GetLE32(header + 8));
    // A negative height stores the rows from the top down.
    topDown = storedHeight < 0;
    height = topDown ? -static_cast<std::int64_t>(storedHeight) : storedHeight;
    bits = GetLE16(header + 14);
    compression = GetLE32(header + 16);
    params.DpiX = ResolutionFromPpm(static_cast<std::int32_t>(GetLE32(header + 24)), fallback.dpiX);
    params.DpiY = ResolutionFromPpm(static_cast<std::int32_t>(GetLE32(header + 28)), fallback.dpiY);

    // Bit-field masks: the 52-byte and longer Windows headers (v2 to v5) hold red, green and blue
    // at 40, and from 56 bytes alpha at 52; the 40-byte header is followed by them (three, or four
    // with the alpha-bit-fields compression) when the compression asks for masks. The 64-byte
    // OS/2 2.x header has other fields there. Without bit-field compression the colour layout is
    // the default one, but a v4 or v5 header's alpha mask still holds.
    fields = TBitFields::Default(bits);
    const bool masksInHeader = headerSize >= 52 && headerSize != 64;
    const bool alphaInHeader = headerSize >= 56 && headerSize != 64;
    const bool fieldCompression = compression == kBiBitFields || compression == kBiAlphaBitFields;
    if (fieldCompression && masksInHeader) {
      for (int i = 0; i < 3; ++i) fields.masks[i] = GetLE32(header + 40 + 4 * i);
      fields.masks[3] = alphaInHeader ? GetLE32(header + 52) : 0;
    } else if (fieldCompression) {
      const int count = compression == kBiAlphaBitFields ? 4 : 3;
      std::vector<std::uint8_t> masks;
      ReadAvailable(stream, 4 * count, masks);
      masks.resize(16, 0);
      for (int i = 0; i < 4; ++i) fields.masks[i] = i < count ? GetLE32(masks.data() + 4 * i) : 0;
    } else if (alphaInHeader && (bits == 16 || bits == 32)) {
      fields.masks[3] = GetLE32(header + 52);
    }

    // A palette beside true-colour pixels is only a display hint, and a palette depth cannot index
    // more than 2^bits entries: neither is kept beyond that.
    const std::uint32_t coloursUsed = GetLE32(header + 32);
    const std::uint64_t tableEntries = bits >= 1 && bits <= 8 ? std::uint64_t{1} << bits : 0;
    const std::uint64_t paletteSize =
        coloursUsed != 0 ? std::min<std::uint64_t>(coloursUsed, tableEntries != 0 ? tableEntries : 256)
                         : tableEntries;
    ReadPalette(stream, paletteSize, 4, paletteLimit(), params);
  }
  params.Width = static_cast<std::int32_t>(width);
  params.Height = static_cast<std::int32_t>(std::min<std::int64_t>(height, INT32_MAX));
  params.BmpCompression = compression == kBiRle8 || compression == kBiRle4 ? 1 : 0;

  if (pixelOffset != 0) stream.Seek(start + pixelOffset);
  const std::int64_t compressedSize =
      byteCount > 0 ? byteCount - (stream.Position() - start) : stream.Remaining();

  if (compression == kBiJpeg || compression == kBiPng) {
    // The pixel data is a whole JPEG or PNG file (a form meant for printers, and written by some
    // programs). Its transparency is flattened onto the PNG background colour.
    ReadEmbedded(stream, compressedSize, compression == kBiPng, params.PngBackground, bitmap, params,
                 paramsOnly, progress, true);
    return;
  }

  const bool paletteDepth = bits == 1 || bits == 2 || bits == 4 || bits == 8;
  const bool fieldDepth = bits == 16 || bits == 24 || bits == 32;
  const bool supported = (compression == kBiRgb && (paletteDepth || fieldDepth)) ||
                         (compression == kBiRle8 && bits == 8) || (compression == kBiRle4 && bits == 4) ||
                         ((compression == kBiBitFields || compression == kBiAlphaBitFields) && fieldDepth);
  if (!supported) {
    progress.Abort();
    return;
  }
  params.BitsPerSample = bits == 16 ? 5 : fieldDepth ? 8 : bits;
  params.SamplesPerPixel = fieldDepth ? 3 : 1;
  if (paramsOnly) return;

  // 1-bit pixels stay 1-bit when the palette is the bilevel model (or missing); other colours
  // become 24-bit pixels of those colours.
  const bool inverted = bits == 1 && IsWhiteBlack(params.ColorMap);
  const bool bilevel = bits == 1 && (params.ColorMap.empty() || IsBlackWhite(params.ColorMap) || inverted);
  const TPixelFormat format = bilevel ? pf1bit : pf24bit;
  if (!ImageSizeAllowed(width, height, format)) {
    progress.Abort();
    return;
  }
  const bool rle = compression == kBiRle8 || compression == kBiRle4;
  if ((rle ? std::min(compressedSize, stream.Remaining()) : stream.Remaining()) <= 0) {
    progress.Abort();  // no pixel data at all
    return;
  }
  // Rows copied straight from the file overwrite or clear every byte, so a bitmap that already has
  // the size and format keeps its block instead of trading it for a fresh one.
  // Only 24- and 32-bit pixels hold three whole bytes; 16-bit ones with such masks go through them.
  const bool plainBytes = (bits == 24 || bits == 32) && fields.IsPlainBytes();
  const bool direct = bilevel || (bits == 24 && plainBytes);
  const bool fresh =
      !direct || bitmap.Width() != width || bitmap.Height() != height || bitmap.PixelFormat() != format;
  if (fresh) PrepareBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), format);
  const int rowCount = static_cast<int>(height);

  const std::array<TRGB, 256> palette = PaletteTable(params);
  if (rle) {
    std::vector<std::uint8_t> data;
    ReadAvailable(stream, compressedSize, data);
    DecodeRle(data, compression == kBiRle4, bitmap, palette, topDown, progress);
    return;
  }
  if (direct) {
    const TRowsRead rows = ReadRowsDirect(stream, bitmap, topDown, fresh, progress);
    // The bitmap's bit 0 is black: a (white, black) palette means the bits are stored inverted.
    // Only the rows the file held are turned; the rest stay black, as for any short file.
    if (inverted) {
      const int turned = rows.complete + (rows.partial ? 1 : 0);
      for (int k = 0; k < turned; ++k) {
        std::uint8_t* row = bitmap.ScanLine(BitmapRow(bitmap, k, topDown));
        for (std::size_t i = 0; i < bitmap.Stride(); ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
      }
      ClearRowPadding(bitmap, turned, topDown);
    }
    ReportShortRows(progress, rows, rowCount, "pixel data");
    return;
  }
  if (paletteDepth) {
    const TRowsRead rows = ReadRowsConverted(stream, bitmap, bits, topDown, progress,
                                             [&](const std::uint8_t* in, int pixels, std::uint8_t* row, int) {
                                               for (int x = 0; x < pixels; ++x)
                                                 PutPixel(row, x, palette[PackedIndex(in, x, bits)]);
                                             });
    ReportShortRows(progress, rows, rowCount, "pixel data");
    return;
  }

  // 16, 24 and 32 bits through their masks. Alpha is kept aside until every row is read: a file
  // whose alpha is zero everywhere is the common "no alpha" case (writers leave the byte zero) and
  // shows opaque; otherwise each pixel is flattened onto the PNG background colour.
  const TChannel red(fields.masks[0]), green(fields.masks[1]), blue(fields.masks[2]), alpha(fields.masks[3]);
  const int bytesPerPixel = bits / 8;
  const std::size_t rowPixels = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> alphas;
  bool anyAlpha = false;
  // The usual alpha layout, a byte a channel in blue, green, red, alpha order, needs no masks.
  const bool plainAlphaBytes = bits == 32 && fields.masks == Masks{0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000};
  auto decodeRow = [&](const std::uint8_t* in, int pixels, std::uint8_t* row, int k) {
    if (plainBytes) {
      for (int x = 0; x < pixels; ++x) std::memcpy(row + 3 * x, in + bytesPerPixel * x, 3);
      return;
    }
    std::uint8_t* rowAlpha = nullptr;
    if (!alpha.Empty()) {
      // Pixels a short row lacks stay opaque black.
      alphas.resize((static_cast<std::size_t>(k) + 1) * rowPixels, 255);
      rowAlpha = alphas.data() + static_cast<std::size_t>(k) * rowPixels;
    }
    if (plainAlphaBytes) {
      std::uint8_t seen = 0;
      for (int x = 0; x < pixels; ++x) {
        std::memcpy(row + 3 * x, in + 4 * x, 3);
        rowAlpha[x] = in[4 * x + 3];
        seen |= rowAlpha[x];
      }
      anyAlpha = anyAlpha || seen != 0;
      return;
    }
    for (int x = 0; x < pixels; ++x) {
      const std::uint8_t* p = in + bytesPerPixel * x;
      std::uint32_t v = p[0] | static_cast<std::uint32_t>(p[1]) << 8;
      if (bytesPerPixel > 2) v |= static_cast<std::uint32_t>(p[2]) << 16;
      if (bytesPerPixel > 3) v |= static_cast<std::uint32_t>(p[3]) << 24;
      PutPixel(row, x, TRGB{blue(v), green(v), red(v)});
      if (rowAlpha != nullptr) {
        rowAlpha[x] = alpha(v);
        anyAlpha = anyAlpha || rowAlpha[x] != 0;
      }
    }
  };
  const TRowsRead rows = ReadRowsConverted(stream, bitmap, bits, topDown, progress, decodeRow);
  if (anyAlpha) {
    const TRGB background = params.PngBackground;
    const std::size_t alphaRows = alphas.size() / rowPixels;
    for (std::size_t k = 0; k < alphaRows; ++k) {
      std::uint8_t* row = bitmap.ScanLine(BitmapRow(bitmap, static_cast<std::int64_t>(k), topDown));
      const std::uint8_t* rowAlpha = alphas.data() + k * rowPixels;
      for (std::size_t x = 0; x < rowPixels; ++x) CompositePixel(row + 3 * x, rowAlpha[x], background);
    }
  }
  ReportShortRows(progress, rows, rowCount, "pixel data");
}

void BmpWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress) {
  const std::int64_t start = stream.Position();
  const int bits = params.BitsPerSample == 1 || params.BitsPerSample == 4 ? params.BitsPerSample
                   : params.SamplesPerPixel == 1                          ? 8
                                                                          : 24;
  const bool os2 = params.BmpVersion == 2;
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  // The OS/2 header holds 16-bit sizes; a larger image cannot be described by it.
  if (os2 && (width > 65535 || height > 65535)) {
    progress.Abort();
    return;
  }
  const bool compressed = !os2 && params.BmpCompression == 1 && (bits == 4 || bits == 8);

  std::uint8_t fileHeader[kFileHeaderBytes] = {'B', 'M'};
  std::vector<std::uint8_t> info(os2 ? 12 : params.BmpVersion == 3 ? 64 : 40, 0);
  PutLE32(info.data(), static_cast<std::uint32_t>(info.size()));
  if (os2) {
    PutLE16(info.data() + 4, static_cast<std::uint32_t>(width));
    PutLE16(info.data() + 6, static_cast<std::uint32_t>(height));
    PutLE16(info.data() + 8, 1);
  } else {
    PutLE32(info.data() + 4, static_cast<std::uint32_t>(width));
    PutLE32(info.data() + 8, static_cast<std::uint32_t>(height));
    PutLE16(info.data() + 12, 1);
    const std::uint32_t compression = params.BmpCompression != 1 ? 0 : bits == 4 ? 2 : bits == 8 ? 1 : 0;
    PutLE32(info.data() + 16, compression);
    PutLE32(info.data() + 24, static_cast<std::uint32_t>(RoundToInt(params.DpiX / 2.54 * 100)));
    PutLE32(info.data() + 28, static_cast<std::uint32_t>(RoundToInt(params.DpiY / 2.54 * 100)));
    PutLE32(info.data() + 32, bits <= 8 ? 1u << bits : 0);
    PutLE32(info.data() + 36, 1u << bits);
  }
  stream.Write(fileHeader, sizeof fileHeader);
  stream.Write(info.data(), info.size());

  // The writer never changes the caller's bitmap: conversions work on copies.
  TBitmap converted;
  auto asTrueColour = [&]() -> const TBitmap& {
    if (bitmap.PixelFormat() == pf24bit) return bitmap;
    ConvertTo24Bit(bitmap, converted);
    return converted;
  };

  std::int64_t pixelStart = stream.Position();
  if (bits == 4 || bits == 8) {
    WritePaletteRows(stream, asTrueColour(), params, bits, os2, compressed, progress, pixelStart);
  } else if (bits == 1) {
    const TBitmap* mono = &bitmap;
    std::unique_ptr<TBitmap> twoColours;
    TRGB colour0 = kBlack;
    TRGB colour1 = kWhite;
    if (bitmap.PixelFormat() != pf1bit) {
      const TBitmap& image24 = asTrueColour();
      twoColours = TwoColorTo1Bit(image24, colour0, colour1);
      if (twoColours != nullptr) {
        mono = twoColours.get();
      } else {
        colour0 = kBlack;
        colour1 = kWhite;
        if (&image24 == &bitmap) CopyBitmap(bitmap, converted);
        DitherTo1Bit(converted, progress);
        mono = &converted;
      }
    }
    if (progress.Aborted()) return;
    params.SetColorMap(2);
    params.ColorMap[0] = colour0;
    params.ColorMap[1] = colour1;
    WritePalette(stream, params.ColorMap, os2);
    pixelStart = stream.Position();
    // A 1-bit bitmap's block is the file's row block: same order, same padding.
    stream.Write(mono->Bits(), mono->ImageBytes());
  } else {
    const TBitmap& image24 = asTrueColour();
    stream.Write(image24.Bits(), image24.ImageBytes());
  }
  if (progress.Aborted()) return;

  const std::int64_t end = stream.Position();
  PutLE32(fileHeader + 2, static_cast<std::uint32_t>(end - start));
  PutLE32(fileHeader + 10, static_cast<std::uint32_t>(pixelStart - start));
  if (os2) {
    PutLE16(info.data() + 10, static_cast<std::uint32_t>(bits));
  } else {
    PutLE16(info.data() + 14, static_cast<std::uint32_t>(bits));
    PutLE32(info.data() + 20, static_cast<std::uint32_t>(end - pixelStart));
  }
  stream.Seek(start);
  stream.Write(fileHeader, sizeof fileHeader);
  stream.Write(info.data(), info.size());
  stream.Seek(end);
}

void IcoReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress,
                   bool paramsOnly) {
  ReadIconImage(stream, bitmap, params, progress, paramsOnly, false);
}

void CurReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress,
                   bool paramsOnly) {
  ReadIconImage(stream, bitmap, params, progress, paramsOnly, true);
}

bool IsIconDirectory(TStream& stream, std::uint16_t type) {
  const std::int64_t start = stream.Position();
  auto test = [&] {
    if (stream.Size() - start <= 22) return false;
    std::uint8_t header[6];
    if (!stream.ReadExact(header, sizeof header)) return false;
    const int count = GetLE16(header + 4);
    if (GetLE16(header) != 0 || GetLE16(header + 2) != type || count < 1) return false;
    std::vector<std::uint8_t> entries;
    if (!ReadAvailable(stream, 16 * static_cast<std::int64_t>(count), entries)) return false;
    const std::uint32_t directoryEnd = 6 + 16 * static_cast<std::uint32_t>(count);
    for (int i = 0; i < count; ++i) {
      const std::uint8_t* entry = entries.data() + 16 * i;
      if (entry[3] != 0 || GetLE32(entry + 8) == 0 || GetLE32(entry + 12) < directoryEnd) return false;
    }
    return true;
  };
  const bool result = test();
  stream.Seek(start);
  return result;
}

}  // namespace veilora
