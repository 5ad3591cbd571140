// TIFF writing: one image per call, as a single strip, into a new little-endian file or linked
// into the directory chain of an existing one.
//
// Layout of what one call writes, in order: (new files only) the 8-byte header; the values that do
// not fit into a directory entry and precede the pixels (BitsPerSample for colour, DocumentName,
// ImageDescription); the strip; the values that follow it (the resolutions, PageName, the
// positions); a zero byte when needed to make the position even; the directory.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_set>
#include <vector>

#include "io/ColorQuantizer.h"
#include "io/FaxCodec.h"
#include "io/PackBits.h"
#include "io/TiffCodec.h"

namespace veilora {

namespace {

enum TFieldType : std::uint16_t { ftAscii = 2, ftShort = 3, ftLong = 4, ftRational = 5 };

enum TTag : std::uint16_t {
  tagImageWidth = 256,
  tagImageLength = 257,
  tagBitsPerSample = 258,
  tagCompression = 259,
  tagPhotometric = 262,
  tagDocumentName = 269,
  tagImageDescription = 270,
  tagStripOffsets = 273,
  tagSamplesPerPixel = 277,
  tagRowsPerStrip = 278,
  tagStripByteCounts = 279,
  tagXResolution = 282,
  tagYResolution = 283,
  tagPageName = 285,
  tagXPosition = 286,
  tagYPosition = 287,
  tagT4Options = 292,
  tagResolutionUnit = 296,
  tagPageNumber = 297,
  tagPredictor = 317,
};

constexpr std::uint16_t kWhiteIsZero = 0;
constexpr std::uint16_t kBlackIsZero = 1;
constexpr std::uint16_t kRgb = 2;
constexpr std::uint16_t kCmyk = 5;

constexpr std::uint16_t kNoCompression = 1;
constexpr std::uint16_t kCcittRle = 2;
constexpr std::uint16_t kGroup3 = 3;
constexpr std::uint16_t kGroup4 = 4;
constexpr std::uint16_t kLzw = 5;
constexpr std::uint16_t kPackBits = 32773;

constexpr std::int64_t kMaxOffset = std::numeric_limits<std::uint32_t>::max();

struct TEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  // The value itself when it fits in 4 bytes (SHORTs from the low bytes up), else the offset of
  // the values from the start of the file.
  std::uint32_t value;
};

// What one write puts into the file, decided from the parameter record before anything is written.
struct TPlan {
  bool twoColour = false;
  std::uint16_t photometric = kRgb;
  std::uint16_t compression = kNoCompression;
  bool predictor = false;
  bool invertBits = false;  // two-colour rows stored with a set bit meaning black
  int samples = 3;          // samples per pixel in the file
  TFaxOptions fax;          // compression 2, 3 or 4
  TTiffLzwCompress lzw = nullptr;
};

TPlan PlanFor(const TIOParams& params) {
  TPlan plan;
  plan.twoColour = params.BitsPerSample == 1 && params.SamplesPerPixel == 1;
  if (plan.twoColour) {
    // A bilevel image can only be grey: any photometric other than WhiteIsZero is written as
    // BlackIsZero, which is how the bitmap itself stores its bits.
    plan.photometric = params.TiffPhotometric == 0 ? kWhiteIsZero : kBlackIsZero;
    plan.samples = 1;
  } else {
    // Three or four samples per pixel can only be RGB or CMYK; a grey photometric with them would
    // be misread by every reader.
    plan.photometric = params.TiffPhotometric == 5 ? kCmyk : kRgb;
    plan.samples = plan.photometric == kCmyk ? 4 : 3;
  }

  switch (params.TiffCompression) {
    case 1: plan.compression = kCcittRle; break;
    case 2:
    case 3: plan.compression = kGroup3; break;
    case 4: plan.compression = kGroup4; break;
    case 5: plan.compression = kLzw; break;
    case 8: plan.compression = kPackBits; break;
    default: plan.compression = kNoCompression; break;
  }

  const bool fax =
      plan.compression == kCcittRle || plan.compression == kGroup3 || plan.compression == kGroup4;
  if (fax && !plan.twoColour) plan.compression = kNoCompression;
  if (fax && plan.twoColour) {
    // Fax coding counts runs of white and black with black as the set bit.
    plan.photometric = kWhiteIsZero;
    plan.fax.scheme = plan.compression == kCcittRle ? TFaxScheme::ModifiedHuffman
                      : plan.compression == kGroup3 ? TFaxScheme::Group3
                                                    : TFaxScheme::Group4;
    plan.fax.twoDimensional = params.TiffCompression == 3;
  }
  if (plan.compression == kLzw) {
    plan.lzw = params.TiffLzwCompress != nullptr ? params.TiffLzwCompress : GlobalLzwHooks().tiffCompress;
    if (plan.lzw == nullptr) plan.compression = kNoCompression;
  }
  plan.predictor = plan.compression == kLzw && params.BitsPerSample == 8 &&
                   (params.SamplesPerPixel == 1 || params.SamplesPerPixel == 3);
  // The bitmap's bit 0 is black; WhiteIsZero stores black as 1.
  plan.invertBits = plan.twoColour && plan.photometric == kWhiteIsZero;
  return plan;
}

// Closes an LZW strip that was left open by an early return or an exception, so that the coder
// frees its state. The file is being given up by then; its bytes no longer matter.
class TLzwCloser {
 public:
  TLzwCloser(TTiffLzwCompress coder, TStream& stream) : coder_(coder), stream_(stream) {}
  ~TLzwCloser() {
    if (state == nullptr) return;
    try {
      coder_(nullptr, 0, stream_, state);
    } catch (...) {  // NOLINT(bugprone-empty-catch): the stream has already failed
    }
  }
  TLzwCloser(const TLzwCloser&) = delete;
  TLzwCloser& operator=(const TLzwCloser&) = delete;

  void Finish() {
    if (state != nullptr) coder_(nullptr, 0, stream_, state);
    state = nullptr;
  }

  TTiffLzwEncoder* state = nullptr;

 private:
  TTiffLzwCompress coder_;
  TStream& stream_;
};

// The standard conversion to CMYK: K = 255 - max(R, G, B) and C = (255 - R - K) x 255 / (255 - K),
// likewise M and Y, truncated. Readers that render CMYK as (255 - C) x (255 - K) / 255, truncated,
// as libtiff does, get every colour back exactly: 255 - C is the smallest value that gives R.
std::uint8_t InkOf(std::uint8_t channel, std::uint8_t max) {
  return static_cast<std::uint8_t>(255u * (max - channel) / max);
}

// One row of the picture in file order: blue, green, red becomes red, green, blue, or CMYK. With
// the predictor every sample becomes its difference from the same sample of the pixel to its left,
// in one pass.
void ColourRow(const std::uint8_t* source, int width, bool cmyk, bool predictor, std::uint8_t* out) {
  if (!cmyk) {
    if (!predictor) {
      for (int x = 0; x < width; ++x, source += 3, out += 3) {
        out[0] = source[2];
        out[1] = source[1];
        out[2] = source[0];
      }
      return;
    }
    std::uint8_t r0 = 0;
    std::uint8_t g0 = 0;
    std::uint8_t b0 = 0;
    for (int x = 0; x < width; ++x, source += 3, out += 3) {
      const std::uint8_t b = source[0];
      const std::uint8_t g = source[1];
      const std::uint8_t r = source[2];
      out[0] = static_cast<std::uint8_t>(r - r0);
      out[1] = static_cast<std::uint8_t>(g - g0);
      out[2] = static_cast<std::uint8_t>(b - b0);
      r0 = r;
      g0 = g;
      b0 = b;
    }
    return;
  }
  std::uint8_t previous[4] = {0, 0, 0, 0};
  for (int x = 0; x < width; ++x, source += 3, out += 4) {
    const std::uint8_t b = source[0];
    const std::uint8_t g = source[1];
    const std::uint8_t r = source[2];
    const std::uint8_t max = std::max({r, g, b});
    std::uint8_t cmykPixel[4] = {0, 0, 0, static_cast<std::uint8_t>(255 - max)};
    if (max != 0) {
      cmykPixel[0] = InkOf(r, max);
      cmykPixel[1] = InkOf(g, max);
      cmykPixel[2] = InkOf(b, max);
    }
    for (int k = 0; k < 4; ++k) {
      out[k] = predictor ? static_cast<std::uint8_t>(cmykPixel[k] - previous[k]) : cmykPixel[k];
      previous[k] = cmykPixel[k];
    }
  }
}

// A 1-bit row as (width + 7) / 8 bytes, inverted when asked, with the bits past the width clear.
void BilevelRow(const std::uint8_t* source, int width, bool invert, std::uint8_t* out) {
  const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
  if (invert) {
    for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(~source[i]);
  } else {
    std::memcpy(out, source, bytes);
  }
  const int spare = static_cast<int>(bytes * 8 - static_cast<std::size_t>(width));
  out[bytes - 1] &= static_cast<std::uint8_t>(0xFFu << spare);
}

// Where the new image is linked into an existing file's chain.
struct TLink {
  std::int64_t position = 0;  // absolute stream position of the 4-byte link
  std::uint32_t oldValue = 0;
  std::int32_t imageCount = 0;  // directories found in the file
};

bool ReadLE32At(TStream& stream, std::int64_t position, std::uint32_t& value) {
  std::uint8_t bytes[4];
  stream.Seek(position);
  if (!stream.ReadExact(bytes, sizeof bytes)) return false;
  value = GetLE32(bytes);
  return true;
}

// Walks the directory chain of the little-endian file at `start` and picks the link that must
// point to an image inserted at `index`: the header's for 0, the one ending directory k - 1 for k,
// the chain's last link for any index beyond the last image (or a negative one). The walk ends at
// a zero link, at a directory that lies outside the stream, or at one already visited, so a chain
// that loops ends too. False when the stream holds no little-endian TIFF header.
bool FindLink(TStream& stream, std::int64_t start, std::int32_t index, TLink& link) {
  std::uint8_t header[8];
  stream.Seek(start);
  if (!stream.ReadExact(header, sizeof header)) return false;
  // Only "II" files with the classic 32-bit offsets can take a link written here.
  if (header[0] != 'I' || header[1] != 'I' || GetLE16(header + 2) != 42) return false;

  const std::int64_t size = stream.Size();
  std::int64_t linkPosition = start + 4;
  std::uint32_t value = GetLE32(header + 4);
  std::int32_t count = 0;
  bool chosen = false;
  std::unordered_set<std::uint32_t> visited;
  auto choose = [&] {
    link.position = linkPosition;
    link.oldValue = value;
    chosen = true;
  };
  if (index == 0) choose();
  while (value != 0 && visited.insert(value).second) {
    const std::int64_t directory = start + value;
    std::uint8_t countBytes[2];
    if (directory + 2 > size) break;
    stream.Seek(directory);
    if (!stream.ReadExact(countBytes, sizeof countBytes)) break;
    const std::int64_t next = directory + 2 + 12 * static_cast<std::int64_t>(GetLE16(countBytes));
    std::uint32_t nextValue = 0;
    if (next + 4 > size || !ReadLE32At(stream, next, nextValue)) break;
    ++count;
    linkPosition = next;
    value = nextValue;
    if (count == index) choose();
  }
  // The chain ends here. Whatever the last link held (0, a directory seen before, or one that
  // cannot be read) must not follow the new image: it becomes the chain's clean end.
  if (!chosen || link.position == linkPosition) {
    link.position = linkPosition;
    link.oldValue = 0;
  }
  link.imageCount = count;
  return true;
}

// Writes the file's values little-endian at the stream position and remembers where the
// directory's entries point.
class TValueWriter {
 public:
  TValueWriter(TStream& stream, std::int64_t start) : stream_(stream), start_(start) {}

  // The position relative to the start of the file. Checked against 32 bits before the directory
  // is written.
  std::int64_t Offset() const { return stream_.Position() - start_; }

  void Add(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    entries_.push_back(TEntry{tag, type, count, value});
  }
  void AddShort(std::uint16_t tag, std::uint16_t value) { Add(tag, ftShort, 1, value); }
  void AddLong(std::uint16_t tag, std::uint32_t value) { Add(tag, ftLong, 1, value); }

  void AddLongs(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
    std::vector<std::uint8_t> bytes(4 * values.size());
    for (std::size_t i = 0; i < values.size(); ++i) PutLE32(bytes.data() + 4 * i, values[i]);
    AddOutOfLine(tag, ftLong, static_cast<std::uint32_t>(values.size()), bytes);
  }
  void AddText(std::uint16_t tag, const std::string& text) {
    if (text.empty()) return;
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    const auto count = static_cast<std::uint32_t>(bytes.size());
    if (bytes.size() <= 4) {
      // Values that fit into the entry's 4 bytes must be kept there: every reader looks for them
      // there, and would take an offset for the text.
      std::uint8_t field[4] = {};
      std::memcpy(field, bytes.data(), bytes.size());
      Add(tag, ftAscii, count, GetLE32(field));
      return;
    }
    AddOutOfLine(tag, ftAscii, count, bytes);
  }
  void AddRational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator) {
    std::vector<std::uint8_t> bytes(8);
    PutLE32(bytes.data(), numerator);
    PutLE32(bytes.data() + 4, denominator);
    AddOutOfLine(tag, ftRational, 1, bytes);
  }

  // The entry count, the entries in ascending tag order, and the link to the next directory.
  void WriteDirectory(std::uint32_t next) {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const TEntry& a, const TEntry& b) { return a.tag < b.tag; });
    std::vector<std::uint8_t> bytes(2 + 12 * entries_.size() + 4);
    PutLE16(bytes.data(), static_cast<std::uint32_t>(entries_.size()));
    std::uint8_t* out = bytes.data() + 2;
    for (const TEntry& entry : entries_) {
      PutLE16(out, entry.tag);
      PutLE16(out + 2, entry.type);
      PutLE32(out + 4, entry.count);
      // In-line SHORTs fill the value field from its first bytes, which is what a little-endian
      // 32-bit store of (first | second << 16) gives.
      PutLE32(out + 8, entry.value);
      out += 12;
    }
    PutLE32(out, next);
    stream_.Write(bytes.data(), bytes.size());
  }

  std::size_t DirectoryBytes() const { return 2 + 12 * entries_.size() + 4; }

 private:
  void AddOutOfLine(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                    const std::vector<std::uint8_t>& bytes) {
    Add(tag, type, count, static_cast<std::uint32_t>(Offset()));
    stream_.Write(bytes.data(), bytes.size());
  }

  TStream& stream_;
  std::int64_t start_;
  std::vector<TEntry> entries_;
};

// A RATIONAL holds no negative value, and the position's numerator is the inches times 10000.
std::uint32_t PositionNumerator(std::int32_t inches) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(std::int64_t{inches} * 10000, 0, kMaxOffset));
}

void ReportRow(const TProgressContext& progress, int row, int height) {
  if (progress.HasHandler()) progress.Report(static_cast<int>(std::int64_t{row} * 100 / height));
}

// Writes the rows of `source` (1-bit for two-colour images, else 24-bit) through the plan's coder.
// False when Aborting was set on the way.
bool WritePixels(TStream& stream, const TBitmap& source, const TPlan& plan,
                 const TProgressContext& progress) {
  const int width = source.Width();
  const int height = source.Height();
  const std::size_t rowBytes = plan.twoColour ? (static_cast<std::size_t>(width) + 7) / 8
                                              : static_cast<std::size_t>(width) * plan.samples;
  std::vector<std::uint8_t> row(rowBytes);
  auto makeRow = [&](int y) {
    if (plan.twoColour) {
      BilevelRow(source.ScanLine(y), width, plan.invertBits, row.data());
    } else {
      ColourRow(source.ScanLine(y), width, plan.photometric == kCmyk, plan.predictor, row.data());
    }
  };

  switch (plan.compression) {
    case kLzw: {
      TLzwCloser closer(plan.lzw, stream);
      for (int y = 0; y < height; ++y) {
        ReportRow(progress, y, height);
        if (progress.Aborted()) return false;
        makeRow(y);
        plan.lzw(row.data(), static_cast<std::int32_t>(rowBytes), stream, closer.state);
      }
      closer.Finish();
      return true;
    }
    case kCcittRle:
    case kGroup3:
    case kGroup4: {
      TFaxEncoder encoder(stream, plan.fax, width);
      for (int y = 0; y < height; ++y) {
        ReportRow(progress, y, height);
        if (progress.Aborted()) return false;
        makeRow(y);
        encoder.EncodeRow(row.data());
      }
      encoder.Finish();
      return true;
    }
    case kPackBits: {
      // Rows are coded separately (a packet never spans two rows) and written in batches.
      constexpr std::size_t kBatchBytes = 256 * 1024;
      std::vector<std::uint8_t> coded;
      coded.reserve(kBatchBytes + rowBytes + rowBytes / 128 + 2);
      for (int y = 0; y < height; ++y) {
        ReportRow(progress, y, height);
        if (progress.Aborted()) return false;
        makeRow(y);
        PackBitsEncode(row.data(), rowBytes, coded);
        if (coded.size() >= kBatchBytes) {
          stream.Write(coded.data(), coded.size());
          coded.clear();
        }
      }
      stream.Write(coded.data(), coded.size());
      return true;
    }
    default:
      for (int y = 0; y < height; ++y) {
        ReportRow(progress, y, height);
        if (progress.Aborted()) return false;
        makeRow(y);
        stream.Write(row.data(), rowBytes);
      }
      return true;
  }
}

}  // namespace

std::int32_t TiffWriteStream(TStream& stream, bool append, TBitmap& bitmap, TIOParams& params,
                             const TProgressContext& progress) {
  // A directory cannot describe an image without pixels.
  if (bitmap.Empty()) {
    progress.Abort();
    return 0;
  }
  const std::int64_t start = stream.Position();
  TLink link;
  if (append) {
    if (!FindLink(stream, start, params.TiffImageIndex, link) || stream.Size() - start > kMaxOffset) {
      stream.Seek(start);
      progress.Abort();
      return 0;
    }
    stream.Seek(stream.Size());
  }

  const TPlan plan = PlanFor(params);

  // The source: the bitmap itself where it can be written as it is, else a converted copy. The
  // caller's bitmap is never changed.
  TBitmap converted;
  std::unique_ptr<TBitmap> twoColours;
  const TBitmap* source = &bitmap;
  if (plan.twoColour) {
    if (bitmap.PixelFormat() != pf1bit) {
      if (bitmap.PixelFormat() != pf24bit) {
        ConvertTo24Bit(bitmap, converted);
        source = &converted;
      }
      TRGB colour0;
      TRGB colour1;
      twoColours = TwoColorTo1Bit(*source, colour0, colour1);
      if (twoColours != nullptr) {
        source = twoColours.get();
      } else {
        if (source != &converted) CopyBitmap(bitmap, converted);
        DitherTo1Bit(converted, progress);
        source = &converted;
        if (progress.Aborted()) return 0;
      }
    }
  } else if (bitmap.PixelFormat() != pf24bit) {
    ConvertTo24Bit(bitmap, converted);
    source = &converted;
  }

  if (!append) {
    const std::uint8_t placeholder[8] = {};
    stream.Write(placeholder, sizeof placeholder);
  }

  TValueWriter values(stream, start);
  values.AddLong(tagImageWidth, static_cast<std::uint32_t>(source->Width()));
  values.AddLong(tagImageLength, static_cast<std::uint32_t>(source->Height()));
  if (plan.twoColour) {
    values.AddShort(tagBitsPerSample, 1);
  } else {
    values.AddLongs(tagBitsPerSample, std::vector<std::uint32_t>(static_cast<std::size_t>(plan.samples), 8));
  }
  values.AddShort(tagCompression, plan.compression);
  values.AddShort(tagPhotometric, plan.photometric);
  values.AddText(tagDocumentName, params.TiffDocumentName);
  values.AddText(tagImageDescription, params.TiffImageDescription);

  const std::int64_t stripStart = values.Offset();
  if (!WritePixels(stream, *source, plan, progress)) return 0;
  const std::int64_t stripBytes = values.Offset() - stripStart;
  values.AddLong(tagStripOffsets, static_cast<std::uint32_t>(stripStart));
  values.AddShort(tagSamplesPerPixel, static_cast<std::uint16_t>(plan.samples));
  values.AddLong(tagRowsPerStrip, static_cast<std::uint32_t>(source->Height()));
  values.AddLong(tagStripByteCounts, static_cast<std::uint32_t>(stripBytes));
  if (plan.predictor) values.AddShort(tagPredictor, 2);

  values.AddRational(tagXResolution, static_cast<std::uint32_t>(std::max(0, params.DpiX)), 1);
  values.AddRational(tagYResolution, static_cast<std::uint32_t>(std::max(0, params.DpiY)), 1);
  values.AddText(tagPageName, params.TiffPageName);
  values.AddRational(tagXPosition, PositionNumerator(params.TiffXPos), 10000);
  values.AddRational(tagYPosition, PositionNumerator(params.TiffYPos), 10000);
  if (plan.compression == kGroup3) values.AddLong(tagT4Options, plan.fax.twoDimensional ? 1 : 0);
  values.AddShort(tagResolutionUnit, 2);
  if (params.TiffPageNumber != 0 || params.TiffPageCount != 0) {
    // SHORT values: out-of-range numbers are held at the ends rather than wrapped.
    const auto number = static_cast<std::uint16_t>(std::clamp(params.TiffPageNumber, 0, 65535));
    const auto count = static_cast<std::uint16_t>(std::clamp(params.TiffPageCount, 0, 65535));
    values.Add(tagPageNumber, ftShort, 2, static_cast<std::uint32_t>(number) | std::uint32_t{count} << 16);
  }

  if (progress.Aborted()) return 0;
  if (values.Offset() % 2 != 0) {
    const std::uint8_t zero = 0;
    stream.Write(&zero, 1);
  }
  const std::int64_t directory = values.Offset();
  // Every offset of the file is 32 bits; a file that would pass 4 GiB cannot be written.
  if (directory + static_cast<std::int64_t>(values.DirectoryBytes()) > kMaxOffset) {
    progress.Abort();
    return 0;
  }

  std::uint8_t offset[4];
  PutLE32(offset, static_cast<std::uint32_t>(directory));
  if (append) {
    stream.Seek(link.position);
    stream.Write(offset, sizeof offset);
  } else {
    const std::uint8_t header[4] = {'I', 'I', 42, 0};
    stream.Seek(start);
    stream.Write(header, sizeof header);
    stream.Write(offset, sizeof offset);
  }
  stream.Seek(start + directory);
  values.WriteDirectory(append ? link.oldValue : 0);
  return append ? link.imageCount + 1 : 1;
}

}  // namespace veilora
