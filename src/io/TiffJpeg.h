#pragma once

// JPEG-compressed TIFF strips (compression 7) through libjpeg. Every strip is a JPEG stream of its
// own, which may leave its quantisation and Huffman tables to the image's JPEGTables entry (an
// abbreviated stream holding only tables). The TIFF photometric interpretation names the colour
// space of the JPEG data; YCbCr data comes out as RGB.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace veilora {

// Receives one decoded row: 1 byte per pixel for grey, red-green-blue for RGB and YCbCr data, and
// C, M, Y, K for separated data. Returns false to stop decoding.
using TTiffJpegRowSink = bool (*)(void* context, int row, const std::uint8_t* pixels);

class TTiffJpegDecoder {
 public:
  TTiffJpegDecoder();
  ~TTiffJpegDecoder();
  TTiffJpegDecoder(const TTiffJpegDecoder&) = delete;
  TTiffJpegDecoder& operator=(const TTiffJpegDecoder&) = delete;

  // Prepares for an image of `width` pixels per row with this photometric interpretation (0, 1
  // grey; 2 RGB; 5 CMYK; 6 YCbCr) whose strips hold at most `stripRows` rows; `tables` may be
  // empty. False when the interpretation has no JPEG decoding or the tables are broken.
  bool Begin(const std::uint8_t* tables, std::size_t tablesBytes, std::uint16_t photometric, int width,
             int stripRows);
  // Bytes per pixel handed to the sink.
  int PixelBytes() const;
  // Decodes up to `rows` rows of one strip, passing each to the sink. Returns the number of rows
  // delivered; fewer than `rows` means the strip is broken, cut short, or the sink stopped.
  int DecodeStrip(const std::uint8_t* data, std::size_t bytes, int rows, TTiffJpegRowSink sink,
                  void* context);

  // The library's state, defined beside the glue that calls it.
  struct TJob;

 private:
  std::unique_ptr<TJob> job_;
};

}  // namespace veilora
