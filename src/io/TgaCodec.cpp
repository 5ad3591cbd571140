#include "io/TgaCodec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io/ColorQuantizer.h"

namespace veilora {

namespace {

// File layout (Truevision TGA 2.0, all values little-endian):
//   18-byte header, identification field (0..255 bytes), colour map, image data,
//   then optionally the 495-byte extension area and the 26-byte footer that points at it.
constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kFooterSize = 26;
constexpr std::size_t kExtensionSize = 495;
// The footer ends with this text and its terminating zero byte.
constexpr char kFooterSignature[] = "TRUEVISION-XFILE.";
constexpr std::size_t kSignatureSize = sizeof kFooterSignature;  // 18, the zero included
static_assert(kSignatureSize == 18);

// Offsets inside the extension area.
constexpr std::size_t kExtAuthor = 2;         // 41 bytes, zero-terminated
constexpr std::size_t kExtDate = 367;         // month, day, year, hour, minute, second (6 x 16 bits)
constexpr std::size_t kExtJobName = 379;      // 41 bytes, zero-terminated
constexpr std::size_t kExtSoftwareId = 426;   // 41 bytes
constexpr std::size_t kExtSoftwareVer = 467;  // version x 100 (16 bits), then a letter
constexpr std::size_t kExtKeyColour = 470;    // B, G, R, A
constexpr std::size_t kExtAspect = 474;       // numerator, denominator (16 bits each)
constexpr std::size_t kExtGamma = 478;        // numerator, denominator
constexpr std::size_t kTextFieldSize = 41;    // 40 characters and a zero byte

// Image types: the low bits name the kind, 8 adds run-length coding.
constexpr std::uint8_t kColourMapped = 1;
constexpr std::uint8_t kTrueColour = 2;
constexpr std::uint8_t kGrey = 3;
constexpr std::uint8_t kRunLength = 8;

// Image descriptor bits: 4 = pixels run right to left, 5 = rows run top to bottom.
constexpr std::uint8_t kRightToLeft = 0x10;
constexpr std::uint8_t kTopToBottom = 0x20;

// A packet header's top bit marks a run; its low 7 bits hold the pixel count minus one.
constexpr int kMaxPacket = 128;

// TDateTime counts days from 30 December 1899; one past 31 December 9999 ends the range.
constexpr std::int64_t kDateEpochFromUnix = -25569;
constexpr double kDateLimit = 2958466.0;

struct THeader {
  std::uint8_t idLength = 0;
  std::uint8_t mapType = 0;
  std::uint8_t imageType = 0;
  std::uint16_t mapFirst = 0;
  std::uint16_t mapLength = 0;
  std::uint8_t mapEntryBits = 0;
  std::uint16_t xOrigin = 0;
  std::uint16_t yOrigin = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint8_t pixelBits = 0;
  std::uint8_t descriptor = 0;
};

THeader ParseHeader(const std::uint8_t* p) {
  THeader h;
  h.idLength = p[0];
  h.mapType = p[1];
  h.imageType = p[2];
  h.mapFirst = GetLE16(p + 3);
  h.mapLength = GetLE16(p + 5);
  h.mapEntryBits = p[7];
  h.xOrigin = GetLE16(p + 8);
  h.yOrigin = GetLE16(p + 10);
  h.width = GetLE16(p + 12);
  h.height = GetLE16(p + 14);
  h.pixelBits = p[16];
  h.descriptor = p[17];
  return h;
}

void PutHeader(const THeader& h, std::uint8_t* p) {
  p[0] = h.idLength;
  p[1] = h.mapType;
  p[2] = h.imageType;
  PutLE16(p + 3, h.mapFirst);
  PutLE16(p + 5, h.mapLength);
  p[7] = h.mapEntryBits;
  PutLE16(p + 8, h.xOrigin);
  PutLE16(p + 10, h.yOrigin);
  PutLE16(p + 12, h.width);
  PutLE16(p + 14, h.height);
  p[16] = h.pixelBits;
  p[17] = h.descriptor;
}

// ------------------------------------------------------------------ text, date and ratio fields

// The text of a fixed field: its bytes up to the first zero byte.
std::string FieldText(const std::uint8_t* p, std::size_t size) {
  const auto* end = std::find(p, p + size, std::uint8_t{0});
  return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
}

// A text cut to at most `limit` bytes for a field that cannot hold zero bytes: it ends before its
// first zero byte, and a cut never splits a UTF-8 sequence.
std::string FieldCut(const std::string& text, std::size_t limit) {
  std::size_t size = std::min(text.find('\0'), text.size());
  if (size > limit) {
    size = limit;
    while (size > 0 && (static_cast<std::uint8_t>(text[size]) & 0xC0) == 0x80) --size;
  }
  return text.substr(0, size);
}

// Days from 1 January 1970 for a proleptic Gregorian date (Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

int DaysInMonth(std::int64_t y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// The date stamp: six 16-bit values, all zero when the file gives no date. A TgaDate of 0 (or any
// value outside 31 December 1899 .. 31 December 9999) stands for "no date"; the time is kept to the
// nearest second.
void PutDate(TDateTime date, std::uint8_t* p) {
  std::memset(p, 0, 12);
  if (!(date > 0 && date < kDateLimit)) return;
  std::int64_t seconds = std::llround(date * 86400.0);
  std::int64_t days = seconds / 86400;
  seconds %= 86400;
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(days + kDateEpochFromUnix, year, month, day);
  if (year > 9999) return;
  PutLE16(p, static_cast<std::uint32_t>(month));
  PutLE16(p + 2, static_cast<std::uint32_t>(day));
  PutLE16(p + 4, static_cast<std::uint32_t>(year));
  PutLE16(p + 6, static_cast<std::uint32_t>(seconds / 3600));
  PutLE16(p + 8, static_cast<std::uint32_t>(seconds / 60 % 60));
  PutLE16(p + 10, static_cast<std::uint32_t>(seconds % 60));
}

// A stamp that is not a valid date and time after 30 December 1899 reads as 0 (no date).
TDateTime GetDate(const std::uint8_t* p) {
  const int month = GetLE16(p);
  const int day = GetLE16(p + 2);
  const int year = GetLE16(p + 4);
  const int hour = GetLE16(p + 6);
  const int minute = GetLE16(p + 8);
  const int second = GetLE16(p + 10);
  if (month < 1 || month > 12 || year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59) {
    return 0;
  }
  const std::int64_t days = DaysFromCivil(year, month, day) - kDateEpochFromUnix;
  if (days <= 0) return 0;
  return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

// The nearest fraction p / q to `value` with both terms at most 65535 (continued-fraction
// convergents, and the last semiconvergent when it is nearer). 0 or less, or not a number, gives
// 0 / 0, which the format reads as "not given".
void PutRatio(double value, std::uint8_t* p) {
  constexpr std::int64_t kMax = 65535;
  std::int64_t num = 0;
  std::int64_t den = 0;
  if (std::isfinite(value) && value > 0) {
    if (value >= kMax) {
      num = kMax;
      den = 1;
    } else {
      std::int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
      double x = value;
      for (int step = 0; step < 64; ++step) {
        const double whole = std::floor(x);
        const auto a = static_cast<std::int64_t>(std::min(whole, 1e9));
        const std::int64_t p2 = a * p1 + p0;
        const std::int64_t q2 = a * q1 + q0;
        if (p2 > kMax || q2 > kMax) {
          const std::int64_t k = std::min(p1 > 0 ? (kMax - p0) / p1 : kMax, q1 > 0 ? (kMax - q0) / q1 : kMax);
          const std::int64_t ps = k * p1 + p0;
          const std::int64_t qs = k * q1 + q0;
          if (k > 0 && qs > 0 &&
              std::fabs(static_cast<double>(ps) / static_cast<double>(qs) - value) <
                  std::fabs(static_cast<double>(p1) / static_cast<double>(q1) - value)) {
            p1 = ps;
            q1 = qs;
          }
          break;
        }
        p0 = p1;
        q0 = q1;
        p1 = p2;
        q1 = q2;
        const double fraction = x - whole;
        if (fraction < 1e-9) break;
        x = 1.0 / fraction;
      }
      num = p1;
      den = q1;
    }
  }
  PutLE16(p, static_cast<std::uint32_t>(num));
  PutLE16(p + 2, static_cast<std::uint32_t>(den));
}

double GetRatio(const std::uint8_t* p) {
  const int den = GetLE16(p + 2);
  return den == 0 ? 0.0 : static_cast<double>(GetLE16(p)) / den;
}

// ------------------------------------------------------------------ reading

// Buffered input, so that packets are taken from memory rather than by a stream call each.
class TByteSource {
 public:
  explicit TByteSource(TStream& stream) : stream_(stream), buffer_(kChunk) {}

  // Makes at least `count` bytes (up to the buffer's size) ready at Data(), fewer only at the end
  // of the data; returns how many are ready.
  std::size_t Ensure(std::size_t count) { return end_ - pos_ >= count ? end_ - pos_ : Gather(count); }
  const std::uint8_t* Data() const { return buffer_.data() + pos_; }
  void Advance(std::size_t count) { pos_ += count; }

  // Copies up to `count` bytes to `target`; fewer only at the end of the data.
  std::size_t Take(std::uint8_t* target, std::size_t count) {
    if (end_ - pos_ >= count) {
      std::memcpy(target, buffer_.data() + pos_, count);
      pos_ += count;
      return count;
    }
    return TakeAcross(target, count);
  }

  // Puts the stream on the first byte not consumed.
  void Release() {
    stream_.Seek(stream_.Position() - static_cast<std::int64_t>(end_ - pos_));
    pos_ = end_ = 0;
  }

 private:
  static constexpr std::size_t kChunk = 64 * 1024;

  std::size_t TakeAcross(std::uint8_t* target, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      if (pos_ == end_) {
        // Large blocks go straight from the stream to their place.
        if (count - done >= kChunk) {
          const std::size_t got = stream_.Read(target + done, count - done);
          done += got;
          break;
        }
        if (!Refill()) break;
      }
      const std::size_t take = std::min(count - done, end_ - pos_);
      std::memcpy(target + done, buffer_.data() + pos_, take);
      pos_ += take;
      done += take;
    }
    return done;
  }

  bool Refill() {
    pos_ = 0;
    end_ = stream_.Read(buffer_.data(), buffer_.size());
    return end_ > 0;
  }

  // Moves the unread bytes to the front of the buffer and reads more after them.
  std::size_t Gather(std::size_t count) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
    while (end_ < count) {
      const std::size_t got = stream_.Read(buffer_.data() + end_, buffer_.size() - end_);
      if (got == 0) break;
      end_ += got;
    }
    return end_;
  }

  TStream& stream_;
  std::vector<std::uint8_t> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
};

// Sixteen bytes of the N-byte pixel at `p` repeated, and how many of them make whole pixels.
template <std::size_t N>
struct TPixelPattern {
  static constexpr std::size_t kWholeBytes = N == 3 ? 15 : 16;
  std::uint8_t bytes[16];

  explicit TPixelPattern(const std::uint8_t* p) {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    if constexpr (N == 3) {
      // Bytes 0..7 hold pixel bytes 0 1 2 0 1 2 0 1, bytes 8..15 continue with 2 0 1 2 0 1 2 0.
      const std::uint64_t v = p[0] | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16;
      low = v | v << 24 | v << 48;
      high = low >> 16 | low << 32;
    } else {
      for (std::size_t k = 0; k < 8; ++k) low |= std::uint64_t{p[k % N]} << (8 * k);
      high = low;
    }
    std::memcpy(bytes, &low, 8);
    std::memcpy(bytes + 8, &high, 8);
  }

  // Writes `count` pixels exactly.
  void Put(std::uint8_t* out, std::size_t count) const {
    std::size_t size = count * N;
    for (; size >= 16; size -= kWholeBytes, out += kWholeBytes) std::memcpy(out, bytes, 16);
    std::memcpy(out, bytes, size);
  }

  // Writes `count` pixels and up to 16 bytes of pattern after them.
  void PutOver(std::uint8_t* out, std::size_t count) const {
    const std::size_t size = count * N;
    for (std::size_t done = 0; done < size; done += kWholeBytes) std::memcpy(out + done, bytes, 16);
  }
};

// Run-length data: a packet header byte, then one pixel repeated (run) or count pixels (raw).
// A packet may carry on into the next row; a packet that would reach past the image is cut at its
// end, because the caller never asks for more pixels than the image has.
class TRleDecoder {
 public:
  TRleDecoder(TByteSource& source, std::size_t pixelBytes) : source_(source), pixelBytes_(pixelBytes) {}

  // Fills up to `count` pixels at `target`; fewer only when the data ends. Pixels past the ones
  // filled are set to zero.
  std::size_t Fill(std::uint8_t* target, std::size_t count) {
    switch (pixelBytes_) {
      case 1: return FillPixels<1>(target, count);
      case 2: return FillPixels<2>(target, count);
      case 3: return FillPixels<3>(target, count);
      default: return FillPixels<4>(target, count);
    }
  }

 private:
  template <std::size_t N>
  std::size_t FillPixels(std::uint8_t* target, std::size_t count) {
    // The longest packet, and room for 16-byte copies after it.
    constexpr std::size_t kFastBytes = 1 + kMaxPacket * N + 16;
    std::size_t filled = 0;
    while (filled < count) {
      if (left_ == 0) {
        const std::size_t ready = source_.Ensure(kFastBytes);
        if (ready >= kFastBytes) {
          filled = FastPackets<N>(target, count, filled, ready - kFastBytes);
          continue;
        }
        // Near the end of the data: a header byte and, for a run, its pixel.
        if (ready == 0) break;
        const std::uint8_t* packet = source_.Data();
        run_ = (packet[0] & 0x80) != 0;
        left_ = (packet[0] & 0x7Fu) + 1u;
        if (!run_) {
          source_.Advance(1);
        } else if (ready < 1 + N) {
          source_.Advance(ready);
          left_ = 0;
          break;
        } else {
          std::memcpy(value_, packet + 1, N);
          source_.Advance(1 + N);
        }
      }
      const std::size_t n = std::min(left_, count - filled);
      std::uint8_t* out = target + filled * N;
      if (run_) {
        TPixelPattern<N>(value_).Put(out, n);
      } else {
        const std::size_t bytes = n * N;
        const std::size_t got = source_.Take(out, bytes);
        if (got < bytes) {
          left_ = 0;
          filled += got / N;
          break;
        }
      }
      left_ -= n;
      filled += n;
    }
    if (filled < count) std::memset(target + filled * N, 0, (count - filled) * N);
    return filled;
  }

  // Decodes whole packets from the buffer while it surely holds them, the first starting no more
  // than `lastStart` bytes in, and returns the new number of pixels filled. Copies of 16 bytes may
  // write past a packet's pixels while the row has room for them; later packets overwrite those
  // bytes (or Fill clears them). A packet that reaches past the row is left for Fill to finish.
  template <std::size_t N>
  std::size_t FastPackets(std::uint8_t* target, std::size_t count, std::size_t filled,
                          std::size_t lastStart) {
    const std::uint8_t* const data = source_.Data();
    std::size_t used = 0;
    while (filled < count && used <= lastStart) {
      const std::uint8_t* packet = data + used;
      const std::size_t n = (packet[0] & 0x7Fu) + 1u;
      const bool run = (packet[0] & 0x80) != 0;
      const std::size_t take = std::min(n, count - filled);
      const std::size_t bytes = take * N;
      std::uint8_t* out = target + filled * N;
      const bool room = (count - filled) * N >= bytes + 16;
      if (run) {
        const TPixelPattern<N> pattern(packet + 1);
        if (room)
          pattern.PutOver(out, take);
        else
          pattern.Put(out, take);
        used += 1 + N;
      } else {
        if (room) {
          for (std::size_t done = 0; done < bytes; done += 16) std::memcpy(out + done, packet + 1 + done, 16);
        } else {
          std::memcpy(out, packet + 1, bytes);
        }
        used += 1 + bytes;
      }
      filled += take;
      if (take < n) {
        // The rest of the packet belongs to the next row.
        left_ = n - take;
        run_ = run;
        if (run) std::memcpy(value_, packet + 1, N);
        break;
      }
    }
    source_.Advance(used);
    return filled;
  }

  TByteSource& source_;
  std::size_t pixelBytes_;
  std::size_t left_ = 0;
  bool run_ = false;
  std::uint8_t value_[4] = {};
};

// How the bytes of one file pixel become a bitmap pixel.
enum class TPixelKind {
  Bgr24,        // blue, green, red
  Bgra32,       // blue, green, red, alpha (dropped)
  Bgr555,       // 16 bits: x rrrrr ggggg bbbbb, the top bit an attribute (ignored)
  Grey8,        // one grey byte
  GreyAlpha16,  // grey, then alpha (dropped)
  Index8,       // colour-map index
  Index16,      // colour-map index, 16 bits
  Bilevel,      // grey at 1 bit per pixel, 8 pixels a byte, leftmost in the top bit, 1 white
};

// 5-bit channel to 8 bits, so that 0 gives 0 and 31 gives 255.
inline std::uint8_t Expand5(unsigned v) {
  return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

TRGB From555(unsigned v) {
  return TRGB{Expand5(v & 0x1F), Expand5((v >> 5) & 0x1F), Expand5((v >> 10) & 0x1F)};
}

struct TLayout {
  TPixelKind kind = TPixelKind::Bgr24;
  std::size_t pixelBytes = 3;  // bytes per file pixel (0 for Bilevel, which packs 8 to a byte)
};

// The pixel layouts this reader decodes; false for any other type and depth.
bool LayoutOf(const THeader& h, TLayout& layout) {
  const int kind = h.imageType & 7;
  const int bits = h.pixelBits;
  if (kind == kColourMapped) {
    if (bits == 8)
      layout = {TPixelKind::Index8, 1};
    else if (bits == 16)
      layout = {TPixelKind::Index16, 2};
    else
      return false;
  } else if (kind == kTrueColour) {
    if (bits == 24)
      layout = {TPixelKind::Bgr24, 3};
    else if (bits == 32)
      layout = {TPixelKind::Bgra32, 4};
    else if (bits == 15 || bits == 16)
      layout = {TPixelKind::Bgr555, 2};
    else
      return false;
  } else if (kind == kGrey) {
    if (bits == 8)
      layout = {TPixelKind::Grey8, 1};
    else if (bits == 16)
      layout = {TPixelKind::GreyAlpha16, 2};
    // A run-length packet has no defined meaning at 1 bit per pixel.
    else if (bits == 1 && (h.imageType & kRunLength) == 0)
      layout = {TPixelKind::Bilevel, 0};
    else
      return false;
  } else {
    return false;
  }
  return true;
}

// Converts `count` file pixels to 24-bit pixels. Pixel i goes to `target` + i x `step` bytes
// (step -3 writes a row from its right end).
void ConvertTo24(TPixelKind kind, const std::uint8_t* source, std::size_t count, std::uint8_t* target,
                 std::ptrdiff_t step, const std::vector<TRGB>& table) {
  auto put = [&](TRGB c) {
    target[0] = c.b;
    target[1] = c.g;
    target[2] = c.r;
    target += step;
  };
  switch (kind) {
    case TPixelKind::Bgr24:
      for (std::size_t i = 0; i < count; ++i, source += 3) put(TRGB{source[0], source[1], source[2]});
      break;
    case TPixelKind::Bgra32:
      for (std::size_t i = 0; i < count; ++i, source += 4) put(TRGB{source[0], source[1], source[2]});
      break;
    case TPixelKind::Bgr555:
      for (std::size_t i = 0; i < count; ++i, source += 2) put(From555(GetLE16(source)));
      break;
    case TPixelKind::Grey8:
      for (std::size_t i = 0; i < count; ++i, ++source) put(TRGB{*source, *source, *source});
      break;
    case TPixelKind::GreyAlpha16:
      for (std::size_t i = 0; i < count; ++i, source += 2) put(TRGB{*source, *source, *source});
      break;
    case TPixelKind::Index8:
      for (std::size_t i = 0; i < count; ++i, ++source) put(table[*source]);
      break;
    case TPixelKind::Index16:
      for (std::size_t i = 0; i < count; ++i, source += 2) put(table[GetLE16(source)]);
      break;
    case TPixelKind::Bilevel:
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t v = (source[i / 8] >> (7 - i % 8)) & 1 ? 255 : 0;
        put(TRGB{v, v, v});
      }
      break;
  }
}

// Sets the bits of a 1-bit row (zero before) from `count` file pixels: from bilevel bits, or from
// colour-map indices whose entries are black or white. Pixel i goes to column i, or width-1-i.
void ConvertTo1(TPixelKind kind, const std::uint8_t* source, std::size_t count, std::uint8_t* target,
                std::size_t width, bool rightToLeft, const std::vector<TRGB>& table) {
  for (std::size_t i = 0; i < count; ++i) {
    bool white = false;
    if (kind == TPixelKind::Bilevel)
      white = (source[i / 8] >> (7 - i % 8)) & 1;
    else if (kind == TPixelKind::Index8)
      white = table[source[i]].r != 0;
    else
      white = table[GetLE16(source + 2 * i)].r != 0;
    const std::size_t x = rightToLeft ? width - 1 - i : i;
    if (white) target[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  }
}

// A colour-map entry of 15/16, 24 or 32 bits.
TRGB MapEntry(const std::uint8_t* p, int bits) {
  if (bits == 15 || bits == 16) return From555(GetLE16(p));
  return TRGB{p[0], p[1], p[2]};
}

void ReportRow(const TProgressContext& progress, int row, int height) {
  if (progress.HasHandler()) progress.Report(RoundToInt(row * 100.0 / height));
}

// The extension area, found through the footer at the end of the stream. The footer's offset is
// counted from the file's start and must put the whole area between the header and the footer.
void ReadExtension(TStream& stream, std::int64_t start, TIOParams& params) {
  params.TgaAuthor.clear();
  params.TgaName.clear();
  params.TgaDate = 0;
  params.TgaBackground = TRGB{};
  params.TgaAspectRatio = 0;
  params.TgaGamma = 0;

  const std::int64_t end = stream.Size();
  const std::int64_t footerAt = end - static_cast<std::int64_t>(kFooterSize);
  if (footerAt < start + static_cast<std::int64_t>(kHeaderSize)) return;
  std::uint8_t footer[kFooterSize];
  stream.Seek(footerAt);
  if (!stream.ReadExact(footer, kFooterSize)) return;
  if (std::memcmp(footer + 8, kFooterSignature, kSignatureSize) != 0) return;
  const std::int64_t offset = GetLE32(footer);
  if (offset < static_cast<std::int64_t>(kHeaderSize)) return;
  const std::int64_t at = start + offset;
  if (at + static_cast<std::int64_t>(kExtensionSize) > footerAt) return;

  std::uint8_t area[kExtensionSize];
  stream.Seek(at);
  if (!stream.ReadExact(area, kExtensionSize)) return;
  if (GetLE16(area) < kExtensionSize) return;
  params.TgaAuthor = FieldText(area + kExtAuthor, kTextFieldSize);
  params.TgaDate = GetDate(area + kExtDate);
  params.TgaName = FieldText(area + kExtJobName, kTextFieldSize);
  params.TgaBackground = TRGB{area[kExtKeyColour], area[kExtKeyColour + 1], area[kExtKeyColour + 2]};
  params.TgaAspectRatio = GetRatio(area + kExtAspect);
  params.TgaGamma = GetRatio(area + kExtGamma);
}

// ------------------------------------------------------------------ writing

// Appends the run-length packets of one row of `width` pixels of N bytes. Packets never cross the
// row's end. A run packet is used from 2 equal pixels on (3 for 1-byte pixels, where a run of 2
// costs as much as the same pixels inside a raw packet).
template <std::size_t N>
std::size_t EncodeRow(const std::uint8_t* pixels, std::size_t width, std::uint8_t* out) {
  constexpr std::size_t kMinRun = N == 1 ? 3 : 2;
  auto same = [pixels](std::size_t a, std::size_t b) {
    return std::memcmp(pixels + a * N, pixels + b * N, N) == 0;
  };
  auto runStarts = [&](std::size_t i) {
    if (i + kMinRun > width) return false;
    for (std::size_t k = 1; k < kMinRun; ++k) {
      if (!same(i, i + k)) return false;
    }
    return true;
  };
  std::uint8_t* const begin = out;
  std::size_t i = 0;
  while (i < width) {
    std::size_t run = 1;
    while (i + run < width && run < kMaxPacket && same(i, i + run)) ++run;
    if (run >= kMinRun) {
      *out++ = static_cast<std::uint8_t>(0x80 | (run - 1));
      std::memcpy(out, pixels + i * N, N);
      out += N;
      i += run;
      continue;
    }
    const std::size_t first = i;
    std::size_t count = 0;
    while (i < width && count < kMaxPacket && (count == 0 || !runStarts(i))) {
      ++i;
      ++count;
    }
    *out++ = static_cast<std::uint8_t>(count - 1);
    std::memcpy(out, pixels + first * N, count * N);
    out += count * N;
  }
  return static_cast<std::size_t>(out - begin);
}

// Where the pixels of a row of 3-byte pixels equal the next one, one bit a pixel: bit i says pixel
// i equals pixel i + 1 (never set for the row's last pixel).
void EqualToNextPixel(const std::uint8_t* pixels, std::size_t width, std::vector<std::uint64_t>& words) {
  words.assign(width / 64 + 1, 0);
  const auto same = [pixels](std::size_t i) {
    return std::memcmp(pixels + 3 * i, pixels + 3 * i + 3, 3) == 0;
  };
  for (std::size_t k = 0; 64 * k < width; ++k) {
    const std::size_t first = 64 * k;
    std::uint64_t bits = 0;
    if (first + 64 + 4 <= width) {
      // Two pixels a step from 8 bytes of the row and 8 bytes one pixel on; the later load ends
      // 11 bytes after the pair's first byte, inside the row as 4 more pixels follow.
      for (std::size_t j = 0; j < 64; j += 2) {
        std::uint64_t here = 0;
        std::uint64_t next = 0;
        std::memcpy(&here, pixels + 3 * (first + j), 8);
        std::memcpy(&next, pixels + 3 * (first + j) + 3, 8);
        const std::uint64_t differ = here ^ next;
        bits |= (std::uint64_t{(differ & 0xFFFFFF) == 0} | std::uint64_t{(differ & 0xFFFFFF000000) == 0} << 1)
                << j;
      }
    } else {
      for (std::size_t j = 0; j < 64 && first + j + 1 < width; ++j)
        bits |= std::uint64_t{same(first + j)} << j;
    }
    words[k] = bits;
  }
}

// Bytes of room the 3-byte row coder needs past the longest code: it copies 16 bytes at a time.
constexpr std::size_t kPacketSlack = 16;

// Appends raw packets for pixels `from` .. `to` - 1 (none when they are the same), at most 128
// pixels to a packet. The pixels are copied 16 bytes at a time where the row holds the bytes read.
inline std::uint8_t* RawPackets(const std::uint8_t* pixels, std::size_t rowBytes, std::size_t from,
                                std::size_t to, std::uint8_t* out) {
  constexpr std::size_t kLongest = kMaxPacket;
  std::size_t raw = to - from;
  for (; raw > kLongest; raw -= kLongest, from += kLongest) {
    *out++ = static_cast<std::uint8_t>(kLongest - 1);
    std::memcpy(out, pixels + 3 * from, 3 * kLongest);
    out += 3 * kLongest;
  }
  // The header is written also for no pixels; the next packet then overwrites it.
  const std::size_t bytes = 3 * raw;
  out[0] = static_cast<std::uint8_t>(raw - 1);
  if (3 * from + bytes + 15 < rowBytes) {
    std::size_t k = 0;
    do {
      std::memcpy(out + 1 + k, pixels + 3 * from + k, 16);
      k += 16;
    } while (k < bytes);
  } else {
    std::memcpy(out + 1, pixels + 3 * from, bytes);
  }
  return out + (raw == 0 ? 0 : 1 + bytes);
}

// Appends run packets for `run` (more than 128) equal pixels from `start`: pieces of 128, and a
// last piece of at least 2. Returns whether one pixel is left, which then begins raw pixels.
[[gnu::noinline]] bool LongRun(const std::uint8_t* pixels, std::size_t start, std::size_t run,
                               std::uint8_t*& out) {
  constexpr std::size_t kLongest = kMaxPacket;
  for (; run >= 2; start += std::min(run, kLongest), run -= std::min(run, kLongest)) {
    *out++ = static_cast<std::uint8_t>(0x80 | (std::min(run, kLongest) - 1));
    std::memcpy(out, pixels + 3 * start, 3);
    out += 3;
  }
  return run == 1;
}

// The packets EncodeRow<3> makes, found from the row's equal-to-next bits. A run of equal pixels
// starts where a bit is set after a clear one and takes its last pixel where a bit is clear after
// a set one; the pixels between two runs go out raw. Each run and the raw pixels before it are
// one step, with no test for each pixel and no search that waits on memory.
std::size_t EncodeRow3(const std::uint8_t* pixels, std::size_t width, std::vector<std::uint64_t>& words,
                       std::uint8_t* out) {
  constexpr std::size_t kLongest = kMaxPacket;
  EqualToNextPixel(pixels, width, words);
  const std::size_t rowBytes = 3 * width;
  std::uint8_t* const begin = out;
  std::size_t coded = 0;      // the first pixel not yet in a packet
  std::size_t lastStart = 0;  // the last run start in the words before this one
  std::uint64_t previous = 0;
  for (std::size_t k = 0; 64 * k < width; ++k) {
    const std::uint64_t equal = words[k];
    const std::uint64_t after = equal << 1 | previous >> 63;  // bit i: pixel i equals the one before
    const std::uint64_t starts = equal & ~after;
    std::uint64_t lasts = ~equal & after;
    previous = equal;
    while (lasts != 0) {
      const unsigned j = static_cast<unsigned>(__builtin_ctzll(lasts));
      lasts &= lasts - 1;
      // The run began at the last start at or before its last pixel, in this word or an earlier one.
      const std::uint64_t before = starts & (~std::uint64_t{0} >> (63 - j));
      const std::size_t start =
          before != 0 ? 64 * k + 63 - static_cast<std::size_t>(__builtin_clzll(before)) : lastStart;
      const std::size_t last = 64 * k + j;
      out = RawPackets(pixels, rowBytes, coded, start, out);
      const std::size_t run = last + 1 - start;
      coded = last + 1;
      if (run > kLongest) {
        if (LongRun(pixels, start, run, out)) coded = last;
        continue;
      }
      // The 4-byte copy reads the first byte of the run's second pixel.
      out[0] = static_cast<std::uint8_t>(0x80 | (run - 1));
      std::memcpy(out + 1, pixels + 3 * start, 4);
      out += 4;
    }
    if (starts != 0) lastStart = 64 * k + 63 - static_cast<std::size_t>(__builtin_clzll(starts));
  }
  out = RawPackets(pixels, rowBytes, coded, width, out);
  return static_cast<std::size_t>(out - begin);
}

// Grey level of a colour by the ITU-R BT.601 weights; a grey colour keeps its level exactly.
inline std::uint8_t GreyOf(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  return static_cast<std::uint8_t>((299u * r + 587u * g + 114u * b + 500u) / 1000u);
}

void PutTextField(std::uint8_t* p, const std::string& text) {
  const std::string cut = FieldCut(text, kTextFieldSize - 1);
  std::memcpy(p, cut.data(), cut.size());
}

}  // namespace

// ====================================================================== reader

void TgaReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress) {
  const std::int64_t start = stream.Position();
  std::uint8_t head[kHeaderSize];
  if (!stream.ReadExact(head, kHeaderSize)) {
    progress.Abort();
    return;
  }
  const THeader h = ParseHeader(head);
  const int kind = h.imageType & 7;
  if ((h.imageType & ~kRunLength) > kGrey || kind == 0 || h.width == 0 || h.height == 0) {
    progress.Abort();
    return;
  }
  TLayout layout;
  const bool decodable = LayoutOf(h, layout);

  params.Width = h.width;
  params.Height = h.height;
  params.TgaXPos = h.xOrigin;
  params.TgaYPos = h.yOrigin;
  params.TgaCompressed = (h.imageType & kRunLength) != 0;
  params.TgaGrayLevel = kind == kGrey;
  params.DpiX = DefaultResolution().dpiX;
  params.DpiY = DefaultResolution().dpiY;
  if (kind == kTrueColour) {
    params.BitsPerSample = h.pixelBits <= 16 ? 5 : 8;
    params.SamplesPerPixel = 3;
  } else {
    params.BitsPerSample = h.pixelBits == 1 || (kind == kColourMapped && h.mapLength == 2) ? 1 : 8;
    params.SamplesPerPixel = 1;
  }

  std::string id(h.idLength, '\0');
  const std::size_t idRead = stream.Read(id.data(), id.size());
  id.resize(idRead);
  params.TgaDescription = FieldText(reinterpret_cast<const std::uint8_t*>(id.data()), id.size());

  // The colour map. Its entries are published and looked up by pixel value: entry k of the file
  // is the colour of value mapFirst + k; values without an entry are black.
  params.FreeColorMap();
  std::vector<TRGB> table;
  bool blackAndWhite = false;
  if (h.mapType == 1) {
    const int entryBytes = (h.mapEntryBits + 7) / 8;
    const std::int64_t mapBytes = static_cast<std::int64_t>(h.mapLength) * entryBytes;
    if (kind == kColourMapped) {
      if (h.mapEntryBits != 15 && h.mapEntryBits != 16 && h.mapEntryBits != 24 && h.mapEntryBits != 32) {
        progress.Abort();
        return;
      }
      std::vector<std::uint8_t> raw;
      ReadAvailable(stream, mapBytes, raw);
      const std::size_t entries = raw.size() / static_cast<std::size_t>(entryBytes);
      const std::size_t indexRange = h.pixelBits == 16 ? 65536 : 256;
      table.assign(indexRange, TRGB{});
      const std::size_t used = std::min<std::size_t>(h.mapFirst + entries, indexRange);
      for (std::size_t v = h.mapFirst; v < used; ++v) {
        table[v] =
            MapEntry(raw.data() + (v - h.mapFirst) * static_cast<std::size_t>(entryBytes), h.mapEntryBits);
      }
      if (used > 0) {
        params.SetColorMap(used);
        std::copy(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(used), params.ColorMap.begin());
      }
      // A map of exactly black and white is a bilevel image and loads as one.
      const TRGB black{0, 0, 0};
      const TRGB white{255, 255, 255};
      if (h.mapLength == 2 && entries == 2) {
        const TRGB e0 = table[std::min<std::size_t>(h.mapFirst, indexRange - 1)];
        const TRGB e1 = table[std::min<std::size_t>(h.mapFirst + 1u, indexRange - 1)];
        blackAndWhite =
            used == h.mapFirst + 2u && ((e0 == black && e1 == white) || (e0 == white && e1 == black));
      }
    } else {
      stream.Skip(mapBytes);
    }
  } else if (kind == kColourMapped) {
    progress.Abort();  // indices without a map
    return;
  }
  if (!decodable) {
    progress.Abort();
    return;
  }

  const std::int64_t dataAt = stream.Position();
  ReadExtension(stream, start, params);
  stream.Seek(dataAt);
  if (paramsOnly) return;

  const bool bilevel = layout.kind == TPixelKind::Bilevel || blackAndWhite;
  const TPixelFormat format = bilevel ? pf1bit : pf24bit;
  if (!ImageSizeAllowed(h.width, h.height, format)) {
    progress.Abort();
    return;
  }
  PrepareBitmap(bitmap, h.width, h.height, format);

  const std::size_t width = h.width;
  const int height = h.height;
  const bool topFirst = (h.descriptor & kTopToBottom) != 0;
  const bool rightToLeft = (h.descriptor & kRightToLeft) != 0;
  const bool rle = (h.imageType & kRunLength) != 0;
  // Uncompressed 24-bit rows read straight into the bitmap.
  const bool direct = layout.kind == TPixelKind::Bgr24 && !rightToLeft;
  const std::size_t rowBytes =
      layout.kind == TPixelKind::Bilevel ? (width + 7) / 8 : width * layout.pixelBytes;
  std::vector<std::uint8_t> raw(direct ? 0 : rowBytes);

  TByteSource source(stream);
  TRleDecoder decoder(source, layout.pixelBytes);
  for (int r = 0; r < height; ++r) {
    ReportRow(progress, r, height);
    if (progress.Aborted()) break;
    std::uint8_t* line = bitmap.ScanLine(topFirst ? r : height - 1 - r);
    std::uint8_t* buffer = direct ? line : raw.data();
    std::size_t got = 0;
    if (rle) {
      got = decoder.Fill(buffer, width);
    } else {
      const std::size_t bytes = source.Take(buffer, rowBytes);
      got = layout.kind == TPixelKind::Bilevel ? std::min(width, bytes * 8) : bytes / layout.pixelBytes;
      if (direct) std::memset(buffer + got * 3, 0, bytes - got * 3);
    }
    if (bilevel) {
      ConvertTo1(layout.kind, buffer, got, line, width, rightToLeft, table);
    } else if (!direct) {
      std::uint8_t* target = rightToLeft ? line + 3 * (width - 1) : line;
      ConvertTo24(layout.kind, buffer, got, target, rightToLeft ? -3 : 3, table);
    }
    if (got < width) {
      // The data ended: the rows so far stay, the rest stays black.
      if (r == 0) {
        progress.Abort();
      } else {
        progress.AbortWithPartialImage("the data ends after row " + std::to_string(r) + " of " +
                                       std::to_string(height) +
                                       (topFirst ? "" : ", counted from the bottom"));
      }
      break;
    }
  }
  source.Release();
}

// ====================================================================== writer

void TgaWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (bitmap.Empty() || width > kMaxImageSide || height > kMaxImageSide) {
    progress.Abort();
    return;
  }
  const std::int64_t start = stream.Position();
  const std::size_t w = static_cast<std::size_t>(width);

  enum class TOutput { TrueColour, Grey, Mapped };
  TOutput output = TOutput::TrueColour;
  if (params.BitsPerSample == 1)
    output = TOutput::Mapped;
  else if (params.SamplesPerPixel == 1)
    output = params.TgaGrayLevel ? TOutput::Grey : TOutput::Mapped;

  // The pixels to write, as a 24-bit image (or, for two colours, a 1-bit one). The caller's
  // bitmap is never changed: any conversion works on a copy.
  TBitmap converted;
  const TBitmap* image = &bitmap;
  std::vector<TRGB> map;
  std::unique_ptr<TColorQuantizer> quantizer;
  if (output == TOutput::Mapped && params.BitsPerSample == 1) {
    if (bitmap.PixelFormat() == pf1bit) {
      map = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
    } else {
      const TBitmap* colour = &bitmap;
      if (bitmap.PixelFormat() != pf24bit) {
        ConvertTo24Bit(bitmap, converted);
        colour = &converted;
      }
      TRGB c0;
      TRGB c1;
      if (std::unique_ptr<TBitmap> two = TwoColorTo1Bit(*colour, c0, c1)) {
        converted.Swap(*two);
        map = {c0, c1};
      } else {
        if (colour != &converted) CopyBitmap(bitmap, converted);
        DitherTo1Bit(converted, progress);
        map = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
      }
      image = &converted;
    }
  } else if (bitmap.PixelFormat() != pf24bit) {
    ConvertTo24Bit(bitmap, converted);
    image = &converted;
  }
  if (progress.Aborted()) return;
  if (output == TOutput::Mapped && params.BitsPerSample != 1) {
    const int colours = params.BitsPerSample == 4 ? 16 : 256;
    map.assign(static_cast<std::size_t>(colours), TRGB{});
    quantizer = std::make_unique<TColorQuantizer>(*image, map.data(), colours);
    map.resize(static_cast<std::size_t>(std::max(1, quantizer->ColorCount())));
  }
  if (output == TOutput::Mapped) {
    params.SetColorMap(map.size());
    std::copy(map.begin(), map.end(), params.ColorMap.begin());
  }

  const bool rle = params.TgaCompressed;
  THeader h;
  const std::string description = FieldCut(params.TgaDescription, 255);
  h.idLength = static_cast<std::uint8_t>(description.size());
  h.width = static_cast<std::uint16_t>(width);
  h.height = static_cast<std::uint16_t>(height);
  h.xOrigin = static_cast<std::uint16_t>(std::clamp(params.TgaXPos, 0, 65535));
  h.yOrigin = static_cast<std::uint16_t>(std::clamp(params.TgaYPos, 0, 65535));
  h.descriptor = 0;  // bottom-left origin, no alpha bits
  std::uint8_t base = kTrueColour;
  if (output == TOutput::Mapped) {
    base = kColourMapped;
    h.mapType = 1;
    h.mapLength = static_cast<std::uint16_t>(map.size());
    h.mapEntryBits = 24;
    h.pixelBits = 8;
  } else {
    base = output == TOutput::Grey ? kGrey : kTrueColour;
    h.pixelBits = output == TOutput::Grey ? 8 : 24;
  }
  h.imageType = static_cast<std::uint8_t>(base | (rle ? kRunLength : 0));

  std::uint8_t head[kHeaderSize];
  PutHeader(h, head);
  stream.Write(head, kHeaderSize);
  stream.Write(description.data(), description.size());
  if (!map.empty()) {
    std::vector<std::uint8_t> entries;
    entries.reserve(map.size() * 3);
    for (const TRGB& c : map) entries.insert(entries.end(), {c.b, c.g, c.r});
    stream.Write(entries.data(), entries.size());
  }

  const std::size_t pixelBytes = h.pixelBits / 8;
  const std::size_t rowBytes = w * pixelBytes;
  std::vector<std::uint8_t> row(pixelBytes == 3 ? 0 : rowBytes);
  std::vector<std::uint8_t> packed(rle ? w * (pixelBytes + 1) + kPacketSlack : 0);
  std::vector<std::uint64_t> equalBits;

  if (!rle && pixelBytes == 3 && !progress.HasHandler() && image->Stride() == rowBytes) {
    // Bottom-left origin stores rows bottom first, the order of the bitmap's own block.
    stream.Write(image->Bits(), image->ImageBytes());
  } else {
    for (int r = height - 1; r >= 0; --r) {
      ReportRow(progress, height - 1 - r, height);
      if (progress.Aborted()) return;
      const std::uint8_t* line = image->ScanLine(r);
      const std::uint8_t* pixels = line;
      if (output == TOutput::Grey) {
        for (std::size_t x = 0; x < w; ++x) row[x] = GreyOf(line[3 * x], line[3 * x + 1], line[3 * x + 2]);
        pixels = row.data();
      } else if (output == TOutput::Mapped && quantizer) {
        for (std::size_t x = 0; x < w; ++x) {
          row[x] = static_cast<std::uint8_t>(
              quantizer->ColorIndex(TRGB{line[3 * x], line[3 * x + 1], line[3 * x + 2]}));
        }
        pixels = row.data();
      } else if (output == TOutput::Mapped) {
        for (std::size_t x = 0; x < w; ++x) row[x] = (line[x / 8] >> (7 - x % 8)) & 1;
        pixels = row.data();
      }
      if (rle) {
        const std::size_t size = pixelBytes == 3 ? EncodeRow3(pixels, w, equalBits, packed.data())
                                                 : EncodeRow<1>(pixels, w, packed.data());
        stream.Write(packed.data(), size);
      } else {
        stream.Write(pixels, rowBytes);
      }
    }
  }

  // TGA 2.0 extension area, then the footer that points at it.
  std::uint8_t area[kExtensionSize] = {};
  PutLE16(area, kExtensionSize);
  PutTextField(area + kExtAuthor, params.TgaAuthor);
  PutDate(params.TgaDate, area + kExtDate);
  PutTextField(area + kExtJobName, params.TgaName);
  PutTextField(area + kExtSoftwareId, "Veilora");
  area[kExtSoftwareVer + 2] = ' ';  // no version letter
  area[kExtKeyColour] = params.TgaBackground.b;
  area[kExtKeyColour + 1] = params.TgaBackground.g;
  area[kExtKeyColour + 2] = params.TgaBackground.r;
  PutRatio(params.TgaAspectRatio, area + kExtAspect);
  PutRatio(params.TgaGamma, area + kExtGamma);
  const std::int64_t areaAt = stream.Position() - start;
  stream.Write(area, kExtensionSize);

  std::uint8_t footer[kFooterSize] = {};
  PutLE32(footer, static_cast<std::uint32_t>(areaAt));
  std::memcpy(footer + 8, kFooterSignature, kSignatureSize);
  stream.Write(footer, kFooterSize);
}

// ====================================================================== content test

bool IsTgaStream(TStream& stream) {
  const std::int64_t position = stream.Position();
  if (stream.Remaining() < static_cast<std::int64_t>(kHeaderSize)) return false;
  std::uint8_t head[kHeaderSize];
  const bool complete = stream.ReadExact(head, kHeaderSize);
  stream.Seek(position);
  if (!complete) return false;
  // Portable pixmap headers ("P2".."P6") are judged by their third byte alone.
  if (head[0] == 'P' && head[1] >= '2' && head[1] <= '6') {
    return head[2] == ' ' || head[2] == '#' || head[2] == '\n';
  }
  const std::uint8_t type = head[2];
  const std::uint8_t depth = head[16];
  const bool typeKnown = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
  const bool depthKnown = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
  return typeKnown && depthKnown;
}

}  // namespace veilora
