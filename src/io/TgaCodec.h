#pragma once

// Truevision TGA images read and written.

#include "io/Codec.h"

namespace veilora {

// Reads image types 1, 2, 3 and their run-length forms 9, 10, 11: colour-mapped (8- or 16-bit
// indices, map entries of 15/16, 24 or 32 bits), true colour of 15/16, 24 or 32 bits (alpha is
// dropped), grey of 8 bits (16: grey and alpha) and uncompressed grey of 1 bit. 5-bit channels
// become v << 3 | v >> 2. Either row order and either pixel direction. The bitmap is 24-bit, or
// 1-bit for 1-bit grey and for a colour map of exactly black and white; BitsPerSample is 1 for
// those and for any two-entry map, so that saving again keeps two colours. Values without a map
// entry are black. Data that ends early keeps the rows before and leaves the rest black; the read
// then fails, with a description of the damage once a whole row is in. The identification field
// gives TgaDescription; the extension area gives TgaAuthor, TgaDate, TgaName, TgaBackground (the
// key colour), TgaAspectRatio and TgaGamma, and a file without one sets them to "not given":
// empty texts, 0 for the date and the two ratios, black.
void TgaReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress);

// Writes bottom row first, run-length coded (types 9, 10, 11) when TgaCompressed, else types 1, 2,
// 3. The depth follows the record, as the other writers do:
//   BitsPerSample 1: a colour map of two entries and 8-bit indices. A 1-bit bitmap maps to black
//     and white; a picture of exactly two colours keeps them (the darker first); any other picture
//     is dithered to black and white.
//   otherwise SamplesPerPixel 1: 8-bit grey (BT.601 weights) when TgaGrayLevel, else a colour map
//     made by the quantizer: 16 colours when BitsPerSample is 4, else 256. The map is published in
//     ColorMap.
//   otherwise: 24-bit true colour, every pixel byte as it is in the bitmap.
// Every file gets the TGA 2.0 extension area and footer: TgaAuthor and TgaName (40 bytes at most),
// TgaDate to the second (0 or less: none), TgaBackground as key colour, TgaAspectRatio and TgaGamma
// as the nearest fractions with 16-bit terms (0 or less: none). TgaDescription fills the
// identification field (255 bytes at most). The bitmap itself is never changed.
void TgaWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

// The content test: an image type TGA defines and a pixel depth it allows. Data that starts like
// a portable pixmap header ("P2".."P6") is judged by its third byte instead. The position is kept.
bool IsTgaStream(TStream& stream);

}  // namespace veilora
