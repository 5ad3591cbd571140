#pragma once

// PC Paintbrush (PCX) images read and written: 2, 16 and 256 colours and true colour.

#include "io/Codec.h"

namespace veilora {

// byteCount: the bytes of PCX data from the current position (file size, stream size, or the
// length of a stream header).
void PcxReadStream(TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                   const TProgressContext& progress, std::int64_t byteCount);
void PcxWriteStream(TStream& stream, TBitmap& bitmap, TIOParams& params, const TProgressContext& progress);

}  // namespace veilora
