#include "io/GifLZW.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace veilora {

namespace {

constexpr int kMaxWidth = 12;
constexpr int kTableSize = 1 << kMaxWidth;

// The rows of an image in the order its data fill them: top to bottom, or the four interlace
// passes (every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1), skipping a
// pass that has no row inside the image. After the last row, Next gives false.
class TRowOrder {
 public:
  TRowOrder(std::int64_t height, bool interlaced) : height_(height), interlaced_(interlaced) {}
  std::int64_t Row() const { return row_; }
  bool Next() {
    if (!interlaced_) return ++row_ < height_;
    row_ += step_;
    while (row_ >= height_) {
      if (pass_ > 0) step_ /= 2;
      if (++pass_ > 3) return false;
      row_ = step_ / 2;
    }
    return true;
  }

 private:
  std::int64_t height_;
  bool interlaced_;
  std::int64_t row_ = 0;
  std::int64_t step_ = 8;
  int pass_ = 0;
};

// Where decoded indices go: the current row from `out` to `rowEnd`. When the image is full both
// are null and every further byte is dropped.
class TPixelCursor {
 public:
  TPixelCursor(std::uint8_t* dest, std::int64_t width, std::int64_t height, bool interlaced)
      : dest_(dest), width_(width), order_(height, interlaced) {
    if (width > 0 && height > 0) SetRow();
  }

  std::uint8_t* out = nullptr;
  std::uint8_t* rowEnd = nullptr;

  void RowDone() {
    if (order_.Next()) {
      SetRow();
    } else {
      out = nullptr;
      rowEnd = nullptr;
    }
  }

  // Stores bytes at the cursor across row ends, dropping what falls outside the image.
  void Put(const std::uint8_t* bytes, std::size_t count) {
    while (count > 0 && out != nullptr) {
      const std::size_t room = static_cast<std::size_t>(rowEnd - out);
      const std::size_t n = std::min(room, count);
      std::memcpy(out, bytes, n);
      out += n;
      bytes += n;
      count -= n;
      if (out == rowEnd) RowDone();
    }
  }

 private:
  void SetRow() {
    out = dest_ + order_.Row() * width_;
    rowEnd = out + width_;
  }

  std::uint8_t* dest_;
  std::int64_t width_;
  TRowOrder order_;
};

// The decoding table. Entry k is the string of prefix[k] followed by suffix[k]; a prefix is always
// an earlier entry, so every chain ends at a literal after length[k] - 1 steps and cannot loop.
struct TGifTable {
  std::uint16_t prefix[kTableSize];
  std::uint8_t suffix[kTableSize];
  std::uint8_t first[kTableSize];
  std::uint16_t length[kTableSize];
  std::uint8_t stack[kTableSize];
};

// Reads all data sub-blocks that follow; a count larger than what the stream still holds ends the
// data with what is there.
void ReadSubBlocks(TStream& stream, std::vector<std::uint8_t>& data) {
  std::uint8_t block[255];
  for (;;) {
    std::uint8_t count = 0;
    if (stream.Read(&count, 1) != 1 || count == 0) return;
    const std::size_t got = stream.Read(block, count);
    data.insert(data.end(), block, block + got);
    if (got < count) return;
  }
}

enum class TDecodeResult { Success, Failure };

// Decodes into the cursor; `emitted` counts the bytes of every string emitted, stored or dropped.
TDecodeResult Decode(const std::uint8_t* data, std::size_t dataBytes, int codeSize, TPixelCursor& cursor,
                     TGifTable& table, std::int64_t& emitted) {
  const int clear = 1 << codeSize;
  const int end = clear + 1;
  for (int i = 0; i < clear; ++i) {
    table.prefix[i] = 0;
    table.suffix[i] = static_cast<std::uint8_t>(i);
    table.first[i] = static_cast<std::uint8_t>(i);
    table.length[i] = 1;
  }

  const std::size_t totalBits = dataBytes * 8;
  std::size_t bitPosition = 0;
  int width = codeSize + 1;
  int limit = 1 << width;
  int nextFree = clear + 2;
  int previous = -1;  // none: the start of the data or just after a clear

  // The data hold 8 zero bytes beyond dataBytes, so a whole 64-bit word can always be loaded; a
  // code needs all its bits inside the data, else the data have run out.
  auto readCode = [&](int& code) {
    if (bitPosition + static_cast<std::size_t>(width) > totalBits) return false;
    std::uint64_t word;
    std::memcpy(&word, data + (bitPosition >> 3), sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    code = static_cast<int>((word >> (bitPosition & 7)) & ((1u << width) - 1));
    bitPosition += static_cast<std::size_t>(width);
    return true;
  };
  // A full table stays as it is: codes go on at 12 bits, each naming an existing string, until a
  // clear code comes (a "deferred clear"). So nextFree never passes 4096, and a code, at most
  // 4095, is then always below it.
  auto addEntry = [&](std::uint8_t byte) {
    if (nextFree >= kTableSize) return;
    table.prefix[nextFree] = static_cast<std::uint16_t>(previous);
    table.suffix[nextFree] = byte;
    table.first[nextFree] = table.first[previous];
    table.length[nextFree] = static_cast<std::uint16_t>(table.length[previous] + 1);
    if (++nextFree >= limit && width < kMaxWidth) {
      ++width;
      limit <<= 1;
    }
  };
  // The cursor's row pointers, in locals while decoding: the byte stores into the rows could
  // otherwise alias them.
  std::uint8_t* out = cursor.out;
  std::uint8_t* rowEnd = cursor.rowEnd;
  // Emits the string of a code below nextFree: straight into the row, last byte first, when it
  // fits there; else through the stack.
  auto emit = [&](int code) {
    const std::size_t length = table.length[code];
    emitted += static_cast<std::int64_t>(length);
    const bool direct = length <= static_cast<std::size_t>(rowEnd - out);
    std::uint8_t* p = direct ? out : table.stack;
    for (std::size_t i = length - 1; i > 0; --i) {
      p[i] = table.suffix[code];
      code = table.prefix[code];
    }
    p[0] = table.suffix[code];
    if (direct) {
      out += length;
      if (out != rowEnd) return;
      cursor.RowDone();
    } else {
      cursor.out = out;
      cursor.Put(table.stack, length);
    }
    out = cursor.out;
    rowEnd = cursor.rowEnd;
  };

  int code;
  if (!readCode(code)) return TDecodeResult::Success;
  while (code != end) {
    if (code == clear) {
      width = codeSize + 1;
      limit = 1 << width;
      nextFree = clear + 2;
      do {
        if (!readCode(code)) return TDecodeResult::Success;
      } while (code == clear);
      if (code == end) return TDecodeResult::Failure;
      previous = -1;
    }
    if (previous < 0) {
      // Data that begin without a clear code are read as if one came first. The first code of a
      // table must be a literal; anything else stands for index 0.
      if (code >= nextFree) code = 0;
      emit(code);
    } else if (code < nextFree) {
      emit(code);
      addEntry(table.first[code]);
    } else if (code == nextFree) {
      // The string being defined: the previous one followed by its own first byte.
      addEntry(table.first[previous]);
      emit(code);
    } else {
      return TDecodeResult::Failure;
    }
    previous = code;
    if (!readCode(code)) return TDecodeResult::Success;
  }
  return TDecodeResult::Success;
}

// ---------------------------------------------------------------- encoding

class TGifEncoder {
 public:
  TGifEncoder(TStream& stream, int codeSize)
      : stream_(stream),
        initialWidth_(codeSize + 1),
        width_(codeSize + 1),
        maxCode_((1 << (codeSize + 1)) - 1),
        clear_(1 << codeSize),
        nextFree_(clear_ + 2) {
    out_.reserve(kChunk + 512);
    out_.push_back(static_cast<std::uint8_t>(codeSize));
    BeginBlock();
  }

  int Clear() const { return clear_; }
  int End() const { return clear_ + 1; }

  // Writes a code at the width in force, then adjusts the width for the next one.
  void Output(int code) {
    accumulator_ |= static_cast<std::uint32_t>(code) << bits_;
    bits_ += width_;
    while (bits_ >= 8) {
      PutByte(static_cast<std::uint8_t>(accumulator_));
      accumulator_ >>= 8;
      bits_ -= 8;
    }
    if (nextFree_ > maxCode_ || clearPending_) {
      if (clearPending_) {
        width_ = initialWidth_;
        maxCode_ = (1 << width_) - 1;
        clearPending_ = false;
      } else {
        ++width_;
        // At 12 bits the limit is one past the largest code, so the width never passes 12.
        maxCode_ = width_ == kMaxWidth ? kTableSize : (1 << width_) - 1;
      }
    }
    if (code == End()) {
      while (bits_ > 0) {
        PutByte(static_cast<std::uint8_t>(accumulator_));
        accumulator_ >>= 8;
        bits_ = std::max(0, bits_ - 8);
      }
      EndBlock();
    }
  }

  // The run of pixels in order: one hash lookup each while the current string can be extended.
  void Encode(const std::uint8_t* pixels, std::size_t count, int mask, int& ent) {
    for (std::size_t k = 0; k < count; ++k) {
      const int c = pixels[k] & mask;
      const std::int32_t key = (c << kMaxWidth) + ent;
      int i = (c << 4) ^ ent;
      if (keys_[i] == key) {
        ent = codes_[i];
        continue;
      }
      if (keys_[i] >= 0) {
        const int step = i == 0 ? 1 : kSlots - i;
        bool found = false;
        do {
          i -= step;
          if (i < 0) i += kSlots;
          if (keys_[i] == key) {
            found = true;
            break;
          }
        } while (keys_[i] > 0);
        if (found) {
          ent = codes_[i];
          continue;
        }
      }
      Output(ent);
      ent = c;
      if (nextFree_ < kTableSize) {
        keys_[i] = key;
        codes_[i] = static_cast<std::uint16_t>(nextFree_++);
      } else {
        ResetTable();
        nextFree_ = clear_ + 2;
        clearPending_ = true;
        Output(clear_);
      }
    }
  }

  void ResetTable() { std::fill(std::begin(keys_), std::end(keys_), -1); }

  // After the end code the sub-block begun last is empty: its zero count byte is the block
  // terminator. Everything still held goes to the stream.
  void Finish() {
    stream_.Write(out_.data(), out_.size());
    out_.clear();
  }

 private:
  static constexpr int kSlots = 5003;  // a prime, so the secondary probe visits every slot
  static constexpr std::size_t kBlock = 254;
  // Finished sub-blocks are gathered and written to the stream in chunks of about this size.
  static constexpr std::size_t kChunk = 32768;

  void BeginBlock() {
    countAt_ = out_.size();
    out_.push_back(0);
  }
  void EndBlock() {
    const std::size_t held = out_.size() - countAt_ - 1;
    if (held == 0) {
      out_.pop_back();
    } else {
      out_[countAt_] = static_cast<std::uint8_t>(held);
      if (out_.size() >= kChunk) {
        stream_.Write(out_.data(), out_.size());
        out_.clear();
      }
    }
    BeginBlock();
  }
  void PutByte(std::uint8_t byte) {
    out_.push_back(byte);
    if (out_.size() - countAt_ - 1 == kBlock) EndBlock();
  }

  TStream& stream_;
  std::vector<std::uint8_t> out_;
  std::size_t countAt_ = 0;  // where the count byte of the sub-block being filled goes
  std::uint32_t accumulator_ = 0;
  int bits_ = 0;
  int initialWidth_;
  int width_;
  int maxCode_;
  int clear_;
  int nextFree_;
  bool clearPending_ = false;
  std::int32_t keys_[kSlots];
  std::uint16_t codes_[kSlots];
};

}  // namespace

std::int64_t GifLzwDecode(TStream& stream, std::int32_t height, std::int32_t width, bool interlaced,
                          std::uint8_t* dest) {
  const std::int64_t start = stream.Position();
  std::uint8_t codeSize = 0;
  if (stream.Read(&codeSize, 1) != 1 || codeSize < 2 || codeSize > 9) {
    stream.Seek(start);
    return 0;
  }
  std::vector<std::uint8_t> data;
  ReadSubBlocks(stream, data);
  const std::size_t dataBytes = data.size();
  if (dataBytes == 0) return 0;
  data.resize(dataBytes + 8, 0);

  const bool hasPixels = width > 0 && height > 0 && dest != nullptr;
  TPixelCursor cursor(dest, hasPixels ? width : 0, hasPixels ? height : 0, interlaced);
  auto table = std::make_unique<TGifTable>();
  std::int64_t emitted = 0;
  if (Decode(data.data(), dataBytes, codeSize, cursor, *table, emitted) == TDecodeResult::Failure) {
    stream.Seek(start);
  }
  // Strings fill the image in order and what runs past its end is dropped.
  const std::int64_t pixels = hasPixels ? std::int64_t{width} * height : 0;
  return std::min(emitted, pixels);
}

void GifLzwEncode(TStream& stream, std::int32_t height, std::int32_t width, bool interlaced,
                  const std::uint8_t* source, std::int32_t bitsPerPixel) {
  const int codeSize = std::clamp(bitsPerPixel, 2, 8);
  const int mask = (1 << codeSize) - 1;
  auto encoder = std::make_unique<TGifEncoder>(stream, codeSize);
  if (width <= 0 || height <= 0 || source == nullptr) {
    // No pixels: only the end code, which a reader takes as empty data.
    encoder->Output(encoder->End());
    encoder->Finish();
    return;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width);
  TRowOrder order(height, interlaced);
  const std::uint8_t* row = source + static_cast<std::size_t>(order.Row()) * rowBytes;
  int ent = row[0] & mask;
  encoder->ResetTable();
  encoder->Output(encoder->Clear());
  encoder->Encode(row + 1, rowBytes - 1, mask, ent);
  while (order.Next()) {
    encoder->Encode(source + static_cast<std::size_t>(order.Row()) * rowBytes, rowBytes, mask, ent);
  }
  encoder->Output(ent);
  encoder->Output(encoder->End());
  encoder->Finish();
}

}  // namespace veilora
