// Preloaded into scanimage, the reference the scanner tests compare with: scanimage meets the same
// asynchronously cancelled reader threads as Veilora and hung now and then at the end of a scan.

#include "scan/DeferredCancel.h"

extern "C" int pthread_setcanceltype(int /*type*/, int* oldtype) {
  return veilora::scan::SetCancelTypeDeferred(oldtype);
}
