#pragma once

#include <stdexcept>
#include <string>

namespace veilora {

// Base of every failure the core raises. Codecs report bad data through the component's Aborting
// flag instead; exceptions are for failures the caller must hear about.
class EVeiloraError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bitmap was asked for more pixel memory than the core allows (see kMaxPixelBytes), or for a
// negative size.
class EImageTooLarge : public EVeiloraError {
 public:
  using EVeiloraError::EVeiloraError;
};

// The image holds no readable hidden text: no complete header, or a stored length that cannot be.
class ENoHiddenData : public EVeiloraError {
 public:
  using EVeiloraError::EVeiloraError;
};

}  // namespace veilora
