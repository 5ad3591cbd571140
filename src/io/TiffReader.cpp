// Reading one image of a TIFF file: strips or tiles in either byte order, uncompressed, PackBits,
// LZW and Deflate (with horizontal differencing), the CCITT fax codings and JPEG, in every
// photometric interpretation a picture can be shown from.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <zlib.h>

#include "io/FaxCodec.h"
#include "io/PackBits.h"
#include "io/TIFLZW.h"
#include "io/TiffCodec.h"
#include "io/TiffDirectory.h"
#include "io/TiffJpeg.h"
#include "io/TiffPhotometric.h"

namespace veilora {

namespace {

enum TTag : std::uint16_t {
  kImageWidth = 256,
  kImageLength = 257,
  kBitsPerSample = 258,
  kCompression = 259,
  kPhotometric = 262,
  kFillOrder = 266,
  kDocumentName = 269,
  kImageDescription = 270,
  kStripOffsets = 273,
  kOrientation = 274,
  kSamplesPerPixel = 277,
  kRowsPerStrip = 278,
  kStripByteCounts = 279,
  kXResolution = 282,
  kYResolution = 283,
  kPlanarConfig = 284,
  kPageName = 285,
  kXPosition = 286,
  kYPosition = 287,
  kT4Options = 292,
  kT6Options = 293,
  kResolutionUnit = 296,
  kPageNumber = 297,
  kPredictor = 317,
  kColorMap = 320,
  kTileWidth = 322,
  kTileLength = 323,
  kTileOffsets = 324,
  kTileByteCounts = 325,
  kInkSet = 332,
  kNumberOfInks = 334,
  kDotRange = 336,
  kSampleFormat = 339,
  kJpegTables = 347,
  kYCbCrCoefficients = 529,
  kYCbCrSubSampling = 530,
  kReferenceBlackWhite = 532,
};

enum TCompression : std::uint32_t {
  kNone = 1,
  kCcittRle = 2,
  kCcittFax3 = 3,
  kCcittFax4 = 4,
  kLzw = 5,
  kOldJpeg = 6,
  kJpeg = 7,
  kAdobeDeflate = 8,
  kPackBits = 32773,
  // The code Deflate had before Adobe registered 8; the data is the same zlib stream.
  kOldDeflate = 32946,
};

bool IsDeflate(std::uint32_t compression) {
  return compression == kAdobeDeflate || compression == kOldDeflate;
}

// Predictor values: 2 is horizontal differencing of integer samples, 3 the floating-point one.
constexpr std::uint32_t kHorizontalDifferencing = 2;

// Images whose data is smaller than this are always given their bitmap; larger ones only when
// their strips could code at least 1 / kLeastPartShown of the picture.
constexpr std::uint64_t kSmallImageBytes = std::uint64_t{1} << 20;
constexpr std::uint64_t kLeastPartShown = 64;
// More samples per pixel than any colour model with a few extra channels has.
constexpr std::uint32_t kMaxSamples = 32;
// A tile is meant to be a small piece of the picture; one wider or longer than the largest picture
// side (rounded up to the 16 the standard asks for) is not a tile of any picture this reader makes.
constexpr std::uint32_t kMaxTileSide = 65536;

// Everything the directory says about the image.
struct TImageInfo {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint32_t> bits;
  std::uint32_t compression = kNone;
  std::uint32_t photometric = kTiffRgb;
  bool photometricGiven = false;
  std::uint32_t fillOrder = 1;
  std::uint32_t orientation = 1;
  std::uint32_t samples = 1;
  std::uint32_t rowsPerStrip = 0xFFFFFFFF;
  std::uint32_t planar = 1;
  std::uint32_t t4Options = 0;
  std::uint32_t t6Options = 0;
  std::uint32_t predictor = 1;
  std::uint32_t inkSet = 1;
  std::uint32_t numberOfInks = 4;
  std::uint32_t sampleFormat = 1;
  std::vector<std::uint32_t> dotRange;
  std::vector<std::uint32_t> subsampling{2, 2};
  std::vector<double> luma;
  std::vector<double> referenceBlackWhite;
  std::vector<TRGB> colorMap;
  // Tiled images have TileWidth and TileLength; tiled is set when any tile entry is there.
  bool tiled = false;
  std::uint32_t tileWidth = 0;
  std::uint32_t tileLength = 0;
};

std::uint32_t IntegerOr(TTiffFile& file, const std::vector<TTiffEntry>& entries, std::uint16_t tag,
                        std::uint32_t fallback) {
  const TTiffEntry* entry = FindEntry(entries, tag);
  std::uint32_t value = 0;
  return entry != nullptr && file.FirstInteger(*entry, value) ? value : fallback;
}

double RationalOr(TTiffFile& file, const std::vector<TTiffEntry>& entries, std::uint16_t tag,
                  double fallback) {
  const TTiffEntry* entry = FindEntry(entries, tag);
  double value = 0;
  return entry != nullptr && file.FirstRational(*entry, value) ? value : fallback;
}

std::string TextOf(TTiffFile& file, const std::vector<TTiffEntry>& entries, std::uint16_t tag) {
  const TTiffEntry* entry = FindEntry(entries, tag);
  return entry != nullptr ? file.Text(*entry) : std::string();
}

// The TIFF colour map holds all reds, then all greens, then all blues, as 16-bit values. Some
// writers put 8-bit values there; a map with no value above 255 is taken to be one of those.
std::vector<TRGB> ColourMap(TTiffFile& file, const TTiffEntry& entry, std::uint32_t bits) {
  const std::uint32_t wanted = 3u << std::min<std::uint32_t>(bits, 16);
  const std::vector<std::uint32_t> values = file.Integers(entry, wanted);
  const std::size_t count = values.size() / 3;
  const bool eightBit = std::all_of(values.begin(), values.end(), [](std::uint32_t v) { return v < 256; });
  const auto to8 = [eightBit](std::uint32_t v) {
    return static_cast<std::uint8_t>(eightBit ? v : (v >> 8) & 0xFF);
  };
  std::vector<TRGB> map(count);
  for (std::size_t i = 0; i < count; ++i) {
    map[i] = TRGB{to8(values[2 * count + i]), to8(values[count + i]), to8(values[i])};
  }
  return map;
}

TImageInfo ReadInfo(TTiffFile& file, const std::vector<TTiffEntry>& entries) {
  TImageInfo info;
  info.width = IntegerOr(file, entries, kImageWidth, 0);
  info.height = IntegerOr(file, entries, kImageLength, 0);
  info.samples = IntegerOr(file, entries, kSamplesPerPixel, 1);
  if (const TTiffEntry* entry = FindEntry(entries, kBitsPerSample)) {
    info.bits = file.Integers(*entry, std::min(std::max(info.samples, 1u), kMaxSamples));
  }
  if (info.bits.empty()) info.bits.push_back(1);
  info.compression = IntegerOr(file, entries, kCompression, kNone);
  info.photometricGiven = FindEntry(entries, kPhotometric) != nullptr;
  info.photometric = IntegerOr(file, entries, kPhotometric, kTiffRgb);
  if (!info.photometricGiven) {
    // Writers that leave the interpretation out mean the usual one for the data: colour for three
    // samples and more, else grey as the fax codings have it (white is zero) or black is zero.
    const bool fax = info.compression >= kCcittRle && info.compression <= kCcittFax4;
    info.photometric = info.samples >= 3 ? kTiffRgb : fax ? kTiffWhiteIsZero : kTiffBlackIsZero;
  }
  info.fillOrder = IntegerOr(file, entries, kFillOrder, 1);
  info.orientation = IntegerOr(file, entries, kOrientation, 1);
  info.rowsPerStrip = IntegerOr(file, entries, kRowsPerStrip, 0xFFFFFFFF);
  info.planar = IntegerOr(file, entries, kPlanarConfig, 1);
  info.t4Options = IntegerOr(file, entries, kT4Options, 0);
  info.t6Options = IntegerOr(file, entries, kT6Options, 0);
  info.predictor = IntegerOr(file, entries, kPredictor, 1);
  info.inkSet = IntegerOr(file, entries, kInkSet, 1);
  info.numberOfInks = IntegerOr(file, entries, kNumberOfInks, 4);
  info.sampleFormat = IntegerOr(file, entries, kSampleFormat, 1);
  if (const TTiffEntry* entry = FindEntry(entries, kDotRange)) info.dotRange = file.Integers(*entry, 8);
  if (const TTiffEntry* entry = FindEntry(entries, kYCbCrSubSampling)) {
    const std::vector<std::uint32_t> values = file.Integers(*entry, 2);
    if (values.size() == 2) info.subsampling = values;
  }
  if (const TTiffEntry* entry = FindEntry(entries, kYCbCrCoefficients)) info.luma = file.Rationals(*entry, 3);
  if (const TTiffEntry* entry = FindEntry(entries, kReferenceBlackWhite)) {
    info.referenceBlackWhite = file.Rationals(*entry, 6);
  }
  if (const TTiffEntry* entry = FindEntry(entries, kColorMap))
    info.colorMap = ColourMap(file, *entry, info.bits[0]);
  info.tiled = FindEntry(entries, kTileWidth) != nullptr || FindEntry(entries, kTileLength) != nullptr ||
               FindEntry(entries, kTileOffsets) != nullptr || FindEntry(entries, kTileByteCounts) != nullptr;
  info.tileWidth = IntegerOr(file, entries, kTileWidth, 0);
  info.tileLength = IntegerOr(file, entries, kTileLength, 0);
  return info;
}

std::int32_t ToInt32(std::uint32_t value) {
  return static_cast<std::int32_t>(std::min<std::uint32_t>(value, INT32_MAX));
}

void SetParams(TTiffFile& file, const std::vector<TTiffEntry>& entries, const TImageInfo& info,
               TIOParams& params) {
  switch (info.compression) {
    case kNone: params.TiffCompression = 0; break;
    case kCcittRle: params.TiffCompression = 1; break;
    case kCcittFax3: params.TiffCompression = (info.t4Options & 1) != 0 ? 3 : 2; break;
    case kCcittFax4: params.TiffCompression = 4; break;
    case kLzw: params.TiffCompression = 5; break;
    case kOldJpeg: params.TiffCompression = 6; break;
    case kJpeg: params.TiffCompression = 7; break;
    case kPackBits: params.TiffCompression = 8; break;
    // Deflate and the compressions this reader does not know have no code in the record. The
    // value of an earlier file must not stand for them; 0 is what the writer makes of them.
    default: params.TiffCompression = 0; break;
  }
  if (info.photometric <= kTiffYCbCr) {
    params.TiffPhotometric = static_cast<std::uint8_t>(info.photometric);
  } else if (info.photometric == kTiffCieLab) {
    params.TiffPhotometric = 7;
  } else {
    params.TiffPhotometric = kTiffRgb;  // the record's default, as for any interpretation it lacks
  }
  params.TiffPlanarConfig = ToInt32(info.planar);
  params.TiffDocumentName = TextOf(file, entries, kDocumentName);
  params.TiffImageDescription = TextOf(file, entries, kImageDescription);
  params.TiffPageName = TextOf(file, entries, kPageName);
  params.TiffPageNumber = 0;
  params.TiffPageCount = 0;
  if (const TTiffEntry* entry = FindEntry(entries, kPageNumber)) {
    const std::vector<std::uint32_t> page = file.Integers(*entry, 2);
    if (!page.empty()) params.TiffPageNumber = ToInt32(page[0]);
    if (page.size() > 1) params.TiffPageCount = ToInt32(page[1]);
  }
  params.BitsPerSample = ToInt32(info.bits[0]);
  params.SamplesPerPixel = ToInt32(info.samples);
  params.Width = ToInt32(info.width);
  params.Height = ToInt32(info.height);

  if (info.colorMap.empty()) {
    params.FreeColorMap();
  } else {
    params.SetColorMap(info.colorMap.size());
    std::copy(info.colorMap.begin(), info.colorMap.end(), params.ColorMap.begin());
  }

  // Resolutions are dots per ResolutionUnit and positions are lengths in it; 3 is the centimetre.
  // An inch is 2.54 cm: dots per centimetre times 2.54 are dots per inch, centimetres divided by
  // 2.54 are inches.
  const double unitsPerInch = IntegerOr(file, entries, kResolutionUnit, 2) == 3 ? 2.54 : 1.0;
  params.DpiX = RoundToInt(RationalOr(file, entries, kXResolution, 0) * unitsPerInch);
  params.DpiY = RoundToInt(RationalOr(file, entries, kYResolution, 0) * unitsPerInch);
  if (params.DpiX == 0) params.DpiX = DefaultResolution().dpiX;
  if (params.DpiY == 0) params.DpiY = DefaultResolution().dpiY;
  params.TiffXPos = RoundToInt(RationalOr(file, entries, kXPosition, 0) / unitsPerInch);
  params.TiffYPos = RoundToInt(RationalOr(file, entries, kYPosition, 0) / unitsPerInch);
}

// ------------------------------------------------------------------ placing rows

// Puts decoded rows into the bitmap by the Orientation entry: where the file's first row and first
// column are on the picture (1 top and left, 2 top and right, 3 bottom and right, 4 bottom and left;
// 5..8 the same four with rows and columns exchanged). Rows are given whole, or for tiles in the
// pieces that lie over each tile; row and column numbers are those of the file's picture.
class TRowPlacer {
 public:
  TRowPlacer(TBitmap& bitmap, std::uint32_t orientation, int width, int height, bool oneBit)
      : bitmap_(bitmap), width_(width), height_(height), oneBit_(oneBit) {
    orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
  }

  // Where the pixels of file row `row` from column `x` on can be written in place: rows that keep
  // their direction, and two-colour pixels only from a whole byte on. Null when they go through
  // Place. A two-colour piece written here clears the bits after its last pixel up to the byte's
  // end, which the piece to its right, placed later, sets again.
  std::uint8_t* Direct(int row, int x) {
    if ((orientation_ != 1 && orientation_ != 4) || (oneBit_ && x % 8 != 0)) return nullptr;
    std::uint8_t* line = bitmap_.ScanLine(orientation_ == 1 ? row : height_ - 1 - row);
    return line + (oneBit_ ? static_cast<std::size_t>(x) / 8 : 3 * static_cast<std::size_t>(x));
  }

  // Places `count` pixels of file row `row`, the first of them at column `x`.
  void Place(int row, int x, const std::uint8_t* pixels, int count) {
    const int w = width_;
    switch (orientation_) {
      case 1:
      case 4: {
        const int target = orientation_ == 1 ? row : height_ - 1 - row;
        if (!oneBit_) {
          std::memcpy(bitmap_.ScanLine(target) + 3 * static_cast<std::size_t>(x), pixels,
                      3 * static_cast<std::size_t>(count));
          return;
        }
        for (int i = 0; i < count; ++i) Put(x + i, target, pixels, i);
        return;
      }
      case 2:
      case 3: {
        const int target = orientation_ == 2 ? row : height_ - 1 - row;
        for (int i = 0; i < count; ++i) Put(w - 1 - (x + i), target, pixels, i);
        return;
      }
      default: {
        // The file's row runs down a column of the picture.
        const int column = orientation_ == 5 || orientation_ == 8 ? row : height_ - 1 - row;
        const bool upward = orientation_ == 7 || orientation_ == 8;
        for (int i = 0; i < count; ++i) Put(column, upward ? w - 1 - (x + i) : x + i, pixels, i);
        return;
      }
    }
  }

 private:
  void Put(int x, int y, const std::uint8_t* pixels, int from) {
    std::uint8_t* row = bitmap_.ScanLine(y);
    if (oneBit_) {
      const bool set = (pixels[from / 8] >> (7 - from % 8)) & 1;
      const auto mask = static_cast<std::uint8_t>(0x80 >> (x % 8));
      row[x / 8] = static_cast<std::uint8_t>(set ? row[x / 8] | mask : row[x / 8] & ~mask);
    } else {
      std::memcpy(row + 3 * static_cast<std::size_t>(x), pixels + 3 * static_cast<std::size_t>(from), 3);
    }
  }

  TBitmap& bitmap_;
  std::uint32_t orientation_ = 1;
  int width_;
  int height_;
  bool oneBit_;
};

// ------------------------------------------------------------------ strips and tiles

// Undoes horizontal differencing: each sample was stored as its difference from the same sample of
// the pixel to its left.
void UndoPredictor(std::uint8_t* row, std::size_t bytes, int bits, std::size_t stride, bool bigEndian) {
  if (bits == 8) {
    for (std::size_t i = stride; i < bytes; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - stride]);
    return;
  }
  const std::size_t count = bytes / 2;
  const auto get = [&](std::size_t i) {
    return bigEndian ? static_cast<unsigned>(row[2 * i] << 8 | row[2 * i + 1])
                     : static_cast<unsigned>(row[2 * i + 1] << 8 | row[2 * i]);
  };
  for (std::size_t i = stride; i < count; ++i) {
    const unsigned sum = (get(i) + get(i - stride)) & 0xFFFF;
    row[2 * i + (bigEndian ? 0 : 1)] = static_cast<std::uint8_t>(sum >> 8);
    row[2 * i + (bigEndian ? 1 : 0)] = static_cast<std::uint8_t>(sum);
  }
}

std::uint8_t ReversedBits(std::uint8_t value) {
  value = static_cast<std::uint8_t>((value & 0xF0) >> 4 | (value & 0x0F) << 4);
  value = static_cast<std::uint8_t>((value & 0xCC) >> 2 | (value & 0x33) << 2);
  return static_cast<std::uint8_t>((value & 0xAA) >> 1 | (value & 0x55) << 1);
}

// Where each strip or tile lies and how long it is.
struct TChunkTable {
  std::vector<std::uint32_t> offsets;
  std::vector<std::uint32_t> counts;
  std::vector<std::uint32_t> sortedOffsets;
};

// How the picture is cut up. Strips are chunks as wide as the picture, one below the other; tiles
// are a grid of chunks whose last column and last row may hang over the right and bottom edges
// (that part is coded but not shown). With separate planes every plane has its own chunks, all of
// the first plane's first.
struct TChunkGrid {
  bool tiled = false;
  std::int64_t width = 0;   // pixels across one chunk
  std::int64_t length = 0;  // rows of one chunk
  std::int64_t across = 1;
  std::int64_t down = 0;
  int planes = 1;
  std::int64_t PerPlane() const { return across * down; }
};

// The most bytes `bytes` of compressed data can decode to; rowBytes is the size of a row.
std::uint64_t MostOutput(std::uint32_t compression, std::uint64_t bytes, std::uint64_t rowBytes) {
  switch (compression) {
    case kPackBits: return bytes * 64;  // a two-byte run gives at most 128 bytes
    case kLzw: {
      // Each code takes at least 9 bits and gives at most one byte more than the code before it,
      // up to the longest string of the table.
      const std::uint64_t codes = bytes * 8 / 9;
      return codes * std::min<std::uint64_t>(codes + 1, 4096);
    }
    case kAdobeDeflate:
    case kOldDeflate:
      // The longest match, 258 bytes, takes at least two bits; a block needs a few bytes more.
      return bytes * 1032 + 1032;
    case kCcittRle:
    case kCcittFax3:
    case kCcittFax4: return bytes * 8 * rowBytes;  // every coded row takes at least one bit
    case kJpeg: return bytes * 8 * 64 * 3;         // every 8 x 8 block takes at least one bit
    default: return bytes;
  }
}

// Gives the rows of one plane of one strip or tile, one at a time.
class TChunkRows {
 public:
  struct TSetup {
    std::uint32_t compression = kNone;
    std::size_t rowBytes = 0;
    // Differencing to undo here; when the conversion undoes it, rows come as decoded.
    bool predictor = false;
    int bits = 8;
    std::size_t predictorStride = 1;
    bool bigEndian = false;
    bool reverseBits = false;
    TFaxOptions fax;
    int width = 0;  // pixels across the chunk
    TTiffLzwDecompress lzw = nullptr;
  };

  explicit TChunkRows(const TSetup& setup) : setup_(setup) { row_.resize(setup.rowBytes); }
  ~TChunkRows() { Close(); }
  TChunkRows(const TChunkRows&) = delete;
  TChunkRows& operator=(const TChunkRows&) = delete;

  // Reads the chunk at `offset` (at most `bytes` of it, as far as the file goes) of which `rows`
  // rows are wanted.
  void Open(TTiffFile& file, std::int64_t offset, std::int64_t bytes, std::int64_t rows) {
    Close();
    next_ = 0;
    const std::size_t rowBytes = setup_.rowBytes;
    // Raw rows below the picture (of a tile hanging over its bottom edge) are not read.
    const std::int64_t wanted =
        setup_.compression == kNone
            ? std::min<std::int64_t>(bytes, rows * static_cast<std::int64_t>(rowBytes))
            : bytes;
    file.ReadAvailableAt(offset, wanted, raw_);
    cut_ = static_cast<std::int64_t>(raw_.size()) < wanted;
    if (setup_.reverseBits) {
      for (std::uint8_t& byte : raw_) byte = ReversedBits(byte);
    }
    switch (setup_.compression) {
      case kPackBits: {
        // Runs cross row ends in some files, so the chunk is decoded whole. A two-byte run gives at
        // most 128 bytes: the data cannot justify more output than 64 times its size.
        const std::uint64_t limit = std::min<std::uint64_t>(static_cast<std::uint64_t>(rows) * rowBytes,
                                                            std::uint64_t{raw_.size()} * 64);
        decoded_.resize(static_cast<std::size_t>(limit / rowBytes * rowBytes));
        std::size_t produced = 0;
        PackBitsDecode(raw_.data(), raw_.size(), decoded_.data(), decoded_.size(), produced);
        available_ = produced / rowBytes;
        break;
      }
      case kCcittRle:
      case kCcittFax3:
      case kCcittFax4: {
        // Every coded row takes at least one bit.
        const std::int64_t limit = std::min<std::int64_t>(rows, static_cast<std::int64_t>(raw_.size()) * 8);
        decoded_.assign(static_cast<std::size_t>(limit) * rowBytes, 0);
        available_ = static_cast<std::size_t>(
            std::max(0, FaxDecodeStrip(raw_.data(), raw_.size(), setup_.fax, setup_.width,
                                       static_cast<std::int32_t>(limit), decoded_.data())));
        break;
      }
      case kLzw:
        // A decoder that makes rows of zeros once its data has run out is not asked for rows the
        // data cannot hold.
        available_ = static_cast<std::size_t>(std::min<std::uint64_t>(
            static_cast<std::uint64_t>(rows), MostOutput(kLzw, raw_.size(), rowBytes) / rowBytes));
        break;
      case kAdobeDeflate:
      case kOldDeflate:
        // Inflated a row at a time: the chunk's rows never sit in memory all at once.
        inflater_ = z_stream{};
        inflater_.next_in = raw_.data();
        inflater_.avail_in = static_cast<uInt>(raw_.size());
        inflating_ = inflateInit(&inflater_) == Z_OK;
        available_ = inflating_ ? static_cast<std::size_t>(rows) : 0;
        break;
      default: available_ = raw_.size() / rowBytes; break;
    }
  }

  // The next row, or null when the chunk has no more (broken or short data).
  const std::uint8_t* Next() {
    if (next_ >= available_) return nullptr;
    const std::size_t rowBytes = setup_.rowBytes;
    const std::uint8_t* row = nullptr;
    switch (setup_.compression) {
      case kLzw: {
        const std::uint8_t* decoded =
            setup_.lzw(raw_.data(), raw_.size(), static_cast<std::int32_t>(rowBytes), lzw_);
        // The decoder finishes only inside a row its codes ran out in (or whose end code came
        // early), which it fills up with zeros as it does the rows after: those are not data.
        if (decoded == nullptr || (lzw_ != nullptr && lzw_->finished)) {
          available_ = 0;
          return nullptr;
        }
        // The decoder's buffer holds the row until its next call for this chunk.
        row = decoded;
        if (setup_.predictor) {
          std::memcpy(row_.data(), decoded, rowBytes);
          UndoPredictor(row_.data(), rowBytes, setup_.bits, setup_.predictorStride, setup_.bigEndian);
          row = row_.data();
        }
        break;
      }
      case kAdobeDeflate:
      case kOldDeflate: {
        inflater_.next_out = row_.data();
        inflater_.avail_out = static_cast<uInt>(rowBytes);
        // Z_OK means progress was made; anything else is the stream's end, broken data, or data
        // that ran out.
        while (inflater_.avail_out > 0 && inflate(&inflater_, Z_NO_FLUSH) == Z_OK) {
        }
        if (inflater_.avail_out > 0) {
          available_ = 0;
          return nullptr;
        }
        if (setup_.predictor) {
          UndoPredictor(row_.data(), rowBytes, setup_.bits, setup_.predictorStride, setup_.bigEndian);
        }
        row = row_.data();
        break;
      }
      case kNone: row = raw_.data() + next_ * rowBytes; break;
      default: row = decoded_.data() + next_ * rowBytes; break;
    }
    ++next_;
    return row;
  }

  // True when the file ended before the chunk's bytes did.
  bool Cut() const { return cut_; }

  // Ends the chunk; the LZW decoder is told so that it frees its state.
  void Close() {
    if (lzw_ != nullptr) setup_.lzw(nullptr, 0, 0, lzw_);
    lzw_ = nullptr;
    if (inflating_) inflateEnd(&inflater_);
    inflating_ = false;
  }

 private:
  TSetup setup_;
  std::vector<std::uint8_t> raw_;
  std::vector<std::uint8_t> decoded_;
  std::vector<std::uint8_t> row_;
  std::size_t available_ = 0;
  std::size_t next_ = 0;
  bool cut_ = false;
  TTiffLzwDecoder* lzw_ = nullptr;
  z_stream inflater_{};
  bool inflating_ = false;
};

// The bytes of chunk `index`: its byte count, or when that is missing, up to the next chunk in
// the file (or the end), or for raw data the size of its rows.
std::int64_t ChunkBytes(const TTiffFile& file, const TChunkTable& table, std::size_t index,
                        std::uint32_t compression, std::int64_t rawBytes) {
  if (index < table.counts.size()) return table.counts[index];
  if (compression == kNone) return rawBytes;
  const std::uint32_t offset = table.offsets[index];
  const auto next = std::upper_bound(table.sortedOffsets.begin(), table.sortedOffsets.end(), offset);
  return next != table.sortedOffsets.end() ? std::int64_t{*next} - offset : file.Available(offset);
}

// How decoding ended, and how far it came: whole rows of the file's picture from the top, and
// strips or tiles (positions in the grid, whatever the planes).
struct TDecodeOutcome {
  enum TEnd { kComplete, kStopped, kRefused, kDataEnds, kDataBad };
  TEnd end = kComplete;
  std::int64_t rows = 0;
  std::int64_t chunks = 0;
};

// What the decoding loops share.
struct TDecodeJob {
  TTiffFile& file;
  const TImageInfo& info;
  TBitmap& bitmap;
  const TProgressContext& progress;
  // The conversion of a chunk's rows, and of the rows of the last column of tiles where only
  // their left part lies on the picture.
  TSampleConverter converter;
  TSampleConverter edgeConverter;
  TChunkTable chunks;
  TChunkGrid grid;
  int width = 0;
  int height = 0;
};

void Report(const TDecodeJob& job, std::int64_t rowsDone) {
  if (job.progress.HasHandler()) job.progress.Report(static_cast<int>(rowsDone * 100 / job.height));
}

// Decodes strips or tiles of uncompressed, PackBits, LZW, Deflate or fax data.
TDecodeOutcome DecodeChunks(TDecodeJob& job, TChunkRows::TSetup setup, TRowPlacer& placer) {
  TSampleConverter& converter = job.converter;
  const bool convertDifferences = setup.predictor && converter.ConvertsDifferences();
  if (convertDifferences) setup.predictor = false;
  const TChunkGrid& grid = job.grid;
  const int perRow = converter.PixelRowsPerRow();
  std::vector<std::unique_ptr<TChunkRows>> sources;
  for (int p = 0; p < grid.planes; ++p) sources.push_back(std::make_unique<TChunkRows>(setup));
  // Pixel rows that cannot go straight into the bitmap are converted here first.
  const auto chunkWidth = static_cast<std::size_t>(grid.width);
  const std::size_t pixelRowBytes = converter.OneBitOutput() ? (chunkWidth + 7) / 8 : 3 * chunkWidth;
  std::vector<std::uint8_t> work(pixelRowBytes * static_cast<std::size_t>(perRow));
  std::vector<const std::uint8_t*> rowOfPlane(static_cast<std::size_t>(grid.planes));
  std::vector<std::uint8_t*> out(static_cast<std::size_t>(perRow));
  const auto rowBytes = static_cast<std::int64_t>(converter.RowBytes());

  TDecodeOutcome outcome;
  for (std::int64_t band = 0; band < grid.down; ++band) {
    const std::int64_t top = band * grid.length;
    const std::int64_t pixelRows = std::min<std::int64_t>(grid.length, job.height - top);
    const std::int64_t fileRows = (pixelRows + perRow - 1) / perRow;
    for (std::int64_t column = 0; column < grid.across; ++column) {
      const std::int64_t left = column * grid.width;
      const int visible = static_cast<int>(std::min<std::int64_t>(grid.width, job.width - left));
      TSampleConverter& convert = visible == grid.width ? converter : job.edgeConverter;
      const bool lastColumn = column + 1 == grid.across;
      for (int p = 0; p < grid.planes; ++p) {
        const auto index = static_cast<std::size_t>(p * grid.PerPlane() + band * grid.across + column);
        if (index >= job.chunks.offsets.size()) {
          outcome.end = TDecodeOutcome::kDataEnds;
          return outcome;
        }
        sources[static_cast<std::size_t>(p)]->Open(
            job.file, job.chunks.offsets[index],
            ChunkBytes(job.file, job.chunks, index, job.info.compression, fileRows * rowBytes), fileRows);
      }
      auto row = static_cast<int>(top);
      for (std::int64_t fileRow = 0; fileRow < fileRows; ++fileRow) {
        for (int p = 0; p < grid.planes; ++p) {
          TChunkRows& source = *sources[static_cast<std::size_t>(p)];
          rowOfPlane[static_cast<std::size_t>(p)] = source.Next();
          if (rowOfPlane[static_cast<std::size_t>(p)] == nullptr) {
            outcome.end = source.Cut() ? TDecodeOutcome::kDataEnds : TDecodeOutcome::kDataBad;
            return outcome;
          }
        }
        // The last data row of a chunk may cover fewer pixel rows than a unit has.
        const int rows = static_cast<int>(std::min<std::int64_t>(perRow, pixelRows - fileRow * perRow));
        std::uint8_t* direct = perRow == 1 ? placer.Direct(row, static_cast<int>(left)) : nullptr;
        for (int i = 0; i < rows; ++i)
          out[static_cast<std::size_t>(i)] = work.data() + pixelRowBytes * static_cast<std::size_t>(i);
        if (direct != nullptr) out[0] = direct;
        if (convertDifferences) {
          convert.ConvertDifferences(rowOfPlane[0], out[0]);
        } else {
          convert.Convert(rowOfPlane.data(), out.data(), rows);
        }
        for (int i = 0; i < rows; ++i) {
          if (direct == nullptr)
            placer.Place(row, static_cast<int>(left), out[static_cast<std::size_t>(i)], visible);
          ++row;
          // A row is whole once the last column has placed its part.
          if (lastColumn) {
            outcome.rows = row;
            Report(job, row);
          }
        }
        if (job.progress.Aborted()) {
          outcome.end = TDecodeOutcome::kStopped;
          return outcome;
        }
      }
      for (auto& source : sources) source->Close();
      ++outcome.chunks;
    }
  }
  if (outcome.rows < job.height) outcome.end = TDecodeOutcome::kDataEnds;
  return outcome;
}

// The state a JPEG chunk's rows are handed over with.
struct TJpegSink {
  TSampleConverter* converter;
  TRowPlacer* placer;
  const TDecodeJob* job;
  std::vector<std::uint8_t>* work;
  TDecodeOutcome* outcome;
  int top;
  int left;
  int visible;
  bool lastColumn;
  bool stopped;
};

bool TakeJpegRow(void* context, int row, const std::uint8_t* pixels) {
  auto& sink = *static_cast<TJpegSink*>(context);
  const int target = sink.top + row;
  std::uint8_t* out = sink.placer->Direct(target, sink.left);
  std::uint8_t* destination = out != nullptr ? out : sink.work->data();
  sink.converter->Convert(&pixels, &destination, 1);
  if (out == nullptr) sink.placer->Place(target, sink.left, destination, sink.visible);
  if (sink.lastColumn) {
    sink.outcome->rows = target + 1;
    Report(*sink.job, target + 1);
  }
  sink.stopped = sink.job->progress.Aborted();
  return !sink.stopped;
}

TDecodeOutcome DecodeJpegChunks(TDecodeJob& job, const std::vector<std::uint8_t>& tables,
                                TRowPlacer& placer) {
  const TChunkGrid& grid = job.grid;
  TDecodeOutcome outcome;
  TTiffJpegDecoder decoder;
  if (!decoder.Begin(tables.data(), tables.size(), static_cast<std::uint16_t>(job.info.photometric),
                     static_cast<int>(grid.width), static_cast<int>(grid.length))) {
    outcome.end = TDecodeOutcome::kRefused;
    return outcome;
  }
  // The library delivers grey, RGB (YCbCr data converted) or CMYK samples; the photometric
  // conversion takes them from there.
  TSampleLayout layout;
  layout.width = static_cast<int>(grid.width);
  layout.bitsPerSample = 8;
  layout.samplesPerPixel = decoder.PixelBytes();
  layout.photometric = job.info.photometric == kTiffYCbCr ? static_cast<std::uint16_t>(kTiffRgb)
                                                          : static_cast<std::uint16_t>(job.info.photometric);
  TSampleConverter converter;
  TSampleConverter edgeConverter;
  if (!converter.Setup(layout)) {
    outcome.end = TDecodeOutcome::kRefused;
    return outcome;
  }
  layout.width = static_cast<int>(job.width - (grid.across - 1) * grid.width);
  if (!edgeConverter.Setup(layout)) {
    outcome.end = TDecodeOutcome::kRefused;
    return outcome;
  }
  std::vector<std::uint8_t> work(3 * static_cast<std::size_t>(grid.width));
  std::vector<std::uint8_t> data;
  for (std::int64_t band = 0; band < grid.down; ++band) {
    const std::int64_t top = band * grid.length;
    const int rows = static_cast<int>(std::min<std::int64_t>(grid.length, job.height - top));
    for (std::int64_t column = 0; column < grid.across; ++column) {
      const auto index = static_cast<std::size_t>(band * grid.across + column);
      if (index >= job.chunks.offsets.size()) {
        outcome.end = TDecodeOutcome::kDataEnds;
        return outcome;
      }
      const std::int64_t left = column * grid.width;
      const int visible = static_cast<int>(std::min<std::int64_t>(grid.width, job.width - left));
      const std::int64_t bytes = ChunkBytes(job.file, job.chunks, index, kJpeg, 0);
      job.file.ReadAvailableAt(job.chunks.offsets[index], bytes, data);
      TJpegSink sink{visible == grid.width ? &converter : &edgeConverter,
                     &placer,
                     &job,
                     &work,
                     &outcome,
                     static_cast<int>(top),
                     static_cast<int>(left),
                     visible,
                     column + 1 == grid.across,
                     false};
      const int got = decoder.DecodeStrip(data.data(), data.size(), rows, TakeJpegRow, &sink);
      if (sink.stopped) {
        outcome.end = TDecodeOutcome::kStopped;
        return outcome;
      }
      if (got < rows) {
        outcome.end = static_cast<std::int64_t>(data.size()) < bytes ? TDecodeOutcome::kDataEnds
                                                                     : TDecodeOutcome::kDataBad;
        return outcome;
      }
      ++outcome.chunks;
    }
  }
  return outcome;
}

// Checks what the image needs before anything is allocated for it; gives the layout of a chunk's
// samples (not used for JPEG, whose decoder says what it delivers).
bool CanDecode(const TImageInfo& info, bool bigEndian, TSampleLayout& layout) {
  if (info.width == 0 || info.height == 0) return false;
  if (info.tiled && (info.tileWidth == 0 || info.tileLength == 0 || info.tileWidth > kMaxTileSide ||
                     info.tileLength > kMaxTileSide)) {
    return false;
  }
  if (info.samples == 0 || info.samples > kMaxSamples) return false;
  if (info.sampleFormat != 1) return false;
  for (const std::uint32_t bits : info.bits) {
    if (bits != info.bits[0]) return false;
  }
  if (info.planar != 1 && info.planar != 2) return false;
  switch (info.compression) {
    case kNone:
    case kPackBits:
    case kJpeg: break;
    case kLzw:
    case kAdobeDeflate:
    case kOldDeflate:
      // Differencing of integer samples is undone for 8 and 16 bits; the floating-point
      // predictor (3) belongs to sample formats this reader does not show.
      if (info.predictor != 1 &&
          (info.predictor != kHorizontalDifferencing || (info.bits[0] != 8 && info.bits[0] != 16))) {
        return false;
      }
      break;
    case kCcittRle:
    case kCcittFax3:
    case kCcittFax4:
      if (info.bits[0] != 1 || info.samples != 1) return false;
      break;
    default: return false;  // old-style JPEG and compressions this reader does not have
  }
  if (info.photometric == kTiffSeparated && (info.inkSet != 1 || info.numberOfInks < 4)) return false;
  if (info.compression == kJpeg) {
    // The photometric check happens when the JPEG decoder starts.
    return info.bits[0] == 8 && info.planar == 1;
  }

  layout.photometric = static_cast<std::uint16_t>(std::min<std::uint32_t>(info.photometric, 0xFFFF));
  layout.bitsPerSample = static_cast<int>(std::min<std::uint32_t>(info.bits[0], 64));
  layout.samplesPerPixel = static_cast<int>(info.samples);
  layout.separatePlanes = info.planar == 2;
  layout.bigEndian = bigEndian;
  layout.width = static_cast<int>(info.tiled ? info.tileWidth : info.width);
  layout.subsampleH = static_cast<int>(std::min<std::uint32_t>(info.subsampling[0], 8));
  layout.subsampleV = static_cast<int>(std::min<std::uint32_t>(info.subsampling[1], 8));
  layout.colorMap = info.colorMap;
  if (info.luma.size() == 3) std::copy(info.luma.begin(), info.luma.end(), layout.luma.begin());
  if (info.referenceBlackWhite.size() == 6) {
    std::copy(info.referenceBlackWhite.begin(), info.referenceBlackWhite.end(),
              layout.referenceBlackWhite.begin());
  }
  if (info.dotRange.size() >= 2 && info.dotRange[1] > info.dotRange[0]) {
    const int shift = info.bits[0] == 16 ? 8 : 0;
    layout.dotLow = static_cast<int>(std::min<std::uint32_t>(info.dotRange[0] >> shift, 255));
    layout.dotHigh = static_cast<int>(std::min<std::uint32_t>(info.dotRange[1] >> shift, 255));
  }
  return true;
}

// The bytes of decoded data the chunks' data could give, counting every byte of the file once
// (chunks may share their data in a hostile file) and no chunk for more than it holds.
std::uint64_t JustifiedBytes(const TDecodeJob& job, std::uint64_t rowBytes, std::uint64_t chunkMost) {
  const TChunkTable& table = job.chunks;
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges;  // offset, bytes the file holds
  ranges.reserve(table.offsets.size());
  for (std::size_t i = 0; i < table.offsets.size(); ++i) {
    const std::int64_t offset = table.offsets[i];
    const std::int64_t bytes = std::clamp<std::int64_t>(
        ChunkBytes(job.file, table, i, job.info.compression, static_cast<std::int64_t>(chunkMost)), 0,
        job.file.Available(offset));
    ranges.emplace_back(offset, bytes);
  }
  std::sort(ranges.begin(), ranges.end());
  std::uint64_t justified = 0;
  std::int64_t counted = 0;  // the file's bytes before this are counted
  for (const auto& [offset, bytes] : ranges) {
    const std::int64_t from = std::max(offset, counted);
    const std::int64_t to = offset + bytes;
    if (to <= from) continue;
    counted = to;
    justified += std::min(MostOutput(job.info.compression, static_cast<std::uint64_t>(to - from), rowBytes),
                          chunkMost);
  }
  return justified;
}

// Decodes the image into the bitmap.
TDecodeOutcome DecodeImage(TTiffFile& file, const std::vector<TTiffEntry>& entries, const TImageInfo& info,
                           TTiffLzwDecompress lzw, TBitmap& bitmap, const TProgressContext& progress) {
  TDecodeJob job{file, info, bitmap, progress, {}, {}, {}, {}, 0, 0};
  TDecodeOutcome refused;
  refused.end = TDecodeOutcome::kRefused;
  TSampleLayout layout;
  const bool jpeg = info.compression == kJpeg;
  const bool canDecode = CanDecode(info, file.BigEndian(), layout) && (jpeg || job.converter.Setup(layout));
  const bool oneBit = !jpeg && canDecode && job.converter.OneBitOutput();
  const TPixelFormat format = oneBit ? pf1bit : pf24bit;
  bitmap.Allocate(1, 1, format);
  if (!canDecode) return refused;
  const bool transposed = info.orientation >= 5 && info.orientation <= 8;
  const std::int64_t pictureWidth = transposed ? info.height : info.width;
  const std::int64_t pictureHeight = transposed ? info.width : info.height;
  if (!ImageSizeAllowed(pictureWidth, pictureHeight, format)) return refused;

  job.width = static_cast<int>(info.width);
  job.height = static_cast<int>(info.height);
  TChunkGrid& grid = job.grid;
  grid.tiled = info.tiled;
  grid.planes = jpeg ? 1 : job.converter.Planes();
  if (info.tiled) {
    grid.width = info.tileWidth;
    grid.length = info.tileLength;
    grid.across = (job.width + grid.width - 1) / grid.width;
  } else {
    // A RowsPerStrip of 0 or beyond the height means one strip for the whole image.
    grid.width = job.width;
    grid.length = info.rowsPerStrip == 0 || info.rowsPerStrip > info.height ? info.height : info.rowsPerStrip;
  }
  grid.down = (job.height + grid.length - 1) / grid.length;
  if (!jpeg && info.tiled && job.width % grid.width != 0) {
    layout.width = static_cast<int>(job.width % grid.width);
    if (!job.edgeConverter.Setup(layout)) return refused;
  }

  const std::int64_t chunksNeeded = grid.PerPlane() * grid.planes;
  const auto wanted = static_cast<std::uint32_t>(std::min<std::int64_t>(chunksNeeded, UINT32_MAX));
  const TTiffEntry* offsets = FindEntry(entries, info.tiled ? kTileOffsets : kStripOffsets);
  if (offsets == nullptr) return refused;
  job.chunks.offsets = file.Integers(*offsets, wanted);
  if (const TTiffEntry* counts = FindEntry(entries, info.tiled ? kTileByteCounts : kStripByteCounts)) {
    job.chunks.counts = file.Integers(*counts, wanted);
  }
  job.chunks.sortedOffsets = job.chunks.offsets;
  std::sort(job.chunks.sortedOffsets.begin(), job.chunks.sortedOffsets.end());

  // The pixel memory must be justified by the data: chunks that could not code even a small part
  // of the picture do not make a large bitmap. A file cut off later still shows what it holds.
  const int perRow = jpeg ? 1 : job.converter.PixelRowsPerRow();
  const std::uint64_t rowBytes = jpeg ? 3 * static_cast<std::uint64_t>(grid.width) : job.converter.RowBytes();
  const std::uint64_t dataRows = static_cast<std::uint64_t>((job.height + perRow - 1) / perRow);
  const std::uint64_t needed =
      rowBytes * static_cast<std::uint64_t>(grid.across) * dataRows * static_cast<std::uint64_t>(grid.planes);
  const std::uint64_t chunkMost =
      rowBytes *
      static_cast<std::uint64_t>((std::min<std::int64_t>(grid.length, job.height) + perRow - 1) / perRow);
  if (needed > kSmallImageBytes && JustifiedBytes(job, rowBytes, chunkMost) < needed / kLeastPartShown) {
    return refused;
  }

  PrepareBitmap(bitmap, static_cast<int>(pictureWidth), static_cast<int>(pictureHeight), format);
  TRowPlacer placer(bitmap, info.orientation, job.width, job.height, oneBit);

  if (jpeg) {
    std::vector<std::uint8_t> tables;
    if (const TTiffEntry* entry = FindEntry(entries, kJpegTables)) tables = file.Bytes(*entry);
    return DecodeJpegChunks(job, tables, placer);
  }

  TChunkRows::TSetup setup;
  setup.compression = info.compression;
  setup.rowBytes = job.converter.RowBytes();
  setup.predictor =
      (info.compression == kLzw || IsDeflate(info.compression)) && info.predictor == kHorizontalDifferencing;
  setup.bits = static_cast<int>(info.bits[0]);
  setup.predictorStride = static_cast<std::size_t>(job.converter.PredictorStride());
  setup.bigEndian = file.BigEndian();
  setup.width = static_cast<int>(grid.width);
  setup.lzw = lzw;
  const bool fax = info.compression >= kCcittRle && info.compression <= kCcittFax4;
  // Bit order: the fax decoder reads reversed bytes itself; other data is turned round first.
  setup.reverseBits = info.fillOrder == 2 && !fax;
  setup.fax.lsbFirst = info.fillOrder == 2;
  setup.fax.scheme = info.compression == kCcittRle    ? TFaxScheme::ModifiedHuffman
                     : info.compression == kCcittFax3 ? TFaxScheme::Group3
                                                      : TFaxScheme::Group4;
  setup.fax.twoDimensional = (info.t4Options & 1) != 0;
  setup.fax.alignedEol = (info.t4Options & 4) != 0;
  return DecodeChunks(job, setup, placer);
}

// Ends a decoding that failed: a picture of which some rows (or tiles) came out is kept and the
// damage named; one of which nothing came out is only a failure.
void ReportFailure(const TDecodeOutcome& outcome, const TImageInfo& info, const TProgressContext& progress) {
  const bool tiled = info.tiled;
  const std::int64_t done = tiled ? outcome.chunks : outcome.rows;
  if (outcome.end == TDecodeOutcome::kRefused || done == 0) {
    progress.Abort();
    return;
  }
  std::int64_t total = info.height;
  if (tiled) {
    total = (std::int64_t{info.width} + info.tileWidth - 1) / info.tileWidth *
            ((std::int64_t{info.height} + info.tileLength - 1) / info.tileLength);
  }
  const char* what =
      outcome.end == TDecodeOutcome::kDataEnds ? "the data ends after " : "the data is damaged after ";
  progress.AbortWithPartialImage(what + std::string(tiled ? "tile " : "row ") + std::to_string(done) +
                                 " of " + std::to_string(total));
}

}  // namespace

void TiffReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                    const TProgressContext& progress, std::int32_t* imageCount) {
  if (imageCount != nullptr) *imageCount = 0;
  TTiffFile file(stream);
  if (!file.ReadHeader()) {
    progress.Abort();
    return;
  }
  std::vector<TTiffEntry> entries;
  bool found = false;
  const std::int32_t count = file.WalkDirectories(params.TiffImageIndex, &entries, &found);
  if (imageCount != nullptr) *imageCount = count;
  if (count == 0) {
    // Not one directory: there is no image in the file at all.
    progress.Abort();
    return;
  }
  // A directory past the last one leaves everything as it was; the count tells the caller.
  if (!found) return;

  const TImageInfo info = ReadInfo(file, entries);
  SetParams(file, entries, info, params);

  TTiffLzwDecompress lzw =
      params.TiffLzwDecompress != nullptr ? params.TiffLzwDecompress : GlobalLzwHooks().tiffDecompress;
  if (info.compression == kLzw && lzw == nullptr) {
    progress.Abort();
    return;
  }
  if (paramsOnly) return;
  const TDecodeOutcome outcome = DecodeImage(file, entries, info, lzw, bitmap, progress);
  if (outcome.end != TDecodeOutcome::kComplete && outcome.end != TDecodeOutcome::kStopped) {
    ReportFailure(outcome, info, progress);
  }
}

std::int32_t TiffImageCount(const std::string& fileName) {
  try {
    TFileStream stream(fileName, TFileStream::Mode::Read);
    TTiffFile file(stream);
    if (!file.ReadHeader()) return 0;
    return file.WalkDirectories(-1, nullptr, nullptr);
  } catch (const EStreamError&) {
    return 0;
  }
}

}  // namespace veilora
