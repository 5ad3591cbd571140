#include "io/GifCodec.h"

namespace veilora {

// Scaffolding until the GIF codec lands: GIF files are recognised but not yet read or written.
void GifReadStream(TStream&, TBitmap&, TIOParams&, bool, const TProgressContext& progress, std::int32_t*) {
  progress.Abort();
}
void GifWriteStream(TStream&, TBitmap&, TIOParams&, const TProgressContext& progress) {
  progress.Abort();
}
std::int32_t GifImageCount(const std::string&) {
  return 0;
}

}  // namespace veilora
