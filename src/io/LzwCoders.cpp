#include "io/LzwCoders.h"

#include "io/GifLZW.h"
#include "io/IOParams.h"
#include "io/TIFLZW.h"

namespace veilora {

void InstallLzwCoders() {
  TLzwHooks& hooks = GlobalLzwHooks();
  hooks.gifDecompress = GifLzwDecode;
  hooks.gifCompress = GifLzwEncode;
  hooks.tiffDecompress = TiffLzwDecode;
  hooks.tiffCompress = TiffLzwEncode;
}

}  // namespace veilora
