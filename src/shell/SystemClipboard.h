#pragma once

// The system clipboard for the image commands. A copy offers the packed bitmap three ways: under
// the program's own type with the block exactly as the core made it, as "image/bmp" (the block
// behind a 14-byte BMP file header), and as an image Qt hands to other programs (PNG on X11). A
// paste takes the program's own type first, then "image/bmp", then any image Qt can decode
// (browsers and painting programs offer only PNG), and hands every one to the same decoder.

#include <QByteArray>
#include <cstdint>
#include <vector>

#include "image/Clipboard.h"

class TSystemClipboard final : public veilora::TClipboard {
 public:
  static constexpr const char* kPrivateType = "application/x-veilora-packed-dib";
  static constexpr const char* kBmpType = "image/bmp";

  bool PutPackedDib(std::vector<std::uint8_t> block) override;
  std::vector<std::uint8_t> PackedDib() override;
};

// The packed bitmap as a BMP file: the 14-byte file header, then the block.
QByteArray BmpFileFromPackedDib(const std::vector<std::uint8_t>& block);
// The block of a BMP file (its first 14 bytes dropped); empty when it does not start with "BM".
std::vector<std::uint8_t> PackedDibFromBmpFile(const QByteArray& file);
