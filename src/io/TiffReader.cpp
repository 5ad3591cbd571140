#include "io/TiffCodec.h"

namespace veilora {

// Scaffolding until the TIFF reader lands.
void TiffReadStream(TStream&, TBitmap&, TIOParams&, bool, const TProgressContext& progress, std::int32_t*) {
  progress.Abort();
}
std::int32_t TiffImageCount(const std::string&) {
  return 0;
}

}  // namespace veilora
