#include "io/TiffDirectory.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace veilora {

namespace {

constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kEntryBytes = 12;
constexpr std::uint16_t kMagic = 42;

// Field types of the TIFF 6.0 baseline and extensions.
enum : std::uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kSByte = 6,
  kUndefined = 7,
  kSShort = 8,
  kSLong = 9,
  kSRational = 10,
  kFloat = 11,
  kDouble = 12,
};

}  // namespace

TTiffFile::TTiffFile(TStream& stream) : stream_(stream) {
  base_ = stream.Position();
  size_ = std::max<std::int64_t>(0, stream.Size() - base_);
}

std::uint16_t TTiffFile::Get16(const std::uint8_t* p) const {
  return bigEndian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1]) : GetLE16(p);
}

std::uint32_t TTiffFile::Get32(const std::uint8_t* p) const {
  return bigEndian_ ? (static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
                       static_cast<std::uint32_t>(p[2]) << 8 | p[3])
                    : GetLE32(p);
}

bool TTiffFile::ReadHeader() {
  std::uint8_t header[kHeaderBytes];
  if (ReadAt(0, header, kHeaderBytes) != kHeaderBytes) return false;
  if (header[0] == 'I' && header[1] == 'I') {
    bigEndian_ = false;
  } else if (header[0] == 'M' && header[1] == 'M') {
    bigEndian_ = true;
  } else {
    return false;
  }
  if (Get16(header + 2) != kMagic) return false;
  firstDirectory_ = Get32(header + 4);
  return true;
}

std::int64_t TTiffFile::Available(std::int64_t offset) const {
  return offset < 0 || offset >= size_ ? 0 : size_ - offset;
}

std::size_t TTiffFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
  const auto take = static_cast<std::size_t>(std::min<std::int64_t>(
      static_cast<std::int64_t>(std::min<std::size_t>(count, INT64_MAX)), Available(offset)));
  if (take == 0) return 0;
  stream_.Seek(base_ + offset);
  return stream_.Read(buffer, take);
}

void TTiffFile::ReadAvailableAt(std::int64_t offset, std::int64_t count, std::vector<std::uint8_t>& buffer) {
  const std::int64_t take = std::clamp<std::int64_t>(count, 0, Available(offset));
  buffer.resize(static_cast<std::size_t>(take));
  buffer.resize(ReadAt(offset, buffer.data(), buffer.size()));
}

std::int32_t TTiffFile::WalkDirectories(std::int32_t wanted, std::vector<TTiffEntry>* entries, bool* found) {
  if (found != nullptr) *found = false;
  std::unordered_set<std::uint32_t> visited;
  std::uint32_t offset = firstDirectory_;
  std::int32_t count = 0;
  while (offset != 0 && count < kMaxTiffDirectories && visited.insert(offset).second) {
    std::uint8_t countBytes[2];
    if (ReadAt(offset, countBytes, 2) != 2) break;
    const std::uint16_t entryCount = Get16(countBytes);
    const std::int64_t entriesAt = std::int64_t{offset} + 2;
    const std::int64_t nextAt = entriesAt + std::int64_t{entryCount} * kEntryBytes;
    if (count == wanted && entries != nullptr) {
      // Only the wanted directory's entries are read; a cut-off table keeps its whole entries.
      std::vector<std::uint8_t> table;
      ReadAvailableAt(entriesAt, std::int64_t{entryCount} * kEntryBytes, table);
      entries->clear();
      for (std::size_t at = 0; at + kEntryBytes <= table.size(); at += kEntryBytes) {
        TTiffEntry entry;
        entry.tag = Get16(&table[at]);
        entry.type = Get16(&table[at + 2]);
        entry.count = Get32(&table[at + 4]);
        std::memcpy(entry.field, &table[at + 8], 4);
        entries->push_back(entry);
      }
      if (found != nullptr) *found = true;
    }
    ++count;
    std::uint8_t next[4];
    if (ReadAt(nextAt, next, 4) != 4) break;
    offset = Get32(next);
  }
  return count;
}

std::uint32_t TTiffFile::TypeSize(std::uint16_t type) {
  switch (type) {
    case kByte:
    case kAscii:
    case kSByte:
    case kUndefined: return 1;
    case kShort:
    case kSShort: return 2;
    case kLong:
    case kSLong:
    case kFloat: return 4;
    case kRational:
    case kSRational:
    case kDouble: return 8;
    default: return 0;
  }
}

bool TTiffFile::Locate(const TTiffEntry& entry, std::uint32_t maxCount, std::int64_t& offset,
                       std::uint64_t& bytes, bool& inField) {
  const std::uint32_t size = TypeSize(entry.type);
  if (size == 0) return false;
  // Whether the values sit in the entry depends on all of them, not on the ones wanted. The
  // product is taken in 64 bits: a count near 2^32 times 8 does not fit in 32.
  const std::uint64_t total = std::uint64_t{entry.count} * size;
  bytes = std::uint64_t{std::min(entry.count, maxCount)} * size;
  inField = total <= 4;
  offset = inField ? 0 : std::int64_t{Get32(entry.field)};
  if (!inField) bytes = std::min<std::uint64_t>(bytes, static_cast<std::uint64_t>(Available(offset)));
  return true;
}

const std::uint8_t* TTiffFile::ValueBytes(const TTiffEntry& entry, std::uint32_t maxCount,
                                          std::uint64_t& bytes) {
  std::int64_t offset = 0;
  bool inField = false;
  if (!Locate(entry, maxCount, offset, bytes, inField)) {
    bytes = 0;
    return nullptr;
  }
  if (inField) return entry.field;
  scratch_.resize(static_cast<std::size_t>(bytes));
  bytes = ReadAt(offset, scratch_.data(), scratch_.size());
  return scratch_.data();
}

std::vector<std::uint32_t> TTiffFile::Integers(const TTiffEntry& entry, std::uint32_t maxCount) {
  std::vector<std::uint32_t> values;
  if (entry.type != kByte && entry.type != kShort && entry.type != kLong && entry.type != kSByte &&
      entry.type != kSShort && entry.type != kSLong && entry.type != kUndefined) {
    return values;
  }
  std::uint64_t bytes = 0;
  const std::uint8_t* p = ValueBytes(entry, maxCount, bytes);
  const std::uint32_t size = TypeSize(entry.type);
  values.resize(static_cast<std::size_t>(bytes / size));
  for (std::size_t i = 0; i < values.size(); ++i, p += size) {
    values[i] = size == 1 ? *p : size == 2 ? Get16(p) : Get32(p);
  }
  return values;
}

bool TTiffFile::FirstInteger(const TTiffEntry& entry, std::uint32_t& value) {
  if (entry.type == kRational || entry.type == kSRational) {
    double rational = 0;
    if (!FirstRational(entry, rational) || !(rational >= 0 && rational < 4294967296.0)) return false;
    value = static_cast<std::uint32_t>(rational);
    return true;
  }
  const std::vector<std::uint32_t> values = Integers(entry, 1);
  if (values.empty()) return false;
  value = values[0];
  return true;
}

std::vector<double> TTiffFile::Rationals(const TTiffEntry& entry, std::uint32_t maxCount) {
  std::vector<double> values;
  if (entry.type == kRational || entry.type == kSRational) {
    std::uint64_t bytes = 0;
    const std::uint8_t* p = ValueBytes(entry, maxCount, bytes);
    for (std::uint64_t at = 0; at + 8 <= bytes; at += 8) {
      const std::uint32_t numerator = Get32(p + at);
      const std::uint32_t denominator = Get32(p + at + 4);
      double value = 0;
      if (entry.type == kRational) {
        value = denominator == 0 ? 0.0 : static_cast<double>(numerator) / denominator;
      } else {
        const auto n = static_cast<std::int32_t>(numerator);
        const auto d = static_cast<std::int32_t>(denominator);
        value = d == 0 ? 0.0 : static_cast<double>(n) / d;
      }
      values.push_back(value);
    }
  } else {
    for (const std::uint32_t value : Integers(entry, maxCount)) values.push_back(value);
  }
  return values;
}

bool TTiffFile::FirstRational(const TTiffEntry& entry, double& value) {
  const std::vector<double> values = Rationals(entry, 1);
  if (values.empty()) return false;
  value = values[0];
  return true;
}

std::string TTiffFile::Text(const TTiffEntry& entry) {
  if (entry.type != kAscii) return {};
  std::uint64_t bytes = 0;
  const std::uint8_t* p = ValueBytes(entry, entry.count, bytes);
  const auto length = static_cast<std::size_t>(bytes);
  const void* zero = length == 0 ? nullptr : std::memchr(p, 0, length);
  const std::size_t end =
      zero == nullptr ? length : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - p);
  return std::string(reinterpret_cast<const char*>(p), end);
}

std::vector<std::uint8_t> TTiffFile::Bytes(const TTiffEntry& entry) {
  std::uint64_t bytes = 0;
  const std::uint8_t* p = ValueBytes(entry, entry.count, bytes);
  return p == nullptr ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>(p, p + bytes);
}

const TTiffEntry* FindEntry(const std::vector<TTiffEntry>& entries, std::uint16_t tag) {
  for (const TTiffEntry& entry : entries) {
    if (entry.tag == tag) return &entry;
  }
  return nullptr;
}

}  // namespace veilora
