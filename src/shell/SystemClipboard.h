#pragma once

// The system clipboard for the image commands. A copy offers the packed bitmap three ways: under
// the program's own type with the block exactly as the core made it, as "image/bmp" (the block
// behind a 14-byte BMP file header), and as an image Qt hands to other programs (PNG on X11). The
// other forms are made only when a program asks for them, so a copy costs no more than the block. A
// paste takes the program's own type first, then "image/bmp", then any image Qt can decode
// (browsers and painting programs offer only PNG), and hands every one to the same decoder.

#include <QByteArray>

#include "image/Clipboard.h"

class TSystemClipboard final : public veilora::TClipboard {
 public:
  static constexpr const char* kPrivateType = "application/x-veilora-packed-dib";
  static constexpr const char* kBmpType = "image/bmp";

  bool PutPackedDib(veilora::TByteBlock block) override;
  veilora::TByteBlock PackedDib() override;
};

// The packed bitmap as a BMP file: the 14-byte file header, then the block.
QByteArray BmpFileFromPackedDib(const veilora::TByteBlock& block);
// The block of a BMP file (its first 14 bytes dropped); empty when it does not start with "BM".
veilora::TByteBlock PackedDibFromBmpFile(const QByteArray& file);
