#pragma once

// A scanned picture as a data source hands it over, and the assembly of a scanner's frames into
// it. The frame data is the scanner's own: rows of bytesPerLine bytes (which may be wider than the
// pixels), grey, interleaved RGB or one of three single-colour frames of a three-pass scanner,
// 1, 8 or 16 bits per sample (16 in the host's byte order), a line count that may be unknown (-1,
// hand scanners). Depth-1 grey data uses 1 for black.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veilora::scan {

// Rows top first, each RowBytes() long without padding: 1 bit per pixel (most significant bit the
// leftmost pixel, 0 black, as the transfer hands it on), 8 bits grey, or 24 bits red, green, blue.
struct TScanImage {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  double resolutionX = 0;
  double resolutionY = 0;
  std::vector<std::uint8_t> data;

  std::size_t RowBytes() const { return (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8; }
  bool Empty() const { return width <= 0 || height <= 0 || data.empty(); }
};

enum class TFrameKind : std::uint8_t { Grey, Rgb, Red, Green, Blue };

// What the scanner says about one frame before its data.
struct TFrameFormat {
  TFrameKind kind = TFrameKind::Grey;
  bool lastFrame = true;
  std::int32_t bytesPerLine = 0;
  std::int32_t pixelsPerLine = 0;
  std::int32_t lines = -1;  // -1: unknown until the data end
  std::int32_t depth = 8;
};

// Pixels a side and bytes of picture a scan may hold; a scanner that announces or sends more is
// refused, like a file that declares too much.
inline constexpr std::int32_t kMaxScanSide = 65535;
inline constexpr std::int64_t kMaxScanBytes = std::int64_t{1} << 30;

// Builds a TScanImage from the frames of one scan, fed in pieces of any size.
class TFrameAssembler {
 public:
  // Starts a frame; false with Error() set for a format that cannot be taken (unknown depth, a row
  // narrower than its pixels, sizes past the limits, a single-colour frame after grey data, or
  // a frame of another width than the first).
  bool BeginFrame(const TFrameFormat& format);
  // Takes the next bytes of the frame; false with Error() set when the data outgrow the limits.
  // Bytes past the announced lines are dropped.
  bool Add(const std::uint8_t* data, std::size_t size);
  // Ends the frame: a trailing part row is dropped.
  void EndFrame();
  // The picture of all frames; false (Error() set) when no frame held a whole row.
  bool Finish(TScanImage& image);
  // Complete rows of the frame in progress, and the rows it announced (-1 when unknown).
  std::int32_t RowsDone() const { return rowsInFrame_; }
  std::int32_t RowsExpected() const { return format_.lines; }
  const std::string& Error() const { return error_; }

 private:
  void TakeRow(const std::uint8_t* row);
  std::uint8_t Sample(const std::uint8_t* row, std::int64_t index) const;
  bool Fail(std::string reason);
  // Whether one more row keeps the picture inside the limits.
  bool Fits() const;

  TFrameFormat format_;
  bool started_ = false;
  bool single_ = false;  // single-colour frames of a three-pass scan
  int width_ = 0;
  int bitsPerPixel_ = 0;
  std::int32_t height_ = 0;       // rows of the picture so far (the longest frame)
  std::int32_t rowsInFrame_ = 0;  // complete rows of the current frame
  std::vector<std::uint8_t> pending_;
  std::vector<std::uint8_t> data_;
  std::string error_;
};

}  // namespace veilora::scan
