#include "io/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace veilora {

namespace {

constexpr std::size_t kWriteBufferBytes = 256 * 1024;

}  // namespace

std::int64_t TStream::Remaining() const {
  return std::max<std::int64_t>(0, Size() - Position());
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
  if (mode == Mode::Read) {
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) Fail("Cannot open file");
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      errno = EISDIR;
      Fail("Cannot open file");
    }
    size_ = info.st_size;
  } else {
    fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) Fail("Cannot create file");
  }
}

TFileStream::~TFileStream() {
  if (fd_ < 0) return;
  try {
    FlushWriteBuffer();
  } catch (const EStreamError&) {
    // A destructor cannot report; callers who care call Close().
  }
  ::close(fd_);
}

void TFileStream::Fail(const char* what) const {
  throw EStreamError(std::string(what) + " \"" + fileName_ + "\": " + std::strerror(errno));
}

void TFileStream::FlushWriteBuffer() {
  std::size_t done = 0;
  while (done < writeBuffer_.size()) {
    const ssize_t n = ::pwrite(fd_, writeBuffer_.data() + done, writeBuffer_.size() - done,
                               writeBufferStart_ + static_cast<std::int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      writeBuffer_.clear();
      Fail("Cannot write file");
    }
    done += static_cast<std::size_t>(n);
  }
  writeBuffer_.clear();
}

void TFileStream::Flush() {
  FlushWriteBuffer();
}

void TFileStream::Close() {
  if (fd_ < 0) return;
  FlushWriteBuffer();
  const bool synced = ::fsync(fd_) == 0 || errno == EINVAL;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 || !synced) Fail("Cannot write file");
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  if (!writeBuffer_.empty()) FlushWriteBuffer();
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, out + done, count - done, position_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("Cannot read file");
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
    position_ += n;
  }
  return done;
}

void TFileStream::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  const bool contiguous =
      writeBuffer_.empty() || writeBufferStart_ + static_cast<std::int64_t>(writeBuffer_.size()) == position_;
  if (!contiguous) FlushWriteBuffer();
  if (writeBuffer_.empty()) writeBufferStart_ = position_;
  if (writeBuffer_.size() + count > kWriteBufferBytes) {
    FlushWriteBuffer();
    writeBufferStart_ = position_;
    if (count >= kWriteBufferBytes) {
      // Large blocks (a whole pixel block) go straight to the file.
      writeBuffer_.assign(bytes, bytes + count);
      FlushWriteBuffer();
      position_ += static_cast<std::int64_t>(count);
      size_ = std::max(size_, position_);
      return;
    }
  }
  if (writeBuffer_.capacity() < kWriteBufferBytes) writeBuffer_.reserve(kWriteBufferBytes);
  writeBuffer_.insert(writeBuffer_.end(), bytes, bytes + count);
  position_ += static_cast<std::int64_t>(count);
  size_ = std::max(size_, position_);
}

void TFileStream::Seek(std::int64_t position) {
  position_ = std::max<std::int64_t>(0, position);
}

// ---- TMemoryStream

TMemoryStream::TMemoryStream(const void* data, std::size_t count)
    : data_(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + count) {}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  const std::int64_t available = Remaining();
  const std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(available));
  if (n > 0) std::memcpy(buffer, data_.data() + position_, n);
  position_ += static_cast<std::int64_t>(n);
  return n;
}

void TMemoryStream::Write(const void* buffer, std::size_t count) {
  const std::size_t end = static_cast<std::size_t>(position_) + count;
  if (end > data_.size()) data_.resize(end);
  if (count > 0) std::memcpy(data_.data() + position_, buffer, count);
  position_ = static_cast<std::int64_t>(end);
}

void TMemoryStream::Seek(std::int64_t position) {
  position_ = std::max<std::int64_t>(0, position);
}

// ---- TByteCountStream

void TByteCountStream::Write(const void*, std::size_t count) {
  position_ += static_cast<std::int64_t>(count);
  size_ = std::max(size_, position_);
}

void TByteCountStream::Seek(std::int64_t position) {
  position_ = std::max<std::int64_t>(0, position);
}

}  // namespace veilora
