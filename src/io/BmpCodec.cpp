#include "io/BmpCodec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "io/ColorQuantizer.h"

namespace veilora {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kWindowsHeaderBytes = 40;
constexpr std::size_t kLongestHeaderRead = 64;
constexpr TRGB kWhite{255, 255, 255};
constexpr TRGB kBlack{0, 0, 0};

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

void PutPixel(std::uint8_t* row, std::int64_t x, TRGB colour) {
  std::uint8_t* pixel = row + 3 * x;
  pixel[0] = colour.b;
  pixel[1] = colour.g;
  pixel[2] = colour.r;
}

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
// Returns how many stored rows received data. Rows past the data are cleared only when the block
// was reused (`zeroed` false): a fresh block is zero already, and leaving its pages untouched
// keeps a short file that declares a huge picture from costing time or memory.
int ReadRowsDirect(TStream& stream, TBitmap& bitmap, bool topDown, bool zeroed,
                   const TProgressContext& progress) {
  const std::size_t stride = bitmap.Stride();
  const int height = bitmap.Height();
  int rows = 0;
  if (!topDown && !progress.HasHandler()) {
    const std::size_t got = stream.Read(bitmap.Bits(), bitmap.ImageBytes());
    if (!zeroed) std::memset(bitmap.Bits() + got, 0, bitmap.ImageBytes() - got);
    rows = static_cast<int>((got + stride - 1) / stride);
  } else {
    std::size_t got = 0;
    for (; rows < height; ++rows) {
      ReportRows(progress, rows, height);
      if (progress.Aborted()) break;
      got = stream.Read(bitmap.ScanLine(BitmapRow(bitmap, rows, topDown)), stride);
      if (got < stride) break;
    }
    int k = rows;
    if (k < height && got > 0) {
      std::uint8_t* row = bitmap.ScanLine(BitmapRow(bitmap, k, topDown));
      std::memset(row + got, 0, stride - got);
      rows = ++k;
    }
    for (; !zeroed && k < height; ++k) std::memset(bitmap.ScanLine(BitmapRow(bitmap, k, topDown)), 0, stride);
  }
  ClearRowPadding(bitmap, rows, topDown);
  return rows;
}

// 4, 8, 16 and 32 bits into a 24-bit bitmap, row by row; a short read keeps the whole pixels it
// got and leaves the rest unset.
void ReadRowsConverted(TStream& stream, TBitmap& bitmap, int bits, const std::array<TRGB, 256>& palette,
                       bool topDown, const TProgressContext& progress) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const std::size_t stride = static_cast<std::size_t>(FileStride(width, bits));
  std::vector<std::uint8_t> buffer(stride);
  for (int k = 0; k < height; ++k) {
    ReportRows(progress, k, height);
    if (progress.Aborted()) return;
    const std::size_t got = stream.Read(buffer.data(), stride);
    const int pixels =
        static_cast<int>(std::min<std::size_t>(width, got * 8 / static_cast<std::size_t>(bits)));
    std::uint8_t* row = bitmap.ScanLine(BitmapRow(bitmap, k, topDown));
    const std::uint8_t* in = buffer.data();
    switch (bits) {
      case 4:
        for (int x = 0; x < pixels; ++x) PutPixel(row, x, palette[(in[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15]);
        break;
      case 8:
        for (int x = 0; x < pixels; ++x) PutPixel(row, x, palette[in[x]]);
        break;
      case 16:
        // 5-5-5: the five bits of each channel become the top five of a byte.
        for (int x = 0; x < pixels; ++x) {
          const unsigned v = GetLE16(in + 2 * x);
          PutPixel(
              row, x,
              TRGB{static_cast<std::uint8_t>((v & 0x001F) << 3), static_cast<std::uint8_t>((v & 0x03E0) >> 2),
                   static_cast<std::uint8_t>((v & 0x7C00) >> 7)});
        }
        break;
      case 32:
        for (int x = 0; x < pixels; ++x) std::memcpy(row + 3 * x, in + 4 * x, 3);
        break;
      default: return;
    }
    if (got < stride) return;
  }
}

// Run-length decoding of 8-bit (or 4-bit) palette indexes. The data may be anything: runs past the
// end of a row are clipped, a move that leaves the bitmap ends decoding, and so does the end of the
// data.
void DecodeRle(const std::vector<std::uint8_t>& data, bool rle4, TBitmap& bitmap,
               const std::array<TRGB, 256>& palette, bool topDown, const TProgressContext& progress) {
  const std::int64_t width = bitmap.Width();
  const std::int64_t height = bitmap.Height();
  const std::size_t size = data.size();
  std::int64_t line = 0;  // stored rows from the first
  std::int64_t x = 0;
  std::size_t pos = 0;
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
        if (pos + 2 > size) return;
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
        for (std::int64_t i = 0; x + i < end; ++i) PutPixel(row, x + i, palette[index(data.data() + pos, i)]);
        x += count;
        pos += bytes + (bytes & 1);
        break;
      }
    }
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
  std::uint8_t directory[6] = {};
  const bool complete = stream.ReadExact(directory, sizeof directory);
  if (!cursor && stream.Position() - start >= 2 && directory[0] == 'B' && directory[1] == 'M') {
    // Some programs save a plain bitmap under an icon name.
    stream.Seek(start);
    BmpReadStream(stream, bitmap, params, paramsOnly, progress, stream.Size() - start);
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

  std::uint8_t header[kWindowsHeaderBytes];
  stream.Seek(start + GetLE32(entry + 12));
  // An entry stored as PNG has no bitmap header to read.
  if (!stream.ReadExact(header, sizeof header) || IsPngSignature(header)) {
    progress.Abort();
    return;
  }
  const TDefaultResolution& fallback = DefaultResolution();
  params.DpiX = ResolutionFromPpm(static_cast<std::int32_t>(GetLE32(header + 24)), fallback.dpiX);
  params.DpiY = ResolutionFromPpm(static_cast<std::int32_t>(GetLE32(header + 28)), fallback.dpiY);

  const int headerBits = GetLE16(header + 14);
  int bits = cursor ? headerBits : (headerBits != 0 ? headerBits : GetLE16(entry + 6));
  if (bits == 0) bits = Log2(static_cast<unsigned>(entryColours));
  if (bits == 0) {
    progress.Abort();
    return;
  }
  const int paletteSize = entryColours != 0 ? entryColours : (bits <= 8 ? 1 << bits : 0);
  params.BitsPerSample = bits > 8 ? 8 : bits;
  params.SamplesPerPixel = bits > 8 ? 3 : 1;

  const std::int64_t headerWidth = static_cast<std::int32_t>(GetLE32(header + 4));
  const std::int64_t headerHeight = static_cast<std::int32_t>(GetLE32(header + 8));
  // The header's height counts the colour rows and the mask rows.
  std::int64_t width = entryWidth != 0 ? entryWidth : headerWidth;
  std::int64_t height = entryHeight != 0 ? entryHeight : headerHeight / 2;
  if (!cursor && entryWidth != 0 && headerWidth != 0 && entryWidth != headerWidth && headerWidth < 2048 &&
      headerHeight < 2048) {
    width = headerWidth;
    height = headerHeight / 2;
  }

  params.FreeColorMap();
  if (bits <= 8) ReadPalette(stream, static_cast<std::uint64_t>(paletteSize), 4, stream.Remaining(), params);
  params.Width = static_cast<std::int32_t>(std::clamp<std::int64_t>(width, INT32_MIN, INT32_MAX));
  params.Height = static_cast<std::int32_t>(std::clamp<std::int64_t>(height, INT32_MIN, INT32_MAX));
  if (paramsOnly) return;

  // A 1-bit bitmap only for 1-bit pixels: other depths are decoded into 24-bit rows.
  const TPixelFormat format = bits == 1 ? pf1bit : pf24bit;
  if (!ImageSizeAllowed(width, height, format)) {
    progress.Abort();
    return;
  }
  PrepareBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), format);

  const std::size_t colourStride = static_cast<std::size_t>(FileStride(width, bits));
  const std::size_t maskStride = static_cast<std::size_t>(FileStride(width, 1));
  std::vector<std::uint8_t> colour;
  std::vector<std::uint8_t> mask;
  ReadAvailable(stream, static_cast<std::int64_t>(colourStride) * height, colour);
  ReadAvailable(stream, static_cast<std::int64_t>(maskStride) * height, mask);
  const TRGB background = cursor ? params.CurBackground : params.IcoBackground;
  const std::array<TRGB, 256> palette = PaletteTable(params);

  // A missing mask byte counts as opaque.
  auto masked = [&](std::size_t storedRow, int x) {
    const std::size_t at = storedRow * maskStride + static_cast<std::size_t>(x / 8);
    return at < mask.size() && ((mask[at] >> (7 - x % 8)) & 1) != 0;
  };
  std::size_t k = 0;
  for (; k < static_cast<std::size_t>(height); ++k) {
    const std::size_t rowStart = k * colourStride;
    if (rowStart >= colour.size()) break;
    const std::size_t got = std::min(colourStride, colour.size() - rowStart);
    const std::uint8_t* in = colour.data() + rowStart;
    std::uint8_t* row = bitmap.ScanLine(static_cast<int>(height - 1 - static_cast<std::int64_t>(k)));
    const int pixels =
        static_cast<int>(std::min<std::size_t>(width, got * 8 / static_cast<std::size_t>(bits)));
    switch (bits) {
      case 1: {
        // Transparent pixels show the background; a set colour bit under the mask inverts it.
        std::memcpy(row, in, std::min(got, bitmap.Stride()));
        const std::uint8_t backgroundBit = background == kWhite ? 1 : 0;
        for (int x = 0; x < pixels; ++x) {
          if (!masked(k, x)) continue;
          const std::uint8_t bit =
              static_cast<std::uint8_t>(((in[x / 8] >> (7 - x % 8)) & 1) ^ backgroundBit);
          const std::uint8_t flag = static_cast<std::uint8_t>(0x80 >> (x % 8));
          row[x / 8] = static_cast<std::uint8_t>(bit != 0 ? row[x / 8] | flag : row[x / 8] & ~flag);
        }
        break;
      }
      case 4:
      case 8:
        for (int x = 0; x < pixels; ++x) {
          const std::uint8_t value = bits == 8 ? in[x] : (in[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15;
          PutPixel(row, x, masked(k, x) ? background : palette[value]);
        }
        break;
      case 24: std::memcpy(row, in, static_cast<std::size_t>(pixels) * 3); break;
      case 32:
        for (int x = 0; x < pixels; ++x) {
          PutPixel(row, x, masked(k, x) ? background : TRGB{in[4 * x], in[4 * x + 1], in[4 * x + 2]});
        }
        break;
      default: break;
    }
  }
  if (format == pf1bit) ClearRowPadding(bitmap, static_cast<int>(k), false);
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

  // The palette lies between the header and the pixel data, so it can be no longer than that gap.
  auto paletteLimit = [&] {
    std::int64_t limit = stream.Remaining();
    const std::int64_t gap = start + pixelOffset - stream.Position();
    if (pixelOffset != 0 && gap >= 0) limit = std::min(limit, gap);
    return limit;
  };

  std::int64_t width = 0;
  std::int64_t height = 0;
  bool topDown = false;
  int bits = 0;
  std::uint32_t compression = 0;
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
    params.DpiX = fallback.dpiX;
    params.DpiY = fallback.dpiY;
    if (bits <= 8) ReadPalette(stream, std::uint64_t{1} << bits, 3, paletteLimit(), params);
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
    const std::uint32_t coloursUsed = GetLE32(header + 32);
    const std::uint64_t paletteSize = coloursUsed != 0 ? coloursUsed
                                      : bits <= 8      ? std::uint64_t{1} << bits
                                                       : 0;
    ReadPalette(stream, paletteSize, 4, paletteLimit(), params);
    if (compression == 3) stream.Skip(12);  // the red, green and blue bit masks
  }
  params.Width = static_cast<std::int32_t>(width);
  params.Height = static_cast<std::int32_t>(std::min<std::int64_t>(height, INT32_MAX));
  params.BmpCompression = compression == 1 || compression == 2 ? 1 : 0;
  const bool uncompressed = compression == 0 || compression == 3;

  if (pixelOffset != 0) stream.Seek(start + pixelOffset);
  const std::int64_t compressedSize =
      byteCount > 0 ? byteCount - (stream.Position() - start) : stream.Remaining();

  switch (bits) {
    case 1: params.BitsPerSample = 1, params.SamplesPerPixel = 1; break;
    case 4: params.BitsPerSample = 4, params.SamplesPerPixel = 1; break;
    case 8: params.BitsPerSample = 8, params.SamplesPerPixel = 1; break;
    case 16: params.BitsPerSample = 5, params.SamplesPerPixel = 3; break;
    case 24:
    case 32: params.BitsPerSample = 8, params.SamplesPerPixel = 3; break;
    default: break;
  }
  if (paramsOnly) return;

  const TPixelFormat format = bits == 1 ? pf1bit : pf24bit;
  if (!ImageSizeAllowed(width, height, format)) {
    progress.Abort();
    return;
  }
  // Rows copied straight from the file overwrite or clear every byte, so a bitmap that already has
  // the size and format keeps its block instead of trading it for a fresh one.
  const bool direct = uncompressed && (bits == 1 || bits == 24);
  const bool fresh =
      !direct || bitmap.Width() != width || bitmap.Height() != height || bitmap.PixelFormat() != format;
  if (fresh) PrepareBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), format);

  const std::array<TRGB, 256> palette = PaletteTable(params);
  auto decodeRle = [&](bool rle4) {
    std::vector<std::uint8_t> data;
    ReadAvailable(stream, compressedSize, data);
    DecodeRle(data, rle4, bitmap, palette, topDown, progress);
  };
  switch (bits) {
    case 1:
      if (!uncompressed) break;
      {
        const int rows = ReadRowsDirect(stream, bitmap, topDown, fresh, progress);
        // The bitmap's bit 0 is black: a (white, black) palette means the bits are stored inverted.
        // Only the rows the file held are turned; the rest stay black, as for any short file.
        if (params.ColorMap.size() == 2 && params.ColorMap[0] == kWhite && params.ColorMap[1] == kBlack) {
          for (int k = 0; k < rows; ++k) {
            std::uint8_t* row = bitmap.ScanLine(BitmapRow(bitmap, k, topDown));
            for (std::size_t i = 0; i < bitmap.Stride(); ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
          }
          ClearRowPadding(bitmap, rows, topDown);
        }
        break;
      }
    case 4:
      if (uncompressed) {
        ReadRowsConverted(stream, bitmap, 4, palette, topDown, progress);
      } else if (compression == 2) {
        decodeRle(true);
      }
      break;
    case 8:
      if (uncompressed) {
        ReadRowsConverted(stream, bitmap, 8, palette, topDown, progress);
      } else if (compression == 1) {
        decodeRle(false);
      }
      break;
    case 16:
    case 32: ReadRowsConverted(stream, bitmap, bits, palette, topDown, progress); break;
    case 24: ReadRowsDirect(stream, bitmap, topDown, fresh, progress); break;
    default: break;
  }
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
