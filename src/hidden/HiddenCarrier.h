#pragma once

// The hidden-text layout: how a block of bytes lies in the least significant bits of a 24-bit
// image. It is a stored format; images written by one build must read back in every other.
//
// Carrier bytes: in each row of a W-pixel image the first 3W-2 bytes in memory order (blue, green,
// red of pixels 0..W-2, then the blue byte of pixel W-1). The last pixel's green and red bytes and
// the row padding carry nothing and never change. Rows follow from the top row down, so carrier
// byte n lies in row n / (3W-2) at byte n % (3W-2). Each carrier byte holds one bit in its LSB.
//
// Payload: 4 zero bytes, then the data length L as a signed 32-bit little-endian integer, then
// the L data bytes. Every payload byte spreads over 8 consecutive carrier bytes, LSB first, with
// no gap between bytes, across row ends.
//
// Forcing a bit B into a carrier byte v: v stays when its LSB already is B; otherwise it becomes
// v + 1, except 255, which becomes 254. So a carrier byte moves by at most one.

#include <cstdint>

#include "image/Bitmap.h"

namespace veilora {

constexpr int kHiddenHeaderBytes = 8;

// Carrier bytes in each row: 3W - 2, or 0 for an image of width 0.
std::int64_t CarrierBytesPerRow(const TBitmap& bitmap);
std::int64_t CarrierBytes(const TBitmap& bitmap);

// The capacity the status line shows: W*H*3 div 8 - 8 in signed 32-bit arithmetic. It counts
// three carrier bits per pixel, so it is larger than what fits (see HiddenPayloadFit); negative
// for images of fewer than 22 pixels. The bitmap must be 24-bit.
std::int32_t HiddenCapacity(const TBitmap& bitmap);

// The number of data bytes that really fit: H*(3W-2) div 8 - 8, and 0 when that is negative.
std::int32_t HiddenPayloadFit(const TBitmap& bitmap);

// Whether the image holds a hidden text worth keeping: a 24-bit image whose carrier starts with
// the four zero bytes and a length from 1 up to what fits. A length of 0 (a cleared text) counts as
// none, and so does a length the image could not hold, which is what pictures that never had a text
// give, even flat ones whose low bits are all zero.
bool HasHiddenText(const TBitmap& bitmap);

// Stores the header with L = length and then the data bytes. Bits beyond the last carrier byte
// are dropped; carrier bytes past the payload keep their values. The bitmap must be 24-bit,
// length >= 0, and data must hold length bytes (it may be null when length is 0).
void WriteHiddenPayload(TBitmap& bitmap, const std::uint8_t* data, std::int32_t length);

// Reads the header and returns its L. Copies into buffer the first min(count, L) data bytes that
// lie wholly within the carrier; positions beyond the last carrier byte are left as they were.
// With fewer than 64 carrier bytes the header is incomplete and its missing bytes read as zero.
// The bitmap must be 24-bit.
std::int32_t ReadHiddenPayload(const TBitmap& bitmap, std::uint8_t* buffer, std::int32_t count);

}  // namespace veilora
