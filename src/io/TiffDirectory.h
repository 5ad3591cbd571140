#pragma once

// The structure of a TIFF file: the 8-byte header, the chain of image file directories (IFDs)
// and the values of their entries. Offsets count from the stream position where the header
// starts; every value is read in the file's byte order and only from bytes the stream holds.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/Stream.h"

namespace veilora {

// The most directories a chain may hold. Every real multi-page file stays far below this; it
// bounds the walk of a chain that is endless without repeating an offset.
constexpr std::int32_t kMaxTiffDirectories = 65536;

struct TTiffEntry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint8_t field[4] = {};  // the value itself when it fits, else its offset
};

class TTiffFile {
 public:
  // The stream must stay alive while the object is used; the header starts at its position.
  explicit TTiffFile(TStream& stream);

  // Reads the header; false when it is not "II" or "MM" followed by 42.
  bool ReadHeader();
  bool BigEndian() const { return bigEndian_; }

  // Walks the directory chain, counting directories, and keeps the entries of directory `wanted`
  // (from 0). The walk ends at a next offset of 0, at an offset seen before (a loop, however long),
  // at a directory the file does not hold, or after kMaxTiffDirectories. Returns the count.
  std::int32_t WalkDirectories(std::int32_t wanted, std::vector<TTiffEntry>* entries, bool* found);

  // Bytes the file holds from `offset` to its end (0 when the offset lies beyond it).
  std::int64_t Available(std::int64_t offset) const;
  // Reads up to `count` bytes at `offset`; returns how many the file held.
  std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count);
  // Reads what the file holds of `count` bytes at `offset` into `buffer` (resized to that).
  void ReadAvailableAt(std::int64_t offset, std::int64_t count, std::vector<std::uint8_t>& buffer);

  std::uint16_t Get16(const std::uint8_t* p) const;
  std::uint32_t Get32(const std::uint8_t* p) const;

  // Size in bytes of one value of a field type; 0 for a type this reader does not know.
  static std::uint32_t TypeSize(std::uint16_t type);

  // Up to `maxCount` values of an integer entry (BYTE, SHORT, LONG and their signed forms), as
  // many as the file holds. Empty for other types.
  std::vector<std::uint32_t> Integers(const TTiffEntry& entry, std::uint32_t maxCount);
  // The first value of an integer or rational entry; false for other types or an empty entry.
  bool FirstInteger(const TTiffEntry& entry, std::uint32_t& value);
  bool FirstRational(const TTiffEntry& entry, double& value);
  // Rational values (or integers) up to `maxCount`.
  std::vector<double> Rationals(const TTiffEntry& entry, std::uint32_t maxCount);
  // An ASCII entry up to its first zero byte.
  std::string Text(const TTiffEntry& entry);
  // The raw bytes of an entry of any type, as many of them as the file holds.
  std::vector<std::uint8_t> Bytes(const TTiffEntry& entry);

 private:
  // Where the entry's values lie and how many bytes of them the file holds. False when the
  // type is unknown.
  bool Locate(const TTiffEntry& entry, std::uint32_t maxCount, std::int64_t& offset, std::uint64_t& bytes,
              bool& inField);
  // The values' bytes, read into scratch_ unless they sit in the entry itself.
  const std::uint8_t* ValueBytes(const TTiffEntry& entry, std::uint32_t maxCount, std::uint64_t& bytes);

  TStream& stream_;
  std::int64_t base_ = 0;
  std::int64_t size_ = 0;  // bytes from the header to the end of the stream
  bool bigEndian_ = false;
  std::uint32_t firstDirectory_ = 0;
  std::vector<std::uint8_t> scratch_;
};

// Finds an entry by tag; null when the directory has none.
const TTiffEntry* FindEntry(const std::vector<TTiffEntry>& entries, std::uint16_t tag);

}  // namespace veilora
