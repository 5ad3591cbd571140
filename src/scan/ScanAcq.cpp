// The input/output component's scanner operations.

#include "io/ImageIO.h"
#include "scan/TwainLink.h"

namespace veilora {

bool TImageIO::Acquire(void* window) {
  return TwainAcquire(*this, TwainParams, window, &TwainResult);
}

bool TImageIO::SelectAcquireSource(void* window) {
  const twain::TW_UINT16 code = TwainSelectSource(TwainParams, window);
  TwainResult = {code, twain::TWCC_SUCCESS};
  return code == twain::TWRC_SUCCESS;
}

}  // namespace veilora
