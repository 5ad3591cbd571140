#include "io/TiffCodec.h"

namespace veilora {

// Scaffolding until the TIFF writer lands.
std::int32_t TiffWriteStream(TStream&, bool, TBitmap&, TIOParams&, const TProgressContext& progress) {
  progress.Abort();
  return 0;
}

}  // namespace veilora
