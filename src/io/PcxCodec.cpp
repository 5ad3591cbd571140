#include "io/PcxCodec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "io/ColorQuantizer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// Bits 0..15 say which of 16 bytes equal the byte after them.
inline unsigned EqualToNext16(const std::uint8_t* p) {
  const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
}

// Bits 0..15 say which of 16 bytes have both top bits set.
inline unsigned CountBytes16(const std::uint8_t* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i flag = _mm_set1_epi8(static_cast<char>(kRunFlag));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, flag), v)));
}
#endif

// True-colour rows hold blue, green, red for each pixel; the file holds a line of each channel.
// With SSE2, 16 pixels at a time: four pixels of 3 bytes are spread to 32-bit lanes (or gathered
// from them) by 64-bit shifts, and the channels are taken out (or put in) with packs and unpacks.

#if defined(__SSE2__)
constexpr std::int64_t kFirstPixelOfTwo = 0xFFFFFF;
constexpr std::int64_t kSecondPixelOfTwo = 0xFFFFFF00000000;
#endif

// Splits `count` pixels into the three channel lines.
void SplitChannels(const std::uint8_t* pixels, std::size_t count, std::uint8_t* blue, std::uint8_t* green,
                   std::uint8_t* red) {
  std::size_t x = 0;
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi64x(kFirstPixelOfTwo);
  const __m128i second = _mm_set1_epi64x(kSecondPixelOfTwo);
  const __m128i lowByte = _mm_set1_epi32(0xFF);
  // The last load reads 4 bytes past the 16 pixels: stay 2 pixels inside the row.
  for (; x + 18 <= count; x += 16) {
    __m128i lanes[4];
    for (std::size_t q = 0; q < 4; ++q) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 3 * x + 12 * q));
      // Bytes 0..7 and 6..13: pixels 0, 1 and 2, 3, each pair in a 64-bit half.
      const __m128i pairs = _mm_unpacklo_epi64(v, _mm_srli_si128(v, 6));
      lanes[q] = _mm_or_si128(_mm_and_si128(pairs, first), _mm_and_si128(_mm_slli_epi64(pairs, 8), second));
    }
    const auto channel = [&](int shift) {
      __m128i c[4];
      for (std::size_t q = 0; q < 4; ++q) c[q] = _mm_and_si128(_mm_srli_epi32(lanes[q], shift), lowByte);
      return _mm_packus_epi16(_mm_packs_epi32(c[0], c[1]), _mm_packs_epi32(c[2], c[3]));
    };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(blue + x), channel(0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(green + x), channel(8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(red + x), channel(16));
  }
#endif
  for (; x < count; ++x) {
    blue[x] = pixels[3 * x];
    green[x] = pixels[3 * x + 1];
    red[x] = pixels[3 * x + 2];
  }
}

// Joins three channel lines into `count` pixels.
void MergeChannels(const std::uint8_t* blue, const std::uint8_t* green, const std::uint8_t* red,
                   std::size_t count, std::uint8_t* pixels) {
  std::size_t x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i first = _mm_set1_epi64x(kFirstPixelOfTwo);
  const __m128i second = _mm_set1_epi64x(kSecondPixelOfTwo >> 8);
  // Each store of 12 pixel bytes writes 4 more, which the next store or pixel overwrites: stay 2
  // pixels inside the row.
  for (; x + 18 <= count; x += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + x));
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + x));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(red + x));
    const __m128i bgLow = _mm_unpacklo_epi8(b, g);
    const __m128i bgHigh = _mm_unpackhi_epi8(b, g);
    const __m128i rLow = _mm_unpacklo_epi8(r, zero);
    const __m128i rHigh = _mm_unpackhi_epi8(r, zero);
    const __m128i lanes[4] = {_mm_unpacklo_epi16(bgLow, rLow), _mm_unpackhi_epi16(bgLow, rLow),
                              _mm_unpacklo_epi16(bgHigh, rHigh), _mm_unpackhi_epi16(bgHigh, rHigh)};
    for (std::size_t q = 0; q < 4; ++q) {
      // Each 64-bit half packs its two pixels into 6 bytes; the upper half's then follow the lower.
      const __m128i pairs =
          _mm_or_si128(_mm_and_si128(lanes[q], first), _mm_and_si128(_mm_srli_epi64(lanes[q], 8), second));
      const __m128i packed = _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + 3 * x + 12 * q), packed);
    }
  }
#endif
  for (; x < count; ++x) {
    pixels[3 * x] = blue[x];
    pixels[3 * x + 1] = green[x];
    pixels[3 * x + 2] = red[x];
  }
}

// Where the runs of a line start and which runs need a count byte, one bit a byte, so that the
// encoder takes whole stretches of bytes that stand for themselves at once instead of deciding
// byte by byte.
class TLineBits {
 public:
  // Bit j of starts: byte j starts a run of equal bytes (it is the first, or the byte before
  // differs). Bit j of counted: byte j ends a run that takes a count byte; a run of one byte below
  // 0xC0 stands for itself and takes none.
  void Build(const std::uint8_t* line, std::size_t count) {
    const std::size_t words = (count + 63) / 64;
    starts_.assign(words, 0);
    counted_.assign(words, 0);
    std::uint64_t previousEnds = std::uint64_t{1} << 63;  // the first byte starts a run
    for (std::size_t k = 0; 64 * k < count; ++k) {
      const std::size_t first = 64 * k;
      std::uint64_t ends = 0;
      std::uint64_t high = 0;
#if defined(__SSE2__)
      if (first + 65 <= count) {
        const std::uint8_t* p = line + first;
        ends = ~(std::uint64_t{EqualToNext16(p)} | std::uint64_t{EqualToNext16(p + 16)} << 16 |
                 std::uint64_t{EqualToNext16(p + 32)} << 32 | std::uint64_t{EqualToNext16(p + 48)} << 48);
        high = std::uint64_t{CountBytes16(p)} | std::uint64_t{CountBytes16(p + 16)} << 16 |
               std::uint64_t{CountBytes16(p + 32)} << 32 | std::uint64_t{CountBytes16(p + 48)} << 48;
      } else
#endif
      {
        for (std::size_t j = 0; j < 64 && first + j < count; ++j) {
          const std::size_t at = first + j;
          if (at + 1 == count || line[at] != line[at + 1]) ends |= std::uint64_t{1} << j;
          if (line[at] >= kRunFlag) high |= std::uint64_t{1} << j;
        }
      }
      const std::uint64_t starts = ends << 1 | previousEnds >> 63;
      starts_[k] = starts;
      counted_[k] = ends & ~(starts & ~high);
      previousEnds = ends;
    }
  }

  // The bits of bytes 64 k .. 64 k + 63.
  std::uint64_t Starts(std::size_t k) const {
    return starts_[k];
  }
  std::uint64_t Counted(std::size_t k) const {
    return counted_[k];
  }

 private:
  std::vector<std::uint64_t> starts_;
  std::vector<std::uint64_t> counted_;
};

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

// Hands out the image data as one stream of plane lines. A run may reach past the end of a line;
// what is left of it continues the next line. Data that ends early leaves the rest zero. The data
// is read from the stream in pieces, so a long file never needs a buffer of its own size.
class TLineDecoder {
 public:
  TLineDecoder(TStream& stream, std::int64_t dataBytes, bool runLength)
      : stream_(stream), unread_(dataBytes), runLength_(runLength) {
    // A memory stream's bytes are decoded where they are, not copied through the buffer.
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
      data_ = memory->Data().data() + memory->Position();
      end_ = static_cast<std::size_t>(dataBytes);
      unread_ = 0;
      memory->Seek(memory->Position() + dataBytes);
    } else {
      buffer_.resize(kChunkBytes);
      data_ = buffer_.data();
    }
  }

  // Fills `count` bytes of `line`; returns how many came from the data (the rest are zero).
  std::size_t Decode(std::uint8_t* line, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      if (runLeft_ > 0) {
        const std::size_t take = std::min(runLeft_, count - done);
        std::memset(line + done, runValue_, take);
        done += take;
        runLeft_ -= take;
        continue;
      }
      if (end_ - position_ < kBlockIn && unread_ > 0) Refill();
      if (position_ == end_) break;
      if (!runLength_) {
        const std::size_t take = std::min(count - done, end_ - position_);
        std::memcpy(line + done, data_ + position_, take);
        done += take;
        position_ += take;
        continue;
      }
#if defined(__SSE2__)
      if (count - done >= kBlockOut && end_ - position_ >= kBlockIn) {
        done = Blocks(line, count, done);
        continue;
      }
#endif
      // One packet. The line has no room for a whole block, or the data is near its end.
      const std::uint8_t code = data_[position_++];
      if (code < kRunFlag) {
        line[done++] = code;
      } else {
        if (position_ == end_ && (unread_ <= 0 || !Refill())) break;
        runValue_ = data_[position_++];
        runLeft_ = code & 0x3F;
      }
    }
    std::memset(line + done, 0, count - done);
    return done;
  }

 private:
  static constexpr std::size_t kChunkBytes = 64 * 1024;
  static constexpr std::size_t kBlock = 64;
  // A block reads its 64 bytes, the value of a count in its last byte, and up to 15 bytes after a
  // stretch of plain bytes it copies 16 at a time.
  static constexpr std::size_t kBlockIn = kBlock + 16;
  // A block gives at most 32 runs of 63 bytes, and its 16-byte stores reach up to 16 bytes further:
  // with this much room left in the line, no store passes the line's end.
  static constexpr std::size_t kBlockOut = 32 * kMaxRun + 32;

  // Keeps the bytes not yet decoded and reads more after them into the buffer; false when nothing
  // came. Only for streams read through the buffer: a memory stream leaves nothing unread.
  bool Refill() {
    const std::size_t left = end_ - position_;
    std::memmove(buffer_.data(), buffer_.data() + position_, left);
    position_ = 0;
    end_ = left;
    if (unread_ <= 0) return false;
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(unread_, kChunkBytes - left));
    const std::size_t got = stream_.Read(buffer_.data() + left, want);
    // A stream that gives nothing although it said it held more ends the data here.
    unread_ = got > 0 ? unread_ - static_cast<std::int64_t>(got) : 0;
    end_ += got;
    return got > 0;
  }

#if defined(__SSE2__)
  // Decodes whole blocks of 64 code bytes, each starting at a packet, while the line has room for
  // any block's bytes and the buffer holds the bytes a block reads. Where the counts are follows
  // from the bytes of 0xC0 or more alone: a stretch of them begins a packet (the byte before it is
  // a plain byte or a value, after which a packet starts), and in it counts and values alternate.
  // The packets are then taken one count at a time, with no test for each byte.
  std::size_t Blocks(std::uint8_t* line, std::size_t count, std::size_t done) {
    constexpr std::uint64_t kEven = 0x5555555555555555u;
    const std::uint8_t* data = data_;
    std::size_t position = position_;
    std::uint8_t* out = line + done;
    const std::uint8_t* const outLast = line + count - kBlockOut;
    const std::size_t inLast = end_ - kBlockIn;
    do {
      const std::uint8_t* in = data + position;
      const std::uint64_t high =
          std::uint64_t{CountBytes16(in)} | std::uint64_t{CountBytes16(in + 16)} << 16 |
          std::uint64_t{CountBytes16(in + 32)} << 32 | std::uint64_t{CountBytes16(in + 48)} << 48;
      const std::uint64_t starts = high & ~(high << 1);
      // The stretches that begin on an even byte: adding their first bits clears them.
      const std::uint64_t fromEven = ((high + (starts & kEven)) ^ high) & high;
      std::uint64_t counts = (fromEven & kEven) | (high & ~fromEven & ~kEven);
      std::size_t plain = 0;  // the first byte not yet decoded
      while (counts != 0) {
        const std::size_t at = static_cast<std::size_t>(__builtin_ctzll(counts));
        counts &= counts - 1;
        out = CopyPlain(out, in + plain, at - plain);
        const std::size_t length = in[at] & 0x3Fu;
        const __m128i fill = _mm_set1_epi8(static_cast<char>(in[at + 1]));
        std::size_t k = 0;
        do {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), fill);
          k += 16;
        } while (k < length);
        out += length;
        plain = at + 2;
      }
      if (plain < kBlock) {
        out = CopyPlain(out, in + plain, kBlock - plain);
        plain = kBlock;
      }
      position += plain;
    } while (out <= outLast && position <= inLast);
    position_ = position;
    return static_cast<std::size_t>(out - line);
  }

  // Copies `length` plain bytes 16 at a time (at least once); returns the new end.
  static std::uint8_t* CopyPlain(std::uint8_t* out, const std::uint8_t* in, std::size_t length) {
    std::size_t k = 0;
    do {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k)));
      k += 16;
    } while (k < length);
    return out + length;
  }
#endif

  TStream& stream_;
  std::int64_t unread_;
  bool runLength_;
  std::vector<std::uint8_t> buffer_;
  const std::uint8_t* data_ = nullptr;  // the buffer, or the memory stream's bytes
  std::size_t position_ = 0;
  std::size_t end_ = 0;
  std::uint8_t runValue_ = 0;
  std::size_t runLeft_ = 0;
};

// Rows are decoded a group at a time into one buffer, so that the decoder's fast path covers all
// but the end of each group.
constexpr std::size_t kGroupBytes = 128 * 1024;

// `paletteLost`: the 256-colour table at the end of the data has no marker before it, so if the rows
// run out, the table was row data and the colours are not the file's.
void DecodeRows(TLineDecoder& decoder, int bits, int planes, std::size_t bytesPerLine,
                const TPalette& palette, bool paletteLost, TBitmap& bitmap,
                const TProgressContext& progress) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  // Each plane line holds a whole file line and at least the bytes the width needs; a header
  // whose bytes per line is too small for the width leaves the missing bytes zero.
  const std::size_t needed = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 7) / 8;
  const std::size_t capacity = std::max(bytesPerLine, needed);
  const std::size_t rowBytes = bytesPerLine * static_cast<std::size_t>(planes);
  const int groupRows =
      static_cast<int>(std::clamp<std::size_t>(kGroupBytes / rowBytes, 1, static_cast<std::size_t>(height)));
  std::vector<std::uint8_t> group(rowBytes * static_cast<std::size_t>(groupRows));
  std::vector<std::uint8_t> lines(capacity > bytesPerLine ? capacity * static_cast<std::size_t>(planes) : 0,
                                  0);

  std::size_t decoded = 0;
  for (int y = 0; y < height; ++y) {
    progress.Report(static_cast<int>(static_cast<std::int64_t>(y) * 100 / height));
    if (progress.Aborted()) return;
    const std::size_t inGroup = static_cast<std::size_t>(y % groupRows);
    if (inGroup == 0) {
      const std::size_t rows = static_cast<std::size_t>(std::min(groupRows, height - y));
      decoded = decoder.Decode(group.data(), rows * rowBytes);
    }
    // The row's pixels are in once the last plane holds the bytes the width needs; the padding
    // after them may be missing.
    const bool complete =
        decoded >= inGroup * rowBytes + (planes - 1) * bytesPerLine + std::min(needed, bytesPerLine);
    const std::uint8_t* planeLines = group.data() + inGroup * rowBytes;
    if (!lines.empty()) {
      for (int p = 0; p < planes; ++p) {
        std::memcpy(lines.data() + capacity * static_cast<std::size_t>(p),
                    planeLines + bytesPerLine * static_cast<std::size_t>(p), bytesPerLine);
      }
      planeLines = lines.data();
    }
    const std::size_t stride = lines.empty() ? bytesPerLine : capacity;
    const auto plane = [&](int p) { return planeLines + stride * static_cast<std::size_t>(p); };

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
      MergeChannels(plane(2), plane(1), plane(0), static_cast<std::size_t>(width), row);
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
      if (y == 0) {
        progress.Abort();
      } else {
        progress.AbortWithPartialImage(
            "the data ends after row " + std::to_string(y) + " of " + std::to_string(height) +
            (paletteLost ? ", and the colour table with it, so the colours are wrong" : ""));
      }
      return;
    }
  }
}

// Bytes of room the encoder needs past its line and past the longest code (two bytes a line
// byte): bytes that stand for themselves are copied 16 at a time.
constexpr std::size_t kCopySlack = 16;

// Copies `length` bytes 16 at a time (at least once), reading and writing up to 15 bytes more;
// returns the new end.
inline std::uint8_t* CopyAlone(std::uint8_t* out, const std::uint8_t* in, std::size_t length) {
  std::size_t k = 0;
  do {
    std::memcpy(out + k, in + k, kCopySlack);
    k += kCopySlack;
  } while (k < length);
  return out + length;
}

// Codes a run longer than a count byte holds: pieces of 63, and a last piece of one byte below
// 0xC0 stands for itself, as the byte after it differs. Rare, and kept out of the common path.
[[gnu::noinline]] std::uint8_t* EncodeLongRun(std::uint8_t value, std::size_t run, std::uint8_t* out) {
  for (; run > kMaxRun; run -= kMaxRun) {
    *out++ = static_cast<std::uint8_t>(kRunFlag | kMaxRun);
    *out++ = value;
  }
  if (run == 1 && value < kRunFlag) {
    *out++ = value;
  } else {
    *out++ = static_cast<std::uint8_t>(kRunFlag | run);
    *out++ = value;
  }
  return out;
}

// Appends the run-length code of `count` line bytes to `out` and returns the new end. Runs that
// take a count byte are found from their last bits and the starts before them; the bytes between
// two such runs all stand for themselves and are copied as they are.
std::uint8_t* EncodeLine(const std::uint8_t* line, std::size_t count, TLineBits& bits, std::uint8_t* out) {
  bits.Build(line, count);
  std::size_t copied = 0;     // the first byte not yet coded
  std::size_t lastStart = 0;  // the last run start in the words before this one
  for (std::size_t k = 0; 64 * k < count; ++k) {
    const std::uint64_t starts = bits.Starts(k);
    std::uint64_t counted = bits.Counted(k);
    while (counted != 0) {
      const unsigned j = static_cast<unsigned>(__builtin_ctzll(counted));
      counted &= counted - 1;
      // The run began at the last start at or before its end, in this word or an earlier one.
      const std::uint64_t before = starts & (~std::uint64_t{0} >> (63 - j));
      const std::size_t start =
          before != 0 ? 64 * k + 63 - static_cast<std::size_t>(__builtin_clzll(before)) : lastStart;
      const std::size_t end = 64 * k + j;
      out = CopyAlone(out, line + copied, start - copied);
      const std::uint8_t value = line[end];
      const std::size_t run = end + 1 - start;
      copied = end + 1;
      if (run > kMaxRun) {
        out = EncodeLongRun(value, run, out);
        continue;
      }
      out[0] = static_cast<std::uint8_t>(kRunFlag | run);
      out[1] = value;
      out += 2;
    }
    if (starts != 0) lastStart = 64 * k + 63 - static_cast<std::size_t>(__builtin_clzll(starts));
  }
  return CopyAlone(out, line + copied, count - copied);
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
  bool paletteMarked = true;
  if (trailingPalette) {
    // The last 768 bytes; the marker byte before them is not checked. Data too short to hold
    // the marker and the palette after the header cannot be a 256-colour image.
    if (available < static_cast<std::int64_t>(kHeaderBytes) + 1 + kTrailingPaletteBytes) {
      progress.Abort();
      return;
    }
    std::uint8_t tail[1 + kTrailingPaletteBytes];
    stream.Seek(start + available - kTrailingPaletteBytes - 1);
    if (!stream.ReadExact(tail, sizeof tail)) {
      progress.Abort();
      return;
    }
    paletteMarked = tail[0] == kPaletteMarker;
    PaletteFromRgb(tail + 1, 256, palette);
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
    DecodeRows(decoder, bits, planes, bytesPerLine, palette, !paletteMarked, bitmap, progress);
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
  const std::size_t rowSize = lineSize * static_cast<std::size_t>(planes);
  std::vector<std::uint8_t> lines(rowSize + kCopySlack, 0);
  std::vector<std::uint8_t> coded(runLength ? 2 * rowSize + kCopySlack : 0);
  TLineBits lineBits;
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
        SplitChannels(row, static_cast<std::size_t>(w), red + 2 * lineSize, red + lineSize, red);
        break;
      }
    }
    if (!runLength) {
      stream.Write(lines.data(), rowSize);
      continue;
    }
    std::uint8_t* out = coded.data();
    for (int p = 0; p < planes; ++p) {
      out = EncodeLine(lines.data() + lineSize * static_cast<std::size_t>(p),
                       static_cast<std::size_t>(lineBytes), lineBits, out);
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
