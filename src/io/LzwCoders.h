#pragma once

// Start-up wiring of the LZW coders.

namespace veilora {

// Stores the GIF and TIFF LZW coders into the process-wide hooks (GlobalLzwHooks()). The main
// window calls it once at start-up, before any document exists. A parameter record copies the hooks
// when it is constructed or reset, so records made before this call hold empty hooks until their
// next reset; every TIOParams made afterwards holds the four coders.
void InstallLzwCoders();

}  // namespace veilora
