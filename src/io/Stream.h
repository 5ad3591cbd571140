#pragma once

// Byte streams with a position and a size, as the codecs read and write them. Read may return
// fewer bytes than asked at the end of the data (codecs treat a short read as the end of the
// image); Write either writes everything or raises EStreamError.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/Errors.h"

namespace veilora {

// A file could not be opened, created, read, written or renamed; the text names the file.
class EStreamError : public EVeiloraError {
 public:
  using EVeiloraError::EVeiloraError;
};

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to `count` bytes at the position and advances past them; returns how many were read.
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes `count` bytes at the position, growing the stream as needed.
  virtual void Write(const void* buffer, std::size_t count) = 0;
  virtual std::int64_t Position() const = 0;
  // Moves to an absolute position. A position past the end is allowed; reading there gives
  // nothing and writing there first fills the gap with zero bytes.
  virtual void Seek(std::int64_t position) = 0;
  virtual std::int64_t Size() const = 0;

  // Bytes between the position and the end (0 when the position is past the end).
  std::int64_t Remaining() const;
  // Reads exactly `count` bytes or returns false (the position then stands wherever reading
  // stopped).
  bool ReadExact(void* buffer, std::size_t count) { return Read(buffer, count) == count; }
  void Skip(std::int64_t count) { Seek(Position() + count); }
};

// A file on disk. Opening for reading fails with EStreamError when the file cannot be opened;
// opening for writing creates or truncates it.
class TFileStream final : public TStream {
 public:
  enum class Mode { Read, Create };
  TFileStream(const std::string& fileName, Mode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Position() const override { return position_; }
  void Seek(std::int64_t position) override;
  std::int64_t Size() const override { return size_; }

  // Writes buffered data to the file and reports a full disk or other failure as EStreamError.
  void Flush();
  // Flushes, forces the data to the disk and closes; a failure raises EStreamError.
  void Close();
  const std::string& FileName() const { return fileName_; }

 private:
  [[noreturn]] void Fail(const char* what) const;
  void FlushWriteBuffer();

  std::string fileName_;
  int fd_ = -1;
  std::int64_t position_ = 0;
  std::int64_t size_ = 0;
  // Small writes (headers, one row at a time) are gathered so that a codec need not batch them.
  std::vector<std::uint8_t> writeBuffer_;
  std::int64_t writeBufferStart_ = 0;
};

// A growable block of memory.
class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
  TMemoryStream(const void* data, std::size_t count);

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Position() const override { return position_; }
  void Seek(std::int64_t position) override;
  std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }

  const std::vector<std::uint8_t>& Data() const { return data_; }
  std::vector<std::uint8_t>& Data() { return data_; }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

// Keeps no data, only the position and the size a writer reached: how large a file would be,
// without writing it. Reading gives nothing.
class TByteCountStream final : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  void Write(const void*, std::size_t count) override;
  std::int64_t Position() const override { return position_; }
  void Seek(std::int64_t position) override;
  std::int64_t Size() const override { return size_; }

 private:
  std::int64_t position_ = 0;
  std::int64_t size_ = 0;
};

// Little-endian values in byte buffers, as the Windows and PC formats store them.
inline std::uint16_t GetLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void PutLE16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
  PutLE16(p, v);
  PutLE16(p + 2, v >> 16);
}

}  // namespace veilora
