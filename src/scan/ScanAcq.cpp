// The input/output component's scanner operations.

#include "io/ImageIO.h"
#include "scan/TwainLink.h"

namespace veilora {

bool TImageIO::Acquire(void* window) {
  return TwainAcquire(*this, TwainParams, window, &TwainResult);
}

bool TImageIO::SelectAcquireSource(void* window) {
  return TwainSelectSource(TwainParams, window, &TwainResult) == twain::TWRC_SUCCESS;
}

}  // namespace veilora
