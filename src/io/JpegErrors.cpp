#include "io/JpegErrors.h"

// The message codes, for telling the warnings about missing data from the others.
#include <jerror.h>

namespace veilora {

namespace {

TJpegErrorManager& Manager(j_common_ptr cinfo) {
  return *reinterpret_cast<TJpegErrorManager*>(cinfo->err);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(Manager(cinfo).jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  ++cinfo->err->num_warnings;
  TJpegErrorManager& manager = Manager(cinfo);
  if (cinfo->err->msg_code == JWRN_HIT_MARKER ||
      (manager.endOfDataIsMissing && cinfo->err->msg_code == JWRN_JPEG_EOF)) {
    manager.dataMissing = true;
  }
}

void OutputMessage(j_common_ptr) {}

void FormatMessage(j_common_ptr, char* buffer) {
  buffer[0] = '\0';
}

void ResetErrorManager(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

}  // namespace

void InitJpegErrorManager(TJpegErrorManager& manager, bool endOfDataIsMissing) {
  jpeg_std_error(&manager.pub);
  manager.pub.error_exit = ErrorExit;
  manager.pub.emit_message = EmitMessage;
  manager.pub.output_message = OutputMessage;
  manager.pub.format_message = FormatMessage;
  manager.pub.reset_error_mgr = ResetErrorManager;
  manager.dataMissing = false;
  manager.endOfDataIsMissing = endOfDataIsMissing;
}

}  // namespace veilora
