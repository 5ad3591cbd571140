#pragma once

// The libjpeg error manager both JPEG readers use: a library error jumps back to the glue that
// called setjmp (which then destroys the (de)compressor), nothing is ever printed, and the warning
// that the library had to invent data is remembered.

#include <csetjmp>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace veilora {

struct TJpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  // The compressed data ended (at a marker, or also at the end of the data when
  // endOfDataIsMissing is set) while the decoder still needed bits for pixels, so the library made
  // up the rest of the scan.
  bool dataMissing = false;
  bool endOfDataIsMissing = false;
};

// Fills `manager.pub` with the library's defaults and our handlers. With endOfDataIsMissing, data
// that simply stops also counts as missing: right for a TIFF strip, whose byte count is exact,
// but not for a JPEG file, which may lack only its closing marker.
void InitJpegErrorManager(TJpegErrorManager& manager, bool endOfDataIsMissing);

}  // namespace veilora
