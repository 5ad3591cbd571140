#include "io/FaxCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "io/Codec.h"

namespace veilora {

namespace {

// ---------------------------------------------------------------------------------------------
// Code tables of ITU-T T.4, written as the bit strings the recommendation prints.

// Terminating codes, run lengths 0..63.
constexpr std::array<const char*, 64> kWhiteTerminating = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};

constexpr std::array<const char*, 64> kBlackTerminating = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",
    "0010",         "00011",        "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",    "0000010111",   "0000011000",
    "0000001000",   "00001100111",  "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100", "000000110111",
    "000000111000", "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111",
};

// Make-up codes, run lengths 64, 128, ... 1728.
constexpr std::array<const char*, 27> kWhiteMakeUp = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011",
};

constexpr std::array<const char*, 27> kBlackMakeUp = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",  "000000110100",
    "000000110101",  "0000001101100", "0000001101101", "0000001001010", "0000001001011", "0000001001100",
    "0000001001101", "0000001110010", "0000001110011", "0000001110100", "0000001110101", "0000001110110",
    "0000001110111", "0000001010010", "0000001010011", "0000001010100", "0000001010101", "0000001011010",
    "0000001011011", "0000001100100", "0000001100101",
};

// Make-up codes 1792, 1856, ... 2560, the same for both colours.
constexpr std::array<const char*, 13> kExtendedMakeUp = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111",
};

constexpr const char* kEolBits = "000000000001";
constexpr int kEolLength = 12;
constexpr int kMaxMakeUp = 2560;

// Two-dimensional mode codes.
enum TMode : std::int8_t { kPass, kHorizontal, kV0, kVR1, kVR2, kVR3, kVL1, kVL2, kVL3, kModeCount };
constexpr std::array<const char*, kModeCount> kModeBits = {
    "0001", "001", "1", "011", "000011", "0000011", "010", "000010", "0000010",
};
// The offset a1 - b1 of each vertical mode, indexed by mode.
constexpr std::array<int, kModeCount> kVerticalOffset = {0, 0, 0, 1, 2, 3, -1, -2, -3};

struct TCode {
  std::uint16_t bits = 0;  // right-aligned
  std::uint8_t length = 0;
};

constexpr TCode ParseCode(const char* text) {
  TCode code;
  for (; *text != '\0'; ++text) {
    code.bits = static_cast<std::uint16_t>((code.bits << 1) | (*text == '1' ? 1 : 0));
    ++code.length;
  }
  return code;
}

// Decoding looks up the next 13 bits (the longest run code) or 7 bits (the longest mode code).
constexpr int kRunLookupBits = 13;
constexpr int kModeLookupBits = 7;
constexpr std::int16_t kInvalidRun = -1;
constexpr std::int16_t kEolRun = -2;

struct TRunEntry {
  std::int16_t run = kInvalidRun;  // run length (a make-up code when >= 64), kEolRun or kInvalidRun
  std::uint8_t length = 0;
};

struct TModeEntry {
  std::int8_t mode = -1;
  std::uint8_t length = 0;
};

struct TTables {
  // Encoding: [colour][run] for 0..63, [colour][run / 64 - 1] for the make-up codes 64..2560.
  TCode terminating[2][64];
  TCode makeUp[2][kMaxMakeUp / 64];
  TCode eol;
  TCode modes[kModeCount];
  // Decoding.
  std::array<TRunEntry, 1 << kRunLookupBits> runs[2];
  std::array<TModeEntry, 1 << kModeLookupBits> modeLookup;
  std::uint8_t reversed[256];

  TTables() {
    for (int colour = 0; colour < 2; ++colour) {
      const auto& term = colour == 0 ? kWhiteTerminating : kBlackTerminating;
      const auto& make = colour == 0 ? kWhiteMakeUp : kBlackMakeUp;
      for (int run = 0; run < 64; ++run) {
        terminating[colour][run] = ParseCode(term[run]);
        AddRun(colour, terminating[colour][run], static_cast<std::int16_t>(run));
      }
      for (std::size_t i = 0; i < make.size(); ++i) {
        makeUp[colour][i] = ParseCode(make[i]);
        AddRun(colour, makeUp[colour][i], static_cast<std::int16_t>(64 * (i + 1)));
      }
      for (std::size_t i = 0; i < kExtendedMakeUp.size(); ++i) {
        const std::size_t index = make.size() + i;
        makeUp[colour][index] = ParseCode(kExtendedMakeUp[i]);
        AddRun(colour, makeUp[colour][index], static_cast<std::int16_t>(64 * (index + 1)));
      }
      eol = ParseCode(kEolBits);
      AddRun(colour, eol, kEolRun);
    }
    for (int mode = 0; mode < kModeCount; ++mode) {
      modes[mode] = ParseCode(kModeBits[mode]);
      const int spread = kModeLookupBits - modes[mode].length;
      const int first = modes[mode].bits << spread;
      for (int i = 0; i < (1 << spread); ++i) {
        modeLookup[first + i] = {static_cast<std::int8_t>(mode), modes[mode].length};
      }
    }
    for (int value = 0; value < 256; ++value) {
      int out = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if ((value >> bit) & 1) out |= 0x80 >> bit;
      }
      reversed[value] = static_cast<std::uint8_t>(out);
    }
  }

  void AddRun(int colour, TCode code, std::int16_t run) {
    const int spread = kRunLookupBits - code.length;
    const int first = code.bits << spread;
    for (int i = 0; i < (1 << spread); ++i) runs[colour][first + i] = {run, code.length};
  }
};

const TTables& Tables() {
  static const TTables tables;
  return tables;
}

// ---------------------------------------------------------------------------------------------
// Reading bits, most significant first, from a strip whose bytes may be stored bit-reversed.

class TBitReader {
 public:
  TBitReader(const std::uint8_t* data, std::size_t bytes, const std::uint8_t* reverse)
      : data_(data), bytes_(bytes), bitCount_(static_cast<std::uint64_t>(bytes) * 8), reverse_(reverse) {}

  std::uint64_t Position() const { return position_; }
  void SetPosition(std::uint64_t position) { position_ = position; }
  std::uint64_t Remaining() const { return position_ < bitCount_ ? bitCount_ - position_ : 0; }
  bool AtEnd() const { return position_ >= bitCount_; }
  void Skip(int count) { position_ += static_cast<std::uint64_t>(count); }
  void AlignToByte() { position_ = (position_ + 7) & ~std::uint64_t{7}; }

  // The next `count` (1..24) bits, with zeros past the end of the data.
  std::uint32_t Peek(int count) const {
    const std::uint64_t first = position_ >> 3;
    std::uint32_t word = 0;
    for (std::uint64_t i = first; i < first + 4; ++i) word = (word << 8) | Byte(i);
    word <<= (position_ & 7);
    return word >> (32 - count);
  }

  // Leading zero bits from the position up to the next one bit or the end of the data.
  std::uint64_t CountZeros() const {
    std::uint64_t at = position_;
    while (at < bitCount_) {
      const std::uint8_t byte = static_cast<std::uint8_t>(Byte(at >> 3) << (at & 7));
      if (byte != 0) return at - position_ + static_cast<std::uint64_t>(std::countl_zero(byte));
      at = (at | 7) + 1;
    }
    return bitCount_ - position_;
  }

 private:
  std::uint32_t Byte(std::uint64_t index) const {
    if (index >= bytes_) return 0;
    return reverse_ != nullptr ? reverse_[data_[index]] : data_[index];
  }

  const std::uint8_t* data_;
  std::size_t bytes_;
  std::uint64_t bitCount_;
  std::uint64_t position_ = 0;
  const std::uint8_t* reverse_;
};

// The changing elements of a row: the positions where the colour changes, white to black at even
// indices, black to white at odd ones, strictly increasing and below the width. Two changes at the
// same position cancel (a zero-length run in the middle of a row).
class TChanges {
 public:
  explicit TChanges(std::int32_t width) : width_(width), positions_(static_cast<std::size_t>(width) + 4) {}

  void Clear() { count_ = 0; }
  std::int32_t Count() const { return count_; }
  void Add(std::int32_t position) {
    if (position >= width_) return;
    if (count_ > 0 && positions_[count_ - 1] == position) {
      --count_;
    } else {
      positions_[count_++] = position;
    }
  }
  // Ends the list with the width, so that searches stop there (b1 and b2 beyond the last change).
  void Terminate() {
    for (int i = 0; i < 3; ++i) positions_[count_ + i] = width_;
  }
  std::int32_t operator[](std::int32_t index) const { return positions_[index]; }

  // Sets the black spans of a packed row and clears the rest.
  void Render(std::uint8_t* row) const {
    std::memset(row, 0, (static_cast<std::size_t>(width_) + 7) / 8);
    for (std::int32_t i = 0; i < count_; i += 2) {
      SetBits(row, positions_[i], i + 1 < count_ ? positions_[i + 1] : width_);
    }
  }

  // Reads the changes of a packed row.
  void FromRow(const std::uint8_t* row) {
    count_ = 0;
    std::int32_t x = 0;
    int colour = 0;
    while (x < width_) {
      x = NextChange(row, x, colour);
      if (x < width_) positions_[count_++] = x;
      colour ^= 1;
    }
  }

 private:
  static void SetBits(std::uint8_t* row, std::int32_t from, std::int32_t to) {
    while (from < to && (from & 7) != 0) {
      row[from >> 3] |= static_cast<std::uint8_t>(0x80 >> (from & 7));
      ++from;
    }
    if (to - from >= 8) {
      std::memset(row + (from >> 3), 0xFF, static_cast<std::size_t>((to - from) >> 3));
      from += (to - from) & ~7;
    }
    for (; from < to; ++from) row[from >> 3] |= static_cast<std::uint8_t>(0x80 >> (from & 7));
  }

  // The first position at or after x whose pixel is not `colour`, or the width.
  std::int32_t NextChange(const std::uint8_t* row, std::int32_t x, int colour) const {
    const std::uint8_t same = colour != 0 ? 0xFF : 0x00;
    while (x < width_) {
      const std::uint8_t differ = static_cast<std::uint8_t>((row[x >> 3] ^ same) << (x & 7));
      if (differ != 0) return std::min(width_, x + std::countl_zero(differ));
      x = (x | 7) + 1;
    }
    return width_;
  }

  std::int32_t width_;
  std::vector<std::int32_t> positions_;
  std::int32_t count_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Decoding.

// One run of a colour: make-up codes and a terminating code. Returns the length, or -1 for a code
// that does not exist, an end-of-line, data that ends or a run longer than `limit`.
std::int32_t DecodeRun(TBitReader& in, int colour, std::int32_t limit) {
  const auto& lookup = Tables().runs[colour];
  std::int32_t total = 0;
  for (;;) {
    const TRunEntry entry = lookup[in.Peek(kRunLookupBits)];
    if (entry.run < 0 || entry.length > in.Remaining()) return -1;
    in.Skip(entry.length);
    total += entry.run;
    if (total > limit) return -1;
    if (entry.run < 64) return total;
  }
}

bool Decode1DRow(TBitReader& in, std::int32_t width, TChanges& cur) {
  cur.Clear();
  std::int32_t a0 = 0;
  int colour = 0;
  while (a0 < width) {
    const std::int32_t run = DecodeRun(in, colour, width - a0);
    if (run < 0) return false;
    a0 += run;
    cur.Add(a0);
    colour ^= 1;
  }
  return true;
}

bool Decode2DRow(TBitReader& in, std::int32_t width, const TChanges& ref, TChanges& cur) {
  const auto& modes = Tables().modeLookup;
  cur.Clear();
  std::int32_t a0 = -1;  // the imaginary white element before the row
  int colour = 0;
  std::int32_t k = 0;  // the first changing element of the reference row to the right of a0
  while (a0 < width) {
    while (ref[k] <= a0) ++k;
    const std::int32_t j = k + ((k ^ colour) & 1);  // b1 has the colour opposite to a0's
    const std::int32_t b1 = ref[j];
    const std::int32_t b2 = ref[j + 1];
    const TModeEntry entry = modes[in.Peek(kModeLookupBits)];
    if (entry.mode < 0 || entry.length > in.Remaining()) return false;
    in.Skip(entry.length);
    if (entry.mode == kPass) {
      if (b2 >= width) return false;  // nothing on the row above to pass
      a0 = b2;
    } else if (entry.mode == kHorizontal) {
      const std::int32_t start = std::max(a0, 0);
      const std::int32_t run1 = DecodeRun(in, colour, width - start);
      if (run1 < 0) return false;
      const std::int32_t run2 = DecodeRun(in, colour ^ 1, width - start - run1);
      if (run2 < 0) return false;
      cur.Add(start + run1);
      cur.Add(start + run1 + run2);
      a0 = start + run1 + run2;
    } else {
      const std::int32_t a1 = b1 + kVerticalOffset[entry.mode];
      if (a1 <= a0 || a1 > width) return false;
      cur.Add(a1);
      a0 = a1;
      colour ^= 1;
    }
  }
  return true;
}

// Group 3: consumes the end-of-line codes (with any fill bits) before a row. Returns how many
// were read, or -1 when the data ends or the return-to-control sequence (six end-of-lines) ends
// the page. `tag` receives the bit after the last end-of-line in two-dimensional data.
int ReadEols(TBitReader& in, bool twoDimensional, int& tag) {
  int eols = 0;
  for (;;) {
    const std::uint64_t zeros = in.CountZeros();
    if (zeros >= in.Remaining()) return -1;  // only zeros left
    if (zeros < kEolLength - 1) return eols;
    in.SetPosition(in.Position() + zeros + 1);
    if (++eols >= 6) return -1;
    if (twoDimensional) {
      if (in.AtEnd()) return -1;
      tag = static_cast<int>(in.Peek(1));
      in.Skip(1);
    }
  }
}

// Some writers close a one-dimensional row with a zero-length run of the next colour; skips it
// when an end-of-line follows.
void SkipClosingZeroRun(TBitReader& in, int colour) {
  const std::uint64_t start = in.Position();
  if (DecodeRun(in, colour, 0) == 0) {
    const std::uint64_t zeros = in.CountZeros();
    if (zeros >= kEolLength - 1 && zeros < in.Remaining()) return;
  }
  in.SetPosition(start);
}

}  // namespace

std::int32_t FaxDecodeStrip(const std::uint8_t* data, std::size_t bytes, const TFaxOptions& options,
                            std::int32_t width, std::int32_t rows, std::uint8_t* dest) {
  if (data == nullptr || bytes == 0 || dest == nullptr || width <= 0 || rows <= 0 || width > kMaxImageSide)
    return 0;
  const TTables& tables = Tables();
  TBitReader in(data, bytes, options.lsbFirst ? tables.reversed : nullptr);
  const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
  TChanges first(width), second(width);
  TChanges* ref = &first;
  TChanges* cur = &second;
  ref->Terminate();    // the imaginary white row above the first
  int nextColour = 0;  // the colour that would follow the last row's final run
  for (std::int32_t row = 0; row < rows; ++row) {
    bool twoD = false;
    switch (options.scheme) {
      case TFaxScheme::ModifiedHuffman: {
        const std::uint64_t rowEnd = in.Position();
        in.AlignToByte();
        if (Decode1DRow(in, width, *cur)) break;
        // The row above may close with a zero-length run of the next colour before its padding.
        in.SetPosition(rowEnd);
        if (row == 0 || DecodeRun(in, nextColour, 0) != 0) return row;
        in.AlignToByte();
        if (!Decode1DRow(in, width, *cur)) return row;
        break;
      }
      case TFaxScheme::Group3: {
        int tag = 1;
        const int eols = ReadEols(in, options.twoDimensional, tag);
        if (eols < 0) return row;
        // Without an end-of-line there is no tag bit: one-dimensional data may leave the codes
        // out, two-dimensional data only before its first row (which is one-dimensional).
        if (eols == 0 && options.twoDimensional && row > 0) return row;
        twoD = options.twoDimensional && eols > 0 && tag == 0;
        if (twoD ? !Decode2DRow(in, width, *ref, *cur) : !Decode1DRow(in, width, *cur)) return row;
        if (!twoD) SkipClosingZeroRun(in, (cur->Count() & 1) ^ 1);
        break;
      }
      case TFaxScheme::Group4:
        if (!Decode2DRow(in, width, *ref, *cur)) return row;
        break;
    }
    nextColour = (cur->Count() & 1) ^ 1;
    cur->Render(dest + static_cast<std::size_t>(row) * rowBytes);
    cur->Terminate();
    std::swap(ref, cur);
  }
  return rows;
}

// ---------------------------------------------------------------------------------------------
// Encoding.

namespace {

// Rows of Group 3 two-dimensional data between one-dimensional rows: K = 4, as T.4 allows for
// all resolutions, so that a damaged row spoils at most three more.
constexpr int kGroup3K = 4;

}  // namespace

struct TFaxEncoder::TState {
  TStream& output;
  TFaxOptions options;
  std::int32_t width;
  std::int64_t rowIndex = 0;
  std::uint64_t bitsWritten = 0;
  std::uint32_t pending = 0;  // bits not yet in `buffer`, right-aligned
  int pendingCount = 0;
  std::vector<std::uint8_t> buffer;
  TChanges ref;
  TChanges cur;
  bool finished = false;

  TState(TStream& out, const TFaxOptions& opts, std::int32_t w)
      : output(out), options(opts), width(w), ref(std::max(w, 1)), cur(std::max(w, 1)) {
    ref.Terminate();
  }

  void Put(TCode code) {
    pending = (pending << code.length) | code.bits;
    pendingCount += code.length;
    bitsWritten += code.length;
    while (pendingCount >= 8) {
      pendingCount -= 8;
      buffer.push_back(static_cast<std::uint8_t>(pending >> pendingCount));
    }
  }

  void PutZeros(int count) {
    for (; count > 0; count -= std::min(count, 8)) Put({0, static_cast<std::uint8_t>(std::min(count, 8))});
  }

  void PadToByte() { PutZeros(static_cast<int>((8 - bitsWritten % 8) % 8)); }

  void PutRun(int colour, std::int32_t run) {
    const TTables& tables = Tables();
    while (run >= kMaxMakeUp) {
      Put(tables.makeUp[colour][kMaxMakeUp / 64 - 1]);
      run -= kMaxMakeUp;
    }
    if (run >= 64) {
      Put(tables.makeUp[colour][run / 64 - 1]);
      run %= 64;
    }
    Put(tables.terminating[colour][run]);
  }

  void PutEol() {
    // With byte-aligned end-of-lines, fill bits make each code end on a byte boundary.
    if (options.alignedEol) PutZeros(static_cast<int>((8 - (bitsWritten + kEolLength) % 8) % 8));
    Put(Tables().eol);
  }

  void Encode1D() {
    std::int32_t a0 = 0;
    for (std::int32_t i = 0; a0 < width; ++i) {
      const std::int32_t a1 = i < cur.Count() ? cur[i] : width;
      PutRun(i & 1, a1 - a0);
      a0 = a1;
    }
  }

  void Encode2D() {
    const TTables& tables = Tables();
    std::int32_t a0 = -1;
    int colour = 0;
    std::int32_t k = 0;  // first reference change to the right of a0
    std::int32_t c = 0;  // first coding-row change to the right of a0
    while (a0 < width) {
      while (ref[k] <= a0) ++k;
      while (cur[c] <= a0) ++c;
      const std::int32_t j = k + ((k ^ colour) & 1);
      const std::int32_t b1 = ref[j];
      const std::int32_t b2 = ref[j + 1];
      const std::int32_t a1 = cur[c];
      if (b2 < a1) {
        Put(tables.modes[kPass]);
        a0 = b2;
      } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
        static constexpr TMode kByOffset[7] = {kVL3, kVL2, kVL1, kV0, kVR1, kVR2, kVR3};
        Put(tables.modes[kByOffset[a1 - b1 + 3]]);
        a0 = a1;
        colour ^= 1;
      } else {
        const std::int32_t a2 = cur[c + 1];
        const std::int32_t start = std::max(a0, 0);
        Put(tables.modes[kHorizontal]);
        PutRun(colour, a1 - start);
        PutRun(colour ^ 1, a2 - a1);
        a0 = a2;
      }
    }
  }

  void Flush() {
    if (!buffer.empty()) output.Write(buffer.data(), buffer.size());
    buffer.clear();
  }
};

TFaxEncoder::TFaxEncoder(TStream& output, const TFaxOptions& options, std::int32_t width)
    : state_(std::make_unique<TState>(output, options, width)) {}

TFaxEncoder::~TFaxEncoder() = default;

void TFaxEncoder::EncodeRow(const std::uint8_t* row) {
  TState& s = *state_;
  if (s.width <= 0 || s.finished) return;
  s.cur.FromRow(row);
  s.cur.Terminate();
  switch (s.options.scheme) {
    case TFaxScheme::ModifiedHuffman:
      s.Encode1D();
      s.PadToByte();
      break;
    case TFaxScheme::Group3:
      s.PutEol();
      if (!s.options.twoDimensional) {
        s.Encode1D();
      } else if (s.rowIndex % kGroup3K == 0) {
        s.Put({1, 1});
        s.Encode1D();
      } else {
        s.Put({0, 1});
        s.Encode2D();
      }
      break;
    case TFaxScheme::Group4: s.Encode2D(); break;
  }
  std::swap(s.ref, s.cur);
  ++s.rowIndex;
  s.Flush();
}

void TFaxEncoder::Finish() {
  TState& s = *state_;
  if (s.finished) return;
  s.finished = true;
  if (s.width > 0) {
    if (s.options.scheme == TFaxScheme::Group3) {
      // Return to control: six end-of-lines (each with a tag bit 1 in two-dimensional data).
      for (int i = 0; i < 6; ++i) {
        s.PutEol();
        if (s.options.twoDimensional) s.Put({1, 1});
      }
    } else if (s.options.scheme == TFaxScheme::Group4) {
      // End of facsimile block: two end-of-lines.
      s.Put(Tables().eol);
      s.Put(Tables().eol);
    }
  }
  s.PadToByte();
  s.Flush();
}

}  // namespace veilora
