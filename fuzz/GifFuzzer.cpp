// Feeds arbitrary bytes to the GIF reader, once for the parameters only and once for the image, with
// the LZW coders installed; the frame wanted follows from the input's size. A frame that loads is
// written again with the parameters the reader left (small images only), and the written file must
// read back at the same size; so is a frame kept in part, whose damage is then described.

#include <string>

#include <cstdlib>

#include "FuzzReader.h"
#include "io/GifCodec.h"
#include "io/LzwCoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  static const bool installed = [] {
    InstallLzwCoders();
    return true;
  }();
  (void)installed;
  fuzz::RunReaderTwice(
      data, size,
      [size](TStream& stream, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
             const TProgressContext& progress) {
        params.GifImageIndex = static_cast<std::int32_t>(size % 3);
        std::int32_t frames = 0;
        std::string damage;
        TProgressContext withDamage = progress;
        withDamage.damage = &damage;
        GifReadStream(stream, bitmap, params, paramsOnly, withDamage, &frames);
        const bool partial = !damage.empty();
        if (partial && (!progress.Aborted() || bitmap.Empty() || paramsOnly)) std::abort();
        if (paramsOnly || (progress.Aborted() && !partial) || bitmap.Empty() ||
            static_cast<std::int64_t>(bitmap.Width()) * bitmap.Height() > (1 << 16)) {
          return;
        }
        TMemoryStream written;
        bool aborting = false;
        GifWriteStream(written, bitmap, params, TProgressContext{{}, nullptr, &aborting});
        if (aborting) std::abort();
        written.Seek(0);
        TBitmap again;
        TIOParams readBack;
        GifReadStream(written, again, readBack, false, TProgressContext{{}, nullptr, &aborting}, &frames);
        if (aborting || frames != 1 || again.Width() != bitmap.Width() || again.Height() != bitmap.Height()) {
          std::abort();
        }
      });
  return 0;
}
