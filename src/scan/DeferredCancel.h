#pragma once

// SANE's thread helper switches each backend reader thread to asynchronous cancellation, and
// sane_cancel (or the end of a frame) then cancels the reader wherever it happens to be. Caught
// inside the C library (the allocator, the locale functions), it leaves that library's lock held
// for good, and the next caller in the process waits forever. A program that defines
// pthread_setcanceltype as a call of this function keeps every thread deferred instead: a reader is
// still cancelled at its next blocking write to the frontend, which is where it spends its time.
// The definition must sit in the program itself (or a preloaded library) so that the dynamic
// linker binds the backends' calls to it.

#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>

namespace veilora::scan {

inline int SetCancelTypeDeferred(int* oldtype) {
  using SetCancelType = int (*)(int, int*);
  // The next definition after the caller's own is the C library's.
  static const auto real = reinterpret_cast<SetCancelType>(dlsym(RTLD_NEXT, "pthread_setcanceltype"));
  if (real == nullptr) return ENOSYS;
  return real(PTHREAD_CANCEL_DEFERRED, oldtype);
}

}  // namespace veilora::scan
