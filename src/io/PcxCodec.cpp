#include "io/PcxCodec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "io/ColorQuantizer.h"

namespace veilora {

namespace {

// The fixed 128-byte header; multi-byte fields are little-endian.
constexpr std::size_t kHeaderBytes = 128;
constexpr std::size_t kManufacturerAt = 0;
constexpr std::size_t kVersionAt = 1;
constexpr std::size_t kEncodingAt = 2;
constexpr std::size_t kBitsAt = 3;
constexpr std::size_t kXMinAt = 4;
constexpr std::size_t kYMinAt = 6;
constexpr std::size_t kXMaxAt = 8;
constexpr std::size_t kYMaxAt = 10;
constexpr std::size_t kDpiXAt = 12;
constexpr std::size_t kDpiYAt = 14;
constexpr std::size_t kPaletteAt = 16;  // 16 entries of red, green, blue
constexpr std::size_t kPlanesAt = 65;
constexpr std::size_t kBytesPerLineAt = 66;
constexpr std::size_t kPaletteInfoAt = 68;

constexpr std::uint8_t kManufacturer = 10;
// A 256-colour image ends with this byte and 256 entries of red, green, blue.
constexpr std::uint8_t kPaletteMarker = 12;
constexpr std::int64_t kTrailingPaletteBytes = 768;
// Bytes with both top bits set are run counts, so a run holds at most 63 bytes.
constexpr std::uint8_t kRunFlag = 0xC0;
constexpr std::size_t kMaxRun = 63;
// Header coordinates and bytes per line are 16-bit fields.
constexpr std::int64_t kMaxField = 0xFFFF;

using TPalette = std::array<TRGB, 256>;

void PaletteFromRgb(const std::uint8_t* rgb, int count, TPalette& palette) {
  for (int i = 0; i < count; ++i) palette[i] = TRGB{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i]};
}

void PaletteToRgb(const TRGB* palette, int count, std::uint8_t* rgb) {
  for (int i = 0; i < count; ++i) {
    rgb[3 * i] = palette[i].r;
    rgb[3 * i + 1] = palette[i].g;
    rgb[3 * i + 2] = palette[i].b;
  }
}

void StoreColorMap(TIOParams& params, const TRGB* palette, int count) {
  params.SetColorMap(static_cast<std::size_t>(count));
  std::copy(palette, palette + count, params.ColorMap.begin());
}

// The plane layouts this reader decodes: one plane of 1, 2, 4 or 8 bits per pixel, three planes of
// 8 bits (red, green, blue), four planes of 1 bit (16-colour EGA) and four planes of 8 bits (red,
// green, blue and an alpha plane, which is skipped).
bool LayoutSupported(int bits, int planes) {
  switch (planes) {
    case 1: return bits == 1 || bits == 2 || bits == 4 || bits == 8;
    case 3: return bits == 8;
    case 4: return bits == 1 || bits == 8;
    default: return false;
  }
}

// Hands out the image data one plane line at a time. A run may reach past the end of a line; what
// is left of it continues the next line. Data that ends early leaves the rest of a line zero. The
// data is read from the stream in pieces, so a long file never needs a buffer of its own size.
class TLineDecoder {
 public:
  TLineDecoder(TStream& stream, std::int64_t dataBytes, bool runLength)
      : stream_(stream), unread_(dataBytes), runLength_(runLength), buffer_(kChunkBytes) {}

  // Fills `count` bytes; false when the data ran out first.
  bool Decode(std::uint8_t* line, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      if (runLeft_ > 0) {
        const std::size_t take = std::min(runLeft_, count - done);
        std::memset(line + done, runValue_, take);
        done += take;
        runLeft_ -= take;
        continue;
      }
      if (position_ == end_ && !Refill()) break;
      if (!runLength_) {
        const std::size_t take = std::min(count - done, end_ - position_);
        std::memcpy(line + done, buffer_.data() + position_, take);
        done += take;
        position_ += take;
        continue;
      }
      const std::uint8_t code = buffer_[position_++];
      if (code < kRunFlag) {
        line[done++] = code;
      } else {
        if (position_ == end_ && !Refill()) break;
        runValue_ = buffer_[position_++];
        runLeft_ = code & 0x3F;
      }
    }
    std::memset(line + done, 0, count - done);
    return done == count;
  }

 private:
  static constexpr std::size_t kChunkBytes = 64 * 1024;

  bool Refill() {
    if (unread_ <= 0) return false;
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(unread_, kChunkBytes));
    const std::size_t got = stream_.Read(buffer_.data(), want);
    // A stream that gives nothing although it said it held more ends the data here.
    unread_ = got > 0 ? unread_ - static_cast<std::int64_t>(got) : 0;
    position_ = 0;
    end_ = got;
    return got > 0;
  }

  TStream& stream_;
  std::int64_t unread_;
  bool runLength_;
  std::vector<std::uint8_t> buffer_;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
  std::uint8_t runValue_ = 0;
  std::size_t runLeft_ = 0;
};

void DecodeRows(TLineDecoder& decoder, int bits, int planes, std::size_t bytesPerLine,
                const TPalette& palette, TBitmap& bitmap, const TProgressContext& progress) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  // Each line buffer holds a whole file line and at least the bytes the width needs; a header
  // whose bytes per line is too small for the width leaves the missing bytes zero.
  const std::size_t needed = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 7) / 8;
  const std::size_t capacity = std::max(bytesPerLine, needed);
  std::vector<std::uint8_t> lines(capacity * static_cast<std::size_t>(planes), 0);
  const auto plane = [&](int p) { return lines.data() + capacity * static_cast<std::size_t>(p); };

  for (int y = 0; y < height; ++y) {
    progress.Report(static_cast<int>(static_cast<std::int64_t>(y) * 100 / height));
    if (progress.Aborted()) return;
    bool complete = true;
    for (int p = 0; p < planes; ++p) complete &= decoder.Decode(plane(p), bytesPerLine);

    std::uint8_t* row = bitmap.ScanLine(y);
    if (planes == 1 && bits == 1) {
      std::memcpy(row, plane(0), needed);
      // Bits past the width are not pixels; keep them clear as the bitmap's padding is.
      if (width % 8 != 0) row[needed - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
    } else if (planes == 1 && bits == 8) {
      const std::uint8_t* in = plane(0);
      for (int x = 0; x < width; ++x) {
        const TRGB colour = palette[in[x]];
        row[3 * x] = colour.b;
        row[3 * x + 1] = colour.g;
        row[3 * x + 2] = colour.r;
      }
    } else if (planes == 1) {
      const std::uint8_t* in = plane(0);
      const int perByte = 8 / bits;
      const unsigned mask = (1u << bits) - 1;
      for (int x = 0; x < width; ++x) {
        const int shift = 8 - bits * (x % perByte + 1);
        const TRGB colour = palette[(in[x / perByte] >> shift) & mask];
        row[3 * x] = colour.b;
        row[3 * x + 1] = colour.g;
        row[3 * x + 2] = colour.r;
      }
    } else if (bits == 8) {
      const std::uint8_t* red = plane(0);
      const std::uint8_t* green = plane(1);
      const std::uint8_t* blue = plane(2);
      for (int x = 0; x < width; ++x) {
        row[3 * x] = blue[x];
        row[3 * x + 1] = green[x];
        row[3 * x + 2] = red[x];
      }
    } else {
      // Four planes of one bit: plane p gives bit p of the palette index.
      for (int x = 0; x < width; ++x) {
        const int shift = 7 - x % 8;
        const std::size_t at = static_cast<std::size_t>(x) / 8;
        int index = 0;
        for (int p = 0; p < 4; ++p) index |= ((plane(p)[at] >> shift) & 1) << p;
        row[3 * x] = palette[index].b;
        row[3 * x + 1] = palette[index].g;
        row[3 * x + 2] = palette[index].r;
      }
    }
    if (!complete) {
      // The data ended inside this row: the rows so far stay, the rest stays black.
      progress.Abort();
      return;
    }
  }
}

// Appends the run-length code of `count` line bytes to `out` and returns the new end.
std::uint8_t* EncodeLine(const std::uint8_t* line, std::size_t count, std::uint8_t* out) {
  std::size_t i = 0;
  while (i < count) {
    const std::uint8_t value = line[i];
    const std::size_t limit = std::min(kMaxRun, count - i);
    std::size_t run = 1;
    while (run < limit && line[i + run] == value) ++run;
    // A lone byte below 0xC0 stands for itself; any other must be coded as a run.
    if (run > 1 || value >= kRunFlag) *out++ = static_cast<std::uint8_t>(kRunFlag | run);
    *out++ = value;
    i += run;
  }
  return out;
}

enum class TWriteMode { TwoColours, SixteenColours, Palette256, TrueColour };

TWriteMode ChooseMode(const TIOParams& params) {
  if (params.BitsPerSample == 1) return TWriteMode::TwoColours;
  switch (static_cast<std::int64_t>(params.BitsPerSample) * params.SamplesPerPixel) {
    case 4: return TWriteMode::SixteenColours;
    case 8: return TWriteMode::Palette256;
    // Any other depth is written as true colour, which loses nothing.
    default: return TWriteMode::TrueColour;
  }
}

}  // namespace

void PcxReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress, std::int64_t byteCount) {
  const std::int64_t start = stream.Position();
  // The caller's byte count, but never more than the stream really holds.
  const std::int64_t available = std::min(byteCount, stream.Remaining());
  std::uint8_t header[kHeaderBytes];
  if (available < static_cast<std::int64_t>(kHeaderBytes) || !stream.ReadExact(header, kHeaderBytes)) {
    progress.Abort();
    return;
  }
  const int bits = header[kBitsAt];
  const int planes = header[kPlanesAt];
  const int encoding = header[kEncodingAt];
  const std::int64_t width =
      std::int64_t{GetLE16(header + kXMaxAt)} - std::int64_t{GetLE16(header + kXMinAt)} + 1;
  const std::int64_t height =
      std::int64_t{GetLE16(header + kYMaxAt)} - std::int64_t{GetLE16(header + kYMinAt)} + 1;
  const std::size_t bytesPerLine = GetLE16(header + kBytesPerLineAt);
  if (header[kManufacturerAt] != kManufacturer || encoding > 1 || !LayoutSupported(bits, planes) ||
      width < 1 || height < 1 || bytesPerLine == 0) {
    progress.Abort();
    return;
  }

  params.Width = static_cast<std::int32_t>(width);
  params.Height = static_cast<std::int32_t>(height);
  params.DpiX = GetLE16(header + kDpiXAt);
  params.DpiY = GetLE16(header + kDpiYAt);
  if (params.DpiX == 0 || params.DpiY == 0) {
    params.DpiX = DefaultResolution().dpiX;
    params.DpiY = DefaultResolution().dpiY;
  }

  TPalette palette{};
  PaletteFromRgb(header + kPaletteAt, 16, palette);
  const bool trailingPalette = planes == 1 && bits == 8;
  if (trailingPalette) {
    // The last 768 bytes; the marker byte before them is not checked. Data too short to hold
    // the marker and the palette after the header cannot be a 256-colour image.
    if (available < static_cast<std::int64_t>(kHeaderBytes) + 1 + kTrailingPaletteBytes) {
      progress.Abort();
      return;
    }
    std::uint8_t rgb[kTrailingPaletteBytes];
    stream.Seek(start + available - kTrailingPaletteBytes);
    if (!stream.ReadExact(rgb, sizeof rgb)) {
      progress.Abort();
      return;
    }
    PaletteFromRgb(rgb, 256, palette);
  }

  params.BitsPerSample = bits;
  params.SamplesPerPixel = planes;
  params.PcxVersion = header[kVersionAt];
  params.PcxCompression = static_cast<std::uint8_t>(encoding);
  if (trailingPalette) {
    StoreColorMap(params, palette.data(), 256);
  } else if (planes == 4 && bits == 1) {
    StoreColorMap(params, palette.data(), 16);
    params.BitsPerSample = 4;
    params.SamplesPerPixel = 1;
  } else if (planes == 1) {
    StoreColorMap(params, palette.data(), 1 << bits);
  } else {
    params.FreeColorMap();
  }
  if (paramsOnly) return;

  const TPixelFormat format = planes == 1 && bits == 1 ? pf1bit : pf24bit;
  if (!ImageSizeAllowed(width, height, format)) {
    progress.Abort();
    return;
  }
  try {
    PrepareBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), format);
    stream.Seek(start + static_cast<std::int64_t>(kHeaderBytes));
    TLineDecoder decoder(stream, available - static_cast<std::int64_t>(kHeaderBytes), encoding == 1);
    DecodeRows(decoder, bits, planes, bytesPerLine, palette, bitmap, progress);
    stream.Seek(start + available);
  } catch (const std::exception&) {
    progress.Abort();
  }
}

void PcxWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress) {
  const TWriteMode mode = ChooseMode(params);
  const std::int64_t width = bitmap.Width();
  const std::int64_t height = bitmap.Height();
  int bits = 8;
  int planes = 1;
  std::int64_t lineBytes = width;
  switch (mode) {
    case TWriteMode::TwoColours:
      bits = 1;
      lineBytes = (width + 7) / 8;
      break;
    case TWriteMode::SixteenColours:
      bits = 4;
      lineBytes = (width + 1) / 2;
      break;
    case TWriteMode::Palette256: break;
    case TWriteMode::TrueColour: planes = 3; break;
  }
  // Lines are stored at an even length.
  const std::int64_t bytesPerLine = lineBytes + (lineBytes & 1);
  // The header's corners and bytes per line are 16-bit: a larger image cannot be described.
  if (bitmap.Empty() || width - 1 > kMaxField || height - 1 > kMaxField || bytesPerLine > kMaxField) {
    progress.Abort();
    return;
  }

  // Conversions work on copies: the caller's bitmap stays as it is.
  const TBitmap* source = &bitmap;
  std::unique_ptr<TBitmap> converted;
  TRGB palette[256] = {};
  int paletteCount = 0;
  std::unique_ptr<TColorQuantizer> quantizer;
  if (mode == TWriteMode::TwoColours) {
    palette[0] = TRGB{0, 0, 0};
    palette[1] = TRGB{255, 255, 255};
    paletteCount = 2;
    if (bitmap.PixelFormat() != pf1bit) {
      const TBitmap* colour = &bitmap;
      TBitmap colourCopy;
      if (bitmap.PixelFormat() != pf24bit) {
        ConvertTo24Bit(bitmap, colourCopy);
        colour = &colourCopy;
      }
      converted = TwoColorTo1Bit(*colour, palette[0], palette[1]);
      if (!converted) {
        converted = std::make_unique<TBitmap>();
        CopyBitmap(*colour, *converted);
        DitherTo1Bit(*converted, progress);
      }
      source = converted.get();
    }
  } else {
    if (bitmap.PixelFormat() != pf24bit) {
      converted = std::make_unique<TBitmap>();
      ConvertTo24Bit(bitmap, *converted);
      source = converted.get();
    }
    if (mode != TWriteMode::TrueColour) {
      paletteCount = mode == TWriteMode::SixteenColours ? 16 : 256;
      quantizer = std::make_unique<TColorQuantizer>(*source, palette, paletteCount);
    }
  }
  if (paletteCount > 0) StoreColorMap(params, palette, paletteCount);

  const bool runLength = params.PcxCompression != 0;
  std::uint8_t header[kHeaderBytes] = {};
  header[kManufacturerAt] = kManufacturer;
  header[kVersionAt] = static_cast<std::uint8_t>(params.PcxVersion);
  header[kEncodingAt] = runLength ? 1 : 0;
  header[kBitsAt] = static_cast<std::uint8_t>(bits);
  PutLE16(header + kXMaxAt, static_cast<std::uint32_t>(width - 1));
  PutLE16(header + kYMaxAt, static_cast<std::uint32_t>(height - 1));
  PutLE16(header + kDpiXAt, static_cast<std::uint32_t>(std::clamp<std::int64_t>(params.DpiX, 0, kMaxField)));
  PutLE16(header + kDpiYAt, static_cast<std::uint32_t>(std::clamp<std::int64_t>(params.DpiY, 0, kMaxField)));
  if (mode == TWriteMode::TwoColours || mode == TWriteMode::SixteenColours)
    PaletteToRgb(palette, paletteCount, header + kPaletteAt);
  header[kPlanesAt] = static_cast<std::uint8_t>(planes);
  PutLE16(header + kBytesPerLineAt, static_cast<std::uint32_t>(bytesPerLine));
  PutLE16(header + kPaletteInfoAt, mode == TWriteMode::TrueColour ? 0 : 1);
  stream.Write(header, kHeaderBytes);

  // One row at a time: the plane lines (zero padding included) and their code.
  const std::size_t lineSize = static_cast<std::size_t>(bytesPerLine);
  std::vector<std::uint8_t> lines(lineSize * static_cast<std::size_t>(planes), 0);
  std::vector<std::uint8_t> coded(runLength ? 2 * lines.size() : 0);
  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  for (int y = 0; y < h; ++y) {
    progress.Report(static_cast<int>(static_cast<std::int64_t>(y) * 100 / h));
    if (progress.Aborted()) return;
    const std::uint8_t* row = source->ScanLine(y);
    switch (mode) {
      case TWriteMode::TwoColours: std::memcpy(lines.data(), row, static_cast<std::size_t>(lineBytes)); break;
      case TWriteMode::SixteenColours:
        for (int x = 0; x < w; x += 2) {
          const int high = quantizer->ColorIndex(TRGB{row[3 * x], row[3 * x + 1], row[3 * x + 2]});
          const int low =
              x + 1 < w ? quantizer->ColorIndex(TRGB{row[3 * x + 3], row[3 * x + 4], row[3 * x + 5]}) : 0;
          lines[static_cast<std::size_t>(x / 2)] = static_cast<std::uint8_t>(high << 4 | low);
        }
        break;
      case TWriteMode::Palette256:
        for (int x = 0; x < w; ++x) {
          lines[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(
              quantizer->ColorIndex(TRGB{row[3 * x], row[3 * x + 1], row[3 * x + 2]}));
        }
        break;
      case TWriteMode::TrueColour: {
        std::uint8_t* red = lines.data();
        std::uint8_t* green = red + lineSize;
        std::uint8_t* blue = green + lineSize;
        for (int x = 0; x < w; ++x) {
          blue[x] = row[3 * x];
          green[x] = row[3 * x + 1];
          red[x] = row[3 * x + 2];
        }
        break;
      }
    }
    if (!runLength) {
      stream.Write(lines.data(), lines.size());
      continue;
    }
    std::uint8_t* out = coded.data();
    for (int p = 0; p < planes; ++p) {
      out = EncodeLine(lines.data() + lineSize * static_cast<std::size_t>(p),
                       static_cast<std::size_t>(lineBytes), out);
      if (lineBytes != bytesPerLine) *out++ = 0;
    }
    stream.Write(coded.data(), static_cast<std::size_t>(out - coded.data()));
  }

  if (mode == TWriteMode::Palette256 && !progress.Aborted()) {
    std::uint8_t tail[1 + kTrailingPaletteBytes] = {kPaletteMarker};
    PaletteToRgb(palette, paletteCount, tail + 1);
    stream.Write(tail, sizeof tail);
  }
}

}  // namespace veilora
