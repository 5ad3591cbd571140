#include "scan/ScanImage.h"

#include <algorithm>
#include <cstring>

namespace veilora::scan {

bool TFrameAssembler::Fail(std::string reason) {
  if (error_.empty()) error_ = std::move(reason);
  return false;
}

bool TFrameAssembler::BeginFrame(const TFrameFormat& format) {
  if (!error_.empty()) return false;
  if (format.depth != 1 && format.depth != 8 && format.depth != 16) {
    return Fail("the scanner sends " + std::to_string(format.depth) +
                " bits per sample, which Veilora does not read");
  }
  if (format.pixelsPerLine <= 0 || format.pixelsPerLine > kMaxScanSide || format.bytesPerLine <= 0 ||
      format.lines > kMaxScanSide || format.lines == 0 || format.lines < -1) {
    return Fail("the scanner announces an impossible picture size");
  }
  const int samples = format.kind == TFrameKind::Rgb ? 3 : 1;
  const std::int64_t neededBytes = (std::int64_t{format.pixelsPerLine} * samples * format.depth + 7) / 8;
  if (format.bytesPerLine < neededBytes) return Fail("the scanner's rows are shorter than their pixels");
  if (format.bytesPerLine > kMaxScanBytes / 16) return Fail("the scanner's rows are too long");
  const bool single =
      format.kind == TFrameKind::Red || format.kind == TFrameKind::Green || format.kind == TFrameKind::Blue;
  const int bitsPerPixel = single || format.kind == TFrameKind::Rgb ? 24 : (format.depth == 1 ? 1 : 8);
  if (started_) {
    if (!single || !single_ || format.pixelsPerLine != width_) {
      return Fail("the scanner's frames do not fit together");
    }
  } else {
    started_ = true;
    single_ = single;
    width_ = format.pixelsPerLine;
    bitsPerPixel_ = bitsPerPixel;
    if (format.lines > 0) {
      const std::int64_t bytes =
          std::int64_t{format.lines} * ((std::int64_t{width_} * bitsPerPixel_ + 7) / 8);
      if (bytes > kMaxScanBytes) return Fail("the scan is larger than Veilora holds");
    }
  }
  format_ = format;
  rowsInFrame_ = 0;
  pending_.clear();
  return true;
}

std::uint8_t TFrameAssembler::Sample(const std::uint8_t* row, std::int64_t index) const {
  switch (format_.depth) {
    case 1:
      // One bit, most significant first; the full byte is its intensity.
      return (row[index / 8] & (0x80 >> (index % 8))) != 0 ? 0xff : 0;
    case 16: {
      std::uint16_t value;
      std::memcpy(&value, row + index * 2, 2);
      return static_cast<std::uint8_t>(value >> 8);
    }
    default: return row[index];
  }
}

void TFrameAssembler::TakeRow(const std::uint8_t* row) {
  if (format_.lines > 0 && rowsInFrame_ >= format_.lines) return;
  const std::size_t rowBytes = (static_cast<std::size_t>(width_) * bitsPerPixel_ + 7) / 8;
  if (rowsInFrame_ >= height_) {
    data_.resize(data_.size() + rowBytes, 0);
    ++height_;
  }
  std::uint8_t* out = data_.data() + static_cast<std::size_t>(rowsInFrame_) * rowBytes;
  ++rowsInFrame_;
  if (bitsPerPixel_ == 1) {
    // The scanner's 1 is black; the picture's 0 is. Bits past the last pixel stay 0.
    for (std::size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<std::uint8_t>(~row[i]);
    if (const int spare = static_cast<int>(rowBytes * 8) - width_; spare > 0) {
      out[rowBytes - 1] &= static_cast<std::uint8_t>(0xff << spare);
    }
    return;
  }
  if (bitsPerPixel_ == 8) {
    for (int x = 0; x < width_; ++x) out[x] = Sample(row, x);
    return;
  }
  if (format_.kind == TFrameKind::Rgb) {
    for (std::int64_t i = 0; i < std::int64_t{width_} * 3; ++i) out[i] = Sample(row, i);
    return;
  }
  const int channel = format_.kind == TFrameKind::Red ? 0 : (format_.kind == TFrameKind::Green ? 1 : 2);
  for (int x = 0; x < width_; ++x) out[x * 3 + channel] = Sample(row, x);
}

bool TFrameAssembler::Add(const std::uint8_t* data, std::size_t size) {
  if (!started_ || !error_.empty()) return false;
  const auto rowLength = static_cast<std::size_t>(format_.bytesPerLine);
  while (size > 0) {
    if (format_.lines > 0 && rowsInFrame_ >= format_.lines) return true;
    if (pending_.empty() && size >= rowLength) {
      if (!Fits()) return Fail("the scan is larger than Veilora holds");
      TakeRow(data);
      data += rowLength;
      size -= rowLength;
      continue;
    }
    const std::size_t take = std::min(size, rowLength - pending_.size());
    pending_.insert(pending_.end(), data, data + take);
    data += take;
    size -= take;
    if (pending_.size() == rowLength) {
      if (!Fits()) return Fail("the scan is larger than Veilora holds");
      TakeRow(pending_.data());
      pending_.clear();
    }
  }
  return true;
}

bool TFrameAssembler::Fits() const {
  if (rowsInFrame_ < height_) return true;
  const auto rowBytes = static_cast<std::int64_t>((static_cast<std::size_t>(width_) * bitsPerPixel_ + 7) / 8);
  return height_ < kMaxScanSide && (std::int64_t{height_} + 1) * rowBytes <= kMaxScanBytes;
}

void TFrameAssembler::EndFrame() {
  pending_.clear();
}

bool TFrameAssembler::Finish(TScanImage& image) {
  if (!error_.empty()) return false;
  if (!started_ || height_ == 0) return Fail("the scanner sent no picture");
  image.width = width_;
  image.height = height_;
  image.bitsPerPixel = bitsPerPixel_;
  image.data = std::move(data_);
  data_.clear();
  return true;
}

}  // namespace veilora::scan
