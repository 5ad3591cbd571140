#include "io/GifCodec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "io/ColorQuantizer.h"

namespace veilora {

namespace {

// Logical screen descriptor: signature and version (6), screen width (2), screen height (2),
// flags (1), background index (1), pixel aspect (1); multi-byte numbers little-endian.
constexpr std::size_t kHeaderBytes = 13;
constexpr std::size_t kSignatureBytes = 6;
// Image descriptor after its ',' introducer: left, top, width, height (2 each), flags (1).
constexpr std::size_t kDescriptorBytes = 9;

// Block introducers.
constexpr std::uint8_t kExtensionIntroducer = 0x21;  // '!'
constexpr std::uint8_t kImageIntroducer = 0x2C;      // ','
constexpr std::uint8_t kTrailer = 0x3B;              // ';'
constexpr std::uint8_t kGraphicControlLabel = 0xF9;
constexpr std::size_t kGraphicControlBytes = 4;  // flags, delay (2), transparent index

// Screen and image flags: a colour table follows when bit 7 is set; its size field in bits 0-2
// gives 2^(k+1) entries of red, green, blue.
constexpr std::uint8_t kTablePresent = 0x80;
constexpr std::uint8_t kTableSizeMask = 0x07;
constexpr std::uint8_t kInterlaced = 0x40;
// Graphic control flags: bit 0 a transparent index is given; bits 2-4 the disposal method, 2
// meaning "restore to background".
constexpr std::uint8_t kHasTransparent = 0x01;
constexpr std::uint8_t kDisposeToBackground = 0x08;

constexpr char kDefaultVersion[] = "GIF89a";
constexpr int kMaxColours = 256;
// Codes are at most 12 bits wide, so the LZW table holds at most 4096 strings.
constexpr std::int64_t kLzwTableSize = 4096;

// A colour table as read: entries in blue, green, red order, padded with black to 256 so that any
// index byte finds an entry (indices beyond the table's own entries show black).
struct TColourTable {
  std::array<TRGB, kMaxColours> entries{};
  int count = 0;
  int bits = 0;  // the table holds 2^bits entries
};

std::int64_t TableBytes(int bits) {
  return 3 * (std::int64_t{1} << bits);
}

// Reads a table of 2^bits entries; false when the stream ends inside it (the entries read so far
// are kept, the rest stay black).
bool ReadTable(TStream& stream, int bits, TColourTable& table) {
  std::uint8_t rgb[3 * kMaxColours];
  const std::size_t want = static_cast<std::size_t>(TableBytes(bits));
  const std::size_t got = stream.Read(rgb, want);
  table.entries.fill(TRGB{});
  table.count = 1 << bits;
  table.bits = bits;
  for (std::size_t i = 0; 3 * i + 2 < got; ++i)
    table.entries[i] = TRGB{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i]};
  return got == want;
}

// A frame without any colour table (neither its own nor a global one) shows its indices as grey
// levels, index i as (i, i, i), as other readers do.
TColourTable GreyTable() {
  TColourTable table;
  for (int i = 0; i < kMaxColours; ++i) {
    const auto level = static_cast<std::uint8_t>(i);
    table.entries[static_cast<std::size_t>(i)] = TRGB{level, level, level};
  }
  table.count = kMaxColours;
  table.bits = 8;
  return table;
}

// Reads one byte; false at the end of the stream.
bool ReadByte(TStream& stream, std::uint8_t& value) {
  return stream.Read(&value, 1) == 1;
}

// Passes over data sub-blocks (a count byte, that many bytes) up to the zero count. False when the
// stream ends first. Every step consumes at least the count byte, so the walk always ends.
bool SkipSubBlocks(TStream& stream) {
  for (;;) {
    std::uint8_t count = 0;
    if (!ReadByte(stream, count)) return false;
    if (count == 0) return true;
    if (stream.Remaining() < count) {
      stream.Seek(stream.Size());
      return false;
    }
    stream.Skip(count);
  }
}

// Skips an image's data: the minimum-code-size byte and the sub-blocks.
bool SkipImageData(TStream& stream) {
  std::uint8_t codeSize = 0;
  return ReadByte(stream, codeSize) && SkipSubBlocks(stream);
}

// The most pixels that `bytes` bytes of LZW data can yield. Codes are at least 3 bits wide; after a
// clear code the k-th code yields at most k + 1 pixels (each table entry is one pixel longer than
// the string before it), and no string is longer than the table. Used to refuse a frame whose
// declared size the data could never fill before its index buffer is allocated.
std::int64_t MostLzwPixels(std::int64_t bytes) {
  const std::int64_t codes = std::min<std::int64_t>(bytes, std::int64_t{1} << 40) * 8 / 3 + 1;
  if (codes <= kLzwTableSize) return codes * (codes + 1) / 2;
  return kLzwTableSize * (kLzwTableSize + 1) / 2 + (codes - kLzwTableSize) * kLzwTableSize;
}

// The graphic control values kept for the wanted frame.
struct TGraphicControl {
  std::uint8_t flags = 0;
  std::uint16_t delay = 0;
  std::uint8_t transparentIndex = 0;
};

// Reads a graphic control extension's sub-blocks after its label: the first sub-block, when it
// holds the four values, gives them; the rest is passed over.
bool ReadGraphicControl(TStream& stream, TGraphicControl& control) {
  std::uint8_t count = 0;
  if (!ReadByte(stream, count)) return false;
  if (count == 0) return true;
  std::uint8_t data[255];
  if (stream.Read(data, count) != count) return false;
  if (count >= kGraphicControlBytes) {
    control.flags = data[0];
    control.delay = GetLE16(data + 1);
    control.transparentIndex = data[3];
  }
  return SkipSubBlocks(stream);
}

void StoreColorMap(TIOParams& params, const TColourTable& table) {
  params.SetColorMap(static_cast<std::size_t>(table.count));
  std::copy(table.entries.begin(), table.entries.begin() + table.count, params.ColorMap.begin());
  params.BitsPerSample = table.bits;
}

// A two-entry table of exactly black then white is the bilevel model itself.
bool IsBlackWhite(const TColourTable& table) {
  return table.count == 2 && table.entries[0] == TRGB{0, 0, 0} && table.entries[1] == TRGB{255, 255, 255};
}

// Fills the bitmap (already sized and formatted) from the index buffer.
void FillFromIndices(const std::vector<std::uint8_t>& indices, const TColourTable& table, TBitmap& bitmap) {
  const int width = bitmap.Width();
  const std::size_t w = static_cast<std::size_t>(width);
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* in = indices.data() + static_cast<std::size_t>(y) * w;
    std::uint8_t* row = bitmap.ScanLine(y);
    if (bitmap.PixelFormat() == pf1bit) {
      // Index 1 is white; 0, and any index beyond the two entries, black.
      std::memset(row, 0, (w + 7) / 8);
      for (std::size_t x = 0; x < w; ++x) {
        if (in[x] == 1) row[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
      }
    } else {
      for (std::size_t x = 0; x < w; ++x) {
        const TRGB& colour = table.entries[in[x]];
        row[3 * x] = colour.b;
        row[3 * x + 1] = colour.g;
        row[3 * x + 2] = colour.r;
      }
    }
  }
}

TGifLzwDecompress DecoderFor(const TIOParams& params) {
  return params.GifLzwDecompress != nullptr ? params.GifLzwDecompress : GlobalLzwHooks().gifDecompress;
}

TGifLzwCompress EncoderFor(const TIOParams& params) {
  return params.GifLzwCompress != nullptr ? params.GifLzwCompress : GlobalLzwHooks().gifCompress;
}

enum class TFrameResult { Done, Stop };

// What a frame's data lacked, for a frame that decoded `decoded` of its pixels before the data
// ended (or, with `badCode`, before an undefined code). Interlaced rows arrive in four passes, so
// there only the number of rows tells how far it got.
std::string DescribeShortFrame(std::int64_t decoded, std::int64_t width, std::int64_t height, bool interlaced,
                               bool badCode) {
  const std::int64_t rows = decoded / width;
  const std::string of = std::to_string(height);
  if (interlaced) {
    return std::string("the interlaced image data ") + (badCode ? "has a bad code" : "ends") + " after " +
           std::to_string(rows) + " of " + of + " rows";
  }
  const std::string what = std::string("the image data ") + (badCode ? "has a bad code" : "ends");
  if (rows == 0) return what + " inside the first of " + of + " rows";
  return what + " after row " + std::to_string(rows) + " of " + of;
}

// Reads (or, for parameters only, passes over) the wanted frame whose descriptor and colour table
// have been read; the stream stands on its minimum-code-size byte. Stop means the walk must end
// (the abort flag is then set).
TFrameResult HandleFrame(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                         const TProgressContext& progress, const std::uint8_t* descriptor,
                         const TColourTable& table, const TGraphicControl& control) {
  progress.Report(30);
  if (progress.Aborted()) return TFrameResult::Stop;

  params.GifTransparentColor = table.entries[control.transparentIndex];
  params.GifXPos = GetLE16(descriptor);
  params.GifYPos = GetLE16(descriptor + 2);
  const std::int64_t width = GetLE16(descriptor + 4);
  const std::int64_t height = GetLE16(descriptor + 6);
  params.Width = static_cast<std::int32_t>(width);
  params.Height = static_cast<std::int32_t>(height);
  params.GifDelayTime = control.delay;
  params.GifHasTransparent = (control.flags & kHasTransparent) != 0;
  params.GifInterlaced = (descriptor[8] & kInterlaced) != 0;

  if (paramsOnly) {
    SkipImageData(stream);
    StoreColorMap(params, table);
    return TFrameResult::Done;
  }

  // Limits first: the bitmap the frame becomes, the index buffer (one byte a pixel), and the most
  // pixels the rest of the data could produce.
  const TPixelFormat format = IsBlackWhite(table) ? pf1bit : pf24bit;
  const std::int64_t pixels = width * height;
  if (!ImageSizeAllowed(width, height, format) || pixels > kMaxPixelBytes ||
      pixels > MostLzwPixels(stream.Remaining())) {
    progress.Abort();
    return TFrameResult::Stop;
  }
  const TGifLzwDecompress decode = DecoderFor(params);
  if (decode == nullptr) {
    progress.Abort();
    return TFrameResult::Stop;
  }

  try {
    // Pixels a short frame does not reach keep index 0.
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(pixels), 0);
    const std::int64_t before = stream.Position();
    const std::int64_t decoded = std::clamp<std::int64_t>(
        decode(stream, static_cast<std::int32_t>(height), static_cast<std::int32_t>(width),
               params.GifInterlaced, indices.data()),
        0, pixels);
    // The decoder puts the stream back after a bad code.
    const bool badCode = stream.Position() == before;
    if (decoded == 0) {
      progress.Abort();
      return TFrameResult::Stop;
    }
    // A bad code after the last pixel spoils nothing: pass over the rest of the data.
    if (badCode && decoded == pixels) SkipImageData(stream);
    progress.Report(70);
    if (progress.Aborted()) return TFrameResult::Stop;

    StoreColorMap(params, table);
    PrepareBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), format);
    FillFromIndices(indices, table, bitmap);
    if (decoded < pixels) {
      progress.AbortWithPartialImage(
          DescribeShortFrame(decoded, width, height, params.GifInterlaced, badCode));
      return TFrameResult::Stop;
    }
  } catch (const std::bad_alloc&) {
    progress.Abort();
    return TFrameResult::Stop;
  } catch (const EImageTooLarge&) {
    progress.Abort();
    return TFrameResult::Stop;
  }
  return TFrameResult::Done;
}

// The signature written: GifVersion's first six characters, or GIF89a when it is shorter or does
// not begin with "GIF" (no reader would take such a file for a GIF).
void WriteSignature(const std::string& version, std::uint8_t* out) {
  const bool usable = version.size() >= kSignatureBytes && version.compare(0, 3, "GIF") == 0;
  std::memcpy(out, usable ? version.data() : kDefaultVersion, kSignatureBytes);
}

}  // namespace

void GifReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress, std::int32_t* frameCount) {
  std::int32_t frames = 0;
  if (frameCount != nullptr) *frameCount = 0;
  progress.Report(0);
  if (progress.Aborted()) return;

  TGraphicControl control;
  std::uint8_t header[kHeaderBytes];
  if (!stream.ReadExact(header, kHeaderBytes) || header[0] != 'G' || header[1] != 'I' || header[2] != 'F') {
    progress.Abort();
    return;
  }
  params.GifVersion.assign(reinterpret_cast<const char*>(header), kSignatureBytes);
  params.GifScreenWidth = GetLE16(header + 6);
  params.GifScreenHeight = GetLE16(header + 8);
  params.GifAspectRatio = header[12];
  params.DpiX = DefaultResolution().dpiX;
  params.DpiY = DefaultResolution().dpiY;
  params.SamplesPerPixel = 1;

  TColourTable global;
  const bool hasGlobal = (header[10] & kTablePresent) != 0;
  if (hasGlobal) {
    ReadTable(stream, (header[10] & kTableSizeMask) + 1, global);
    params.GifBackground = global.entries[header[11]];
  } else {
    // No screen colours: nothing names a background, so it is black rather than whatever an
    // earlier file left.
    params.GifBackground = TRGB{};
  }

  if (stream.Remaining() <= 0) progress.Abort();
  while (!progress.Aborted()) {
    std::uint8_t introducer = 0;
    if (!ReadByte(stream, introducer) || stream.Remaining() <= 0) break;  // the end is the trailer
    if (introducer == kTrailer) break;
    if (introducer == kExtensionIntroducer) {
      std::uint8_t label = 0;
      if (!ReadByte(stream, label)) break;
      const bool more = label == kGraphicControlLabel && frames == params.GifImageIndex
                            ? ReadGraphicControl(stream, control)
                            : SkipSubBlocks(stream);
      if (!more) break;
      continue;
    }
    if (introducer != kImageIntroducer) continue;  // stray bytes between blocks are passed over

    const bool wanted = frames == params.GifImageIndex;
    std::uint8_t descriptor[kDescriptorBytes];
    if (!stream.ReadExact(descriptor, kDescriptorBytes)) {
      if (wanted) progress.Abort();
      break;
    }
    TColourTable local;
    const bool hasLocal = (descriptor[8] & kTablePresent) != 0;
    if (hasLocal && !ReadTable(stream, (descriptor[8] & kTableSizeMask) + 1, local)) {
      // The data ends inside the table: no image data can follow.
      ++frames;
      if (wanted) progress.Abort();
      break;
    }
    ++frames;
    if (!wanted) {
      if (!SkipImageData(stream)) break;
      continue;
    }
    const TColourTable table = hasLocal ? local : (hasGlobal ? global : GreyTable());
    if (HandleFrame(stream, bitmap, params, paramsOnly, progress, descriptor, table, control) ==
        TFrameResult::Stop) {
      break;
    }
  }

  if (frameCount != nullptr) *frameCount = frames;
  if (!progress.Aborted()) progress.Report(100);
}

void GifWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress) {
  progress.Report(0);
  if (progress.Aborted()) return;
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  // Sizes are 16-bit fields; an empty image cannot be described at all.
  if (bitmap.Empty() || width > 0xFFFF || height > 0xFFFF) {
    progress.Abort();
    return;
  }

  // A colour table has 2 to 256 entries and its size fields are 3 bits wide: depths beyond the range
  // (16 after reading a 16-bit PNG, say) are written at the nearest depth a GIF holds.
  const int depth = std::clamp<int>(params.BitsPerSample, 1, 8);
  const int colours = 1 << depth;

  // Conversions work on copies: the caller's bitmap stays as it is.
  const TBitmap* source = &bitmap;
  std::unique_ptr<TBitmap> converted;
  if (depth == 1 && bitmap.PixelFormat() != pf1bit) {
    const TBitmap* colour = &bitmap;
    TBitmap colourCopy;
    if (bitmap.PixelFormat() != pf24bit) {
      ConvertTo24Bit(bitmap, colourCopy);
      colour = &colourCopy;
    }
    TRGB dark;
    TRGB light;
    converted = TwoColorTo1Bit(*colour, dark, light);
    if (!converted) {
      converted = std::make_unique<TBitmap>();
      CopyBitmap(*colour, *converted);
      DitherTo1Bit(*converted, progress);
    }
    source = converted.get();
  } else if (depth > 1 && bitmap.PixelFormat() != pf24bit) {
    converted = std::make_unique<TBitmap>();
    if (bitmap.PixelFormat() == pf1bit) {
      Expand1BitTo24Bit(bitmap, *converted, progress);
    } else {
      ConvertTo24Bit(bitmap, *converted);
    }
    source = converted.get();
  }

  // Entries past the colours made stay black, so that equal images give equal files.
  std::array<TRGB, kMaxColours> table{};
  const std::size_t w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> indices(w * static_cast<std::size_t>(height));
  std::uint8_t backgroundIndex = 0;
  std::uint8_t transparentIndex = 0;
  if (source->PixelFormat() == pf1bit) {
    table[0] = TRGB{0, 0, 0};
    table[1] = TRGB{255, 255, 255};
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = source->ScanLine(y);
      std::uint8_t* out = indices.data() + static_cast<std::size_t>(y) * w;
      for (std::size_t x = 0; x < w; ++x) out[x] = (row[x / 8] >> (7 - x % 8)) & 1;
    }
    backgroundIndex = static_cast<std::uint8_t>(NearestColorIndex(table.data(), 2, params.GifBackground));
    transparentIndex =
        static_cast<std::uint8_t>(NearestColorIndex(table.data(), 2, params.GifTransparentColor));
  } else {
    const TColorQuantizer quantizer(*source, table.data(), colours);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = source->ScanLine(y);
      std::uint8_t* out = indices.data() + static_cast<std::size_t>(y) * w;
      for (std::size_t x = 0; x < w; ++x) {
        out[x] =
            static_cast<std::uint8_t>(quantizer.ColorIndex(TRGB{row[3 * x], row[3 * x + 1], row[3 * x + 2]}));
      }
    }
    backgroundIndex = static_cast<std::uint8_t>(quantizer.ColorIndex(params.GifBackground));
    transparentIndex = static_cast<std::uint8_t>(quantizer.ColorIndex(params.GifTransparentColor));
  }
  converted.reset();
  progress.Report(30);
  if (progress.Aborted()) return;

  // The frame keeps its place and its whole size: the logical screen grows to reach its right and
  // bottom edges, and an offset that would push them past the 16-bit screen is pulled back (a
  // negative one to 0). Readers that compose frames onto the screen clip what lies outside it.
  const int left = std::clamp(params.GifXPos, 0, 0xFFFF - width);
  const int top = std::clamp(params.GifYPos, 0, 0xFFFF - height);

  // Header, global table, graphic control extension and image descriptor in one block.
  std::vector<std::uint8_t> head(kHeaderBytes + static_cast<std::size_t>(TableBytes(depth)) + 8 + 1 +
                                 kDescriptorBytes);
  std::uint8_t* p = head.data();
  WriteSignature(params.GifVersion, p);
  PutLE16(p + 6, static_cast<std::uint32_t>(left + width));
  PutLE16(p + 8, static_cast<std::uint32_t>(top + height));
  p[10] = static_cast<std::uint8_t>(kTablePresent | (depth - 1) << 4 | (depth - 1));
  p[11] = backgroundIndex;
  p[12] = 0;
  p += kHeaderBytes;
  for (int i = 0; i < colours; ++i) {
    *p++ = table[static_cast<std::size_t>(i)].r;
    *p++ = table[static_cast<std::size_t>(i)].g;
    *p++ = table[static_cast<std::size_t>(i)].b;
  }
  *p++ = kExtensionIntroducer;
  *p++ = kGraphicControlLabel;
  *p++ = kGraphicControlBytes;
  *p++ = static_cast<std::uint8_t>(kDisposeToBackground | (params.GifHasTransparent ? kHasTransparent : 0));
  PutLE16(p, static_cast<std::uint32_t>(params.GifDelayTime) & 0xFFFF);
  p += 2;
  *p++ = transparentIndex;
  *p++ = 0;
  *p++ = kImageIntroducer;
  PutLE16(p, static_cast<std::uint32_t>(left));
  PutLE16(p + 2, static_cast<std::uint32_t>(top));
  PutLE16(p + 4, static_cast<std::uint32_t>(width));
  PutLE16(p + 6, static_cast<std::uint32_t>(height));
  p[8] = params.GifInterlaced ? kInterlaced : 0;
  stream.Write(head.data(), head.size());

  progress.Report(70);
  if (progress.Aborted()) return;
  const TGifLzwCompress encode = EncoderFor(params);
  if (encode == nullptr) {
    progress.Abort();
    return;
  }
  encode(stream, height, width, params.GifInterlaced, indices.data(), depth);
  const std::uint8_t trailer = kTrailer;
  stream.Write(&trailer, 1);
  progress.Report(100);
}

std::int32_t GifImageCount(const std::string& fileName) {
  try {
    TFileStream stream(fileName, TFileStream::Mode::Read);
    std::uint8_t header[kHeaderBytes];
    if (!stream.ReadExact(header, kHeaderBytes) || header[0] != 'G' || header[1] != 'I' || header[2] != 'F') {
      return 0;
    }
    if ((header[10] & kTablePresent) != 0) stream.Skip(TableBytes((header[10] & kTableSizeMask) + 1));
    std::int32_t frames = 0;
    for (;;) {
      std::uint8_t introducer = 0;
      if (!ReadByte(stream, introducer) || introducer == kTrailer) break;
      if (introducer == kExtensionIntroducer) {
        std::uint8_t label = 0;
        if (!ReadByte(stream, label) || !SkipSubBlocks(stream)) break;
      } else if (introducer == kImageIntroducer) {
        std::uint8_t descriptor[kDescriptorBytes];
        if (!stream.ReadExact(descriptor, kDescriptorBytes)) break;
        ++frames;
        if ((descriptor[8] & kTablePresent) != 0)
          stream.Skip(TableBytes((descriptor[8] & kTableSizeMask) + 1));
        if (!SkipImageData(stream)) break;
      }
    }
    return frames;
  } catch (...) {
    return 0;
  }
}

}  // namespace veilora
