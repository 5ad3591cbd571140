#include "io/TIFLZW.h"

#include <algorithm>
#include <cstring>

namespace veilora {

namespace {

constexpr int kClear = 256;
constexpr int kEnd = 257;
constexpr int kFirstFree = 258;
constexpr int kTableSize = 4096;

// ---------------------------------------------------------------- decoding

// The next code, or false when fewer bits than the code width remain: data that run out end the
// strip as an end code would. Bytes past dataBytes are never read.
inline bool NextCode(TTiffLzwDecoder& s, int& code) {
  const std::size_t position = s.bitPosition;
  if (position + static_cast<std::size_t>(s.width) > s.dataBytes * 8) return false;
  const std::size_t at = position >> 3;
  std::uint32_t window;
  if (at + 4 <= s.dataBytes) {
    const std::uint8_t* p = s.data + at;
    window = static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
             static_cast<std::uint32_t>(p[2]) << 8 | p[3];
  } else {
    window = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      window <<= 8;
      if (at + i < s.dataBytes) window |= s.data[at + i];
    }
  }
  code = static_cast<int>((window << (position & 7)) >> (32 - s.width));
  s.bitPosition = position + static_cast<std::size_t>(s.width);
  return true;
}

inline void ResetTable(TTiffLzwDecoder& s) {
  s.count = kFirstFree;
  s.width = 9;
}

// Adds the string of `s.previous` followed by `byte`; false when the table is already full.
inline bool AddEntry(TTiffLzwDecoder& s, std::uint8_t byte) {
  const int entry = s.count;
  if (entry >= kTableSize) return false;
  const int prior = s.previous;
  s.prefix[entry] = static_cast<std::uint16_t>(prior);
  s.suffix[entry] = byte;
  s.first[entry] = s.first[prior];
  s.length[entry] = static_cast<std::uint16_t>(s.length[prior] + 1);
  s.count = entry + 1;
  // Early change: the width grows one code before the power of two.
  if (s.count == 511 || s.count == 1023 || s.count == 2047) ++s.width;
  return true;
}

// Writes the string of `code` (below the count) at the end of the held bytes, last byte first.
inline void PutString(TTiffLzwDecoder& s, int code) {
  const std::size_t length = s.length[code];
  std::uint8_t* p = s.buffer.data() + s.held + length - 1;
  while (code >= kFirstFree) {
    *p-- = s.suffix[code];
    code = s.prefix[code];
  }
  *p = static_cast<std::uint8_t>(code);
  s.held += length;
}

const std::uint8_t* DecodeRow(TTiffLzwDecoder& s) {
  if (s.failed) return nullptr;
  const std::size_t rowLength = s.rowLength;
  std::uint8_t* out = s.buffer.data();
  // The last code of the previous row may have run past its end: those bytes begin this row.
  if (s.held > rowLength) {
    std::memmove(out, out + rowLength, s.held - rowLength);
    s.held -= rowLength;
  } else {
    s.held = 0;
  }

  while (s.held < rowLength && !s.finished) {
    int code;
    if (!NextCode(s, code)) {
      s.finished = true;
      break;
    }
    if (code == kClear) {
      // Several clear codes in a row are one.
      do {
        ResetTable(s);
        if (!NextCode(s, code)) {
          s.finished = true;
          break;
        }
      } while (code == kClear);
      if (s.finished) break;
      s.previous = -1;
    }
    if (code == kEnd) {
      s.finished = true;
      break;
    }
    if (s.previous < 0) {
      // The first code of the strip or after a clear: no string to extend yet, so it must be a
      // literal, and it adds no entry.
      if (code >= kFirstFree) {
        s.failed = true;
        return nullptr;
      }
      out[s.held++] = static_cast<std::uint8_t>(code);
      s.previous = code;
      continue;
    }
    if (code < s.count) {
      PutString(s, code);
      if (!AddEntry(s, s.first[code])) {
        s.failed = true;
        return nullptr;
      }
    } else if (code == s.count) {
      // The string being defined: the previous one followed by its own first byte.
      if (!AddEntry(s, s.first[s.previous])) {
        s.failed = true;
        return nullptr;
      }
      PutString(s, code);
    } else {
      s.failed = true;
      return nullptr;
    }
    s.previous = code;
  }

  if (s.held < rowLength) {
    std::memset(out + s.held, 0, rowLength - s.held);
    s.held = rowLength;
  }
  return out;
}

// ---------------------------------------------------------------- encoding

void FlushBuffer(TTiffLzwEncoder& e) {
  if (!e.buffer.empty()) {
    e.output->Write(e.buffer.data(), e.buffer.size());
    e.buffer.clear();
  }
}

// Bytes are gathered before they go to the stream; the size only sets how often the stream is
// called, not what is written.
constexpr std::size_t kWriteChunk = 8192;

void PutCode(TTiffLzwEncoder& e, int code) {
  e.accumulator = (e.accumulator << e.width) | static_cast<std::uint32_t>(code);
  e.bits += e.width;
  while (e.bits >= 8) {
    e.bits -= 8;
    e.buffer.push_back(static_cast<std::uint8_t>(e.accumulator >> e.bits));
  }
  if (e.buffer.size() >= kWriteChunk) FlushBuffer(e);
  if (e.pendingReset) {
    e.width = 9;
    e.largest = 511;
    e.pendingReset = false;
  } else if (e.nextFree >= e.largest) {
    // The decoder adds its entry one code later than the encoder, so growing when the next free
    // code reaches 2^width - 1 gives it the early change.
    ++e.width;
    e.largest = e.width == 12 ? 4095 : (1 << e.width) - 1;
  }
  if (code == kEnd) {
    if (e.bits > 0) e.buffer.push_back(static_cast<std::uint8_t>(e.accumulator << (8 - e.bits)));
    e.bits = 0;
    e.accumulator = 0;
    FlushBuffer(e);
  }
}

void EncodeBytes(TTiffLzwEncoder& e, const std::uint8_t* data, std::size_t count) {
  std::size_t i = 0;
  if (e.prefix < 0) {
    if (count == 0) return;
    e.prefix = data[0];
    i = 1;
  }
  int prefix = e.prefix;
  for (; i < count; ++i) {
    const int c = data[i];
    const std::int32_t key = (c << 12) + prefix;
    int index = (c << 4) ^ prefix;
    if (e.keys[index] == key) {
      prefix = e.codes[index];
      continue;
    }
    if (e.keys[index] >= 0) {
      const int step = index == 0 ? 1 : TTiffLzwEncoder::kSlots - index;
      bool found = false;
      do {
        index -= step;
        if (index < 0) index += TTiffLzwEncoder::kSlots;
        if (e.keys[index] == key) {
          found = true;
          break;
        }
      } while (e.keys[index] >= 0);
      if (found) {
        prefix = e.codes[index];
        continue;
      }
    }
    PutCode(e, prefix);
    prefix = c;
    if (e.nextFree > 4093) {
      // The table is full: start over, so that the decoder's table never passes 4096 entries.
      std::fill(std::begin(e.keys), std::end(e.keys), -1);
      e.nextFree = kFirstFree;
      e.pendingReset = true;
      PutCode(e, kClear);
    } else {
      e.keys[index] = key;
      e.codes[index] = static_cast<std::uint16_t>(e.nextFree++);
    }
  }
  e.prefix = prefix;
}

}  // namespace

TTiffLzwDecoder::TTiffLzwDecoder(const std::uint8_t* stripData, std::size_t stripBytes, std::int32_t row)
    : data(stripData),
      dataBytes(stripBytes),
      rowLength(static_cast<std::size_t>(row)),
      buffer(static_cast<std::size_t>(row) + kTiffLzwLongestString) {
  for (int i = 0; i < 256; ++i) {
    prefix[i] = 0;
    suffix[i] = static_cast<std::uint8_t>(i);
    first[i] = static_cast<std::uint8_t>(i);
    length[i] = 1;
  }
}

TTiffLzwEncoder::TTiffLzwEncoder(TStream& stream) : output(&stream) {
  buffer.reserve(kWriteChunk + 8);
  std::fill(std::begin(keys), std::end(keys), -1);
  std::fill(std::begin(codes), std::end(codes), 0);
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
    PutCode(*state, kClear);
  } else if (row == nullptr) {
    TTiffLzwEncoder* finishing = state;
    state = nullptr;
    struct Release {
      TTiffLzwEncoder* e;
      ~Release() { delete e; }
    } release{finishing};
    if (finishing->prefix >= 0) PutCode(*finishing, finishing->prefix);
    PutCode(*finishing, kEnd);
    return;
  }
  if (length > 0) EncodeBytes(*state, row, static_cast<std::size_t>(length));
}

}  // namespace veilora
