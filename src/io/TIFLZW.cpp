#include "io/TIFLZW.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace veilora {

namespace {

constexpr int kClear = 256;
constexpr int kEnd = 257;
constexpr int kFirstFree = 258;
constexpr int kTableSize = 4096;

// ---------------------------------------------------------------- decoding

// Decodes codes until the buffer holds a whole row, the strip ends or the data prove bad. The
// working values live in locals for the length of the call (the byte stores into the buffer could
// otherwise alias them) and go back into the state at the end.
class TRowDecoder {
 public:
  explicit TRowDecoder(TTiffLzwDecoder& state)
      : s_(state),
        out_(state.buffer.data()),
        data_(state.data),
        dataBytes_(state.dataBytes),
        bitPosition_(state.bitPosition),
        held_(state.held),
        width_(state.width),
        previous_(state.previous),
        count_(state.count) {}
  ~TRowDecoder() {
    s_.bitPosition = bitPosition_;
    s_.held = held_;
    s_.width = width_;
    s_.previous = previous_;
    s_.count = count_;
  }
  TRowDecoder(const TRowDecoder&) = delete;
  TRowDecoder& operator=(const TRowDecoder&) = delete;

  // False when the data prove bad.
  bool Run(std::size_t rowLength) {
    while (held_ < rowLength) {
      int code;
      if (!NextCode(code)) {
        s_.finished = true;
        return true;
      }
      if (code == kClear) {
        // Several clear codes in a row are one.
        do {
          count_ = kFirstFree;
          width_ = 9;
          if (!NextCode(code)) {
            s_.finished = true;
            return true;
          }
        } while (code == kClear);
        previous_ = -1;
      }
      if (code == kEnd) {
        s_.finished = true;
        return true;
      }
      if (previous_ < 0) {
        // The first code of the strip or after a clear: no string to extend yet, so it must be a
        // literal, and it adds no entry.
        if (code >= kFirstFree) return false;
        out_[held_++] = static_cast<std::uint8_t>(code);
      } else if (code < count_) {
        PutString(code);
        if (!AddEntry(s_.head[code][0])) return false;
      } else if (code == count_) {
        // The string being defined: the previous one followed by its own first byte.
        if (!AddEntry(s_.head[previous_][0])) return false;
        PutString(code);
      } else {
        return false;
      }
      previous_ = code;
    }
    return true;
  }

 private:
  // The next code, or false when fewer bits than the code width remain: data that run out end the
  // strip as an end code would. Bytes past dataBytes are never read.
  bool NextCode(int& code) {
    const std::size_t position = bitPosition_;
    const std::size_t dataBytes = dataBytes_;
    if (position + static_cast<std::size_t>(width_) > dataBytes * 8) return false;
    const std::size_t at = position >> 3;
    const std::uint8_t* p = data_ + at;
    std::uint32_t window;
    if (at + 4 <= dataBytes) {
      window = static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
               static_cast<std::uint32_t>(p[2]) << 8 | p[3];
    } else {
      window = 0;
      for (std::size_t i = 0; i < 4; ++i) window = (window << 8) | (at + i < dataBytes ? p[i] : 0u);
    }
    code = static_cast<int>((window << (position & 7)) >> (32 - width_));
    bitPosition_ = position + static_cast<std::size_t>(width_);
    return true;
  }

  // Adds the string of the previous code followed by `byte`; false when the table is already full.
  bool AddEntry(std::uint8_t byte) {
    const int entry = count_;
    if (entry >= kTableSize) return false;
    const std::size_t priorLength = s_.length[previous_];
    s_.prefix[entry] = static_cast<std::uint16_t>(previous_);
    s_.suffix[entry] = byte;
    s_.length[entry] = static_cast<std::uint16_t>(priorLength + 1);
    std::memcpy(s_.head[entry], s_.head[previous_], 8);
    if (priorLength < 8) s_.head[entry][priorLength] = byte;
    count_ = entry + 1;
    // Early change: the width grows one code before the power of two.
    if (count_ == 511 || count_ == 1023 || count_ == 2047) ++width_;
    return true;
  }

  // Writes the string of `code` (below the count) after the held bytes: the bytes past the first 8
  // last byte first, then the first 8 in one copy. The copy may write up to 7 bytes past the
  // string, which the buffer's room for the longest string covers (held_ is below the row length).
  void PutString(int code) {
    const std::size_t length = s_.length[code];
    std::uint8_t* p = out_ + held_ + length - 1;
    while (s_.length[code] > 8) {
      *p-- = s_.suffix[code];
      code = s_.prefix[code];
    }
    std::memcpy(out_ + held_, s_.head[code], 8);
    held_ += length;
  }

  TTiffLzwDecoder& s_;
  std::uint8_t* const out_;
  const std::uint8_t* const data_;
  const std::size_t dataBytes_;
  std::size_t bitPosition_;
  std::size_t held_;
  int width_;
  int previous_;
  int count_;
};

const std::uint8_t* DecodeRow(TTiffLzwDecoder& s) {
  if (s.failed) return nullptr;
  const std::size_t rowLength = s.rowLength;
  std::uint8_t* out = s.buffer.data();
  // Past the end of the strip every row is zero, and the buffer already holds one.
  if (s.zeroRow) return out;
  // The last code of the previous row may have run past its end: those bytes begin this row.
  if (s.held > rowLength) {
    std::memmove(out, out + rowLength, s.held - rowLength);
    s.held -= rowLength;
  } else {
    s.held = 0;
  }
  if (!s.finished) {
    bool good;
    {
      TRowDecoder decoder(s);
      good = decoder.Run(rowLength);
    }
    if (!good) {
      s.failed = true;
      return nullptr;
    }
  }
  if (s.held < rowLength) {
    s.zeroRow = s.held == 0;
    std::memset(out + s.held, 0, rowLength - s.held);
    s.held = rowLength;
  }
  return out;
}

// ---------------------------------------------------------------- encoding

// Bytes are gathered before they go to the stream; the size only sets how often the stream is
// called, not what is written.
constexpr std::size_t kWriteChunk = 8192;

// Codes one call's bytes. As in decoding, the working values live in locals for the call and go
// back into the state at its end (also when a stream write raises).
class TEncodeRun {
 public:
  explicit TEncodeRun(TTiffLzwEncoder& state)
      : e_(state),
        out_(state.buffer.data()),
        used_(state.used),
        accumulator_(state.accumulator),
        bits_(state.bits),
        width_(state.width),
        largest_(state.largest),
        nextFree_(state.nextFree),
        pendingReset_(state.pendingReset) {}
  ~TEncodeRun() {
    e_.used = used_;
    e_.accumulator = accumulator_;
    e_.bits = bits_;
    e_.width = width_;
    e_.largest = largest_;
    e_.nextFree = nextFree_;
    e_.pendingReset = pendingReset_;
  }
  TEncodeRun(const TEncodeRun&) = delete;
  TEncodeRun& operator=(const TEncodeRun&) = delete;

  // Appends a code below the bits already held (most significant bit first), then adjusts the
  // width for the next one. The end code also pads the last byte with zero bits and sends
  // everything to the stream.
  void Put(int code) {
    accumulator_ = (accumulator_ << width_) | static_cast<std::uint32_t>(code);
    bits_ += width_;
    while (bits_ >= 8) {
      bits_ -= 8;
      out_[used_++] = static_cast<std::uint8_t>(accumulator_ >> bits_);
    }
    if (pendingReset_) {
      width_ = 9;
      largest_ = 511;
      pendingReset_ = false;
    } else if (nextFree_ >= largest_) {
      // The decoder adds its entry one code later than the encoder, so growing when the next free
      // code reaches 2^width - 1 gives it the early change.
      ++width_;
      largest_ = width_ == 12 ? 4095 : (1 << width_) - 1;
    }
    if (code == kEnd) {
      if (bits_ > 0) out_[used_++] = static_cast<std::uint8_t>(accumulator_ << (8 - bits_));
      bits_ = 0;
      accumulator_ = 0;
      Flush();
    } else if (used_ >= kWriteChunk) {
      Flush();
    }
  }

  void Encode(const std::uint8_t* data, std::size_t count) {
    std::size_t i = 0;
    if (e_.prefix < 0) {
      if (count == 0) return;
      e_.prefix = data[0];
      i = 1;
    }
    int prefix = e_.prefix;
    std::uint32_t* const slots = e_.slots;
    for (; i < count; ++i) {
      const int c = data[i];
      const std::uint32_t key = static_cast<std::uint32_t>((c << 12) + prefix);
      int index = (c << 4) ^ prefix;
      std::uint32_t slot = slots[index];
      if ((slot >> 12) == key) {
        prefix = static_cast<int>(slot & 0xFFF);
        continue;
      }
      if (slot != TTiffLzwEncoder::kEmpty) {
        const int step = index == 0 ? 1 : TTiffLzwEncoder::kSlots - index;
        // An empty slot's upper bits (0xFFFFF) never equal a key, whose prefix code is below 4094.
        do {
          index -= step;
          index += (index >> 31) & TTiffLzwEncoder::kSlots;
          slot = slots[index];
        } while (static_cast<int>(slot != TTiffLzwEncoder::kEmpty) & static_cast<int>((slot >> 12) != key));
        if (slot != TTiffLzwEncoder::kEmpty) {
          prefix = static_cast<int>(slot & 0xFFF);
          continue;
        }
      }
      Put(prefix);
      prefix = c;
      if (nextFree_ > 4093) {
        // The table is full: start over, so that the decoder's table never passes 4096 entries.
        std::fill(slots, slots + TTiffLzwEncoder::kSlots, TTiffLzwEncoder::kEmpty);
        nextFree_ = kFirstFree;
        pendingReset_ = true;
        Put(kClear);
      } else {
        slots[index] = key << 12 | static_cast<std::uint32_t>(nextFree_++);
      }
      // Kept current, so that a stream error leaves a state that can still be finished.
      e_.prefix = prefix;
    }
    e_.prefix = prefix;
  }

 private:
  void Flush() {
    const std::size_t count = used_;
    used_ = 0;
    if (count > 0) e_.output->Write(out_, count);
  }

  TTiffLzwEncoder& e_;
  std::uint8_t* const out_;
  std::size_t used_;
  std::uint32_t accumulator_;
  int bits_;
  int width_;
  int largest_;
  int nextFree_;
  bool pendingReset_;
};

}  // namespace

TTiffLzwDecoder::TTiffLzwDecoder(const std::uint8_t* stripData, std::size_t stripBytes, std::int32_t row)
    : data(stripData),
      dataBytes(stripBytes),
      rowLength(static_cast<std::size_t>(row)),
      buffer(static_cast<std::size_t>(row) + kTiffLzwLongestString) {
  for (int i = 0; i < 256; ++i) {
    prefix[i] = 0;
    suffix[i] = static_cast<std::uint8_t>(i);
    length[i] = 1;
    std::memset(head[i], 0, 8);
    head[i][0] = static_cast<std::uint8_t>(i);
  }
}

TTiffLzwEncoder::TTiffLzwEncoder(TStream& stream) : output(&stream) {
  buffer.resize(kWriteChunk + 16);
  std::fill(std::begin(slots), std::end(slots), kEmpty);
}

const std::uint8_t* TiffLzwDecode(const std::uint8_t* data, std::size_t dataBytes, std::int32_t rowLength,
                                  TTiffLzwDecoder*& state) {
  if (state == nullptr) {
    if (data == nullptr || rowLength < 0) return nullptr;
    state = new TTiffLzwDecoder(data, dataBytes, rowLength);
  } else if (data == nullptr) {
    delete state;
    state = nullptr;
    return nullptr;
  }
  return DecodeRow(*state);
}

void TiffLzwEncode(const std::uint8_t* row, std::int32_t length, TStream& output, TTiffLzwEncoder*& state) {
  if (state == nullptr) {
    if (row == nullptr) return;
    state = new TTiffLzwEncoder(output);
    TEncodeRun(*state).Put(kClear);
  } else if (row == nullptr) {
    const std::unique_ptr<TTiffLzwEncoder> finishing(state);
    state = nullptr;
    TEncodeRun run(*finishing);
    if (finishing->prefix >= 0) run.Put(finishing->prefix);
    run.Put(kEnd);
    return;
  }
  if (length > 0) TEncodeRun(*state).Encode(row, static_cast<std::size_t>(length));
}

}  // namespace veilora
